#include "app/save_clock.h"

#include "common/failure.h"
#include "common/output.h"

namespace kartex {

ClockReading required_clock(CableLink& link, const char* command) {
  std::optional<ClockReading> clock = read_cart_clock(link);
  if (!clock)
    fail(strprintf("the cartridge has no clock for %s --rtc to keep; without --rtc %s takes the save alone",
                   command, command));
  if (!clock->time)
    fail("the cartridge clock's registers hold no valid time; kartex info --set-clock sets it first");
  return *clock;
}

SaveWithClock split_save_file(const CartInfo& cart, const std::string& name, std::span<const std::uint8_t> file) {
  const SaveGeometry g = save_geometry(cart.save_type, cart.variant);
  const std::size_t save = g.size > 0 ? static_cast<std::size_t>(g.size) : 0;
  if (file.size() != save + CLOCK_RECORD_BYTES)
    fail(strprintf("%s (%zu bytes) carries no clock after the save: sw --rtc takes the 0x%zX bytes of the save "
                   "and %zu of clock that sr --rtc writes",
                   name.c_str(), file.size(), save, CLOCK_RECORD_BYTES));
  const std::optional<KeptClock> kept = parse_clock_record(file.subspan(save).first<CLOCK_RECORD_BYTES>());
  if (!kept) fail(name + ": the clock after the save holds no valid date and time");
  return {file.first(save), *kept};
}

namespace {

// A clock that ignored the write would keep its own time: the time read
// back must be the one written, give or take the moments in between.
void check_clock_took(CableLink& link, const ClockTime& written) {
  constexpr std::int64_t SLACK_SECONDS = 2;
  const std::optional<ClockReading> now = read_cart_clock(link);
  const std::int64_t drift = now && now->time ? clock_seconds(*now->time) - clock_seconds(written) : -1;
  if (drift < 0 || drift > SLACK_SECONDS)
    fail(strprintf("the cartridge clock did not take the time written (%s): it reads %s",
                   format_clock_time(written).c_str(),
                   now && now->time ? format_clock_time(*now->time).c_str() : "no valid time"));
}

}  // namespace

void restore_clock(CableLink& link, const KeptClock& kept, std::time_t now, Output& con) {
  const ClockTime time = clock_advanced(kept, now);
  if (!write_cart_clock(link, kept.status, time)) fail("the cartridge clock did not answer; it was not set");
  check_clock_took(link, time);
  con.print("Clock: set to %s, the file's %s run on to now\n", format_clock_time(time).c_str(),
            format_clock_time(kept.time).c_str());
}

void set_clock_to_host(CableLink& link, std::time_t now, Output& con) {
  const std::optional<ClockTime> host = host_clock_time(now);
  if (!host) fail("the host's time lies outside the years the cartridge clock counts (2000 to 2099)");
  if (!write_cart_clock(link, CLOCK_STATUS_24H, *host)) fail("the cartridge has no clock to set");
  check_clock_took(link, *host);
  con.print("Clock: set to the host's time, %s\n", format_clock_time(*host).c_str());
}

}  // namespace kartex
