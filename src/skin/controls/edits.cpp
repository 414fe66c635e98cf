#include "skin/controls/edits.h"

#include <commctrl.h>

#include <cwctype>
#include <string>

#include "skin/paint/paint_win.h"
#include "ui/component.h"

namespace clip::skin {
namespace {

RECT to_rect(const Rect& r) { return {r.left, r.top, r.right, r.bottom}; }

void frame_with(HDC dc, const RECT& r, COLORREF colour) {
  const ui::gdi_object<HBRUSH> brush(CreateSolidBrush(colour));
  if (brush) FrameRect(dc, &r, brush.get());
}

void fill_with(HDC dc, const RECT& r, COLORREF colour) {
  const ui::gdi_object<HBRUSH> brush(CreateSolidBrush(colour));
  if (brush) FillRect(dc, &r, brush.get());
}

bool class_is(HWND hwnd, std::wstring_view wanted) {
  wchar_t name[64] = {};
  const int n = GetClassNameW(hwnd, name, 64);
  if (n <= 0 || size_t(n) != wanted.size()) return false;
  for (size_t i = 0; i < wanted.size(); ++i)
    if (std::towlower(name[i]) != std::towlower(wanted[i])) return false;
  return true;
}

// Hot tracking for windows that hear no mouse-enter message of the
// framework: the first move makes the control hot and asks the platform to
// say when the pointer leaves.
bool start_hot_tracking(HWND hwnd, uint8_t& mouse) {
  if ((mouse & TSkinControl::kHot) || !IsWindowEnabled(hwnd)) return false;
  mouse |= TSkinControl::kHot;
  TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd, 0};
  TrackMouseEvent(&track);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Edits

void TSkinEdit::AfterMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_PAINT:
      // A paint into a given DC (a caller drawing the edit elsewhere) is
      // left as the edit drew it.
      if (!m.wparam) Redraw();
      break;
    case WM_NCPAINT:
      // The platform drew its sunken edge again (a move, a style change).
      Redraw();
      break;
    case WM_PRINT:
      if (!m.wparam && hwnd_) {
        const paint::window_dc own(hwnd_);
        if (own.get()) draw_printed(own.get());
      }
      break;
    default:
      TSkinControl::AfterMessage(m);
      break;
  }
}

bool TSkinEdit::BeforeMessage(SkinMessage& m) {
  if (m.msg != WM_PRINT || !m.wparam) return TSkinControl::BeforeMessage(m);
  // The platform may leave the DC's origin moved to the client area after
  // printing it; the border is drawn from the origin the caller gave.
  const auto dc = reinterpret_cast<HDC>(m.wparam);
  const int saved = SaveDC(dc);
  CallDefault(m);
  RestoreDC(dc, saved);
  draw_printed(dc);
  return false;
}

void TSkinEdit::find_up_down() {
  if (up_down() || !hwnd_ || !host_ || !data_) return;
  for (HWND child = GetWindow(hwnd_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!class_is(child, UPDOWN_CLASSW) && !class_is(child, L"TSpinButton")) continue;
    auto* found = dynamic_cast<TSkinUpDown*>(host_->FindSkinControl(child));
    if (!found) {
      found = new TSkinUpDown;
      found->HookWindow(child, *data_, *host_);
    }
    found->in_edit = true;
    up_down_window_ = child;
    found->RepaintNow();
    return;
  }
}

TSkinUpDown* TSkinEdit::up_down() const {
  return host_ && up_down_window_ ? dynamic_cast<TSkinUpDown*>(host_->FindSkinControl(up_down_window_)) : nullptr;
}

void TSkinEdit::DrawSkin(HDC dc, const RECT& rect) {
  if (!hwnd_ || !data_) return;
  find_up_down();
  RECT client{};
  GetClientRect(hwnd_, &client);
  if (!edit_has_border(rect.right - rect.left, rect.bottom - rect.top, client.right, client.bottom, 1)) return;
  frame_with(dc, rect, skin_colour(SkinColour::ButtonShadow));
  RECT inner = rect;
  InflateRect(&inner, -1, -1);
  frame_with(dc, inner, RGB(255, 255, 255));
}

void TSkinEdit::draw_printed(HDC dc) {
  RECT window{}, client{};
  if (!hwnd_ || !GetWindowRect(hwnd_, &window) || !GetClientRect(hwnd_, &client)) return;
  const RECT r{0, 0, window.right - window.left, window.bottom - window.top};
  if (!edit_has_border(r.right, r.bottom, client.right, client.bottom, 3)) return;
  RECT inner = r;
  InflateRect(&inner, -1, -1);
  FrameRect(dc, &inner, static_cast<HBRUSH>(GetCurrentObject(dc, OBJ_BRUSH)));
  frame_with(dc, r, skin_colour(SkinColour::ButtonShadow));
}

