// Painting one owner-drawn menu item from the skin: the item is composed in
// its own bitmap (the popup's skinned background behind it, the menu-item
// element's frame, check mark or image, caption, shortcut) and reaches the
// menu's DC in one blit. Items come from the form's menu objects or, for
// menus known only by handle, from the menu itself.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <string_view>

#include "skin/data/skin_data.h"

namespace ui {
class MenuItem;
}

namespace clip::skin {

// What one item shows.
struct MenuItemLook {
  std::wstring caption;   // "&" marks the access key
  std::wstring shortcut;  // drawn right-aligned; empty for none
  bool separator = false;
  bool enabled = true;
  bool checked = false;
  bool is_default = false;  // drawn bold
  bool right_to_left = false;
  HIMAGELIST images = nullptr;
  int image_index = -1;
  bool has_image() const;
};

MenuItemLook look_of(const ui::MenuItem& item);
// An item of `menu` named by its command (or by the submenu it opens). Its
// text is split at the tab into caption and shortcut; an item without text
// is a separator.
MenuItemLook look_of(HMENU menu, UINT command);

// How separators are drawn: from the menu-item element's second frame (the
// form's own menus), or as an etched rule on the item's background (menus
// known only by handle).
enum class SeparatorStyle { element, etched };

// Paints `look` at `rect` on dc. With a usable "MenuItem" element the item
// shows the popup's background (the popup-menu skin showing `menu`, or the
// skin's "Menu" colour when none is known yet) under the element's frame 1,
// or frame 4 when selected; without one (or without skin data) it is the
// plain item on "Menu", or "Hilight" when selected.
void paint_menu_item(HDC dc, const RECT& rect, bool selected, const MenuItemLook& look, const TSkinData* data,
                     HMENU menu, SeparatorStyle separators);

// Size of text in dc's font: single line, tabs expanded, "&" prefixes.
SIZE menu_text_size(HDC dc, std::wstring_view text);

}  // namespace clip::skin
