#include "skin/controls/buttons.h"

#include <algorithm>
#include <optional>

#include "skin/data/skin_win.h"
#include "skin/paint/paint_win.h"
#include "ui/canvas.h"
#include "ui/controls.h"
#include "ui/wide.h"

namespace clip::skin {
namespace {

HFONT window_font(HWND hwnd) { return hwnd ? reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)) : nullptr; }

UINT align_flag(TextAlign align) {
  switch (align) {
    case TextAlign::left: return DT_LEFT;
    case TextAlign::centre: return DT_CENTER;
    case TextAlign::right: return DT_RIGHT;
  }
  return DT_LEFT;
}

}  // namespace

bool TSkinButton::has_element() const {
  return data_ && data_->elements().Buttons && !data_->elements().Buttons->Bitmap.empty() && host_;
}

Face TSkinButton::face() const {
  return push_button_face(mouse_ & kPressed, mouse_ & kHot, focused_, enabled_);
}

void TSkinButton::refresh() {
  if (!hwnd_) return;
  focused_ = GetFocus() == hwnd_;
  enabled_ = !(GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_DISABLED);
  read_window_text();
  if (text_.empty())
    if (auto* button = dynamic_cast<ui::Button*>(control_)) text_ = ui::widen(button->caption);
}

bool TSkinButton::BeforeMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_PAINT: {
      // Without the element the platform paints the button as ever.
      if (!has_element()) return true;
      return paint_instead(m);
    }
    case WM_ERASEBKGND:
      if (!has_element()) return true;
      m.result = 1;
      return false;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (GetFocus() != hwnd_) SetFocus(hwnd_);
      mouse_ |= kPressed;
      Redraw();
      m.result = 0;
      return false;
    default:
      return TSkinControl::BeforeMessage(m);
  }
}

void TSkinButton::AfterMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_KEYDOWN:
      if (m.wparam == VK_SPACE) {
        mouse_ |= kPressed;
        RepaintNow();
      }
      break;
    case WM_KEYUP:
      if (m.wparam == VK_SPACE) {
        mouse_ &= uint8_t(~kPressed);
        RepaintNow();
      }
      break;
    case WM_MOUSEMOVE:
      become_hot();
      break;
    case WM_LBUTTONUP:
      if (mouse_ & kPressed) {
        mouse_ &= uint8_t(~kPressed);
        RepaintNow();
        click();
      }
      break;
    case ui::kMouseEnter:
      if (hwnd_ && IsWindowEnabled(hwnd_)) {
        mouse_ |= kHot;
        RepaintNow();
        if (host_) host_->set_hot_button(this);
      }
      break;
    case ui::kMouseLeave:
    case WM_MOUSELEAVE:
      mouse_left();
      break;
    default:
      TSkinControl::AfterMessage(m);
      break;
  }
}

void TSkinButton::become_hot() {
  if (mouse_ & kHot) return;
  mouse_ |= kHot;
  if (hwnd_) {
    // The button hears when the pointer leaves it, so it never stays hot
    // or pressed after the pointer went elsewhere.
    TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd_, 0};
    TrackMouseEvent(&track);
  }
  TSkinControl* other = host_ ? host_->hot_button() : nullptr;
  if (other && other != this) other->SendMouseLeave();
  if (!host_ || host_->hot_button() != this) {
    RepaintNow();
    if (host_) host_->set_hot_button(this);
  }
}

void TSkinButton::mouse_left() {
  if (hwnd_ && !IsWindowEnabled(hwnd_)) return;
  mouse_ &= uint8_t(~(kHot | kPressed));
  RepaintNow();
  if (host_ && host_->hot_button() == this) host_->set_hot_button(nullptr);
}

void TSkinButton::click() {
  if (auto* button = dynamic_cast<ui::Button*>(control_)) {
    button->click();
    return;
  }
  if (!hwnd_) return;
  // A plain window's button: its parent hears of the click as from the
  // platform's own button.
  PostMessageW(GetParent(hwnd_), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd_), BN_CLICKED),
               reinterpret_cast<LPARAM>(hwnd_));
}

bool TSkinButton::ensure_work(int width, int height) {
  if (!work_ || work_size_.cx != width || work_size_.cy != height) {
    work_ = paint::create_dib(width, height);
    work_size_ = work_ ? SIZE{width, height} : SIZE{0, 0};
  }
  return bool(work_);
}

void TSkinButton::paint_face(HDC dc, int width, int height, Face face, int frames) {
  const TDataSkinButton& b = *data_->elements().Buttons;
  FillFace(dc, {0, 0, width, height});
  paint::draw_nine_part(dc, {0, 0, width, height}, host_->element_bitmap(b), paint::Strip::horizontal, b.Tile != 0,
                        b.Trans == 1, frames, int(face), margins_of(b));
}

