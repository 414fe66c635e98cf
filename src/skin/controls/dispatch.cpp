#include "skin/controls/dispatch.h"

#include <algorithm>
#include <cctype>

namespace clip::skin {
namespace {

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

constexpr uint32_t kHScroll = 0x00100000u, kVScroll = 0x00200000u;

Decision attach(Companion companion, Attach how = Attach::control, bool keep_colour = false) {
  Decision d;
  d.companion = companion;
  d.attach = how;
  d.keep_colour = keep_colour;
  return d;
}

Decision scrolling(bool take_over) {
  Decision d = attach(Companion::scrollbar, Attach::scrolling);
  d.take_over = take_over;
  return d;
}

Decision group(Companion each_child) {
  Decision d = attach(Companion::group_box, Attach::control, true);
  d.each_child = each_child;
  return d;
}

Decision with_children(Decision d) {
  d.children = true;
  return d;
}

bool tab_element(const TSkinData& data) { return data.SkinControls.has(xcTab) && data.elements().Tabs; }

}  // namespace

const char* companion_name(Companion c) {
  switch (c) {
    case Companion::none: return "none";
    case Companion::button: return "TSkinButton";
    case Companion::bit_button: return "TSkinBitButton";
    case Companion::speed_button: return "TSkinSpeedButton";
    case Companion::check_box: return "TSkinCheckBox";
    case Companion::radio_button: return "TSkinRadioButton";
    case Companion::combo_box: return "TSkinComBox";
    case Companion::status_bar: return "TSkinStatusBar";
    case Companion::box: return "TSkinBox";
    case Companion::group_box: return "TSkinGroupBox";
    case Companion::up_down: return "TSkinUpDown";
    case Companion::tab: return "TSkinTab";
    case Companion::tab31: return "TSkinTab31";
    case Companion::progress: return "TSkinProgress";
    case Companion::track_bar: return "TSkinTrackBar";
    case Companion::edit: return "TSkinEdit";
    case Companion::sizer: return "TSkinSizer";
    case Companion::scrollbar: return "TSkinScrollbar";
    case Companion::list_view: return "TSkinListView";
    case Companion::sc_control: return "TSkinScControl";
    case Companion::header: return "TSkinHeader";
  }
  return "?";
}

bool disabled_by_tag(const ControlFacts& facts, const TSkinData& data) { return facts.tag % 100 == data.DisableTag; }

bool has_scroll_bars(const ControlFacts& f) {
  if (!(f.traits & kWindowed)) return false;
  return (f.style & (kHScroll | kVScroll)) || (f.traits & (kListBox | kMemo | kTreeView | kScrollBox)) || f.tag == 55;
}

std::optional<Decision> decide_by_mapping(std::string_view class_name, const TSkinData& data) {
  const std::optional<std::string> found = data.skin3rd_kind(class_name);
  if (!found) return std::nullopt;
  const std::string& kind = *found;
  const TSkinControlTypes& on = data.SkinControls;
  Decision d;
  if (kind == "combobox" && on.has(xcCombo)) {
    d = attach(Companion::combo_box);
  } else if (kind == "edit" && on.has(xcEdit)) {
    d = attach(Companion::edit, Attach::window);
  } else if (kind == "radiobutton" && on.has(xcRadioButton)) {
    d = attach(Companion::radio_button);
  } else if (kind == "panel" && on.has(xcPanel)) {
    d = attach(Companion::box, Attach::control, true);
    d.set_transparent = true;
  } else if (kind == "trackbar" && on.has(xcButton)) {
    d = attach(Companion::track_bar);
    d.set_transparent = true;
  } else if (kind == "button" && on.has(xcButton)) {
    d = attach(Companion::button);
  } else if (kind == "tab" && tab_element(data)) {
    d = attach(Companion::tab, Attach::window);
  } else if (kind == "progress" && on.has(xcProgress)) {
    d = attach(Companion::progress);
  } else if (kind == "scrollbar" && on.has(xcScrollbar)) {
    d = scrolling(true);
  } else if (kind == "radiogroup" && on.has(xcPanel)) {
    d = group(on.has(xcRadioButton) ? Companion::radio_button : Companion::none);
  } else if (kind == "checkgroup" && on.has(xcPanel)) {
    // The check group's children follow the radio-button switch, as the
    // stored layouts have always been skinned.
    d = group(on.has(xcRadioButton) ? Companion::check_box : Companion::none);
  } else if (kind == "checkbox" && on.has(xcCheckBox)) {
    d = attach(Companion::check_box);
  }
  d.mapped = true;
  return d;
}

Decision decide_companion(const ControlFacts& f, const TSkinData& data) {
  const std::string name = upper(f.class_name);
  const TSkinControlTypes& on = data.SkinControls;
  const auto is = [&](uint32_t trait) { return (f.traits & trait) != 0; };

  if (name == "TDBCOMBOBOXEH" || name == "TQRPREVIEW" || name == "TFRDESIGNERPAGE" || name == "TFRPBOX") return {};
  if (is(kTabControl) && tab_element(data)) return attach(Companion::tab, Attach::window);
  if (std::optional<Decision> mapped = decide_by_mapping(f.class_name, data)) return *mapped;

  if (name == "TTABSET" && tab_element(data)) return attach(Companion::tab31);
  if (name == "TTABBEDNOTEBOOK" && tab_element(data)) return attach(Companion::tab, Attach::window);
  if (name == "TMVCPANEL") return with_children({});
  if (is(kPageControl) && tab_element(data)) return attach(Companion::tab, Attach::window);
  if (is(kCheckBox) && on.has(xcCheckBox)) return attach(Companion::check_box);
  if (name == "TTRACKBAR" && on.has(xcButton)) return attach(Companion::track_bar);
  if (name == "TUPDOWN" && on.has(xcButton)) return attach(Companion::up_down);
  if (is(kRadioGroup) && on.has(xcRadioButton)) return group(Companion::radio_button);
  if (name == "TDBNAVIGATOR" && on.has(xcPanel)) {
    Decision d = attach(Companion::box, Attach::control, true);
    d.set_flat = true;
    return d;
  }
  if (is(kGroupBox) && on.has(xcPanel)) return with_children(attach(Companion::group_box, Attach::control, true));
  if (is(kRadioButton) && on.has(xcRadioButton)) return attach(Companion::radio_button);
  if (is(kToolBar) && on.has(xcToolbar)) {
    Decision d = attach(Companion::box, Attach::control, true);
    d.set_flat = d.set_transparent = d.tool_bar_draw = true;
    return d;
  }
  if (is(kStatusBar) && on.has(xcStatusBar)) {
    Decision d = attach(Companion::status_bar);
    d.size_grip_off = true;
    return d;
  }
  if (is(kProgressBar) && on.has(xcProgress)) return attach(Companion::progress);
  if (is(kScrollBar) && on.has(xcScrollbar)) return attach(Companion::sc_control);
  if (is(kComboBox) && on.has(xcCombo)) return attach(Companion::combo_box);
  if (name == "TDATETIMEPICKER" && on.has(xcEdit))
    return f.date_mode_updown ? attach(Companion::edit, Attach::window) : attach(Companion::combo_box);
  if (on.has(xcScrollbar) && (name == "TRICHEDIT" || name == "TWWDBRICHEDIT" || name == "TDXDBMEMO"))
    return scrolling(true);
  if (is(kBitButton)) return on.has(xcBitBtn) ? attach(Companion::bit_button) : Decision{};
  if (is(kSpeedButton) && on.has(xcSpeedButton)) return attach(Companion::speed_button, Attach::graphic);
  if (is(kPanel) && on.has(xcPanel)) return with_children(attach(Companion::box, Attach::control, true));
  if (on.has(xcScrollbar) && (name == "TDXTREELIST" || name == "TDXDBTREELIST" || name == "TDXDBGRID"))
    return scrolling(false);
  if (is(kListView) && on.has(xcScrollbar)) {
    Decision d = scrolling(false);
    d.companion = Companion::list_view;
    return d;
  }
  if (on.has(xcScrollbar) && is(kMemo)) return scrolling(true);
  if (on.has(xcScrollbar) && is(kGrid)) {
    Decision d = scrolling(true);
    d.grid_fixed_colour = true;
    return d;
  }
  if (on.has(xcScrollbar) && has_scroll_bars(f)) return scrolling(true);
  if (is(kPushButton) && on.has(xcButton)) return attach(Companion::button);
  if (is(kEdit) && on.has(xcEdit)) return attach(Companion::edit, Attach::window);
  if (is(kFrame)) return with_children({});
  if (is(kForm)) return with_children(attach(Companion::box, Attach::control, true));
  return {};
}

ChildDecision decide_child_window(std::string_view name, uint32_t style) {
  if (name == "button") {
    if ((style & 7) == 7) return {};
    if ((style & 2) || ((style & 1) && (style & 4))) return {Companion::check_box};
    if ((style & 1) && (style & 8)) return {Companion::radio_button};
    if (style & 4) return {Companion::radio_button};
    return {Companion::button};
  }
  if (name == "combobox") return (style & 3) != 1 ? ChildDecision{Companion::combo_box} : ChildDecision{};
  if (name == "comboboxex32") return {Companion::combo_box, true};
  if (name == "scrollbar") {
    // A size box (or grip) is silenced; a real scroll bar stays usable and
    // is painted as stand-alone bars are.
    constexpr uint32_t kSizeBox = 0x08, kSizeGrip = 0x10;
    return {(style & (kSizeBox | kSizeGrip)) ? Companion::sizer : Companion::sc_control};
  }
  if (name == "systabcontrol32") return (style & 0x2000) ? ChildDecision{} : ChildDecision{Companion::tab};
  if (name == "edit") return {Companion::edit};
  return {};
}

}  // namespace clip::skin
