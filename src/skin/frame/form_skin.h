// TFormSkin: the skinned frame of one top-level window. It subclasses the
// window on top of whatever procedure it has, takes the caption style off so
// that Windows draws no frame, answers the non-client messages itself (size
// calculation, painting, activation, hit testing, the mouse on its caption
// buttons), cuts the window region from the border bitmaps and puts
// everything back when the skin is removed: procedure, styles, menu, region
// and the client size.
//
// Lifecycle: the factory creates and attaches it (skin state 0), the skin
// manager posts the start message, which sizes the frame around the
// unchanged client area (state 1). WM_NCDESTROY releases the window (state 4,
// then 6, "finished"); UnskinWindow restores a live one. Destroying the
// object while its window still carries it restores the window first.
//
// A skin that is not ready is never attached; a skin whose border bitmaps
// are missing attaches without framing, so the window keeps its standard
// frame and only answers the skin query.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "skin/frame/frame_geometry.h"
#include "skin/frame/menu_bar.h"
#include "skin/frame/nc_object.h"
#include "skin/manager/skin_manager.h"
#include "skin/paint/paint_win.h"
#include "ui/component.h"
#include "ui/handles.h"

namespace ui {
class Form;
class MenuItem;
}

namespace clip::skin {

class TFormSkin;

// A menu handle we created; destroyed with its items.
struct menu_traits {
  using handle_type = HMENU;
  static HMENU invalid() noexcept { return nullptr; }
  static void close(HMENU h) noexcept { DestroyMenu(h); }
};
using unique_menu = ui::unique_handle<menu_traits>;

// One caption button, bound to its skin element.
class TWinSysButton : public TNCObject {
 public:
  TWinSysButton(TFormSkin& owner, const TDataSkinSysButton& element);
  void Paint() override;
  const TDataSkinSysButton& element() const noexcept { return *element_; }

 private:
  TFormSkin* skin_;
  const TDataSkinSysButton* element_;
};

namespace detail {
// FrameHost and WindowSkin both name an accessor skin_data() with different
// return types; these two steps give each its own name in TFormSkin.
class FrameHostSide : public FrameHost {
 public:
  TSkinData& skin_data() const final { return frame_skin_data(); }

 protected:
  virtual TSkinData& frame_skin_data() const = 0;
};
class WindowSkinSide : public WindowSkin {
 public:
  TSkinData* skin_data() const final { return window_skin_data(); }

 protected:
  virtual TSkinData* window_skin_data() const = 0;
};
}  // namespace detail

class TFormSkin final : public detail::FrameHostSide, public detail::WindowSkinSide {
 public:
  // The id of the hover timer on the skinned window.
  static constexpr UINT_PTR kHoverTimer = 0x5F3C;
  static constexpr UINT kHoverInterval = 250;
  static constexpr const char* kCaptionPrefix = "  ";

  // owner: the form object of the window, or nullptr for a plain window.
  TFormSkin(HWND hwnd, ui::Form* owner);
  ~TFormSkin() override;
  TFormSkin(const TFormSkin&) = delete;
  TFormSkin& operator=(const TFormSkin&) = delete;

  // For a form object: hooks its handler chain, then AttachToWindow.
  bool AttachToForm(TSkinData& data, ui::Form& form);
  // Subclasses the window, strips the frame styles and computes the frame.
  // False (nothing changed) for a null or destroyed window or a skin that is
  // not ready; a second call does nothing.
  bool AttachToWindow(TSkinData& data);

  // WindowSkin
  HWND handle() const override { return hwnd_; }
  int skin_state() const override { return state_; }
  bool is_mdi_child() const override { return window_kind_ == WindowKind::mdi_child; }
  void UnskinWindow() override;
  void reload() override;
  void repaint() override;
  void set_mdi_maximized(bool maximized) override;

  // FrameHost
  HWND window() const override { return hwnd_; }
  bool active() const override { return active_; }
  ShowState show_state() const override { return show_; }
  const FrameMetrics& metrics() const override { return metrics_; }
  bool right_to_left() const override { return right_to_left_; }
  POINT ScreenToWindow(POINT screen) const override;
  TNCObject* hot_object() const override { return hot_; }
  void set_hot_object(TNCObject* object) override { hot_ = object; }
  bool menu_tracking() const override { return menu_tracking_; }
  void set_menu_tracking(bool tracking) override { menu_tracking_ = tracking; }

