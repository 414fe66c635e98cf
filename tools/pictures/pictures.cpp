#include "pictures/pictures.h"

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace clip::pictures {
namespace {

float fract(float v) { return v - std::floor(v); }

// Soft shadow: the distance scaled down widens the anti-aliasing band into a blur.
Canvas::Distance blurred(Canvas::Distance distance, float blur) {
  return [distance, blur](float x, float y) { return distance(x, y) / blur; };
}

// Sines of 0, 22.5, ..., 180 degrees as constants, so no libm result (which
// compilers may fold differently) reaches the pixels.
constexpr float kHalfTurnSines[9] = {0.0f,        0.38268343f, 0.70710678f, 0.92387953f, 1.0f,
                                     0.92387953f, 0.70710678f, 0.38268343f, 0.0f};
constexpr float kHalfTurnCosines[9] = {1.0f,         0.92387953f,  0.70710678f,  0.38268343f, 0.0f,
                                       -0.38268343f, -0.70710678f, -0.92387953f, -1.0f};

}  // namespace

// A pale drawing of an opened hard disk seen from above: the case, the platter
// in its recess, the spindle hub with its clamp screws, and the head arm on
// its pivot, washed out so that the banner stays quiet behind the window.
Canvas draw_banner() {
  Canvas c(kBannerWidth, kBannerHeight, gray(0.95f));
  const float W = kBannerWidth, H = kBannerHeight;
  c.paint(0, 0, W, H, [](float, float) { return -1.0f; },
          [H](float, float y) { return mix(Rgb{0.96f, 0.97f, 0.98f}, Rgb{0.89f, 0.91f, 0.93f}, y / H); });

  const float cx0 = 70, cy0 = 45, cx1 = 713, cy1 = 478;
  auto case_shape = [=](float x, float y) { return rounded_box_distance(x, y, cx0, cy0, cx1, cy1, 28); };
  c.paint(cx0, cy0, cx1 + 30, cy1 + 30,
          blurred([=](float x, float y) { return rounded_box_distance(x, y, cx0 + 8, cy0 + 10, cx1 + 8, cy1 + 10, 28); }, 14),
          gray(0.55f), 0.35f);
  c.paint(cx0, cy0, cx1, cy1, case_shape, [=](float x, float y) {
    const float t = ((x - cx0) / (cx1 - cx0) + (y - cy0) / (cy1 - cy0)) / 2;
    return mix(Rgb{0.83f, 0.84f, 0.86f}, Rgb{0.72f, 0.73f, 0.75f}, t);
  });
  c.paint(cx0, cy0, cx1, cy1, [=](float x, float y) { return std::fabs(case_shape(x, y) + 2) - 1.5f; },
          gray(0.58f));
  // Raised lip along the inside of the case wall.
  c.paint(cx0, cy0, cx1, cy1, [=](float x, float y) { return std::fabs(case_shape(x, y) + 14) - 1.0f; },
          gray(0.92f), 0.8f);

  for (Point screw : {Point{102, 77}, Point{681, 77}, Point{102, 446}, Point{681, 446}}) {
    c.paint(screw.x - 12, screw.y - 12, screw.x + 12, screw.y + 12,
            [=](float x, float y) { return circle_distance(x, y, screw.x, screw.y, 10); }, gray(0.90f));
    c.paint(screw.x - 12, screw.y - 12, screw.x + 12, screw.y + 12,
            [=](float x, float y) { return ring_distance(x, y, screw.x, screw.y, 10, 1.0f); }, gray(0.55f));
    c.paint(screw.x - 12, screw.y - 12, screw.x + 12, screw.y + 12,
            [=](float x, float y) {
              return segment_distance(x, y, {screw.x - 6, screw.y + 4}, {screw.x + 6, screw.y - 4}, 1.3f);
            },
            gray(0.50f));
  }

  // Platter recess and platter.
  const float px = 330, py = 262, pr = 188;
  c.paint(px - 205, py - 205, px + 205, py + 205,
          [=](float x, float y) { return circle_distance(x, y, px, py, 201); }, gray(0.66f));
  c.paint(px - 205, py - 205, px + 205, py + 205,
          [=](float x, float y) { return ring_distance(x, y, px, py, 201, 1.2f); }, gray(0.52f));
  c.paint(px - pr, py - pr, px + pr, py + pr, [=](float x, float y) { return circle_distance(x, y, px, py, pr); },
          [=](float x, float y) {
            const float dx = x - px, dy = y - py;
            const float r2 = dx * dx + dy * dy + 1;
            // Four soft lobes of reflected light, as a polished disc shows.
            const float sheen = 2 * dx * dy / r2;
            const float r = std::sqrt(r2);
            const float track = std::fabs(fract(r / 7) - 0.5f) * 2 - 0.5f;
            const float v = 0.80f + 0.12f * sheen + 0.025f * track;
            return Rgb{v * 0.97f, v * 0.99f, std::min(1.0f, v * 1.04f)};
          });
  c.paint(px - pr, py - pr, px + pr, py + pr, [=](float x, float y) { return ring_distance(x, y, px, py, pr, 1.5f); },
          gray(0.55f));
  c.paint(px - 80, py - 80, px + 80, py + 80, [=](float x, float y) { return ring_distance(x, y, px, py, 72, 0.8f); },
          gray(0.70f), 0.7f);

  // Spindle hub, clamp and its six screws.
  c.paint(px - 52, py - 52, px + 52, py + 52, [=](float x, float y) { return circle_distance(x, y, px, py, 50); },
          [=](float x, float y) { return mix(gray(0.93f), gray(0.80f), ((x - px) + (y - py) + 100) / 200); });
  c.paint(px - 52, py - 52, px + 52, py + 52, [=](float x, float y) { return ring_distance(x, y, px, py, 50, 1.2f); },
          gray(0.58f));
  c.paint(px - 32, py - 32, px + 32, py + 32, [=](float x, float y) { return ring_distance(x, y, px, py, 24, 1.0f); },
          gray(0.65f));
  const Point directions[6] = {{1, 0}, {0.5f, 0.8660254f}, {-0.5f, 0.8660254f},
                               {-1, 0}, {-0.5f, -0.8660254f}, {0.5f, -0.8660254f}};
  for (Point d : directions) {
    const float sx = px + d.x * 37, sy = py + d.y * 37;
    c.paint(sx - 6, sy - 6, sx + 6, sy + 6, [=](float x, float y) { return circle_distance(x, y, sx, sy, 4.5f); },
            gray(0.62f));
  }
  c.paint(px - 12, py - 12, px + 12, py + 12, [=](float x, float y) { return circle_distance(x, y, px, py, 9); },
          gray(0.95f));

  // Voice-coil block, pivot and the tapered head arm reaching over the platter.
  c.paint(575, 325, 700, 460, [](float x, float y) { return rounded_box_distance(x, y, 578, 328, 696, 456, 22); },
          gray(0.62f));
  c.paint(575, 325, 700, 460,
          [](float x, float y) { return std::fabs(rounded_box_distance(x, y, 578, 328, 696, 456, 22)) - 1.2f; },
          gray(0.50f));
  const Point pivot{608, 392}, head{418, 148};
  const float ax = head.x - pivot.x, ay = head.y - pivot.y;
  const float length = std::sqrt(ax * ax + ay * ay);
  const float ux = ax / length, uy = ay / length, nx = -uy, ny = ux;
  const std::vector<Point> arm = {{pivot.x + nx * 24, pivot.y + ny * 24},
                                  {head.x + nx * 7, head.y + ny * 7},
                                  {head.x - nx * 7, head.y - ny * 7},
                                  {pivot.x - nx * 24, pivot.y - ny * 24}};
  c.paint(head.x - 20, head.y - 20, pivot.x + 30, pivot.y + 30,
          blurred([=](float x, float y) {
            std::vector<Point> shadow = arm;
            for (Point& p : shadow) p = {p.x + 6, p.y + 8};
            return convex_distance(x, y, shadow);
          }, 6),
          gray(0.40f), 0.30f);
  c.paint(head.x - 20, head.y - 20, pivot.x + 30, pivot.y + 30,
          [&arm](float x, float y) { return convex_distance(x, y, arm); },
          [=](float x, float y) {
            const float across = ((x - pivot.x) * nx + (y - pivot.y) * ny) / 24;
            return mix(gray(0.90f), gray(0.74f), (across + 1) / 2);
          });
  c.paint(head.x - 20, head.y - 20, pivot.x + 30, pivot.y + 30,
          [&arm](float x, float y) { return std::fabs(convex_distance(x, y, arm)) - 0.9f; }, gray(0.50f));
  c.paint(head.x - 20, head.y - 20, pivot.x, pivot.y,
          [=](float x, float y) {
            return segment_distance(x, y, {pivot.x + ux * 40, pivot.y + uy * 40}, {head.x - ux * 30, head.y - uy * 30}, 2.0f);
          },
          gray(0.70f));
  c.paint(head.x - 14, head.y - 14, head.x + 14, head.y + 14,
          [=](float x, float y) {
            return segment_distance(x, y, {head.x - ux * 4, head.y - uy * 4}, {head.x + ux * 6, head.y + uy * 6}, 5.0f);
          },
          gray(0.48f));
  c.paint(pivot.x - 36, pivot.y - 36, pivot.x + 36, pivot.y + 36,
          [=](float x, float y) { return circle_distance(x, y, pivot.x, pivot.y, 32); },
          [=](float x, float y) { return mix(gray(0.92f), gray(0.76f), ((x - pivot.x) + (y - pivot.y) + 64) / 128); });
  c.paint(pivot.x - 36, pivot.y - 36, pivot.x + 36, pivot.y + 36,
          [=](float x, float y) { return ring_distance(x, y, pivot.x, pivot.y, 32, 1.2f); }, gray(0.52f));
  c.paint(pivot.x - 12, pivot.y - 12, pivot.x + 12, pivot.y + 12,
          [=](float x, float y) { return circle_distance(x, y, pivot.x, pivot.y, 8); }, gray(0.66f));

  // Washed out towards a cool white so that the drawing reads as background.
  c.wash(Rgb{0.97f, 0.98f, 1.0f}, 0.38f);
  return c;
}

namespace {

// Strokes of the wordmark's letters in a box of width `w` (in letter heights)
// and height 1, y downwards. Each entry is a polyline; the letter O is a ring.
struct Glyph {
  char letter;
  float width;
  std::vector<std::vector<Point>> strokes;
};

std::vector<Point> r_bowl() {
  std::vector<Point> points = {{0, 0}};
  for (int i = 0; i <= 8; ++i) points.push_back({0.42f + 0.25f * kHalfTurnSines[i], 0.25f - 0.25f * kHalfTurnCosines[i]});
  points.push_back({0, 0.5f});
  return points;
}

const std::vector<Glyph>& wordmark_glyphs() {
  static const std::vector<Glyph> glyphs = {
      {'M', 0.95f, {{{0, 1}, {0, 0}, {0.475f, 0.62f}, {0.95f, 0}, {0.95f, 1}}}},
      {'O', 1.0f, {}},
      {'R', 0.72f, {{{0, 1}, {0, 0}}, r_bowl(), {{0.36f, 0.5f}, {0.72f, 1}}}},
      {'V', 0.9f, {{{0, 0}, {0.45f, 1}, {0.9f, 0}}}},
      {'A', 0.9f, {{{0, 1}, {0.45f, 0}, {0.9f, 1}}, {{0.2f, 0.64f}, {0.7f, 0.64f}}}},
      {'N', 0.78f, {{{0, 1}, {0, 0}, {0.78f, 1}, {0.78f, 0}}}},
      {'E', 0.66f, {{{0.66f, 0}, {0, 0}, {0, 1}, {0.66f, 1}}, {{0, 0.5f}, {0.56f, 0.5f}}}},
  };
  return glyphs;
}

}  // namespace

// The maker's logo: a blue platter emblem with an orange head arm above the
// name MORVANE in a drawn geometric face, underlined in the accent colour.
Canvas draw_logo() {
  Canvas c(kLogoWidth, kLogoHeight, gray(1.0f));
  const Rgb navy{0.07f, 0.17f, 0.36f}, blue_light{0.22f, 0.47f, 0.78f}, blue_dark{0.09f, 0.26f, 0.53f};
  const Rgb orange{0.96f, 0.55f, 0.10f};

  const float ex = 163, ey = 66, er = 50;
  c.paint(ex - er, ey - er, ex + er, ey + er, [=](float x, float y) { return circle_distance(x, y, ex, ey, er); },
          [=](float x, float y) { return mix(blue_light, blue_dark, ((x - ex) + (y - ey) + 2 * er) / (4 * er)); });
  c.paint(ex - er, ey - er, ex + er, ey + er, [=](float x, float y) { return ring_distance(x, y, ex, ey, 36, 1.6f); },
          gray(1.0f), 0.85f);
  c.paint(ex - er, ey - er, ex + er, ey + er, [=](float x, float y) { return ring_distance(x, y, ex, ey, 24, 1.0f); },
          gray(1.0f), 0.5f);
  c.paint(ex - 14, ey - 14, ex + 14, ey + 14, [=](float x, float y) { return circle_distance(x, y, ex, ey, 11); },
          gray(1.0f));
  c.paint(ex - 14, ey - 14, ex + 14, ey + 14, [=](float x, float y) { return circle_distance(x, y, ex, ey, 4.5f); },
          navy);
  const Point pivot{212, 108}, tip{183, 38};
  c.paint(175, 30, 225, 120, [=](float x, float y) { return segment_distance(x, y, pivot, tip, 6.0f); }, gray(1.0f));
  c.paint(175, 30, 225, 120, [=](float x, float y) { return segment_distance(x, y, pivot, tip, 3.6f); }, orange);
  c.paint(198, 94, 226, 122, [=](float x, float y) { return circle_distance(x, y, pivot.x, pivot.y, 10); }, gray(1.0f));
  c.paint(198, 94, 226, 122, [=](float x, float y) { return circle_distance(x, y, pivot.x, pivot.y, 7.5f); }, orange);

  const float letter = 30, gap = 10, stroke = 3.3f, top = 130;
  float total = 0;
  for (const Glyph& g : wordmark_glyphs()) total += g.width * letter;
  total += gap * (wordmark_glyphs().size() - 1);
  float left = (kLogoWidth - total) / 2;
  std::vector<std::pair<Point, Point>> segments;
  std::vector<Point> rings;
  for (const Glyph& g : wordmark_glyphs()) {
    if (g.strokes.empty()) rings.push_back({left + letter * g.width / 2, top + letter / 2});
    for (const std::vector<Point>& line : g.strokes) {
      for (size_t i = 0; i + 1 < line.size(); ++i) {
        segments.push_back({{left + line[i].x * letter, top + line[i].y * letter},
                            {left + line[i + 1].x * letter, top + line[i + 1].y * letter}});
      }
    }
    left += g.width * letter + gap;
  }
  // The whole word as one shape, so joints are not blended twice.
  auto word = [&](float x, float y) {
    float d = 1e9f;
    for (const auto& [a, b] : segments) d = std::min(d, segment_distance(x, y, a, b, stroke));
    for (Point o : rings) d = std::min(d, ring_distance(x, y, o.x, o.y, letter / 2, stroke));
    return d;
  };
  const float word_left = (kLogoWidth - total) / 2;
  c.paint(word_left - 6, top - 6, word_left + total + 6, top + letter + 6, word, navy);
  c.paint(word_left - 4, 172, word_left + total + 4, 180,
          [=](float x, float y) { return segment_distance(x, y, {word_left, 176}, {word_left + total, 176}, 1.6f); },
          orange);
  return c;
}

std::vector<uint8_t> encode_jpeg(const Canvas& canvas, int quality) {
  const std::vector<uint8_t> rgb = canvas.rgb8();
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr error{};
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(canvas.width());
  cinfo.image_height = static_cast<JDIMENSION>(canvas.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  // The integer DCT gives the same bytes on every machine; the float one need not.
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_compress(&cinfo, TRUE);
  const size_t stride = static_cast<size_t>(canvas.width()) * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&rgb[cinfo.next_scanline * stride]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

std::vector<uint8_t> encode_bmp24(int width, int height, const std::vector<uint8_t>& rgb) {
  if (width <= 0 || height <= 0 || rgb.size() != static_cast<size_t>(width) * height * 3)
    throw std::invalid_argument("pixel count does not match the bitmap size");
  const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  const uint32_t image_size = stride * static_cast<uint32_t>(height);
  const uint32_t offset = 14 + 40;
  std::vector<uint8_t> out;
  auto u16 = [&out](uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto u32 = [&u16](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  out.push_back('B');
  out.push_back('M');
  u32(offset + image_size);
  u32(0);
  u32(offset);
  u32(40);
  u32(static_cast<uint32_t>(width));
  u32(static_cast<uint32_t>(height));  // positive: rows stored bottom-up
  u16(1);
  u16(24);
  u32(0);  // BI_RGB
  u32(image_size);
  u32(3780);  // 96 pixels per inch
  u32(3780);
  u32(0);
  u32(0);
  for (int y = height - 1; y >= 0; --y) {
    const uint8_t* row = &rgb[static_cast<size_t>(y) * width * 3];
    for (int x = 0; x < width; ++x) {
      out.push_back(row[x * 3 + 2]);
      out.push_back(row[x * 3 + 1]);
      out.push_back(row[x * 3 + 0]);
    }
    for (uint32_t pad = static_cast<uint32_t>(width) * 3; pad < stride; ++pad) out.push_back(0);
  }
  return out;
}

std::vector<uint8_t> encode_ico(const std::vector<IconImage>& images) {
  if (images.empty() || images.size() > 0xFFFF) throw std::invalid_argument("an icon file holds 1 to 65535 images");
  std::vector<uint8_t> out;
  auto u16 = [&out](uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto u32 = [&u16](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  auto image_bytes = [](int size) {
    const uint32_t mask_stride = ((static_cast<uint32_t>(size) + 31) / 32) * 4;
    return 40 + static_cast<uint32_t>(size) * size * 4 + mask_stride * static_cast<uint32_t>(size);
  };
  u16(0);
  u16(1);  // an icon, not a cursor
  u16(static_cast<uint32_t>(images.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  for (const IconImage& image : images) {
    if (image.size <= 0 || image.size > 256 ||
        image.rgb.size() != static_cast<size_t>(image.size) * image.size * 3)
      throw std::invalid_argument("icon image size does not match its pixels");
    out.push_back(static_cast<uint8_t>(image.size));  // 256 is stored as 0
    out.push_back(static_cast<uint8_t>(image.size));
    out.push_back(0);  // no palette
    out.push_back(0);
    u16(1);
    u16(32);
    u32(image_bytes(image.size));
    u32(offset);
    offset += image_bytes(image.size);
  }
  for (const IconImage& image : images) {
    const int n = image.size;
    auto transparent = [&image, n](int x, int y) {
      const uint8_t* p = &image.rgb[(static_cast<size_t>(y) * n + x) * 3];
      return p[0] == kKeyRed && p[1] == kKeyGreen && p[2] == kKeyBlue;
    };
    u32(40);
    u32(static_cast<uint32_t>(n));
    u32(static_cast<uint32_t>(n) * 2);  // the colour rows and the mask rows
    u16(1);
    u16(32);
    u32(0);
    u32(0);
    u32(0);
    u32(0);
    u32(0);
    u32(0);
    for (int y = n - 1; y >= 0; --y) {
      for (int x = 0; x < n; ++x) {
        const uint8_t* p = &image.rgb[(static_cast<size_t>(y) * n + x) * 3];
        const bool clear = transparent(x, y);
        out.push_back(clear ? 0 : p[2]);
        out.push_back(clear ? 0 : p[1]);
        out.push_back(clear ? 0 : p[0]);
        out.push_back(clear ? 0 : 255);
      }
    }
    const size_t mask_stride = ((static_cast<size_t>(n) + 31) / 32) * 4;
    for (int y = n - 1; y >= 0; --y) {
      std::vector<uint8_t> row(mask_stride, 0);
      for (int x = 0; x < n; ++x)
        if (transparent(x, y)) row[static_cast<size_t>(x) / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      out.insert(out.end(), row.begin(), row.end());
    }
  }
  return out;
}

std::vector<uint8_t> banner_jpeg() { return encode_jpeg(draw_banner(), 90); }
std::vector<uint8_t> logo_jpeg() { return encode_jpeg(draw_logo(), 95); }

}  // namespace clip::pictures
