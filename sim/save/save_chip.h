#pragma once
// The save slot of a cartridge. A save chip answers in the 8-bit save
// window (0x0E000000-0x0E00FFFF, mirrored up to 0x0FFFFFFF) and, when it
// is an EEPROM, at the ROM window addresses it decodes; a save kept inside
// the flash ROM claims a range of ROM offsets instead.
// The cartridge passes each access the SRAM bank its mapper selects (0
// without a mapper), so that banked SRAM needs no link to the mapper.

#include <cstdint>
#include <memory>
#include <string>

#include "sim/sim_log.h"
#include "sim/state/state_file.h"

namespace kartex {

class SaveChip {
 public:
  virtual ~SaveChip() = default;

  virtual std::string name() const = 0;  // in misuse lines: "SRAM 32 KiB"
  virtual std::string kind() const = 0;  // tag in the state file

  // Save window: addr = 0x0E000000 + (console address & 0xFFFF).
  virtual std::uint8_t read8(std::uint32_t addr, unsigned sram_bank) = 0;
  virtual void write8(std::uint32_t addr, std::uint8_t value, unsigned sram_bank) = 0;

  // The save window's access time: the WAITCNT setting (4, 3, 2 or 8
  // cycles) the console uses for it now; 0 until the console tells. A part
  // slower than that latches no write and reads back unsettled data.
  virtual void set_save_wait(unsigned /*cycles*/) {}

  // ROM windows (console address 0x08000000-0x0DFFFFFF, even). An EEPROM
  // says which addresses it decodes (ROM offsets from 16 MiB up on ROMs up
  // to 16 MiB, only the top 256 bytes on larger ones, in every window);
  // the ROM answers the rest.
  virtual bool answers_rom(std::uint32_t) const { return false; }
  virtual std::uint16_t read16(std::uint32_t) { return 0xFFFF; }
  virtual void write16(std::uint32_t, std::uint16_t) {}
  // The console let go of the cartridge bus (/CS high): the end of a DMA
  // transfer or of a single CPU access. A serial chip ends its frame here.
  virtual void bus_released() {}

  // A save inside the flash ROM (ROM offset 0x1F00000 up): the cartridge
  // sends ROM accesses whose ROM offset (after the mapper's page) lies in
  // [rom_region_begin(), rom_region_end()) here instead of to the ROM part.
  // An empty range (the default) claims nothing. The save can answer with
  // a FlashChip of its own (make_flash_chip with its identifier and
  // blocks) to model the chip region's identifier and commands.
  virtual std::uint32_t rom_region_begin() const { return 0; }
  virtual std::uint32_t rom_region_end() const { return 0; }
  virtual std::uint16_t rom_read16(std::uint32_t /*rom_offset*/) { return 0xFFFF; }
  virtual void rom_write16(std::uint32_t /*rom_offset*/, std::uint16_t) {}
  // The read-array command reached the flash ROM elsewhere: a save area
  // inside the same chip goes back to reading its array too.
  virtual void rom_read_array() {}

  virtual void save(StateWriter& out) const = 0;
};

// No save chip: nothing drives the save window's data lines, writes go
// nowhere.
class NoSaveChip : public SaveChip {
 public:
  std::string name() const override { return "no save chip"; }
  std::string kind() const override { return "none"; }
  std::uint8_t read8(std::uint32_t, unsigned) override { return 0xFF; }
  void write8(std::uint32_t, std::uint8_t, unsigned) override {}
  void save(StateWriter&) const override {}
};

// Rebuilds a chip saved with its kind() tag first. New save chips add
// their tag here.
std::unique_ptr<SaveChip> load_save_chip(StateReader& in, SimLog& log);

}  // namespace kartex
