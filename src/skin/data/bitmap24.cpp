#include "skin/data/bitmap24.h"

#include <algorithm>
#include <cstring>

namespace clip::skin {
namespace {

uint32_t le32(std::span<const uint8_t> d, size_t at) {
  return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 | uint32_t(d[at + 3]) << 24;
}
uint16_t le16(std::span<const uint8_t> d, size_t at) { return uint16_t(d[at] | d[at + 1] << 8); }

Error bad(const char* what) { return Error{ErrorKind::bad_data, what}; }

}  // namespace

uint32_t Pixels24::rgb(int x, int y) const {
  const uint8_t* p = &bgr[(size_t(y) * size_t(width) + size_t(x)) * 3];
  return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

void Pixels24::set_rgb(int x, int y, uint32_t rgb) {
  uint8_t* p = &bgr[(size_t(y) * size_t(width) + size_t(x)) * 3];
  p[0] = uint8_t(rgb);
  p[1] = uint8_t(rgb >> 8);
  p[2] = uint8_t(rgb >> 16);
}

Result<Pixels24> load_bmp(std::span<const uint8_t> file, BmpInfo* info) {
  constexpr size_t kFileHeader = 14;
  if (file.size() < kFileHeader + 40) return bad("BMP shorter than its headers");
  if (file[0] != 'B' || file[1] != 'M') return bad("not a BMP file");
  const uint32_t pixel_offset = le32(file, 10);
  const uint32_t header_size = le32(file, 14);
  if (header_size < 40 || header_size > file.size() - kFileHeader) return bad("unsupported BMP header");
  const int32_t width = int32_t(le32(file, 18));
  const int32_t raw_height = int32_t(le32(file, 22));
  const uint16_t planes = le16(file, 26);
  const uint16_t bpp = le16(file, 28);
  const uint32_t compression = le32(file, 30);
  uint32_t colours_used = le32(file, 46);
  if (planes != 1) return bad("BMP plane count is not 1");
  if (compression != 0) return bad("compressed BMP");
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return bad("unsupported BMP bit depth");
  if (raw_height == INT32_MIN) return bad("BMP height out of range");
  const bool top_down = raw_height < 0;
  const int32_t height = top_down ? -raw_height : raw_height;
  if (width <= 0 || height <= 0 || width > kMaxBmpSide || height > kMaxBmpSide) return bad("BMP size out of range");

  std::vector<uint32_t> palette;
  if (bpp <= 8) {
    const uint32_t max_colours = 1u << bpp;
    if (colours_used == 0) colours_used = max_colours;
    if (colours_used > max_colours) return bad("BMP palette too large");
    const size_t palette_at = kFileHeader + header_size;
    if (palette_at + size_t(colours_used) * 4 > file.size()) return bad("BMP palette runs past the file");
    for (uint32_t i = 0; i < colours_used; ++i) {
      size_t at = palette_at + size_t(i) * 4;
      palette.push_back(uint32_t(file[at + 2]) << 16 | uint32_t(file[at + 1]) << 8 | file[at]);
    }
  }
  const size_t stride = (size_t(width) * bpp + 31) / 32 * 4;
  if (pixel_offset < kFileHeader + header_size || pixel_offset > file.size() ||
      stride * size_t(height) > file.size() - pixel_offset)
    return bad("BMP pixel data runs past the file");

  Pixels24 out(width, height);
  for (int32_t row = 0; row < height; ++row) {
    const uint8_t* src = file.data() + pixel_offset + stride * size_t(row);
    const int y = top_down ? row : height - 1 - row;
    for (int x = 0; x < width; ++x) {
      uint32_t rgb;
      if (bpp == 24 || bpp == 32) {
        const uint8_t* p = src + size_t(x) * (bpp / 8);
        rgb = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
      } else {
        const size_t bit = size_t(x) * bpp;
        const unsigned shift = unsigned(8 - bpp - bit % 8);
        const unsigned index = (src[bit / 8] >> shift) & ((1u << bpp) - 1);
        if (index >= palette.size()) return bad("BMP pixel outside its palette");
        rgb = palette[index];
      }
      out.set_rgb(x, y, rgb);
    }
  }
  if (info) info->bits_per_pixel = bpp;
  return out;
}

std::vector<uint8_t> save_bmp24(const Pixels24& p) {
  const size_t stride = (size_t(p.width) * 3 + 3) / 4 * 4;
  std::vector<uint8_t> f(54 + stride * size_t(p.height));
  auto put = [&f](size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) f[at + size_t(i)] = uint8_t(v >> (8 * i));
  };
  f[0] = 'B';
  f[1] = 'M';
  put(2, uint32_t(f.size()), 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, uint32_t(p.width), 4);
  put(22, uint32_t(p.height), 4);
  put(26, 1, 2);
  put(28, 24, 2);
  put(34, uint32_t(stride * size_t(p.height)), 4);
  for (int y = 0; y < p.height; ++y)
    std::memcpy(&f[54 + stride * size_t(p.height - 1 - y)], &p.bgr[size_t(y) * size_t(p.width) * 3],
                size_t(p.width) * 3);
  return f;
}

void mirror(Pixels24& p) {
  for (int y = 0; y < p.height; ++y) {
    uint8_t* row = p.bgr.data() + size_t(y) * size_t(p.width) * 3;
    for (int a = 0, b = p.width - 1; a < b; ++a, --b) std::swap_ranges(row + a * 3, row + a * 3 + 3, row + b * 3);
  }
}

void flip(Pixels24& p) {
  const size_t stride = size_t(p.width) * 3;
  for (int a = 0, b = p.height - 1; a < b; ++a, --b)
    std::swap_ranges(p.bgr.begin() + ptrdiff_t(a * stride), p.bgr.begin() + ptrdiff_t((a + 1) * stride),
                     p.bgr.begin() + ptrdiff_t(b * stride));
}

namespace {
template <class Map>
void rotate(Pixels24& p, Map map) {
  Pixels24 out(p.height, p.width);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      auto [nx, ny] = map(x, y);
      std::memcpy(&out.bgr[(size_t(ny) * size_t(out.width) + size_t(nx)) * 3],
                  &p.bgr[(size_t(y) * size_t(p.width) + size_t(x)) * 3], 3);
    }
  p = std::move(out);
}
}  // namespace

void rotate_left(Pixels24& p) {
  const int w = p.width;
  rotate(p, [w](int x, int y) { return std::pair{y, w - 1 - x}; });
}

void rotate_right(Pixels24& p) {
  const int h = p.height;
  rotate(p, [h](int x, int y) { return std::pair{h - 1 - y, x}; });
}

}  // namespace clip::skin
