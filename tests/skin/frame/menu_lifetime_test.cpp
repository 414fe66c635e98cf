// The window skin removed while one of its menus is open, as the skin
// manager's timer can do from inside the menu loop. In this program freed
// memory is overwritten before it goes back to the heap, so code that
// touches a freed window skin or menu bar after the menu closed reads
// garbage pointers and crashes instead of working by chance.
#include <windows.h>
#include <commctrl.h>
#include <malloc.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "skin/data/skin_win.h"
#include "skin/frame/form_skin.h"
#include "skin/frame/menu_windows.h"
#include "skin/frame/popup_menu.h"
#include "skin/paint/paint_win.h"
#include "ui/controls.h"
#include "ui/message_pump.h"

void operator delete(void* p) noexcept {
  if (!p) return;
  std::memset(p, 0xDD, _msize(p));
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { ::operator delete(p); }

namespace clip::skin {
namespace {

using test::run_in_menu_loop;
using test::visible_menu_windows;

class SkinRemovedWhileMenuOpen : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    paint::start_painting();
  }
  static void TearDownTestSuite() { paint::stop_painting(); }

  void SetUp() override {
    data_.apply_main_window_settings();
    ASSERT_TRUE(load_skin_stream_resource(data_));
    TSkinManager& manager = TSkinManager::create();
    manager.set_window_skin_factory(attach_form_skin);
    manager.set_popup_skin_factory(attach_popup_skin);
    Loaded(data_, nullptr);

    form_ = root_.make<ui::Form>("Form1");
    form_->client_width = 400;
    form_->client_height = 260;
    auto* main = form_->make<ui::Menu>("MainMenu1");
    file_ = main->add("N1", "文件(&F)");
    open_ = file_->add("N2", "打开");
    open_->OnClick = [this] { ++opened_; };
    form_->menu = main;
    popup_ = form_->make<ui::PopupMenu>("PopupMenu1");
    popup_->add("P1", "复制");
    ASSERT_TRUE(form_->create());
    hwnd_ = form_->handle();
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    ASSERT_TRUE(test::pump_until([&] {
      const TFormSkin* skin = find_form_skin(hwnd_);
      return skin && skin->skin_state() == WindowSkin::skinned;
    }));
    find_form_skin(hwnd_)->PaintFrame();  // lays the bar's items out
  }
  void TearDown() override { TSkinManager::destroy(); }

  // What the skin manager's timer does when the skin is switched off.
  void remove_skin() {
    SetActive(data_, false);
    TSkinManager::instance()->run_pending_action();
  }

  // After the menu closed: the window is whole and standard again.
  void expect_standard_window() {
    EXPECT_EQ(find_form_skin(hwnd_), nullptr);
    EXPECT_EQ(TSkinManager::instance()->window_skin_count(), 0u);
    EXPECT_EQ(GetMenu(hwnd_), form_->menu->menu_handle()) << "the window has its menu back";
    EXPECT_FALSE(TMenuBarSkin::menu_filter_installed());
    EXPECT_TRUE(visible_menu_windows().empty());
    EXPECT_FALSE(popup_->owner_draw());
    EXPECT_EQ(SendMessageW(hwnd_, clip::skin::kSkinQueryMessage, 0, 0), 0);
    test::pump();
    EXPECT_TRUE(IsWindow(hwnd_));
  }

  TSkinData data_;
  ui::Component root_{nullptr, "root"};
  ui::Form* form_ = nullptr;
  ui::MenuItem* file_ = nullptr;
  ui::MenuItem* open_ = nullptr;
  ui::PopupMenu* popup_ = nullptr;
  HWND hwnd_ = nullptr;
  int opened_ = 0;
};

TEST_F(SkinRemovedWhileMenuOpen, TheBarsDropDown) {
  TFormSkin* frame = find_form_skin(hwnd_);
  const RECT item = frame->menu_bar()->items().at(0)->rect;
  RECT window{};
  GetWindowRect(hwnd_, &window);
  const LPARAM at = MAKELPARAM(window.left + (item.left + item.right) / 2, window.top + (item.top + item.bottom) / 2);
  ASSERT_TRUE(run_in_menu_loop([&] { SendMessageW(hwnd_, WM_NCLBUTTONDOWN, HTMENU, at); },
                               {{test::menu_on_screen(), [&] { remove_skin(); }}}));
  expect_standard_window();
  EXPECT_EQ(opened_, 0) << "closing the drop-down chose nothing";
}

TEST_F(SkinRemovedWhileMenuOpen, TheSystemMenu) {
  TFormSkin* frame = find_form_skin(hwnd_);
  RECT window{};
  GetWindowRect(hwnd_, &window);
  ASSERT_TRUE(run_in_menu_loop([&] { frame->ShowSystemMenu({window.left + 30, window.top + 12}); },
                               {{test::menu_on_screen(), [&] { remove_skin(); }}}));
  expect_standard_window();
}

TEST_F(SkinRemovedWhileMenuOpen, AContextMenu) {
  POINT at{40, 40};
  ClientToScreen(hwnd_, &at);
  ASSERT_TRUE(run_in_menu_loop([&] { popup_->popup(hwnd_, at.x, at.y); },
                               {{test::menu_on_screen(), [&] { remove_skin(); }}}));
  expect_standard_window();
}

}  // namespace
}  // namespace clip::skin
