// The control companions on real controls under Wine: the message pipeline,
// each companion's handling and painting (pixels read back), the thumb drag's
// tracking loop and how it ends, the dispatch over a form's controls, and
// what happens when controls, forms and companion lists go away. Freed
// memory is overwritten in this program, so a companion used after it was
// freed crashes the test.
#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "skin/controls/buttons.h"
#include "skin/controls/companion_fixture.h"
#include "skin/controls/check_boxes.h"
#include "skin/controls/group_boxes.h"
#include "skin/controls/scroll_bars.h"
#include "skin/data/archive.h"
#include "skin/frame/message_recorder.h"
#include "skin/handle_counts.h"
#include "skin/paint/paint_win.h"
#include "ui/controls.h"
#include "ui/message_pump.h"

namespace clip::skin {
namespace {

using test::Expected;
using test::MessageRecorder;
using test::pump;
using test::pump_until;

// ---------------------------------------------------------------------------
// Buttons

TEST_F(Companions, PlainButtonKeepsThePressAndPaintFromItsWindowAndPostsTheClick) {
  HWND parent = make_plain();
  HWND button = child(parent, L"BUTTON", L"OK", BS_PUSHBUTTON, 20, 20, 80, 26, 7);
  SetCursorPos(centre_on_screen(button).x, centre_on_screen(button).y);
  // Below the companion: what it passes on to the platform's button.
  MessageRecorder below(button, {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_PAINT, WM_ERASEBKGND});
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  auto* companion = companion_of<TSkinButton>(button);
  ASSERT_NE(companion, nullptr);
  EXPECT_EQ(companion->kind(), Companion::button);

  SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(host.hot_button(), companion);
  EXPECT_EQ(Picture(*companion, button).at(1, 1), button_colour(4)) << "hot";
  SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
  EXPECT_EQ(GetFocus(), button) << "the press gives the focus";
  EXPECT_EQ(Picture(*companion, button).at(1, 1), button_colour(2)) << "pressed";
  EXPECT_EQ(GetCapture(), nullptr) << "the platform's button never saw the press";
  SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
  EXPECT_TRUE(command_posted(parent, button)) << "the click reaches the parent as the platform's would";
  InvalidateRect(button, nullptr, TRUE);
  UpdateWindow(button);
  EXPECT_EQ(on_screen(button, 1, 1), button_colour(4)) << "focused and hot, painted by the companion";
  EXPECT_EQ(test::compare_sequence(below.log(), {{WM_MOUSEMOVE}, {WM_LBUTTONUP}}), "");
}

TEST_F(Companions, WithoutTheButtonsElementThePlatformPaintsAndTheStatesAreStillTracked) {
  data_ = make_skin({.buttons = false});
  HWND parent = make_plain();
  HWND button = child(parent, L"BUTTON", L"OK", BS_PUSHBUTTON, 20, 20, 80, 26, 7);
  MessageRecorder below(button, {WM_PAINT, WM_LBUTTONDOWN});
  host_for(parent, nullptr).SkinChildWindows();
  auto* companion = companion_of<TSkinButton>(button);
  ASSERT_NE(companion, nullptr);
  InvalidateRect(button, nullptr, TRUE);
  UpdateWindow(button);
  EXPECT_EQ(below.count(WM_PAINT), 1u);
  SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
  EXPECT_EQ(below.count(WM_LBUTTONDOWN), 0u);
  EXPECT_TRUE(companion->mouse() & TSkinControl::kPressed);
  SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
  EXPECT_TRUE(command_posted(parent, button));
}

TEST_F(Companions, PressReleasedElsewhereGivesNoClick) {
  HWND parent = make_plain();
  HWND button = child(parent, L"BUTTON", L"OK", BS_PUSHBUTTON, 20, 20, 80, 26, 7);
  SetCursorPos(centre_on_screen(button).x, centre_on_screen(button).y);
  host_for(parent, nullptr).SkinChildWindows();
  auto* companion = companion_of<TSkinButton>(button);
  ASSERT_NE(companion, nullptr);
  SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
  SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
  // The pointer leaves with the button held, and is released over the parent.
  SendMessageW(button, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(companion->mouse(), 0) << "leaving clears hot and pressed";
  EXPECT_EQ(Picture(*companion, button).at(1, 1), button_colour(4)) << "focused only";
  SendMessageW(parent, WM_LBUTTONUP, 0, MAKELPARAM(200, 150));
  // Coming back and releasing over the button without a new press.
  SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));
  SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
  EXPECT_FALSE(command_posted(parent, button));
  pump();
}

TEST_F(Companions, HotButtonHandsOverToTheNextOne) {
  HWND parent = make_plain();
  HWND first = child(parent, L"BUTTON", L"One", BS_PUSHBUTTON, 10, 10, 80, 26, 1);
  HWND second = child(parent, L"BUTTON", L"Two", BS_PUSHBUTTON, 100, 10, 80, 26, 2);
  SetCursorPos(centre_on_screen(first).x, centre_on_screen(first).y);
  MessageRecorder seen_by_first(first, {ui::kMouseLeave});
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  auto* one = companion_of<TSkinButton>(first);
  auto* two = companion_of<TSkinButton>(second);
  ASSERT_TRUE(one && two);
  SetFocus(parent);
  SendMessageW(first, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(host.hot_button(), one);
  EXPECT_EQ(Picture(*one, first).at(1, 1), button_colour(4));
  SetCursorPos(centre_on_screen(second).x, centre_on_screen(second).y);
  SendMessageW(second, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(seen_by_first.count(ui::kMouseLeave), 1u) << "the first hears that the mouse left it";
  EXPECT_EQ(one->mouse(), 0);
  EXPECT_EQ(host.hot_button(), two);
  EXPECT_EQ(Picture(*one, first).at(1, 1), button_colour(1)) << "the first loses its hot face at once";
  EXPECT_EQ(Picture(*two, second).at(1, 1), button_colour(4));
  // The window loses the pointer (deactivated): the hot button lets go too.
  host.release_hot_button();
  EXPECT_EQ(host.hot_button(), nullptr);
  EXPECT_EQ(two->mouse(), 0);
  pump();
}

TEST_F(Companions, DisabledButtonShowsItsFrameWhateverTheMouseDoes) {
  HWND parent = make_plain();
  HWND button = child(parent, L"BUTTON", L"Off", BS_PUSHBUTTON, 10, 10, 80, 26, 1);
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  auto* companion = companion_of<TSkinButton>(button);
  ASSERT_NE(companion, nullptr);
  EnableWindow(button, FALSE);
  SendMessageW(button, ui::kMouseEnter, 0, 0);
  EXPECT_EQ(host.hot_button(), nullptr) << "entering is ignored while disabled";
  SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(Picture(*companion, button).at(1, 1), button_colour(3));
  EXPECT_EQ(Picture(*companion, button).at(8, 13), button_colour(3)) << "the centre stretched from the frame";
  SendMessageW(button, ui::kMouseLeave, 0, 0);
  EXPECT_TRUE(companion->mouse() & TSkinControl::kHot) << "leaving is ignored while disabled";
}

TEST_F(Companions, SkinLoadedAgainAtRunTimePaintsFromTheNewElements) {
  HWND parent = make_plain();
  HWND button = child(parent, L"BUTTON", L"OK", BS_PUSHBUTTON, 20, 20, 80, 26, 7);
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  auto* companion = companion_of<TSkinButton>(button);
  ASSERT_NE(companion, nullptr);
  EXPECT_EQ(Picture(*companion, button).at(1, 1), button_colour(1));
  // Every element is made anew: the list makes its bitmaps again.
  ASSERT_TRUE(data_->read_skin_stream_property(skin_property({.shade = 100})));
  host.reload();
  EXPECT_EQ(Picture(*companion, button).at(1, 1), button_colour(1, 100));
}

TEST_F(Companions, FrameworkButtonClicksOnceByMouseAndByTheSpaceKey) {
  auto* button = form_->make<ui::Button>("Button1");
  button->caption = "Go";
  button->set_bounds(10, 10, 90, 28);
  button->set_parent(form_);
  int clicks = 0, downs_seen = 0;
  button->OnClick = [&] { ++clicks; };
  // The control's own handling is the companion's previous handler.
  button->on(WM_LBUTTONDOWN, [&](ui::Message&) -> std::optional<LRESULT> {
    ++downs_seen;
    return std::nullopt;
  });
  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinChildren(*form_);
  HWND hwnd = button->handle();
  auto* companion = companion_of<TSkinButton>(hwnd);
  ASSERT_NE(companion, nullptr);
  EXPECT_EQ(companion->control(), button);
  SetCursorPos(centre_on_screen(hwnd).x, centre_on_screen(hwnd).y);
  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  pump();
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(downs_seen, 0);
  SendMessageW(hwnd, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(Picture(*companion, hwnd).at(1, 1), button_colour(2)) << "pressed while the key is down";
  SendMessageW(hwnd, WM_KEYUP, VK_SPACE, 0);
  pump();
  EXPECT_EQ(clicks, 2) << "the key's click comes from the button once";
  EXPECT_EQ(Picture(*companion, hwnd).at(1, 1), button_colour(4));
}

// A glyph strip of `count` 8 x 8 images, magenta around a coloured square.
ui::Glyph glyph_of(const std::vector<COLORREF>& images) {
  ui::Glyph g;
  g.count = int(images.size());
  g.picture = ui::Bitmap(8 * g.count, 8);
  for (int i = 0; i < g.count; ++i)
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        const COLORREF c = (x == 0 || y == 0 || x == 7 || y == 7) ? RGB(255, 0, 255) : images[size_t(i)];
        uint8_t* p = g.picture.pixel(8 * i + x, y);
        p[0] = GetBValue(c), p[1] = GetGValue(c), p[2] = GetRValue(c);
      }
  g.margin = 4;
  return g;
}

TEST_F(Companions, BitmapButtonGlyphsFollowTheFaceOnlyWithFourImages) {
  auto* two = form_->make<ui::BitBtn>("BitBtn1");
  two->caption = "Two";
  two->glyph = glyph_of({RGB(255, 0, 0), RGB(0, 0, 255)});
  two->set_bounds(10, 10, 100, 30);
  two->set_parent(form_);
  auto* four = form_->make<ui::BitBtn>("BitBtn2");
  four->caption = "Four";
  four->glyph = glyph_of({RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 0)});
  four->set_bounds(10, 50, 100, 30);
  four->set_parent(form_);
  host_for(form_->handle(), form_).SkinChildren(*form_);
  auto* c2 = companion_of<TSkinBitButton>(two->handle());
  auto* c4 = companion_of<TSkinBitButton>(four->handle());
  ASSERT_TRUE(c2 && c4);
  EXPECT_EQ(c2->kind(), Companion::bit_button);
  // Glyph left at margin 4, centred across: its centre at (8, 15).
  EXPECT_EQ(Picture(*c4, four->handle()).at(8, 15), RGB(255, 0, 0)) << "normal: the first image";
  EXPECT_EQ(Picture(*c4, four->handle()).at(4, 11), button_colour(1)) << "its magenta edge shows the face";
  SendMessageW(two->handle(), WM_LBUTTONDOWN, MK_LBUTTON, 0);
  SendMessageW(four->handle(), WM_LBUTTONDOWN, MK_LBUTTON, 0);
  EXPECT_EQ(Picture(*c2, two->handle()).at(8, 15), RGB(255, 0, 0)) << "two images: always the first";
  EXPECT_EQ(Picture(*c4, four->handle()).at(8, 15), RGB(0, 0, 255)) << "pressed: the third of four";
  EXPECT_EQ(Picture(*c4, four->handle()).at(1, 1), button_colour(2));
  EnableWindow(four->handle(), FALSE);
  EXPECT_EQ(Picture(*c4, four->handle()).at(8, 15), RGB(0, 255, 0)) << "disabled: the second";
}

TEST_F(Companions, SpeedButtonThatIsDownShowsPressedEvenWhenHot) {
  auto* speed = form_->make<ui::SpeedButton>("SpeedButton1");
  speed->caption = "关  闭";
  speed->set_bounds(200, 200, 73, 29);
  speed->set_parent(form_);
  int clicks = 0;
  speed->OnClick = [&] { ++clicks; };
  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinChildren(*form_);
  auto* companion = dynamic_cast<TSkinSpeedButton*>(host.FindSkinControl(*speed));
  ASSERT_NE(companion, nullptr);
  EXPECT_EQ(companion->handle(), nullptr) << "windowless";
  auto face_on_screen = [&] {
    InvalidateRect(form_->handle(), nullptr, TRUE);
    UpdateWindow(form_->handle());
    const ui::dc_scope dc(form_->handle());
    return GetPixel(dc.get(), 201, 201);
  };
  EXPECT_EQ(face_on_screen(), button_colour(1)) << "the form's own painting goes through the companion";
  // The pointer enters it through the form, as the mouse moves there.
  SendMessageW(form_->handle(), WM_MOUSEMOVE, 0, MAKELPARAM(210, 210));
  EXPECT_EQ(host.hot_button(), companion);
  EXPECT_EQ(face_on_screen(), button_colour(4));
  speed->down = true;
  EXPECT_EQ(face_on_screen(), button_colour(2)) << "down wins over hot";
  speed->down = false;
  SendMessageW(form_->handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(210, 210));
  EXPECT_EQ(face_on_screen(), button_colour(2));
  SendMessageW(form_->handle(), WM_LBUTTONUP, 0, MAKELPARAM(210, 210));
  EXPECT_EQ(clicks, 1);
  // Leaving to the form's empty part: the button hears it.
  SendMessageW(form_->handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(companion->mouse(), 0);
  EXPECT_EQ(host.hot_button(), nullptr);
  EXPECT_EQ(face_on_screen(), button_colour(1));
  speed->enabled = false;
  EXPECT_EQ(face_on_screen(), button_colour(3));
}

TEST_F(Companions, ToolBarButtonFacesComeFromTheWindowsHandler) {
  auto* bar = form_->make<ui::ToolBar>("ToolBar1");
  bar->set_bounds(0, 250, 300, 30);
  bar->add_button("甲");
  bar->add_button("乙");
  bar->set_parent(form_);
  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinChildren(*form_);
  EXPECT_TRUE(bar->flat && bar->transparent) << "set by name";
  ASSERT_TRUE(bar->OnCustomDrawButton);
  ASSERT_NE(host.FindSkinControl(*bar), nullptr);
  EXPECT_EQ(host.FindSkinControl(*bar)->kind(), Companion::box);

  const ui::gdi_object<HBITMAP> target = paint::create_dib(40, 30);
  const paint::memory_dc dc(target.get());
  RECT all{0, 0, 40, 30};
  ui::gdi_object<HBRUSH> white(CreateSolidBrush(RGB(255, 255, 255)));
  FillRect(dc.get(), &all, white.get());
  SetTextColor(dc.get(), RGB(1, 2, 3));
  bar->OnCustomDrawButton(*bar, dc.get(), {0, 0, 40, 30}, 0);
  EXPECT_EQ(GetPixel(dc.get(), 1, 1), RGB(255, 255, 255)) << "a button in none of the states is not painted";
  bar->OnCustomDrawButton(*bar, dc.get(), {0, 0, 40, 30}, CDIS_HOT);
  EXPECT_EQ(GetPixel(dc.get(), 1, 1), button_colour(4));
  EXPECT_EQ(GetTextColor(dc.get()), kHoverText) << "the skin's mouse-over text colour";
  bar->OnCustomDrawButton(*bar, dc.get(), {0, 0, 40, 30}, CDIS_DISABLED);
  EXPECT_EQ(GetPixel(dc.get(), 20, 15), button_colour(3));

  host.UnskinAll();
  EXPECT_FALSE(bar->OnCustomDrawButton) << "the handler goes with the skin";
}

// ---------------------------------------------------------------------------
// Scroll bars

class ScrollBars : public Companions {
 protected:
  // A memo of 100 lines whose vertical thumb the companion drags.
  ui::Memo* make_memo(ui::Component& owner) {
    auto* memo = owner.make<ui::Memo>("Memo1");
    memo->set_bounds(10, 10, 220, 120);
    memo->set_parent(form_);
    std::string text;
    for (int i = 0; i < 100; ++i) memo->add_line("line " + std::to_string(i));
    SendMessageW(memo->handle(), EM_LINESCROLL, 0, -1000);
    return memo;
  }
  // Skins the form's controls; the memo's scroll-bar companion.
  TSkinScrollbar* skin_form_for(ui::Memo& memo) {
    host_for(form_->handle(), form_).SkinChildren(*form_);
    return companion_of<TSkinScrollbar>(memo.handle());
  }
  // Records the vertical scroll requests that reach the control's own handling.
  void record_scrolls(ui::Control& control) {
    control.on(WM_VSCROLL, [this](ui::Message& m) -> std::optional<LRESULT> {
      scrolls_.push_back({LOWORD(m.wparam), HIWORD(m.wparam)});
      return std::nullopt;
    });
  }
  // Screen point of the vertical thumb's centre, moved `down` pixels.
  POINT thumb_point(TSkinScrollbar& companion, HWND hwnd, int down = 0) {
    companion.Redraw();
    RECT w{};
    GetWindowRect(hwnd, &w);
    const Rect& bar = companion.rects().vert;
    const Thumb& t = companion.thumb(1);
    const int arrow = GetSystemMetrics(SM_CXHSCROLL);
    return {w.left + (bar.left + bar.right) / 2, w.top + bar.top + arrow + t.offset + t.size / 2 + down};
  }
  // Queues moves by the given offsets from `start` and, unless told not to,
  // the release; then presses on the thumb, which runs the tracking loop.
  void drag(HWND hwnd, POINT start, const std::vector<int>& moves, bool release = true) {
    SetCursorPos(start.x, start.y);
    for (int dy : moves) {
      POINT p{start.x, start.y + dy};
      ScreenToClient(hwnd, &p);
      PostMessageW(hwnd, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    }
    if (release) PostMessageW(hwnd, WM_LBUTTONUP, 0, 0);
    SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTVSCROLL, MAKELPARAM(start.x, start.y));
  }
  static ScrollState vertical_state(HWND hwnd) {
    SCROLLINFO info{sizeof(info), SIF_ALL};
    GetScrollInfo(hwnd, SB_VERT, &info);
    return {info.nMin, info.nMax, int(info.nPage), info.nPos, info.nTrackPos};
  }

  // The presses on the frame (the scroll bars) that reach the control's own
  // handling.
  const std::vector<UINT>& record_nc_presses(ui::Control& control) {
    control.on(WM_NCLBUTTONDOWN, [this](ui::Message& m) -> std::optional<LRESULT> {
      nc_presses_.push_back(m.msg);
      return std::nullopt;
    });
    return nc_presses_;
  }

  struct Scroll {
    int code, position;
  };
  std::vector<Scroll> scrolls_;
  std::vector<UINT> nc_presses_;
};

TEST_F(ScrollBars, ThumbDragSendsTrackPositionsThenThePositionAndTheEnd) {
  ui::Memo* memo = make_memo(*form_);
  record_scrolls(*memo);
  TSkinScrollbar* companion = skin_form_for(*memo);
  ASSERT_NE(companion, nullptr);
  HWND hwnd = memo->handle();
  ASSERT_TRUE(companion->take_over());
  const POINT start = thumb_point(*companion, hwnd);
  const Thumb thumb = companion->thumb(1);
  const ScrollState before = vertical_state(hwnd);
  ASSERT_GT(before.max, 50) << "the memo scrolls";
  drag(hwnd, start, {4, 12, 12, 30});
  EXPECT_FALSE(companion->dragging());
  std::vector<int> expected;
  int last = before.pos;
  for (int dy : {4, 12, 12, 30}) {
    const int p = drag_thumb(thumb.offset, dy, thumb, before).position;
    if (p != last) expected.push_back(p);
    last = p;
  }
  ASSERT_GE(expected.size(), 2u);
  ASSERT_EQ(scrolls_.size(), expected.size() + 1);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(scrolls_[i].code, SB_THUMBTRACK) << i;
    EXPECT_EQ(scrolls_[i].position, expected[i]) << i;
  }
  EXPECT_EQ(scrolls_.back().code, SB_THUMBPOSITION);
  EXPECT_EQ(scrolls_.back().position, last);
  pump();
  ASSERT_EQ(scrolls_.size(), expected.size() + 2);
  EXPECT_EQ(scrolls_.back().code, SB_ENDSCROLL) << "posted at the end";
  EXPECT_EQ(SendMessageW(hwnd, EM_GETFIRSTVISIBLELINE, 0, 0), last) << "the memo followed the thumb";
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(companion->pressed_part(), 0) << "the position request releases the thumb";
}

TEST_F(ScrollBars, ThumbClickedWithoutMovingKeepsThePositionAndDragsStopAtTheEnds) {
  ui::Memo* memo = make_memo(*form_);
  record_scrolls(*memo);
  TSkinScrollbar* companion = skin_form_for(*memo);
  ASSERT_NE(companion, nullptr);
  HWND hwnd = memo->handle();
  SendMessageW(hwnd, EM_LINESCROLL, 0, 20);
  const int at = vertical_state(hwnd).pos;
  drag(hwnd, thumb_point(*companion, hwnd), {});
  ASSERT_EQ(scrolls_.size(), 1u);
  EXPECT_EQ(scrolls_[0].code, SB_THUMBPOSITION);
  EXPECT_EQ(scrolls_[0].position, at);
  pump();
  scrolls_.clear();

  const ScrollState state = vertical_state(hwnd);
  drag(hwnd, thumb_point(*companion, hwnd), {2000});
  ASSERT_FALSE(scrolls_.empty());
  EXPECT_EQ(scrolls_.back().position, state.max - state.page + 1) << "stops at the last page";
  pump();
  scrolls_.clear();
  drag(hwnd, thumb_point(*companion, hwnd), {-2000});
  EXPECT_EQ(scrolls_.back().position, state.min);
  pump();
  EXPECT_EQ(SendMessageW(hwnd, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
}

// Runs `during` from a timer while a drag whose release never comes is in
// its loop; a backup timer releases the button after 5 s so that a loop
// that ignores the event fails the test instead of hanging it.
struct DuringDrag {
  static inline std::function<void()> action;
  static inline bool backup_fired = false;
  static inline HWND window = nullptr;
  UINT_PTR timer = 0, backup = 0;
  DuringDrag(HWND hwnd, std::function<void()> what) {
    action = std::move(what);
    backup_fired = false;
    window = hwnd;
    timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR id, DWORD) {
      KillTimer(nullptr, id);
      if (auto a = std::exchange(action, nullptr)) a();
    });
    backup = SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR id, DWORD) {
      KillTimer(nullptr, id);
      backup_fired = true;
      if (IsWindow(window)) PostMessageW(window, WM_LBUTTONUP, 0, 0);
    });
  }
  ~DuringDrag() {
    KillTimer(nullptr, timer);
    KillTimer(nullptr, backup);
    action = nullptr;
  }
};

