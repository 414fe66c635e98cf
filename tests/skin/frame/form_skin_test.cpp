#include "skin/frame/form_skin.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "skin/data/archive.h"
#include "skin/data/skin_win.h"
#include "skin/frame/message_recorder.h"
#include "skin/paint/paint_win.h"
#include "ui/window_sizes.h"

namespace clip::skin {
namespace {

using clip::test::client_size;
using clip::test::window_size;

using test::Expected;
using test::MessageRecorder;

// ---------------------------------------------------------------------------
// A hand-made skin of exact sizes: left 4, caption 30, right 4, bottom 4.
// Frame 1 of every border is the active look, frame 2 the inactive one; the
// side borders have 3 x 3 magenta top corners when `cut_corners` is set.

constexpr uint32_t kLeftActive = 0x0000C0, kLeftInactive = 0x00C000;
constexpr uint32_t kTopActive = 0x4040A0, kTopInactive = 0x808080;
constexpr uint32_t kCloseNormal = 0xC00000, kClosePressed = 0x800000, kCloseHot = 0xFF4040;
constexpr uint32_t kMagenta = 0xFF00FF;

struct SkinOptions {
  bool cut_corners = true;
  bool bottom_cut = false;  // magenta bottom row in the middle of the bottom border
  bool empty_borders = false;
  int text_alignment = 0;
  bool system_menu_skinned = true;
};

std::vector<uint8_t> bmp(int w, int h, const std::function<uint32_t(int, int)>& colour) {
  Pixels24 p(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.set_rgb(x, y, colour(x, y));
  return save_bmp24(p);
}

std::vector<uint8_t> text_bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::unique_ptr<TSkinData> make_skin(const SkinOptions& o = {}) {
  std::string ini =
      "[Personality]\r\n"
      "Left=left.bmp\r\nLeftTopHeight=30\r\nLeftBotHeight=4\r\nLeftFrame=2\r\nLeftStretch=1\r\n"
      "Right=right.bmp\r\nRightTopHeight=30\r\nRightBotHeight=4\r\nRightFrame=2\r\nRightStretch=1\r\n"
      "Top=top.bmp\r\nTopTopHeight=0\r\nTopBotHeight=0\r\nTopFrame=2\r\nTopStretch=1\r\nTopTrans=0\r\n"
      "Bottom=bottom.bmp\r\nBottomTopHeight=4\r\nBottomBotHeight=4\r\nBottomFrame=2\r\nBottomStretch=1\r\n";
  ini += std::string("LeftTrans=") + (o.cut_corners ? "1" : "0") + "\r\nRightTrans=" + (o.cut_corners ? "1" : "0") +
         "\r\nBottomTrans=" + (o.bottom_cut ? "1" : "0") + "\r\n";
  ini += "TextShift=17\r\nTextRightClip=55\r\nTextAlignment=" + std::to_string(o.text_alignment) + "\r\n";
  ini +=
      "[Colours]\r\nTitleTextActive=255 255 255\r\nTitleTextNoActive=1 2 3\r\nButtonFace=232 232 232\r\n"
      "[Button1]\r\nButtonImage=close.bmp\r\nAction=0\r\nAlign=1\r\nXcoord=20\r\nYcoord=2\r\nVisibility=0\r\n"
      "frame=3\r\n"
      "[Button2]\r\nButtonImage=max.bmp\r\nAction=1\r\nAlign=1\r\nXcoord=40\r\nYcoord=2\r\nVisibility=6\r\n"
      "frame=3\r\n"
      "[Button3]\r\nAction=3\r\nAlign=0\r\nXcoord=5\r\nYcoord=3\r\nVisibility=0\r\n";
  const int side_w = o.empty_borders ? 0 : 8;
  auto side = [&](bool left) {
    return bmp(side_w, 100, [&](int x, int y) {
      const int fx = x % 4;
      const bool corner = o.cut_corners && y < 3 && (left ? fx < 3 : fx >= 1);
      if (corner) return kMagenta;
      return x < 4 ? kLeftActive : kLeftInactive;
    });
  };
  std::vector<ArchiveEntry> entries{
      {"d.ini", text_bytes(ini)},
      {"left.bmp", side(true)},
      {"right.bmp", side(false)},
      {"top.bmp", bmp(40, o.empty_borders ? 0 : 60, [](int, int y) { return y < 30 ? kTopActive : kTopInactive; })},
      {"bottom.bmp", bmp(40, o.empty_borders ? 0 : 8,
                         [&](int x, int y) { return o.bottom_cut && (y % 4) == 3 && x > 10 && x < 30 ? kMagenta : 0x202060u; })},
      {"close.bmp", bmp(48, 14, [](int x, int) { return x < 16 ? kCloseNormal : x < 32 ? kClosePressed : kCloseHot; })},
      {"max.bmp", bmp(48, 14, [](int, int) { return 0x00A0A0u; })},
  };
  const std::vector<uint8_t> stream = pack_skin_stream(entries).value();
  std::vector<uint8_t> property(4);
  const auto n = uint32_t(stream.size());
  for (int i = 0; i < 4; ++i) property[size_t(i)] = uint8_t(n >> (8 * i));
  property.insert(property.end(), stream.begin(), stream.end());
  auto data = std::make_unique<TSkinData>();
  EXPECT_TRUE(data->read_skin_stream_property(property));
  if (!o.system_menu_skinned) data->SkinControls.remove(xcSystemMenu);
  return data;
}

// ---------------------------------------------------------------------------
// Test windows: a class whose procedure is the default one.

constexpr DWORD kFixedStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

HWND make_window(DWORD style = kFixedStyle, int w = 300, int h = 200, HWND owner = nullptr, DWORD ex_style = 0) {
  static const bool registered = [] {
    WNDCLASSEXW wc{sizeof(wc)};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"FrameTestWindow";
    return RegisterClassExW(&wc) != 0;
  }();
  EXPECT_TRUE(registered);
  return CreateWindowExW(ex_style, L"FrameTestWindow", L"Frame test", style, 40, 40, w, h, owner, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// The client area's top-left corner relative to the window's.
POINT client_origin(HWND hwnd) {
  RECT w{};
  GetWindowRect(hwnd, &w);
  POINT p{0, 0};
  ClientToScreen(hwnd, &p);
  return {p.x - w.left, p.y - w.top};
}

void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

// Whether a message for hwnd is waiting in the queue (left there).
bool posted(HWND hwnd, UINT msg, WPARAM wparam = 0, bool check_wparam = false) {
  MSG m;
  if (!PeekMessageW(&m, hwnd, msg, msg, PM_NOREMOVE)) return false;
  return !check_wparam || (m.wParam & 0xFFF0) == wparam;
}
void drop_posted(HWND hwnd) {
  MSG m;
  while (PeekMessageW(&m, hwnd, 0, 0, PM_REMOVE)) {
  }
}

struct Skinned {
  HWND hwnd;
  std::unique_ptr<WindowSkin> owner;
  TFormSkin* skin;
};

// Attaches and starts the skin as the skin manager would.
std::unique_ptr<WindowSkin> attach_and_start(HWND hwnd, TSkinData& data) {
  std::unique_ptr<WindowSkin> skin = attach_form_skin(hwnd, nullptr, data);
  if (skin) SendMessageW(hwnd, kSkinStartMessage, 0, 1000);
  return skin;
}

TFormSkin& as_form_skin(const std::unique_ptr<WindowSkin>& s) { return *static_cast<TFormSkin*>(s.get()); }

// A window-sized memory surface the frame can be painted onto and read back.
struct Surface {
  ui::gdi_object<HBITMAP> bitmap;
  uint32_t* bits = nullptr;
  int width, height;
  HDC dc;
  HGDIOBJ previous;
  explicit Surface(HWND hwnd) {
    const SIZE s = window_size(hwnd);
    width = s.cx;
    height = s.cy;
    bitmap = paint::create_dib(width, height, &bits);
    dc = CreateCompatibleDC(nullptr);
    previous = SelectObject(dc, bitmap.get());
  }
  ~Surface() {
    SelectObject(dc, previous);
    DeleteDC(dc);
  }
  uint32_t at(int x, int y) const {
    GdiFlush();
    return bits[size_t(y) * size_t(width) + size_t(x)] & 0xFFFFFF;
  }
  // The rightmost column in rows [top, bottom) holding the colour, or -1.
  int rightmost(uint32_t colour, int top, int bottom) const {
    GdiFlush();
    int found = -1;
    for (int y = top; y < bottom; ++y)
      for (int x = 0; x < width; ++x)
        if ((bits[size_t(y) * size_t(width) + size_t(x)] & 0xFFFFFF) == colour) found = std::max(found, x);
    return found;
  }
};

class FormSkinTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { paint::start_painting(); }
  static void TearDownTestSuite() { paint::stop_painting(); }
  void TearDown() override {
    for (HWND h : windows_)
      if (IsWindow(h)) DestroyWindow(h);
    pump();
  }
  HWND window(DWORD style = kFixedStyle, int w = 300, int h = 200, HWND owner = nullptr) {
    HWND hwnd = make_window(style, w, h, owner);
    windows_.push_back(hwnd);
    return hwnd;
  }
  std::vector<HWND> windows_;
};

// ---------------------------------------------------------------------------
// The frame arithmetic.

TEST(FrameGeometry, CaptionButtonVisibilityFollowsTheWindowsBoxesAndMenu) {
  TDataSkinSysButton close("BUTTON1");
  close.Action = 0;
  close.Visibility = 0;
  ButtonFacts facts;
  EXPECT_TRUE(title_button_visible(close, facts));
  facts.system_menu = false;
  EXPECT_FALSE(title_button_visible(close, facts)) << "no close button without a system menu";
  facts.system_menu = true;
  facts.kind = FrameKind::plain;
  EXPECT_FALSE(title_button_visible(close, facts)) << "visibility 0 needs an edged frame";

  TDataSkinSysButton max("BUTTON2");
  max.Action = 1;
  max.Visibility = 6;
  for (int second : {0, 6, 200}) {
    max.Visibility1 = second;
    ButtonFacts no_box;
    no_box.maximize_box = false;
    EXPECT_FALSE(title_button_visible(max, no_box)) << "Visibility1 " << second;
    EXPECT_TRUE(title_button_visible(max, ButtonFacts{})) << "Visibility1 " << second;
  }
  // A minimize action without a minimize box never shows, whatever its rule.
  TDataSkinSysButton min("BUTTON3");
  min.Action = 2;
  min.Visibility = 300;
  ButtonFacts no_min;
  no_min.minimize_box = false;
  EXPECT_FALSE(title_button_visible(min, no_min));
  EXPECT_TRUE(title_button_visible(min, ButtonFacts{}));

  TDataSkinSysButton state("BUTTON4");
  state.Action = 5;
  state.Visibility = 1;  // maximized only
  ButtonFacts maximized;
  maximized.show = ShowState::maximized;
  EXPECT_TRUE(title_button_visible(state, maximized));
  EXPECT_FALSE(title_button_visible(state, ButtonFacts{}));
  state.Visibility = 4;  // inactive only
  ButtonFacts inactive;
  inactive.active = false;
  EXPECT_TRUE(title_button_visible(state, inactive));
  EXPECT_FALSE(title_button_visible(state, ButtonFacts{}));
  state.Visibility = 12;
  EXPECT_FALSE(title_button_visible(state, ButtonFacts{})) << "unknown rules hide";
}

TEST(FrameGeometry, RightAlignedButtonsCountFromTheRightEdge) {
  TDataSkinSysButton a("A"), b("B"), c("C");
  a.Align = b.Align = 1;
  a.Xcoord = 30;
  b.Xcoord = 55;
  ButtonPlace at;
  at.window_width = 400;
  int rightmost = 0;
  EXPECT_EQ(place_title_button(a, 16, 14, at, rightmost), Rect::sized(370, 0, 16, 14));
  EXPECT_EQ(place_title_button(b, 16, 14, at, rightmost), Rect::sized(345, 0, 16, 14));
  EXPECT_EQ(rightmost, 370);
  // Left of and right of the caption text.
  at.caption_text = {100, 5, 200, 20};
  c.Align = 2;
  c.Xcoord = 3;
  c.Ycoord = 4;
  EXPECT_EQ(place_title_button(c, 16, 14, at, rightmost), Rect::sized(100 - 16 - 3, 4, 16, 14));
  c.Align = 9;
  EXPECT_EQ(place_title_button(c, 16, 14, at, rightmost), Rect::sized(203, 4, 16, 14));
  EXPECT_EQ(rightmost, 370) << "only right-aligned buttons move the rightmost edge";
  EXPECT_EQ(place_title_button(c, 0, 14, at, rightmost), std::nullopt) << "no picture, no place";
}

TEST(FrameGeometry, CaptionTextIsShiftedCentredOrRightAlignedAndClipped) {
  TDataSkinTitle t("Personality");
  t.LeftWidth = 17;   // TextShift
  t.RightWidth = 55;  // TextRightClip
  CaptionPlace at;
  at.area = {4, 0, 396, 30};
  at.text_width = 100;
  at.text_height = 14;
  EXPECT_EQ(place_caption_text(t, at), Rect::sized(21, 8, 100, 14));
  t.TextAlignment = 1;
  EXPECT_EQ(place_caption_text(t, at), Rect::sized(4 + (392 - 100) / 2, 8, 100, 14));
  t.TextAlignment = 2;
  EXPECT_EQ(place_caption_text(t, at), Rect::sized(4 + 392 - 55 - 100, 8, 100, 14));
  t.TextAlignment = 1;
  at.right_to_left = true;
  EXPECT_EQ(place_caption_text(t, at).left, 4 + 392 - 55 - 100) << "right to left always aligns right";
  at.right_to_left = false;
  t.TextAlignment = 0;
  at.text_width = 1000;
  EXPECT_EQ(place_caption_text(t, at).right, 396 - 55) << "a long caption stops before the buttons";
  // The plate's caps widen the text rectangle.
  at.text_width = 100;
  t.TXTBackleft = 6;
  t.TXTBackRight = 9;
  EXPECT_EQ(place_caption_text(t, at).width(), 115);
}

TEST(FrameGeometry, RegionPartsCutOnlyTransparentBordersTallerThanOnePixel) {
  SkinElements e;
  FrameMetrics m{4, 30, 4, 4, 0};
  EXPECT_TRUE(region_parts(300, 200, m, e, FrameKind::edged).empty()) << "no transparent border, whole window";
  e.Bottom->Trans = 1;
  const std::vector<RegionPart> parts = region_parts(300, 200, m, e, FrameKind::edged);
  ASSERT_EQ(parts.size(), 5u);
  EXPECT_EQ(parts[0], (RegionPart{{4, 30, 296, 196}, std::nullopt})) << "the inside";
  EXPECT_EQ(parts[3], (RegionPart{{4, 196, 296, 200}, Border::bottom}));
  EXPECT_EQ(parts[4], (RegionPart{{4, 0, 296, 30}, std::nullopt})) << "an opaque caption bar is a plain rectangle";
  e.Top->Trans = 1;
  m.caption = 1;
  m.bottom = 1;
  for (const RegionPart& p : region_parts(300, 200, m, e, FrameKind::edged))
    EXPECT_FALSE(p.from_bitmap) << "one-pixel caption and bottom are plain rectangles";
}

TEST(FrameGeometry, FramePointsOutsideTheTopRowsAreCaptionMenuOrBorder) {
  const FrameMetrics m{4, 23, 4, 4, 19};
  EXPECT_EQ(classify_frame_point(50, 2, 300, m), FrameHit::nowhere);
  EXPECT_EQ(classify_frame_point(50, 10, 300, m), FrameHit::caption);
  EXPECT_EQ(classify_frame_point(50, 23, 300, m), FrameHit::menu) << "just below the caption bar";
  EXPECT_EQ(classify_frame_point(50, 41, 300, m), FrameHit::menu);
  EXPECT_EQ(classify_frame_point(50, 42, 300, m), FrameHit::border);
  EXPECT_EQ(classify_frame_point(1, 30, 300, m), FrameHit::border) << "the left border beside the menu bar";
  EXPECT_EQ(frame_kind(WS_POPUP | WS_BORDER, 0), FrameKind::captionless);
  EXPECT_EQ(frame_kind(WS_POPUP | WS_CAPTION, 0), FrameKind::plain);
  EXPECT_EQ(frame_kind(WS_OVERLAPPED | WS_THICKFRAME, 0), FrameKind::edged);
}

TEST(FrameGeometry, OurSkinGivesAFourPixelBorderAndA23PixelCaption) {
  TSkinData data;
  ASSERT_TRUE(load_skin_stream_resource(data));
  EXPECT_TRUE(skin_can_frame(data.elements()));
  EXPECT_EQ(frame_metrics(data.elements(), FrameKind::edged, 19), (FrameMetrics{4, 23, 4, 4, 19}));
  EXPECT_EQ(frame_metrics(data.elements(), FrameKind::captionless, 19), FrameMetrics{});
}

// ---------------------------------------------------------------------------
// Attaching, starting and removing the skin, message by message. The
// recorder sits under the skin and sees what the skin passes on.

TEST_F(FormSkinTest, AttachStripsTheCaptionAndStartSizesTheFrameAroundTheClient) {
  auto data = make_skin();
  HWND hwnd = window();
  const SIZE client_before = client_size(hwnd);
  MessageRecorder rec(hwnd, {WM_STYLECHANGING, WM_STYLECHANGED, WM_WINDOWPOSCHANGING, WM_NCCALCSIZE,
                             WM_WINDOWPOSCHANGED, WM_SIZE, WM_NCPAINT, WM_NCACTIVATE, kSkinStartMessage});
  std::unique_ptr<WindowSkin> skin = attach_form_skin(hwnd, nullptr, *data);
  ASSERT_TRUE(skin);
  EXPECT_EQ(test::compare_sequence(rec.log(), {{WM_STYLECHANGING, Expected::wparam, WPARAM(GWL_STYLE)},
                                               {WM_STYLECHANGED, Expected::wparam, WPARAM(GWL_STYLE)}}),
            "");
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CAPTION, 0) << "an unowned window loses its caption style";
  EXPECT_EQ(SendMessageW(hwnd, kSkinQueryMessage, 0, 0), 1);

  rec.clear();
  SendMessageW(hwnd, kSkinStartMessage, 0, 1000);
  // The start message and the painting stay with the skin; the size change
  // and the frame calculation go on (calculated first by the default). The
  // client size does not change, so WM_SIZE need not come; setting the
  // region recalculates the frame once more.
  EXPECT_EQ(test::compare_sequence(rec.log(), {{WM_WINDOWPOSCHANGING},
                                               {WM_NCCALCSIZE, Expected::wparam, TRUE},
                                               {WM_WINDOWPOSCHANGED},
                                               {WM_SIZE, Expected::optional},
                                               {WM_WINDOWPOSCHANGING},
                                               {WM_NCCALCSIZE, Expected::wparam, TRUE},
                                               {WM_WINDOWPOSCHANGED}}),
            "");
  EXPECT_EQ(skin->skin_state(), WindowSkin::skinned);
  const SIZE client = client_size(hwnd);
  EXPECT_EQ(client.cx, client_before.cx);
  EXPECT_EQ(client.cy, client_before.cy);
  EXPECT_EQ(window_size(hwnd).cx, client_before.cx + 8);
  EXPECT_EQ(window_size(hwnd).cy, client_before.cy + 34);
  EXPECT_TRUE(as_form_skin(skin).hover_timer_running());
}

TEST_F(FormSkinTest, ActivationPaintsTheFrameWithoutTheDefaultAndStopsTheHoverTimer) {
  auto data = make_skin();
  HWND hwnd = window();
  MessageRecorder rec(hwnd, {WM_NCACTIVATE, WM_ACTIVATE, WM_NCPAINT});
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  TFormSkin& s = as_form_skin(skin);
  rec.clear();
  EXPECT_EQ(SendMessageW(hwnd, WM_NCACTIVATE, FALSE, 0), 1);
  EXPECT_FALSE(s.active());
  EXPECT_FALSE(s.hover_timer_running());
  EXPECT_EQ(SendMessageW(hwnd, WM_NCACTIVATE, TRUE, 0), 1);
  EXPECT_TRUE(s.hover_timer_running());
  SendMessageW(hwnd, WM_NCPAINT, 1, 0);
  EXPECT_EQ(test::compare_sequence(rec.log(), {}), "") << "non-client activation and painting are the skin's";
  SendMessageW(hwnd, WM_ACTIVATE, WA_INACTIVE, 0);
  EXPECT_FALSE(s.active());
  EXPECT_EQ(test::compare_sequence(rec.log(), {{WM_ACTIVATE, Expected::wparam, WA_INACTIVE}}), "");
}

TEST_F(FormSkinTest, ClientRectangleAndHitTestsFollowTheSkinFrame) {
  auto data = make_skin();
  HWND hwnd = window();
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  SetWindowPos(hwnd, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  const POINT origin = client_origin(hwnd);
  EXPECT_EQ(origin.x, 4);
  EXPECT_EQ(origin.y, 30);
  EXPECT_EQ(client_size(hwnd).cx, 292);
  EXPECT_EQ(client_size(hwnd).cy, 166);

  RECT w{};
  GetWindowRect(hwnd, &w);
  auto hit = [&](int x, int y) { return SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(w.left + x, w.top + y)); };
  EXPECT_EQ(hit(150, 2), HTNOWHERE) << "the top rows";
  EXPECT_EQ(hit(150, 10), HTCAPTION);
  EXPECT_EQ(hit(150, 100), HTCLIENT);
  EXPECT_EQ(hit(1, 100), HTBORDER);
}

TEST_F(FormSkinTest, UnskinRestoresStylesFrameSizeMenuAndRegion) {
  auto data = make_skin();
  HWND hwnd = window();
  HMENU menu = CreateMenu();
  AppendMenuW(menu, MF_STRING, 100, L"&File");
  SetMenu(hwnd, menu);
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  const SIZE window_before = window_size(hwnd), client_before = client_size(hwnd);
  const auto proc_before = GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  TFormSkin& s = as_form_skin(skin);
  EXPECT_TRUE(s.owns_region());
  ui::gdi_object<HRGN> probe(CreateRectRgn(0, 0, 0, 0));
  EXPECT_NE(GetWindowRgn(hwnd, probe.get()), ERROR);

  skin->UnskinWindow();
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWL_STYLE), style);
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_WNDPROC), proc_before);
  EXPECT_EQ(GetMenu(hwnd), menu);
  EXPECT_EQ(window_size(hwnd).cx, window_before.cx);
  EXPECT_EQ(window_size(hwnd).cy, window_before.cy);
  EXPECT_EQ(client_size(hwnd).cx, client_before.cx);
  EXPECT_EQ(client_size(hwnd).cy, client_before.cy);
  EXPECT_EQ(GetWindowRgn(hwnd, probe.get()), ERROR) << "no region left";
  EXPECT_FALSE(s.owns_region());
  EXPECT_EQ(SendMessageW(hwnd, kSkinQueryMessage, 0, 0), 0);
  skin.reset();  // freeing an unskinned skin touches nothing
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWL_STYLE), style);
}

