#include "skin/frame/menu_bar.h"

#include <windowsx.h>

#include <algorithm>
#include <vector>

#include "skin/data/skin_win.h"
#include "skin/frame/gdi_helpers.h"
#include "skin/paint/paint_win.h"
#include "ui/controls.h"
#include "ui/handles.h"
#include "ui/wide.h"

namespace clip::skin {
namespace {

// Extra width of every item beyond its caption text.
constexpr int kItemPadding = 10;
constexpr UINT kCaptionFormat = DT_CENTER | DT_VCENTER | DT_SINGLELINE;

using paint::memory_dc;
using paint::to_colorref;
using paint::window_dc;

// The character after the first single "&" ("&&" is a literal ampersand), or 0.
wchar_t access_key(std::wstring_view caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != L'&') continue;
    if (caption[i + 1] == L'&') {
      ++i;
      continue;
    }
    return caption[i + 1];
  }
  return 0;
}

wchar_t fold_case(wchar_t ch) {
  return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(CharLowerW(reinterpret_cast<LPWSTR>(ch))));
}

int text_width(HDC dc, const std::wstring& caption) {
  if (caption.empty()) return 0;
  RECT r{0, 0, 0, 0};
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &r, DT_SINGLELINE | DT_CALCRECT);
  return r.right - r.left;
}

// The menu popup windows of this thread that are on screen, as the menus
// they show. Only the drop-down and the submenus opened from it are visible
// while a bar drop-down is tracked.
BOOL CALLBACK collect_popup_menu(HWND hwnd, LPARAM param) {
  wchar_t name[16] = {};
  if (IsWindowVisible(hwnd) && GetClassNameW(hwnd, name, 16) && lstrcmpW(name, L"#32768") == 0) {
    auto* out = reinterpret_cast<std::vector<HMENU>*>(param);
    out->push_back(reinterpret_cast<HMENU>(SendMessageW(hwnd, MN_GETHMENU, 0, 0)));
  }
  return TRUE;
}

std::vector<HMENU> open_popup_menus() {
  std::vector<HMENU> menus;
  EnumThreadWindows(GetCurrentThreadId(), collect_popup_menu, reinterpret_cast<LPARAM>(&menus));
  return menus;
}

int highlighted_position(HMENU menu) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i)
    if (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_HILITE) return i;
  return -1;
}

}  // namespace

// The drop-down navigation of the one GUI thread: at most one bar drop-down
// is tracked at a time, so one state serves every bar.
struct MenuFilter {
  TMenuBarSkin* bar = nullptr;
  int current = -1;          // index of the item whose drop-down is open
  HMENU tracked = nullptr;   // that drop-down
  bool switching = false;    // a click at another item was posted
  bool down_pending = false; // the Down key that selects the first item is still queued
  POINT last_mouse{0, 0};
  HHOOK hook = nullptr;

  static MenuFilter& get() {
    static MenuFilter state;
    return state;
  }

  void install() {
    if (hook) return;
    switching = false;
    down_pending = false;
    GetCursorPos(&last_mouse);
    hook = SetWindowsHookExW(WH_MSGFILTER, &MenuFilter::proc, nullptr, GetCurrentThreadId());
  }
  void remove() {
    if (hook) UnhookWindowsHookEx(hook);
    hook = nullptr;
    current = -1;
    tracked = nullptr;
    bar = nullptr;
    down_pending = false;
  }

  static LRESULT CALLBACK proc(int code, WPARAM wparam, LPARAM lparam);
  // The hook's work on one message of the menu loop that the next hook let
  // pass; 1 swallows it.
  LRESULT filter(LPARAM lparam);
};

// Installs the filter for one drop-down and removes it on every way out.
class MenuFilterScope {
 public:
  MenuFilterScope() { MenuFilter::get().install(); }
  ~MenuFilterScope() { MenuFilter::get().remove(); }
  MenuFilterScope(const MenuFilterScope&) = delete;
  MenuFilterScope& operator=(const MenuFilterScope&) = delete;
};

