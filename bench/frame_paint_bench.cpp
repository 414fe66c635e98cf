// The skinned frame of a main-window-sized window, timed through the window
// code: a window with a 733 x 509 client area and the main window's menu
// gets our skin, then
//   - the whole frame is painted N times through PaintFrame, through
//     WM_NCPAINT and into a memory surface (each paint composes off screen
//     and blits once), against one window-sized blit;
//   - the window is resized N times between two widths, each resize
//     rebuilding the region (the region builds and non-client paints are
//     counted), against the same resizes of the same window without a skin,
//     and the GDI work of one region build is timed on its own.
// It prints milliseconds per operation and their ratios; nothing is asserted
// on time. Run it under Wine from the 64-bit tree (see scripts/bench).
//
//   frame_paint_bench [--iterations N] [--skin FILE]
// Without --skin the skin is the one the program carries as a resource.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "skin/data/skin_win.h"
#include "skin/frame/form_skin.h"
#include "skin/manager/skin_manager.h"
#include "skin/paint/paint_win.h"

namespace {

using clip::skin::TFormSkin;

constexpr int kClientWidth = 733, kClientHeight = 509;

void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

SIZE client_size(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  return {r.right, r.bottom};
}

SIZE window_size(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return {r.right - r.left, r.bottom - r.top};
}

// The main window's menu bar: three drop-down menus.
HMENU main_menu() {
  HMENU bar = CreateMenu();
  const wchar_t* titles[] = {L"文件(&F)", L"编辑(&P)", L"关于(&A)"};
  UINT id = 100;
  for (const wchar_t* title : titles) {
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, id++, L"扫描");
    AppendMenuW(popup, MF_STRING, id++, L"恢复");
    AppendMenuW(bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup), title);
  }
  return bar;
}

