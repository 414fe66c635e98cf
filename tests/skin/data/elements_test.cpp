#include "skin/data/elements.h"

#include <gtest/gtest.h>

#include <map>

#include "skin/data/archive.h"
#include "skin/data/skin_loader.h"

namespace clip::skin {
namespace {

// A description shaped like the program's skin: borders, title, four title
// buttons, the Buttons section, scroll bars and a few sections that must
// never become title buttons.
constexpr const char* kDescription = R"([Personality]
Top=Top.bmp
TopTopHeight=0
TopBotHeight=137
TopFrame=2
TopStretch=1
TopTrans=1
Left=sub\Left.bmp
LeftTopHeight=25
LeftBotHeight=29
LeftFrame=0
Right=RIGHT.BMP
Bottom=bottom.bmp
BottomTopHeight=-4
TextShift=17
TextRightClip=55
ActiveTextR=255
ActiveTextG=255
ActiveTextB=255
InActiveTextR=123
InActiveTextG=-1
InActiveTextB=255
menuBar=menu.bmp
TileLeftMenu=6
[Colours]
ButtonFace=232 232 232
Hilight=120,172,255
ButtonText=10 20 30 40 50
ButtonShadow=152 156
Menubar=
[Fonts]
FontHeight=10
[Button0]
ButtonImage=close.bmp
Action=0
Align=1
Xcoord=20
Ycoord=2
[Button1]
ButtonImage=narrow.bmp
Action=1
[Button2]
Action=3
ButtonImage=close.bmp
[Button3]
Action=-1
[Button4]
Action=-1
Visibility=0
[Button.Radio]
Image=radio.bmp
[Buttons]
Bitmap=buttons.bmp
CheckButton=chek.bmp
RadioButton=radio.bmp
LeftWidth=3
NormalColour2=1 2 3
[Scrollbar]
Image=scrollb1.bmp
Tile=5
LeftWidth=-2
[HorzScrollThumb]
Image=hscroll2.bmp
[VertScrollThumb]
Image=vscroll2.bmp
FrameCount=-3
[ComboButton]
Image=combobut.bmp
[Progress]
Bitmap=progress.bmp
)";

Pixels24 striped(int w, int h) {
  Pixels24 p(w, h);
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y) p.set_rgb(x, y, uint32_t(x * 7 + y));
  return p;
}

struct Fixture {
  std::map<std::string, Pixels24> bitmaps = {
      {"top.bmp", striped(265, 46)},     {"left.bmp", striped(8, 284)},   {"right.bmp", striped(8, 284)},
      {"bottom.bmp", striped(318, 8)},   {"close.bmp", striped(102, 17)}, {"narrow.bmp", striped(51, 17)},
      {"radio.bmp", striped(56, 14)},    {"chek.bmp", striped(64, 16)},   {"buttons.bmp", striped(375, 23)},
      {"scrollb1.bmp", striped(368, 16)}, {"hscroll2.bmp", striped(372, 16)}, {"vscroll2.bmp", striped(48, 124)},
      {"combobut.bmp", striped(72, 21)}, {"menu.bmp", striped(800, 42)},  {"progress.bmp", striped(522, 13)}};
  std::vector<std::string> asked;
  EntryBitmapLoader loader() {
    return [this](std::string_view name) {
      asked.emplace_back(name);
      auto it = bitmaps.find(std::string(name));
      return it == bitmaps.end() ? Pixels24() : it->second;
    };
  }
};

TEST(ColourText, TakesAtMostThreeNumbersSeparatedByAnything) {
  const struct {
    const char* text;
    Colour expected;
  } cases[] = {
      {"232 232 232", rgb(232, 232, 232)}, {"  1,2;3 ", rgb(1, 2, 3)}, {"1 2", rgb(1, 0, 0)},
      {"10 20 30 40 50", rgb(10, 20, 30)}, {"256 257 511", rgb(0, 1, 255)}, {"x", rgb(0, 0, 0)},
      {"99999999999 5 6 7", rgb(0, 0, 0)},  // an unconvertible run swallows what follows
  };
  for (const auto& c : cases) EXPECT_EQ(parse_colour_text(c.text), c.expected) << c.text;
}

