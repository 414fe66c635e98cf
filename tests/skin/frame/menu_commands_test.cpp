// Every command of the main window's menu, reached through the painted menu
// bar of the skinned main window, and every command of the list's and the
// tree's context menus: clicked with the mouse and chosen from the keyboard
// while the real menu loop runs, every menu skinned as the program skins it.
// Input goes through SendInput, so hit testing, key states, accelerators and
// the menu loop see what a user's keys and mouse produce. Each run checks
// what the command did to the form.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "app/no_drives.h"
#include "skin/frame/form_skin.h"
#include "skin/frame/menu_windows.h"
#include "skin/frame/popup_menu.h"
#include "skin/paint/paint_win.h"
#include "ui/timer.h"
#include "ui/wide.h"

namespace {

using clip::skin::TFormSkin;
using clip::skin::TMenuBarSkin;


struct Box {
  std::string text, caption;
  UINT flags;
};

using clip::test::visible_menu_windows;

bool no_menu_open() { return !TMenuBarSkin::menu_filter_installed() && visible_menu_windows().empty(); }

// Input through the system's queue, as the devices give it.
INPUT key(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return in;
}
INPUT mouse(DWORD flags, POINT at = {0, 0}) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = flags;
  if (flags & MOUSEEVENTF_ABSOLUTE) {
    // Absolute positions are 1/65536 of the screen; rounded up so that the
    // system's conversion back lands on the pixel itself.
    const LONG cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    in.mi.dx = static_cast<LONG>((static_cast<LONGLONG>(at.x) * 65536 + cx - 1) / cx);
    in.mi.dy = static_cast<LONG>((static_cast<LONGLONG>(at.y) * 65536 + cy - 1) / cy);
  }
  return in;
}
void send(std::vector<INPUT> inputs) {
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}
void tap(WORD vk) { send({key(vk, false), key(vk, true)}); }
void alt_tap(WORD vk) { send({key(VK_MENU, false), key(vk, false), key(vk, true), key(VK_MENU, true)}); }
void click_at(POINT at) {
  send({mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, at), mouse(MOUSEEVENTF_LEFTDOWN),
        mouse(MOUSEEVENTF_LEFTUP)});
}
void right_click_at(POINT at) {
  send({mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, at), mouse(MOUSEEVENTF_RIGHTDOWN),
        mouse(MOUSEEVENTF_RIGHTUP)});
}
void move_to(POINT at) { send({mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, at)}); }

uint32_t rgb_of(COLORREF c) { return uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c); }

// A run of input: each step acts once its condition holds. The steps are
// driven from a timer, which also fires inside the modal menu loop.
struct Step {
  std::function<bool()> ready;
  std::function<void()> act;
};
struct Script {
  std::vector<Step> steps;
  size_t next = 0;
  ULONGLONG deadline = 0;
  bool timed_out = false;
  bool ended = false;
};
Script* running = nullptr;

void CALLBACK script_tick(HWND, UINT, UINT_PTR, DWORD) {
  if (!running) return;
  Script& s = *running;
  if (GetTickCount64() > s.deadline) {
    // A step that never comes, or a menu loop nobody closes, must not keep
    // the test inside the loop.
    if (s.next < s.steps.size()) s.timed_out = true;
    s.next = s.steps.size();
    if (!s.ended) EndMenu();
    s.ended = true;
    return;
  }
  if (s.next >= s.steps.size()) return;
  Step& step = s.steps[s.next];
  if (!step.ready()) return;
  ++s.next;
  step.act();
}

constexpr UINT_PTR kScriptTimer = 0x4D43;

