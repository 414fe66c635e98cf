// The drop-down menu windows on screen, and a way to act inside a menu's
// own loop, for tests that drive real menus.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

namespace clip::test {

// The thread's visible menu pop-up windows (class "#32768").
inline std::vector<HWND> visible_menu_windows() {
  std::vector<HWND> found;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM param) -> BOOL {
        wchar_t name[16] = {};
        if (IsWindowVisible(hwnd) && GetClassNameW(hwnd, name, 16) && lstrcmpW(name, L"#32768") == 0)
          reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// One step inside a menu loop: once `ready` holds, `act` runs once.
struct MenuStep {
  std::function<bool()> ready;
  std::function<void()> act;
};

namespace detail {
struct MenuScript {
  std::vector<MenuStep> steps;
  size_t next = 0;
  ULONGLONG deadline = 0;
  bool timed_out = false;
};
inline MenuScript*& menu_script() {
  static MenuScript* script = nullptr;
  return script;
}
inline void CALLBACK menu_script_tick(HWND, UINT, UINT_PTR, DWORD) {
  MenuScript* s = menu_script();
  if (!s || s->next >= s->steps.size()) return;
  if (GetTickCount64() > s->deadline) {
    // A step that never comes must not keep the test inside the menu loop.
    s->timed_out = true;
    s->next = s->steps.size();
    EndMenu();
    return;
  }
  MenuStep& step = s->steps[s->next];
  if (!step.ready()) return;
  ++s->next;
  step.act();
  if (s->next == s->steps.size()) EndMenu();
}
}  // namespace detail

// Calls `open`, which shows a menu and returns once it has closed; the steps
// run from a timer, which fires inside the menu's loop too, and the menu is
// closed after the last one. False when a step's condition never held
// within the deadline.
inline bool run_in_menu_loop(const std::function<void()>& open, std::vector<MenuStep> steps,
                             DWORD deadline_ms = 5000) {
  detail::MenuScript script;
  script.steps = std::move(steps);
  script.deadline = GetTickCount64() + deadline_ms;
  detail::menu_script() = &script;
  const UINT_PTR timer = SetTimer(nullptr, 0, 15, detail::menu_script_tick);
  open();
  // A menu that closed early leaves steps waiting: they count as not run.
  KillTimer(nullptr, timer);
  detail::menu_script() = nullptr;
  return !script.timed_out && script.next == script.steps.size();
}

// A step that waits for a menu window on screen.
inline std::function<bool()> menu_on_screen() {
  return [] { return !visible_menu_windows().empty(); };
}

}  // namespace clip::test
