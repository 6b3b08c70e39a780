#pragma once
// The cartridge slot as the console's bus sees it. Three 32 MiB windows
// (0x08000000, 0x0A000000, 0x0C000000, wait states 0-2) show the same ROM
// over a 16-bit bus; the save window (0x0E000000-0x0E00FFFF, mirrored up to
// 0x0FFFFFFF) has an 8-bit bus. A cartridge model implements these four
// accesses; flash ROM chips, the mapper and the save chips (SRAM, FLASH,
// EEPROM in the 0x0D000000 window) drop in behind the same interface.

#include <cstdint>
#include <memory>
#include <string>

#include "sim/sim_log.h"
#include "sim/state/state_file.h"

namespace kartex {

constexpr std::uint32_t CART_ROM_WINDOW = 0x02000000;   // 32 MiB per wait state
constexpr std::uint32_t CART_SAVE_MASK = 0x0000FFFF;    // 64 KiB save window
constexpr std::uint8_t CART_SAVE_OPEN_BUS = 0xFF;       // nothing drives the data lines

// An unused ROM address: the cartridge bus multiplexes address and data, so
// a read with no chip answering returns the low address bits that were put
// on the bus, i.e. the halfword index.
inline std::uint16_t rom_open_bus(std::uint32_t addr) {
  return static_cast<std::uint16_t>(((addr & (CART_ROM_WINDOW - 1)) >> 1) & 0xFFFF);
}

class CartBus {
 public:
  virtual ~CartBus() = default;

  // Name used in misuse lines ("mask ROM").
  virtual std::string name() const = 0;
  // Tag saved with the state so that the right model is rebuilt.
  virtual std::string kind() const = 0;

  // ROM windows, addr = console address 0x08000000-0x0DFFFFFF, even.
  virtual std::uint16_t read16(std::uint32_t addr) = 0;
  virtual void write16(std::uint32_t addr, std::uint16_t value) = 0;
  // Save window, addr = console address 0x0E000000-0x0E00FFFF.
  virtual std::uint8_t read8(std::uint32_t addr) = 0;
  virtual void write8(std::uint32_t addr, std::uint8_t value) = 0;
  // /CS went high after ROM-window accesses: a DMA transfer keeps the
  // cartridge selected from its first access to its last, a CPU access
  // only for itself.
  virtual void bus_released() {}
  // WAITCNT's save window setting (4, 3, 2 or 8 cycles per access): the
  // console calls this whenever the program writes WAITCNT, at power-on and
  // after loading a state, so that a save chip can tell an access too fast
  // for it.
  virtual void set_save_wait(unsigned /*cycles*/) {}

  virtual void save(StateWriter& out) const = 0;
};

// Rebuilds the cartridge saved by CartBus::save (kind first).
std::unique_ptr<CartBus> load_cart(StateReader& in, SimLog& log);
void save_cart(const CartBus& cart, StateWriter& out);

}  // namespace kartex