class MenuCommands : public testing::Test {
 protected:
  // Positions in the drop-downs; 3 is the separator before 退出.
  enum { kScan = 0, kStop = 1, kRecover = 2, kExit = 4 };
  enum { kSelectAll = 0, kSelectNone = 1, kInvert = 2 };
  enum { kFileItem = 0, kEditItem = 1, kAboutItem = 2 };

  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    clip::skin::paint::start_painting();
  }
  static void TearDownTestSuite() { clip::skin::paint::stop_painting(); }

  void SetUp() override {
    ui::Application& app = ui::Application::instance();
    form_ = root_.make<app::TForm1>(std::make_unique<clip::test::FileProbe>());
    app.set_main_form(form_);
    app.set_notifier([this](HWND, const std::string& text, const std::string& caption, UINT flags) {
      boxes_.push_back({text, caption, flags});
      return IDOK;
    });
    ASSERT_TRUE(form_->create());
    ASSERT_FALSE(form_->SkinData1.not_ready());
    form_->OnAbout = [this] { ++abouts_; };
    form_->choose_folder = [this] {
      ++folder_questions_;
      return std::optional<std::string>();
    };
    hwnd_ = form_->handle();
    // Menu windows are skinned by the skin manager, as in the program.
    clip::skin::TSkinManager::create().set_popup_skin_factory(clip::skin::attach_popup_skin);
    clip::skin::Loaded(form_->SkinData1, form_);
    skin_ = clip::skin::attach_form_skin(hwnd_, form_, form_->SkinData1);
    ASSERT_TRUE(skin_);
    SendMessageW(hwnd_, clip::skin::kSkinStartMessage, 0, 1000);
    frame_ = static_cast<TFormSkin*>(skin_.get());
    bar_ = frame_->menu_bar();
    ASSERT_NE(bar_, nullptr);
    ASSERT_EQ(bar_->items().size(), 3u);
    form_->show();
    SetForegroundWindow(hwnd_);
    frame_->PaintFrame();  // lays the bar's items out
    pump_for(100);
    ASSERT_EQ(GetForegroundWindow(), hwnd_) << "the keys would go elsewhere";
    ASSERT_FALSE(IsRectEmpty(&bar_->items()[kAboutItem]->rect));
    // Four clip rows, the second one ticked.
    for (int i = 0; i < 4; ++i) form_->ListView1->add_row({std::to_string(i + 1), "1", "", "", "2"}, 0);
    form_->ListView1->set_checked(1, true);
  }

  void TearDown() override {
    EndMenu();
    pump_for(50);
    ui::Application& app = ui::Application::instance();
    MSG quit;
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    app.reset_terminated();
    ui::OpenDialog::set_runner(nullptr);
    clip::skin::TSkinManager::destroy();
    skin_.reset();
    app.set_notifier(nullptr);
    app.set_main_form(nullptr);
  }

  void pump_for(DWORD milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
      ui::Application::instance().process_messages();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
  }

  // Runs the steps with the program's own message handling (accelerators
  // included) until all have acted, no menu is open and `done` holds; then a
  // little longer, so that a command run twice shows.
  bool run(std::vector<Step> steps, const std::function<bool()>& done) {
    Script script;
    script.steps = std::move(steps);
    script.deadline = GetTickCount64() + 5000;
    running = &script;
    SetTimer(hwnd_, kScriptTimer, 20, script_tick);
    ui::Application& app = ui::Application::instance();
    const ULONGLONG end = GetTickCount64() + 8000;
    bool finished = false;
    while (GetTickCount64() < end) {
      if (!app.terminated()) app.process_messages();
      if (script.next == script.steps.size() && no_menu_open() && done()) {
        finished = true;
        break;
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    if (!finished) EndMenu();
    KillTimer(hwnd_, kScriptTimer);
    if (!app.terminated()) pump_for(150);
    running = nullptr;
    EXPECT_FALSE(script.timed_out) << "a step's condition never held (step " << script.next << ")";
    EXPECT_TRUE(no_menu_open());
    return finished;
  }

  POINT screen_centre(const RECT& window_rect) const {
    RECT w{};
    GetWindowRect(hwnd_, &w);
    return {w.left + (window_rect.left + window_rect.right) / 2, w.top + (window_rect.top + window_rect.bottom) / 2};
  }
  HMENU submenu(int item) const { return bar_->items()[static_cast<size_t>(item)]->submenu; }

  // The drop-down of bar item `item` is on screen, with the entry at
  // `position` highlighted (any entry, or none, for -1).
  std::function<bool()> drop_down(int item, int position = -1) const {
    return [this, item, position] {
      if (!TMenuBarSkin::menu_filter_installed() || TMenuBarSkin::open_item_index() != item) return false;
      if (visible_menu_windows().size() != 1) return false;
      return position < 0 || (GetMenuState(submenu(item), static_cast<UINT>(position), MF_BYPOSITION) & MF_HILITE);
    };
  }
  static std::function<bool()> idle() { return [] { return no_menu_open(); }; }

  std::vector<Step> mouse_steps(int item, int position) {
    return {
        {idle(), [this, item] { click_at(screen_centre(bar_->items()[static_cast<size_t>(item)]->rect)); }},
        {drop_down(item),
         [this, item, position] {
           RECT entry{};
           // The drop-down is a popup: its own window places the rectangle
           // (given the bar's window, some systems measure from that instead).
           GetMenuItemRect(nullptr, submenu(item), static_cast<UINT>(position), &entry);
           click_at({(entry.left + entry.right) / 2, (entry.top + entry.bottom) / 2});
         }},
    };
  }
  // Alt + the item's access key, then Down to the entry and Enter. The first
  // entry is selected as the drop-down opens; Down skips the separator.
  std::vector<Step> key_steps(WORD access, int item, int downs, int position) {
    std::vector<Step> steps{{idle(), [access] { alt_tap(access); }}};
    for (int i = 0; i < downs; ++i) {
      // Each Down waits for the one before it to have moved the highlight.
      steps.push_back({drop_down(item, i), [] { tap(VK_DOWN); }});
    }
    steps.push_back({drop_down(item, position), [] { tap(VK_RETURN); }});
    return steps;
  }

  // The context menu `menu` is on screen, skinned, with the entry at
  // `position` highlighted (any entry, or none, for -1).
  static std::function<bool()> context_menu(ui::PopupMenu* menu, int position = -1) {
    return [menu, position] {
      const std::vector<HWND> windows = visible_menu_windows();
      if (TMenuBarSkin::menu_filter_installed() || windows.size() != 1) return false;
      const clip::skin::TPopupMenuSkin* skin = clip::skin::find_popup_skin(windows[0]);
      if (!skin || skin->menu() != menu->menu_handle()) return false;  // not painted yet
      return position < 0 || (GetMenuState(menu->menu_handle(), UINT(position), MF_BYPOSITION) & MF_HILITE);
    };
  }
  // A right click at a point of `control`, then a click on the entry.
  std::vector<Step> context_mouse_steps(ui::WinControl* control, POINT client, ui::PopupMenu* menu, int position) {
    return {
        {idle(),
         [control, client] {
           POINT at = client;
           ClientToScreen(control->handle(), &at);
           right_click_at(at);
         }},
        {context_menu(menu),
         [menu, position] {
           RECT entry{};
           GetMenuItemRect(nullptr, menu->menu_handle(), UINT(position), &entry);
           click_at({(entry.left + entry.right) / 2, (entry.top + entry.bottom) / 2});
         }},
    };
  }
  // The menu key with the focus in `control`, Down to the entry, Enter.
  std::vector<Step> context_key_steps(ui::WinControl* control, ui::PopupMenu* menu, int downs, int position) {
    std::vector<Step> steps{{idle(), [control] {
                               SetFocus(control->handle());
                               tap(VK_APPS);
                             }}};
    steps.push_back({context_menu(menu), [] { tap(VK_DOWN); }});
    for (int i = 1; i < downs; ++i) {
      // Each Down waits for the one before it to have moved the highlight.
      steps.push_back({[menu] {
                         const int count = GetMenuItemCount(menu->menu_handle());
                         for (int p = 0; p < count; ++p)
                           if (GetMenuState(menu->menu_handle(), UINT(p), MF_BYPOSITION) & MF_HILITE) return true;
                         return false;
                       },
                       [] { tap(VK_DOWN); }});
    }
    steps.push_back({context_menu(menu, position), [] { tap(VK_RETURN); }});
    return steps;
  }
  // A point in the middle of the list's second row.
  POINT list_row() const {
    RECT row{};
    ListView_GetItemRect(form_->ListView1->handle(), 1, &row, LVIR_LABEL);
    return {(row.left + row.right) / 2, (row.top + row.bottom) / 2};
  }

  // A bar item drawn hot or pressed has a frame in the skin's button
  // highlight colour; a normal one shows the bar's background there.
  bool drawn_framed(int item) const {
    const RECT& r = bar_->items()[static_cast<size_t>(item)]->rect;
    HDC dc = GetWindowDC(hwnd_);
    const COLORREF corner = GetPixel(dc, r.left, r.top + 2);
    ReleaseDC(hwnd_, dc);
    return rgb_of(corner) ==
           rgb_of(clip::skin::paint::to_colorref(form_->SkinData1.elements().colour(clip::skin::SkinColour::ButtonHilight)));
  }
  // Every bar item normal, on screen and in its state.
  void expect_bar_at_rest(const char* when) {
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(bar_->items()[static_cast<size_t>(i)]->state, clip::skin::TNCObject::normal) << when << ": item " << i;
      EXPECT_FALSE(drawn_framed(i)) << when << ": item " << i;
    }
  }
  // Far from the window: the pointer hovers over nothing of it.
  static POINT away() { return {GetSystemMetrics(SM_CXSCREEN) - 3, GetSystemMetrics(SM_CYSCREEN) - 3}; }

  std::vector<bool> ticks() {
    std::vector<bool> out;
    for (int i = 0; i < form_->ListView1->row_count(); ++i) out.push_back(form_->ListView1->checked(i));
    return out;
  }

  ui::Component root_{nullptr, "root"};
  app::TForm1* form_ = nullptr;
  HWND hwnd_ = nullptr;
  std::unique_ptr<clip::skin::WindowSkin> skin_;
  TFormSkin* frame_ = nullptr;
  TMenuBarSkin* bar_ = nullptr;
  std::vector<Box> boxes_;
  int abouts_ = 0;
  int folder_questions_ = 0;
};

