#pragma once
// The cartridge clock as the tool sees it: read and set through the agent,
// shown by info, and kept after a save's bytes in the 16-byte record common
// emulators read and write (seven BCD registers, the status byte, and the
// host's time of the reading as a 64-bit little-endian count of seconds
// since 1970).

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>

#include "common/clock_time.h"

namespace kartex {

class CableLink;
struct Output;

struct ClockReading {
  std::uint8_t status = 0;
  ClockRegisters registers{};
  std::optional<ClockTime> time;  // nullopt: the registers hold no valid time
};

// The clock, or nullopt when the cartridge has none.
std::optional<ClockReading> read_cart_clock(CableLink& link);
// Sets the clock's hour mode (from `status`) and date and time; false when
// the cartridge has no clock (nothing written).
bool write_cart_clock(CableLink& link, std::uint8_t status, const ClockTime& time);

// "Clock: 2026-12-08 16:27:48 (24-hour mode)" and what else there is to say.
std::string clock_line(const std::optional<ClockReading>& clock);

constexpr std::size_t CLOCK_RECORD_BYTES = 16;
using ClockRecord = std::array<std::uint8_t, CLOCK_RECORD_BYTES>;

ClockRecord clock_record(const ClockReading& reading, std::time_t latched);
struct KeptClock {
  std::uint8_t status = 0;
  ClockTime time;         // as the registers held it when latched
  std::int64_t latched;   // host time of the reading, seconds since 1970
};
// nullopt when the record's registers hold no valid time.
std::optional<KeptClock> parse_clock_record(std::span<const std::uint8_t, CLOCK_RECORD_BYTES> record);
// The kept clock run on to `now` (host seconds since 1970); a latch in the
// future adds nothing.
ClockTime clock_advanced(const KeptClock& kept, std::time_t now);
// The host's local time as the clock holds it; nullopt outside 2000-2099.
std::optional<ClockTime> host_clock_time(std::time_t now);

}  // namespace kartex
