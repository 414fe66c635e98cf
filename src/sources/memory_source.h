// A sparse in-memory source: every sector reads as zeros unless written. It
// can also fail on chosen sectors, stop answering from a chosen sector on, or
// end earlier than it announces, which is how the scanner's and recovery's
// handling of damaged disks is exercised without a damaged disk.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <span>

#include "sources/block_source.h"

namespace clip::sources {

class MemorySource final : public BlockSource {
 public:
  explicit MemorySource(int64_t sectors) : sectors_(sectors), real_end_(sectors) {}

  int64_t sector_count() const override { return sectors_; }
  ReadResult read_sectors(int64_t first, int64_t count, uint8_t* buffer) override;

  // Writes bytes at a byte offset (may span sectors).
  void write(int64_t byte_offset, std::span<const uint8_t> bytes);

  // Reads of this sector fail with a media error, the first `failures` times
  // (or always with a negative count).
  void fail_sector(int64_t sector, int failures = -1);
  // Every read touching sector `from` or later fails with ReadError::gone.
  void gone_from(int64_t from) { gone_from_ = from; }
  // The data really ends at `sectors`, whatever sector_count() announces.
  void truncate(int64_t sectors) { real_end_ = sectors; }

  // Total read calls and sectors asked for, for tests that check the reads.
  int64_t reads() const { return reads_; }

 private:
  using Sector = std::array<uint8_t, kSectorBytes>;
  mutable std::mutex mutex_;
  int64_t sectors_;
  int64_t real_end_;
  int64_t gone_from_ = INT64_MAX;
  std::map<int64_t, Sector> data_;
  std::map<int64_t, int> bad_;
  std::atomic<int64_t> reads_{0};
};

}  // namespace clip::sources