COLORREF TSkinButton::caption_colour(Face face, COLORREF normal) const {
  if (face == Face::disabled) return GetSysColor(COLOR_BTNSHADOW);
  const TDataSkinButton& b = *data_->elements().Buttons;
  switch (face) {
    case Face::normal: return b.HasNormalColour2 ? paint::to_colorref(b.NormalColour2) : normal;
    case Face::hot: return b.HasMouseOverColour2 ? paint::to_colorref(b.MouseOverColour2) : normal;
    case Face::pressed: return b.HasPressedColour2 ? paint::to_colorref(b.PressedColour2) : normal;
    case Face::disabled: break;
  }
  return normal;
}

void draw_centred_caption(HDC dc, const RECT& rect, const std::wstring& caption) {
  if (caption.empty()) return;
  RECT block{0, 0, rect.right - rect.left, 0};
  DrawTextW(dc, caption.c_str(), int(caption.size()), &block, DT_CALCRECT | DT_EXPANDTABS | DT_CENTER);
  const int w = block.right - block.left, h = block.bottom - block.top;
  const int x = rect.left + (rect.right - rect.left - w) / 2, y = rect.top + (rect.bottom - rect.top - h) / 2;
  SetBkMode(dc, TRANSPARENT);
  DrawSkinText(dc, caption, {x, y, x + w, y + h}, DT_EXPANDTABS | DT_CENTER);
}

void TSkinButton::DrawSkin(HDC dc, const RECT& rect) {
  if (!has_element()) return;
  refresh();
  const Face f = face();
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0 || w > 10000 || h > 10000 || !ensure_work(w, h)) return;
  const paint::memory_dc work(work_.get());
  if (!work) return;
  paint_face(work.get(), w, h, f, 5);
  {
    ui::Canvas canvas(work.get());
    canvas.set_font(window_font(hwnd_));
    SetTextColor(work.get(), caption_colour(f, paint::to_colorref(data_->elements().colour(SkinColour::ButtonText))));
    draw_centred_caption(work.get(), {0, 0, w, h}, text_);
  }
  BitBlt(dc, rect.left, rect.top, w, h, work.get(), 0, 0, SRCCOPY);
}

Face TSkinBitButton::face() const { return bit_button_face(mouse_ & kPressed, mouse_ & kHot, focused_, enabled_); }

void TSkinBitButton::DrawSkin(HDC dc, const RECT& rect) {
  if (!has_element()) return;
  refresh();
  const Face f = face();
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0 || w > 10000 || h > 10000 || !ensure_work(w, h)) return;
  const paint::memory_dc work(work_.get());
  if (!work) return;
  paint_face(work.get(), w, h, f, data_->elements().Buttons->FrameCount);
  {
    ui::Canvas canvas(work.get());
    canvas.set_font(window_font(hwnd_));
    static const ui::Glyph kNoGlyph;
    auto* button = dynamic_cast<ui::BitBtn*>(control_);
    draw_glyph_caption(work.get(), {0, 0, w, h}, button ? button->glyph : kNoGlyph, text_, f,
                       GetSysColor(COLOR_BTNTEXT));
  }
  BitBlt(dc, rect.left, rect.top, w, h, work.get(), 0, 0, SRCCOPY);
}

void TSkinBitButton::draw_glyph_caption(HDC dc, const RECT& rect, const ui::Glyph& glyph, const std::wstring& caption,
                                        Face face, COLORREF normal) {
  const int count = std::max(glyph.count, 1);
  const int gw = glyph.picture.empty() ? 0 : glyph.picture.width() / count;
  const int gh = glyph.picture.empty() ? 0 : glyph.picture.height();
  RECT measured{0, 0, 0, 0};
  if (!caption.empty())
    DrawTextW(dc, caption.c_str(), int(caption.size()), &measured, DT_CALCRECT | DT_SINGLELINE | DT_EXPANDTABS);
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  const GlyphLayout layout = glyph.layout == ui::GlyphLayout::right    ? GlyphLayout::right
                             : glyph.layout == ui::GlyphLayout::top    ? GlyphLayout::top
                             : glyph.layout == ui::GlyphLayout::bottom ? GlyphLayout::bottom
                                                                       : GlyphLayout::left;
  const GlyphCaptionPlace place = glyph_caption_layout(w, h, gw, gh, measured.right, measured.bottom, layout,
                                                       glyph.margin, glyph.spacing);
  if (gw > 0 && gh > 0) {
    // Four images show the state; a speed button takes the state's image
    // whenever it has that many, a bitmap button only with exactly four.
    const int wanted = glyph_index(face);
    const bool speed = kind() == Companion::speed_button;
    const int image = speed ? (wanted <= count ? wanted : 1) : (count == 4 ? wanted : 1);
    const ui::gdi_object<HBITMAP> piece = paint::create_dib(gw, gh);
    std::optional<COLORREF> key;
    if (piece) {
      const paint::memory_dc target(piece.get());
      HDC source = CreateCompatibleDC(dc);
      if (target && source) {
        HGDIOBJ previous = SelectObject(source, glyph.picture.handle());
        BitBlt(target.get(), 0, 0, gw, gh, source, (image - 1) * gw, 0, SRCCOPY);
        SelectObject(source, previous);
        key = GetPixel(target.get(), 0, 0);
      }
      if (source) DeleteDC(source);
    }
    // The piece is out of its DC again: it is blitted as a source bitmap.
    if (key)
      paint::transparent_blit(dc,
                              {place.glyph.left + rect.left, place.glyph.top + rect.top, place.glyph.right + rect.left,
                               place.glyph.bottom + rect.top},
                              piece.get(), *key);
  }
  if (!caption.empty()) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, caption_colour(face, normal));
    DrawSkinText(dc, caption,
                 {place.caption.left + rect.left, place.caption.top + rect.top, place.caption.right + rect.left,
                  place.caption.bottom + rect.top},
                 DT_SINGLELINE | DT_EXPANDTABS | align_flag(place.align));
  }
}

