// The main window as an operator meets it: context-menu commands that fail,
// the keyboard (Tab, Shift+F10, the menu key, Esc and Enter in the About
// window), shortcuts while something runs on top, and the process settings of
// the program. Keys go through SendInput, so key states and the program's own
// message loop see what a keyboard gives.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/about_form.h"
#include "app/main_form.h"
#include "app/no_drives.h"
#include "app/sparse_image.h"
#include "app/startup.h"
#include "ui/message_pump.h"
#include "ui/send_input.h"
#include "ui/timer.h"
#include "ui/wide.h"

namespace {

using clip::test::chord;

// No drives; image files are measured on the disk, as the program does.
using clip::test::FileProbe;

std::string temp_file(const wchar_t* stem) {
  wchar_t dir[MAX_PATH], unique[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, stem, 0, unique);  // made empty, under a name of its own
  return ui::narrow(unique);
}

struct Popup {
  ui::PopupMenu* menu;
  bool scan_enabled;  // 开始扫描 as the menu showed it
};

class Operator : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
  }
  void SetUp() override {
    ui::Application& app = ui::Application::instance();
    form_ = root_.make<app::TForm1>(std::make_unique<FileProbe>());
    app.set_main_form(form_);
    app.set_notifier([this](HWND, const std::string& text, const std::string&, UINT) {
      boxes_.push_back(text);
      return IDOK;
    });
    ui::PopupMenu::set_tracker([this](ui::PopupMenu& menu, HWND, int, int) -> UINT {
      popups_.push_back({&menu, form_->N11->enabled()});
      ui::MenuItem* item = std::exchange(choice_, nullptr);
      return item && item->enabled() ? item->id() : 0;
    });
    ui::OpenDialog::set_runner([this](ui::OpenDialog&, HWND) -> std::optional<std::string> { return next_file_; });
    ASSERT_TRUE(form_->create());
  }
  void TearDown() override {
    pump_for(20);
    ui::Application& app = ui::Application::instance();
    app.set_notifier(nullptr);
    app.set_main_form(nullptr);
    ui::PopupMenu::set_tracker(nullptr);
    ui::OpenDialog::set_runner(nullptr);
    for (const std::string& file : files_) DeleteFileW(ui::widen(file).c_str());
  }

  // The program's own message handling: accelerators and keys included.
  void pump_for(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    do {
      ui::Application::instance().process_messages();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (GetTickCount64() < end);
  }
  template <typename Done>
  bool pump_until(Done done, DWORD milliseconds = 3000) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (!done() && GetTickCount64() < end) pump_for(5);
    return done();
  }
  // Shown, in front, with the focus in the tree: where the keys go.
  void bring_to_front() {
    form_->show();
    SetForegroundWindow(form_->handle());
    SetFocus(form_->TreeView1->handle());
    pump_for(50);
    ASSERT_EQ(GetForegroundWindow(), form_->handle()) << "the keys would go elsewhere";
  }
  std::string image(const wchar_t* stem) {
    files_.push_back(temp_file(stem));
    return files_.back();
  }
  HTREEITEM image_group() { return form_->TreeView1->children_of(nullptr).at(2); }
  void right_press(HTREEITEM node) {
    RECT r{};
    TreeView_GetItemRect(form_->TreeView1->handle(), node, &r, TRUE);
    right_press_at((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }
  void right_press_at(int x, int y) {
    HWND tree = form_->TreeView1->handle();
    // The release is queued first, so the tree's own drag tracking ends at once.
    PostMessageW(tree, WM_RBUTTONUP, 0, MAKELPARAM(x, y));
    SendMessageW(tree, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(x, y));
  }
  bool logged(const std::string& line) {
    const std::vector<std::string> lines = form_->Memo1->lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  ui::Component root_{nullptr, "root"};
  app::TForm1* form_ = nullptr;
  std::vector<std::string> boxes_;
  std::vector<Popup> popups_;
  ui::MenuItem* choice_ = nullptr;  // what the next popup menu's user picks
  std::optional<std::string> next_file_;
  std::vector<std::string> files_;
};

// Each command of the two context menus runs inside the controls' own
// processing of the click or key; when it fails, the box comes from the
// message loop and the window goes on working.
TEST_F(Operator, FailingContextMenuCommandsShowTheirBoxAndTheProgramGoesOn) {
  // A 0-byte image, right-clicked, 开始扫描.
  const std::string empty = image(L"nul");
  const HTREEITEM node = form_->load_image(empty);
  choice_ = form_->N11;
  right_press(node);
  ASSERT_EQ(popups_.size(), 1u);
  EXPECT_TRUE(popups_[0].scan_enabled);
  ASSERT_TRUE(pump_until([&] { return !boxes_.empty(); })) << "the refused scan says why";
  EXPECT_FALSE(boxes_[0].empty());
  const size_t after_scan = boxes_.size();

  // 载入镜像 of a file that can't be opened.
  next_file_ = "Z:\\no\\such\\folder\\disk.img";
  choice_ = form_->N12;
  right_press(node);
  ASSERT_TRUE(pump_until([&] { return boxes_.size() > after_scan; }));
  EXPECT_NE(boxes_.back().find("disk.img"), std::string::npos) << boxes_.back();
  const size_t after_load = boxes_.size();

  // 恢复数据 from the list's menu, failing inside the command: the folder
  // chooser breaks down (a lost source can't be made from a file here).
  int64_t sectors = 0;
  const std::string path = clip::test::write_sparse_image(sectors);
  ASSERT_FALSE(path.empty());
  files_.push_back(path);
  form_->TreeView1->select(form_->load_image(path));
  SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
  ASSERT_EQ(form_->ListView1->row_count(), 2);
  form_->N8->OnClick();
  form_->choose_folder = []() -> std::optional<std::string> { throw std::runtime_error("无法打开文件夹选择窗口"); };
  choice_ = form_->N6;
  HWND list = form_->ListView1->handle();
  SendMessageW(list, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), -1);
  ASSERT_EQ(popups_.back().menu, form_->PopupMenu1);
  ASSERT_TRUE(pump_until([&] { return boxes_.size() > after_load; }));
  EXPECT_EQ(boxes_.back(), "无法打开文件夹选择窗口");

  // Still working: the menus open and their commands run.
  form_->N10->OnClick();
  SendMessageW(form_->handle(), WM_COMMAND, form_->N15->id(), 0);
  EXPECT_TRUE(form_->ListView1->checked(0));
  const size_t menus = popups_.size();
  right_press(node);
  EXPECT_EQ(popups_.size(), menus + 1);
  EXPECT_TRUE(IsWindow(form_->handle()));
  EXPECT_FALSE(ui::Application::instance().terminated());

}

TEST_F(Operator, TabAndShiftTabMoveBetweenTreeListAndLog) {
  bring_to_front();
  HWND tree = form_->TreeView1->handle(), list = form_->ListView1->handle(), log = form_->Memo1->handle();
  const auto focus_is = [this](HWND hwnd) { return pump_until([hwnd] { return GetFocus() == hwnd; }, 1000); };
  ASSERT_EQ(GetFocus(), tree);
  chord({VK_TAB});
  EXPECT_TRUE(focus_is(list));
  chord({VK_TAB});
  EXPECT_TRUE(focus_is(log));
  chord({VK_TAB});
  EXPECT_TRUE(focus_is(tree)) << "round to the first again";
  chord({VK_SHIFT, VK_TAB});
  EXPECT_TRUE(focus_is(log));
  chord({VK_SHIFT, VK_TAB});
  EXPECT_TRUE(focus_is(list));
  EXPECT_TRUE(logged("程序启动完成！请选择驱动器进行扫描......"));
  EXPECT_EQ(form_->Memo1->lines().size(), 3u) << "no tab typed into the log";
}

// The tree's menu opens from the keyboard and acts on the node selected by
// the keyboard; 开始扫描 is greyed exactly on the group nodes.
TEST_F(Operator, KeyboardOpensTheTreeMenuForTheSelectedNode) {
  const std::string first = image(L"one"), second = image(L"two");
  // Two small images under 镜像文件 (the group is the last node): a scan of
  // either ends at once, without a signature.
  for (const std::string& path : {first, second}) {
    HANDLE file = CreateFileW(ui::widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = 64 * 512;
    SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
    form_->load_image(path);
  }
  bring_to_front();
  // A right press on a group node greys the item; a later press on empty
  // space removes the menu from the mouse, not from the keyboard.
  right_press(image_group());
  ASSERT_EQ(popups_.size(), 1u);
  EXPECT_FALSE(popups_[0].scan_enabled);
  RECT client;
  GetClientRect(form_->TreeView1->handle(), &client);
  right_press_at(client.right - 5, client.bottom - 5);
  EXPECT_EQ(popups_.size(), 1u) << "no menu over empty space";

  // Down from the group to its first image ("two", loaded last, sits first),
  // then the menu key.
  EXPECT_EQ(form_->TreeView1->selected(), image_group());
  chord({VK_DOWN});
  ASSERT_TRUE(pump_until([&] { return form_->TreeView1->selected() != image_group(); }));
  chord({VK_APPS});
  ASSERT_TRUE(pump_until([&] { return popups_.size() == 2; }));
  EXPECT_EQ(popups_[1].menu, form_->PopupMenu2);
  EXPECT_TRUE(popups_[1].scan_enabled) << "follows the selection, not the last press";

  // Up to the group again and Shift+F10: greyed.
  chord({VK_UP});
  ASSERT_TRUE(pump_until([&] { return form_->TreeView1->selected() == image_group(); }));
  chord({VK_SHIFT, VK_F10});
  ASSERT_TRUE(pump_until([&] { return popups_.size() == 3; }));
  EXPECT_FALSE(popups_[2].scan_enabled);
  pump_for(100);
  EXPECT_EQ(popups_.size(), 3u) << "one menu per press";
  GUITHREADINFO info{sizeof(info)};
  GetGUIThreadInfo(GetCurrentThreadId(), &info);
  EXPECT_FALSE(info.flags & GUI_INMENUMODE) << "the release of F10 opened no menu bar";

  // Down twice to the second image and Shift+F10, 开始扫描: that image is scanned.
  chord({VK_DOWN});
  chord({VK_DOWN});
  const HTREEITEM older = form_->TreeView1->children_of(image_group()).at(1);
  ASSERT_TRUE(pump_until([&] { return form_->TreeView1->selected() == older; }));
  choice_ = form_->N11;
  chord({VK_SHIFT, VK_F10});
  ASSERT_TRUE(pump_until([&] { return logged("扫描完成!"); }));
  EXPECT_TRUE(popups_.back().scan_enabled);
  const std::string name = first.substr(first.rfind('\\') + 1);
  EXPECT_NE(form_->current_source().device_path.find(name), std::string::npos) << form_->current_source().device_path;
}

// The About window over the main window: Esc and Enter close it, the main
// window's shortcuts stay with the main window, and closing hands the
// activation back to the main window.
TEST_F(Operator, AboutWindowKeysAndWhatItLeavesActive) {
  ui::Component root(nullptr, "about");
  auto* about = root.make<app::TForm2>();
  about->owner_window = form_->handle();
  ASSERT_TRUE(about->create());
  form_->OnAbout = [about] { about->show_modal(); };
  // Another program's window, behind the main window.
  ui::Window other;
  ui::WindowSpec plan;
  plan.class_name = L"ClipSalvageOtherProgram";
  plan.text = L"other";
  plan.bounds = {0, 0, 300, 200};
  ASSERT_TRUE(other.create(plan));
  std::vector<UINT> other_activations;
  other.on(WM_ACTIVATE, [&](WPARAM wparam, LPARAM) -> std::optional<LRESULT> {
    if (LOWORD(wparam) != WA_INACTIVE) other_activations.push_back(LOWORD(wparam));
    return std::nullopt;
  });
  ShowWindow(other.hwnd(), SW_SHOW);
  bring_to_front();
  other_activations.clear();

  // Inside the modal loop a timer presses the keys once the window is in front.
  struct Run {
    std::vector<WORD> keys;  // pressed together
    bool pressed = false;
  };
  auto run_about = [&](std::vector<WORD> keys, std::vector<WORD> then = {}) {
    Run run{std::move(keys)};
    auto* driver = root.make<ui::Timer>("Driver");
    driver->set_interval(30);
    int ticks = 0;
    driver->OnTimer = [&] {
      if (!IsWindowVisible(about->handle())) return;
      if (GetForegroundWindow() != about->handle()) SetForegroundWindow(about->handle());
      if (++ticks == 3) {
        if (run.keys.size() == 1) chord({run.keys[0]});
        else chord({run.keys[0], run.keys[1]});
        run.pressed = true;
      } else if (ticks == 10 && !then.empty()) {
        chord({then[0]});
      } else if (ticks > 60) {
        about->close();  // the keys did not close it
      }
    };
    SendMessageW(form_->handle(), WM_COMMAND, form_->A1->id(), 0);
    driver->set_enabled(false);
    EXPECT_TRUE(run.pressed);
    return ticks;
  };

  EXPECT_LT(run_about({VK_ESCAPE}), 60) << "Esc closes";
  EXPECT_FALSE(IsWindowVisible(about->handle()));
  EXPECT_TRUE(IsWindowEnabled(form_->handle()));
  EXPECT_TRUE(other_activations.empty()) << "closing activated another program's window";
  EXPECT_EQ(GetActiveWindow(), form_->handle());

  EXPECT_LT(run_about({VK_RETURN}), 60) << "Enter closes";
  EXPECT_FALSE(IsWindowVisible(about->handle()));
  EXPECT_TRUE(other_activations.empty());

  // Alt+S (扫描) while the About window is open: nothing happens to the main
  // window; Esc then closes the About window.
  const size_t lines = form_->Memo1->lines().size();
  EXPECT_LT(run_about({VK_MENU, 'S'}, {VK_ESCAPE}), 60);
  pump_for(50);
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();
  EXPECT_EQ(form_->Memo1->lines().size(), lines);

  // The shortcut itself works on the main window.
  bring_to_front();
  chord({VK_MENU, 'S'});
  ASSERT_TRUE(pump_until([&] { return !boxes_.empty(); }));
  EXPECT_EQ(boxes_[0], "请先选择源设备，再进行扫描！");
}

// A handler that runs its own message loop (as a long command pumps): a
// shortcut pressed meanwhile would start a second command inside the first.
TEST_F(Operator, ShortcutsWaitWhileAHandlerPumpsMessages) {
  bring_to_front();
  constexpr UINT kBusy = WM_APP + 40;
  bool pumped = false;
  form_->on(kBusy, [&](ui::Message&) -> std::optional<LRESULT> {
    chord({VK_MENU, 'S'});
    pump_for(300);
    pumped = true;
    return 0;
  });
  PostMessageW(form_->handle(), kBusy, 0, 0);
  ASSERT_TRUE(pump_until([&] { return pumped; }));
  pump_for(100);
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();
}

TEST(ProcessStartup, NoSystemErrorBoxesAndComForTheFolderChooser) {
  const app::ProcessStartup startup;
  EXPECT_TRUE(startup.ole_ready());
  const UINT mode = GetErrorMode();
  EXPECT_EQ(mode & (SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX), SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // Set up already on this thread, as a single-threaded apartment.
  const HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(again, S_FALSE);
  if (SUCCEEDED(again)) CoUninitialize();
}

}  // namespace
