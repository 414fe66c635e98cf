// Shared by the Wine tests of the control companions: a test skin of solid
// frames (each painted part can be told by its colour), a picture of what a
// companion paints, plain windows standing in for system dialogs, and the
// fixture that owns a test form and a companion list.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "skin/controls/skin_control.h"
#include "skin/data/archive.h"
#include "skin/paint/paint_win.h"
#include "ui/controls.h"
#include "ui/message_pump.h"

namespace clip::skin {

// ---------------------------------------------------------------------------
// A test skin of solid frames, so each painted part can be told by its colour.

inline COLORREF button_colour(int frame, int shade = 0) { return RGB(20 * frame, 60 + shade, 90); }
inline COLORREF arrow_colour(int frame) { return RGB(5 * frame, 150, 40); }
inline constexpr COLORREF kTrack = RGB(10, 200, 200), kThumb = RGB(200, 30, 30), kThumbPressed = RGB(120, 20, 20);
inline constexpr COLORREF kHeader = RGB(30, 160, 60), kFace = RGB(200, 200, 200), kHoverText = RGB(250, 5, 5);
inline constexpr COLORREF kGrey = RGB(128, 128, 128), kShadow = RGB(90, 100, 110);

inline uint32_t rgb_of(COLORREF c) { return uint32_t(GetRValue(c)) << 16 | uint32_t(GetGValue(c)) << 8 | GetBValue(c); }

inline std::vector<uint8_t> strip(int frame_w, int frame_h, int frames, bool vertical_frames,
                           const std::function<COLORREF(int)>& colour) {
  Pixels24 p(vertical_frames ? frame_w : frame_w * frames, vertical_frames ? frame_h * frames : frame_h);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const int frame = (vertical_frames ? y / frame_h : x / frame_w) + 1;
      p.set_rgb(x, y, rgb_of(colour(frame)));
    }
  return save_bmp24(p);
}

inline std::vector<uint8_t> text_bytes(const std::string& s) { return {s.begin(), s.end()}; }

// The pictures of check boxes and radio buttons: four 13 x 13 frames, each
// of one colour but for a magenta (transparent) top-left pixel.
inline COLORREF check_colour(int frame) { return RGB(240, 30 * frame, 20); }
inline COLORREF radio_colour(int frame) { return RGB(20, 30 * frame, 240); }

inline std::vector<uint8_t> box_strip(const std::function<COLORREF(int)>& colour) {
  constexpr int kSide = 13, kFrames = 4;
  Pixels24 p(kSide * kFrames, kSide);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < p.width; ++x)
      p.set_rgb(x, y, x % kSide == 0 && y == 0 ? 0xFF00FFu : rgb_of(colour(x / kSide + 1)));
  return save_bmp24(p);
}

// The pictures of edits, combo boxes, up-down controls, status bars and
// progress bars: each frame of one colour, so a pixel tells which frame of
// which element was drawn.
inline COLORREF sunk_colour(int frame) { return RGB(230, 20 * frame, 120); }
// The combo button's two halves differ, so a mirrored picture shows.
inline COLORREF combo_colour(int frame, bool right_half) { return RGB(40 * frame, right_half ? 180 : 220, 30); }
inline COLORREF glyph_colour(int frame) { return RGB(250, 250, 10 * frame); }
inline COLORREF updown_colour(int frame) { return RGB(100, 25 * frame, 200); }
inline COLORREF updown_glyph_colour(int frame) { return RGB(10, 25 * frame, 10); }
inline COLORREF edge_colour(int frame) { return RGB(60, 60 * frame, 200); }
inline constexpr COLORREF kTrough = RGB(10, 10, 60), kBar = RGB(250, 160, 0), kChunk = RGB(0, 200, 100);
inline constexpr int kChunkWidth = 6;
inline COLORREF thumb_colour(int frame) { return RGB(30 * frame, 90, 250); }
// Tab faces: each frame of one colour but for its top four rows (the top
// margin, the tab's outer edge), so a turned or flipped face shows, and a
// magenta (transparent) top-left pixel. The page
// border's top five rows are marked the same way.
inline COLORREF tab_colour(int frame) { return RGB(70, 30 * frame, 30); }
inline COLORREF tab_edge_colour(int frame) { return RGB(170, 30 * frame, 30); }
inline constexpr COLORREF kBorderEdge = RGB(255, 120, 0), kBorderRest = RGB(0, 90, 255);
inline constexpr COLORREF kTabText = RGB(1, 2, 3), kSelectedTabText = RGB(4, 5, 6);

