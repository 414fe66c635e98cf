// Skinned popup menus on real menus: the skin manager set up as the program
// sets it up, menus opened for real, and what they show read back from the
// screen: the border from the popup-menu background, the items' frames,
// separators, check marks, shortcut places and text colours, the menu
// animation's WM_PRINT, the skin without menu elements, and no handle kept
// after many openings.
#include "skin/frame/popup_menu.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "skin/data/archive.h"
#include "skin/data/skin_win.h"
#include "skin/frame/form_skin.h"
#include "skin/frame/menu_item_paint.h"
#include "skin/frame/menu_windows.h"
#include "skin/frame/message_recorder.h"
#include "skin/paint/paint_win.h"
#include "ui/controls.h"
#include "ui/message_pump.h"

namespace clip::skin {
namespace {

using test::MenuStep;
using test::menu_on_screen;
using test::run_in_menu_loop;
using test::visible_menu_windows;

uint32_t rgb_of(COLORREF c) { return uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c); }

// A pixel of a window, in window coordinates, as 0xRRGGBB.
uint32_t pixel(HWND hwnd, int x, int y) {
  HDC dc = GetWindowDC(hwnd);
  const COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(hwnd, dc);
  return rgb_of(c);
}

int channel_distance(uint32_t a, uint32_t b) {
  int d = 0;
  for (int shift : {0, 8, 16}) d += std::abs(int((a >> shift) & 255) - int((b >> shift) & 255));
  return d;
}
int luminance(uint32_t c) { return int((c >> 16) & 255) + int((c >> 8) & 255) + int(c & 255); }

// What text left on a surface: the pixels that differ from the background.
struct Ink {
  int count = 0;
  int right = -1;             // rightmost column with ink
  int darkest = 3 * 255 + 1;  // lowest r + g + b among them
};
template <typename Pixel>
Ink ink_in(const RECT& r, uint32_t background, Pixel&& at) {
  Ink ink;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      const uint32_t c = at(x, y);
      if (channel_distance(c, background) < 60) continue;
      ++ink.count;
      ink.right = std::max(ink.right, x);
      ink.darkest = std::min(ink.darkest, luminance(c));
    }
  return ink;
}
Ink window_ink(HWND hwnd, const RECT& r, uint32_t background) {
  HDC dc = GetWindowDC(hwnd);
  Ink ink = ink_in(r, background, [dc](int x, int y) { return rgb_of(GetPixel(dc, x, y)); });
  ReleaseDC(hwnd, dc);
  return ink;
}

int exact_pixels(HWND hwnd, const RECT& r, uint32_t colour) {
  HDC dc = GetWindowDC(hwnd);
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) n += rgb_of(GetPixel(dc, x, y)) == colour;
  ReleaseDC(hwnd, dc);
  return n;
}

// Inside a selected item's frame (3 pixels each side), where only text differs.
RECT shrunk(const RECT& r) { return {r.left + 3, r.top + 3, r.right - 3, r.bottom - 3}; }

// An item's rectangle in its popup window's coordinates.
RECT item_rect(HWND popup, HMENU menu, int position) {
  RECT item{}, window{};
  GetMenuItemRect(nullptr, menu, static_cast<UINT>(position), &item);
  GetWindowRect(popup, &window);
  OffsetRect(&item, -window.left, -window.top);
  return item;
}

HWND the_menu_window() {
  const std::vector<HWND> menus = visible_menu_windows();
  return menus.empty() ? nullptr : menus.front();
}

// The popup-menu skin on screen has painted an item of `menu` and so knows it.
std::function<bool()> painted(HMENU menu) {
  return [menu] {
    HWND popup = the_menu_window();
    const TPopupMenuSkin* skin = popup ? find_popup_skin(popup) : nullptr;
    return skin && skin->menu() == menu;
  };
}

std::function<bool()> highlighted(HMENU menu, int position) {
  return [menu, position] { return (GetMenuState(menu, UINT(position), MF_BYPOSITION) & MF_HILITE) != 0; };
}

void press_key(WPARAM key) { PostMessageW(the_menu_window(), WM_KEYDOWN, key, 0); }

