#pragma once
// The console's I/O registers (0x04000000-0x04000FFF) as 16-bit cells.
// Most read back what was written; the ones with behaviour are the serial
// port (SIODATA32, SIOCNT, RCNT), the DMA control words, KEYINPUT, IF and
// the display's VCOUNT/DISPSTAT and the four timers (derived from the
// console's clock).

#include <array>
#include <cstdint>
#include <utility>

#include "sim/console/key_script.h"
#include "sim/sim_log.h"
#include "sim/state/state_file.h"

namespace kartex {

namespace io {
constexpr std::uint32_t DISPCNT = 0x000;
constexpr std::uint32_t DISPSTAT = 0x004;
constexpr std::uint32_t VCOUNT = 0x006;
constexpr std::uint32_t BG0CNT = 0x008;   // BG0-3CNT at +2 each
constexpr std::uint32_t BG0HOFS = 0x010;  // BGnHOFS at +4n, BGnVOFS at +4n+2
constexpr std::uint32_t DMA0SAD = 0x0B0;  // channel n at +12n: SAD, DAD, CNT_L, CNT_H
constexpr std::uint32_t DMA_STRIDE = 12;
constexpr std::uint32_t TM0CNT_L = 0x100;  // timer n at +4n: CNT_L (count; writes: reload), CNT_H
constexpr std::uint32_t TIMER_COUNT = 4;
constexpr std::uint32_t SIODATA32_L = 0x120;
constexpr std::uint32_t SIODATA32_H = 0x122;
constexpr std::uint32_t SIOCNT = 0x128;
constexpr std::uint32_t KEYINPUT = 0x130;
constexpr std::uint32_t RCNT = 0x134;
constexpr std::uint32_t IE = 0x200;
constexpr std::uint32_t IF = 0x202;
constexpr std::uint32_t WAITCNT = 0x204;
constexpr std::uint32_t IME = 0x208;
constexpr std::uint32_t SIZE = 0x1000;  // the mapped I/O page

// SIOCNT in normal mode
constexpr std::uint16_t SIO_INTERNAL_CLOCK = 0x0001;
constexpr std::uint16_t SIO_SO_HIGH = 0x0008;  // SO's level while no transfer runs
constexpr std::uint16_t SIO_START = 0x0080;
constexpr std::uint16_t SIO_MODE_MASK = 0x3000;
constexpr std::uint16_t SIO_MODE_NORMAL8 = 0x0000;
constexpr std::uint16_t SIO_MODE_NORMAL32 = 0x1000;
constexpr std::uint16_t SIO_IRQ = 0x4000;
constexpr std::uint16_t RCNT_GPIO_MODES = 0x8000;  // set: SIOCNT modes are off
constexpr std::uint16_t IRQ_VBLANK = 0x0001;
constexpr std::uint16_t IRQ_SERIAL = 0x0080;
constexpr std::uint16_t IRQ_DMA0 = 0x0100;  // channel n: IRQ_DMA0 << n
constexpr std::uint16_t IRQ_SOURCES = 0x3FFF;
constexpr std::uint16_t IME_ON = 0x0001;
constexpr std::uint16_t DISPSTAT_VBLANK_IRQ = 0x0008;

// DMAxCNT_H
constexpr std::uint16_t DMA_ENABLE = 0x8000;
constexpr std::uint16_t DMA_TIMING_MASK = 0x3000;
constexpr std::uint16_t DMA_32BIT = 0x0400;
constexpr std::uint16_t DMA_IRQ = 0x4000;

// TMxCNT_H
constexpr std::uint16_t TM_PRESCALER_MASK = 0x0003;  // 1, 64, 256, 1024 cycles a count
constexpr std::uint16_t TM_CASCADE = 0x0004;         // counts the overflows of timer n-1
constexpr std::uint16_t TM_IRQ = 0x0040;
constexpr std::uint16_t TM_ENABLE = 0x0080;

constexpr std::uint16_t KEYS_NONE_PRESSED = 0x03FF;
}  // namespace io

// What the registers ask of the rest of the console.
class IoListener {
 public:
  virtual ~IoListener() = default;
  virtual void dma_started(unsigned channel) = 0;  // enable bit set, start at once
  virtual void serial_started() = 0;  // SIOCNT start bit set with SO's rise, the cable clocks
  virtual void serial_so_raised_idle() {}  // SO rose with the start bit clear
  virtual void waitcnt_written() {}   // the cartridge's wait states may have changed
};

class IoRegisters {
 public:
  explicit IoRegisters(SimLog& log);

