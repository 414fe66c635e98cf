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
#include <thread>
#include <vector>

#include "app/about_form.h"
#include "app/main_form.h"
#include "app/no_drives.h"
#include "app/sparse_image.h"
#include "app/startup.h"
#include "ui/message_pump.h"
#include "ui/send_input.h"
#include "ui/system_error.h"
#include "ui/timer.h"
#include "ui/wide.h"

namespace {

using clip::test::chord;

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
    form_ = root_.make<app::TForm1>(std::make_unique<clip::test::FileProbe>());
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
  // An image of 64 sectors of zeros.
  std::string small_image() {
    files_.push_back(clip::test::write_blank_image(64 * 512));
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
  // Scans a sparse terabyte of zeros with the window in front: minutes of
  // work. False when there is no room for the file.
  bool start_long_scan() {
    const std::string path = clip::test::write_blank_image(int64_t{1} << 40);
    if (path.empty()) return false;
    files_.push_back(path);
    form_->TreeView1->select(form_->load_image(path));
    bring_to_front();
    SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
    return true;
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
  // 载入镜像 of a 0-byte image: refused, with its line in the log.
  const std::string empty = image(L"nul");
  next_file_ = empty;
  choice_ = form_->N12;
  SendMessageW(form_->TreeView1->handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(form_->TreeView1->handle()), -1);
  ASSERT_EQ(popups_.size(), 1u);
  ASSERT_TRUE(pump_until([&] { return !boxes_.empty(); })) << "the refused image says why";
  EXPECT_EQ(boxes_[0], "镜像文件为空或不足一个扇区（512 字节），未载入：" + empty);
  EXPECT_TRUE(logged(boxes_[0]));
  EXPECT_TRUE(form_->TreeView1->children_of(image_group()).empty());

  // 开始扫描 of an image that went away after loading: the box and the log
  // give the system's reason.
  const std::string gone = small_image();
  const HTREEITEM node = form_->load_image(gone);
  DeleteFileW(ui::widen(gone).c_str());
  choice_ = form_->N11;
  right_press(node);
  ASSERT_EQ(popups_.size(), 2u);
  EXPECT_TRUE(popups_[1].scan_enabled);
  ASSERT_TRUE(pump_until([&] { return boxes_.size() == 2; }));
  std::string reason = ui::system_message(ERROR_FILE_NOT_FOUND);
  while (!reason.empty() && reason.back() == '.') reason.pop_back();
  reason += " (" + std::to_string(ERROR_FILE_NOT_FOUND) + ")";
  EXPECT_EQ(boxes_[1], "打开源设备出错！\n" + reason);
  EXPECT_TRUE(logged("打开源设备出错！" + gone + "：" + reason)) << form_->Memo1->lines().back();
  const size_t after_scan = boxes_.size();

  // 载入镜像 of a file that can't be opened.
  next_file_ = "Z:\\no\\such\\folder\\disk.img";
  choice_ = form_->N12;
  right_press(node);
  ASSERT_TRUE(pump_until([&] { return boxes_.size() > after_scan; }));
  EXPECT_NE(boxes_.back().find("disk.img"), std::string::npos) << boxes_.back();
  EXPECT_NE(boxes_.back().find(ui::system_message(ERROR_PATH_NOT_FOUND)), std::string::npos) << boxes_.back();
  const size_t after_load = boxes_.size();

  // 恢复数据 from the list's menu, failing inside the command: the folder
  // chooser breaks down (a lost source can't be made from a file here).
  int64_t sectors = 0;
  const std::string path = clip::test::write_sparse_image(sectors);
  ASSERT_FALSE(path.empty());
  files_.push_back(path);
  form_->TreeView1->select(form_->load_image(path));
  SendMessageW(form_->handle(), WM_COMMAND, form_->S1->id(), 0);
  ASSERT_TRUE(pump_until([&] { return !form_->busy(); }, 30000));
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
  // Two small images under 镜像文件 (the group is the last node): a scan of
  // either ends at once, without a signature.
  const std::string first = small_image(), second = small_image();
  for (const std::string& path : {first, second}) form_->load_image(path);
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

// The position a scan shows in the status bar ("S/T"), 0 before any.
int64_t scanned_sector(app::TForm1& form) {
  const std::string status = form.StatusBar1->panel_text(0);
  const size_t slash = status.find('/');
  return slash == std::string::npos ? 0 : std::stoll(status.substr(0, slash));
}

// A scan of a terabyte goes on for minutes; the window answers meanwhile,
// and Stop ends the scan within a few seconds.
TEST_F(Operator, StopEndsALongScanSoonAndTheWindowAnswersMeanwhile) {
  if (!start_long_scan()) GTEST_SKIP() << "no room for a sparse file of 1 TiB here";
  ASSERT_TRUE(pump_until([&] { return scanned_sector(*form_) > 8100000; }, 30000)) << "the scan moves on";

  // Another thread asks the window something and waits for the answer.
  bool answered = false;
  std::thread asker([&] {
    DWORD_PTR result = 0;
    answered = SendMessageTimeoutW(form_->handle(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result) != 0;
  });
  pump_until([&] { return false; }, 200);
  asker.join();
  EXPECT_TRUE(answered);

  const auto stop = std::chrono::steady_clock::now();
  SendMessageW(form_->handle(), WM_COMMAND, form_->N2->id(), 0);
  ASSERT_TRUE(pump_until([&] { return !form_->busy(); }, 10000)) << "Stop ends the scan";
  RecordProperty("stop_ms", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - stop)
                                                 .count()));
  EXPECT_LT(scanned_sector(*form_), (int64_t{1} << 40) / 512 / 4) << "it ended long before the end of the image";
  EXPECT_TRUE(logged(clip::scanner::kDoneLine));
  EXPECT_TRUE(boxes_.empty());
}

// A message box opened during a scan (here the one that refuses a second
// scan, by its shortcut) is a modal loop of its own: the scan goes on and its
// progress reaches the window while the box is open.
TEST_F(Operator, AMessageBoxDoesNotPauseTheScan) {
  if (!start_long_scan()) GTEST_SKIP() << "no room for a sparse file of 1 TiB here";
  ASSERT_TRUE(pump_until([&] { return scanned_sector(*form_) > 8100000; }, 30000));

  // The real box; a timer inside its loop reads the status bar twice, half
  // a second apart, and then presses OK.
  int64_t first = 0, second = 0;
  std::string text;
  ui::Component root(nullptr, "box");
  auto* watch = root.make<ui::Timer>("Watch");
  watch->set_enabled(false);
  watch->set_interval(100);
  int ticks = 0;
  watch->OnTimer = [&] {
    ++ticks;
    if (ticks == 2) first = scanned_sector(*form_);
    if (ticks == 8) {
      second = scanned_sector(*form_);
      if (HWND box = GetLastActivePopup(form_->handle()); box && box != form_->handle())
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    if (ticks > 100) watch->set_enabled(false);
  };
  ui::Application::instance().set_notifier([&](HWND owner, const std::string& shown, const std::string& caption,
                                               UINT flags) {
    text = shown;
    watch->set_enabled(true);
    const int answer = MessageBoxW(owner, ui::widen(shown).c_str(), ui::widen(caption).c_str(), flags);
    watch->set_enabled(false);
    return answer;
  });
  chord({VK_MENU, 'S'});
  ASSERT_TRUE(pump_until([&] { return ticks >= 8; }, 20000)) << "the shortcut opened the box";
  EXPECT_EQ(text, "正在扫描或恢复，请等待完成或先停止！");
  EXPECT_GT(first, 0);
  EXPECT_GT(second, first) << "the scan went on while the box was open";
  ASSERT_TRUE(pump_until([&] { return IsWindowEnabled(form_->handle()) != FALSE; }, 5000)) << "the box closed";
  EXPECT_TRUE(form_->busy()) << "still the first scan";

  SendMessageW(form_->handle(), WM_COMMAND, form_->N2->id(), 0);
  ASSERT_TRUE(pump_until([&] { return !form_->busy(); }, 10000));
  const std::vector<std::string> lines = form_->Memo1->lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("您选择了", 0) == 0; }),
            1)
      << "no second scan started";
  ui::Application::instance().set_notifier([this](HWND, const std::string& shown, const std::string&, UINT) {
    boxes_.push_back(shown);
    return IDOK;
  });
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
