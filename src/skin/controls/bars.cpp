#include "skin/controls/bars.h"

#include <commctrl.h>

#include <optional>
#include <string>

#include "skin/data/skin_win.h"
#include "skin/paint/paint_win.h"
#include "ui/component.h"

namespace clip::skin {
namespace {

void fill_with(HDC dc, const RECT& r, COLORREF colour) {
  const ui::gdi_object<HBRUSH> brush(CreateSolidBrush(colour));
  if (brush) FillRect(dc, &r, brush.get());
}

// A one-pixel frame: `top_left` along the top and left, `bottom_right`
// along the bottom and right.
void frame_3d(HDC dc, const Rect& r, COLORREF top_left, COLORREF bottom_right) {
  if (r.empty()) return;
  fill_with(dc, {r.left, r.top, r.right, r.top + 1}, top_left);
  fill_with(dc, {r.left, r.top, r.left + 1, r.bottom}, top_left);
  fill_with(dc, {r.left, r.bottom - 1, r.right, r.bottom}, bottom_right);
  fill_with(dc, {r.right - 1, r.top, r.right, r.bottom}, bottom_right);
}

// The bar's font without bold, italic or underline.
ui::gdi_object<HFONT> plain_font(HWND bar) {
  auto font = reinterpret_cast<HFONT>(SendMessageW(bar, WM_GETFONT, 0, 0));
  LOGFONTW lf{};
  if (!font || !GetObjectW(font, sizeof(lf), &lf)) GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
  lf.lfWeight = FW_NORMAL;
  lf.lfItalic = lf.lfUnderline = lf.lfStrikeOut = FALSE;
  return ui::gdi_object<HFONT>(CreateFontIndirectW(&lf));
}

struct PanelText {
  std::wstring text;
  TextAlign align = TextAlign::left;
  int bevel = 1;
  bool rtl = false;
};

// A part's text and drawing type as the bar keeps them; a leading tab
// centres the text, two put it on the right.
PanelText panel_text(HWND bar, int index) {
  PanelText p;
  const LRESULT info = SendMessageW(bar, SB_GETTEXTLENGTHW, WPARAM(index), 0);
  const unsigned type = HIWORD(info);
  p.bevel = (type & SBT_NOBORDERS) ? 3 : (type & SBT_POPOUT) ? 2 : 1;
  p.rtl = (type & SBT_RTLREADING) != 0;
  if (type & SBT_OWNERDRAW) return p;
  std::wstring text(size_t(LOWORD(info)) + 1, L'\0');
  SendMessageW(bar, SB_GETTEXTW, WPARAM(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(wcsnlen(text.c_str(), text.size()));
  size_t tabs = 0;
  while (tabs < 2 && tabs < text.size() && text[tabs] == L'\t') ++tabs;
  p.align = tabs == 0 ? TextAlign::left : tabs == 1 ? TextAlign::centre : TextAlign::right;
  p.text = text.substr(tabs);
  return p;
}

}  // namespace

// ---------------------------------------------------------------------------
// Status bars

bool TSkinStatusBar::BeforeMessage(SkinMessage& m) {
  // Without the work bitmap the bar paints itself.
  if (paint::painting_started() && take_painting(m)) return false;
  return TSkinControl::BeforeMessage(m);
}

void TSkinStatusBar::DrawSkin(HDC dc, const RECT& rect) {
  if (!hwnd_ || !data_) return;
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0) return;
  HDC work = paint::work_dc(w, h);
  if (!work) return;
  const int saved = SaveDC(work);
  fill_with(work, {0, 0, w, h}, skin_colour(SkinColour::ButtonFace));
  const ui::gdi_object<HFONT> font = plain_font(hwnd_);
  if (font) SelectObject(work, font.get());
  const TDataSkinObject* edges = data_->elements().StatusBarEdges.get();
  SetTextColor(work, edges ? paint::to_colorref(edges->NormalColour2) : skin_colour(SkinColour::ButtonText));

  const Rect all{0, 0, w, h};
  const int parts = int(SendMessageW(hwnd_, SB_GETPARTS, 0, 0));
  if (SendMessageW(hwnd_, SB_ISSIMPLE, 0, 0) || parts <= 0) {
    const PanelText simple = panel_text(hwnd_, SB_SIMPLEID);
    draw_panel(work, all, simple.text, TextAlign::left, 1);
  } else {
    for (int i = 0; i < parts; ++i) {
      RECT part{};
      if (!SendMessageW(hwnd_, SB_GETRECT, WPARAM(i), reinterpret_cast<LPARAM>(&part))) continue;
      const PanelText p = panel_text(hwnd_, i);
      draw_panel(work, {part.left, part.top, part.right, part.bottom}, p.text, panel_alignment(p.align, p.rtl),
                 p.bevel);
    }
  }
  if (GetWindowLongPtrW(hwnd_, GWL_STYLE) & SBARS_SIZEGRIP)
    if (const TDataSkinObject* images = element(data_->elements().ExtraImages)) {
      const int gw = images->Bitmap.width / images->FrameCount, gh = images->Bitmap.height;
      if (gw > 0 && images->FrameCount >= 5)
        paint::draw_strip_frame(work, size_grip_rect(all, gw, gh), bitmap_of(*images), true, images->FrameCount, 5);
    }
  BitBlt(dc, rect.left, rect.top, w, h, work, 0, 0, SRCCOPY);
  RestoreDC(work, saved);
}

void TSkinStatusBar::draw_panel(HDC dc, const Rect& panel, const std::wstring& text, TextAlign align, int bevel) {
  if (const TDataSkinObject* edges = element(data_->elements().StatusBarEdges)) {
    paint::draw_nine_part(dc, panel, bitmap_of(*edges), paint::Strip::horizontal, edges->Tile != 0, false, 3, bevel,
                          margins_of(*edges));
  } else if (bevel != 3) {
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
    if (bevel == 1) frame_3d(dc, panel, shadow, light);
    else frame_3d(dc, panel, light, shadow);
  }
  const UINT format = align == TextAlign::centre ? DT_CENTER : align == TextAlign::right ? DT_RIGHT : DT_LEFT;
  SetBkMode(dc, TRANSPARENT);
  DrawSkinText(dc, text.empty() ? L" " : text, {panel.left + 2, panel.top, panel.right - 2, panel.bottom},
               format | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
}

// ---------------------------------------------------------------------------
// Progress bars

void TSkinProgress::DrawSkin(HDC dc, const RECT& rect) {
  const TDataSkinBorder* e = data_ ? data_->elements().Progress.get() : nullptr;
  if (!e || e->Bitmap.empty() || !hwnd_ || !host_) return;
  if (e->Style == 1 && e->Bitmap2.empty()) return;
  // The skin's pictures run left to right: a vertical bar keeps its own look
  // rather than show its position sideways.
  if (GetWindowLongPtrW(hwnd_, GWL_STYLE) & PBS_VERTICAL) return;
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0) return;
  HDC work = paint::work_dc(w, h);
  if (!work) return;
  const int position = int(SendMessageW(hwnd_, PBM_GETPOS, 0, 0));
  const int upper = int(SendMessageW(hwnd_, PBM_GETRANGE, FALSE, 0));
  const Rect r{0, 0, w, h};
  fill_with(work, {0, 0, w, h}, skin_colour(SkinColour::ButtonFace));
  const HBITMAP picture = bitmap_of(*e);
  if (e->Style == 1) {
    paint::draw_nine_part(work, r, picture, paint::Strip::horizontal, e->Tile != 0, true, 1, 1, margins_of(*e));
    draw_blocks(work, r, *e, position, upper);
  } else {
    paint::draw_nine_part(work, r, picture, paint::Strip::horizontal, e->Tile != 0, true, 2, 1, margins_of(*e));
    if (const std::optional<Rect> bar = progress_bar_rect(r, position, upper))
      paint::draw_nine_part(work, *bar, picture, paint::Strip::horizontal, e->Tile != 0, true, 2, 2, margins_of(*e));
  }
  BitBlt(dc, rect.left, rect.top, w, h, work, 0, 0, SRCCOPY);
}

void TSkinProgress::draw_blocks(HDC work, const Rect& r, const TDataSkinBorder& e, int position, int upper) {
  const std::optional<Rect> bar = progress_bar_rect(r, position, upper);
  if (!bar || bar->empty()) return;
  const Pixels24& chunk = e.Bitmap2;
  const int bw = bar->width(), ch = chunk.height;
  ui::gdi_object<HBITMAP> strip = paint::create_dib(bw, ch);
  if (!strip) return;
  {
    paint::memory_dc strip_dc(strip.get());
    paint::memory_dc chunk_dc(host_->pixels_bitmap(chunk));
    if (!strip_dc || !chunk_dc) return;
    for (int x : chunk_offsets(bw, chunk.width))
      BitBlt(strip_dc.get(), x, 0, chunk.width, ch, chunk_dc.get(), 0, 0, SRCCOPY);
  }
  paint::transparent_blit(work, Rect::sized(r.left + e.LeftWidth, r.top + (r.height() - ch) / 2, bw, ch),
                          strip.get());
}

// ---------------------------------------------------------------------------
// Track bars

bool TSkinTrackBar::BeforeMessage(SkinMessage& m) {
  switch (m.msg) {
    case WM_ERASEBKGND:
      m.result = 1;
      return false;
    case WM_NOTIFY:
    case ui::kReflectNotify: {
      auto* draw = reinterpret_cast<NMCUSTOMDRAW*>(m.lparam);
      if (!draw || draw->hdr.code != NM_CUSTOMDRAW || draw->hdr.hwndFrom != hwnd_) return true;
      const TrackDraw answer = trackbar_custom_draw(draw->dwDrawStage, draw->dwItemSpec);
      if (answer.draw_thumb) draw_thumb(draw->hdc);
      m.result = LRESULT(answer.answer);
      return false;
    }
    default:
      return TSkinControl::BeforeMessage(m);
  }
}

void TSkinTrackBar::draw_thumb(HDC dc) {
  RECT thumb{};
  SendMessageW(hwnd_, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
  const SkinElements& e = data_->elements();
  const bool vertical = GetWindowLongPtrW(hwnd_, GWL_STYLE) & TBS_VERT;
  const TDataSkinObject* picture = vertical ? element(e.TrackbarThumbVert) : nullptr;
  if (!picture) picture = element(e.TrackbarThumbHorz);
  if (picture) {
    paint::draw_strip_frame(dc, {thumb.left, thumb.top, thumb.right, thumb.bottom}, bitmap_of(*picture), true, 5, 2);
    return;
  }
  const ui::gdi_object<HPEN> pen(CreatePen(PS_SOLID, 1, skin_colour(SkinColour::ButtonShadow)));
  const int saved = SaveDC(dc);
  SelectObject(dc, pen.get());
  Rectangle(dc, thumb.left, thumb.top, thumb.right, thumb.bottom);
  // The pen is deleted after the DC has let go of it.
  RestoreDC(dc, saved);
}

}  // namespace clip::skin
