// Clickable objects of a skinned window's non-client area (caption buttons
// and menu-bar items) and what they ask of the window skin they sit on.
// The window keeps at most one hot object: the one that is hot or pressed.
#pragma once

#include <windows.h>

#include "skin/data/skin_data.h"
#include "skin/frame/frame_geometry.h"

namespace clip::skin {


class TNCObject;

// The window skin as its non-client objects see it; TFormSkin implements it.
class FrameHost {
 public:
  virtual HWND window() const = 0;
  virtual TSkinData& skin_data() const = 0;
  virtual bool active() const = 0;
  virtual ShowState show_state() const = 0;
  virtual const FrameMetrics& metrics() const = 0;
  virtual bool right_to_left() const = 0;
  // A screen point in window coordinates: the client point plus
  // (left, caption + menu bar); a minimized window gets the bare client point.
  virtual POINT ScreenToWindow(POINT screen) const = 0;
  virtual TNCObject* hot_object() const = 0;
  virtual void set_hot_object(TNCObject* object) = 0;
  // Set while a menu-bar drop-down is open; the hover timer then leaves the
  // hot object alone.
  virtual bool menu_tracking() const = 0;
  virtual void set_menu_tracking(bool tracking) = 0;

 protected:
  ~FrameHost() = default;
};

class TNCObject {
 public:
  enum State { normal = 1, pressed = 2, hot = 3 };

  explicit TNCObject(FrameHost& owner) : owner_(&owner) {}
  virtual ~TNCObject() {
    if (owner_->hot_object() == this) owner_->set_hot_object(nullptr);
  }
  TNCObject(const TNCObject&) = delete;
  TNCObject& operator=(const TNCObject&) = delete;

  FrameHost& owner() const noexcept { return *owner_; }

  // Another hot object leaves first; an enabled object becomes hot, pressed.
  virtual void Press() {
    leave_other();
    if (!enabled) return;
    owner_->set_hot_object(this);
    state = pressed;
    Paint();
  }
  virtual void Release() {
    if (!enabled) return;
    state = hot;
    Paint();
  }
  virtual void Hover() {
    if (owner_->hot_object() == this) return;
    leave_other();
    if (!enabled) return;
    owner_->set_hot_object(this);
    state = hot;
    Paint();
  }
  virtual void Leave() {
    if (!enabled) return;
    if (owner_->hot_object() == this) owner_->set_hot_object(nullptr);
    state = normal;
    Paint();
  }
  virtual void Paint() {}

  RECT rect{0, 0, 0, 0};  // window coordinates
  bool enabled = false;   // caption buttons: visible; menu-bar items: shown
  int state = normal;

 private:
  void leave_other() {
    TNCObject* other = owner_->hot_object();
    if (other && other != this) other->Leave();
  }
  FrameHost* owner_;
};

}  // namespace clip::skin