TEST_F(ScrollBars, TrackingLoopEndsOnCancelModeAndOnLosingTheCapture) {
  ui::Memo* memo = make_memo(*form_);
  record_scrolls(*memo);
  TSkinScrollbar* companion = skin_form_for(*memo);
  ASSERT_NE(companion, nullptr);
  HWND hwnd = memo->handle();
  for (const bool cancel_mode : {true, false}) {
    scrolls_.clear();
    {
      DuringDrag during(hwnd, [&] {
        EXPECT_TRUE(companion->dragging());
        EXPECT_EQ(GetCapture(), hwnd) << "the loop holds the capture";
        if (cancel_mode)
          SendMessageW(hwnd, WM_CANCELMODE, 0, 0);
        else
          SetCapture(form_->handle());
      });
      drag(hwnd, thumb_point(*companion, hwnd), {10}, false);
      EXPECT_FALSE(DuringDrag::backup_fired) << (cancel_mode ? "WM_CANCELMODE" : "the capture going elsewhere")
                                             << " ended the loop";
    }
    ReleaseCapture();
    EXPECT_FALSE(companion->dragging());
    ASSERT_FALSE(scrolls_.empty());
    EXPECT_EQ(scrolls_.back().code, SB_THUMBPOSITION) << "the scroll ends where it stands";
    pump();
    EXPECT_EQ(scrolls_.back().code, SB_ENDSCROLL);
  }
}

