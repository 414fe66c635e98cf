#include "skin/frame/form_skin.h"

#include <windowsx.h>

#include <algorithm>

#include "skin/data/skin_win.h"
#include "skin/frame/subclass.h"
#include "ui/controls.h"

namespace clip::skin {
namespace {

// The window skin of a window, and the procedure it replaced. The second one
// outlives the first when someone subclassed the window on top of us before
// the skin was removed: we then stay in the chain and only pass messages on.
constexpr wchar_t kSkinProp[] = L"ClipSalvage.FormSkin";
constexpr wchar_t kSavedProcProp[] = L"ClipSalvage.FormSkin.Saved";

WNDPROC saved_proc_of(HWND hwnd) { return saved_procedure(hwnd, kSavedProcProp); }

ShowState show_state_of(HWND hwnd) {
  WINDOWPLACEMENT placement{sizeof(placement)};
  if (!GetWindowPlacement(hwnd, &placement)) return ShowState::normal;
  switch (placement.showCmd) {
    case SW_SHOWMAXIMIZED: return ShowState::maximized;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE: return ShowState::minimized;
    default: return ShowState::normal;
  }
}

SIZE client_size(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  return {r.right - r.left, r.bottom - r.top};
}

bool is_frame_command(UINT id) {
  switch (id & 0xFFF0) {
    case SC_SIZE:
    case SC_MOVE:
    case SC_MINIMIZE:
    case SC_MAXIMIZE:
    case SC_NEXTWINDOW:
    case SC_PREVWINDOW:
    case SC_CLOSE:
    case SC_RESTORE: return true;
    default: return false;
  }
}

constexpr DWORD kFrameStyleBits = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

}  // namespace

TWinSysButton::TWinSysButton(TFormSkin& owner, const TDataSkinSysButton& element)
    : TNCObject(owner), skin_(&owner), element_(&element) {}

void TWinSysButton::Paint() { skin_->PaintTitleButton(*this, state); }

TFormSkin::TFormSkin(HWND hwnd, ui::Form* owner) : hwnd_(hwnd), form_(owner) {
  double_click_time_ = GetDoubleClickTime();
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  bool got = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0);
  if (!got) {
    // Systems before Vista know the structure without its last field.
    metrics.cbSize = sizeof(metrics) - sizeof(metrics.iPaddedBorderWidth);
    got = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0);
  }
  if (got) caption_font_.reset(CreateFontIndirectW(&metrics.lfCaptionFont));
  if (HDC screen = GetDC(nullptr)) {
    HGDIOBJ previous = caption_font_ ? SelectObject(screen, caption_font_.get()) : nullptr;
    SIZE space{};
    if (GetTextExtentPoint32W(screen, L" ", 1, &space) && space.cx > 0) space_width_ = space.cx;
    if (previous) SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
  }
  icon_size_ = {std::max(GetSystemMetrics(SM_CXSMICON), 1), std::max(GetSystemMetrics(SM_CYSMICON), 1)};
}

TFormSkin::~TFormSkin() {
  if (attached_ && state_ != finished && IsWindow(hwnd_)) UnskinWindow();
  buttons_.clear();
  hot_ = nullptr;
}

bool TFormSkin::AttachToForm(TSkinData& data, ui::Form& form) {
  if (attached_) return true;
  if (!hwnd_ || !IsWindow(hwnd_) || data.not_ready()) return false;
  form_ = &form;
  data_ = &data;
  frame_skinning_ = data.SkinControls.has(xcMainMenu) && skin_can_frame(data.elements());
  if (frame_skinning_) {
    saved_form_proc_ = form.window_proc();
    form.set_window_proc([this](ui::Message& m) { return form_window_proc(m); });
    form_hooked_ = true;
  }
  if (!AttachToWindow(data)) {
    if (form_hooked_) form.set_window_proc(saved_form_proc_);
    form_hooked_ = false;
    return false;
  }
  saved_form_colour_ = form.swap_color(skin_colour_as_control_colour());
  form_colour_saved_ = true;
  if (frame_skinning_) SkinPopupMenus(true);
  form.invalidate();
  return true;
}