LRESULT CALLBACK MenuFilter::proc(int code, WPARAM wparam, LPARAM lparam) {
  MenuFilter& state = get();
  const LRESULT result = CallNextHookEx(state.hook, code, wparam, lparam);
  if (result != 0 || code != MSGF_MENU || !state.bar) return result;
  return ui::guard([&] { return state.filter(lparam); }, result);
}

LRESULT MenuFilter::filter(LPARAM lparam) {
  MenuFilter& state = *this;
  const MSG& msg = *reinterpret_cast<const MSG*>(lparam);
  TMenuBarSkin& bar = *state.bar;
  const TMenuBtn* target = nullptr;
  switch (msg.message) {
    case WM_KEYDOWN:
      switch (msg.wParam) {
        case VK_DOWN: state.down_pending = false; break;
        case VK_RETURN:
        case VK_ESCAPE: state.switching = false; break;
        case VK_LEFT:
        case VK_RIGHT: {
          // On a right-to-left bar the next item lies to the left.
          const bool forward = (msg.wParam == VK_RIGHT) != bar.owner_->right_to_left();
          target = bar.arrow_target(forward);
          break;
        }
        default: break;
      }
      break;
    case WM_SYSKEYDOWN:
      // Alt closes the drop-down; the hover timer may take the hot item back.
      if (msg.wParam == VK_MENU) bar.owner_->set_menu_tracking(false);
      return 0;
    case WM_MOUSEMOVE: {
      // Mouse messages of the menu loop carry client coordinates of the
      // capture window; posted ones need not carry a matching msg.pt.
      POINT screen{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
      ClientToScreen(msg.hwnd, &screen);
      if (screen.x != state.last_mouse.x || screen.y != state.last_mouse.y) {
        target = bar.FindMenuItemAt(bar.owner_->ScreenToWindow(screen));
        state.last_mouse = screen;
      }
      break;
    }
    default: break;
  }
  if (!target || target->index == state.current) return 0;
  // End this drop-down before the click is queued: the menu loop then leaves
  // on its own cancel message and the click reaches the window afterwards,
  // never the menu loop.
  state.switching = true;
  EndMenu();
  bar.post_click(*target);
  return 1;  // the key or move is used up; the closing menu must not act on it
}

struct TMenuBarSkin::Background {
  ui::gdi_object<HBITMAP> copy;  // the bar's background, bar-sized
  int width = 0, height = 0;
  ui::gdi_object<HFONT> font;    // the system menu font as of the last bar paint
  // The menu-bar element as a bitmap, rebuilt when the element changes.
  ui::gdi_object<HBITMAP> element;
  const uint8_t* element_pixels = nullptr;
  int element_width = 0, element_height = 0;

  HBITMAP element_bitmap(const TDataSkinObject& e) {
    if (e.Bitmap.empty()) return nullptr;
    if (!element || element_pixels != e.Bitmap.bgr.data() || element_width != e.Bitmap.width ||
        element_height != e.Bitmap.height) {
      element = bitmap_of(e.Bitmap);
      element_pixels = e.Bitmap.bgr.data();
      element_width = e.Bitmap.width;
      element_height = e.Bitmap.height;
    }
    return element.get();
  }
};

TMenuBtn::TMenuBtn(FrameHost& owner, TMenuBarSkin& bar, int index) : TNCObject(owner), index(index), bar_(&bar) {}

void TMenuBtn::Paint() { bar_->paint_item(*this); }

TMenuBarSkin::TMenuBarSkin(FrameHost& owner, ui::Menu* main_menu)
    : owner_(&owner), main_menu_(main_menu), background_(std::make_unique<Background>()) {}

TMenuBarSkin::~TMenuBarSkin() {
  MenuFilter& state = MenuFilter::get();
  if (state.bar == this) {
    // The window goes while its drop-down is open: close it, and let the
    // filter no longer reach this bar.
    EndMenu();
    state.bar = nullptr;
  }
  items_.clear();
  restore_menu();
}

void TMenuBarSkin::BuildFromWindowMenu() {
  const HWND window = owner_->window();
  if (HMENU menu = GetMenu(window)) menu_ = menu;
  if (!menu_) return;
  items_.clear();
  const int count = GetMenuItemCount(menu_);
  const std::vector<ui::MenuItem*>* form_items = main_menu_ ? &main_menu_->items() : nullptr;
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_FTYPE | MIIM_STRING;
    if (!GetMenuItemInfoW(menu_, static_cast<UINT>(i), TRUE, &info)) continue;
    // A second call with a buffer of the reported length: captions are read
    // whole, however long.
    std::wstring text;
    if (info.cch > 0) {
      std::vector<wchar_t> buffer(info.cch + 1, L'\0');
      info.dwTypeData = buffer.data();
      info.cch += 1;
      if (GetMenuItemInfoW(menu_, static_cast<UINT>(i), TRUE, &info)) text.assign(buffer.data());
    }
    // A shortcut after a tab belongs in a drop-down, not on the bar.
    if (size_t tab = text.find(L'\t'); tab != std::wstring::npos) text.resize(tab);

    auto item = std::make_unique<TMenuBtn>(*owner_, *this, static_cast<int>(items_.size()));
    item->enabled = true;
    item->submenu = info.hSubMenu;
    item->item_enabled = (info.fState & MFS_DISABLED) == 0;
    item->caption = std::move(text);
    ui::MenuItem* form_item =
        form_items && static_cast<size_t>(i) < form_items->size() ? (*form_items)[static_cast<size_t>(i)] : nullptr;
    // The identifier of an item with a drop-down is its submenu's handle, not
    // a command: only the form's item (when there is one) has a real one.
    if (info.hSubMenu) item->command = form_item ? form_item->id() : 0;
    else item->command = info.wID;
    if (item->caption.empty() && form_item) {
      item->caption = ui::widen(form_item->caption());
      item->item_enabled = form_item->enabled();
      item->command = form_item->id();
      item->submenu = form_item->items().empty() ? nullptr : form_item->menu_handle();
    }
    items_.push_back(std::move(item));
  }
  SetMenu(window, nullptr);
}

