#include "skin/controls/skin_control.h"

#include <algorithm>

#include "skin/data/skin_win.h"
#include "skin/paint/paint_win.h"
#include "ui/guard.h"
#include "ui/window.h"

namespace clip::skin {
namespace {

// The companion of a window attached by its procedure, and the procedure it
// replaced. The second outlives the first when someone subclassed the window
// on top of the companion before it detached: the companion's procedure then
// stays in the chain and only passes messages on.
constexpr wchar_t kCompanionProp[] = L"ClipSalvage.Companion";
constexpr wchar_t kCompanionSavedProp[] = L"ClipSalvage.Companion.Saved";

}  // namespace

// The link between a control's handler chain and its companion. The handler
// that the control holds keeps the link alive, so a message that arrives
// after the companion detached still reaches the previous handler.
struct TSkinControl::HandlerLink {
  TSkinControl* companion;
  ui::MessageHandler previous;
};

struct TSkinControl::SkinHandler {
  std::shared_ptr<HandlerLink> link;
  LRESULT operator()(ui::Message& m) const {
    const std::shared_ptr<HandlerLink> keep = link;
    if (TSkinControl* companion = keep->companion) return companion->SkinWndProc(m.msg, m.wparam, m.lparam);
    return keep->previous ? keep->previous(m) : 0;
  }
};

unsigned face_as_control_colour(const TSkinData& data) {
  const Colour c = data.elements().colour(SkinColour::ButtonFace);
  if (c & 0x80000000u) return c & 0xFF;
  return (c & 0xFFFFFF) | ui::Control::kRgbFlag;
}

TSkinControl::~TSkinControl() {
  detach();
  if (host_ && host_->hot_button() == this) host_->set_hot_button(nullptr);
}

ui::Control* TSkinControl::framework() const noexcept {
  if (control_) return control_;
  return graphic_;
}

bool TSkinControl::hook_handler(ui::Control& control) {
  link_ = std::make_shared<HandlerLink>(HandlerLink{this, control.window_proc()});
  control.set_window_proc(SkinHandler{link_});
  control.add_destroy_listener(this, [this] { gone_now(); });
  return true;
}

void TSkinControl::bind(CompanionHost& host, TSkinData& data, ui::WinControl& control) {
  data_ = &data;
  host_ = &host;
  control_ = &control;
  hwnd_ = control.handle();
}

void TSkinControl::HookControl(CompanionHost& host, TSkinData& data, bool keep_colour, ui::WinControl& control) {
  if (attached_) return;
  keep_colour_ = keep_colour;
  bind(host, data, control);
  hook_handler(control);
  control.double_buffered = true;
  host.AddSkinControl(*this);
  focused_ = hwnd_ && GetFocus() == hwnd_;
  enabled_ = hwnd_ && !(GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_DISABLED);
  read_window_text();
  if (keep_colour_) saved_colour_ = control.swap_color(face_as_control_colour(data));
  control.invalidate();
  attached_ = true;
  state_ = hooked;
}

void TSkinControl::HookWindow(HWND hwnd, TSkinData& data, CompanionHost& host) {
  if (attached_ || !hwnd || !IsWindow(hwnd)) return;
  data_ = &data;
  host_ = &host;
  hwnd_ = hwnd;
  enabled_ = true;
  host.AddSkinControl(*this);
  read_window_text();
  // One companion per window: a window some other list skins already stays
  // with that one.
  if (GetPropW(hwnd, kCompanionProp)) return;
  SetPropW(hwnd, kCompanionProp, this);
  previous_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TSkinControl::companion_proc)));
  SetPropW(hwnd, kCompanionSavedProp, reinterpret_cast<HANDLE>(previous_proc_));
  attached_ = true;
  state_ = hooked;
}

void TSkinControl::HookGraphic(CompanionHost& host, TSkinData& data, ui::GraphicControl& control) {
  if (graphic_) return;
  data_ = &data;
  host_ = &host;
  graphic_ = &control;
  hook_handler(control);
  host.AddSkinControl(*this);
  enabled_ = true;
  state_ = hooked;
}

