// The remaining framework control kinds placed on a form and visited by the
// dispatch: each gets the companion its kind calls for on a real control.
#include <windows.h>
#include <gtest/gtest.h>

#include "skin/controls/companion_fixture.h"

namespace clip::skin {
namespace {

using Wrappers = Companions;

TEST_F(Wrappers, DispatchAttachesTheCompanionOfEachKind) {
  const auto place = [&](auto* control, int y, int h) {
    control->set_bounds(10, y, 200, h);
    return control;
  };
  auto* list = place(form_->make<ui::ListBox>("ListBox1"), 5, 40);
  list->add_item("一");
  auto* group = place(form_->make<ui::RadioGroup>("RadioGroup1"), 50, 70);
  auto* calendar = place(form_->make<ui::DateTimePicker>("DateTimePicker1"), 125, 22);
  auto* spin_date = place(form_->make<ui::DateTimePicker>("DateTimePicker2"), 150, 22);
  spin_date->up_down = true;
  auto* bar = place(form_->make<ui::ToolBar>("ToolBar1"), 175, 26);
  auto* glyph_button = place(form_->make<ui::BitBtn>("BitBtn1"), 205, 26);
  auto* scroll = place(form_->make<ui::ScrollBar>("ScrollBar1"), 235, 18);
  for (ui::WinControl* c : std::initializer_list<ui::WinControl*>{list, group, calendar, spin_date, bar,
                                                                  glyph_button, scroll}) {
    c->set_parent(form_);
    ASSERT_TRUE(c->handle()) << c->name();
  }
  group->add_item("甲");
  group->add_item("乙");
  ASSERT_EQ(group->buttons().size(), 2u);
  EXPECT_TRUE(spin_date->handle() && (GetWindowLongPtrW(spin_date->handle(), GWL_STYLE) & DTS_UPDOWN));

  CompanionHost& host = host_for(form_->handle(), form_);
  host.SkinChildren(*form_);
  const auto kind = [&](ui::Control& c) {
    TSkinControl* found = host.FindSkinControl(c);
    // Companions attached by window handle are listed by it.
    if (auto* win = dynamic_cast<ui::WinControl*>(&c); !found && win) found = host.FindSkinControl(win->handle());
    return found ? found->kind() : Companion::none;
  };
  EXPECT_EQ(kind(*list), Companion::scrollbar) << "a list box scrolls";
  EXPECT_EQ(kind(*group), Companion::group_box);
  for (ui::RadioButton* b : group->buttons()) EXPECT_EQ(kind(*b), Companion::radio_button) << b->name();
  EXPECT_EQ(kind(*calendar), Companion::combo_box) << "a drop-down date field";
  EXPECT_EQ(kind(*spin_date), Companion::edit) << "an up-down date field";
  EXPECT_EQ(kind(*bar), Companion::box);
  EXPECT_TRUE(bar->OnCustomDrawButton) << "the window skin paints the tool bar's buttons";
  EXPECT_TRUE(bar->flat && bar->transparent);
  EXPECT_EQ(kind(*glyph_button), Companion::bit_button);
  EXPECT_EQ(kind(*scroll), Companion::sc_control);

  host.UnskinAll();
  EXPECT_FALSE(bar->OnCustomDrawButton) << "unskinning takes the tool bar's painting back";
}

}  // namespace
}  // namespace clip::skin
