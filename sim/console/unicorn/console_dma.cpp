#include "sim/console/unicorn/console_dma.h"

#include <algorithm>
#include <cstdint>

namespace kartex {

namespace {

enum AddressStep : unsigned { STEP_INCREMENT = 0, STEP_DECREMENT = 1, STEP_FIXED = 2, STEP_RELOAD = 3 };

std::int64_t step_of(unsigned mode, unsigned unit) {
  switch (mode) {
    case STEP_DECREMENT: return -static_cast<std::int64_t>(unit);
    case STEP_FIXED: return 0;
    default: return unit;  // increment; 3 = increment and reload (destination)
  }
}

}  // namespace

DmaResult run_dma(unsigned channel, IoRegisters& io, ConsoleBus& bus, const MemoryTiming& timing,
                  SimClock& clock) {
  const std::uint32_t base = io::DMA0SAD + channel * DMA_CHANNEL_STRIDE;
  auto reg32 = [&](std::uint32_t off) {
    return io.raw(base + off) | static_cast<std::uint32_t>(io.raw(base + off + 2)) << 16;
  };
  // Address widths: DMA0 reads internal memory only (27 bits), DMA1-3 the
  // whole bus (28 bits); only DMA3 writes beyond internal memory.
  const std::uint32_t src_mask = channel == 0 ? 0x07FFFFFF : 0x0FFFFFFF;
  const std::uint32_t dst_mask = channel == 3 ? 0x0FFFFFFF : 0x07FFFFFF;
  const std::uint16_t control = io.raw(base + 10);
  const unsigned unit = control & io::DMAH_32BIT ? 4 : 2;
  std::uint32_t count = io.raw(base + 8);
  if (channel != 3) count &= 0x3FFF;
  if (count == 0) count = channel == 3 ? 0x10000 : 0x4000;  // zero means the largest count

  // The unit size forces the low address bits to zero.
  std::uint32_t src = reg32(0) & src_mask & ~(unit - 1);
  std::uint32_t dst = reg32(4) & dst_mask & ~(unit - 1);
  const unsigned src_mode = (control >> 7) & 3;
  const unsigned dst_mode = (control >> 5) & 3;
  const std::int64_t src_step = step_of(src_mode, unit);
  const std::int64_t dst_step = step_of(dst_mode, unit);

  DmaResult result{dst, dst};
  // Two internal cycles to start; then each unit is a read and a write, the
  // first of each non-sequential and the rest bursts.
  clock.advance(simtime::cycles(2));
  bus.begin_burst();
  for (std::uint32_t i = 0; i < count; ++i) {
    clock.advance(simtime::cycles(timing.access(src, unit, i > 0 && src_step == unit)));
    const std::uint32_t value = bus.read(src, unit);
    clock.advance(simtime::cycles(timing.access(dst, unit, i > 0 && dst_step == unit)));
    bus.write(dst, unit, value);
    result.dest_low = std::min(result.dest_low, dst);
    result.dest_high = std::max(result.dest_high, dst + unit);
    src = static_cast<std::uint32_t>(src + src_step);
    dst = static_cast<std::uint32_t>(dst + dst_step);
  }
  bus.end_burst();
  // A channel started at once runs once: repeat applies to timed starts.
  io.set_raw(base + 10, static_cast<std::uint16_t>(io.raw(base + 10) & ~io::DMAH_ENABLE));
  if (control & io::DMAH_IRQ) io.raise_irq(static_cast<std::uint16_t>(IRQ_DMA0 << channel));
  return result;
}

}  // namespace kartex
