#include "scanner/scanner.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "sources/read_ahead.h"

namespace clip::scanner {
namespace {

using sources::BlockSource;
using sources::kBlockSectors;
using sources::kSectorBytes;
using sources::ReadAhead;
using sources::ReadError;

constexpr auto kPollInterval = std::chrono::milliseconds(50);

// State shared by the two passes of one scan.
struct ScanState {
  BlockSource& source;
  const ScanOptions& options;
  const ScanCallbacks& callbacks;
  ScanResult& result;
  std::optional<SectorRange> pending;  // unreadable sectors not yet reported
  bool real_end_logged = false;

  void log(const std::string& line) const {
    if (callbacks.log) callbacks.log(line);
  }
  bool stop() const { return callbacks.stop_requested && callbacks.stop_requested(); }
  void progress(int64_t s) const {
    if (callbacks.progress) callbacks.progress(s, result.sectors);
  }

  void unreadable(int64_t sector) {
    if (pending && pending->first + pending->count == sector) {
      ++pending->count;
      return;
    }
    flush_unreadable();
    pending = SectorRange{sector, 1};
  }

  // Adds the pending range to the merged list and logs it, unless an earlier
  // pass already reported all of it (the search and the indexing may read the
  // same sectors).
  void flush_unreadable() {
    if (!pending) return;
    const SectorRange range = *pending;
    pending.reset();
    auto& list = result.unreadable;
    const int64_t end = range.first + range.count;
    for (const auto& known : list) {
      if (known.first <= range.first && known.first + known.count >= end) return;
    }
    if (callbacks.unreadable) {
      callbacks.unreadable(range);
    } else {
      log(unreadable_line(range));
    }
    list.push_back(range);
    std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.first < b.first; });
    std::vector<SectorRange> merged;
    for (const auto& r : list) {
      if (!merged.empty() && merged.back().first + merged.back().count >= r.first) {
        merged.back().count = std::max(merged.back().first + merged.back().count, r.first + r.count) - merged.back().first;
      } else {
        merged.push_back(r);
      }
    }
    list = std::move(merged);
  }

  void real_end(int64_t sector) {
    if (real_end_logged) return;
    real_end_logged = true;
    log("源介质在扇区 " + std::to_string(sector) + " 处已到尽头（报告为 " + std::to_string(result.sectors) +
        " 个扇区），扫描到此为止");
  }
};

enum class Next { block, end, stopped, failed };

// Hands out the blocks of one pass in order, from the read-ahead chunks where
// they were read whole, otherwise repaired here: the rest of the block is read
// again, then sector by sector with a bounded number of tries, and sectors
// that still fail are zero-filled and reported.
class BlockFeed {
 public:
  BlockFeed(ScanState& state, int64_t first)
      : state_(state),
        total_(state.result.sectors),
        reader_(state.source, first, total_, state.options.chunk_blocks, state.options.depth),
        repair_(sources::kBlockBytes) {}

  ~BlockFeed() {
    if (have_chunk_) reader_.release();
  }

  // The scan iteration: progress, the stop test, then the block at s.
  Next next(int64_t s, const uint8_t*& data, std::size_t& valid) {
    state_.progress(s);
    if (state_.stop()) return Next::stopped;
    if (at_real_end_) return Next::end;
    while (!have_chunk_ || s >= chunk_.first + chunk_.sectors) {
      if (have_chunk_) {
        reader_.release();
        have_chunk_ = false;
      }
      const auto status = reader_.next(chunk_, kPollInterval);
      if (status == ReadAhead::Status::end) return Next::end;
      if (status == ReadAhead::Status::pending) {
        state_.progress(s);
        if (state_.stop()) return Next::stopped;
        continue;
      }
      have_chunk_ = true;
    }
    const std::size_t want = static_cast<std::size_t>(std::min(kBlockSectors, total_ - s) * kSectorBytes);
    const std::size_t offset = static_cast<std::size_t>((s - chunk_.first) * kSectorBytes);
    const std::size_t delivered = chunk_.result.bytes;
    if (offset + want <= delivered) {
      data = chunk_.data + offset;
      valid = want;
      last_good_ = s;
      return Next::block;
    }
    if (chunk_.result.ok()) {
      // The read came back short without an error: the source really ends here.
      const std::size_t avail = delivered > offset ? delivered - offset : 0;
      state_.real_end(chunk_.first + static_cast<int64_t>(delivered) / kSectorBytes);
      at_real_end_ = true;
      if (avail == 0) return Next::end;
      data = chunk_.data + offset;
      valid = avail;
      return Next::block;
    }
    if (chunk_.result.error == ReadError::gone) return Next::failed;
    return repair(s, want, offset, delivered, data, valid);
  }

