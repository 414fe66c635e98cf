#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/canvas.h"
#include "ui/controls.h"
#include "ui/timer.h"
#include "ui/message_pump.h"

namespace {

class Host : public ui::Form {
 public:
  using ui::Form::Form;
};

using clip::test::pump_until;

TEST(Timer, FiresUntilDisabledAndAgainWhenEnabled) {
  ui::Component root(nullptr, "root");
  auto* timer = root.make<ui::Timer>("Timer1");
  int fired = 0;
  timer->OnTimer = [&] { ++fired; };
  timer->set_interval(10);
  ASSERT_TRUE(pump_until([&] { return fired >= 3; }, 5000));

  timer->set_enabled(false);
  const int stopped_at = fired;
  pump_until([] { return false; }, 150);
  EXPECT_EQ(fired, stopped_at) << "a disabled timer stays quiet";

  timer->set_enabled(true);
  EXPECT_TRUE(pump_until([&] { return fired > stopped_at; }, 5000));
  timer->set_interval(0);
  const int zero_at = fired;
  pump_until([] { return false; }, 100);
  EXPECT_EQ(fired, zero_at) << "an interval of 0 never fires";
}

TEST(Timer, IsNotEnteredAgainWhileItsEventPumpsAndReportsFailures) {
  ui::Component root(nullptr, "root");
  auto* timer = root.make<ui::Timer>("Timer1");
  int depth = 0, deepest = 0, fired = 0;
  timer->OnTimer = [&] {
    ++fired;
    deepest = std::max(deepest, ++depth);
    pump_until([] { return false; }, 60);  // several intervals' worth of messages
    --depth;
  };
  timer->set_interval(10);
  ASSERT_TRUE(pump_until([&] { return fired >= 2; }, 5000));
  EXPECT_EQ(deepest, 1);

  std::vector<std::string> boxes;
  ui::Application::instance().set_notifier([&](HWND, const std::string& text, const std::string&, UINT) {
    boxes.push_back(text);
    return IDOK;
  });
  timer->OnTimer = [&] {
    timer->set_enabled(false);
    throw std::runtime_error("读源介质错误！");
  };
  EXPECT_TRUE(pump_until([&] { return !boxes.empty(); }, 5000));
  ui::Application::instance().set_notifier(nullptr);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "读源介质错误！");
}

TEST(Timer, WindowGoesWithTheComponent) {
  const int before = ui::unique_hwnd::live_count();
  {
    ui::Component root(nullptr, "root");
    root.make<ui::Timer>("Timer1")->set_interval(10);
    EXPECT_EQ(ui::unique_hwnd::live_count(), before + 1);
  }
  EXPECT_EQ(ui::unique_hwnd::live_count(), before);
  // A WM_TIMER still queued for the gone window must not reach freed memory.
  pump_until([] { return false; }, 50);
}

// Blue, green, red of a pixel as a COLORREF.
COLORREF at(const ui::Bitmap& b, int x, int y) {
  const uint8_t* p = b.pixel(x, y);
  return RGB(p[2], p[1], p[0]);
}

