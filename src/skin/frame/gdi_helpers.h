// Small GDI helpers the menu painters share.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "skin/data/bitmap24.h"
#include "skin/paint/paint_win.h"
#include "ui/handles.h"

namespace clip::skin {

// Selects an object into a DC for one scope.
class selection {
 public:
  selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
  ~selection() {
    if (previous_) SelectObject(dc_, previous_);
  }
  selection(const selection&) = delete;
  selection& operator=(const selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A skin element's pixels as a DIB section; empty for empty pixels.
inline ui::gdi_object<HBITMAP> bitmap_of(const Pixels24& pixels) {
  if (pixels.empty()) return {};
  uint32_t* bits = nullptr;
  ui::gdi_object<HBITMAP> bitmap = paint::create_dib(pixels.width, pixels.height, &bits);
  if (!bitmap || !bits) return {};
  for (int y = 0; y < pixels.height; ++y)
    for (int x = 0; x < pixels.width; ++x)
      bits[static_cast<size_t>(y) * static_cast<size_t>(pixels.width) + static_cast<size_t>(x)] = pixels.rgb(x, y);
  return bitmap;
}

}  // namespace clip::skin
