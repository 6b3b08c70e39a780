#pragma once
// The cartridge clock's calendar: the seven BCD registers of the GPIO
// real-time clock (year 00-99 for 2000-2099, month, day, day of week,
// hour, minute, second), seconds counted from 2000-01-01 00:00:00, and the
// text a user types or reads (YYYY-MM-DDTHH:MM:SS). Shared by the
// simulator's clock model and the tool, so both count days alike.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "contract/hw/cart_clock.h"

namespace kartex {

struct ClockTime {
  int year = 2000;  // 2000-2099: the chip keeps two BCD digits
  int month = 1;    // 1-12
  int day = 1;      // 1-31, as the month has
  int hour = 0;     // 0-23
  int minute = 0;
  int second = 0;
  friend bool operator==(const ClockTime&, const ClockTime&) = default;
};

// The registers in the order the chip sends them after its date-and-time
// command.
using ClockRegisters = std::array<std::uint8_t, 7>;

// Seconds of the years the chip counts: 2000-01-01 to 2099-12-31 23:59:59.
constexpr std::int64_t CLOCK_SECONDS_SPAN = 36525LL * 86400;

bool valid_clock_time(const ClockTime& t);
// Seconds since 2000-01-01 00:00:00; t must be valid.
std::int64_t clock_seconds(const ClockTime& t);
// The time `seconds` after 2000-01-01, wrapping after 2099 as the chip's
// two year digits do.
ClockTime clock_time_at(std::int64_t seconds);
// 0 = Sunday ... 6 = Saturday (the chip's counter has no fixed meaning;
// this is the assignment the host's C library uses too).
int clock_weekday(const ClockTime& t);

// The registers in 24-hour mode (with the PM flag the chip sets from noon).
ClockRegisters clock_registers(const ClockTime& t);
// Registers as a chip in `status`'s hour mode gave them; nullopt when they
// are no valid BCD date and time.
std::optional<ClockTime> clock_from_registers(const ClockRegisters& r, std::uint8_t status);

// "2026-12-08T16:27:48"; nullopt for anything else, or for a time the chip
// cannot hold.
std::optional<ClockTime> parse_clock_time(const std::string& text);
// "2026-12-08 16:27:48".
std::string format_clock_time(const ClockTime& t);

}  // namespace kartex
