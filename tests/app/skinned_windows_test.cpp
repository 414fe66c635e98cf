// The program's windows under the skin manager, as the program sets it up:
// the main window's skin data enrolled, every window skinned when it is first
// activated, the About window opened and closed many times, and the skin
// switched off and on again while the windows are open.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "app/about_form.h"
#include "app/no_drives.h"
#include "app/main_form.h"
#include "skin/frame/form_skin.h"
#include "skin/manager/skin_manager.h"
#include "skin/paint/paint_win.h"
#include "ui/handles.h"
#include "ui/message_pump.h"
#include "ui/window_sizes.h"

namespace {

using clip::test::client_size;

using clip::skin::TFormSkin;
using clip::skin::TSkinManager;

using clip::test::NoDrives;

using clip::test::pump;
using clip::test::pump_until;

bool skinned(HWND hwnd) { return SendMessageW(hwnd, clip::skin::kSkinQueryMessage, 0, 0) == 1; }

// What a standard frame looks like from outside, to compare before and after.
struct Look {
  LONG_PTR style = 0, ex_style = 0;
  HMENU menu = nullptr;
  SIZE client{}, window{};
  int region = ERROR;  // GetWindowRgn's answer: ERROR when the window has none

  static Look of(HWND hwnd) {
    Look look;
    look.style = GetWindowLongPtrW(hwnd, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_VISIBLE | WS_DISABLED);
    look.ex_style = GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & ~static_cast<LONG_PTR>(WS_EX_NOACTIVATE);
    look.menu = GetMenu(hwnd);
    look.client = client_size(hwnd);
    RECT r{};
    GetWindowRect(hwnd, &r);
    look.window = {r.right - r.left, r.bottom - r.top};
    ui::gdi_object<HRGN> probe(CreateRectRgn(0, 0, 0, 0));
    look.region = GetWindowRgn(hwnd, probe.get());
    return look;
  }
};

void expect_same_look(const Look& now, const Look& before, const char* window) {
  EXPECT_EQ(now.style, before.style) << window << ": style bits";
  EXPECT_EQ(now.ex_style, before.ex_style) << window << ": extended style bits";
  EXPECT_EQ(now.menu, before.menu) << window << ": the Windows menu";
  EXPECT_EQ(now.client.cx, before.client.cx) << window;
  EXPECT_EQ(now.client.cy, before.client.cy) << window;
  EXPECT_EQ(now.window.cx, before.window.cx) << window << ": the standard frame's width";
  EXPECT_EQ(now.window.cy, before.window.cy) << window << ": the standard frame's height";
  EXPECT_EQ(now.region, before.region) << window << ": the window region";
}

struct HandleCounts {
  int bitmaps = ui::gdi_object<HBITMAP>::live_count();
  int regions = ui::gdi_object<HRGN>::live_count();
  int brushes = ui::gdi_object<HBRUSH>::live_count();
  int fonts = ui::gdi_object<HFONT>::live_count();
  int windows = ui::unique_hwnd::live_count();
  int thread_windows = count_thread_windows();

