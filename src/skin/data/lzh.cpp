#include "skin/data/lzh.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace clip::skin {

using namespace lzh;

std::optional<std::size_t> MemorySource::read(std::span<std::uint8_t> buffer) {
  const std::size_t n = std::min(buffer.size(), bytes_.size() - pos_);
  std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), n, buffer.begin());
  pos_ += n;
  return n;
}

bool VectorSink::write(std::span<const std::uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return true;
}

namespace {

// The fixed code of a match position's upper six bits, indexed by the first
// byte read: the upper bits and the code length in bits. Codes are prefix
// codes aligned to the top of that byte, so the groups below give both tables.
struct PositionTables {
  std::array<std::uint8_t, 256> upper{};
  std::array<std::uint8_t, 256> length{};
  std::array<std::uint8_t, 64> code{};       // the code of each upper value, top-aligned in a byte
  std::array<std::uint8_t, 64> code_length{};
};

constexpr PositionTables make_position_tables() {
  PositionTables t;
  // (number of upper values, byte values per upper value) in code order.
  constexpr int groups[][2] = {{1, 32}, {3, 16}, {8, 8}, {12, 4}, {24, 2}, {16, 1}};
  // Code lengths follow from the share of the 256 byte values each code covers.
  int byte = 0;
  int upper = 0;
  for (const auto& g : groups) {
    const int per = g[1];
    int bits = 8;
    for (int span = per; span > 1; span >>= 1) --bits;
    for (int u = 0; u < g[0]; ++u, ++upper) {
      t.code[upper] = static_cast<std::uint8_t>(byte);
      t.code_length[upper] = static_cast<std::uint8_t>(bits);
      for (int k = 0; k < per; ++k, ++byte) {
        t.upper[byte] = static_cast<std::uint8_t>(upper);
        t.length[byte] = static_cast<std::uint8_t>(bits);
      }
    }
  }
  return t;
}

constexpr PositionTables kPosition = make_position_tables();
static_assert(kPosition.upper[255] == 63 && kPosition.length[0] == 3 && kPosition.length[255] == 8);
static_assert(kPosition.length[32] == 4 && kPosition.length[80] == 5 && kPosition.length[144] == 6 &&
              kPosition.length[192] == 7 && kPosition.length[240] == 8);

}  // namespace

void AdaptiveTree::start() {
  for (int i = 0; i < kSymbols; ++i) {
    freq[i] = 1;
    child[i] = static_cast<std::uint16_t>(i + kNodes);
    parent[i + kNodes] = static_cast<std::uint16_t>(i);
  }
  for (int i = 0, j = kSymbols; j < kNodes; i += 2, ++j) {
    freq[j] = static_cast<std::uint16_t>(freq[i] + freq[i + 1]);
    child[j] = static_cast<std::uint16_t>(i);
    parent[i] = parent[i + 1] = static_cast<std::uint16_t>(j);
  }
  freq[kNodes] = 0xFFFF;
  parent[kRoot] = 0;
}

void AdaptiveTree::rebuild() {
  // Leaves to the front in order, with halved frequencies (rounded up, so
  // none drops to zero); they stay in ascending order.
  int j = 0;
  for (int i = 0; i < kNodes; ++i) {
    if (child[i] >= kNodes) {
      freq[j] = static_cast<std::uint16_t>((freq[i] + 1) / 2);
      child[j] = child[i];
      ++j;
    }
  }
  // Internal nodes over consecutive pairs, each inserted where it keeps the
  // frequency order.
  for (int i = 0, n = kSymbols; n < kNodes; i += 2, ++n) {
    const std::uint16_t f = static_cast<std::uint16_t>(freq[i] + freq[i + 1]);
    int k = n - 1;
    while (k >= 0 && f < freq[k]) --k;
    ++k;
    std::memmove(&freq[k + 1], &freq[k], sizeof(freq[0]) * static_cast<std::size_t>(n - k));
    std::memmove(&child[k + 1], &child[k], sizeof(child[0]) * static_cast<std::size_t>(n - k));
    freq[k] = f;
    child[k] = static_cast<std::uint16_t>(i);
  }
  for (int i = 0; i < kNodes; ++i) {
    const int c = child[i];
    parent[c] = static_cast<std::uint16_t>(i);
    if (c < kNodes) parent[c + 1] = static_cast<std::uint16_t>(i);
  }
}

