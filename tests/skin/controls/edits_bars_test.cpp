// Edits, combo boxes, up-down controls, status bars and progress bars
// skinned on real controls under Wine: which frame of which element each
// companion paints where (pixels read back), how the mouse, the keyboard
// focus and disabling change it, and what happens when the controls go
// while their companions are attached.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include "skin/controls/bars.h"
#include "skin/controls/companion_fixture.h"
#include "skin/controls/edits.h"
#include "skin/frame/message_recorder.h"
#include "skin/handle_counts.h"

namespace clip::skin {
namespace {

using test::pump;

HWND child_ex(HWND parent, DWORD ex_style, const wchar_t* cls, DWORD style, int x, int y, int w, int h) {
  return CreateWindowExW(ex_style, cls, L"", WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

void point_at(HWND hwnd, int x, int y) {
  POINT p{x, y};
  ClientToScreen(hwnd, &p);
  SetCursorPos(p.x, p.y);
}

class Edits : public Companions {
 protected:
  // A companion of class T attached by handle to `control`, listed with a
  // companion list of `parent` (a window the dispatch of dialogs does not
  // give such a companion).
  template <typename T>
  T* hooked(HWND parent, HWND control) {
    CompanionHost& host = host_ ? *host_ : host_for(parent, nullptr);
    auto* companion = new T;
    companion->HookWindow(control, *data_, host);
    return companion;
  }
};

// ---------------------------------------------------------------------------
// Edits and their up-down child

TEST_F(Edits, BorderedEditGetsTwoRingsAndItsUpDownChildACompanionOfItsOwn) {
  HWND parent = make_plain();
  HWND edit = child_ex(parent, WS_EX_CLIENTEDGE, WC_EDITW, ES_AUTOHSCROLL, 10, 10, 120, 24);
  HWND bare = child_ex(parent, 0, WC_EDITW, ES_AUTOHSCROLL, 10, 50, 120, 20);
  HWND spin = child_ex(edit, 0, UPDOWN_CLASSW, 0, 100, 0, 16, 20);
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  auto* skinned = companion_of<TSkinEdit>(edit);
  ASSERT_NE(skinned, nullptr);
  ASSERT_NE(companion_of<TSkinEdit>(bare), nullptr);

  const SIZE size = window_size(edit);
  const Picture picture(*skinned, edit);
  EXPECT_EQ(picture.at(0, 0), kShadow);
  EXPECT_EQ(picture.at(size.cx - 1, size.cy - 1), kShadow);
  EXPECT_EQ(picture.at(size.cx / 2, 1), RGB(255, 255, 255));
  repaint(edit);
  EXPECT_EQ(on_screen(edit, 0, size.cy / 2), kShadow) << "painted over the platform's sunken edge";
  EXPECT_EQ(on_screen(edit, 1, size.cy / 2), RGB(255, 255, 255));
  EXPECT_EQ(Picture(*companion_of<TSkinEdit>(bare), bare).at(0, 0), RGB(255, 255, 255))
      << "an edit without a border gets none";

  // A printed picture of the edit carries the border too.
  ui::gdi_object<HBITMAP> printed = paint::create_dib(size.cx, size.cy);
  {
    paint::memory_dc dc(printed.get());
    const RECT all{0, 0, size.cx, size.cy};
    const ui::gdi_object<HBRUSH> red(CreateSolidBrush(RGB(255, 0, 0)));
    FillRect(dc.get(), &all, red.get());
    SendMessageW(edit, WM_PRINT, reinterpret_cast<WPARAM>(dc.get()), PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND);
    EXPECT_EQ(GetPixel(dc.get(), 0, 0), kShadow);
    EXPECT_EQ(GetPixel(dc.get(), size.cx - 1, size.cy / 2), kShadow);
  }

  // The up-down control inside the edit was found at the first paint.
  TSkinUpDown* spinner = skinned->up_down();
  ASSERT_NE(spinner, nullptr);
  EXPECT_EQ(host.FindSkinControl(spin), spinner);
  EXPECT_TRUE(spinner->in_edit);
  const Picture arrows(*spinner, spin);
  EXPECT_EQ(arrows.at(0, 0), kFace) << "drawn one pixel inside";
  EXPECT_EQ(arrows.at(2, 2), updown_colour(1));
  EXPECT_EQ(arrows.at(2, 17), updown_colour(5));
  EXPECT_EQ(arrows.at(8, 5), updown_glyph_colour(1)) << "the glyph centred on the upper button";

  // The up-down goes first; the edit looks again and finds nothing.
  DestroyWindow(spin);
  host.SweepSkinControls();
  EXPECT_EQ(skinned->up_down(), nullptr);
  repaint(edit);
  EXPECT_EQ(on_screen(edit, 0, 0), kShadow);
}

// ---------------------------------------------------------------------------
// Up-down controls

TEST_F(Edits, UpDownPressedFaceFollowsThePointerBetweenItsHalves) {
  HWND parent = make_plain();
  HWND spin = child_ex(parent, 0, UPDOWN_CLASSW, 0, 40, 40, 18, 40);
  auto* arrows = hooked<TSkinUpDown>(parent, spin);
  const SIZE size = window_size(spin);
  const int upper = size.cy / 4, lower = size.cy * 3 / 4;

  point_at(spin, 8, upper);
  SendMessageW(spin, WM_MOUSEMOVE, 0, MAKELPARAM(8, upper));
  EXPECT_EQ(arrows->states(), std::make_pair(4, 1)) << "hot over the upper half";
  SendMessageW(spin, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, upper));
  EXPECT_EQ(arrows->states(), std::make_pair(2, 1));
  EXPECT_EQ(on_screen(spin, 2, 2), updown_colour(2));
  EXPECT_EQ(on_screen(spin, 2, size.cy - 3), updown_colour(5));
  // Held down, the pointer moves to the lower half: the press goes with it.
  point_at(spin, 8, lower);
  SendMessageW(spin, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(8, lower));
  EXPECT_EQ(arrows->states(), std::make_pair(1, 2));
  EXPECT_EQ(on_screen(spin, 2, 2), updown_colour(1));
  EXPECT_EQ(on_screen(spin, 2, size.cy - 3), updown_colour(6));
  SendMessageW(spin, WM_LBUTTONUP, 0, MAKELPARAM(8, lower));
  EXPECT_EQ(arrows->states(), std::make_pair(1, 4));
  EXPECT_EQ(on_screen(spin, 2, size.cy - 3), updown_colour(8));
  SendMessageW(spin, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(on_screen(spin, 2, size.cy - 3), updown_colour(5));

  EnableWindow(spin, FALSE);
  SendMessageW(spin, WM_MOUSEMOVE, 0, MAKELPARAM(8, lower));
  EXPECT_EQ(arrows->states(), std::make_pair(3, 3));
  const Picture disabled(*arrows, spin);
  EXPECT_EQ(disabled.at(2, 2), updown_colour(3));
  EXPECT_EQ(disabled.at(2, size.cy - 3), updown_colour(7));
}

TEST_F(Edits, UpDownWithoutItsElementsIsDrawnPlainlySideBySideWhenHorizontal) {
  data_ = make_skin({.updown = false});
  HWND parent = make_plain();
  HWND spin = child_ex(parent, 0, UPDOWN_CLASSW, UDS_HORZ, 40, 40, 40, 16);
  auto* arrows = hooked<TSkinUpDown>(parent, spin);
  const SIZE size = window_size(spin);
  point_at(spin, 5, 8);
  SendMessageW(spin, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 8));
  const Picture pressed(*arrows, spin);
  EXPECT_EQ(pressed.at(2, 2), kShadow) << "the pressed left button is filled with the shadow colour";
  EXPECT_EQ(pressed.at(size.cx - 3, 2), kFace) << "the right one stays normal";
  EXPECT_EQ(pressed.at(0, 0), GetSysColor(COLOR_3DDKSHADOW)) << "outlined";
  SendMessageW(spin, WM_LBUTTONUP, 0, MAKELPARAM(5, 8));
}

// ---------------------------------------------------------------------------
// Combo boxes

struct ComboProbe {
  ComboParts parts;
  int height;
};

ComboProbe probe(HWND combo) {
  const SIZE size = window_size(combo);
  const bool left = GetWindowLongPtrW(combo, GWL_EXSTYLE) & WS_EX_LEFTSCROLLBAR;
  return {combo_parts({0, 0, int(size.cx), int(size.cy)}, GetSystemMetrics(SM_CXHSCROLL), left), int(size.cy)};
}

// The frame (1 to 4) the box's picture shows, read at the sunken edge's
// corner and checked against its button.
int combo_frame(const Picture& p, const ComboProbe& c) {
  for (int f = 1; f <= 4; ++f)
    if (p.at(0, 0) == sunk_colour(f) && p.at(c.parts.button.right - 2, c.height / 2 - 4) == combo_colour(f, true))
      return f;
  return 0;
}

TEST_F(Edits, ComboBoxShowsTheFaceOfItsStateAndLeavesItsEditAreaAlone) {
  HWND parent = make_plain();
  HWND combo = child_ex(parent, 0, WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL, 10, 10, 140, 120);
  SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"镜像文件(*.IMG)"));
  SendMessageW(combo, CB_SETCURSEL, 0, 0);
  SetFocus(parent);
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  auto* box = companion_of<TSkinComBox>(combo);
  ASSERT_NE(box, nullptr);
  const ComboProbe c = probe(combo);