struct SkinParts {
  bool buttons = true;
  bool header = true;
  int shade = 0;  // moves the button faces' colours
  bool combo = true;
  int combo_style = 0;
  bool extra_images = true;
  bool updown = true;
  bool status_edges = true;
  int progress_style = 0;
  bool track_thumb = true;
  bool tabs = true;
  bool tab_border = true;
};

inline std::vector<uint8_t> skin_property(SkinParts parts) {
  std::string ini =
      "[Colours]\r\nButtonFace=200 200 200\r\nButtonText=0 0 0\r\nScrollbar=240 240 240\r\nButtonShadow=90 100 110\r\n"
      "[Scrollbar]\r\nImage=sb.bmp\r\n"
      "[HorzScroll]\r\nImage=htrack.bmp\r\nLeftWidth=1\r\nRightWidth=1\r\nTopHeight=1\r\nBottomHeight=1\r\n"
      "[VertScroll]\r\nImage=vtrack.bmp\r\nLeftWidth=1\r\nRightWidth=1\r\nTopHeight=1\r\nBottomHeight=1\r\n"
      "[HorzScrollThumb]\r\nImage=hthumb.bmp\r\nFrameCount=3\r\n"
      "[VertScrollThumb]\r\nImage=vthumb.bmp\r\nFrameCount=3\r\n";
  ini += std::string("[Buttons]\r\nBitmap=") + (parts.buttons ? "buttons.bmp" : "") +
         "\r\nCheckButton=check.bmp\r\nRadioButton=radio.bmp"
         "\r\nLeftWidth=2\r\nRightWidth=2\r\nTopHeight=2\r\nBottomHeight=2\r\nMouseOverColour2=250 5 5\r\n";
  if (parts.header) ini += "[Headerbar]\r\nImage=header.bmp\r\nLeftWidth=2\r\nRightWidth=2\r\n";
  if (parts.combo)
    ini += "[SunkEdge]\r\nImage=sunk.bmp\r\nLeftWidth=2\r\nRightWidth=2\r\nTopHeight=2\r\nBottomHeight=2\r\n"
           "[ComboButton]\r\nImage=combo.bmp\r\nStyle=" + std::to_string(parts.combo_style) + "\r\n";
  if (parts.extra_images) ini += "[ExtraImages]\r\nImage=extra.bmp\r\n";
  if (parts.updown)
    ini += "[UpDown.Vert]\r\nImage=updown.bmp\r\nGlyphImage=updglyph.bmp\r\nFrameCount=8\r\n"
           "[UpDown.Horz]\r\nImage=updown.bmp\r\nFrameCount=8\r\n";
  if (parts.status_edges)
    ini += "[StatusBarEdges]\r\nImage=edges.bmp\r\nLeftWidth=2\r\nRightWidth=2\r\nTopHeight=2\r\nBottomHeight=2"
           "\r\nNormalColour2=250 5 5\r\n";
  ini += "[Progress]\r\nBitmap=progress.bmp\r\nChunk=chunk.bmp\r\nLeftWidth=2\r\nRightWidth=2\r\nTopHeight=2"
         "\r\nBottomHeight=2\r\nStyle=" + std::to_string(parts.progress_style) + "\r\n";
  if (parts.track_thumb) ini += "[Trackbar.ThumbHorz]\r\nImage=thumbh.bmp\r\n";
  if (parts.tabs)
    ini += std::string("[Tabs]\r\nImage=tabs.bmp\r\nBorder=") + (parts.tab_border ? "tabborder.bmp" : "") +
           "\r\nLeftWidth=3\r\nRightWidth=3\r\nTopHeight=4\r\nBottomHeight=3\r\nNormalColour2=1 2 3"
           "\r\nMouseOverColour2=4 5 6\r\n";
  Pixels24 tabs(12 * 5, 12);
  for (int y = 0; y < tabs.height; ++y)
    for (int x = 0; x < tabs.width; ++x)
      tabs.set_rgb(x, y, x % 12 == 0 && y == 0 ? 0xFF00FFu
                                               : rgb_of(y < 4 ? tab_edge_colour(x / 12 + 1) : tab_colour(x / 12 + 1)));
  Pixels24 tab_border(12, 12);
  for (int y = 0; y < tab_border.height; ++y)
    for (int x = 0; x < tab_border.width; ++x) tab_border.set_rgb(x, y, rgb_of(y < 5 ? kBorderEdge : kBorderRest));
  Pixels24 combo(48, 12);
  for (int y = 0; y < combo.height; ++y)
    for (int x = 0; x < combo.width; ++x) combo.set_rgb(x, y, rgb_of(combo_colour(x / 12 + 1, x % 12 >= 6)));
  // The chunk's last column is magenta: the gaps between blocks show the trough.
  Pixels24 chunk(kChunkWidth, 8);
  for (int y = 0; y < chunk.height; ++y)
    for (int x = 0; x < chunk.width; ++x) chunk.set_rgb(x, y, x == kChunkWidth - 1 ? 0xFF00FFu : rgb_of(kChunk));
  const auto thumb = [](int f) { return f == 1 ? kThumb : f == 2 ? kThumbPressed : kGrey; };
  const auto track = [](int f) { return f == 1 ? kTrack : kGrey; };
  std::vector<ArchiveEntry> entries{
      {"d.ini", text_bytes(ini)},
      {"sb.bmp", strip(16, 16, 23, false, arrow_colour)},
      {"htrack.bmp", strip(20, 16, 4, false, track)},
      {"vtrack.bmp", strip(16, 40, 4, false, track)},
      {"hthumb.bmp", strip(20, 16, 3, false, thumb)},
      {"vthumb.bmp", strip(16, 40, 3, false, thumb)},
      {"buttons.bmp", strip(10, 10, 5, false, [&](int f) { return button_colour(f, parts.shade); })},
      {"header.bmp", strip(10, 10, 5, false, [](int f) { return f == 1 ? kHeader : kGrey; })},
      {"check.bmp", box_strip(check_colour)},
      {"radio.bmp", box_strip(radio_colour)},
      {"sunk.bmp", strip(8, 8, 4, false, sunk_colour)},
      {"combo.bmp", save_bmp24(combo)},
      {"extra.bmp", strip(6, 4, 5, false, glyph_colour)},
      {"updown.bmp", strip(8, 8, 8, false, updown_colour)},
      {"updglyph.bmp", strip(3, 3, 8, false, updown_glyph_colour)},
      {"edges.bmp", strip(8, 8, 3, false, edge_colour)},
      // The block style's picture is the trough alone.
      {"progress.bmp", strip(8, 8, parts.progress_style == 1 ? 1 : 2, false,
                             [](int f) { return f == 1 ? kTrough : kBar; })},
      {"chunk.bmp", save_bmp24(chunk)},
      {"thumbh.bmp", strip(10, 20, 5, false, thumb_colour)},
      {"tabs.bmp", save_bmp24(tabs)},
      {"tabborder.bmp", save_bmp24(tab_border)},
  };
  const std::vector<uint8_t> stream = pack_skin_stream(entries).value();
  std::vector<uint8_t> property;
  property.reserve(4 + stream.size());
  for (int i = 0; i < 4; ++i) property.push_back(uint8_t(stream.size() >> (8 * i)));
  property.insert(property.end(), stream.begin(), stream.end());
  return property;
}

