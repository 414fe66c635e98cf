#include "skin/frame/popup_menu.h"

#include "skin/frame/gdi_helpers.h"
#include "skin/frame/subclass.h"
#include "skin/paint/paint_win.h"
#include "ui/window.h"

namespace clip::skin {
namespace {

// The popup-menu skin of a window, and the procedure it replaced (kept while
// someone who subclassed on top of us still calls our procedure).
constexpr wchar_t kPopupProp[] = L"ClipSalvage.PopupSkin";
constexpr wchar_t kSavedProcProp[] = L"ClipSalvage.PopupSkin.Saved";

bool skinning_active() {
  const TSkinManager* manager = TSkinManager::instance();
  return manager && manager->active();
}

// BeginPaint and EndPaint on every way out.
class paint_scope {
 public:
  explicit paint_scope(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &ps_)) {}
  ~paint_scope() { EndPaint(hwnd_, &ps_); }
  paint_scope(const paint_scope&) = delete;
  paint_scope& operator=(const paint_scope&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_;
};

// SaveDC and RestoreDC around a clipped, transparent rendering.
class state_scope {
 public:
  explicit state_scope(HDC dc) : dc_(dc), saved_(SaveDC(dc)) {}
  ~state_scope() {
    if (saved_) RestoreDC(dc_, saved_);
  }
  state_scope(const state_scope&) = delete;
  state_scope& operator=(const state_scope&) = delete;

 private:
  HDC dc_;
  int saved_;
};

}  // namespace

TPopupMenuSkin::~TPopupMenuSkin() { DetachPopup(); }

bool TPopupMenuSkin::AttachPopup(HWND popup, TSkinData& data, HMENU menu) {
  if (saved_proc_ || !popup || !IsWindow(popup) || GetPropW(popup, kPopupProp)) return false;
  hwnd_ = popup;
  data_ = &data;
  menu_ = menu;
  SetPropW(popup, kPopupProp, this);
  saved_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(popup, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TPopupMenuSkin::PopupWindowProc)));
  SetPropW(popup, kSavedProcProp, reinterpret_cast<HANDLE>(saved_proc_));
  return true;
}

void TPopupMenuSkin::DetachPopup() {
  if (saved_proc_) {
    if (IsWindow(hwnd_)) {
      RemovePropW(hwnd_, kPopupProp);
      const auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd_, GWLP_WNDPROC));
      if (current == &TPopupMenuSkin::PopupWindowProc) {
        SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(saved_proc_));
        RemovePropW(hwnd_, kSavedProcProp);
      }
    }
    saved_proc_ = nullptr;
  }
  background_.reset();
}

LRESULT CALLBACK TPopupMenuSkin::PopupWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* self = static_cast<TPopupMenuSkin*>(GetPropW(hwnd, kPopupProp));
  if (!self) return forward_to_saved(hwnd, kSavedProcProp, msg, wparam, lparam);
  return ui::guard_message(hwnd, msg, [&] { return self->handle_message(msg, wparam, lparam); });
}

LRESULT TPopupMenuSkin::call_saved(UINT msg, WPARAM wparam, LPARAM lparam) {
  return call_procedure(saved_proc_ ? saved_proc_ : saved_procedure(hwnd_, kSavedProcProp), hwnd_, msg, wparam, lparam);
}

TPopupMenuSkin::Shape TPopupMenuSkin::shape() const {
  Shape s;
  RECT window{}, client{};
  GetWindowRect(hwnd_, &window);
  GetClientRect(hwnd_, &client);
  POINT origin{0, 0};
  ClientToScreen(hwnd_, &origin);
  s.width = window.right - window.left;
  s.height = window.bottom - window.top;
  s.origin = {origin.x - window.left, origin.y - window.top};
  const menu::Rect inside{s.origin.x, s.origin.y, s.origin.x + client.right, s.origin.y + client.bottom};
  s.ring = menu::popup_ring(s.width, s.height, inside);
  s.border_inside = inside == menu::Rect{0, 0, s.width, s.height};
  return s;
}

