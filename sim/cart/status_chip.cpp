#include "sim/cart/status_chip.h"

#include <algorithm>

#include "sim/cart/flash_commands.h"
#include "sim/cart/jedec_chip.h"

namespace kartex {

using namespace flash;

namespace {
constexpr SimTime REFUSAL_TIME = simtime::microseconds(2);
}  // namespace

std::unique_ptr<FlashChip> make_flash_chip(const ChipModel& model, std::string name, SimLog& log) {
  if (model.family == FlashFamily::Jedec) return std::make_unique<JedecChip>(model, std::move(name), log);
  return std::make_unique<StatusChip>(model, std::move(name), log);
}

StatusChip::StatusChip(const ChipModel& model, std::string name, SimLog& log)
    : model_(model),
      name_(std::move(name)),
      log_(log),
      cells_(model.bytes() / 2, 0xFFFF),
      lock_(model.layout.block_count(), model.locked_at_power_up ? ID_LOCK_LOCKED : 0),
      worn_(model.layout.block_count(), 0) {}

std::string StatusChip::where(std::uint32_t word) const {
  return "word " + hex32(word) + " (byte " + hex32(word * 2) + " of the chip)";
}

void StatusChip::start_busy(SimTime duration, std::uint8_t error) {
  busy_ = true;
  busy_until_ = now() + duration;
  busy_error_ = error;
  mode_ = Mode::Status;
}

void StatusChip::settle() {
  if (!busy_ || now() < busy_until_) return;
  busy_ = false;
  status_ |= busy_error_;
  busy_error_ = 0;
}

std::uint16_t StatusChip::read(std::uint32_t word) {
  settle();
  if (busy_) {
    log_.clock().chip_busy_until(busy_until_);
    return status_;  // SR_READY clear
  }
  switch (mode_) {
    case Mode::Array: return cells_[word];
    case Mode::Identifier: return identifier(word);
    case Mode::Query: return query(word);
    case Mode::BufferCount: return SR_READY;  // extended status: a buffer is free
    default: return static_cast<std::uint16_t>(SR_READY | status_);
  }
}

std::uint16_t StatusChip::identifier(std::uint32_t word) const {
  const Block b = block_of(word);
  switch (word - b.start / 2) {
    case ID_MAKER: return model_.maker;
    case ID_DEVICE: return model_.device;
    case ID_LOCK: return lock_[b.index];
    default: return 0;
  }
}

// The table is read at word offsets from the start of the block addressed,
// as the identifier codes are; words past it read 0.
std::uint16_t StatusChip::query(std::uint32_t word) const {
  const std::uint32_t offset = word - block_of(word).start / 2;
  if (offset < CFI_TABLE_START || offset - CFI_TABLE_START >= model_.cfi.size()) return 0;
  return model_.cfi[offset - CFI_TABLE_START];
}

void StatusChip::write(std::uint32_t word, std::uint16_t value) {
  const auto cmd = static_cast<std::uint8_t>(value);
  settle();
  if (busy_) {
    // While the write state machine runs it takes the status command and
    // suspend; every other write is ignored, read array included: the chip
    // shows its status until a read array comes after the operation.
    if (cmd == CMD_READ_STATUS) return;
    if (cmd == CMD_SUSPEND) {
      log_.note(name_, "suspend 0xB0 is not modelled; the operation runs to its end");
      return;
    }
    log_.misuse(name_, "write of " + hex_short(value) + " at " + where(word) +
                           " while busy (only 0x70 and 0xB0 are taken); ignored");
    return;
  }
  switch (mode_) {
    case Mode::EraseSetup:
      if (cmd == CMD_CONFIRM) return erase(word);
      return sequence_error("block erase set-up 0x20 followed by " + hex_short(value) + " at " + where(word));
    case Mode::ProgramSetup: return program(word, value);
    case Mode::LockSetup: return lock_command(word, cmd);
    case Mode::BufferCount: return buffer_count(word, value);
    case Mode::BufferData: return buffer_data(word, value);
    case Mode::BufferConfirm:
      if (cmd != CMD_CONFIRM || block_of(word).index != op_block_)
        return sequence_error("buffered write not confirmed: " + hex_short(value) + " at " + where(word));
      if (locked(block_of(word))) return refuse_locked(block_of(word), SR_PROGRAM_ERROR, "buffered write");
      return program_pending(model_.times.buffer(op_count_));
    case Mode::PageLoad: return page_data(word, value);
    default: return command(word, cmd);
  }
}

bool StatusChip::held_by_errors(std::uint32_t word, std::uint8_t cmd) {
  if (!model_.errors_hold_commands || (status_ & (SR_ERASE_ERROR | SR_PROGRAM_ERROR)) == 0) return false;
  sequence_error("command " + hex_short(cmd) + " at " + where(word) + " while the status holds error bits " +
                 hex_short(status_) + " (this part takes no erase, program or lock command until Clear Status 0x50)");
  return true;
}

void StatusChip::unknown_command() {
  status_ |= SR_ERASE_ERROR | SR_PROGRAM_ERROR;
  pending_.clear();
  mode_ = Mode::Status;
}

void StatusChip::command(std::uint32_t word, std::uint8_t cmd) {
  switch (cmd) {
    case CMD_BLOCK_ERASE:
    case CMD_WORD_PROGRAM:
    case CMD_WORD_PROGRAM_ALT:
    case CMD_BUFFERED_WRITE:
    case CMD_PAGE_PROGRAM:
    case CMD_LOCK_SETUP:
      if (held_by_errors(word, cmd)) return;
      break;
    default: break;
  }
  switch (cmd) {
    case CMD_READ_ARRAY: mode_ = Mode::Array; return;
    case CMD_READ_ID: mode_ = Mode::Identifier; return;
    case CMD_READ_STATUS: mode_ = Mode::Status; return;
    case CMD_CLEAR_STATUS: status_ &= static_cast<std::uint8_t>(~SR_ERROR_BITS); return;
    case CMD_BLOCK_ERASE: mode_ = Mode::EraseSetup; return;
    case CMD_WORD_PROGRAM:
    case CMD_WORD_PROGRAM_ALT: mode_ = Mode::ProgramSetup; return;
    case CMD_BUFFERED_WRITE:
      if (model_.buffer_words == 0) return unknown_command();
      mode_ = Mode::BufferCount;
      op_block_ = block_of(word).index;
      return;
    case CMD_PAGE_PROGRAM:
      if (model_.page_words == 0) return unknown_command();
      mode_ = Mode::PageLoad;
      pending_.clear();
      return;
    case CMD_LOCK_SETUP:
      if (model_.locks == LockStyle::None) return unknown_command();
      mode_ = Mode::LockSetup;
      return;
    case CMD_CONFIRM:
      // Resume: with nothing suspended the part carries on as it was.
      log_.misuse(name_, "confirm 0xD0 at " + where(word) + " without a set-up command; ignored");
      return;
    case CMD_READ_QUERY:
      if (!model_.cfi.empty()) {
        mode_ = Mode::Query;
        return;
      }
      log_.note(name_, "command " + hex_short(cmd) + " is not modelled; ignored");
      return;
    case CMD_SUSPEND:
      log_.note(name_, "command " + hex_short(cmd) + " is not modelled; ignored");
      return;
    default:
      // No command of the part: the command sequence error, as the data
      // sheets give for an invalid command.
      return unknown_command();
  }
}

void StatusChip::lock_command(std::uint32_t word, std::uint8_t cmd) {
  const Block b = block_of(word);
  if (model_.locks == LockStyle::ClearAllBits) {
    if (cmd == CMD_LOCK_BLOCK) {
      lock_[b.index] = ID_LOCK_LOCKED;
    } else if (cmd == CMD_CONFIRM) {
      for (std::uint8_t& bits : lock_) bits = 0;
    } else {
      return sequence_error("lock set-up 0x60 followed by " + hex_short(cmd) + " at " + where(word));
    }
    // The bits are flash cells too: setting one programs it, clearing
    // erases them all.
    return start_busy(cmd == CMD_LOCK_BLOCK ? model_.times.lock_bit_set : model_.times.lock_bits_clear);
  }
  switch (cmd) {
    case CMD_LOCK_BLOCK: lock_[b.index] |= ID_LOCK_LOCKED; break;
    case CMD_LOCK_DOWN: lock_[b.index] |= ID_LOCK_LOCKED | ID_LOCK_DOWN; break;
    case CMD_CONFIRM:
      if (lock_[b.index] & ID_LOCK_DOWN)
        log_.misuse(name_, "unlock of the locked-down block at " + where(word) + " refused");
      else
        lock_[b.index] = 0;
      break;
    default: return sequence_error("lock set-up 0x60 followed by " + hex_short(cmd) + " at " + where(word));
  }
  // Volatile lock bits change at once; the part keeps its read mode.
  mode_ = Mode::Status;
}

void StatusChip::buffer_count(std::uint32_t word, std::uint16_t value) {
  const std::uint32_t count = (value & 0xFFu) + 1;
  if (block_of(word).index != op_block_)
    return sequence_error("buffered write count at " + where(word) + " outside the block of its 0xE8");
  if (count > model_.buffer_words)
    return sequence_error("buffered write count " + hex_short(value) + " asks for " + std::to_string(count) +
                          " words; the buffer holds " + std::to_string(model_.buffer_words));
  op_count_ = count;
  pending_.clear();
  mode_ = Mode::BufferData;
}

void StatusChip::buffer_data(std::uint32_t word, std::uint16_t value) {
  if (pending_.empty()) op_base_ = word;
  if (block_of(word).index != op_block_ || word < op_base_ || word >= op_base_ + op_count_)
    return sequence_error("buffered write data at " + where(word) + " outside the " +
                          std::to_string(op_count_) + " words from " + hex32(op_base_ * 2));
  pending_.push_back({word, value});
  if (pending_.size() == op_count_) mode_ = Mode::BufferConfirm;
}

void StatusChip::page_data(std::uint32_t word, std::uint16_t value) {
  if (pending_.empty()) op_base_ = word & ~(model_.page_words - 1);
  if (word < op_base_ || word >= op_base_ + model_.page_words)
    return sequence_error("page program data at " + where(word) + " outside the page at " + hex32(op_base_ * 2));
  pending_.push_back({word, value});
  if (pending_.size() < model_.page_words) return;
  // The last word of the page starts programming; there is no confirm.
  const Block b = block_of(op_base_);
  if (locked(b)) return refuse_locked(b, SR_PROGRAM_ERROR, "page program");
  program_pending(model_.times.page_program);
}

void StatusChip::program(std::uint32_t word, std::uint16_t value) {
  const Block b = block_of(word);
  // A program of all ones clears no bit, locked or not: a program that
  // must follow a set-up code it did not mean (a probe's write that a
  // chip takes as 0x10) gives it so, and the refusal is no misuse.
  if (locked(b)) return refuse_locked(b, SR_PROGRAM_ERROR, "word program", value != 0xFFFF);
  const std::uint8_t error = wear_error(b, WEAR_PROGRAM, SR_PROGRAM_ERROR);
  if (!error) cells_[word] &= value;  // programming only moves bits from 1 to 0
  ++ops_.programs;
  start_busy(model_.times.word_program, error);
}

void StatusChip::program_pending(SimTime duration) {
  const std::uint8_t error =
      pending_.empty() ? 0 : wear_error(block_of(pending_.front().word), WEAR_PROGRAM, SR_PROGRAM_ERROR);
  if (!error)
    for (const Pending& p : pending_) cells_[p.word] &= p.value;
  pending_.clear();
  ++ops_.programs;
  start_busy(duration, error);
}

void StatusChip::erase(std::uint32_t word) {
  const Block b = block_of(word);
  if (locked(b)) return refuse_locked(b, SR_ERASE_ERROR, "block erase");
  const std::uint8_t error = wear_error(b, WEAR_ERASE, SR_ERASE_ERROR);
  if (!error) std::fill(cells_.begin() + b.start / 2, cells_.begin() + (b.start + b.bytes) / 2, 0xFFFF);
  ++ops_.erases;
  const bool param = b.bytes < model_.layout.largest_block() && model_.times.param_erase != 0;
  start_busy(param ? model_.times.param_erase : model_.times.main_erase, error);
}

void StatusChip::refuse_locked(const Block& b, std::uint8_t error_bit, const char* what, bool misuse) {
  pending_.clear();
  if (misuse) log_.misuse(name_, std::string(what) + " in the locked block at byte " + hex32(b.start) + " refused");
  // The state machine finds the lock bit and stops within a few
  // microseconds.
  start_busy(REFUSAL_TIME, static_cast<std::uint8_t>(error_bit | SR_BLOCK_LOCKED));
}

void StatusChip::sequence_error(const std::string& what) {
  status_ |= SR_ERASE_ERROR | SR_PROGRAM_ERROR;
  pending_.clear();
  mode_ = Mode::Status;
  log_.misuse(name_, what + ": command sequence error, status shows 0x30");
}

void StatusChip::save(StateWriter& out) const {
  out.blob({reinterpret_cast<const std::uint8_t*>(cells_.data()), cells_.size() * 2});
  out.blob(lock_);
  out.u8(static_cast<std::uint8_t>(mode_));
  out.u8(status_);
  out.u8(busy_);
  out.u64(busy_until_);
  out.u8(busy_error_);
  out.u32(op_block_);
  out.u32(op_count_);
  out.u32(op_base_);
  out.u32(static_cast<std::uint32_t>(pending_.size()));
  for (const Pending& p : pending_) {
    out.u32(p.word);
    out.u16(p.value);
  }
}

void StatusChip::load(StateReader& in) {
  in.blob_into({reinterpret_cast<std::uint8_t*>(cells_.data()), cells_.size() * 2});
  in.blob_into(lock_);
  const std::uint8_t mode = in.u8();
  if (mode > static_cast<std::uint8_t>(Mode::Query)) in.corrupt(name_ + ": unknown chip mode");
  mode_ = static_cast<Mode>(mode);
  status_ = in.u8();
  busy_ = in.u8() != 0;
  busy_until_ = in.u64();
  busy_error_ = in.u8();
  // An operation ends some time after the clock's start.
  if (busy_ && busy_until_ == 0) in.corrupt(name_ + ": busy with no time left");
  if (busy_error_ & ~SR_ERROR_BITS) in.corrupt(name_ + ": unknown status bits");
  op_block_ = in.u32();
  op_count_ = in.u32();
  op_base_ = in.u32();
  const std::uint32_t n = in.u32();
  // A buffered write gathers at most its buffer, a page program one page.
  const std::uint32_t gathered = std::max(model_.buffer_words, model_.page_words);
  if (op_block_ >= lock_.size() || n > gathered || op_count_ > gathered || op_base_ >= cells_.size())
    in.corrupt(name_ + ": command state out of range");
  pending_.clear();
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t word = in.u32();
    const std::uint16_t value = in.u16();
    if (word >= cells_.size()) in.corrupt(name_ + ": loaded word out of range");
    pending_.push_back({word, value});
  }
}

}  // namespace kartex
