#include "skin/data/lzh.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using clip::skin::ErrorKind;
using clip::skin::lzh_decode;
using clip::skin::lzh_encode;
using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

std::uint64_t fnv1a(const Bytes& b) {
  std::uint64_t h = 1469598103934665603ull;
  for (auto c : b) h = (h ^ c) * 1099511628211ull;
  return h;
}

Bytes round_trip(const Bytes& data) {
  auto packed = lzh_encode(data);
  EXPECT_TRUE(packed.ok());
  if (!packed) return {};
  auto unpacked = lzh_decode(packed.value());
  EXPECT_TRUE(unpacked.ok()) << unpacked.error().message;
  return unpacked ? unpacked.value() : Bytes{};
}

// A 24-bit bottom-up bitmap body with gradients and flat areas, as skin
// bitmaps have.
Bytes bitmap_like(int w, int h) {
  Bytes b;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool flat = (x / 16 + y / 8) % 3 == 0;
      b.push_back(flat ? 0xFF : static_cast<std::uint8_t>(x * 3));
      b.push_back(flat ? 0x00 : static_cast<std::uint8_t>(y * 5));
      b.push_back(flat ? 0xFF : static_cast<std::uint8_t>(x + y));
    }
  return b;
}

Bytes random_bytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes b(n);
  for (auto& c : b) c = static_cast<std::uint8_t>(gen());
  return b;
}

TEST(LzhRoundTrip, KindsOfData) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "[Title]\r\nBitmap=top.bmp\r\nFrameCount=" + std::to_string(i % 7) + "\r\n";
  const Bytes cases[] = {
      {},
      bytes_of("x"),
      bytes_of(text),
      bitmap_like(265, 46),
      random_bytes(70000, 1),
      Bytes(200000, 0xAB),
      Bytes(5000, ' '),
  };
  for (const auto& data : cases) EXPECT_EQ(round_trip(data), data) << "size " << data.size();
}

TEST(LzhRoundTrip, SizesAroundTheRing) {
  const Bytes noise = random_bytes(9000, 7);
  for (std::size_t n : {4035u, 4036u, 4037u, 4095u, 4096u, 4097u, 8192u, 8193u}) {
    // Half repetitive, half noise, so matches reach across the ring edge.
    Bytes data(noise.begin(), noise.begin() + static_cast<std::ptrdiff_t>(n));
    for (std::size_t i = 0; i < n / 2; ++i) data[i] = static_cast<std::uint8_t>(i % 251);
    EXPECT_EQ(round_trip(data), data) << "size " << n;
  }
}

TEST(LzhEncode, FindsMatchesInRepetitiveData) {
  // Literal-only coding cannot go below about 5 bits per byte here.
  const Bytes data(100000, 'A');
  auto packed = lzh_encode(data);
  ASSERT_TRUE(packed.ok());
  EXPECT_LT(packed.value().size(), data.size() / 40);
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "Colour" + std::to_string(i % 16) + "=192,192,192\r\n";
  auto packed_text = lzh_encode(bytes_of(text));
  ASSERT_TRUE(packed_text.ok());
  EXPECT_LT(packed_text.value().size(), text.size() / 8);
}

