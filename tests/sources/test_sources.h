// Sources that misbehave the way failing disks and drivers do, for the tests
// of the read-ahead and the scanner.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "sources/memory_source.h"

namespace clip::sources::testing {

// Reads that touch `stuck` wait: until cancel() when the source is
// cancellable, and in any case until release(). Shared between the source the
// test owns and a reader left inside a read.
class Hanging final : public BlockSource {
 public:
  Hanging(int64_t sectors, int64_t stuck, bool cancellable) : data(sectors), stuck_(stuck), cancellable_(cancellable) {}

  MemorySource data;

  int64_t sector_count() const override { return data.sector_count(); }
  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    {
      std::unique_lock lock(mutex_);
      if (cancelled_) return {0, ReadError::cancelled};
      if (first <= stuck_ && stuck_ < first + count) {
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_ || (cancellable_ && cancelled_); });
        --waiting_;
        changed_.notify_all();
        if (!released_) return {0, ReadError::cancelled};
      }
    }
    return data.read_sectors(first, count, buffer);
  }
  void cancel() override {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
  }
  bool cancelled() const override {
    std::lock_guard lock(mutex_);
    return cancelled_;
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  // Waits (at most `limit`) until `n` reads are held at the stuck sector.
  bool wait_waiting(int n, std::chrono::seconds limit = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return waiting_ == n; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  const int64_t stuck_;
  const bool cancellable_;
  bool cancelled_ = false;
  bool released_ = false;
  int waiting_ = 0;
};

// What a test owns over a shared source object T, as the real file and
// device sources are built; it offers T as detachable when asked to.
template <typename T>
class OwnerHandle final : public BlockSource {
 public:
  OwnerHandle(std::shared_ptr<T> inner, bool detachable) : inner_(std::move(inner)), detachable_(detachable) {}
  int64_t sector_count() const override { return inner_->sector_count(); }
  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    return inner_->read_sectors(first, count, buffer);
  }
  void cancel() override { inner_->cancel(); }
  bool cancelled() const override { return inner_->cancelled(); }
  std::shared_ptr<BlockSource> detachable() override { return detachable_ ? inner_ : nullptr; }
  std::size_t read_cached(int64_t first, int64_t count, uint8_t* buffer) override {
    return inner_->read_cached(first, count, buffer);
  }

 private:
  std::shared_ptr<T> inner_;
  bool detachable_;
};

using HangingSource = OwnerHandle<Hanging>;

// Writes into each sector its own number, so a reader can tell which sector
// it holds.
inline void mark_sectors(MemorySource& source) {
  for (int64_t s = 0; s < source.sector_count(); ++s) {
    uint8_t mark[8];
    std::memcpy(mark, &s, 8);
    source.write(s * 512, mark);
  }
}

inline bool marked(const uint8_t* sector, int64_t n) {
  int64_t mark;
  std::memcpy(&mark, sector, 8);
  return mark == n;
}

// Waits (at most 30 s) until only the test holds `inner`: every reader left
// behind has ended.
template <typename T>
bool wait_sole_owner(const std::shared_ptr<T>& inner) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (inner.use_count() > 1) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Throws from every read that touches `bad`, as a buggy driver wrapper might.
class ThrowingSource final : public BlockSource {
 public:
  ThrowingSource(int64_t sectors, int64_t bad) : data(sectors), bad_(bad) {}
  MemorySource data;
  int64_t sector_count() const override { return data.sector_count(); }
  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    if (first <= bad_ && bad_ < first + count) throw std::runtime_error("controller reset");
    return data.read_sectors(first, count, buffer);
  }

 private:
  int64_t bad_;
};

}  // namespace clip::sources::testing