unsigned TFormSkin::skin_colour_as_control_colour() const {
  const Colour c = data_->elements().colour(SkinColour::ButtonFace);
  if (c & 0x80000000u) return c & 0xFF;  // a system colour index
  return (c & 0xFFFFFF) | ui::Control::kRgbFlag;
}

bool TFormSkin::AttachToWindow(TSkinData& data) {
  if (attached_) return true;
  if (!hwnd_ || !IsWindow(hwnd_) || data.not_ready()) return false;
  data_ = &data;
  frame_skinning_ = data.SkinControls.has(xcMainMenu) && skin_can_frame(data.elements());

  read_window_facts();
  build_window_icon();
  build_system_menu_popup();
  read_show_state();
  sizeable_ = (style_ & WS_THICKFRAME) != 0;
  if (ex_style_ & WS_EX_MDICHILD) {
    window_kind_ = WindowKind::mdi_child;
  } else if (HWND client = FindWindowExW(hwnd_, nullptr, L"MDIClient", nullptr)) {
    // MDI frames keep their client's standard look; the program has none.
    window_kind_ = WindowKind::mdi_frame;
    mdi_client_ = client;
  }
  frame_kind_ = clip::skin::frame_kind(style_, ex_style_);
  {
    ui::gdi_object<HRGN> probe(CreateRectRgn(0, 0, 0, 0));
    app_region_ = probe && GetWindowRgn(hwnd_, probe.get()) != ERROR;
  }
  const Colour face = data.elements().colour(SkinColour::ButtonFace);
  face_brush_.reset(CreateSolidBrush(face & 0x80000000u ? GetSysColor(int(face & 0xFF)) : COLORREF(face & 0xFFFFFF)));

  if (frame_skinning_) {
    if (menu_ && !is_mdi_child()) {
      // The painted bar takes the menu off the window; Windows draws no bar.
      menu_bar_ = std::make_unique<TMenuBarSkin>(*this, form_ ? form_->menu : nullptr);
      metrics_.menu_bar = GetSystemMetrics(SM_CYMENU);
      menu_bar_->BuildFromWindowMenu();
    }
    if (!(is_mdi_child() && mdi_maximized_) && show_ != ShowState::minimized) ApplyFrameStyles(false);
    ComputeFrameMetrics();
  }

  SetPropW(hwnd_, kSkinProp, this);
  saved_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TFormSkin::FrameWindowProc)));
  SetPropW(hwnd_, kSavedProcProp, reinterpret_cast<HANDLE>(saved_proc_));
  attached_ = true;
  InvalidateRect(hwnd_, nullptr, TRUE);
  return true;
}

