#include "ui/component.h"

#include <algorithm>

#include "ui/guard.h"
#include "ui/window.h"

namespace ui {

namespace {
constexpr wchar_t kControlProp[] = L"ClipSalvage.Control";
// The procedure a control's subclass replaced, kept on the window when the
// control dies while another subclass sits on top of its own.
constexpr wchar_t kReplacedProcProp[] = L"ClipSalvage.ReplacedProc";
}

Component::Component(Component* owner, std::string name) : owner_(owner), name_(std::move(name)) {}

Component::~Component() { destroy_components(); }

void Component::destroy_components() noexcept {
  // Later components may refer to earlier ones (a child to its parent), so
  // they go first. Each leaves the list before it dies, so a component that
  // looks at its owner's list meanwhile never meets a dead one.
  while (!owned_.empty()) {
    std::unique_ptr<Component> last = std::move(owned_.back());
    owned_.pop_back();
    last.reset();
  }
}

void Component::adopt(std::unique_ptr<Component> child) { owned_.push_back(std::move(child)); }

std::vector<Component*> Component::components() const {
  std::vector<Component*> out;
  for (const auto& c : owned_) out.push_back(c.get());
  return out;
}

void Component::for_each_component(const std::function<void(Component&)>& visit) const {
  for (const auto& c : owned_) {
    visit(*c);
    c->for_each_component(visit);
  }
}

Component* Component::find_component(std::string_view name) const {
  Component* found = nullptr;
  for_each_component([&](Component& c) {
    if (!found && c.name() == name) found = &c;
  });
  return found;
}

Control::Control(Component* owner, std::string name) : Component(owner, std::move(name)) {
  window_proc_ = [this](Message& m) { return handle_message(m); };
}

void Control::set_parent(WinControl* parent) {
  if (parent_ == parent) return;
  if (parent_) parent_->remove_child(this);
  parent_ = parent;
  if (parent_) parent_->add_child(this);
}

void Control::set_bounds(int left, int top, int width, int height) {
  bounds_ = {left, top, left + width, top + height};
  invalidate();
}

void Control::set_visible(bool visible) {
  visible_ = visible;
  invalidate();
}

COLORREF Control::color() const {
  return (color_ & kRgbFlag) ? static_cast<COLORREF>(color_ & 0xFFFFFF) : GetSysColor(static_cast<int>(color_));
}

unsigned Control::swap_color(unsigned color) {
  const unsigned old = color_;
  color_ = color;
  invalidate();
  return old;
}

bool Control::set_property(std::string_view, bool) { return false; }

LRESULT Control::perform(UINT msg, WPARAM wparam, LPARAM lparam) {
  Message message{msg, wparam, lparam};
  // A copy: the handler may replace itself while it runs.
  MessageHandler handler = window_proc_;
  return handler(message);
}

LRESULT Control::handle_message(Message& message) {
  auto found = events_.find(message.msg);
  if (found != events_.end()) {
    for (size_t i = found->second.size(); i-- > 0;) {
      auto handler = found->second[i];
      if (std::optional<LRESULT> result = handler(message)) return *result;
    }
  }
  return default_handler(message);
}

void Control::on(UINT msg, std::function<std::optional<LRESULT>(Message&)> handler) {
  events_[msg].push_back(std::move(handler));
}

void Control::invalidate() {
  if (parent_ && parent_->handle_allocated()) InvalidateRect(parent_->handle(), &bounds_, TRUE);
}

WinControl::WinControl(Component* owner, std::string name) : Control(owner, std::move(name)) {}

WinControl::~WinControl() {
  // The derived parts of this object are gone already: its messages go
  // straight to the procedure it replaced from now on.
  if (HWND hwnd = hwnd_.get()) {
    RemovePropW(hwnd, kControlProp);
    if (previous_) SetPropW(hwnd, kReplacedProcProp, reinterpret_cast<HANDLE>(previous_));
  }
  // Owned controls unregister from this one's child list and their windows
  // are children of this one's window: both must still exist while they go.
  destroy_components();
  if (HWND hwnd = hwnd_.get()) {
    const auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
    if (previous_ && current == &WinControl::subclass_proc) {
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
      RemovePropW(hwnd, kReplacedProcProp);
    }
    // Otherwise someone subclassed on top of us (a window skin does). Writing
    // our predecessor back would cut them out before the window's last
    // messages; the chain stays and our procedure forwards through the
    // property set above.
  }
  set_parent(nullptr);
}

WinControl* WinControl::from_handle(HWND hwnd) {
  return hwnd ? static_cast<WinControl*>(GetPropW(hwnd, kControlProp)) : nullptr;
}

HWND WinControl::handle() {
  if (hwnd_) return hwnd_.get();
  HWND parent_hwnd = parent() ? parent()->handle() : nullptr;
  CreateParams params = create_params();
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (params.own_class) {
    WNDCLASSEXW existing{sizeof(existing)};
    if (!GetClassInfoExW(instance, params.class_name.c_str(), &existing)) {
      WNDCLASSEXW wc{sizeof(wc)};
      wc.style = CS_DBLCLKS;
      wc.lpfnWndProc = DefWindowProcW;
      wc.hInstance = instance;
      wc.hCursor = LoadCursorW(nullptr, params.cursor);
      wc.lpszClassName = params.class_name.c_str();
      RegisterClassExW(&wc);
    }
  }
  if (!parent_hwnd) params.style &= ~static_cast<DWORD>(WS_CHILD);
  if (!visible_) params.style &= ~static_cast<DWORD>(WS_VISIBLE);
  HWND hwnd = CreateWindowExW(params.ex_style, params.class_name.c_str(), params.text.c_str(), params.style,
                              bounds_.left, bounds_.top, width(), height(), parent_hwnd, nullptr, instance,
                              nullptr);
  if (!hwnd) return nullptr;
  hwnd_.reset(hwnd);
  SetPropW(hwnd, kControlProp, this);
  previous_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WinControl::subclass_proc)));
  HFONT f = font();
  if (f) SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(f), FALSE);
  created();
  for (Control* child : children_)
    if (auto* win = dynamic_cast<WinControl*>(child)) win->handle();
  realign();
  return hwnd;
}

