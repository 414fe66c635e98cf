// Stress of the read-ahead worker and the scan's stop, meant for the
// ThreadSanitizer build: slow and failing reads, consumers that leave early,
// reads outside the order, stops and cancels from another thread at random
// moments, and workers left inside a read after their reader is gone.
//
//   read_ahead_stress [SECONDS]   (default 5)
//
// Exits 1 on a wrong chunk or result; ThreadSanitizer's reports fail it too.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "scanner/scanner.h"
#include "sources/memory_source.h"
#include "sources/read_ahead.h"
#include "sources/test_sources.h"

namespace {

using namespace clip;
using sources::BlockSource;
using sources::ReadAhead;
using sources::ReadError;
using sources::ReadResult;
using Clock = std::chrono::steady_clock;

int failures = 0;

void expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "read_ahead_stress: %s\n", what);
    ++failures;
  }
}

uint64_t random_below(uint64_t n) {
  thread_local std::mt19937_64 random(std::random_device{}());
  return n == 0 ? 0 : random() % n;
}

// Sector n begins with n; some sectors fail; some reads are slow.
class Slow final : public BlockSource {
 public:
  explicit Slow(int64_t sectors) : data_(sectors) { sources::testing::mark_sectors(data_); }
  sources::MemorySource& data() { return data_; }

  int64_t sector_count() const override { return data_.sector_count(); }
  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override {
    if (cancelled_) return {0, ReadError::cancelled};
    if (random_below(8) == 0) {
      // A slow read, cut short by a cancel as a real one may be.
      const auto until = Clock::now() + std::chrono::microseconds(random_below(3000));
      while (Clock::now() < until && !cancelled_) std::this_thread::yield();
      if (cancelled_) return {0, ReadError::cancelled};
    }
    return data_.read_sectors(first, count, buffer);
  }
  void cancel() override { cancelled_ = true; }
  bool cancelled() const override { return cancelled_; }
  // Some chunks are "in memory", read on the caller's thread.
  std::size_t read_cached(int64_t first, int64_t count, uint8_t* buffer) override {
    if (cancelled_ || random_below(3) == 0) return 0;
    const ReadResult r = data_.read_sectors(first, count, buffer);
    return r.ok() ? r.bytes : 0;
  }

 private:
  sources::MemorySource data_;
  std::atomic<bool> cancelled_{false};
};

using Handle = sources::testing::OwnerHandle<Slow>;

std::shared_ptr<Slow> make_source(int64_t sectors) {
  auto source = std::make_shared<Slow>(sectors);
  const int bad = static_cast<int>(random_below(6));
  for (int i = 0; i < bad; ++i) {
    source->data().fail_sector(static_cast<int64_t>(random_below(static_cast<uint64_t>(sectors))),
                               static_cast<int>(random_below(4)) - 1);
  }
  return source;
}

using sources::testing::marked;

// Consumes chunks in order, asks for out-of-order reads now and then, and
// leaves at a random point.
void consume_round(std::vector<std::weak_ptr<Slow>>& left) {
  const int64_t sectors = 1 + static_cast<int64_t>(random_below(6000));
  auto inner = make_source(sectors);
  left.push_back(inner);
  Handle source(inner, random_below(2) == 0);
  const int64_t first = static_cast<int64_t>(random_below(static_cast<uint64_t>(sectors)));
  ReadAhead reader(source, first, sectors, 1 + static_cast<int>(random_below(4)), 2 + static_cast<int>(random_below(3)));
  const int64_t stop_after = static_cast<int64_t>(random_below(40));
  int64_t expect_first = first;
  std::thread canceller;
  if (random_below(4) == 0) {
    canceller = std::thread([&source] {
      std::this_thread::sleep_for(std::chrono::microseconds(random_below(2000)));
      source.cancel();
    });
  }
  ReadAhead::Chunk chunk;
  for (int64_t taken = 0; taken < stop_after; ++taken) {
    if (random_below(5) == 0) {
      const int64_t at = static_cast<int64_t>(random_below(static_cast<uint64_t>(sectors)));
      ReadAhead::Status s;
      while ((s = reader.read(at, 1, chunk, std::chrono::milliseconds(1))) == ReadAhead::Status::pending) {
      }
      if (chunk.result.ok() && chunk.result.bytes == 512) expect(marked(chunk.data, at), "request data");
    }
    ReadAhead::Status s;
    while ((s = reader.next(chunk, std::chrono::milliseconds(1))) == ReadAhead::Status::pending) {
    }
    if (s == ReadAhead::Status::end) break;
    expect(chunk.first == expect_first, "chunks in order");
    for (std::size_t i = 0; i + 512 <= chunk.result.bytes; i += 512) {
      expect(marked(chunk.data + i, chunk.first + static_cast<int64_t>(i / 512)), "chunk data");
    }
    expect_first += chunk.sectors;
    if (random_below(2) == 0) reader.release();
  }
  if (canceller.joinable()) canceller.join();
}

// A scan stopped by another thread at a random moment.
void scan_round(std::vector<std::weak_ptr<Slow>>& left) {
  const int64_t sectors = 1 + static_cast<int64_t>(random_below(20000));
  auto inner = make_source(sectors);
  left.push_back(inner);
  Handle source(inner, random_below(4) != 0);
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::microseconds(random_below(5000)));
    stop = true;
    if (random_below(2) == 0) source.cancel();
  });
  scanner::ScanOptions options;
  options.search_start = static_cast<int64_t>(random_below(static_cast<uint64_t>(sectors)));
  options.chunk_blocks = 1 + static_cast<int>(random_below(4));
  options.depth = 2 + static_cast<int>(random_below(3));
  scanner::ScanCallbacks callbacks;
  callbacks.stop_requested = [&] { return stop.load(); };
  const auto result = scanner::scan(source, options, callbacks);
  stopper.join();
  expect(result.end == scanner::ScanEnd::complete || result.end == scanner::ScanEnd::stopped, "scan ends complete or stopped");
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  const auto until = Clock::now() + std::chrono::duration<double>(seconds);
  std::vector<std::weak_ptr<Slow>> left;
  long rounds = 0;
  while (Clock::now() < until && failures == 0) {
    if (random_below(2) == 0) {
      consume_round(left);
    } else {
      scan_round(left);
    }
    ++rounds;
  }
  // Workers left inside a slow read end by themselves; wait for them, so
  // their ends are checked too.
  const auto limit = Clock::now() + std::chrono::seconds(60);
  for (const auto& w : left) {
    while (!w.expired() && Clock::now() < limit) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    expect(w.expired(), "a worker left behind ended");
  }
  std::printf("read_ahead_stress: %ld rounds in %.1f s, %d failures\n", rounds, seconds, failures);
  return failures == 0 ? 0 : 1;
}