// Our skin with its description edited: the same bitmaps, another text.
std::unique_ptr<TSkinData> edited_skin(const TSkinData& base, const std::function<void(std::string&)>& edit) {
  TSkinReader reader;
  if (!reader.OpenArchive(base.skin_stream()).ok()) return nullptr;
  std::vector<ArchiveEntry> entries;
  for (const std::string& name : reader.names()) {
    const auto data = reader.FindEntry(name);
    entries.push_back({name, std::vector<uint8_t>(data->begin(), data->end())});
    if (name != "skin.ini") continue;
    std::string text(entries.back().data.begin(), entries.back().data.end());
    edit(text);
    entries.back().data.assign(text.begin(), text.end());
  }
  auto stream = pack_skin_stream(entries);
  if (!stream) return nullptr;
  std::vector<uint8_t> property(4);
  for (int i = 0; i < 4; ++i) property[size_t(i)] = uint8_t(stream.value().size() >> (8 * i));
  property.insert(property.end(), stream.value().begin(), stream.value().end());
  auto skin = std::make_unique<TSkinData>();
  skin->apply_main_window_settings();
  if (!skin->read_skin_stream_property(property)) return nullptr;
  return skin;
}

void remove_section(std::string& ini, const std::string& name) {
  const size_t start = ini.find("[" + name + "]");
  if (start == std::string::npos) return;
  const size_t end = ini.find("\r\n[", start);
  ini.erase(start, end == std::string::npos ? std::string::npos : end + 2 - start);
}

void set_colour(std::string& ini, const std::string& key, const std::string& value) {
  const size_t at = ini.find("\r\n" + key + "=");
  ASSERT_NE(at, std::string::npos) << key;
  const size_t end = ini.find("\r\n", at + 2);
  ini.replace(at + 2, end - at - 2, key + "=" + value);
}

// Records, before the popup-menu skin sees them, the paint messages a menu
// window gets from its skin: a hook installed after the skin manager's runs
// first, so its recorder sits under the skin.
struct UnderTheSkin {
  static inline HHOOK hook = nullptr;
  static inline std::unique_ptr<test::MessageRecorder> recorder;
  static LRESULT CALLBACK watch(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND && !recorder) {
      wchar_t name[16] = {};
      GetClassNameW(reinterpret_cast<HWND>(wparam), name, 16);
      if (lstrcmpW(name, L"#32768") == 0)
        recorder = std::make_unique<test::MessageRecorder>(
            reinterpret_cast<HWND>(wparam),
            std::initializer_list<UINT>{WM_NCPAINT, WM_ERASEBKGND, WM_PAINT, WM_PRINTCLIENT});
    }
    return CallNextHookEx(hook, code, wparam, lparam);
  }
  UnderTheSkin() { hook = SetWindowsHookExW(WH_CBT, watch, nullptr, GetCurrentThreadId()); }
  ~UnderTheSkin() {
    UnhookWindowsHookEx(hook);
    recorder.reset();
  }
};

