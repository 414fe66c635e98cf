#include "skin/frame/menu_geometry.h"

#include <algorithm>

namespace clip::skin::menu {

Ring popup_ring(int width, int height, const Rect& client) {
  const bool framed = client.left > 0 || client.top > 0 || client.right < width || client.bottom < height;
  if (!framed) return {};
  return {std::max(client.left, 0), std::max(client.top, 0), std::max(width - client.right, 0),
          std::max(height - client.bottom, 0)};
}

std::vector<Rect> border_rects(int width, int height, const Ring& ring) {
  const int top = std::clamp(ring.top, 0, height);
  const int bottom = std::clamp(height - ring.bottom, top, height);
  const int left = std::clamp(ring.left, 0, width);
  const int right = std::clamp(width - ring.right, left, width);
  std::vector<Rect> out;
  for (const Rect& r : {Rect{0, 0, width, top}, Rect{0, bottom, width, height}, Rect{0, top, left, bottom},
                        Rect{right, top, width, bottom}})
    if (!r.empty()) out.push_back(r);
  return out;
}

Rect inner_rect(int width, int height, const Ring& ring) {
  const int left = std::clamp(ring.left, 0, width), top = std::clamp(ring.top, 0, height);
  return {left, top, std::max(width - ring.right, left), std::max(height - ring.bottom, top)};
}

Rect background_rect(const Rect& item, int client_left, int client_top) {
  return {item.left + client_left, item.top + client_top, item.right + client_left, item.bottom + client_top};
}

int glyph_size(const ItemFacts& facts) {
  const int size = facts.image_width > 0 ? facts.image_width : kGlyphSize;
  return facts.checked ? std::max(size, kGlyphSize) : size;
}

ItemLayout layout_item(const Rect& item, const ItemFacts& facts, int caption_width, int caption_height) {
  ItemLayout out;
  const int g = glyph_size(facts);
  const int top = item.top + (item.height() - caption_height) / 2;
  if (!facts.right_to_left) {
    if (!facts.separator) out.glyph = Rect::sized(item.left + 1 + facts.element_left, item.top + 1, g, g);
    out.text = {out.glyph.right + 3, item.top, item.right - 1, item.bottom};
    out.caption = {out.text.left, top, out.text.right, top + caption_height};
    out.shortcut = {std::min(out.text.left + caption_width, item.right - kShortcutInset), top,
                    item.right - kShortcutInset, top + caption_height};
    return out;
  }
  // Mirrored: the glyph column on the right inside the element's margin, the
  // caption right-aligned against it, the shortcut from the left edge.
  if (!facts.separator) {
    const int right = item.right - 1 - facts.element_left;
    out.glyph = {right - g, item.top + 1, right, item.top + 1 + g};
  }
  const int text_right = facts.separator ? item.right - 1 : out.glyph.left - 3;
  out.text = {item.left + 1, item.top, text_right, item.bottom};
  out.caption = {text_right - caption_width, top, text_right, top + caption_height};
  out.shortcut = {item.left + kMirroredShortcutInset, top,
                  std::max(out.caption.left, item.left + kMirroredShortcutInset), top + caption_height};
  return out;
}

Size measure_popup_item(Size size, int element_left, bool has_images) {
  return {size.width + element_left + (has_images ? 12 : 35), size.height};
}

Size measure_bar_item(Size size, int element_left, bool has_images) {
  return {size.width + element_left + (has_images ? 10 : 35), size.height};
}

Size measure_handle_item(int text_width, bool has_text, int element_left, int height, bool win9x) {
  Size out{text_width + 26 + element_left, has_text ? height + 4 : 8};
  if (win9x) out.height += 4;
  return out;
}

TextColour item_text_colour(bool enabled, bool selected, bool shadow_equals_menu_text) {
  if (enabled) return selected ? TextColour::hilight_text : TextColour::menu_text;
  return shadow_equals_menu_text ? TextColour::system_button_shadow : TextColour::button_shadow;
}

std::vector<Piece> separator_pieces(int bitmap_width, int bitmap_height, int frame_count, int left, int right,
                                    int item_width, int item_height) {
  const Rect frame = paint::frame_rect(bitmap_width, bitmap_height, paint::Strip::horizontal, frame_count,
                                       kSeparatorFrame);
  if (frame.empty() || item_width <= 0 || item_height <= 0) return {};
  const int source_top = frame.bottom - std::min(item_height, frame.height());
  left = std::max(left, 0);
  right = std::max(right, 0);
  if (item_width < left + right || frame.width() < left + right) left = right = 0;
  std::vector<Piece> out;
  auto add = [&](int sx0, int sx1, int dx0, int dx1) {
    const Piece p{{sx0, source_top, sx1, frame.bottom}, {dx0, 0, dx1, item_height}};
    if (!p.source.empty() && !p.dest.empty()) out.push_back(p);
  };
  add(frame.left, frame.left + left, 0, left);
  add(frame.left + left, frame.right - right, left, item_width - right);
  add(frame.right - right, frame.right, item_width - right, item_width);
  return out;
}

}  // namespace clip::skin::menu