  // Frame painting. dc: a DC of the whole window (window coordinates), or
  // nullptr for the window's own DC.
  void PaintFrame(HDC dc = nullptr);
  void UpdateWindowRegion();
  void drop_region();

  // Caption buttons.
  bool IsTitleButtonVisible(size_t index);
  void LayoutTitleButtons();
  void PaintTitleButton(TWinSysButton& button, int state);
  TWinSysButton* FindTitleButton(POINT window_point) const;
  void DoTitleButtonAction(POINT screen_point);
  void ToggleMaximize();
  void ToggleMinimize();
  void RestoreWindow();
  void ShowSystemMenu(POINT screen_point);
  const std::vector<std::unique_ptr<TWinSysButton>>& title_buttons() const noexcept { return buttons_; }

  // Shows a popup menu at a screen point and answers the chosen command (0
  // for none). The default tracks it with TrackPopupMenuEx; tests replace it.
  using MenuTracker = std::function<UINT(HMENU menu, POINT screen, UINT flags)>;
  void set_menu_tracker(MenuTracker tracker) { tracker_ = std::move(tracker); }
  HMENU system_menu_popup() const noexcept { return system_popup_.get(); }
  // Commands of the system-menu popup: kSystemMenuBase + the item's tag.
  static constexpr UINT kSystemMenuBase = 0x7A00;

  // Owner-drawn menu items (form_menus.cpp): the handlers the form's popup
  // menus get, and the switch that gives or takes them.
  void MeasureMenuItem(ui::MenuItem& item, HDC dc, int& width, int& height);
  void DrawMenuItem(ui::MenuItem& item, HDC dc, const RECT& rect, UINT state);
  void SkinPopupMenus(bool on);

  // Expires when this window skin is destroyed: code that runs a nested
  // loop (a drop-down, the system menu) checks it before touching members,
  // since the skin manager's timer may remove the skin meanwhile.
  std::weak_ptr<const bool> life() const { return life_; }

  // State read back by tests and by the menu bar.
  bool frame_skinning() const noexcept { return frame_skinning_; }
  FrameKind frame_kind() const noexcept { return frame_kind_; }
  bool subclassed() const noexcept { return saved_proc_ != nullptr; }
  bool owns_region() const noexcept { return region_owned_; }
  int region_builds() const noexcept { return region_builds_; }
  const RECT& caption_text_rect() const noexcept { return caption_text_rect_; }
  const std::wstring& caption() const noexcept { return caption_; }
  bool hover_timer_running() const noexcept { return timer_running_; }
  int rightmost_left_edge() const noexcept { return rightmost_; }
  TMenuBarSkin* menu_bar() const noexcept { return menu_bar_.get(); }

 protected:
  TSkinData& frame_skin_data() const override { return *data_; }
  TSkinData* window_skin_data() const override { return data_; }

 private:
  enum class WindowKind { normal = 0, mdi_frame = 1, mdi_child = 2 };
  enum StyleFlag : unsigned { kHasMaxBox = 1, kHasMinBox = 2, kHasSysMenu = 8, kCaptionRemoved = 16 };

