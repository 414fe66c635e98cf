// Our committed skin: it must load, give every element the layout the
// painting code expects, and keep its pinned size.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "skin/data/skin_data.h"

namespace clip::skin {
namespace {

std::vector<uint8_t> committed_skin() {
  std::ifstream in(CLIPSALVAGE_SKIN_FILE, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(OurSkin, ArchiveHoldsTheBitmapsAtTheirSizesAndDepths) {
  const auto stream = committed_skin();
  EXPECT_EQ(stream.size(), 5990u);
  TSkinReader reader;
  ASSERT_TRUE(reader.OpenArchive(stream).ok());
  const struct {
    const char* name;
    int w, h, bpp;
  } expected[] = {
      {"top.bmp", 265, 46, 8},       {"bottom.bmp", 318, 8, 8},    {"left.bmp", 8, 284, 8},
      {"right.bmp", 8, 284, 8},      {"menu.bmp", 800, 42, 4},     {"buttons.bmp", 375, 23, 8},
      {"chek.bmp", 56, 14, 8},       {"radio.bmp", 56, 14, 8},     {"progress.bmp", 522, 13, 4},
      {"tabborders3.bmp", 50, 25, 4}, {"tabframe.bmp", 20, 18, 24}, {"tabs.bmp", 130, 21, 4},
      {"combobut.bmp", 72, 21, 4},   {"sunkedge.bmp", 40, 9, 4},   {"scrollb1.bmp", 368, 16, 4},
      {"hscroll1.bmp", 496, 16, 8},  {"vscroll1.bmp", 64, 124, 8}, {"hscroll2.bmp", 372, 16, 4},
      {"vscroll2.bmp", 48, 124, 4},  {"grouptop.bmp", 50, 15, 4},  {"tool.bmp", 375, 23, 8},
      {"close.bmp", 102, 17, 8},     {"max.bmp", 102, 17, 8},      {"min.bmp", 102, 17, 8},
      {"min.bmp", 102, 17, 8},       {"icon.bmp", 90, 15, 8},      {"header.bmp", 150, 20, 4},
      {"menuitem.bmp", 120, 22, 4},  {"menubg.bmp", 32, 32, 4},
  };
  ASSERT_EQ(reader.names().size(), std::size(expected) + 1);
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(reader.names()[i], expected[i].name);
    auto entry = reader.FindEntry(expected[i].name);
    ASSERT_TRUE(entry);
    BmpInfo info;
    auto image = load_bmp(*entry, &info);
    ASSERT_TRUE(image.ok()) << expected[i].name;
    EXPECT_EQ(image.value().width, expected[i].w) << expected[i].name;
    EXPECT_EQ(image.value().height, expected[i].h) << expected[i].name;
    EXPECT_EQ(info.bits_per_pixel, expected[i].bpp) << expected[i].name;
  }
  EXPECT_EQ(reader.names().back(), "skin.ini");
}

TEST(OurSkin, BuildsTheElementsTheWindowsAreDrawnWith) {
  TSkinData data;
  data.apply_main_window_settings();
  std::vector<uint8_t> prop(4);
  const auto stream = committed_skin();
  for (int i = 0; i < 4; ++i) prop[size_t(i)] = uint8_t(stream.size() >> (8 * i));
  prop.insert(prop.end(), stream.begin(), stream.end());
  ASSERT_TRUE(data.read_skin_stream_property(prop));
  const SkinElements& s = data.elements();
  EXPECT_EQ(s.Top->Trans, 1);
  EXPECT_EQ(s.Top->RightWidth, 137);
  EXPECT_EQ(s.Top->Bitmap.rgb(264, 0), 0xFF00FFu);  // the corner cut-out shapes the window
  EXPECT_EQ(s.Left->TopHeight, 25);
  EXPECT_EQ(s.Left->BottomHeight, 29);
  EXPECT_EQ(s.Right->BottomHeight, 7);
  ASSERT_EQ(s.TitleButtons.size(), 7u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(s.TitleButtons[size_t(i)]->FrameCount, 6);
  EXPECT_TRUE(s.TitleButtons[3]->Bitmap.empty());
  EXPECT_EQ(s.Buttons->CheckButtonFrame, 4);
  EXPECT_EQ(s.Buttons->RadioButtonFrame, 4);
  ASSERT_TRUE(s.Scrollbar && s.HorzScrollThumb && s.MenuBar && s.Tabs && s.GroupBox && s.Progress);
  EXPECT_EQ(s.Scrollbar->FrameCount, 23);
  EXPECT_EQ(s.HorzScrollThumb->FrameCount, 3);
  EXPECT_FALSE(s.Tabs->Bitmap2.empty());
  EXPECT_EQ(s.GroupBox->BackgroundLeftShift, -5);
  EXPECT_EQ(s.StatusBarEdges, nullptr);
  // The popup menus and the list's header are drawn from these.
  ASSERT_TRUE(s.MenuItem && s.MenuBackground && s.Headerbar);
  EXPECT_EQ(s.MenuItem->FrameCount, 5);
  EXPECT_EQ(s.MenuItem->Trans, 1);
  EXPECT_EQ(s.MenuItem->LeftWidth, 3);
  EXPECT_EQ(s.MenuItem->Bitmap.rgb(0, 0), 0xFF00FFu) << "the normal frame lets the background through";
  EXPECT_NE(s.MenuItem->Bitmap.rgb(24 * 3 + 12, 11), 0xFF00FFu) << "the selected frame is opaque inside";
  EXPECT_EQ(s.MenuBackground->FrameCount, 1);
  EXPECT_EQ(s.MenuBackground->LeftWidth, 3);
  EXPECT_EQ(s.MenuBackground->BottomHeight, 3);
  EXPECT_EQ(s.Headerbar->FrameCount, 5);
  EXPECT_EQ(s.Headerbar->Bitmap.width, 150);
  EXPECT_EQ(s.colour(SkinColour::ButtonFace), rgb(230, 233, 238));
  EXPECT_EQ(s.colour(SkinColour::Menubar), rgb(230, 233, 238));
}

}  // namespace
}  // namespace clip::skin