  static int count_thread_windows() {
    int n = 0;
    EnumThreadWindows(
        GetCurrentThreadId(), [](HWND, LPARAM p) { return ++*reinterpret_cast<int*>(p), TRUE; },
        reinterpret_cast<LPARAM>(&n));
    return n;
  }
  void expect_equal(const HandleCounts& start) const {
    EXPECT_EQ(bitmaps, start.bitmaps) << "bitmaps";
    EXPECT_EQ(regions, start.regions) << "regions";
    EXPECT_EQ(brushes, start.brushes) << "brushes";
    EXPECT_EQ(fonts, start.fonts) << "fonts";
    EXPECT_EQ(windows, start.windows) << "owned windows";
    EXPECT_EQ(thread_windows, start.thread_windows) << "the thread's top-level windows";
  }
};

// The program's start-up: both forms, the factory, the main window's skin
// data enrolled, the main window shown and skinned on its activation.
class SkinnedProgram : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    clip::skin::paint::start_painting();
  }
  static void TearDownTestSuite() { clip::skin::paint::stop_painting(); }

  void SetUp() override {
    main_ = root_.make<app::TForm1>(std::make_unique<NoDrives>());
    ASSERT_TRUE(main_->create());
    ASSERT_FALSE(main_->SkinData1.not_ready()) << "the program's skin loads from its resources";
    about_ = root_.make<app::TForm2>();
    about_->owner_window = main_->handle();
    ASSERT_TRUE(about_->create());
    main_look_ = Look::of(main_->handle());
    main_colour_ = main_->color_value();
    TSkinManager::create().set_window_skin_factory(clip::skin::attach_form_skin);
    clip::skin::Loaded(main_->SkinData1, main_);
    main_->show();
    SetForegroundWindow(main_->handle());
    SetActiveWindow(main_->handle());
    ASSERT_TRUE(pump_until([&] { return skinned(main_->handle()); })) << "the main window is skinned when activated";
    pump_until([] { return false; }, 100);
  }
  void TearDown() override {
    TSkinManager::destroy();
    pump();
  }

  // Opens the About window modally and, once it is shown, runs check and
  // presses its close button, as the program's 关于 command does. A backup
  // timer closes it if the check never ran.
  void open_and_close_about(const std::function<void()>& check) {
    static SkinnedProgram* self;
    static const std::function<void()>* checker;
    static bool checked;
    self = this;
    checker = &check;
    checked = false;
    const UINT_PTR poll = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {
      HWND about = self->about_->handle();
      if (checked || !self->about_->modal() || !IsWindowVisible(about) || !skinned(about)) return;
      checked = true;
      (*checker)();
      self->about_->SpeedButton1Click();
    });
    const UINT_PTR backup = SetTimer(nullptr, 0, 3000, [](HWND, UINT, UINT_PTR, DWORD) { self->about_->close(); });
    about_->show_modal();
    KillTimer(nullptr, poll);
    KillTimer(nullptr, backup);
    EXPECT_TRUE(checked) << "the About window was shown skinned and closed by its button";
  }

  ui::Component root_{nullptr, "root"};
  app::TForm1* main_ = nullptr;
  app::TForm2* about_ = nullptr;
  Look main_look_;
  unsigned main_colour_ = 0;
};

TEST_F(SkinnedProgram, FormsCarryTheProgramIconAndTheCaptionDrawsIt) {
  HWND hwnd = main_->handle();
  EXPECT_NE(SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0), 0) << "the main window has the small icon";
  EXPECT_NE(SendMessageW(about_->handle(), WM_GETICON, ICON_BIG, 0), 0) << "the About window has the icon";
  auto* skin = dynamic_cast<TFormSkin*>(TSkinManager::instance()->FindWindowSkin(hwnd));
  ASSERT_NE(skin, nullptr);
  // The skin's icon button sits at the caption's left; the frame painted into
  // the window DC shows the disk there, not the caption bar's colour alone.
  RedrawWindow(hwnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  pump();
  HDC dc = GetWindowDC(hwnd);
  int black = 0;
  for (int y = 0; y < skin->metrics().caption; ++y)
    for (int x = 0; x < 40; ++x) black += GetPixel(dc, x, y) == RGB(0, 0, 0);
  ReleaseDC(hwnd, dc);
  EXPECT_GT(black, 10) << "the icon's black outline is in the caption's left end";
}

