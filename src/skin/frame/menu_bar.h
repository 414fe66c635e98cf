// TMenuBarSkin: the painted menu bar of a skinned window. It copies the
// window's top-level menu items into TMenuBtn objects, takes the menu off the
// window (Windows then draws no bar) and paints the items into the strip the
// frame reserves below the caption. Clicking an item, or its access key with
// Alt, opens the item's drop-down below it; while a drop-down is open a
// message-filter hook moves between the bar's items on the arrow keys and
// the mouse, as a native bar does. The menu handle goes back to the window
// when the bar is destroyed or restore_menu() is called.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "skin/frame/nc_object.h"

namespace ui {
class Menu;
}

namespace clip::skin {

class TMenuBarSkin;

class TMenuBtn : public TNCObject {
 public:
  TMenuBtn(FrameHost& owner, TMenuBarSkin& bar, int index);
  void Paint() override;

  int index;
  std::wstring caption;  // "&" marks the access key
  bool item_enabled = true;
  HMENU submenu = nullptr;
  UINT command = 0;

 private:
  TMenuBarSkin* bar_;
};

class TMenuBarSkin {
 public:
  // main_menu: the form's menu object when the window belongs to a form
  // (captions of owner-drawn items come from it), else nullptr.
  TMenuBarSkin(FrameHost& owner, ui::Menu* main_menu);
  ~TMenuBarSkin();  // gives the menu back to the window
  TMenuBarSkin(const TMenuBarSkin&) = delete;
  TMenuBarSkin& operator=(const TMenuBarSkin&) = delete;

  // Items from the window's menu; takes the menu off the window.
  void BuildFromWindowMenu();
  // Puts the remembered menu back on the window (SetMenu) and forgets it.
  void restore_menu();
  HMENU menu_handle() const noexcept { return menu_; }

  // Paints the bar and lays the items out; bar is in window coordinates.
  void PaintMenuBar(HDC dc, const RECT& bar);
  TMenuBtn* FindMenuItemAt(POINT window_point) const;
  // Posts the item's command; tracks its drop-down until it closes. False
  // for an item without a drop-down. The drop-down's items become owner-drawn
  // (the window skin draws them) until the menu goes back to the window.
  // The bar may be destroyed while the drop-down is open (the skin removed
  // meanwhile): then nothing of it is touched once the drop-down has closed,
  // and a chosen command still reaches the window.
  bool OpenMenuItem(TMenuBtn& item);
  // The first enabled item whose access key is ch, regardless of case.
  TMenuBtn* FindMenuAccelerator(wchar_t ch) const;
  // Posts the click that opens item's drop-down (as the navigation does).
  void post_click(const TMenuBtn& item) const;

  // Keyboard access, for the frame's window procedure:
  // - WM_SYSCHAR: call HandleSysChar first; true means the key opened an
  //   item's drop-down (a click is posted) and the message must not reach
  //   DefWindowProc.
  // - WM_SYSCOMMAND: call HandleKeyMenu first; true means the message is
  //   consumed (answer 0, don't pass it on). Alt or F10 alone is swallowed,
  //   Alt+Space and Alt+- still open the system menu.
  bool HandleSysChar(WPARAM wparam, LPARAM lparam) const;
  bool HandleKeyMenu(WPARAM wparam, LPARAM lparam) const;

  // Whether a bar's drop-down is open (the message filter is installed), and
  // the index of the item whose drop-down it is (-1 when none).
  static bool menu_filter_installed();
  static int open_item_index();
  // The drop-down being tracked, or nullptr.
  static HMENU tracked_menu();

  const std::vector<std::unique_ptr<TMenuBtn>>& items() const noexcept { return items_; }
  const RECT& bar_rect() const noexcept { return bar_; }

 private:
  friend class TMenuBtn;
  friend struct MenuFilter;
  void paint_item(const TMenuBtn& item);
  // Marks every item of menu (and of its submenus) owner-drawn, noting each
  // one it changed; unmark_owner_drawn() puts them back.
  void mark_owner_drawn(HMENU menu);
  void unmark_owner_drawn();
  // Removes a queued press on item that closed its drop-down.
  void take_back_press_on(const TMenuBtn& item) const;
  // The bar item the left or right arrow moves to, or nullptr when the key
  // belongs to the open drop-down (a submenu to open or close).
  const TMenuBtn* arrow_target(bool forward) const;
  const TMenuBtn* neighbour(int index, bool forward) const;
  FrameHost* owner_;
  ui::Menu* main_menu_;
  std::vector<std::unique_ptr<TMenuBtn>> items_;
  RECT bar_{0, 0, 0, 0};
  HMENU menu_ = nullptr;
  struct Background;
  std::unique_ptr<Background> background_;  // the bar as last painted, without captions
  std::vector<std::pair<HMENU, UINT>> owner_drawn_;  // (menu, position) made owner-drawn here
  std::shared_ptr<const bool> life_ = std::make_shared<const bool>(true);
};

}  // namespace clip::skin
