#pragma once
// Battery SRAM in the save window. 32 KiB answers on 15 address lines, so
// the window shows it twice; the larger parts take 64 KiB banks from the
// mapper's SRAM bank register, decoding only as many bank bits as they
// have banks (bank 8 is bank 0 again on a 256 KiB part).

#include <vector>

#include "sim/save/save_chip.h"

namespace kartex {

class SramChip : public SaveChip {
 public:
  // `bytes`: save::SRAM_32K, SRAM_256K or SRAM_1M; `image` empty: erased.
  SramChip(std::uint32_t bytes, std::vector<std::uint8_t> image = {});

  std::string name() const override;
  std::string kind() const override { return "sram"; }
  std::uint8_t read8(std::uint32_t addr, unsigned sram_bank) override { return cells_[index(addr, sram_bank)]; }
  void write8(std::uint32_t addr, std::uint8_t value, unsigned sram_bank) override {
    cells_[index(addr, sram_bank)] = value;
  }
  void save(StateWriter& out) const override;
  static std::unique_ptr<SaveChip> load(StateReader& in);

  const std::vector<std::uint8_t>& cells() const { return cells_; }

 private:
  std::size_t index(std::uint32_t addr, unsigned sram_bank) const;

  std::vector<std::uint8_t> cells_;
};

}  // namespace kartex
