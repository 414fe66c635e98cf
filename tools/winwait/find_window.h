// Finding a visible top-level window by class name and/or caption, for the
// helper programs that wait for windows and send them input.
#pragma once

#include <windows.h>

#include <string>

namespace winwait {

struct Query {
  std::wstring class_name;  // empty: any class
  std::wstring title;       // empty: any caption
  HWND found = nullptr;
};

// The EnumWindows callback: stops at the first visible window that matches.
inline BOOL CALLBACK match(HWND hwnd, LPARAM lparam) {
  auto* query = reinterpret_cast<Query*>(lparam);
  if (!IsWindowVisible(hwnd)) return TRUE;
  if (!query->class_name.empty()) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    if (query->class_name != name) return TRUE;
  }
  if (!query->title.empty()) {
    wchar_t text[512] = {};
    GetWindowTextW(hwnd, text, 512);
    if (query->title != text) return TRUE;
  }
  query->found = hwnd;
  return FALSE;
}

}  // namespace winwait
