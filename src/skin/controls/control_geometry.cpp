#include "skin/controls/control_geometry.h"

#include <algorithm>
#include <cstdlib>

namespace clip::skin {
namespace {

// a * b / c in 64 bits, rounded half away from zero, as the platform's MulDiv
// does; a divisor of 0 answers -1 as it does.
int mul_div(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t product = int64_t(a) * int64_t(b);
  const int64_t half = std::llabs(int64_t(c)) / 2;
  const bool negative = (product < 0) != (c < 0);
  const int64_t magnitude = (std::llabs(product) + half) / std::llabs(int64_t(c));
  return int(negative ? -magnitude : magnitude);
}

bool measure(int bar_length, int arrow, const ScrollState& s, int min_size, int system_thumb, int extra,
             Thumb& thumb) {
  const int track = bar_length - 2 * arrow;
  const int range = s.max - s.min;
  // The window bars stop at an empty range; a control counts one position
  // more and stops only below that.
  if (range + extra <= 0) return false;
  const int divisor = range + extra;
  int size = s.page != 0 ? std::max(mul_div(s.page, track, divisor), min_size) : system_thumb;
  size = std::min(size, track);
  int offset = 0;
  if (s.page == divisor) {
    size -= 1;
  } else {
    offset = std::max(mul_div(s.pos - s.min, track - size, divisor - s.page), 0);
  }
  offset = std::min(offset, track - size);
  thumb = {track, size, offset};
  return true;
}

}  // namespace

int minimum_thumb(int arrow, uint32_t windows_version) { return (windows_version & 0x80000000u) ? arrow / 2 : 8; }

bool measure_thumb(int bar_length, int arrow, const ScrollState& s, int min_size, int system_thumb, Thumb& thumb) {
  return measure(bar_length, arrow, s, min_size, system_thumb, 0, thumb);
}

bool measure_control_thumb(int bar_length, int arrow, const ScrollState& s, int min_size, int system_thumb,
                           Thumb& thumb) {
  return measure(bar_length, arrow, s, min_size, system_thumb, 1, thumb);
}

ScrollPart part_at(int p, int arrow, const Thumb& t) {
  if (p < arrow) return ScrollPart::line_up;
  if (p < arrow + t.offset) return ScrollPart::page_up;
  if (p < arrow + t.offset + t.size) return ScrollPart::thumb;
  if (p < arrow + t.track) return ScrollPart::page_down;
  if (p < 2 * arrow + t.track) return ScrollPart::line_down;
  return ScrollPart::none;
}

DragStep drag_thumb(int start_offset, int movement, const Thumb& t, const ScrollState& s) {
  const int range = s.max - s.min;
  int offset = std::max(start_offset + movement, 0);
  int position = s.min;
  if (s.page != 0) {
    offset = std::min(offset, t.track);
    if (t.track > 0) position = mul_div(offset, range, t.track) + s.min;
    if (position >= s.max - s.page) position = s.max - s.page + 1;
  } else {
    offset = std::min(offset, t.track - t.size);
    if (t.track - t.size > 0) position = mul_div(offset, range, t.track - t.size) + s.min;
    position = std::min(position, s.max);
  }
  position = std::max(position, s.min);
  // The position may run on to the end of the track, but the thumb is never
  // drawn over the far arrow.
  offset = std::max(std::min(offset, t.track - t.size), 0);
  return {offset, position};
}

ScrollBarRects scroll_bar_rects(int w, int h, int client_width, int client_height, int t, bool horz, bool vert,
                                bool left) {
  ScrollBarRects r;
  if (!horz && !vert) return r;
  const int e = vert ? (w - client_width - t) / 2 : (h - client_height - t) / 2;
  if (horz && !vert) {
    r.horz = {e, h - e - t, w - e, h - e};
  } else if (vert && !horz) {
    r.vert = left ? Rect{e, e, e + t, h - e} : Rect{w - e - t, e, w - e, h - e};
  } else if (!left) {
    r.horz = {e, h - e - t, w - e - t, h - e};
    r.vert = {w - e - t, e, w - e, h - e - t};
    r.corner = {w - e - t, h - e - t, w - e, h - e};
  } else {
    r.horz = {e + t, h - e - t, w - e, h - e};
    r.vert = {e, e, e + t, h - e - t};
    r.corner = {e, h - e - t, e + t, h - e};
  }
  return r;
}

BarPieces bar_pieces(int length, int across, bool vertical, int arrow, const Thumb& thumb) {
  // Built along x, then turned for a vertical bar.
  auto along = [&](int from, int to) { return vertical ? Rect{0, from, across, to} : Rect{from, 0, to, across}; };
  BarPieces p;
  p.track = along(arrow, length - arrow);
  const int a = length < 2 * arrow ? length / 2 : arrow;
  p.first = along(0, a);
  p.second = along(length - a, length);
  if (thumb.size > 0 && thumb.track >= thumb.size)
    p.thumb = along(arrow + thumb.offset, arrow + thumb.offset + thumb.size);
  return p;
}

Face push_button_face(bool pressed, bool hot, bool focused, bool enabled) {
  if (!enabled) return Face::disabled;
  if (pressed) return Face::pressed;
  return focused || hot ? Face::hot : Face::normal;
}

Face bit_button_face(bool pressed, bool hot, bool focused, bool enabled) {
  Face face = focused ? Face::hot : Face::normal;
  if (pressed)
    face = Face::pressed;
  else if (hot)
    face = Face::hot;
  return enabled ? face : Face::disabled;
}

Face speed_button_face(bool pressed, bool hot, bool enabled, bool down) {
  if (down) return Face::pressed;
  if (!enabled) return Face::disabled;
  if (pressed) return Face::pressed;
  return hot ? Face::hot : Face::normal;
}

int glyph_index(Face face) {
  switch (face) {
    case Face::pressed: return 3;
    case Face::disabled: return 2;
    case Face::normal:
    case Face::hot: return 1;
  }
  return 1;
}

GlyphCaptionPlace glyph_caption_layout(int w, int h, int gw, int gh, int tw, int th, GlyphLayout layout, int margin,
                                       int spacing) {
  const bool sideways = layout == GlyphLayout::left || layout == GlyphLayout::right;
  const int length = sideways ? w : h;
  const int glyph = sideways ? gw : gh;
  const int text = sideways ? tw : th;
  int s = gw > 0 && tw > 0 ? spacing : 0;
  int m = margin;
  if (m == -1 && s == -1) {
    m = (length - glyph - text) / 3;
    s = m;
  } else if (m == -1) {
    m = (length - (s + glyph + text)) / 2;
  } else if (s == -1) {
    s = ((length - m - glyph) - text) / 2;
  }
  GlyphCaptionPlace p;
  if (sideways) {
    const int gy = (h - gh + 1) / 2, ty = (h - th + 1) / 2;
    if (layout == GlyphLayout::left) {
      p.glyph = Rect::sized(m, gy, gw, gh);
      p.caption = Rect::sized(m + gw + s, ty, tw, th);
      p.align = TextAlign::left;
    } else {
      const int gx = w - m - gw;
      p.glyph = Rect::sized(gx, gy, gw, gh);
      p.caption = Rect::sized(gx - s - tw, ty, tw, th);
      p.align = TextAlign::right;
    }
  } else {
    const int gx = (w - gw + 1) / 2, tx = (w - tw + 1) / 2;
    if (layout == GlyphLayout::top) {
      p.glyph = Rect::sized(gx, m, gw, gh);
      p.caption = Rect::sized(tx, m + gh + s, tw, th);
    } else {
      const int gy = h - m - gh;
      p.glyph = Rect::sized(gx, gy, gw, gh);
      p.caption = Rect::sized(tx, gy - s - th, tw, th);
    }
    p.align = TextAlign::centre;
  }
  return p;
}

HeaderItemPlace header_item_layout(const Rect& item, int iw, int ih, int tw, int th, TextAlign align) {
  const int picture = iw > 0 ? iw + 1 : 0;
  const int block = picture + tw;
  int x = item.left + 2;
  if (align == TextAlign::centre) x = item.left + (item.width() - block) / 2;
  if (align == TextAlign::right) x = item.right - 2 - block;
  HeaderItemPlace p;
  if (iw > 0) p.image = Rect::sized(x, item.top + (item.height() - ih) / 2, iw, ih);
  p.text = Rect::sized(x + picture, item.top + (item.height() - th) / 2, tw, th);
  return p;
}

std::optional<int> tool_button_frame(unsigned state) {
  using namespace tool_state;
  if (state & kSelected) return 1;
  if (state & (kFocus | kHot)) return 4;
  if (state & (kGrayed | kDisabled)) return 3;
  if (state & kDefault) return 1;
  return std::nullopt;
}

Rect group_frame_rect(const Rect& r, int text_height) {
  return {r.left, r.top + text_height / 2 - 1, r.right, r.bottom};
}

int check_frame(CheckState state, bool enabled, bool radio) {
  if (state == CheckState::indeterminate && !radio) return 4;
  const bool checked = state != CheckState::unchecked;
  if (!enabled) return checked ? 4 : 3;
  return checked ? 2 : 1;
}

CheckPicturePlace check_picture_place(const Rect& r, int w, int h, bool box_on_right, int check_mark_width) {
  constexpr int kBoxCell = 14;
  const int y = r.top + (r.height() - h) / 2;
  CheckPicturePlace p;
  if (box_on_right) {
    const int right = w <= kBoxCell ? r.right - (kBoxCell - w) / 2 : r.right - 1;
    p.picture = {right - w, y, right, y + h};
    p.clear = {r.right - check_mark_width - 3, r.top, r.right, r.bottom};
  } else {
    const int x = w <= kBoxCell ? r.left + (kBoxCell - w) / 2 : r.left;
    p.picture = Rect::sized(x, y, w, h);
    p.clear = {r.left, r.top, r.left + check_mark_width + 3, r.bottom};
  }
  return p;
}

Face combo_face(bool pressed, bool hot, bool focused, bool enabled) {
  if (pressed) return Face::pressed;
  if (focused || hot) return Face::hot;
  return enabled ? Face::normal : Face::disabled;
}

ComboParts combo_parts(const Rect& r, int t, bool left) {
  if (left)
    return {{r.left + t + 4, r.top + 2, r.right - 2, r.bottom - 2},
            {r.left, r.top, r.left + t + 2, r.bottom},
            {r.left + 2, r.top, r.left + t + 2, r.bottom}};
  return {{r.left + 2, r.top + 2, r.right - t - 4, r.bottom - 2},
          {r.right - t - 2, r.top, r.right, r.bottom},
          {r.right - t - 2, r.top, r.right - 2, r.bottom}};
}

Rect simple_combo_button(const Rect& r, int thumb) {
  const Rect inner{r.left + 2, r.top + 2, r.right - 2, r.bottom - 2};
  return {std::max(inner.left, inner.right - thumb), inner.top, inner.right, inner.bottom};
}

Rect centred(const Rect& area, int width, int height) {
  return Rect::sized(area.left + (area.width() - width) / 2, area.top + (area.height() - height) / 2, width, height);
}

bool edit_has_border(int window_width, int window_height, int client_width, int client_height, int border) {
  return client_width + border <= window_width && client_height + border <= window_height;
}

UpDownButtons updown_buttons(const Rect& q, bool side_by_side, int px, int py) {
  if (side_by_side) {
    const int split = q.left + q.width() / 2;
    return {{q.left, q.top, split, q.bottom}, {split, q.top, q.right, q.bottom}, px < split};
  }
  const int split = q.top + q.height() / 2;
  return {{q.left, q.top, q.right, split}, {q.left, split, q.right, q.bottom}, py < split};
}

int updown_state(bool under_pointer, bool pressed, bool hot, bool enabled) {
  if (!enabled) return 3;
  if (under_pointer && pressed) return 2;
  if (under_pointer && hot) return 4;
  return 1;
}

int updown_frame(int state, bool second) { return state + (second ? 4 : 0); }

Rect size_grip_rect(const Rect& bar, int width, int height) {
  return {bar.right - 1 - width, bar.bottom - 1 - height, bar.right - 1, bar.bottom - 1};
}

TextAlign panel_alignment(TextAlign align, bool rtl) {
  if (!rtl || align == TextAlign::centre) return align;
  return align == TextAlign::left ? TextAlign::right : TextAlign::left;
}

std::optional<Rect> progress_bar_rect(const Rect& trough, int position, int upper) {
  if (position <= 0 || upper <= 0) return std::nullopt;
  // 64-bit: a range of millions times a width of hundreds overflows an int.
  const int64_t filled = int64_t(std::min(position, upper)) * trough.width() / upper;
  return Rect{trough.left, trough.top, trough.left + int(filled), trough.bottom};
}

std::vector<int> chunk_offsets(int bar_width, int chunk_width) {
  std::vector<int> out;
  if (bar_width <= 0 || chunk_width <= 0) return out;
  const int count = bar_width / chunk_width + 1;
  out.reserve(size_t(count));
  for (int i = 0; i < count; ++i) out.push_back(i * chunk_width);
  return out;
}

TrackDraw trackbar_custom_draw(unsigned stage, uintptr_t part) {
  constexpr unsigned kPrePaint = 1, kItemPrePaint = 0x10001, kNotifyItemDraw = 0x20, kSkipDefault = 4;
  constexpr uintptr_t kThumb = 2;
  if (stage == kPrePaint) return {kNotifyItemDraw, false};
  if (stage == kItemPrePaint && part == kThumb) return {kSkipDefault, true};
  return {};
}

TabSide tab_side(uint32_t style) {
  constexpr uint32_t kBottom = 0x2, kVertical = 0x80;
  if (style & kBottom) return (style & kVertical) ? TabSide::right : TabSide::bottom;
  return (style & kVertical) ? TabSide::left : TabSide::top;
}

Rect tab_page_area(const Rect& display, TabSide side) {
  Rect a{display.left - 4, display.top - 4, display.right + 4, display.bottom + 4};
  switch (side) {
    case TabSide::top: ++a.top; break;
    case TabSide::bottom: --a.bottom; break;
    case TabSide::left: ++a.left; break;
    case TabSide::right: --a.right; break;
  }
  return a;
}

Rect tab_strip_rect(const Rect& r, const Rect& a, TabSide side) {
  switch (side) {
    case TabSide::top: return {r.left, r.top, r.right, a.top};
    case TabSide::bottom: return {r.left, a.bottom, r.right, r.bottom};
    case TabSide::left: return {r.left, r.top, a.left, r.bottom};
    case TabSide::right: return {a.right, r.top, r.right, r.bottom};
  }
  return {};
}

StripSize tab_strip_size(const Rect& strip, TabSide side) {
  if (tabs_across(side)) return {strip.height(), strip.width()};
  return {strip.width(), strip.height()};
}

Rect tab_in_strip(const Rect& t, TabSide side, const Rect& r, const Rect& a, int length) {
  switch (side) {
    case TabSide::top: return {t.left, t.top + 1, t.right, t.bottom + 1};
    case TabSide::bottom: return {t.left, t.top - a.bottom - 1, t.right, t.bottom - a.bottom - 1};
    case TabSide::left: return {length - t.bottom, t.left, length - t.top, t.right};
    case TabSide::right: return {t.top - 1, r.right - t.right, t.bottom - 1, r.right - t.left};
  }
  return {};
}

std::vector<uint32_t> turn_pixels(const std::vector<uint32_t>& pixels, int width, int height, bool clockwise) {
  std::vector<uint32_t> out;
  if (width <= 0 || height <= 0 || pixels.size() < size_t(width) * size_t(height)) return out;
  out.resize(size_t(width) * size_t(height));
  // The turned picture is `height` wide.
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int nx = clockwise ? height - 1 - y : y;
      const int ny = clockwise ? x : width - 1 - x;
      out[size_t(ny) * size_t(height) + size_t(nx)] = pixels[size_t(y) * size_t(width) + size_t(x)];
    }
  return out;
}

std::vector<TabSetSlot> fit_tab_set(const std::vector<int>& widths, int first, int start_margin, int room,
                                    bool arrows_visible) {
  std::vector<TabSetSlot> out;
  int x = start_margin;
  const int reserve = arrows_visible ? 21 : 9;
  for (int i = std::max(first, 0); i < int(widths.size()); ++i) {
    const int w = widths[size_t(i)];
    if (room < x + w + reserve) continue;
    out.push_back({i, x, x + w + 9});
    x += w + 9;
  }
  return out;
}

}  // namespace clip::skin
