#include "recover/recover.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

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

// Starts `body` on a thread of its own; the thread stays empty when the
// system gives none, and its owner then does the work itself.
void start_thread(std::thread& thread, std::function<void()> body) {
  try {
    thread = std::thread(std::move(body));
  } catch (const std::system_error&) {
  }
}

// Asks a thread that waits on `wake` for work to quit, and waits for it.
void stop_thread(std::thread& thread, std::mutex& mutex, std::condition_variable& wake, bool& quit) {
  {
    std::lock_guard lock(mutex);
    quit = true;
  }
  wake.notify_all();
  if (thread.joinable()) thread.join();
}

// Hashes pieces in the order they are handed over, on its own thread, so the
// hash of one piece is computed while the next is read and this one written.
// A slot's buffer is the caller's again once done(slot) has returned.
class PipelinedHash {
 public:
  // Without a second thread the caller's thread hashes.
  PipelinedHash() { start_thread(worker_, [this] { run(); }); }
  ~PipelinedHash() { stop_thread(worker_, mutex_, wake_, quit_); }

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

// A clip whose bytes are all in its partial file, waiting for the flush,
// close and final name; or, with no file, a clip that has already ended.
struct Pending {
  RecoverResult result;
  std::unique_ptr<OutputFile> out;
  std::string folder;
  std::string name;
  int n = 0;  // the number its final name was free with
  bool incomplete = false;
  int64_t end_sector = 0;  // where the source ended or was lost
  std::function<void(const RecoverResult&)> done;
};

struct ClipWriter::Impl {
  sources::BlockSource& source;
  RecoverOptions options;
  std::vector<std::vector<uint8_t>> slots;
  PipelinedHash hash;
  std::vector<std::string> unsynced;  // folders whose new names wait for sync_folders()

  // The finishing thread and the clips waiting for it.
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Pending> queue;
  bool finishing = false;
  bool quit = false;
  std::exception_ptr failure;  // thrown by a `done`, handed to the caller
  std::thread finisher;

  Impl(sources::BlockSource& s, RecoverOptions o) : source(s), options(std::move(o)) {
    slots.resize(kSlots);
    for (auto& slot : slots) slot.resize(kPieceBytes);
    // Without a finishing thread each clip is finished as it is handed over.
    start_thread(finisher, [this] { finish_loop(); });
  }
  ~Impl() { stop_thread(finisher, mutex, changed, quit); }

  bool stop() const { return options.stop && options.stop(); }

