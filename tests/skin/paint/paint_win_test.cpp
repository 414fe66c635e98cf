#include <gtest/gtest.h>

#include "skin/paint/paint_win.h"

namespace clip::skin::paint {
namespace {

constexpr uint32_t kMagenta = 0xFF00FF;

// A DIB section selected into a memory DC, pixels readable for the checks.
struct Surface {
  ui::gdi_object<HBITMAP> bitmap;
  uint32_t* bits = nullptr;
  int width, height;
  HDC dc = nullptr;
  HGDIOBJ previous = nullptr;

  Surface(int w, int h, uint32_t fill) : width(w), height(h) {
    bitmap = create_dib(w, h, &bits);
    std::fill(bits, bits + static_cast<size_t>(w) * h, fill);
    dc = CreateCompatibleDC(nullptr);
    previous = SelectObject(dc, bitmap.get());
  }
  ~Surface() {
    SelectObject(dc, previous);
    DeleteDC(dc);
  }
  uint32_t at(int x, int y) const {
    GdiFlush();
    return bits[static_cast<size_t>(y) * width + x] & 0xFFFFFF;
  }
  void fill(const Rect& r, uint32_t colour) {
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) bits[static_cast<size_t>(y) * width + x] = colour;
  }
};

// A two-frame vertical strip, 10 x 20: frame 2 (rows 10 to 19) has margins of
// left 2, top 1, right 3, bottom 4 coloured per part.
ui::gdi_object<HBITMAP> two_frame_strip() {
  uint32_t* bits = nullptr;
  ui::gdi_object<HBITMAP> strip = create_dib(10, 20, &bits);
  auto fill = [&](int x0, int y0, int x1, int y1, uint32_t c) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) bits[y * 10 + x] = c;
  };
  fill(0, 0, 10, 10, 0x000000);   // frame 1: black throughout
  fill(0, 10, 10, 20, 0x00FF00);  // frame 2 centre: green
  fill(0, 10, 2, 20, 0xFF0000);   // left column: red
  fill(7, 10, 10, 20, 0x0000FF);  // right column: blue
  fill(0, 10, 10, 11, 0xFFFF00);  // top row: yellow
  fill(0, 16, 10, 20, 0x00FFFF);  // bottom rows: cyan
  return strip;
}

TEST(PaintWin, NinePartOfTheSecondFrameReachesTheTargetInPlace) {
  const ui::gdi_object<HBITMAP> strip = two_frame_strip();
  Surface target(60, 50, 0x808080);
  draw_nine_part(target.dc, Rect::sized(5, 5, 40, 30), strip.get(), Strip::vertical, false, false, 2, 2, {2, 1, 3, 4});
  EXPECT_EQ(target.at(4, 4), 0x808080u) << "outside the rectangle stays";
  EXPECT_EQ(target.at(45, 35), 0x808080u);
  EXPECT_EQ(target.at(25, 20), 0x00FF00u) << "centre";
  EXPECT_EQ(target.at(6, 20), 0xFF0000u) << "left edge, 2 wide";
  EXPECT_EQ(target.at(7, 20), 0x00FF00u);
  EXPECT_EQ(target.at(42, 20), 0x0000FFu) << "right edge, 3 wide";
  EXPECT_EQ(target.at(41, 20), 0x00FF00u);
  EXPECT_EQ(target.at(25, 5), 0xFFFF00u) << "top row";
  EXPECT_EQ(target.at(25, 31), 0x00FFFFu) << "bottom: 4 rows, the bottom margin's own height";
  EXPECT_EQ(target.at(25, 30), 0x00FF00u);
  Surface ring(60, 50, 0x808080);
  const int bitmaps = ui::gdi_object<HBITMAP>::live_count();
  draw_nine_part_ring(ring.dc, Rect::sized(5, 5, 40, 30), strip.get(), Strip::vertical, 2, 2, {2, 1, 3, 4});
  EXPECT_EQ(ring.at(25, 20), 0x808080u) << "the ring leaves the centre";
  EXPECT_EQ(ring.at(6, 20), 0xFF0000u);
  EXPECT_EQ(ring.at(25, 31), 0x00FFFFu);
  draw_nine_part(ring.dc, Rect::sized(0, 0, 20, 20), strip.get(), Strip::vertical, true, true, 2, 1, {});
  EXPECT_EQ(ui::gdi_object<HBITMAP>::live_count(), bitmaps) << "scratch bitmaps are freed";
  draw_nine_part(target.dc, Rect{30, 30, 10, 10}, strip.get(), Strip::vertical, false, false, 2, 2, {});
  EXPECT_EQ(target.at(20, 20), 0x00FF00u) << "an inverted rectangle paints nothing";
}

