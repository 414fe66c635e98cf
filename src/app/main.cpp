#include <windows.h>
// commctrl.h needs the types of windows.h first.
#include <commctrl.h>

#include "app/main_form.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);

  app::TForm1 Form1;
  if (!Form1.create()) {
    MessageBoxW(nullptr, L"Cannot create the main window.", L"ClipSalvage", MB_ICONERROR);
    return 1;
  }
  ShowWindow(Form1.hwnd(), show);
  UpdateWindow(Form1.hwnd());

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}
