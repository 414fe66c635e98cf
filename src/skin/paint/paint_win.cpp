#include "skin/paint/paint_win.h"

#include <algorithm>

namespace clip::skin::paint {
namespace {

struct WorkState {
  int starts = 0;
  HDC dc = nullptr;
  HGDIOBJ previous = nullptr;
  ui::gdi_object<HBITMAP> bitmap;
  int width = 0, height = 0;
};

WorkState& work() {
  static WorkState state;
  return state;
}

void draw_composed(HDC dc, const Rect& dest, HBITMAP picture, bool transparent) {
  if (transparent) {
    transparent_blit(dc, dest, picture);
    return;
  }
  memory_dc source(picture);
  if (source) BitBlt(dc, dest.left, dest.top, dest.width(), dest.height(), source.get(), 0, 0, SRCCOPY);
}

}  // namespace

void start_painting() {
  WorkState& state = work();
  if (state.starts++ > 0) return;
  state.dc = CreateCompatibleDC(nullptr);
  state.bitmap = create_dib(1, 1);
  state.width = state.height = 1;
  state.previous = SelectObject(state.dc, state.bitmap.get());
  SetStretchBltMode(state.dc, COLORONCOLOR);
}

void stop_painting() {
  WorkState& state = work();
  if (state.starts == 0 || --state.starts > 0) return;
  SelectObject(state.dc, state.previous);
  DeleteDC(state.dc);
  state.dc = nullptr;
  state.bitmap.reset();
  state.width = state.height = 0;
}

bool painting_started() { return work().starts > 0; }

HDC work_dc(int width, int height) {
  WorkState& state = work();
  if (state.starts == 0) return nullptr;
  if (width > state.width || height > state.height) {
    ui::gdi_object<HBITMAP> bigger = create_dib(std::max(width, state.width), std::max(height, state.height));
    if (!bigger) return nullptr;
    SelectObject(state.dc, bigger.get());
    state.bitmap = std::move(bigger);
    state.width = std::max(width, state.width);
    state.height = std::max(height, state.height);
  }
  return state.dc;
}

ui::gdi_object<HBITMAP> create_dib(int width, int height, uint32_t** bits) {
  if (width <= 0 || height <= 0) return {};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  ui::gdi_object<HBITMAP> bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
  if (bits) *bits = bitmap ? static_cast<uint32_t*>(pixels) : nullptr;
  return bitmap;
}

SIZE bitmap_size(HBITMAP bitmap) {
  BITMAP info{};
  if (!bitmap || GetObjectW(bitmap, sizeof(info), &info) == 0) return {0, 0};
  return {info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight};
}

void blit_pieces(HDC dest, int x, int y, HDC source, const std::vector<Piece>& pieces) {
  SetStretchBltMode(dest, COLORONCOLOR);
  for (const Piece& p : pieces) {
    const Rect& s = p.source;
    const Rect& d = p.dest;
    if (s.width() == d.width() && s.height() == d.height()) {
      BitBlt(dest, x + d.left, y + d.top, d.width(), d.height(), source, s.left, s.top, SRCCOPY);
    } else {
      StretchBlt(dest, x + d.left, y + d.top, d.width(), d.height(), source, s.left, s.top, s.width(), s.height(),
                 SRCCOPY);
    }
  }
}

ui::gdi_object<HBITMAP> build_nine_part_bitmap(int width, int height, HBITMAP source, Margins margins, Strip strip,
                                               bool tile_centre, int frame_count, int frame_number) {
  const SIZE size = bitmap_size(source);
  ui::gdi_object<HBITMAP> picture = create_dib(width, height);
  if (!picture || size.cx <= 0 || size.cy <= 0) return picture;
  const Rect frame = frame_rect(size.cx, size.cy, strip, frame_count, frame_number);
  memory_dc from(source);
  memory_dc to(picture.get());
  if (from && to) blit_pieces(to.get(), 0, 0, from.get(), nine_part_pieces(frame, width, height, margins, tile_centre));
  return picture;
}

void draw_nine_part(HDC dc, const Rect& dest, HBITMAP source, Strip strip, bool tile_centre, bool transparent,
                    int frame_count, int frame_number, Margins margins) {
  if (dest.inverted() || dest.empty()) return;
  ui::gdi_object<HBITMAP> picture = build_nine_part_bitmap(dest.width(), dest.height(), source, margins, strip,
                                                           tile_centre, frame_count, frame_number);
  if (picture) draw_composed(dc, dest, picture.get(), transparent);
}

void draw_nine_part_ring(HDC dc, const Rect& dest, HBITMAP source, Strip strip, int frame_count, int frame_number,
                         Margins margins) {
  if (dest.inverted() || dest.empty()) return;
  const SIZE size = bitmap_size(source);
  if (size.cx <= 0 || size.cy <= 0) return;
  memory_dc from(source);
  if (!from) return;
  const Rect frame = frame_rect(size.cx, size.cy, strip, frame_count, frame_number);
  blit_pieces(dc, dest.left, dest.top, from.get(), nine_part_ring_pieces(frame, dest.width(), dest.height(), margins));
}

void tile_bitmap(HDC dc, const Rect& dest, HBITMAP source, const Rect& source_rect) {
  memory_dc from(source);
  if (!from) return;
  const std::vector<Piece> tiles = tile_pieces(source_rect, dest);
  blit_pieces(dc, 0, 0, from.get(), tiles);
}

void draw_three_part(HDC dc, const Rect& dest, HBITMAP source, Strip strip, bool transparent, int frame_count,
                     int frame_number, int left, int right) {
  if (dest.inverted() || dest.empty()) return;
  const SIZE size = bitmap_size(source);
  if (size.cx <= 0 || size.cy <= 0) return;
  ui::gdi_object<HBITMAP> picture = create_dib(dest.width(), dest.height());
  if (!picture) return;
  {
    memory_dc from(source);
    memory_dc to(picture.get());
    if (!from || !to) return;
    const Rect frame = frame_rect(size.cx, size.cy, strip, frame_count, frame_number);
    blit_pieces(to.get(), 0, 0, from.get(), three_part_pieces(frame, dest.width(), dest.height(), left, right));
  }
  draw_composed(dc, dest, picture.get(), transparent);
}

void draw_strip_frame(HDC dc, const Rect& dest, HBITMAP source, bool transparent, int frame_count, int frame_number) {
  if (dest.inverted() || dest.empty()) return;
  const SIZE size = bitmap_size(source);
  if (size.cx <= 0 || size.cy <= 0) return;
  const Rect frame = frame_rect(size.cx, size.cy, Strip::horizontal, frame_count, frame_number);
  if (frame.empty()) return;
  ui::gdi_object<HBITMAP> picture = create_dib(dest.width(), dest.height());
  if (!picture) return;
  {
    memory_dc from(source);
    memory_dc to(picture.get());
    if (!from || !to) return;
    blit_pieces(to.get(), 0, 0, from.get(), {{frame, Rect::sized(0, 0, dest.width(), dest.height())}});
  }
  draw_composed(dc, dest, picture.get(), transparent);
}

void transparent_blit(HDC dc, const Rect& dest, HBITMAP source, COLORREF key) {
  const SIZE size = bitmap_size(source);
  // Never read past the source: a rectangle larger than the bitmap is cut.
  const int width = std::min<int>(dest.width(), size.cx), height = std::min<int>(dest.height(), size.cy);
  if (width <= 0 || height <= 0) return;
  memory_dc from(source);
  // Monochrome mask: a colour-to-mono blit turns pixels of the source DC's
  // background colour white and every other pixel black.
  ui::gdi_object<HBITMAP> mask(CreateBitmap(width, height, 1, 1, nullptr));
  if (!from || !mask) return;
  memory_dc mask_dc(mask.get());
  if (!mask_dc) return;
  const COLORREF previous = SetBkColor(from.get(), key);
  BitBlt(mask_dc.get(), 0, 0, width, height, from.get(), 0, 0, SRCCOPY);
  SetBkColor(from.get(), previous);
  // White mask bits take the foreground operation (keep the destination),
  // black ones the background operation (copy the source).
  MaskBlt(dc, dest.left, dest.top, width, height, from.get(), 0, 0, mask.get(), 0, 0, MAKEROP4(0x00AA0029, SRCCOPY));
}

ui::gdi_object<HRGN> region_from_runs(const std::vector<Rect>& runs) {
  constexpr size_t kBatch = 2000;
  ui::gdi_object<HRGN> result;
  std::vector<unsigned char> buffer(sizeof(RGNDATAHEADER) + kBatch * sizeof(RECT));
  for (size_t first = 0; first < runs.size(); first += kBatch) {
    const size_t count = std::min(kBatch, runs.size() - first);
    auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
    data->rdh = {};
    data->rdh.dwSize = sizeof(RGNDATAHEADER);
    data->rdh.iType = RDH_RECTANGLES;
    data->rdh.nCount = static_cast<DWORD>(count);
    RECT bounds{runs[first].left, runs[first].top, runs[first].right, runs[first].bottom};
    auto* rects = reinterpret_cast<RECT*>(data->Buffer);
    for (size_t i = 0; i < count; ++i) {
      const Rect& r = runs[first + i];
      rects[i] = {r.left, r.top, r.right, r.bottom};
      bounds.left = std::min<LONG>(bounds.left, r.left);
      bounds.top = std::min<LONG>(bounds.top, r.top);
      bounds.right = std::max<LONG>(bounds.right, r.right);
      bounds.bottom = std::max<LONG>(bounds.bottom, r.bottom);
    }
    data->rdh.rcBound = bounds;
    ui::gdi_object<HRGN> part(
        ExtCreateRegion(nullptr, static_cast<DWORD>(sizeof(RGNDATAHEADER) + count * sizeof(RECT)), data));
    if (!part) continue;
    if (!result) {
      result = std::move(part);
    } else {
      CombineRgn(result.get(), result.get(), part.get(), RGN_OR);
    }
  }
  return result;
}

ui::gdi_object<HRGN> region_from_bitmap(HBITMAP bitmap, int dx, int dy, Tolerance tolerance, KeyColour key) {
  const SIZE size = bitmap_size(bitmap);
  if (size.cx <= 0 || size.cy <= 0) return {};
  // Read the scan lines once as top-down 32-bit pixels, whatever the bitmap's own format.
  std::vector<uint32_t> pixels(static_cast<size_t>(size.cx) * size.cy);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = size.cx;
  info.bmiHeader.biHeight = -size.cy;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  const int lines = GetDIBits(screen, bitmap, 0, static_cast<UINT>(size.cy), pixels.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (lines != size.cy) return {};
  for (uint32_t& p : pixels) p &= 0x00FFFFFF;
  return region_from_runs(region_runs(pixels.data(), size.cx, size.cy, size.cx, dx, dy, tolerance, key));
}

}  // namespace clip::skin::paint
