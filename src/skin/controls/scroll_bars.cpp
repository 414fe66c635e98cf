#include "skin/controls/scroll_bars.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <string>

#include "skin/data/skin_win.h"
#include "skin/manager/skin_manager.h"
#include "skin/paint/paint_win.h"
#include "ui/canvas.h"

namespace clip::skin {
namespace {

ScrollState state_of(const SCROLLINFO& info) {
  return {info.nMin, info.nMax, int(info.nPage), info.nPos, info.nTrackPos};
}

int arrow_size() { return GetSystemMetrics(SM_CXHSCROLL); }

int min_thumb() { return minimum_thumb(arrow_size(), TSkinManager::windows_version()); }

// Arrow frames of the "Scrollbar" strip: normal, pressed.
constexpr int kLeftArrow = 1, kRightArrow = 5, kUpArrow = 9, kDownArrow = 13;
constexpr int kArrowFrames = 23;

// The pressed part a scroll request shows: line requests press their arrow,
// the thumb's track request the thumb, anything else nothing.
int pressed_for(WPARAM request, bool vertical) {
  switch (LOWORD(request)) {
    case SB_LINEUP: return vertical ? 3 : 1;
    case SB_LINEDOWN: return vertical ? 4 : 2;
    case SB_THUMBTRACK: return vertical ? 6 : 5;
    default: return 0;
  }
}

}  // namespace

void paint_scroll_bar(HDC dc, const Rect& bar, bool vertical, const Thumb& thumb, int pressed, int arrow,
                      const TSkinData& data, CompanionHost& host) {
  const SkinElements& e = data.elements();
  const TDataSkinObject* arrows = e.Scrollbar.get();
  if (!arrows || arrows->Bitmap.empty()) return;
  const int length = vertical ? bar.height() : bar.width();
  constexpr int kAcross = 16;
  if (length <= 0 || length > 10000 || bar.width() <= 0 || bar.height() <= 0) return;
  const int w = vertical ? kAcross : length, h = vertical ? length : kAcross;
  const ui::gdi_object<HBITMAP> work = paint::create_dib(w, h);
  if (!work) return;
  const paint::memory_dc mdc(work.get());
  if (!mdc) return;
  {
    ui::Canvas canvas(mdc.get());
    canvas.fill_rect({0, 0, w, h}, paint::to_colorref(e.colour(SkinColour::Scrollbar)));
  }
  const BarPieces pieces = bar_pieces(length, kAcross, vertical, arrow, thumb);
  const TDataSkinObject* track = (vertical ? e.VertScroll : e.HorzScroll).get();
  if (track && !track->Bitmap.empty())
    paint::draw_nine_part(mdc.get(), pieces.track, host.element_bitmap(*track), paint::Strip::horizontal,
                          track->Tile != 0, track->Trans != 0, 4, 1, margins_of(*track));
  const int first = vertical ? kUpArrow : kLeftArrow, second = vertical ? kDownArrow : kRightArrow;
  const int first_pressed = vertical ? 3 : 1, second_pressed = vertical ? 4 : 2;
  HBITMAP strip = host.element_bitmap(*arrows);
  paint::draw_strip_frame(mdc.get(), pieces.first, strip, true, kArrowFrames, first + (pressed == first_pressed));
  paint::draw_strip_frame(mdc.get(), pieces.second, strip, true, kArrowFrames, second + (pressed == second_pressed));
  const TDataSkinObject* knob = (vertical ? e.VertScrollThumb : e.HorzScrollThumb).get();
  if (pieces.thumb && knob && !knob->Bitmap.empty()) {
    const bool down = pressed == (vertical ? 6 : 5);
    paint::draw_nine_part(mdc.get(), *pieces.thumb, host.element_bitmap(*knob), paint::Strip::horizontal, false,
                          knob->Trans != 0, knob->FrameCount, down ? 2 : 1, margins_of(*knob));
  }
  const int mode = SetStretchBltMode(dc, COLORONCOLOR);
  StretchBlt(dc, bar.left, bar.top, bar.width(), bar.height(), mdc.get(), 0, 0, w, h, SRCCOPY);
  if (mode) SetStretchBltMode(dc, mode);
}

void TSkinScrollbar::HookScrolling(ui::WinControl& control, TSkinData& data, bool take_over, CompanionHost& host) {
  if (attached_) return;
  bind(host, data, control);
  hook_handler(control);
  host.AddSkinControl(*this);
  dragging_ = false;
  scrolling_[0] = scrolling_[1] = false;
  take_over_ = take_over;
  attached_ = true;
  state_ = hooked;
  frame_changed();
}

void TSkinScrollbar::HookWindow(HWND hwnd, TSkinData& data, CompanionHost& host) {
  TSkinControl::HookWindow(hwnd, data, host);
  take_over_ = false;
  if (attached_) frame_changed();
}

void TSkinScrollbar::frame_changed() {
  if (hwnd_)
    SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TSkinScrollbar::RestoreColor() {
  // The platform draws its own bars again from the next frame paint.
  if (hwnd_ && IsWindow(hwnd_)) RedrawWindow(hwnd_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
}

void TSkinScrollbar::on_detach() {
  if (dragging_) {
    dragging_ = false;
    drag_cancelled_ = true;
  }
}

bool TSkinScrollbar::BeforeMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_NCCALCSIZE:
      CallDefault(m);
      return false;
    case WM_NCMOUSEMOVE:
      // The platform would redraw its own bar under the pointer.
      if (m.wparam == HTHSCROLL || m.wparam == HTVSCROLL) return false;
      return true;
    case WM_NCLBUTTONDOWN:
      if (take_over_ && start_drag(m.wparam, {GET_X_LPARAM(m.lparam), GET_Y_LPARAM(m.lparam)})) return false;
      return true;
    case WM_HSCROLL:
    case WM_VSCROLL: {
      const int bar = m.msg == WM_VSCROLL;
      pressed_ = pressed_for(m.wparam, bar == 1);
      scrolling_[bar] = true;
      CallDefault(m);
      scrolling_[bar] = false;
      Redraw();
      return false;
    }
    case WM_CANCELMODE:
    case WM_CAPTURECHANGED:
      if (dragging_) {
        dragging_ = false;
        drag_cancelled_ = true;
      }
      return true;
    default:
      return TSkinControl::BeforeMessage(m);
  }
}

void TSkinScrollbar::AfterMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_SIZE:
    case WM_NCPAINT:
    case WM_PRINT:
      RepaintNow();
      break;
    default:
      TSkinControl::AfterMessage(m);
      // A control that changes its range or position (rows added below the
      // visible ones, a key that scrolls) has the platform redraw the bar
      // at once, without any message; the skin follows here.
      if (!dragging_ && bars_changed()) Redraw();
      break;
  }
}

