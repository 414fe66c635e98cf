// Every procedure the system calls into (window, subclass, hook and timer
// procedures, thread starts, popup-menu commands) runs its body through
// guard(): an exception stops there and its text goes to the application's
// error box. Unwinding through the system's own frames is undefined, and the
// shipped 32-bit build ends in std::terminate when it tries.
#pragma once

#include <exception>
#include <type_traits>
#include <utility>

namespace ui {

// Hands a failure caught at an entry point to the application's error
// handling. Never throws.
void report_entry_failure(const std::exception* error) noexcept;

// Runs body(); on an exception reports it and answers `fallback`.
template <typename Body, typename Result = std::invoke_result_t<Body&>>
Result guard(Body&& body, Result fallback) noexcept {
  try {
    return body();
  } catch (const std::exception& error) {
    report_entry_failure(&error);
  } catch (...) {
    report_entry_failure(nullptr);
  }
  return fallback;
}

template <typename Body>
void guard(Body&& body) noexcept {
  try {
    body();
  } catch (const std::exception& error) {
    report_entry_failure(&error);
  } catch (...) {
    report_entry_failure(nullptr);
  }
}

}  // namespace ui
