#pragma once
// One 16-bit flash chip on the cartridge bus, addressed by word (the chip's
// own address lines). The chip model is a state machine driven by reads and
// writes; it never finishes an operation instantly: an erase or a program
// runs until a deadline on the console's clock (the log's), and until then
// the chip shows its busy status.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/cart/flash_layout.h"
#include "sim/clock/sim_clock.h"
#include "sim/sim_log.h"
#include "sim/state/state_file.h"

namespace kartex {

enum class FlashFamily : std::uint8_t { StatusRegister, Jedec };

// How a status-register chip protects its blocks.
enum class LockStyle : std::uint8_t {
  None,         // no lock commands (blocks protected by a pin only)
  PerBlock,     // 0x60 then 0x01 lock / 0xD0 unlock / 0x2F lock down, one block each
  ClearAllBits  // non-volatile lock bits: 0x60 0x01 sets one, 0x60 0xD0 clears them all
};

// How long the part's write state machine runs, typical figures of its
// data sheets (the catalog cites each). Zero where the part has no such
// operation.
struct ChipTimes {
  SimTime word_program = 0;      // one word (0x40; JEDEC 0xA0)
  SimTime buffer_setup = 0;      // buffered write (0xE8): a fixed part
  SimTime buffer_per_word = 0;   // and each word the count asks for
  SimTime page_program = 0;      // one whole page (0x41)
  SimTime main_erase = 0;        // a main block or a JEDEC sector
  SimTime param_erase = 0;       // a parameter block, where the layout has smaller ones
  SimTime lock_bit_set = 0;      // non-volatile lock bit set
  SimTime lock_bits_clear = 0;   // non-volatile clear of all lock bits

  SimTime buffer(std::uint32_t words) const { return buffer_setup + buffer_per_word * words; }
};

// What one chip part is: identifiers, size, blocks and command set.
struct ChipModel {
  FlashFamily family;
  std::uint16_t maker;
  std::uint16_t device;
  std::uint32_t megabits;
  BlockLayout layout;
  std::uint32_t buffer_words = 0;  // 0: no buffered write (0xE8)
  std::uint32_t page_words = 0;    // 0: no page program (0x41)
  LockStyle locks = LockStyle::None;
  bool locked_at_power_up = false;
  ChipTimes times = {};
  // Error bits refuse every erase, program and lock command until Clear
  // Status (the command sequence error for each), as the parts of the
  // 0x41 page-program lineage do; others take commands with them set.
  bool errors_hold_commands = false;
  // The same operations at the data sheets' maximum figures (chip-times=max).
  ChipTimes max_times = {};
  // What a CFI query reads from word 0x10 on (cfi_table.h); empty: the
  // part's sheet gives it no query mode and it ignores the command.
  std::vector<std::uint16_t> cfi = {};
  // Autoselect words 0x0E and 0x0F of parts whose device word is 0x227E.
  std::uint16_t device_2 = 0, device_3 = 0;
  // JEDEC parts whose sheets give the unlock bypass: after the unlock and
  // 0x20 at 0x555, each program is 0xA0 and the data, without the unlock,
  // until 0x90 and 0x00. Others take 0x20 as a broken sequence.
  bool unlock_bypass = false;

  std::uint32_t bytes() const { return layout.chip_bytes(); }
  // The model with its operations at their maximum times.
  ChipModel at_max_times() const {
    ChipModel slow = *this;
    slow.times = max_times;
    return slow;
  }
};

// Operations a chip carried out (refused ones not counted), so that tests
// can tell what a program erased and programmed. Not kept in the state.
struct FlashOps {
  std::uint64_t erases = 0;    // block, sector or chip erases
  std::uint64_t programs = 0;  // word programs, buffered writes, page programs
};

class FlashChip {
 public:
  virtual ~FlashChip() = default;

  virtual const std::string& name() const = 0;
  virtual std::uint16_t read(std::uint32_t word) = 0;
  virtual void write(std::uint32_t word, std::uint16_t value) = 0;
  // The array itself, for loading contents and for tests; no command runs.
  virtual std::span<std::uint16_t> cells() = 0;
  virtual void save(StateWriter& out) const = 0;
  virtual void load(StateReader& in) = 0;

  const FlashOps& ops() const { return ops_; }

  // Wears out the erase block holding `word`, for tests of how a program
  // copes: as cells that no longer reach their level within the
  // algorithm's pulse limit, an erase there ends with the erase error
  // (SR.5; JEDEC DQ5) and leaves the cells as they were, a program with
  // the program error (SR.4; JEDEC DQ5) and no bit changed. Not kept in
  // the state.
  enum Wear : std::uint8_t { WEAR_ERASE = 1, WEAR_PROGRAM = 2 };
  virtual void wear_out(std::uint32_t word, std::uint8_t wear) = 0;

  // Protects the sector holding `word`, as a programmer does with its high
  // voltage on the chips that have sector protection: false on a part
  // without it. A protected sector ignores erase and program; the state
  // keeps it.
  virtual bool protect(std::uint32_t /*word*/) { return false; }
  virtual void save_protection(StateWriter&) const {}
  virtual void load_protection(StateReader&) {}

 protected:
  FlashOps ops_;
};

// A chip in read mode with erased cells (and its power-up locks); `name`
// is used in misuse lines.
std::unique_ptr<FlashChip> make_flash_chip(const ChipModel& model, std::string name, SimLog& log);

}  // namespace kartex
