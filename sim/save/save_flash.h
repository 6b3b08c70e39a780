#pragma once
// An 8-bit FLASH save chip in the save window: JEDEC-style commands after
// the prefix 0xAA at 0x5555, 0x55 at 0x2AAA; identifier mode; 4 KiB sector
// erase and chip erase; byte program, which only clears bits; on the
// 128 KiB parts a bank switch for the upper 64 KiB. The page-program part
// has no sector erase: after 0xA0 it loads one 128-byte page, and once no
// byte has come for the byte load window it rewrites the whole page with
// it; until then every write is a byte of the page, whatever it looks like.
// While the part works (its data sheet's time, on the console's clock) it
// answers every read with status: bit 6 toggling, bit 7 the complement of
// the data's bit 7 (0 while erasing), on parts with a time limit bit 5 once
// a failed operation has run out of time. Identifier mode starts and ends
// after the part's latency. An access faster than the part's slowest
// WAITCNT setting is not taken (a write) or reads unsettled (0xFF).

#include <array>
#include <optional>
#include <vector>

#include "sim/save/save_chip.h"
#include "sim/save/save_commands.h"
#include "sim/save/save_fault.h"

namespace kartex {

struct FlashSaveModel {
  std::uint8_t maker;
  std::uint8_t device;
  std::uint32_t bytes;      // 64 or 128 KiB
  bool page_program;        // 128-byte erase-and-write pages, no sector erase
  SimTime program;          // byte program; the page part's write cycle
  SimTime sector_erase;
  SimTime chip_erase;
  SimTime time_limit;       // 0: no time limit; else a program that cannot
                            // finish sets DQ5 after this and stays busy
                            // until the reset command
  SimTime id_latency;       // identifier mode entry and exit take effect after this
  unsigned write_wait;      // fewest save window cycles for a write
  unsigned read_wait;       // and for a read (WAITCNT: 2, 3, 4 or 8)
};

// The same part at the longest its operations take (chip-times=max).
FlashSaveModel at_max_times(const FlashSaveModel& model);
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
  void set_save_wait(unsigned cycles) override;
  void save(StateWriter& out) const override;
  static std::unique_ptr<SaveChip> load(StateReader& in, SimLog& log);

  const std::vector<std::uint8_t>& cells() const { return cells_; }
  unsigned bank() const { return bank_; }
  // Erases and programs (bytes, or pages of the page part) that reached
  // each 4 KiB sector since the chip was built, for tests of what a write
  // touched. Not kept in the state.
  struct SectorWear {
    std::uint32_t erases = 0, programs = 0;
  };
  const SectorWear& wear(std::size_t sector) const { return wear_.at(sector); }
  // From now on, programs into the fault's sector fail as it says. Not kept
  // in the state: a chip loaded again has sound cells.
  void add_fault(const SaveFault& fault) { faults_.push_back(fault); }

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
  SimTime now() const { return log_.clock().now(); }
  // Moves the part on to `now`: a page whose load window has passed is
  // written, an operation whose time is up ends.
  void settle();
  bool id_mode() const { return now() >= id_at_ ? id_target_ : id_before_; }
  void set_id_mode(bool on);
  bool too_fast(unsigned needed, bool& warned, const char* access);
  std::uint8_t status();
  void command(std::uint32_t addr, std::uint8_t cmd);
  void erase_command(std::uint32_t addr, std::uint8_t cmd);
  void program(std::uint32_t addr, std::uint8_t value);
  void page_load(std::uint32_t addr, std::uint8_t value);
  void page_commit(SimTime at);
  void start(bool erasing, std::uint8_t data, SimTime from, SimTime duration);
  void abort(std::uint32_t addr, std::uint8_t value, const char* expected);
  // Whether a program of the cell at `index` (of cells_) fails, counting it.
  bool fault_hits(std::size_t index);

  FlashSaveModel model_;
  std::string name_;
  SimLog& log_;
  std::vector<std::uint8_t> cells_;
  Mode mode_ = Mode::Read;
  // Identifier mode: id_before_ until id_at_, id_target_ from then on.
  bool id_before_ = false;
  bool id_target_ = false;
  SimTime id_at_ = 0;
  unsigned bank_ = 0;
  SimTime busy_until_ = 0;         // end of the operation (Busy)
  bool failed_ = false;            // a program that cannot finish: busy until reset
  std::uint8_t toggle_ = 0;
  bool erasing_ = false;
  unsigned save_wait_ = 0;         // the console's save window cycles; 0: not told
  bool warned_read_ = false, warned_write_ = false;  // one line per WAITCNT setting
  SimTime last_load_ = 0;          // the latest byte of the page being loaded
  std::uint8_t data_ = 0;          // the byte being programmed (bit 7 polling)
  std::uint32_t page_base_ = 0;    // window address of the page being loaded
  std::array<std::uint8_t, save::FLASH_PAGE_BYTES> page_{};
  std::array<bool, save::FLASH_PAGE_BYTES> loaded_{};
  std::vector<SaveFault> faults_;  // times counts down to 0 (EVERY stays)
  std::vector<SectorWear> wear_;
};

}  // namespace kartex