inline std::unique_ptr<TSkinData> make_skin(SkinParts parts = {}) {
  auto data = std::make_unique<TSkinData>();
  EXPECT_TRUE(data->read_skin_stream_property(skin_property(parts)));
  return data;
}

// ---------------------------------------------------------------------------
// What a companion paints, composed into a bitmap of the window's size.

class Picture {
 public:
  Picture(TSkinControl& companion, HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    width_ = r.right - r.left;
    height_ = r.bottom - r.top;
    bitmap_ = paint::create_dib(width_, height_, &bits_);
    paint::memory_dc dc(bitmap_.get());
    RECT all{0, 0, width_, height_};
    ui::gdi_object<HBRUSH> white(CreateSolidBrush(RGB(255, 255, 255)));
    FillRect(dc.get(), &all, white.get());
    companion.Redraw(dc.get());
  }
  COLORREF at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
    const uint32_t v = bits_[size_t(y) * size_t(width_) + size_t(x)];
    return RGB(v >> 16 & 255, v >> 8 & 255, v & 255);
  }

 private:
  int width_ = 0, height_ = 0;
  uint32_t* bits_ = nullptr;
  ui::gdi_object<HBITMAP> bitmap_;
};

// What a window shows on screen at a point of its own (window coordinates).
inline COLORREF on_screen(HWND hwnd, int x, int y) {
  const paint::window_dc dc(hwnd);
  return GetPixel(dc.get(), x, y);
}