// An overlapped window with the main window's style, caption and menu whose
// client area is 733 x 509.
HWND make_main_sized_window() {
  static const bool registered = [] {
    WNDCLASSEXW wc{sizeof(wc)};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"FramePaintBenchWindow";
    return RegisterClassExW(&wc) != 0;
  }();
  if (!registered) return nullptr;
  HMENU menu = main_menu();
  RECT r{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, TRUE, 0);
  HWND hwnd =
      CreateWindowExW(0, L"FramePaintBenchWindow", L"KESTRAVO For 264Format Recovery\u3000V2.0  - MORVANE",
                      WS_OVERLAPPEDWINDOW, 20, 20, r.right - r.left, r.bottom - r.top, nullptr, menu,
                      GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) return nullptr;
  // A menu that wraps or a system that adds a border: correct once.
  const SIZE got = client_size(hwnd);
  const SIZE outer = window_size(hwnd);
  SetWindowPos(hwnd, nullptr, 0, 0, outer.cx + kClientWidth - got.cx, outer.cy + kClientHeight - got.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
  pump();
  return hwnd;
}

double now_ms() {
  static const double ticks_per_ms = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER t{};
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / ticks_per_ms;
}

// Runs op `n` times (after a few untimed rounds) and answers ms per op.
template <typename Op>
double time_per_op(int n, Op op) {
  for (int i = 0; i < 5; ++i) op(i);
  GdiFlush();
  const double start = now_ms();
  for (int i = 0; i < n; ++i) op(i);
  GdiFlush();
  return (now_ms() - start) / n;
}

// Resizes the window between its width and one pixel wider, n times after
// a few untimed ones; every resize changes the size. `mark` runs right
// before and right after the timed ones.
template <typename Mark>
double time_resizes(HWND hwnd, int n, Mark mark) {
  const SIZE s = window_size(hwnd);
  int step = 0;
  auto resize = [&] {
    SetWindowPos(hwnd, nullptr, 0, 0, s.cx + (++step % 2), s.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  };
  for (int i = 0; i < 6; ++i) resize();
  GdiFlush();
  mark();
  const double start = now_ms();
  for (int i = 0; i < n; ++i) resize();
  GdiFlush();
  const double ms = (now_ms() - start) / n;
  mark();
  SetWindowPos(hwnd, nullptr, 0, 0, s.cx, s.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  pump();
  return ms;
}

// Counts the non-client paint messages a window gets while it is set.
HWND g_counted_window = nullptr;
int g_nc_paints = 0;
LRESULT CALLBACK count_nc_paints(int code, WPARAM wparam, LPARAM lparam) {
  const auto* m = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code == HC_ACTION && m && m->hwnd == g_counted_window && m->message == WM_NCPAINT) ++g_nc_paints;
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

int region_rectangles(HWND hwnd) {
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  int count = -1;
  if (GetWindowRgn(hwnd, region) != ERROR) {
    const DWORD bytes = GetRegionData(region, 0, nullptr);
    std::vector<unsigned char> data(bytes);
    if (bytes && GetRegionData(region, bytes, reinterpret_cast<RGNDATA*>(data.data())))
      count = static_cast<int>(reinterpret_cast<RGNDATA*>(data.data())->rdh.nCount);
  }
  DeleteObject(region);
  return count;
}

// The GDI work of one region build alone, without the window: the region's
// parts for the window's size, each cut border composed from its skin bitmap
// at its size and turned into a region by its key colour, all OR-combined.
// Answers the region's rectangle count.
int build_region_off_window(const clip::skin::SkinElements& e, const clip::skin::FrameMetrics& m, int W,
                            int H, const std::vector<ui::gdi_object<HBITMAP>>& bitmaps) {
  using namespace clip::skin;
  const std::vector<RegionPart> parts = region_parts(W, H, m, e, FrameKind::edged);
  ui::gdi_object<HRGN> region(parts.empty() ? CreateRectRgn(0, 0, W, H) : CreateRectRgn(0, 0, 0, 0));
  for (const RegionPart& part : parts) {
    ui::gdi_object<HRGN> piece;
    if (part.from_bitmap) {
      const int which = static_cast<int>(*part.from_bitmap) - 1;
      const TDataSkinBorder& b = which == 0   ? *e.Left
                                 : which == 1 ? *e.Right
                                 : which == 2 ? *e.Top
                                              : *e.Bottom;
      const bool stacked = which >= 2;
      ui::gdi_object<HBITMAP> composed =
          paint::build_nine_part_bitmap(part.rect.width(), part.rect.height(), bitmaps[size_t(which)].get(),
                                        {b.LeftWidth, b.TopHeight, b.RightWidth, b.BottomHeight},
                                        stacked ? paint::Strip::vertical : paint::Strip::horizontal,
                                        b.Tile != 1, std::max(b.FrameCount, 1), 1);
      if (composed)
        piece = paint::region_from_bitmap(composed.get(), part.rect.left, part.rect.top, {1, 1, 1});
    } else {
      piece.reset(CreateRectRgn(part.rect.left, part.rect.top, part.rect.right, part.rect.bottom));
    }
    if (piece) CombineRgn(region.get(), region.get(), piece.get(), RGN_OR);
  }
  const DWORD bytes = GetRegionData(region.get(), 0, nullptr);
  return bytes ? static_cast<int>((bytes - sizeof(RGNDATAHEADER)) / sizeof(RECT)) : 0;
}

// The four border bitmaps as the window skin holds them: 32-bit DIB sections.
std::vector<ui::gdi_object<HBITMAP>> border_bitmaps(const clip::skin::SkinElements& e) {
  std::vector<ui::gdi_object<HBITMAP>> out;
  for (const clip::skin::TDataSkinBorder* b : {e.Left.get(), e.Right.get(), e.Top.get(), e.Bottom.get()}) {
    uint32_t* bits = nullptr;
    out.push_back(clip::skin::paint::create_dib(b->Bitmap.width, b->Bitmap.height, &bits));
    if (bits)
      for (int y = 0; y < b->Bitmap.height; ++y)
        for (int x = 0; x < b->Bitmap.width; ++x)
          bits[size_t(y) * size_t(b->Bitmap.width) + size_t(x)] = b->Bitmap.rgb(x, y);
  }
  return out;
}

bool load_skin(clip::skin::TSkinData& data, const char* file) {
  data.apply_main_window_settings();
  if (file) return data.SetSkinFile(file);
  return clip::skin::load_skin_stream_resource(data);
}

}  // namespace

int main(int argc, char** argv) {
  int n = 500;
  const char* skin_file = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--iterations") == 0 && i + 1 < argc) {
      n = std::max(std::atoi(argv[++i]), 1);
    } else if (std::strcmp(argv[i], "--skin") == 0 && i + 1 < argc) {
      skin_file = argv[++i];
    } else {
      std::fprintf(stderr, "usage: frame_paint_bench [--iterations N] [--skin FILE]\n");
      return 2;
    }
  }

  clip::skin::paint::start_painting();
  clip::skin::TSkinData data;
  if (!load_skin(data, skin_file)) {
    std::fprintf(stderr, "frame_paint_bench: the skin did not load\n");
    return 1;
  }

  // The same window without a skin first: the baseline of the resizes.
  HWND plain = make_main_sized_window();
  if (!plain) {
    std::fprintf(stderr, "frame_paint_bench: no window\n");
    return 1;
  }
  const double plain_resize_ms = time_resizes(plain, n, [] {});
  DestroyWindow(plain);
  pump();

  HWND hwnd = make_main_sized_window();
  std::unique_ptr<clip::skin::WindowSkin> owner = clip::skin::attach_form_skin(hwnd, nullptr, data);
  if (!owner) {
    std::fprintf(stderr, "frame_paint_bench: the skin did not attach\n");
    return 1;
  }
  SendMessageW(hwnd, clip::skin::kSkinStartMessage, 0, 1000);
  pump();
  auto& skin = *static_cast<TFormSkin*>(owner.get());
  if (!skin.frame_skinning()) {
    std::fprintf(stderr, "frame_paint_bench: the skin does not frame the window\n");
    return 1;
  }
  const SIZE client = client_size(hwnd), outer = window_size(hwnd);
  const clip::skin::FrameMetrics& m = skin.metrics();
  std::printf(
      "window %ld x %ld, client %ld x %ld; frame: left %d, caption %d, menu bar %d, right %d, bottom %d\n",
      outer.cx, outer.cy, client.cx, client.cy, m.left, m.caption, m.menu_bar, m.right, m.bottom);
  const RECT& text = skin.caption_text_rect();
  std::printf("caption text plate %ld x %ld; window region: %d rectangles\n", text.right - text.left,
              text.bottom - text.top, region_rectangles(hwnd));

  const int builds_before_paints = skin.region_builds();
  const double paint_ms = time_per_op(n, [&](int) { skin.PaintFrame(); });
  std::printf("frame paint, PaintFrame:        %d ops, %.4f ms/op\n", n, paint_ms);
  const double ncpaint_ms = time_per_op(n, [&](int) { SendMessageW(hwnd, WM_NCPAINT, 1, 0); });
  std::printf("frame paint, WM_NCPAINT:        %d ops, %.4f ms/op\n", n, ncpaint_ms);
  std::printf("region builds during the paints: %d\n", skin.region_builds() - builds_before_paints);
  {
    // The same paint into a window-sized memory surface: the off-screen
    // composition and its one blit, without the screen.
    uint32_t* bits = nullptr;
    ui::gdi_object<HBITMAP> surface = clip::skin::paint::create_dib(outer.cx, outer.cy, &bits);
    clip::skin::paint::memory_dc dc(surface.get());
    if (!bits || !dc) {
      std::fprintf(stderr, "frame_paint_bench: no memory surface\n");
      return 1;
    }
    const double memory_ms = time_per_op(n, [&](int) { skin.PaintFrame(dc.get()); });
    // The paint must have reached the surface: the caption row and the
    // bottom border are no longer the surface's initial black.
    GdiFlush();
    int painted = 0;
    for (int x = 0; x < outer.cx; ++x)
      painted += (bits[size_t(m.caption / 2) * size_t(outer.cx) + size_t(x)] & 0xFFFFFF) != 0;
    for (int x = m.left; x < outer.cx - m.right; ++x)
      painted += (bits[size_t(outer.cy - 1) * size_t(outer.cx) + size_t(x)] & 0xFFFFFF) != 0;
    if (painted == 0) {
      std::fprintf(stderr, "frame_paint_bench: the frame paint left the surface black\n");
      return 1;
    }
    std::printf("frame paint into memory:        %d ops, %.4f ms/op (%d of %ld checked pixels painted)\n", n,
                memory_ms, painted, outer.cx + (outer.cx - m.left - m.right));
    // The baseline: one window-sized blit between two memory surfaces.
    ui::gdi_object<HBITMAP> other = clip::skin::paint::create_dib(outer.cx, outer.cy);
    clip::skin::paint::memory_dc from(other.get());
    const double blit_ms =
        time_per_op(n, [&](int) { BitBlt(dc.get(), 0, 0, outer.cx, outer.cy, from.get(), 0, 0, SRCCOPY); });
    std::printf("one window-sized blit (memory): %d ops, %.4f ms/op; frame paint / blit: %.1f\n", n, blit_ms,
                memory_ms / blit_ms);
  }

  // Region builds and non-client paints during the timed resizes.
  int builds = 0, nc_paints = 0;
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, count_nc_paints, nullptr, GetCurrentThreadId());
  bool started = false;
  const double skinned_resize_ms = time_resizes(hwnd, n, [&] {
    if (!started) {
      builds = -skin.region_builds();
      g_nc_paints = 0;
      g_counted_window = hwnd;
      started = true;
    } else {
      builds += skin.region_builds();
      nc_paints = g_nc_paints;
      g_counted_window = nullptr;
    }
  });
  if (hook) UnhookWindowsHookEx(hook);
  std::printf("resize with region rebuild:     %d ops, %.4f ms/op (%d region builds, %d WM_NCPAINT%s)\n", n,
              skinned_resize_ms, builds, nc_paints, hook ? "" : " (not counted: no hook)");
  std::printf("resize, same window unskinned:  %d ops, %.4f ms/op\n", n, plain_resize_ms);
  std::printf("skinned / unskinned resize:     %.2f\n", skinned_resize_ms / plain_resize_ms);
  {
    const std::vector<ui::gdi_object<HBITMAP>> bitmaps = border_bitmaps(data.elements());
    int rectangles = 0;
    const double region_ms = time_per_op(n, [&](int) {
      rectangles = build_region_off_window(data.elements(), m, outer.cx, outer.cy, bitmaps);
    });
    std::printf("region build alone (GDI):       %d ops, %.4f ms/op (%d rectangles)\n", n, region_ms,
                rectangles);
  }

  owner.reset();
  DestroyWindow(hwnd);
  pump();
  clip::skin::paint::stop_painting();
  return 0;
}
