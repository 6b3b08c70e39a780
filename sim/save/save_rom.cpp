#include "sim/save/save_rom.h"

#include "sim/cart/cart_bus.h"
#include "sim/cart/flash_catalog.h"
#include "sim/cart/flash_commands.h"
#include "sim/save/save_commands.h"

namespace kartex {

using namespace save;

const ChipModel& RomSaveArea::model() {
  static const ChipModel MODEL = {FlashFamily::StatusRegister,
                                  ROM_SAVE_MAKER,
                                  ROM_SAVE_DEVICE,
                                  8,
                                  BlockLayout{{15, 64 * KiB}, {8, 8 * KiB}},
                                  0,
                                  0,
                                  LockStyle::PerBlock,
                                  true,  // the family's parts lock every block at power-up
                                  maker_b0_times()};
  return MODEL;
}

RomSaveArea::RomSaveArea(SimLog& log, const std::vector<std::uint8_t>& image)
    : chip_(make_flash_chip(model(), "ROM save area 1 MiB (ID 0x00B0/0x009F)", log)) {
  std::span<std::uint16_t> cells = chip_->cells();
  for (std::size_t i = 0; 2 * i + 1 < image.size() && i < cells.size(); ++i)
    cells[i] = static_cast<std::uint16_t>(image[2 * i] | image[2 * i + 1] << 8);
}

std::uint32_t RomSaveArea::rom_region_begin() const { return ROM_SAVE_OFFSET; }
std::uint32_t RomSaveArea::rom_region_end() const { return ROM_SAVE_OFFSET + ROM_SAVE_BYTES; }

std::uint16_t RomSaveArea::rom_read16(std::uint32_t rom_offset) {
  return chip_->read((rom_offset - ROM_SAVE_OFFSET) / 2);
}

void RomSaveArea::rom_write16(std::uint32_t rom_offset, std::uint16_t value) {
  chip_->write((rom_offset - ROM_SAVE_OFFSET) / 2, value);
}

void RomSaveArea::rom_read_array() { chip_->write(0, flash::CMD_READ_ARRAY); }

std::vector<std::uint8_t> RomSaveArea::contents() {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(ROM_SAVE_BYTES);
  for (std::uint16_t w : chip_->cells()) {
    bytes.push_back(static_cast<std::uint8_t>(w));
    bytes.push_back(static_cast<std::uint8_t>(w >> 8));
  }
  return bytes;
}

std::unique_ptr<SaveChip> RomSaveArea::load(StateReader& in, SimLog& log) {
  auto area = std::make_unique<RomSaveArea>(log);
  area->chip_->load(in);
  return area;
}

}  // namespace kartex