 private:
  Next repair(int64_t s, std::size_t want, std::size_t offset, std::size_t delivered, const uint8_t*& data,
              std::size_t& valid) {
    const auto started = std::chrono::steady_clock::now();
    struct ReportTime {
      const ScanState& state;
      std::chrono::steady_clock::time_point started;
      ~ReportTime() {
        if (state.callbacks.retry_time) {
          state.callbacks.retry_time(
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        }
      }
    } report{state_, started};

    std::size_t have = 0;
    if (delivered > offset) {
      have = std::min(want, delivered - offset);
      std::memcpy(repair_.data(), chunk_.data + offset, have);
    }
    const int64_t sectors = static_cast<int64_t>(want) / kSectorBytes;
    int64_t k = static_cast<int64_t>(have) / kSectorBytes;
    int64_t good = k;
    // The failure may lie in another block of the chunk: one read of the rest
    // of this block first.
    auto bulk = state_.source.read_sectors(s + k, sectors - k, repair_.data() + k * kSectorBytes);
    if (bulk.error == ReadError::gone) return Next::failed;
    k += static_cast<int64_t>(bulk.bytes) / kSectorBytes;
    good = k;
    if (bulk.ok() && k < sectors) {
      state_.real_end(s + k);
      at_real_end_ = true;
      valid = static_cast<std::size_t>(k * kSectorBytes);
      data = repair_.data();
      return valid == 0 ? Next::end : Next::block;
    }
    for (; k < sectors; ++k) {
      uint8_t* into = repair_.data() + k * kSectorBytes;
      bool read = false;
      for (int attempt = 0; attempt < std::max(1, state_.options.sector_tries); ++attempt) {
        state_.progress(s);
        if (state_.stop()) return Next::stopped;
        const auto one = state_.source.read_sectors(s + k, 1, into);
        if (one.error == ReadError::gone) return Next::failed;
        if (one.ok() && one.bytes == static_cast<std::size_t>(kSectorBytes)) {
          read = true;
          break;
        }
        if (one.ok()) {
          // Past the real end: what is left of the block does not exist.
          state_.real_end(s + k);
          at_real_end_ = true;
          valid = static_cast<std::size_t>(k * kSectorBytes);
          data = repair_.data();
          return valid == 0 ? Next::end : Next::block;
        }
      }
      if (read) {
        state_.flush_unreadable();
        ++good;
      } else {
        std::memset(into, 0, static_cast<std::size_t>(kSectorBytes));
        state_.unreadable(s + k);
      }
    }
    // A block with no readable sector at all may mean the disk is gone while
    // the system still answers with media errors: a sector read well before
    // must still read, or the source has stopped answering.
    if (good == 0 && last_good_ >= 0) {
      uint8_t probe[kSectorBytes];
      const auto again = state_.source.read_sectors(last_good_, 1, probe);
      if (!again.ok() || again.bytes != static_cast<std::size_t>(kSectorBytes)) return Next::failed;
    }
    if (good > 0) last_good_ = s;
    data = repair_.data();
    valid = want;
    return Next::block;
  }

  ScanState& state_;
  const int64_t total_;
  ReadAhead reader_;
  ReadAhead::Chunk chunk_;
  bool have_chunk_ = false;
  bool at_real_end_ = false;
  int64_t last_good_ = -1;
  std::vector<uint8_t> repair_;
};

// The open clips of the indexing pass, one per channel, in the order they
// were opened.
class Indexer {
 public:
  explicit Indexer(ScanState& state) : state_(state) {}