TEST_F(MenuCommands, TheBarCarriesTheMainMenu) {
  EXPECT_EQ(GetMenu(hwnd_), nullptr);
  EXPECT_EQ(bar_->items()[kFileItem]->caption, L"文件(&F)");
  EXPECT_EQ(bar_->items()[kEditItem]->caption, L"编辑(&P)");
  EXPECT_EQ(bar_->items()[kAboutItem]->caption, L"关于(&A)");
  EXPECT_EQ(submenu(kFileItem), form_->N1->menu_handle());
  EXPECT_EQ(submenu(kEditItem), form_->N5->menu_handle());
  EXPECT_EQ(submenu(kAboutItem), nullptr) << "关于 is a command on the bar";
  EXPECT_EQ(bar_->items()[kAboutItem]->command, form_->A1->id());
  EXPECT_EQ(GetMenuItemID(submenu(kFileItem), kExit), form_->N4->id());
  EXPECT_EQ(GetMenuItemID(submenu(kEditItem), kInvert), form_->N15->id());
}

TEST_F(MenuCommands, CheckMarkCommandsByMouse) {
  ASSERT_TRUE(run(mouse_steps(kEditItem, kInvert), [&] { return ticks() == std::vector<bool>{true, false, true, true}; }));
  ASSERT_TRUE(run(mouse_steps(kEditItem, kSelectAll), [&] { return ticks() == std::vector<bool>(4, true); }));
  ASSERT_TRUE(run(mouse_steps(kEditItem, kSelectNone), [&] { return ticks() == std::vector<bool>(4, false); }));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MenuCommands, CheckMarkCommandsByKeys) {
  ASSERT_TRUE(run(key_steps('P', kEditItem, 2, kInvert), [&] { return ticks() == std::vector<bool>{true, false, true, true}; }));
  ASSERT_TRUE(run(key_steps('P', kEditItem, 0, kSelectAll), [&] { return ticks() == std::vector<bool>(4, true); }));
  ASSERT_TRUE(run(key_steps('P', kEditItem, 1, kSelectNone), [&] { return ticks() == std::vector<bool>(4, false); }));
  // From the file menu, Right moves to the edit menu, whose first entry is then selected.
  ASSERT_TRUE(run({{idle(), [] { alt_tap('F'); }},
                   {drop_down(kFileItem, kScan), [] { tap(VK_RIGHT); }},
                   {drop_down(kEditItem, kSelectAll), [] { tap(VK_RETURN); }}},
                  [&] { return ticks() == std::vector<bool>(4, true); }));
  // Escape closes the drop-down and runs nothing.
  ASSERT_TRUE(run({{idle(), [] { alt_tap('P'); }}, {drop_down(kEditItem, kSelectAll), [] { tap(VK_ESCAPE); }}},
                  [] { return true; }));
  EXPECT_EQ(ticks(), std::vector<bool>(4, true));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MenuCommands, FileCommandsByMouse) {
  ASSERT_TRUE(run(mouse_steps(kFileItem, kScan), [&] { return !boxes_.empty(); }));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "请先选择源设备，再进行扫描！");
  EXPECT_EQ(boxes_[0].caption, "提示");

  EXPECT_FALSE(form_->stop_flag());
  ASSERT_TRUE(run(mouse_steps(kFileItem, kStop), [&] { return form_->stop_flag(); }));
  EXPECT_EQ(form_->ProgressBar1->position(), 1000);

  // A ticked row: recovering asks where to (and the test answers nothing).
  ASSERT_TRUE(run(mouse_steps(kFileItem, kRecover), [&] { return folder_questions_ == 1; }));
  EXPECT_EQ(boxes_.size(), 1u);
  form_->ListView1->set_checked(1, false);
  ASSERT_TRUE(run(mouse_steps(kFileItem, kRecover), [&] { return boxes_.size() == 2; }));
  EXPECT_EQ(boxes_[1].text, "请先勾选要恢复的文件！");
  EXPECT_EQ(folder_questions_, 1);
}