TEST_F(ScrollBars, ControlDestroyedDuringTheDragEndsTheLoopWithoutTouchingIt) {
  auto owner = std::make_unique<ui::Component>(nullptr, "owner");
  ui::Memo* memo = make_memo(*owner);
  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinComponent(*memo, form_);
  HWND hwnd = memo->handle();
  auto* companion = companion_of<TSkinScrollbar>(hwnd);
  ASSERT_NE(companion, nullptr);
  const size_t listed = host.controls().size();
  {
    DuringDrag during(hwnd, [&] { owner.reset(); });
    drag(hwnd, thumb_point(*companion, hwnd), {5}, false);
    EXPECT_FALSE(DuringDrag::backup_fired);
  }
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(companion->state(), TSkinControl::gone);
  host.SweepSkinControls();
  EXPECT_EQ(host.controls().size(), listed - 1) << "the sweep frees the gone companion";
  pump();
}

TEST_F(ScrollBars, CompanionListDestroyedDuringTheDragGivesTheControlBack) {
  ui::Memo* memo = make_memo(*form_);
  const std::vector<UINT>& reached = record_nc_presses(*memo);
  TSkinScrollbar* companion = skin_form_for(*memo);
  ASSERT_NE(companion, nullptr);
  HWND hwnd = memo->handle();
  const POINT thumb = thumb_point(*companion, hwnd);
  {
    DuringDrag during(hwnd, [&] { host_.reset(); });
    drag(hwnd, thumb, {5}, false);
    EXPECT_FALSE(DuringDrag::backup_fired);
  }
  EXPECT_TRUE(reached.empty());
  EXPECT_NE(GetCapture(), hwnd);
  // The companion is gone: the press on the thumb is the platform's now.
  PostMessageW(hwnd, WM_LBUTTONUP, 0, 0);
  SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTVSCROLL, MAKELPARAM(thumb.x, thumb.y));
  EXPECT_EQ(reached.size(), 1u);
  pump();
}

