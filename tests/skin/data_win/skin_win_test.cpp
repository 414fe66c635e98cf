#include "skin/data/skin_win.h"

#include <gtest/gtest.h>

namespace clip::skin {
namespace {

TEST(SkinResources, TheProgramsSkinLoadsFromItsResource) {
  TSkinData data;
  data.apply_main_window_settings();
  ASSERT_TRUE(load_skin_stream_resource(data));
  EXPECT_FALSE(data.not_ready());
  const SkinElements& s = data.elements();
  EXPECT_EQ(s.Top->Bitmap.width, 265);
  EXPECT_EQ(s.TitleButtons.size(), 7u);
  ASSERT_TRUE(s.Scrollbar);
  EXPECT_EQ(s.Scrollbar->FrameCount, 23);
  EXPECT_EQ(s.colour(SkinColour::ButtonFace), rgb(230, 233, 238));
}

TEST(SkinResources, MenuGlyphsAreFourMonochromeImages) {
  HBITMAP glyphs = load_menu_glyphs();
  ASSERT_NE(glyphs, nullptr);
  BITMAP info{};
  ASSERT_EQ(GetObjectW(glyphs, sizeof info, &info), int(sizeof info));
  EXPECT_EQ(info.bmWidth, 64);
  EXPECT_EQ(info.bmHeight, 16);
  EXPECT_EQ(info.bmBitsPixel, 1);
  DeleteObject(glyphs);
}

TEST(DrawSkinText, LeavesTheCallersRectangleAlone) {
  HDC dc = CreateCompatibleDC(nullptr);
  ASSERT_NE(dc, nullptr);
  const RECT r = {0, 0, 200, 40};
  RECT before = r;
  const int height = DrawSkinText(dc, L"扫描完成", r, DT_SINGLELINE | DT_CALCRECT);
  EXPECT_GT(height, 0);
  EXPECT_TRUE(EqualRect(&before, &r));
  // The string's own length counts, so text after an embedded zero is drawn too.
  RECT one = r, two = r;
  DrawTextW(dc, L"W", 1, &one, DT_SINGLELINE | DT_CALCRECT);
  const std::wstring with_zero(L"W\0WWWW", 6);
  EXPECT_EQ(DrawSkinText(dc, with_zero, r, DT_SINGLELINE), DrawTextW(dc, with_zero.data(), 6, &two, DT_SINGLELINE));
  DeleteDC(dc);
}

}  // namespace
}  // namespace clip::skin
