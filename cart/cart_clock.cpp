#include "cart/cart_clock.h"

#include <algorithm>

#include "common/output.h"
#include "contract/wire.h"
#include "link/cable_link.h"

namespace kartex {

namespace {

std::uint32_t date_word(const ClockRegisters& r) {
  return r[0] | static_cast<std::uint32_t>(r[1]) << 8 | static_cast<std::uint32_t>(r[2]) << 16 |
         static_cast<std::uint32_t>(r[3]) << 24;
}

std::uint32_t time_word(const ClockRegisters& r) {
  return r[4] | static_cast<std::uint32_t>(r[5]) << 8 | static_cast<std::uint32_t>(r[6]) << 16;
}

}  // namespace

std::optional<ClockReading> read_cart_clock(CableLink& link) {
  std::uint32_t words[CLOCK_INFO_WORDS] = {};
  link.agent_request(REQ_CLOCK_READ, 0, 0, 0, words);
  if (!(words[0] & CLOCK_PRESENT)) return std::nullopt;
  ClockReading r;
  r.status = static_cast<std::uint8_t>(words[0]);
  for (unsigned i = 0; i < 4; ++i) r.registers[i] = static_cast<std::uint8_t>(words[1] >> (8 * i));
  for (unsigned i = 0; i < 3; ++i) r.registers[4 + i] = static_cast<std::uint8_t>(words[2] >> (8 * i));
  r.time = clock_from_registers(r.registers, r.status);
  return r;
}

bool write_cart_clock(CableLink& link, std::uint8_t status, const ClockTime& time) {
  // The registers go in 24-hour form; a 12-hour clock takes the hour and
  // the PM flag instead.
  ClockRegisters r = clock_registers(time);
  if (!(status & CLOCK_STATUS_24H)) {
    const int h = time.hour % 12;
    r[4] = static_cast<std::uint8_t>((h / 10) << 4 | h % 10 | (time.hour >= 12 ? CLOCK_HOUR_PM : 0));
  }
  std::uint32_t reply = 0;
  link.agent_request(REQ_CLOCK_WRITE, status & CLOCK_STATUS_WRITABLE, date_word(r), time_word(r),
                     std::span(&reply, 1));
  return reply == REPLY_DONE;
}

std::string clock_line(const std::optional<ClockReading>& clock) {
  if (!clock) return "Clock: none\n";
  std::string state = clock->status & CLOCK_STATUS_24H ? "24-hour mode" : "12-hour mode";
  if (clock->status & CLOCK_STATUS_POWER_LOST)
    state += ", power lost: its battery ran dry or was changed; kartex info --set-clock sets it";
  if (!clock->time) {
    std::string regs;
    for (std::uint8_t b : clock->registers) regs += strprintf(" %02X", b);
    return strprintf("Clock: its registers hold no valid time (%s; registers%s)\n", state.c_str(), regs.c_str());
  }
  return strprintf("Clock: %s (%s)\n", format_clock_time(*clock->time).c_str(), state.c_str());
}

ClockRecord clock_record(const ClockReading& reading, std::time_t latched) {
  ClockRecord record{};
  // Readers of the record take the hour as plain BCD 00-23, whatever the
  // hour mode: it holds the 24-hour hour without the PM flag.
  ClockRegisters r = reading.time ? clock_registers(*reading.time) : reading.registers;
  if (reading.time) r[4] = static_cast<std::uint8_t>(r[4] & ~CLOCK_HOUR_PM);
  for (unsigned i = 0; i < 7; ++i) record[i] = r[i];
  record[7] = reading.status;
  const auto t = static_cast<std::uint64_t>(static_cast<std::int64_t>(latched));
  for (unsigned i = 0; i < 8; ++i) record[8 + i] = static_cast<std::uint8_t>(t >> (8 * i));
  return record;
}

std::optional<KeptClock> parse_clock_record(std::span<const std::uint8_t, CLOCK_RECORD_BYTES> record) {
  KeptClock kept;
  ClockRegisters r;
  for (unsigned i = 0; i < 7; ++i) r[i] = record[i];
  kept.status = record[7];
  // The hour as 00-23; a copy of 12-hour registers brings its PM flag.
  const std::uint8_t hour = r[4] & 0x3F;
  const int tens = hour >> 4, ones = hour & 0x0F;
  if ((r[4] & CLOCK_HOUR_PM) && ones <= 9 && tens * 10 + ones < 12) {
    const int h = tens * 10 + ones + 12;
    r[4] = static_cast<std::uint8_t>((h / 10) << 4 | h % 10);
  } else {
    r[4] = hour;
  }
  const std::optional<ClockTime> time = clock_from_registers(r, CLOCK_STATUS_24H);
  if (!time) return std::nullopt;
  kept.time = *time;
  std::uint64_t t = 0;
  for (unsigned i = 0; i < 8; ++i) t |= static_cast<std::uint64_t>(record[8 + i]) << (8 * i);
  kept.latched = static_cast<std::int64_t>(t);
  return kept;
}

ClockTime clock_advanced(const KeptClock& kept, std::time_t now) {
  const std::int64_t passed = static_cast<std::int64_t>(now) - kept.latched;
  return clock_time_at(clock_seconds(kept.time) + (passed > 0 ? passed : 0));
}

std::optional<ClockTime> host_clock_time(std::time_t now) {
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &now) != 0) return std::nullopt;
#else
  if (!localtime_r(&now, &local)) return std::nullopt;
#endif
  ClockTime t{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
              std::min(local.tm_sec, 59)};
  if (!valid_clock_time(t)) return std::nullopt;
  return t;
}

}  // namespace kartex