TEST_F(ScrollBars, ArrowAndTrackClicksAreThePlatformsAndMarkThePressedPart) {
  ui::Memo* memo = make_memo(*form_);
  const std::vector<UINT>& reached = record_nc_presses(*memo);
  TSkinScrollbar* companion = skin_form_for(*memo);
  ASSERT_NE(companion, nullptr);
  HWND hwnd = memo->handle();
  companion->Redraw();
  RECT w{};
  GetWindowRect(hwnd, &w);
  const Rect bar = companion->rects().vert;
  const POINT down_arrow{w.left + (bar.left + bar.right) / 2, w.top + bar.bottom - 3};
  PostMessageW(hwnd, WM_LBUTTONUP, 0, 0);
  SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTVSCROLL, MAKELPARAM(down_arrow.x, down_arrow.y));
  EXPECT_EQ(reached.size(), 1u) << "passed on to the platform's own tracking";
  SendMessageW(hwnd, WM_VSCROLL, SB_LINEDOWN, 0);
  EXPECT_EQ(companion->pressed_part(), 4);
  const Picture picture(*companion, hwnd);
  const int arrow = GetSystemMetrics(SM_CXHSCROLL);
  EXPECT_EQ(picture.at(bar.left + arrow / 2, bar.bottom - arrow / 2), arrow_colour(14)) << "pressed down arrow";
  EXPECT_EQ(picture.at(bar.left + arrow / 2, bar.top + arrow / 2), arrow_colour(9)) << "up arrow";
  SendMessageW(hwnd, WM_VSCROLL, SB_PAGEDOWN, 0);
  EXPECT_EQ(companion->pressed_part(), 0);
  SendMessageW(hwnd, WM_NCMOUSEMOVE, HTVSCROLL, MAKELPARAM(down_arrow.x, down_arrow.y));
  pump();
}

// A list view over owner data, as the program's clip list is.
class OwnerDataList : public ui::ListView {
 public:
  using ui::ListView::ListView;

 protected:
  ui::CreateParams create_params() override {
    ui::CreateParams p = ui::ListView::create_params();
    p.style |= LVS_OWNERDATA;
    return p;
  }
};