void TMenuBarSkin::restore_menu() {
  const HWND window = owner_->window();
  // The window draws its menu itself again, as strings.
  unmark_owner_drawn();
  if (menu_ && IsWindow(window) && IsMenu(menu_)) SetMenu(window, menu_);
  menu_ = nullptr;
}

void TMenuBarSkin::mark_owner_drawn(HMENU menu) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_SUBMENU;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) continue;
    if (!(info.fType & MFT_OWNERDRAW)) {
      info.fMask = MIIM_FTYPE;
      info.fType |= MFT_OWNERDRAW;
      if (SetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) owner_drawn_.emplace_back(menu, static_cast<UINT>(i));
    }
    if (info.hSubMenu) mark_owner_drawn(info.hSubMenu);
  }
}

void TMenuBarSkin::unmark_owner_drawn() {
  for (const auto& [menu, position] : owner_drawn_) {
    if (!IsMenu(menu)) continue;
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    if (!GetMenuItemInfoW(menu, position, TRUE, &info)) continue;
    info.fType &= ~static_cast<UINT>(MFT_OWNERDRAW);
    SetMenuItemInfoW(menu, position, TRUE, &info);
  }
  owner_drawn_.clear();
}

void TMenuBarSkin::PaintMenuBar(HDC dc, const RECT& bar) {
  bar_ = bar;
  const int width = bar.right - bar.left, height = bar.bottom - bar.top;
  if (width <= 0 || height <= 0) return;
  HDC work = paint::work_dc(width, height);
  if (!work) return;
  Background& back = *background_;

  const paint::Rect whole = paint::Rect::sized(0, 0, width, height);
  const TDataSkinObject* element = owner_->skin_data().elements().MenuBar.get();
  HBITMAP element_bitmap = element ? back.element_bitmap(*element) : nullptr;
  const bool rtl = owner_->right_to_left();
  int start;
  if (element_bitmap) {
    const int frame = owner_->active() ? 1 : 2;
    if (element->Tile == 1)
      paint::draw_nine_part(work, whole, element_bitmap, paint::Strip::vertical, false, false, element->FrameCount,
                            frame,
                            {element->LeftWidth, element->TopHeight, element->RightWidth, element->BottomHeight});
    else
      paint::draw_three_part(work, whole, element_bitmap, paint::Strip::vertical, false, element->FrameCount, frame,
                             element->LeftWidth, element->RightWidth);
    start = rtl ? element->RightWidth + 8 : element->LeftWidth + 4;
    if (start > width) start = 12;
  } else {
    ui::gdi_object<HBRUSH> brush(CreateSolidBrush(to_colorref(owner_->skin_data().elements().colour(SkinColour::Menubar))));
    RECT r{0, 0, width, height};
    FillRect(work, &r, brush.get());
    start = 6;
  }

  if (back.width != width || back.height != height || !back.copy) {
    back.copy = paint::create_dib(width, height);
    back.width = width;
    back.height = height;
  }
  if (back.copy) {
    memory_dc copy(back.copy.get());
    BitBlt(copy.get(), 0, 0, width, height, work, 0, 0, SRCCOPY);
  }

  back.font = ui::create_menu_font();
  HGDIOBJ font = back.font ? static_cast<HGDIOBJ>(back.font.get()) : GetStockObject(DEFAULT_GUI_FONT);
  selection font_in(work, font);
  SetBkMode(work, TRANSPARENT);
  const COLORREF text_colour = to_colorref(owner_->skin_data().elements().colour(SkinColour::MenuBarText));
  ui::gdi_object<HBRUSH> hilight(
      CreateSolidBrush(to_colorref(owner_->skin_data().elements().colour(SkinColour::ButtonHilight))));

  int x = rtl ? width - start : start;
  for (const auto& item : items_) {
    int w = item->enabled ? text_width(work, item->caption) : 0;
    if (w > 0) w += kItemPadding;
    RECT r = rtl ? RECT{x - w, 0, x, height} : RECT{x, 0, x + w, height};
    if (w > 0) {
      // The open or hovered item keeps its frame through a full repaint.
      if (item->state == TNCObject::pressed || item->state == TNCObject::hot) FrameRect(work, &r, hilight.get());
      SetTextColor(work, item->item_enabled ? text_colour : GetSysColor(COLOR_BTNSHADOW));
      DrawSkinText(work, item->caption, r, kCaptionFormat);
    }
    OffsetRect(&r, bar.left, bar.top);
    item->rect = r;
    x += rtl ? -w : w;
  }
  BitBlt(dc, bar.left, bar.top, width, height, work, 0, 0, SRCCOPY);
}

