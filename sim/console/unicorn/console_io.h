#pragma once
// The console's I/O registers (0x04000000-0x04000FFF) as 16-bit cells.
// Most read back what was written; the ones with behaviour are the serial
// port (SIODATA32, SIOCNT, RCNT), the DMA control words, KEYINPUT, IF and
// the display's VCOUNT/DISPSTAT and the four timers (derived from the
// console's clock).

#include <array>
#include <cstdint>
#include <utility>

#include "contract/hw/display.h"
#include "contract/hw/dma.h"
#include "contract/hw/irq.h"
#include "contract/hw/keypad.h"
#include "contract/hw/memory.h"
#include "contract/hw/sio.h"
#include "contract/hw/system.h"
#include "contract/hw/timer.h"
#include "sim/console/key_script.h"
#include "sim/sim_log.h"
#include "sim/state/state_file.h"

namespace kartex {

namespace io {
// Offsets into the I/O page of the registers with behaviour here.
constexpr std::uint32_t at(std::uint32_t reg) { return reg - MEM_IO; }
constexpr std::uint32_t DISPCNT = at(REG_DISPCNT);
constexpr std::uint32_t DISPSTAT = at(REG_DISPSTAT);
constexpr std::uint32_t VCOUNT = at(REG_VCOUNT);
constexpr std::uint32_t BG0CNT = at(REG_BG0CNT);    // BG0-3CNT at +2 each
constexpr std::uint32_t BG0HOFS = at(REG_BG0HOFS);  // BGnHOFS at +4n, BGnVOFS at +4n+2
constexpr std::uint32_t DMA0SAD = at(REG_DMA0SAD);  // channel n at +12n: SAD, DAD, CNT_L, CNT_H
constexpr std::uint32_t TM0CNT_L = at(REG_TM0CNT_L);  // timer n at +4n: CNT_L (count; writes: reload), CNT_H
constexpr std::uint32_t SIODATA32_L = at(REG_SIODATA32_L);
constexpr std::uint32_t SIODATA32_H = at(REG_SIODATA32_H);
constexpr std::uint32_t SIOCNT = at(REG_SIOCNT);
constexpr std::uint32_t KEYINPUT = at(REG_KEYINPUT);
constexpr std::uint32_t RCNT = at(REG_RCNT);
constexpr std::uint32_t IE = at(REG_IE);
constexpr std::uint32_t IF = at(REG_IF);
constexpr std::uint32_t WAITCNT = at(REG_WAITCNT);
constexpr std::uint32_t IME = at(REG_IME);
constexpr std::uint32_t SIZE = 0x1000;  // the mapped I/O page

// DMAxCNT_H: the high half of the 32-bit DMAxCNT, as a 16-bit cell
constexpr std::uint16_t DMAH_ENABLE = DMA_ENABLE >> 16;
constexpr std::uint16_t DMAH_TIMING_MASK = DMA_TIMING_MASK >> 16;
constexpr std::uint16_t DMAH_32BIT = DMA_32 >> 16;
constexpr std::uint16_t DMAH_IRQ = DMA_IRQ >> 16;
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
    return (cells_[io::IME / 2] & IME_ON) && (cells_[io::IE / 2] & cells_[io::IF / 2] & IRQ_MASK);
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
  std::uint16_t keys_ = KEY_MASK;
  KeyScript key_script_;
  mutable std::uint64_t key_reads_ = 0;  // a read is what the script counts
  bool armed_ = false;
  std::uint32_t outgoing_ = 0;
  std::array<Timer, TIMER_COUNT> timers_{};
};

}  // namespace kartex