void TFormSkin::read_window_facts() {
  style_ = DWORD(GetWindowLongPtrW(hwnd_, GWL_STYLE));
  ex_style_ = DWORD(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
  system_menu_ = GetSystemMenu(hwnd_, FALSE);
  read_caption();
  wchar_t name[100] = {};
  GetClassNameW(hwnd_, name, 100);
  class_name_ = name;
  owner_window_ = GetWindow(hwnd_, GW_OWNER);
  GetClientRect(hwnd_, &client_);
  RECT window{};
  GetWindowRect(hwnd_, &window);
  nc_size_ = {(window.right - window.left) - client_.right, (window.bottom - window.top) - client_.bottom};
  menu_ = (style_ & WS_CHILD) ? nullptr : GetMenu(hwnd_);
  right_to_left_ = (ex_style_ & WS_EX_LEFTSCROLLBAR) != 0;
  style_flags_ = 0;
  if ((style_ & WS_SYSMENU) || system_menu_) style_flags_ |= kHasSysMenu;
  if (style_ & WS_MINIMIZEBOX) style_flags_ |= kHasMinBox;
  if (style_ & WS_MAXIMIZEBOX) style_flags_ |= kHasMaxBox;
  original_frame_styles_ = style_ & kFrameStyleBits;
}

void TFormSkin::read_caption() {
  const int length = int(SendMessageW(hwnd_, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(size_t(std::max(length, 0)) + 1, L'\0');
  const int got = int(SendMessageW(hwnd_, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
  text.resize(size_t(std::clamp(got, 0, length)));
  caption_ = std::move(text);
}

void TFormSkin::read_show_state() { show_ = show_state_of(hwnd_); }

void TFormSkin::ApplyFrameStyles(bool on) {
  if (!on && is_mdi_child() && mdi_maximized_) return;
  const DWORD before = DWORD(GetWindowLongPtrW(hwnd_, GWL_STYLE));
  DWORD style = before;
  if (on) {
    // Exactly the bits the window had, so that removing the skin gives the
    // styles back unchanged.
    style = (style & ~kFrameStyleBits) | original_frame_styles_;
    style_flags_ &= ~unsigned(kCaptionRemoved);
  } else if (owner_window_) {
    style &= ~DWORD(WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_SYSMENU);
  } else {
    style &= ~DWORD(WS_CAPTION);
    style_flags_ |= kCaptionRemoved;
  }
  styles_stripped_ = !on;
  if (style != before) SetWindowLongPtrW(hwnd_, GWL_STYLE, LONG_PTR(style));
  style_ = style;
}

void TFormSkin::ComputeFrameMetrics() {
  if (data_->not_ready()) return;
  const SkinElements& e = data_->elements();
  const int menu_bar = metrics_.menu_bar;
  metrics_ = frame_metrics(e, frame_kind_, menu_bar);
  build_element_bitmaps();
  hot_ = nullptr;
  buttons_.clear();
  for (const auto& element : e.TitleButtons)
    if (element) buttons_.push_back(std::make_unique<TWinSysButton>(*this, *element));
}

void TFormSkin::build_element_bitmaps() {
  bitmaps_.clear();
  const SkinElements& e = data_->elements();
  auto add = [&](const Pixels24& p) {
    if (p.empty() || bitmaps_.count(&p)) return;
    uint32_t* bits = nullptr;
    ui::gdi_object<HBITMAP> bitmap = paint::create_dib(p.width, p.height, &bits);
    if (!bitmap || !bits) return;
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) bits[size_t(y) * size_t(p.width) + size_t(x)] = p.rgb(x, y);
    bitmaps_.emplace(&p, std::move(bitmap));
  };
  for (const TDataSkinBorder* b : {e.Left.get(), e.Right.get(), e.Top.get(), e.Bottom.get()})
    if (b) add(b->Bitmap);
  if (e.Title) add(e.Title->Bitmap);
  if (e.MenuBar) add(e.MenuBar->Bitmap);
  for (const auto& b : e.TitleButtons)
    if (b) add(b->Bitmap);
}

void TFormSkin::build_window_icon() {
  icon_bitmap_ = paint::create_dib(icon_size_.cx, icon_size_.cy);
  if (!icon_bitmap_) return;
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return;
  HGDIOBJ previous = SelectObject(dc, icon_bitmap_.get());
  ui::gdi_object<HBRUSH> magenta(CreateSolidBrush(paint::kKeyColour));
  RECT all{0, 0, icon_size_.cx, icon_size_.cy};
  if (magenta) FillRect(dc, &all, magenta.get());
  auto icon = reinterpret_cast<HICON>(SendMessageW(hwnd_, WM_GETICON, ICON_SMALL, 0));
  if (!icon) icon = reinterpret_cast<HICON>(SendMessageW(hwnd_, WM_GETICON, ICON_BIG, 0));
  if (!icon) icon = reinterpret_cast<HICON>(GetClassLongPtrW(hwnd_, GCLP_HICONSM));
  if (!icon) icon = reinterpret_cast<HICON>(GetClassLongPtrW(hwnd_, GCLP_HICON));
  if (icon) {
    auto copy = static_cast<HICON>(CopyImage(icon, IMAGE_ICON, icon_size_.cx, icon_size_.cy, LR_COPYFROMRESOURCE));
    if (!copy) copy = static_cast<HICON>(CopyImage(icon, IMAGE_ICON, icon_size_.cx, icon_size_.cy, 0));
    if (copy) {
      DrawIconEx(dc, 0, 0, copy, icon_size_.cx, icon_size_.cy, 0, nullptr, DI_NORMAL);
      DestroyIcon(copy);
    }
  }
  SelectObject(dc, previous);
  DeleteDC(dc);
}

POINT TFormSkin::ScreenToWindow(POINT p) const {
  ScreenToClient(hwnd_, &p);
  if (show_ == ShowState::minimized) return p;
  return {p.x + metrics_.left, p.y + metrics_.caption + metrics_.menu_bar};
}

LRESULT CALLBACK TFormSkin::FrameWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto* self = static_cast<TFormSkin*>(GetPropW(hwnd, kSkinProp));
  if (!self) return forward_to_saved(hwnd, kSavedProcProp, msg, wparam, lparam);
  return ui::guard_message(hwnd, msg, [&] { return self->handle(msg, wparam, lparam); });
}

LRESULT TFormSkin::call_saved(UINT msg, WPARAM wparam, LPARAM lparam) {
  return call_procedure(saved_proc_ ? saved_proc_ : saved_proc_of(hwnd_), hwnd_, msg, wparam, lparam);
}

LRESULT TFormSkin::handle(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_ERASEBKGND: {
      if (form_) return call_saved(msg, wparam, lparam);
      call_saved(msg, wparam, lparam);
      RECT client{};
      GetClientRect(hwnd_, &client);
      if (face_brush_) FillRect(reinterpret_cast<HDC>(wparam), &client, face_brush_.get());
      return 1;
    }
    case WM_STYLECHANGED:
      if (wparam == WPARAM(GWL_STYLE)) style_ = reinterpret_cast<const STYLESTRUCT*>(lparam)->styleNew;
      return call_saved(msg, wparam, lparam);
    case WM_NCDESTROY: {
      state_ = destroying;
      WNDPROC saved = saved_proc_;
      release();
      const LRESULT r = call_procedure(saved, hwnd_, msg, wparam, lparam);
      state_ = finished;
      return r;
    }
    case WM_CTLCOLORBTN: {
      const LRESULT r = call_saved(msg, wparam, lparam);
      if (!form_) SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
      return r;
    }
    case WM_CTLCOLORSTATIC: {
      const LRESULT r = call_saved(msg, wparam, lparam);
      if (form_ || !face_brush_) return r;
      SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
      return reinterpret_cast<LRESULT>(face_brush_.get());
    }
    case WM_TIMER:
      if (wparam == kHoverTimer) {
        on_hover_timer();
        return 0;
      }
      break;
    case WM_MEASUREITEM:
    case WM_DRAWITEM:
      // The skinned system menu is drawn in every state of the window.
      if (std::optional<LRESULT> r = system_menu_item(msg, wparam, lparam)) return *r;
      break;
    case kSkinQueryMessage:
      return 1;
    case kSkinStartMessage:
      if (!frame_skinning_) {
        // Nothing to frame: the window is skinned as far as it will be.
        if (state_ == attached) state_ = skinned;
        return 0;
      }
      break;
    case WM_SETTEXT:
      // A form's caption goes through the form-level handler; a plain
      // window's is kept here.
      if (!form_hooked_ && frame_skinning_) {
        const LRESULT r = call_saved(msg, wparam, lparam);
        read_caption();
        SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                     SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        return r;
      }
      break;
    default:
      break;
  }
  if (!frame_skinning_) return call_saved(msg, wparam, lparam);
  if (std::optional<LRESULT> r = stage2(msg, wparam, lparam)) return *r;
  return stage3(msg, wparam, lparam);
}

std::optional<LRESULT> TFormSkin::stage2(UINT msg, WPARAM wparam, LPARAM lparam) {
  if ((style_ & WS_CHILD) && !is_mdi_child()) return call_saved(msg, wparam, lparam);
  switch (msg) {
    case WM_SIZE: {
      const LRESULT r = call_saved(msg, wparam, lparam);
      on_size(wparam);
      return r;
    }
    case WM_ACTIVATE:
      active_ = LOWORD(wparam) != WA_INACTIVE;
      return std::nullopt;
    case WM_NCACTIVATE:
      active_ = (wparam & 0xFF) != 0;
      return std::nullopt;
    case WM_GETMINMAXINFO: {
      const LRESULT r = call_saved(msg, wparam, lparam);
      read_show_state();
      if (show_ == ShowState::minimized) {
        ApplyFrameStyles(true);
      } else if (!is_mdi_child()) {
        ApplyFrameStyles(false);
      } else if (show_ == ShowState::normal) {
        ApplyFrameStyles(false);
      } else {
        ApplyFrameStyles(true);
      }
      auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
      if (info) info->ptMaxTrackSize = {GetSystemMetrics(SM_CXMAXIMIZED), GetSystemMetrics(SM_CYMAXIMIZED)};
      return r;
    }
    case WM_WINDOWPOSCHANGED: {
      read_show_state();
      return call_saved(msg, wparam, lparam);
    }
    case WM_COMMAND:
      if (lparam == 0 && HIWORD(wparam) == 0 && is_frame_command(LOWORD(wparam))) {
        PostMessageW(hwnd_, WM_SYSCOMMAND, LOWORD(wparam), 0);
        return 0;
      }
      return call_saved(msg, wparam, lparam);
    case WM_SYSCHAR:
      if (menu_bar_ && menu_bar_->HandleSysChar(wparam, lparam)) return 0;
      return std::nullopt;
    case WM_SYSCOMMAND:
      if (menu_bar_ && menu_bar_->HandleKeyMenu(wparam, lparam)) return 0;
      switch (wparam & 0xFFF0) {
        case SC_MINIMIZE:
          show_ = ShowState::minimized;
          if (is_mdi_child()) ApplyFrameStyles(true);
          break;
        case SC_MAXIMIZE: show_ = ShowState::maximized; break;
        case SC_RESTORE:
          show_ = ShowState::normal;
          if (is_mdi_child()) ApplyFrameStyles(false);
          break;
        default: break;
      }
      return call_saved(msg, wparam, lparam);
    case kSkinStartMessage:
      start();
      return 0;
    default:
      return std::nullopt;
  }
}

LRESULT TFormSkin::stage3(UINT msg, WPARAM wparam, LPARAM lparam) {
  if ((is_mdi_child() && show_ != ShowState::normal) || show_ == ShowState::minimized || state_ == attached)
    return call_saved(msg, wparam, lparam);
  switch (msg) {
    case WM_NCACTIVATE:
      active_ = wparam != 0;
      start_timer(active_);
      // Whatever was hot or pressed belonged to the pointer of the other
      // activation state (a modal window opened from a menu-bar item, say).
      release_hot_object();
      PaintFrame();
      return 1;
    case WM_CAPTURECHANGED:
      release_hot_object();
      return call_saved(msg, wparam, lparam);
    case WM_NCMOUSELEAVE:
      tracking_leave_ = false;
      release_hot_object();
      return call_saved(msg, wparam, lparam);
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
      return menu_item(msg, wparam, lparam);
    case WM_NCCALCSIZE: {
      RECT window{};
      if (wparam) {
        window = reinterpret_cast<NCCALCSIZE_PARAMS*>(lparam)->rgrc[0];
      } else {
        window = *reinterpret_cast<RECT*>(lparam);
      }
      call_saved(msg, wparam, lparam);
      const bool framed = !(is_mdi_child() && show_ != ShowState::normal) && frame_kind_ != FrameKind::captionless;
      if (!wparam) {
        // The client rectangle of a window rectangle, asked without a move:
        // answered with the skin's frame too, so both ways agree.
        if (framed) {
          auto* rect = reinterpret_cast<RECT*>(lparam);
          *rect = {window.left + metrics_.left, window.top + metrics_.caption + metrics_.menu_bar,
                   window.right - metrics_.right, window.bottom - metrics_.bottom};
        }
        return 0;
      }
      auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lparam);
      if (!framed) {
        params->rgrc[1] = params->rgrc[0];
        return WVR_VALIDRECTS;
      }
      RECT client{window.left + metrics_.left, window.top + metrics_.caption + metrics_.menu_bar,
                  window.right - metrics_.right, window.bottom - metrics_.bottom};
      client.right = std::max(client.right, client.left);
      client.bottom = std::max(client.bottom, client.top);
      params->rgrc[0] = client;
      params->rgrc[1] = client;
      return WVR_VALIDRECTS;
    }
    case WM_NCHITTEST: {
      const LRESULT r = call_saved(msg, wparam, lparam);
      if (r != HTNOWHERE) return r;
      const POINT p = ScreenToWindow({GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)});
      RECT window{};
      GetWindowRect(hwnd_, &window);
      switch (classify_frame_point(p.x, p.y, window.right - window.left, metrics_)) {
        case FrameHit::caption: return HTCAPTION;
        case FrameHit::menu: return HTMENU;
        case FrameHit::border: return HTBORDER;
        case FrameHit::nowhere: break;
      }
      return HTNOWHERE;
    }
    case WM_NCPAINT:
      if (!data_->frame_painting) return 0;
      if ((is_mdi_child() && show_ != ShowState::normal) || frame_kind_ == FrameKind::captionless)
        return call_saved(msg, wparam, lparam);
      PaintFrame();
      return 0;
    case WM_NCMOUSEMOVE:
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONUP:
    case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDOWN:
      return nc_mouse(msg, wparam, lparam);
    case kSkinRepaintMessage:
      PaintFrame();
      return 0;
    default:
      return call_saved(msg, wparam, lparam);
  }
}