class PopupMenus : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    paint::start_painting();
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"PopupTestPlain";
    RegisterClassW(&wc);
  }
  static void TearDownTestSuite() { paint::stop_painting(); }

  void SetUp() override {
    data_.apply_main_window_settings();
    ASSERT_TRUE(load_skin_stream_resource(data_));
    ASSERT_TRUE(data_.elements().MenuBackground && data_.elements().MenuItem);
  }
  void TearDown() override {
    TSkinManager::destroy();
    plain_.reset();
  }

  // The manager as the program sets it up, with `data` enrolled.
  TSkinManager& enrol(TSkinData& data) {
    TSkinManager& manager = TSkinManager::create();
    manager.set_window_skin_factory(attach_form_skin);
    manager.set_popup_skin_factory(attach_popup_skin);
    Loaded(data, nullptr);
    return manager;
  }

  // A form with a main menu and a context menu, skinned on its activation.
  void make_form() {
    form_ = root_.make<ui::Form>("Form1");
    form_->client_width = 420;
    form_->client_height = 300;
    auto* main = form_->make<ui::Menu>("MainMenu1");
    file_ = main->add("N1", "文件(&F)");
    file_->add("N2", "打开", "Ctrl+O");
    file_->add("N3", "-");
    file_->add("N4", "退出");
    form_->menu = main;
    popup_ = form_->make<ui::PopupMenu>("PopupMenu1");
    popup_->add("P1", "复制", "Ctrl+S");
    popup_->add("P2", "-");
    popup_->add("P3", "已选")->set_checked(true);
    popup_->add("P4", "三三")->set_enabled(false);
    bold_ = popup_->add("P5", "粗体");
    popup_->add("P6", "粗体");
    ASSERT_TRUE(form_->create());
    show_and_skin(form_->handle());
    frame_ = find_form_skin(form_->handle());
    ASSERT_NE(frame_, nullptr);
    ASSERT_TRUE(popup_->owner_draw()) << "the skin took over the context menu's items";
    SetMenuDefaultItem(popup_->menu_handle(), bold_->id(), FALSE);
  }

  // A window of no form object with a menu of its own.
  void make_plain_window() {
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, 301, L"Open\tCtrl+O");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, 302, L"Exit");
    HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"&File");
    plain_menu_ = file;
    plain_.reset(CreateWindowExW(0, L"PopupTestPlain", L"plain", WS_OVERLAPPEDWINDOW, 60, 60, 400, 300, nullptr, bar,
                                 GetModuleHandleW(nullptr), nullptr));
    ASSERT_TRUE(plain_);
    show_and_skin(plain_.get());
    frame_ = find_form_skin(plain_.get());
    ASSERT_NE(frame_, nullptr);
  }

  void show_and_skin(HWND hwnd) {
    ShowWindow(hwnd, SW_SHOW);
    SetForegroundWindow(hwnd);
    ASSERT_TRUE(test::pump_until([&] {
      const TFormSkin* skin = find_form_skin(hwnd);
      return skin && skin->skin_state() == WindowSkin::skinned;
    })) << "the manager skins the window when it is activated";
    frame_ = find_form_skin(hwnd);
    frame_->PaintFrame();  // lays the bar's items out
  }

  void open_context_menu() {
    POINT at{60, 60};
    ClientToScreen(form_->handle(), &at);
    popup_->popup(form_->handle(), at.x, at.y);
  }

  // Opens the drop-down of the bar's first item as a click does.
  void open_drop_down(HWND hwnd) {
    const RECT& item = frame_->menu_bar()->items().at(0)->rect;
    RECT window{};
    GetWindowRect(hwnd, &window);
    const int x = window.left + (item.left + item.right) / 2, y = window.top + (item.top + item.bottom) / 2;
    SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTMENU, MAKELPARAM(x, y));
  }

  uint32_t background(int x, int y) const { return data_.elements().MenuBackground->Bitmap.rgb(x, y); }
  // Frame f (from 1) of the menu-item element, at (x, y) inside the frame.
  uint32_t item_frame(int f, int x, int y) const {
    const Pixels24& strip = data_.elements().MenuItem->Bitmap;
    return strip.rgb((f - 1) * strip.width / 5 + x, y);
  }

  // The border of a popup window shows the popup-menu background element:
  // its corners at their own size, its edges stretched along.
  void expect_skinned_border(HWND popup) {
    RECT r{};
    GetWindowRect(popup, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(pixel(popup, k, k), background(k, k)) << k;
      EXPECT_EQ(pixel(popup, w - 1 - k, h - 1 - k), background(31 - k, 31 - k)) << k;
      EXPECT_EQ(pixel(popup, w / 2, k), background(16, k)) << k;
      EXPECT_EQ(pixel(popup, k, h / 2), background(k, 16)) << k;
      EXPECT_EQ(pixel(popup, w - 1 - k, h / 2), background(31 - k, 16)) << k;
    }
  }

  TSkinData data_;
  ui::Component root_{nullptr, "root"};
  ui::Form* form_ = nullptr;
  ui::MenuItem* file_ = nullptr;
  ui::PopupMenu* popup_ = nullptr;
  ui::MenuItem* bold_ = nullptr;
  ui::unique_hwnd plain_;
  HMENU plain_menu_ = nullptr;
  TFormSkin* frame_ = nullptr;
};

