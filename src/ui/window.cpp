#include "ui/window.h"

#include "ui/guard.h"
#include "ui/wide.h"

namespace ui {

Window::~Window() {
  // Stop dispatching first: handlers may capture the derived object, which is
  // already gone while this destructor runs. The window then ends with the
  // default procedure only.
  if (HWND hwnd = hwnd_.get()) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
}

bool Window::create(const WindowSpec& plan) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{sizeof(existing)};
  if (!GetClassInfoExW(instance, plan.class_name.c_str(), &existing)) {
    WNDCLASSEXW wc{sizeof(wc)};
    wc.style = plan.class_style;
    wc.lpfnWndProc = &Window::proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = plan.background;
    wc.lpszClassName = plan.class_name.c_str();
    if (!RegisterClassExW(&wc)) return false;
  }
  HWND hwnd = CreateWindowExW(plan.ex_style, plan.class_name.c_str(), plan.text.c_str(), plan.style,
                              plan.bounds.left, plan.bounds.top, plan.bounds.right, plan.bounds.bottom,
                              plan.parent, nullptr, instance, this);
  return hwnd != nullptr;
}

void Window::on(UINT message, Handler handler) {
  handlers_[message].push_back(std::move(handler));
}

LRESULT Window::default_proc(UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(hwnd_.get(), message, wparam, lparam);
}

LRESULT CALLBACK Window::proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  bool failed = true;
  const LRESULT result = guard(
      [&] {
        const LRESULT r = route(hwnd, message, wparam, lparam);
        failed = false;
        return r;
      },
      LRESULT{0});
  if (failed) {
    settle_failed_message(hwnd, message);
    if (message == WM_NCDESTROY) {
      // The object must still forget the handle it no longer owns.
      if (auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_.release();
      }
    }
  }
  return result;
}

LRESULT Window::route(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<Window*>(create->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_.reset(hwnd);
  }
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    // The window is going away on its own; the wrapper must not destroy it again.
    LRESULT result = self->dispatch(message, wparam, lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_.release();
    return result;
  }
  return self->dispatch(message, wparam, lparam);
}

LRESULT Window::dispatch(UINT message, WPARAM wparam, LPARAM lparam) {
  auto found = handlers_.find(message);
  if (found != handlers_.end()) {
    // By index and by copy: a handler may register further handlers, which can
    // move the vector's storage while the copied one runs.
    for (size_t i = found->second.size(); i-- > 0;) {
      Handler handler = found->second[i];
      if (std::optional<LRESULT> result = handler(wparam, lparam)) return *result;
    }
  }
  return default_proc(message, wparam, lparam);
}

void settle_failed_message(HWND hwnd, UINT message) noexcept {
  if (message == WM_PAINT) ValidateRect(hwnd, nullptr);
}

void set_window_text(HWND hwnd, const std::string& utf8) {
  const std::wstring text = widen(utf8);
  SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string window_text(HWND hwnd) {
  const LRESULT length = SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const LRESULT copied = SendMessageW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(copied));
  return narrow(text);
}

}  // namespace ui
