#include "sim/save/save_chip.h"

#include "sim/save/save_eeprom.h"
#include "sim/save/save_flash.h"
#include "sim/save/save_rom.h"
#include "sim/save/save_sram.h"

namespace kartex {

std::unique_ptr<SaveChip> load_save_chip(StateReader& in, SimLog& log) {
  const std::string kind = in.str();
  if (kind == "none") return std::make_unique<NoSaveChip>();
  if (kind == "sram") return SramChip::load(in);
  if (kind == "flash") return FlashSaveChip::load(in, log);
  if (kind == "eeprom") return EepromChip::load(in, log);
  if (kind == "rom-save") return RomSaveArea::load(in, log);
  in.corrupt("unknown save chip '" + kind + "'");
}

}  // namespace kartex
