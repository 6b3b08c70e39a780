#pragma once
// A flash chip with the status-register command set: read array,
// identifier, status, block erase, word program, and where the part has
// them buffered write, page program and block locks.

#include <vector>

#include "sim/cart/flash_chip.h"

namespace kartex {

class StatusChip : public FlashChip {
 public:
  StatusChip(const ChipModel& model, std::string name, SimLog& log);

  const std::string& name() const override { return name_; }
  std::uint16_t read(std::uint32_t word) override;
  void write(std::uint32_t word, std::uint16_t value) override;
  std::span<std::uint16_t> cells() override { return cells_; }
  void save(StateWriter& out) const override;
  void load(StateReader& in) override;
  void wear_out(std::uint32_t word, std::uint8_t wear) override { worn_[block_of(word).index] |= wear; }

 private:
  enum class Mode : std::uint8_t {
    Array,
    Identifier,
    Status,
    EraseSetup,     // 0x20 seen, waiting for the confirm
    ProgramSetup,   // 0x40 seen, waiting for the data word
    LockSetup,      // 0x60 seen, waiting for 0x01, 0xD0 or 0x2F
    BufferCount,    // 0xE8 seen, waiting for count - 1
    BufferData,     // loading the counted words
    BufferConfirm,  // all words loaded, waiting for 0xD0
    PageLoad,       // 0x41 seen, loading one page
    Query,          // 0x98 seen: reads give the CFI table
  };
  struct Pending {
    std::uint32_t word;
    std::uint16_t value;
  };

  Block block_of(std::uint32_t word) const { return model_.layout.block_at(word * 2); }
  bool locked(const Block& b) const { return lock_[b.index] != 0; }
  std::uint16_t identifier(std::uint32_t word) const;
  std::uint16_t query(std::uint32_t word) const;
  void command(std::uint32_t word, std::uint8_t cmd);
  void lock_command(std::uint32_t word, std::uint8_t cmd);
  void buffer_count(std::uint32_t word, std::uint16_t value);
  void buffer_data(std::uint32_t word, std::uint16_t value);
  void page_data(std::uint32_t word, std::uint16_t value);
  void program(std::uint32_t word, std::uint16_t value);
  void program_pending(SimTime duration);
  void erase(std::uint32_t word);
  // A command the part would not accept: error bits, status mode, logged.
  void sequence_error(const std::string& what);
  // The same for a byte that is no command of the part: not logged, as a
  // chip cannot tell a stray write from a mistake (the mapper's unlock
  // reaches the chips of a board without it); its status tells.
  void unknown_command();
  // Parts whose error bits hold off the next command until Clear Status.
  bool held_by_errors(std::uint32_t word, std::uint8_t cmd);
  // `misuse` false: a refusal the program meant to risk (it changes
  // nothing either way), not logged as a misuse.
  void refuse_locked(const Block& b, std::uint8_t error_bit, const char* what, bool misuse = true);
  // The write state machine runs for `duration`, then shows `error`.
  void start_busy(SimTime duration, std::uint8_t error = 0);
  // Ends the operation once the console's clock reached its deadline.
  void settle();
  std::uint8_t wear_error(const Block& b, std::uint8_t wear, std::uint8_t error_bit) const {
    return (worn_[b.index] & wear) ? error_bit : 0;
  }
  SimTime now() const { return log_.clock().now(); }
  std::string where(std::uint32_t word) const;

  const ChipModel& model_;
  std::string name_;
  SimLog& log_;
  std::vector<std::uint16_t> cells_;
  std::vector<std::uint8_t> lock_;  // per block: ID_LOCK_* bits
  Mode mode_ = Mode::Array;
  std::uint8_t status_ = 0;  // error bits; SR_READY comes from busy_
  bool busy_ = false;
  SimTime busy_until_ = 0;          // console time the operation ends
  std::uint8_t busy_error_ = 0;     // error bits it ends with
  std::vector<std::uint8_t> worn_;  // per block: FlashChip::Wear bits
  std::uint32_t op_block_ = 0;      // block index of a buffered write
  std::uint32_t op_count_ = 0;      // words a buffered write or page takes
  std::uint32_t op_base_ = 0;       // first word of the buffer or page
  std::vector<Pending> pending_;    // words loaded so far
};

}  // namespace kartex
