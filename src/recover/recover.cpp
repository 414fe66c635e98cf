#include "recover/recover.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "recover/output_file.h"

namespace clip::recover {
namespace {

using scanner::SectorRange;
using sources::kBlockSectors;
using sources::kSectorBytes;
using sources::ReadError;

constexpr int64_t kPieceSectors = 16 * kBlockSectors;
constexpr std::size_t kPieceBytes = static_cast<std::size_t>(kPieceSectors * kSectorBytes);
// Pieces in flight: one being read, one being written and hashed, and room
// for the hash to fall behind a little.
constexpr std::size_t kSlots = 4;

void add_unreadable(std::vector<SectorRange>& list, int64_t sector) {
  if (!list.empty() && list.back().first + list.back().count == sector) {
    ++list.back().count;
  } else {
    list.push_back({sector, 1});
  }
}

std::string split_ext(const std::string& name, std::string& ext) {
  const auto dot = name.rfind('.');
  ext = dot == std::string::npos ? "" : name.substr(dot);
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// Hashes pieces in the order they are handed over, on its own thread, so the
// hash of one piece is computed while the next is read and this one written.
// A slot's buffer is the caller's again once done(slot) has returned.
class PipelinedHash {
 public:
  PipelinedHash() {
    try {
      worker_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      // No second thread to be had: hash on the caller's thread.
    }
  }
  ~PipelinedHash() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
  }

  void start() {
    wait_all();
    hash_ = std::make_unique<Sha256>();
  }

  void submit(std::size_t slot, const uint8_t* data, std::size_t size) {
    if (!worker_.joinable()) {
      hash_->update(data, size);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      queue_.push_back({slot, data, size});
      busy_[slot] = true;
    }
    wake_.notify_all();
  }

  // Waits until the piece in `slot` is hashed.
  void done(std::size_t slot) {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return !busy_[slot]; });
  }

  void wait_all() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return queue_.empty() && !running_; });
  }

  // The hash of everything submitted since start(); empty when the library failed.
  std::string finish() {
    wait_all();
    return hash_->hex();
  }

 private:
  struct Job {
    std::size_t slot;
    const uint8_t* data;
    std::size_t size;
  };

  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return quit_ || !queue_.empty(); });
      if (queue_.empty()) return;
      const Job job = queue_.front();
      queue_.erase(queue_.begin());
      running_ = true;
      lock.unlock();
      hash_->update(job.data, job.size);
      lock.lock();
      running_ = false;
      busy_[job.slot] = false;
      idle_.notify_all();
    }
  }

  std::unique_ptr<Sha256> hash_ = std::make_unique<Sha256>();
  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::vector<Job> queue_;
  bool busy_[kSlots] = {};
  bool running_ = false;
  bool quit_ = false;
  std::thread worker_;
};

}  // namespace

std::string numbered_name(const std::string& name, int n) {
  if (n == 0) return name;
  std::string ext;
  const std::string stem = split_ext(name, ext);
  return stem + "(" + std::to_string(n) + ")" + ext;
}

std::string incomplete_name(const std::string& name, int n) {
  std::string ext;
  std::string stem = split_ext(name, ext);
  // Clip names end in "-" before ".264": "...-30-" + "不完整".
  if (stem.empty() || stem.back() != '-') stem += '-';
  stem += "不完整";
  if (n > 0) stem += "(" + std::to_string(n) + ")";
  return stem + ext;
}

uint64_t expected_bytes(const scanner::ClipRow& row, int64_t source_sectors) {
  uint64_t bytes = 0;
  for (const auto& run : row.runs) {
    const int64_t end = std::min(source_sectors, run.first_sector + run.blocks * kBlockSectors);
    if (end > run.first_sector) bytes += static_cast<uint64_t>((end - run.first_sector) * kSectorBytes);
  }
  return bytes;
}