TEST_F(MenuCommands, FileCommandsByKeys) {
  ASSERT_TRUE(run(key_steps('F', kFileItem, 0, kScan), [&] { return !boxes_.empty(); }));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "请先选择源设备，再进行扫描！");

  ASSERT_TRUE(run(key_steps('F', kFileItem, 1, kStop), [&] { return form_->stop_flag(); }));
  EXPECT_EQ(form_->ProgressBar1->position(), 1000);

  ASSERT_TRUE(run(key_steps('F', kFileItem, 2, kRecover), [&] { return folder_questions_ == 1; }));
  form_->ListView1->set_checked(1, false);
  ASSERT_TRUE(run(key_steps('F', kFileItem, 2, kRecover), [&] { return boxes_.size() == 2; }));
  EXPECT_EQ(boxes_[1].text, "请先勾选要恢复的文件！");

  // 扫描's own shortcut, without the menu.
  ASSERT_TRUE(run({{idle(), [] { alt_tap('S'); }}}, [&] { return boxes_.size() == 3; }));
  EXPECT_EQ(boxes_[2].text, "请先选择源设备，再进行扫描！");
  EXPECT_EQ(folder_questions_, 1);
}

TEST_F(MenuCommands, AboutRunsFromTheBarByMouseAndByKey) {
  bool opened_a_menu = false;
  auto watch = [&] {
    opened_a_menu = opened_a_menu || !no_menu_open();
    return abouts_ > 0;
  };
  ASSERT_TRUE(run({{idle(), [this] { click_at(screen_centre(bar_->items()[kAboutItem]->rect)); }}}, watch));
  EXPECT_EQ(abouts_, 1);
  ASSERT_TRUE(run({{idle(), [] { alt_tap('A'); }}}, [&] { return watch() && abouts_ == 2; }));
  EXPECT_EQ(abouts_, 2);
  EXPECT_FALSE(opened_a_menu);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MenuCommands, ADoubleClickOnTheBarIsTwoClicks) {
  // Quickly twice on 关于: the command runs twice, and the window stays as
  // it is (a double click on the caption would maximize it).
  ASSERT_TRUE(run({{idle(),
                    [this] {
                      const POINT at = screen_centre(bar_->items()[kAboutItem]->rect);
                      click_at(at);
                      click_at(at);
                    }}},
                  [&] { return abouts_ == 2; }));
  EXPECT_EQ(abouts_, 2);
  EXPECT_FALSE(IsZoomed(hwnd_));
  EXPECT_EQ(frame_->show_state(), clip::skin::ShowState::normal);
}