  void process(int64_t s, const uint8_t* block, std::size_t valid) {
    const bool header = is_header_block(block, valid) && valid > kChannelOffset;
    if (header) {
      TimeFields fields;
      std::memcpy(fields.data(), block + kTimeOffset, fields.size());
      time_ = fields;
      channel_ = block[kChannelOffset];
    } else if (const auto channel = marker_channel(block, valid)) {
      channel_ = *channel;
    }
    auto match = std::find_if(open_.begin(), open_.end(), [&](const Open& o) { return o.channel == channel_; });
    std::size_t current;
    if (match != open_.end() && header) {
      emit(*match, true);
      open_.erase(match);
      open_.push_back(Open{channel_, time_, {}, 0});
      current = open_.size() - 1;
    } else if (match == open_.end()) {
      open_.push_back(Open{channel_, time_, {}, 0});
      current = open_.size() - 1;
    } else {
      current = static_cast<std::size_t>(match - open_.begin());
    }
    Open& clip = open_[current];
    if (!clip.runs.empty() && clip.runs.back().first_sector + clip.runs.back().blocks * kBlockSectors == s) {
      ++clip.runs.back().blocks;
    } else {
      clip.runs.push_back(BlockRun{s, 1});
    }
    ++clip.blocks;
  }

  // Clips still open at the end are listed too, so the last clip of every
  // channel can be recovered.
  void finish() {
    for (const Open& clip : open_) emit(clip, false);
    open_.clear();
  }

 private:
  struct Open {
    std::optional<int> channel;
    std::optional<TimeFields> time;
    std::vector<BlockRun> runs;
    int64_t blocks;
  };

  void emit(const Open& clip, bool closed) {
    ClipRow row;
    row.number = state_.options.first_number + state_.result.rows;
    row.channel = channel_column(clip.channel);
    row.start = start_column(clip.time);
    row.size_mb = size_mb(clip.blocks);
    row.name = clip_name(clip.channel, clip.time);
    row.blocks = clip.blocks;
    row.first_sector = clip.runs.front().first_sector;
    row.closed = closed;
    row.runs = clip.runs;
    ++state_.result.rows;
    if (state_.callbacks.row) state_.callbacks.row(row);
  }

  ScanState& state_;
  std::optional<int> channel_;
  std::optional<TimeFields> time_;
  std::vector<Open> open_;
};

}  // namespace

std::string unreadable_line(const SectorRange& range) {
  return "扇区 " + std::to_string(range.first) + " 起 " + std::to_string(range.count) + " 个扇区无法读取，已用零填充";
}

ScanResult scan(sources::BlockSource& source, const ScanOptions& options, const ScanCallbacks& callbacks) {
  ScanResult result;
  result.sectors = source.sector_count();
  ScanState state{source, options, callbacks, result};
  if (result.sectors <= 0) {
    result.end = ScanEnd::refused;
    result.message = kNoSizeText;
    return result;
  }
  const int64_t total = result.sectors;
  state.log("您选择了" + options.device_path + ",总大小为：" + std::to_string(total) + "SEC");
  state.log("正在扫描...");

  const uint8_t* data = nullptr;
  std::size_t valid = 0;
  Next last = Next::end;
  int64_t found = 0;
  if (kSearchStart < total) {
    if (callbacks.pass) callbacks.pass(ScanPass::search, kSearchStart, total);
    BlockFeed feed(state, kSearchStart);
    for (int64_t s = kSearchStart; s < total; s += kBlockSectors) {
      last = feed.next(s, data, valid);
      if (last != Next::block) break;
      for (std::size_t i = 0; i + kSignatureOffset + kSignature.size() <= valid; i += kSectorBytes) {
        if (std::memcmp(data + i + kSignatureOffset, kSignature.data(), kSignature.size()) == 0) {
          found = s + static_cast<int64_t>(i) / kSectorBytes;
          result.signature_sector = found;
          break;
        }
      }
      if (result.signature_sector) break;
      last = Next::end;
    }
  }

  Indexer indexer(state);
  if (last != Next::failed) {
    if (callbacks.pass) callbacks.pass(ScanPass::index, found, total);
    BlockFeed feed(state, found);
    last = Next::end;
    for (int64_t s = found; s < total; s += kBlockSectors) {
      last = feed.next(s, data, valid);
      if (last != Next::block) break;
      indexer.process(s, data, valid);
      last = Next::end;
    }
  }
  state.flush_unreadable();
  indexer.finish();

  switch (last) {
    case Next::stopped:
      result.end = ScanEnd::stopped;
      break;
    case Next::failed:
      result.end = ScanEnd::failed;
      result.message = kReadErrorText;
      state.log(kReadErrorText);
      return result;
    default:
      result.end = ScanEnd::complete;
      break;
  }
  state.log(kDoneLine);
  return result;
}

}  // namespace clip::scanner
