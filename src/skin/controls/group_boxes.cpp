#include "skin/controls/group_boxes.h"

#include "skin/controls/control_geometry.h"
#include "skin/data/skin_win.h"
#include "skin/paint/paint_win.h"
#include "ui/controls.h"
#include "ui/wide.h"

namespace clip::skin {

void TSkinGroupBox::DrawSkin(HDC dc, const RECT& rect) {
  if (!data_ || !hwnd_) return;
  read_window_text();
  auto* group = dynamic_cast<ui::GroupBox*>(control_);
  if (text_.empty() && group) text_ = ui::widen(group->caption);
  HFONT font = group ? group->font() : reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));

  const int saved = SaveDC(dc);
  if (font) SelectObject(dc, font);
  SIZE zero{0, 0};
  GetTextExtentPoint32W(dc, L"0", 1, &zero);
  const Rect f = group_frame_rect({rect.left, rect.top, rect.right, rect.bottom}, int(zero.cy));
  const COLORREF face = paint::to_colorref(data_->elements().colour(SkinColour::ButtonFace));
  const COLORREF shadow = paint::to_colorref(data_->elements().colour(SkinColour::ButtonShadow));
  // Two rings of the face colour hide the platform's etched frame.
  const ui::gdi_object<HBRUSH> face_brush(CreateSolidBrush(face));
  RECT ring{f.left, f.top, f.right, f.bottom};
  FrameRect(dc, &ring, face_brush.get());
  InflateRect(&ring, -1, -1);
  FrameRect(dc, &ring, face_brush.get());
  const ui::gdi_object<HPEN> pen(CreatePen(PS_SOLID, 1, shadow));
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  SelectObject(dc, pen.get());
  RoundRect(dc, f.left, f.top, f.right, f.bottom, 5, 5);
  if (!text_.empty()) {
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, face);
    DrawSkinText(dc, text_, {rect.left + 9, rect.top, rect.right, rect.bottom}, DT_EXPANDTABS);
  }
  // The pen is deleted after the DC has let go of it.
  RestoreDC(dc, saved);
}

}  // namespace clip::skin
