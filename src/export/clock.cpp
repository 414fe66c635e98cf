#include "export/clock.h"

#include <cstdio>

namespace clip::video {
namespace {

bool leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, ClockTime& t) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2));
}

bool two_digits(std::string_view text, std::size_t at, int& value) {
  const char a = text[at], b = text[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return false;
  value = (a - '0') * 10 + (b - '0');
  return true;
}

}  // namespace

std::optional<ClockTime> parse_start(std::string_view text) {
  // "20YY-MM-DD hh-mm-ss"
  if (text.size() != 19 || text.substr(0, 2) != "20") return std::nullopt;
  static constexpr std::size_t kSeparators[] = {4, 7, 10, 13, 16};
  static constexpr char kSeparator[] = {'-', '-', ' ', '-', '-'};
  for (std::size_t i = 0; i < 5; ++i) {
    if (text[kSeparators[i]] != kSeparator[i]) return std::nullopt;
  }
  ClockTime t;
  int year = 0;
  if (!two_digits(text, 2, year) || !two_digits(text, 5, t.month) || !two_digits(text, 8, t.day) ||
      !two_digits(text, 11, t.hour) || !two_digits(text, 14, t.minute) || !two_digits(text, 17, t.second)) {
    return std::nullopt;
  }
  t.year = 2000 + year;
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > days_in_month(t.year, t.month) || t.hour > 23 ||
      t.minute > 59 || t.second > 59) {
    return std::nullopt;
  }
  return t;
}

std::string clock_text(const ClockTime& t) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d-%02d-%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

ClockTime add_seconds(const ClockTime& t, int64_t seconds) {
  const int64_t day_seconds = int64_t{t.hour} * 3600 + t.minute * 60 + t.second + seconds;
  ClockTime out;
  civil_from_days(days_from_civil(t.year, t.month, t.day) + day_seconds / 86400, out);
  const int64_t rest = day_seconds % 86400;
  out.hour = static_cast<int>(rest / 3600);
  out.minute = static_cast<int>(rest / 60 % 60);
  out.second = static_cast<int>(rest % 60);
  return out;
}

}  // namespace clip::video