std::string check_output_folder(const std::string& source_path, const std::string& folder, VolumeMap& volumes,
                                bool create) {
  const std::string unusable = "输出文件夹不可用：" + folder + "：";
  if (folder.empty()) return "输出文件夹不可用：没有给出文件夹";
  // The folder, or when it is missing its nearest existing parent: what the
  // disk check looks at, since creating the folder writes there.
  std::string existing = folder;
  while (!path_exists(existing)) {
    if (!create) return unusable + "不存在";
    const std::string up = parent_folder(existing);
    if (up.empty() || up == existing) return unusable + "不存在";
    existing = up;
  }
  if (!is_folder(existing)) return unusable + (existing == folder ? "不是文件夹" : existing + " 不是文件夹");
  if (std::string special = special_filesystem(existing); !special.empty()) return unusable + special;

  const Medium source = volumes.source_medium(source_path);
  if (!source.unknown.empty()) {
    return "无法确定源设备所在的磁盘，为保护源介质不写入输出文件夹：" + source.unknown;
  }
  if (!source.ids.empty()) {
    const Medium target = volumes.folder_medium(existing);
    for (const auto& id : target.ids) {
      if (std::find(source.ids.begin(), source.ids.end(), id) != source.ids.end()) {
        return "输出文件夹位于正在扫描的源介质上，不能写入：" + folder;
      }
    }
    if (!target.unknown.empty()) {
      return "无法确定输出文件夹所在的磁盘，为保护源介质不写入：" + target.unknown;
    }
  }

  if (existing != folder) {
    if (std::string why = create_folder(folder); !why.empty()) return unusable + "无法创建：" + why;
  }
  // A new file must be possible there: read-only mounts, permissions and
  // full disks show here rather than after a scan of many hours.
  OutputFile probe;
  for (int n = 0;; ++n) {
    const std::string path = join_path(folder, ".clipsalvage-probe-" + std::to_string(n));
    const Create made = probe.create_new(path);
    if (made == Create::created) break;
    if (made == Create::failed || n >= 999) return unusable + "无法写入：" + probe.last_error();
  }
  if (!probe.close() || !probe.remove()) return unusable + "无法写入：" + probe.last_error();
  return {};
}

struct ClipWriter::Impl {
  sources::BlockSource& source;
  RecoverOptions options;
  std::vector<std::vector<uint8_t>> slots;
  PipelinedHash hash;

  Impl(sources::BlockSource& s, RecoverOptions o) : source(s), options(std::move(o)) {
    slots.resize(kSlots);
    for (auto& slot : slots) slot.resize(kPieceBytes);
  }

  bool stop() const { return options.stop && options.stop(); }

  RecoverResult recover(const scanner::ClipRow& row, const std::string& folder);
};

ClipWriter::ClipWriter(sources::BlockSource& source, RecoverOptions options)
    : impl_(std::make_unique<Impl>(source, std::move(options))) {}
ClipWriter::~ClipWriter() = default;

RecoverResult ClipWriter::recover(const scanner::ClipRow& row, const std::string& folder) {
  return impl_->recover(row, folder);
}

RecoverResult recover_clip(sources::BlockSource& source, const scanner::ClipRow& row, const std::string& folder,
                           const RecoverOptions& options) {
  return ClipWriter(source, options).recover(row, folder);
}

