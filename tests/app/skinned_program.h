// The program's start-up as the window tests need it: both forms, the window
// skin factory, the main window's skin data enrolled, the main window shown
// and skinned on its activation; and the About window opened and closed by
// its own button, as the program's 关于 command does.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "app/about_form.h"
#include "app/main_form.h"
#include "app/no_drives.h"
#include "skin/frame/form_skin.h"
#include "skin/manager/skin_manager.h"
#include "skin/paint/paint_win.h"
#include "ui/message_pump.h"

namespace clip::test {

inline bool skinned(HWND hwnd) { return SendMessageW(hwnd, skin::kSkinQueryMessage, 0, 0) == 1; }

class SkinnedProgram : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    skin::paint::start_painting();
  }
  static void TearDownTestSuite() { skin::paint::stop_painting(); }

  void SetUp() override {
    main_ = root_.make<app::TForm1>(std::make_unique<NoDrives>());
    ASSERT_TRUE(main_->create());
    ASSERT_FALSE(main_->SkinData1.not_ready()) << "the program's skin loads from its resources";
    about_ = root_.make<app::TForm2>();
    about_->owner_window = main_->handle();
    ASSERT_TRUE(about_->create());
    before_skinning();
    skin::TSkinManager::create().set_window_skin_factory(skin::attach_form_skin);
    skin::Loaded(main_->SkinData1, main_);
    main_->show();
    SetForegroundWindow(main_->handle());
    SetActiveWindow(main_->handle());
    ASSERT_TRUE(pump_until([&] { return skinned(main_->handle()); })) << "the main window is skinned when activated";
    pump_until([] { return false; }, 100);
  }
  void TearDown() override {
    skin::TSkinManager::destroy();
    pump();
  }
  // Runs when both windows exist and nothing is skinned yet.
  virtual void before_skinning() {}

  // Opens the About window modally and, once it is shown skinned, runs check
  // and presses its close button. A backup timer closes it if the check
  // never ran.
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
};

}  // namespace clip::test