TEST_F(MenuCommands, PressingTheOpenItemClosesItsDropDown) {
  auto centre = [this] { return screen_centre(bar_->items()[kFileItem]->rect); };
  // Closed for good: still closed a while later, nothing run.
  int quiet = 0;
  auto stays_closed = [&quiet] {
    quiet = no_menu_open() ? quiet + 1 : 0;
    return quiet >= 15;
  };
  for (DWORD pause : {0u, 700u}) {  // a double click, and a second click later
    ULONGLONG opened_at = 0;
    quiet = 0;
    ASSERT_TRUE(run({{idle(), [&] { click_at(centre()); }},
                     {[&] {
                        if (!drop_down(kFileItem)()) return false;
                        if (!opened_at) opened_at = GetTickCount64();
                        return GetTickCount64() >= opened_at + pause;
                      },
                      [&] { click_at(centre()); }},
                     {stays_closed, [] {}}},
                    [] { return true; }))
        << pause;
  }
  EXPECT_TRUE(boxes_.empty());
  EXPECT_FALSE(form_->stop_flag());
}

TEST_F(MenuCommands, ExitByMouseEndsTheProgram) {
  ASSERT_TRUE(run(mouse_steps(kFileItem, kExit), [] { return ui::Application::instance().terminated(); }));
  EXPECT_TRUE(form_->stop_flag());
  MSG quit;
  EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the message loop is told to end";
}

