#include "skin/paint/region.h"

#include <algorithm>

namespace clip::skin::paint {

std::vector<Rect> region_runs(const uint32_t* pixels, int width, int height, int stride, int dx, int dy,
                              Tolerance tolerance, KeyColour key) {
  std::vector<Rect> runs;
  if (pixels == nullptr || width <= 0 || height <= 0 || stride < width) return runs;
  const uint32_t r0 = key.red, g0 = key.green, b0 = key.blue;
  const uint32_t r1 = std::min(255, key.red + std::max(tolerance.red, 0));
  const uint32_t g1 = std::min(255, key.green + std::max(tolerance.green, 0));
  const uint32_t b1 = std::min(255, key.blue + std::max(tolerance.blue, 0));
  auto is_key = [&](uint32_t p) {
    const uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    return r >= r0 && r <= r1 && g >= g0 && g <= g1 && b >= b0 && b <= b1;
  };
  for (int y = 0; y < height; ++y) {
    const uint32_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    int x = 0;
    while (x < width) {
      while (x < width && is_key(row[x])) ++x;
      const int start = x;
      while (x < width && !is_key(row[x])) ++x;
      if (x > start) runs.push_back({start + dx, y + dy, x + dx, y + dy + 1});
    }
  }
  return runs;
}

}  // namespace clip::skin::paint
