// The component layer over Win32. A Component has a name and an owner that
// owns it; a form owns every component placed on it, at any depth, in creation
// order. Controls add bounds, a parent, a colour that can be swapped, a Tag,
// a framework class name with kind queries, and a replaceable message handler:
// whoever replaces it keeps the previous one, passes on what it does not
// consume and puts it back when done.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ui/handles.h"

namespace ui {

enum class Kind {
  component, control, win_control, graphic_control, form, panel, label, image, speed_button,
  button, tree_view, list_view, memo, edit, status_bar, progress_bar, splitter, menu, menu_item, timer,
  bit_button, scroll_bar, tool_bar, check_box, radio_button, radio_group, group_box, combo_box, list_box, grid,
  page_control, tab_control, scroll_box, frame,
};

// Component messages: the enabled state changed, the mouse entered a
// control, the mouse left it. Windowless controls get the last two from their
// parent as the pointer moves over them.
constexpr UINT kEnabledChanged = 0xB00C;
constexpr UINT kMouseEnter = 0xB013;
constexpr UINT kMouseLeave = 0xB014;

class Component {
 public:
  Component(Component* owner, std::string name);
  virtual ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  const std::string& name() const noexcept { return name_; }
  Component* owner() const noexcept { return owner_; }
  // Directly owned components, in creation order.
  std::vector<Component*> components() const;
  // Every component owned at any depth, depth first, in creation order.
  void for_each_component(const std::function<void(Component&)>& visit) const;
  Component* find_component(std::string_view name) const;

  virtual const char* class_name() const { return "TComponent"; }
  // True for the kind itself and every kind it derives from.
  virtual bool is(Kind kind) const { return kind == Kind::component; }

  int Tag = 0;

  // Creates a component owned by this one; it lives until this one dies.
  template <typename T, typename... Args>
  T* make(Args&&... args) {
    auto owned = std::make_unique<T>(this, std::forward<Args>(args)...);
    T* raw = owned.get();
    adopt(std::move(owned));
    return raw;
  }

 protected:
  // Destroys the owned components, newest first. A class whose owned
  // components refer to its members (handlers that capture it, a parent's
  // child list) calls it first in its destructor, so they go while all of it
  // is still there.
  void destroy_components() noexcept;

 private:
  void adopt(std::unique_ptr<Component> child);

  Component* owner_;
  std::string name_;
  std::vector<std::unique_ptr<Component>> owned_;
};

class WinControl;

enum class Align { none, top, bottom, left, right, client };

// A message as handlers see it.
struct Message {
  UINT msg;
  WPARAM wparam;
  LPARAM lparam;
};
using MessageHandler = std::function<LRESULT(Message&)>;

class Control : public Component {
 public:
  Control(Component* owner, std::string name);
  ~Control() override;

  const char* class_name() const override { return "TControl"; }
  bool is(Kind kind) const override { return kind == Kind::control || Component::is(kind); }

  WinControl* parent() const noexcept { return parent_; }
  virtual void set_parent(WinControl* parent);

  RECT bounds() const noexcept { return bounds_; }  // left, top, right, bottom in the parent
  int width() const noexcept { return bounds_.right - bounds_.left; }
  int height() const noexcept { return bounds_.bottom - bounds_.top; }
  virtual void set_bounds(int left, int top, int width, int height);

  Align align = Align::none;
  bool visible() const noexcept { return visible_; }
  virtual void set_visible(bool visible);

  // A system colour index (COLOR_BTNFACE...) or an RGB value with kRgbFlag.
  static constexpr unsigned kRgbFlag = 0x80000000u;
  COLORREF color() const;
  unsigned color_value() const noexcept { return color_; }
  // Sets a new colour and answers the old one, so a caller can restore it.
  unsigned swap_color(unsigned color);

  // Own-class windows paint through an off-screen bitmap when set.
  bool double_buffered = false;

  // Properties a caller may set without knowing the control's type. False
  // when the control has no such property.
  virtual bool set_property(std::string_view name, bool value);

  // The handler chain. perform() runs the current handler; the default one is
  // the control's own handling.
  LRESULT perform(UINT msg, WPARAM wparam = 0, LPARAM lparam = 0);
  MessageHandler window_proc() const { return window_proc_; }
  void set_window_proc(MessageHandler handler) { window_proc_ = std::move(handler); }
  // The control's own handling: events registered with on(), then the kind's.
  LRESULT handle_message(Message& message);
  // Runs before the kind's handling; nullopt passes on.
  void on(UINT msg, std::function<std::optional<LRESULT>(Message&)> handler);

  virtual void invalidate();