void TMenuBarSkin::paint_item(const TMenuBtn& item) {
  Background& back = *background_;
  if (!back.copy || !item.enabled) return;
  RECT r = item.rect;
  OffsetRect(&r, -bar_.left, -bar_.top);
  r.left = std::max(r.left, 0L);
  r.top = std::max(r.top, 0L);
  r.right = std::min(r.right, static_cast<LONG>(back.width));
  r.bottom = std::min(r.bottom, static_cast<LONG>(back.height));
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  HDC work = paint::work_dc(w, h);
  if (!work) return;
  window_dc target(owner_->window());
  if (!target.get()) return;
  {
    memory_dc copy(back.copy.get());
    BitBlt(work, 0, 0, w, h, copy.get(), r.left, r.top, SRCCOPY);
  }
  RECT local{0, 0, w, h};
  if (item.state == TNCObject::pressed || item.state == TNCObject::hot) {
    ui::gdi_object<HBRUSH> hilight(
        CreateSolidBrush(to_colorref(owner_->skin_data().elements().colour(SkinColour::ButtonHilight))));
    FrameRect(work, &local, hilight.get());
  }
  HGDIOBJ font = back.font ? static_cast<HGDIOBJ>(back.font.get()) : GetStockObject(DEFAULT_GUI_FONT);
  selection font_in(work, font);
  SetBkMode(work, TRANSPARENT);
  SetTextColor(work, item.item_enabled
                         ? to_colorref(owner_->skin_data().elements().colour(SkinColour::MenuBarText))
                         : GetSysColor(COLOR_BTNSHADOW));
  DrawSkinText(work, item.caption, local, kCaptionFormat);
  BitBlt(target.get(), r.left + bar_.left, r.top + bar_.top, w, h, work, 0, 0, SRCCOPY);
}

