#pragma once
// The console's memory map as one dispatch: RAM regions, I/O registers and
// the cartridge slot. The CPU reaches I/O and the cartridge through it (its
// RAM accesses go straight to the same buffers), and DMA uses it for
// everything, so DMA reaches the cartridge and save chips exactly as the
// CPU does.

#include <cstdint>
#include <span>
#include <vector>

#include "sim/cart_bus.h"
#include "sim/console_io.h"
#include "sim/sim_log.h"

namespace kartex {

namespace mem {
constexpr std::uint32_t BIOS = 0x00000000, BIOS_BYTES = 0x4000;
constexpr std::uint32_t EWRAM = 0x02000000, EWRAM_BYTES = 0x40000;
constexpr std::uint32_t IWRAM = 0x03000000, IWRAM_BYTES = 0x8000;
constexpr std::uint32_t IO = 0x04000000;
constexpr std::uint32_t PALETTE = 0x05000000, PALETTE_BYTES = 0x400;
constexpr std::uint32_t VRAM = 0x06000000, VRAM_BYTES = 0x18000;
constexpr std::uint32_t OAM = 0x07000000, OAM_BYTES = 0x400;
constexpr std::uint32_t CART_ROM = 0x08000000, CART_ROM_END = 0x0E000000;
constexpr std::uint32_t CART_SAVE = 0x0E000000, CART_SAVE_END = 0x10000000;
// The CPU maps whole 4 KiB pages: palette and OAM get one page each.
constexpr std::uint32_t PAGE = 0x1000;
}  // namespace mem

// The console's RAM, owned here so that CPU, DMA, screen and state share it.
struct ConsoleMemory {
  std::vector<std::uint8_t> bios = std::vector<std::uint8_t>(mem::BIOS_BYTES);
  std::vector<std::uint8_t> ewram = std::vector<std::uint8_t>(mem::EWRAM_BYTES);
  std::vector<std::uint8_t> iwram = std::vector<std::uint8_t>(mem::IWRAM_BYTES);
  std::vector<std::uint8_t> palette = std::vector<std::uint8_t>(mem::PAGE);
  std::vector<std::uint8_t> vram = std::vector<std::uint8_t>(mem::VRAM_BYTES);
  std::vector<std::uint8_t> oam = std::vector<std::uint8_t>(mem::PAGE);

  // Host view of RAM at a console address (mirrors folded), or an empty
  // span when [addr, addr+len) is not RAM.
  std::span<std::uint8_t> ram(std::uint32_t addr, std::size_t len);
};

class ConsoleBus {
 public:
  ConsoleBus(ConsoleMemory& memory, IoRegisters& io, SimLog& log)
      : memory_(memory), io_(io), log_(log) {}

  void set_cart(CartBus* cart) { cart_ = cart; }
  CartBus* cart() const { return cart_; }

  // size 1, 2 or 4; addr aligned to size.
  std::uint32_t read(std::uint32_t addr, unsigned size);
  void write(std::uint32_t addr, unsigned size, std::uint32_t value);

  // A DMA transfer between these keeps the cartridge selected throughout;
  // outside, every CPU access to the ROM window releases it afterwards.
  void begin_burst() { burst_ = true; }
  void end_burst();

 private:
  std::uint32_t read_cart(std::uint32_t addr, unsigned size);
  void write_cart(std::uint32_t addr, unsigned size, std::uint32_t value);
  std::uint32_t read_io(std::uint32_t offset, unsigned size);
  void write_io(std::uint32_t offset, unsigned size, std::uint32_t value);

  ConsoleMemory& memory_;
  IoRegisters& io_;
  SimLog& log_;
  CartBus* cart_ = nullptr;
  bool burst_ = false;
};

}  // namespace kartex