TEST_F(MenuCommands, ExitByKeysEndsTheProgram) {
  // Down three times: 停止, 恢复, then past the separator to 退出.
  ASSERT_TRUE(run(key_steps('F', kFileItem, 3, kExit), [] { return ui::Application::instance().terminated(); }));
  MSG quit;
  EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(MenuCommands, AltOrF10AloneOpensNoMenu) {
  // The bar has no keyboard mode of its own: the menu key that Alt or F10
  // alone makes is used up by the skin, so the window's default handling
  // never starts a menu loop of its own for it.
  int menu_keys = 0;
  form_->on(WM_SYSCOMMAND, [&](ui::Message& m) -> std::optional<LRESULT> {
    if ((m.wparam & 0xFFF0) == SC_KEYMENU) ++menu_keys;
    return std::nullopt;
  });
  bool opened_a_menu = false;
  auto watch = [&] {
    opened_a_menu = opened_a_menu || !visible_menu_windows().empty();
    return true;
  };
  ASSERT_TRUE(run({{idle(), [] { tap(VK_MENU); }}, {idle(), [] { tap(VK_F10); }}}, watch));
  for (int i = 0; i < 20; ++i) {
    pump_for(10);
    watch();
  }
  EXPECT_EQ(menu_keys, 0) << "Alt or F10 alone reached the form";
  EXPECT_FALSE(opened_a_menu);
  // The keys that follow reach the bar as usual.
  ASSERT_TRUE(run({{idle(), [] { alt_tap('P'); }}, {drop_down(kEditItem, kSelectAll), [] { tap(VK_RETURN); }}},
                  [&] { return ticks() == std::vector<bool>(4, true); }));
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(abouts_, 0);
}

TEST_F(MenuCommands, AccessKeysWorkWhileAControlHasTheFocus) {
  // Where a user who has clicked into the list or the tree types them.
  SetFocus(form_->ListView1->handle());
  ASSERT_EQ(GetFocus(), form_->ListView1->handle());
  ASSERT_TRUE(run({{idle(), [] { alt_tap('P'); }}, {drop_down(kEditItem, kSelectAll), [] { tap(VK_RETURN); }}},
                  [&] { return ticks() == std::vector<bool>(4, true); }));
  SetFocus(form_->TreeView1->handle());
  ASSERT_EQ(GetFocus(), form_->TreeView1->handle());
  ASSERT_TRUE(run({{idle(), [] { alt_tap('A'); }}}, [&] { return abouts_ == 1; }));
  ASSERT_TRUE(run({{idle(), [] { alt_tap('F'); }}, {drop_down(kFileItem, kScan), [] { tap(VK_RETURN); }}},
                  [&] { return boxes_.size() == 1; }));
  EXPECT_EQ(boxes_[0].text, "请先选择源设备，再进行扫描！");
  EXPECT_EQ(abouts_, 1);
}

}  // namespace