LRESULT TFormSkin::form_window_proc(ui::Message& m) {
  switch (m.msg) {
    case WM_SETTEXT: {
      const LRESULT r = saved_form_proc_ ? saved_form_proc_(m) : 0;
      read_caption();
      SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
      return r;
    }
    case kSkinRefreshMessage:
      recolour();
      return 0;
    default:
      return saved_form_proc_ ? saved_form_proc_(m) : 0;
  }
}

void TFormSkin::recolour() {
  if (form_) form_->swap_color(skin_colour_as_control_colour());
  state_ = recolouring;
  if (frame_skinning_) {
    SkinPopupMenus(true);
    ResizeToFrame(true);
    region_size_ = {0, 0};
    UpdateWindowRegion();
  }
  state_ = skinned;
  if (form_) form_->invalidate();
}

void TFormSkin::start() {
  if (state_ == attached) {
    if (is_mdi_child() && mdi_maximized_) {
      ApplyFrameStyles(true);
      SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    } else if (show_ != ShowState::minimized && frame_kind_ != FrameKind::captionless) {
      state_ = resizing;
      ResizeToFrame(false);
      state_ = skinned;
      UpdateWindowRegion();
    }
  }
  state_ = skinned;
  start_timer(true);
}

void TFormSkin::ResizeToFrame(bool reread) {
  if (show_ == ShowState::maximized) {
    SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    return;
  }
  // The client area the window had before the skin (or has now, when asked
  // to re-read it) stays exactly as it is; the frame grows around it.
  if (reread) GetClientRect(hwnd_, &client_);
  SIZE client{client_.right - client_.left, client_.bottom - client_.top};
  int width = client.cx + metrics_.left + metrics_.right;
  const int height = client.cy + metrics_.caption + metrics_.bottom + metrics_.menu_bar;
  if (!reread && (class_name_ == L"TMessageForm" || class_name_ == L"#32770")) {
    // A message box as wide as its caption needs; its controls move to stay centred.
    const TDataSkinTitle* t = data_->elements().Title.get();
    const int extra = t ? t->LeftWidth + t->RightWidth + t->TXTBackleft + t->TXTBackRight : 0;
    const int needed = (int(caption_.size()) + 7) * space_width_ + metrics_.left + metrics_.right + extra;
    if (width < needed) {
      const int shift = (needed - width) / 2;
      for (HWND child = GetWindow(hwnd_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
        SetWindowPos(child, nullptr, r.left + shift, r.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSENDCHANGING | SWP_NOOWNERZORDER);
      }
      client.cx += needed - width;
      width = needed;
    }
  }
  set_window_size_keeping_client(width, height, client);
}

void TFormSkin::set_window_size_keeping_client(int width, int height, SIZE client) {
  const UINT flags = SWP_FRAMECHANGED | SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE;
  SetWindowPos(hwnd_, nullptr, 0, 0, width, height, flags);
  // The frame may not come out as computed (a menu bar that wraps, a system
  // that adds a border): measure and correct once.
  const SIZE got = client_size(hwnd_);
  if (got.cx != client.cx || got.cy != client.cy) {
    RECT window{};
    GetWindowRect(hwnd_, &window);
    SetWindowPos(hwnd_, nullptr, 0, 0, (window.right - window.left) + client.cx - got.cx,
                 (window.bottom - window.top) + client.cy - got.cy, flags & ~UINT(SWP_FRAMECHANGED));
  }
}

void TFormSkin::on_size(WPARAM wparam) {
  switch (wparam) {
    case SIZE_RESTORED: show_ = ShowState::normal; break;
    case SIZE_MINIMIZED: show_ = ShowState::minimized; break;
    case SIZE_MAXIMIZED: show_ = ShowState::maximized; break;
    default: break;
  }
  if (show_ == ShowState::minimized) return;
  if (is_mdi_child() && (mdi_maximized_ || show_ != ShowState::normal)) return;
  if (state_ == skinned || state_ == recolouring) UpdateWindowRegion();
}

void TFormSkin::start_timer(bool on) {
  if (on == timer_running_ || !IsWindow(hwnd_)) {
    if (!on) timer_running_ = false;
    return;
  }
  if (on) {
    timer_running_ = SetTimer(hwnd_, kHoverTimer, kHoverInterval, nullptr) != 0;
  } else {
    KillTimer(hwnd_, kHoverTimer);
    timer_running_ = false;
  }
}

void TFormSkin::on_hover_timer() {
  if (menu_tracking_ || !hot_) return;
  POINT cursor{};
  if (!GetCursorPos(&cursor)) return;
  const POINT p = ScreenToWindow(cursor);
  if (!PtInRect(&hot_->rect, p)) hot_->Leave();
}

void TFormSkin::post_close() {
  start_timer(false);
  PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void TFormSkin::restore_procedures() {
  if (form_hooked_ && form_) {
    form_->set_window_proc(saved_form_proc_);
    form_hooked_ = false;
  }
  if (saved_proc_) {
    const auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd_, GWLP_WNDPROC));
    RemovePropW(hwnd_, kSkinProp);
    if (current == &TFormSkin::FrameWindowProc) {
      SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(saved_proc_));
      RemovePropW(hwnd_, kSavedProcProp);
    }
    // Otherwise someone subclassed on top of us: FrameWindowProc stays in
    // the chain and passes everything to the saved procedure.
    saved_proc_ = nullptr;
  }
}

