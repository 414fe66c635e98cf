// The program's windows under the skin manager, as the program sets it up:
// the main window's skin data enrolled, every window skinned when it is first
// activated, the About window opened and closed many times, and the skin
// switched off and on again while the windows are open.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>

#include "app/skinned_program.h"
#include "skin/handle_counts.h"
#include "ui/handles.h"
#include "ui/window_sizes.h"

namespace {

using clip::test::client_size;
using clip::test::HandleCounts;
using clip::test::skinned;

using clip::skin::TFormSkin;
using clip::skin::TSkinManager;

using clip::test::NoDrives;

using clip::test::pump;
using clip::test::pump_until;

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


class SkinnedProgram : public clip::test::SkinnedProgram {
 protected:
  void before_skinning() override {
    main_look_ = Look::of(main_->handle());
    main_colour_ = main_->color_value();
  }
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
