// The live handles the program holds through its RAII wrappers (Wine's
// GetGuiResources always answers 0): GDI objects, windows and DCs, and the
// thread's top-level windows. A leak
// test takes the counts, repeats its work and compares.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include "skin/paint/paint_win.h"
#include "ui/handles.h"

namespace clip::test {

struct HandleCounts {
  int bitmaps = ui::gdi_object<HBITMAP>::live_count();
  int brushes = ui::gdi_object<HBRUSH>::live_count();
  int regions = ui::gdi_object<HRGN>::live_count();
  int fonts = ui::gdi_object<HFONT>::live_count();
  int windows = ui::unique_hwnd::live_count();
  int memory_dcs = skin::paint::memory_dc::live_count();
  int window_dcs = skin::paint::window_dc::live_count();
  int client_dcs = ui::dc_scope::live_count();
  int thread_windows = count_thread_windows();

  static int count_thread_windows() {
    int n = 0;
    EnumThreadWindows(
        GetCurrentThreadId(), [](HWND, LPARAM p) { return ++*reinterpret_cast<int*>(p), TRUE; },
        reinterpret_cast<LPARAM>(&n));
    return n;
  }
  void expect_equal(const HandleCounts& start) const {
    EXPECT_EQ(bitmaps, start.bitmaps) << "bitmaps";
    EXPECT_EQ(brushes, start.brushes) << "brushes";
    EXPECT_EQ(regions, start.regions) << "regions";
    EXPECT_EQ(fonts, start.fonts) << "fonts";
    EXPECT_EQ(windows, start.windows) << "owned windows";
    EXPECT_EQ(memory_dcs, start.memory_dcs) << "memory DCs";
    EXPECT_EQ(window_dcs, start.window_dcs) << "window DCs";
    EXPECT_EQ(client_dcs, start.client_dcs) << "client DCs";
    EXPECT_EQ(thread_windows, start.thread_windows) << "the thread's top-level windows";
  }
};

}  // namespace clip::test