ui::SpeedButton* TSkinSpeedButton::button() const { return dynamic_cast<ui::SpeedButton*>(graphic_); }

Face TSkinSpeedButton::face() const {
  const ui::SpeedButton* b = button();
  return speed_button_face(mouse_ & kPressed, mouse_ & kHot, b ? b->enabled : enabled_, b && b->down);
}

bool TSkinSpeedButton::BeforeMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_PAINT: {
      ui::SpeedButton* b = button();
      if (!has_element() || !b || !m.wparam) return true;
      paint(reinterpret_cast<HDC>(m.wparam), {0, 0, b->width(), b->height()});
      m.result = 1;
      return false;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      // The button's own press handling first (it ignores a disabled press).
      CallDefault(m);
      if (button() && button()->enabled) mouse_ |= kPressed;
      Redraw();
      return false;
    default:
      return TSkinButton::BeforeMessage(m);
  }
}

void TSkinSpeedButton::AfterMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_LBUTTONUP:
      mouse_ &= uint8_t(~kPressed);
      Redraw();
      break;
    case ui::kMouseEnter:
      mouse_ |= kHot;
      Redraw();
      if (host_) {
        TSkinControl* other = host_->hot_button();
        if (other && other != this) other->SendMouseLeave();
        host_->set_hot_button(this);
      }
      break;
    case ui::kMouseLeave:
      mouse_ &= uint8_t(~(kHot | kPressed));
      if (button() && button()->visible()) Redraw();
      if (host_ && host_->hot_button() == this) host_->set_hot_button(nullptr);
      break;
    default:
      TSkinButton::AfterMessage(m);
      break;
  }
}

void TSkinSpeedButton::Redraw(HDC dc) {
  ui::SpeedButton* b = button();
  if (!b || !b->visible()) return;
  const RECT area{0, 0, b->width(), b->height()};
  if (dc) {
    paint(dc, area);
    return;
  }
  ui::WinControl* parent = b->parent();
  if (!parent || !parent->handle_allocated() || !IsWindowVisible(parent->handle())) return;
  const ui::dc_scope target(parent->handle());
  if (!target) return;
  const int saved = SaveDC(target.get());
  const RECT bounds = b->bounds();
  SetViewportOrgEx(target.get(), bounds.left, bounds.top, nullptr);
  IntersectClipRect(target.get(), 0, 0, area.right, area.bottom);
  try {
    paint(target.get(), area);
  } catch (...) {
  }
  RestoreDC(target.get(), saved);
}

void TSkinSpeedButton::paint(HDC dc, const RECT& rect) {
  ui::SpeedButton* b = button();
  if (!has_element() || !b) return;
  enabled_ = b->enabled;
  text_ = ui::widen(b->caption);
  const Face f = face();
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0 || w > 10000 || h > 10000) return;
  // The shared work bitmap of the painting routines, or a bitmap of our own
  // when painting has not been started.
  HDC work = paint::work_dc(w, h);
  std::optional<paint::memory_dc> own;
  if (!work) {
    if (!ensure_work(w, h)) return;
    own.emplace(work_.get());
    work = own->get();
  }
  if (!work) return;
  paint_face(work, w, h, f, data_->elements().Buttons->FrameCount);
  {
    ui::Canvas canvas(work);
    canvas.set_font(b->parent() ? b->parent()->font() : nullptr);
    if (b->glyph.picture.empty()) {
      SetTextColor(work, caption_colour(f, paint::to_colorref(data_->elements().colour(SkinColour::ButtonText))));
      draw_centred_caption(work, {0, 0, w, h}, text_);
    } else {
      draw_glyph_caption(work, {0, 0, w, h}, b->glyph, text_, f, GetSysColor(COLOR_BTNTEXT));
    }
  }
  BitBlt(dc, rect.left, rect.top, w, h, work, 0, 0, SRCCOPY);
}

}  // namespace clip::skin
