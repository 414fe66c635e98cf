// A source for the window tests of long work whose reads hold on.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include "sources/block_source.h"

namespace clip::test {

// The reads of a GatedSource pass its gate one by one while the test allows
// them; beyond that they wait there, as a read held by a failing disk does,
// until more are allowed or the source is cancelled. A stubborn gate ignores
// the cancel, as a read stuck in a driver would. The gate is shared, so a
// test can open it after the source has gone to a worker.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  int64_t allowed = std::numeric_limits<int64_t>::max();
  bool cancelled = false;
  bool stubborn = false;
  int waiting = 0;  // reads held at the gate now

  void allow(int64_t reads) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      allowed = reads;
    }
    changed.notify_all();
  }
  // Every read passes from now on, the held ones too, cancel or not.
  void release() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stubborn = false;
      cancelled = false;
      allowed = std::numeric_limits<int64_t>::max();
    }
    changed.notify_all();
  }
  bool holding() {
    std::lock_guard<std::mutex> lock(mutex);
    return waiting > 0;
  }
};

class GatedSource final : public sources::BlockSource {
 public:
  GatedSource(std::unique_ptr<sources::BlockSource> inner, std::shared_ptr<Gate> gate)
      : inner_(std::move(inner)), gate_(std::move(gate)) {}
  int64_t sector_count() const override { return inner_->sector_count(); }
  sources::ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    {
      std::unique_lock<std::mutex> lock(gate_->mutex);
      ++gate_->waiting;
      gate_->changed.wait(lock, [this] { return gate_->allowed > 0 || (gate_->cancelled && !gate_->stubborn); });
      --gate_->waiting;
      if (gate_->cancelled && !gate_->stubborn) return {0, sources::ReadError::cancelled};
      if (gate_->allowed != std::numeric_limits<int64_t>::max()) --gate_->allowed;
    }
    return inner_->read_sectors(first, count, buffer);
  }
  void cancel() override {
    {
      std::lock_guard<std::mutex> lock(gate_->mutex);
      gate_->cancelled = true;
    }
    gate_->changed.notify_all();
  }
  bool cancelled() const override {
    std::lock_guard<std::mutex> lock(gate_->mutex);
    return gate_->cancelled;
  }

 private:
  std::unique_ptr<sources::BlockSource> inner_;
  std::shared_ptr<Gate> gate_;
};

}  // namespace clip::test
