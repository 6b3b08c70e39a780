#pragma once
// A cartridge composed of a ROM part, an optional mapper in front of it and
// a save chip. The mapper sees every ROM-window write first; its ROM page
// moves the ROM offset the window shows, and its SRAM bank goes with every
// save-window access.

#include <memory>

#include "sim/cart/cart_bus.h"
#include "sim/clock/cart_clock.h"
#include "sim/cart/mapper.h"
#include "sim/cart/rom_part.h"
#include "sim/save/save_chip.h"

namespace kartex {

class Cartridge : public CartBus {
 public:
  // `mapper` false: a board without the mapper. `mirror`: the board
  // decodes only the address lines its ROM needs, so the ROM repeats past
  // its end instead of leaving the bus open; the ROM's size is then a power
  // of two (throws Failure otherwise).
  Cartridge(std::unique_ptr<RomPart> rom, bool mapper, std::unique_ptr<SaveChip> save, SimLog& log,
            bool mirror = false);

  std::string name() const override { return rom_->name(); }
  std::string kind() const override { return "cartridge"; }
  std::uint16_t read16(std::uint32_t addr) override;
  void write16(std::uint32_t addr, std::uint16_t value) override;
  std::uint8_t read8(std::uint32_t addr) override;
  void write8(std::uint32_t addr, std::uint8_t value) override;
  void bus_released() override { save_->bus_released(); }
  void set_save_wait(unsigned cycles) override;
  void save(StateWriter& out) const override;

  RomPart& rom() { return *rom_; }
  Mapper* mapper() { return mapper_.get(); }
  SaveChip& save_chip() { return *save_; }
  void set_save_chip(std::unique_ptr<SaveChip> save);
  bool mirrors() const { return mirror_; }
  // The GPIO clock in the ROM chip, or nullptr.
  CartClock* clock() { return clock_.get(); }
  void set_clock(std::unique_ptr<CartClock> clock) { clock_ = std::move(clock); }

 private:
  std::uint32_t rom_offset(std::uint32_t addr) const;
  bool in_save_region(std::uint32_t rom_offset) const;
  unsigned sram_bank() const { return mapper_ ? mapper_->sram_bank() : 0; }

  std::unique_ptr<RomPart> rom_;
  std::unique_ptr<Mapper> mapper_;
  std::unique_ptr<SaveChip> save_;
  unsigned save_wait_ = 0;  // as the console last told; 0: not told
  bool mirror_ = false;
  std::unique_ptr<CartClock> clock_;
};

// The payload Cartridge::save wrote (after the "cartridge" tag).
std::unique_ptr<CartBus> load_cartridge(StateReader& in, SimLog& log);

}  // namespace kartex
