#include "skin/controls/dispatch.h"

#include <gtest/gtest.h>

#include "skin/data/archive.h"

namespace clip::skin {
namespace {

constexpr uint32_t kHScrollStyle = 0x00100000u;

ControlFacts facts(std::string name, uint32_t traits, int tag = 0, uint32_t style = 0) {
  ControlFacts f;
  f.class_name = std::move(name);
  f.traits = (traits & kGraphic) != 0 ? traits : traits | uint32_t{kWindowed};
  f.tag = tag;
  f.style = style;
  return f;
}

// A skin whose description has a tab element, so the tab rows can match.
std::unique_ptr<TSkinData> skin_with_tabs() {
  const std::string ini = "[Tabs]\r\nImage=tabs.bmp\r\n";
  Pixels24 tabs(10, 4);
  const auto stream =
      pack_skin_stream(std::vector<ArchiveEntry>{{"d.ini", std::vector<uint8_t>(ini.begin(), ini.end())},
                                                 {"tabs.bmp", save_bmp24(tabs)}})
          .value();
  std::vector<uint8_t> property{uint8_t(stream.size()), uint8_t(stream.size() >> 8), 0, 0};
  property.insert(property.end(), stream.begin(), stream.end());
  auto data = std::make_unique<TSkinData>();
  EXPECT_TRUE(data->read_skin_stream_property(property));
  return data;
}

struct Row {
  const char* what;
  ControlFacts control;
  Companion companion;
  Attach attach = Attach::control;
};

TEST(Dispatch, ClassTableWithEveryKindSwitchedOn) {
  TSkinData data;  // every kind but the report designer's
  const Row rows[] = {
      {"push button", facts("TButton", kPushButton), Companion::button},
      {"bitmap button (before the push-button row)", facts("TBitBtn", kPushButton | kBitButton),
       Companion::bit_button},
      {"speed button, windowless", facts("TSpeedButton", kGraphic | kSpeedButton), Companion::speed_button,
       Attach::graphic},
      {"memo: its scroll bars, not an edit", facts("TMemo", kMemo | kEdit), Companion::scrollbar, Attach::scrolling},
      {"tree view through its scroll bars", facts("TTreeView", kTreeView), Companion::scrollbar, Attach::scrolling},
      {"list box through its scroll bars", facts("TListBox", kListBox), Companion::scrollbar, Attach::scrolling},
      {"a control with a scroll bar style", facts("TMine", 0, 0, kHScrollStyle), Companion::scrollbar,
       Attach::scrolling},
      {"Tag 55 scrolls", facts("TMine", 0, 55), Companion::scrollbar, Attach::scrolling},
      {"list view", facts("TListView", kListView), Companion::list_view, Attach::scrolling},
      {"rich edit by name", facts("TRichEdit", kEdit), Companion::scrollbar, Attach::scrolling},
      {"grid", facts("TStringGrid", kGrid), Companion::scrollbar, Attach::scrolling},
      {"stand-alone scroll bar", facts("TScrollBar", kScrollBar), Companion::sc_control},
      {"edit", facts("TEdit", kEdit), Companion::edit, Attach::window},
      {"combo box", facts("TComboBox", kComboBox), Companion::combo_box},
      {"check box", facts("TCheckBox", kCheckBox), Companion::check_box},
      {"radio button", facts("TRadioButton", kRadioButton), Companion::radio_button},
      {"group box", facts("TGroupBox", kGroupBox), Companion::group_box},
      {"status bar", facts("TStatusBar", kStatusBar), Companion::status_bar},
      {"progress bar", facts("TProgressBar", kProgressBar), Companion::progress},
      {"track bar by name", facts("TTrackBar", 0), Companion::track_bar},
      {"up-down by name", facts("TUpDown", 0), Companion::up_down},
      {"panel", facts("TPanel", kPanel), Companion::box},
      {"nested form", facts("TForm3", kForm), Companion::box},
      {"tab control without a tab element", facts("TTabControl", kTabControl), Companion::none},
      {"label", facts("TLabel", kGraphic), Companion::none},
      {"excluded preview", facts("TQRPREVIEW", kPanel), Companion::none},
  };
  for (const Row& row : rows) {
    const Decision d = decide_companion(row.control, data);
    EXPECT_EQ(companion_name(d.companion), std::string(companion_name(row.companion))) << row.what;
    if (row.companion != Companion::none) {
      EXPECT_EQ(d.attach, row.attach) << row.what;
    }
  }
}

TEST(Dispatch, WhatComesWithTheCompanion) {
  TSkinData data;
  const Decision memo = decide_companion(facts("TMemo", kMemo), data);
  EXPECT_TRUE(memo.take_over) << "memos have their thumb dragged by the companion";
  const Decision list = decide_companion(facts("TListView", kListView), data);
  EXPECT_FALSE(list.take_over) << "a list view is painted, never dragged";
  const Decision panel = decide_companion(facts("TPanel", kPanel), data);
  EXPECT_TRUE(panel.keep_colour && panel.children);
  const Decision tool_bar = decide_companion(facts("TToolBar", kToolBar), data);
  EXPECT_EQ(tool_bar.companion, Companion::box);
  EXPECT_TRUE(tool_bar.set_flat && tool_bar.set_transparent && tool_bar.tool_bar_draw && tool_bar.keep_colour);
  EXPECT_TRUE(decide_companion(facts("TStatusBar", kStatusBar), data).size_grip_off);
  EXPECT_TRUE(decide_companion(facts("TDrawGrid", kGrid), data).grid_fixed_colour);
  const Decision group = decide_companion(facts("TRadioGroup", kRadioGroup | kGroupBox), data);
  EXPECT_EQ(group.companion, Companion::group_box);
  EXPECT_EQ(group.each_child, Companion::radio_button);
  EXPECT_FALSE(group.children);
  const Decision mvc = decide_companion(facts("TMVCPanel", kPanel), data);
  EXPECT_EQ(mvc.companion, Companion::none);
  EXPECT_TRUE(mvc.children) << "a container by name: only its children";
  const Decision frame = decide_companion(facts("TFrame1", kFrame), data);
  EXPECT_TRUE(frame.companion == Companion::none && frame.children);
  ControlFacts picker = facts("TDateTimePicker", 0);
  EXPECT_EQ(decide_companion(picker, data).companion, Companion::combo_box);
  picker.date_mode_updown = true;
  EXPECT_EQ(decide_companion(picker, data).companion, Companion::edit);
  EXPECT_TRUE(decide_companion(facts("TDBNavigator", kPanel), data).set_flat);
}

TEST(Dispatch, TheProgramsSettingsLeaveStatusAndProgressBarsAlone) {
  TSkinData data;
  data.apply_main_window_settings();
  EXPECT_EQ(decide_companion(facts("TStatusBar", kStatusBar), data).companion, Companion::none);
  EXPECT_EQ(decide_companion(facts("TProgressBar", kProgressBar), data).companion, Companion::none);
  // The main window's own controls.
  EXPECT_EQ(decide_companion(facts("TTreeView", kTreeView), data).companion, Companion::scrollbar);
  EXPECT_EQ(decide_companion(facts("TListView", kListView), data).companion, Companion::list_view);
  EXPECT_EQ(decide_companion(facts("TMemo", kMemo), data).companion, Companion::scrollbar);
  EXPECT_EQ(decide_companion(facts("TPanel", kPanel), data).companion, Companion::box);
  EXPECT_EQ(decide_companion(facts("TSpeedButton", kGraphic | kSpeedButton), data).companion,
            Companion::speed_button);
}

TEST(Dispatch, SwitchedOffKindsFallThroughOrStop) {
  TSkinData data;
  data.SkinControls.remove(xcScrollbar);
  // Without scroll-bar skinning a memo is skinned as the edit it also is.
  EXPECT_EQ(decide_companion(facts("TMemo", kMemo | kEdit), data).companion, Companion::edit);
  EXPECT_EQ(decide_companion(facts("TListView", kListView), data).companion, Companion::none);
  data.SkinControls.remove(xcBitBtn);
  // A bitmap button stops at its own row: it is not skinned as a push button.
  EXPECT_EQ(decide_companion(facts("TBitBtn", kPushButton | kBitButton), data).companion, Companion::none);
  data.SkinControls.remove(xcPanel);
  EXPECT_EQ(decide_companion(facts("TPanel", kPanel), data).companion, Companion::none);
  data.SkinControls.remove(xcButton);
  EXPECT_EQ(decide_companion(facts("TButton", kPushButton), data).companion, Companion::none);
  EXPECT_EQ(decide_companion(facts("TTrackBar", 0), data).companion, Companion::none);
}

TEST(Dispatch, TagModulo100MatchingDisableTagLeavesAControlAlone) {
  TSkinData data;
  EXPECT_TRUE(disabled_by_tag(facts("TButton", kPushButton, 99), data));
  EXPECT_TRUE(disabled_by_tag(facts("TButton", kPushButton, 199), data));
  EXPECT_FALSE(disabled_by_tag(facts("TButton", kPushButton, 98), data));
  EXPECT_FALSE(disabled_by_tag(facts("TButton", kPushButton, -99), data));
  data.DisableTag = 5;
  EXPECT_TRUE(disabled_by_tag(facts("TButton", kPushButton, 305), data));
  EXPECT_FALSE(disabled_by_tag(facts("TButton", kPushButton, 99), data));
}

TEST(Dispatch, Skin3rdLinesComeBeforeTheClassTable) {
  TSkinData data;
  // A mapped class is skinned as its line says, whatever kind it is.
  const Decision button = decide_companion(facts("TRzButton", kPanel), data);
  EXPECT_EQ(button.companion, Companion::button);
  EXPECT_TRUE(button.mapped);
  const Decision dock = decide_companion(facts("TTBDock", 0), data);
  EXPECT_EQ(dock.companion, Companion::box);
  EXPECT_TRUE(dock.keep_colour && dock.set_transparent);
  EXPECT_EQ(decide_companion(facts("TImageEnView", 0), data).companion, Companion::scrollbar);
  EXPECT_TRUE(decide_companion(facts("TImageEnView", 0), data).take_over);
  EXPECT_EQ(decide_companion(facts("tlmdedit", 0), data).attach, Attach::window) << "case does not matter";
  // A check group's children follow the radio-button switch.
  data.SkinControls.remove(xcRadioButton);
  EXPECT_EQ(decide_companion(facts("TRzCheckGroup", kPanel), data).each_child, Companion::none);
  // Its kind switched off: still decided by the line, nothing attached, and
  // the class table is not asked (it would make a push button of it).
  data.SkinControls.remove(xcButton);
  const Decision off = decide_companion(facts("TRzButton", kPushButton), data);
  EXPECT_EQ(off.companion, Companion::none);
  EXPECT_TRUE(off.mapped);
  EXPECT_EQ(decide_by_mapping("TButton", data), std::nullopt);
  // A kind the dispatch does not know attaches nothing but still stops.
  data.Skin3rd = {"TOdd=gadget"};
  ASSERT_TRUE(decide_by_mapping("TOdd", data));
  EXPECT_EQ(decide_by_mapping("TOdd", data)->companion, Companion::none);
}

TEST(Dispatch, TabRowsNeedTheSkinsTabElement) {
  const std::unique_ptr<TSkinData> data = skin_with_tabs();
  ASSERT_FALSE(data->not_ready());
  const Decision tab = decide_companion(facts("TTabControl", kTabControl), *data);
  EXPECT_EQ(tab.companion, Companion::tab);
  EXPECT_EQ(tab.attach, Attach::window);
  EXPECT_EQ(decide_companion(facts("TPageControl", kPageControl), *data).companion, Companion::tab);
  EXPECT_EQ(decide_companion(facts("TTabSet", 0), *data).companion, Companion::tab31);
  EXPECT_EQ(decide_companion(facts("TTabbedNotebook", 0), *data).companion, Companion::tab);
  data->SkinControls.remove(xcTab);
  EXPECT_EQ(decide_companion(facts("TTabControl", kTabControl), *data).companion, Companion::none);
}

TEST(Dispatch, ChildWindowsOfDialogsByClassAndStyle) {
  struct Case {
    const char* name;
    uint32_t style;
    ChildDecision want;
  };
  const Case cases[] = {
      {"button", 0x0 /* push */, {Companion::button}},
      {"button", 0x1 /* default push */, {Companion::button}},
      {"button", 0x2 /* check box */, {Companion::check_box}},
      {"button", 0x3 /* auto check box */, {Companion::check_box}},
      {"button", 0x4 /* radio button */, {Companion::radio_button}},
      {"button", 0x5 /* three-state */, {Companion::check_box}},
      {"button", 0x6 /* auto three-state */, {Companion::check_box}},
      {"button", 0x7 /* group box */, {Companion::none}},
      {"button", 0x9 /* auto radio button */, {Companion::radio_button}},
      {"button", 0x50010000u /* push, child, visible, tab stop */, {Companion::button}},
      {"combobox", 0x1 /* simple */, {Companion::none}},
      {"combobox", 0x2 /* drop-down */, {Companion::combo_box}},
      {"combobox", 0x3 /* drop-down list */, {Companion::combo_box}},
      {"comboboxex32", 0x0, {Companion::combo_box, true}},
      {"scrollbar", 0x10 /* size grip */, {Companion::sizer}},
      {"scrollbar", 0x08 /* size box */, {Companion::sizer}},
      {"scrollbar", 0x1 /* vertical bar */, {Companion::sc_control}},
      {"systabcontrol32", 0x0, {Companion::tab}},
      {"systabcontrol32", 0x2000 /* owner-drawn */, {Companion::none}},
      {"edit", 0x0, {Companion::edit}},
      {"static", 0x0, {Companion::none}},
      {"syslistview32", 0x0, {Companion::none}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(decide_child_window(c.name, c.style), c.want) << c.name << " style " << c.style;
}

}  // namespace
}  // namespace clip::skin
