#include "ui/timer.h"

#include "ui/guard.h"

namespace ui {

namespace {
constexpr UINT_PTR kTimerId = 1;
}

Timer::Timer(Component* owner, std::string name) : Component(owner, std::move(name)) {
  window_.on(WM_TIMER, [this](WPARAM id, LPARAM) -> std::optional<LRESULT> {
    if (id != kTimerId) return std::nullopt;
    fire();
    return 0;
  });
  WindowSpec plan;
  plan.class_name = L"TTimerWindow";
  plan.style = 0;
  plan.bounds = {0, 0, 0, 0};
  plan.parent = HWND_MESSAGE;
  window_.create(plan);
  restart();
}

void Timer::set_interval(int milliseconds) {
  interval_ = milliseconds;
  restart();
}

void Timer::set_enabled(bool enabled) {
  enabled_ = enabled;
  restart();
}

void Timer::restart() {
  HWND hwnd = window_.hwnd();
  if (!hwnd) return;
  KillTimer(hwnd, kTimerId);
  // No Windows timer for an interval of 0: it would fire at once and forever.
  if (enabled_ && interval_ > 0) SetTimer(hwnd, kTimerId, static_cast<UINT>(interval_), nullptr);
}

void Timer::fire() {
  if (running_ || !enabled_ || !OnTimer) return;
  running_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{running_};
  // A copy: the event may replace itself or disable the timer while it runs.
  std::function<void()> event = OnTimer;
  guard(event);
}

}  // namespace ui
