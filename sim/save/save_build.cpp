#include "sim/save/save_build.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/failure.h"
#include "sim/input_file.h"
#include "sim/save/save_commands.h"
#include "sim/save/save_eeprom.h"
#include "sim/save/save_flash.h"
#include "sim/save/save_rom.h"
#include "sim/save/save_sram.h"

namespace kartex {

using namespace save;

namespace {

enum class Part { None, Sram, Flash, Eeprom, RomSave };

struct SaveRow {
  const char* name;
  Part part;
  std::uint32_t bytes;
  const char* help;
};

const SaveRow ROWS[] = {
    {"none", Part::None, 0, "no save chip"},
    {"sram32k", Part::Sram, SRAM_32K, "32 KiB battery SRAM, mirrored in the 64 KiB window"},
    {"sram256k", Part::Sram, SRAM_256K, "256 KiB SRAM in 4 banks of 64 KiB (the mapper's bank register: a chip= cartridge)"},
    {"sram1m", Part::Sram, SRAM_1M, "1 MiB SRAM in 16 banks of 64 KiB (a chip= cartridge)"},
    {"flash64k", Part::Flash, 64 * KiB, "64 KiB FLASH, :MMDD = maker and device byte (list below)"},
    {"flash128k", Part::Flash, 128 * KiB, "128 KiB FLASH in two banks, :MMDD as above"},
    {"eeprom512", Part::Eeprom, EEPROM_512, "512-byte serial EEPROM, 6-bit block addresses"},
    {"eeprom8k", Part::Eeprom, EEPROM_8K, "8 KiB serial EEPROM, 14-bit block addresses"},
    {"romsave", Part::RomSave, ROM_SAVE_BYTES,
     "1 MiB save area at ROM offset 0x1F00000 of a flash ROM of 32 MiB or more"},
};

struct Parsed {
  const SaveRow* row;
  std::optional<FlashSaveModel> flash;
};

Parsed parse(const std::string& value) {
  const std::size_t colon = value.find(':');
  const std::string name = value.substr(0, colon);
  const SaveRow* row = nullptr;
  for (const SaveRow& r : ROWS)
    if (name == r.name) row = &r;
  if (!row) {
    std::string known;
    for (const SaveRow& r : ROWS) known += std::string(known.empty() ? "" : ", ") + r.name;
    fail("--sim: no save=" + value + " (known: " + known + ")");
  }
  if (row->part != Part::Flash) {
    if (colon != std::string::npos) fail("--sim: save=" + name + " takes no :MMDD");
    return {row, std::nullopt};
  }
  const std::string id = colon == std::string::npos ? "" : value.substr(colon + 1);
  char* end = nullptr;
  const unsigned long code = std::strtoul(id.c_str(), &end, 16);
  if (id.size() != 4 || *end)
    fail("--sim: save=" + name + " needs :MMDD, the maker and device byte in hex (e.g. " + name +
         (row->bytes > 64 * KiB ? ":c209)" : ":bfd4)"));
  const std::optional<FlashSaveModel> model =
      find_flash_save_model(static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code));
  if (!model || model->bytes != row->bytes)
    fail("--sim: no " + std::to_string(row->bytes / KiB) + " KiB FLASH save chip with ID " + id +
         " (see --sim=help)");
  return {row, model};
}

}  // namespace

std::vector<std::uint8_t> read_save_image(const std::string& path, const std::string& save, std::size_t bytes) {
  InputFile in(path, "save-image=" + path, "--sim: ");
  if (in.size() != bytes)
    fail("--sim: save-image=" + path + " holds " + std::to_string(in.size()) + " bytes; save=" + save +
         " takes exactly " + std::to_string(bytes));
  return in.read_all();
}

void check_save_option(const std::string& value) { parse(value); }

std::string save_options_help() {
  std::string text;
  for (const SaveRow& r : ROWS) {
    std::string left = std::string("  ") + r.name;
    left.resize(14, ' ');
    text += left + r.help + "\n";
  }
  return text + flash_save_models_help();
}

std::unique_ptr<SaveChip> build_save_chip(const std::string& value, const std::string& image_file,
                                          const SaveBoard& board, SimLog& log, bool max_times,
                                          const std::vector<SaveFault>& faults) {
  const Parsed p = parse(value);
  if (!faults.empty() && p.row->part != Part::Flash)
    fail("--sim: save-fault= takes a FLASH save chip (save=flash64k:MMDD or flash128k:MMDD), not save=" + value);
  for (const SaveFault& fault : faults)
    if (fault.sector >= p.row->bytes / FLASH_SECTOR_BYTES)
      fail("--sim: save-fault sector " + std::to_string(fault.sector) + " lies past the " +
           std::to_string(p.row->bytes / KiB) + " KiB FLASH save (sectors 0 to " +
           std::to_string(p.row->bytes / FLASH_SECTOR_BYTES - 1) + ")");
  if (p.row->part == Part::None) {
    if (!image_file.empty()) fail("--sim: save-image= needs a save chip (save=...)");
    return std::make_unique<NoSaveChip>();
  }
  if (p.row->part == Part::RomSave &&
      (!board.flash_rom || board.rom_bytes < ROM_SAVE_OFFSET + ROM_SAVE_BYTES))
    fail("--sim: save=romsave lives at ROM offset 0x1F00000 of a flash ROM of 32 MiB or more; give chip= and "
         "size= for one (this cartridge has a " +
         std::string(board.flash_rom ? "flash" : "mask") + " ROM of " +
         std::to_string(board.rom_bytes / (1024 * KiB)) + " MiB)");
  // Banks past the first are chosen by the mapper's bank register: a board
  // without the mapper never carries more SRAM than its window shows.
  if (p.row->part == Part::Sram && p.row->bytes > WINDOW_BYTES && !board.mapper)
    fail("--sim: save=" + std::string(p.row->name) +
         " is banked SRAM, which needs the mapper's bank register; give chip= for a flash cartridge with the "
         "mapper (this cartridge has " +
         (board.flash_rom ? "a flash ROM with mapper=off)" : "a mask ROM without the mapper)"));
  std::vector<std::uint8_t> image;
  if (!image_file.empty()) image = read_save_image(image_file, p.row->name, p.row->bytes);
  switch (p.row->part) {
    case Part::Sram: return std::make_unique<SramChip>(p.row->bytes, std::move(image));
    case Part::Flash: {
      auto chip = std::make_unique<FlashSaveChip>(max_times ? at_max_times(*p.flash) : *p.flash, log, std::move(image));
      for (const SaveFault& fault : faults) chip->add_fault(fault);
      return chip;
    }
    case Part::Eeprom: return std::make_unique<EepromChip>(p.row->bytes, board.rom_bytes, log, std::move(image));
    case Part::RomSave: return std::make_unique<RomSaveArea>(log, image);
    case Part::None: break;
  }
  return std::make_unique<NoSaveChip>();
}

}  // namespace kartex
