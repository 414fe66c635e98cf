#include "sources/aligned_read.h"

#include <algorithm>
#include <cstring>

#include "sources/aligned_buffer.h"

namespace clip::sources {
namespace {

// Bounce pieces of at most this much, so a long misaligned read needs little
// memory; a multiple of every sector size in use.
constexpr std::size_t kBouncePiece = 1 << 20;

ReadResult read_all(const RawRead& raw, uint64_t offset, std::size_t length, uint8_t* buffer) {
  ReadResult result;
  while (result.bytes < length) {
    const ReadResult got = raw(offset + result.bytes, length - result.bytes, buffer + result.bytes);
    result.bytes += std::min(got.bytes, length - result.bytes);
    if (!got.ok()) {
      result.error = got.error;
      break;
    }
    if (got.bytes == 0) break;
  }
  return result;
}

}  // namespace

ReadResult read_aligned(const RawRead& raw, std::size_t unit, int64_t first, int64_t count, uint8_t* buffer) {
  ReadResult result;
  if (first < 0 || count <= 0) return result;
  if (unit == 0) {
    return read_all(raw, static_cast<uint64_t>(first) * kSectorBytes, static_cast<std::size_t>(count * kSectorBytes),
                    buffer);
  }
  unit = std::max<std::size_t>(unit, kSectorBytes);
  const uint64_t begin = static_cast<uint64_t>(first) * kSectorBytes;
  const uint64_t end = begin + static_cast<uint64_t>(count) * kSectorBytes;
  const std::size_t length = static_cast<std::size_t>(end - begin);
  const bool aligned_memory = reinterpret_cast<uintptr_t>(buffer) % std::min(unit, kBufferAlignment) == 0;
  if (begin % unit == 0 && end % unit == 0 && aligned_memory) {
    result = read_all(raw, begin, length, buffer);
  } else {
    const uint64_t from = begin - begin % unit;
    const uint64_t to = (end + unit - 1) / unit * unit;
    AlignedBuffer bounce(static_cast<std::size_t>(std::min<uint64_t>(std::max(kBouncePiece, unit), to - from)));
    for (uint64_t at = from; at < to && result.bytes < length;) {
      const std::size_t piece = static_cast<std::size_t>(std::min<uint64_t>(bounce.size(), to - at));
      const ReadResult got = read_all(raw, at, piece, bounce.data());
      // The part of [at, at + got) that lies in what was asked for and is
      // not delivered yet.
      const uint64_t want_from = begin + result.bytes;
      const uint64_t have_to = std::min<uint64_t>(at + got.bytes, end);
      if (have_to > want_from) {
        std::memcpy(buffer + result.bytes, bounce.data() + (want_from - at), static_cast<std::size_t>(have_to - want_from));
        result.bytes += static_cast<std::size_t>(have_to - want_from);
      }
      if (!got.ok()) {
        result.error = got.error;
        break;
      }
      if (got.bytes < piece) break;
      at += piece;
    }
  }
  // Whole sectors only: a device's end inside a sector ends the source there.
  result.bytes -= result.bytes % kSectorBytes;
  return result;
}

}  // namespace clip::sources