TEST(PaintWin, TransparentBlitLeavesKeyPixelsAlone) {
  uint32_t* bits = nullptr;
  ui::gdi_object<HBITMAP> source = create_dib(4, 2, &bits);
  const uint32_t pixels[8] = {kMagenta, 0xFF0000, kMagenta, 0x00FF00, 0x0000FF, kMagenta, 0xFFFFFF, kMagenta};
  std::copy(pixels, pixels + 8, bits);
  Surface target(10, 10, 0x123456);
  // A rectangle larger than the source is cut to it.
  transparent_blit(target.dc, Rect::sized(3, 4, 8, 8), source.get());
  EXPECT_EQ(target.at(3, 4), 0x123456u);
  EXPECT_EQ(target.at(4, 4), 0xFF0000u);
  EXPECT_EQ(target.at(5, 4), 0x123456u);
  EXPECT_EQ(target.at(6, 4), 0x00FF00u);
  EXPECT_EQ(target.at(3, 5), 0x0000FFu);
  EXPECT_EQ(target.at(4, 5), 0x123456u);
  EXPECT_EQ(target.at(5, 5), 0xFFFFFFu);
  EXPECT_EQ(target.at(7, 4), 0x123456u) << "nothing beyond the source";
  EXPECT_EQ(target.at(3, 6), 0x123456u);
}

TEST(PaintWin, StripFrameAndThreePartPickTheirFrames) {
  uint32_t* bits = nullptr;
  ui::gdi_object<HBITMAP> strip = create_dib(9, 3, &bits);  // three 3 x 3 frames: red, green, blue
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 9; ++x) bits[y * 9 + x] = x < 3 ? 0xFF0000 : x < 6 ? 0x00FF00 : 0x0000FF;
  Surface target(20, 10, 0);
  draw_strip_frame(target.dc, Rect::sized(0, 0, 12, 6), strip.get(), false, 3, 3);
  EXPECT_EQ(target.at(0, 0), 0x0000FFu);
  EXPECT_EQ(target.at(11, 5), 0x0000FFu);
  EXPECT_EQ(target.at(12, 5), 0u);
  // Three-part of the whole strip as one frame: caps of 3 (red, blue), tiled green middle.
  draw_three_part(target.dc, Rect::sized(0, 7, 20, 3), strip.get(), Strip::horizontal, false, 1, 1, 3, 3);
  EXPECT_EQ(target.at(2, 8), 0xFF0000u);
  EXPECT_EQ(target.at(3, 8), 0x00FF00u);
  EXPECT_EQ(target.at(16, 8), 0x00FF00u) << "the green middle repeats up to the right cap";
  EXPECT_EQ(target.at(17, 8), 0x0000FFu) << "right cap";
}

TEST(PaintWin, TileBitmapCutsTheLastTiles) {
  uint32_t* bits = nullptr;
  ui::gdi_object<HBITMAP> source = create_dib(3, 1, &bits);
  bits[0] = 0xFF0000;
  bits[1] = 0x00FF00;
  bits[2] = 0x0000FF;
  Surface target(12, 3, 0);
  tile_bitmap(target.dc, Rect::sized(1, 1, 8, 1), source.get(), Rect::sized(0, 0, 3, 1));
  const uint32_t expected[] = {0, 0xFF0000, 0x00FF00, 0x0000FF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFF0000, 0x00FF00, 0, 0};
  for (int x = 0; x < 11; ++x) EXPECT_EQ(target.at(x, 1), expected[x]) << "x " << x;
  EXPECT_EQ(target.at(2, 0), 0u);
  EXPECT_EQ(target.at(2, 2), 0u);
}

