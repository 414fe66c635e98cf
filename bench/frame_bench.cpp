// The skinned frame of the main window, from our own skin file: the time to
// lay out every piece of the frame at the main window's size, and the time to
// build the window region's runs from the border bitmaps (compose the border
// pieces the region is cut from, then scan them for the key colour).
//
// The main window has a 733 x 509 client area. Around it the skin puts its
// borders (4-pixel sides, a 23-pixel caption, a 4-pixel bottom from our
// bitmaps) and the painted menu bar, as high as the system's menu bar.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "skin/data/skin_loader.h"
#include "skin/frame/frame_geometry.h"
#include "skin/paint/geometry.h"
#include "skin/paint/region.h"

namespace {

using namespace clip::skin;
using paint::Margins;
using paint::Piece;
using paint::Strip;

constexpr int kClientWidth = 733, kClientHeight = 509;
// The menu bar's height: the system's menu bar height in the Wine test
// environment (frame_paint_bench prints the one it ran with). Override it
// with CLIPSALVAGE_MENU_BAR=N.
constexpr int kMenuBar = 19;
// The measured caption text of the main window (prefix, one space and the
// caption in the caption font) as the Wine run measures it; the layout only
// needs a plausible size.
constexpr int kCaptionTextWidth = 328, kCaptionTextHeight = 14;
// The window icon stands in for the icon button without a bitmap.
constexpr int kSmallIcon = 16;

const SkinElements& our_skin() {
  static const SkinElements elements = [] {
    std::ifstream in(std::string(CLIPSALVAGE_ASSETS_DIR) + "/clipsalvage.skin", std::ios::binary);
    const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto loaded = load_skin_stream(stream);
    if (!loaded) {
      std::fprintf(stderr, "frame_bench: assets/clipsalvage.skin is missing or was rejected\n");
      std::exit(1);
    }
    return std::move(loaded.value());
  }();
  return elements;
}

int menu_bar_height() {
  static const int h = [] {
    const char* v = std::getenv("CLIPSALVAGE_MENU_BAR");
    return v ? std::max(std::atoi(v), 0) : kMenuBar;
  }();
  return h;
}

Margins margins_of(const TDataSkinObject& e) {
  return {e.LeftWidth, e.TopHeight, e.RightWidth, e.BottomHeight};
}

FrameMetrics main_window_metrics() { return frame_metrics(our_skin(), FrameKind::edged, menu_bar_height()); }

struct WindowSize {
  int width, height;
};
WindowSize main_window_size() {
  const FrameMetrics m = main_window_metrics();
  return {kClientWidth + m.left + m.right, kClientHeight + m.caption + m.menu_bar + m.bottom};
}

const TDataSkinBorder& border_of(const SkinElements& e, Border which) {
  switch (which) {
    case Border::left: return *e.Left;
    case Border::right: return *e.Right;
    case Border::top: return *e.Top;
    case Border::bottom: return *e.Bottom;
  }
  return *e.Top;
}

// Where each border goes in a width x height window.
Rect border_rect(Border which, int W, int H, const FrameMetrics& m) {
  switch (which) {
    case Border::left: return {0, 0, m.left, H};
    case Border::right: return {W - m.right, 0, W, H};
    case Border::bottom: return {m.left, H - m.bottom, W - m.right, H};
    case Border::top: return {m.left, 0, W - m.right, m.caption};
  }
  return {};
}

// The nine-part pieces of one border, active frame, at its place's size.
std::vector<Piece> border_pieces(const TDataSkinBorder& b, Border which, int width, int height) {
  const bool stacked = which == Border::top || which == Border::bottom;
  const Rect frame =
      paint::frame_rect(b.Bitmap.width, b.Bitmap.height, stacked ? Strip::vertical : Strip::horizontal,
                        std::max(b.FrameCount, 1), 1);
  return paint::nine_part_pieces(frame, width, height, margins_of(b), b.Tile != 1);
}

// Everything the frame paint and the region need to know about where things
// go, for one window size: the frame sizes, the client area, the pieces of
// the four borders, the menu strip and the caption plate, the caption text,
// the caption buttons and the region's parts.
struct FrameLayout {
  FrameMetrics metrics;
  Rect client;
  std::vector<Piece> pieces;
  Rect caption_text;
  std::vector<Rect> buttons;
  std::vector<RegionPart> region;
};

void lay_out_frame(const SkinElements& e, int W, int H, FrameLayout& out) {
  out.metrics = frame_metrics(e, FrameKind::edged, menu_bar_height());
  const FrameMetrics& m = out.metrics;
  out.client = client_area(W, H, m);
  out.pieces.clear();
  out.buttons.clear();
  for (Border which : {Border::left, Border::right, Border::bottom, Border::top}) {
    const Rect r = border_rect(which, W, H, m);
    const std::vector<Piece> p = border_pieces(border_of(e, which), which, r.width(), r.height());
    out.pieces.insert(out.pieces.end(), p.begin(), p.end());
  }
  if (const TDataSkinObject* bar = e.MenuBar.get(); bar && m.menu_bar > 0) {
    const Rect frame =
        paint::frame_rect(bar->Bitmap.width, bar->Bitmap.height, Strip::vertical, bar->FrameCount, 1);
    const int w = W - m.left - m.right;
    const std::vector<Piece> p =
        bar->Tile == 1 ? paint::nine_part_pieces(frame, w, m.menu_bar, margins_of(*bar), false)
                       : paint::three_part_pieces(frame, w, m.menu_bar, bar->LeftWidth, bar->RightWidth);
    out.pieces.insert(out.pieces.end(), p.begin(), p.end());
  }
  const Rect area{m.left, 0, W - m.right, m.caption};
  CaptionPlace at;
  at.area = area;
  at.text_width = kCaptionTextWidth;
  at.text_height = kCaptionTextHeight;
  out.caption_text = place_caption_text(*e.Title, at);
  const Pixels24& plate = e.Title->Bitmap;
  if (!plate.empty()) {
    const Rect frame = paint::frame_rect(plate.width, plate.height, Strip::vertical, 2, 1);
    const std::vector<Piece> p = paint::three_part_pieces(frame, out.caption_text.width(), area.height(),
                                                          e.Title->TXTBackleft, e.Title->TXTBackRight);
    out.pieces.insert(out.pieces.end(), p.begin(), p.end());
  }
  ButtonFacts facts;
  facts.menu_bar_height = m.menu_bar;
  ButtonPlace place;
  place.window_width = W;
  place.caption_text = out.caption_text;
  place.metrics = m;
  place.menu_bar = e.MenuBar.get();
  int rightmost = 0;
  for (const auto& button : e.TitleButtons) {
    if (!button || !title_button_visible(*button, facts)) continue;
    const bool icon = is_icon_button(*button) && button->Bitmap.empty();
    const int frames = icon ? 1 : std::max(button->FrameCount, 1);
    const int w = icon ? kSmallIcon : button->Bitmap.width / frames,
              h = icon ? kSmallIcon : button->Bitmap.height;
    if (auto r = place_title_button(*button, w, h, place, rightmost)) out.buttons.push_back(*r);
  }
  out.region = region_parts(W, H, m, e, FrameKind::edged);
}

void BM_MainWindowFrameLayout(benchmark::State& state) {
  const SkinElements& e = our_skin();
  const WindowSize size = main_window_size();
  FrameLayout layout;
  for (auto _ : state) {
    lay_out_frame(e, size.width, size.height, layout);
    benchmark::DoNotOptimize(layout.pieces.data());
    benchmark::DoNotOptimize(layout.region.data());
  }
  state.counters["width"] = size.width;
  state.counters["height"] = size.height;
  state.counters["pieces"] = static_cast<double>(layout.pieces.size());
  state.counters["buttons"] = static_cast<double>(layout.buttons.size());
  state.counters["regionparts"] = static_cast<double>(layout.region.size());
}
BENCHMARK(BM_MainWindowFrameLayout);

// A 32-bit picture, 0x00RRGGBB, rows top-down: the layout of the window
// code's DIB sections.
struct Image {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

// The skin bitmap as the window skin holds it once the skin is loaded.
Image to_image(const Pixels24& p) {
  Image image{p.width, p.height, std::vector<uint32_t>(static_cast<size_t>(p.width) * p.height)};
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) image.pixels[static_cast<size_t>(y) * p.width + x] = p.rgb(x, y);
  return image;
}

// Copies the pieces, stretching by whole pixels (each destination pixel takes
// the source pixel its position maps to), which is what the colour-on-colour
// stretch mode of the window code does.
void compose(const Image& source, const std::vector<Piece>& pieces, Image& dest) {
  for (const Piece& p : pieces) {
    const Rect& s = p.source;
    const Rect& d = p.dest;
    for (int y = 0; y < d.height(); ++y) {
      const int sy = s.top + static_cast<int>(static_cast<int64_t>(y) * s.height() / d.height());
      const uint32_t* from = source.pixels.data() + static_cast<size_t>(sy) * source.width;
      uint32_t* to = dest.pixels.data() + static_cast<size_t>(d.top + y) * dest.width + d.left;
      if (s.width() == d.width()) {
        std::copy(from + s.left, from + s.right, to);
      } else {
        for (int x = 0; x < d.width(); ++x)
          to[x] = from[s.left + static_cast<int>(static_cast<int64_t>(x) * s.width() / d.width())];
      }
    }
  }
}

struct BorderImages {
  Image left, right, top, bottom;
  const Image& of(Border b) const {
    return b == Border::left ? left : b == Border::right ? right : b == Border::top ? top : bottom;
  }
};

const BorderImages& border_images() {
  static const BorderImages images{to_image(our_skin().Left->Bitmap), to_image(our_skin().Right->Bitmap),
                                   to_image(our_skin().Top->Bitmap), to_image(our_skin().Bottom->Bitmap)};
  return images;
}

// The region of a window size as runs: the plain parts as one rectangle
// each, the cut borders composed at their size and scanned for the key
// colour (the window code's tolerance of one per channel).
size_t region_runs_of_window(const std::vector<RegionPart>& parts, std::vector<Rect>& runs,
                             int64_t& scanned) {
  const SkinElements& e = our_skin();
  runs.clear();
  for (const RegionPart& part : parts) {
    if (!part.from_bitmap) {
      runs.push_back(part.rect);
      continue;
    }
    const int w = part.rect.width(), h = part.rect.height();
    Image piece{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
    compose(border_images().of(*part.from_bitmap),
            border_pieces(border_of(e, *part.from_bitmap), *part.from_bitmap, w, h), piece);
    const std::vector<Rect> r =
        paint::region_runs(piece.pixels.data(), w, h, w, part.rect.left, part.rect.top, {1, 1, 1});
    runs.insert(runs.end(), r.begin(), r.end());
    scanned += static_cast<int64_t>(w) * h;
  }
  return runs.size();
}

void BM_MainWindowRegionRuns(benchmark::State& state) {
  const SkinElements& e = our_skin();
  const WindowSize size = main_window_size();
  const std::vector<RegionPart> parts =
      region_parts(size.width, size.height, main_window_metrics(), e, FrameKind::edged);
  if (parts.empty()) {
    state.SkipWithError("our skin cuts no border: the region is the whole window");
    return;
  }
  std::vector<Rect> runs;
  int64_t scanned = 0;
  size_t cut = 0;
  for (const RegionPart& p : parts) cut += p.from_bitmap.has_value();
  for (auto _ : state) {
    region_runs_of_window(parts, runs, scanned);
    benchmark::DoNotOptimize(runs.data());
  }
  state.SetItemsProcessed(scanned);
  state.counters["runs"] = static_cast<double>(runs.size());
  state.counters["cutborders"] = static_cast<double>(cut);
  state.counters["plainparts"] = static_cast<double>(parts.size() - cut);
}
BENCHMARK(BM_MainWindowRegionRuns);

// The key-colour scan alone, over the caption piece composed once: what the
// rebuild costs beyond composing the piece.
void BM_CaptionPieceScanOnly(benchmark::State& state) {
  const SkinElements& e = our_skin();
  const WindowSize size = main_window_size();
  const FrameMetrics m = main_window_metrics();
  const Rect r = border_rect(Border::top, size.width, size.height, m);
  const int w = r.width(), h = r.height();
  Image piece{w, h, std::vector<uint32_t>(static_cast<size_t>(w) * h)};
  compose(border_images().top, border_pieces(*e.Top, Border::top, w, h), piece);
  size_t runs = 0;
  for (auto _ : state) {
    const std::vector<Rect> found = paint::region_runs(piece.pixels.data(), w, h, w, r.left, r.top, {1, 1, 1});
    runs = found.size();
    benchmark::DoNotOptimize(found.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * w * h);
  state.counters["runs"] = static_cast<double>(runs);
}
BENCHMARK(BM_CaptionPieceScanOnly);

// The same scan as if every border were cut: all four border pieces of the
// window composed and scanned, the upper bound of a rebuild with our bitmaps.
void BM_MainWindowRegionRunsAllBorders(benchmark::State& state) {
  const WindowSize size = main_window_size();
  const FrameMetrics m = main_window_metrics();
  std::vector<RegionPart> parts{{client_area(size.width, size.height, m), std::nullopt}};
  for (Border which : {Border::left, Border::right, Border::bottom, Border::top})
    parts.push_back({border_rect(which, size.width, size.height, m), which});
  std::vector<Rect> runs;
  int64_t scanned = 0;
  for (auto _ : state) {
    region_runs_of_window(parts, runs, scanned);
    benchmark::DoNotOptimize(runs.data());
  }
  state.SetItemsProcessed(scanned);
  state.counters["runs"] = static_cast<double>(runs.size());
}
BENCHMARK(BM_MainWindowRegionRunsAllBorders);

}  // namespace

BENCHMARK_MAIN();
