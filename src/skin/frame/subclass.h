// What the skin's subclass procedures share: the procedure a skin replaced
// is kept in a window property, so that the skin's procedure can still pass
// messages on when someone subclassed on top of it and the skin object is
// gone (it then stays in the chain until the window is destroyed).
#pragma once

#include <windows.h>

namespace clip::skin {

inline WNDPROC saved_procedure(HWND hwnd, const wchar_t* property) {
  return reinterpret_cast<WNDPROC>(GetPropW(hwnd, property));
}

inline LRESULT call_procedure(WNDPROC procedure, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return procedure ? CallWindowProcW(procedure, hwnd, msg, wparam, lparam) : DefWindowProcW(hwnd, msg, wparam, lparam);
}

// A message for a window whose skin object is gone: to the saved procedure;
// the property goes with the window.
inline LRESULT forward_to_saved(HWND hwnd, const wchar_t* property, UINT msg, WPARAM wparam, LPARAM lparam) {
  const WNDPROC saved = saved_procedure(hwnd, property);
  if (msg == WM_NCDESTROY) RemovePropW(hwnd, property);
  return call_procedure(saved, hwnd, msg, wparam, lparam);
}

}  // namespace clip::skin
