// The log lines of unreadable sector ranges, at a bounded rate. A disk with
// tens of thousands of bad sectors would otherwise fill the log with one line
// each and spend its time there; the ranges beyond the rate are counted, and
// the count is said in one line before the next line of the scan's own.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "scanner/scanner.h"

namespace app {

class UnreadableLog {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kLinesPerSecond = 20;

  explicit UnreadableLog(std::function<void(std::string)> out, int per_second = kLinesPerSecond,
                         std::function<Clock::time_point()> now = &Clock::now);

  // A newly found range: its line, unless this second's lines are used up.
  void add(const clip::scanner::SectorRange& range);
  // Says how many ranges were left out since the last time, if any.
  void flush();

  static std::string omitted_line(int64_t ranges);

 private:
  std::function<void(std::string)> out_;
  int per_second_;
  std::function<Clock::time_point()> now_;
  Clock::time_point window_start_{};
  int in_window_ = 0;
  int64_t omitted_ = 0;
};

}  // namespace app
