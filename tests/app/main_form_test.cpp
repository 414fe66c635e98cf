#include "app/main_form.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "ui/wide.h"

namespace {

class MainForm : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
  }
  void SetUp() override { ASSERT_TRUE(form_.create()) << GetLastError(); }

  app::TForm1 form_;
};

TEST_F(MainForm, CaptionIsExactIncludingIdeographicSpace) {
  wchar_t caption[128] = {};
  GetWindowTextW(form_.hwnd(), caption, 128);
  EXPECT_EQ(std::wstring(caption), L"KESTRAVO For 264Format Recovery\u3000V2.0  - MORVANE");
}

TEST_F(MainForm, HasFixedClientSizeAndSingleBorder) {
  RECT client{};
  GetClientRect(form_.hwnd(), &client);
  EXPECT_EQ(client.right - client.left, 733);
  EXPECT_EQ(client.bottom - client.top, 509);

  const auto style = static_cast<DWORD>(GetWindowLongW(form_.hwnd(), GWL_STYLE));
  EXPECT_FALSE(style & WS_THICKFRAME) << "the user must not resize it by dragging";
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(IsWindowVisible(form_.hwnd())) << "created hidden, shown by the program";
}

TEST_F(MainForm, IsCentredOnTheDesktop) {
  RECT frame{};
  GetWindowRect(form_.hwnd(), &frame);
  const int dx = (frame.left + frame.right) - GetSystemMetrics(SM_CXSCREEN);
  const int dy = (frame.top + frame.bottom) - GetSystemMetrics(SM_CYSCREEN);
  EXPECT_LE(std::abs(dx), 1);
  EXPECT_LE(std::abs(dy), 1);
}

TEST_F(MainForm, StatusBarShowsReadyInItsFirstPanel) {
  HWND bar = form_.status_bar();
  ASSERT_TRUE(IsWindow(bar));
  EXPECT_EQ(SendMessageW(bar, SB_GETPARTS, 0, 0), 3);
  int edges[3] = {};
  SendMessageW(bar, SB_GETPARTS, 3, reinterpret_cast<LPARAM>(edges));
  EXPECT_EQ(edges[0], 200);
  EXPECT_EQ(edges[1], 200);
  EXPECT_EQ(edges[2], -1);

  wchar_t text[64] = {};
  SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
  EXPECT_EQ(ui::narrow(text), "\t程序就绪");

  RECT rect{};
  GetWindowRect(bar, &rect);
  EXPECT_EQ(rect.right - rect.left, 733);
}

TEST_F(MainForm, ClosingEndsTheMessageLoop) {
  SendMessageW(form_.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_EQ(form_.hwnd(), nullptr);
  MSG msg{};
  bool quit = false;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) quit = true;
  }
  EXPECT_TRUE(quit);
}

}  // namespace