void AdaptiveTree::update(int symbol) {
  if (freq[kRoot] >= kRebuildFrequency) rebuild();
  int c = parent[symbol + kNodes];
  do {
    const unsigned k = ++freq[c];
    if (k > freq[c + 1]) {
      // Swap with the last node of a lower frequency to keep the order; the
      // guard entry stops the scan.
      int l = c + 1;
      while (k > freq[l + 1]) ++l;
      freq[c] = freq[l];
      freq[l] = static_cast<std::uint16_t>(k);
      const int i = child[c];
      parent[i] = static_cast<std::uint16_t>(l);
      if (i < kNodes) parent[i + 1] = static_cast<std::uint16_t>(l);
      const int j = child[l];
      child[l] = static_cast<std::uint16_t>(i);
      parent[j] = static_cast<std::uint16_t>(c);
      if (j < kNodes) parent[j + 1] = static_cast<std::uint16_t>(c);
      child[c] = static_cast<std::uint16_t>(j);
      c = l;
    }
    c = parent[c];
  } while (c != 0);
}

bool TLZH::fill_input() {
  if (in_failed_) return false;
  const auto got = in_->read(in_buffer_);
  if (!got) {
    in_failed_ = true;
    return false;
  }
  in_pos_ = 0;
  in_len_ = *got;
  return in_len_ > 0;
}

int TLZH::get_bit() {
  while (bit_count_ <= 8) {
    unsigned b = 0;  // past the end of the input the bits read as zero
    if (in_pos_ < in_len_ || fill_input()) b = in_buffer_[in_pos_++];
    bit_buffer_ = static_cast<std::uint16_t>(bit_buffer_ | (b << (8 - bit_count_)));
    bit_count_ = static_cast<std::uint8_t>(bit_count_ + 8);
  }
  const int bit = bit_buffer_ >> 15;
  bit_buffer_ = static_cast<std::uint16_t>(bit_buffer_ << 1);
  --bit_count_;
  return bit;
}

int TLZH::get_byte() {
  while (bit_count_ <= 8) {
    unsigned b = 0;
    if (in_pos_ < in_len_ || fill_input()) b = in_buffer_[in_pos_++];
    bit_buffer_ = static_cast<std::uint16_t>(bit_buffer_ | (b << (8 - bit_count_)));
    bit_count_ = static_cast<std::uint8_t>(bit_count_ + 8);
  }
  const int byte = bit_buffer_ >> 8;
  bit_buffer_ = static_cast<std::uint16_t>(bit_buffer_ << 8);
  bit_count_ = static_cast<std::uint8_t>(bit_count_ - 8);
  return byte;
}

int TLZH::decode_symbol() {
  int x = tree_.child[kRoot];
  while (x < kNodes) x = tree_.child[x + get_bit()];
  const int symbol = x - kNodes;
  tree_.update(symbol);
  return symbol;
}

int TLZH::decode_position() {
  int i = get_byte();
  const int upper = kPosition.upper[i];
  for (int extra = kPosition.length[i] - 2; extra > 0; --extra) i = (i << 1) + get_bit();
  return (upper << 6) | (i & 63);
}

