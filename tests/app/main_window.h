// The main window on a machine without drives (images are found as the
// system sees them), for the tests that drive it through its commands:
// every message box is kept and answered with `answer_`.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "app/no_drives.h"
#include "app/scan_image.h"
#include "ui/message_pump.h"
#include "ui/wide.h"

namespace clip::test {

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class MainWindowTest : public testing::Test {
 protected:
  static void init_controls() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
  }

  void SetUp() override {
    ui::Application::instance().set_notifier([this](HWND, const std::string& text, const std::string&, UINT) {
      boxes_.push_back(text);
      return answer_;
    });
    open_window();
  }
  void TearDown() override {
    close_window();
    ui::Application::instance().set_notifier(nullptr);
  }

  // A new main window, as when the program is started again.
  void open_window() {
    close_window();
    root_ = std::make_unique<ui::Component>(nullptr, "root");
    form_ = root_->make<app::TForm1>(std::make_unique<FileProbe>());
    ui::Application::instance().set_main_form(form_);
    ASSERT_TRUE(form_->create());
  }
  void close_window() {
    if (!root_) return;
    root_.reset();
    form_ = nullptr;
    pump_until([] { return false; }, 20);
    ui::Application::instance().set_main_form(nullptr);
  }

  void command(ui::MenuItem* item) { SendMessageW(form_->handle(), WM_COMMAND, item->id(), 0); }
  bool wait_idle(DWORD milliseconds = 60000) {
    return pump_until([this] { return !form_->busy(); }, milliseconds);
  }
  bool logged(const std::string& part) {
    const std::vector<std::string> lines = form_->Memo1->lines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(part) != std::string::npos; });
  }

  std::unique_ptr<ui::Component> root_;
  app::TForm1* form_ = nullptr;
  std::vector<std::string> boxes_;
  int answer_ = IDOK;
};

// The same over the varied recorder image, written once for the suite.
class VariedImageTest : public MainWindowTest {
 protected:
  static void SetUpTestSuite() {
    init_controls();
    image_ = write_varied_scan_image();
  }
  static void TearDownTestSuite() { DeleteFileW(ui::widen(image_).c_str()); }
  void SetUp() override {
    ASSERT_FALSE(image_.empty());
    MainWindowTest::SetUp();
  }

  static inline std::string image_;
};

}  // namespace clip::test
