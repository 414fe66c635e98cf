// The recorder's clock as the clip list shows it: "2026-05-20 08-15-07" (the
// header's year within the century after "20", then month, day, hour, minute,
// second). The recorder stores no time zone; times are taken as they stand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace clip::video {

struct ClockTime {
  int year = 2000;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The start column's text when it is a valid date and time: exactly
// "20YY-MM-DD hh-mm-ss", month 1 to 12, a day the month has, hour below 24,
// minute and second below 60. A header with a field of 100 or more makes a
// three-digit field, which is no date.
std::optional<ClockTime> parse_start(std::string_view text);

// The same text form; years past 2099 print as they are ("2100-01-01 ...").
std::string clock_text(const ClockTime& t);

// `t` plus `seconds` (not negative), across days, months and years.
ClockTime add_seconds(const ClockTime& t, int64_t seconds);

}  // namespace clip::video