// Streams derived by hand from the start tree: node 314+k holds the pair
// 2k, 2k+1 and the root is 626, so all-zero bits walk 624, 620, 612, 596,
// 564, 500, 372 to leaf 116 ('t', 8 bits) and all-one bits end at leaf 115
// ('s', 9 bits). Symbol 257 (a match of 4) is 10001101, position 0 is 000
// then 000000.
TEST(LzhGolden, HandDerivedStreams) {
  struct Case {
    Bytes plain;
    Bytes stream;
  } cases[] = {
      {bytes_of("t"), {1, 0, 0, 0, 0x00}},
      {bytes_of("s"), {1, 0, 0, 0, 0xFF, 0x80}},
      {bytes_of("    "), {4, 0, 0, 0, 0x8D, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    auto packed = lzh_encode(c.plain);
    ASSERT_TRUE(packed.ok());
    EXPECT_EQ(packed.value(), c.stream);
    auto unpacked = lzh_decode(c.stream);
    ASSERT_TRUE(unpacked.ok());
    EXPECT_EQ(unpacked.value(), c.plain);
  }
}

// Pins the exact bits of longer inputs, including tree rebuilds (about
// 32,000 symbols in), so a change to the tree code or the match choice shows.
TEST(LzhGolden, PinnedStreams) {
  auto small = lzh_encode(bytes_of("abcabcabcabc hello hello"));
  ASSERT_TRUE(small.ok());
  EXPECT_EQ(small.value(), (Bytes{0x18, 0, 0, 0, 0xF6, 0xFB, 0xBD, 0xF2, 0x40, 0x2D, 0x67, 0xD3, 0xE3, 0xF8, 0xBE, 0xFD, 0xC7, 0x81, 0x40}));
  auto big = lzh_encode(random_bytes(60000, 3));
  ASSERT_TRUE(big.ok());
  EXPECT_EQ(big.value().size(), 60155u);
  EXPECT_EQ(fnv1a(big.value()), 15449470073622137750ull);
}

TEST(LzhDecode, StopsAtDeclaredSize) {
  // The 4-space match of the golden stream, with only 2 bytes declared.
  auto cut = lzh_decode(Bytes{2, 0, 0, 0, 0x8D, 0x00, 0x00});
  ASSERT_TRUE(cut.ok());
  EXPECT_EQ(cut.value(), bytes_of("  "));
  // A stream with no bits at all still yields its declared size (missing
  // bits read as zero), and the first symbol is the all-zero code.
  auto empty = lzh_decode(Bytes{0x10, 0x27, 0, 0});
  ASSERT_TRUE(empty.ok());
  ASSERT_EQ(empty.value().size(), 10000u);
  EXPECT_EQ(empty.value()[0], 't');
}

TEST(LzhDecode, TruncatedStreamKeepsItsPrefix) {
  const Bytes data = random_bytes(20000, 11);
  auto packed = lzh_encode(data);
  ASSERT_TRUE(packed.ok());
  Bytes half(packed.value().begin(), packed.value().begin() + static_cast<std::ptrdiff_t>(packed.value().size() / 2));
  auto unpacked = lzh_decode(half);
  ASSERT_TRUE(unpacked.ok());
  ASSERT_EQ(unpacked.value().size(), data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 5000, unpacked.value().begin()));
}

TEST(LzhDecode, RejectsBadHeaders) {
  auto short_header = lzh_decode(Bytes{1, 0, 0});
  ASSERT_FALSE(short_header.ok());
  EXPECT_EQ(short_header.error().kind, ErrorKind::bad_data);
  // 64 MiB + 1 declared: refused before anything is allocated.
  auto huge = lzh_decode(Bytes{1, 0, 0, 4, 0});
  ASSERT_FALSE(huge.ok());
  EXPECT_EQ(huge.error().kind, ErrorKind::bad_data);
  auto limited = lzh_decode(Bytes{0, 1, 0, 0}, 255);
  EXPECT_FALSE(limited.ok());
  auto at_limit = lzh_decode(Bytes{0, 1, 0, 0}, 256);
  EXPECT_TRUE(at_limit.ok());
}

class FailingSink : public clip::skin::ByteSink {
 public:
  bool write(std::span<const std::uint8_t>) override { return false; }
};
class FailingSource : public clip::skin::ByteSource {
 public:
  std::optional<std::size_t> read(std::span<std::uint8_t> buffer) override {
    if (calls_++ == 0 && buffer.size() >= 4) {
      buffer[0] = 0x00;
      buffer[1] = 0x10;
      buffer[2] = buffer[3] = 0;
      return 4;
    }
    return std::nullopt;
  }

 private:
  int calls_ = 0;
};

TEST(LzhDecode, ReportsIoFailuresApartFromBadData) {
  clip::skin::TLZH codec;
  auto stream = lzh_encode(Bytes(100, 'q'));
  ASSERT_TRUE(stream.ok());
  clip::skin::MemorySource in(stream.value());
  FailingSink sink;
  auto written = codec.decode(in, sink);
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.error().kind, ErrorKind::io);
  FailingSource bad_in;
  clip::skin::VectorSink out;
  auto read = codec.decode(bad_in, out);
  ASSERT_FALSE(read.ok());
  EXPECT_EQ(read.error().kind, ErrorKind::io);
}

TEST(LzhEncode, RejectsDataBeyondTheLimit) {
  const Bytes big(clip::skin::kMaxUnpackedSize + 1u, 0);
  auto packed = lzh_encode(big);
  ASSERT_FALSE(packed.ok());
  EXPECT_EQ(packed.error().kind, ErrorKind::invalid);
}

}  // namespace
