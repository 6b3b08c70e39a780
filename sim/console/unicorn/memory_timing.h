#pragma once
// How many CPU cycles one access to the console's memory takes: the table
// of the console's memory regions with their bus widths and wait states,
// the cartridge's taken from WAITCNT as the program set it. Work RAM 256K
// keeps its power-on two wait states (the agent does not change them).
//
// A 32-bit access to a 16-bit bus is two accesses, the second sequential.
// On the cartridge bus the first access of a burst is non-sequential (N)
// and the ones that follow at the next address sequential (S); the CPU's
// bursts are its block transfers and DMA's, a run of single loads (LDRH
// after LDRH) is one N access each.

#include <cstdint>

#include "sim/console/unicorn/console_io.h"

namespace kartex {

class MemoryTiming {
 public:
  explicit MemoryTiming(const IoRegisters& io) : io_(io) {}

  // One data access of `size` bytes (1, 2 or 4) by the CPU or a DMA;
  // `sequential` continues a cartridge burst at the next address.
  unsigned access(std::uint32_t addr, unsigned size, bool sequential) const;
  // One opcode fetch: 4 bytes in ARM state, 2 in Thumb state.
  unsigned fetch(std::uint32_t addr, bool thumb) const { return access(addr, thumb ? 2 : 4, true); }

 private:
  unsigned rom_wait(unsigned window, bool sequential) const;

  const IoRegisters& io_;
};

}  // namespace kartex
