// Loads arbitrary bytes as a BMP; an accepted image must have the pixel
// buffer its size promises and survive every transform.
#include <cstddef>
#include <cstdint>
#include <span>

#include "skin/data/bitmap24.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto image = clip::skin::load_bmp(std::span<const std::uint8_t>(data, size));
  if (!image) return 0;
  clip::skin::Pixels24& p = image.value();
  if (p.bgr.size() != std::size_t(p.width) * std::size_t(p.height) * 3) __builtin_trap();
  if (p.bgr.size() > 3u << 20) return 0;  // keep the transforms cheap on huge inputs
  clip::skin::mirror(p);
  clip::skin::rotate_left(p);
  clip::skin::flip(p);
  clip::skin::rotate_right(p);
  return 0;
}