RecoverResult ClipWriter::Impl::recover(const scanner::ClipRow& row, const std::string& folder) {
  RecoverResult result;
  RecoveredFile& file = result.file;
  file.number = row.number;
  file.name = row.name;
  const int64_t total = options.source_sectors >= 0 ? options.source_sectors : source.sector_count();
  file.expected_bytes = expected_bytes(row, total);

  // The partial file takes a name whose final name is free too.
  OutputFile out;
  int n = 0;
  for (;; ++n) {
    const std::string final_path = join_path(folder, numbered_name(row.name, n));
    if (n > 9999) {
      result.error = "无法创建文件 " + final_path + "：名称均已被占用";
      return result;
    }
    if (path_exists(final_path)) continue;
    file.path = final_path + ".part";
    const Create made = out.create_new(file.path);
    if (made == Create::created) break;
    if (made == Create::failed) {
      result.error = "无法创建文件 " + file.path + "：" + out.last_error();
      return result;
    }
  }

  // Ends the clip without a file: the partial one goes, and the message says
  // whether it did.
  auto discard = [&](RecoverOutcome outcome, std::string why) {
    hash.wait_all();
    result.outcome = outcome;
    if (out.remove()) {
      file.partial_removed = true;
      why += "，已删除不完整的文件";
    } else {
      why += "，无法删除不完整的文件 " + file.path + "：" + out.last_error();
    }
    result.error = std::move(why);
    return result;
  };

  hash.start();
  bool source_ended = false;   // a read came back short without an error
  bool source_gone = false;    // the source stopped answering
  int64_t end_sector = 0;      // where the source ended or was lost
  std::size_t slot = 0;
  for (const auto& run : row.runs) {
    const int64_t run_end = std::min(total, run.first_sector + run.blocks * kBlockSectors);
    if (run_end <= run.first_sector) {
      // Blocks past the end of the source: the clip can't be had whole.
      source_ended = true;
      end_sector = total;
      break;
    }
    for (int64_t s = run.first_sector; s < run_end && !source_ended && !source_gone;) {
      const int64_t count = std::min(kPieceSectors, run_end - s);
      const std::size_t want = static_cast<std::size_t>(count * kSectorBytes);
      hash.done(slot);
      uint8_t* buffer = slots[slot].data();
      if (stop()) return discard(RecoverOutcome::stopped, "已停止");
      const auto got = source.read_sectors(s, count, buffer);
      if (got.error == ReadError::cancelled) return discard(RecoverOutcome::stopped, "已停止");
      std::size_t have = std::min(got.bytes, want);
      if (got.error == ReadError::gone) {
        source_gone = true;
        have -= have % kSectorBytes;
        end_sector = s + static_cast<int64_t>(have) / kSectorBytes;
      } else if (got.ok() && have < want) {
        source_ended = true;
        end_sector = s + static_cast<int64_t>(have) / kSectorBytes;
      } else if (!got.ok()) {
        // Sector by sector from the failing one; what still fails is zeros.
        have -= have % kSectorBytes;
        for (int64_t k = static_cast<int64_t>(have) / kSectorBytes; k < count; ++k) {
          uint8_t* into = buffer + k * kSectorBytes;
          bool read = false;
          for (int attempt = 0; attempt < std::max(1, options.sector_tries) && !read; ++attempt) {
            if (stop()) return discard(RecoverOutcome::stopped, "已停止");
            const auto one = source.read_sectors(s + k, 1, into);
            if (one.error == ReadError::cancelled) return discard(RecoverOutcome::stopped, "已停止");
            if (one.error == ReadError::gone) {
              source_gone = true;
              break;
            }
            if (one.ok() && one.bytes < static_cast<std::size_t>(kSectorBytes)) {
              source_ended = true;
              break;
            }
            read = one.ok();
          }
          if (source_gone || source_ended) {
            have = static_cast<std::size_t>(k * kSectorBytes);
            end_sector = s + k;
            break;
          }
          if (!read) {
            std::memset(into, 0, static_cast<std::size_t>(kSectorBytes));
            add_unreadable(file.unreadable, s + k);
          }
        }
        if (!source_gone && !source_ended) have = want;
      }
      if (have > 0) {
        hash.submit(slot, buffer, have);
        if (!out.write(buffer, have)) {
          return discard(RecoverOutcome::failed, "写入文件出错 " + file.path + "：" + out.last_error());
        }
        file.bytes += have;
        slot = (slot + 1) % kSlots;
      }
      if (options.progress) options.progress(file.bytes);
      s += count;
    }
    if (source_ended || source_gone) break;
  }

  file.sha256 = hash.finish();
  if (file.sha256.empty()) return discard(RecoverOutcome::failed, "计算 SHA-256 出错");
  if (!out.flush()) return discard(RecoverOutcome::failed, "写入磁盘出错 " + file.path + "：" + out.last_error());
  if (!out.close()) return discard(RecoverOutcome::failed, "关闭文件出错 " + file.path + "：" + out.last_error());

  const bool incomplete = source_ended || source_gone || file.bytes < file.expected_bytes;
  // The finished file takes its final name; a name taken since the start
  // moves it on to the next number, nothing is replaced.
  for (int k = incomplete ? 0 : n;; ++k) {
    const std::string target =
        join_path(folder, incomplete ? incomplete_name(row.name, k) : numbered_name(row.name, k));
    const Create moved = k > n + 9999 ? Create::failed : out.rename_to(target);
    if (moved == Create::created) {
      file.path = target;
      file.renamed = !incomplete && k > 0;
      break;
    }
    if (moved == Create::failed) {
      return discard(RecoverOutcome::failed, "无法改名为 " + target + "：" + out.last_error());
    }
  }
  std::string sync_error;
  if (!sync_folder(folder, sync_error)) {
    // The file is whole under its name; only its folder entry may not be on
    // the disk yet. Nothing is deleted.
    result.outcome = RecoverOutcome::failed;
    result.error = "写入磁盘出错 " + folder + "：" + sync_error;
    return result;
  }

  if (incomplete) {
    result.outcome = RecoverOutcome::incomplete;
    result.source_gone = source_gone;
    const std::string counts =
        "文件不完整：" + std::to_string(file.bytes) + "/" + std::to_string(file.expected_bytes) + " 字节，保存为 " +
        file.path;
    result.error = source_gone ? std::string(scanner::kReadErrorText) + counts
                               : "源介质在扇区 " + std::to_string(end_sector) + " 处已到尽头，" + counts;
    return result;
  }
  result.outcome = RecoverOutcome::complete;
  result.ok = true;
  return result;
}

}  // namespace clip::recover
