// The Win32 half of the painting routines: the piece lists of geometry.h and
// the runs of region.h turned into blits and regions. Every routine composes
// into its own off-screen bitmap and reaches the target DC in one blit, so a
// skinned surface never shows a half-painted state.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "skin/paint/geometry.h"
#include "skin/paint/region.h"
#include "ui/handles.h"

namespace clip::skin::paint {

inline constexpr COLORREF kKeyColour = RGB(0xFF, 0x00, 0xFF);

// A skin colour (RGB, or 0x80000000 plus a system colour index) as GDI takes it.
inline COLORREF to_colorref(uint32_t colour) {
  return (colour & 0x80000000u) ? GetSysColor(static_cast<int>(colour & 0xFF)) : COLORREF(colour & 0xFFFFFF);
}

// A memory DC with one bitmap selected (stretch mode COLORONCOLOR); the
// previous bitmap goes back in before the DC is deleted, as GDI requires.
class memory_dc {
 public:
  explicit memory_dc(HBITMAP bitmap) : dc_(CreateCompatibleDC(nullptr)) {
    if (dc_) {
      ++live_;
      previous_ = SelectObject(dc_, bitmap);
      SetStretchBltMode(dc_, COLORONCOLOR);
    }
  }
  ~memory_dc() {
    if (dc_) {
      SelectObject(dc_, previous_);
      DeleteDC(dc_);
      --live_;
    }
  }
  memory_dc(const memory_dc&) = delete;
  memory_dc& operator=(const memory_dc&) = delete;
  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }
  // Memory DCs made here and not yet deleted, for leak tests.
  static int live_count() noexcept { return live_.load(); }

 private:
  HDC dc_;
  HGDIOBJ previous_ = nullptr;
  static inline std::atomic<int> live_{0};
};

// The DC of a whole window (non-client area included), released to it.
class window_dc {
 public:
  explicit window_dc(HWND hwnd) : hwnd_(hwnd), dc_(GetWindowDC(hwnd)) {
    if (dc_) ++live_;
  }
  ~window_dc() {
    if (dc_) {
      ReleaseDC(hwnd_, dc_);
      --live_;
    }
  }
  window_dc(const window_dc&) = delete;
  window_dc& operator=(const window_dc&) = delete;
  HDC get() const { return dc_; }
  // Window DCs taken here and not yet released, for leak tests.
  static int live_count() noexcept { return live_.load(); }

 private:
  HWND hwnd_;
  HDC dc_;
  static inline std::atomic<int> live_{0};
};

// The process-wide work bitmap. Starts and stops are counted: the first start
// creates it, the matching last stop frees it. While it does not exist,
// work_dc() answers nullptr and skinned frames are not painted.
void start_painting();
void stop_painting();
bool painting_started();
// A memory DC holding the work bitmap, grown to at least width x height, with
// the COLORONCOLOR stretch mode. Valid until the next call or the last stop.
HDC work_dc(int width, int height);

// A top-down 32-bit DIB section; `bits` (optional) receives its pixels as
// 0x00RRGGBB values, `width` apart.
ui::gdi_object<HBITMAP> create_dib(int width, int height, uint32_t** bits = nullptr);
// Width and height of a bitmap, {0, 0} for none.
SIZE bitmap_size(HBITMAP bitmap);

// Copies every piece from `source` into `dest`, destinations moved by (x, y);
// pieces of different sizes are stretched with COLORONCOLOR.
void blit_pieces(HDC dest, int x, int y, HDC source, const std::vector<Piece>& pieces);

// The nine-part picture of one frame as a new bitmap of width x height (the
// caller owns it). Empty when the size or the source is empty.
ui::gdi_object<HBITMAP> build_nine_part_bitmap(int width, int height, HBITMAP source, Margins margins, Strip strip,
                                               bool tile_centre, int frame_count, int frame_number);
void draw_nine_part(HDC dc, const Rect& dest, HBITMAP source, Strip strip, bool tile_centre, bool transparent,
                    int frame_count, int frame_number, Margins margins);
// The eight border pieces of one frame straight onto `dc` at dest; the
// centre is left as it is.
void draw_nine_part_ring(HDC dc, const Rect& dest, HBITMAP source, Strip strip, int frame_count, int frame_number,
                         Margins margins);
// `source_rect` of `source` repeated over dest, the last column and row cut.
void tile_bitmap(HDC dc, const Rect& dest, HBITMAP source, const Rect& source_rect);
void draw_three_part(HDC dc, const Rect& dest, HBITMAP source, Strip strip, bool transparent, int frame_count,
                     int frame_number, int left, int right);
// One frame of a horizontal strip scaled into `dest`.
void draw_strip_frame(HDC dc, const Rect& dest, HBITMAP source, bool transparent, int frame_count, int frame_number);

// Draws `source` at dest's top-left corner, dest-sized (cut to the source's
// size), leaving the target unchanged where the source has the key colour.
void transparent_blit(HDC dc, const Rect& dest, HBITMAP source, COLORREF key = kKeyColour);

// The region of every pixel of `bitmap` outside the key range, moved by
// (dx, dy); empty (no region) when every pixel is key-coloured.
ui::gdi_object<HRGN> region_from_bitmap(HBITMAP bitmap, int dx, int dy, Tolerance tolerance, KeyColour key = {});
// The same from runs already built; rectangles reach ExtCreateRegion in
// batches of 2000, OR-combined into the result.
ui::gdi_object<HRGN> region_from_runs(const std::vector<Rect>& runs);

}  // namespace clip::skin::paint