TEST_F(FormSkinTest, OwnedWindowsKeepTheirCaptionStyleAndLoseTheirBoxes) {
  auto data = make_skin();
  HWND owner = window();
  HWND hwnd = window(WS_POPUP | WS_CAPTION | WS_SYSMENU, 300, 200, owner);
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_SYSMENU, 0);
  TFormSkin& s = as_form_skin(skin);
  s.PaintFrame();
  ASSERT_GE(s.title_buttons().size(), 3u);
  EXPECT_TRUE(s.title_buttons()[0]->enabled) << "the close button stays: the window had a system menu";
  EXPECT_FALSE(s.title_buttons()[1]->enabled) << "no maximize box, no maximize button";
  skin->UnskinWindow();
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWL_STYLE), style);
}

TEST_F(FormSkinTest, RegionCutsMagentaCornersAndIsRebuiltOnResizeButNotOnMove) {
  auto data = make_skin();
  HWND hwnd = window();
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  TFormSkin& s = as_form_skin(skin);
  ui::gdi_object<HRGN> region(CreateRectRgn(0, 0, 0, 0));
  ASSERT_NE(GetWindowRgn(hwnd, region.get()), ERROR);
  const SIZE size = window_size(hwnd);
  EXPECT_FALSE(PtInRegion(region.get(), 0, 0)) << "cut top-left corner";
  EXPECT_FALSE(PtInRegion(region.get(), size.cx - 1, 0)) << "cut top-right corner";
  EXPECT_TRUE(PtInRegion(region.get(), 3, 3));
  EXPECT_TRUE(PtInRegion(region.get(), size.cx / 2, 0)) << "the opaque caption bar";
  EXPECT_TRUE(PtInRegion(region.get(), size.cx / 2, size.cy / 2));
  EXPECT_TRUE(PtInRegion(region.get(), 0, size.cy - 1));

  const int builds = s.region_builds();
  SetWindowPos(hwnd, nullptr, 120, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(s.region_builds(), builds) << "moving keeps the region";
  SetWindowPos(hwnd, nullptr, 0, 0, 360, 240, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(s.region_builds(), builds + 1) << "resizing rebuilds it";
  ASSERT_NE(GetWindowRgn(hwnd, region.get()), ERROR);
  EXPECT_FALSE(PtInRegion(region.get(), 359, 0));
  EXPECT_TRUE(PtInRegion(region.get(), 355, 239));
}

TEST_F(FormSkinTest, OnlyATransparentBottomBorderShapesTheBottomEdge) {
  SkinOptions o;
  o.cut_corners = false;
  o.bottom_cut = true;
  auto data = make_skin(o);
  HWND hwnd = window();
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  ui::gdi_object<HRGN> region(CreateRectRgn(0, 0, 0, 0));
  ASSERT_NE(GetWindowRgn(hwnd, region.get()), ERROR);
  const SIZE size = window_size(hwnd);
  EXPECT_TRUE(PtInRegion(region.get(), 0, 0));
  EXPECT_FALSE(PtInRegion(region.get(), size.cx / 2, size.cy - 1)) << "the magenta bottom row";
  EXPECT_TRUE(PtInRegion(region.get(), size.cx / 2, size.cy - 2));
  EXPECT_TRUE(PtInRegion(region.get(), 5, size.cy - 1)) << "the bottom-left end is opaque";
}

TEST_F(FormSkinTest, InactiveWindowsArePaintedFromTheSecondFrame) {
  auto data = make_skin();
  HWND hwnd = window();
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  TFormSkin& s = as_form_skin(skin);
  SendMessageW(hwnd, WM_NCACTIVATE, TRUE, 0);
  Surface active(hwnd);
  s.PaintFrame(active.dc);
  EXPECT_EQ(active.at(1, 100), kLeftActive);
  EXPECT_EQ(active.at(150, 1), kTopActive);
  EXPECT_EQ(active.at(active.width - 20 + 8, 2 + 7), kCloseNormal) << "the close button, resting";
  SendMessageW(hwnd, WM_NCACTIVATE, FALSE, 0);
  Surface inactive(hwnd);
  s.PaintFrame(inactive.dc);
  EXPECT_EQ(inactive.at(1, 100), kLeftInactive);
  EXPECT_EQ(inactive.at(150, 1), kTopInactive);
  EXPECT_EQ(inactive.rightmost(0xFFFFFF, 0, 30), -1) << "no text in the active colour";
  EXPECT_NE(inactive.rightmost(0x010203, 0, 30), -1) << "the caption in the inactive colour";
}

TEST_F(FormSkinTest, LongCaptionsAreCutBeforeTheButtonsAndNewCaptionsShow) {
  auto data = make_skin();
  HWND hwnd = window();
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  TFormSkin& s = as_form_skin(skin);
  SendMessageW(hwnd, WM_NCACTIVATE, TRUE, 0);
  SetWindowTextW(hwnd, L"A");
  EXPECT_EQ(s.caption(), L"A");
  Surface short_caption(hwnd);
  s.PaintFrame(short_caption.dc);
  const int short_right = short_caption.rightmost(0xFFFFFF, 0, 30);
  EXPECT_GT(short_right, 21) << "text starts after the shift";

  const std::wstring long_text(200, L'W');
  SetWindowTextW(hwnd, long_text.c_str());
  EXPECT_EQ(s.caption(), long_text);
  Surface long_caption(hwnd);
  s.PaintFrame(long_caption.dc);
  const int limit = long_caption.width - 4 - 55;
  const int long_right = long_caption.rightmost(0xFFFFFF, 0, 30);
  EXPECT_GT(long_right, short_right) << "the new caption shows";
  EXPECT_LT(long_right, limit) << "the caption ends before the clip edge";
  EXPECT_GT(long_right, limit - 20) << "and fills the caption up to it";
}

TEST_F(FormSkinTest, CaptionButtonsSitAtTheirSkinPlacesAndActOnRelease) {
  auto data = make_skin();
  HWND hwnd = window();
  MessageRecorder rec(hwnd, {WM_NCLBUTTONDOWN, WM_NCLBUTTONUP, WM_NCMOUSEMOVE});
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  TFormSkin& s = as_form_skin(skin);
  SendMessageW(hwnd, WM_NCACTIVATE, TRUE, 0);
  drop_posted(hwnd);
  const int W = window_size(hwnd).cx;
  ASSERT_EQ(s.title_buttons().size(), 6u) << "three skin buttons and three MDI controls";
  const TWinSysButton& close = *s.title_buttons()[0];
  EXPECT_EQ(close.rect.left, W - 20);
  EXPECT_EQ(close.rect.top, 2);
  EXPECT_EQ(close.rect.right - close.rect.left, 16);
  EXPECT_EQ(s.title_buttons()[1]->rect.left, W - 40);
  EXPECT_EQ(s.rightmost_left_edge(), W - 20);
  EXPECT_EQ(s.title_buttons()[2]->rect.left, 5) << "the icon button";
  EXPECT_FALSE(s.title_buttons()[3]->enabled) << "MDI controls stay hidden";

  RECT w{};
  GetWindowRect(hwnd, &w);
  auto at = [&](const TWinSysButton& b, int dx = 0) {
    return MAKELPARAM(w.left + b.rect.left + 4 + dx, w.top + b.rect.top + 4);
  };
  rec.clear();
  SendMessageW(hwnd, WM_NCMOUSEMOVE, HTCAPTION, at(close));
  EXPECT_EQ(s.hot_object(), &close);
  EXPECT_EQ(close.state, TNCObject::hot);
  SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, at(close));
  EXPECT_EQ(close.state, TNCObject::pressed);
  EXPECT_FALSE(posted(hwnd, WM_CLOSE)) << "pressing does nothing yet";
  SendMessageW(hwnd, WM_NCLBUTTONUP, HTCAPTION, at(close));
  EXPECT_TRUE(posted(hwnd, WM_CLOSE)) << "releasing on the close button posts WM_CLOSE";
  EXPECT_FALSE(s.hover_timer_running()) << "closing stops the hover timer";
  EXPECT_EQ(test::compare_sequence(rec.log(), {}), "") << "button clicks are consumed";
  drop_posted(hwnd);

  // Pressed, moved off and released elsewhere: no action.
  const TWinSysButton& max = *s.title_buttons()[1];
  SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, at(max));
  SendMessageW(hwnd, WM_NCMOUSEMOVE, HTCAPTION, MAKELPARAM(w.left + 150, w.top + 10));
  EXPECT_EQ(s.hot_object(), nullptr);
  EXPECT_EQ(max.state, TNCObject::normal);
  SendMessageW(hwnd, WM_NCLBUTTONUP, HTCAPTION, MAKELPARAM(w.left + 150, w.top + 10));
  EXPECT_FALSE(posted(hwnd, WM_SYSCOMMAND));
  EXPECT_EQ(test::compare_sequence(rec.log(), {{WM_NCMOUSEMOVE}, {WM_NCLBUTTONUP}}), "")
      << "away from the buttons the mouse goes on";

  SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, at(max));
  SendMessageW(hwnd, WM_NCLBUTTONUP, HTCAPTION, at(max));
  EXPECT_TRUE(posted(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, true));
  EXPECT_EQ(s.show_state(), ShowState::maximized) << "set before the command runs";
  drop_posted(hwnd);
}

