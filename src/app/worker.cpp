#include "app/worker.h"

#include "ui/guard.h"

namespace app {

void Feed::row(clip::scanner::ClipRow row) {
  std::lock_guard<std::mutex> lock(mutex_);
  rows_.push_back(std::move(row));
}

void Feed::line(std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(std::move(text));
}

void Feed::progress(int64_t position, int64_t total) noexcept {
  // Once per block: two stores and a flag, no lock.
  position_.store(position, std::memory_order_relaxed);
  total_.store(total, std::memory_order_relaxed);
  progress_new_.store(true, std::memory_order_release);
}

void Feed::fail(std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  failure_ = std::move(text);
}

Batch Feed::take(bool content) {
  Batch batch;
  if (progress_new_.exchange(false, std::memory_order_acquire))
    batch.progress = std::pair{position_.load(std::memory_order_relaxed), total_.load(std::memory_order_relaxed)};
  if (!content) return batch;
  std::lock_guard<std::mutex> lock(mutex_);
  batch.rows.swap(rows_);
  batch.lines.swap(lines_);
  if (finished_) batch.failure = std::exchange(failure_, {});
  return batch;
}

void Feed::finish() noexcept {
  HWND notify = nullptr;
  UINT message = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    notify = notify_;
    message = done_message_;
  }
  ended_.notify_all();
  if (notify) PostMessageW(notify, message, 0, 0);
}

Worker::Worker(std::shared_ptr<clip::sources::BlockSource> source, Job job, HWND notify, UINT done_message)
    : feed_(std::make_shared<Feed>()) {
  feed_->notify_ = notify;
  feed_->done_message_ = done_message;
  feed_->source_ = std::move(source);
  // The thread holds the feed (and through it the source) by itself, so it
  // may outlive this object when it is let go.
  thread_ = std::thread([feed = feed_, job = std::move(job)] {
    ui::guard([&] { job(*feed); });
    feed->finish();
  });
}

Worker::~Worker() {
  stop();
  let_go(kEndWait);
}

void Worker::stop() noexcept {
  feed_->stop_.store(true);
  if (feed_->source_) feed_->source_->cancel();
}

bool Worker::finished() {
  std::lock_guard<std::mutex> lock(feed_->mutex_);
  return feed_->finished_;
}

bool Worker::let_go(std::chrono::milliseconds wait) {
  bool ended;
  {
    std::unique_lock<std::mutex> lock(feed_->mutex_);
    ended = feed_->ended_.wait_for(lock, wait, [this] { return feed_->finished_; });
    feed_->notify_ = nullptr;
  }
  if (!thread_.joinable()) return ended;
  if (ended) thread_.join();
  else thread_.detach();
  return ended;
}

}  // namespace app
