#pragma once
// The clock stamp: the host's local date and time written into a program
// image before it is sent, so that the program can set a clock from it.

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <span>

#include "host/hostio_protocol.h"

namespace kartex {

struct Output;

using ClockStampBytes = std::array<std::uint8_t, CLOCK_STAMP_SIZE>;
// The calendar time in whole seconds (std::time in the tool).
using WallClock = std::function<std::time_t()>;

// "RTCD", year modulo 100, month 1-12, day, weekday (0 Sunday), hour,
// minute, second, 0: plain binary bytes.
ClockStampBytes clock_stamp_bytes(const std::tm& local);

// Waits for the wall clock's next second, so that the stamp is as fresh as
// a whole second allows, writes the stamp at its offset in `image` (only
// the part that lies inside a short image), sets the header complement
// that the stamp changed, and prints the date and time.
// Returns the stamp's length.
std::size_t stamp_clock(std::span<std::uint8_t> image, Output& con, const WallClock& now);

}  // namespace kartex
