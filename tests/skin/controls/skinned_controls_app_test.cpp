// The program's windows with their control companions, as the program runs
// them under the skin manager: which companions the main window's controls
// get, the About window's skinned close button opened 200 times, 200 scrolls,
// a message box whose skinned button closes it, forms destroyed with their
// companions attached, and the skin switched off and on with every companion
// going and coming back. Freed memory is overwritten in this program, so a
// companion used after it was freed crashes the test.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "app/skinned_program.h"
#include "skin/controls/buttons.h"
#include "skin/controls/scroll_bars.h"
#include "skin/handle_counts.h"

namespace {

using clip::skin::Companion;
using clip::skin::CompanionHost;
using clip::skin::TFormSkin;
using clip::skin::TSkinControl;
using clip::skin::TSkinManager;
using clip::test::pump;
using clip::test::pump_until;
using clip::test::skinned;

CompanionHost* companions_of(HWND hwnd) {
  TSkinManager* manager = TSkinManager::instance();
  auto* skin = manager ? dynamic_cast<TFormSkin*>(manager->FindWindowSkin(hwnd)) : nullptr;
  return skin ? skin->companions() : nullptr;
}

using SkinnedControls = clip::test::SkinnedProgram;

TEST_F(SkinnedControls, MainWindowControlsGetScrollBarAndPanelCompanions) {
  CompanionHost* host = companions_of(main_->handle());
  ASSERT_NE(host, nullptr);
  const auto kind_of = [&](ui::Control& c) {
    TSkinControl* companion = host->FindSkinControl(c);
    return companion ? companion->kind() : Companion::none;
  };
  EXPECT_EQ(kind_of(*main_->TreeView1), Companion::scrollbar);
  EXPECT_EQ(kind_of(*main_->ListView1), Companion::list_view);
  EXPECT_EQ(kind_of(*main_->Memo1), Companion::scrollbar);
  EXPECT_EQ(kind_of(*main_->Panel1), Companion::box);
  EXPECT_EQ(kind_of(*main_->Panel2), Companion::box);
  EXPECT_EQ(kind_of(*main_->StatusBar1), Companion::none) << "the program leaves its status bar to the platform";
  EXPECT_EQ(kind_of(*main_->ProgressBar1), Companion::none);
  auto* tree = dynamic_cast<clip::skin::TSkinScrollbar*>(host->FindSkinControl(*main_->TreeView1));
  ASSERT_NE(tree, nullptr);
  EXPECT_TRUE(tree->take_over());
  HWND header = ListView_GetHeader(main_->ListView1->handle());
  ASSERT_NE(host->FindSkinControl(header), nullptr);
  EXPECT_EQ(host->FindSkinControl(header)->kind(), Companion::header);
  EXPECT_EQ(host->controls().size(), 6u);

  // The clip list's header shows our skin's header element: the rows of its
  // bottom edge are the element's own, stretched only along the header.
  const clip::skin::TDataSkinObject* element = main_->SkinData1.elements().Headerbar.get();
  ASSERT_TRUE(element && !element->Bitmap.empty()) << "our skin has a header element";
  const int frame_height = element->Bitmap.height;
  const uint32_t v = element->Bitmap.rgb(5, frame_height - 1);
  const COLORREF edge = RGB(v >> 16 & 255, v >> 8 & 255, v & 255);
  RECT first{};
  Header_GetItemRect(header, 0, &first);
  RECT window{};
  GetWindowRect(header, &window);
  RedrawWindow(header, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  const clip::skin::paint::window_dc dc(header);
  EXPECT_EQ(GetPixel(dc.get(), first.left + 5, first.bottom - 1), edge) << "the first item";
  EXPECT_EQ(GetPixel(dc.get(), window.right - window.left - 3, first.bottom - 1), edge) << "the empty rest";
}

TEST_F(SkinnedControls, AboutWindowOpened200TimesPaintsItsSkinnedCloseButtonAndLeaksNothing) {
  const clip::skin::TDataSkinButton& buttons = *main_->SkinData1.elements().Buttons;
  // The face's top-left corner is the element's own pixel: corners are never
  // stretched.
  const COLORREF corner = [&] {
    const uint32_t v = buttons.Bitmap.rgb(1, 1);
    return RGB(v >> 16 & 255, v >> 8 & 255, v & 255);
  }();
  const RECT b = about_->SpeedButton1->bounds();
  open_and_close_about([&] {
    CompanionHost* host = companions_of(about_->handle());
    ASSERT_NE(host, nullptr);
    ASSERT_EQ(host->controls().size(), 1u);
    EXPECT_EQ(host->controls()[0]->kind(), Companion::speed_button);
    RedrawWindow(about_->handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const ui::dc_scope dc(about_->handle());
    EXPECT_EQ(GetPixel(dc.get(), b.left + 1, b.top + 1), corner) << "the face comes from our skin";
  });
  pump();
  const clip::test::HandleCounts start;
  for (int i = 0; i < 200 && !HasFailure(); ++i) {
    open_and_close_about([&] {
      CompanionHost* host = companions_of(about_->handle());
      EXPECT_TRUE(host && host->controls().size() == 1u) << "one companion, however often";
      // The pointer over the button and away again, as a user's would.
      SendMessageW(about_->handle(), WM_MOUSEMOVE, 0, MAKELPARAM(b.left + 5, b.top + 5));
      SendMessageW(about_->handle(), WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
      RedrawWindow(about_->handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
    });
  }
  pump();
  clip::test::HandleCounts().expect_equal(start);
}

TEST_F(SkinnedControls, TwoHundredScrollsOfTheLogListAndTreeKeepHandleCountsFlat) {
  for (int i = 0; i < 300; ++i) main_->Memo1->add_line("日志 " + std::to_string(i));
  for (int i = 0; i < 200; ++i) main_->ListView1->add_row({std::to_string(i + 1), "01"}, 0);
  pump();
  const clip::test::HandleCounts start;
  HWND views[] = {main_->Memo1->handle(), main_->ListView1->handle(), main_->TreeView1->handle()};
  for (int i = 0; i < 200; ++i) {
    for (HWND view : views) {
      SendMessageW(view, WM_VSCROLL, i < 100 ? SB_LINEDOWN : SB_LINEUP, 0);
      UpdateWindow(view);
    }
    if (i % 20 == 0)
      RedrawWindow(main_->handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  pump();
  clip::test::HandleCounts().expect_equal(start);
}

TEST_F(SkinnedControls, MessageBoxButtonIsSkinnedAndItsClickClosesTheBox) {
  static HWND box;
  static bool done;
  static size_t buttons;
  box = nullptr;
  done = false;
  buttons = 0;
  const UINT_PTR poll = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    if (done) return;
    box = FindWindowW(L"#32770", L"提示");
    if (!box || !skinned(box)) return;
    CompanionHost* host = companions_of(box);
    if (!host) return;
    for (const auto& c : host->controls()) {
      if (c->kind() != Companion::button) continue;
      ++buttons;
      done = true;
      // Pressed and released on the button: the box hears of the click.
      SendMessageW(c->handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
      SendMessageW(c->handle(), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    }
  });
  const UINT_PTR backup = SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR, DWORD) {
    if (box) PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
  });
  const int answer = MessageBoxW(main_->handle(), L"源介质读取失败", L"提示", MB_OK);
  KillTimer(nullptr, poll);
  KillTimer(nullptr, backup);
  EXPECT_TRUE(done) << "the message box was skinned with a button companion";
  EXPECT_EQ(buttons, 1u);
  EXPECT_EQ(answer, IDOK) << "the skinned button's click closed the box";
  EXPECT_FALSE(IsWindow(box));
  // The box's window skin, and its companions with it, go at the next purge.
  TSkinManager::instance()->PurgeWindowSkins();
  EXPECT_EQ(TSkinManager::instance()->FindWindowSkin(box), nullptr);
  pump();
}

TEST_F(SkinnedControls, FormsDestroyedWithTheirCompanionsAttachedLeaveNoneBehind) {
  auto round = [&](bool hovered) {
    auto about = std::make_unique<app::TForm2>(nullptr);
    about->owner_window = main_->handle();
    ASSERT_TRUE(about->create());
    about->show();
    SetActiveWindow(about->handle());
    ASSERT_TRUE(pump_until([&] { return skinned(about->handle()); }, 3000));
    CompanionHost* host = companions_of(about->handle());
    ASSERT_TRUE(host && host->controls().size() == 1u);
    const RECT b = about->SpeedButton1->bounds();
    // The close button hot when the window goes.
    if (hovered) SendMessageW(about->handle(), WM_MOUSEMOVE, 0, MAKELPARAM(b.left + 3, b.top + 3));
    about.reset();
    SetActiveWindow(main_->handle());
    TSkinManager::instance()->PurgeWindowSkins();
    pump();
  };
  round(true);
  pump();
  const clip::test::HandleCounts start;
  for (int i = 0; i < 20 && !HasFailure(); ++i) round(i % 2 == 0);
  EXPECT_EQ(TSkinManager::instance()->window_skin_count(), 1u) << "only the main window's skin is left";
  clip::test::HandleCounts().expect_equal(start);
}

TEST_F(SkinnedControls, SwitchingTheSkinOffAndOnTakesEveryCompanionAwayAndBack) {
  const unsigned panel_colour_skinned = main_->Panel2->color_value();
  int nc_moves = 0;
  main_->Memo1->on(WM_NCMOUSEMOVE, [&](ui::Message&) -> std::optional<LRESULT> {
    ++nc_moves;
    return std::nullopt;
  });
  HWND memo = main_->Memo1->handle();
  SendMessageW(memo, WM_NCMOUSEMOVE, HTVSCROLL, 0);
  EXPECT_EQ(nc_moves, 0) << "the companion keeps the platform from redrawing its bar";

  int changed = 0;
  main_->SkinData1.OnSkinChanged = [&](clip::skin::TSkinData&) { ++changed; };
  clip::skin::SetActive(main_->SkinData1, false);
  ASSERT_TRUE(pump_until([&] { return changed == 1; }));
  EXPECT_EQ(companions_of(main_->handle()), nullptr);
  EXPECT_NE(main_->Panel2->color_value(), panel_colour_skinned) << "the panel's own colour is back";
  SendMessageW(memo, WM_NCMOUSEMOVE, HTVSCROLL, 0);
  EXPECT_EQ(nc_moves, 1) << "the memo's messages reach it directly";
  for (int i = 0; i < 20; ++i) main_->Memo1->add_line("行");
  RedrawWindow(main_->handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);

  clip::skin::SetActive(main_->SkinData1, true);
  ASSERT_TRUE(pump_until([&] { return changed == 2; }));
  CompanionHost* host = companions_of(main_->handle());
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->controls().size(), 6u);
  EXPECT_EQ(main_->Panel2->color_value(), panel_colour_skinned);
  SendMessageW(memo, WM_NCMOUSEMOVE, HTVSCROLL, 0);
  EXPECT_EQ(nc_moves, 1);
  RedrawWindow(main_->handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  pump();
}

}  // namespace
