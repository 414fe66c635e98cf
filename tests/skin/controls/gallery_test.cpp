// The gallery form skinned by the skin manager with the program's skin: each
// control gets the companion its kind calls for, repainting everything 100
// times holds no handle, and switching the skin off and on takes every
// companion away and brings it back. With the full test skin the same holds,
// and the pictures only that skin has are read back where they are drawn.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include "skin/controls/companion_fixture.h"
#include "skin/controls/control_geometry.h"
#include "skin/controls/gallery.h"
#include "skin/controls/skin_control.h"
#include "skin/controls/edits.h"
#include "skin/controls/tabs.h"
#include "skin/frame/form_skin.h"
#include "skin/handle_counts.h"
#include "skin/manager/skin_manager.h"
#include "skingen/test_skin.h"
#include "ui/message_pump.h"

namespace clip::test {
namespace {

using skin::Companion;

class Gallery : public skin::PaintingTest {
 protected:
  // The skin file the gallery takes; none for the program's skin.
  virtual std::string skin_file() const { return {}; }

  void SetUp() override {
    gallery_ = root_.make<TGalleryForm>(skin_file());
    ASSERT_TRUE(gallery_->build());
    ASSERT_FALSE(gallery_->SkinData1.not_ready()) << "the skin loads: " << skin_file();
    gallery_->SkinData1.OnSkinChanged = [this](skin::TSkinData&) { ++changes_; };
    skin::TSkinManager::create().set_window_skin_factory(skin::attach_form_skin);
    skin::Loaded(gallery_->SkinData1, gallery_);
    gallery_->show();
    SetForegroundWindow(gallery_->handle());
    SetActiveWindow(gallery_->handle());
    ASSERT_TRUE(pump_until([&] { return host() != nullptr && host()->skinned(); }));
    pump_until([] { return false; }, 100);
  }
  void TearDown() override {
    skin::TSkinManager::destroy();
    pump();
  }
  skin::CompanionHost* host() const { return gallery_->companions(); }
  Companion kind_of(HWND hwnd) const {
    skin::TSkinControl* c = host() ? host()->FindSkinControl(hwnd) : nullptr;
    return c ? c->kind() : Companion::none;
  }
  void repaint_all() const {
    RedrawWindow(gallery_->handle(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }

  // Repaints the whole gallery 100 times holding no handle, then switches the
  // skin off (every companion goes) and on (every kind has its own again).
  void repaints_hold_no_handle_and_switching_restores_every_kind() {
    repaint_all();
    const size_t skinned = host()->controls().size();
    ASSERT_GE(skinned, gallery_->controls().size());
    const HandleCounts start;
    for (int i = 0; i < 100; ++i) repaint_all();
    HandleCounts().expect_equal(start);

    ASSERT_NO_FATAL_FAILURE(switch_skin(false));
    ASSERT_NO_FATAL_FAILURE(switch_skin(true));
    EXPECT_EQ(host()->controls().size(), skinned);
    for (ui::WinControl* c : gallery_->controls()) EXPECT_NE(kind_of(c->handle()), Companion::none) << c->name();
  }
  void switch_skin(bool on) {
    const int before = changes_;
    skin::SetActive(gallery_->SkinData1, on);
    ASSERT_TRUE(pump_until([&] { return changes_ == before + 1 && (host() != nullptr) == on; }));
    repaint_all();
  }

  ui::Component root_{nullptr, "root"};
  TGalleryForm* gallery_ = nullptr;
  int changes_ = 0;
};

TEST_F(Gallery, EveryControlGetsTheCompanionOfItsKind) {
  TGalleryForm& g = *gallery_;
  const std::pair<ui::WinControl*, Companion> expected[] = {
      {g.Button1, Companion::button},        {g.Button2, Companion::button},
      {g.GroupBox1, Companion::group_box},   {g.CheckBox1, Companion::check_box},
      {g.CheckBox2, Companion::check_box},   {g.CheckBox3, Companion::check_box},
      {g.RadioButton1, Companion::radio_button}, {g.RadioButton3, Companion::radio_button},
      {g.Edit1, Companion::edit},            {g.Edit2, Companion::edit},
      {g.Edit3, Companion::edit},            {g.ComboBox1, Companion::combo_box},
      {g.ComboBox2, Companion::combo_box},   {g.ComboBox3, Companion::combo_box},
      {g.ProgressBar1, Companion::progress}, {g.ProgressBar3, Companion::progress},
      {g.TrackBar1, Companion::track_bar},   {g.UpDown1, Companion::up_down},
      {g.UpDown2, Companion::up_down},       {g.StatusBar1, Companion::status_bar},
      {g.TabControl1, Companion::tab},       {g.TabControl2, Companion::tab},
      {g.TabControl3, Companion::tab},       {g.PageControl1, Companion::tab},
      {g.TabSet1, Companion::tab31},
  };
  for (const auto& [control, kind] : expected)
    EXPECT_EQ(kind_of(control->handle()), kind) << control->name();
  EXPECT_EQ(kind_of(g.EditSpin), Companion::up_down) << "found by its edit when painted";
}

TEST_F(Gallery, TabsOnEverySideAndTheArrowsOfRowsTooLongAreSkinned) {
  TGalleryForm& g = *gallery_;
  const std::pair<ui::TabControl*, skin::TabSide> sides[] = {{g.TabControl1, skin::TabSide::top},
                                                             {g.TabControl2, skin::TabSide::bottom},
                                                             {g.TabControl3, skin::TabSide::left},
                                                             {g.PageControl1, skin::TabSide::right}};
  for (const auto& [control, side] : sides) {
    auto* tab = dynamic_cast<skin::TSkinTab*>(host()->FindSkinControl(control->handle()));
    ASSERT_NE(tab, nullptr) << control->name();
    EXPECT_EQ(tab->side(), side) << control->name();
  }
  repaint_all();
  auto* top = dynamic_cast<skin::TSkinTab*>(host()->FindSkinControl(g.TabControl1->handle()));
  ASSERT_NE(top->up_down(), nullptr) << "six tabs don't fit: the arrows show and are skinned";
  EXPECT_TRUE(IsWindowVisible(top->up_down()->handle()));
  ASSERT_TRUE(g.TabSet1->arrows()->visible()) << "the long tab set shows its arrows";
  EXPECT_EQ(kind_of(g.TabSet1->arrows()->handle()), Companion::up_down);
}

TEST_F(Gallery, HundredRepaintsHoldNoHandleAndTheSkinGoesOffAndComesBackWithEveryKind) {
  repaints_hold_no_handle_and_switching_restores_every_kind();
}

// The gallery with the full test skin, whose optional pictures are solid
// colours per frame: a pixel read back in a control's client area tells
// which frame of which element was drawn there.
class TestSkinGallery : public Gallery {
 protected:
  std::string skin_file() const override { return CLIPSALVAGE_TEST_SKIN; }

  static COLORREF at(HWND hwnd, int x, int y) {
    HDC dc = GetDC(hwnd);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(hwnd, dc);
    return c;
  }
  static RECT client(HWND hwnd) {
    RECT r{};
    GetClientRect(hwnd, &r);
    return r;
  }
  static COLORREF probe(testskin::Probe p, int frame) { return testskin::colorref(p, frame); }
  // The size grip's middle: the last frame of the extra images.
  COLORREF grip() const {
    const RECT r = client(gallery_->StatusBar1->handle());
    return at(gallery_->StatusBar1->handle(), r.right - 5, r.bottom - 5);
  }
  // A corner of the first (sunk) status panel: the first frame of the edges.
  COLORREF sunk_panel() const {
    RECT part{};
    SendMessageW(gallery_->StatusBar1->handle(), SB_GETRECT, 0, reinterpret_cast<LPARAM>(&part));
    return at(gallery_->StatusBar1->handle(), part.left + 1, part.top + 1);
  }
};

TEST_F(TestSkinGallery, StatusPanelsTakeTheirBevelsFrameAndTheSizeGripTheLastExtraImage) {
  const HWND bar = gallery_->StatusBar1->handle();
  EXPECT_FALSE(GetWindowLongPtrW(bar, GWL_STYLE) & SBARS_SIZEGRIP) << "skinning takes the platform's grip away";
  gallery_->show_size_grip();
  repaint_all();
  EXPECT_EQ(grip(), probe(testskin::Probe::extra_images, 5));
  // Panel 1 sunk, 2 raised, 3 without borders: frames 1, 2 and 3.
  for (int panel = 0; panel < 3; ++panel) {
    RECT part{};
    ASSERT_TRUE(SendMessageW(bar, SB_GETRECT, WPARAM(panel), reinterpret_cast<LPARAM>(&part)));
    EXPECT_EQ(at(bar, part.left + 1, part.top + 1), probe(testskin::Probe::status_edges, panel + 1)) << panel;
    EXPECT_EQ(at(bar, part.right - 2, part.bottom - 2), probe(testskin::Probe::status_edges, panel + 1)) << panel;
  }
}

TEST_F(TestSkinGallery, ProgressBarsDrawChunkBlocksUpToTheirPosition) {
  repaint_all();
  const COLORREF chunk = probe(testskin::Probe::progress_chunk, 1);
  struct {
    ui::ProgressBar* bar;
    bool quarter, three_quarters;
  } const cases[] = {{gallery_->ProgressBar1, false, false},
                     {gallery_->ProgressBar2, true, false},
                     {gallery_->ProgressBar3, true, true}};
  for (const auto& c : cases) {
    const HWND hwnd = c.bar->handle();
    const RECT r = client(hwnd);
    const int y = r.bottom / 2;
    EXPECT_EQ(at(hwnd, r.right / 4, y) == chunk, c.quarter) << c.bar->name();
    EXPECT_EQ(at(hwnd, r.right * 3 / 4, y) == chunk, c.three_quarters) << c.bar->name();
  }
}

TEST_F(TestSkinGallery, ThumbUpDownAndComboPicturesComeFromTheirElements) {
  repaint_all();
  TGalleryForm& g = *gallery_;
  using testskin::Probe;
  // The track bar's thumb: frame 2 of the horizontal thumb.
  RECT thumb{};
  SendMessageW(g.TrackBar1->handle(), TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
  ASSERT_LT(thumb.left, thumb.right);
  EXPECT_EQ(at(g.TrackBar1->handle(), (thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2),
            probe(Probe::thumb_horz, 2));

  // Up-down controls at rest: the first button frame 1, the second frame 5,
  // each with the glyph of the same frame in its middle.
  const HWND vert = g.UpDown1->handle(), horz = g.UpDown2->handle();
  const RECT v = client(vert), h = client(horz);
  EXPECT_EQ(at(vert, 1, 1), probe(Probe::updown_vert, 1));
  EXPECT_EQ(at(vert, 1, v.bottom - 2), probe(Probe::updown_vert, 5));
  EXPECT_EQ(at(vert, v.right / 2, v.bottom / 4), probe(Probe::updown_vert_glyph, 1));
  EXPECT_EQ(at(vert, v.right / 2, v.bottom * 3 / 4), probe(Probe::updown_vert_glyph, 5));
  EXPECT_EQ(at(horz, 1, 1), probe(Probe::updown_horz, 1));
  EXPECT_EQ(at(horz, h.right - 2, 1), probe(Probe::updown_horz, 5));
  EXPECT_EQ(at(horz, h.right / 4, h.bottom / 2), probe(Probe::updown_horz_glyph, 1));
  EXPECT_EQ(at(horz, h.right * 3 / 4, h.bottom / 2), probe(Probe::updown_horz_glyph, 5));

  // The disabled combo box: button and glyph frame 3, the glyph from the
  // extra images centred on the button.
  const HWND combo = g.ComboBox3->handle();
  const RECT c = client(combo);
  const skin::ComboParts parts = skin::combo_parts({c.left, c.top, c.right, c.bottom}, GetSystemMetrics(SM_CXHSCROLL), false);
  EXPECT_EQ(at(combo, parts.button.left + 1, parts.button.top + 1), probe(Probe::combo_button, 3));
  EXPECT_EQ(at(combo, (parts.glyph.left + parts.glyph.right) / 2, (parts.glyph.top + parts.glyph.bottom) / 2),
            probe(Probe::extra_images, 3));
}

TEST_F(TestSkinGallery, TabPagesAreFramedByTheBorderPictureOnEverySide) {
  repaint_all();
  const COLORREF border = probe(testskin::Probe::tab_border, 1);
  for (ui::TabControl* tabs : {gallery_->TabControl1, gallery_->TabControl2, gallery_->TabControl3}) {
    const HWND hwnd = tabs->handle();
    RECT display = client(hwnd);
    SendMessageW(hwnd, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    const skin::Rect page = skin::tab_page_area({display.left, display.top, display.right, display.bottom},
                                                skin::tab_side(uint32_t(GetWindowLongPtrW(hwnd, GWL_STYLE))));
    EXPECT_EQ(at(hwnd, page.left + 1, (page.top + page.bottom) / 2), border) << tabs->name();
    EXPECT_EQ(at(hwnd, page.right - 2, (page.top + page.bottom) / 2), border) << tabs->name();
  }
}

TEST_F(TestSkinGallery, HundredRepaintsHoldNoHandleAndSwitchingTakesTheTestPicturesAwayAndBack) {
  gallery_->show_size_grip();
  repaints_hold_no_handle_and_switching_restores_every_kind();
  const COLORREF edge = probe(testskin::Probe::status_edges, 1);
  EXPECT_EQ(sunk_panel(), edge);
  ASSERT_NO_FATAL_FAILURE(switch_skin(false));
  EXPECT_NE(sunk_panel(), edge) << "the platform draws the bar again";
  ASSERT_NO_FATAL_FAILURE(switch_skin(true));
  EXPECT_EQ(sunk_panel(), edge);
}

}  // namespace
}  // namespace clip::test
