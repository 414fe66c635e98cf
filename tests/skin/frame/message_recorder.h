// Records the messages a window procedure receives and compares them with an
// expected sequence, entries optional where Windows and Wine differ.
//
// A MessageRecorder subclasses a window where it sits in the chain at the
// time it is created: made before a skin attaches, it logs what the skin
// passes on; made after, it logs what reaches the window at all. Only the
// watched messages are logged (all of them when the watch list is empty).
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace clip::test {

struct Recorded {
  UINT msg;
  WPARAM wparam;
  LPARAM lparam;
};

class MessageRecorder {
 public:
  MessageRecorder(HWND hwnd, std::initializer_list<UINT> watch = {}) : hwnd_(hwnd), watch_(watch) {
    // Each live recorder has a procedure of its own, so that recorders can
    // stack on one window.
    for (size_t i = 0; i < kSlots; ++i)
      if (!slots()[i] && !passthrough()[i]) {
        slot_ = i;
        break;
      }
    if (slot_ == kSlots) return;
    slots()[slot_] = this;
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procs()[slot_])));
  }
  ~MessageRecorder() { detach(); }
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  // Takes the recorder out when it is still on top of the chain; otherwise
  // its procedure stays in and only passes messages on.
  void detach() {
    if (slot_ == kSlots) return;
    if (previous_ && IsWindow(hwnd_) &&
        reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd_, GWLP_WNDPROC)) == procs()[slot_]) {
      SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
      slots()[slot_] = nullptr;
    } else if (previous_ && IsWindow(hwnd_)) {
      passthrough()[slot_] = previous_;
      slots()[slot_] = nullptr;
    } else {
      slots()[slot_] = nullptr;
    }
    previous_ = nullptr;
    slot_ = kSlots;
  }

  const std::vector<Recorded>& log() const noexcept { return log_; }
  void clear() { log_.clear(); }
  size_t count(UINT msg) const {
    return size_t(std::count_if(log_.begin(), log_.end(), [&](const Recorded& r) { return r.msg == msg; }));
  }
  const Recorded* find(UINT msg) const {
    for (const Recorded& r : log_)
      if (r.msg == msg) return &r;
    return nullptr;
  }

 private:
  static constexpr size_t kSlots = 8;
  static MessageRecorder** slots() {
    static MessageRecorder* s[kSlots] = {};
    return s;
  }
  // The procedure a slot's recorder left behind when it could not unhook.
  static WNDPROC* passthrough() {
    static WNDPROC p[kSlots] = {};
    return p;
  }
  template <size_t I>
  static LRESULT CALLBACK slot_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return dispatch(I, hwnd, msg, wparam, lparam);
  }
  static const WNDPROC* procs() {
    static const WNDPROC p[kSlots] = {slot_proc<0>, slot_proc<1>, slot_proc<2>, slot_proc<3>,
                                      slot_proc<4>, slot_proc<5>, slot_proc<6>, slot_proc<7>};
    return p;
  }

  static LRESULT dispatch(size_t slot, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    MessageRecorder* self = slots()[slot];
    if (!self) {
      WNDPROC saved = passthrough()[slot];
      return saved ? CallWindowProcW(saved, hwnd, msg, wparam, lparam) : DefWindowProcW(hwnd, msg, wparam, lparam);
    }
    if (self->watch_.empty() || std::find(self->watch_.begin(), self->watch_.end(), msg) != self->watch_.end())
      self->log_.push_back({msg, wparam, lparam});
    WNDPROC previous = self->previous_;
    if (msg == WM_NCDESTROY) self->detach();
    return CallWindowProcW(previous, hwnd, msg, wparam, lparam);
  }

  HWND hwnd_;
  std::vector<UINT> watch_;
  size_t slot_ = kSlots;
  WNDPROC previous_ = nullptr;
  std::vector<Recorded> log_;
};

// One entry of an expected sequence.
struct Expected {
  enum Flags : unsigned { none = 0, optional = 1, wparam = 2 };
  UINT msg;
  unsigned flags = none;
  WPARAM wparam_value = 0;
};

// Walks log and table together, as conformance tests do: each logged message
// must match the next expected entry, optional entries may be skipped, and
// a checked wParam must agree. Answers "" on a match, else what differed.
inline std::string compare_sequence(const std::vector<Recorded>& log, const std::vector<Expected>& expected) {
  auto describe = [](UINT msg) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%04X", msg);
    return std::string(text);
  };
  size_t e = 0;
  for (size_t i = 0; i < log.size(); ++i) {
    const Recorded& got = log[i];
    while (e < expected.size() && expected[e].msg != got.msg && (expected[e].flags & Expected::optional)) ++e;
    if (e == expected.size())
      return "message " + std::to_string(i) + " " + describe(got.msg) + " is more than the sequence holds";
    const Expected& want = expected[e];
    if (want.msg != got.msg)
      return "message " + std::to_string(i) + ": expected " + describe(want.msg) + ", got " + describe(got.msg);
    if ((want.flags & Expected::wparam) && want.wparam_value != got.wparam)
      return "message " + std::to_string(i) + " " + describe(got.msg) + ": wParam " + std::to_string(got.wparam) +
             ", expected " + std::to_string(want.wparam_value);
    ++e;
  }
  for (; e < expected.size(); ++e)
    if (!(expected[e].flags & Expected::optional)) return "missing " + describe(expected[e].msg) + " at the end";
  return "";
}

}  // namespace clip::test