LRESULT CALLBACK WinControl::subclass_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return guard_message(hwnd, msg, [&] { return route(hwnd, msg, wparam, lparam); });
}

LRESULT WinControl::route(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* self = from_handle(hwnd);
  if (!self) {
    const auto replaced = reinterpret_cast<WNDPROC>(GetPropW(hwnd, kReplacedProcProp));
    if (msg == WM_NCDESTROY) RemovePropW(hwnd, kReplacedProcProp);
    return replaced ? CallWindowProcW(replaced, hwnd, msg, wparam, lparam) : DefWindowProcW(hwnd, msg, wparam, lparam);
  }
  if (msg == WM_NCDESTROY) {
    // The window goes on its own (its parent died): undo the subclassing and
    // let the wrapper forget the handle without destroying it again.
    WNDPROC previous = self->previous_;
    RemovePropW(hwnd, kControlProp);
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    self->hwnd_.release();
    self->previous_ = nullptr;
    return CallWindowProcW(previous, hwnd, msg, wparam, lparam);
  }
  return self->perform(msg, wparam, lparam);
}

LRESULT WinControl::default_handler(Message& m) {
  HWND hwnd = hwnd_.get();
  switch (m.msg) {
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(m.lparam);
      if (WinControl* child = from_handle(header->hwndFrom); child && child != this)
        return child->perform(kReflectNotify, m.wparam, m.lparam);
      break;
    }
    case WM_COMMAND:
      if (m.lparam) {
        if (WinControl* child = from_handle(reinterpret_cast<HWND>(m.lparam)); child && child != this)
          return child->perform(kReflectCommand, m.wparam, m.lparam);
      }
      break;
    case WM_DRAWITEM: {
      auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(m.lparam);
      if (WinControl* child = from_handle(item->hwndItem); child && child != this)
        return child->perform(kReflectDrawItem, m.wparam, m.lparam);
      break;
    }
    case WM_SIZE:
      realign();
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
      if (LRESULT r = route_to_graphic(m)) return r;
      break;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(m.wparam) == hwnd) {
        POINT p;
        GetCursorPos(&p);
        ScreenToClient(hwnd, &p);
        for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
          auto* g = dynamic_cast<GraphicControl*>(*it);
          if (RECT b = g ? g->bounds() : RECT{}; g && g->visible() && PtInRect(&b, p)) {
            SetCursor(LoadCursorW(nullptr, g->cursor));
            return TRUE;
          }
        }
      }
      break;
    default:
      break;
  }
  if (previous_) return CallWindowProcW(previous_, hwnd, m.msg, m.wparam, m.lparam);
  return DefWindowProcW(hwnd, m.msg, m.wparam, m.lparam);
}

