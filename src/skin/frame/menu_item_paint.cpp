// OBM_CHECK, the system's check-mark bitmap, is declared only with this set.
#define OEMRESOURCE
#include "skin/frame/menu_item_paint.h"

#include <algorithm>
#include <memory>
#include <type_traits>

#include "skin/data/skin_win.h"
#include "skin/frame/gdi_helpers.h"
#include "skin/frame/menu_geometry.h"
#include "skin/manager/skin_manager.h"
#include "skin/paint/paint_win.h"
#include "ui/controls.h"
#include "ui/wide.h"

namespace clip::skin {
namespace {

using paint::memory_dc;
using paint::to_colorref;

// The colours an item is drawn with: the skin's, or the system's without skin.
struct Palette {
  COLORREF menu, menu_text, hilight, hilight_text, shadow;
  bool shadow_is_text;
};

Palette palette_of(const SkinElements* e) {
  if (!e)
    return {GetSysColor(COLOR_MENU), GetSysColor(COLOR_MENUTEXT), GetSysColor(COLOR_HIGHLIGHT),
            GetSysColor(COLOR_HIGHLIGHTTEXT), GetSysColor(COLOR_BTNSHADOW), false};
  auto c = [e](SkinColour which) { return to_colorref(e->colour(which)); };
  return {c(SkinColour::Menu), c(SkinColour::MenuText), c(SkinColour::Hilight), c(SkinColour::HilightText),
          c(SkinColour::ButtonShadow), e->colour(SkinColour::ButtonShadow) == e->colour(SkinColour::MenuText)};
}

COLORREF text_colour(const Palette& p, bool enabled, bool selected) {
  switch (menu::item_text_colour(enabled, selected, p.shadow_is_text)) {
    case menu::TextColour::hilight_text: return p.hilight_text;
    case menu::TextColour::menu_text: return p.menu_text;
    case menu::TextColour::button_shadow: return p.shadow;
    case menu::TextColour::system_button_shadow: break;
  }
  return GetSysColor(COLOR_BTNSHADOW);
}

void fill(HDC dc, const RECT& r, COLORREF colour) {
  ui::gdi_object<HBRUSH> brush(CreateSolidBrush(colour));
  if (brush) FillRect(dc, &r, brush.get());
}

menu::Rect to_rect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
RECT to_win(const menu::Rect& r) { return {r.left, r.top, r.right, r.bottom}; }

// A monochrome glyph drawn in `colour` where its bits are 0, leaving the
// target as it is where they are 1.
void draw_mono_glyph(HDC dc, HBITMAP glyph, int x, int y, int w, int h, COLORREF colour) {
  memory_dc source(glyph);
  if (!source) return;
  const COLORREF text = SetTextColor(dc, RGB(0, 0, 0));
  const COLORREF back = SetBkColor(dc, RGB(255, 255, 255));
  BitBlt(dc, x, y, w, h, source.get(), 0, 0, SRCAND);  // the glyph black, the rest kept
  SetTextColor(dc, colour);
  SetBkColor(dc, RGB(0, 0, 0));
  BitBlt(dc, x, y, w, h, source.get(), 0, 0, SRCPAINT);  // the glyph in colour, the rest kept
  SetTextColor(dc, text);
  SetBkColor(dc, back);
}

// The square behind a checked item's image: button face dithered with
// button highlight, sunk into the item.
void paint_checked_square(HDC dc, const RECT& r) {
  static const WORD kChecker[8] = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};
  ui::gdi_object<HBITMAP> pattern(CreateBitmap(8, 8, 1, 1, kChecker));
  ui::gdi_object<HBRUSH> brush(pattern ? CreatePatternBrush(pattern.get()) : nullptr);
  if (brush) {
    // A monochrome pattern takes the DC's text colour for 0 bits, its
    // background colour for 1 bits.
    const COLORREF text = SetTextColor(dc, GetSysColor(COLOR_BTNFACE));
    const COLORREF back = SetBkColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
    FillRect(dc, &r, brush.get());
    SetTextColor(dc, text);
    SetBkColor(dc, back);
  }
  RECT edge = r;
  DrawEdge(dc, &edge, BDR_SUNKENOUTER, BF_RECT);
}

void paint_image(HDC dc, const MenuItemLook& look, int x, int y) {
  if (look.enabled) {
    ImageList_Draw(look.images, look.image_index, dc, x, y, ILD_TRANSPARENT);
    return;
  }
  std::unique_ptr<std::remove_pointer_t<HICON>, decltype(&DestroyIcon)> icon(
      ImageList_GetIcon(look.images, look.image_index, ILD_NORMAL), &DestroyIcon);
  if (icon) DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon.get()), 0, x, y, 0, 0, DST_ICON | DSS_DISABLED);
}

