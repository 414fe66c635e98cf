#include <algorithm>
#include <cwctype>

#include "skin/controls/bars.h"
#include "skin/controls/buttons.h"
#include "skin/controls/check_boxes.h"
#include "skin/controls/edits.h"
#include "skin/controls/group_boxes.h"
#include "skin/controls/scroll_bars.h"
#include "skin/controls/skin_control.h"
#include "skin/controls/tabs.h"
#include "skin/data/skin_win.h"
#include "skin/manager/skin_manager.h"
#include "skin/paint/paint_win.h"
#include "ui/controls.h"

namespace clip::skin {
namespace {

std::wstring lower_class_name(HWND hwnd) {
  wchar_t name[256] = {};
  const int n = GetClassNameW(hwnd, name, 256);
  std::wstring out(name, size_t(std::max(n, 0)));
  for (wchar_t& c : out) c = wchar_t(std::towlower(c));
  return out;
}

std::string ascii(std::wstring_view text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? char(c) : '?';
  return out;
}

std::string lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

bool companion_built(Companion kind) {
  switch (kind) {
    case Companion::button:
    case Companion::bit_button:
    case Companion::speed_button:
    case Companion::check_box:
    case Companion::radio_button:
    case Companion::group_box:
    case Companion::box:
    case Companion::sizer:
    case Companion::scrollbar:
    case Companion::list_view:
    case Companion::sc_control:
    case Companion::header:
    case Companion::edit:
    case Companion::combo_box:
    case Companion::up_down:
    case Companion::status_bar:
    case Companion::progress:
    case Companion::track_bar:
    case Companion::tab:
    case Companion::tab31:
      return true;
    default:
      return false;
  }
}

std::unique_ptr<TSkinControl> make_companion(Companion kind) {
  switch (kind) {
    case Companion::button: return std::make_unique<TSkinButton>();
    case Companion::bit_button: return std::make_unique<TSkinBitButton>();
    case Companion::speed_button: return std::make_unique<TSkinSpeedButton>();
    case Companion::check_box: return std::make_unique<TSkinCheckBox>();
    case Companion::radio_button: return std::make_unique<TSkinRadioButton>();
    case Companion::group_box: return std::make_unique<TSkinGroupBox>();
    case Companion::box: return std::make_unique<TSkinBox>();
    case Companion::sizer: return std::make_unique<TSkinSizer>();
    case Companion::scrollbar: return std::make_unique<TSkinScrollbar>();
    case Companion::list_view: return std::make_unique<TSkinListView>();
    case Companion::sc_control: return std::make_unique<TSkinScControl>();
    case Companion::header: return std::make_unique<TSkinHeader>();
    case Companion::edit: return std::make_unique<TSkinEdit>();
    case Companion::combo_box: return std::make_unique<TSkinComBox>();
    case Companion::up_down: return std::make_unique<TSkinUpDown>();
    case Companion::status_bar: return std::make_unique<TSkinStatusBar>();
    case Companion::progress: return std::make_unique<TSkinProgress>();
    case Companion::track_bar: return std::make_unique<TSkinTrackBar>();
    case Companion::tab: return std::make_unique<TSkinTab>();
    case Companion::tab31: return std::make_unique<TSkinTab31>();
    default: return nullptr;
  }
}

CompanionHost::CompanionHost(HWND window, TSkinData& data, const WindowSkin* skin, ui::Form* form)
    : window_(window), data_(&data), skin_(skin), form_(form) {}

CompanionHost::~CompanionHost() { UnskinAll(); }

bool CompanionHost::AddSkinControl(TSkinControl& companion) {
  for (const auto& c : list_)
    if (c.get() == &companion) return true;
  list_.emplace_back(&companion);
  companion.host_ = this;
  return false;
}

void CompanionHost::dispose(std::unique_ptr<TSkinControl> companion) {
  companion->detach();
  companion->host_ = nullptr;
  // One running a message (a drag, a click that closed the window) frees
  // itself when that message returns.
  if (companion->depth_ > 0) {
    companion->doomed_ = true;
    companion.release();
  }
}

void CompanionHost::RemoveSkinControl(TSkinControl& companion) {
  for (size_t i = list_.size(); i-- > 0;) {
    if (list_[i].get() != &companion) continue;
    std::unique_ptr<TSkinControl> taken = std::move(list_[i]);
    list_.erase(list_.begin() + std::ptrdiff_t(i));
    if (hot_ == taken.get()) hot_ = nullptr;
    dispose(std::move(taken));
    return;
  }
}

TSkinControl* CompanionHost::FindSkinControl(HWND hwnd) const {
  if (!hwnd) return nullptr;
  for (const auto& c : list_)
    if (c->handle() == hwnd) return c.get();
  return nullptr;
}

TSkinControl* CompanionHost::FindSkinControl(const ui::Control& control) const {
  for (const auto& c : list_)
    if (c->control() == &control || c->graphic() == &control) return c.get();
  return nullptr;
}

void CompanionHost::SweepSkinControls() {
  for (size_t i = list_.size(); i-- > 0;) {
    if (i >= list_.size() || list_[i]->state() != TSkinControl::gone) continue;
    RemoveSkinControl(*list_[i]);
  }
}

void CompanionHost::UnskinAll() {
  while (!list_.empty()) {
    std::unique_ptr<TSkinControl> first = std::move(list_.front());
    list_.erase(list_.begin());
    if (first->state() != TSkinControl::gone) {
      if (auto* bar = dynamic_cast<ui::ToolBar*>(first->control())) bar->OnCustomDrawButton = nullptr;
      first->RestoreColor();
    }
    if (hot_ == first.get()) hot_ = nullptr;
    dispose(std::move(first));
  }
  hot_ = nullptr;
}

void CompanionHost::release_hot_button() {
  if (TSkinControl* hot = hot_) hot->SendMouseLeave();
  hot_ = nullptr;
}

HBITMAP CompanionHost::pixels_bitmap(const Pixels24& picture) {
  const Pixels24* key = &picture;
  for (const auto& [pixels, bitmap] : bitmaps_)
    if (pixels == key) return bitmap.get();
  ui::gdi_object<HBITMAP> made = bitmap_from_pixels(picture);
  HBITMAP result = made.get();
  if (made) bitmaps_.emplace_back(key, std::move(made));
  return result;
}

void CompanionHost::reload() {
  bitmaps_.clear();
  for (const auto& c : list_)
    if (c->state() != TSkinControl::gone) c->RefreshSkin();
}

bool CompanionHost::skinned() const { return !skin_ || skin_->skin_state() == WindowSkin::skinned; }

ControlFacts CompanionHost::facts_of(ui::Control& control) {
  using ui::Kind;
  static const std::pair<Kind, ControlTrait> kTraits[] = {
      {Kind::win_control, kWindowed},   {Kind::graphic_control, kGraphic}, {Kind::form, kForm},
      {Kind::frame, kFrame},            {Kind::panel, kPanel},             {Kind::group_box, kGroupBox},
      {Kind::radio_group, kRadioGroup}, {Kind::check_box, kCheckBox},      {Kind::radio_button, kRadioButton},
      {Kind::button, kPushButton},      {Kind::bit_button, kBitButton},    {Kind::speed_button, kSpeedButton},
      {Kind::tool_bar, kToolBar},       {Kind::status_bar, kStatusBar},    {Kind::progress_bar, kProgressBar},
      {Kind::scroll_bar, kScrollBar},   {Kind::combo_box, kComboBox},      {Kind::list_view, kListView},
      {Kind::list_box, kListBox},       {Kind::memo, kMemo},               {Kind::edit, kEdit},
      {Kind::tree_view, kTreeView},     {Kind::grid, kGrid},               {Kind::page_control, kPageControl},
      {Kind::tab_control, kTabControl}, {Kind::scroll_box, kScrollBox},
  };
  ControlFacts facts;
  facts.class_name = control.class_name();
  facts.tag = control.Tag;
  for (const auto& [kind, trait] : kTraits)
    if (control.is(kind)) facts.traits |= trait;
  if (auto* win = dynamic_cast<ui::WinControl*>(&control); win && win->handle_allocated())
    facts.style = uint32_t(GetWindowLongPtrW(win->handle(), GWL_STYLE));
  if (auto* picker = dynamic_cast<ui::DateTimePicker*>(&control)) facts.date_mode_updown = picker->up_down;
  return facts;
}

bool CompanionHost::HasScrollBars(ui::Control& control) { return has_scroll_bars(facts_of(control)); }

bool CompanionHost::IsSkinned(ui::Control& control) const {
  if (FindSkinControl(control)) return true;
  auto* win = dynamic_cast<ui::WinControl*>(&control);
  if (!win) return false;
  if (!win->handle_allocated()) {
    // Print previews build their pages from controls that never get a
    // window; they are left alone.
    const std::string name = form_ ? form_->name() : std::string();
    return lower(name).find("preview") != std::string::npos || name == "TQRStandardPreview" ||
           name == "TppPrintPreview" || name == "TdxfmStdPreview";
  }
  return FindSkinControl(win->handle()) != nullptr;
}

void CompanionHost::SkinChildren(ui::Component& container) {
  SweepSkinControls();
  auto* parent = dynamic_cast<ui::Control*>(&container);
  for (ui::Component* component : container.components()) SkinComponent(*component, parent);
}

void CompanionHost::SkinComponent(ui::Component& component, ui::Control* parent) {
  auto* control = dynamic_cast<ui::Control*>(&component);
  if (!control) return;
  if (disabled_by_tag(facts_of(*control), *data_) || IsSkinned(*control)) return;
  auto* win = dynamic_cast<ui::WinControl*>(control);
  if (win && !win->handle()) return;
  if (data_->OnSkinControl) {
    TSkinControl* chosen = nullptr;
    std::string name = control->class_name();
    for (char& c : name) c = char(std::toupper(static_cast<unsigned char>(c)));
    data_->OnSkinControl(*this, *data_, parent, *control, name, chosen);
    if (chosen) {
      const bool listed = std::any_of(list_.begin(), list_.end(), [&](const auto& c) { return c.get() == chosen; });
      if (!listed) {
        if (win) {
          chosen->HookControl(*this, *data_, chosen->keep_colour(), *win);
        } else if (auto* graphic = dynamic_cast<ui::GraphicControl*>(control)) {
          chosen->HookGraphic(*this, *data_, *graphic);
        }
        AddSkinControl(*chosen);
      }
      if (control->is(ui::Kind::panel)) SkinChildren(*control);
      return;
    }
  }
  apply(decide_companion(facts_of(*control), *data_), *control);
}

bool CompanionHost::SkinByMapping(std::string_view class_name, ui::Control& control) {
  const std::optional<Decision> decision = decide_by_mapping(class_name, *data_);
  if (!decision) return false;
  apply(*decision, control);
  return true;
}

void CompanionHost::apply(const Decision& d, ui::Control& control) {
  if (d.companion != Companion::none) {
    // Rows whose companion is not built yet change nothing at all.
    if (!companion_built(d.companion)) return;
    if (d.set_flat) control.set_property("Flat", true);
    if (d.set_transparent) control.set_property("Transparent", true);
    if (d.size_grip_off)
      if (auto* bar = dynamic_cast<ui::WinControl*>(&control); bar && bar->handle()) {
        const LONG_PTR style = GetWindowLongPtrW(bar->handle(), GWL_STYLE);
        SetWindowLongPtrW(bar->handle(), GWL_STYLE, style & ~LONG_PTR(SBARS_SIZEGRIP));
      }
    if (d.tool_bar_draw)
      if (auto* bar = dynamic_cast<ui::ToolBar*>(&control))
        bar->OnCustomDrawButton = [this](ui::ToolBar& b, HDC dc, const RECT& r, unsigned state) {
          ToolBarCustomDraw(b, dc, r, state);
        };
    attach(d.companion, d.attach, d.keep_colour, d.take_over, control);
  }
  if (d.each_child != Companion::none && companion_built(d.each_child))
    if (auto* group = dynamic_cast<ui::WinControl*>(&control))
      for (ui::Control* child : group->children())
        if (!IsSkinned(*child)) attach(d.each_child, Attach::control, false, false, *child);
  if (d.children) SkinChildren(control);
}

TSkinControl* CompanionHost::attach(Companion kind, Attach how, bool keep_colour, bool take_over,
                                    ui::Control& control) {
  std::unique_ptr<TSkinControl> made = make_companion(kind);
  if (!made) return nullptr;
  TSkinControl* companion = made.release();
  AddSkinControl(*companion);
  auto* win = dynamic_cast<ui::WinControl*>(&control);
  auto* graphic = dynamic_cast<ui::GraphicControl*>(&control);
  switch (how) {
    case Attach::control:
      if (win) companion->HookControl(*this, *data_, keep_colour, *win);
      else if (graphic) companion->HookGraphic(*this, *data_, *graphic);
      break;
    case Attach::window:
      if (win) companion->HookWindow(win->handle(), *data_, *this);
      break;
    case Attach::graphic:
      if (graphic) companion->HookGraphic(*this, *data_, *graphic);
      break;
    case Attach::scrolling:
      if (auto* scrolling = dynamic_cast<TSkinScrollbar*>(companion); scrolling && win)
        scrolling->HookScrolling(*win, *data_, take_over, *this);
      break;
  }
  return companion;
}

void CompanionHost::SkinChildWindows() {
  std::vector<HWND> children;
  for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (GetWindowLongPtrW(child, GWL_STYLE) & WS_CHILD) children.push_back(child);
  for (HWND child : children) SkinChildWindow(child);
}

void CompanionHost::SkinChildWindow(HWND hwnd) {
  if (!hwnd || FindSkinControl(hwnd)) return;
  const ChildDecision d =
      decide_child_window(ascii(lower_class_name(hwnd)), uint32_t(GetWindowLongPtrW(hwnd, GWL_STYLE)));
  HWND target = d.on_first_child ? GetWindow(hwnd, GW_CHILD) : hwnd;
  if (!target || FindSkinControl(target)) return;
  std::unique_ptr<TSkinControl> made = make_companion(d.companion);
  if (!made) return;
  TSkinControl* companion = made.release();
  AddSkinControl(*companion);
  companion->HookWindow(target, *data_, *this);
}

void CompanionHost::ToolBarCustomDraw(ui::ToolBar&, HDC dc, const RECT& bounds, unsigned state) {
  const TDataSkinButton* b = data_->elements().Buttons.get();
  if (!b || b->Bitmap.empty() || !skinned()) return;
  const std::optional<int> frame = tool_button_frame(state);
  if (!frame) return;
  if (*frame == 1 && b->HasNormalColour2) SetTextColor(dc, paint::to_colorref(b->NormalColour2));
  if (*frame == 4 && b->HasMouseOverColour2) SetTextColor(dc, paint::to_colorref(b->MouseOverColour2));
  paint::draw_nine_part(dc, {bounds.left, bounds.top, bounds.right, bounds.bottom}, element_bitmap(*b),
                        paint::Strip::horizontal, false, b->Trans != 0, 5, *frame, margins_of(*b));
}

}  // namespace clip::skin