TEST(Canvas, DrawsIntoABitmapAndPutsTheDcBack) {
  ui::Bitmap target(40, 20);
  ASSERT_FALSE(target.empty());
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old_bitmap = SelectObject(dc, target.handle());
  const HGDIOBJ pen_before = GetCurrentObject(dc, OBJ_PEN);
  const HGDIOBJ brush_before = GetCurrentObject(dc, OBJ_BRUSH);
  const int pens = ui::gdi_object<HPEN>::live_count();
  const int brushes = ui::gdi_object<HBRUSH>::live_count();

  ui::Bitmap blue(4, 4), green(1, 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) blue.pixel(x, y)[0] = 255;
  green.pixel(0, 0)[1] = 255;
  {
    ui::Canvas canvas(dc);
    canvas.fill_rect({0, 0, 40, 20}, RGB(255, 255, 255));
    canvas.set_pen(RGB(255, 0, 0));
    canvas.line(0, 18, 40, 18);
    canvas.draw(30, 2, blue);
    canvas.stretch_draw({20, 2, 26, 8}, green);
    canvas.set_font(static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
    canvas.set_text_colour(RGB(0, 0, 0));
    canvas.text_out(1, 1, "中W");
    EXPECT_GT(canvas.text_extent("中W").cx, 8);
    EXPECT_NE(GetCurrentObject(dc, OBJ_PEN), pen_before);
  }
  GdiFlush();
  EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), pen_before);
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), brush_before);
  EXPECT_EQ(ui::gdi_object<HPEN>::live_count(), pens) << "the canvas's pen is deleted";
  EXPECT_EQ(ui::gdi_object<HBRUSH>::live_count(), brushes);

  EXPECT_EQ(at(target, 5, 18), RGB(255, 0, 0));
  EXPECT_EQ(at(target, 31, 3), RGB(0, 0, 255));
  EXPECT_EQ(at(target, 34, 3), RGB(255, 255, 255)) << "the bitmap is drawn at its own size";
  EXPECT_EQ(at(target, 25, 7), RGB(0, 255, 0)) << "stretched to the whole rectangle";
  EXPECT_EQ(at(target, 26, 8), RGB(255, 255, 255));
  EXPECT_EQ(at(target, 5, 14), RGB(255, 255, 255));
  int dark = 0;
  for (int y = 1; y < 14; ++y)
    for (int x = 1; x < 19; ++x)
      if (GetRValue(at(target, x, y)) < 100) ++dark;
  EXPECT_GT(dark, 5) << "the text left ink";

  SelectObject(dc, old_bitmap);
  DeleteDC(dc);
}

// Paints a panel's client area and records what kind of DC its hook got.
struct PaintProbe {
  std::vector<DWORD> dc_kinds;
  void attach(ui::Panel* panel) {
    panel->OnPaint = [this](HDC dc) {
      dc_kinds.push_back(GetObjectType(dc));
      ui::Canvas(dc).fill_rect({2, 2, 12, 12}, RGB(0, 0, 200));
    };
  }
};

TEST(DoubleBuffered, OwnClassControlsPaintThroughAnOffscreenBitmap) {
  ui::Component root(nullptr, "root");
  auto* form = root.make<Host>("Form");
  form->client_width = 120;
  form->client_height = 60;
  auto* buffered = form->make<ui::Panel>("Buffered");
  buffered->set_bounds(0, 0, 50, 50);
  buffered->double_buffered = true;
  buffered->swap_color(ui::Control::kRgbFlag | RGB(250, 250, 0));
  buffered->set_parent(form);
  auto* direct = form->make<ui::Panel>("Direct");
  direct->set_bounds(60, 0, 50, 50);
  direct->set_parent(form);
  PaintProbe on_buffered, on_direct;
  on_buffered.attach(buffered);
  on_direct.attach(direct);
  ASSERT_TRUE(form->create());
  form->show();
  RedrawWindow(buffered->handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  RedrawWindow(direct->handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  ASSERT_FALSE(on_buffered.dc_kinds.empty());
  ASSERT_FALSE(on_direct.dc_kinds.empty());
  EXPECT_EQ(on_buffered.dc_kinds.back(), static_cast<DWORD>(OBJ_MEMDC));
  EXPECT_EQ(on_direct.dc_kinds.back(), static_cast<DWORD>(OBJ_DC));

  // What the buffer held reached the window: background and the hook's square.
  HDC screen = GetDC(buffered->handle());
  EXPECT_EQ(GetPixel(screen, 30, 30), RGB(250, 250, 0));
  EXPECT_EQ(GetPixel(screen, 5, 5), RGB(0, 0, 200));
  ReleaseDC(buffered->handle(), screen);

  // WM_PRINTCLIENT paints the same into any DC.
  ui::Bitmap copy(50, 50);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, copy.handle());
  SendMessageW(buffered->handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  GdiFlush();
  EXPECT_EQ(at(copy, 30, 30), RGB(250, 250, 0));
  EXPECT_EQ(at(copy, 5, 5), RGB(0, 0, 200));
  SelectObject(dc, old);
  DeleteDC(dc);
}

}  // namespace
