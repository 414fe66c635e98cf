// winwait: waits until a top-level window is shown and idle, for scripts that
// look at a program running under Wine (screenshots).
//
//   winwait.exe [--desktop NAME] [--class NAME] [--title TEXT] [--timeout SECONDS]
//
// Exit status 0 when a visible window with that class and/or exact title
// answers messages, 1 when none does before the timeout, 2 on bad usage.
// --desktop looks in that desktop (a Wine virtual desktop's name) instead of
// the caller's own.
#include <windows.h>

#include <cwchar>
#include <string>

#include "find_window.h"

using winwait::match;
using winwait::Query;

int wmain(int argc, wchar_t** argv) {
  Query query;
  double timeout_seconds = 60;
  std::wstring desktop;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (i + 1 >= argc) return 2;
    if (arg == L"--desktop") {
      desktop = argv[++i];
    } else if (arg == L"--class") {
      query.class_name = argv[++i];
    } else if (arg == L"--title") {
      query.title = argv[++i];
    } else if (arg == L"--timeout") {
      timeout_seconds = std::wcstod(argv[++i], nullptr);
    } else {
      return 2;
    }
  }
  if (query.class_name.empty() && query.title.empty()) return 2;

  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_seconds * 1000);
  if (!desktop.empty()) {
    // The desktop appears once the program's explorer has made it. This
    // thread has no windows yet, so it may still move to another desktop.
    HDESK handle = nullptr;
    while (!(handle = OpenDesktopW(desktop.c_str(), 0, FALSE, GENERIC_ALL))) {
      if (GetTickCount64() >= deadline) return 1;
      Sleep(100);
    }
    if (!SetThreadDesktop(handle)) return 1;
  }
  while (GetTickCount64() < deadline) {
    query.found = nullptr;
    EnumWindows(&match, reinterpret_cast<LPARAM>(&query));
    DWORD_PTR ignored = 0;
    // Answering WM_NULL means the window's thread is back in its message loop,
    // so the first paint has been handled.
    if (query.found &&
        SendMessageTimeoutW(query.found, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored)) {
      return 0;
    }
    Sleep(100);
  }
  return 1;
}