  Pending write(const scanner::ClipRow& row, const std::string& folder);
  void finish(std::vector<Pending>& batch);
  void finish_loop();
  void hand_over(Pending pending);
  void wait();
};

// Clips waiting for their flush at once: more makes the writer wait.
constexpr std::size_t kMaxPending = 16;

void ClipWriter::Impl::hand_over(Pending pending) {
  if (!finisher.joinable()) {
    std::vector<Pending> one;
    one.push_back(std::move(pending));
    finish(one);
    return;
  }
  std::unique_lock lock(mutex);
  changed.wait(lock, [&] { return queue.size() < kMaxPending; });
  queue.push_back(std::move(pending));
  changed.notify_all();
}

void ClipWriter::Impl::wait() {
  std::unique_lock lock(mutex);
  changed.wait(lock, [&] { return queue.empty() && !finishing; });
  if (failure) std::rethrow_exception(std::exchange(failure, nullptr));
}

void ClipWriter::Impl::finish_loop() {
  std::unique_lock lock(mutex);
  for (;;) {
    changed.wait(lock, [&] { return quit || !queue.empty(); });
    if (queue.empty()) return;
    // Everything that waits goes in one batch: the first flush puts the
    // whole batch on the disk, in one commit of the file system.
    std::vector<Pending> batch = std::move(queue);
    queue.clear();
    finishing = true;
    changed.notify_all();
    lock.unlock();
    try {
      finish(batch);
    } catch (...) {
      lock.lock();
      if (!failure) failure = std::current_exception();
      lock.unlock();
    }
    lock.lock();
    finishing = false;
    changed.notify_all();
  }
}

void ClipWriter::Impl::finish(std::vector<Pending>& batch) {
  // A file that can't be flushed, closed or named is a failed file, and its
  // partial file goes.
  auto discard = [](Pending& p, std::string why) {
    RecoveredFile& file = p.result.file;
    p.result.outcome = RecoverOutcome::failed;
    p.result.ok = false;
    if (p.out->remove()) {
      file.partial_removed = true;
      why += "，已删除不完整的文件";
    } else {
      why += "，无法删除不完整的文件 " + file.path + "：" + p.out->last_error();
    }
    p.result.error = std::move(why);
    p.out.reset();
  };
  for (auto& p : batch) {
    if (p.out && !p.out->flush()) {
      discard(p, "写入磁盘出错 " + p.result.file.path + "：" + p.out->last_error());
    }
  }
  std::vector<std::string> folders;
  for (auto& p : batch) {
    if (!p.out) continue;
    RecoveredFile& file = p.result.file;
    if (!p.out->close()) {
      discard(p, "关闭文件出错 " + file.path + "：" + p.out->last_error());
      continue;
    }
    // The finished file takes its final name; a name taken since the start
    // moves it on to the next number, nothing is replaced.
    for (int k = p.incomplete ? 0 : p.n;; ++k) {
      const std::string target =
          join_path(p.folder, p.incomplete ? incomplete_name(p.name, k) : numbered_name(p.name, k));
      const Create moved = k > p.n + 9999 ? Create::failed : p.out->rename_to(target);
      if (moved == Create::created) {
        file.path = target;
        file.renamed = !p.incomplete && k > 0;
        break;
      }
      if (moved == Create::failed) {
        discard(p, "无法改名为 " + target + "：" + p.out->last_error());
        break;
      }
    }
    if (!p.out) continue;
    if (std::find(folders.begin(), folders.end(), p.folder) == folders.end()) folders.push_back(p.folder);
    if (p.incomplete) {
      p.result.outcome = RecoverOutcome::incomplete;
      const std::string counts = "文件不完整：" + std::to_string(file.bytes) + "/" +
                                 std::to_string(file.expected_bytes) + " 字节，保存为 " + file.path;
      p.result.error = p.result.source_gone
                           ? std::string(scanner::kReadErrorText) + counts
                           : "源介质在扇区 " + std::to_string(p.end_sector) + " 处已到尽头，" + counts;
    } else {
      p.result.outcome = RecoverOutcome::complete;
      p.result.ok = true;
    }
  }
  for (const auto& folder : folders) {
    if (options.defer_folder_sync) {
      std::lock_guard lock(mutex);
      if (std::find(unsynced.begin(), unsynced.end(), folder) == unsynced.end()) unsynced.push_back(folder);
      continue;
    }
    std::string error;
    if (sync_folder(folder, error)) continue;
    // The files are whole under their names; only the folder's entries may
    // not be on the disk yet. Nothing is deleted.
    for (auto& p : batch) {
      if (p.out && p.folder == folder) {
        p.result.outcome = RecoverOutcome::failed;
        p.result.ok = false;
        p.result.error = "写入磁盘出错 " + folder + "：" + error;
      }
    }
  }
  for (auto& p : batch) {
    if (p.done) p.done(p.result);
  }
}

ClipWriter::ClipWriter(sources::BlockSource& source, RecoverOptions options)
    : impl_(std::make_unique<Impl>(source, std::move(options))) {}

ClipWriter::~ClipWriter() {
  try {
    impl_->wait();
  } catch (...) {
    // A failure of a caller's `done` that nobody waited for any more.
  }
  sync_folders();
}

ClipWriter::Written ClipWriter::recover_async(const scanner::ClipRow& row, const std::string& folder,
                                              std::function<void(const RecoverResult&)> done) {
  Pending pending = impl_->write(row, folder);
  pending.done = std::move(done);
  const Written written{pending.result.outcome == RecoverOutcome::stopped, pending.result.source_gone};
  impl_->hand_over(std::move(pending));
  return written;
}

void ClipWriter::wait() { impl_->wait(); }

RecoverResult ClipWriter::recover(const scanner::ClipRow& row, const std::string& folder) {
  RecoverResult result;
  recover_async(row, folder, [&result](const RecoverResult& r) { result = r; });
  wait();
  return result;
}

std::string ClipWriter::sync_folders() {
  std::vector<std::string> folders;
  {
    std::lock_guard lock(impl_->mutex);
    folders.swap(impl_->unsynced);
  }
  std::string failure;
  for (const auto& folder : folders) {
    std::string error;
    if (!sync_folder(folder, error) && failure.empty()) failure = "写入磁盘出错 " + folder + "：" + error;
  }
  return failure;
}

RecoverResult recover_clip(sources::BlockSource& source, const scanner::ClipRow& row, const std::string& folder,
                           const RecoverOptions& options) {
  RecoverOptions now = options;
  now.defer_folder_sync = false;
  return ClipWriter(source, now).recover(row, folder);
}

Pending ClipWriter::Impl::write(const scanner::ClipRow& row, const std::string& folder) {
  Pending pending;
  pending.folder = folder;
  pending.name = row.name;
  RecoverResult& result = pending.result;
  RecoveredFile& file = result.file;
  file.number = row.number;
  file.name = row.name;
  const int64_t total = options.source_sectors >= 0 ? options.source_sectors : source.sector_count();
  file.expected_bytes = expected_bytes(row, total);

  // The partial file takes a name whose final name is free too.
  auto out = std::make_unique<OutputFile>();
  for (int& n = pending.n;; ++n) {
    const std::string final_path = join_path(folder, numbered_name(row.name, n));
    if (n > 9999) {
      result.error = "无法创建文件 " + final_path + "：名称均已被占用";
      return pending;
    }
    if (path_exists(final_path)) continue;
    file.path = final_path + ".part";
    const Create made = out->create_new(file.path);
    if (made == Create::created) break;
    if (made == Create::failed) {
      result.error = "无法创建文件 " + file.path + "：" + out->last_error();
      return pending;
    }
  }

  // Ends the clip without a file: the partial one goes, and the message says
  // whether it did.
  auto discard = [&](RecoverOutcome outcome, std::string why) {
    hash.wait_all();
    result.outcome = outcome;
    if (out->remove()) {
      file.partial_removed = true;
      why += "，已删除不完整的文件";
    } else {
      why += "，无法删除不完整的文件 " + file.path + "：" + out->last_error();
    }
    result.error = std::move(why);
    return std::move(pending);
  };

  hash.start();
  bool source_ended = false;  // a read came back short without an error
  bool source_gone = false;   // the source stopped answering
  std::size_t slot = 0;
  for (const auto& run : row.runs) {
    const int64_t run_end = std::min(total, run.first_sector + run.blocks * kBlockSectors);
    if (run_end <= run.first_sector) {
      // Blocks past the end of the source: the clip can't be had whole.
      source_ended = true;
      pending.end_sector = total;
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
        pending.end_sector = s + static_cast<int64_t>(have) / kSectorBytes;
      } else if (got.ok() && have < want) {
        source_ended = true;
        pending.end_sector = s + static_cast<int64_t>(have) / kSectorBytes;
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
            pending.end_sector = s + k;
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
        if (!out->write(buffer, have)) {
          return discard(RecoverOutcome::failed, "写入文件出错 " + file.path + "：" + out->last_error());
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
  result.source_gone = source_gone;
  pending.incomplete = source_ended || source_gone || file.bytes < file.expected_bytes;
  pending.out = std::move(out);
  return pending;
}

}  // namespace clip::recover
