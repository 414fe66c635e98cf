// Control companions: one object per control of a skinned window that takes
// over the control's messages and paints it from the skin.
//
// A companion attaches in one of three ways: to a framework control's
// replaceable message handler (HookControl), to a window's procedure for the
// children of system dialogs (HookWindow), or to a windowless control's
// handler (HookGraphic). Every message then runs through SkinWndProc:
// BeforeMessage may finish it, else the previous handler runs and
// AfterMessage follows, so the skin paints over the control's own painting.
//
// Ownership and lifetime: the companion list of a window skin
// (CompanionHost) owns every companion attached in that window. A companion
// hears when its control or window goes (a destroy listener, WM_NCDESTROY),
// gives the handler back, marks itself gone (state 6) and is freed by the
// next sweep. A companion that is still running a message (a thumb drag's
// loop, a click that closed the window) when it is swept or unskinned is
// only detached; it frees itself once its last message returns.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "skin/controls/dispatch.h"
#include "skin/data/skin_data.h"
#include "skin/paint/geometry.h"
#include "ui/component.h"
#include "ui/handles.h"

namespace ui {
class Form;
class ToolBar;
}  // namespace ui

namespace clip::skin {

class WindowSkin;
class CompanionHost;

// A message as the companions see it: the handler's answer travels with it.
struct SkinMessage {
  UINT msg;
  WPARAM wparam;
  LPARAM lparam;
  LRESULT result = 0;
};

class TSkinControl {
 public:
  enum State { constructed = 0, hooked = 1, colour_restored = 2, destroying = 4, gone = 6 };
  enum MouseBit : uint8_t { kHot = 1, kPressed = 2 };

  explicit TSkinControl(Companion kind) : kind_(kind) {}
  virtual ~TSkinControl();
  TSkinControl(const TSkinControl&) = delete;
  TSkinControl& operator=(const TSkinControl&) = delete;

  // Attachments. Each lists the companion with `host`, which owns it from
  // then on, so the companion must have been made with new.
  virtual void HookControl(CompanionHost& host, TSkinData& data, bool keep_colour, ui::WinControl& control);
  virtual void HookWindow(HWND hwnd, TSkinData& data, CompanionHost& host);
  void HookGraphic(CompanionHost& host, TSkinData& data, ui::GraphicControl& control);

  virtual void RestoreColor();
  // Answers whether the message goes on to the previous handler; a message
  // it keeps carries its result.
  virtual bool BeforeMessage(SkinMessage& m);
  virtual void AfterMessage(SkinMessage& m);
  // Paints the whole window now, into `dc` (window coordinates) or the
  // window's own DC, which is released whatever happens.
  virtual void Redraw(HDC dc = nullptr);
  virtual void DrawSkin(HDC, const RECT&) {}
  // After the skin data was reloaded.
  virtual void RefreshSkin();

  LRESULT SkinWndProc(UINT msg, WPARAM wparam, LPARAM lparam);
  void CallDefault(SkinMessage& m);
  void RepaintNow();
  void FillFace(HDC dc, const RECT& rect) const;
  void SendMouseLeave();

  // Gives the control its handler (or the window its procedure) back while
  // they are still ours; the companion then does nothing more. Idempotent.
  void detach();

  Companion kind() const noexcept { return kind_; }
  HWND handle() const noexcept { return hwnd_; }
  int state() const noexcept { return state_; }
  uint8_t mouse() const noexcept { return mouse_; }
  bool keep_colour() const noexcept { return keep_colour_; }
  void set_keep_colour(bool keep) noexcept { keep_colour_ = keep; }
  bool attached() const noexcept { return attached_; }
  ui::WinControl* control() const noexcept { return control_; }
  ui::GraphicControl* graphic() const noexcept { return graphic_; }
  CompanionHost* host() const noexcept { return host_; }
  // How many of its messages are running now.
  int busy() const noexcept { return depth_; }
  bool detached() const noexcept { return detached_; }

 protected:
  // The framework control or windowless control this companion skins.
  ui::Control* framework() const noexcept;
  // Keeps the skin data, the list and the control with its window.
  void bind(CompanionHost& host, TSkinData& data, ui::WinControl& control);
  bool hook_handler(ui::Control& control);
  // The control or window went: hand everything back and become gone.
  virtual void gone_now();
  // Called when the companion is detached; a running drag ends here.
  virtual void on_detach() {}
  const TDataSkinObject* element(const std::unique_ptr<TDataSkinObject>& slot) const;
  HBITMAP bitmap_of(const TDataSkinObject& element) const;
  void read_window_text();
  // Paints a WM_PAINT here, into its DC or between begin and end painting,
  // so the control's own painting does not run; the message is finished.
  bool paint_instead(SkinMessage& m);
  // For companions that paint their control completely: paints WM_PAINT
  // here and answers WM_ERASEBKGND with 1. Answers whether `m` was one of
  // the two (it is then finished).
  bool take_painting(SkinMessage& m);
  // A colour of the skin as GDI takes it.
  COLORREF skin_colour(SkinColour c) const;