TMenuBtn* TMenuBarSkin::FindMenuItemAt(POINT window_point) const {
  for (const auto& item : items_)
    if (!item->caption.empty() && PtInRect(&item->rect, window_point)) return item.get();
  return nullptr;
}

bool TMenuBarSkin::OpenMenuItem(TMenuBtn& item) {
  MenuFilter& state = MenuFilter::get();
  // Only one drop-down can be tracked; a second request while one is open
  // (a click that slipped into the menu loop) is ignored.
  if (state.hook) return false;
  const HWND window = owner_->window();
  if (item.command) PostMessageW(window, WM_COMMAND, item.command, 0);
  if (!item.submenu) return false;

  RECT window_rect{};
  GetWindowRect(window, &window_rect);
  if (item.item_enabled) mark_owner_drawn(item.submenu);
  owner_->set_menu_tracking(true);
  const std::weak_ptr<const bool> alive = life_;
  UINT chosen = 0;
  {
    MenuFilterScope filter;
    state.bar = this;
    state.current = item.index;
    state.tracked = item.submenu;
    if (item.item_enabled) {
      // Queued ahead of the menu loop so that the first item of the new
      // drop-down is selected, as when a bar opens from the keyboard.
      state.down_pending = PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0) != FALSE;
      const bool rtl = owner_->right_to_left();
      const int x = (rtl ? item.rect.right : item.rect.left) + window_rect.left;
      const int y = item.rect.bottom + window_rect.top;
      // The chosen command comes back and is posted below: with TPM_NONOTIFY
      // alone the window would never hear of the choice.
      chosen = static_cast<UINT>(TrackPopupMenu(item.submenu,
                                                TPM_NONOTIFY | TPM_RETURNCMD | TPM_RIGHTBUTTON |
                                                    (rtl ? TPM_RIGHTALIGN : TPM_LEFTALIGN),
                                                x, y, 0, window, nullptr));
      if (state.down_pending) {
        // The menu never ran: take our key back before the window sees it.
        MSG stray;
        PeekMessageW(&stray, window, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE);
      }
      if (!chosen && !state.switching && !alive.expired()) take_back_press_on(item);
    }
  }
  if (!alive.expired()) owner_->set_menu_tracking(false);
  // The choice is the user's, whether or not the skin is still there.
  if (chosen && IsWindow(window)) PostMessageW(window, WM_COMMAND, chosen, 0);
  return true;
}

void TMenuBarSkin::take_back_press_on(const TMenuBtn& item) const {
  // A press outside the drop-down ends it and stays queued for the window.
  // On the item whose drop-down it was, the press only closes it, as on a
  // native bar; passed on, it would open the same drop-down again. The
  // second press of a double click arrives as a double click.
  const HWND window = owner_->window();
  MSG press;
  if (!PeekMessageW(&press, window, WM_NCLBUTTONDOWN, WM_NCLBUTTONDBLCLK, PM_NOREMOVE)) return;
  if (press.message == WM_NCLBUTTONUP) return;
  const POINT screen{GET_X_LPARAM(press.lParam), GET_Y_LPARAM(press.lParam)};
  if (FindMenuItemAt(owner_->ScreenToWindow(screen)) != &item) return;
  PeekMessageW(&press, window, press.message, press.message, PM_REMOVE);
}