bool TSkinScrollbar::bars_changed() const {
  if (!hwnd_ || state_ == gone) return false;
  const auto style = DWORD(GetWindowLongPtrW(hwnd_, GWL_STYLE));
  for (int bar = 0; bar < 2; ++bar) {
    const bool shown = style & (bar ? WS_VSCROLL : WS_HSCROLL);
    if (shown != painted_[bar]) return true;
    SCROLLINFO info{sizeof(info), SIF_ALL};
    if (!shown || !GetScrollInfo(hwnd_, bar ? SB_VERT : SB_HORZ, &info)) continue;
    const SCROLLINFO& last = bars_[bar].info;
    if (info.nMin != last.nMin || info.nMax != last.nMax || info.nPage != last.nPage || info.nPos != last.nPos)
      return true;
  }
  return false;
}

void TSkinScrollbar::measure(int bar, int length) {
  if (dragging_ || !hwnd_) return;
  measure_thumb(length, arrow_size(), state_of(bars_[bar].info), min_thumb(), GetSystemMetrics(SM_CXHTHUMB),
                bars_[bar].thumb);
}

void TSkinScrollbar::DrawSkin(HDC dc, const RECT& rect) {
  if (!host_ || !data_ || !element(data_->elements().Scrollbar)) return;
  const auto style = DWORD(GetWindowLongPtrW(hwnd_, GWL_STYLE));
  const auto ex_style = DWORD(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
  const bool horz = (style & WS_HSCROLL) || scrolling_[0];
  const bool vert = (style & WS_VSCROLL) || scrolling_[1];
  painted_[0] = style & WS_HSCROLL;
  painted_[1] = style & WS_VSCROLL;
  // While dragging, the loop keeps the information it sets itself.
  for (int bar = 0; bar < 2 && !dragging_; ++bar) {
    SCROLLINFO info{sizeof(info), SIF_ALL};
    if (painted_[bar] && GetScrollInfo(hwnd_, bar ? SB_VERT : SB_HORZ, &info)) bars_[bar].info = info;
  }
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if ((!horz && !vert) || w > 10000 || h > 10000) return;
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int arrow = arrow_size();
  rects_ = scroll_bar_rects(w, h, client.right, client.bottom, arrow, horz, vert, ex_style & WS_EX_LEFTSCROLLBAR);
  auto paint_bar = [&](int bar, Rect r) {
    // While the platform handles a scroll request it draws that bar itself.
    if (r.empty() || scrolling_[bar]) return;
    measure(bar, bar ? r.height() : r.width());
    r = {r.left + rect.left, r.top + rect.top, r.right + rect.left, r.bottom + rect.top};
    paint_scroll_bar(dc, r, bar == 1, bars_[bar].thumb, pressed_, arrow, *data_, *host_);
  };
  if (horz) paint_bar(0, rects_.horz);
  if (vert) paint_bar(1, rects_.vert);
  if (horz && vert && !rects_.corner.empty()) {
    const Rect& c = rects_.corner;
    FillFace(dc, {c.left + rect.left, c.top + rect.top, c.right + rect.left, c.bottom + rect.top});
  }
}

bool TSkinScrollbar::start_drag(WPARAM hit, POINT screen) {
  if ((hit != HTHSCROLL && hit != HTVSCROLL) || !hwnd_) return false;
  const int bar = hit == HTVSCROLL;
  RECT window{};
  GetWindowRect(hwnd_, &window);
  // Fresh rectangles and thumb: the last paint may be older than the range.
  Redraw();
  const Rect& r = bar ? rects_.vert : rects_.horz;
  if (r.empty()) return false;
  const int along = bar ? screen.y - window.top - r.top : screen.x - window.left - r.left;
  if (part_at(along, arrow_size(), bars_[bar].thumb) != ScrollPart::thumb) return false;
  pressed_ = bar ? 6 : 5;
  Redraw();
  track(bar, bar ? WM_VSCROLL : WM_HSCROLL, screen);
  return true;
}

void TSkinScrollbar::track(int bar, UINT scroll_message, POINT start) {
  const HWND window = hwnd_;
  dragging_ = true;
  drag_cancelled_ = false;
  const Thumb thumb = bars_[bar].thumb;
  const ScrollState at_start = state_of(bars_[bar].info);
  int last = at_start.pos;
  bool released = false;
  // The capture brings every mouse message here, also from outside the
  // window, so the release is never missed.
  SetCapture(window);
  while (dragging_ && state_ != gone) {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      WaitMessage();
      continue;
    }
    if (msg.message == WM_QUIT) {
      PostQuitMessage(int(msg.wParam));
      drag_cancelled_ = true;
      break;
    }
    if (msg.message == WM_LBUTTONUP || msg.message == WM_NCLBUTTONUP) {
      released = true;
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    if (msg.message != WM_MOUSEMOVE && msg.message != WM_NCMOUSEMOVE) continue;
    if (!dragging_ || state_ == gone) break;
    POINT at{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
    if (msg.message == WM_MOUSEMOVE) ClientToScreen(msg.hwnd, &at);
    const DragStep step = drag_thumb(thumb.offset, bar ? at.y - start.y : at.x - start.x, thumb, at_start);
    if (step.position != last) {
      SCROLLINFO info{sizeof(info), SIF_POS};
      info.nPos = step.position;
      SetScrollInfo(window, bar ? SB_VERT : SB_HORZ, &info, FALSE);
      bars_[bar].thumb.offset = step.offset;
      bars_[bar].info.nPos = bars_[bar].info.nTrackPos = step.position;
      SendMessageW(window, scroll_message, MAKEWPARAM(SB_THUMBTRACK, step.position), 0);
    }
    last = step.position;
  }
  dragging_ = false;
  if (IsWindow(window) && GetCapture() == window) ReleaseCapture();
  // A window that went, or a companion taken off meanwhile, hears nothing
  // more; a release or a cancellation ends the scroll where it stands.
  if (state_ == gone || detached() || !IsWindow(window) || !(released || drag_cancelled_)) return;
  SendMessageW(window, scroll_message, MAKEWPARAM(SB_THUMBPOSITION, last), 0);
  PostMessageW(window, scroll_message, MAKEWPARAM(SB_ENDSCROLL, 0), 0);
}

void TSkinListView::HookScrolling(ui::WinControl& control, TSkinData& data, bool take_over, CompanionHost& host) {
  if (attached_) return;
  TSkinScrollbar::HookScrolling(control, data, take_over, host);
  HWND header = hwnd_ ? ListView_GetHeader(hwnd_) : nullptr;
  if (!header || host.FindSkinControl(header)) return;
  auto* companion = new TSkinHeader();
  host.AddSkinControl(*companion);
  companion->HookWindow(header, data, host);
}

bool TSkinHeader::BeforeMessage(SkinMessage& m) {
  if (m.msg == WM_ERASEBKGND && data_ && element(data_->elements().Headerbar)) {
    m.result = 1;
    return false;
  }
  return TSkinControl::BeforeMessage(m);
}

void TSkinHeader::DrawSkin(HDC dc, const RECT& rect) {
  if (!data_ || !host_) return;
  const TDataSkinObject* e = element(data_->elements().Headerbar);
  if (!e) return;
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0 || w > 10000 || h > 10000) return;
  const ui::gdi_object<HBITMAP> work = paint::create_dib(w, h);
  const paint::memory_dc mdc(work.get());
  if (!mdc) return;
  HBITMAP picture = host_->element_bitmap(*e);
  {
    ui::Canvas canvas(mdc.get());
    canvas.set_font(reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0)));
    SetBkMode(mdc.get(), TRANSPARENT);
    int rightmost = 0;
    const int count = int(SendMessageW(hwnd_, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      RECT item{};
      if (!SendMessageW(hwnd_, HDM_GETITEMRECT, WPARAM(i), reinterpret_cast<LPARAM>(&item))) continue;
      draw_item(mdc.get(), i, item, picture, *e);
      rightmost = std::max(rightmost, int(item.right));
    }
    if (rightmost < w) {
      const ui::gdi_object<HBITMAP> rest = paint::build_nine_part_bitmap(
          w - rightmost, h, picture, margins_of(*e), paint::Strip::horizontal, e->Tile != 0, e->FrameCount, 1);
      const paint::memory_dc source(rest.get());
      if (source) BitBlt(mdc.get(), rightmost, 0, w - rightmost, h, source.get(), 0, 0, SRCCOPY);
    }
  }
  BitBlt(dc, rect.left, rect.top, w, h, mdc.get(), 0, 0, SRCCOPY);
}