TEST_F(PopupMenus, ContextMenuBorderAndItemsAreDrawnFromTheSkin) {
  enrol(data_);
  make_form();
  const HMENU menu = popup_->menu_handle();
  const uint32_t face = background(16, 16);
  const uint32_t shadow = rgb_of(paint::to_colorref(data_.elements().colour(SkinColour::ButtonShadow)));
  ASSERT_TRUE(run_in_menu_loop([&] { open_context_menu(); },
                               {{painted(menu),
                                 [&] {
                                   HWND popup = the_menu_window();
                                   expect_skinned_border(popup);
                                   const RECT copy = item_rect(popup, menu, 0);
                                   const int middle = (copy.top + copy.bottom) / 2;
                                   EXPECT_EQ(pixel(popup, copy.left + 3, middle), face)
                                       << "an unselected item shows the popup's background";
                                   const Ink shortcut = window_ink(popup, copy, face);
                                   EXPECT_LT(shortcut.right, copy.right - 11) << "Ctrl+S ends 11 pixels before the edge";
                                   EXPECT_GE(shortcut.right, copy.right - 14);

                                   const RECT rule = item_rect(popup, menu, 1);
                                   EXPECT_EQ(rule.bottom - rule.top, 9);
                                   const int across = (rule.left + rule.right) / 2;
                                   EXPECT_EQ(pixel(popup, across, rule.top + 4), item_frame(2, 12, 17))
                                       << "the separator is the element's second frame";
                                   EXPECT_EQ(pixel(popup, across, rule.top + 5), item_frame(2, 12, 18));
                                   EXPECT_EQ(pixel(popup, across, rule.top + 1), face);

                                   // The glyph column: a check mark only where the item is checked.
                                   auto glyph = [&](int position) {
                                     const RECT item = item_rect(popup, menu, position);
                                     return RECT{item.left + 4, item.top + 1, item.left + 20, item.top + 17};
                                   };
                                   const uint32_t check = rgb_of(GetSysColor(COLOR_BTNTEXT));
                                   EXPECT_GT(exact_pixels(popup, glyph(2), check), 4)
                                       << "the checked item shows the system check mark";
                                   EXPECT_EQ(exact_pixels(popup, glyph(0), check), 0);

                                   // Disabled text takes the skin's button shadow, enabled text its menu text.
                                   const Ink disabled = window_ink(popup, item_rect(popup, menu, 3), face);
                                   const Ink enabled = window_ink(popup, item_rect(popup, menu, 5), face);
                                   ASSERT_GT(disabled.count, 0);
                                   EXPECT_GE(disabled.darkest, luminance(shadow) - 12);
                                   EXPECT_LT(enabled.darkest, luminance(shadow) - 40);
                                   // The default item is bold: the same caption leaves more ink.
                                   const Ink bold = window_ink(popup, item_rect(popup, menu, 4), face);
                                   EXPECT_GT(bold.count, enabled.count + enabled.count / 5);
                                   press_key(VK_DOWN);
                                 }},
                                {highlighted(menu, 0), [&] {
                                   HWND popup = the_menu_window();
                                   const RECT copy = item_rect(popup, menu, 0);
                                   const int middle = (copy.top + copy.bottom) / 2;
                                   EXPECT_EQ(pixel(popup, copy.left + 3, middle), item_frame(4, 3, 11))
                                       << "the selected item is the element's fourth frame";
                                   EXPECT_EQ(pixel(popup, copy.left + 1, middle), item_frame(4, 1, 11));
                                   EXPECT_EQ(pixel(popup, copy.left + 1, copy.top + 1), face)
                                       << "its key-coloured corners let the background through";
                                 }}}));
}

TEST_F(PopupMenus, TheWindowsOwnBorderNeverReachesTheScreen) {
  enrol(data_);
  make_form();
  UnderTheSkin under;
  const HMENU menu = popup_->menu_handle();
  bool border_inside = false;
  ASSERT_TRUE(run_in_menu_loop([&] { open_context_menu(); }, {{painted(menu), [&] {
                                                                 HWND popup = the_menu_window();
                                                                 RECT window{}, client{};
                                                                 GetWindowRect(popup, &window);
                                                                 GetClientRect(popup, &client);
                                                                 border_inside =
                                                                     client.right == window.right - window.left &&
                                                                     client.bottom == window.bottom - window.top;
                                                               }}}));
  ASSERT_TRUE(UnderTheSkin::recorder);
  const test::MessageRecorder& log = *UnderTheSkin::recorder;
  if (border_inside) {
    // The system draws the border inside the client area: the skin paints
    // the whole window and asks the window only for its items.
    EXPECT_EQ(log.count(WM_PAINT), 0u);
    EXPECT_EQ(log.count(WM_ERASEBKGND), 0u);
    EXPECT_GE(log.count(WM_PRINTCLIENT), 1u);
  } else {
    EXPECT_EQ(log.count(WM_NCPAINT), 0u) << "the skin paints the non-client border";
    EXPECT_GE(log.count(WM_PAINT), 1u);
  }
}

