// The arithmetic of the control companions, kept apart from the window code
// so that it needs no window: where the skinned scroll bars of a scrolling
// control go, how long their thumb is and where it sits, which part of a bar
// lies under a point, where a dragged thumb puts the position, which face a
// button shows, where a bitmap button's glyph and caption go, where a header
// item's picture and text go, and which frame a tool-bar button gets.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "skin/paint/geometry.h"

namespace clip::skin {

using paint::Rect;

// The scroll information of one bar, as the platform reports it.
struct ScrollState {
  int min = 0, max = 0, page = 0, pos = 0, track = 0;
};

// The measured thumb of one bar: track length (the bar less its two arrows),
// thumb size and thumb offset from the end of the first arrow.
struct Thumb {
  int track = 0;
  int size = 0;
  int offset = 0;
  friend constexpr bool operator==(const Thumb&, const Thumb&) = default;
};

// The thumb's least length: 8 pixels, or half an arrow on the Windows 9x
// family (`windows_version` with its top bit set).
int minimum_thumb(int arrow, uint32_t windows_version);

// Measures the thumb of a window scroll bar `bar_length` long with arrows
// `arrow` long. A range (max - min) of 0 or less leaves `thumb` as it was and
// answers false. `system_thumb` is the platform's thumb length, used when
// the bar has no page.
bool measure_thumb(int bar_length, int arrow, const ScrollState& s, int min_size, int system_thumb, Thumb& thumb);
// The same for a stand-alone scroll bar control, which counts its range
// inclusively (max - min + 1 positions).
bool measure_control_thumb(int bar_length, int arrow, const ScrollState& s, int min_size, int system_thumb,
                           Thumb& thumb);

// What a press at position p along a bar (0 at the bar's start) hits; the
// values are the scroll request codes, the thumb 5.
enum class ScrollPart { none = -1, line_up = 0, line_down = 1, page_up = 2, page_down = 3, thumb = 5 };
ScrollPart part_at(int p, int arrow, const Thumb& thumb);

// Where the thumb and the position go when the pointer moved `movement`
// pixels along the bar since the drag started with the thumb at
// `start_offset`. With a page the position stops at max - page + 1, without
// one at max; never below min.
struct DragStep {
  int offset = 0;
  int position = 0;
  friend constexpr bool operator==(const DragStep&, const DragStep&) = default;
};
DragStep drag_thumb(int start_offset, int movement, const Thumb& thumb, const ScrollState& s);

// The rectangles of the window scroll bars of a width x height window whose
// client area is client_width x client_height, in window coordinates.
// `arrow` is the bar thickness; the border is what is left around client
// and bar, split evenly.
struct ScrollBarRects {
  Rect horz, vert, corner;
  friend constexpr bool operator==(const ScrollBarRects&, const ScrollBarRects&) = default;
};
ScrollBarRects scroll_bar_rects(int width, int height, int client_width, int client_height, int arrow, bool horz,
                                bool vert, bool left_scroll_bar);

// The pieces of one bar composed in a work picture `length` long and
// `across` thick (x along the bar for a horizontal one, y for a vertical one):
// the track between the arrows, the two arrows (each half the bar when it
// is shorter than two arrows) and the thumb, when it fits the track.
struct BarPieces {
  Rect track, first, second;
  std::optional<Rect> thumb;
};
BarPieces bar_pieces(int length, int across, bool vertical, int arrow, const Thumb& thumb);

// The faces of a skinned button; the value is the frame of the "Buttons"
// element that shows it.
enum class Face { normal = 1, pressed = 2, disabled = 3, hot = 4 };
// Pressed wins over focused or hot; disabled over everything.
Face push_button_face(bool pressed, bool hot, bool focused, bool enabled);
// Focus shows hot, a press pressed, else the hot bit hot; disabled wins.
Face bit_button_face(bool pressed, bool hot, bool focused, bool enabled);
// Pressed, else hot; then disabled; a button that is down shows pressed
// whatever else holds.
Face speed_button_face(bool pressed, bool hot, bool enabled, bool down);
// Which of four glyph images shows a face (from 1): normal and hot the
// first, disabled the second, pressed the third.
int glyph_index(Face face);

// Glyph beside the caption of a bitmap or speed button.
enum class GlyphLayout { left, right, top, bottom };
enum class TextAlign { left, centre, right };
struct GlyphCaptionPlace {
  Rect glyph;    // glyph_width x glyph_height at its place
  Rect caption;  // text_width x text_height at its place
  TextAlign align = TextAlign::left;
  friend constexpr bool operator==(const GlyphCaptionPlace&, const GlyphCaptionPlace&) = default;
};
// A margin or spacing of -1 means "as fits": the free length is shared out
// evenly. Spacing counts only when both glyph and caption are present.
GlyphCaptionPlace glyph_caption_layout(int width, int height, int glyph_width, int glyph_height, int text_width,
                                       int text_height, GlyphLayout layout, int margin, int spacing);

// A header item's picture and text inside the item rectangle: left aligned
// 2 pixels in, right aligned ending 2 pixels before the edge, centred as one
// block; the text follows the picture 1 pixel after it; both are centred
// vertically. An image_width of 0 means no picture.
struct HeaderItemPlace {
  Rect image;
  Rect text;
  friend constexpr bool operator==(const HeaderItemPlace&, const HeaderItemPlace&) = default;
};
HeaderItemPlace header_item_layout(const Rect& item, int image_width, int image_height, int text_width,
                                   int text_height, TextAlign align);

// The custom-draw state bits of a tool-bar button (the values of the
// platform's CDIS_ flags) and the frame of the "Buttons" element it is
// painted with; nullopt paints nothing.
namespace tool_state {
inline constexpr unsigned kSelected = 0x01, kGrayed = 0x02, kDisabled = 0x04, kFocus = 0x10, kDefault = 0x20,
                          kHot = 0x40;
}
std::optional<int> tool_button_frame(unsigned state);

// The frame of a check box's or radio button's picture (from 1): unchecked
// 1, checked 2; disabled unchecked 3, disabled checked 4. A check box in
// the third state shows 4 whether enabled or not; a radio button has no
// third state.
enum class CheckState { unchecked, checked, indeterminate };
int check_frame(CheckState state, bool enabled, bool radio);

// Where the picture of a check box or radio button goes in the window
// rectangle `window`, and the strip beside the caption that is cleared
// first (as wide as the platform's check mark plus 3, so the platform's own
// box disappears). A picture up to 14 pixels wide is centred in the first
// (or last) 14 pixels; a wider one starts at the left edge or ends one
// pixel before the right edge.
struct CheckPicturePlace {
  Rect picture;
  Rect clear;
  friend constexpr bool operator==(const CheckPicturePlace&, const CheckPicturePlace&) = default;
};
CheckPicturePlace check_picture_place(const Rect& window, int picture_width, int picture_height, bool box_on_right,
                                      int check_mark_width);

// The face of a combo box (a frame of its "SunkEdge" and "ComboButton"
// pictures): a press wins, then focus or the pointer, then enabled; a
// disabled box shows 3.
Face combo_face(bool pressed, bool hot, bool focused, bool enabled);

// The parts of a combo box `window` (at the origin) whose drop-down button
// is `button_width` wide (the platform's arrow width): the edit area the
// skin leaves alone, the button picture's rectangle and the area its glyph
// is centred in. The button is on the right, or on the left when the box
// lays out right to left.
struct ComboParts {
  Rect edit, button, glyph;
  friend constexpr bool operator==(const ComboParts&, const ComboParts&) = default;
};
ComboParts combo_parts(const Rect& window, int button_width, bool button_on_left);

// The button of the simple combo variant: the right part of the window
// inset by two pixels, `thumb` wide (the platform's thumb height).
Rect simple_combo_button(const Rect& window, int thumb);

// A picture `width` x `height` centred in `area` (offsets rounded down).
Rect centred(const Rect& area, int width, int height);

// Whether an edit has a border to skin: its client area is smaller than its
// window both ways, by `border` pixels or more (1 on screen; 3 for a printed
// picture, whose two rings need more than a thin border).
bool edit_has_border(int window_width, int window_height, int client_width, int client_height, int border);

// The two arrow buttons of an up-down control in its client rectangle
// `client` (already shrunk by one pixel inside an edit): stacked (up, down)
// or side by side (left, right). `first` holds the pointer when its
// coordinate along the split is before the split.
struct UpDownButtons {
  Rect first, second;
  bool pointer_in_first = false;
  friend constexpr bool operator==(const UpDownButtons&, const UpDownButtons&) = default;
};
UpDownButtons updown_buttons(const Rect& client, bool side_by_side, int pointer_x, int pointer_y);
// An arrow button's state (1 normal, 2 pressed, 3 disabled, 4 hot): only the
// button under the pointer shows the press or the hot state.
int updown_state(bool under_pointer, bool pressed, bool hot, bool enabled);
// The frame of the "UpDown" pictures for a button state: the first button
// (up, left) uses frames 1 to 4, the second (down, right) 5 to 8.
int updown_frame(int state, bool second);

// The size grip of a status bar: a `width` x `height` picture whose
// bottom-right corner sits one pixel inside the bar's bottom-right corner.
Rect size_grip_rect(const Rect& bar, int width, int height);
// A status panel's text alignment: a panel that reads right to left swaps
// left and right.
TextAlign panel_alignment(TextAlign align, bool right_to_left);

// The filled part of a progress bar in `trough`: position / upper limit of
// the width, from the left. Nothing (nullopt) when the position or the upper
// limit is 0 or less; the lower limit does not enter. A position past the
// limit fills the trough.
std::optional<Rect> progress_bar_rect(const Rect& trough, int position, int upper);
// The block variant's strip: copies of a `chunk_width` chunk at 0, c, 2c...
// covering `bar_width` (one more than fit, the last one cut by the strip).
std::vector<int> chunk_offsets(int bar_width, int chunk_width);

// A track bar's answer to one custom-draw notification (the platform's
// CDDS_ stage and TBCD_ part): notify per part at the pre-paint stage, let
// the platform draw the tick marks and the channel, and draw the thumb
// ourselves (skip the platform's). Anything else is the platform's.
struct TrackDraw {
  unsigned answer = 0;
  bool draw_thumb = false;
  friend constexpr bool operator==(const TrackDraw&, const TrackDraw&) = default;
};
TrackDraw trackbar_custom_draw(unsigned stage, uintptr_t part);

// The rounded frame of a group box: the window less the upper half of a
// caption line (one pixel more), so the caption sits across its top edge.
Rect group_frame_rect(const Rect& window, int text_height);

// Where a tab control shows its tabs, from its window style: bottom, or
// right when also vertical; left when vertical alone; else top.
enum class TabSide { top = 0, bottom = 1, left = 2, right = 3 };
TabSide tab_side(uint32_t style);
inline bool tabs_across(TabSide side) { return side == TabSide::left || side == TabSide::right; }

// The rectangle the page border is painted around: the control's display
// area (as it computes it) grown by 4 pixels each way, then moved one pixel
// toward the tabs on the tabs' side, so the border meets the tabs.
Rect tab_page_area(const Rect& display, TabSide side);
// The band of `window` between its edge and the page area on the tabs' side.
Rect tab_strip_rect(const Rect& window, const Rect& page, TabSide side);

// The strip is composed lying horizontally, `length` long (its height for
// tabs on the left or right) and `thickness` thick, then turned into place:
// clockwise for tabs on the right, counter-clockwise for the left.
struct StripSize {
  int length = 0, thickness = 0;
  friend constexpr bool operator==(const StripSize&, const StripSize&) = default;
};
StripSize tab_strip_size(const Rect& strip, TabSide side);
// A tab's rectangle as the control reports it (window coordinates) in the
// lying strip. Top and bottom tabs move one pixel toward the page, so their
// faces overlap the page border's edge.
Rect tab_in_strip(const Rect& tab, TabSide side, const Rect& window, const Rect& page, int length);

// A `width` x `height` picture of 0x00RRGGBB pixels (rows top-down) turned a
// quarter: clockwise, new (height-1-y, x) = old (x, y); counter-clockwise,
// new (y, width-1-x) = old (x, y). The result is height x width.
std::vector<uint32_t> turn_pixels(const std::vector<uint32_t>& pixels, int width, int height, bool clockwise);

// The tabs of a tab set that are drawn, from `first` on: each is its text
// width plus 9 wide and starts where the last drawn one ended (at
// `start_margin` for the first). A tab that would end past `room` (less 12
// more when the scroll arrows show) is left out and the next one is tried
// at the same place.
struct TabSetSlot {
  int index = 0;
  int left = 0, right = 0;
  friend constexpr bool operator==(const TabSetSlot&, const TabSetSlot&) = default;
};
std::vector<TabSetSlot> fit_tab_set(const std::vector<int>& text_widths, int first, int start_margin, int room,
                                    bool arrows_visible);

}  // namespace clip::skin