  const Picture normal(*box, combo);
  EXPECT_EQ(combo_frame(normal, c), 1);
  EXPECT_EQ(normal.at(c.parts.button.left + 1, c.height / 2 - 4), combo_colour(1, false));
  EXPECT_EQ(normal.at((c.parts.edit.left + c.parts.edit.right) / 2, c.height / 2), RGB(255, 255, 255))
      << "the edit area is the platform's";
  const Rect glyph = centred(c.parts.glyph, 6, 4);
  EXPECT_EQ(normal.at(glyph.left + 1, glyph.top + 1), glyph_colour(1)) << "the glyph centred in the button";
  repaint(combo);
  EXPECT_EQ(on_screen(combo, 0, 0), sunk_colour(1));
  EXPECT_EQ(on_screen(combo, c.parts.button.right - 2, c.height / 2 - 4), combo_colour(1, true));

  SendMessageW(combo, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(combo_frame(Picture(*box, combo), c), 4) << "hot";
  EXPECT_EQ(on_screen(combo, 0, 0), sunk_colour(4)) << "painted at once";
  SendMessageW(combo, WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(combo_frame(Picture(*box, combo), c), 1);
  SetFocus(combo);
  EXPECT_EQ(combo_frame(Picture(*box, combo), c), 4) << "focused";
  SendMessageW(combo, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(c.parts.button.left + 2, 5));
  EXPECT_EQ(combo_frame(Picture(*box, combo), c), 2) << "pressed";
  SendMessageW(combo, WM_LBUTTONUP, 0, MAKELPARAM(c.parts.button.left + 2, 5));
  SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
  // Pressed again, and released where another window has the capture.
  SendMessageW(combo, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(c.parts.button.left + 2, 5));
  EXPECT_EQ(combo_frame(Picture(*box, combo), c), 2);
  SetCapture(parent);
  ReleaseCapture();
  SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
  EXPECT_EQ(box->mouse() & TSkinControl::kPressed, 0) << "the press ends with the capture";
  SetFocus(parent);
  EXPECT_EQ(combo_frame(Picture(*box, combo), c), 1);

  EnableWindow(combo, FALSE);
  EXPECT_EQ(combo_frame(Picture(*box, combo), c), 3);
  SendMessageW(combo, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  SendMessageW(combo, ui::kMouseEnter, 0, 0);
  EXPECT_EQ(combo_frame(Picture(*box, combo), c), 3) << "the mouse does not wake a disabled box";
  EXPECT_EQ(box->mouse(), 0);
  pump();
}

TEST_F(Edits, ComboButtonOnTheLeftIsMirroredAndASkinWithoutGlyphsDrawsNone) {
  data_ = make_skin({.extra_images = false});
  HWND parent = make_plain();
  HWND combo = child_ex(parent, WS_EX_LEFTSCROLLBAR, WC_COMBOBOXW, CBS_DROPDOWNLIST, 10, 10, 140, 120);
  host_for(parent, nullptr).SkinChildWindows();
  auto* box = companion_of<TSkinComBox>(combo);
  ASSERT_NE(box, nullptr);
  const ComboProbe c = probe(combo);
  ASSERT_EQ(c.parts.button.left, 0);
  const Picture p(*box, combo);
  // Frame 1, mirrored: its left half is the picture's right half.
  EXPECT_EQ(p.at(1, c.height / 2 - 4), combo_colour(1, true));
  EXPECT_EQ(p.at(c.parts.button.right - 2, c.height / 2 - 4), combo_colour(1, false));
  const Rect glyph = centred(c.parts.glyph, 6, 4);
  EXPECT_NE(p.at(glyph.left + 1, glyph.top + 1), glyph_colour(1));
  EXPECT_EQ(p.at(c.parts.edit.right - 3, c.height / 2), RGB(255, 255, 255)) << "the edit area moved right";
}

TEST_F(Edits, SimpleComboButtonStyleCopiesTheButtonInsideAShadowFrame) {
  data_ = make_skin({.combo_style = 1});
  HWND parent = make_plain();
  HWND combo = child_ex(parent, 0, WC_COMBOBOXW, CBS_DROPDOWNLIST, 10, 10, 140, 120);
  host_for(parent, nullptr).SkinChildWindows();
  auto* box = companion_of<TSkinComBox>(combo);
  ASSERT_NE(box, nullptr);
  const SIZE size = window_size(combo);
  const Rect button = simple_combo_button({0, 0, int(size.cx), int(size.cy)}, GetSystemMetrics(SM_CYVTHUMB));
  const Picture p(*box, combo);
  EXPECT_EQ(p.at(0, 0), kShadow);
  EXPECT_EQ(p.at(button.left + 1, button.top + 1), combo_colour(1, false));
  EXPECT_EQ(p.at(button.right - 1, button.bottom - 1), combo_colour(1, true));
  EXPECT_NE(p.at(0, 0), sunk_colour(1)) << "no sunken edge in this style";
}

// ---------------------------------------------------------------------------
// Status bars

struct StatusFixture {
  HWND bar;
  RECT part[4];
};

StatusFixture status_bar(HWND parent, DWORD style) {
  StatusFixture s{child_ex(parent, 0, STATUSCLASSNAMEW, style | CCS_NORESIZE | CCS_NOPARENTALIGN, 0, 150, 300, 24), {}};
  int edges[4] = {70, 140, 210, -1};
  SendMessageW(s.bar, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(edges));
  SendMessageW(s.bar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L"\t扇区"));
  SendMessageW(s.bar, SB_SETTEXTW, 1 | SBT_POPOUT, reinterpret_cast<LPARAM>(L""));
  SendMessageW(s.bar, SB_SETTEXTW, 2 | SBT_NOBORDERS, reinterpret_cast<LPARAM>(L"x"));
  SendMessageW(s.bar, SB_SETTEXTW, 3 | SBT_OWNERDRAW, 0);
  for (int i = 0; i < 4; ++i) SendMessageW(s.bar, SB_GETRECT, i, reinterpret_cast<LPARAM>(&s.part[i]));
  return s;
}

TEST_F(Edits, StatusBarPanelsGetTheFrameOfTheirBevelAndTheGripItsPicture) {
  HWND parent = make_plain();
  const StatusFixture s = status_bar(parent, SBARS_SIZEGRIP);
  test::MessageRecorder parent_hears(parent, {WM_DRAWITEM});
  auto* companion = hooked<TSkinStatusBar>(parent, s.bar);
  const SIZE size = window_size(s.bar);

  const Picture p(*companion, s.bar);
  EXPECT_EQ(p.at(s.part[0].left, s.part[0].top), edge_colour(1)) << "lowered";
  EXPECT_EQ(p.at(s.part[1].left + 1, s.part[1].bottom - 1), edge_colour(2)) << "raised, framed with no text";
  EXPECT_EQ(p.at(s.part[2].left, s.part[2].top), edge_colour(3)) << "no bevel";
  EXPECT_EQ(p.at(size.cx - 2, size.cy - 2), glyph_colour(5)) << "frame 5 of the extra images is the grip";
  EXPECT_NE(p.at(size.cx - 1, size.cy - 1), glyph_colour(5)) << "one pixel inside the corner";

  repaint(s.bar);
  EXPECT_EQ(on_screen(s.bar, s.part[0].left, s.part[0].top), edge_colour(1));
  EXPECT_EQ(on_screen(s.bar, s.part[1].left, s.part[1].top), edge_colour(2));
  EXPECT_EQ(parent_hears.count(WM_DRAWITEM), 0u) << "the owner-drawn panel is the skin's too";
}

TEST_F(Edits, StatusBarWithoutEdgesOrGripPicturesGetsPlainBevelsAndNoGrip) {
  data_ = make_skin({.extra_images = false, .status_edges = false});
  HWND parent = make_plain();
  const StatusFixture s = status_bar(parent, SBARS_SIZEGRIP);
  auto* companion = hooked<TSkinStatusBar>(parent, s.bar);
  const SIZE size = window_size(s.bar);
  const Picture p(*companion, s.bar);
  const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_BTNHIGHLIGHT);
  EXPECT_EQ(p.at(s.part[0].left, s.part[0].top + 3), shadow) << "lowered: shadow on the left";
  EXPECT_EQ(p.at(s.part[0].right - 1, s.part[0].top + 3), light);
  EXPECT_EQ(p.at(s.part[1].left, s.part[1].top + 3), light) << "raised: the other way round";
  EXPECT_EQ(p.at(s.part[1].right - 1, s.part[1].top + 3), shadow);
  EXPECT_EQ(p.at(s.part[2].left, s.part[2].top + 3), kFace) << "no bevel, no frame";
  EXPECT_EQ(p.at(size.cx - 3, size.cy - 3), kFace) << "no grip picture, no grip";
}

// ---------------------------------------------------------------------------
// Progress bars

TEST_F(Edits, ProgressBarIsThePositionOverTheUpperLimitOfTheTrough) {
  HWND parent = make_plain();
  HWND bar = child_ex(parent, 0, PROGRESS_CLASSW, 0, 10, 100, 202, 16);
  auto* companion = hooked<TSkinProgress>(parent, bar);
  const SIZE size = window_size(bar);
  SendMessageW(bar, PBM_SETRANGE32, 50, 200);
  SendMessageW(bar, PBM_SETPOS, 100, 0);
  // The lower limit does not enter: 100 of 200 is half the width.
  const Picture half(*companion, bar);
  EXPECT_EQ(half.at(5, size.cy / 2), kBar);
  EXPECT_EQ(half.at(size.cx / 2 - 3, size.cy / 2), kBar);
  EXPECT_EQ(half.at(size.cx / 2 + 3, size.cy / 2), kTrough);
  repaint(bar);
  EXPECT_EQ(on_screen(bar, 5, size.cy / 2), kBar);
  EXPECT_EQ(on_screen(bar, size.cx - 5, size.cy / 2), kTrough);

  SendMessageW(bar, PBM_SETPOS, 200, 0);
  EXPECT_EQ(Picture(*companion, bar).at(size.cx - 5, size.cy / 2), kBar) << "full";
  SendMessageW(bar, PBM_SETRANGE32, 0, 0);
  EXPECT_EQ(Picture(*companion, bar).at(5, size.cy / 2), kTrough) << "an upper limit of 0 shows the trough only";
  SendMessageW(bar, PBM_SETRANGE32, 0, 100);
  SendMessageW(bar, PBM_SETPOS, 0, 0);
  EXPECT_EQ(Picture(*companion, bar).at(5, size.cy / 2), kTrough) << "so does position 0";

  // A vertical bar is left as the platform draws it.
  HWND standing = child_ex(parent, 0, PROGRESS_CLASSW, PBS_VERTICAL, 250, 10, 16, 120);
  SendMessageW(standing, PBM_SETPOS, 50, 0);
  const Picture upright(*hooked<TSkinProgress>(parent, standing), standing);
  EXPECT_EQ(upright.at(8, 100), RGB(255, 255, 255));
  EXPECT_EQ(upright.at(8, 10), RGB(255, 255, 255));
}

TEST_F(Edits, BlockProgressRepeatsTheChunkFromTheLeftMargin) {
  data_ = make_skin({.progress_style = 1});
  HWND parent = make_plain();
  HWND bar = child_ex(parent, 0, PROGRESS_CLASSW, 0, 10, 100, 200, 16);
  auto* companion = hooked<TSkinProgress>(parent, bar);
  SendMessageW(bar, PBM_SETRANGE32, 0, 100);
  SendMessageW(bar, PBM_SETPOS, 50, 0);
  const int y = window_size(bar).cy / 2;
  const Picture p(*companion, bar);
  constexpr int kLeft = 2;  // the element's left margin
  EXPECT_EQ(p.at(kLeft, y), kChunk);
  EXPECT_EQ(p.at(kLeft + kChunkWidth - 1, y), kTrough) << "the chunk's magenta column lets the trough through";
  EXPECT_EQ(p.at(kLeft + kChunkWidth, y), kChunk);
  EXPECT_EQ(p.at(kLeft + 100 + 3, y), kTrough) << "past the bar's 100 pixels";
}

// ---------------------------------------------------------------------------
// Track bars

// A track bar on the test form, skinned by the form's dispatch; answers its
// thumb's rectangle after a paint.
RECT skinned_track_bar(ui::Form& form, CompanionHost& host, ui::TrackBar*& bar) {
  bar = form.make<ui::TrackBar>("TrackBar1");
  bar->set_bounds(10, 10, 200, 40);
  bar->set_parent(&form);
  bar->set_range(0, 10);
  bar->set_position(5);
  host.SkinChildren(form);
  repaint(bar->handle());
  RECT thumb{};
  SendMessageW(bar->handle(), TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
  return thumb;
}

TEST_F(Edits, TrackBarThumbIsTheSkinsSecondFrameOverThePlatformsChannel) {
  ui::TrackBar* bar = nullptr;
  CompanionHost& host = host_for(form_->handle(), form_);
  const RECT thumb = skinned_track_bar(*form_, host, bar);
  TSkinControl* companion = host.FindSkinControl(bar->handle());
  ASSERT_NE(companion, nullptr);
  EXPECT_EQ(companion->kind(), Companion::track_bar);
  ASSERT_GT(thumb.right - thumb.left, 2);
  EXPECT_EQ(on_screen(bar->handle(), (thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2),
            thumb_colour(2));
  // Moved, the thumb is drawn at its new place.
  bar->set_position(9);
  repaint(bar->handle());
  RECT moved{};
  SendMessageW(bar->handle(), TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&moved));
  ASSERT_GT(moved.left, thumb.right);
  EXPECT_EQ(on_screen(bar->handle(), (moved.left + moved.right) / 2, (moved.top + moved.bottom) / 2),
            thumb_colour(2));
  EXPECT_NE(on_screen(bar->handle(), (thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2),
            thumb_colour(2));
}

TEST_F(Edits, TrackBarWithoutThumbPicturesOutlinesTheThumbInTheShadowColour) {
  data_ = make_skin({.track_thumb = false});
  ui::TrackBar* bar = nullptr;
  CompanionHost& host = host_for(form_->handle(), form_);
  const RECT thumb = skinned_track_bar(*form_, host, bar);
  ASSERT_NE(host.FindSkinControl(bar->handle()), nullptr);
  EXPECT_EQ(on_screen(bar->handle(), thumb.left, (thumb.top + thumb.bottom) / 2), kShadow);
  EXPECT_EQ(on_screen(bar->handle(), thumb.right - 1, (thumb.top + thumb.bottom) / 2), kShadow);
}

// ---------------------------------------------------------------------------
// Mapped classes

TEST_F(Edits, ClassMappedToAnEditGetsTheEditCompanionUnlessEditsAreSwitchedOff) {
  data_->Skin3rd = {"TMemo=edit"};
  auto* memo = form_->make<ui::Memo>("Memo1");
  memo->set_bounds(10, 10, 200, 80);
  memo->set_parent(form_);
  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinChildren(*form_);
  TSkinControl* companion = host.FindSkinControl(memo->handle());
  ASSERT_NE(companion, nullptr);
  EXPECT_EQ(companion->kind(), Companion::edit) << "the mapping wins over the memo's own row";
  repaint(memo->handle());
  EXPECT_EQ(on_screen(memo->handle(), 0, 20), kShadow);

  host_.reset();
  data_->SkinControls.remove(xcEdit);
  CompanionHost& without = host_for(form_->handle(), form_);
  without.SkinChildren(*form_);
  EXPECT_EQ(without.FindSkinControl(memo->handle()), nullptr) << "nor does the class table skin it";
}

// ---------------------------------------------------------------------------
// Lifetimes

TEST_F(Edits, ControlsDestroyedWhileAttachedLeaveNothingAndRepaintsLeakNothing) {
  HWND parent = make_plain();
  HWND edit = child_ex(parent, WS_EX_CLIENTEDGE, WC_EDITW, 0, 10, 10, 120, 24);
  child_ex(edit, 0, UPDOWN_CLASSW, 0, 100, 0, 16, 20);
  HWND combo = child_ex(parent, 0, WC_COMBOBOXW, CBS_DROPDOWN, 10, 40, 140, 120);
  HWND status = status_bar(parent, SBARS_SIZEGRIP).bar;
  HWND bar = child_ex(parent, 0, PROGRESS_CLASSW, 0, 10, 100, 200, 16);
  SendMessageW(bar, PBM_SETPOS, 30, 0);
  CompanionHost& host = host_for(parent, nullptr);
  host.SkinChildWindows();
  hooked<TSkinStatusBar>(parent, status);
  hooked<TSkinProgress>(parent, bar);
  repaint(parent);
  ASSERT_EQ(host.controls().size(), 5u) << "edit, its up-down, combo box, status bar, progress bar";

  const test::HandleCounts start;
  for (int i = 0; i < 100; ++i)
    RedrawWindow(parent, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  test::HandleCounts().expect_equal(start);

  for (HWND h : {edit, combo, status, bar}) DestroyWindow(h);
  for (const auto& c : host.controls()) EXPECT_EQ(c->state(), TSkinControl::gone) << companion_name(c->kind());
  host.SweepSkinControls();
  EXPECT_TRUE(host.controls().empty());
  repaint(parent);
}

}  // namespace
}  // namespace clip::skin
