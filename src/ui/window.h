// A window whose messages go to handlers registered per message.
//
// One static window procedure serves every class registered through Window: it
// finds the object from the creation parameters at WM_NCCREATE, keeps it in
// GWLP_USERDATA and forwards to dispatch(). Handlers for one message form a
// chain: the newest runs first and either consumes the message (returns a
// result) or passes it on (returns nullopt) to the one registered before it,
// and finally to the default procedure.
#pragma once

#include "ui/guard.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ui/handles.h"

namespace ui {

struct WindowSpec {
  std::wstring class_name;
  std::wstring text;
  DWORD style = WS_OVERLAPPEDWINDOW;
  DWORD ex_style = 0;
  RECT bounds{CW_USEDEFAULT, CW_USEDEFAULT, 0, 0};  // left, top, width, height
  HWND parent = nullptr;
  UINT class_style = CS_DBLCLKS;
  HBRUSH background = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
};

class Window {
 public:
  using Handler = std::function<std::optional<LRESULT>(WPARAM, LPARAM)>;

  Window() = default;
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Registers the class on first use and creates the window. False when
  // Windows refuses either; GetLastError tells why.
  bool create(const WindowSpec& plan);

  // Null before create() and after the window is destroyed.
  HWND hwnd() const noexcept { return hwnd_.get(); }

  void on(UINT message, Handler handler);

 protected:
  virtual LRESULT default_proc(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT route(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT dispatch(UINT message, WPARAM wparam, LPARAM lparam);

  unique_hwnd hwnd_;
  std::unordered_map<UINT, std::vector<Handler>> handlers_;
};

// After a handler failed on a message (its failure reported, the procedure
// answering 0): leaves the window so that the message is not sent again at
// once. A WM_PAINT whose handler threw would otherwise come back forever.
void settle_failed_message(HWND hwnd, UINT message) noexcept;

// The body of a window or subclass procedure behind the entry guard: a
// failure is reported, the message answers 0 and is settled as above.
template <typename Body>
LRESULT guard_message(HWND hwnd, UINT message, Body&& body) noexcept {
  bool failed = true;
  const LRESULT result = guard(
      [&] {
        const LRESULT r = body();
        failed = false;
        return r;
      },
      LRESULT{0});
  if (failed) settle_failed_message(hwnd, message);
  return result;
}

// Sends WM_SETTEXT / WM_GETTEXT with UTF-8 on our side.
void set_window_text(HWND hwnd, const std::string& utf8);
std::string window_text(HWND hwnd);

}  // namespace ui
