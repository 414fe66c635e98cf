// Skinned scroll bars: the companions of scrolling controls, list views and
// their headers, stand-alone scroll bar controls and the scroll-bar windows
// of dialogs.
//
// A scrolling control keeps its own window scroll bars; TSkinScrollbar paints
// skinned bars over them after every paint and, when it takes over, drags
// the thumb in a tracking loop of its own. The loop holds the mouse capture,
// pumps every message, and ends on the button's release, on WM_CANCELMODE,
// when the capture goes elsewhere, on a quit request and when the window is
// destroyed or the companion detached; it never waits with the processor
// busy.
#pragma once

#include "skin/controls/control_geometry.h"
#include "skin/controls/skin_control.h"

namespace clip::skin {

class TSkinScrollbar : public TSkinControl {
 public:
  TSkinScrollbar() : TSkinControl(Companion::scrollbar) {}
  // Attaches through the framework control's handler; `take_over` makes
  // the companion drag the thumb itself.
  virtual void HookScrolling(ui::WinControl& control, TSkinData& data, bool take_over, CompanionHost& host);
  void HookWindow(HWND hwnd, TSkinData& data, CompanionHost& host) override;
  void RestoreColor() override;
  bool BeforeMessage(SkinMessage& m) override;
  void AfterMessage(SkinMessage& m) override;
  void DrawSkin(HDC dc, const RECT& rect) override;

  // The pressed part: 0 none, 1 left, 2 right, 3 up, 4 down arrow, 5 the
  // horizontal, 6 the vertical thumb.
  int pressed_part() const noexcept { return pressed_; }
  bool dragging() const noexcept { return dragging_; }
  bool take_over() const noexcept { return take_over_; }
  // bar 0 horizontal, 1 vertical, as last measured.
  const Thumb& thumb(int bar) const { return bars_[bar & 1].thumb; }
  const ScrollBarRects& rects() const noexcept { return rects_; }

 protected:
  explicit TSkinScrollbar(Companion kind) : TSkinControl(kind) {}
  void on_detach() override;

 private:
  struct Bar {
    SCROLLINFO info{sizeof(SCROLLINFO), 0};
    Thumb thumb;
  };
  void measure(int bar, int length);
  // Whether a bar came, went or got another range, page or position since
  // it was last painted.
  bool bars_changed() const;
  bool start_drag(WPARAM hit, POINT screen);
  void track(int bar, UINT scroll_message, POINT start);
  void frame_changed();

  Bar bars_[2];
  bool painted_[2] = {false, false};
  ScrollBarRects rects_;
  int pressed_ = 0;
  bool scrolling_[2] = {false, false};
  bool dragging_ = false;
  bool drag_cancelled_ = false;
  bool take_over_ = false;
};

// A list view: its scroll bars painted (never dragged by the companion) and
// a companion for its column header.
class TSkinListView : public TSkinScrollbar {
 public:
  TSkinListView() : TSkinScrollbar(Companion::list_view) {}
  void HookScrolling(ui::WinControl& control, TSkinData& data, bool take_over, CompanionHost& host) override;
};

// A header control: items and the empty rest from the "Headerbar" element.
class TSkinHeader : public TSkinControl {
 public:
  TSkinHeader() : TSkinControl(Companion::header) {}
  bool BeforeMessage(SkinMessage& m) override;
  void DrawSkin(HDC dc, const RECT& rect) override;

 private:
  void draw_item(HDC dc, int index, const RECT& item, HBITMAP picture, const TDataSkinObject& e);
};

// A stand-alone scroll bar control, painted as one skinned bar.
class TSkinScControl : public TSkinControl {
 public:
  TSkinScControl() : TSkinControl(Companion::sc_control) {}
  bool BeforeMessage(SkinMessage& m) override;
  void DrawSkin(HDC dc, const RECT& rect) override;
  int pressed_part() const noexcept { return pressed_; }
  const Thumb& thumb() const noexcept { return thumb_; }

 private:
  int pressed_ = 0;
  Thumb thumb_;
};

// The size box of a dialog: its own painting and erasing are suppressed; its
// update region is still validated, so it is not asked to paint forever.
class TSkinSizer : public TSkinControl {
 public:
  TSkinSizer() : TSkinControl(Companion::sizer) {}
  bool BeforeMessage(SkinMessage& m) override;
  // Frames the window in the skin's button-shadow colour; only a direct
  // Redraw reaches it.
  void DrawSkin(HDC dc, const RECT& rect) override;
};

// One skinned bar composed off screen and stretched onto `dc` at `bar`:
// track, arrows (the pressed one, 1 to 4, in its pressed frame) and thumb
// (pressed when `pressed` is 5 or 6).
void paint_scroll_bar(HDC dc, const Rect& bar, bool vertical, const Thumb& thumb, int pressed, int arrow,
                      const TSkinData& data, CompanionHost& host);

}  // namespace clip::skin
