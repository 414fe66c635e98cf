#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include "app/about_form.h"
#include "app/no_drives.h"
#include "app/main_form.h"
#include "skin/frame/form_skin.h"
#include "skin/paint/paint_win.h"
#include "ui/window_sizes.h"

namespace {

using clip::test::client_size;

using clip::skin::TFormSkin;

using clip::test::NoDrives;

class SkinnedForms : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    clip::skin::paint::start_painting();
  }
  static void TearDownTestSuite() { clip::skin::paint::stop_painting(); }
  ui::Component root_{nullptr, "root"};
};

TEST_F(SkinnedForms, TheMainWindowKeepsItsClientSizeMenuAndColourThroughSkinAndUnskin) {
  auto* form = root_.make<app::TForm1>(std::make_unique<NoDrives>());
  ASSERT_TRUE(form->create());
  ASSERT_FALSE(form->SkinData1.not_ready());
  HWND hwnd = form->handle();
  const HMENU menu = GetMenu(hwnd);
  const unsigned colour = form->color_value();
  ASSERT_EQ(client_size(hwnd).cx, 733);
  ASSERT_EQ(client_size(hwnd).cy, 509);
  std::unique_ptr<clip::skin::WindowSkin> skin = clip::skin::attach_form_skin(hwnd, form, form->SkinData1);
  ASSERT_TRUE(skin);
  SendMessageW(hwnd, clip::skin::kSkinStartMessage, 0, 1000);
  auto& s = *static_cast<TFormSkin*>(skin.get());
  EXPECT_EQ(client_size(hwnd).cx, 733);
  EXPECT_EQ(client_size(hwnd).cy, 509);
  EXPECT_EQ(GetMenu(hwnd), nullptr) << "the painted bar took the menu";
  ASSERT_NE(s.menu_bar(), nullptr);
  EXPECT_EQ(s.metrics().menu_bar, GetSystemMetrics(SM_CYMENU));
  EXPECT_NE(form->color_value(), colour) << "the form takes the skin's face colour";
  s.PaintFrame();
  EXPECT_TRUE(s.title_buttons()[0]->enabled);
  // A caption change reaches the frame through the form's handler chain.
  SetWindowTextW(hwnd, L"\u65B0\u6807\u9898");
  EXPECT_EQ(s.caption(), L"\u65B0\u6807\u9898");
  skin->UnskinWindow();
  EXPECT_EQ(GetMenu(hwnd), menu);
  EXPECT_EQ(client_size(hwnd).cx, 733);
  EXPECT_EQ(client_size(hwnd).cy, 509);
  EXPECT_EQ(form->color_value(), colour);
}

TEST_F(SkinnedForms, TheAboutWindowKeepsItsClientSize) {
  auto* main = root_.make<app::TForm1>(std::make_unique<NoDrives>());
  ASSERT_TRUE(main->create());
  auto* about = root_.make<app::TForm2>();
  ASSERT_TRUE(about->create());
  HWND hwnd = about->handle();
  ASSERT_EQ(client_size(hwnd).cx, 543);
  ASSERT_EQ(client_size(hwnd).cy, 225);
  std::unique_ptr<clip::skin::WindowSkin> skin = clip::skin::attach_form_skin(hwnd, about, main->SkinData1);
  ASSERT_TRUE(skin);
  SendMessageW(hwnd, clip::skin::kSkinStartMessage, 0, 1000);
  EXPECT_EQ(client_size(hwnd).cx, 543);
  EXPECT_EQ(client_size(hwnd).cy, 225);
  skin->UnskinWindow();
  EXPECT_EQ(client_size(hwnd).cx, 543);
  EXPECT_EQ(client_size(hwnd).cy, 225);
}

}  // namespace
