#pragma once
// An 8-bit FLASH save chip in the save window: JEDEC-style commands after
// the prefix 0xAA at 0x5555, 0x55 at 0x2AAA; identifier mode; 4 KiB sector
// erase and chip erase; byte program, which only clears bits; on the
// 128 KiB parts a bank switch for the upper 64 KiB. The page-program part
// has no sector erase: after 0xA0 it loads one 128-byte page and rewrites
// the whole page with it. While the part works it answers every read with
// status (bit 6 toggling, bit 7 the complement of the data's bit 7, or 0
// while erasing) for a number of reads.

#include <array>
#include <optional>
#include <vector>

#include "sim/save_chip.h"
#include "sim/save_commands.h"

namespace kartex {

struct FlashSaveModel {
  std::uint8_t maker;
  std::uint8_t device;
  std::uint32_t bytes;  // 64 or 128 KiB
  bool page_program;    // 128-byte erase-and-write pages, no sector erase
};

// The model with these identifier bytes, or nullopt.
std::optional<FlashSaveModel> find_flash_save_model(std::uint8_t maker, std::uint8_t device);
// The identifier pairs, for --sim=help: "1f3d, bfd4, ..." with the sizes.
std::string flash_save_models_help();

class FlashSaveChip : public SaveChip {
 public:
  // `image` empty: erased; otherwise exactly model.bytes.
  FlashSaveChip(const FlashSaveModel& model, SimLog& log, std::vector<std::uint8_t> image = {});

  std::string name() const override { return name_; }
  std::string kind() const override { return "flash"; }
  std::uint8_t read8(std::uint32_t addr, unsigned sram_bank) override;
  void write8(std::uint32_t addr, std::uint8_t value, unsigned sram_bank) override;
  void save(StateWriter& out) const override;
  static std::unique_ptr<SaveChip> load(StateReader& in, SimLog& log);

  const std::vector<std::uint8_t>& cells() const { return cells_; }
  unsigned bank() const { return bank_; }

 private:
  enum class Mode : std::uint8_t {
    Read,
    Unlocked1,   // 0xAA at 0x5555 seen
    Unlocked2,   // then 0x55 at 0x2AAA: the command byte comes next
    Program,     // 0xA0: the next write is the byte
    PageLoad,    // 0xA0 on the page part: loading the page
    Erase1,      // 0x80: a second prefix follows
    Erase2,
    Erase3,      // then 0x30 in the sector or 0x10 at 0x5555
    BankSelect,  // 0xB0: the bank number goes to address 0
    Busy,
  };

  std::size_t at(std::uint32_t addr) const {
    return bank_ * save::FLASH_BANK_BYTES + (addr & (save::FLASH_BANK_BYTES - 1));
  }
  std::uint8_t status();
  void command(std::uint32_t addr, std::uint8_t cmd);
  void erase_command(std::uint32_t addr, std::uint8_t cmd);
  void program(std::uint32_t addr, std::uint8_t value);
  void page_load(std::uint32_t addr, std::uint8_t value);
  void page_commit();
  void start(bool erasing, std::uint8_t data, std::uint32_t reads);
  void abort(std::uint32_t addr, std::uint8_t value, const char* expected);

  FlashSaveModel model_;
  std::string name_;
  SimLog& log_;
  std::vector<std::uint8_t> cells_;
  Mode mode_ = Mode::Read;
  bool id_mode_ = false;
  unsigned bank_ = 0;
  std::uint32_t busy_reads_ = 0;
  std::uint8_t toggle_ = 0;
  bool erasing_ = false;
  std::uint8_t data_ = 0;          // the byte being programmed (bit 7 polling)
  std::uint32_t page_base_ = 0;    // window address of the page being loaded
  std::array<std::uint8_t, save::FLASH_PAGE_BYTES> page_{};
  std::array<bool, save::FLASH_PAGE_BYTES> loaded_{};
};

}  // namespace kartex