Result<std::uint32_t> TLZH::decode(ByteSource& in, ByteSink& out, std::uint32_t max_size) {
  in_ = &in;
  in_pos_ = in_len_ = 0;
  in_failed_ = false;
  bit_buffer_ = 0;
  bit_count_ = 0;

  std::uint8_t header[4];
  std::size_t have = 0;
  while (have < 4) {
    const auto got = in.read(std::span(header + have, 4 - have));
    if (!got) return Error{ErrorKind::io, "reading the skin stream failed"};
    if (*got == 0) return Error{ErrorKind::bad_data, "skin stream shorter than its size field"};
    have += *got;
  }
  const std::uint32_t size = std::uint32_t{header[0]} | std::uint32_t{header[1]} << 8 |
                             std::uint32_t{header[2]} << 16 | std::uint32_t{header[3]} << 24;
  if (size > max_size) {
    return Error{ErrorKind::bad_data, "unpacked size " + std::to_string(size) + " exceeds the limit of " +
                                          std::to_string(max_size) + " bytes"};
  }

  tree_.start();
  std::array<std::uint8_t, kRingSize> ring;
  std::fill_n(ring.begin(), kRingStart, std::uint8_t{' '});
  std::fill(ring.begin() + kRingStart, ring.end(), std::uint8_t{0});
  unsigned r = kRingStart;

  std::array<std::uint8_t, 8192> out_buffer;
  std::size_t out_len = 0;
  std::uint32_t produced = 0;
  bool sink_failed = false;
  auto emit = [&](std::uint8_t c) {
    ring[r] = c;
    r = (r + 1) & (kRingSize - 1);
    out_buffer[out_len++] = c;
    ++produced;
    if (out_len == out_buffer.size()) {
      sink_failed = sink_failed || !out.write(std::span(out_buffer.data(), out_len));
      out_len = 0;
    }
  };

  while (produced < size && !sink_failed && !in_failed_) {
    const int symbol = decode_symbol();
    if (symbol < 256) {
      emit(static_cast<std::uint8_t>(symbol));
      continue;
    }
    const unsigned source = (r - static_cast<unsigned>(decode_position()) - 1) & (kRingSize - 1);
    const int length = symbol - 255 + kThreshold;
    // A match running past the declared size is cut there: nothing beyond
    // the declared output is ever written.
    for (int k = 0; k < length && produced < size; ++k) emit(ring[(source + static_cast<unsigned>(k)) & (kRingSize - 1)]);
  }
  if (in_failed_) return Error{ErrorKind::io, "reading the skin stream failed"};
  if (!sink_failed && out_len > 0) sink_failed = !out.write(std::span(out_buffer.data(), out_len));
  if (sink_failed) return Error{ErrorKind::io, "writing the unpacked skin failed"};
  return produced;
}

Result<std::vector<std::uint8_t>> lzh_decode(std::span<const std::uint8_t> stream, std::uint32_t max_size) {
  MemorySource source(stream);
  VectorSink sink;
  TLZH codec;
  auto result = codec.decode(source, sink, max_size);
  if (!result) return result.error();
  return std::move(sink.bytes());
}

namespace {

class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}

  // Appends the low `count` bits of value, most significant first.
  void put(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      acc_ = static_cast<std::uint8_t>((acc_ << 1) | ((value >> i) & 1));
      if (++bits_ == 8) {
        out_.push_back(acc_);
        acc_ = 0;
        bits_ = 0;
      }
    }
  }
  void flush() {
    if (bits_ > 0) out_.push_back(static_cast<std::uint8_t>(acc_ << (8 - bits_)));
    acc_ = 0;
    bits_ = 0;
  }

 private:
  std::vector<std::uint8_t>& out_;
  std::uint8_t acc_ = 0;
  int bits_ = 0;
};

class Encoder {
 public:
  Encoder(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out)
      : window_(static_cast<std::size_t>(kRingStart) + data.size(), std::uint8_t{' '}), bits_(out) {
    std::copy(data.begin(), data.end(), window_.begin() + kRingStart);
    head_.fill(-1);
    prev_.fill(-1);
    tree_.start();
  }

