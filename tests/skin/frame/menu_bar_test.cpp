#include "skin/frame/menu_bar.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "skin/data/skin_win.h"
#include "skin/paint/paint_win.h"
#include "ui/controls.h"
#include "ui/handles.h"
#include "skin/frame/menu_windows.h"

namespace clip::skin {
namespace {

constexpr UINT kOpen = 201, kExit = 202, kCopy = 211, kNext = 221, kPrev = 222, kAbout = 231, kPaste = 212;
constexpr RECT kBar{4, 30, 404, 50};

// The window skin as the bar sees it, over a plain window with the standard
// frame: window coordinates are screen coordinates less the window's corner.
class TestHost : public FrameHost {
 public:
  HWND hwnd = nullptr;
  TSkinData* data = nullptr;
  FrameMetrics frame{4, 30, 4, 4, 20};
  bool tracking = false;
  TNCObject* hot = nullptr;

  HWND window() const override { return hwnd; }
  TSkinData& skin_data() const override { return *data; }
  bool active() const override { return true; }
  ShowState show_state() const override { return ShowState::normal; }
  const FrameMetrics& metrics() const override { return frame; }
  bool right_to_left() const override { return false; }
  POINT ScreenToWindow(POINT screen) const override {
    RECT r{};
    GetWindowRect(hwnd, &r);
    return {screen.x - r.left, screen.y - r.top};
  }
  TNCObject* hot_object() const override { return hot; }
  void set_hot_object(TNCObject* object) override { hot = object; }
  bool menu_tracking() const override { return tracking; }
  void set_menu_tracking(bool value) override { tracking = value; }
};

// One step of a drop-down script: once item `index` has its drop-down open
// with `depth` menus on screen (and, when asked, an item highlighted in the
// deepest one), `act` runs (it posts a key or a mouse move).
struct Step {
  int index;
  int depth;
  std::function<void()> act;
};

struct Recorder {
  TMenuBarSkin* bar = nullptr;
  TestHost* host = nullptr;
  std::vector<int> opened;        // items opened by posted clicks
  std::vector<UINT> commands;     // WM_COMMAND identifiers that reached the window
  std::vector<Step> script;
  size_t next_step = 0;
  bool filter_seen_installed = false;
  DWORD deadline = GetTickCount() + 4000;
  bool timed_out = false;
};
Recorder* recorder = nullptr;

using clip::test::visible_menu_windows;

void run_script_step() {
  Recorder& r = *recorder;
  if (r.next_step < r.script.size() && GetTickCount() > r.deadline) {
    // A stuck script must not leave the test inside the menu loop.
    r.timed_out = true;
    r.next_step = r.script.size();
    EndMenu();
    return;
  }
  if (r.next_step >= r.script.size() || !TMenuBarSkin::menu_filter_installed()) return;
  r.filter_seen_installed = true;
  const Step& step = r.script[r.next_step];
  if (TMenuBarSkin::open_item_index() != step.index) return;
  if (static_cast<int>(visible_menu_windows().size()) != step.depth) return;
  ++r.next_step;
  step.act();
}

LRESULT CALLBACK test_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (recorder && recorder->bar) {
    switch (message) {
      case WM_NCLBUTTONDOWN: {
        const POINT screen{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
        if (TMenuBtn* item = recorder->bar->FindMenuItemAt(recorder->host->ScreenToWindow(screen))) {
          recorder->opened.push_back(item->index);
          recorder->bar->OpenMenuItem(*item);
        }
        return 0;
      }
      case WM_COMMAND:
        recorder->commands.push_back(LOWORD(wparam));
        return 0;
      case WM_TIMER:
        run_script_step();
        return 0;
      default: break;
    }
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void post_key(UINT key) {
  const std::vector<HWND> menus = visible_menu_windows();
  PostMessageW(menus.empty() ? nullptr : menus.front(), WM_KEYDOWN, key, 0);
}

// Runs messages until the script is done and no drop-down is open.
bool pump_until_done(Recorder& r, DWORD timeout_ms = 5000) {
  const DWORD deadline = GetTickCount() + timeout_ms;
  while (GetTickCount() < deadline) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (r.next_step == r.script.size() && !TMenuBarSkin::menu_filter_installed()) return true;
    Sleep(5);
  }
  return false;
}

bool queued(HWND hwnd, UINT message) {
  MSG msg;
  return PeekMessageW(&msg, hwnd, message, message, PM_NOREMOVE) != FALSE;
}

void drain(HWND hwnd) {
  MSG msg;
  // Posted messages only: a pending WM_PAINT would come back forever.
  while (PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE)) {
  }
}

class MenuBarTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    paint::start_painting();
    WNDCLASSW wc{};
    wc.lpfnWndProc = test_window_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"MenuBarTestWindow";
    RegisterClassW(&wc);
  }
  static void TearDownTestSuite() { paint::stop_painting(); }

