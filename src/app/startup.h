// What ClipSalvage.exe sets up for its process and its GUI thread before the
// first window, and undoes when the program ends.
#pragma once

namespace app {

class ProcessStartup {
 public:
  // No system boxes for an empty card reader or a vanished disk: the
  // program's own messages say what went wrong. COM on this thread as a
  // single-threaded apartment, which the folder chooser needs. The common
  // controls the windows use.
  ProcessStartup();
  ~ProcessStartup();
  ProcessStartup(const ProcessStartup&) = delete;
  ProcessStartup& operator=(const ProcessStartup&) = delete;

  // False when COM could not be set up (the folder chooser then fails).
  bool ole_ready() const noexcept { return ole_ready_; }

 private:
  bool ole_ready_ = false;
};

}  // namespace app