TEST(SkinElements, BordersTitleAndColoursTakeTheirKeysAndDefaults) {
  Fixture f;
  const SkinElements s = build_skin_elements(IniDocument(kDescription), f.loader());
  EXPECT_EQ(s.Top->LeftWidth, 0);
  EXPECT_EQ(s.Top->RightWidth, 137);
  EXPECT_EQ(s.Top->FrameCount, 2);
  EXPECT_EQ(s.Top->Trans, 1);
  EXPECT_EQ(s.Top->Bitmap.width, 265);
  EXPECT_EQ(s.Left->TopHeight, 25);
  EXPECT_EQ(s.Left->BottomHeight, 29);
  EXPECT_EQ(s.Left->Bitmap.width, 8);  // bare file name of a subdirectory path
  EXPECT_EQ(s.Left->FrameCount, 1);    // 0 frames would divide by zero when painting
  EXPECT_TRUE(s.Right->Bitmap.empty());  // ".BMP" is not the bitmap extension
  EXPECT_EQ(s.Right->Tile, 1);           // Stretch and Trans default to 1 for borders
  EXPECT_EQ(s.Right->Trans, 1);
  EXPECT_EQ(s.Bottom->LeftWidth, 0);     // negative margin clamped
  EXPECT_EQ(s.Title->LeftWidth, 17);
  EXPECT_EQ(s.Title->RightWidth, 55);
  EXPECT_EQ(s.Title->FontHeight, 10);
  EXPECT_EQ(s.Title->FrameCount, 2);
  EXPECT_EQ(s.Title->ActiveText, rgb(255, 255, 255));
  EXPECT_EQ(s.Title->InActiveText, kNoColour);  // one component missing
  ASSERT_TRUE(s.MenuBar);
  EXPECT_EQ(s.MenuBar->LeftWidth, 6);
  EXPECT_EQ(s.MenuBar->RightWidth, 1);

  EXPECT_EQ(s.colour(SkinColour::ButtonFace), rgb(232, 232, 232));
  EXPECT_EQ(s.colour(SkinColour::Menubar), rgb(232, 232, 232));  // empty: ButtonFace
  EXPECT_EQ(s.colour(SkinColour::Hilight), rgb(120, 172, 255));
  EXPECT_EQ(s.colour(SkinColour::ButtonText), rgb(10, 20, 30));
  EXPECT_EQ(s.colour(SkinColour::ButtonShadow), rgb(152, 0, 0));
  EXPECT_EQ(s.colour(SkinColour::WindowText), system_colour(8));
  EXPECT_EQ(s.colour(SkinColour::Buttonlight), system_colour(20));
  EXPECT_EQ(s.colour(SkinColour::TitleTextNoActive), system_colour(19));
}

TEST(SkinElements, TitleButtonsAreChosenAndFramedBySectionName) {
  Fixture f;
  const SkinElements s = build_skin_elements(IniDocument(kDescription), f.loader());
  ASSERT_EQ(s.TitleButtons.size(), 4u + 3u);  // Button0..2 and Button4, then the MDI controls
  EXPECT_EQ(s.TitleButtons[0]->Name, "BUTTON0");
  EXPECT_EQ(s.TitleButtons[0]->FrameCount, 6);  // 102 / 17 > 3.8
  EXPECT_EQ(s.TitleButtons[0]->Xcoord, 20);
  EXPECT_EQ(s.TitleButtons[0]->CombineOp, -1);
  EXPECT_EQ(s.TitleButtons[1]->FrameCount, 3);  // 51 / 17 <= 3.8
  EXPECT_EQ(s.TitleButtons[2]->FrameCount, 6);
  EXPECT_TRUE(s.TitleButtons[2]->Bitmap.empty());  // Action 3 drops its image
  EXPECT_EQ(s.TitleButtons[3]->Name, "BUTTON4");
  EXPECT_EQ(s.TitleButtons[3]->Visibility1, -1);
  for (int k = 0; k < 3; ++k) {
    const auto& m = *s.TitleButtons[size_t(4 + k)];
    EXPECT_EQ(m.Action, 7 + k);
    EXPECT_EQ(m.Align, 100);
    EXPECT_EQ(m.FrameCount, 4);
    EXPECT_TRUE(m.Bitmap.empty());
  }
}