TEST_F(SkinnedProgram, OpeningAndClosingTheAboutWindow200TimesLeavesNoHandleBehind) {
  const Look about_look = Look::of(about_->handle());
  // The first opening skins the About window; what that keeps for the
  // window's life is counted from then on.
  open_and_close_about([&] {
    EXPECT_EQ(client_size(about_->handle()).cx, 543);
    EXPECT_EQ(client_size(about_->handle()).cy, 225);
    EXPECT_FALSE(IsWindowEnabled(main_->handle())) << "the owner is disabled while the About window is open";
  });
  ASSERT_EQ(TSkinManager::instance()->window_skin_count(), 2u);
  pump();
  const HandleCounts start;
  int wrong_size = 0;
  for (int round = 0; round < 199 && !HasFatalFailure(); ++round) {
    open_and_close_about([&] {
      const SIZE client = client_size(about_->handle());
      wrong_size += client.cx != 543 || client.cy != 225;
      // A paint of the whole frame each time, as a re-activation does.
      RedrawWindow(about_->handle(), nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
    });
  }
  pump();
  EXPECT_EQ(wrong_size, 0) << "rounds in which the About window's client size changed";
  EXPECT_TRUE(IsWindowEnabled(main_->handle()));
  EXPECT_EQ(TSkinManager::instance()->window_skin_count(), 2u) << "one window skin per window, however often";
  HandleCounts().expect_equal(start);
  // After the manager lets go the About window has its standard frame back.
  TSkinManager::destroy();
  Look after = Look::of(about_->handle());
  expect_same_look(after, about_look, "About window");
}

TEST_F(SkinnedProgram, AboutWindowsMadeAndDestroyedEachTimeAreSkinnedAndFreed) {
  // A fresh About window for every opening: each is skinned on activation and
  // its window skin is freed by the purge after the window is gone.
  auto round = [&] {
    auto about = std::make_unique<app::TForm2>(nullptr);
    about->owner_window = main_->handle();
    EXPECT_TRUE(about->create());
    about->show();
    SetActiveWindow(about->handle());
    EXPECT_TRUE(pump_until([&] { return skinned(about->handle()); }, 2000));
    EXPECT_EQ(client_size(about->handle()).cx, 543);
    const clip::skin::WindowSkin* skin = TSkinManager::instance()->FindWindowSkin(about->handle());
    ASSERT_NE(skin, nullptr);
    about.reset();
    // The form's own subclass is undone first; the skin above it must still
    // see the window's last message.
    EXPECT_EQ(skin->skin_state(), clip::skin::WindowSkin::finished);
    SetActiveWindow(main_->handle());
    TSkinManager::instance()->PurgeWindowSkins();
    EXPECT_EQ(TSkinManager::instance()->window_skin_count(), 1u);
  };
  round();
  pump();
  const HandleCounts start;
  for (int i = 0; i < 40 && !HasFailure(); ++i) round();
  pump();
  HandleCounts().expect_equal(start);
}

TEST_F(SkinnedProgram, SwitchingTheSkinOffReturnsEveryWindowToItsStandardFrameAndOnAgain) {
  HWND main = main_->handle();
  const Look about_look = Look::of(about_->handle());
  about_->show();
  SetActiveWindow(about_->handle());
  ASSERT_TRUE(pump_until([&] { return skinned(about_->handle()); }));
  EXPECT_EQ(GetMenu(main), nullptr) << "the painted bar holds the menu while skinned";
  ASSERT_NE(main_look_.menu, nullptr);
  EXPECT_NE(Look::of(main).style, main_look_.style) << "the skinned frame strips the caption";

  int changed = 0;
  main_->SkinData1.OnSkinChanged = [&](clip::skin::TSkinData&) { ++changed; };
  clip::skin::SetActive(main_->SkinData1, false);
  EXPECT_TRUE(skinned(main)) << "the change waits for the manager's timer";
  ASSERT_TRUE(pump_until([&] { return changed == 1; }));
  EXPECT_FALSE(skinned(main));
  EXPECT_FALSE(skinned(about_->handle()));
  EXPECT_EQ(TSkinManager::instance()->window_skin_count(), 0u);
  expect_same_look(Look::of(main), main_look_, "main window");
  expect_same_look(Look::of(about_->handle()), about_look, "About window");
  MENUBARINFO bar{sizeof(bar)};
  ASSERT_TRUE(GetMenuBarInfo(main, OBJID_MENU, 0, &bar));
  EXPECT_GT(bar.rcBar.bottom - bar.rcBar.top, 0) << "the standard menu bar is drawn by Windows again";
  EXPECT_EQ(main_->color_value(), main_colour_) << "the form's own colour is back";

  // While the skin is off, a newly activated window stays standard.
  SetActiveWindow(main);
  SetActiveWindow(about_->handle());
  pump_until([] { return false; }, 300);
  EXPECT_FALSE(skinned(about_->handle()));

  clip::skin::SetActive(main_->SkinData1, true);
  ASSERT_TRUE(pump_until([&] { return changed == 2; }));
  EXPECT_TRUE(skinned(main));
  EXPECT_TRUE(skinned(about_->handle()));
  EXPECT_EQ(GetMenu(main), nullptr);
  EXPECT_EQ(client_size(main).cx, 733);
  EXPECT_EQ(client_size(main).cy, 509);
  EXPECT_EQ(client_size(about_->handle()).cx, 543);
  EXPECT_EQ(client_size(about_->handle()).cy, 225);
  about_->close();
}

}  // namespace
