// TSkinManager: the one object per process that decides which top-level
// windows are skinned. A WH_CBT hook on the GUI thread sees windows being
// created, activated and destroyed; each qualifying top-level window gets a
// window skin on its first activation. The skin data components enrol here,
// and their activate, deactivate and refresh requests run a little later from
// a timer, so no property change alters a window from inside its own window
// procedure.
//
// Ownership: the manager owns every window skin (its list holds them);
// forms and everything else hold non-owning pointers found through
// FindWindowSkin. A window skin whose window was destroyed marks itself
// finished and is freed by the next purge.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "skin/data/skin_data.h"

namespace ui {
class Form;
}

namespace clip::skin {

// The skin query message: a skinned window answers it with 1.
inline constexpr UINT kSkinQueryMessage = 0x3504;
// Posted to a window right after a window skin was attached (lParam 1000).
inline constexpr UINT kSkinStartMessage = 0x3503;
inline constexpr UINT kSkinRepaintMessage = 0x3502;
inline constexpr UINT kSkinRefreshMessage = 0x3401;

// What the manager asks of a window skin; TFormSkin implements it.
class WindowSkin {
 public:
  enum State { attached = 0, skinned = 1, recolouring = 3, destroying = 4, resizing = 5, finished = 6 };
  virtual ~WindowSkin() = default;
  virtual HWND handle() const = 0;
  virtual int skin_state() const = 0;
  virtual TSkinData* skin_data() const = 0;
  virtual bool is_mdi_child() const = 0;
  // Gives the window back its standard frame, styles, menu and region.
  virtual void UnskinWindow() = 0;
  // Re-reads the skin data and recomputes the frame layout.
  virtual void reload() = 0;
  virtual void repaint() = 0;
  virtual void set_mdi_maximized(bool maximized) = 0;
};

// What the manager asks of a popup-menu skin (the skin of one menu pop-up
// window, class "#32768"); TPopupMenuSkin implements it.
class PopupSkin {
 public:
  virtual ~PopupSkin() = default;
  virtual HWND handle() const = 0;
  virtual TSkinData* skin_data() const = 0;
  // The menu the window shows, once learned (nullptr before).
  virtual HMENU menu() const = 0;
  virtual void set_menu(HMENU menu) = 0;
  // Gives the window its own procedure back and empties the background.
  virtual void DetachPopup() = 0;
  // The skinned background of the whole window as last painted (nullptr
  // before, or without a popup-menu background), and where the client area
  // (the items' coordinates) starts in it.
  virtual HBITMAP background() const = 0;
  virtual POINT client_origin() const = 0;
};

// Makes and attaches a popup-menu skin for a menu window; nullptr when none
// could be attached. The frame library registers the real one.
using PopupSkinFactory = std::function<std::unique_ptr<PopupSkin>(HWND popup, TSkinData& data)>;

// Makes and attaches a window skin for hwnd (form is its form object, or
// nullptr for a plain window such as a dialog); nullptr when none could be
// attached. The frame library registers the real one.
using WindowSkinFactory = std::function<std::unique_ptr<WindowSkin>(HWND hwnd, ui::Form* form, TSkinData& data)>;

class TSkinManager {
 public:
  enum Action { kActivate = 1, kDeactivate = 2, kRefresh = 3, kPurge = 6 };
  static constexpr UINT kDeferInterval = 250;

  // The process's manager, created on first use by enrolment; nullptr before.
  static TSkinManager* instance();
  static TSkinManager& create();
  // Removes the hook and every window skin; the program's end calls it.
  static void destroy();

  void set_window_skin_factory(WindowSkinFactory factory);
  void set_popup_skin_factory(PopupSkinFactory factory);

  // owner is the form the skin data sits on (nullptr for none); skin data
  // that skins only its own form finds that form through it.
  void AddSkinData(TSkinData& data, ui::Form* owner = nullptr);
  // Also drops every window skin drawn with that skin data, so none keeps a
  // pointer to it.
  void RemoveSkinData(TSkinData& data);
  ui::Form* owner_of(const TSkinData& data) const;
  const std::vector<TSkinData*>& skin_data() const noexcept { return skin_data_; }

  void InstallHook();
  void RemoveHook();
  bool hook_installed() const noexcept { return hook_ != nullptr; }
  HHOOK hook() const noexcept { return hook_; }
  // GetVersion as read when the hook was installed; its top bit marks the
  // Windows 9x family, which the menu code treats differently.
  static DWORD windows_version() noexcept;

