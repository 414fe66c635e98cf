// The full test skin made by the build: it loads, has every element the
// control companions read with the frame counts they divide by, and each
// probe frame holds the colour the pixel tests look for.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "skin/data/skin_data.h"
#include "skingen/test_skin.h"

namespace clip::skin {
namespace {

using testskin::Probe;

uint32_t rgb_at(const Pixels24& p, int x, int y) {
  const uint8_t* px = p.bgr.data() + (size_t(y) * size_t(p.width) + size_t(x)) * 3;
  return uint32_t(px[2]) << 16 | uint32_t(px[1]) << 8 | px[0];
}

// Frame f of a strip of `frames` frames is solid in colour(probe, f).
void expect_probe_frames(const TDataSkinObject* e, const Pixels24& picture, Probe probe, int frames,
                         const char* what) {
  ASSERT_NE(e, nullptr) << what;
  ASSERT_FALSE(picture.empty()) << what;
  ASSERT_EQ(picture.width % frames, 0) << what;
  const int fw = picture.width / frames;
  for (int f = 1; f <= frames; ++f)
    for (int x : {(f - 1) * fw, f * fw - 1})
      for (int y : {0, picture.height - 1})
        EXPECT_EQ(rgb_at(picture, x, y), testskin::colour(probe, f)) << what << " frame " << f;
}

TEST(TestSkin, LoadsWithEveryOptionalElementInItsProbeColours) {
  TSkinData data;
  ASSERT_TRUE(data.SetSkinFile(CLIPSALVAGE_TEST_SKIN));
  const SkinElements& e = data.elements();

  ASSERT_NE(e.StatusBarEdges, nullptr);
  EXPECT_EQ(e.StatusBarEdges->FrameCount, 3);
  expect_probe_frames(e.StatusBarEdges.get(), e.StatusBarEdges->Bitmap, Probe::status_edges, 3, "status edges");
  ASSERT_NE(e.ExtraImages, nullptr);
  EXPECT_EQ(e.ExtraImages->FrameCount, 5);
  expect_probe_frames(e.ExtraImages.get(), e.ExtraImages->Bitmap, Probe::extra_images, 5, "extra images");
  for (const auto& [slot, face, glyph, what] :
       {std::tuple{e.UpDownVert.get(), Probe::updown_vert, Probe::updown_vert_glyph, "up-down vertical"},
        std::tuple{e.UpDownHorz.get(), Probe::updown_horz, Probe::updown_horz_glyph, "up-down horizontal"}}) {
    ASSERT_NE(slot, nullptr) << what;
    EXPECT_EQ(slot->FrameCount, 8) << what;
    expect_probe_frames(slot, slot->Bitmap, face, 8, what);
    expect_probe_frames(slot, slot->Bitmap2, glyph, 8, what);
  }
  expect_probe_frames(e.TrackbarThumbHorz.get(), e.TrackbarThumbHorz->Bitmap, Probe::thumb_horz, 5, "thumb");
  expect_probe_frames(e.TrackbarThumbVert.get(), e.TrackbarThumbVert->Bitmap, Probe::thumb_vert, 5, "thumb");

  ASSERT_NE(e.Progress, nullptr);
  EXPECT_EQ(e.Progress->Style, 1) << "the block style";
  expect_probe_frames(e.Progress.get(), e.Progress->Bitmap2, Probe::progress_chunk, 1, "chunk");
  ASSERT_NE(e.ComboButton, nullptr);
  EXPECT_EQ(e.ComboButton->Style, 0) << "the style that draws the glyph from the extra images";
  expect_probe_frames(e.ComboButton.get(), e.ComboButton->Bitmap, Probe::combo_button, 4, "combo button");
  // The left-hand picture is the mirror: its frames in reverse order.
  const Pixels24& left = e.ComboButton->Bitmap2;
  ASSERT_EQ(left.width, e.ComboButton->Bitmap.width);
  EXPECT_EQ(rgb_at(left, 0, 0), testskin::colour(Probe::combo_button, 4));
  ASSERT_NE(e.Tabs, nullptr);
  expect_probe_frames(e.Tabs.get(), e.Tabs->Bitmap2, Probe::tab_border, 1, "tab border");
  // The rest is the program's skin.
  EXPECT_FALSE(e.Tabs->Bitmap.empty());
  EXPECT_FALSE(e.Buttons->Bitmap.empty());
  EXPECT_FALSE(e.SunkEdge->Bitmap.empty());
}

TEST(TestSkin, ProbeColoursAreDistinctAndNeverTheKeyColour) {
  std::vector<uint32_t> seen;
  for (int p = 0; p <= int(Probe::tab_border); ++p)
    for (int f = 1; f <= 8; ++f) {
      const uint32_t c = testskin::colour(Probe(p), f);
      EXPECT_NE(c, 0xFF00FFu);
      EXPECT_EQ(std::count(seen.begin(), seen.end(), c), 0) << p << " " << f;
      seen.push_back(c);
    }
}

}  // namespace
}  // namespace clip::skin