  void SetUp() override {
    file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, kOpen, L"&Open");
    AppendMenuW(file, MF_STRING, kExit, L"E&xit");
    find = CreatePopupMenu();
    AppendMenuW(find, MF_STRING, kNext, L"&Next");
    AppendMenuW(find, MF_STRING, kPrev, L"&Previous");
    edit = CreatePopupMenu();
    AppendMenuW(edit, MF_STRING, kCopy, L"&Copy");
    AppendMenuW(edit, MF_POPUP, reinterpret_cast<UINT_PTR>(find), L"&Find");
    AppendMenuW(edit, MF_STRING, kPaste, L"&Paste");
    help = CreatePopupMenu();
    AppendMenuW(help, MF_STRING, kAbout, L"&About");
    menu = CreateMenu();
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(edit), L"&Edit");
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
    window = ui::unique_hwnd(CreateWindowExW(0, L"MenuBarTestWindow", L"bar", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                                             420, 300, nullptr, menu, GetModuleHandleW(nullptr), nullptr));
    ASSERT_TRUE(window);
    SetForegroundWindow(window.get());
    host.hwnd = window.get();
    host.data = &data;
    drain(window.get());
  }
  void TearDown() override {
    recorder = nullptr;
    if (!GetMenu(window.get())) DestroyMenu(menu);
  }

  // Builds the bar and paints it into an off-screen surface.
  void build(TMenuBarSkin& bar) {
    bar.BuildFromWindowMenu();
    paint(bar);
  }
  void paint(TMenuBarSkin& bar) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    ui::gdi_object<HBITMAP> surface(CreateCompatibleBitmap(screen, 420, 80));
    HGDIOBJ previous = SelectObject(dc, surface.get());
    bar.PaintMenuBar(dc, kBar);
    SelectObject(dc, previous);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
  }

  // Opens item `first` and runs the script until every drop-down is closed.
  void run(TMenuBarSkin& bar, Recorder& r, int first) {
    r.bar = &bar;
    r.host = &host;
    recorder = &r;
    SetTimer(window.get(), 1, 20, nullptr);
    r.opened.push_back(first);
    bar.OpenMenuItem(*bar.items()[static_cast<size_t>(first)]);
    EXPECT_TRUE(pump_until_done(r));
    EXPECT_FALSE(r.timed_out) << "the script got stuck";
    KillTimer(window.get(), 1);
    EXPECT_FALSE(TMenuBarSkin::menu_filter_installed()) << "the filter goes with the last drop-down";
    EXPECT_FALSE(host.tracking);
    EXPECT_EQ(TMenuBarSkin::open_item_index(), -1);
  }

  HMENU menu = nullptr, file = nullptr, edit = nullptr, find = nullptr, help = nullptr;
  ui::unique_hwnd window;
  TSkinData data;
  TestHost host;
};

int menu_text_width(const wchar_t* text) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  HFONT font = CreateFontIndirectW(&metrics.lfMenuFont);
  HDC dc = GetDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
  SelectObject(dc, previous);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  return size.cx;
}

TEST_F(MenuBarTest, TakesTheMenuOffTheWindowAndGivesItBack) {
  EnableMenuItem(menu, 2, MF_BYPOSITION | MF_GRAYED);
  {
    TMenuBarSkin bar(host, nullptr);
    bar.BuildFromWindowMenu();
    EXPECT_EQ(GetMenu(window.get()), nullptr) << "Windows draws no bar of its own";
    EXPECT_EQ(bar.menu_handle(), menu);
    ASSERT_EQ(bar.items().size(), 3u);
    EXPECT_EQ(bar.items()[0]->caption, L"&File");
    EXPECT_EQ(bar.items()[1]->submenu, edit);
    EXPECT_EQ(bar.items()[1]->command, 0u) << "a drop-down's identifier is its handle, never a command";
    EXPECT_TRUE(bar.items()[1]->item_enabled);
    EXPECT_FALSE(bar.items()[2]->item_enabled);
    bar.BuildFromWindowMenu();
    EXPECT_EQ(bar.items().size(), 3u) << "a rebuild without a menu on the window keeps the remembered one";
    bar.restore_menu();
    EXPECT_EQ(GetMenu(window.get()), menu);
    bar.BuildFromWindowMenu();
  }
  EXPECT_EQ(GetMenu(window.get()), menu) << "the bar gives the menu back when it goes";
}