  uint8_t mouse_ = 0;
  uint8_t scratch_ = 0;
  bool enabled_ = false;
  bool focused_ = false;
  std::wstring text_;
  TSkinData* data_ = nullptr;
  HWND hwnd_ = nullptr;
  ui::WinControl* control_ = nullptr;
  ui::GraphicControl* graphic_ = nullptr;
  RECT window_rect_{0, 0, 0, 0};
  bool keep_colour_ = false;
  unsigned saved_colour_ = 0;
  bool attached_ = false;
  int state_ = constructed;
  CompanionHost* host_ = nullptr;

 private:
  friend class CompanionHost;
  struct HandlerLink;
  struct SkinHandler;
  static LRESULT CALLBACK companion_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

  Companion kind_;
  std::shared_ptr<HandlerLink> link_;
  WNDPROC previous_proc_ = nullptr;
  int depth_ = 0;
  bool doomed_ = false;
  bool detached_ = false;
};

// Panels, tool bars and nested forms: the colour only. Its handler is never
// replaced; RestoreColor gives the colour back.
class TSkinBox : public TSkinControl {
 public:
  TSkinBox() : TSkinControl(Companion::box) {}
  void HookControl(CompanionHost& host, TSkinData& data, bool keep_colour, ui::WinControl& control) override;
  void RestoreColor() override;
  void AfterMessage(SkinMessage&) override {}
};

// An element's fixed margins as the painting routines take them.
inline paint::Margins margins_of(const TDataSkinObject& e) {
  return {e.LeftWidth, e.TopHeight, e.RightWidth, e.BottomHeight};
}

// The skin's button-face colour as a control colour (a system colour index
// or an RGB value with the RGB flag).
unsigned face_as_control_colour(const TSkinData& data);

// Makes the companion of a class; nullptr for those not built yet.
std::unique_ptr<TSkinControl> make_companion(Companion kind);
bool companion_built(Companion kind);

// The companion list of one skinned window and the dispatch that fills it.
class CompanionHost {
 public:
  // window: the skinned window; skin: its window skin, asked for its state
  // (may be null); form: the form object of the window, or null.
  CompanionHost(HWND window, TSkinData& data, const WindowSkin* skin, ui::Form* form);
  ~CompanionHost();
  CompanionHost(const CompanionHost&) = delete;
  CompanionHost& operator=(const CompanionHost&) = delete;

  // Lists the companion (taking ownership) unless it is listed; answers
  // whether it was.
  bool AddSkinControl(TSkinControl& companion);
  // Takes it out and frees it (or, while it runs a message, lets it free
  // itself when that returns).
  void RemoveSkinControl(TSkinControl& companion);
  TSkinControl* FindSkinControl(HWND hwnd) const;
  TSkinControl* FindSkinControl(const ui::Control& control) const;
  void SweepSkinControls();
  void UnskinAll();

  void SkinChildren(ui::Component& container);
  void SkinComponent(ui::Component& component, ui::Control* parent);
  bool SkinByMapping(std::string_view class_name, ui::Control& control);
  void SkinChildWindows();
  void SkinChildWindow(HWND hwnd);
  static bool HasScrollBars(ui::Control& control);
  bool IsSkinned(ui::Control& control) const;
  static ControlFacts facts_of(ui::Control& control);

  // Paints a tool-bar button's face from the "Buttons" element before the
  // bar draws its image and caption over it.
  void ToolBarCustomDraw(ui::ToolBar& bar, HDC dc, const RECT& bounds, unsigned state);

  // The one hot button of the window.
  TSkinControl* hot_button() const noexcept { return hot_; }
  void set_hot_button(TSkinControl* companion) noexcept { hot_ = companion; }
  // The pointer left the window (it was deactivated): the hot button hears
  // that the mouse left it.
  void release_hot_button();

  // An element bitmap (or any other picture of the skin data) as a GDI
  // bitmap, made once per skin load.
  HBITMAP element_bitmap(const TDataSkinObject& element) { return pixels_bitmap(element.Bitmap); }
  HBITMAP pixels_bitmap(const Pixels24& pixels);
  // After the skin data was reloaded: bitmaps are made again and every
  // companion refreshes.
  void reload();

  HWND window() const noexcept { return window_; }
  TSkinData& data() const noexcept { return *data_; }
  // Whether the window skin has finished skinning its window.
  bool skinned() const;
  const std::vector<std::unique_ptr<TSkinControl>>& controls() const noexcept { return list_; }

 private:
  void apply(const Decision& decision, ui::Control& control);
  TSkinControl* attach(Companion kind, Attach how, bool keep_colour, bool take_over, ui::Control& control);
  static void dispose(std::unique_ptr<TSkinControl> companion);

  HWND window_;
  TSkinData* data_;
  const WindowSkin* skin_;
  ui::Form* form_;
  std::vector<std::unique_ptr<TSkinControl>> list_;
  TSkinControl* hot_ = nullptr;
  std::vector<std::pair<const Pixels24*, ui::gdi_object<HBITMAP>>> bitmaps_;
};

}  // namespace clip::skin
