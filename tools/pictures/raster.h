// A small anti-aliased rasteriser for the program's pictures. Shapes are given
// by signed distance functions (negative inside); a pixel's coverage is the
// part of a one-pixel-wide band around the edge that lies inside, which gives
// smooth edges without supersampling. Only +, -, *, / and sqrt are used on the
// drawing path, so the output is the same with every IEEE compiler.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace clip::pictures {

struct Rgb {
  float r = 0, g = 0, b = 0;
};

Rgb mix(Rgb a, Rgb b, float t);
constexpr Rgb gray(float v) { return {v, v, v}; }

struct Point {
  float x = 0, y = 0;
};

class Canvas {
 public:
  Canvas(int width, int height, Rgb background);

  int width() const { return width_; }
  int height() const { return height_; }
  Rgb at(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }

  using Distance = std::function<float(float x, float y)>;
  using Shade = std::function<Rgb(float x, float y)>;

  // Blends `shade` over the pixels inside `distance`, limited to the box
  // [x0, x1) x [y0, y1) (clipped to the canvas), at opacity `alpha`.
  void paint(float x0, float y0, float x1, float y1, const Distance& distance, const Shade& shade,
             float alpha = 1);
  void paint(float x0, float y0, float x1, float y1, const Distance& distance, Rgb colour,
             float alpha = 1);

  // Every pixel moved towards `towards` by `amount` (0 keeps it, 1 replaces it).
  void wash(Rgb towards, float amount);

  // 8-bit RGB rows, top row first, each channel rounded.
  std::vector<uint8_t> rgb8() const;

 private:
  int width_, height_;
  std::vector<Rgb> pixels_;
};

// Signed distances of common shapes.
float circle_distance(float x, float y, float cx, float cy, float r);
float ring_distance(float x, float y, float cx, float cy, float r, float half_width);
float segment_distance(float x, float y, Point a, Point b, float half_width);
float rounded_box_distance(float x, float y, float x0, float y0, float x1, float y1, float radius);
// A convex polygon given clockwise or anticlockwise; exact near the edges,
// which is all that coverage needs.
float convex_distance(float x, float y, const std::vector<Point>& corners);

}  // namespace clip::pictures
