#pragma once
// The console's memory map as one dispatch: RAM regions, I/O registers and
// the cartridge slot. The CPU reaches I/O and the cartridge through it (its
// RAM accesses go straight to the same buffers), and DMA uses it for
// everything, so DMA reaches the cartridge and save chips exactly as the
// CPU does.

#include <cstdint>
#include <span>
#include <vector>

#include "contract/hw/memory.h"
#include "sim/cart/cart_bus.h"
#include "sim/console/unicorn/console_io.h"
#include "sim/sim_log.h"

namespace kartex {

namespace mem {
// The console's map, with the sizes the CPU maps and the cartridge windows.
constexpr std::uint32_t BIOS = MEM_BIOS, BIOS_BYTES = BIOS_SIZE;
constexpr std::uint32_t EWRAM = MEM_EWRAM, EWRAM_BYTES = EWRAM_SIZE;
constexpr std::uint32_t IWRAM = MEM_IWRAM, IWRAM_BYTES = IWRAM_SIZE;
constexpr std::uint32_t IO = MEM_IO;
constexpr std::uint32_t PALETTE = MEM_PAL, PALETTE_BYTES = PAL_SIZE;
constexpr std::uint32_t VRAM = MEM_VRAM, VRAM_BYTES = VRAM_SIZE;
constexpr std::uint32_t OAM = MEM_OAM, OAM_BYTES = OAM_SIZE;
constexpr std::uint32_t CART_ROM = MEM_ROM, CART_ROM_END = MEM_ROM + 3 * ROM_WINDOW_SIZE;
constexpr std::uint32_t CART_SAVE = MEM_SRAM, CART_SAVE_END = 0x10000000;
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