LRESULT CALLBACK TSkinControl::companion_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return ui::guard_message(hwnd, msg, [&]() -> LRESULT {
    if (auto* self = static_cast<TSkinControl*>(GetPropW(hwnd, kCompanionProp))) {
      return self->SkinWndProc(msg, wparam, lparam);
    }
    const auto saved = reinterpret_cast<WNDPROC>(GetPropW(hwnd, kCompanionSavedProp));
    if (msg == WM_NCDESTROY) RemovePropW(hwnd, kCompanionSavedProp);
    return saved ? CallWindowProcW(saved, hwnd, msg, wparam, lparam) : DefWindowProcW(hwnd, msg, wparam, lparam);
  });
}

LRESULT TSkinControl::SkinWndProc(UINT msg, WPARAM wparam, LPARAM lparam) {
  SkinMessage m{msg, wparam, lparam};
  // While a message runs the companion is not freed; one that was unskinned
  // or swept meanwhile frees itself once its last message returns.
  struct Running {
    TSkinControl* self;
    explicit Running(TSkinControl* s) : self(s) { ++self->depth_; }
    ~Running() {
      if (--self->depth_ == 0 && self->doomed_) delete self;
    }
  } running(this);
  scratch_ = 0;
  if (BeforeMessage(m)) {
    CallDefault(m);
    if (!detached_) AfterMessage(m);
  }
  return m.result;
}

void TSkinControl::CallDefault(SkinMessage& m) {
  if (link_) {
    ui::MessageHandler previous = link_->previous;
    ui::Message message{m.msg, m.wparam, m.lparam};
    m.result = previous ? previous(message) : 0;
  } else if (previous_proc_ && hwnd_) {
    m.result = CallWindowProcW(previous_proc_, hwnd_, m.msg, m.wparam, m.lparam);
  } else if (hwnd_) {
    m.result = DefWindowProcW(hwnd_, m.msg, m.wparam, m.lparam);
  }
}

bool TSkinControl::BeforeMessage(SkinMessage& m) {
  if (m.msg != WM_NCDESTROY) return true;
  CallDefault(m);
  state_ = gone;
  RestoreColor();
  gone_now();
  return false;
}

void TSkinControl::AfterMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case ui::kEnabledChanged:
      RepaintNow();
      break;
    case WM_SETTEXT:
      text_ = m.lparam ? reinterpret_cast<const wchar_t*>(m.lparam) : L"";
      RepaintNow();
      break;
    case WM_PAINT:
      Redraw(reinterpret_cast<HDC>(m.wparam));
      break;
    default:
      break;
  }
}

void TSkinControl::RestoreColor() {
  if (keep_colour_ && control_) control_->swap_color(saved_colour_);
}

void TSkinControl::Redraw(HDC dc) {
  if (!hwnd_) return;
  RECT r{};
  if (!GetWindowRect(hwnd_, &r)) return;
  window_rect_ = r;
  const RECT at{0, 0, r.right - r.left, r.bottom - r.top};
  // Skinning never fails loudly: a failed paint leaves the platform's picture.
  try {
    if (dc) {
      DrawSkin(dc, at);
    } else {
      const paint::window_dc own(hwnd_);
      if (own.get()) DrawSkin(own.get(), at);
    }
  } catch (...) {
  }
}

void TSkinControl::RefreshSkin() {
  if (keep_colour_ && control_ && data_) control_->swap_color(face_as_control_colour(*data_));
  if (hwnd_) {
    InvalidateRect(hwnd_, nullptr, TRUE);
  } else if (graphic_) {
    graphic_->invalidate();
  }
}

void TSkinControl::RepaintNow() {
  if (!hwnd_) {
    if (graphic_) Redraw();
    return;
  }
  if (!(GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_CHILD)) return;
  RECT r{};
  if (!GetWindowRect(hwnd_, &r)) return;
  OffsetRect(&r, -r.left, -r.top);
  InvalidateRect(hwnd_, &r, FALSE);
  UpdateWindow(hwnd_);
}