TEST_F(PopupMenus, MenuAnimationPrintsTheSkinnedBorder) {
  enrol(data_);
  make_form();
  const HMENU menu = popup_->menu_handle();
  constexpr COLORREF kGreen = RGB(0, 255, 0);
  ASSERT_TRUE(run_in_menu_loop([&] { open_context_menu(); },
                               {{painted(menu), [&] {
                                   HWND popup = the_menu_window();
                                   RECT r{};
                                   GetWindowRect(popup, &r);
                                   const int w = r.right - r.left, h = r.bottom - r.top;
                                   ui::gdi_object<HBITMAP> surface = paint::create_dib(w, h);
                                   paint::memory_dc dc(surface.get());
                                   ui::gdi_object<HBRUSH> green(CreateSolidBrush(kGreen));
                                   const RECT all{0, 0, w, h};
                                   FillRect(dc.get(), &all, green.get());
                                   SendMessageW(popup, WM_PRINT, reinterpret_cast<WPARAM>(dc.get()),
                                                PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND);
                                   auto at = [&](int x, int y) { return rgb_of(GetPixel(dc.get(), x, y)); };
                                   for (int k = 0; k < 3; ++k) {
                                     EXPECT_EQ(at(k, k), background(k, k)) << k;
                                     EXPECT_EQ(at(w - 1 - k, h - 1 - k), background(31 - k, 31 - k)) << k;
                                     EXPECT_EQ(at(w / 2, k), background(16, k)) << k;
                                   }
                                   const RECT copy = item_rect(popup, menu, 0);
                                   EXPECT_EQ(at(copy.left + 3, (copy.top + copy.bottom) / 2), background(16, 16))
                                       << "the items are printed too";
                                   EXPECT_GT(ink_in(copy, background(16, 16), at).count, 0);
                                 }}}));
}

TEST_F(PopupMenus, BarDropDownsAreDrawnFromTheFormsMenuUntilTheSkinGoes) {
  TSkinManager& manager = enrol(data_);
  make_form();
  const HMENU menu = file_->menu_handle();
  // A drop-down opened by a click selects its first item, as one opened by keys.
  ASSERT_TRUE(run_in_menu_loop([&] { open_drop_down(form_->handle()); },
                               {{[&] { return painted(menu)() && highlighted(menu, 0)(); }, [&] {
                                   HWND popup = the_menu_window();
                                   expect_skinned_border(popup);
                                   const RECT open = item_rect(popup, menu, 0);
                                   EXPECT_GE(open.bottom - open.top, 20) << "at least a glyph and 4 pixels high";
                                   EXPECT_EQ(item_rect(popup, menu, 1).bottom - item_rect(popup, menu, 1).top, 9);
                                   const Ink shortcut = window_ink(popup, shrunk(open), item_frame(4, 3, 11));
                                   EXPECT_LT(shortcut.right, open.right - 11);
                                   EXPECT_GE(shortcut.right, open.right - 14);
                                   const RECT rule = item_rect(popup, menu, 1);
                                   EXPECT_EQ(pixel(popup, (rule.left + rule.right) / 2, rule.top + 4), item_frame(2, 12, 17));
                                 }}}));
  auto owner_drawn = [&](int position) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE;
    GetMenuItemInfoW(menu, UINT(position), TRUE, &info);
    return (info.fType & MFT_OWNERDRAW) != 0;
  };
  EXPECT_TRUE(owner_drawn(0));
  SetActive(data_, false);
  manager.run_pending_action();
  EXPECT_EQ(GetMenu(form_->handle()), form_->menu->menu_handle()) << "the window has its menu back";
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(owner_drawn(i)) << i << ": the system draws its items again";
  EXPECT_FALSE(popup_->owner_draw()) << "and the context menu's";
}

TEST_F(PopupMenus, PlainWindowMenusAreDrawnFromTheirHandles) {
  enrol(data_);
  make_plain_window();
  const HMENU menu = plain_menu_;
  ASSERT_TRUE(run_in_menu_loop([&] { open_drop_down(plain_.get()); },
                               {{[&] { return painted(menu)() && highlighted(menu, 0)(); }, [&] {
                                   HWND popup = the_menu_window();
                                   expect_skinned_border(popup);
                                   const RECT open = item_rect(popup, menu, 0);
                                   const Ink shortcut = window_ink(popup, shrunk(open), item_frame(4, 3, 11));
                                   EXPECT_LT(shortcut.right, open.right - 11) << "the text after the tab is the shortcut";
                                   EXPECT_GE(shortcut.right, open.right - 14);
                                   const RECT rule = item_rect(popup, menu, 1);
                                   const int across = (rule.left + rule.right) / 2;
                                   EXPECT_EQ(pixel(popup, across, rule.top + 4), rgb_of(GetSysColor(COLOR_BTNSHADOW)))
                                       << "an etched rule 4 pixels down";
                                   EXPECT_EQ(pixel(popup, across, rule.top + 5), rgb_of(GetSysColor(COLOR_BTNHIGHLIGHT)));
                                 }}}));
}

