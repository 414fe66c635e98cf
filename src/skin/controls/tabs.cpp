#include "skin/controls/tabs.h"

#include <commctrl.h>

#include <algorithm>
#include <cwctype>
#include <string>

#include "skin/controls/buttons.h"
#include "skin/controls/edits.h"
#include "skin/data/skin_win.h"
#include "skin/paint/paint_win.h"
#include "ui/canvas.h"
#include "ui/controls.h"
#include "ui/wide.h"

namespace clip::skin {
namespace {

// Strips and tab sets wider than this are not composed (no real screen has
// them; the work bitmaps stay bounded).
constexpr int kMaxSide = 16384;

void fill_with(HDC dc, const RECT& r, COLORREF colour) {
  const ui::gdi_object<HBRUSH> brush(CreateSolidBrush(colour));
  if (brush) FillRect(dc, &r, brush.get());
}

bool is_up_down(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return _wcsicmp(name, UPDOWN_CLASSW) == 0;
}

HFONT font_of(HWND hwnd) {
  auto font = hwnd ? reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)) : nullptr;
  return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

// Tab faces are always drawn with the key colour left out: skins round their
// corners with it whether or not they set the element's Trans key, and a
// magenta corner is never what a skin means to show.

COLORREF tab_text_colour(const TDataSkinObject& e, int frame) {
  return paint::to_colorref(frame == 2 ? e.MouseOverColour2 : e.NormalColour2);
}

ui::gdi_object<HBITMAP> picture_of(Pixels24 pixels, void (*turn)(Pixels24&)) {
  if (pixels.empty()) return {};
  if (turn) turn(pixels);
  return bitmap_from_pixels(pixels);
}

}  // namespace

// ---------------------------------------------------------------------------
// Tab controls

void TSkinTab::HookWindow(HWND hwnd, TSkinData& data, CompanionHost& host) {
  TSkinControl::HookWindow(hwnd, data, host);
  if (!attached_) return;
  focused_ = GetFocus() == hwnd_;
  enabled_ = !(GetWindowLongPtrW(hwnd_, GWL_STYLE) & WS_DISABLED);
  prepare_pictures();
  find_up_down();
}

void TSkinTab::RefreshSkin() {
  TSkinControl::RefreshSkin();
  prepare_pictures();
}

void TSkinTab::prepare_pictures() {
  tab_picture_ = {};
  border_picture_ = {};
  if (!hwnd_ || !data_) return;
  side_ = tab_side(uint32_t(GetWindowLongPtrW(hwnd_, GWL_STYLE)));
  const TDataSkinBorder* e = data_->elements().Tabs.get();
  if (!e) return;
  // The faces are drawn as for tabs on top and the strip turned for the
  // left and right; only tabs at the bottom need the picture itself flipped.
  // A skin without a border picture still gets its tabs.
  tab_picture_ = picture_of(e->Bitmap, side_ == TabSide::bottom ? flip : nullptr);
  void (*border_turn)(Pixels24&) = nullptr;
  switch (side_) {
    case TabSide::top: break;
    case TabSide::bottom: border_turn = flip; break;
    case TabSide::left: border_turn = rotate_left; break;
    case TabSide::right: border_turn = rotate_right; break;
  }
  border_picture_ = picture_of(e->Bitmap2, border_turn);
}

bool TSkinTab::find_up_down() {
  if (!hwnd_ || !host_ || !data_) return false;
  for (HWND child = GetWindow(hwnd_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!is_up_down(child)) continue;
    if (!host_->FindSkinControl(child)) {
      auto* arrows = new TSkinUpDown;
      arrows->HookWindow(child, *data_, *host_);
    }
    up_down_window_ = child;
    return IsWindowVisible(child) != FALSE;
  }
  up_down_window_ = nullptr;
  return false;
}

TSkinUpDown* TSkinTab::up_down() const {
  return host_ && up_down_window_ ? dynamic_cast<TSkinUpDown*>(host_->FindSkinControl(up_down_window_)) : nullptr;
}