TEST_F(MenuBarTest, LaysItemsOutTenPixelsWiderThanTheirText) {
  TMenuBarSkin bar(host, nullptr);
  build(bar);
  const wchar_t* texts[] = {L"File", L"Edit", L"Help"};
  int x = kBar.left + 6;  // no menu-bar element: a plain bar
  for (size_t i = 0; i < 3; ++i) {
    const RECT& r = bar.items()[i]->rect;
    EXPECT_EQ(r.left, x) << i;
    EXPECT_EQ(r.right - r.left, menu_text_width(texts[i]) + 10) << i;
    EXPECT_EQ(r.top, kBar.top);
    EXPECT_EQ(r.bottom, kBar.bottom);
    x = r.right;
  }
  const RECT& edit_rect = bar.items()[1]->rect;
  EXPECT_EQ(bar.FindMenuItemAt({edit_rect.left, edit_rect.top}), bar.items()[1].get());
  EXPECT_EQ(bar.FindMenuItemAt({edit_rect.right - 1, edit_rect.bottom - 1}), bar.items()[1].get());
  EXPECT_EQ(bar.FindMenuItemAt({edit_rect.right, edit_rect.top}), bar.items()[2].get());
  EXPECT_EQ(bar.FindMenuItemAt({kBar.left + 2, kBar.top + 5}), nullptr) << "before the first item";
  EXPECT_EQ(bar.FindMenuItemAt({x + 20, kBar.top + 5}), nullptr) << "after the last item";
  EXPECT_EQ(bar.FindMenuItemAt({edit_rect.left + 2, kBar.bottom}), nullptr) << "below the bar";

  TSkinData skinned;
  ASSERT_TRUE(load_skin_stream_resource(skinned));
  ASSERT_TRUE(skinned.elements().MenuBar);
  host.data = &skinned;
  paint(bar);
  EXPECT_EQ(bar.items()[0]->rect.left, kBar.left + skinned.elements().MenuBar->LeftWidth + 4)
      << "the first item starts 4 pixels after the element's left cap";
}

TEST_F(MenuBarTest, RepeatedPaintsHoldNoMoreHandles) {
  TSkinData skinned;
  ASSERT_TRUE(load_skin_stream_resource(skinned));
  host.data = &skinned;
  TMenuBarSkin bar(host, nullptr);
  build(bar);
  bar.items()[1]->Hover();
  const int bitmaps = ui::gdi_object<HBITMAP>::live_count();
  const int brushes = ui::gdi_object<HBRUSH>::live_count();
  const int fonts = ui::gdi_object<HFONT>::live_count();
  for (int i = 0; i < 25; ++i) {
    paint(bar);
    bar.items()[static_cast<size_t>(i % 3)]->Hover();
    bar.items()[static_cast<size_t>(i % 3)]->Leave();
  }
  EXPECT_EQ(ui::gdi_object<HBITMAP>::live_count(), bitmaps);
  EXPECT_EQ(ui::gdi_object<HBRUSH>::live_count(), brushes);
  EXPECT_EQ(ui::gdi_object<HFONT>::live_count(), fonts);
}

