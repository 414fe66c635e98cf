// Plain 24-bit pixel buffers, the BMP loader that fills them and the four
// transforms the skin applies to element bitmaps (mirrored combo buttons,
// tabs drawn on the other sides from the same images).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "skin/data/result.h"

namespace clip::skin {

// Rows top-down, three bytes per pixel in blue, green, red order, no padding.
struct Pixels24 {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgr;

  Pixels24() = default;
  Pixels24(int w, int h) : width(w), height(h), bgr(size_t(w) * size_t(h) * 3) {}
  bool empty() const { return width == 0 || height == 0; }
  uint32_t rgb(int x, int y) const;  // 0xRRGGBB
  void set_rgb(int x, int y, uint32_t rgb);
  bool operator==(const Pixels24&) const = default;
};

struct BmpInfo {
  int bits_per_pixel = 0;  // as stored in the file
};

// Largest bitmap the loader accepts on either side; skin images are far smaller.
inline constexpr int kMaxBmpSide = 16384;

// Parses a complete BMP file (file header, 40-byte or larger info header,
// uncompressed 1, 4, 8, 24 or 32 bits per pixel, rows bottom-up or top-down).
// Anything else, or any size or offset that runs past the data, is bad_data.
Result<Pixels24> load_bmp(std::span<const uint8_t> file, BmpInfo* info = nullptr);

// A complete 24-bit, bottom-up BMP file of the pixels.
std::vector<uint8_t> save_bmp24(const Pixels24& p);

void mirror(Pixels24& p);        // new (x, y) = old (W-1-x, y)
void flip(Pixels24& p);          // new row y = old row H-1-y
void rotate_left(Pixels24& p);   // W x H becomes H x W; new (y, W-1-x) = old (x, y)
void rotate_right(Pixels24& p);  // W x H becomes H x W; new (H-1-y, x) = old (x, y)

}  // namespace clip::skin
