#include "sim/console/unicorn/memory_timing.h"

namespace kartex {

namespace {

// Wait states of WAITCNT's two-bit first-access fields, shared by the save
// window and the three ROM windows.
constexpr unsigned FIRST_ACCESS_WAITS[4] = {4, 3, 2, 8};
// Second-access waits with the field's bit clear, for ROM windows 0-2.
constexpr unsigned SECOND_ACCESS_WAITS[3] = {2, 4, 8};
constexpr unsigned EWRAM_WAITS = 2;

}  // namespace

unsigned MemoryTiming::rom_wait(unsigned window, bool sequential) const {
  const std::uint16_t waitcnt = io_.raw(io::WAITCNT);
  const unsigned shift = 2 + 3 * window;  // 2-4, 5-7, 8-10
  if (sequential) return (waitcnt >> (shift + 2)) & 1 ? 1 : SECOND_ACCESS_WAITS[window];
  return FIRST_ACCESS_WAITS[(waitcnt >> shift) & 3];
}

unsigned MemoryTiming::access(std::uint32_t addr, unsigned size, bool sequential) const {
  const unsigned halves = size == 4 ? 2 : 1;
  switch (addr >> 24) {
    case 0x02:  // 16-bit bus with wait states, no burst
      return halves * (1 + EWRAM_WAITS);
    case 0x05: case 0x06:  // 16-bit bus, no wait states
      return halves;
    case 0x08: case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: {
      const unsigned window = ((addr >> 24) - 0x08) / 2;
      const unsigned first = 1 + rom_wait(window, sequential);
      return size == 4 ? first + 1 + rom_wait(window, true) : first;
    }
    case 0x0E: case 0x0F:  // 8-bit bus: one access of any width
      return 1 + FIRST_ACCESS_WAITS[io_.raw(io::WAITCNT) & 3];
    default:  // BIOS, work RAM 32K, I/O, OAM: 32-bit buses, no wait states
      return 1;
  }
}

}  // namespace kartex
