#include "ui/canvas.h"

#include "ui/wide.h"

namespace ui {

Canvas::Canvas(HDC dc) : dc_(dc) {}

Canvas::~Canvas() {
  // Put back what was selected before, then the made objects can be deleted.
  if (old_pen_) SelectObject(dc_, old_pen_);
  if (old_brush_) SelectObject(dc_, old_brush_);
  if (old_font_) SelectObject(dc_, old_font_);
}

void Canvas::set_pen(COLORREF colour, int width) {
  gdi_object<HPEN> pen(CreatePen(PS_SOLID, width, colour));
  if (!pen) return;
  HGDIOBJ previous = SelectObject(dc_, pen.get());
  if (!old_pen_) old_pen_ = previous;
  pen_ = std::move(pen);
}

void Canvas::set_brush(COLORREF colour) {
  gdi_object<HBRUSH> brush(CreateSolidBrush(colour));
  if (!brush) return;
  HGDIOBJ previous = SelectObject(dc_, brush.get());
  if (!old_brush_) old_brush_ = previous;
  brush_ = std::move(brush);
}

void Canvas::set_font(HFONT font) {
  if (!font) return;
  HGDIOBJ previous = SelectObject(dc_, font);
  if (!old_font_) old_font_ = previous;
}

void Canvas::set_text_colour(COLORREF colour) { SetTextColor(dc_, colour); }

void Canvas::fill_rect(const RECT& rect, COLORREF colour) {
  gdi_object<HBRUSH> brush(CreateSolidBrush(colour));
  FillRect(dc_, &rect, brush.get());
}

void Canvas::rectangle(const RECT& rect) { Rectangle(dc_, rect.left, rect.top, rect.right, rect.bottom); }

void Canvas::line(int x1, int y1, int x2, int y2) {
  MoveToEx(dc_, x1, y1, nullptr);
  LineTo(dc_, x2, y2);
}

void Canvas::text_out(int x, int y, const std::string& text) {
  const std::wstring wide = widen(text);
  const int old_mode = SetBkMode(dc_, TRANSPARENT);
  TextOutW(dc_, x, y, wide.c_str(), static_cast<int>(wide.size()));
  SetBkMode(dc_, old_mode);
}

SIZE Canvas::text_extent(const std::string& text) {
  const std::wstring wide = widen(text);
  SIZE size{};
  GetTextExtentPoint32W(dc_, wide.c_str(), static_cast<int>(wide.size()), &size);
  return size;
}

void Canvas::draw(int x, int y, const Bitmap& bitmap) {
  stretch_draw({x, y, x + bitmap.width(), y + bitmap.height()}, bitmap);
}

void Canvas::stretch_draw(const RECT& rect, const Bitmap& bitmap) {
  if (bitmap.empty()) return;
  HDC source = CreateCompatibleDC(dc_);
  HGDIOBJ old = SelectObject(source, bitmap.handle());
  const int w = rect.right - rect.left, h = rect.bottom - rect.top;
  if (w == bitmap.width() && h == bitmap.height()) {
    BitBlt(dc_, rect.left, rect.top, w, h, source, 0, 0, SRCCOPY);
  } else {
    const int old_mode = SetStretchBltMode(dc_, HALFTONE);
    POINT old_origin;
    SetBrushOrgEx(dc_, 0, 0, &old_origin);
    StretchBlt(dc_, rect.left, rect.top, w, h, source, 0, 0, bitmap.width(), bitmap.height(), SRCCOPY);
    SetStretchBltMode(dc_, old_mode);
    SetBrushOrgEx(dc_, old_origin.x, old_origin.y, nullptr);
  }
  SelectObject(source, old);
  DeleteDC(source);
}

OffscreenBuffer::OffscreenBuffer(HDC target, const RECT& area) : target_(target), area_(area) {
  const int w = area.right - area.left, h = area.bottom - area.top;
  if (w <= 0 || h <= 0) return;
  bitmap_.reset(CreateCompatibleBitmap(target, w, h));
  if (!bitmap_) return;
  memory_ = CreateCompatibleDC(target);
  if (!memory_) return;
  old_ = SelectObject(memory_, bitmap_.get());
  // Coordinates stay those of the target: the buffer's 0,0 is area's corner.
  SetViewportOrgEx(memory_, -area.left, -area.top, nullptr);
}

OffscreenBuffer::~OffscreenBuffer() {
  if (!memory_) return;
  SetViewportOrgEx(memory_, 0, 0, nullptr);
  BitBlt(target_, area_.left, area_.top, area_.right - area_.left, area_.bottom - area_.top, memory_, 0, 0, SRCCOPY);
  SelectObject(memory_, old_);
  DeleteDC(memory_);
}

}  // namespace ui
