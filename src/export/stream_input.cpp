#include "export/stream_input.h"

#include <algorithm>
#include <cstring>

namespace clip::video {
namespace {

using sources::kBlockSectors;
using sources::kSectorBytes;
using sources::ReadError;

constexpr int64_t kPieceSectors = 16 * kBlockSectors;

}  // namespace

SourceClipInput::SourceClipInput(sources::BlockSource& source, const scanner::ClipRow& row, int sector_tries,
                                 std::function<bool()> stop)
    : source_(source), row_(row), sector_tries_(std::max(1, sector_tries)), stop_(std::move(stop)) {
  const int64_t total = source.sector_count();
  for (const auto& run : row.runs) {
    if (run.first_sector + run.blocks * kBlockSectors > total) cut_short_ = true;
    const int64_t end = std::min(total, run.first_sector + run.blocks * kBlockSectors);
    if (end > run.first_sector) size_ += static_cast<uint64_t>(end - run.first_sector) * kSectorBytes;
  }
  rewind();
}

void SourceClipInput::rewind() {
  run_ = 0;
  next_sector_ = row_.runs.empty() ? 0 : row_.runs.front().first_sector;
  at_end_ = false;
  piece_used_ = piece_size_ = 0;
  unreadable_.clear();
  error_.clear();
  gone_ = stopped_ = false;
}

// Reads the next piece of the current run into piece_. False at the end of
// the clip or on a failure (error_, gone_ or stopped_ say which).
bool SourceClipInput::fill() {
  if (stopped_ || gone_) return false;
  // A cancelled read stops the clip; a source that no longer answers ends it.
  auto given_up = [&](const sources::ReadResult& r) {
    if (r.error == ReadError::cancelled) stopped_ = true;
    if (r.error == ReadError::gone) {
      gone_ = true;
      error_ = scanner::kReadErrorText;
    }
    return stopped_ || gone_;
  };
  const int64_t total = source_.sector_count();
  while (!at_end_ && run_ < row_.runs.size()) {
    const auto& run = row_.runs[run_];
    const int64_t end = std::min(total, run.first_sector + run.blocks * kBlockSectors);
    if (next_sector_ >= end) {
      if (++run_ < row_.runs.size()) next_sector_ = row_.runs[run_].first_sector;
      continue;
    }
    if (stop_ && stop_()) {
      stopped_ = true;
      return false;
    }
    const int64_t count = std::min(kPieceSectors, end - next_sector_);
    const std::size_t want = static_cast<std::size_t>(count * kSectorBytes);
    piece_.resize(static_cast<std::size_t>(kPieceSectors * kSectorBytes));
    const auto got = source_.read_sectors(next_sector_, count, piece_.data());
    if (given_up(got)) return false;
    std::size_t have = got.bytes;
    if (got.ok() && have < want) {
      at_end_ = true;  // the source really ends here
    } else if (!got.ok()) {
      // Sector by sector from the failing one; what still fails is zeros.
      have -= have % kSectorBytes;
      for (int64_t k = static_cast<int64_t>(have) / kSectorBytes; k < count; ++k) {
        uint8_t* into = piece_.data() + k * kSectorBytes;
        bool read = false;
        for (int attempt = 0; attempt < sector_tries_ && !read; ++attempt) {
          const auto one = source_.read_sectors(next_sector_ + k, 1, into);
          if (given_up(one)) return false;
          read = one.ok() && one.bytes == static_cast<std::size_t>(kSectorBytes);
        }
        if (!read) {
          std::memset(into, 0, static_cast<std::size_t>(kSectorBytes));
          const int64_t sector = next_sector_ + k;
          if (!unreadable_.empty() && unreadable_.back().first + unreadable_.back().count == sector) {
            ++unreadable_.back().count;
          } else {
            unreadable_.push_back({sector, 1});
          }
        }
      }
      have = want;
    }
    next_sector_ += count;
    piece_used_ = 0;
    piece_size_ = have;
    if (have > 0) return true;
  }
  return false;
}

InputRead SourceClipInput::read(uint8_t* into, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    if (piece_used_ == piece_size_ && !fill()) break;
    const std::size_t n = std::min(size - done, piece_size_ - piece_used_);
    std::memcpy(into + done, piece_.data() + piece_used_, n);
    piece_used_ += n;
    done += n;
  }
  if (done > 0) return {done, ReadStatus::data};
  if (stopped_) return {0, ReadStatus::stopped};
  if (gone_) return {0, ReadStatus::failed};
  return {0, ReadStatus::end};
}

FileInput::FileInput(const std::string& path, std::function<bool()> stop) : path_(path), stop_(std::move(stop)) {
  opened_ = file_.open(path);
  if (!opened_) {
    error_ = "无法打开文件 " + path + "：" + file_.last_error();
    return;
  }
  const int64_t size = file_.size();
  size_ = size > 0 ? static_cast<uint64_t>(size) : 0;
}

void FileInput::rewind() {
  if (opened_) file_.seek(0);
}

InputRead FileInput::read(uint8_t* into, std::size_t size) {
  if (!opened_) return {0, ReadStatus::failed};
  if (stop_ && stop_()) return {0, ReadStatus::stopped};
  std::size_t done = 0;
  while (done < size) {
    const int64_t n = file_.read(into + done, size - done);
    if (n < 0) {
      error_ = "读取文件出错 " + path_ + "：" + file_.last_error();
      return {0, ReadStatus::failed};
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return {done, done > 0 ? ReadStatus::data : ReadStatus::end};
}

InputRead MemoryInput::read(uint8_t* into, std::size_t size) {
  const std::size_t n = std::min(size, bytes_.size() - at_);
  if (n == 0) return {0, ReadStatus::end};
  std::memcpy(into, bytes_.data() + at_, n);
  at_ += n;
  return {n, ReadStatus::data};
}

}  // namespace clip::video
