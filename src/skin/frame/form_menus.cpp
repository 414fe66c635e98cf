// Owner-drawn menu items of TFormSkin. Three kinds of menus reach the window:
// - the drop-downs of the painted menu bar (marked owner-drawn when they
//   open): items of the form's main menu are measured and drawn from the
//   menu objects, items of a plain window's menu from the menu handle;
// - the form's popup menus (the tree's and the list's context menus): the
//   UI layer routes their items to the handlers SkinPopupMenus gives them;
// - the skinned system menu, answered here in any window state.
#include <windowsx.h>

#include "skin/frame/form_skin.h"
#include "skin/frame/menu_geometry.h"
#include "skin/frame/menu_item_paint.h"
#include "ui/controls.h"
#include "ui/wide.h"

namespace clip::skin {
namespace {

const TDataSkinObject* menu_item_element(const TSkinData* data) {
  if (!data || data->not_ready()) return nullptr;
  const TDataSkinObject* e = data->elements().MenuItem.get();
  return e && !e->Bitmap.empty() ? e : nullptr;
}

int element_left(const TSkinData* data) {
  const TDataSkinObject* e = menu_item_element(data);
  return e ? e->LeftWidth : 0;
}

void learn_popup_menu(HMENU menu) {
  if (TSkinManager* manager = TSkinManager::instance()) manager->LearnPopupMenu(menu);
}

// A DC of the screen with the menu font selected, for measuring.
class measuring_dc {
 public:
  measuring_dc() : dc_(nullptr), font_(ui::create_menu_font()) {
    if (dc_ && font_) previous_ = SelectObject(dc_.get(), font_.get());
  }
  ~measuring_dc() {
    if (previous_) SelectObject(dc_.get(), previous_);
  }
  measuring_dc(const measuring_dc&) = delete;
  measuring_dc& operator=(const measuring_dc&) = delete;
  HDC get() const { return dc_.get(); }