TEST_F(ScrollBars, OwnerDataListGetsPaintedBarsAndAHeaderButNoDrag) {
  auto* list = form_->make<OwnerDataList>("ListView1");
  list->columns = {{"序号", LVCFMT_LEFT, 60}, {"通道", LVCFMT_CENTER, 60}, {"大小", LVCFMT_RIGHT, 80}};
  list->set_bounds(10, 10, 300, 200);
  list->set_parent(form_);
  SendMessageW(list->handle(), LVM_SETITEMCOUNT, 500, 0);
  const std::vector<UINT>& reached = record_nc_presses(*list);
  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinChildren(*form_);
  HWND hwnd = list->handle();
  auto* companion = companion_of<TSkinListView>(hwnd);
  ASSERT_NE(companion, nullptr);
  EXPECT_FALSE(companion->take_over());
  HWND header = ListView_GetHeader(hwnd);
  auto* header_companion = companion_of<TSkinHeader>(header);
  ASSERT_NE(header_companion, nullptr);

  // The bars: arrows, track and thumb from their elements.
  const Picture bars(*companion, hwnd);
  const Rect v = companion->rects().vert;
  const int arrow = GetSystemMetrics(SM_CXHSCROLL);
  ASSERT_FALSE(v.empty());
  const Thumb thumb = companion->thumb(1);
  EXPECT_EQ(bars.at(v.left + arrow / 2, v.top + 2), arrow_colour(9));
  EXPECT_EQ(bars.at(v.left + arrow / 2, v.top + arrow + thumb.offset + thumb.size / 2), kThumb);
  EXPECT_EQ(bars.at(v.left + arrow / 2, v.bottom - arrow - 3), kTrack);
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
  EXPECT_EQ(on_screen(hwnd, v.left + arrow / 2, v.top + 2), arrow_colour(9)) << "what the list shows after painting";
  EXPECT_EQ(on_screen(hwnd, v.left + arrow / 2, v.bottom - arrow - 3), kTrack);
  SendMessageW(hwnd, LVM_SETITEMCOUNT, 800, 0);
  UpdateWindow(hwnd);
  EXPECT_EQ(on_screen(hwnd, v.left + arrow / 2, v.top + 2), arrow_colour(9)) << "after the range changed";
  SendMessageW(hwnd, WM_VSCROLL, SB_PAGEDOWN, 0);
  UpdateWindow(hwnd);
  EXPECT_EQ(on_screen(hwnd, v.left + arrow / 2, v.top + 2), arrow_colour(9)) << "after a scroll";

  // The header: items and the rest from the element, the captions over them.
  RECT first{};
  Header_GetItemRect(header, 0, &first);
  const Picture heading(*header_companion, header);
  EXPECT_EQ(heading.at(first.left + 1, 1), kHeader);
  RECT window{};
  GetWindowRect(header, &window);
  EXPECT_EQ(heading.at(window.right - window.left - 2, 2), kHeader) << "the empty rest";
  int text = 0;
  for (int y = first.top; y < first.bottom; ++y)
    for (int x = first.left; x < first.right; ++x) text += heading.at(x, y) != kHeader;
  EXPECT_GT(text, 10) << "the caption is drawn over the item";
  InvalidateRect(header, nullptr, TRUE);
  UpdateWindow(header);
  EXPECT_EQ(on_screen(header, first.left + 1, 1), kHeader) << "what the header shows after painting itself";
  EXPECT_EQ(on_screen(header, window.right - window.left - 2, 2), kHeader);

  // A press on the thumb goes to the list view's own handling.
  RECT w{};
  GetWindowRect(hwnd, &w);
  PostMessageW(hwnd, WM_LBUTTONUP, 0, 0);
  SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTVSCROLL,
               MAKELPARAM(w.left + v.left + 3, w.top + v.top + arrow + thumb.offset + 2));
  EXPECT_EQ(reached.size(), 1u) << "never dragged by the companion";
  pump();
}

TEST_F(ScrollBars, RowsAddedBelowTheViewKeepTheBarSkinned) {
  auto* list = form_->make<ui::ListView>("ListView1");
  list->columns = {{"序号", LVCFMT_LEFT, 60}};
  list->set_bounds(10, 10, 200, 150);
  list->set_parent(form_);
  for (int i = 0; i < 30; ++i) list->add_row({std::to_string(i)}, 0);
  host_for(form_->handle(), form_).SkinChildren(*form_);
  HWND hwnd = list->handle();
  auto* companion = companion_of<TSkinListView>(hwnd);
  ASSERT_NE(companion, nullptr);
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
  const Rect v = companion->rects().vert;
  ASSERT_FALSE(v.empty());
  const int arrow = GetSystemMetrics(SM_CXHSCROLL);
  const POINT up{v.left + arrow / 2, v.top + 2};
  ASSERT_EQ(on_screen(hwnd, up.x, up.y), arrow_colour(9));
  // Rows out of sight change the range only; the platform redraws the bar
  // and nothing of the list is painted.
  for (int i = 30; i < 80; ++i) list->add_row({std::to_string(i)}, 0);
  EXPECT_EQ(on_screen(hwnd, up.x, up.y), arrow_colour(9));
  const Thumb t = companion->thumb(1);
  EXPECT_EQ(on_screen(hwnd, up.x, v.top + arrow + t.offset + t.size / 2), kThumb) << "the thumb as measured now";
}

TEST_F(ScrollBars, WithoutTheHeaderElementTheHeaderIsThePlatforms) {
  data_ = make_skin({.header = false});
  auto* list = form_->make<ui::ListView>("ListView1");
  list->columns = {{"A", LVCFMT_LEFT, 60}};
  list->set_bounds(10, 10, 300, 200);
  list->set_parent(form_);
  host_for(form_->handle(), form_).SkinChildren(*form_);
  HWND header = ListView_GetHeader(list->handle());
  auto* companion = companion_of<TSkinHeader>(header);
  ASSERT_NE(companion, nullptr);
  EXPECT_EQ(Picture(*companion, header).at(1, 1), RGB(255, 255, 255)) << "the companion paints nothing";
  InvalidateRect(header, nullptr, TRUE);
  UpdateWindow(header);
  EXPECT_NE(on_screen(header, 1, 1), kHeader);
}

TEST_F(ScrollBars, StandAloneScrollBarMeasuresItsOwnInclusiveRange) {
  auto* bar = form_->make<ui::ScrollBar>("ScrollBar1");
  bar->set_bounds(10, 250, 200, 17);
  bar->set_parent(form_);
  bar->set_params(0, 99, 10, 45);
  host_for(form_->handle(), form_).SkinChildren(*form_);
  auto* companion = companion_of<TSkinScControl>(bar->handle());
  ASSERT_NE(companion, nullptr);
  companion->Redraw();
  const int arrow = GetSystemMetrics(SM_CXHSCROLL);
  Thumb expected;
  ASSERT_TRUE(measure_control_thumb(200, arrow, {0, 99, 10, 45}, 8, GetSystemMetrics(SM_CXHTHUMB), expected));
  EXPECT_EQ(companion->thumb(), expected);
  // The bar's notification comes back to it: it moves, and the skin follows.
  SendMessageW(form_->handle(), WM_HSCROLL, SB_LINEDOWN, reinterpret_cast<LPARAM>(bar->handle()));
  EXPECT_EQ(bar->position(), 46);
  EXPECT_EQ(companion->pressed_part(), 2);
  ASSERT_TRUE(measure_control_thumb(200, arrow, {0, 99, 10, 46}, 8, GetSystemMetrics(SM_CXHTHUMB), expected));
  EXPECT_EQ(companion->thumb(), expected);
  bar->set_params(0, 99, 10, 90);
  EXPECT_EQ(companion->thumb().offset, expected.track - expected.size) << "setting the range repaints";
  const Picture picture(*companion, bar->handle());
  EXPECT_EQ(picture.at(200 - arrow / 2, 8), arrow_colour(6)) << "the right arrow, pressed by the line request";
  EXPECT_EQ(picture.at(arrow / 2, 8), arrow_colour(1)) << "the left arrow";
}