TEST_F(PopupMenus, SystemMenuItemsAreSkinned) {
  enrol(data_);
  make_form();
  const HMENU menu = frame_->system_menu_popup();
  ASSERT_NE(menu, nullptr);
  RECT window{};
  GetWindowRect(form_->handle(), &window);
  ASSERT_TRUE(run_in_menu_loop([&] { frame_->ShowSystemMenu({window.left + 30, window.top + 12}); },
                               {{painted(menu), [&] {
                                   HWND popup = the_menu_window();
                                   expect_skinned_border(popup);
                                   const int count = GetMenuItemCount(menu);
                                   const RECT close = item_rect(popup, menu, count - 1);
                                   const Ink text = window_ink(popup, close, background(16, 16));
                                   EXPECT_LT(text.right, close.right - 11);
                                   EXPECT_GE(text.right, close.right - 14);
                                   const RECT rule = item_rect(popup, menu, count - 2);
                                   EXPECT_EQ(pixel(popup, (rule.left + rule.right) / 2, rule.top + 4), item_frame(2, 12, 17));
                                 }}}));
}

TEST_F(PopupMenus, ASkinWithoutMenuElementsKeepsTheSystemsPopup) {
  std::unique_ptr<TSkinData> bare = edited_skin(data_, [](std::string& ini) {
    for (const char* section : {"MenuItem", "MenuBackground", "Headerbar"}) remove_section(ini, section);
  });
  ASSERT_TRUE(bare);
  ASSERT_FALSE(bare->elements().MenuItem || bare->elements().MenuBackground || bare->elements().Headerbar);
  ASSERT_TRUE(bare->elements().MenuBar) << "the rest of the skin is there";
  enrol(*bare);
  make_form();
  UnderTheSkin under;
  const HMENU menu = popup_->menu_handle();
  const uint32_t menu_colour = rgb_of(paint::to_colorref(bare->elements().colour(SkinColour::Menu)));
  const uint32_t hilight = rgb_of(paint::to_colorref(bare->elements().colour(SkinColour::Hilight)));
  ASSERT_TRUE(run_in_menu_loop([&] { open_context_menu(); },
                               {{menu_on_screen(),
                                 [&] {
                                   HWND popup = the_menu_window();
                                   EXPECT_NE(pixel(popup, 0, 0), background(0, 0)) << "the system's own border";
                                   const RECT copy = item_rect(popup, menu, 0);
                                   EXPECT_EQ(pixel(popup, copy.left + 3, (copy.top + copy.bottom) / 2), menu_colour)
                                       << "items on the skin's Menu colour";
                                   const RECT rule = item_rect(popup, menu, 1);
                                   EXPECT_EQ(pixel(popup, (rule.left + rule.right) / 2, rule.top + 4),
                                             rgb_of(GetSysColor(COLOR_BTNSHADOW)));
                                   press_key(VK_DOWN);
                                 }},
                                {highlighted(menu, 0), [&] {
                                   HWND popup = the_menu_window();
                                   const RECT copy = item_rect(popup, menu, 0);
                                   EXPECT_EQ(pixel(popup, copy.left + 3, (copy.top + copy.bottom) / 2), hilight);
                                 }}}));
  ASSERT_TRUE(UnderTheSkin::recorder);
  EXPECT_GE(UnderTheSkin::recorder->count(WM_PAINT), 1u) << "the window paints itself";
}

