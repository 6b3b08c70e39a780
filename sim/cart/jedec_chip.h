#pragma once
// A flash chip with the JEDEC command set in 16-bit word mode: every
// command follows the unlock writes 0xAA at word 0x555 and 0x55 at word
// 0x2AA. While its embedded algorithm runs the chip answers every read
// with status: DQ7 the complement of the data's bit 7 (0 while erasing),
// DQ6 toggling on each read, DQ5 set when the algorithm timed out.

#include <utility>
#include <vector>

#include "sim/cart/flash_chip.h"

namespace kartex {

class JedecChip : public FlashChip {
 public:
  JedecChip(const ChipModel& model, std::string name, SimLog& log);

  const std::string& name() const override { return name_; }
  std::uint16_t read(std::uint32_t word) override;
  void write(std::uint32_t word, std::uint16_t value) override;
  std::span<std::uint16_t> cells() override { return cells_; }
  void save(StateWriter& out) const override;
  void load(StateReader& in) override;
  void wear_out(std::uint32_t word, std::uint8_t wear) override {
    worn_[model_.layout.block_at(word * 2).index] |= wear;
  }
  bool protect(std::uint32_t word) override;
  void save_protection(StateWriter& out) const override { out.blob(protected_); }
  void load_protection(StateReader& in) override;

 private:
  enum class Mode : std::uint8_t {
    Read,
    Autoselect,
    Unlocked1,    // 0xAA at 0x555 seen
    Unlocked2,    // then 0x55 at 0x2AA: the command byte comes next
    ProgramData,  // 0xA0 seen: the next write is address and data
    Erase1,       // 0x80 seen: a second 0xAA follows
    Erase2,       // then 0x55
    Erase3,       // then 0x30 at the sector or 0x10 at 0x555
    Busy,         // embedded algorithm running
    TimedOut,     // DQ5 up: stays until 0xF0
    Query,        // 0x98 at 0x55: reads give the CFI table until 0xF0
    BufferCount,  // 0x25 at a sector: the count less one comes next
    BufferData,   // the words to load, all in one buffer page
    BufferConfirm,  // loaded: 0x29 at the sector starts the program
    BufferAborted,  // DQ1 up: until the unlock and 0xF0
    Bypass,         // unlock bypass: 0xA0 or 0x90 come next, reads give the array
    BypassProgram,  // 0xA0 seen in the bypass: the next write is address and data
    BypassReset,    // 0x90 seen in the bypass: 0x00 leaves it
  };

  std::uint16_t status_read(std::uint32_t word);
  void abort_sequence(std::uint32_t word, std::uint16_t value);
  void abort_buffer(const std::string& why);
  void program_word(std::uint32_t word, std::uint16_t value);
  void bypass_write(std::uint32_t word, std::uint16_t value);
  Mode idle() const { return bypass_ ? Mode::Bypass : Mode::Read; }
  void buffer_write(std::uint32_t word, std::uint16_t value);
  void program_buffer(std::uint32_t word, std::uint16_t value);
  void start(bool erase, std::uint16_t data, std::uint32_t sector_start, std::uint32_t sector_bytes, bool fails,
             SimTime duration);
  // Ends the embedded algorithm once the console's clock reached its
  // deadline: read mode, or the time-out (DQ5) of a failed operation.
  void settle();
  bool worn(const Block& b, std::uint8_t wear) const { return (worn_[b.index] & wear) != 0; }
  std::string where(std::uint32_t word) const;

  const ChipModel& model_;
  std::string name_;
  SimLog& log_;
  std::vector<std::uint16_t> cells_;
  Mode mode_ = Mode::Read;
  bool bypass_ = false;              // in the unlock bypass: where a program ends
  SimTime busy_until_ = 0;           // console time the algorithm ends
  std::uint16_t toggle_ = 0;         // DQ6 and DQ2 as last read
  bool erasing_ = false;
  bool fails_ = false;               // the operation ends in the DQ5 timeout
  std::uint16_t data_ = 0;           // the word being programmed
  std::uint32_t sector_start_ = 0, sector_bytes_ = 0;  // bytes being erased
  std::vector<std::uint8_t> worn_;   // per sector: FlashChip::Wear bits
  // The write buffer being loaded: its sector, the words still to come,
  // and each word's address and value
  std::uint32_t buffer_sector_ = 0, buffer_left_ = 0;
  std::vector<std::pair<std::uint32_t, std::uint16_t>> buffer_;
  std::uint32_t abort_step_ = 0;     // unlock writes of the abort reset seen
  std::vector<std::uint8_t> protected_;  // per sector: 1 when protected
  bool is_protected(const Block& b) const { return protected_[b.index] != 0; }
};

}  // namespace kartex
