// TSkinData: the skin of the whole user interface. Holds the skinning
// settings the main window's layout stores, the skin stream, and the
// elements and colours built from it. This half is portable; resources and
// GDI objects live in the Win32 glue.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "skin/data/elements.h"
#include "skin/data/skin_loader.h"

namespace ui {
class Control;
}

namespace clip::skin {

class CompanionHost;
class TSkinControl;

enum TSkinControlType : unsigned {
  xcMainMenu, xcPopupMenu, xcToolbar, xcControlbar, xcCombo, xcCheckBox, xcRadioButton, xcProgress,
  xcScrollbar, xcEdit, xcButton, xcBitBtn, xcSpeedButton, xcPanel, xcGroupBox, xcStatusBar, xcTab,
  xcSystemMenu, xcFastReport,
};
inline constexpr unsigned kSkinControlTypeCount = 19;

// Bit n stands for member n, as the set is laid out in memory.
struct TSkinControlTypes {
  uint32_t bits = 0;
  bool has(TSkinControlType t) const { return bits >> t & 1u; }
  TSkinControlTypes& add(TSkinControlType t) { bits |= 1u << t; return *this; }
  TSkinControlTypes& remove(TSkinControlType t) { bits &= ~(1u << t); return *this; }
  static TSkinControlTypes all() { return {(1u << kSkinControlTypeCount) - 1}; }
  bool operator==(const TSkinControlTypes&) const = default;
};

enum class TSkinFormType { sfMainform, sfOnlyThisForm, sfDialog };

// The class-name-to-kind lines every skin data starts with.
const std::vector<std::string>& default_skin3rd();

class TSkinData {
 public:
  TSkinData();
  // Tells whoever keeps pointers to skin data (the skin manager) that this
  // one goes away.
  ~TSkinData();
  TSkinData(const TSkinData&) = delete;
  TSkinData& operator=(const TSkinData&) = delete;
  // Set by the skin manager while it exists; called by the destructor.
  static inline void (*on_destroyed)(TSkinData& data) = nullptr;

  // The values the main window's layout stores (everything but the stream).
  void apply_main_window_settings();

  bool Active = false;
  int32_t DisableTag = 99;
  TSkinControlTypes SkinControls = TSkinControlTypes::all().remove(xcFastReport);
  std::vector<std::string> Skin3rd = default_skin3rd();
  TSkinFormType SkinFormtype = TSkinFormType::sfMainform;
  std::string Version = "1.0.0";
  bool MenuUpdate = true;
  // A status text for the designer only; at run time it always reads "(none)".
  std::string SkinStore() const { return "(none)"; }

  // The kind a class name maps to through Skin3rd (nullopt when no line names
  // it): the first line starting with the lower-cased name and "=", text
  // after the first "=" (at most 50 characters), in lower case.
  std::optional<std::string> skin3rd_kind(std::string_view class_name) const;

  // The SkinStream property: a 32-bit little-endian count, then that many
  // bytes of skin stream. Reading a non-empty one loads the skin at once.
  // A count beyond the bytes present is rejected (no skin).
  bool read_skin_stream_property(std::span<const uint8_t> property);
  std::vector<uint8_t> write_skin_stream_property() const;

  // Loads a skin archive file; a missing or unreadable file changes nothing
  // but the not-ready flag.
  bool SetSkinFile(const std::string& path);
  const std::string& SkinFile() const { return skin_file_; }

  // Unpacks the stream and builds the elements; false leaves not ready.
  bool LoadSkin();

  // Where the old-version message goes; the application shows a message box.
  SkinNotifier notifier;

  // Asked for each top-level window before it is skinned, with the window's
  // class name; clearing do_skin leaves the window standard.
  std::function<void(TSkinData& sender, std::string_view class_name, bool& do_skin)> OnFormSkin;
  // Asked for each control a window skin visits, before the built-in
  // companion is chosen: sender is the window skin's companion list,
  // container the form or panel being walked, class_name the control's class
  // name upper-cased. A handler that sets `skinned` to a companion makes it
  // the control's; one not yet listed is attached with its own keep-colour
  // flag and owned by the list from then on. Left null, the built-in rules
  // decide.
  std::function<void(CompanionHost& sender, TSkinData& data, ui::Control* container, ui::Control& control,
                     std::string_view class_name, TSkinControl*& skinned)>
      OnSkinControl;
  // Fired after each deferred activate, deactivate or refresh.
  std::function<void(TSkinData& sender)> OnSkinChanged;
  void NotifySkinChanged() {
    if (OnSkinChanged) OnSkinChanged(*this);
  }
  // Whether window skins paint the non-client area; a window skin clears it
  // only for the length of one of its own repaints.
  bool frame_painting = true;

  bool not_ready() const { return not_ready_; }
  const std::vector<uint8_t>& skin_stream() const { return stream_; }
  // The built elements; before a successful load, the fixed empty ones.
  const SkinElements& elements() const { return elements_; }

 private:
  std::vector<uint8_t> stream_;
  std::string skin_file_;
  bool not_ready_ = true;
  SkinElements elements_;
};

}  // namespace clip::skin
