#pragma once
// One 16-bit flash chip on the cartridge bus, addressed by word (the chip's
// own address lines). The chip model is a state machine driven by reads and
// writes; it never finishes an operation instantly: busy time is a count of
// reads, during which the chip shows its status.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "sim/flash_layout.h"
#include "sim/sim_log.h"
#include "sim/state_file.h"

namespace kartex {

enum class FlashFamily : std::uint8_t { StatusRegister, Jedec };

// How a status-register chip protects its blocks.
enum class LockStyle : std::uint8_t {
  None,         // no lock commands (blocks protected by a pin only)
  PerBlock,     // 0x60 then 0x01 lock / 0xD0 unlock / 0x2F lock down, one block each
  ClearAllBits  // non-volatile lock bits: 0x60 0x01 sets one, 0x60 0xD0 clears them all
};

// Reads a busy chip answers before it is ready again.
struct BusyReads {
  std::uint32_t program = 2;
  std::uint32_t buffer = 4;  // buffered write and page program
  std::uint32_t erase = 8;
  std::uint32_t lock_bits = 4;  // non-volatile lock bit set or clear
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
  BusyReads busy = {};

  std::uint32_t bytes() const { return layout.chip_bytes(); }
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

 protected:
  FlashOps ops_;
};

// A chip in read mode with erased cells (and its power-up locks); `name`
// is used in misuse lines.
std::unique_ptr<FlashChip> make_flash_chip(const ChipModel& model, std::string name, SimLog& log);

}  // namespace kartex