// ---------------------------------------------------------------------------
// Combo boxes

Face TSkinComBox::face() const { return combo_face(mouse_ & kPressed, mouse_ & kHot, focused_, enabled_); }

void TSkinComBox::refresh_state() {
  const HWND focus = GetFocus();
  focused_ = focus && (focus == hwnd_ || IsChild(hwnd_, focus));
  enabled_ = !(GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_DISABLED);
}

void TSkinComBox::AfterMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      mouse_ |= kPressed;
      Redraw();
      break;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      // A press released over the dropped list (which took the capture)
      // never reaches the box as a button-up: losing the capture ends it.
      if (m.msg == WM_LBUTTONUP || (mouse_ & kPressed)) {
        mouse_ &= uint8_t(~kPressed);
        Redraw();
      }
      break;
    case WM_MOUSEMOVE:
      if (start_hot_tracking(hwnd_, mouse_)) Redraw();
      break;
    case ui::kMouseEnter:
    case ui::kMouseLeave:
    case WM_MOUSELEAVE:
      // A disabled box keeps its face whatever the mouse does.
      if (IsWindowEnabled(hwnd_)) {
        mouse_ = m.msg == ui::kMouseEnter ? uint8_t(mouse_ | kHot) : uint8_t(mouse_ & ~kHot);
        Redraw();
      }
      break;
    case WM_COMMAND:
      // The focus moved into or out of the box's own edit.
      if (HIWORD(m.wparam) == EN_SETFOCUS || HIWORD(m.wparam) == EN_KILLFOCUS) Redraw();
      break;
    default:
      TSkinControl::AfterMessage(m);
      break;
  }
}

void TSkinComBox::DrawSkin(HDC dc, const RECT& rect) {
  const TDataSkinBorder* button = data_ ? data_->elements().ComboButton.get() : nullptr;
  if (!button || button->Bitmap.empty() || !host_ || !hwnd_) return;
  refresh_state();
  if (button->Style == 1) {
    draw_simple(dc, rect, *button);
    return;
  }
  const TDataSkinObject* sunk = element(data_->elements().SunkEdge);
  if (!sunk) return;
  const int d = int(face());
  const bool left = (GetWindowLongPtrW(hwnd_, GWL_EXSTYLE) & WS_EX_LEFTSCROLLBAR) != 0;
  const Rect r{rect.left, rect.top, rect.right, rect.bottom};
  const ComboParts parts = combo_parts(r, GetSystemMetrics(SM_CXHSCROLL), left);

  const int saved = SaveDC(dc);
  // The box's edit area keeps what the platform painted there.
  ExcludeClipRect(dc, parts.edit.left, parts.edit.top, parts.edit.right, parts.edit.bottom);
  paint::draw_nine_part(dc, r, bitmap_of(*sunk), paint::Strip::horizontal, sunk->Tile != 0, sunk->Trans == 1,
                        sunk->FrameCount, d, margins_of(*sunk));
  // The mirror reverses the order of the frames too: frame d of the picture
  // is the mirror's frame counted from the other end.
  paint::draw_strip_frame(dc, parts.button, host_->pixels_bitmap(left ? button->Bitmap2 : button->Bitmap), true,
                          button->FrameCount, left ? button->FrameCount + 1 - d : d);
  if (const TDataSkinObject* glyphs = element(data_->elements().ExtraImages)) {
    const int w = glyphs->Bitmap.width / glyphs->FrameCount, h = glyphs->Bitmap.height;
    if (w > 0)
      paint::draw_strip_frame(dc, centred(parts.glyph, w, h), bitmap_of(*glyphs), true, glyphs->FrameCount, d);
  }
  RestoreDC(dc, saved);
}

void TSkinComBox::draw_simple(HDC dc, const RECT& rect, const TDataSkinBorder& button) {
  const int d = int(face());
  const auto brush = static_cast<HBRUSH>(GetCurrentObject(dc, OBJ_BRUSH));
  RECT ring = rect;
  InflateRect(&ring, -1, -1);
  FrameRect(dc, &ring, brush);
  const Rect b = simple_combo_button({rect.left, rect.top, rect.right, rect.bottom}, GetSystemMetrics(SM_CYVTHUMB));
  const RECT area = to_rect(b);
  FillRect(dc, &area, brush);
  paint::draw_strip_frame(dc, b, host_->pixels_bitmap(button.Bitmap), false, button.FrameCount, d);
  frame_with(dc, rect, skin_colour(SkinColour::ButtonShadow));
}

// ---------------------------------------------------------------------------
// Up-down controls

bool TSkinUpDown::BeforeMessage(SkinMessage& m) {
  if (take_painting(m)) return false;
  switch (m.msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      CallDefault(m);
      mouse_ |= kPressed;
      Redraw();
      return false;
    case WM_LBUTTONUP:
      mouse_ &= uint8_t(~kPressed);
      CallDefault(m);
      Redraw();
      return false;
    default:
      return TSkinControl::BeforeMessage(m);
  }
}

