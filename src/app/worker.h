// Long work off the GUI thread.
//
// A Worker runs one job (a scan, a recovery) on a thread of its own. The job
// never touches a window: it queues rows and log lines and stores its latest
// progress in the worker's Feed, and the GUI thread takes what has gathered
// in batches, by time. Stop sets a flag the job reads and cancels the reads
// of the job's source, so a read held by a failing disk ends as soon as the
// system lets it. A job whose read the system can't give up is let go: the
// GUI stops waiting for it, and its thread ends alone later, keeping alive
// only what it shares with the worker (the feed and the source).
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "scanner/scanner.h"
#include "sources/block_source.h"

namespace app {

// What the GUI thread takes from a worker at a time.
struct Batch {
  std::vector<clip::scanner::ClipRow> rows;
  std::vector<std::string> lines;
  std::optional<std::pair<int64_t, int64_t>> progress;  // the latest: position, total
  std::string failure;  // when the job has ended with one: the error box's text
};

// The job's side of a worker; any thread may call it.
class Feed {
 public:
  void row(clip::scanner::ClipRow row);
  void line(std::string text);
  void progress(int64_t position, int64_t total) noexcept;
  bool stop_requested() const noexcept { return stop_.load(std::memory_order_relaxed); }
  // The job ends with a failure the GUI shows in an error box.
  void fail(std::string text);

 private:
  friend class Worker;
  Batch take(bool content);
  void finish() noexcept;

  std::atomic<bool> stop_{false};
  std::atomic<int64_t> position_{0}, total_{0};
  std::atomic<bool> progress_new_{false};
  std::mutex mutex_;
  std::condition_variable ended_;
  std::vector<clip::scanner::ClipRow> rows_;
  std::vector<std::string> lines_;
  std::string failure_;
  bool finished_ = false;
  HWND notify_ = nullptr;  // gets done_message_ when the job ends; cleared when let go
  UINT done_message_ = 0;
  std::shared_ptr<clip::sources::BlockSource> source_;
};

class Worker {
 public:
  using Job = std::function<void(Feed&)>;
  // Starts `job` at once on a new thread. When it has ended, `done_message`
  // is posted to `notify`. The source is the one the job reads; Stop cancels
  // its reads.
  Worker(std::shared_ptr<clip::sources::BlockSource> source, Job job, HWND notify, UINT done_message);
  // Stops the job and waits a bounded time for it, then lets it go.
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void stop() noexcept;
  bool stopping() const noexcept { return feed_->stop_requested(); }
  bool finished();
  // The latest progress and, with `content`, the rows and lines gathered
  // since they were last taken; after the end, with its failure.
  Batch take(bool content = true) { return feed_->take(content); }
  // Waits up to `wait` for the job's end. True when it ended (its thread is
  // joined); otherwise the thread is left to end alone and no message comes.
  bool let_go(std::chrono::milliseconds wait);

  // How long the destructor waits before it lets a job go.
  static constexpr std::chrono::milliseconds kEndWait{2000};

 private:
  std::shared_ptr<Feed> feed_;
  std::thread thread_;
};

}  // namespace app
