#include "sources/read_ahead.h"

#include <algorithm>

namespace clip::sources {

ReadAhead::ReadAhead(BlockSource& source, int64_t first, int64_t end, int chunk_blocks, int depth)
    : source_(source),
      end_(end),
      chunk_sectors_(static_cast<int64_t>(std::max(1, chunk_blocks)) * kBlockSectors),
      buffers_(static_cast<std::size_t>(std::max(2, depth))),
      chunks_(buffers_.size()),
      next_first_(first) {
  for (auto& buffer : buffers_) buffer.resize(static_cast<std::size_t>(chunk_sectors_ * kSectorBytes));
  if (first >= end_) {
    finished_ = true;
  } else {
    worker_ = std::thread([this] { run(); });
  }
}

ReadAhead::~ReadAhead() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  freed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void ReadAhead::run() {
  const std::size_t slots = buffers_.size();
  std::size_t tail = 0;
  for (;;) {
    int64_t first = 0;
    {
      std::unique_lock lock(mutex_);
      // A slot is free when it is neither queued nor held by the caller.
      freed_.wait(lock, [&] { return quit_ || count_ < slots; });
      if (quit_) return;
      first = next_first_;
    }
    const int64_t sectors = std::min(chunk_sectors_, end_ - first);
    const ReadResult result = source_.read_sectors(first, sectors, buffers_[tail].data());
    const bool last = first + sectors >= end_ || result.error == ReadError::gone ||
                      (result.ok() && result.bytes < static_cast<std::size_t>(sectors * kSectorBytes));
    {
      std::lock_guard lock(mutex_);
      chunks_[tail] = Chunk{first, sectors, buffers_[tail].data(), result};
      ++count_;
      next_first_ = first + sectors;
      if (last) finished_ = true;
    }
    filled_.notify_one();
    if (last) return;
    tail = (tail + 1) % slots;
  }
}

ReadAhead::Status ReadAhead::next(Chunk& chunk, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  if (held_) {
    // The caller forgot release(); taking a new chunk implies it.
    held_ = false;
    head_ = (head_ + 1) % buffers_.size();
    --count_;
    freed_.notify_one();
  }
  if (!filled_.wait_for(lock, wait, [&] { return count_ > 0 || finished_; })) return Status::pending;
  if (count_ == 0) return Status::end;
  chunk = chunks_[head_];
  held_ = true;
  return Status::ready;
}

void ReadAhead::release() {
  {
    std::lock_guard lock(mutex_);
    if (!held_) return;
    held_ = false;
    head_ = (head_ + 1) % buffers_.size();
    --count_;
  }
  freed_.notify_one();
}

}  // namespace clip::sources
