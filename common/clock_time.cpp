#include "common/clock_time.h"

#include <cstdio>

namespace kartex {

namespace {

constexpr std::int64_t DAY = 86400;

bool leap(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int days_in_month(int year, int month) {
  static constexpr int DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap(year) ? 29 : DAYS[month - 1];
}

std::uint8_t bcd(int n) { return static_cast<std::uint8_t>((n / 10) << 4 | (n % 10)); }

// -1 when `b` holds a digit above 9.
int from_bcd(std::uint8_t b) {
  if ((b & 0x0F) > 9 || (b >> 4) > 9) return -1;
  return (b >> 4) * 10 + (b & 0x0F);
}

// Reads exactly `digits` decimal digits at text[at].
bool digits_at(const std::string& text, std::size_t at, std::size_t digits, int& out) {
  if (at + digits > text.size()) return false;
  out = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    out = out * 10 + (text[i] - '0');
  }
  return true;
}

}  // namespace

bool valid_clock_time(const ClockTime& t) {
  return t.year >= 2000 && t.year <= 2099 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= days_in_month(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
         t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

std::int64_t clock_seconds(const ClockTime& t) {
  std::int64_t days = 0;
  for (int y = 2000; y < t.year; ++y) days += leap(y) ? 366 : 365;
  for (int m = 1; m < t.month; ++m) days += days_in_month(t.year, m);
  days += t.day - 1;
  return days * DAY + t.hour * 3600 + t.minute * 60 + t.second;
}

ClockTime clock_time_at(std::int64_t seconds) {
  seconds %= CLOCK_SECONDS_SPAN;
  if (seconds < 0) seconds += CLOCK_SECONDS_SPAN;
  ClockTime t;
  std::int64_t days = seconds / DAY;
  const std::int64_t in_day = seconds % DAY;
  t.hour = static_cast<int>(in_day / 3600);
  t.minute = static_cast<int>(in_day / 60 % 60);
  t.second = static_cast<int>(in_day % 60);
  while (days >= (leap(t.year) ? 366 : 365)) days -= leap(t.year++) ? 366 : 365;
  while (days >= days_in_month(t.year, t.month)) days -= days_in_month(t.year, t.month++);
  t.day = static_cast<int>(days) + 1;
  return t;
}

int clock_weekday(const ClockTime& t) {
  // 2000-01-01 was a Saturday.
  return static_cast<int>((clock_seconds(t) / DAY + 6) % 7);
}

ClockRegisters clock_registers(const ClockTime& t) {
  return {bcd(t.year - 2000),
          bcd(t.month),
          bcd(t.day),
          static_cast<std::uint8_t>(clock_weekday(t)),
          static_cast<std::uint8_t>(bcd(t.hour) | (t.hour >= 12 ? CLOCK_HOUR_PM : 0)),
          bcd(t.minute),
          bcd(t.second)};
}

std::optional<ClockTime> clock_from_registers(const ClockRegisters& r, std::uint8_t status) {
  ClockTime t;
  const int year = from_bcd(r[0]);
  t.month = from_bcd(r[1]);
  t.day = from_bcd(r[2]);
  int hour = from_bcd(r[4] & 0x3F);
  t.minute = from_bcd(r[5]);
  t.second = from_bcd(r[6]);
  if (year < 0 || hour < 0) return std::nullopt;
  t.year = 2000 + year;
  // In 12-hour mode the register counts 0-11 and the flag tells the half.
  if (!(status & CLOCK_STATUS_24H)) {
    if (hour > 11) return std::nullopt;
    if (r[4] & CLOCK_HOUR_PM) hour += 12;
  }
  t.hour = hour;
  if (!valid_clock_time(t)) return std::nullopt;
  return t;
}

std::optional<ClockTime> parse_clock_time(const std::string& text) {
  ClockTime t;
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':')
    return std::nullopt;
  if (!digits_at(text, 0, 4, t.year) || !digits_at(text, 5, 2, t.month) || !digits_at(text, 8, 2, t.day) ||
      !digits_at(text, 11, 2, t.hour) || !digits_at(text, 14, 2, t.minute) || !digits_at(text, 17, 2, t.second))
    return std::nullopt;
  if (!valid_clock_time(t)) return std::nullopt;
  return t;
}

std::string format_clock_time(const ClockTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

}  // namespace kartex