TEST_F(FormSkinTest, MaximizedWindowsAreNotDraggedAndRestoreOnDoubleClick) {
  auto data = make_skin();
  HWND hwnd = window();
  MessageRecorder rec(hwnd, {WM_NCLBUTTONDOWN, WM_NCLBUTTONDBLCLK});
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  TFormSkin& s = as_form_skin(skin);
  SendMessageW(hwnd, WM_NCACTIVATE, TRUE, 0);
  drop_posted(hwnd);
  s.ToggleMaximize();
  ASSERT_TRUE(posted(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, true));
  // The command is dropped: the show state alone says maximized.
  drop_posted(hwnd);
  EXPECT_EQ(s.show_state(), ShowState::maximized);
  RECT w{};
  GetWindowRect(hwnd, &w);
  const LPARAM caption = MAKELPARAM(w.left + 150, w.top + 10);
  rec.clear();
  SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, caption);
  EXPECT_EQ(test::compare_sequence(rec.log(), {{WM_NCLBUTTONDOWN, Expected::wparam, HTMENU}}), "")
      << "a caption press of a maximized window goes on as a menu press";
  drop_posted(hwnd);
  rec.clear();
  SendMessageW(hwnd, WM_NCLBUTTONDBLCLK, HTCAPTION, caption);
  EXPECT_TRUE(posted(hwnd, WM_SYSCOMMAND, SC_RESTORE, true));
  EXPECT_EQ(s.show_state(), ShowState::normal);
  EXPECT_EQ(test::compare_sequence(rec.log(), {}), "") << "the double click is not passed on";
  drop_posted(hwnd);
  SendMessageW(hwnd, WM_NCLBUTTONDBLCLK, HTCAPTION, caption);
  EXPECT_TRUE(posted(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, true)) << "a normal window with a maximize box maximizes";
  drop_posted(hwnd);
}

