// The main window Form1. It carries the fixed caption, client size and border
// of the program's main window and its status bar; the other regions join it
// as they are built.
#pragma once

#include <windows.h>

#include "ui/handles.h"
#include "ui/window.h"

namespace app {

struct MainFormLayout {
  static constexpr int kClientWidth = 733;
  static constexpr int kClientHeight = 509;
  static constexpr int kFontHeight = 11;  // "MS Sans Serif" 8 pt at 96 dpi
  static constexpr int kStatusBarHeight = 19;
  static constexpr int kStatusPanelWidths[] = {200, 0, 50};  // the last reaches the right edge
  // Fixed single border with the system menu, minimise and maximise boxes.
  static constexpr DWORD kStyle =
      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CLIPCHILDREN;
};

class TForm1 : public ui::Window {
 public:
  static constexpr const char* kCaption = "KESTRAVO For 264Format Recovery\u3000V2.0  - MORVANE";
  static constexpr const char* kReadyText = "程序就绪";

  // Creates the window hidden, centred on the desktop.
  bool create();

  HWND status_bar() const noexcept { return StatusBar1_.get(); }

 private:
  void FormCreate();

  ui::gdi_object<HFONT> font_;
  ui::unique_hwnd StatusBar1_;
};

}  // namespace app