namespace {

TEST_F(MenuCommands, ListContextMenuCommandsByMouse) {
  const POINT row = list_row();
  ui::ListView* list = form_->ListView1;
  ASSERT_TRUE(run(context_mouse_steps(list, row, form_->PopupMenu1, 3),
                  [&] { return ticks() == std::vector<bool>{true, false, true, true}; }));
  ASSERT_TRUE(run(context_mouse_steps(list, row, form_->PopupMenu1, 4), [&] { return ticks() == std::vector<bool>(4, false); }));
  ASSERT_TRUE(run(context_mouse_steps(list, row, form_->PopupMenu1, 2), [&] { return ticks() == std::vector<bool>(4, true); }));
  // 恢复数据 with ticked rows asks where to.
  ASSERT_TRUE(run(context_mouse_steps(list, row, form_->PopupMenu1, 0), [&] { return folder_questions_ == 1; }));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MenuCommands, ListContextMenuCommandsByKeys) {
  ui::ListView* list = form_->ListView1;
  ui::PopupMenu* menu = form_->PopupMenu1;
  // Positions: 恢复数据, the separator, 全部选择, 全部反选, 取消选择; Down
  // passes the separator by.
  ASSERT_TRUE(run(context_key_steps(list, menu, 3, 3), [&] { return ticks() == std::vector<bool>{true, false, true, true}; }));
  ASSERT_TRUE(run(context_key_steps(list, menu, 4, 4), [&] { return ticks() == std::vector<bool>(4, false); }));
  ASSERT_TRUE(run(context_key_steps(list, menu, 2, 2), [&] { return ticks() == std::vector<bool>(4, true); }));
  ASSERT_TRUE(run(context_key_steps(list, menu, 1, 0), [&] { return folder_questions_ == 1; }));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MenuCommands, TreeContextMenuCommandsByMouseAndByKeys) {
  int dialogs = 0;
  ui::OpenDialog::set_runner([&](ui::OpenDialog&, HWND) -> std::optional<std::string> {
    ++dialogs;
    return std::nullopt;
  });
  ui::TreeView* tree = form_->TreeView1;
  // A 0-byte image under a name of its own: its scan is refused with a box.
  wchar_t dir[MAX_PATH], name[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  ASSERT_TRUE(GetTempFileNameW(dir, L"nul", 0, name));
  const HTREEITEM node = form_->load_image(ui::narrow(name));
  ASSERT_NE(node, nullptr);
  RECT label{};
  TreeView_GetItemRect(tree->handle(), node, &label, TRUE);
  const POINT on_node{(label.left + label.right) / 2, (label.top + label.bottom) / 2};

  ASSERT_TRUE(run(context_mouse_steps(tree, on_node, form_->PopupMenu2, 1), [&] { return dialogs == 1; }));
  ASSERT_TRUE(run(context_mouse_steps(tree, on_node, form_->PopupMenu2, 0), [&] { return boxes_.size() == 1; }));
  tree->select(node);
  ASSERT_TRUE(run(context_key_steps(tree, form_->PopupMenu2, 2, 1), [&] { return dialogs == 2; }));
  tree->select(node);  // 载入镜像 selected the group of images
  ASSERT_TRUE(run(context_key_steps(tree, form_->PopupMenu2, 1, 0), [&] { return boxes_.size() == 2; }));
  EXPECT_EQ(boxes_[0].text, boxes_[1].text) << "the same refusal, by mouse and by keys";
  DeleteFileW(name);
}

TEST_F(MenuCommands, NoBarItemStaysHotOrPressedOnceItsDropDownCloses) {
  // Without its hover timer the frame must put the items back by itself.
  KillTimer(hwnd_, TFormSkin::kHoverTimer);
  move_to(away());
  ASSERT_TRUE(run({{idle(), [] { alt_tap('F'); }}, {drop_down(kFileItem, kScan), [] { tap(VK_ESCAPE); }}},
                  [] { return true; }));
  expect_bar_at_rest("closed by Escape");
  // Opened by a click, closed by a click on the window's banner.
  const POINT banner = [&] {
    POINT p{200, 40};
    ClientToScreen(hwnd_, &p);
    return p;
  }();
  ASSERT_TRUE(run({{idle(), [this] { click_at(screen_centre(bar_->items()[kEditItem]->rect)); }},
                   {drop_down(kEditItem), [banner] { click_at(banner); }}},
                  [] { return true; }));
  expect_bar_at_rest("closed by a click elsewhere");
  // Moved along the bar to another drop-down: the first one lets go.
  ASSERT_TRUE(run({{idle(), [] { alt_tap('F'); }},
                   {drop_down(kFileItem, kScan), [] { tap(VK_RIGHT); }},
                   {drop_down(kEditItem, kSelectAll), [] { tap(VK_ESCAPE); }}},
                  [] { return true; }));
  EXPECT_EQ(bar_->items()[kFileItem]->state, clip::skin::TNCObject::normal);
  EXPECT_FALSE(drawn_framed(kFileItem));
}

TEST_F(MenuCommands, ABarItemIsNotLeftPressedBehindAModalWindow) {
  KillTimer(hwnd_, TFormSkin::kHoverTimer);
  ui::Form* dialog = root_.make<ui::Form>("Dialog");
  dialog->client_width = 200;
  dialog->client_height = 100;
  dialog->owner_window = hwnd_;
  ASSERT_TRUE(dialog->create());
  bool checked = false;
  ui::Timer closer(nullptr, "closer");
  closer.set_enabled(false);
  closer.set_interval(100);
  closer.OnTimer = [&] {
    if (!dialog->modal()) return;
    closer.set_enabled(false);
    checked = true;
    EXPECT_NE(bar_->items()[kAboutItem]->state, clip::skin::TNCObject::pressed);
    EXPECT_FALSE(drawn_framed(kAboutItem)) << "the item of an inactive window is drawn normal";
    move_to(away());
    dialog->close();
  };
  form_->OnAbout = [&] {
    ++abouts_;
    closer.set_enabled(true);
    dialog->show_modal();
  };
  ASSERT_TRUE(run({{idle(), [this] { click_at(screen_centre(bar_->items()[kAboutItem]->rect)); }}},
                  [&] { return abouts_ == 1 && !dialog->modal() && GetActiveWindow() == hwnd_; }));
  EXPECT_TRUE(checked);
  pump_for(50);
  expect_bar_at_rest("after the modal window closed");
}

}  // namespace