  void Request(int action, UINT interval);
  void set_pending(TSkinData* data) { pending_data_ = data; }
  TSkinData* pending() const noexcept { return pending_data_; }
  bool timer_running() const noexcept { return timer_ != 0; }

  bool SkinWindow(HWND hwnd);
  void SkinForm(ui::Form& form);
  WindowSkin* FindWindowSkin(HWND hwnd) const;
  void PurgeWindowSkins();
  size_t window_skin_count() const noexcept { return window_skins_.size(); }

  // Popup menus: each menu pop-up window created while skinning is active
  // gets a popup-menu skin, freed when the window is destroyed.
  bool SkinPopupMenuWindow(HWND popup);
  bool RemovePopupMenuSkin(HWND popup);
  bool IsPopupMenuSkinned(HWND popup) const;
  size_t popup_skin_count() const noexcept { return popup_skins_.size(); }
  // The popup-menu skin of the window that shows `menu`: the one that learned
  // that menu, else one whose window answers it is showing it (learning it
  // then); nullptr when none.
  PopupSkin* FindPopupMenuSkin(HMENU menu);
  // The popup that painted its border most recently without knowing its
  // menu yet: the next owner-drawn item painted tells it (one GUI thread,
  // one popup paints at a time). Cleared when that popup skin goes.
  PopupSkin* current_popup() const noexcept { return current_popup_; }
  void set_current_popup(PopupSkin* popup) noexcept { current_popup_ = popup; }
  // Gives the current popup the menu whose item is being painted.
  void LearnPopupMenu(HMENU menu);

  TSkinData* ChooseSkinData(HWND hwnd) const;
  bool AskFormSkin(std::string_view class_name) const;
  void ReloadAll();

  void SetMdiMaximized(bool value);
  bool mdi_maximized() const noexcept { return mdi_maximized_; }
  int CountMdiChildSkins() const;

  bool active() const noexcept { return active_; }
  int activation_count() const noexcept { return activation_count_; }
  bool menu_bar_menu_open() const noexcept { return menu_bar_menu_open_; }
  void set_menu_bar_menu_open(bool open) { menu_bar_menu_open_ = open; }

  // The deferred action, as the timer runs it (tests call it directly).
  void run_pending_action();

  // The application's forms: the GUI thread's top-level windows that are
  // form objects.
  static std::vector<ui::Form*> application_forms();

 private:
  friend void Loaded(TSkinData& data, ui::Form* owner);
  void start_timer();
  void stop_timer();
  // Takes the window skin out of the list first, then gives the window back
  // and frees it, so nothing reached from UnskinWindow sees it half gone.
  void unskin_and_free(size_t index);
  void free_popup_skin(size_t index);
  static void on_skin_data_destroyed(TSkinData& data);

  TSkinManager();
  ~TSkinManager();
  static LRESULT CALLBACK cbt_proc(int code, WPARAM wparam, LPARAM lparam);
  // The hook's work; a non-zero answer refuses the window's creation.
  LRESULT cbt(int code, WPARAM wparam, LPARAM lparam);
  static void CALLBACK timer_proc(HWND, UINT, UINT_PTR, DWORD);

  HHOOK hook_ = nullptr;
  UINT_PTR timer_ = 0;
  UINT interval_ = kDeferInterval;
  std::vector<std::unique_ptr<WindowSkin>> window_skins_;
  std::vector<TSkinData*> skin_data_;
  std::vector<std::pair<TSkinData*, ui::Form*>> owners_;
  WindowSkinFactory factory_;
  std::vector<std::unique_ptr<PopupSkin>> popup_skins_;
  PopupSkinFactory popup_factory_;
  PopupSkin* current_popup_ = nullptr;
  bool active_ = false;
  bool scanning_ = false;
  int activation_count_ = 0;
  bool menu_bar_menu_open_ = false;
  bool mdi_maximized_ = false;
  int pending_action_ = 0;
  TSkinData* pending_data_ = nullptr;
};

// The skin data's enrolment (its Loaded step) and its Active writer, which
// go through the manager. owner is the form the skin data sits on.
void Loaded(TSkinData& data, ui::Form* owner);
void SetActive(TSkinData& data, bool value);
// After a new skin was loaded into data at run time: every window skin
// re-reads its skin data now, and the windows drawn with data are refreshed
// by the deferred refresh.
void ApplySkinChange(TSkinData& data);
// Loads the skin archive file at path into data and, when it loaded, applies
// it; a missing or rejected file leaves data not ready and touches no window.
bool SetSkinFile(TSkinData& data, const std::string& path);

}  // namespace clip::skin