void TSkinHeader::draw_item(HDC dc, int index, const RECT& item, HBITMAP picture, const TDataSkinObject& e) {
  wchar_t text[201] = {};
  HDITEMW info{};
  info.mask = HDI_TEXT | HDI_FORMAT | HDI_IMAGE;
  info.pszText = text;
  info.cchTextMax = 200;
  SendMessageW(hwnd_, HDM_GETITEMW, WPARAM(index), reinterpret_cast<LPARAM>(&info));
  const Rect area{item.left, item.top, item.right, item.bottom};
  paint::draw_nine_part(dc, area, picture, paint::Strip::horizontal, e.Tile != 0, e.Trans != 0, e.FrameCount, 1,
                        margins_of(e));
  const std::wstring caption = text;
  if (caption.empty()) return;
  auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(hwnd_, HDM_GETIMAGELIST, 0, 0));
  const bool show_image = images && info.iImage >= 0 && (info.fmt & (HDF_IMAGE | 0x8000));
  int iw = 0, ih = 0;
  if (show_image) ImageList_GetIconSize(images, &iw, &ih);
  const TextAlign align = (info.fmt & HDF_RIGHT) ? TextAlign::right
                          : (info.fmt & HDF_CENTER) ? TextAlign::centre
                                                    : TextAlign::left;
  RECT measured{0, 0, 0, 0};
  DrawTextW(dc, caption.c_str(), int(caption.size()), &measured, DT_CALCRECT | DT_SINGLELINE | DT_EXPANDTABS);
  const HeaderItemPlace place =
      header_item_layout(area, iw, ih, measured.right - measured.left, measured.bottom - measured.top, align);
  if (show_image) ImageList_Draw(images, info.iImage, dc, place.image.left, place.image.top, ILD_TRANSPARENT);
  const bool disabled = GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_DISABLED;
  SetTextColor(dc, disabled ? GetSysColor(COLOR_BTNSHADOW)
                            : paint::to_colorref(data_->elements().colour(SkinColour::ButtonText)));
  // A caption wider than its column ends in an ellipsis inside the column.
  RECT text_rect{place.text.left, place.text.top, std::min<LONG>(place.text.right, item.right - 2), place.text.bottom};
  DrawSkinText(dc, caption, text_rect, DT_SINGLELINE | DT_EXPANDTABS | DT_END_ELLIPSIS | DT_NOPREFIX);
}

