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

void restore_clock(CableLink& link, const KeptClock& kept, std::time_t now, Output& con) {
  const ClockTime time = clock_advanced(kept, now);
  if (!write_cart_clock(link, kept.status, time)) fail("the cartridge clock did not answer; it was not set");
  con.print("Clock: set to %s, the file's %s run on to now\n", format_clock_time(time).c_str(),
            format_clock_time(kept.time).c_str());
}

void set_clock_to_host(CableLink& link, std::time_t now, Output& con) {
  const std::optional<ClockTime> host = host_clock_time(now);
  if (!host) fail("the host's time lies outside the years the cartridge clock counts (2000 to 2099)");
  if (!write_cart_clock(link, CLOCK_STATUS_24H, *host)) fail("the cartridge has no clock to set");
  con.print("Clock: set to the host's time, %s\n", format_clock_time(*host).c_str());
}

}  // namespace kartex