void TSkinUpDown::AfterMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_MOUSEMOVE: {
      const bool started = start_hot_tracking(hwnd_, mouse_);
      // Each paint decides by the pointer: repaint when it crossed halves.
      if (started || (mouse_ && int(buttons().pointer_in_first) != painted_half_)) Redraw();
      break;
    }
    case ui::kMouseEnter:
    case ui::kMouseLeave:
    case WM_MOUSELEAVE:
      if (m.msg != ui::kMouseEnter || IsWindowEnabled(hwnd_))
        mouse_ = m.msg == ui::kMouseEnter ? uint8_t(mouse_ | kHot) : uint8_t(mouse_ & ~kHot);
      Redraw();
      break;
    default:
      TSkinControl::AfterMessage(m);
      break;
  }
}

UpDownButtons TSkinUpDown::buttons() const {
  RECT client{};
  GetClientRect(hwnd_, &client);
  Rect q{0, 0, client.right, client.bottom};
  if (in_edit) q = {1, 1, client.right - 1, client.bottom - 1};
  POINT p{};
  GetCursorPos(&p);
  ScreenToClient(hwnd_, &p);
  const bool side_by_side = in_tab_set || (GetWindowLongPtrW(hwnd_, GWL_STYLE) & UDS_HORZ);
  return updown_buttons(q, side_by_side, p.x, p.y);
}

std::pair<int, int> TSkinUpDown::states() const {
  if (!hwnd_) return {1, 1};
  const bool enabled = !(GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_DISABLED);
  const bool first = buttons().pointer_in_first;
  const bool pressed = mouse_ & kPressed, hot = mouse_ & kHot;
  return {updown_state(first, pressed, hot, enabled), updown_state(!first, pressed, hot, enabled)};
}

void TSkinUpDown::DrawSkin(HDC dc, const RECT& rect) {
  if (!hwnd_ || !data_) return;
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int w = client.right, h = client.bottom;
  if (w <= 0 || h <= 0) return;
  HDC work = paint::work_dc(w, h);
  if (!work) return;
  fill_with(work, client, skin_colour(SkinColour::ButtonFace));
  const UpDownButtons b = buttons();
  const auto [first, second] = states();
  const bool side_by_side = b.first.top == b.second.top && b.first.left != b.second.left;
  draw_button(work, b.first, side_by_side ? 2 : 0, first);
  draw_button(work, b.second, side_by_side ? 3 : 1, second);
  painted_half_ = int(b.pointer_in_first);
  BitBlt(dc, rect.left, rect.top, w, h, work, 0, 0, SRCCOPY);
}

void TSkinUpDown::draw_button(HDC dc, const Rect& button, int kind, int state) const {
  const auto& slot = kind < 2 ? data_->elements().UpDownVert : data_->elements().UpDownHorz;
  if (slot && !slot->Bitmap.empty() && host_) {
    const int f = updown_frame(state, kind % 2 == 1);
    paint::draw_strip_frame(dc, button, host_->pixels_bitmap(slot->Bitmap), true, slot->FrameCount, f);
    if (!slot->Bitmap2.empty()) {
      const int gw = slot->Bitmap2.width / slot->FrameCount, gh = slot->Bitmap2.height;
      if (gw > 0)
        paint::draw_strip_frame(dc, centred(button, gw, gh), host_->pixels_bitmap(slot->Bitmap2), true,
                                slot->FrameCount, f);
    }
    return;
  }
  const RECT r = to_rect(button);
  const bool down = state == 2 || state == 4;
  fill_with(dc, r, skin_colour(down ? SkinColour::ButtonShadow : SkinColour::ButtonFace));
  frame_with(dc, r, skin_colour(SkinColour::ButtonDkShadow));
  // A small arrow of four rows (or columns), its point towards `kind`.
  const COLORREF ink = skin_colour(state == 3 ? SkinColour::ButtonShadow : SkinColour::ButtonText);
  const int cx = button.left + button.width() / 2, cy = button.top + button.height() / 2 - (kind < 2 ? 2 : 0);
  for (int i = 0; i < 4; ++i) {
    RECT line{};
    switch (kind) {
      case 0: line = {cx - i, cy + i, cx + i + 1, cy + i + 1}; break;
      case 1: line = {cx - 3 + i, cy + i, cx + 4 - i, cy + i + 1}; break;
      case 2: line = {cx - 2 + i, cy - i, cx - 1 + i, cy + i + 1}; break;
      default: line = {cx + 1 - i, cy - i, cx + 2 - i, cy + i + 1}; break;
    }
    fill_with(dc, line, ink);
  }
}

}  // namespace clip::skin
