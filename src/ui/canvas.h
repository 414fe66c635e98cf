// Drawing on a DC that someone else owns (a paint hook's, a memory DC): the
// pen, brush and font it selects are put back when it goes, and the pens and
// brushes it makes are deleted then.
#pragma once

#include <windows.h>

#include <string>

#include "ui/controls.h"
#include "ui/handles.h"

namespace ui {

class Canvas {
 public:
  explicit Canvas(HDC dc);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC handle() const noexcept { return dc_; }

  void set_pen(COLORREF colour, int width = 1);
  void set_brush(COLORREF colour);
  // The font stays its owner's; the canvas only selects it.
  void set_font(HFONT font);
  void set_text_colour(COLORREF colour);

  void fill_rect(const RECT& rect, COLORREF colour);
  // Pen outline, brush inside.
  void rectangle(const RECT& rect);
  void line(int x1, int y1, int x2, int y2);
  // UTF-8 text with a transparent background.
  void text_out(int x, int y, const std::string& text);
  SIZE text_extent(const std::string& text);
  void draw(int x, int y, const Bitmap& bitmap);
  void stretch_draw(const RECT& rect, const Bitmap& bitmap);

 private:
  HDC dc_;
  HGDIOBJ old_pen_ = nullptr, old_brush_ = nullptr, old_font_ = nullptr;
  gdi_object<HPEN> pen_;
  gdi_object<HBRUSH> brush_;
};

// An off-screen bitmap the size of `area` on `target`: paint into dc(), and
// the destructor copies it to the target in one blit.
class OffscreenBuffer {
 public:
  OffscreenBuffer(HDC target, const RECT& area);
  ~OffscreenBuffer();
  OffscreenBuffer(const OffscreenBuffer&) = delete;
  OffscreenBuffer& operator=(const OffscreenBuffer&) = delete;
  // The target itself when no buffer could be made, so painting still works.
  HDC dc() const noexcept { return memory_ ? memory_ : target_; }

 private:
  HDC target_;
  RECT area_;
  HDC memory_ = nullptr;
  gdi_object<HBITMAP> bitmap_;
  HGDIOBJ old_ = nullptr;
};

}  // namespace ui