TEST_F(FormSkinTest, SystemMenuOpensOnTheCaptionAndADoubleRightClickCloses) {
  auto data = make_skin();
  HWND hwnd = window();
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  TFormSkin& s = as_form_skin(skin);
  drop_posted(hwnd);
  std::vector<HMENU> shown;
  s.set_menu_tracker([&](HMENU menu, POINT, UINT) {
    shown.push_back(menu);
    return 0u;
  });
  RECT w{};
  GetWindowRect(hwnd, &w);
  const LPARAM caption = MAKELPARAM(w.left + 150, w.top + 10);
  SendMessageW(hwnd, WM_NCRBUTTONDOWN, HTCAPTION, caption);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], s.system_menu_popup()) << "the skin's own system menu";
  EXPECT_EQ(GetMenuItemCount(shown[0]), 5) << "restore, maximize, minimize, separator, close";
  EXPECT_NE(GetMenuState(shown[0], TFormSkin::kSystemMenuBase + 0, MF_BYCOMMAND) & MF_GRAYED, 0u)
      << "restore is off for a normal window";
  EXPECT_FALSE(posted(hwnd, WM_CLOSE));
  SendMessageW(hwnd, WM_NCRBUTTONDOWN, HTCAPTION, caption);
  EXPECT_EQ(shown.size(), 1u) << "the second click within the double-click time closes instead";
  EXPECT_TRUE(posted(hwnd, WM_CLOSE));
  drop_posted(hwnd);

  s.set_menu_tracker([](HMENU, POINT, UINT) { return TFormSkin::kSystemMenuBase + 2; });
  Sleep(GetDoubleClickTime() + 50);
  SendMessageW(hwnd, WM_NCRBUTTONDOWN, HTCAPTION, caption);
  EXPECT_TRUE(posted(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, true)) << "choosing Minimize";
  drop_posted(hwnd);
}