void TFormSkin::release() {
  SkinPopupMenus(false);
  system_popup_.reset();
  hot_ = nullptr;
  menu_bar_.reset();
  start_timer(false);
  restore_procedures();
  caption_cache_.reset();
  caption_backdrop_.reset();
  cache_size_ = {0, 0};
  frame_buffer_.reset();
  frame_buffer_size_ = {0, 0};
}

void TFormSkin::UnskinWindow() {
  if (!attached_) return;
  attached_ = false;
  if (state_ == finished || state_ == destroying || !IsWindow(hwnd_)) {
    restore_procedures();
    return;
  }
  system_popup_.reset();
  start_timer(false);
  hot_ = nullptr;
  restore_procedures();
  SkinPopupMenus(false);
  if (form_ && form_colour_saved_) {
    form_->swap_color(saved_form_colour_);
    form_colour_saved_ = false;
    form_->invalidate();
  }
  if (frame_skinning_) restore_frame();
  caption_cache_.reset();
  caption_backdrop_.reset();
  cache_size_ = {0, 0};
  frame_buffer_.reset();
  frame_buffer_size_ = {0, 0};
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void TFormSkin::restore_frame() {
  const SIZE client = client_size(hwnd_);
  ApplyFrameStyles(true);
  if (menu_bar_) {
    hot_ = nullptr;
    menu_bar_->restore_menu();
    menu_bar_.reset();
  }
  if (menu_ && IsMenu(menu_) && GetMenu(hwnd_) != menu_) SetMenu(hwnd_, menu_);
  const bool resize = state_ != destroying && (is_mdi_child() || !(style_ & WS_CHILD)) &&
                      show_ == ShowState::normal;
  if (resize) {
    RECT window{};
    GetWindowRect(hwnd_, &window);
    const int width = (window.right - window.left) + nc_size_.cx - metrics_.left - metrics_.right;
    const int height =
        (window.bottom - window.top) + nc_size_.cy - metrics_.caption - metrics_.menu_bar - metrics_.bottom;
    set_window_size_keeping_client(width, height, client);
  } else {
    SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  if (region_owned_) {
    // A region set on a window belongs to the system, which frees it.
    SetWindowRgn(hwnd_, nullptr, TRUE);
    region_owned_ = false;
  }
  region_size_ = {0, 0};
  metrics_ = {};
}

void TFormSkin::reload() {
  if (!data_ || data_->not_ready() || !attached_) return;
  const bool can_frame = data_->SkinControls.has(xcMainMenu) && skin_can_frame(data_->elements());
  if (frame_skinning_ && !can_frame) {
    // The skin lost what a frame is made of: back to the standard frame.
    hot_ = nullptr;
    buttons_.clear();
    restore_frame();
    frame_skinning_ = false;
    bitmaps_.clear();
    return;
  }
  if (!frame_skinning_) return;  // a window that started without a frame keeps its standard one
  ComputeFrameMetrics();
}

void TFormSkin::repaint() {
  if (!attached_ || !frame_skinning_ || state_ == attached) return;
  state_ = recolouring;
  ResizeToFrame(true);
  region_size_ = {0, 0};
  UpdateWindowRegion();
  state_ = skinned;
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TFormSkin::set_mdi_maximized(bool maximized) {
  mdi_maximized_ = maximized;
  if (!is_mdi_child() || !frame_skinning_) return;
  if (maximized) {
    drop_region();
    ApplyFrameStyles(true);
  } else if (show_ == ShowState::minimized) {
    ApplyFrameStyles(true);
  } else {
    show_ = ShowState::normal;
    UpdateWindowRegion();
    ApplyFrameStyles(false);
    if (!region_owned_)
      SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
}

std::unique_ptr<WindowSkin> attach_form_skin(HWND hwnd, ui::Form* form, TSkinData& data) {
  if (!hwnd || !IsWindow(hwnd) || data.not_ready()) return nullptr;
  if (find_form_skin(hwnd)) return nullptr;
  auto skin = std::make_unique<TFormSkin>(hwnd, form);
  const bool attached = form ? skin->AttachToForm(data, *form) : skin->AttachToWindow(data);
  if (!attached) return nullptr;
  return skin;
}

TFormSkin* find_form_skin(HWND hwnd) {
  if (!hwnd || !IsWindow(hwnd)) return nullptr;
  return static_cast<TFormSkin*>(GetPropW(hwnd, kSkinProp));
}

}  // namespace clip::skin
