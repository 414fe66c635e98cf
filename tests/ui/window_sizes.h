// A window's client and outer sizes, as the frame tests compare them.
#pragma once

#include <windows.h>

namespace clip::test {

inline SIZE client_size(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  return {r.right, r.bottom};
}

inline SIZE window_size(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return {r.right - r.left, r.bottom - r.top};
}

}  // namespace clip::test
