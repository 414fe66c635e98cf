// Which companion a control gets. The window skin visits every control of a
// skinned form and every child window of a skinned dialog; what it attaches
// is decided here, from plain facts about the control and the skin data's
// settings, so the rules are data that needs no window.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "skin/data/skin_data.h"

namespace clip::skin {

// The kinds a framework control can be of, its ancestors' kinds included
// (a bitmap button is also a push button).
enum ControlTrait : uint32_t {
  kWindowed = 1u << 0,
  kGraphic = 1u << 1,
  kForm = 1u << 2,
  kFrame = 1u << 3,
  kPanel = 1u << 4,
  kGroupBox = 1u << 5,
  kRadioGroup = 1u << 6,
  kCheckBox = 1u << 7,
  kRadioButton = 1u << 8,
  kPushButton = 1u << 9,
  kBitButton = 1u << 10,
  kSpeedButton = 1u << 11,
  kToolBar = 1u << 12,
  kStatusBar = 1u << 13,
  kProgressBar = 1u << 14,
  kScrollBar = 1u << 15,
  kComboBox = 1u << 16,
  kListView = 1u << 17,
  kListBox = 1u << 18,
  kMemo = 1u << 19,
  kEdit = 1u << 20,
  kTreeView = 1u << 21,
  kGrid = 1u << 22,
  kPageControl = 1u << 23,
  kTabControl = 1u << 24,
  kScrollBox = 1u << 25,
};

struct ControlFacts {
  std::string class_name;  // the framework class name ("TButton"); compared upper-cased
  uint32_t traits = 0;
  int tag = 0;
  uint32_t style = 0;             // the window style; 0 for a control without a window
  bool date_mode_updown = false;  // a date picker in up-down mode
};

// The companion classes the rules choose from.
enum class Companion {
  none, button, bit_button, speed_button, check_box, radio_button, combo_box, status_bar, box, group_box,
  up_down, tab, tab31, progress, track_bar, edit, sizer, scrollbar, list_view, sc_control, header,
};
const char* companion_name(Companion c);

// How a companion attaches: to the framework control's message handler, to
// the window procedure, to a windowless control's handler, or as a scroll-bar
// companion through the control's handler.
enum class Attach { control, window, graphic, scrolling };

struct Decision {
  Companion companion = Companion::none;
  Attach attach = Attach::control;
  bool keep_colour = false;  // the control wears the skin's button-face colour while skinned
  bool take_over = false;    // a scroll-bar companion drags the thumb itself
  bool children = false;     // the control's own components are visited after it
  Companion each_child = Companion::none;  // every child control of a group gets one
  bool set_flat = false, set_transparent = false;
  bool tool_bar_draw = false;      // the window skin paints the tool bar's buttons
  bool size_grip_off = false;
  bool grid_fixed_colour = false;  // the grid's fixed cells take the skin's button face
  bool mapped = false;             // decided by a Skin3rd line
  friend bool operator==(const Decision&, const Decision&) = default;
};

// A control whose Tag modulo 100 is the skin data's DisableTag is left alone
// (its own components are not visited through it either).
bool disabled_by_tag(const ControlFacts& facts, const TSkinData& data);

// Step by step as the window skin decides for a control it has not skinned
// yet, once the OnSkinControl event left the choice to it: excluded class
// names, tab controls, the Skin3rd mapping, then the first matching row of
// the class table.
Decision decide_companion(const ControlFacts& facts, const TSkinData& data);

// The Skin3rd part alone: nullopt when no line names the class; a decision
// (possibly of no companion, when the kind is switched off) otherwise.
std::optional<Decision> decide_by_mapping(std::string_view class_name, const TSkinData& data);

// Windowed controls with scroll bars of their own, or that always scroll.
bool has_scroll_bars(const ControlFacts& facts);

// A child window of a dialog or message box, by its lower-cased window class
// name and style. on_first_child: the companion goes to the window's topmost
// child (an extended combo box's combo box).
struct ChildDecision {
  Companion companion = Companion::none;
  bool on_first_child = false;
  friend bool operator==(const ChildDecision&, const ChildDecision&) = default;
};
ChildDecision decide_child_window(std::string_view class_name_lower, uint32_t style);

}  // namespace clip::skin
