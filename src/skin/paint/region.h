// Runs of opaque pixels in a skin bitmap, the shape of a skinned window. A
// pixel whose every channel lies in [key, key + tolerance] (capped at 255) is
// transparent; every other pixel belongs to the region.
#pragma once

#include <cstdint>
#include <vector>

#include "skin/paint/geometry.h"

namespace clip::skin::paint {

struct KeyColour {
  uint8_t red = 0xFF, green = 0x00, blue = 0xFF;
};

struct Tolerance {
  int red = 0, green = 0, blue = 0;
};

// One rectangle, one pixel high, per run of opaque pixels in a row, moved by
// (dx, dy). `pixels` are 32-bit 0x00RRGGBB values, top row first, `stride`
// pixels apart (the layout of a top-down 32-bit DIB section). An all-key
// bitmap gives no rectangles.
std::vector<Rect> region_runs(const uint32_t* pixels, int width, int height, int stride, int dx, int dy,
                              Tolerance tolerance, KeyColour key = {});

}  // namespace clip::skin::paint