TEST_F(MenuBarTest, OwnerDrawnItemsTakeTheirCaptionsFromTheFormsMenu) {
  ui::Menu form_menu(nullptr, "MainMenu1");
  ui::MenuItem* scan = form_menu.add("N1", "扫描(&S)");
  scan->add("N2", "开始");
  ui::MenuItem* about = form_menu.add("A1", "关于(&A)");
  about->set_enabled(false);
  HMENU handle = form_menu.build();
  for (UINT i = 0; i < 2; ++i) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    info.fType = MFT_OWNERDRAW;
    SetMenuItemInfoW(handle, i, TRUE, &info);
  }
  SetMenu(window.get(), handle);
  TMenuBarSkin bar(host, &form_menu);
  bar.BuildFromWindowMenu();
  ASSERT_EQ(bar.items().size(), 2u);
  EXPECT_EQ(bar.items()[0]->caption, L"扫描(&S)");
  EXPECT_EQ(bar.items()[0]->submenu, scan->menu_handle());
  EXPECT_EQ(bar.items()[0]->command, scan->id());
  EXPECT_EQ(bar.items()[1]->caption, L"关于(&A)");
  EXPECT_FALSE(bar.items()[1]->item_enabled);
  EXPECT_EQ(bar.items()[1]->submenu, nullptr);
  EXPECT_EQ(bar.FindMenuAccelerator(L's'), bar.items()[0].get());
  bar.restore_menu();
  SetMenu(window.get(), menu);
}

TEST_F(MenuBarTest, AccessKeysIgnoreCaseAndSkipDisabledItems) {
  ModifyMenuW(menu, 2, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Fetch");
  AppendMenuW(menu, MF_STRING, 240, L"R&&D");
  TMenuBarSkin bar(host, nullptr);
  build(bar);
  EXPECT_EQ(bar.FindMenuAccelerator(L'f'), bar.items()[0].get());
  EXPECT_EQ(bar.FindMenuAccelerator(L'E'), bar.items()[1].get());
  EXPECT_EQ(bar.FindMenuAccelerator(L'h'), nullptr);
  EXPECT_EQ(bar.FindMenuAccelerator(L'd'), nullptr) << "&& is a literal ampersand";
  bar.items()[0]->item_enabled = false;
  EXPECT_EQ(bar.FindMenuAccelerator(L'F'), bar.items()[2].get()) << "the disabled File gives way to Fetch";

  EXPECT_TRUE(bar.HandleSysChar(L'e', 1L << 29));
  EXPECT_TRUE(queued(window.get(), WM_NCLBUTTONDOWN)) << "Alt+E posts the click at Edit";
  drain(window.get());
  EXPECT_FALSE(bar.HandleSysChar(L'e', 0)) << "without Alt it is an ordinary character";
  EXPECT_FALSE(bar.HandleSysChar(L'q', 1L << 29));
  EXPECT_TRUE(bar.HandleKeyMenu(SC_KEYMENU, 0)) << "Alt alone is swallowed";
  EXPECT_FALSE(bar.HandleKeyMenu(SC_KEYMENU, L' ')) << "Alt+Space still opens the system menu";
  EXPECT_TRUE(bar.HandleKeyMenu(SC_KEYMENU | 3, L'E'));
  EXPECT_TRUE(queued(window.get(), WM_NCLBUTTONDOWN));
  EXPECT_FALSE(bar.HandleKeyMenu(SC_CLOSE, 0));
  drain(window.get());
}

TEST_F(MenuBarTest, CommandItemOnlyPostsItsCommand) {
  // The drop-down item is replaced by a new one: ModifyMenu to a plain string
  // keeps the old submenu on some systems, and the item would still open it.
  ASSERT_TRUE(DeleteMenu(menu, 2, MF_BYPOSITION));
  ASSERT_TRUE(AppendMenuW(menu, MF_STRING, kAbout, L"&About"));
  TMenuBarSkin bar(host, nullptr);
  build(bar);
  EXPECT_FALSE(bar.OpenMenuItem(*bar.items()[2]));
  MSG msg{};
  ASSERT_TRUE(PeekMessageW(&msg, window.get(), WM_COMMAND, WM_COMMAND, PM_REMOVE));
  EXPECT_EQ(msg.wParam, kAbout);
  EXPECT_EQ(msg.lParam, 0);
  EXPECT_FALSE(PeekMessageW(&msg, window.get(), 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE)) << "nothing else";
  EXPECT_FALSE(host.tracking);
  EXPECT_FALSE(TMenuBarSkin::menu_filter_installed());

  bar.items()[0]->item_enabled = false;
  EXPECT_TRUE(bar.OpenMenuItem(*bar.items()[0])) << "a disabled drop-down shows nothing";
  EXPECT_FALSE(TMenuBarSkin::menu_filter_installed());
  EXPECT_FALSE(host.tracking);
  EXPECT_FALSE(queued(window.get(), WM_KEYDOWN)) << "no key is left behind for the window";
}

TEST_F(MenuBarTest, ArrowKeysMoveAlongTheBarAndWrap) {
  TMenuBarSkin bar(host, nullptr);
  build(bar);
  Recorder r;
  r.script = {
      {1, 1, [] { post_key(VK_RIGHT); }},   // Copy is selected: on to Help
      {2, 1, [] { post_key(VK_RIGHT); }},   // from the last item to the first
      {0, 1, [] { post_key(VK_LEFT); }},    // and back from the first to the last
      {2, 1, [] { post_key(VK_RETURN); }},  // About is chosen
  };
  run(bar, r, 1);
  EXPECT_TRUE(r.filter_seen_installed);
  EXPECT_EQ(r.opened, (std::vector<int>{1, 2, 0, 2}));
  EXPECT_EQ(r.commands, (std::vector<UINT>{kAbout})) << "the chosen item's command reaches the window";
}

TEST_F(MenuBarTest, LeftArrowOnAnOpenSubmenuClosesItFirst) {
  TMenuBarSkin bar(host, nullptr);
  build(bar);
  Recorder r;
  r.script = {
      {1, 1, [] { post_key(VK_DOWN); }},  // from Copy to Find
      {1, 1, [this] {
         if (GetMenuState(edit, 1, MF_BYPOSITION) & MF_HILITE) post_key(VK_RIGHT);
         else recorder->next_step--;  // the Down key has not arrived yet
       }},
      {1, 2, [] { post_key(VK_LEFT); }},  // the submenu is open: Left closes it
      {1, 1, [] { post_key(VK_ESCAPE); }},
  };
  run(bar, r, 1);
  EXPECT_EQ(r.opened, (std::vector<int>{1})) << "the bar never moved to File";
  EXPECT_TRUE(r.commands.empty());
  EXPECT_FALSE(queued(window.get(), WM_NCLBUTTONDOWN)) << "Escape leaves no pending switch";
}

TEST_F(MenuBarTest, MouseOverTheBarSwitchesDropDowns) {
  TMenuBarSkin bar(host, nullptr);
  build(bar);
  auto move_to = [this, &bar](int index) {
    RECT window_rect{};
    GetWindowRect(window.get(), &window_rect);
    const RECT& item = bar.items()[static_cast<size_t>(index)]->rect;
    POINT p{window_rect.left + (item.left + item.right) / 2, window_rect.top + (item.top + item.bottom) / 2};
    ScreenToClient(window.get(), &p);
    PostMessageW(window.get(), WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y));
  };
  Recorder r;
  r.script = {
      {0, 1, [&] { move_to(0); }},  // over the open item itself: nothing changes
      {0, 1, [&] { move_to(1); }},
      {1, 1, [&] { move_to(2); }},
      {2, 1, [] { post_key(VK_ESCAPE); }},
  };
  run(bar, r, 0);
  EXPECT_EQ(r.opened, (std::vector<int>{0, 1, 2}));
}

