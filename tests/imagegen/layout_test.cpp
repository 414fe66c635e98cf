#include "imagegen/layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace ig = clip::imagegen;

namespace {

std::string text_at(const ig::Bytes& b, std::size_t at, std::size_t n) {
  return std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                     b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

// Every position of "dcH264" within the first `valid` bytes.
std::vector<std::size_t> markers(const ig::Bytes& b, std::size_t valid) {
  std::vector<std::size_t> found;
  const std::string m(ig::kMarker);
  for (std::size_t p = 0; p + m.size() <= valid; ++p) {
    if (text_at(b, p, m.size()) == m) found.push_back(p);
  }
  return found;
}

const ig::Bytes kVideo = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x21, 0, 0, 1, 0x41, 0x9a, 0x02};

TEST(Layout, HeaderBlockCarriesTimeSignatureAndChannelAtTheirOffsets) {
  ig::Bytes b = ig::header_block(2, {0x0C, 0x05, 0x14, 0x0D, 0x2D, 0x1E}, kVideo);
  ASSERT_EQ(b.size(), ig::kBlockBytes);
  EXPECT_EQ(text_at(b, 80, 12), "MDVR96NT_2_R");
  EXPECT_EQ(ig::Bytes(b.begin() + 43, b.begin() + 49), (ig::Bytes{0x0C, 0x05, 0x14, 0x0D, 0x2D, 0x1E}));
  EXPECT_EQ(b[468], 2);
  // Starts a NAL unit of a skipped type; the video follows the first sector.
  EXPECT_EQ(ig::Bytes(b.begin(), b.begin() + 5), (ig::Bytes{0, 0, 0, 1, 0x78}));
  EXPECT_TRUE(std::equal(kVideo.begin(), kVideo.end(), b.begin() + 512));
  EXPECT_EQ(ig::Bytes(b.begin() + 512 + 14, b.begin() + 512 + 19), (ig::Bytes{0, 0, 0, 1, 0x0C}));
  EXPECT_TRUE(markers(b, b.size()).empty());
}

TEST(Layout, TimeBytesThatFormAStartCodeOpenASkippedUnit) {
  // Hour 0, minute 0, second 1: bytes 46..48 read 00 00 01.
  ig::Bytes b = ig::header_block(1, {12, 5, 20, 0, 0, 1}, kVideo);
  EXPECT_EQ(b[49], 0x78);
  EXPECT_EQ(b[468], 1);
}

TEST(Layout, StreamMarkerPlacements) {
  struct Case {
    ig::MarkerPlace place;
    std::size_t valid;
    std::size_t marker;
  };
  const Case cases[] = {
      {ig::MarkerPlace::normal, ig::kBlockBytes, 8},
      {ig::MarkerPlace::block_end, ig::kBlockBytes, 65530},
      {ig::MarkerPlace::block_end, 4096, 4090},
      {ig::MarkerPlace::edge_last_classic, ig::kBlockBytes, 65527},
      {ig::MarkerPlace::position0, ig::kBlockBytes, 0},
      {ig::MarkerPlace::position1, ig::kBlockBytes, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.marker);
    ig::StreamBlockSpec s;
    s.channel_char = '3';
    s.place = c.place;
    s.valid = c.valid;
    ig::Bytes b = ig::stream_block(s, kVideo);
    EXPECT_EQ(ig::marker_offset(s), c.marker);
    EXPECT_EQ(markers(b, c.valid), std::vector<std::size_t>{c.marker});
    if (c.marker >= 2) {
      EXPECT_EQ(b[c.marker - 2], '3');
      EXPECT_EQ(b[c.marker - 1], '0');
    }
    EXPECT_NE(text_at(b, 80, 12), "MDVR96NT_2_R");
    EXPECT_TRUE(std::equal(kVideo.begin(), kVideo.end(), b.begin() + 32));
  }
}

TEST(Layout, StreamBlockWithoutMarkerOrWithDamagedFirstMarker) {
  ig::StreamBlockSpec none;
  none.place = ig::MarkerPlace::none;
  EXPECT_TRUE(markers(ig::stream_block(none, kVideo), ig::kBlockBytes).empty());

  ig::StreamBlockSpec bad;
  bad.channel_char = 'x';
  bad.second_channel_char = '4';
  ig::Bytes b = ig::stream_block(bad, kVideo);
  auto found = markers(b, b.size());
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(b[found[0] - 2], 'x');
  EXPECT_EQ(b[found[1] - 2], '4');
}

TEST(Layout, RefusesVideoThatReachesTheBlockEnd) {
  ig::Bytes big(ig::kMaxVideoPerBlock + 1, 0x11);
  EXPECT_THROW(ig::header_block(1, {}, big), std::invalid_argument);
  ig::StreamBlockSpec short_block;
  short_block.valid = 1024;
  EXPECT_THROW(ig::stream_block(short_block, ig::Bytes(1000, 0x11)), std::invalid_argument);
  EXPECT_THROW(ig::channel_char_of(11), std::invalid_argument);
  EXPECT_EQ(ig::channel_char_of(10), '9');
}

}  // namespace
