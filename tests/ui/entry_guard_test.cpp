// Failures inside the procedures the system calls stop at the procedure, and
// their error box opens from the message loop: never inside a hook, a menu
// loop or another thread.
#include <windows.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ui/controls.h"
#include "ui/guard.h"
#include "ui/message_pump.h"
#include "ui/timer.h"
#include "ui/window.h"

namespace {

using clip::test::pump;
using clip::test::pump_until;

constexpr UINT kProbe = WM_APP + 11;

class Host : public ui::Form {
 public:
  using ui::Form::Form;
};

// Records every box with the thread and the state it was shown in.
class EntryGuard : public testing::Test {
 protected:
  struct Shown {
    std::string text;
    DWORD thread;
    bool in_hook;
    bool menu_open;
  };
  void SetUp() override {
    ui::Application::instance().set_notifier([this](HWND, const std::string& text, const std::string&, UINT) {
      shown_.push_back({text, GetCurrentThreadId(), in_hook_, menu_open_});
      return IDOK;
    });
  }
  void TearDown() override {
    ui::PopupMenu::set_tracker(nullptr);
    ui::Application::instance().set_notifier(nullptr);
    pump();
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const Shown& s : shown_) out.push_back(s.text);
    return out;
  }

  std::vector<Shown> shown_;
  bool in_hook_ = false;
  bool menu_open_ = false;
};

TEST_F(EntryGuard, WindowAndSubclassProceduresStopAFailureAndGoOn) {
  ui::Window window;
  int paints = 0;
  window.on(kProbe, [](WPARAM wparam, LPARAM) -> std::optional<LRESULT> {
    if (wparam == 1) throw std::runtime_error("窗口处理失败");
    return 42;
  });
  window.on(WM_PAINT, [&](WPARAM, LPARAM) -> std::optional<LRESULT> {
    ++paints;
    throw std::runtime_error("绘制失败");
  });
  ui::WindowSpec plan;
  plan.class_name = L"ClipSalvageGuardWindow";
  plan.style = WS_OVERLAPPED;
  plan.bounds = {0, 0, 200, 100};
  ASSERT_TRUE(window.create(plan));
  EXPECT_EQ(SendMessageW(window.hwnd(), kProbe, 1, 0), 0) << "the procedure answers 0 for the failed message";
  EXPECT_TRUE(shown_.empty()) << "no box inside the procedure";
  EXPECT_EQ(SendMessageW(window.hwnd(), kProbe, 0, 0), 42) << "the window goes on";

  // A paint handler that throws must not get the same WM_PAINT forever.
  ShowWindow(window.hwnd(), SW_SHOWNA);
  InvalidateRect(window.hwnd(), nullptr, FALSE);
  pump_until([&] { return paints > 0; }, 1000);
  pump_until([] { return false; }, 100);
  EXPECT_EQ(paints, 1);
  RECT dirty{};
  EXPECT_FALSE(GetUpdateRect(window.hwnd(), &dirty, FALSE));

  // The same through a control's subclassing.
  ui::Component root(nullptr, "root");
  auto* form = root.make<Host>("F");
  form->client_width = 100;
  form->client_height = 50;
  ASSERT_TRUE(form->create());
  form->on(kProbe, [](ui::Message& m) -> std::optional<LRESULT> {
    if (m.wparam == 1) throw std::logic_error("控件处理失败");
    return 7;
  });
  EXPECT_EQ(SendMessageW(form->handle(), kProbe, 1, 0), 0);
  EXPECT_EQ(SendMessageW(form->handle(), kProbe, 0, 0), 7);

  pump();
  EXPECT_EQ(texts(), (std::vector<std::string>{"窗口处理失败", "绘制失败", "控件处理失败"}));
  for (const Shown& s : shown_) EXPECT_EQ(s.thread, GetCurrentThreadId());
}

TEST_F(EntryGuard, MenuCommandsThatFailReportAndTheFormStaysUsable) {
  ui::Component root(nullptr, "root");
  auto* form = root.make<Host>("F");
  auto* menu = form->make<ui::Menu>("MainMenu1");
  ui::MenuItem* file = menu->add("N1", "文件(&F)");
  ui::MenuItem* failing = file->add("S1", "扫描");
  ui::MenuItem* working = file->add("N2", "停止");
  form->menu = menu;
  int worked = 0;
  failing->OnClick = [] { throw std::runtime_error("读源介质错误！"); };
  working->OnClick = [&] { ++worked; };
  ASSERT_TRUE(form->create());
  SendMessageW(form->handle(), WM_COMMAND, failing->id(), 0);
  SendMessageW(form->handle(), WM_COMMAND, working->id(), 0);
  EXPECT_EQ(worked, 1);
  EXPECT_TRUE(shown_.empty());
  pump();
  EXPECT_EQ(texts(), (std::vector<std::string>{"读源介质错误！"}));

  // A popup's command, as the tracker (standing in for the menu) picks it.
  auto* popup = form->make<ui::PopupMenu>("PopupMenu1");
  ui::MenuItem* load = popup->add("N12", "载入镜像");
  load->OnClick = [] { throw std::runtime_error("无法打开镜像文件"); };
  bool prepared_first = false;
  popup->OnPopup = [&] { prepared_first = true; };
  ui::PopupMenu::set_tracker([&](ui::PopupMenu&, HWND, int, int) -> UINT {
    EXPECT_TRUE(prepared_first) << "OnPopup runs before the menu shows";
    return load->id();
  });
  popup->popup(form->handle(), 0, 0);
  pump();
  EXPECT_EQ(texts(), (std::vector<std::string>{"读源介质错误！", "无法打开镜像文件"}));
}

