#pragma once
// A DMA channel started "immediately": the whole transfer at once through
// the console bus.

#include <cstdint>

#include "sim/console/unicorn/console_bus.h"
#include "sim/console/unicorn/console_io.h"
#include "sim/console/unicorn/memory_timing.h"
#include "sim/clock/sim_clock.h"

namespace kartex {

struct DmaResult {
  std::uint32_t dest_low = 0, dest_high = 0;  // bytes written: [low, high)
};

// Runs channel 0-3 from its registers, then clears its enable bit. The
// clock moves on by each unit's read and write as it happens, so a chip on
// the bus sees the time of its access.
DmaResult run_dma(unsigned channel, IoRegisters& io, ConsoleBus& bus, const MemoryTiming& timing,
                  SimClock& clock);

}  // namespace kartex