void paint_glyph(HDC dc, const MenuItemLook& look, const RECT& glyph) {
  if (look.has_image()) {
    if (look.checked) paint_checked_square(dc, glyph);
    paint_image(dc, look, glyph.left, glyph.top);
    return;
  }
  if (!look.checked) return;
  ui::gdi_object<HBITMAP> check(LoadBitmapW(nullptr, MAKEINTRESOURCEW(OBM_CHECK)));
  const SIZE size = paint::bitmap_size(check.get());
  if (size.cx <= 0 || size.cy <= 0) return;
  const int x = glyph.left + (glyph.right - glyph.left - size.cx) / 2 + 1;
  const int y = glyph.top + (glyph.bottom - glyph.top - size.cy) / 2 + 1;
  draw_mono_glyph(dc, check.get(), x, y, size.cx, size.cy, GetSysColor(COLOR_BTNTEXT));
}

// Check mark or image, caption and shortcut; a separator's etched rule.
void paint_content(HDC dc, const RECT& r, bool selected, const MenuItemLook& look, const Palette& palette,
                   int element_left) {
  SetBkMode(dc, TRANSPARENT);
  if (look.separator) {
    RECT rule = r;
    rule.top += menu::kEtchedRuleDrop;
    DrawEdge(dc, &rule, EDGE_ETCHED, BF_TOP);
    return;
  }
  ui::gdi_object<HFONT> font = ui::create_menu_font(look.is_default);
  selection font_in(dc, font ? static_cast<HGDIOBJ>(font.get()) : GetStockObject(DEFAULT_GUI_FONT));
  menu::ItemFacts facts;
  facts.checked = look.checked;
  facts.right_to_left = look.right_to_left;
  facts.element_left = element_left;
  if (look.has_image()) {
    int w = 0, h = 0;
    ImageList_GetIconSize(look.images, &w, &h);
    facts.image_width = w;
  }
  const SIZE caption = menu_text_size(dc, look.caption);
  const menu::ItemLayout layout = menu::layout_item(to_rect(r), facts, caption.cx, caption.cy);
  paint_glyph(dc, look, to_win(layout.glyph));
  SetTextColor(dc, text_colour(palette, look.enabled, selected));
  const UINT side = look.right_to_left ? DT_RIGHT | DT_RTLREADING : DT_LEFT;
  DrawSkinText(dc, look.caption, to_win(layout.caption), DT_SINGLELINE | DT_EXPANDTABS | side);
  if (!look.shortcut.empty())
    DrawSkinText(dc, look.shortcut, to_win(layout.shortcut),
                 DT_SINGLELINE | DT_NOPREFIX | (look.right_to_left ? DT_LEFT : DT_RIGHT));
}

}  // namespace

bool MenuItemLook::has_image() const {
  return images && image_index >= 0 && image_index < ImageList_GetImageCount(images);
}

MenuItemLook look_of(const ui::MenuItem& item) {
  MenuItemLook look;
  look.caption = ui::widen(item.caption());
  look.shortcut = ui::widen(item.shortcut());
  look.separator = item.separator();
  look.enabled = item.enabled();
  look.checked = item.checked();
  if (HMENU parent = item.parent_menu())
    look.is_default = GetMenuDefaultItem(parent, FALSE, 0) == item.id() && !look.separator;
  // The images belong to the menu at the top of the item's chain.
  const ui::Component* top = &item;
  while (top->owner() && top->owner()->is(ui::Kind::menu_item)) top = top->owner();
  if (top->is(ui::Kind::menu)) look.images = static_cast<const ui::Menu*>(top)->images;
  look.image_index = item.image_index;
  return look;
}

