#include "skin/data/bitmap24.h"

#include <gtest/gtest.h>

#include <cstring>

namespace clip::skin {
namespace {

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(x >> (8 * i));
}

// A BMP as the Windows writers lay it out: palette after a 40-byte header,
// rows padded to 4 bytes, bottom-up unless height is negative.
std::vector<uint8_t> make_bmp(int w, int h, int bpp, const std::vector<uint32_t>& palette,
                              const std::vector<uint32_t>& values /* index or 0xRRGGBB, top row first */) {
  const int abs_h = h < 0 ? -h : h;
  const size_t stride = (size_t(w) * bpp + 31) / 32 * 4;
  const size_t offset = 14 + 40 + palette.size() * 4;
  std::vector<uint8_t> f(offset + stride * abs_h);
  f[0] = 'B';
  f[1] = 'M';
  put32(f, 2, uint32_t(f.size()));
  put32(f, 10, uint32_t(offset));
  put32(f, 14, 40);
  put32(f, 18, uint32_t(w));
  put32(f, 22, uint32_t(h));
  f[26] = 1;
  f[28] = uint8_t(bpp);
  put32(f, 46, uint32_t(palette.size()));
  for (size_t i = 0; i < palette.size(); ++i) put32(f, 54 + i * 4, palette[i]);
  for (int y = 0; y < abs_h; ++y) {
    const int file_row = h < 0 ? y : abs_h - 1 - y;
    uint8_t* row = f.data() + offset + stride * file_row;
    for (int x = 0; x < w; ++x) {
      uint32_t v = values[size_t(y) * w + x];
      if (bpp >= 24) {
        row[x * (bpp / 8)] = uint8_t(v);
        row[x * (bpp / 8) + 1] = uint8_t(v >> 8);
        row[x * (bpp / 8) + 2] = uint8_t(v >> 16);
      } else {
        size_t bit = size_t(x) * bpp;
        row[bit / 8] |= uint8_t(v << (8 - bpp - bit % 8));
      }
    }
  }
  return f;
}

TEST(LoadBmp, ReadsEveryDepthTheSkinUsesTopRowFirst) {
  const std::vector<uint32_t> pal = {0x000000, 0xFF00FF, 0x123456, 0xFFFFFF};
  const std::vector<uint32_t> idx = {0, 1, 2, 3, 3, 2, 1, 0, 1};  // 3 x 3, odd width pads rows
  std::vector<uint32_t> rgb;
  for (uint32_t i : idx) rgb.push_back(pal[i]);
  for (int bpp : {4, 8}) {
    BmpInfo info;
    auto r = load_bmp(make_bmp(3, 3, bpp, pal, idx), &info);
    ASSERT_TRUE(r.ok()) << bpp;
    EXPECT_EQ(info.bits_per_pixel, bpp);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(r.value().rgb(i % 3, i / 3), rgb[i]) << bpp << " " << i;
  }
  for (int bpp : {24, 32}) {
    auto r = load_bmp(make_bmp(3, -3, bpp, {}, rgb));  // top-down rows
    ASSERT_TRUE(r.ok()) << bpp;
    for (int i = 0; i < 9; ++i) EXPECT_EQ(r.value().rgb(i % 3, i / 3), rgb[i]) << bpp << " " << i;
  }
  auto mono = load_bmp(make_bmp(10, 1, 1, {0x000000, 0xFFFFFF}, {1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  ASSERT_TRUE(mono.ok());
  EXPECT_EQ(mono.value().rgb(0, 0), 0xFFFFFFu);
  EXPECT_EQ(mono.value().rgb(1, 0), 0u);
  EXPECT_EQ(mono.value().rgb(9, 0), 0xFFFFFFu);
}

TEST(LoadBmp, RejectsDamagedFilesWithoutReadingPastThem) {
  const auto good = make_bmp(4, 4, 8, {0x000000, 0xFFFFFF}, std::vector<uint32_t>(16, 1));
  ASSERT_TRUE(load_bmp(good).ok());
  auto damaged = [&](auto change) {
    auto f = good;
    change(f);
    return load_bmp(f).ok();
  };
  EXPECT_FALSE(damaged([](auto& f) { f[0] = 'X'; }));
  EXPECT_FALSE(damaged([](auto& f) { f.resize(f.size() - 1); }));         // last row cut short
  EXPECT_FALSE(damaged([](auto& f) { f.resize(30); }));                   // inside the header
  EXPECT_FALSE(damaged([](auto& f) { put32(f, 10, 0xFFFFFFF0); }));       // pixel offset past the end
  EXPECT_FALSE(damaged([](auto& f) { put32(f, 14, 0x7FFFFFFF); }));       // header size past the end
  EXPECT_FALSE(damaged([](auto& f) { put32(f, 18, 0); }));                // zero width
  EXPECT_FALSE(damaged([](auto& f) { put32(f, 22, 0x80000000u); }));      // most negative height
  EXPECT_FALSE(damaged([](auto& f) { put32(f, 18, 100000); }));           // far too wide
  EXPECT_FALSE(damaged([](auto& f) { f[30] = 1; }));                      // RLE compression
  EXPECT_FALSE(damaged([](auto& f) { f[28] = 16; }));                     // unsupported depth
  EXPECT_FALSE(damaged([](auto& f) { put32(f, 46, 300); }));              // palette larger than 8 bits allow
  EXPECT_FALSE(damaged([](auto& f) { f[f.size() - 1] = 7; }));            // index beyond a 2-colour palette
  EXPECT_FALSE(load_bmp({}).ok());
}

Pixels24 numbered(int w, int h) {
  Pixels24 p(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.set_rgb(x, y, uint32_t(0x010000 * (x + 1) + 0x100 * (y + 1) + 0x37));
  return p;
}

TEST(Transforms, MoveEveryPixelWhereItBelongs) {
  const Pixels24 src = numbered(3, 2);
  Pixels24 m = src, f = src, l = src, r = src;
  mirror(m);
  flip(f);
  rotate_left(l);
  rotate_right(r);
  ASSERT_EQ(l.width, 2);
  ASSERT_EQ(l.height, 3);
  ASSERT_EQ(r.width, 2);
  ASSERT_EQ(r.height, 3);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(m.rgb(x, y), src.rgb(2 - x, y));
      EXPECT_EQ(f.rgb(x, y), src.rgb(x, 1 - y));
      EXPECT_EQ(l.rgb(y, 2 - x), src.rgb(x, y));
      EXPECT_EQ(r.rgb(1 - y, x), src.rgb(x, y));
    }
  EXPECT_EQ(l.rgb(0, 0), src.rgb(2, 0));  // old top-right
  EXPECT_EQ(r.rgb(0, 0), src.rgb(0, 1));  // old bottom-left
}

TEST(Transforms, RoundTripsAndSinglePixelsAreUnchanged) {
  const Pixels24 src = numbered(5, 3);
  Pixels24 p = src;
  rotate_left(p);
  rotate_right(p);
  EXPECT_EQ(p, src);
  mirror(p);
  mirror(p);
  EXPECT_EQ(p, src);
  flip(p);
  flip(p);
  EXPECT_EQ(p, src);
  const Pixels24 one = numbered(1, 1);
  for (auto t : {mirror, flip, rotate_left, rotate_right}) {
    Pixels24 q = one;
    t(q);
    EXPECT_EQ(q, one);
  }
}

}  // namespace
}  // namespace clip::skin