TEST_F(FormSkinTest, WithoutTheSkinnedSystemMenuTheWindowsOneIsShownAndItsCommandsRun) {
  SkinOptions o;
  o.system_menu_skinned = false;
  auto data = make_skin(o);
  HWND hwnd = window();
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  TFormSkin& s = as_form_skin(skin);
  drop_posted(hwnd);
  HMENU tracked = nullptr;
  s.set_menu_tracker([&](HMENU menu, POINT, UINT) {
    tracked = menu;
    return UINT(SC_MOVE);
  });
  RECT w{};
  GetWindowRect(hwnd, &w);
  SendMessageW(hwnd, WM_NCRBUTTONDOWN, HTCAPTION, MAKELPARAM(w.left + 150, w.top + 10));
  EXPECT_EQ(tracked, GetSystemMenu(hwnd, FALSE));
  EXPECT_TRUE(posted(hwnd, WM_SYSCOMMAND, SC_MOVE, true)) << "Move starts the keyboard move";
  drop_posted(hwnd);
  // A system command chosen from a menu as WM_COMMAND becomes WM_SYSCOMMAND.
  SendMessageW(hwnd, WM_COMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(posted(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, true));
  drop_posted(hwnd);
}

// ---------------------------------------------------------------------------
// Damaged skins, dead windows and handle counts.

TEST_F(FormSkinTest, MissingOrDamagedSkinsLeaveTheStandardFrame) {
  HWND hwnd = window();
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  const SIZE window_before = window_size(hwnd);
  TSkinData not_ready;
  EXPECT_EQ(attach_form_skin(hwnd, nullptr, not_ready), nullptr);
  EXPECT_EQ(attach_form_skin(nullptr, nullptr, not_ready), nullptr);

  SkinOptions o;
  o.empty_borders = true;
  auto empty = make_skin(o);
  EXPECT_EQ(attach_form_skin(nullptr, nullptr, *empty), nullptr);
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *empty);
  ASSERT_TRUE(skin);
  EXPECT_FALSE(as_form_skin(skin).frame_skinning());
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWL_STYLE), style);
  EXPECT_EQ(window_size(hwnd).cx, window_before.cx);
  EXPECT_EQ(window_size(hwnd).cy, window_before.cy);
  EXPECT_EQ(SendMessageW(hwnd, kSkinQueryMessage, 0, 0), 1);
  EXPECT_EQ(attach_form_skin(hwnd, nullptr, *empty), nullptr) << "one skin per window";
  skin->UnskinWindow();

  HWND gone = make_window();
  DestroyWindow(gone);
  auto data = make_skin();
  EXPECT_EQ(attach_form_skin(gone, nullptr, *data), nullptr);
}

