#pragma once
// Flash ROM made of chip sets: one chip, or a pair on alternate halfwords
// (the chip of even halfwords at byte offsets 0, 4, 8, ..., the chip of odd
// halfwords at 2, 6, 10, ...), repeated at the set's size (8, 16 or 32 MiB)
// up to the cartridge's size. Each chip sees the word address of the
// halfword within its set: one chip takes every halfword, a pair splits them.

#include <memory>
#include <span>
#include <vector>

#include "sim/cart/flash_catalog.h"
#include "sim/cart/rom_part.h"

namespace kartex {

// Data lines D0 and D1 exchanged, as such a board does in either direction
constexpr std::uint16_t swap_d0d1(std::uint16_t v) {
  return static_cast<std::uint16_t>((v & ~3u) | (v & 1u) << 1 | (v & 2u) >> 1);
}

class FlashRom : public RomPart {
 public:
  // `contents` fill the ROM from offset 0 (at most `size_mib` MiB), as the
  // console reads them; the rest stays erased. `max_times`: the chips take
  // their data sheets' maximum times. `d0d1`: the board crosses data lines
  // D0 and D1 between the edge and the chips, both ways, so commands and
  // data reach the chips with those bits exchanged.
  FlashRom(const RomOption& option, std::uint32_t size_mib, std::span<const std::uint8_t> contents,
           SimLog& log, bool max_times = false, bool d0d1 = false);

  std::string name() const override { return "flash ROM " + option_.label() + (d0d1_ ? " (D0/D1 swapped)" : ""); }
  std::string kind() const override { return "flash-rom"; }
  std::uint32_t span() const override { return size_; }
  std::uint16_t read16(std::uint32_t offset) override;
  void write16(std::uint32_t offset, std::uint16_t value) override;
  void save(StateWriter& out) const override;
  // `protection`: the state holds the chips' sector protection after them
  // (cartridge format 2 on).
  void load_chips(StateReader& in, bool protection = true);
  // Protects the sector holding ROM `offset` (< span()); false when its
  // chip has no sector protection.
  bool protect(std::uint32_t offset);

  const RomOption& option() const { return option_; }
  // The halfword the cells hold at `offset`, whatever mode the chip is in,
  // as the console reads it through the board's wiring.
  std::uint16_t cell(std::uint32_t offset);
  bool d0d1() const { return d0d1_; }
  // From a kept state: the board's wiring, after load_chips
  void set_d0d1(bool d0d1) { d0d1_ = d0d1; }
  std::size_t chip_count() const { return chips_.size(); }
  // What all chips carried out together.
  FlashOps ops() const;
  FlashChip& chip(std::size_t i) { return *chips_[i]; }

 private:
  struct Route {
    FlashChip* chip;
    std::uint32_t word;
  };
  Route route(std::uint32_t offset) const;

  const RomOption& option_;
  ChipModel model_;  // the option's chip, at the times chosen; the chips keep a reference
  std::uint32_t size_;
  bool d0d1_;
  std::vector<std::unique_ptr<FlashChip>> chips_;  // set by set, even chip first
};

}  // namespace kartex
