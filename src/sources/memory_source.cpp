#include "sources/memory_source.h"

#include <algorithm>
#include <cstring>

namespace clip::sources {

void MemorySource::write(int64_t byte_offset, std::span<const uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < bytes.size();) {
    const int64_t at = byte_offset + static_cast<int64_t>(i);
    const int64_t sector = at / kSectorBytes;
    const std::size_t in_sector = static_cast<std::size_t>(at % kSectorBytes);
    const std::size_t n = std::min(bytes.size() - i, static_cast<std::size_t>(kSectorBytes) - in_sector);
    auto [it, fresh] = data_.try_emplace(sector);
    if (fresh) it->second.fill(0);
    std::memcpy(it->second.data() + in_sector, bytes.data() + i, n);
    i += n;
  }
}

void MemorySource::fail_sector(int64_t sector, int failures) {
  std::lock_guard lock(mutex_);
  bad_[sector] = failures;
}

ReadResult MemorySource::read_sectors(int64_t first, int64_t count, uint8_t* buffer) {
  ++reads_;
  std::lock_guard lock(mutex_);
  ReadResult result;
  if (first < 0 || count <= 0) return result;
  const int64_t end = first + count;
  if (end > gone_from_) {
    result.error = ReadError::gone;
    return result;
  }
  // A media error stops the read at the first bad sector in the range, as a
  // disk does; the bytes before it are delivered.
  int64_t stop = std::min(end, std::max(first, real_end_));
  for (auto it = bad_.lower_bound(first); it != bad_.end() && it->first < stop; ++it) {
    if (it->second == 0) continue;
    if (it->second > 0) --it->second;
    stop = it->first;
    result.error = ReadError::media;
    break;
  }
  const std::size_t bytes = static_cast<std::size_t>((stop - first) * kSectorBytes);
  std::memset(buffer, 0, bytes);
  for (auto it = data_.lower_bound(first); it != data_.end() && it->first < stop; ++it) {
    std::memcpy(buffer + (it->first - first) * kSectorBytes, it->second.data(), kSectorBytes);
  }
  result.bytes = bytes;
  return result;
}

}  // namespace clip::sources