TEST_F(FormSkinTest, DestroyedWindowsFinishTheirSkinAndFreeingItLaterIsSafe) {
  auto data = make_skin();
  HWND hwnd = make_window();
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  DestroyWindow(hwnd);
  EXPECT_EQ(skin->skin_state(), WindowSkin::finished);
  skin->UnskinWindow();
  skin->repaint();
  skin.reset();
}

TEST_F(FormSkinTest, ASubclassOnTopSurvivesTheSkinsRemoval) {
  auto data = make_skin();
  HWND hwnd = window();
  MessageRecorder below(hwnd, {WM_USER + 7});
  std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
  ASSERT_TRUE(skin);
  MessageRecorder above(hwnd, {WM_USER + 7, kSkinQueryMessage});
  skin->UnskinWindow();
  skin.reset();
  SendMessageW(hwnd, WM_USER + 7, 0, 0);
  EXPECT_EQ(above.count(WM_USER + 7), 1u);
  EXPECT_EQ(below.count(WM_USER + 7), 1u) << "the chain under the skin is intact";
  EXPECT_EQ(SendMessageW(hwnd, kSkinQueryMessage, 0, 0), 0) << "and the skin is gone from it";
}

TEST_F(FormSkinTest, HandleCountsReturnToTheStartAfterAttachAndDetachCycles) {
  auto data = make_skin();
  HWND hwnd = window();
  const int bitmaps = ui::gdi_object<HBITMAP>::live_count();
  const int regions = ui::gdi_object<HRGN>::live_count();
  const int brushes = ui::gdi_object<HBRUSH>::live_count();
  const int fonts = ui::gdi_object<HFONT>::live_count();
  const int menus = unique_menu::live_count();
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<WindowSkin> skin = attach_and_start(hwnd, *data);
    ASSERT_TRUE(skin);
    TFormSkin& s = as_form_skin(skin);
    SendMessageW(hwnd, WM_NCACTIVATE, i % 2, 0);
    SetWindowPos(hwnd, nullptr, 0, 0, 320 + i * 10, 220, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    s.PaintFrame();
    s.PaintTitleButton(*s.title_buttons()[0], TNCObject::hot);
    skin->UnskinWindow();
  }
  {
    HWND doomed = make_window();
    std::unique_ptr<WindowSkin> skin = attach_and_start(doomed, *data);
    DestroyWindow(doomed);
  }
  EXPECT_EQ(ui::gdi_object<HBITMAP>::live_count(), bitmaps);
  EXPECT_EQ(ui::gdi_object<HRGN>::live_count(), regions);
  EXPECT_EQ(ui::gdi_object<HBRUSH>::live_count(), brushes);
  EXPECT_EQ(ui::gdi_object<HFONT>::live_count(), fonts);
  EXPECT_EQ(unique_menu::live_count(), menus);
}

}  // namespace
}  // namespace clip::skin