TEST_F(MenuBarTest, FirstItemOfAKeyboardDropDownIsSelected) {
  TMenuBarSkin bar(host, nullptr);
  build(bar);
  bool first_selected = false;
  Recorder r;
  r.script = {
      {0, 1, [&] {
         first_selected = (GetMenuState(file, 0, MF_BYPOSITION) & MF_HILITE) != 0;
         if (!first_selected) {
           recorder->next_step--;
           return;
         }
         post_key(VK_ESCAPE);
       }},
  };
  r.bar = &bar;
  r.host = &host;
  recorder = &r;
  SetTimer(window.get(), 1, 20, nullptr);
  ASSERT_TRUE(bar.HandleSysChar(L'F', 1L << 29));
  EXPECT_TRUE(pump_until_done(r));
  KillTimer(window.get(), 1);
  EXPECT_TRUE(first_selected);
  EXPECT_EQ(r.opened, (std::vector<int>{0}));
  EXPECT_FALSE(TMenuBarSkin::menu_filter_installed());
  EXPECT_FALSE(host.tracking);

  // A stale filter would still answer a menu message with a click.
  MSG fake{};
  fake.hwnd = window.get();
  fake.message = WM_KEYDOWN;
  fake.wParam = VK_RIGHT;
  CallMsgFilterW(&fake, MSGF_MENU);
  EXPECT_FALSE(queued(window.get(), WM_NCLBUTTONDOWN));
}

}  // namespace
}  // namespace clip::skin