void TSkinControl::FillFace(HDC dc, const RECT& rect) const {
  if (!data_) return;
  ui::gdi_object<HBRUSH> brush(CreateSolidBrush(paint::to_colorref(data_->elements().colour(SkinColour::ButtonFace))));
  if (brush) FillRect(dc, &rect, brush.get());
}

void TSkinControl::SendMouseLeave() {
  if (hwnd_) {
    SendMessageW(hwnd_, ui::kMouseLeave, 0, 0);
  } else if (graphic_) {
    graphic_->perform(ui::kMouseLeave);
  }
}

void TSkinControl::read_window_text() {
  if (!hwnd_) return;
  const int length = GetWindowTextLengthW(hwnd_);
  std::wstring text(size_t(std::clamp(length, 0, 1000)) + 1, L'\0');
  const int got = GetWindowTextW(hwnd_, text.data(), int(text.size()));
  text.resize(size_t(std::clamp(got, 0, int(text.size()) - 1)));
  text_ = std::move(text);
}

bool TSkinControl::paint_instead(SkinMessage& m) {
  HDC dc = reinterpret_cast<HDC>(m.wparam);
  PAINTSTRUCT ps;
  if (!m.wparam) dc = BeginPaint(hwnd_, &ps);
  RECT window{};
  if (dc && GetWindowRect(hwnd_, &window)) {
    window_rect_ = window;
    DrawSkin(dc, {0, 0, window.right - window.left, window.bottom - window.top});
  }
  if (!m.wparam) EndPaint(hwnd_, &ps);
  m.result = 0;
  return false;
}

bool TSkinControl::take_painting(SkinMessage& m) {
  if (m.msg == WM_PAINT) {
    paint_instead(m);
    return true;
  }
  if (m.msg != WM_ERASEBKGND) return false;
  m.result = 1;
  return true;
}

COLORREF TSkinControl::skin_colour(SkinColour c) const {
  return data_ ? paint::to_colorref(data_->elements().colour(c)) : GetSysColor(COLOR_BTNFACE);
}

const TDataSkinObject* TSkinControl::element(const std::unique_ptr<TDataSkinObject>& slot) const {
  return slot && !slot->Bitmap.empty() ? slot.get() : nullptr;
}

HBITMAP TSkinControl::bitmap_of(const TDataSkinObject& element) const {
  return host_ ? host_->element_bitmap(element) : nullptr;
}

void TSkinControl::detach() {
  on_detach();
  detached_ = true;
  if (link_) link_->companion = nullptr;
  if (ui::Control* c = framework()) {
    c->remove_destroy_listener(this);
    const auto* current = c->window_proc().target<SkinHandler>();
    if (link_ && current && current->link == link_) c->set_window_proc(link_->previous);
  }
  if (previous_proc_ && hwnd_ && IsWindow(hwnd_) && GetPropW(hwnd_, kCompanionProp) == this) {
    RemovePropW(hwnd_, kCompanionProp);
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd_, GWLP_WNDPROC)) == &TSkinControl::companion_proc) {
      SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_proc_));
      RemovePropW(hwnd_, kCompanionSavedProp);
    }
  }
  if (host_ && host_->hot_button() == this) host_->set_hot_button(nullptr);
}

void TSkinControl::gone_now() {
  state_ = gone;
  detach();
  control_ = nullptr;
  graphic_ = nullptr;
  // The handle may soon name another window.
  hwnd_ = nullptr;
}

void TSkinBox::HookControl(CompanionHost& host, TSkinData& data, bool keep_colour, ui::WinControl& control) {
  if (attached_) return;
  keep_colour_ = keep_colour;
  bind(host, data, control);
  host.AddSkinControl(*this);
  control.add_destroy_listener(this, [this] { gone_now(); });
  if (keep_colour_) saved_colour_ = control.swap_color(face_as_control_colour(data));
  attached_ = true;
  state_ = hooked;
}

void TSkinBox::RestoreColor() {
  if (state_ != destroying && keep_colour_ && control_) control_->swap_color(saved_colour_);
  if (state_ != gone) state_ = colour_restored;
}

}  // namespace clip::skin
