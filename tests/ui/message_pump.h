// Running the thread's message loop from a test: the window tests wait for
// timers, posted messages and deferred actions this way.
#pragma once

#include <windows.h>

namespace clip::test {

// Dispatches every queued message.
inline void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Runs the message loop until done() holds or the time is up; answers done().
template <typename Done>
bool pump_until(Done done, DWORD milliseconds = 3000) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  while (!done() && GetTickCount64() < deadline) {
    pump();
    if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return done();
}

inline void pump_for(DWORD milliseconds) {
  pump_until([] { return false; }, milliseconds);
}

}  // namespace clip::test
