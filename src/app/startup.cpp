#include "app/startup.h"

#include <windows.h>
// commctrl.h and ole2.h need the types of windows.h first.
#include <commctrl.h>
#include <ole2.h>

namespace app {

ProcessStartup::ProcessStartup() {
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  ole_ready_ = SUCCEEDED(OleInitialize(nullptr));
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
}

ProcessStartup::~ProcessStartup() {
  if (ole_ready_) OleUninitialize();
}

}  // namespace app
