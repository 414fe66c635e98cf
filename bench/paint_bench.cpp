// Region runs and piece geometry for the frame of a main-window-sized skinned
// window (741 x 563: a 733 x 509 client area inside 4-pixel side borders, a
// 46-pixel caption with the menu strip and an 8-pixel bottom border). The
// baseline reads the same pixels once and only counts key pixels, so the
// region builder's cost shows as a ratio to a plain pass over the memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "skin/paint/geometry.h"
#include "skin/paint/region.h"

namespace {

using namespace clip::skin::paint;

constexpr int kWidth = 741, kHeight = 563, kSide = 4, kCaption = 46, kBottom = 8;
constexpr uint32_t kMagenta = 0xFF00FF;

struct Piece32 {
  int width, height, dx, dy;
  std::vector<uint32_t> pixels;
};

// The four border pieces as the frame paints them, with rounded top corners
// and a cut bottom edge in magenta, like a shaped skin.
std::vector<Piece32> frame_pieces() {
  auto make = [](int w, int h, int dx, int dy) {
    Piece32 p{w, h, dx, dy, std::vector<uint32_t>(static_cast<size_t>(w) * h, 0x8090A0)};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int gx = x + dx, gy = y + dy;
        const int cx = gx < 8 ? 8 - gx : gx >= kWidth - 8 ? gx - (kWidth - 9) : 0;
        const int cy = gy < 8 ? 8 - gy : 0;
        if (cx * cx + cy * cy > 64 || (gy == kHeight - 1 && gx % 4 == 0)) p.pixels[y * w + x] = kMagenta;
      }
    return p;
  };
  return {make(kSide, kHeight, 0, 0), make(kSide, kHeight, kWidth - kSide, 0),
          make(kWidth - 2 * kSide, kBottom, kSide, kHeight - kBottom),
          make(kWidth - 2 * kSide, kCaption, kSide, 0)};
}

void BM_BaselinePixelPass(benchmark::State& state) {
  const std::vector<Piece32> pieces = frame_pieces();
  int64_t pixels = 0;
  for (auto _ : state) {
    int keys = 0;
    for (const Piece32& p : pieces)
      for (uint32_t v : p.pixels) keys += v == kMagenta;
    benchmark::DoNotOptimize(keys);
    for (const Piece32& p : pieces) pixels += static_cast<int64_t>(p.width) * p.height;
  }
  state.SetItemsProcessed(pixels);
}
BENCHMARK(BM_BaselinePixelPass);

void BM_MainWindowRegionRuns(benchmark::State& state) {
  const std::vector<Piece32> pieces = frame_pieces();
  int64_t pixels = 0;
  size_t runs = 0;
  for (auto _ : state) {
    runs = 0;
    for (const Piece32& p : pieces) {
      const std::vector<Rect> r = region_runs(p.pixels.data(), p.width, p.height, p.width, p.dx, p.dy, {1, 1, 1});
      runs += r.size();
      benchmark::DoNotOptimize(r.data());
    }
    for (const Piece32& p : pieces) pixels += static_cast<int64_t>(p.width) * p.height;
  }
  state.SetItemsProcessed(pixels);
  state.counters["runs"] = static_cast<double>(runs);
}
BENCHMARK(BM_MainWindowRegionRuns);

void BM_MainWindowFramePieces(benchmark::State& state) {
  // Border bitmaps of the skin's sizes: left/right 8 x 284 and top 265 x 46 in
  // two frames, bottom 318 x 8; tiled centres, as the frame paints them.
  size_t count = 0;
  for (auto _ : state) {
    count = 0;
    count += nine_part_pieces(frame_rect(8, 284, Strip::horizontal, 2, 1), kSide, kHeight, {0, 30, 0, 30}, true).size();
    count += nine_part_pieces(frame_rect(8, 284, Strip::horizontal, 2, 1), kSide, kHeight, {0, 30, 0, 30}, true).size();
    count += nine_part_pieces(frame_rect(265, 46, Strip::vertical, 2, 1), kWidth - 2 * kSide, kCaption, {60, 0, 60, 0}, true).size();
    count += nine_part_pieces(frame_rect(318, 8, Strip::vertical, 1, 1), kWidth - 2 * kSide, kBottom, {20, 0, 20, 0}, true).size();
    benchmark::DoNotOptimize(count);
  }
  state.counters["pieces"] = static_cast<double>(count);
}
BENCHMARK(BM_MainWindowFramePieces);

}  // namespace
