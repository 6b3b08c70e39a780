#pragma once
// The save chip the --sim keys save= and save-image= describe.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/save/save_chip.h"
#include "sim/save/save_fault.h"

namespace kartex {

// Checks a save= value ("none", "sram32k", "flash128k:c209", ...); throws
// Failure naming what is accepted.
void check_save_option(const std::string& value);
// The save= values, one line each, for --sim=help.
std::string save_options_help();

// The contents of save-image=`path` for save=`save`, which must be exactly
// `bytes` long. Throws Failure.
std::vector<std::uint8_t> read_save_image(const std::string& path, const std::string& save, std::size_t bytes);

struct SaveBoard {
  std::uint32_t rom_bytes;  // the ROM's size, which decides where an EEPROM answers
  bool flash_rom;           // the ROM is a flash ROM (a save area can live in it)
  bool mapper;              // the board has the mapper, whose bank register banked SRAM needs
};

// The chip for `value` (checked), filled from `image_file` when not empty
// (its size must be the part's), else erased. Throws Failure.
// `max_times`: a FLASH part takes its longest times. `faults`: sectors of a
// FLASH part that fail to program (any other part refuses them).
std::unique_ptr<SaveChip> build_save_chip(const std::string& value, const std::string& image_file,
                                          const SaveBoard& board, SimLog& log, bool max_times = false,
                                          const std::vector<SaveFault>& faults = {});

}  // namespace kartex