TEST_F(ScrollBars, DialogSizeBoxPaintsNothingAndIsNotAskedAgain) {
  HWND parent = make_plain();
  HWND grip = child(parent, L"SCROLLBAR", L"", SBS_SIZEGRIP | SBS_SIZEBOXBOTTOMRIGHTALIGN, 280, 160, 17, 17, 9);
  HWND bar = child(parent, L"SCROLLBAR", L"", SBS_VERT, 10, 10, 17, 100, 10);
  MessageRecorder below(grip, {WM_PAINT, WM_ERASEBKGND});
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  ASSERT_NE(companion_of<TSkinSizer>(grip), nullptr);
  EXPECT_NE(companion_of<TSkinScControl>(bar), nullptr) << "a real scroll bar stays usable";
  InvalidateRect(grip, nullptr, TRUE);
  UpdateWindow(grip);
  RECT update{};
  EXPECT_FALSE(GetUpdateRect(grip, &update, FALSE)) << "the update region is validated";
  EXPECT_EQ(below.count(WM_PAINT), 0u);
  EXPECT_EQ(below.count(WM_ERASEBKGND), 0u);
}

// ---------------------------------------------------------------------------
// A companion's failure stops at the window procedure

class FailingCompanion : public TSkinControl {
 public:
  static constexpr UINT kProbe = WM_APP + 21;
  FailingCompanion() : TSkinControl(Companion::box) {}
  int paints = 0;
  bool BeforeMessage(SkinMessage& m) override {
    if (m.msg == kProbe && m.wparam == 1) throw std::runtime_error("控件皮肤失败");
    if (m.msg == WM_PAINT) {
      ++paints;
      throw std::runtime_error("控件绘制失败");
    }
    return TSkinControl::BeforeMessage(m);
  }
};

TEST_F(Companions, FailingCompanionAnswersZeroReportsFromTheLoopAndIsNotRepaintedForever) {
  std::vector<std::string> shown;
  ui::Application::instance().set_notifier([&](HWND, const std::string& text, const std::string&, UINT) {
    shown.push_back(text);
    return IDOK;
  });
  HWND parent = make_plain();
  HWND label = child(parent, L"STATIC", L"标签", SS_LEFT, 10, 10, 100, 20, 5);
  CompanionHost& host = host_for(parent, nullptr);
  auto* companion = new FailingCompanion;
  companion->HookWindow(label, *data_, host);

  EXPECT_EQ(SendMessageW(label, FailingCompanion::kProbe, 1, 0), 0) << "the failed message answers 0";
  EXPECT_TRUE(shown.empty()) << "no box inside the procedure";
  EXPECT_EQ(SendMessageW(label, WM_GETTEXTLENGTH, 0, 0), 2) << "the control goes on";
  InvalidateRect(label, nullptr, TRUE);
  pump();
  pump();
  EXPECT_EQ(companion->paints, 1) << "a failed paint leaves the window validated";
  ASSERT_TRUE(pump_until([&] { return shown.size() == 2; }));
  EXPECT_EQ(shown, (std::vector<std::string>{"控件皮肤失败", "控件绘制失败"}));
  ui::Application::instance().set_notifier(nullptr);
}

// ---------------------------------------------------------------------------
// The dispatch over a form's controls, and lifetimes

TEST_F(Companions, FormControlsGetTheCompanionsTheRulesChoose) {
  auto* off_panel = form_->make<ui::Panel>("Panel1");
  off_panel->Tag = 199;
  off_panel->set_bounds(0, 0, 200, 100);
  off_panel->set_parent(form_);
  auto* inside = form_->make<ui::Button>("Button1");  // placed in the panel, owned by the form
  inside->set_bounds(5, 5, 80, 24);
  inside->set_parent(off_panel);
  auto* panel = form_->make<ui::Panel>("Panel2");
  panel->set_bounds(0, 100, 200, 100);
  panel->set_parent(form_);
  const unsigned panel_colour = panel->color_value();
  auto* tree = form_->make<ui::TreeView>("TreeView1");
  tree->set_bounds(210, 0, 100, 100);
  tree->set_parent(form_);
  auto* status = form_->make<ui::StatusBar>("StatusBar1");
  status->set_bounds(0, 290, 420, 20);
  status->set_parent(form_);
  auto* progress = form_->make<ui::ProgressBar>("ProgressBar1");
  progress->set_bounds(0, 270, 100, 15);
  progress->set_parent(form_);
  auto* label = form_->make<ui::Label>("Label1");
  label->set_parent(form_);
  auto* edit = form_->make<ui::Edit>("Edit1");
  edit->set_bounds(210, 110, 100, 22);
  edit->set_parent(form_);
  auto* combo = form_->make<ui::ComboBox>("ComboBox1");
  combo->set_bounds(210, 140, 100, 120);
  combo->set_parent(form_);
  SetWindowLongPtrW(status->handle(), GWL_STYLE, GetWindowLongPtrW(status->handle(), GWL_STYLE) | SBARS_SIZEGRIP);
  std::vector<std::string> asked;
  data_->OnSkinControl = [&](CompanionHost&, TSkinData&, ui::Control* container, ui::Control& control,
                             std::string_view class_name, TSkinControl*& skinned) {
    asked.push_back(std::string(class_name));
    EXPECT_EQ(container, form_);
    if (&control == tree) skinned = new TSkinBox();
  };
  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinChildren(*form_);

  EXPECT_EQ(host.FindSkinControl(*off_panel), nullptr) << "Tag 199 with DisableTag 99";
  ASSERT_NE(host.FindSkinControl(*inside), nullptr) << "a control placed inside it is the form's and visited";
  EXPECT_EQ(host.FindSkinControl(*inside)->kind(), Companion::button);
  ASSERT_NE(host.FindSkinControl(*panel), nullptr);
  EXPECT_EQ(host.FindSkinControl(*panel)->kind(), Companion::box);
  EXPECT_EQ(panel->color(), RGB(200, 200, 200)) << "the skin's button face";
  ASSERT_NE(host.FindSkinControl(*tree), nullptr);
  EXPECT_EQ(host.FindSkinControl(*tree)->kind(), Companion::box) << "the event's companion is used";
  const auto kind_of = [&](ui::WinControl& c) {
    TSkinControl* found = host.FindSkinControl(c.handle());
    return found ? found->kind() : Companion::none;
  };
  EXPECT_EQ(kind_of(*status), Companion::status_bar);
  EXPECT_FALSE(GetWindowLongPtrW(status->handle(), GWL_STYLE) & SBARS_SIZEGRIP) << "the grip is switched off";
  EXPECT_EQ(kind_of(*progress), Companion::progress);
  EXPECT_EQ(kind_of(*edit), Companion::edit);
  EXPECT_EQ(kind_of(*combo), Companion::combo_box);
  EXPECT_EQ(host.FindSkinControl(*label), nullptr);
  EXPECT_NE(std::find(asked.begin(), asked.end(), "TTREEVIEW"), asked.end());
  EXPECT_EQ(std::find(asked.begin(), asked.end(), "TPANEL") - asked.begin(), 1) << "Panel1 is never asked";

  const size_t count = host.controls().size();
  host.SkinChildren(*form_);
  EXPECT_EQ(host.controls().size(), count) << "skinned controls are not skinned twice";

  host.UnskinAll();
  EXPECT_TRUE(host.controls().empty());
  EXPECT_EQ(panel->color_value(), panel_colour) << "the colour goes back";
}

