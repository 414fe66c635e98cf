#include "skin/controls/control_geometry.h"

#include <gtest/gtest.h>

namespace clip::skin {
namespace {

// A bar of 100 pixels with 16-pixel arrows: a track of 68.
constexpr int kBar = 100, kArrow = 16, kSystemThumb = 16;

Thumb measured(const ScrollState& s, int min_size = 8) {
  Thumb t;
  EXPECT_TRUE(measure_thumb(kBar, kArrow, s, min_size, kSystemThumb, t));
  return t;
}

TEST(ThumbMeasure, PageSetsTheLengthAndPositionTheOffsetAlongTheFreeTrack) {
  // 10 of 99 is 6.9 pixels of 68: the least thumb of 8 wins.
  EXPECT_EQ(measured({0, 99, 10, 0}), (Thumb{68, 8, 0}));
  // The last position puts the thumb against the far arrow.
  EXPECT_EQ(measured({0, 99, 10, 89}), (Thumb{68, 8, 60}));
  // Halfway: 45 x 60 / 89 = 30.3.
  EXPECT_EQ(measured({0, 99, 10, 45}), (Thumb{68, 8, 30}));
  // A range that does not start at 0 counts from its minimum.
  EXPECT_EQ(measured({100, 199, 10, 145}), (Thumb{68, 8, 30}));
  // Lengths are rounded, not cut: 5 x 68 / 40 = 8.5 gives 9.
  EXPECT_EQ(measured({0, 40, 5, 0}).size, 9);
  // Half an arrow is the least thumb on the old family of systems.
  EXPECT_EQ(minimum_thumb(kArrow, 0x80000000u), 8);
  EXPECT_EQ(minimum_thumb(20, 0x80000000u), 10);
  EXPECT_EQ(minimum_thumb(20, 0x0A280105u), 8);
  EXPECT_EQ(measured({0, 99, 1, 0}, 10).size, 10);
}

TEST(ThumbMeasure, EdgeRangesAndPages) {
  // A page as large as the range: one pixel shorter than the track, at 0.
  EXPECT_EQ(measured({0, 99, 99, 50}), (Thumb{68, 67, 0}));
  // A page larger than the track allows is cut to the track.
  EXPECT_EQ(measured({0, 10, 200, 0}).size, 68);
  // Without a page the platform's thumb length is used.
  EXPECT_EQ(measured({0, 99, 0, 99}), (Thumb{68, 16, 52}));
  // An empty range leaves the thumb where it was.
  Thumb kept{68, 20, 11};
  EXPECT_FALSE(measure_thumb(kBar, kArrow, {5, 5, 0, 5}, 8, kSystemThumb, kept));
  EXPECT_EQ(kept, (Thumb{68, 20, 11}));
  EXPECT_FALSE(measure_thumb(kBar, kArrow, {9, 3, 0, 5}, 8, kSystemThumb, kept));
  EXPECT_EQ(kept, (Thumb{68, 20, 11}));
  // A position past the end never pushes the thumb over the far arrow.
  EXPECT_EQ(measured({0, 99, 10, 500}).offset, 60);
}

TEST(ThumbMeasure, StandAloneControlsCountTheirRangeInclusively) {
  Thumb t;
  // 0..9 with a page of 10 shows everything: page = range + 1.
  ASSERT_TRUE(measure_control_thumb(kBar, kArrow, {0, 9, 10, 0}, 8, kSystemThumb, t));
  EXPECT_EQ(t, (Thumb{68, 67, 0}));
  // 0..99, page 10: 10 x 68 / 100 = 6.8, the least thumb 8; position 90 of
  // the 91 possible ones is the end.
  ASSERT_TRUE(measure_control_thumb(kBar, kArrow, {0, 99, 10, 90}, 8, kSystemThumb, t));
  EXPECT_EQ(t, (Thumb{68, 8, 60}));
  // A one-position control (range 0) is still measured.
  ASSERT_TRUE(measure_control_thumb(kBar, kArrow, {4, 4, 0, 4}, 8, kSystemThumb, t));
  EXPECT_EQ(t.size, kSystemThumb);
}

TEST(ScrollBarPart, UnderAPointAlongTheBar) {
  const Thumb t{68, 8, 20};
  const std::pair<int, ScrollPart> cases[] = {
      {0, ScrollPart::line_up},    {15, ScrollPart::line_up},    {16, ScrollPart::page_up},
      {35, ScrollPart::page_up},   {36, ScrollPart::thumb},      {43, ScrollPart::thumb},
      {44, ScrollPart::page_down}, {83, ScrollPart::page_down},  {84, ScrollPart::line_down},
      {99, ScrollPart::line_down}, {100, ScrollPart::none},
  };
  for (const auto& [p, part] : cases) EXPECT_EQ(part_at(p, kArrow, t), part) << "at " << p;
}

TEST(ThumbDrag, PositionsFollowThePointerAndStopAtEitherEnd) {
  const ScrollState paged{0, 99, 10, 30};
  const Thumb t{68, 8, 20};
  // With a page the offset maps over the whole track: 34 of 68 is half the range.
  EXPECT_EQ(drag_thumb(20, 14, t, paged), (DragStep{34, 50}));
  EXPECT_EQ(drag_thumb(20, -1000, t, paged), (DragStep{0, 0}));
  // Past the end: max - page + 1, and the thumb drawn against the far arrow.
  EXPECT_EQ(drag_thumb(20, 1000, t, paged), (DragStep{60, 90}));
  // The position reaches its end while the thumb, lengthened to the least
  // size, stays drawn against the far arrow.
  EXPECT_EQ(drag_thumb(20, 42, t, paged), (DragStep{60, 90}));

  // Without a page the offset maps over the free track, up to max.
  const ScrollState unpaged{10, 70, 0, 10};
  const Thumb u{68, 16, 0};
  EXPECT_EQ(drag_thumb(0, 26, u, unpaged), (DragStep{26, 40}));
  EXPECT_EQ(drag_thumb(0, 500, u, unpaged), (DragStep{52, 70}));
  EXPECT_EQ(drag_thumb(0, -5, u, unpaged), (DragStep{0, 10}));
  // A thumb that fills the track leaves nothing to map: the minimum.
  EXPECT_EQ(drag_thumb(0, 30, Thumb{68, 68, 0}, unpaged).position, 10);
}

TEST(ScrollBarLayout, BarsAndCornerOnEitherSide) {
  // 200 x 150 with a 2-pixel edge and 16-pixel bars: client 180 x 130.
  const auto both = scroll_bar_rects(200, 150, 180, 130, 16, true, true, false);
  EXPECT_EQ(both.horz, (Rect{2, 132, 182, 148}));
  EXPECT_EQ(both.vert, (Rect{182, 2, 198, 132}));
  EXPECT_EQ(both.corner, (Rect{182, 132, 198, 148}));
  const auto left = scroll_bar_rects(200, 150, 180, 130, 16, true, true, true);
  EXPECT_EQ(left.horz, (Rect{18, 132, 198, 148}));
  EXPECT_EQ(left.vert, (Rect{2, 2, 18, 132}));
  EXPECT_EQ(left.corner, (Rect{2, 132, 18, 148})) << "the corner square sits bottom left";
  // One bar: it runs the whole side; the border comes from its own axis.
  const auto vert = scroll_bar_rects(200, 150, 180, 146, 16, false, true, false);
  EXPECT_EQ(vert.vert, (Rect{182, 2, 198, 148}));
  EXPECT_TRUE(vert.horz.empty() && vert.corner.empty());
  const auto vert_left = scroll_bar_rects(200, 150, 180, 146, 16, false, true, true);
  EXPECT_EQ(vert_left.vert, (Rect{2, 2, 18, 148}));
  const auto horz = scroll_bar_rects(200, 150, 196, 130, 16, true, false, false);
  EXPECT_EQ(horz.horz, (Rect{2, 132, 198, 148}));
  EXPECT_EQ(scroll_bar_rects(200, 150, 200, 150, 16, false, false, false), ScrollBarRects{});
}

TEST(ScrollBarLayout, PiecesOfOneBar) {
  const BarPieces h = bar_pieces(100, 16, false, 16, Thumb{68, 8, 20});
  EXPECT_EQ(h.first, (Rect{0, 0, 16, 16}));
  EXPECT_EQ(h.second, (Rect{84, 0, 100, 16}));
  EXPECT_EQ(h.track, (Rect{16, 0, 84, 16}));
  ASSERT_TRUE(h.thumb);
  EXPECT_EQ(*h.thumb, (Rect{36, 0, 44, 16}));
  const BarPieces v = bar_pieces(100, 16, true, 16, Thumb{68, 8, 20});
  EXPECT_EQ(v.second, (Rect{0, 84, 16, 100}));
  EXPECT_EQ(*v.thumb, (Rect{0, 36, 16, 44}));
  // Shorter than two arrows: each arrow gets half, no thumb fits.
  const BarPieces short_bar = bar_pieces(20, 16, false, 16, Thumb{-12, 8, 0});
  EXPECT_EQ(short_bar.first, (Rect{0, 0, 10, 16}));
  EXPECT_EQ(short_bar.second, (Rect{10, 0, 20, 16}));
  EXPECT_FALSE(short_bar.thumb);
}

TEST(ButtonFace, PrioritiesOfTheThreeButtonKinds) {
  struct Case {
    bool pressed, hot, focused, enabled;
    Face push, bit;
  };
  const Case cases[] = {
      {false, false, false, true, Face::normal, Face::normal},
      {false, true, false, true, Face::hot, Face::hot},
      {false, false, true, true, Face::hot, Face::hot},
      {true, true, true, true, Face::pressed, Face::pressed},
      {true, false, false, false, Face::disabled, Face::disabled},
      {false, true, true, false, Face::disabled, Face::disabled},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(push_button_face(c.pressed, c.hot, c.focused, c.enabled), c.push)
        << c.pressed << c.hot << c.focused << c.enabled;
    EXPECT_EQ(bit_button_face(c.pressed, c.hot, c.focused, c.enabled), c.bit);
  }
  // A speed button that is down shows pressed, hot or disabled as it may be.
  EXPECT_EQ(speed_button_face(false, true, true, true), Face::pressed);
  EXPECT_EQ(speed_button_face(false, false, false, true), Face::pressed);
  EXPECT_EQ(speed_button_face(true, true, false, false), Face::disabled);
  EXPECT_EQ(speed_button_face(false, true, true, false), Face::hot);
  EXPECT_EQ(int(Face::hot), 4) << "the frame of the element";
  EXPECT_EQ(glyph_index(Face::normal), 1);
  EXPECT_EQ(glyph_index(Face::hot), 1);
  EXPECT_EQ(glyph_index(Face::disabled), 2);
  EXPECT_EQ(glyph_index(Face::pressed), 3);
}

TEST(GlyphCaption, MarginsAndSpacingAsGivenOrShared) {
  // 100 x 30, glyph 16 x 16, caption 40 x 13.
  // Margin 4, spacing 4, glyph left: glyph at 4, caption after glyph and space.
  auto p = glyph_caption_layout(100, 30, 16, 16, 40, 13, GlyphLayout::left, 4, 4);
  EXPECT_EQ(p.glyph, (Rect{4, 7, 20, 23}));
  EXPECT_EQ(p.caption, (Rect{24, 9, 64, 22}));
  EXPECT_EQ(p.align, TextAlign::left);
  // Both -1: the free 44 pixels in three: margin and spacing 14.
  p = glyph_caption_layout(100, 30, 16, 16, 40, 13, GlyphLayout::left, -1, -1);
  EXPECT_EQ(p.glyph.left, 14);
  EXPECT_EQ(p.caption.left, 44);
  // Margin -1, spacing 4: glyph and caption centred as a block.
  p = glyph_caption_layout(100, 30, 16, 16, 40, 13, GlyphLayout::left, -1, 4);
  EXPECT_EQ(p.glyph.left, 20);
  EXPECT_EQ(p.caption.left, 40);
  // Margin 4, spacing -1: the caption centred in what the glyph leaves.
  p = glyph_caption_layout(100, 30, 16, 16, 40, 13, GlyphLayout::left, 4, -1);
  EXPECT_EQ(p.caption.left, 4 + 16 + 20);
  // Glyph right: from the right edge, caption before it, right aligned.
  p = glyph_caption_layout(100, 30, 16, 16, 40, 13, GlyphLayout::right, 4, 4);
  EXPECT_EQ(p.glyph, (Rect{80, 7, 96, 23}));
  EXPECT_EQ(p.caption, (Rect{36, 9, 76, 22}));
  EXPECT_EQ(p.align, TextAlign::right);
  // Glyph on top and at the bottom: along y, centred across.
  p = glyph_caption_layout(60, 50, 16, 16, 40, 13, GlyphLayout::top, 2, 3);
  EXPECT_EQ(p.glyph, (Rect{22, 2, 38, 18}));
  EXPECT_EQ(p.caption, (Rect{10, 21, 50, 34}));
  EXPECT_EQ(p.align, TextAlign::centre);
  p = glyph_caption_layout(60, 50, 16, 16, 40, 13, GlyphLayout::bottom, 2, 3);
  EXPECT_EQ(p.glyph, (Rect{22, 32, 38, 48}));
  EXPECT_EQ(p.caption, (Rect{10, 16, 50, 29}));
  // No glyph: the spacing does not count.
  p = glyph_caption_layout(100, 30, 0, 0, 40, 13, GlyphLayout::left, -1, 4);
  EXPECT_EQ(p.caption.left, 30);
}

TEST(HeaderItem, PictureAndTextByAlignment) {
  const Rect item{50, 0, 150, 20};
  // Text 30 x 12 alone.
  EXPECT_EQ(header_item_layout(item, 0, 0, 30, 12, TextAlign::left).text, (Rect{52, 4, 82, 16}));
  EXPECT_EQ(header_item_layout(item, 0, 0, 30, 12, TextAlign::right).text, (Rect{118, 4, 148, 16}));
  EXPECT_EQ(header_item_layout(item, 0, 0, 30, 12, TextAlign::centre).text, (Rect{85, 4, 115, 16}));
  // With a 16 x 16 picture: the text one pixel after it, the pair centred.
  const HeaderItemPlace p = header_item_layout(item, 16, 16, 30, 12, TextAlign::centre);
  EXPECT_EQ(p.image, (Rect{76, 2, 92, 18}));
  EXPECT_EQ(p.text, (Rect{93, 4, 123, 16}));
  EXPECT_TRUE(header_item_layout(item, 0, 0, 30, 12, TextAlign::left).image.empty());
}

TEST(ToolButton, FrameFromTheCustomDrawState) {
  using namespace tool_state;
  EXPECT_EQ(tool_button_frame(kSelected | kHot), 1);
  EXPECT_EQ(tool_button_frame(kHot), 4);
  EXPECT_EQ(tool_button_frame(kFocus | kDisabled), 4);
  EXPECT_EQ(tool_button_frame(kGrayed), 3);
  EXPECT_EQ(tool_button_frame(kDisabled), 3);
  EXPECT_EQ(tool_button_frame(kDefault), 1);
  EXPECT_EQ(tool_button_frame(0), std::nullopt) << "a button in none of the states is not painted";
}

TEST(CheckPicture, FrameByStateEnabledAndKind) {
  using enum CheckState;
  EXPECT_EQ(check_frame(unchecked, true, false), 1);
  EXPECT_EQ(check_frame(checked, true, false), 2);
  EXPECT_EQ(check_frame(unchecked, false, false), 3);
  EXPECT_EQ(check_frame(checked, false, false), 4);
  EXPECT_EQ(check_frame(indeterminate, true, false), 4);
  EXPECT_EQ(check_frame(indeterminate, false, false), 4) << "the third state wins over disabled";
  EXPECT_EQ(check_frame(unchecked, true, true), 1);
  EXPECT_EQ(check_frame(checked, false, true), 4);
  // A radio button told it is in a third state shows it checked.
  EXPECT_EQ(check_frame(indeterminate, true, true), 2);
}

TEST(CheckPicture, PlacedAtEitherSideCentredInItsCellOrAgainstTheEdge) {
  const Rect window{0, 0, 120, 21};
  // 13 x 13 on the left: (14 - 13) / 2 = 0 in, centred vertically (21 - 13) / 2 = 4.
  CheckPicturePlace p = check_picture_place(window, 13, 13, false, 13);
  EXPECT_EQ(p.picture, (Rect{0, 4, 13, 17}));
  EXPECT_EQ(p.clear, (Rect{0, 0, 16, 21}));
  // 10 wide: two pixels in from either edge.
  EXPECT_EQ(check_picture_place(window, 10, 10, false, 13).picture, (Rect{2, 5, 12, 15}));
  p = check_picture_place(window, 10, 10, true, 13);
  EXPECT_EQ(p.picture, (Rect{108, 5, 118, 15}));
  EXPECT_EQ(p.clear, (Rect{104, 0, 120, 21}));
  // Wider than the cell: from the left edge, or ending a pixel before the right one.
  EXPECT_EQ(check_picture_place(window, 18, 16, false, 13).picture, (Rect{0, 2, 18, 18}));
  EXPECT_EQ(check_picture_place(window, 18, 16, true, 13).picture, (Rect{101, 2, 119, 18}));
  // Taller than the window: it overhangs evenly rather than moving down.
  EXPECT_EQ(check_picture_place({0, 0, 50, 9}, 13, 13, false, 13).picture, (Rect{0, -2, 13, 11}));
}

TEST(GroupFrame, StartsHalfACaptionLineDown) {
  EXPECT_EQ(group_frame_rect({0, 0, 200, 120}, 13), (Rect{0, 5, 200, 120}));
  EXPECT_EQ(group_frame_rect({0, 0, 200, 120}, 16), (Rect{0, 7, 200, 120}));
}

}  // namespace
}  // namespace clip::skin