MenuItemLook look_of(HMENU menu, UINT command) {
  MenuItemLook look;
  wchar_t text[256] = {};
  MENUITEMINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
  info.dwTypeData = text;
  info.cch = static_cast<UINT>(std::size(text));
  if (!GetMenuItemInfoW(menu, command, FALSE, &info)) info = {};
  const std::wstring_view all(text, std::min<size_t>(info.cch, std::size(text) - 1));
  look.separator = all.empty() || (info.fType & MFT_SEPARATOR);
  const size_t tab = all.find(L'\t');
  look.caption = all.substr(0, tab);
  if (tab != std::wstring_view::npos) look.shortcut = all.substr(tab + 1);
  look.enabled = !(info.fState & (MFS_GRAYED | MFS_DISABLED));
  look.checked = info.fState & MFS_CHECKED;
  look.is_default = (info.fState & MFS_DEFAULT) && !look.separator;
  look.right_to_left = info.fType & MFT_RIGHTORDER;
  return look;
}

SIZE menu_text_size(HDC dc, std::wstring_view text) {
  // Empty text, or an access-key mark alone, measures as that plus a space.
  std::wstring measured(text);
  if (measured.empty() || measured == L"&") measured += L' ';
  RECT r{0, 0, 0, 0};
  DrawTextW(dc, measured.c_str(), static_cast<int>(measured.size()), &r, DT_SINGLELINE | DT_EXPANDTABS | DT_CALCRECT);
  return {r.right - r.left, r.bottom - r.top};
}

void paint_menu_item(HDC dc, const RECT& rect, bool selected, const MenuItemLook& look, const TSkinData* data,
                     HMENU menu, SeparatorStyle separators) {
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0) return;
  ui::gdi_object<HBITMAP> item_bitmap = paint::create_dib(w, h);
  if (!item_bitmap) return;
  memory_dc item(item_bitmap.get());
  if (!item) return;
  const SkinElements* e = data && !data->not_ready() ? &data->elements() : nullptr;
  const TDataSkinObject* element = e && e->MenuItem && !e->MenuItem->Bitmap.empty() ? e->MenuItem.get() : nullptr;
  const Palette palette = palette_of(e);
  const RECT local{0, 0, w, h};
  bool content = true;
  if (!element) {
    fill(item.get(), local, selected ? palette.hilight : palette.menu);
  } else {
    // The popup's own background behind the item, where the popup is known.
    HBITMAP background = nullptr;
    POINT origin{0, 0};
    if (TSkinManager* manager = TSkinManager::instance()) {
      if (PopupSkin* popup = manager->FindPopupMenuSkin(menu)) {
        background = popup->background();
        origin = popup->client_origin();
      }
    }
    const SIZE back_size = paint::bitmap_size(background);
    if (background && back_size.cx > 0) {
      memory_dc from(background);
      const menu::Rect source = menu::background_rect(to_rect(rect), origin.x, origin.y);
      BitBlt(item.get(), 0, 0, w, h, from.get(), source.left, source.top, SRCCOPY);
    } else {
      fill(item.get(), local, palette.menu);
    }
    ui::gdi_object<HBITMAP> strip = bitmap_of(element->Bitmap);
    if (look.separator && separators == SeparatorStyle::element) {
      const std::vector<paint::Piece> pieces =
          menu::separator_pieces(element->Bitmap.width, element->Bitmap.height, element->FrameCount,
                                 element->LeftWidth, element->RightWidth, w, h);
      ui::gdi_object<HBITMAP> rule = paint::create_dib(w, h);
      if (rule && strip) {
        {
          memory_dc to(rule.get());
          memory_dc from(strip.get());
          fill(to.get(), local, paint::kKeyColour);
          paint::blit_pieces(to.get(), 0, 0, from.get(), pieces);
        }
        paint::transparent_blit(item.get(), paint::Rect::sized(0, 0, w, h), rule.get());
      }
      content = false;
    } else if (strip) {
      const int frame = selected && !look.separator ? menu::kSelectedFrame : menu::kNormalFrame;
      paint::draw_nine_part(item.get(), paint::Rect::sized(0, 0, w, h), strip.get(), paint::Strip::horizontal,
                            element->Tile == 1, element->Trans != 0, element->FrameCount, frame,
                            {element->LeftWidth, element->TopHeight, element->RightWidth, element->BottomHeight});
    }
  }
  if (content) paint_content(item.get(), local, selected, look, palette, element ? element->LeftWidth : 0);
  BitBlt(dc, rect.left, rect.top, w, h, item.get(), 0, 0, SRCCOPY);
}

}  // namespace clip::skin