TEST(SkinElements, ControlElementsAreAbsentUnlessTheirSectionNamesAnImage) {
  Fixture f;
  const SkinElements s = build_skin_elements(IniDocument(kDescription), f.loader());
  EXPECT_EQ(s.Buttons->FrameCount, 5);
  EXPECT_EQ(s.Buttons->LeftWidth, 3);
  EXPECT_EQ(s.Buttons->RadioButtonFrame, 4);  // 56 / 13
  EXPECT_EQ(s.Buttons->CheckButtonFrame, 4);  // 64 / 16
  EXPECT_TRUE(s.Buttons->HasNormalColour2);
  EXPECT_FALSE(s.Buttons->HasPressedColour2);
  EXPECT_EQ(s.Buttons->NormalColour2, rgb(1, 2, 3));
  EXPECT_EQ(s.Buttons->PressedColour2, rgb(10, 20, 30));  // ButtonText
  ASSERT_TRUE(s.Scrollbar);
  EXPECT_EQ(s.Scrollbar->FrameCount, 23);
  EXPECT_EQ(s.Scrollbar->Tile, 0);
  EXPECT_EQ(s.Scrollbar->LeftWidth, 0);
  EXPECT_EQ(s.Scrollbar->NormalColour, -1);
  EXPECT_EQ(s.Scrollbar->PressedColour2, rgb(10, 20, 30));
  ASSERT_TRUE(s.HorzScrollThumb && s.VertScrollThumb);
  EXPECT_EQ(s.HorzScrollThumb->FrameCount, 3);
  EXPECT_EQ(s.VertScrollThumb->FrameCount, 1);
  ASSERT_TRUE(s.ComboButton);
  EXPECT_EQ(s.ComboButton->FrameCount, 4);
  Pixels24 mirrored = s.ComboButton->Bitmap;
  mirror(mirrored);
  EXPECT_EQ(s.ComboButton->Bitmap2, mirrored);
  ASSERT_TRUE(s.Progress);
  EXPECT_EQ(s.Progress->FrameCount, 2);
  EXPECT_TRUE(s.Progress->Bitmap2.empty());
  for (const void* absent : std::initializer_list<const void*>{s.StatusBarEdges.get(), s.ExtraImages.get(), s.Headerbar.get(), s.MenuItem.get(),
        s.MenuBackground.get(), s.GroupBox.get(), s.GroupBoxEdge.get(), s.Tabs.get(), s.Toolbars.get(),
        s.TrackbarThumbHorz.get(), s.UpDownHorz.get(), s.UpDownVert.get(), s.HorzScroll.get()})
    EXPECT_EQ(absent, nullptr);
}

TEST(SkinElements, EmptyDescriptionKeepsFixedElementsWithSafeCounts) {
  const SkinElements s = build_skin_elements(IniDocument(""), {});
  EXPECT_EQ(s.Top->FrameCount, 1);
  EXPECT_TRUE(s.Top->Bitmap.empty());
  EXPECT_EQ(s.Buttons->RadioButtonFrame, 4);
  EXPECT_EQ(s.TitleButtons.size(), 3u);
  EXPECT_EQ(s.Title->FontHeight, 14);
  EXPECT_EQ(s.colour(SkinColour::Menubar), system_colour(15));
  EXPECT_EQ(s.MenuBar, nullptr);
}

TEST(SkinLoader, BuildsFromAPackedStreamAndRejectsArchivesWithoutDescription) {
  const std::string ini = "[Personality]\r\nTop=top.bmp\r\nTopFrame=2\r\n[MDIControls]\r\nImage=mdi.bmp\r\n";
  const std::vector<ArchiveEntry> entries = {
      {"top.bmp", save_bmp24(striped(10, 4))},
      {"skin.ini", std::vector<uint8_t>(ini.begin(), ini.end())},
      {"mdi.bmp", save_bmp24(striped(48, 5))},
  };
  auto stream = pack_skin_stream(entries);
  ASSERT_TRUE(stream.ok());
  auto skin = load_skin_stream(stream.value());
  ASSERT_TRUE(skin.ok()) << skin.error().message;
  EXPECT_EQ(skin.value().Top->Bitmap, striped(10, 4));
  EXPECT_EQ(skin.value().Top->FrameCount, 2);
  const auto& mdi = skin.value().TitleButtons;
  ASSERT_EQ(mdi.size(), 3u);
  EXPECT_EQ(mdi[1]->Bitmap.width, 16);  // four frames of 48 / 12
  EXPECT_EQ(mdi[1]->Bitmap.rgb(0, 0), striped(48, 5).rgb(16, 0));
  EXPECT_EQ(mdi[0]->Xcoord, 24);

  auto no_ini = pack_skin_stream(std::vector<ArchiveEntry>{{"top.bmp", save_bmp24(striped(2, 2))}});
  ASSERT_TRUE(no_ini.ok());
  EXPECT_FALSE(load_skin_stream(no_ini.value()).ok());

  // A bitmap entry that is not a BMP gives an empty bitmap, not a failure.
  auto broken = pack_skin_stream(std::vector<ArchiveEntry>{
      {"skin.ini", std::vector<uint8_t>(ini.begin(), ini.end())}, {"top.bmp", {'B', 'M', 1, 2, 3}}});
  ASSERT_TRUE(broken.ok());
  auto loaded = load_skin_stream(broken.value());
  ASSERT_TRUE(loaded.ok());
  EXPECT_TRUE(loaded.value().Top->Bitmap.empty());
}

TEST(SkinLoader, OldVersionGoesThroughTheNotifier) {
  auto archive = write_archive(std::vector<ArchiveEntry>{{"a.ini", {'x'}}});
  ASSERT_TRUE(archive.ok());
  archive.value()[0] = 0x1F;  // version 19999
  auto stream = lzh_encode(archive.value());
  ASSERT_TRUE(stream.ok());
  std::vector<std::string> told;
  EXPECT_FALSE(load_skin_stream(stream.value(), [&](std::string_view m) { told.emplace_back(m); }).ok());
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], "This is Older Skin File\rPlease update to new version !");
}

}  // namespace
}  // namespace clip::skin