namespace clip::skin {
namespace {

TEST(ComboGeometry, FacesPutThePressFirstAndDisabledLast) {
  EXPECT_EQ(combo_face(true, false, false, true), Face::pressed);
  EXPECT_EQ(combo_face(false, true, false, true), Face::hot);
  EXPECT_EQ(combo_face(false, false, true, true), Face::hot);
  EXPECT_EQ(combo_face(false, false, false, true), Face::normal);
  EXPECT_EQ(combo_face(false, false, false, false), Face::disabled);
}

TEST(ComboGeometry, ButtonSitsOnEitherSideWithTheEditAreaBetween) {
  // A 120 x 24 box with a 17-pixel arrow.
  const ComboParts right = combo_parts({0, 0, 120, 24}, 17, false);
  EXPECT_EQ(right.edit, (Rect{2, 2, 99, 22}));
  EXPECT_EQ(right.button, (Rect{101, 0, 120, 24}));
  EXPECT_EQ(right.glyph, (Rect{101, 0, 118, 24}));
  const ComboParts left = combo_parts({0, 0, 120, 24}, 17, true);
  EXPECT_EQ(left.edit, (Rect{21, 2, 118, 22}));
  EXPECT_EQ(left.button, (Rect{0, 0, 19, 24}));
  EXPECT_EQ(left.glyph, (Rect{2, 0, 19, 24}));
  // Mirrored: each part of one is the other's reflected in the box.
  for (auto [a, b] : {std::pair{right.button, left.button}, {right.edit, left.edit}})
    EXPECT_EQ(a.left, 120 - b.right);
  // The simple variant's button: inside two rings, as wide as the thumb.
  EXPECT_EQ(simple_combo_button({0, 0, 120, 24}, 17), (Rect{101, 2, 118, 22}));
  EXPECT_EQ(simple_combo_button({0, 0, 12, 24}, 17), (Rect{2, 2, 10, 22})) << "never past the left ring";
}

TEST(ComboGeometry, GlyphsCentreRoundingDownAndMayOverhang) {
  EXPECT_EQ(centred({101, 0, 118, 24}, 7, 4), (Rect{106, 10, 113, 14}));
  EXPECT_EQ(centred({0, 0, 10, 10}, 3, 3), (Rect{3, 3, 6, 6}));
  EXPECT_EQ(centred({0, 0, 4, 4}, 8, 8), (Rect{-2, -2, 6, 6}));
}

TEST(EditGeometry, BorderOnlyWhenTheClientIsSmallerBothWays) {
  EXPECT_TRUE(edit_has_border(100, 24, 96, 20, 1));
  EXPECT_FALSE(edit_has_border(100, 24, 100, 20, 1)) << "no left and right border";
  EXPECT_FALSE(edit_has_border(100, 24, 96, 24, 1)) << "no top and bottom border";
  // A printed picture needs a border of more than two pixels a side pair.
  EXPECT_TRUE(edit_has_border(100, 24, 98, 22, 1));
  EXPECT_FALSE(edit_has_border(100, 24, 98, 22, 3));
  EXPECT_TRUE(edit_has_border(100, 24, 97, 21, 3));
  EXPECT_TRUE(edit_has_border(100, 24, 96, 20, 3));
}

TEST(UpDownGeometry, HalvesAndThePointerDecideEachButtonsState) {
  const UpDownButtons stacked = updown_buttons({0, 0, 16, 31}, false, 5, 14);
  EXPECT_EQ(stacked.first, (Rect{0, 0, 16, 15}));
  EXPECT_EQ(stacked.second, (Rect{0, 15, 16, 31}));
  EXPECT_TRUE(stacked.pointer_in_first);
  EXPECT_FALSE(updown_buttons({0, 0, 16, 31}, false, 5, 15).pointer_in_first);
  const UpDownButtons side = updown_buttons({1, 1, 31, 15}, true, 15, 3);
  EXPECT_EQ(side.first, (Rect{1, 1, 16, 15}));
  EXPECT_EQ(side.second, (Rect{16, 1, 31, 15}));
  EXPECT_TRUE(side.pointer_in_first);
  EXPECT_FALSE(updown_buttons({1, 1, 31, 15}, true, 16, 3).pointer_in_first);

  EXPECT_EQ(updown_state(true, true, true, true), 2);
  EXPECT_EQ(updown_state(true, false, true, true), 4);
  EXPECT_EQ(updown_state(false, true, true, true), 1) << "the other button stays normal";
  EXPECT_EQ(updown_state(true, true, true, false), 3);
  EXPECT_EQ(updown_frame(3, false), 3);
  EXPECT_EQ(updown_frame(3, true), 7);
  EXPECT_EQ(updown_frame(2, true), 6);
}

TEST(StatusGeometry, GripSitsOnePixelInsideAndRightToLeftPanelsSwapSides) {
  EXPECT_EQ(size_grip_rect({0, 0, 300, 22}, 12, 12), (Rect{287, 9, 299, 21}));
  EXPECT_EQ(panel_alignment(TextAlign::left, true), TextAlign::right);
  EXPECT_EQ(panel_alignment(TextAlign::right, true), TextAlign::left);
  EXPECT_EQ(panel_alignment(TextAlign::centre, true), TextAlign::centre);
  EXPECT_EQ(panel_alignment(TextAlign::left, false), TextAlign::left);
}

TEST(ProgressGeometry, BarIsThePositionOverTheUpperLimitOfTheWidth) {
  const Rect trough{0, 0, 200, 16};
  EXPECT_EQ(progress_bar_rect(trough, 0, 100), std::nullopt);
  EXPECT_EQ(progress_bar_rect(trough, 50, 0), std::nullopt);
  EXPECT_EQ(progress_bar_rect(trough, -5, 100), std::nullopt);
  EXPECT_EQ(progress_bar_rect(trough, 50, 100), (Rect{0, 0, 100, 16}));
  EXPECT_EQ(progress_bar_rect(trough, 1, 3), (Rect{0, 0, 66, 16})) << "cut, not rounded";
  EXPECT_EQ(progress_bar_rect(trough, 100, 100), trough);
  EXPECT_EQ(progress_bar_rect({10, 2, 110, 18}, 1, 4), (Rect{10, 2, 35, 18}));
  // Sector counts of a large disk: position x width overflows 32 bits.
  EXPECT_EQ(progress_bar_rect(trough, 1'500'000'000, 2'000'000'000), (Rect{0, 0, 150, 16}));
  EXPECT_EQ(progress_bar_rect(trough, 300, 200), trough) << "never past the trough";
}

TEST(TrackBarCustomDraw, OnlyTheThumbIsOurs) {
  EXPECT_EQ(trackbar_custom_draw(1, 0), (TrackDraw{0x20, false})) << "asks for each part";
  EXPECT_EQ(trackbar_custom_draw(0x10001, 2), (TrackDraw{4, true})) << "thumb: drawn here, the platform's skipped";
  EXPECT_EQ(trackbar_custom_draw(0x10001, 1), TrackDraw{}) << "tick marks";
  EXPECT_EQ(trackbar_custom_draw(0x10001, 3), TrackDraw{}) << "channel";
  EXPECT_EQ(trackbar_custom_draw(0x10002, 2), TrackDraw{}) << "post-paint of the thumb";
  EXPECT_EQ(trackbar_custom_draw(2, 2), TrackDraw{});
}

TEST(ProgressGeometry, BlockStripHasOneChunkMoreThanFits) {
  EXPECT_EQ(chunk_offsets(25, 8), (std::vector<int>{0, 8, 16, 24}));
  EXPECT_EQ(chunk_offsets(24, 8), (std::vector<int>{0, 8, 16, 24}));
  EXPECT_EQ(chunk_offsets(3, 8), (std::vector<int>{0}));
  EXPECT_TRUE(chunk_offsets(0, 8).empty());
  EXPECT_TRUE(chunk_offsets(20, 0).empty());
}

TEST(TabGeometry, SideComesFromTheBottomAndVerticalStyles) {
  EXPECT_EQ(tab_side(0), TabSide::top);
  EXPECT_EQ(tab_side(0x2), TabSide::bottom);
  EXPECT_EQ(tab_side(0x80), TabSide::left);
  EXPECT_EQ(tab_side(0x82), TabSide::right);
  EXPECT_EQ(tab_side(0x2000 | 0x200), TabSide::top) << "other styles do not move the tabs";
}

TEST(TabGeometry, PageAreaGrowsByFourAndStepsTowardTheTabs) {
  const Rect display{10, 30, 190, 140};
  EXPECT_EQ(tab_page_area(display, TabSide::top), (Rect{6, 27, 194, 144}));
  EXPECT_EQ(tab_page_area(display, TabSide::bottom), (Rect{6, 26, 194, 143}));
  EXPECT_EQ(tab_page_area(display, TabSide::left), (Rect{7, 26, 194, 144}));
  EXPECT_EQ(tab_page_area(display, TabSide::right), (Rect{6, 26, 193, 144}));
  const Rect window{0, 0, 200, 150}, page{30, 25, 170, 125};
  EXPECT_EQ(tab_strip_rect(window, page, TabSide::top), (Rect{0, 0, 200, 25}));
  EXPECT_EQ(tab_strip_rect(window, page, TabSide::bottom), (Rect{0, 125, 200, 150}));
  EXPECT_EQ(tab_strip_rect(window, page, TabSide::left), (Rect{0, 0, 30, 150}));
  EXPECT_EQ(tab_strip_rect(window, page, TabSide::right), (Rect{170, 0, 200, 150}));
  EXPECT_EQ(tab_strip_size({170, 0, 200, 150}, TabSide::right), (StripSize{150, 30}));
  EXPECT_EQ(tab_strip_size({0, 0, 200, 25}, TabSide::top), (StripSize{200, 25}));
}

TEST(TabGeometry, TurningIsAQuarterEachWay) {
  // 1 2 3
  // 4 5 6
  const std::vector<uint32_t> p{1, 2, 3, 4, 5, 6};
  EXPECT_EQ(turn_pixels(p, 3, 2, true), (std::vector<uint32_t>{4, 1, 5, 2, 6, 3}));
  EXPECT_EQ(turn_pixels(p, 3, 2, false), (std::vector<uint32_t>{3, 6, 2, 5, 1, 4}));
  EXPECT_EQ(turn_pixels(turn_pixels(p, 3, 2, true), 2, 3, false), p);
  EXPECT_TRUE(turn_pixels({1, 2}, 3, 2, true).empty()) << "fewer pixels than the size says";
}

// Composes one tab into the lying strip, turns the strip as the companion
// does and answers where the tab's pixels land in window coordinates.
Rect tab_on_screen(const Rect& tab, TabSide side, const Rect& window, const Rect& page) {
  const Rect s = tab_strip_rect(window, page, side);
  const StripSize size = tab_strip_size(s, side);
  std::vector<uint32_t> strip(size_t(size.length) * size_t(size.thickness), 0);
  const Rect t = tab_in_strip(tab, side, window, page, size.length);
  for (int y = std::max(t.top, 0); y < std::min(t.bottom, size.thickness); ++y)
    for (int x = std::max(t.left, 0); x < std::min(t.right, size.length); ++x) strip[size_t(y * size.length + x)] = 1;
  if (side == TabSide::left || side == TabSide::right)
    strip = turn_pixels(strip, size.length, size.thickness, side == TabSide::right);
  Rect found{1 << 20, 1 << 20, -1, -1};
  for (int y = 0; y < s.height(); ++y)
    for (int x = 0; x < s.width(); ++x)
      if (strip[size_t(y * s.width() + x)]) {
        found.left = std::min(found.left, s.left + x);
        found.top = std::min(found.top, s.top + y);
        found.right = std::max(found.right, s.left + x + 1);
        found.bottom = std::max(found.bottom, s.top + y + 1);
      }
  return found;
}

TEST(TabGeometry, EachSidesTabLandsWhereTheControlReportsIt) {
  const Rect window{0, 0, 200, 150};
  // Top and bottom tabs step one pixel toward the page (the strip's edge
  // cuts the step off the far side); right tabs are one pixel high.
  EXPECT_EQ(tab_on_screen({10, 2, 60, 22}, TabSide::top, window, {0, 21, 200, 150}), (Rect{10, 3, 60, 21}));
  EXPECT_EQ(tab_on_screen({10, 128, 60, 148}, TabSide::bottom, window, {0, 0, 200, 129}), (Rect{10, 129, 60, 147}));
  EXPECT_EQ(tab_on_screen({2, 30, 22, 80}, TabSide::left, window, {21, 0, 200, 150}), (Rect{2, 30, 21, 80}));
  EXPECT_EQ(tab_on_screen({178, 30, 198, 80}, TabSide::right, window, {0, 0, 179, 150}), (Rect{179, 29, 198, 79}));
}

TEST(TabSetFit, LongTabIsLeftOutWhileAShorterOneAfterItIsDrawn) {
  // Room 100 from 5 on: 30 fits (5..44), 60 would end past the room, 20 fits.
  EXPECT_EQ(fit_tab_set({30, 60, 20}, 0, 5, 100, false),
            (std::vector<TabSetSlot>{{0, 5, 44}, {2, 44, 73}}));
  // The scroll arrows take 12 more: 45 + 20 + 21 = 86 still fits in 86.
  EXPECT_EQ(fit_tab_set({30, 20}, 0, 6, 86, true), (std::vector<TabSetSlot>{{0, 6, 45}, {1, 45, 74}}));
  EXPECT_EQ(fit_tab_set({30, 20}, 0, 6, 85, true), (std::vector<TabSetSlot>{{0, 6, 45}}));
  EXPECT_EQ(fit_tab_set({30, 20, 10}, 1, 0, 100, false), (std::vector<TabSetSlot>{{1, 0, 29}, {2, 29, 48}}))
      << "starts at the first visible tab";
  EXPECT_TRUE(fit_tab_set({}, 0, 0, 100, false).empty());
}

}  // namespace
}  // namespace clip::skin