std::vector<RECT> region_rects(HRGN region) {
  const DWORD size = GetRegionData(region, 0, nullptr);
  std::vector<unsigned char> buffer(size);
  auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
  if (size == 0 || GetRegionData(region, size, data) != size) return {};
  const auto* rects = reinterpret_cast<const RECT*>(data->Buffer);
  return {rects, rects + data->rdh.nCount};
}

TEST(PaintWin, RegionFromBitmapCutsMagentaCorners) {
  uint32_t* bits = nullptr;
  ui::gdi_object<HBITMAP> border = create_dib(8, 4, &bits);
  std::fill(bits, bits + 32, 0x404040u);
  bits[0] = bits[7] = kMagenta;  // top corners cut
  ui::gdi_object<HRGN> region = region_from_bitmap(border.get(), 100, 50, {1, 1, 1});
  ASSERT_TRUE(region);
  EXPECT_FALSE(PtInRegion(region.get(), 100, 50));
  EXPECT_FALSE(PtInRegion(region.get(), 107, 50));
  EXPECT_TRUE(PtInRegion(region.get(), 101, 50));
  EXPECT_TRUE(PtInRegion(region.get(), 100, 51));
  const std::vector<RECT> rects = region_rects(region.get());
  ASSERT_EQ(rects.size(), 2u);
  EXPECT_EQ(rects[0].left, 101);
  EXPECT_EQ(rects[0].right, 107);
  EXPECT_EQ(rects[0].top, 50);
  EXPECT_EQ(rects[1].left, 100);
  EXPECT_EQ(rects[1].right, 108);
  EXPECT_EQ(rects[1].bottom, 54);
  std::fill(bits, bits + 32, kMagenta);
  EXPECT_FALSE(region_from_bitmap(border.get(), 0, 0, {}));
}

TEST(PaintWin, RegionsOfMoreThanOneBatchKeepEveryRun) {
  // A checkerboard of 100 x 60 has 3000 one-pixel runs: two batches.
  uint32_t* bits = nullptr;
  ui::gdi_object<HBITMAP> board = create_dib(100, 60, &bits);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x) bits[y * 100 + x] = (x + y) % 2 ? kMagenta : 0x101010;
  ui::gdi_object<HRGN> region = region_from_bitmap(board.get(), 0, 0, {});
  ASSERT_TRUE(region);
  int inside = 0, wrong = 0;
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 100; ++x) {
      const bool in = PtInRegion(region.get(), x, y);
      inside += in;
      wrong += in != ((x + y) % 2 == 0);
    }
  }
  EXPECT_EQ(inside, 3000);
  EXPECT_EQ(wrong, 0);
}

TEST(PaintWin, WorkBitmapLivesFromTheFirstStartToTheLastStop) {
  ASSERT_FALSE(painting_started());
  EXPECT_EQ(work_dc(10, 10), nullptr);
  const int bitmaps = ui::gdi_object<HBITMAP>::live_count();
  start_painting();
  start_painting();
  HDC dc = work_dc(300, 40);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetStretchBltMode(dc), COLORONCOLOR);
  const SIZE size = bitmap_size(static_cast<HBITMAP>(GetCurrentObject(dc, OBJ_BITMAP)));
  EXPECT_GE(size.cx, 300);
  EXPECT_GE(size.cy, 40);
  stop_painting();
  EXPECT_TRUE(painting_started()) << "one start still holds it";
  EXPECT_NE(work_dc(1, 1), nullptr);
  stop_painting();
  EXPECT_FALSE(painting_started());
  EXPECT_EQ(work_dc(1, 1), nullptr);
  EXPECT_EQ(ui::gdi_object<HBITMAP>::live_count(), bitmaps) << "no bitmap left behind";
  stop_painting();  // an unmatched stop is harmless
  EXPECT_FALSE(painting_started());
}

}  // namespace
}  // namespace clip::skin::paint
