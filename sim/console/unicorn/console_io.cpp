#include "sim/console/unicorn/console_io.h"

namespace kartex {

namespace {

// Display timing: 1232 cycles a line, 228 lines, 160 visible.
constexpr std::uint64_t CYCLES_PER_LINE = 1232;
constexpr std::uint64_t LINES = 228;
constexpr std::uint64_t VISIBLE_LINES = 160;
constexpr std::uint16_t DISPSTAT_VBLANK = 0x0001;
constexpr std::uint16_t DISPSTAT_VCOUNT_MATCH = 0x0004;
constexpr std::uint16_t DISPSTAT_WRITABLE = 0xFFF8;

constexpr std::uint64_t TIMER_PRESCALE[4] = {1, 64, 256, 1024};

bool timer_register(std::uint32_t offset) {
  return offset >= io::TM0CNT_L && offset < io::TM0CNT_L + 4 * TIMER_COUNT;
}

}  // namespace

IoRegisters::IoRegisters(SimLog& log) : log_(log), clock_(log.clock()) {
  reset();
}

void IoRegisters::reset() {
  cells_.fill(0);
  // The display starts in forced blank until a program sets DISPCNT.
  cells_[io::DISPCNT / 2] = 0x0080;
  armed_ = false;
  outgoing_ = 0;
  timers_.fill(Timer{});
}

std::uint64_t IoRegisters::timer_fed(unsigned n, SimTime t) const {
  const Timer& tm = timers_[n];
  const std::uint16_t control = cells_[(io::TM0CNT_L + 4 * n + 2) / 2];
  if (n > 0 && (control & TM_CASCADE)) return timer_overflows(n - 1, t) - tm.fed_base;
  if (t < tm.start) return 0;
  return (t - tm.start) / simtime::cycles(TIMER_PRESCALE[control & TM_FREQ_MASK]);
}

std::uint16_t IoRegisters::timer_count(unsigned n, SimTime t) const {
  const Timer& tm = timers_[n];
  if (!(cells_[(io::TM0CNT_L + 4 * n + 2) / 2] & TM_ENABLE)) return tm.stopped_count;
  const std::uint64_t period = 0x10000u - tm.reload;
  return static_cast<std::uint16_t>(tm.reload + timer_fed(n, t) % period);
}

std::uint64_t IoRegisters::timer_overflows(unsigned n, SimTime t) const {
  const Timer& tm = timers_[n];
  if (!(cells_[(io::TM0CNT_L + 4 * n + 2) / 2] & TM_ENABLE)) return tm.overflows_base;
  return tm.overflows_base + timer_fed(n, t) / (0x10000u - tm.reload);
}

void IoRegisters::write_timer_control(unsigned n, std::uint16_t value) {
  const std::uint32_t at = io::TM0CNT_L + 4 * n + 2;
  const SimTime now = clock_.now();
  const bool was_on = cells_[at / 2] & TM_ENABLE, on = value & TM_ENABLE;
  Timer& tm = timers_[n];
  if (was_on && !on) {
    tm.stopped_count = timer_count(n, now);
    tm.overflows_base = timer_overflows(n, now);
  }
  if (!was_on && on) {
    // Starting loads the reload value; a cascaded timer counts from the
    // overflows of the one below as they stand now.
    tm.stopped_count = tm.reload;
    tm.start = now;
    tm.fed_base = n > 0 ? timer_overflows(n - 1, now) : 0;
  }
  if (on && (value & TM_IRQ))
    log_.note("timer", "timer " + std::to_string(n) + " interrupt requested; the simulator raises none");
  cells_[at / 2] = value;
}

std::uint16_t IoRegisters::read16(std::uint32_t offset) const {
  offset &= io::SIZE - 2;
  switch (offset) {
    case io::KEYINPUT:
      ++key_reads_;
      return static_cast<std::uint16_t>(keys_ & ~key_script_.held(key_reads_));
    case io::VCOUNT:
      return static_cast<std::uint16_t>((clock_.now() / simtime::cycles(CYCLES_PER_LINE)) % LINES);
    case io::TM0CNT_L: case io::TM0CNT_L + 4: case io::TM0CNT_L + 8: case io::TM0CNT_L + 12:
      return timer_count((offset - io::TM0CNT_L) / 4, clock_.now());
    case io::DISPSTAT: {
      const std::uint64_t line = (clock_.now() / simtime::cycles(CYCLES_PER_LINE)) % LINES;
      std::uint16_t v = cells_[offset / 2] & DISPSTAT_WRITABLE;
      if (line >= VISIBLE_LINES && line != LINES - 1) v |= DISPSTAT_VBLANK;
      if (line == (v >> 8)) v |= DISPSTAT_VCOUNT_MATCH;
      return v;
    }
    default:
      return cells_[offset / 2];
  }
}

std::uint8_t IoRegisters::read8(std::uint32_t offset) const {
  const std::uint16_t half = read16(offset & ~1u);
  return static_cast<std::uint8_t>(offset & 1 ? half >> 8 : half);
}

void IoRegisters::write8(std::uint32_t offset, std::uint8_t value) {
  const std::uint32_t even = offset & (io::SIZE - 2);
  const std::uint16_t old = cells_[even / 2];
  const std::uint16_t merged = offset & 1 ? static_cast<std::uint16_t>((old & 0x00FF) | value << 8)
                                          : static_cast<std::uint16_t>((old & 0xFF00) | value);
  // IF acknowledges only the bits of the byte written.
  if (even == io::IF) {
    write16(even, offset & 1 ? static_cast<std::uint16_t>(value << 8) : value);
    return;
  }
  write16(even, merged);
}

void IoRegisters::write16(std::uint32_t offset, std::uint16_t value) {
  offset &= io::SIZE - 2;
  if (offset == io::KEYINPUT || offset == io::VCOUNT) return;  // read-only
  if (offset == io::IF) {
    cells_[offset / 2] &= static_cast<std::uint16_t>(~value);  // writing 1 acknowledges
    return;
  }
  if (offset == io::SIOCNT) {
    write_siocnt(value);
    return;
  }
  if (timer_register(offset)) {
    const unsigned n = (offset - io::TM0CNT_L) / 4;
    if (offset % 4 == 0) timers_[n].reload = value;  // taken at the next start
    else write_timer_control(n, value);
    return;
  }
  if ((offset == io::SIODATA32_L || offset == io::SIODATA32_H) &&
      ((cells_[io::RCNT / 2] & R_MODE_GPIO) ||
       (cells_[io::SIOCNT / 2] & SIO_MODE_MASK) != SIO_MODE_32BIT))
    log_.misuse("SIO", "SIODATA32 written while SIOCNT=" + hex32(cells_[io::SIOCNT / 2]) + " RCNT=" +
                           hex32(cells_[io::RCNT / 2]) +
                           ": set 32-bit normal mode before loading the data register");
  const std::uint16_t old = cells_[offset / 2];
  cells_[offset / 2] = value;
  if (offset == io::WAITCNT && listener_) listener_->waitcnt_written();
  if (offset >= io::DMA0SAD && offset < io::DMA0SAD + 4 * DMA_CHANNEL_STRIDE &&
      (offset - io::DMA0SAD) % DMA_CHANNEL_STRIDE == 10)
    write_dma_control((offset - io::DMA0SAD) / DMA_CHANNEL_STRIDE, old, value);
}

void IoRegisters::write_dma_control(unsigned channel, std::uint16_t old, std::uint16_t value) {
  if (!(value & io::DMAH_ENABLE) || (old & io::DMAH_ENABLE)) return;
  const unsigned timing = (value & io::DMAH_TIMING_MASK) >> 12;
  if (timing != 0) {
    // Blanking and sound/video timings need a display and sound model.
    log_.note("DMA", "channel " + std::to_string(channel) + " start timing " +
                         std::to_string(timing) + " is not modelled; the channel stays idle");
    return;
  }
  if (listener_) listener_->dma_started(channel);
}

void IoRegisters::write_siocnt(std::uint16_t value) {
  const bool was_armed = armed_;
  const bool so_rises = !(cells_[io::SIOCNT / 2] & SIO_SO_HIGH) && (value & SIO_SO_HIGH);
  cells_[io::SIOCNT / 2] = value;
  if (!(value & SIO_START)) {
    armed_ = false;  // the transfer is called off before the cable clocked it
    if (so_rises && listener_) listener_->serial_so_raised_idle();
    return;
  }
  if (was_armed) return;  // still waiting for the cable
  const bool sio_modes = !(cells_[io::RCNT / 2] & R_MODE_GPIO);
  const std::uint16_t mode = value & SIO_MODE_MASK;
  if (!sio_modes || (mode != SIO_MODE_32BIT && mode != SIO_MODE_8BIT)) {
    log_.misuse("SIO", "start bit set with SIOCNT=" + hex32(value) + " RCNT=" +
                           hex32(cells_[io::RCNT / 2]) +
                           ": the cable serves only normal mode; the transfer never ends");
    return;
  }
  if (mode == SIO_MODE_8BIT) {
    log_.misuse("SIO", "8-bit normal mode armed: the cable clocks 32-bit words; the transfer "
                       "never ends");
    return;
  }
  if (value & SIO_CLK_INT) {
    // The console clocks itself; nothing drives SI, so ones come in.
    log_.misuse("SIO", "internal clock selected: the cable expects to drive the clock");
    outgoing_ = static_cast<std::uint32_t>(cells_[io::SIODATA32_L / 2]) |
                static_cast<std::uint32_t>(cells_[io::SIODATA32_H / 2]) << 16;
    link_complete(0xFFFFFFFF);
    return;
  }
  if (!so_rises) {
    log_.misuse("SIO", "start bit set with SIOCNT=" + hex32(value) +
                           " without raising SO (bit 3 from 0 to 1 in the same write): the cable never sees the "
                           "console ready; the transfer never ends");
    return;
  }
  armed_ = true;
  outgoing_ = static_cast<std::uint32_t>(cells_[io::SIODATA32_L / 2]) |
              static_cast<std::uint32_t>(cells_[io::SIODATA32_H / 2]) << 16;
  if (listener_) listener_->serial_started();
}

void IoRegisters::link_complete(std::uint32_t incoming) {
  armed_ = false;
  cells_[io::SIODATA32_L / 2] = static_cast<std::uint16_t>(incoming);
  cells_[io::SIODATA32_H / 2] = static_cast<std::uint16_t>(incoming >> 16);
  std::uint16_t& cnt = cells_[io::SIOCNT / 2];
  cnt = static_cast<std::uint16_t>(cnt & ~SIO_START);
  if (cnt & SIO_IRQ) cells_[io::IF / 2] |= IRQ_SERIAL;
}

void IoRegisters::save(StateWriter& out) const {
  for (std::uint16_t c : cells_) out.u16(c);
  out.u16(keys_);
  out.u8(armed_ ? 1 : 0);
  out.u32(outgoing_);
  for (const Timer& tm : timers_) {
    out.u16(tm.reload);
    out.u16(tm.stopped_count);
    out.u64(tm.start);
    out.u64(tm.fed_base);
    out.u64(tm.overflows_base);
  }
}

void IoRegisters::load(StateReader& in) {
  for (std::uint16_t& c : cells_) c = in.u16();
  keys_ = in.u16();
  armed_ = in.u8() != 0;
  outgoing_ = in.u32();
  for (Timer& tm : timers_) {
    tm.reload = in.u16();
    tm.stopped_count = in.u16();
    tm.start = in.u64();
    tm.fed_base = in.u64();
    tm.overflows_base = in.u64();
  }
}

}  // namespace kartex