  void run() {
    const auto total = static_cast<std::int64_t>(window_.size());
    // The preset spaces are in the decoder's window too, so they are offered
    // as match sources.
    for (std::int64_t i = 0; i < kRingStart; ++i) insert(i);
    std::int64_t cur = kRingStart;
    Match match = find(cur);
    while (cur < total) {
      if (match.length > kThreshold && match.length < kLookahead && cur + 1 < total) {
        insert(cur);
        const Match next = find(cur + 1);
        if (next.length > match.length) {
          put_symbol(window_[static_cast<std::size_t>(cur)]);
          ++cur;
          match = next;
          continue;
        }
        put_match(match);
        for (std::int64_t k = 1; k < match.length; ++k) insert(cur + k);
        cur += match.length;
      } else if (match.length > kThreshold) {
        put_match(match);
        for (std::int64_t k = 0; k < match.length; ++k) insert(cur + k);
        cur += match.length;
      } else {
        put_symbol(window_[static_cast<std::size_t>(cur)]);
        insert(cur);
        ++cur;
      }
      if (cur < total) match = find(cur);
    }
    bits_.flush();
  }

 private:
  static constexpr int kHashBits = 15;
  static constexpr int kChainDepth = 256;

  struct Match {
    int length = 0;
    int distance = 0;
  };

  std::uint32_t hash(std::int64_t pos) const {
    const auto* p = &window_[static_cast<std::size_t>(pos)];
    const std::uint32_t v = std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  // Chains keep one slot per ring position: an entry older than the window is
  // overwritten exactly when it stops being reachable.
  void insert(std::int64_t pos) {
    if (pos + 2 >= static_cast<std::int64_t>(window_.size())) return;
    const std::uint32_t h = hash(pos);
    prev_[static_cast<std::size_t>(pos & (kRingSize - 1))] = head_[h];
    head_[h] = pos;
  }

  Match find(std::int64_t cur) const {
    Match best;
    const auto total = static_cast<std::int64_t>(window_.size());
    const int max_length = static_cast<int>(std::min<std::int64_t>(kLookahead, total - cur));
    if (max_length <= kThreshold) return best;
    const std::int64_t lowest = std::max<std::int64_t>(0, cur - kRingSize);
    std::int64_t cand = head_[hash(cur)];
    const std::uint8_t* here = &window_[static_cast<std::size_t>(cur)];
    for (int depth = 0; cand >= lowest && cand < cur && depth < kChainDepth; ++depth) {
      const std::uint8_t* there = &window_[static_cast<std::size_t>(cand)];
      if (there[best.length] == here[best.length]) {
        int n = 0;
        while (n < max_length && there[n] == here[n]) ++n;
        if (n > best.length) {
          best.length = n;
          best.distance = static_cast<int>(cur - cand);
          if (n == max_length) break;
        }
      }
      cand = prev_[static_cast<std::size_t>(cand & (kRingSize - 1))];
    }
    return best;
  }

  void put_symbol(int symbol) {
    // The code is the path from the root to the symbol's leaf: the parity of
    // each node on it, collected leaf first.
    std::array<std::uint8_t, kNodes> path;
    int depth = 0;
    for (int k = tree_.parent[symbol + kNodes]; k != kRoot; k = tree_.parent[k]) path[depth++] = k & 1;
    while (depth > 0) bits_.put(path[--depth], 1);
    tree_.update(symbol);
  }

  void put_match(const Match& m) {
    put_symbol(255 - kThreshold + m.length);
    const int position = m.distance - 1;
    const int upper = position >> 6;
    bits_.put(kPosition.code[upper] >> (8 - kPosition.code_length[upper]), kPosition.code_length[upper]);
    bits_.put(static_cast<std::uint32_t>(position & 63), 6);
  }

  std::vector<std::uint8_t> window_;
  std::array<std::int64_t, 1u << kHashBits> head_;
  std::array<std::int64_t, kRingSize> prev_;
  AdaptiveTree tree_;
  BitWriter bits_;
};

}  // namespace

Result<std::vector<std::uint8_t>> lzh_encode(std::span<const std::uint8_t> data) {
  if (data.size() > kMaxUnpackedSize) {
    return Error{ErrorKind::invalid, "data of " + std::to_string(data.size()) + " bytes exceeds the limit of " +
                                         std::to_string(kMaxUnpackedSize) + " bytes"};
  }
  std::vector<std::uint8_t> out;
  const auto size = static_cast<std::uint32_t>(data.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
  auto encoder = std::make_unique<Encoder>(data, out);
  encoder->run();
  return out;
}

}  // namespace clip::skin
