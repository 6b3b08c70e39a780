#pragma once
// The save area of 1 MiB inside a flash ROM at ROM offset 0x1F00000, reached
// through the wait state 2 mirror at 0x0DF00000. It answers with its own
// identifier (0x00B0, 0x009F) and the status-register command set: 64 KiB
// erase blocks for its first 960 KiB (sectors 0-119 of 8 KiB), single
// 8 KiB blocks for the last eight, word program, and volatile lock bits
// per block (0x60 then 0x01 lock, 0xD0 unlock, 0x2F lock down), every
// block locked at power-up.

#include <vector>

#include "sim/cart/flash_chip.h"
#include "sim/cart/cart_bus.h"
#include "sim/save/save_chip.h"

namespace kartex {

class RomSaveArea : public SaveChip {
 public:
  // `image` empty: erased; otherwise exactly 1 MiB.
  explicit RomSaveArea(SimLog& log, const std::vector<std::uint8_t>& image = {});

  static const ChipModel& model();

  std::string name() const override { return chip_->name(); }
  std::string kind() const override { return "rom-save"; }
  std::uint8_t read8(std::uint32_t, unsigned) override { return CART_SAVE_OPEN_BUS; }
  void write8(std::uint32_t, std::uint8_t, unsigned) override {}
  std::uint32_t rom_region_begin() const override;
  std::uint32_t rom_region_end() const override;
  std::uint16_t rom_read16(std::uint32_t rom_offset) override;
  void rom_write16(std::uint32_t rom_offset, std::uint16_t value) override;
  void rom_read_array() override;
  void save(StateWriter& out) const override { chip_->save(out); }
  static std::unique_ptr<SaveChip> load(StateReader& in, SimLog& log);

  // The bytes the cells hold, whatever mode the chip is in.
  std::vector<std::uint8_t> contents();
  // The erases and programs the area carried out, for tests.
  const FlashOps& ops() const { return chip_->ops(); }

 private:
  std::unique_ptr<FlashChip> chip_;
};

}  // namespace kartex
