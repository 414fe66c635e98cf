// TPopupMenuSkin: the skin of one menu pop-up window (class "#32768"). It
// subclasses the window, builds the skin's popup-menu background at the
// window's size and shows it as the popup's border; the owner-drawn items
// inside copy their backgrounds from the same picture, so items and border
// are one surface. Menu animation renders the popup through WM_PRINT, which
// gets the same border.
//
// Where the border is depends on the system: a popup with a non-client
// frame has its border painted on WM_NCPAINT; a popup whose client area is
// the whole window draws its 3-pixel border inside, around the items, so
// the skin composes the whole window (background, then the items the
// window's own painting produces, clipped to the inside) and blits it once.
//
// The skin manager creates one for each popup window created while skinning
// is active and frees it when the window is destroyed. Without a usable
// background element every message goes to the window's own procedure: the
// popup keeps the system's border.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "skin/frame/menu_geometry.h"
#include "skin/manager/skin_manager.h"
#include "ui/handles.h"

namespace clip::skin {

class TPopupMenuSkin final : public PopupSkin {
 public:
  TPopupMenuSkin() = default;
  ~TPopupMenuSkin() override;
  TPopupMenuSkin(const TPopupMenuSkin&) = delete;
  TPopupMenuSkin& operator=(const TPopupMenuSkin&) = delete;

  // Subclasses the popup window; menu may be nullptr (learned later). False
  // for a window that is gone or already has a popup-menu skin.
  bool AttachPopup(HWND popup, TSkinData& data, HMENU menu);

  // PopupSkin
  HWND handle() const override { return hwnd_; }
  TSkinData* skin_data() const override { return data_; }
  HMENU menu() const override { return menu_; }
  void set_menu(HMENU menu) override { menu_ = menu; }
  void DetachPopup() override;
  HBITMAP background() const override { return background_.get(); }
  POINT client_origin() const override { return origin_; }

  bool subclassed() const noexcept { return saved_proc_ != nullptr; }

 private:
  static LRESULT CALLBACK PopupWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT handle_message(UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT call_saved(UINT msg, WPARAM wparam, LPARAM lparam);
  // The popup's size, where its client area sits and its border ring.
  struct Shape {
    int width = 0, height = 0;
    POINT origin{0, 0};
    menu::Ring ring;
    bool border_inside = false;  // no non-client frame: the border is drawn in the client area
  };
  Shape shape() const;
  // Builds the background picture at the window's size; false when the skin
  // has no usable popup-menu background (or is not ready).
  bool build_background(const Shape& shape);
  void become_current();
  void paint_border(const Shape& shape);
  void paint_inside(const Shape& shape);
  void print(HDC dc, LPARAM flags, const Shape& shape);

  HWND hwnd_ = nullptr;
  TSkinData* data_ = nullptr;
  HMENU menu_ = nullptr;
  WNDPROC saved_proc_ = nullptr;
  ui::gdi_object<HBITMAP> background_;
  POINT origin_{0, 0};
  ui::gdi_object<HBITMAP> element_;  // the element's pixels as a bitmap, made once
};

// The factory the skin manager calls for each new popup window.
std::unique_ptr<PopupSkin> attach_popup_skin(HWND popup, TSkinData& data);

// The popup-menu skin on a window, found through the window; nullptr when none.
TPopupMenuSkin* find_popup_skin(HWND popup);

}  // namespace clip::skin
