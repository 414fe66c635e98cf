// The skin stream codec: a 4-byte little-endian unpacked size followed by an
// LZSS bit stream whose literals and match lengths are coded by an adaptive
// Huffman tree and whose match positions carry a fixed code for their upper
// six bits. The decoder reads through a byte source and writes through a
// sink; the encoder produces streams the decoder reads back exactly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "skin/data/result.h"

namespace clip::skin {

// Skins unpack to about 100 KiB; a stream declaring more than this is damage,
// and refusing it bounds what a load can allocate.
inline constexpr std::uint32_t kMaxUnpackedSize = 64u * 1024 * 1024;

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Fills up to buffer.size() bytes and returns how many it delivered (fewer
  // only at the end of the input), or nullopt when reading failed.
  virtual std::optional<std::size_t> read(std::span<std::uint8_t> buffer) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes all of bytes, or returns false when writing failed.
  virtual bool write(std::span<const std::uint8_t> bytes) = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::optional<std::size_t> read(std::span<std::uint8_t> buffer) override;

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

class VectorSink final : public ByteSink {
 public:
  bool write(std::span<const std::uint8_t> bytes) override;
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

namespace lzh {
inline constexpr int kRingSize = 4096;
inline constexpr int kLookahead = 60;
inline constexpr int kThreshold = 2;
inline constexpr int kSymbols = 256 - kThreshold + kLookahead;  // 314: bytes, then lengths 3..60
inline constexpr int kNodes = 2 * kSymbols - 1;                  // 627
inline constexpr int kRoot = kNodes - 1;
inline constexpr std::uint16_t kRebuildFrequency = 0x8000;
inline constexpr int kRingStart = kRingSize - kLookahead;  // first write position; bytes before it are spaces

// The adaptive code tree shared by both directions. Nodes are kept in
// ascending frequency order; an internal node's child index c names the pair
// of nodes c and c+1, a child index of kNodes or more marks a leaf of symbol
// (index - kNodes). parent has one entry per node and one per symbol leaf.
struct AdaptiveTree {
  std::array<std::uint16_t, kNodes + 1> freq;  // + the guard entry
  std::array<std::uint16_t, kNodes + kSymbols> parent;
  std::array<std::uint16_t, kNodes> child;

  void start();
  void update(int symbol);
  void rebuild();
};
}  // namespace lzh

// Decodes one skin stream. Reads the unpacked size first and rejects it when
// it exceeds max_size (a stream shorter than the 4-byte size is damaged).
// Missing input bits read as zero, so a truncated stream still yields its
// declared size; output stops exactly there, even inside a match.
class TLZH {
 public:
  Result<std::uint32_t> decode(ByteSource& in, ByteSink& out, std::uint32_t max_size = kMaxUnpackedSize);

 private:
  bool fill_input();
  int get_bit();
  int get_byte();
  int decode_symbol();
  int decode_position();

  lzh::AdaptiveTree tree_;
  ByteSource* in_ = nullptr;
  std::array<std::uint8_t, 4096> in_buffer_;
  std::size_t in_pos_ = 0;
  std::size_t in_len_ = 0;
  bool in_failed_ = false;
  std::uint16_t bit_buffer_ = 0;
  std::uint8_t bit_count_ = 0;
};

// Decodes a whole skin stream held in memory.
Result<std::vector<std::uint8_t>> lzh_decode(std::span<const std::uint8_t> stream,
                                             std::uint32_t max_size = kMaxUnpackedSize);

// Encodes data as a skin stream (size field included), with a hash-chain
// match search over the decoder's window (the preset spaces included) and
// one step of lazy matching. Rejects data larger than kMaxUnpackedSize.
Result<std::vector<std::uint8_t>> lzh_encode(std::span<const std::uint8_t> data);

}  // namespace clip::skin
