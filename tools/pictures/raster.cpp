#include "pictures/raster.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace clip::pictures {

Rgb mix(Rgb a, Rgb b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Canvas::Canvas(int width, int height, Rgb background)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, background) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("canvas size must be positive");
}

void Canvas::paint(float x0, float y0, float x1, float y1, const Distance& distance, const Shade& shade,
                   float alpha) {
  // One pixel of slack so the anti-aliased rim is not clipped by a tight box.
  const int left = std::max(0, static_cast<int>(std::floor(x0)) - 1);
  const int top = std::max(0, static_cast<int>(std::floor(y0)) - 1);
  const int right = std::min(width_, static_cast<int>(std::ceil(x1)) + 1);
  const int bottom = std::min(height_, static_cast<int>(std::ceil(y1)) + 1);
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      const float px = x + 0.5f, py = y + 0.5f;
      const float coverage = std::clamp(0.5f - distance(px, py), 0.0f, 1.0f) * alpha;
      if (coverage <= 0) continue;
      Rgb& pixel = pixels_[static_cast<size_t>(y) * width_ + x];
      pixel = mix(pixel, shade(px, py), coverage);
    }
  }
}

void Canvas::paint(float x0, float y0, float x1, float y1, const Distance& distance, Rgb colour,
                   float alpha) {
  paint(x0, y0, x1, y1, distance, [colour](float, float) { return colour; }, alpha);
}

void Canvas::wash(Rgb towards, float amount) {
  for (Rgb& pixel : pixels_) pixel = mix(pixel, towards, amount);
}

std::vector<uint8_t> Canvas::rgb8() const {
  std::vector<uint8_t> out;
  out.reserve(pixels_.size() * 3);
  auto channel = [](float v) {
    return static_cast<uint8_t>(std::clamp(static_cast<int>(v * 255.0f + 0.5f), 0, 255));
  };
  for (const Rgb& p : pixels_) {
    out.push_back(channel(p.r));
    out.push_back(channel(p.g));
    out.push_back(channel(p.b));
  }
  return out;
}

float circle_distance(float x, float y, float cx, float cy, float r) {
  const float dx = x - cx, dy = y - cy;
  return std::sqrt(dx * dx + dy * dy) - r;
}

float ring_distance(float x, float y, float cx, float cy, float r, float half_width) {
  return std::fabs(circle_distance(x, y, cx, cy, r)) - half_width;
}

float segment_distance(float x, float y, Point a, Point b, float half_width) {
  const float abx = b.x - a.x, aby = b.y - a.y;
  const float apx = x - a.x, apy = y - a.y;
  const float length2 = abx * abx + aby * aby;
  const float t = length2 > 0 ? std::clamp((apx * abx + apy * aby) / length2, 0.0f, 1.0f) : 0.0f;
  const float dx = apx - abx * t, dy = apy - aby * t;
  return std::sqrt(dx * dx + dy * dy) - half_width;
}

float rounded_box_distance(float x, float y, float x0, float y0, float x1, float y1, float radius) {
  const float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  const float hx = (x1 - x0) / 2 - radius, hy = (y1 - y0) / 2 - radius;
  const float qx = std::fabs(x - cx) - hx, qy = std::fabs(y - cy) - hy;
  const float ox = std::max(qx, 0.0f), oy = std::max(qy, 0.0f);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0f) - radius;
}

float convex_distance(float x, float y, const std::vector<Point>& corners) {
  // Orientation from the signed area, so either winding works.
  float area = 0;
  for (size_t i = 0; i < corners.size(); ++i) {
    const Point& a = corners[i];
    const Point& b = corners[(i + 1) % corners.size()];
    area += a.x * b.y - b.x * a.y;
  }
  const float sign = area > 0 ? 1.0f : -1.0f;
  float worst = -1e9f;
  for (size_t i = 0; i < corners.size(); ++i) {
    const Point& a = corners[i];
    const Point& b = corners[(i + 1) % corners.size()];
    const float ex = b.x - a.x, ey = b.y - a.y;
    const float length = std::sqrt(ex * ex + ey * ey);
    if (length == 0) continue;
    // Outward normal distance of the point from this edge's line.
    const float d = sign * ((x - a.x) * ey - (y - a.y) * ex) / length;
    worst = std::max(worst, d);
  }
  return worst;
}

}  // namespace clip::pictures