TEST_F(Companions, DestroyedControlsLeaveNoCompanionBehind) {
  auto owner = std::make_unique<ui::Component>(nullptr, "owner");
  auto* button = owner->make<ui::Button>("Button1");
  button->set_bounds(10, 10, 80, 24);
  button->set_parent(form_);
  auto* speed = owner->make<ui::SpeedButton>("SpeedButton1");
  speed->set_bounds(100, 10, 80, 24);
  speed->set_parent(form_);
  HWND parent = make_plain();
  HWND plain = child(parent, L"BUTTON", L"x", BS_PUSHBUTTON, 5, 5, 50, 20, 3);
  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinChildren(*owner);
  host.SkinChildWindow(plain);
  ASSERT_EQ(host.controls().size(), 3u);
  TSkinControl* of_plain = host.FindSkinControl(plain);
  DestroyWindow(plain);
  EXPECT_EQ(of_plain->state(), TSkinControl::gone);
  EXPECT_EQ(host.FindSkinControl(plain), nullptr) << "a gone window's handle names nothing";
  owner.reset();
  for (const auto& c : host.controls()) EXPECT_EQ(c->state(), TSkinControl::gone) << companion_name(c->kind());
  host.SweepSkinControls();
  EXPECT_TRUE(host.controls().empty());
  // Painting the form now reaches no freed companion.
  InvalidateRect(form_->handle(), nullptr, TRUE);
  UpdateWindow(form_->handle());
}

TEST_F(Companions, ControlsOutliveTheirCompanionListAndWorkAsBefore) {
  auto* button = form_->make<ui::Button>("Button1");
  button->set_bounds(10, 10, 80, 24);
  button->set_parent(form_);
  int downs = 0;
  button->on(WM_LBUTTONDOWN, [&](ui::Message&) -> std::optional<LRESULT> {
    ++downs;
    return std::nullopt;
  });
  auto* memo = form_->make<ui::Memo>("Memo1");
  memo->set_bounds(10, 50, 200, 100);
  memo->set_parent(form_);
  host_for(form_->handle(), form_).SkinChildren(*form_);
  SendMessageW(button->handle(), WM_LBUTTONDOWN, MK_LBUTTON, 0);
  EXPECT_EQ(downs, 0);
  host_.reset();
  SendMessageW(button->handle(), WM_LBUTTONDOWN, MK_LBUTTON, 0);
  SendMessageW(button->handle(), WM_LBUTTONUP, 0, 0);
  EXPECT_EQ(downs, 1) << "the button's own handling is back";
  InvalidateRect(memo->handle(), nullptr, TRUE);
  UpdateWindow(memo->handle());
  pump();
}

