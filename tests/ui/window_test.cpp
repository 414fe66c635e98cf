#include "ui/window.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "ui/handles.h"

namespace {

static_assert(!std::is_copy_constructible_v<ui::unique_hwnd>);
static_assert(!std::is_copy_assignable_v<ui::unique_hwnd>);
static_assert(std::is_nothrow_move_constructible_v<ui::unique_hwnd>);

constexpr UINT kProbe = WM_APP + 1;

ui::WindowSpec test_spec() {
  ui::WindowSpec plan;
  plan.class_name = L"ClipSalvageTestWindow";
  plan.text = L"test";
  plan.bounds = {10, 10, 300, 200};
  return plan;
}

TEST(Window, CreatesRealWindowThatKeepsChineseText) {
  ui::Window window;
  ASSERT_TRUE(window.create(test_spec())) << GetLastError();
  ASSERT_TRUE(IsWindow(window.hwnd()));
  ui::set_window_text(window.hwnd(), "扫描完成!\u3000V2.0");
  EXPECT_EQ(ui::window_text(window.hwnd()), "扫描完成!\u3000V2.0");
  wchar_t raw[32] = {};
  GetWindowTextW(window.hwnd(), raw, 32);
  EXPECT_EQ(std::wstring(raw), L"扫描完成!\u3000V2.0");
}

TEST(Window, HandlersSeeTheWindowFromCreationOn) {
  ui::Window window;
  HWND seen_at_create = nullptr;
  window.on(WM_CREATE, [&](WPARAM, LPARAM) -> std::optional<LRESULT> {
    seen_at_create = window.hwnd();
    return 0;
  });
  ASSERT_TRUE(window.create(test_spec()));
  EXPECT_NE(seen_at_create, nullptr);
  EXPECT_EQ(seen_at_create, window.hwnd());
}

TEST(Window, NewestHandlerRunsFirstAndMayPassOn) {
  ui::Window window;
  std::vector<std::string> calls;
  window.on(kProbe, [&](WPARAM wparam, LPARAM) -> std::optional<LRESULT> {
    calls.push_back("first");
    return static_cast<LRESULT>(wparam * 2);
  });
  window.on(kProbe, [&](WPARAM wparam, LPARAM) -> std::optional<LRESULT> {
    calls.push_back("second");
    if (wparam == 7) return 700;
    return std::nullopt;
  });
  ASSERT_TRUE(window.create(test_spec()));

  EXPECT_EQ(SendMessageW(window.hwnd(), kProbe, 7, 0), 700);
  EXPECT_EQ(calls, (std::vector<std::string>{"second"}));
  calls.clear();
  EXPECT_EQ(SendMessageW(window.hwnd(), kProbe, 5, 0), 10);
  EXPECT_EQ(calls, (std::vector<std::string>{"second", "first"}));
}

TEST(Window, UnhandledMessagesReachTheDefaultProcedure) {
  ui::Window window;
  ASSERT_TRUE(window.create(test_spec()));
  // DefWindowProc answers WM_GETTEXTLENGTH from the window's own text.
  EXPECT_EQ(SendMessageW(window.hwnd(), WM_GETTEXTLENGTH, 0, 0), 4);
}

TEST(Window, HandlerAddedWhileDispatchingTakesPartNextTime) {
  ui::Window window;
  int late_calls = 0;
  window.on(kProbe, [&](WPARAM, LPARAM) -> std::optional<LRESULT> {
    window.on(kProbe, [&](WPARAM, LPARAM) -> std::optional<LRESULT> {
      ++late_calls;
      return std::nullopt;
    });
    return 1;
  });
  ASSERT_TRUE(window.create(test_spec()));
  EXPECT_EQ(SendMessageW(window.hwnd(), kProbe, 0, 0), 1);
  EXPECT_EQ(late_calls, 0);
  EXPECT_EQ(SendMessageW(window.hwnd(), kProbe, 0, 0), 1);
  EXPECT_EQ(late_calls, 1);
}

TEST(Window, DestroyedWindowLeavesObjectWithoutHandle) {
  ui::Window window;
  bool ncdestroy_seen = false;
  window.on(WM_NCDESTROY, [&](WPARAM, LPARAM) -> std::optional<LRESULT> {
    ncdestroy_seen = true;
    return std::nullopt;
  });
  ASSERT_TRUE(window.create(test_spec()));
  const int live = ui::unique_hwnd::live_count();
  HWND hwnd = window.hwnd();
  DestroyWindow(hwnd);
  EXPECT_TRUE(ncdestroy_seen);
  EXPECT_EQ(window.hwnd(), nullptr);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(ui::unique_hwnd::live_count(), live - 1);
}

TEST(Window, ObjectDestructionDestroysItsWindow) {
  const int live = ui::unique_hwnd::live_count();
  HWND hwnd = nullptr;
  {
    ui::Window window;
    ASSERT_TRUE(window.create(test_spec()));
    hwnd = window.hwnd();
    EXPECT_EQ(ui::unique_hwnd::live_count(), live + 1);
  }
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(ui::unique_hwnd::live_count(), live);
}

TEST(UniqueHandle, MoveTransfersOwnershipAndCount) {
  const int live = ui::unique_hwnd::live_count();
  ui::unique_hwnd first(
      CreateWindowExW(0, L"STATIC", L"s", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(first);
  HWND hwnd = first.get();
  ui::unique_hwnd second(std::move(first));
  EXPECT_FALSE(first);
  EXPECT_EQ(second.get(), hwnd);
  EXPECT_EQ(ui::unique_hwnd::live_count(), live + 1);
  second = ui::unique_hwnd();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(ui::unique_hwnd::live_count(), live);
}

TEST(UniqueHandle, GdiObjectsAreCountedAndDeleted) {
  const int live = ui::gdi_object<HBRUSH>::live_count();
  HBRUSH raw = nullptr;
  {
    ui::gdi_object<HBRUSH> brush(CreateSolidBrush(RGB(1, 2, 3)));
    raw = brush.get();
    EXPECT_EQ(ui::gdi_object<HBRUSH>::live_count(), live + 1);
    LOGBRUSH info{};
    EXPECT_EQ(GetObjectW(raw, sizeof(info), &info), static_cast<int>(sizeof(info)));
    EXPECT_EQ(info.lbColor, RGB(1, 2, 3));
  }
  EXPECT_EQ(ui::gdi_object<HBRUSH>::live_count(), live);
  LOGBRUSH info{};
  EXPECT_EQ(GetObjectW(raw, sizeof(info), &info), 0);
}

TEST(WindowView, NeverDestroysForeignWindow) {
  ui::unique_hwnd owner(
      CreateWindowExW(0, L"STATIC", L"s", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
  {
    ui::window_view view(owner.get());
    EXPECT_TRUE(view);
  }
  EXPECT_TRUE(IsWindow(owner.get()));
  HWND hwnd = owner.get();
  owner.reset();
  EXPECT_FALSE(ui::window_view(hwnd));
  EXPECT_FALSE(ui::window_view(nullptr));
}

}  // namespace
