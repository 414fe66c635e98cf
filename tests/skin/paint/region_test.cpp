#include <gtest/gtest.h>

#include "skin/paint/region.h"

namespace clip::skin::paint {
namespace {

constexpr uint32_t kMagenta = 0xFF00FF, kGrey = 0x808080;

struct Image {
  int width, height;
  std::vector<uint32_t> pixels;
  Image(int w, int h, uint32_t fill) : width(w), height(h), pixels(static_cast<size_t>(w) * h, fill) {}
  void set(int x, int y, uint32_t p) { pixels[static_cast<size_t>(y) * width + x] = p; }
  std::vector<Rect> runs(int dx = 0, int dy = 0, Tolerance t = {}) const {
    return region_runs(pixels.data(), width, height, width, dx, dy, t);
  }
};

TEST(RegionRuns, AllKeyGivesNothingAndADotGivesOnePixelMoved) {
  Image image(8, 8, kMagenta);
  EXPECT_TRUE(image.runs().empty());
  image.set(3, 5, kGrey);
  EXPECT_EQ(image.runs(10, 20), (std::vector<Rect>{{13, 25, 14, 26}}));
}

TEST(RegionRuns, RowsSplitAtKeyPixelsAndRunToTheRowEnd) {
  // Row 0: ..XX.X   row 1: XXXXXX   row 2: X.....
  Image image(6, 3, kGrey);
  for (int x : {0, 1, 4}) image.set(x, 0, kMagenta);
  for (int x = 1; x < 6; ++x) image.set(x, 2, kMagenta);
  const std::vector<Rect> expected = {{2, 0, 4, 1}, {5, 0, 6, 1}, {0, 1, 6, 2}, {0, 2, 1, 3}};
  EXPECT_EQ(image.runs(), expected);
}

TEST(RegionRuns, ToleranceWidensTheKeyUpwardsPerChannel) {
  Image image(3, 1, kMagenta);
  image.set(1, 0, 0xFF01FF);
  EXPECT_EQ(image.runs(0, 0, {0, 0, 0}), (std::vector<Rect>{{1, 0, 2, 1}})) << "opaque without tolerance";
  EXPECT_TRUE(image.runs(0, 0, {0, 1, 0}).empty()) << "key colour with green tolerance 1";
  image.set(1, 0, 0xFE00FF);  // below the key: never inside the range
  EXPECT_EQ(image.runs(0, 0, {1, 1, 1}).size(), 1u);
}

TEST(RegionRuns, StrideSkipsPaddingAndBadInputGivesNothing) {
  // Two rows of 2 pixels stored 3 apart; the padding pixel is opaque but not part of the image.
  const std::vector<uint32_t> pixels = {kGrey, kMagenta, kGrey, kMagenta, kGrey, kGrey};
  EXPECT_EQ(region_runs(pixels.data(), 2, 2, 3, 0, 0, {}), (std::vector<Rect>{{0, 0, 1, 1}, {1, 1, 2, 2}}));
  EXPECT_TRUE(region_runs(nullptr, 2, 2, 2, 0, 0, {}).empty());
  EXPECT_TRUE(region_runs(pixels.data(), 3, 2, 2, 0, 0, {}).empty()) << "stride shorter than a row";
  EXPECT_TRUE(region_runs(pixels.data(), 0, 2, 2, 0, 0, {}).empty());
}

}  // namespace
}  // namespace clip::skin::paint
