// Texts and byte tests of the recorder's block layout.
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define CLIP_SCAN_AVX2 1
#endif

#include "scanner/scanner.h"

namespace clip::scanner {
namespace {

void append_field(std::string& out, uint8_t value) {
  if (value < 10) out += '0';
  out += std::to_string(value);
}

bool marker_at(const uint8_t* p) { return std::memcmp(p, kStreamMarker.data(), kStreamMarker.size()) == 0; }

#if defined(CLIP_SCAN_AVX2)
// Wider versions of the two loops that see every byte of a block, for the
// processors that have them (chosen once at run time; the shipped build
// assumes SSE2 only). Empty space costs little more than reading it.
bool have_avx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
}

// The first p' >= p at which a 128-byte window holds a "d", or where fewer
// than 128 + 17 bytes are left.
__attribute__((target("avx2"))) std::size_t skip_without_d_avx2(const uint8_t* data, std::size_t p, std::size_t size) {
  const __m256i d = _mm256_set1_epi8(kStreamMarker[0]);
  for (; p + 128 + 17 <= size; p += 128) {
    const __m256i* at = reinterpret_cast<const __m256i*>(data + p);
    const __m256i any = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(at), d), _mm256_cmpeq_epi8(_mm256_loadu_si256(at + 1), d)),
        _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(at + 2), d), _mm256_cmpeq_epi8(_mm256_loadu_si256(at + 3), d)));
    if (!_mm256_testz_si256(any, any)) break;
  }
  return p;
}

// False at the first nonzero byte; p ends where fewer than 128 bytes are left.
__attribute__((target("avx2"))) bool zero_avx2(const uint8_t* data, std::size_t size, std::size_t& p) {
  for (; p + 128 <= size; p += 128) {
    const __m256i* at = reinterpret_cast<const __m256i*>(data + p);
    const __m256i any = _mm256_or_si256(_mm256_or_si256(_mm256_loadu_si256(at), _mm256_loadu_si256(at + 1)),
                                        _mm256_or_si256(_mm256_loadu_si256(at + 2), _mm256_loadu_si256(at + 3)));
    if (!_mm256_testz_si256(any, any)) return false;
  }
  return true;
}
#endif

}  // namespace

std::string time_text(const TimeFields& fields) {
  std::string text;
  for (uint8_t field : fields) {
    append_field(text, field);
    text += '-';
  }
  return text;
}

std::string clip_name(std::optional<int> channel, const std::optional<TimeFields>& time) {
  std::string name = "ch0000000000000";
  if (channel) name += std::to_string(*channel);
  name += '-';
  if (time) name += time_text(*time);
  name += ".264";
  return name;
}

std::string channel_column(std::optional<int> channel) {
  if (!channel) return {};
  std::string text = std::to_string(*channel);
  if (text.size() == 1) text.insert(text.begin(), '0');
  return text;
}

std::string start_column(const std::optional<TimeFields>& time) {
  if (!time) return {};
  const TimeFields& t = *time;
  std::string text = "20";
  append_field(text, t[0]);
  text += '-';
  append_field(text, t[1]);
  text += '-';
  append_field(text, t[2]);
  text += ' ';
  append_field(text, t[3]);
  text += '-';
  append_field(text, t[4]);
  text += '-';
  append_field(text, t[5]);
  return text;
}

bool is_header_block(const uint8_t* block, std::size_t valid) {
  if (valid < kSignatureOffset + kSignature.size()) return false;
  // One 8-byte and one 4-byte compare instead of a call per sector: the
  // search tests every sector of the disk.
  static const uint64_t kHead = [] {
    uint64_t v;
    std::memcpy(&v, kSignature.data(), 8);
    return v;
  }();
  static const uint32_t kTail = [] {
    uint32_t v;
    std::memcpy(&v, kSignature.data() + 8, 4);
    return v;
  }();
  uint64_t head;
  uint32_t tail;
  std::memcpy(&head, block + kSignatureOffset, 8);
  std::memcpy(&tail, block + kSignatureOffset + 8, 4);
  return head == kHead && tail == kTail;
}

std::size_t find_stream_marker(const uint8_t* data, std::size_t size, std::size_t from) {
  constexpr std::size_t kLen = kStreamMarker.size();
  if (size < kLen) return size;
  const std::size_t last = size - kLen;  // the last position the marker fits at
  std::size_t p = from;
#if defined(__SSE2__)
  // Positions where "d" is followed by "c", 16 at a time; only those are
  // compared in full. The second load reads up to p + 16, so the loop keeps
  // p + 17 <= size.
  const __m128i first = _mm_set1_epi8(kStreamMarker[0]);
  const __m128i second = _mm_set1_epi8(kStreamMarker[1]);
  for (; p + 17 <= size; p += 16) {
    // Bytes without a "d" hold no marker start: skipped 64 (or 128) at a time
    // (empty space and most video bytes go this way).
#if defined(CLIP_SCAN_AVX2)
    if (have_avx2()) p = skip_without_d_avx2(data, p, size);
#endif
    while (p + 64 + 17 <= size) {
      const __m128i* at = reinterpret_cast<const __m128i*>(data + p);
      const __m128i any = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(_mm_loadu_si128(at), first), _mm_cmpeq_epi8(_mm_loadu_si128(at + 1), first)),
          _mm_or_si128(_mm_cmpeq_epi8(_mm_loadu_si128(at + 2), first), _mm_cmpeq_epi8(_mm_loadu_si128(at + 3), first)));
      if (_mm_movemask_epi8(any) != 0) break;
      p += 64;
    }
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + 1));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, second))));
    while (mask != 0) {
      const std::size_t at = p + static_cast<std::size_t>(__builtin_ctz(mask));
      if (at > last) return size;
      if (marker_at(data + at)) return at;
      mask &= mask - 1;
    }
  }
#endif
  while (p <= last) {
    const void* hit = std::memchr(data + p, kStreamMarker[0], last - p + 1);
    if (hit == nullptr) return size;
    p = static_cast<std::size_t>(static_cast<const uint8_t*>(hit) - data);
    if (marker_at(data + p)) return p;
    ++p;
  }
  return size;
}

std::optional<int> marker_channel(const uint8_t* block, std::size_t valid, const uint8_t* before) {
  for (std::size_t p = find_stream_marker(block, valid, 0); p < valid; p = find_stream_marker(block, valid, p + 1)) {
    if (p < 2 && before == nullptr) continue;
    const uint8_t c = p < 2 ? before[p] : block[p - 2];
    if (c >= '0' && c <= '9') return c - '0' + 1;
  }
  return std::nullopt;
}

bool is_zero_block(const uint8_t* data, std::size_t size) {
  std::size_t p = 0;
#if defined(CLIP_SCAN_AVX2)
  if (have_avx2() && !zero_avx2(data, size, p)) return false;
#endif
#if defined(__SSE2__)
  // Four 16-byte loads ORed together per step; a recording block fails on
  // its first step, an empty one is read once at memory speed.
  for (; p + 64 <= size; p += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + 48));
    const __m128i any = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF) return false;
  }
#endif
  for (; p + 8 <= size; p += 8) {
    uint64_t word;
    std::memcpy(&word, data + p, 8);
    if (word != 0) return false;
  }
  for (; p < size; ++p) {
    if (data[p] != 0) return false;
  }
  return true;
}

}  // namespace clip::scanner