TEST_F(ScrollBars, TwoHundredScrollsAndPaintsKeepHandleCountsFlat) {
  ui::Memo* memo = make_memo(*form_);
  auto* list = form_->make<ui::ListView>("ListView1");
  list->columns = {{"A", LVCFMT_LEFT, 80}, {"B", LVCFMT_LEFT, 80}};
  list->set_bounds(240, 10, 170, 200);
  list->set_parent(form_);
  for (int i = 0; i < 100; ++i) list->add_row({std::to_string(i), "x"}, 0);
  auto* button = form_->make<ui::Button>("Button1");
  button->set_bounds(10, 200, 80, 24);
  button->set_parent(form_);
  host_for(form_->handle(), form_).SkinChildren(*form_);
  ASSERT_EQ(host_->controls().size(), 4u) << "memo, list, its header, button";
  pump();
  const test::HandleCounts start;
  for (int i = 0; i < 200; ++i) {
    // Down and up again in steps of five; each request repaints its bar.
    const WPARAM code = (i / 5) % 2 ? SB_LINEUP : SB_LINEDOWN;
    SendMessageW(memo->handle(), WM_VSCROLL, code, 0);
    SendMessageW(list->handle(), WM_VSCROLL, code, 0);
    UpdateWindow(memo->handle());
    UpdateWindow(list->handle());
    SendMessageW(button->handle(), WM_MOUSEMOVE, 0, 0);
    SendMessageW(button->handle(), WM_MOUSELEAVE, 0, 0);
    // Now and then everything, frames included, as an uncovered window is.
    if (i % 20 == 0)
      RedrawWindow(form_->handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  pump();
  test::HandleCounts().expect_equal(start);
}

// ---------------------------------------------------------------------------
// Check boxes and radio buttons

// The platform's check box or radio button under a companion: the picture
// sits in the first (or, with the box on the right, the last) 14 pixels of
// a 120 x 21 window, 13 x 13 from row 4.
class CheckBoxes : public Companions {
 protected:
  static constexpr int kWidth = 120, kHeight = 21;
  HWND make_box(HWND parent, DWORD style, int y, int id, const wchar_t* text = L"Keep going") {
    return child(parent, L"BUTTON", text, style, 10, y, kWidth, kHeight, id);
  }
  // The picture's centre on screen after everything pending was painted.
  static COLORREF shown(HWND box, bool right = false) {
    UpdateWindow(box);
    return on_screen(box, right ? kWidth - 7 : 6, 10);
  }
};

TEST_F(CheckBoxes, ThreeStateBoxShowsTheFrameOfItsStateThroughPressesKeysAndDisabling) {
  HWND parent = make_plain();
  HWND box = make_box(parent, BS_AUTO3STATE, 10, 5);
  UpdateWindow(box);
  const COLORREF caption_blank = on_screen(box, kWidth - 3, 2);
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  auto* companion = companion_of<TSkinCheckBox>(box);
  ASSERT_NE(companion, nullptr);
  EXPECT_EQ(companion->kind(), Companion::check_box);
  InvalidateRect(box, nullptr, TRUE);
  EXPECT_EQ(shown(box), check_colour(1));
  EXPECT_EQ(on_screen(box, 0, 4), kFace) << "magenta is transparent over the cleared strip";
  EXPECT_EQ(on_screen(box, 13, 1), kFace) << "the strip beside the box is cleared";
  EXPECT_EQ(on_screen(box, kWidth - 3, 2), caption_blank) << "the caption area stays the platform's";

  // Hot and pressed: the platform draws its pushed box, the picture goes back over it.
  SetCursorPos(centre_on_screen(box).x, centre_on_screen(box).y);
  SendMessageW(box, WM_MOUSEMOVE, 0, MAKELPARAM(6, 10));
  EXPECT_EQ(shown(box), check_colour(1)) << "hot";
  SendMessageW(box, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(6, 10));
  EXPECT_EQ(SendMessageW(box, BM_GETSTATE, 0, 0) & BST_PUSHED, BST_PUSHED);
  EXPECT_EQ(on_screen(box, 6, 10), check_colour(1)) << "pressed, without waiting for a paint";
  SendMessageW(box, WM_LBUTTONUP, 0, MAKELPARAM(6, 10));
  EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED) << "the click toggles as the platform's";
  EXPECT_EQ(on_screen(box, 6, 10), check_colour(2));
  EXPECT_EQ(GetCapture(), nullptr);

  // The space key pushes and then clicks: checked goes to the third state.
  ASSERT_EQ(GetFocus(), box);
  SendMessageW(box, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(on_screen(box, 6, 10), check_colour(2)) << "pushed by the key";
  SendMessageW(box, WM_KEYUP, VK_SPACE, 0);
  EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_INDETERMINATE);
  EXPECT_EQ(on_screen(box, 6, 10), check_colour(4));

  EnableWindow(box, FALSE);
  EXPECT_EQ(shown(box), check_colour(4)) << "the third state shows frame 4 when disabled too";
  SendMessageW(box, BM_SETCHECK, BST_UNCHECKED, 0);
  EXPECT_EQ(on_screen(box, 6, 10), check_colour(3));
  SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ(on_screen(box, 6, 10), check_colour(4));
  EnableWindow(box, TRUE);
  EXPECT_EQ(shown(box), check_colour(2));
  pump();
}

TEST_F(CheckBoxes, AutoRadioButtonsHandTheCheckOnAndBoxesOnTheRightStayThere) {
  HWND parent = make_plain();
  HWND first = make_box(parent, BS_AUTORADIOBUTTON | WS_GROUP, 10, 1, L"First");
  HWND second = make_box(parent, BS_AUTORADIOBUTTON | BS_RIGHTBUTTON, 40, 2, L"Second");
  HWND plain_check = make_box(parent, BS_CHECKBOX | BS_RIGHTBUTTON, 70, 3, L"Third");
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  ASSERT_NE(companion_of<TSkinRadioButton>(first), nullptr);
  ASSERT_NE(companion_of<TSkinRadioButton>(second), nullptr);
  ASSERT_NE(companion_of<TSkinCheckBox>(plain_check), nullptr);
  EXPECT_EQ(host.FindSkinControl(second)->kind(), Companion::radio_button);
  SendMessageW(first, BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_EQ(shown(first), radio_colour(2));
  EXPECT_EQ(shown(second, true), radio_colour(1));
  EXPECT_EQ(on_screen(second, kWidth - 14, 1), kFace) << "the strip cleared is on the right";

  SetCursorPos(centre_on_screen(second).x, centre_on_screen(second).y);
  SendMessageW(second, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(kWidth - 7, 10));
  SendMessageW(second, WM_LBUTTONUP, 0, MAKELPARAM(kWidth - 7, 10));
  EXPECT_EQ(SendMessageW(second, BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(first, BM_GETCHECK, 0, 0), BST_UNCHECKED) << "the group's other button lets go";
  EXPECT_EQ(shown(second, true), radio_colour(2));
  EXPECT_EQ(shown(first), radio_colour(1));

  // A check box that does not toggle itself only tells its parent.
  SendMessageW(plain_check, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(kWidth - 7, 10));
  SendMessageW(plain_check, WM_LBUTTONUP, 0, MAKELPARAM(kWidth - 7, 10));
  EXPECT_EQ(SendMessageW(plain_check, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(shown(plain_check, true), check_colour(1));
  EnableWindow(second, FALSE);
  EXPECT_EQ(shown(second, true), radio_colour(4)) << "disabled and checked";
  pump();
}

TEST_F(CheckBoxes, HundredTogglesKeepHandleCountsAndDestroyedBoxesLeaveNothing) {
  HWND parent = make_plain();
  HWND check = make_box(parent, BS_AUTOCHECKBOX, 10, 1);
  HWND radio = make_box(parent, BS_AUTORADIOBUTTON, 40, 2);
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  ASSERT_EQ(host.controls().size(), 2u);
  SetCursorPos(centre_on_screen(check).x, centre_on_screen(check).y);
  pump();
  const test::HandleCounts start;
  for (int i = 0; i < 100; ++i) {
    SendMessageW(check, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(6, 10));
    SendMessageW(check, WM_LBUTTONUP, 0, MAKELPARAM(6, 10));
    SendMessageW(radio, BM_SETCHECK, i % 2 ? BST_CHECKED : BST_UNCHECKED, 0);
    RedrawWindow(parent, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  pump();
  test::HandleCounts().expect_equal(start);
  EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), BST_UNCHECKED) << "an even number of clicks";
  EXPECT_EQ(shown(check), check_colour(1));

  TSkinControl* of_check = host.FindSkinControl(check);
  DestroyWindow(check);
  DestroyWindow(radio);
  EXPECT_EQ(of_check->state(), TSkinControl::gone);
  EXPECT_EQ(host.FindSkinControl(check), nullptr);
  EXPECT_EQ(host.FindSkinControl(radio), nullptr);
  host.SweepSkinControls();
  EXPECT_TRUE(host.controls().empty());
  pump();
  test::HandleCounts().expect_equal(start);
}

// ---------------------------------------------------------------------------
// Group boxes

// The size of a text in the control's font.
SIZE text_size(ui::WinControl& control, const std::wstring& text) {
  const paint::window_dc dc(control.handle());
  const HGDIOBJ previous = SelectObject(dc.get(), control.font());
  SIZE size{0, 0};
  GetTextExtentPoint32W(dc.get(), text.c_str(), int(text.size()), &size);
  SelectObject(dc.get(), previous);
  return size;
}

TEST_F(Companions, GroupBoxGetsARoundedShadowFrameBehindItsCaptionAndItsChildrenTheirCompanions) {
  auto owner = std::make_unique<ui::Component>(nullptr, "owner");
  auto* group = owner->make<ui::GroupBox>("GroupBox1");
  group->caption = "Sources";
  group->set_bounds(10, 10, 200, 120);
  group->set_parent(form_);
  auto* inside = group->make<ui::Button>("Button1");
  inside->set_bounds(20, 60, 80, 24);
  inside->set_parent(group);
  auto* bare = owner->make<ui::GroupBox>("GroupBox2");
  bare->set_bounds(220, 10, 150, 80);
  bare->set_parent(form_);
  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinChildren(*owner);
  ASSERT_NE(host.FindSkinControl(*group), nullptr);
  EXPECT_EQ(host.FindSkinControl(*group)->kind(), Companion::group_box);
  ASSERT_NE(host.FindSkinControl(*inside), nullptr) << "the group's own controls are visited";
  EXPECT_EQ(host.FindSkinControl(*inside)->kind(), Companion::button);
  RedrawWindow(form_->handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);

  HWND g = group->handle();
  // The frame starts half the height of "0" (less one pixel) below the top.
  const int top = text_size(*group, L"0").cy / 2 - 1;
  EXPECT_EQ(on_screen(g, 0, 60), kShadow) << "left edge";
  EXPECT_EQ(on_screen(g, 199, 60), kShadow) << "right edge";
  EXPECT_EQ(on_screen(g, 100, 119), kShadow) << "bottom edge";
  EXPECT_EQ(on_screen(g, 1, 60), kFace) << "the platform's second frame line is covered";
  EXPECT_EQ(on_screen(g, 100, 118), kFace);
  EXPECT_EQ(on_screen(g, 0, top), kFace) << "the corner is rounded";
  EXPECT_EQ(on_screen(g, 5, top), kShadow) << "the top edge before the caption";
  EXPECT_EQ(on_screen(g, 190, top), kShadow) << "and after it";
  const SIZE caption = text_size(*group, L"Sources");
  ASSERT_GT(caption.cx, 10);
  for (int x = 9; x < 9 + caption.cx; ++x)
    EXPECT_NE(on_screen(g, x, top), kShadow) << "the caption covers the line at " << x;

  // Without a caption the frame still starts half a line down, unbroken.
  HWND b = bare->handle();
  EXPECT_EQ(on_screen(b, 20, top), kShadow);
  EXPECT_EQ(on_screen(b, 20, top + 1), kFace);

  const test::HandleCounts start;
  for (int i = 0; i < 100; ++i) RedrawWindow(g, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
  test::HandleCounts().expect_equal(start);
  owner.reset();
  host.SweepSkinControls();
  EXPECT_TRUE(host.controls().empty()) << "destroyed groups and their children leave no companion";
  RedrawWindow(form_->handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

}  // namespace
}  // namespace clip::skin
