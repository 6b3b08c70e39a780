#pragma once
// Mask ROM cartridges and the empty slot.

#include <cstdint>
#include <string>
#include <vector>

#include "sim/cart/cart_bus.h"

namespace kartex {

// A read-only ROM of any size up to 32 MiB with no save chip. Reads past its
// end return the open-bus pattern; writes go nowhere, as on the real part.
class MaskRom : public CartBus {
 public:
  explicit MaskRom(std::vector<std::uint8_t> contents);

  std::string name() const override { return "mask ROM"; }
  std::string kind() const override { return "mask-rom"; }
  std::uint16_t read16(std::uint32_t addr) override;
  void write16(std::uint32_t addr, std::uint16_t value) override;
  std::uint8_t read8(std::uint32_t addr) override;
  void write8(std::uint32_t addr, std::uint8_t value) override;
  void save(StateWriter& out) const override;

  const std::vector<std::uint8_t>& contents() const { return rom_; }

 private:
  std::vector<std::uint8_t> rom_;
};

// No cartridge: every window reads open bus, writes go nowhere.
class EmptySlot : public CartBus {
 public:
  std::string name() const override { return "empty slot"; }
  std::string kind() const override { return "empty"; }
  std::uint16_t read16(std::uint32_t addr) override { return rom_open_bus(addr); }
  void write16(std::uint32_t, std::uint16_t) override {}
  std::uint8_t read8(std::uint32_t) override { return CART_SAVE_OPEN_BUS; }
  void write8(std::uint32_t, std::uint8_t) override {}
  void save(StateWriter&) const override {}
};

// ROM contents from a file (whole file, at most `max_bytes`); throws Failure.
std::vector<std::uint8_t> read_rom_file(const std::string& path, std::uint32_t max_bytes = CART_ROM_WINDOW);

}  // namespace kartex