  // Whoever keeps a pointer to the control (a skin companion) hears here,
  // once, that it goes: while its handler chain and, for a windowed control,
  // its window still exist. `key` names the listener for removal.
  void add_destroy_listener(const void* key, std::function<void()> listener);
  void remove_destroy_listener(const void* key);

 protected:
  virtual LRESULT default_handler(Message& message) = 0;
  void notify_destroying() noexcept;

  RECT bounds_{0, 0, 0, 0};
  bool visible_ = true;
  unsigned color_ = COLOR_BTNFACE;

 private:
  WinControl* parent_ = nullptr;
  MessageHandler window_proc_;
  std::unordered_map<UINT, std::vector<std::function<std::optional<LRESULT>(Message&)>>> events_;
  std::vector<std::pair<const void*, std::function<void()>>> destroy_listeners_;
};

// Parameters of the window a WinControl creates.
struct CreateParams {
  std::wstring class_name;
  std::wstring text;
  DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  DWORD ex_style = 0;
  bool own_class = false;  // registered by us, with a cursor
  LPCWSTR cursor = IDC_ARROW;
};

// A control with a window. The window is created on demand, when handle() is
// first asked for, and subclassed: its messages enter the handler chain and
// what nobody consumes goes to the class's own procedure.
class WinControl : public Control {
 public:
  WinControl(Component* owner, std::string name);
  ~WinControl() override;

  const char* class_name() const override { return "TWinControl"; }
  bool is(Kind kind) const override { return kind == Kind::win_control || Control::is(kind); }

  HWND handle();
  bool handle_allocated() const noexcept { return hwnd_.valid(); }
  void set_bounds(int left, int top, int width, int height) override;
  void set_visible(bool visible) override;
  void invalidate() override;

  void add_child(Control* child);
  void remove_child(Control* child);
  const std::vector<Control*>& children() const noexcept { return children_; }

  // Positions aligned children: top, bottom (stacked upward in creation
  // order), left, right, then the client one in what is left.
  void realign();
  HFONT font() const;
  void set_font(HFONT font);

  // The control whose window this is, if it is one of ours.
  static WinControl* from_handle(HWND hwnd);

 protected:
  virtual CreateParams create_params() = 0;
  // After the window exists (children's windows are created next).
  virtual void created() {}
  LRESULT default_handler(Message& message) override;
  // Paints windowless children; own-class windows call it from WM_PAINT.
  void paint_graphic_children(HDC dc);

 private:
  static LRESULT CALLBACK subclass_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  static LRESULT route(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT route_to_graphic(Message& message);
  // Tells the windowless child under the pointer that the mouse entered it
  // and the one it left that the mouse left.
  void set_hover(Control* child);

  unique_hwnd hwnd_;
  WNDPROC previous_ = nullptr;
  HFONT font_ = nullptr;
  std::vector<Control*> children_;
  Control* mouse_capture_ = nullptr;
  Control* hover_ = nullptr;
};

// Reflected notifications: the parent sends them to the child control whose
// window sent WM_NOTIFY, WM_COMMAND or WM_DRAWITEM.
constexpr UINT kReflectBase = 0xB000;
constexpr UINT kReflectNotify = kReflectBase + WM_NOTIFY;
constexpr UINT kReflectCommand = kReflectBase + WM_COMMAND;
constexpr UINT kReflectDrawItem = kReflectBase + WM_DRAWITEM;
constexpr UINT kReflectHScroll = kReflectBase + WM_HSCROLL;
constexpr UINT kReflectVScroll = kReflectBase + WM_VSCROLL;

// A control without a window, painted by its parent into the parent's DC.
// Mouse messages reach it from the parent with client coordinates of its own.
class GraphicControl : public Control {
 public:
  GraphicControl(Component* owner, std::string name);
  // Leaves its parent's child list, so the parent never routes the mouse or
  // paints through a pointer to it.
  ~GraphicControl() override;
  const char* class_name() const override { return "TGraphicControl"; }
  bool is(Kind kind) const override { return kind == Kind::graphic_control || Control::is(kind); }

  std::function<void()> OnClick;
  // What a completed press does: runs OnClick.
  void click();
  LPCWSTR cursor = IDC_ARROW;
  // Runs after the control painted itself, with the parent's DC moved so that
  // 0,0 is the control's top left.
  std::function<void(HDC, const RECT&)> OnPaint;

  // Paints through the handler chain: WM_PAINT with the parent's DC, moved so
  // that 0,0 is the control's top left, in wParam.
  void paint(HDC dc);
  bool pressed() const noexcept { return pressed_; }

 protected:
  virtual void paint_self(HDC dc, const RECT& area) = 0;
  LRESULT default_handler(Message& message) override;
  bool pressed_ = false;
};

}  // namespace ui