bool TSkinScControl::BeforeMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_NCMOUSEMOVE:
      return !(m.wparam == HTHSCROLL || m.wparam == HTVSCROLL);
    case SBM_SETSCROLLINFO:
    case SBM_SETPOS:
    case SBM_SETRANGEREDRAW:
      CallDefault(m);
      Redraw();
      return false;
    case ui::kReflectHScroll:
    case ui::kReflectVScroll:
      pressed_ = pressed_for(m.wparam, m.msg == ui::kReflectVScroll);
      CallDefault(m);
      Redraw();
      return false;
    default:
      return TSkinControl::BeforeMessage(m);
  }
}

void TSkinScControl::DrawSkin(HDC dc, const RECT& rect) {
  if (!host_ || !data_ || !element(data_->elements().Scrollbar)) return;
  const bool vertical = GetWindowLongPtrW(hwnd_, GWL_STYLE) & SBS_VERT;
  const Rect bar{rect.left, rect.top, rect.right, rect.bottom};
  SCROLLINFO info{sizeof(info), SIF_ALL};
  if (GetScrollInfo(hwnd_, SB_CTL, &info))
    measure_control_thumb(vertical ? bar.height() : bar.width(), arrow_size(), state_of(info), min_thumb(),
                          GetSystemMetrics(SM_CXHTHUMB), thumb_);
  paint_scroll_bar(dc, bar, vertical, thumb_, pressed_, arrow_size(), *data_, *host_);
}

bool TSkinSizer::BeforeMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_PAINT:
      if (m.wparam) {
        ValidateRect(hwnd_, nullptr);
      } else {
        PAINTSTRUCT ps;
        BeginPaint(hwnd_, &ps);
        EndPaint(hwnd_, &ps);
      }
      return false;
    case WM_ERASEBKGND:
      m.result = 1;
      return false;
    default:
      return TSkinControl::BeforeMessage(m);
  }
}

void TSkinSizer::DrawSkin(HDC dc, const RECT& rect) {
  if (!data_) return;
  ui::gdi_object<HBRUSH> shadow(CreateSolidBrush(paint::to_colorref(data_->elements().colour(SkinColour::ButtonShadow))));
  if (shadow) FrameRect(dc, &rect, shadow.get());
}

}  // namespace clip::skin
