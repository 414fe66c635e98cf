#include "app/main_form.h"

#include <commctrl.h>

#include <iterator>

#include "ui/wide.h"

namespace app {

bool TForm1::create() {
  using L = MainFormLayout;
  RECT frame{0, 0, L::kClientWidth, L::kClientHeight};
  AdjustWindowRectEx(&frame, L::kStyle, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;

  on(WM_CREATE, [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    FormCreate();
    return 0;
  });
  on(WM_SIZE, [this](WPARAM wparam, LPARAM lparam) -> std::optional<LRESULT> {
    if (StatusBar1_) SendMessageW(StatusBar1_.get(), WM_SIZE, wparam, lparam);
    return 0;
  });
  on(WM_DESTROY, [](WPARAM, LPARAM) -> std::optional<LRESULT> {
    PostQuitMessage(0);
    return 0;
  });

  ui::WindowSpec spec;
  spec.class_name = L"TForm1";
  spec.text = ui::widen(kCaption);
  spec.style = L::kStyle;
  spec.bounds = {left, top, width, height};
  return Window::create(spec);
}

void TForm1::FormCreate() {
  using L = MainFormLayout;
  font_.reset(CreateFontW(-L::kFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif"));
  SendMessageW(hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);

  StatusBar1_.reset(CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, hwnd(),
                                    nullptr, GetModuleHandleW(nullptr), nullptr));
  HWND bar = StatusBar1_.get();
  SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
  SendMessageW(bar, SB_SETMINHEIGHT, L::kStatusBarHeight, 0);

  // Status-bar parts are given by their right edges; -1 runs to the bar's end.
  int edges[std::size(L::kStatusPanelWidths)];
  int right = 0;
  for (size_t i = 0; i < std::size(edges); ++i) {
    right += L::kStatusPanelWidths[i];
    edges[i] = i + 1 == std::size(edges) ? -1 : right;
  }
  SendMessageW(bar, SB_SETPARTS, std::size(edges), reinterpret_cast<LPARAM>(edges));
  // A leading tab centres the text in its part.
  const std::wstring ready = L"\t" + ui::widen(kReadyText);
  SendMessageW(bar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(ready.c_str()));
  SendMessageW(bar, WM_SIZE, 0, 0);
}

}  // namespace app