LRESULT TPopupMenuSkin::handle_message(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kSkinQueryMessage) return 1;
  if (!skinning_active()) return call_saved(msg, wparam, lparam);
  switch (msg) {
    case WM_DESTROY: {
      // The window goes: it gets its own procedure back first.
      WNDPROC saved = saved_proc_;
      DetachPopup();
      return call_procedure(saved, hwnd_, msg, wparam, lparam);
    }
    case WM_NCPAINT: {
      const Shape s = shape();
      if (s.border_inside || !build_background(s)) return call_saved(msg, wparam, lparam);
      become_current();
      paint_border(s);
      return 0;
    }
    case WM_ERASEBKGND: {
      const Shape s = shape();
      if (s.border_inside && data_ && !data_->not_ready() && data_->elements().MenuBackground &&
          !data_->elements().MenuBackground->Bitmap.empty())
        return 1;  // WM_PAINT covers every pixel
      return call_saved(msg, wparam, lparam);
    }
    case WM_PAINT: {
      const Shape s = shape();
      if (!s.border_inside || !build_background(s)) return call_saved(msg, wparam, lparam);
      paint_inside(s);
      return 0;
    }
    case WM_PRINT: {
      const Shape s = shape();
      become_current();
      if (!build_background(s)) return call_saved(msg, wparam, lparam);
      print(reinterpret_cast<HDC>(wparam), lparam, s);
      return 0;
    }
    default:
      return call_saved(msg, wparam, lparam);
  }
}

bool TPopupMenuSkin::build_background(const Shape& s) {
  if (!data_ || data_->not_ready() || s.width <= 0 || s.height <= 0) return false;
  const TDataSkinObject* element = data_->elements().MenuBackground.get();
  if (!element || element->Bitmap.empty()) return false;
  if (!element_) element_ = bitmap_of(element->Bitmap);
  if (!element_) return false;
  background_ = paint::build_nine_part_bitmap(
      s.width, s.height, element_.get(),
      {element->LeftWidth, element->TopHeight, element->RightWidth, element->BottomHeight}, paint::Strip::horizontal,
      element->Tile == 1, 1, 1);
  origin_ = s.origin;
  return background_.valid();
}

void TPopupMenuSkin::become_current() {
  if (menu_) return;
  if (TSkinManager* manager = TSkinManager::instance()) manager->set_current_popup(this);
}

void TPopupMenuSkin::paint_border(const Shape& s) {
  paint::window_dc target(hwnd_);
  paint::memory_dc from(background_.get());
  if (!target.get() || !from) return;
  for (const menu::Rect& r : menu::border_rects(s.width, s.height, s.ring))
    BitBlt(target.get(), r.left, r.top, r.width(), r.height(), from.get(), r.left, r.top, SRCCOPY);
}

void TPopupMenuSkin::paint_inside(const Shape& s) {
  paint_scope target(hwnd_);
  become_current();
  ui::gdi_object<HBITMAP> composed = paint::create_dib(s.width, s.height);
  if (!target.get() || !composed) return;
  paint::memory_dc work(composed.get());
  if (!work) return;
  {
    // Out of its DC again before the items copy from it: a bitmap can be
    // selected into one DC at a time.
    paint::memory_dc from(background_.get());
    if (!from) return;
    BitBlt(work.get(), 0, 0, s.width, s.height, from.get(), 0, 0, SRCCOPY);
  }
  {
    // The window's own painting draws its border and the items; only the
    // items, inside the ring, are kept.
    state_scope state(work.get());
    const menu::Rect inner = menu::inner_rect(s.width, s.height, s.ring);
    IntersectClipRect(work.get(), inner.left, inner.top, inner.right, inner.bottom);
    SetBkMode(work.get(), TRANSPARENT);
    call_saved(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(work.get()), PRF_CLIENT);
  }
  BitBlt(target.get(), 0, 0, s.width, s.height, work.get(), 0, 0, SRCCOPY);
}

void TPopupMenuSkin::print(HDC dc, LPARAM flags, const Shape& s) {
  {
    paint::memory_dc from(background_.get());
    if (from) BitBlt(dc, 0, 0, s.width, s.height, from.get(), 0, 0, SRCCOPY);
  }
  state_scope state(dc);
  SetBkMode(dc, TRANSPARENT);
  const menu::Rect inner = menu::inner_rect(s.width, s.height, s.ring);
  IntersectClipRect(dc, inner.left, inner.top, inner.right, inner.bottom);
  call_saved(WM_PRINT, reinterpret_cast<WPARAM>(dc), flags);
}

std::unique_ptr<PopupSkin> attach_popup_skin(HWND popup, TSkinData& data) {
  auto skin = std::make_unique<TPopupMenuSkin>();
  if (!skin->AttachPopup(popup, data, nullptr)) return nullptr;
  return skin;
}

TPopupMenuSkin* find_popup_skin(HWND popup) {
  if (!popup || !IsWindow(popup)) return nullptr;
  return static_cast<TPopupMenuSkin*>(GetPropW(popup, kPopupProp));
}

}  // namespace clip::skin