LRESULT WinControl::route_to_graphic(Message& m) {
  POINT p{static_cast<short>(LOWORD(m.lparam)), static_cast<short>(HIWORD(m.lparam))};
  Control* target = mouse_capture_;
  if (!target) {
    for (auto it = children_.rbegin(); it != children_.rend() && !target; ++it) {
      auto* g = dynamic_cast<GraphicControl*>(*it);
      if (RECT b = g ? g->bounds() : RECT{}; g && g->visible() && PtInRect(&b, p)) target = g;
    }
  }
  if (!target) return 0;
  if (m.msg == WM_LBUTTONDOWN) {
    mouse_capture_ = target;
    SetCapture(hwnd_.get());
  } else if (m.msg == WM_LBUTTONUP && mouse_capture_) {
    mouse_capture_ = nullptr;
    ReleaseCapture();
  }
  const RECT b = target->bounds();
  target->perform(m.msg, m.wparam, MAKELPARAM(p.x - b.left, p.y - b.top));
  return 1;
}

void WinControl::set_bounds(int left, int top, int w, int h) {
  bounds_ = {left, top, left + w, top + h};
  if (hwnd_) SetWindowPos(hwnd_.get(), nullptr, left, top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

void WinControl::set_visible(bool visible) {
  visible_ = visible;
  if (hwnd_) ShowWindow(hwnd_.get(), visible ? SW_SHOWNA : SW_HIDE);
}

void WinControl::invalidate() {
  if (hwnd_) InvalidateRect(hwnd_.get(), nullptr, TRUE);
}

void WinControl::add_child(Control* child) {
  children_.push_back(child);
  if (hwnd_)
    if (auto* win = dynamic_cast<WinControl*>(child)) {
      if (win->handle_allocated())
        SetParent(win->handle(), hwnd_.get());
      else
        win->handle();
    }
}

void WinControl::remove_child(Control* child) {
  children_.erase(std::remove(children_.begin(), children_.end(), child), children_.end());
  if (mouse_capture_ == child) mouse_capture_ = nullptr;
}

void WinControl::realign() {
  if (!hwnd_) return;
  RECT area;
  GetClientRect(hwnd_.get(), &area);
  auto place = [](Control* c, int l, int t, int w, int h) { c->set_bounds(l, t, w < 0 ? 0 : w, h < 0 ? 0 : h); };
  for (Align pass : {Align::top, Align::bottom, Align::left, Align::right, Align::client}) {
    for (Control* c : children_) {
      if (c->align != pass || !c->visible()) continue;
      const int w = c->width(), h = c->height();
      switch (pass) {
        case Align::top:
          place(c, area.left, area.top, area.right - area.left, h);
          area.top += h;
          break;
        case Align::bottom:
          place(c, area.left, area.bottom - h, area.right - area.left, h);
          area.bottom -= h;
          break;
        case Align::left:
          place(c, area.left, area.top, w, area.bottom - area.top);
          area.left += w;
          break;
        case Align::right:
          place(c, area.right - w, area.top, w, area.bottom - area.top);
          area.right -= w;
          break;
        case Align::client:
          place(c, area.left, area.top, area.right - area.left, area.bottom - area.top);
          break;
        case Align::none:
          break;
      }
    }
  }
}

HFONT WinControl::font() const {
  if (font_) return font_;
  return parent() ? parent()->font() : nullptr;
}

void WinControl::set_font(HFONT font) {
  font_ = font;
  if (hwnd_) SendMessageW(hwnd_.get(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void WinControl::paint_graphic_children(HDC dc) {
  for (Control* c : children_) {
    auto* g = dynamic_cast<GraphicControl*>(c);
    if (g && g->visible()) g->paint(dc);
  }
}

GraphicControl::GraphicControl(Component* owner, std::string name) : Control(owner, std::move(name)) {}

void GraphicControl::click() {
  // A copy: the event may replace itself while it runs.
  if (std::function<void()> event = OnClick) event();
}

void GraphicControl::paint(HDC dc) {
  const RECT b = bounds();
  // Offset, not set: the DC may already be moved (an off-screen buffer).
  POINT old;
  OffsetViewportOrgEx(dc, b.left, b.top, &old);
  const RECT area{0, 0, width(), height()};
  if (HFONT f = parent() ? parent()->font() : nullptr) SelectObject(dc, f);
  paint_self(dc, area);
  if (OnPaint) OnPaint(dc, area);
  SetViewportOrgEx(dc, old.x, old.y, nullptr);
}

LRESULT GraphicControl::default_handler(Message& m) {
  switch (m.msg) {
    case WM_LBUTTONDOWN:
      pressed_ = true;
      invalidate();
      return 0;
    case WM_LBUTTONUP: {
      const bool was = pressed_;
      pressed_ = false;
      invalidate();
      POINT p{static_cast<short>(LOWORD(m.lparam)), static_cast<short>(HIWORD(m.lparam))};
      const RECT area{0, 0, width(), height()};
      if (was && PtInRect(&area, p)) click();
      return 0;
    }
    default:
      return 0;
  }
}

}  // namespace ui
