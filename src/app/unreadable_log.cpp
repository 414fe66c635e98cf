#include "app/unreadable_log.h"

namespace app {

UnreadableLog::UnreadableLog(std::function<void(std::string)> out, int per_second,
                             std::function<Clock::time_point()> now)
    : out_(std::move(out)), per_second_(per_second), now_(std::move(now)) {}

void UnreadableLog::add(const clip::scanner::SectorRange& range) {
  const Clock::time_point now = now_();
  if (in_window_ == 0 || now - window_start_ >= std::chrono::seconds(1)) {
    window_start_ = now;
    in_window_ = 0;
  }
  if (in_window_ >= per_second_) {
    ++omitted_;
    return;
  }
  ++in_window_;
  flush();
  out_(clip::scanner::unreadable_line(range));
}

void UnreadableLog::flush() {
  if (omitted_ == 0) return;
  out_(omitted_line(omitted_));
  omitted_ = 0;
}

std::string UnreadableLog::omitted_line(int64_t ranges) {
  return "……另有 " + std::to_string(ranges) + " 处无法读取的扇区范围未逐条列出";
}

}  // namespace app