  void set_listener(IoListener* listener) { listener_ = listener; }
  void reset();  // power-on values

  // offset = address - 0x04000000; 16-bit accesses on even offsets.
  std::uint16_t read16(std::uint32_t offset) const;
  void write16(std::uint32_t offset, std::uint16_t value);
  std::uint8_t read8(std::uint32_t offset) const;
  void write8(std::uint32_t offset, std::uint8_t value);

  // Without side effects (DMA set-up, screen, state).
  std::uint16_t raw(std::uint32_t offset) const { return cells_[(offset & (io::SIZE - 1)) / 2]; }
  void set_raw(std::uint32_t offset, std::uint16_t value) { cells_[(offset & (io::SIZE - 1)) / 2] = value; }

  void set_keys(std::uint16_t keyinput) { keys_ = keyinput; }
  std::uint16_t keys() const { return keys_; }
  // Keys held on top of set_keys(), by the number of the KEYINPUT read
  // (from 1, over this run; not kept with the state).
  void set_key_script(KeyScript script) { key_script_ = std::move(script); }
  std::uint64_t key_reads() const { return key_reads_; }

  // Interrupts: a source raises its IF bit; the CPU takes one when IME is
  // on and an IE bit meets an IF bit (and the CPU does not mask IRQs).
  void raise_irq(std::uint16_t bits) { cells_[io::IF / 2] |= bits; }
  bool irq_pending() const {
    return (cells_[io::IME / 2] & io::IME_ON) && (cells_[io::IE / 2] & cells_[io::IF / 2] & io::IRQ_SOURCES);
  }

  // Serial port, normal 32-bit mode with the cable's clock. The cable
  // clocks a word at each rise of SO (SIOCNT bit 3): the port is armed by
  // the write that sets the start bit and raises SO together; a rise with
  // the start bit clear gets a word clocked that the port does not take.
  bool link_armed() const { return armed_; }
  // The word the console shifts out: SIODATA32 as it was when armed.
  std::uint32_t link_outgoing() const { return outgoing_; }
  // The cable clocked all 32 bits: `incoming` lands in SIODATA32.
  void link_complete(std::uint32_t incoming);

  void save(StateWriter& out) const;
  void load(StateReader& in);

 private:
  void write_siocnt(std::uint16_t value);
  void write_dma_control(unsigned channel, std::uint16_t old, std::uint16_t value);
  void write_timer_control(unsigned n, std::uint16_t value);
  // Counts fed into timer n since it started, its count and its overflows,
  // at the console's time `t`; worked out from the clock when read.
  std::uint64_t timer_fed(unsigned n, SimTime t) const;
  std::uint16_t timer_count(unsigned n, SimTime t) const;
  std::uint64_t timer_overflows(unsigned n, SimTime t) const;

  struct Timer {
    std::uint16_t reload = 0;
    std::uint16_t stopped_count = 0;  // what a stopped timer reads
    SimTime start = 0;                // when it last started
    std::uint64_t fed_base = 0;       // cascade: timer n-1's overflows at the start
    std::uint64_t overflows_base = 0; // its overflows before the start
  };

  SimLog& log_;
  const SimClock& clock_;
  IoListener* listener_ = nullptr;
  std::array<std::uint16_t, io::SIZE / 2> cells_{};
  std::uint16_t keys_ = io::KEYS_NONE_PRESSED;
  KeyScript key_script_;
  mutable std::uint64_t key_reads_ = 0;  // a read is what the script counts
  bool armed_ = false;
  std::uint32_t outgoing_ = 0;
  std::array<Timer, io::TIMER_COUNT> timers_{};
};

}  // namespace kartex
