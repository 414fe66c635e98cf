// The drop-down menu windows on screen, for tests that drive the menu loop.
#pragma once

#include <windows.h>

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

}  // namespace clip::test