  static LRESULT CALLBACK FrameWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT handle(UINT msg, WPARAM wparam, LPARAM lparam);
  std::optional<LRESULT> stage2(UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT stage3(UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT call_saved(UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT form_window_proc(ui::Message& m);
  void recolour();
  unsigned skin_colour_as_control_colour() const;
  LRESULT nc_mouse(UINT msg, WPARAM wparam, LPARAM lparam);
  // A menu-bar item or caption button never stays drawn hot or pressed once
  // the pointer, the capture or the activation has gone elsewhere.
  void release_hot_object();

  // Owner-drawn menu items (form_menus.cpp).
  bool is_system_menu_command(UINT id) const;
  std::optional<LRESULT> system_menu_item(UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT menu_item(UINT msg, WPARAM wparam, LPARAM lparam);
  ui::MenuItem* form_popup_item(UINT id) const;

  void read_window_facts();
  void read_show_state();
  void read_caption();
  void ApplyFrameStyles(bool on);
  void ComputeFrameMetrics();
  void build_element_bitmaps();
  void build_window_icon();
  void build_system_menu_popup();
  void start();
  void ResizeToFrame(bool reread);
  void set_window_size_keeping_client(int width, int height, SIZE client);
  void on_size(WPARAM wparam);
  void release();  // WM_NCDESTROY
  void restore_procedures();
  void restore_frame();
  void start_timer(bool on);
  void on_hover_timer();
  void system_menu_command(int tag);
  void post_close();

  // Painting helpers (frame_paint.cpp).
  HBITMAP element_bitmap(const Pixels24& pixels) const;
  ui::gdi_object<HBITMAP> border_piece(Border which, int width, int height) const;
  void PaintCaptionBar(HDC target);
  void DrawCaptionText(HDC dc, const Rect& area);
  void PaintTitleButtons(HDC dc);
  HBITMAP button_bitmap(const TWinSysButton& b, int* frame_count) const;
  COLORREF caption_colour() const;

  HWND hwnd_;
  ui::Form* form_;
  TSkinData* data_ = nullptr;
  bool attached_ = false;
  WNDPROC saved_proc_ = nullptr;
  bool form_hooked_ = false;
  ui::MessageHandler saved_form_proc_;
  unsigned saved_form_colour_ = 0;
  bool form_colour_saved_ = false;
  HWND mdi_client_ = nullptr;

  DWORD style_ = 0, ex_style_ = 0;
  std::wstring caption_;
  std::wstring class_name_;
  HWND owner_window_ = nullptr;
  RECT client_{0, 0, 0, 0};
  SIZE nc_size_{0, 0};  // window minus client size before skinning
  HMENU system_menu_ = nullptr;
  HMENU menu_ = nullptr;
  bool right_to_left_ = false;
  bool sizeable_ = false;
  unsigned style_flags_ = 0;
  DWORD original_frame_styles_ = 0;  // caption, system menu and boxes before skinning
  WindowKind window_kind_ = WindowKind::normal;
  FrameKind frame_kind_ = FrameKind::plain;
  ShowState show_ = ShowState::normal;
  int state_ = attached;
  bool active_ = true;
  bool frame_skinning_ = false;
  bool menu_tracking_ = false;
  bool styles_stripped_ = false;
  bool app_region_ = false;  // the application set a region of its own: never replaced
  bool in_region_update_ = false;
  bool mdi_maximized_ = false;

  FrameMetrics metrics_;
  RECT window_rect_{0, 0, 0, 0};
  int width_ = 0, height_ = 0;
  RECT caption_text_rect_{0, 0, 0, 0};
  int rightmost_ = 0;

  ui::gdi_object<HFONT> caption_font_;
  int space_width_ = 4;
  ui::gdi_object<HBITMAP> icon_bitmap_;
  SIZE icon_size_{16, 16};
  ui::gdi_object<HBITMAP> caption_cache_;     // the caption bar as last painted
  ui::gdi_object<HBITMAP> caption_backdrop_;  // the same without the buttons
  SIZE cache_size_{0, 0};
  bool region_owned_ = false;
  SIZE region_size_{0, 0};
  int region_builds_ = 0;
  std::unordered_map<const Pixels24*, ui::gdi_object<HBITMAP>> bitmaps_;
  ui::gdi_object<HBITMAP> frame_buffer_;  // the whole frame, composed before one blit
  SIZE frame_buffer_size_{0, 0};
  ui::gdi_object<HBRUSH> face_brush_;

  std::vector<std::unique_ptr<TWinSysButton>> buttons_;
  std::unique_ptr<TMenuBarSkin> menu_bar_;
  TNCObject* hot_ = nullptr;
  unique_menu system_popup_;
  MenuTracker tracker_;
  bool timer_running_ = false;
  std::optional<DWORD> last_system_menu_tick_;
  UINT double_click_time_ = 500;
  bool tracking_leave_ = false;  // a non-client mouse-leave notice is asked for
  std::shared_ptr<const bool> life_ = std::make_shared<const bool>(true);

  friend class TWinSysButton;
};

// The factory the skin manager calls: creates a window skin for hwnd and
// attaches it (to the form object when there is one); nullptr when the
// window is null or gone or the skin is not ready. The caller posts the skin
// start message and owns the result.
std::unique_ptr<WindowSkin> attach_form_skin(HWND hwnd, ui::Form* form, TSkinData& data);

// The window skin attached to hwnd, found through the window; nullptr when
// none.
TFormSkin* find_form_skin(HWND hwnd);

}  // namespace clip::skin
