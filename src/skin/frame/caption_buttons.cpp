// Caption buttons of TFormSkin: which show, where they go, the non-client
// mouse that drives them, what they do, and the system-menu popup.
#include <windowsx.h>

#include "skin/frame/form_skin.h"

namespace clip::skin {

bool TFormSkin::IsTitleButtonVisible(size_t index) {
  if (index >= buttons_.size()) return false;
  TWinSysButton& button = *buttons_[index];
  ButtonFacts facts;
  facts.kind = frame_kind_;
  facts.system_menu = style_flags_ & kHasSysMenu;
  facts.maximize_box = style_flags_ & kHasMaxBox;
  facts.minimize_box = style_flags_ & kHasMinBox;
  facts.show = show_;
  facts.active = active_;
  facts.menu_bar_height = metrics_.menu_bar;
  button.enabled = title_button_visible(button.element(), facts);
  return button.enabled;
}

void TFormSkin::LayoutTitleButtons() {
  RECT window{};
  GetWindowRect(hwnd_, &window);
  ButtonPlace at;
  at.window_width = window.right - window.left;
  at.caption_text = {caption_text_rect_.left, caption_text_rect_.top, caption_text_rect_.right,
                     caption_text_rect_.bottom};
  at.metrics = metrics_;
  at.right_to_left = right_to_left_;
  at.menu_bar = data_->elements().MenuBar.get();
  int rightmost = 0;
  for (size_t i = 0; i < buttons_.size(); ++i) {
    if (!IsTitleButtonVisible(i)) continue;
    TWinSysButton& b = *buttons_[i];
    int frames = 1;
    const HBITMAP bitmap = button_bitmap(b, &frames);
    if (!bitmap) continue;
    const SIZE size = paint::bitmap_size(bitmap);
    if (auto r = place_title_button(b.element(), size.cx / frames, size.cy, at, rightmost))
      b.rect = {r->left, r->top, r->right, r->bottom};
  }
  rightmost_ = rightmost;
}

TWinSysButton* TFormSkin::FindTitleButton(POINT p) const {
  for (const auto& b : buttons_)
    if (b->enabled && b->element().Action >= 0 && PtInRect(&b->rect, p)) return b.get();
  return nullptr;
}

LRESULT TFormSkin::nc_mouse(UINT msg, WPARAM wparam, LPARAM lparam) {
  const POINT screen{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  const POINT at = ScreenToWindow(screen);
  TNCObject* object = FindTitleButton(at);
  TMenuBtn* item = nullptr;
  if (!object && menu_bar_) object = item = menu_bar_->FindMenuItemAt(at);
  switch (msg) {
    case WM_NCMOUSEMOVE:
      if (!active_) return 0;
      if (object) {
        object->Hover();
        if (!tracking_leave_) {
          // Tells us when the pointer leaves the frame, so the hot object
          // does not wait for the hover timer.
          TRACKMOUSEEVENT leave{sizeof(leave), TME_LEAVE | TME_NONCLIENT, hwnd_, 0};
          tracking_leave_ = TrackMouseEvent(&leave) != FALSE;
        }
        return 0;
      }
      if (hot_) hot_->Leave();
      return call_saved(msg, wparam, lparam);
    case WM_NCLBUTTONDOWN:
      if (object) {
        if (!active_) SetForegroundWindow(hwnd_);
        object->Press();
        if (item) {
          const std::weak_ptr<const bool> alive = life_;
          menu_bar_->OpenMenuItem(*item);
          // The drop-down has closed (or the command is on its way): the
          // item is drawn pressed no longer. The skin may have been removed
          // while the drop-down was open; then nothing of it is left to touch.
          if (alive.expired()) return 0;
          release_hot_object();
        }
        return 0;
      }
      // A maximized window is not dragged by its caption.
      if (show_ == ShowState::maximized && active_ && wparam == HTCAPTION) wparam = HTMENU;
      return call_saved(msg, wparam, lparam);
    case WM_NCLBUTTONUP:
      if (object) {
        if (object == hot_ && dynamic_cast<TWinSysButton*>(object)) {
          object->Release();
          DoTitleButtonAction(screen);
        }
        return 0;
      }
      return call_saved(msg, wparam, lparam);
    case WM_NCLBUTTONDBLCLK:
      // On a menu-bar item the second press of a double click is a press
      // like the first: it opens the drop-down or runs the command again,
      // and leaves the window's size alone.
      if (item) return nc_mouse(WM_NCLBUTTONDOWN, wparam, lparam);
      if (show_ != ShowState::normal) {
        RestoreWindow();
      } else if (style_flags_ & kHasMaxBox) {
        ToggleMaximize();
      }
      return 0;
    case WM_NCRBUTTONDOWN:
      if (wparam == HTCAPTION && !is_mdi_child()) {
        ShowSystemMenu(screen);
        return 0;
      }
      return call_saved(msg, wparam, lparam);
    default:
      return call_saved(msg, wparam, lparam);
  }
}

void TFormSkin::release_hot_object() {
  if (!hot_ || menu_tracking_) return;
  POINT cursor{};
  // Under the pointer of an active window it is hot, not pressed; anywhere
  // else it is back to normal.
  if (active_ && GetCursorPos(&cursor) && WindowFromPoint(cursor) == hwnd_) {
    const POINT at = ScreenToWindow(cursor);
    if (PtInRect(&hot_->rect, at)) {
      if (hot_->state != TNCObject::hot) {
        hot_->state = TNCObject::hot;
        hot_->Paint();
      }
      return;
    }
  }
  hot_->Leave();
}

void TFormSkin::DoTitleButtonAction(POINT screen) {
  auto* button = dynamic_cast<TWinSysButton*>(hot_);
  if (!button) return;
  const int action = button->element().Action;
  switch (action) {
    case 0: post_close(); break;
    case 1:
    case 22: ToggleMaximize(); break;
    case 2:
    case 23: ToggleMinimize(); break;
    case 3:
    case 11:
    case 12: ShowSystemMenu({screen.x + 1, screen.y + 1}); break;
    case 7:
    case 60:
    case 8:
    case 61:
    case 9:
    case 62: {
      // The MDI child controls act on the frame's active child.
      if (window_kind_ != WindowKind::mdi_frame || !mdi_client_) break;
      auto child = reinterpret_cast<HWND>(SendMessageW(mdi_client_, WM_MDIGETACTIVE, 0, 0));
      if (!child) break;
      const WPARAM command = (action == 7 || action == 60) ? SC_MINIMIZE : (action == 8 || action == 61) ? SC_RESTORE
                                                                                                          : SC_CLOSE;
      SendMessageW(child, WM_SYSCOMMAND, command, 0);
      break;
    }
    default: PostMessageW(hwnd_, kSkinQueryMessage, WPARAM(action), 0); break;
  }
}

void TFormSkin::ToggleMaximize() {
  if (show_ == ShowState::maximized) {
    RestoreWindow();
    return;
  }
  show_ = ShowState::maximized;
  PostMessageW(hwnd_, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  if (hot_) {
    hot_->state = TNCObject::normal;
    hot_ = nullptr;
  }
}

void TFormSkin::ToggleMinimize() {
  if (show_ == ShowState::minimized) {
    RestoreWindow();
    return;
  }
  show_ = ShowState::minimized;
  PostMessageW(hwnd_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

void TFormSkin::RestoreWindow() {
  show_ = ShowState::normal;
  PostMessageW(hwnd_, WM_SYSCOMMAND, SC_RESTORE, 0);
}

void TFormSkin::build_system_menu_popup() {
  system_popup_.reset(CreatePopupMenu());
  HMENU menu = system_popup_.get();
  if (!menu) return;
  AppendMenuW(menu, MF_STRING, kSystemMenuBase + 0, L" Restore ");
  if (style_ & WS_MAXIMIZEBOX) AppendMenuW(menu, MF_STRING, kSystemMenuBase + 1, L" Maximize ");
  if (style_ & WS_MINIMIZEBOX) AppendMenuW(menu, MF_STRING, kSystemMenuBase + 2, L" Minimize ");
  AppendMenuW(menu, MF_SEPARATOR, kSystemMenuBase + 100, nullptr);
  AppendMenuW(menu, MF_STRING, kSystemMenuBase + 3, L" Close \tShift+F4");
  // Close is what a double click on the icon does: the default, drawn bold.
  SetMenuDefaultItem(menu, kSystemMenuBase + 3, FALSE);
  // The skin draws the items (form_menus.cpp).
  for (int i = 0, count = GetMenuItemCount(menu); i < count; ++i) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE;
    if (!GetMenuItemInfoW(menu, UINT(i), TRUE, &info)) continue;
    info.fType |= MFT_OWNERDRAW;
    SetMenuItemInfoW(menu, UINT(i), TRUE, &info);
  }
}

void TFormSkin::ShowSystemMenu(POINT screen) {
  HMENU popup = system_popup_.get();
  if (popup) {
    auto enable = [&](int tag, bool on) {
      EnableMenuItem(popup, kSystemMenuBase + UINT(tag), MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
    };
    enable(0, show_ != ShowState::normal);
    enable(1, show_ != ShowState::maximized);
    enable(2, show_ != ShowState::minimized);
  }
  // A second showing within the double-click time is a double click on the
  // window icon: it closes the window.
  const DWORD now = GetTickCount();
  if (last_system_menu_tick_ && DWORD(now - *last_system_menu_tick_) <= double_click_time_) {
    last_system_menu_tick_.reset();
    post_close();
    return;
  }
  last_system_menu_tick_ = now;
  auto track = [&](HMENU menu, UINT flags) -> UINT {
    if (tracker_) return tracker_(menu, screen, flags);
    return UINT(TrackPopupMenuEx(menu, flags | TPM_RETURNCMD, screen.x, screen.y, hwnd_, nullptr));
  };
  // The skin may be removed while the menu is open (the skin manager's timer
  // runs inside the menu loop): the command then reaches the window directly.
  const std::weak_ptr<const bool> alive = life_;
  const HWND window = hwnd_;
  if (popup && data_->SkinControls.has(xcSystemMenu) && !is_mdi_child()) {
    const UINT command = track(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON);
    if (command < kSystemMenuBase || command > kSystemMenuBase + 3) return;
    if (!alive.expired()) {
      system_menu_command(int(command - kSystemMenuBase));
    } else if (IsWindow(window)) {
      static constexpr WPARAM kCommands[] = {SC_RESTORE, SC_MAXIMIZE, SC_MINIMIZE, SC_CLOSE};
      PostMessageW(window, WM_SYSCOMMAND, kCommands[command - kSystemMenuBase], 0);
    }
    return;
  }
  HMENU standard = GetSystemMenu(hwnd_, FALSE);
  if (!standard) return;
  const UINT command = track(standard, TPM_RIGHTBUTTON);
  if (command && IsWindow(window)) PostMessageW(window, WM_SYSCOMMAND, command, 0);
}

void TFormSkin::system_menu_command(int tag) {
  switch (tag) {
    case 0: RestoreWindow(); break;
    case 1: ToggleMaximize(); break;
    case 2: ToggleMinimize(); break;
    case 3: post_close(); break;
    default: break;
  }
}

}  // namespace clip::skin
