#pragma once
// sr --rtc, sw --rtc and info --set-clock: the cartridge clock beside the
// save, checked before anything is read or written.

#include <ctime>
#include <optional>
#include <span>
#include <vector>

#include "cart/cart_clock.h"
#include "cart/cart_info.h"

namespace kartex {

class CableLink;
struct Output;

// The clock of a cartridge that must have one (throws Failure otherwise).
ClockReading required_clock(CableLink& link, const char* command);

// sw --rtc: the save's bytes and the clock record behind them, or one line
// (Failure) for a file that carries none. Nothing touches the cable.
struct SaveWithClock {
  std::span<const std::uint8_t> save;
  KeptClock clock;
};
SaveWithClock split_save_file(const CartInfo& cart, const std::string& name, std::span<const std::uint8_t> file);

// Sets the clock to `kept` run on to `now` and says so.
void restore_clock(CableLink& link, const KeptClock& kept, std::time_t now, Output& con);
// info --set-clock: the host's local time, 24-hour mode.
void set_clock_to_host(CableLink& link, std::time_t now, Output& con);

}  // namespace kartex
