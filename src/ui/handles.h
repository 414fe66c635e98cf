// Owning wrappers for Win32 handles. They are move-only: copying one would
// release the handle twice, so it does not compile. Each kind counts its live
// handles, because Wine's GetGuiResources always answers 0 and leak tests need
// a number to compare.
#pragma once

#include <windows.h>

#include <atomic>
#include <utility>

namespace ui {

template <typename Traits>
class unique_handle {
 public:
  using handle_type = typename Traits::handle_type;

  unique_handle() noexcept = default;
  explicit unique_handle(handle_type handle) noexcept : handle_(handle) {
    if (valid()) ++live_;
  }
  ~unique_handle() { reset(); }

  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  // A move hands the handle over without closing it, so the count stays.
  unique_handle(unique_handle&& other) noexcept : handle_(std::exchange(other.handle_, Traits::invalid())) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, Traits::invalid());
    }
    return *this;
  }

  handle_type get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != Traits::invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Gives up ownership without closing; the count no longer includes it.
  handle_type release() noexcept {
    handle_type handle = std::exchange(handle_, Traits::invalid());
    if (handle != Traits::invalid()) --live_;
    return handle;
  }

  void reset(handle_type handle = Traits::invalid()) noexcept {
    if (handle_ == handle) return;
    if (valid()) {
      Traits::close(handle_);
      --live_;
    }
    handle_ = handle;
    if (valid()) ++live_;
  }

  // How many handles of this kind the program holds through these wrappers.
  static int live_count() noexcept { return live_.load(); }

 private:
  handle_type handle_ = Traits::invalid();
  static inline std::atomic<int> live_{0};
};

struct window_traits {
  using handle_type = HWND;
  static HWND invalid() noexcept { return nullptr; }
  static void close(HWND h) noexcept { DestroyWindow(h); }
};

struct kernel_handle_traits {
  using handle_type = HANDLE;
  static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) noexcept { CloseHandle(h); }
};

template <typename T>
struct gdi_traits {
  using handle_type = T;
  static T invalid() noexcept { return nullptr; }
  static void close(T h) noexcept { DeleteObject(h); }
};

using unique_hwnd = unique_handle<window_traits>;
using unique_file = unique_handle<kernel_handle_traits>;
template <typename T>
using gdi_object = unique_handle<gdi_traits<T>>;

// A window handle that belongs to someone else: never destroyed through this.
class window_view {
 public:
  window_view() noexcept = default;
  window_view(HWND hwnd) noexcept : hwnd_(hwnd) {}
  HWND get() const noexcept { return hwnd_; }
  explicit operator bool() const noexcept { return hwnd_ != nullptr && IsWindow(hwnd_); }

 private:
  HWND hwnd_ = nullptr;
};

// A DC obtained with GetDC, released to the window it came from.
class dc_scope {
 public:
  explicit dc_scope(HWND hwnd) noexcept : hwnd_(hwnd), dc_(GetDC(hwnd)) {
    if (dc_) ++live_;
  }
  ~dc_scope() {
    if (dc_) {
      ReleaseDC(hwnd_, dc_);
      --live_;
    }
  }
  dc_scope(const dc_scope&) = delete;
  dc_scope& operator=(const dc_scope&) = delete;

  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }
  // DCs taken through here and not yet released, for leak tests.
  static int live_count() noexcept { return live_.load(); }

 private:
  HWND hwnd_;
  HDC dc_;
  static inline std::atomic<int> live_{0};
};

}  // namespace ui