inline SIZE window_size(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return {r.right - r.left, r.bottom - r.top};
}

// Repaints the window and everything in it now, frames included.
inline void repaint(HWND hwnd) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// A top-level window of a plain class, as a system dialog is to the skin.
inline HWND plain_window(int w = 320, int h = 200) {
  static const bool registered = [] {
    WNDCLASSEXW wc{sizeof(wc)};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"CompanionTestWindow";
    return RegisterClassExW(&wc) != 0;
  }();
  EXPECT_TRUE(registered);
  HWND hwnd = CreateWindowExW(0, L"CompanionTestWindow", L"plain", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 30, 30, w, h,
                              nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  return hwnd;
}

inline HWND child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id) {
  return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                         reinterpret_cast<HMENU>(INT_PTR(id)), GetModuleHandleW(nullptr), nullptr);
}

// Whether a WM_COMMAND for the button is waiting for `parent` (it is taken).
inline bool command_posted(HWND parent, HWND button) {
  MSG m;
  if (!PeekMessageW(&m, parent, WM_COMMAND, WM_COMMAND, PM_REMOVE)) return false;
  return LOWORD(m.wParam) == GetDlgCtrlID(button) && HIWORD(m.wParam) == BN_CLICKED &&
         m.lParam == reinterpret_cast<LPARAM>(button);
}

inline POINT centre_on_screen(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// Tests on skinned controls: the common controls registered and the work
// bitmap of the painting routines made for the whole suite.
class PaintingTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    paint::start_painting();
  }
  static void TearDownTestSuite() { paint::stop_painting(); }
};

class Companions : public PaintingTest {
 protected:
  void SetUp() override {
    data_ = make_skin();
    ASSERT_FALSE(data_->not_ready());
    form_ = root_.make<ui::Form>("TestForm");
    form_->client_width = 420;
    form_->client_height = 320;
    ASSERT_TRUE(form_->create());
    form_->show();
  }
  void TearDown() override {
    host_.reset();
    for (HWND w : plain_) DestroyWindow(w);
    test::pump();
  }
  CompanionHost& host_for(HWND window, ui::Form* form) {
    host_ = std::make_unique<CompanionHost>(window, *data_, nullptr, form);
    return *host_;
  }
  HWND make_plain() {
    plain_.push_back(plain_window());
    return plain_.back();
  }
  template <typename T>
  T* companion_of(HWND hwnd) {
    return host_ ? dynamic_cast<T*>(host_->FindSkinControl(hwnd)) : nullptr;
  }

  std::unique_ptr<TSkinData> data_;
  ui::Component root_{nullptr, "root"};
  ui::Form* form_ = nullptr;
  std::unique_ptr<CompanionHost> host_;
  std::vector<HWND> plain_;
};

}  // namespace clip::skin
