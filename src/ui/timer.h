// A component that calls OnTimer every Interval milliseconds while Enabled.
// Each timer owns a hidden message-only window whose WM_TIMER runs the event;
// the window, and with it the Windows timer, goes with the component.
#pragma once

#include <functional>
#include <string>

#include "ui/component.h"
#include "ui/window.h"

namespace ui {

class Timer : public Component {
 public:
  Timer(Component* owner, std::string name);
  const char* class_name() const override { return "TTimer"; }
  bool is(Kind kind) const override { return kind == Kind::timer || Component::is(kind); }

  int interval() const noexcept { return interval_; }
  void set_interval(int milliseconds);
  bool enabled() const noexcept { return enabled_; }
  void set_enabled(bool enabled);
  // Runs on the GUI thread. A failure it throws goes to the application's
  // error box. It is not entered again while it runs (it may pump messages).
  std::function<void()> OnTimer;

 private:
  void restart();
  void fire();
  Window window_;
  int interval_ = 1000;
  bool enabled_ = true;
  bool running_ = false;
};

}  // namespace ui