void TSkinTab::DrawSkin(HDC dc, const RECT& rect) {
  if (!hwnd_ || !data_) return;
  const TDataSkinBorder* e = data_->elements().Tabs.get();
  if (!e) return;
  // The side may have changed since the pictures were made.
  if (tab_side(uint32_t(GetWindowLongPtrW(hwnd_, GWL_STYLE))) != side_) prepare_pictures();
  const Rect window{rect.left, rect.top, rect.right, rect.bottom};
  RECT display = rect;
  SendMessageW(hwnd_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
  const Rect page = tab_page_area({display.left, display.top, display.right, display.bottom}, side_);
  if (tab_picture_) draw_strip(dc, window, page, *e);
  if (border_picture_)
    paint::draw_nine_part_ring(dc, page, border_picture_.get(), paint::Strip::horizontal, 1, 1, {4, 5, 4, 4});
}

void TSkinTab::draw_strip(HDC dc, const Rect& window, const Rect& page, const TDataSkinBorder& e) {
  const Rect s = tab_strip_rect(window, page, side_);
  const StripSize size = tab_strip_size(s, side_);
  if (size.length <= 0 || size.thickness <= 0 || size.length > kMaxSide || size.thickness > kMaxSide) return;
  uint32_t* bits = nullptr;
  ui::gdi_object<HBITMAP> lying = paint::create_dib(size.length, size.thickness, &bits);
  if (!lying || !bits) return;
  {
    const paint::memory_dc work(lying.get());
    if (!work) return;
    fill_with(work.get(), {0, 0, size.length, size.thickness}, skin_colour(SkinColour::ButtonFace));
    ui::Canvas canvas(work.get());
    canvas.set_font(font_of(hwnd_));
    // Item rectangles come in client coordinates; the strip is in window
    // coordinates.
    RECT on_screen{};
    GetWindowRect(hwnd_, &on_screen);
    POINT client{0, 0};
    ClientToScreen(hwnd_, &client);
    const int dx = client.x - on_screen.left, dy = client.y - on_screen.top;
    const int count = int(SendMessageW(hwnd_, TCM_GETITEMCOUNT, 0, 0));
    const int selected = int(SendMessageW(hwnd_, TCM_GETCURSEL, 0, 0));
    for (int i = 0; i < count; ++i) {
      RECT t{};
      if (!SendMessageW(hwnd_, TCM_GETITEMRECT, WPARAM(i), reinterpret_cast<LPARAM>(&t))) continue;
      const Rect tab{t.left + dx, t.top + dy, t.right + dx, t.bottom + dy};
      draw_tab(work.get(), i, tab_in_strip(tab, side_, window, page, size.length), i == selected ? 2 : 1, e);
    }
  }
  GdiFlush();

  ui::gdi_object<HBITMAP> turned;
  HBITMAP source = lying.get();
  if (tabs_across(side_)) {
    const std::vector<uint32_t> pixels(bits, bits + size_t(size.length) * size_t(size.thickness));
    const std::vector<uint32_t> out = turn_pixels(pixels, size.length, size.thickness, side_ == TabSide::right);
    uint32_t* turned_bits = nullptr;
    turned = paint::create_dib(size.thickness, size.length, &turned_bits);
    if (!turned || !turned_bits || out.empty()) return;
    std::copy(out.begin(), out.end(), turned_bits);
    source = turned.get();
  }

  const paint::memory_dc strip(source);
  if (!strip) return;
  const int saved = SaveDC(dc);
  // The scroll arrows stay as they paint themselves.
  if (find_up_down()) {
    RECT arrows{}, on_screen{};
    GetWindowRect(up_down_window_, &arrows);
    GetWindowRect(hwnd_, &on_screen);
    OffsetRect(&arrows, window.left - on_screen.left, window.top - on_screen.top);
    ExcludeClipRect(dc, arrows.left, arrows.top, arrows.right, arrows.bottom);
  }
  BitBlt(dc, s.left, s.top, s.width(), s.height(), strip.get(), 0, 0, SRCCOPY);
  RestoreDC(dc, saved);
}

void TSkinTab::draw_tab(HDC dc, int index, const Rect& face, int frame, const TDataSkinBorder& e) {
  wchar_t text[80] = {};
  TCITEMW item{};
  item.mask = TCIF_TEXT | TCIF_IMAGE;
  item.pszText = text;
  item.cchTextMax = 80;
  item.iImage = -1;
  SendMessageW(hwnd_, TCM_GETITEMW, WPARAM(index), reinterpret_cast<LPARAM>(&item));
  paint::draw_nine_part(dc, face, tab_picture_.get(), paint::Strip::horizontal, e.Tile != 0, true,
                        std::max(e.FrameCount, 1), frame, margins_of(e));
  SetTextColor(dc, tab_text_colour(e, frame));
  SetBkMode(dc, TRANSPARENT);
  auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(hwnd_, TCM_GETIMAGELIST, 0, 0));
  int iw = 0, ih = 0;
  const bool show_image = images && item.iImage >= 0 && ImageList_GetIconSize(images, &iw, &ih);
  if (!show_image) iw = ih = 0;
  const std::wstring caption = text;
  RECT measured{0, 0, 0, 0};
  if (!caption.empty())
    DrawTextW(dc, caption.c_str(), int(caption.size()), &measured, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  const HeaderItemPlace place = header_item_layout(face, iw, ih, measured.right, measured.bottom, TextAlign::centre);
  if (show_image) ImageList_Draw(images, item.iImage, dc, place.image.left, place.image.top, ILD_TRANSPARENT);
  if (!caption.empty())
    DrawSkinText(dc, caption, {place.text.left, place.text.top, place.text.right, place.text.bottom},
                 DT_SINGLELINE | DT_NOPREFIX);
}

// ---------------------------------------------------------------------------
// Tab sets

void TSkinTab31::HookControl(CompanionHost& host, TSkinData& data, bool keep_colour, ui::WinControl& control) {
  if (attached_) return;
  TSkinControl::HookControl(host, data, keep_colour, control);
  prepare_picture();
  const std::vector<ui::Component*> owned = control.components();
  auto* arrows = owned.empty() ? nullptr : dynamic_cast<ui::UpDown*>(owned.front());
  if (!arrows || !arrows->handle()) return;
  arrows_window_ = arrows->handle();
  if (host.FindSkinControl(arrows_window_)) return;
  auto* companion = new TSkinUpDown;
  companion->in_tab_set = true;
  companion->HookWindow(arrows_window_, data, host);
}

void TSkinTab31::RefreshSkin() {
  TSkinControl::RefreshSkin();
  prepare_picture();
}

void TSkinTab31::prepare_picture() {
  const TDataSkinBorder* e = data_ ? data_->elements().Tabs.get() : nullptr;
  // The set's tabs hang from its top edge: the picture upside down.
  tab_picture_ = e ? picture_of(e->Bitmap, flip) : ui::gdi_object<HBITMAP>{};
}

TSkinUpDown* TSkinTab31::up_down() const {
  return host_ && arrows_window_ ? dynamic_cast<TSkinUpDown*>(host_->FindSkinControl(arrows_window_)) : nullptr;
}

bool TSkinTab31::BeforeMessage(SkinMessage& m) {
  // Painted here completely; without the work bitmap the set paints itself.
  if (tab_picture_ && paint::painting_started() && take_painting(m)) return false;
  return TSkinControl::BeforeMessage(m);
}

void TSkinTab31::DrawSkin(HDC dc, const RECT& rect) {
  const TDataSkinBorder* e = data_ ? data_->elements().Tabs.get() : nullptr;
  auto* set = dynamic_cast<ui::TabSet*>(control_);
  if (!e || !tab_picture_ || !set) return;
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide) return;
  ui::gdi_object<HBITMAP> bitmap = paint::create_dib(w, h);
  const paint::memory_dc work(bitmap.get());
  if (!bitmap || !work) return;
  fill_with(work.get(), {0, 0, w, h}, skin_colour(SkinColour::ButtonFace));
  {
    ui::Canvas canvas(work.get());
    canvas.set_font(set->font() ? set->font() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
    std::vector<std::wstring> captions;
    std::vector<int> widths;
    for (const std::string& tab : set->tabs()) {
      captions.push_back(ui::widen(tab));
      SIZE size{};
      GetTextExtentPoint32W(work.get(), captions.back().c_str(), int(captions.back().size()), &size);
      widths.push_back(size.cx);
    }
    const bool arrows = arrows_window_ && IsWindowVisible(arrows_window_);
    for (const TabSetSlot& slot : fit_tab_set(widths, set->first_index(), set->start_margin, w - set->end_margin,
                                              arrows)) {
      const int frame = slot.index == set->tab_index() ? 2 : 1;
      paint::draw_nine_part(work.get(), {slot.left, 0, slot.right, h}, tab_picture_.get(), paint::Strip::horizontal,
                            e->Tile != 0, true, std::max(e->FrameCount, 1), frame, margins_of(*e));
      SetTextColor(work.get(), tab_text_colour(*e, frame));
      draw_centred_caption(work.get(), {slot.left, 0, slot.right, h}, captions[size_t(slot.index)]);
    }
  }
  BitBlt(dc, rect.left, rect.top, w, h, work.get(), 0, 0, SRCCOPY);
}

}  // namespace clip::skin