// A hook procedure's failure: a box opened inside the hook would create its
// window there and enter the hook again.
LRESULT CALLBACK failing_cbt(int code, WPARAM wparam, LPARAM lparam);
HHOOK cbt_hook = nullptr;
bool* cbt_in_hook = nullptr;

LRESULT CALLBACK failing_cbt(int code, WPARAM wparam, LPARAM lparam) {
  ui::guard([&] {
    if (code != HCBT_CREATEWND) return;
    auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lparam);
    if (create->lpcs->lpszName && !IS_INTRESOURCE(create->lpcs->lpszName) &&
        std::wstring(create->lpcs->lpszName) == L"hooked") {
      *cbt_in_hook = true;
      struct Leave {
        ~Leave() { *cbt_in_hook = false; }
      } leave;
      throw std::runtime_error("钩子失败");
    }
  });
  return CallNextHookEx(cbt_hook, code, wparam, lparam);
}

TEST_F(EntryGuard, HookFailureShowsOnlyAfterTheHookReturned) {
  cbt_in_hook = &in_hook_;
  cbt_hook = SetWindowsHookExW(WH_CBT, failing_cbt, nullptr, GetCurrentThreadId());
  ASSERT_NE(cbt_hook, nullptr);
  HWND made = CreateWindowExW(0, L"STATIC", L"hooked", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  EXPECT_NE(made, nullptr) << "the hook's failure does not stop the creation";
  UnhookWindowsHookEx(cbt_hook);
  cbt_hook = nullptr;
  EXPECT_TRUE(shown_.empty());
  pump();
  ASSERT_EQ(texts(), (std::vector<std::string>{"钩子失败"}));
  EXPECT_FALSE(shown_[0].in_hook);
  DestroyWindow(made);
}

TEST_F(EntryGuard, FailureInsideAMenuLoopWaitsUntilTheMenuIsGone) {
  ui::Component root(nullptr, "root");
  auto* form = root.make<Host>("F");
  form->client_width = 200;
  form->client_height = 100;
  ASSERT_TRUE(form->create());
  form->show();
  SetForegroundWindow(form->handle());
  auto* popup = form->make<ui::PopupMenu>("PopupMenu1");
  popup->add("N1", "全部选择");
  popup->add("N2", "取消选择");
  // A timer runs inside the menu's own loop (as the skin manager's does),
  // fails, and a later one closes the menu.
  auto* failing = root.make<ui::Timer>("Failing");
  failing->set_interval(30);
  failing->OnTimer = [&] {
    failing->set_enabled(false);
    menu_open_ = true;
    throw std::runtime_error("菜单中的失败");
  };
  auto* closing = root.make<ui::Timer>("Closing");
  closing->set_interval(400);
  closing->OnTimer = [&] {
    closing->set_enabled(false);
    EndMenu();
  };
  bool shown_in_menu = false;
  failing->set_enabled(true);
  popup->popup(form->handle(), 10, 10);  // the real menu and its loop
  menu_open_ = false;
  shown_in_menu = !shown_.empty();
  ASSERT_TRUE(pump_until([&] { return !shown_.empty(); }, 3000));
  EXPECT_FALSE(shown_in_menu);
  EXPECT_FALSE(shown_[0].menu_open);
  EXPECT_EQ(shown_[0].text, "菜单中的失败");
}

TEST_F(EntryGuard, WorkerThreadFailuresShowOnTheGuiThreadOncePerText) {
  const auto fail = [](const char* text) {
    std::thread worker([text] { ui::guard([text] { throw std::runtime_error(text); }); });
    worker.join();
  };
  fail("读源介质错误！");
  fail("读源介质错误！");  // still waiting: not a second box
  fail("恢复失败");
  std::thread unknown([] { ui::guard([] { throw 5; }); });
  unknown.join();
  EXPECT_EQ(ui::Application::instance().pending_failures(), 3u);
  ASSERT_TRUE(pump_until([&] { return shown_.size() == 3; }));
  EXPECT_EQ(texts(), (std::vector<std::string>{"读源介质错误！", "恢复失败", "程序内部错误"}));
  for (const Shown& s : shown_) EXPECT_EQ(s.thread, GetCurrentThreadId());
  EXPECT_EQ(ui::Application::instance().pending_failures(), 0u);
}

}  // namespace
