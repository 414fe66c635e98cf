// The gallery form skinned by the skin manager with the program's skin: each
// control gets the companion its kind calls for, repainting everything 100
// times holds no handle, and switching the skin off and on takes every
// companion away and brings it back.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include "skin/controls/companion_fixture.h"
#include "skin/controls/gallery.h"
#include "skin/controls/skin_control.h"
#include "skin/controls/edits.h"
#include "skin/controls/tabs.h"
#include "skin/frame/form_skin.h"
#include "skin/handle_counts.h"
#include "skin/manager/skin_manager.h"
#include "ui/message_pump.h"

namespace clip::test {
namespace {

using skin::Companion;

class Gallery : public skin::PaintingTest {
 protected:
  void SetUp() override {
    gallery_ = root_.make<TGalleryForm>();
    ASSERT_TRUE(gallery_->build());
    ASSERT_FALSE(gallery_->SkinData1.not_ready()) << "the program's skin loads from its resources";
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
  skin::CompanionHost* host() const {
    skin::TSkinManager* manager = skin::TSkinManager::instance();
    auto* s = manager ? dynamic_cast<skin::TFormSkin*>(manager->FindWindowSkin(gallery_->handle())) : nullptr;
    return s ? s->companions() : nullptr;
  }
  Companion kind_of(HWND hwnd) const {
    skin::TSkinControl* c = host() ? host()->FindSkinControl(hwnd) : nullptr;
    return c ? c->kind() : Companion::none;
  }
  void repaint_all() const {
    RedrawWindow(gallery_->handle(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }

  ui::Component root_{nullptr, "root"};
  TGalleryForm* gallery_ = nullptr;
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
  repaint_all();
  const size_t skinned = host()->controls().size();
  ASSERT_GE(skinned, gallery_->controls().size());
  const HandleCounts start;
  for (int i = 0; i < 100; ++i) repaint_all();
  HandleCounts().expect_equal(start);

  int changed = 0;
  gallery_->SkinData1.OnSkinChanged = [&](skin::TSkinData&) { ++changed; };
  skin::SetActive(gallery_->SkinData1, false);
  ASSERT_TRUE(pump_until([&] { return changed == 1; }));
  EXPECT_EQ(host(), nullptr);
  repaint_all();
  skin::SetActive(gallery_->SkinData1, true);
  ASSERT_TRUE(pump_until([&] { return changed == 2 && host() != nullptr; }));
  repaint_all();
  EXPECT_EQ(host()->controls().size(), skinned);
  for (ui::WinControl* c : gallery_->controls()) EXPECT_NE(kind_of(c->handle()), Companion::none) << c->name();
}

}  // namespace
}  // namespace clip::test
