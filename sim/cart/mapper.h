#pragma once
// The mapper of rewritable cartridges: a register set reached by 16-bit
// writes into the ROM window, each register write preceded by a fixed
// unlock sequence (counts included). The mapper decodes these cycles
// itself and keeps them from the flash chips; a write that breaks the
// sequence is an ordinary bus write and reaches the chips.

#include <cstdint>

#include "sim/sim_log.h"
#include "sim/state/state_file.h"

namespace kartex {

namespace mapper {
// Window offsets (console address - 0x08000000) and values.
constexpr std::uint32_t REG_ROM_PAGE = 0x016B592E;
constexpr std::uint32_t REG_SRAM_BANK = 0x0142468A;
constexpr std::uint32_t REG_COMMAND = 0x01E2468A;
constexpr std::uint16_t COMMAND_9413 = 0x9413;      // the one documented command value
constexpr std::uint32_t ROM_PAGE_BYTES = 0x8000;    // page 0x400 shows ROM offset 32 MiB

struct UnlockStep {
  std::uint32_t offset;
  std::uint16_t value;
  std::uint32_t times;
};
constexpr UnlockStep UNLOCK[] = {
    {0x0130ECA8, 0x5354, 1},   {0x0002468A, 0x1234, 500}, {0x0000ECA8, 0x5354, 1},
    {0x0002468A, 0x5354, 1},   {0x0002468A, 0x5678, 500}, {0x0130ECA8, 0x5354, 1},
    {0x0002468A, 0x5354, 1},   {0x00ECA800, 0x5678, 1},   {0x000268A0, 0x1234, 1},
    {0x0002468A, 0xABCD, 500}, {0x0130ECA8, 0x5354, 1},
};
constexpr std::uint32_t UNLOCK_STEPS = sizeof UNLOCK / sizeof UNLOCK[0];

// Bank n is written as bits 0-2 and bit 11: (n & 7) + (n & 8) * 256.
constexpr std::uint16_t sram_bank_value(unsigned n) { return static_cast<std::uint16_t>((n & 7) + (n & 8) * 256); }
}  // namespace mapper

class Mapper {
 public:
  explicit Mapper(SimLog& log) : log_(log) {}

  // `offset` within the 32 MiB window. True when the mapper took the cycle.
  bool write16(std::uint32_t offset, std::uint16_t value);

  std::uint32_t rom_base() const { return static_cast<std::uint32_t>(page_) * mapper::ROM_PAGE_BYTES; }
  std::uint16_t rom_page() const { return page_; }
  unsigned sram_bank() const { return bank_; }
  std::uint16_t command() const { return command_; }
  bool unlocked() const { return step_ == mapper::UNLOCK_STEPS; }

  void save(StateWriter& out) const;
  void load(StateReader& in);

 private:
  bool advance(std::uint32_t offset, std::uint16_t value);

  SimLog& log_;
  std::uint32_t step_ = 0;   // steps completed; UNLOCK_STEPS: a register write may follow
  std::uint32_t count_ = 0;  // writes done of the current step
  std::uint16_t page_ = 0;
  unsigned bank_ = 0;
  std::uint16_t command_ = 0;
};

}  // namespace kartex