 private:
  ui::dc_scope dc_;
  ui::gdi_object<HFONT> font_;
  HGDIOBJ previous_ = nullptr;
};

menu::Size as_size(SIZE s) { return {s.cx, s.cy}; }

void apply(MEASUREITEMSTRUCT& m, menu::Size size) {
  m.itemWidth = static_cast<UINT>(std::max(size.width, 0));
  m.itemHeight = static_cast<UINT>(std::max(size.height, 0));
}

// The handlers a form's popup-menu items get. They find the window skin at
// the time of the call, so an item drawn after the skin went is drawn plain.
void measure_popup_item(HWND window, ui::MenuItem& item, HDC dc, int& width, int& height) {
  if (TFormSkin* skin = find_form_skin(window)) {
    skin->MeasureMenuItem(item, dc, width, height);
    return;
  }
  const menu::Size size = menu::measure_popup_item({width, height}, 0, look_of(item).images != nullptr);
  width = size.width;
  height = size.height;
}

void draw_popup_item(HWND window, ui::MenuItem& item, HDC dc, const RECT& rect, UINT state) {
  if (TFormSkin* skin = find_form_skin(window)) {
    skin->DrawMenuItem(item, dc, rect, state);
    return;
  }
  paint_menu_item(dc, rect, state & ODS_SELECTED, look_of(item), nullptr, item.parent_menu(), SeparatorStyle::element);
}

void for_each_item(ui::MenuItem& parent, const std::function<void(ui::MenuItem&)>& visit) {
  for (ui::MenuItem* item : parent.items()) {
    visit(*item);
    for_each_item(*item, visit);
  }
}

bool is_menu_message(LPARAM lparam) {
  // The control type is the first field of both structures.
  return lparam && reinterpret_cast<const MEASUREITEMSTRUCT*>(lparam)->CtlType == ODT_MENU;
}

}  // namespace

void TFormSkin::MeasureMenuItem(ui::MenuItem& item, HDC, int& width, int& height) {
  const menu::Size size =
      menu::measure_popup_item({width, height}, element_left(data_), look_of(item).images != nullptr);
  width = size.width;
  height = size.height;
}

void TFormSkin::DrawMenuItem(ui::MenuItem& item, HDC dc, const RECT& rect, UINT state) {
  if (item.parent_menu()) learn_popup_menu(item.parent_menu());
  paint_menu_item(dc, rect, state & ODS_SELECTED, look_of(item), data_, item.parent_menu(), SeparatorStyle::element);
}

void TFormSkin::SkinPopupMenus(bool on) {
  if (!form_ || !data_) return;
  const bool allowed = data_->SkinControls.has(xcPopupMenu);
  const HWND window = hwnd_;
  form_->for_each_component([&](ui::Component& c) {
    if (!c.is(ui::Kind::menu) || !static_cast<ui::Menu&>(c).popup_kind) return;
    auto& popup = static_cast<ui::Menu&>(c);
    if (on && (!allowed || popup.Tag % 100 == data_->DisableTag)) return;
    for_each_item(popup, [&](ui::MenuItem& item) {
      if (!on) {
        item.OnAdvancedDrawItem = nullptr;
        item.OnMeasureItem = nullptr;
      } else if (!item.OnAdvancedDrawItem) {
        item.OnAdvancedDrawItem = [window](ui::MenuItem& it, HDC dc, const RECT& r, UINT state) {
          draw_popup_item(window, it, dc, r, state);
        };
        item.OnMeasureItem = [window](ui::MenuItem& it, HDC dc, int& w, int& h) {
          measure_popup_item(window, it, dc, w, h);
        };
      }
    });
    popup.set_owner_draw(on);
  });
}

bool TFormSkin::is_system_menu_command(UINT id) const {
  return system_popup_ && id >= kSystemMenuBase && id <= kSystemMenuBase + 100 &&
         GetMenuState(system_popup_.get(), id, MF_BYCOMMAND) != UINT(-1);
}

std::optional<LRESULT> TFormSkin::system_menu_item(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (wparam != 0 || !is_menu_message(lparam)) return std::nullopt;
  if (msg == WM_MEASUREITEM) {
    auto& m = *reinterpret_cast<MEASUREITEMSTRUCT*>(lparam);
    if (!is_system_menu_command(m.itemID)) return std::nullopt;
    const MenuItemLook look = look_of(system_popup_.get(), m.itemID);
    measuring_dc dc;
    const SIZE size = ui::default_menu_item_size(dc.get(), look.caption, look.shortcut, look.separator);
    apply(m, menu::measure_popup_item(as_size(size), element_left(data_), false));
    return TRUE;
  }
  const auto& d = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
  if (!is_system_menu_command(d.itemID)) return std::nullopt;
  const auto menu = reinterpret_cast<HMENU>(d.hwndItem);
  learn_popup_menu(menu);
  paint_menu_item(d.hDC, d.rcItem, d.itemState & ODS_SELECTED, look_of(system_popup_.get(), d.itemID), data_, menu,
                  SeparatorStyle::element);
  return TRUE;
}

ui::MenuItem* TFormSkin::form_popup_item(UINT id) const {
  ui::MenuItem* found = nullptr;
  if (!form_) return nullptr;
  form_->for_each_component([&](ui::Component& c) {
    if (found || !c.is(ui::Kind::menu)) return;
    auto& popup = static_cast<ui::Menu&>(c);
    if (popup.popup_kind && popup.owner_draw()) found = popup.find_drawn(id);
  });
  return found;
}

LRESULT TFormSkin::menu_item(UINT msg, WPARAM wparam, LPARAM lparam) {
  // Only menu items, and only of a window that had a menu when it was
  // skinned; the form's popup menus go on to the form's own handling.
  if (wparam != 0 || !is_menu_message(lparam) || !menu_) return call_saved(msg, wparam, lparam);
  if (msg == WM_MEASUREITEM) {
    auto& m = *reinterpret_cast<MEASUREITEMSTRUCT*>(lparam);
    if (form_popup_item(m.itemID)) return call_saved(msg, wparam, lparam);
    measuring_dc dc;
    if (ui::MenuItem* item = form_ && form_->menu ? form_->menu->find_drawn(m.itemID) : nullptr) {
      const SIZE size = ui::default_menu_item_size(dc.get(), ui::widen(item->caption()), ui::widen(item->shortcut()),
                                                   item->separator());
      apply(m, menu::measure_bar_item(as_size(size), element_left(data_), look_of(*item).images != nullptr));
      return TRUE;
    }
    // Known only by handle: the text of the open drop-down's item.
    wchar_t text[81] = {};
    const HMENU tracked = TMenuBarSkin::tracked_menu();
    const int length = tracked ? GetMenuStringW(tracked, m.itemID, text, 81, MF_BYCOMMAND) : 0;
    const SIZE size = menu_text_size(dc.get(), std::wstring_view(text, static_cast<size_t>(std::max(length, 0))));
    apply(m, menu::measure_handle_item(length > 0 ? size.cx : 0, length > 0, element_left(data_),
                                       static_cast<int>(m.itemHeight), TSkinManager::windows_version() & 0x80000000u));
    return TRUE;
  }
  const auto& d = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
  if (form_popup_item(d.itemID)) return call_saved(msg, wparam, lparam);
  const auto menu = reinterpret_cast<HMENU>(d.hwndItem);
  learn_popup_menu(menu);
  const bool selected = d.itemState & ODS_SELECTED;
  if (ui::MenuItem* item = form_ && form_->menu ? form_->menu->find_drawn(d.itemID) : nullptr) {
    paint_menu_item(d.hDC, d.rcItem, selected, look_of(*item), data_, menu, SeparatorStyle::element);
    return TRUE;
  }
  paint_menu_item(d.hDC, d.rcItem, selected, look_of(menu, d.itemID), data_, menu, SeparatorStyle::etched);
  return TRUE;
}

}  // namespace clip::skin
