// The arithmetic of skinned popup menus, kept apart from the window code so
// that it needs no window: the border ring of a popup window and the pieces
// copied for it, where an item's glyph, caption and shortcut go, how big an
// item is, which colour its text takes, and the pieces of a separator cut
// from the menu-item element.
#pragma once

#include <cstdint>
#include <vector>

#include "skin/paint/geometry.h"

namespace clip::skin::menu {

using paint::Piece;
using paint::Rect;

// Width of the border a popup menu window shows around its items.
inline constexpr int kBorder = 3;
// The shortcut text ends this far before the item's right edge.
inline constexpr int kShortcutInset = 11;
// A right-to-left item's shortcut starts this far after its left edge.
inline constexpr int kMirroredShortcutInset = 10;
// Width and height of the glyph column (check mark or image) without images.
inline constexpr int kGlyphSize = 16;
// The etched rule of a separator drawn without the element sits this far
// below the item's top.
inline constexpr int kEtchedRuleDrop = 4;
// Frames of the menu-item element (side by side, numbered from 1).
inline constexpr int kItemFrames = 5;
inline constexpr int kNormalFrame = 1;
inline constexpr int kSeparatorFrame = 2;
inline constexpr int kSelectedFrame = 4;

// The border ring of a popup window, one width per side.
struct Ring {
  int left = kBorder, top = kBorder, right = kBorder, bottom = kBorder;
  friend constexpr bool operator==(const Ring&, const Ring&) = default;
};

// Where the border is: a popup whose client area sits inside a non-client
// frame has that frame as its ring (its items are laid out relative to the
// client area); a popup without one draws its 3-pixel border inside the
// client area, around the items. `client` is the client area in window
// coordinates.
Ring popup_ring(int width, int height, const Rect& client);

// The border pieces, in window coordinates: the top rows, the bottom rows,
// and the left and right columns between them. Copied from the popup's
// background at the same places, they frame the items without touching them.
std::vector<Rect> border_rects(int width, int height, const Ring& ring);

// The window inside the ring: where the items are drawn.
Rect inner_rect(int width, int height, const Ring& ring);

// The part of the popup's background behind an item: the item rectangle
// (client coordinates) moved to where the client area starts in the window.
Rect background_rect(const Rect& item, int client_left, int client_top);

// What the layout of one item depends on.
struct ItemFacts {
  bool separator = false;
  bool checked = false;
  bool right_to_left = false;
  int image_width = 0;    // width of the menu's images; 0 when it has none
  int element_left = 0;   // the menu-item element's left margin; 0 without element
};

// Side of the glyph square: 16, or the images' width; at least 16 for a
// checked item.
int glyph_size(const ItemFacts& facts);

struct ItemLayout {
  Rect glyph;     // empty (all 0) for a separator
  Rect text;      // the area caption and shortcut share
  Rect caption;   // where the caption is drawn, as tall as it measured
  Rect shortcut;  // where the shortcut is drawn, right-aligned (left-aligned mirrored)
};

// Lays an item out in `item` (any coordinates) from the measured size of its
// caption. The caption is centred vertically (the half difference truncated);
// the shortcut ends kShortcutInset before the item's right edge.
ItemLayout layout_item(const Rect& item, const ItemFacts& facts, int caption_width, int caption_height);

struct Size {
  int width = 0, height = 0;
  friend constexpr bool operator==(const Size&, const Size&) = default;
};

// A form's popup-menu item as the skin measures it, from the default size
// the menu gave it: the element's left margin and room for the glyph column
// (12 more with images, 35 without).
Size measure_popup_item(Size default_size, int element_left, bool has_images);
// An item of a form's menu-bar drop-down: as above, but 10 with images.
Size measure_bar_item(Size default_size, int element_left, bool has_images);
// An item known only by its menu handle (a plain window's menu): its text
// width plus 26 and the element's margin; `height` is what the system put
// in before asking. Empty text (a separator) is 8 high; the 9x family adds 4.
Size measure_handle_item(int text_width, bool has_text, int element_left, int height, bool win9x);

// Which colour an item's text takes.
enum class TextColour { hilight_text, menu_text, button_shadow, system_button_shadow };
// Enabled and selected: highlight text; enabled: menu text; disabled: the
// skin's button shadow, unless that equals the menu text, when it would not
// look disabled: then the system's button shadow.
TextColour item_text_colour(bool enabled, bool selected, bool shadow_equals_menu_text);

// The separator cut from the menu-item element: its second frame's bottom
// part as tall as the item (the whole frame when the item is taller), in
// three pieces (left margin, stretched middle, right margin) composed at the
// item's size. A destination narrower than the two margins drops both.
std::vector<Piece> separator_pieces(int bitmap_width, int bitmap_height, int frame_count, int left, int right,
                                    int item_width, int item_height);

}  // namespace clip::skin::menu
