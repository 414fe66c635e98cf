#include "skin/frame/menu_geometry.h"

#include <gtest/gtest.h>

namespace clip::skin::menu {
namespace {

int area(const Rect& r) { return r.width() * r.height(); }
bool overlap(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

TEST(PopupRing, IsTheNonClientFrameWhereThereIsOneElseThreePixelsInside) {
  EXPECT_EQ(popup_ring(120, 80, {3, 3, 117, 77}), (Ring{3, 3, 3, 3}));
  EXPECT_EQ(popup_ring(120, 80, {2, 3, 116, 75}), (Ring{2, 3, 4, 5})) << "each side measured on its own";
  EXPECT_EQ(popup_ring(120, 80, {0, 0, 120, 80}), (Ring{3, 3, 3, 3})) << "the border is drawn inside the client";
}

TEST(PopupRing, BorderPiecesCoverTheRingOnceAndNeverTheItems) {
  for (const Ring ring : {Ring{3, 3, 3, 3}, Ring{1, 2, 4, 6}, Ring{0, 3, 0, 3}}) {
    const int w = 118, h = 74;
    const std::vector<Rect> pieces = border_rects(w, h, ring);
    const Rect inner = inner_rect(w, h, ring);
    EXPECT_EQ(inner, (Rect{ring.left, ring.top, w - ring.right, h - ring.bottom}));
    int covered = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
      covered += area(pieces[i]);
      EXPECT_FALSE(overlap(pieces[i], inner)) << i;
      for (size_t j = i + 1; j < pieces.size(); ++j) EXPECT_FALSE(overlap(pieces[i], pieces[j])) << i << " " << j;
    }
    EXPECT_EQ(covered, w * h - area(inner));
  }
  // A window smaller than its ring has no inside and is all border.
  EXPECT_TRUE(inner_rect(4, 4, {}).empty());
  int covered = 0;
  for (const Rect& r : border_rects(4, 4, {})) covered += area(r);
  EXPECT_EQ(covered, 16);
}

TEST(PopupRing, ItemBackgroundIsTakenWhereTheClientAreaSits) {
  EXPECT_EQ(background_rect({0, 20, 112, 40}, 3, 3), (Rect{3, 23, 115, 43}));
  EXPECT_EQ(background_rect({3, 23, 115, 43}, 0, 0), (Rect{3, 23, 115, 43}));
}

TEST(MenuItemLayout, GlyphColumnCaptionAndShortcut) {
  const Rect item{0, 40, 200, 60};
  ItemLayout plain = layout_item(item, {}, 50, 13);
  EXPECT_EQ(plain.glyph, (Rect{1, 41, 17, 57}));
  EXPECT_EQ(plain.text, (Rect{20, 40, 199, 60}));
  EXPECT_EQ(plain.caption, (Rect{20, 43, 199, 56})) << "centred: (20 - 13) / 2 truncated is 3";
  EXPECT_EQ(plain.shortcut.right, 200 - 11) << "the shortcut ends 11 pixels before the item's edge";
  EXPECT_EQ(plain.shortcut.left, 70) << "and may use everything after the caption";

  ItemFacts skinned;
  skinned.element_left = 3;
  ItemLayout inset = layout_item(item, skinned, 50, 13);
  EXPECT_EQ(inset.glyph.left, 4) << "inside the element's left margin";
  EXPECT_EQ(inset.text.left, 23);

  ItemFacts separator;
  separator.separator = true;
  ItemLayout rule = layout_item({0, 0, 200, 9}, separator, 0, 13);
  EXPECT_TRUE(rule.glyph.empty());
  EXPECT_EQ(rule.text.left, 3);
  EXPECT_EQ(rule.caption.top, -2) << "a caption taller than the item is still centred";
}

TEST(MenuItemLayout, GlyphSizeFollowsTheImagesButACheckNeedsSixteen) {
  ItemFacts f;
  EXPECT_EQ(glyph_size(f), 16);
  f.image_width = 12;
  EXPECT_EQ(glyph_size(f), 12);
  f.checked = true;
  EXPECT_EQ(glyph_size(f), 16);
  f.image_width = 24;
  EXPECT_EQ(glyph_size(f), 24);
}

TEST(MenuItemLayout, ShortcutNeverStartsPastItsEnd) {
  const ItemLayout l = layout_item({0, 0, 100, 20}, {}, 120, 13);
  EXPECT_EQ(l.shortcut.right, 89);
  EXPECT_LE(l.shortcut.left, l.shortcut.right) << "a long caption leaves the shortcut an empty, not inverted, box";
}

TEST(MenuItemLayout, MirroredItemsPutTheGlyphRightAndTheShortcutLeft) {
  ItemFacts f;
  f.right_to_left = true;
  f.element_left = 3;
  const ItemLayout l = layout_item({0, 0, 200, 20}, f, 50, 13);
  EXPECT_EQ(l.glyph, (Rect{180, 1, 196, 17}));
  EXPECT_EQ(l.caption.right, 177);
  EXPECT_EQ(l.caption.left, 127) << "right-aligned against the glyph column";
  EXPECT_EQ(l.shortcut.left, 10);
  EXPECT_EQ(l.shortcut.right, 127);
}

TEST(MenuItemSize, FormItemsGainTheGlyphColumnAndTheElementsMargin) {
  const Size plain{60, 20};
  EXPECT_EQ(measure_popup_item(plain, 3, false), (Size{98, 20}));
  EXPECT_EQ(measure_popup_item(plain, 0, true), (Size{72, 20}));
  EXPECT_EQ(measure_bar_item(plain, 3, true), (Size{73, 20}));
  EXPECT_EQ(measure_bar_item(plain, 0, false), (Size{95, 20}));
}

TEST(MenuItemSize, ItemsKnownByHandleAreMeasuredFromTheirText) {
  EXPECT_EQ(measure_handle_item(50, true, 3, 16, false), (Size{79, 20}));
  EXPECT_EQ(measure_handle_item(0, false, 0, 16, false), (Size{26, 8}));
  EXPECT_EQ(measure_handle_item(50, true, 0, 16, true), (Size{76, 24}));
  EXPECT_EQ(measure_handle_item(0, false, 0, 16, true), (Size{26, 12}));
}

TEST(MenuItemText, ColourRule) {
  struct Case {
    bool enabled, selected, same;
    TextColour want;
  } cases[] = {
      {true, true, false, TextColour::hilight_text},
      {true, false, false, TextColour::menu_text},
      {true, false, true, TextColour::menu_text},
      {false, false, false, TextColour::button_shadow},
      {false, true, false, TextColour::button_shadow},
      {false, false, true, TextColour::system_button_shadow},
      {false, true, true, TextColour::system_button_shadow},
  };
  for (const Case& c : cases)
    EXPECT_EQ(item_text_colour(c.enabled, c.selected, c.same), c.want) << c.enabled << c.selected << c.same;
}

TEST(SeparatorPieces, TakeTheSecondFramesBottomRowsInThreePieces) {
  // 5 frames of 24 x 22; the second starts at x 24.
  const std::vector<Piece> short_item = separator_pieces(120, 22, 5, 3, 3, 100, 9);
  ASSERT_EQ(short_item.size(), 3u);
  EXPECT_EQ(short_item[0], (Piece{{24, 13, 27, 22}, {0, 0, 3, 9}}));
  EXPECT_EQ(short_item[1], (Piece{{27, 13, 45, 22}, {3, 0, 97, 9}}));
  EXPECT_EQ(short_item[2], (Piece{{45, 13, 48, 22}, {97, 0, 100, 9}}));

  const std::vector<Piece> tall_item = separator_pieces(120, 22, 5, 3, 3, 100, 30);
  ASSERT_EQ(tall_item.size(), 3u);
  EXPECT_EQ(tall_item[1], (Piece{{27, 0, 45, 22}, {3, 0, 97, 30}})) << "the whole frame, stretched";

  const std::vector<Piece> narrow = separator_pieces(120, 22, 5, 3, 3, 5, 9);
  ASSERT_EQ(narrow.size(), 1u) << "too narrow for both margins: no margins";
  EXPECT_EQ(narrow[0], (Piece{{24, 13, 48, 22}, {0, 0, 5, 9}}));

  const std::vector<Piece> asymmetric = separator_pieces(120, 22, 5, 2, 6, 50, 9);
  ASSERT_EQ(asymmetric.size(), 3u);
  EXPECT_EQ(asymmetric[0].dest.width(), 2);
  EXPECT_EQ(asymmetric[2], (Piece{{42, 13, 48, 22}, {44, 0, 50, 9}}));

  EXPECT_TRUE(separator_pieces(0, 0, 5, 3, 3, 100, 9).empty());
  EXPECT_TRUE(separator_pieces(120, 22, 5, 3, 3, 0, 9).empty());
}

}  // namespace
}  // namespace clip::skin::menu