const TMenuBtn* TMenuBarSkin::neighbour(int index, bool forward) const {
  const int count = static_cast<int>(items_.size());
  for (int step = 1; step < count; ++step) {
    const int i = ((index + (forward ? step : -step)) % count + count) % count;
    const TMenuBtn& candidate = *items_[static_cast<size_t>(i)];
    // Items that take no room on the bar (hidden or without caption) can't be clicked.
    if (candidate.enabled && !candidate.caption.empty() && !IsRectEmpty(&candidate.rect)) return &candidate;
  }
  return nullptr;
}

const TMenuBtn* TMenuBarSkin::arrow_target(bool forward) const {
  const MenuFilter& state = MenuFilter::get();
  // Follow the chain of open menus from the drop-down through each
  // highlighted item whose submenu is on screen; the last one has the keys.
  const std::vector<HMENU> open = open_popup_menus();
  HMENU deepest = state.tracked;
  int depth = 0;
  while (deepest) {
    const int position = highlighted_position(deepest);
    HMENU sub = position >= 0 ? GetSubMenu(deepest, position) : nullptr;
    if (!sub || std::find(open.begin(), open.end(), sub) == open.end()) break;
    deepest = sub;
    ++depth;
  }
  if (!forward) return depth == 0 ? neighbour(state.current, false) : nullptr;
  const int position = deepest ? highlighted_position(deepest) : -1;
  if (position >= 0 && GetSubMenu(deepest, position) &&
      !(GetMenuState(deepest, static_cast<UINT>(position), MF_BYPOSITION) & MF_DISABLED))
    return nullptr;  // the highlighted item opens its submenu
  return neighbour(state.current, true);
}

TMenuBtn* TMenuBarSkin::FindMenuAccelerator(wchar_t ch) const {
  if (!ch) return nullptr;
  const wchar_t wanted = fold_case(ch);
  for (const auto& item : items_) {
    if (!item->enabled || !item->item_enabled) continue;
    const wchar_t key = access_key(item->caption);
    if (key && fold_case(key) == wanted) return item.get();
  }
  return nullptr;
}

void TMenuBarSkin::post_click(const TMenuBtn& item) const {
  const HWND window = owner_->window();
  RECT window_rect{};
  GetWindowRect(window, &window_rect);
  const int x = item.rect.left + window_rect.left + 1, y = item.rect.top + window_rect.top + 1;
  PostMessageW(window, WM_NCLBUTTONDOWN, HTCLIENT, MAKELPARAM(static_cast<short>(x), static_cast<short>(y)));
}

bool TMenuBarSkin::HandleSysChar(WPARAM wparam, LPARAM lparam) const {
  // Bit 29: Alt is down. Ctrl+Alt (AltGr) types characters, not menu keys.
  if (!(lparam & (1L << 29)) || GetKeyState(VK_CONTROL) < 0) return false;
  if (menu_filter_installed()) return false;
  const TMenuBtn* item = FindMenuAccelerator(static_cast<wchar_t>(wparam));
  if (!item) return false;
  post_click(*item);
  return true;
}

bool TMenuBarSkin::HandleKeyMenu(WPARAM wparam, LPARAM lparam) const {
  if ((wparam & 0xFFF0) != SC_KEYMENU) return false;
  if (menu_filter_installed() || GetCapture()) return false;
  const wchar_t key = static_cast<wchar_t>(lparam);
  if (key == L' ' || key == L'-') return false;
  if (key == 0) return true;
  const TMenuBtn* item = FindMenuAccelerator(key);
  if (!item) return false;
  post_click(*item);
  return true;
}

bool TMenuBarSkin::menu_filter_installed() { return MenuFilter::get().hook != nullptr; }

int TMenuBarSkin::open_item_index() { return MenuFilter::get().current; }

HMENU TMenuBarSkin::tracked_menu() { return MenuFilter::get().tracked; }

}  // namespace clip::skin
