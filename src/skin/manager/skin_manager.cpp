#include "skin/manager/skin_manager.h"

#include <algorithm>
#include <cwctype>

#include "ui/controls.h"
#include "ui/wide.h"

namespace clip::skin {

namespace {

TSkinManager* g_manager = nullptr;
DWORD g_windows_version = 0;

std::wstring class_name_of(HWND hwnd) {
  wchar_t name[256];
  const int n = GetClassNameW(hwnd, name, 256);
  return std::wstring(name, n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

bool is_mdi_child_window(HWND hwnd) {
  if (!(GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD)) return false;
  HWND parent = GetParent(hwnd);
  return parent && lower(class_name_of(parent)) == L"mdiclient";
}

ui::Form* form_of(HWND hwnd) {
  ui::WinControl* control = ui::WinControl::from_handle(hwnd);
  return control && control->is(ui::Kind::form) ? static_cast<ui::Form*>(control) : nullptr;
}

BOOL CALLBACK collect_form(HWND hwnd, LPARAM out) {
  if (ui::Form* form = form_of(hwnd)) reinterpret_cast<std::vector<ui::Form*>*>(out)->push_back(form);
  return TRUE;
}

}  // namespace

TSkinManager* TSkinManager::instance() { return g_manager; }

TSkinManager& TSkinManager::create() {
  if (!g_manager) g_manager = new TSkinManager();
  return *g_manager;
}

void TSkinManager::destroy() {
  delete g_manager;
  g_manager = nullptr;
}

DWORD TSkinManager::windows_version() noexcept { return g_windows_version; }

TSkinManager::TSkinManager() { TSkinData::on_destroyed = &TSkinManager::on_skin_data_destroyed; }

TSkinManager::~TSkinManager() {
  RemoveHook();
  stop_timer();
  // The manager owns the window skins: windows that still exist get their
  // standard frame back before the skin goes.
  while (!window_skins_.empty()) unskin_and_free(window_skins_.size() - 1);
  while (!popup_skins_.empty()) free_popup_skin(popup_skins_.size() - 1);
  if (TSkinData::on_destroyed == &TSkinManager::on_skin_data_destroyed) TSkinData::on_destroyed = nullptr;
}

void TSkinManager::on_skin_data_destroyed(TSkinData& data) {
  if (g_manager) g_manager->RemoveSkinData(data);
}

void TSkinManager::set_window_skin_factory(WindowSkinFactory factory) { factory_ = std::move(factory); }

void TSkinManager::set_popup_skin_factory(PopupSkinFactory factory) { popup_factory_ = std::move(factory); }

void TSkinManager::AddSkinData(TSkinData& data, ui::Form* owner) {
  if (std::find(skin_data_.begin(), skin_data_.end(), &data) != skin_data_.end()) return;
  skin_data_.push_back(&data);
  owners_.emplace_back(&data, owner);
}

void TSkinManager::RemoveSkinData(TSkinData& data) {
  auto found = std::find(skin_data_.begin(), skin_data_.end(), &data);
  if (found == skin_data_.end()) return;
  skin_data_.erase(found);
  std::erase_if(owners_, [&](const auto& entry) { return entry.first == &data; });
  if (pending_data_ == &data) {
    pending_data_ = nullptr;
    stop_timer();
  }
  for (size_t i = window_skins_.size(); i-- > 0;) {
    if (i < window_skins_.size() && window_skins_[i]->skin_data() == &data) unskin_and_free(i);
  }
  for (size_t i = popup_skins_.size(); i-- > 0;) {
    if (i < popup_skins_.size() && popup_skins_[i]->skin_data() == &data) free_popup_skin(i);
  }
}

ui::Form* TSkinManager::owner_of(const TSkinData& data) const {
  for (const auto& [d, owner] : owners_)
    if (d == &data) return owner;
  return nullptr;
}

void TSkinManager::InstallHook() {
  if (hook_) return;
  g_windows_version = GetVersion();
  hook_ = SetWindowsHookExW(WH_CBT, &TSkinManager::cbt_proc, nullptr, GetCurrentThreadId());
}

void TSkinManager::RemoveHook() {
  if (!hook_) return;
  UnhookWindowsHookEx(hook_);
  hook_ = nullptr;
}

void TSkinManager::start_timer() {
  // A thread timer: no window to own it, the procedure is called from the
  // message loop. Passing the running timer's id restarts it.
  const UINT_PTR id = SetTimer(nullptr, timer_, interval_, &TSkinManager::timer_proc);
  if (id) timer_ = id;
}

void TSkinManager::stop_timer() {
  if (!timer_) return;
  KillTimer(nullptr, timer_);
  timer_ = 0;
}

void CALLBACK TSkinManager::timer_proc(HWND, UINT, UINT_PTR id, DWORD) {
  ui::guard([&] {
    if (g_manager && id == g_manager->timer_) g_manager->run_pending_action();
  });
}

void TSkinManager::Request(int action, UINT interval) {
  pending_action_ = action;
  interval_ = interval;
  if (activation_count_ != 0) {
    start_timer();
  } else if (action == kActivate || action == kDeactivate) {
    // Before any window was activated there is nothing to change yet; the
    // flag decides what the first activations do.
    active_ = action == kActivate;
  }
}

LRESULT CALLBACK TSkinManager::cbt_proc(int code, WPARAM wparam, LPARAM lparam) {
  TSkinManager* self = g_manager;
  if (code < 0 || !self) return CallNextHookEx(nullptr, code, wparam, lparam);
  // A failure lets the window's creation or activation go on unskinned.
  if (const LRESULT answer = ui::guard([&] { return self->cbt(code, wparam, lparam); }, LRESULT{0})) return answer;
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

LRESULT TSkinManager::cbt(int code, WPARAM wparam, LPARAM lparam) {
  TSkinManager* self = this;
  switch (code) {
    case HCBT_CREATEWND: {
      const auto* create = reinterpret_cast<const CBT_CREATEWNDW*>(lparam);
      const std::wstring name = class_name_of(reinterpret_cast<HWND>(wparam));
      // A size grip would sit on top of the skinned frame's corner; any
      // non-zero answer makes Windows drop the window.
      if (name == L"ScrollBar" && create && create->lpcs && (create->lpcs->style & SBS_SIZEGRIP) &&
          self->FindWindowSkin(create->lpcs->hwndParent))
        return 10;
      if (name == L"#32768") self->SkinPopupMenuWindow(reinterpret_cast<HWND>(wparam));
      break;
    }
    case HCBT_DESTROYWND:
      self->RemovePopupMenuSkin(reinterpret_cast<HWND>(wparam));
      break;
    case HCBT_ACTIVATE:
      if (self->activation_count_ == 0) self->activation_count_ = 1;
      self->SkinWindow(reinterpret_cast<HWND>(wparam));
      break;
    default:
      break;
  }
  return 0;
}

std::vector<ui::Form*> TSkinManager::application_forms() {
  std::vector<ui::Form*> forms;
  EnumThreadWindows(GetCurrentThreadId(), &collect_form, reinterpret_cast<LPARAM>(&forms));
  // EnumThreadWindows walks down the Z order; reversed, the topmost form is last.
  std::reverse(forms.begin(), forms.end());
  return forms;
}

bool TSkinManager::SkinWindow(HWND hwnd) {
  if (!active_ || !hwnd || !IsWindow(hwnd)) return false;
  if (SendMessageW(hwnd, kSkinQueryMessage, 0, 0) == 1) return false;
  PurgeWindowSkins();
  if (FindWindowSkin(hwnd)) return false;

  ui::Form* form = nullptr;
  for (ui::Form* candidate : application_forms()) {
    if (candidate->handle_allocated() && candidate->handle() == hwnd) form = candidate;
  }
  if (!scanning_ && is_mdi_child_window(hwnd)) return false;

  RECT rect{};
  GetWindowRect(hwnd, &rect);
  if (rect.right - rect.left <= 0 || rect.bottom - rect.top <= 0) return false;
  if (form && form->Tag == 99) return false;
  const std::wstring name = class_name_of(hwnd);
  if (name == L"TApplication") return false;
  if (!AskFormSkin(ui::narrow(name))) return false;

  TSkinData* data = ChooseSkinData(hwnd);
  if (!data || data->not_ready() || !factory_) return false;
  std::unique_ptr<WindowSkin> skin = factory_(hwnd, form, *data);
  if (!skin) return false;
  window_skins_.push_back(std::move(skin));
  PostMessageW(hwnd, kSkinStartMessage, 0, 1000);
  return true;
}

void TSkinManager::SkinForm(ui::Form& form) {
  if (!form.handle_allocated()) return;
  HWND hwnd = form.handle();
  if (!IsWindowVisible(hwnd)) return;
  const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  const LONG_PTR ex_style = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  if ((style & WS_CHILD) && !(ex_style & WS_EX_MDICHILD)) return;
  SkinWindow(hwnd);
}

WindowSkin* TSkinManager::FindWindowSkin(HWND hwnd) const {
  if (!hwnd) return nullptr;
  for (const auto& skin : window_skins_)
    if (skin->handle() == hwnd) return skin.get();
  return nullptr;
}

void TSkinManager::PurgeWindowSkins() {
  for (size_t i = window_skins_.size(); i-- > 0;) {
    if (i >= window_skins_.size()) continue;
    // A window that went without its skin hearing of it counts as finished too.
    const WindowSkin& skin = *window_skins_[i];
    if (skin.skin_state() != WindowSkin::finished && IsWindow(skin.handle())) continue;
    std::unique_ptr<WindowSkin> gone = std::move(window_skins_[i]);
    window_skins_.erase(window_skins_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

void TSkinManager::unskin_and_free(size_t index) {
  std::unique_ptr<WindowSkin> skin = std::move(window_skins_[index]);
  window_skins_.erase(window_skins_.begin() + static_cast<std::ptrdiff_t>(index));
  // A finished skin's window is gone; there is nothing to give back.
  if (skin->skin_state() != WindowSkin::finished && IsWindow(skin->handle())) skin->UnskinWindow();
}

bool TSkinManager::SkinPopupMenuWindow(HWND popup) {
  if (!active_ || !popup || !popup_factory_ || IsPopupMenuSkinned(popup)) return false;
  if (SendMessageW(popup, kSkinQueryMessage, 0, 0) == 1) return false;
  TSkinData* data = ChooseSkinData(popup);
  if (!data || data->not_ready() || !data->SkinControls.has(xcMainMenu)) return false;
  std::unique_ptr<PopupSkin> skin = popup_factory_(popup, *data);
  if (!skin) return false;
  popup_skins_.push_back(std::move(skin));
  return true;
}

bool TSkinManager::RemovePopupMenuSkin(HWND popup) {
  for (size_t i = 0; i < popup_skins_.size(); ++i) {
    if (popup_skins_[i]->handle() != popup) continue;
    free_popup_skin(i);
    if (popup_skins_.empty()) menu_bar_menu_open_ = false;
    return true;
  }
  return false;
}

void TSkinManager::free_popup_skin(size_t index) {
  std::unique_ptr<PopupSkin> skin = std::move(popup_skins_[index]);
  popup_skins_.erase(popup_skins_.begin() + static_cast<std::ptrdiff_t>(index));
  if (current_popup_ == skin.get()) current_popup_ = nullptr;
  skin->DetachPopup();
}

bool TSkinManager::IsPopupMenuSkinned(HWND popup) const {
  return std::any_of(popup_skins_.begin(), popup_skins_.end(),
                     [popup](const auto& skin) { return skin->handle() == popup; });
}

PopupSkin* TSkinManager::FindPopupMenuSkin(HMENU menu) {
  if (!menu) return nullptr;
  for (const auto& skin : popup_skins_)
    if (skin->menu() == menu) return skin.get();
  // Two popups may paint their borders before either paints an item (a
  // submenu opening while its parent redraws); the window itself knows.
  for (const auto& skin : popup_skins_) {
    if (skin->menu() || !IsWindow(skin->handle())) continue;
    if (reinterpret_cast<HMENU>(SendMessageW(skin->handle(), MN_GETHMENU, 0, 0)) != menu) continue;
    skin->set_menu(menu);
    if (current_popup_ == skin.get()) current_popup_ = nullptr;
    return skin.get();
  }
  return nullptr;
}

void TSkinManager::LearnPopupMenu(HMENU menu) {
  if (!current_popup_ || !menu) return;
  // An item of a menu another popup shows, or of one the current popup's
  // window says it is not showing, teaches it nothing.
  const bool shown_elsewhere = std::any_of(popup_skins_.begin(), popup_skins_.end(), [&](const auto& skin) {
    return skin.get() != current_popup_ && skin->menu() == menu;
  });
  const auto shown = reinterpret_cast<HMENU>(SendMessageW(current_popup_->handle(), MN_GETHMENU, 0, 0));
  if (shown_elsewhere || (shown && shown != menu)) return;
  current_popup_->set_menu(menu);
  current_popup_ = nullptr;
}

TSkinData* TSkinManager::ChooseSkinData(HWND hwnd) const {
  TSkinData* chosen = nullptr;
  for (const auto& [data, owner] : owners_) {
    if (data->SkinFormtype == TSkinFormType::sfOnlyThisForm && owner && owner->handle_allocated() &&
        owner->handle() == hwnd)
      chosen = data;
  }
  if (chosen) return chosen;
  const std::wstring name = lower(class_name_of(hwnd));
  if (name == L"tmessageform" || name == L"#32770") {
    for (TSkinData* data : skin_data_)
      if (data->SkinFormtype == TSkinFormType::sfDialog) chosen = data;
    if (chosen) return chosen;
  }
  for (TSkinData* data : skin_data_)
    if (data->SkinFormtype == TSkinFormType::sfMainform) chosen = data;
  if (chosen) return chosen;
  return skin_data_.empty() ? nullptr : skin_data_.front();
}

bool TSkinManager::AskFormSkin(std::string_view class_name) const {
  auto main = std::find_if(skin_data_.begin(), skin_data_.end(),
                           [](TSkinData* d) { return d->SkinFormtype == TSkinFormType::sfMainform; });
  if (main == skin_data_.end()) return true;
  TSkinData& data = **main;
  bool do_skin = true;
  if (data.OnFormSkin) {
    data.OnFormSkin(data, class_name, do_skin);
    return do_skin;
  }
  if (class_name == "SysMonthCal32") return false;
  if (data.SkinControls.has(xcFastReport) && class_name.starts_with("Tfr")) return false;
  return true;
}

void TSkinManager::ReloadAll() {
  for (const auto& skin : window_skins_) skin->reload();
}

void TSkinManager::SetMdiMaximized(bool value) {
  if (value == mdi_maximized_) return;
  mdi_maximized_ = value;
  for (const auto& skin : window_skins_)
    if (skin->is_mdi_child()) skin->set_mdi_maximized(value);
}

int TSkinManager::CountMdiChildSkins() const {
  return static_cast<int>(
      std::count_if(window_skins_.begin(), window_skins_.end(), [](const auto& s) { return s->is_mdi_child(); }));
}

void TSkinManager::run_pending_action() {
  TSkinData* data = pending_data_;
  if (!data) return;
  stop_timer();
  const int action = pending_action_;
  if (data->SkinFormtype == TSkinFormType::sfOnlyThisForm) {
    switch (action) {
      case kActivate: {
        active_ = true;
        scanning_ = true;
        ui::Form* owner = owner_of(*data);
        const std::vector<ui::Form*> forms = application_forms();
        for (auto it = forms.rbegin(); it != forms.rend(); ++it) {
          if (*it == owner) {
            SkinForm(**it);
            break;
          }
        }
        scanning_ = false;
        break;
      }
      case kDeactivate:
        active_ = false;
        PurgeWindowSkins();
        for (size_t i = window_skins_.size(); i-- > 0;) {
          if (window_skins_[i]->skin_data() == data) {
            unskin_and_free(i);
            break;
          }
        }
        break;
      case kRefresh:
        PurgeWindowSkins();
        for (const auto& skin : window_skins_) {
          if (skin->skin_data() == data) {
            skin->reload();
            skin->repaint();
            break;
          }
        }
        break;
      case kPurge:
        PurgeWindowSkins();
        break;
      default:
        break;
    }
  } else {
    switch (action) {
      case kActivate: {
        active_ = true;
        scanning_ = true;
        PurgeWindowSkins();
        const std::vector<ui::Form*> forms = application_forms();
        for (auto it = forms.rbegin(); it != forms.rend(); ++it) SkinForm(**it);
        scanning_ = false;
        break;
      }
      case kDeactivate:
        active_ = false;
        PurgeWindowSkins();
        while (!window_skins_.empty()) unskin_and_free(window_skins_.size() - 1);
        break;
      case kRefresh: {
        PurgeWindowSkins();
        std::vector<WindowSkin*> refreshed;
        for (const auto& skin : window_skins_)
          if (skin->skin_data() == data) refreshed.push_back(skin.get());
        for (WindowSkin* skin : refreshed) skin->reload();
        for (WindowSkin* skin : refreshed) skin->repaint();
        break;
      }
      case kPurge:
        PurgeWindowSkins();
        break;
      default:
        break;
    }
  }
  // Cleared before the event, so a handler may make a new request.
  pending_data_ = nullptr;
  data->NotifySkinChanged();
}

void Loaded(TSkinData& data, ui::Form* owner) {
  TSkinManager& manager = TSkinManager::create();
  manager.AddSkinData(data, owner);
  if (data.SkinFormtype == TSkinFormType::sfMainform) {
    manager.InstallHook();
    if (data.Active) {
      if (data.not_ready())
        data.Active = false;
      else
        manager.Request(TSkinManager::kActivate, TSkinManager::kDeferInterval);
    }
    return;
  }
  manager.active_ = true;
  ++manager.activation_count_;
  if (owner) manager.SkinWindow(owner->handle());
}

void SetActive(TSkinData& data, bool value) {
  if (value == data.Active) return;
  data.Active = value;
  TSkinManager* manager = TSkinManager::instance();
  if (!manager) return;
  const int action = value ? TSkinManager::kActivate : TSkinManager::kDeactivate;
  switch (data.SkinFormtype) {
    case TSkinFormType::sfMainform:
      if (value && data.not_ready()) return;
      manager->Request(action, TSkinManager::kDeferInterval);
      manager->set_pending(&data);
      break;
    case TSkinFormType::sfOnlyThisForm:
      manager->set_pending(&data);
      if (!(value && data.not_ready())) manager->Request(action, TSkinManager::kDeferInterval);
      break;
    case TSkinFormType::sfDialog:
      break;
  }
}

void ApplySkinChange(TSkinData& data) {
  if (!TSkinManager::instance()) Loaded(data, nullptr);
  TSkinManager& manager = *TSkinManager::instance();
  manager.set_pending(&data);
  manager.ReloadAll();
  manager.Request(TSkinManager::kRefresh, TSkinManager::kDeferInterval);
}

bool SetSkinFile(TSkinData& data, const std::string& path) {
  if (!data.SetSkinFile(path)) return false;
  ApplySkinChange(data);
  return true;
}

}  // namespace clip::skin
