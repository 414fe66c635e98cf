#include "skin/frame/frame_geometry.h"

#include <algorithm>

namespace clip::skin {
namespace {

int frames(const TDataSkinObject& e) { return std::max(e.FrameCount, 1); }
int frame_width(const TDataSkinObject& e) { return e.Bitmap.width / frames(e); }
int frame_height(const TDataSkinObject& e) { return e.Bitmap.height / frames(e); }

bool border_usable(const TDataSkinBorder* b, bool stacked) {
  return b && !b->Bitmap.empty() && (stacked ? frame_height(*b) : frame_width(*b)) > 0;
}

bool transparent(const TDataSkinBorder* b) { return b && b->Trans != 0; }

}  // namespace

FrameKind frame_kind(uint32_t style, uint32_t ex_style) {
  using namespace style_bits;
  if ((style & kPopup) && (style & kCaption) != kCaption) return FrameKind::captionless;
  if ((ex_style & kExWindowEdge) || (style & kThickFrame)) return FrameKind::edged;
  return FrameKind::plain;
}

bool skin_can_frame(const SkinElements& e) {
  return border_usable(e.Top.get(), true) && border_usable(e.Bottom.get(), true) && border_usable(e.Left.get(), false) &&
         border_usable(e.Right.get(), false);
}

FrameMetrics frame_metrics(const SkinElements& e, FrameKind kind, int menu_bar_height) {
  FrameMetrics m;
  if (kind == FrameKind::captionless) return m;
  if (e.Top) m.caption = frame_height(*e.Top);
  if (e.Left) m.left = frame_width(*e.Left);
  if (e.Right) m.right = frame_width(*e.Right);
  if (e.Bottom) m.bottom = frame_height(*e.Bottom);
  m.menu_bar = std::max(menu_bar_height, 0);
  return m;
}

Rect client_area(int width, int height, const FrameMetrics& m) {
  return {m.left, m.caption + m.menu_bar, width - m.right, height - m.bottom};
}

FrameHit classify_frame_point(int x, int y, int width, const FrameMetrics& m) {
  if (y <= 3) return FrameHit::nowhere;
  if (y < m.caption) return FrameHit::caption;
  if (y < m.caption + m.menu_bar && x >= m.left && x < width - m.right) return FrameHit::menu;
  return FrameHit::border;
}

bool title_button_visible(const TDataSkinSysButton& b, const ButtonFacts& f) {
  const bool maximized = f.show == ShowState::maximized;
  auto rule = [&](int value, bool second) -> bool {
    switch (value) {
      case 0:
        if (second) return true;
        return f.kind != FrameKind::plain && !(b.Action == 0 && !f.system_menu);
      case 1: return maximized;
      case 2: return !maximized;
      case 3: return f.active;
      case 4: return !f.active;
      case 6: return f.maximize_box && (second || f.system_menu);
      case 7: return !f.maximize_box;
      case 8: return f.minimize_box && (second || f.system_menu);
      case 9: return !f.minimize_box;
      case 100: return f.mdi_frame_child_maximized && f.menu_bar_height > 0;
      default: return value >= 200 && value <= 2000;
    }
  };
  bool visible = rule(b.Visibility, false) && rule(b.Visibility1, true);
  if (b.Action == 1 && !f.maximize_box) visible = false;
  if (b.Action == 2 && !f.minimize_box) visible = false;
  return visible;
}

std::optional<Rect> place_title_button(const TDataSkinSysButton& b, int w, int h, const ButtonPlace& at,
                                       int& rightmost) {
  if (w <= 0 || h <= 0) return std::nullopt;
  int x = 0, y = 0;
  switch (b.Align) {
    case 0:
      x = b.Xcoord;
      y = b.Ycoord;
      break;
    case 1:
      x = at.window_width - b.Xcoord;
      y = b.Ycoord;
      rightmost = std::max(rightmost, x);
      break;
    case 2:
    case 8:
      x = at.caption_text.left - w - b.Xcoord;
      y = b.Ycoord;
      break;
    case 3:
    case 9:
      x = at.caption_text.right + b.Xcoord;
      y = b.Ycoord;
      break;
    case 100: {
      y = at.metrics.caption + (at.metrics.menu_bar - h) / 2;
      const int margin = at.menu_bar ? at.menu_bar->LeftWidth : 0;
      x = at.right_to_left ? b.Xcoord + at.metrics.left + margin : at.window_width - b.Xcoord - at.metrics.right - margin;
      break;
    }
    default:
      break;
  }
  return Rect::sized(x, y, w, h);
}

Rect place_caption_text(const TDataSkinTitle& t, const CaptionPlace& at) {
  const int text_shift = t.LeftWidth, shift_vert = t.TopHeight, right_clip = t.RightWidth;
  Rect r = Rect::sized(at.area.left, at.area.top, at.text_width + t.TXTBackleft + t.TXTBackRight, at.text_height);
  const int area_width = at.area.width();
  int dx = 0;
  const int alignment = at.right_to_left ? 2 : t.TextAlignment;
  switch (alignment) {
    case 0: dx = text_shift; break;
    case 1: dx = (area_width - r.width()) / 2; break;
    case 2: dx = area_width - right_clip - r.width(); break;
    default: break;
  }
  const int dy = (at.area.height() - r.height()) / 2 + shift_vert / 2;
  r = {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
  if (!at.popup) {
    r.right = std::min(r.right, at.area.right - right_clip);
  } else {
    r.right = std::max(r.right, at.rightmost - 5);
  }
  return r;
}

std::vector<RegionPart> region_parts(int W, int H, const FrameMetrics& m, const SkinElements& e, FrameKind kind) {
  const TDataSkinBorder* left = e.Left.get();
  const TDataSkinBorder* right = e.Right.get();
  const TDataSkinBorder* top = e.Top.get();
  const TDataSkinBorder* bottom = e.Bottom.get();
  if (!transparent(left) && !transparent(right) && !transparent(top) && !transparent(bottom)) return {};
  std::vector<RegionPart> parts;
  parts.push_back({{m.left, m.caption, W - m.right, H - m.bottom}, std::nullopt});
  if (kind == FrameKind::captionless) return parts;
  auto add = [&](const Rect& r, bool bitmap, Border which) {
    if (r.empty()) return;
    parts.push_back({r, bitmap ? std::optional(which) : std::nullopt});
  };
  add({0, 0, m.left, H}, transparent(left) && H > 1, Border::left);
  add({W - m.right, 0, W, H}, transparent(right) && H > 1, Border::right);
  add({m.left, H - m.bottom, W - m.right, H}, transparent(bottom) && m.bottom >= 2, Border::bottom);
  add({m.left, 0, W - m.right, m.caption}, transparent(top) && m.caption > 1, Border::top);
  return parts;
}

}  // namespace clip::skin