TEST_F(PopupMenus, ImagesAndTheDisabledColourRuleOnAnItemBitmap) {
  // The shadow colour made equal to the menu text: disabled text must then
  // take the system's shadow colour, or it would look enabled.
  std::unique_ptr<TSkinData> same = edited_skin(data_, [](std::string& ini) {
    set_colour(ini, "ButtonShadow", "26 31 38");
    set_colour(ini, "MenuText", "26 31 38");
  });
  ASSERT_TRUE(same);
  constexpr int kWidth = 160, kHeight = 20;
  ui::gdi_object<HBITMAP> surface = paint::create_dib(kWidth, kHeight);
  paint::memory_dc dc(surface.get());
  const RECT item{0, 0, kWidth, kHeight};
  const uint32_t menu_colour = rgb_of(paint::to_colorref(same->elements().colour(SkinColour::Menu)));
  auto at = [&](int x, int y) { return rgb_of(GetPixel(dc.get(), x, y)); };
  MenuItemLook look;
  look.caption = L"三三";
  look.enabled = false;
  paint_menu_item(dc.get(), item, false, look, same.get(), nullptr, SeparatorStyle::element);
  const Ink disabled = ink_in(item, menu_colour, at);
  ASSERT_GT(disabled.count, 0);
  EXPECT_GE(disabled.darkest, luminance(rgb_of(GetSysColor(COLOR_BTNSHADOW))) - 12);

  // A checked item with an image: the image on a dithered, sunken square;
  // its transparent half shows the dither.
  ui::ImageList images(nullptr, "images", 16, 16);
  ui::Bitmap picture(16, 16);  // red on the left, magenta (transparent) on the right
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      uint8_t* p = picture.pixel(x, y);
      p[0] = x < 8 ? 0 : 255;  // blue, green, red
      p[1] = 0;
      p[2] = 255;
    }
  ASSERT_EQ(images.add_masked(picture, RGB(0xFF, 0x00, 0xFF)), 0);
  look = {};
  look.caption = L"图";
  look.checked = true;
  look.images = images.handle();
  look.image_index = 0;
  paint_menu_item(dc.get(), item, false, look, &data_, nullptr, SeparatorStyle::element);
  const int g = 1 + data_.elements().MenuItem->LeftWidth;  // the glyph square's left edge
  EXPECT_EQ(at(g + 3, 8), 0xFF0000u) << "the image";
  EXPECT_EQ(at(g + 12, 1), rgb_of(GetSysColor(COLOR_BTNSHADOW))) << "the sunken edge above its transparent half";
  const uint32_t a = at(g + 10, 8), b = at(g + 11, 8);
  EXPECT_NE(a, b) << "the dither alternates";
  for (uint32_t c : {a, b})
    EXPECT_TRUE(c == rgb_of(GetSysColor(COLOR_BTNFACE)) || c == rgb_of(GetSysColor(COLOR_BTNHIGHLIGHT))) << std::hex << c;
  look.enabled = false;
  paint_menu_item(dc.get(), item, false, look, &data_, nullptr, SeparatorStyle::element);
  EXPECT_NE(at(g + 3, 8), 0xFF0000u) << "a disabled item's image is greyed";
}

TEST_F(PopupMenus, TwoHundredOpeningsKeepNoHandles) {
  TSkinManager& manager = enrol(data_);
  make_form();
  const HMENU context = popup_->menu_handle(), drop_down = file_->menu_handle();
  auto open_both = [&] {
    ASSERT_TRUE(run_in_menu_loop([&] { open_context_menu(); }, {{painted(context), [] {}}}));
    ASSERT_TRUE(run_in_menu_loop([&] { open_drop_down(form_->handle()); }, {{painted(drop_down), [] {}}}));
    test::pump();
  };
  open_both();
  const int bitmaps = ui::gdi_object<HBITMAP>::live_count(), brushes = ui::gdi_object<HBRUSH>::live_count();
  const int fonts = ui::gdi_object<HFONT>::live_count(), regions = ui::gdi_object<HRGN>::live_count();
  for (int i = 0; i < 200 && !HasFatalFailure(); ++i) open_both();
  EXPECT_EQ(ui::gdi_object<HBITMAP>::live_count(), bitmaps);
  EXPECT_EQ(ui::gdi_object<HBRUSH>::live_count(), brushes);
  EXPECT_EQ(ui::gdi_object<HFONT>::live_count(), fonts);
  EXPECT_EQ(ui::gdi_object<HRGN>::live_count(), regions);
  EXPECT_EQ(manager.popup_skin_count(), 0u);
  EXPECT_EQ(manager.current_popup(), nullptr);
  EXPECT_TRUE(visible_menu_windows().empty());
}

}  // namespace
}  // namespace clip::skin
