#include "sim/cart/jedec_chip.h"

#include <algorithm>

#include "sim/cart/flash_commands.h"

namespace kartex {

using namespace flash;

namespace {

bool at(std::uint32_t word, std::uint32_t unlock_addr) { return (word & JEDEC_ADDR_MASK) == unlock_addr; }

// A program or erase of protected sectors only: the sheets' status for
// about 1 us (program) or 100 us (erase), then the array again, unchanged.
constexpr SimTime PROTECTED_PROGRAM_TIME = simtime::microseconds(1);
constexpr SimTime PROTECTED_ERASE_TIME = simtime::microseconds(100);

// The kept mode byte's top bit: the chip is in the unlock bypass (also
// while a bypass program runs). States kept before there was a bypass
// have it clear.
constexpr std::uint8_t MODE_IN_BYPASS = 0x80;

}  // namespace

JedecChip::JedecChip(const ChipModel& model, std::string name, SimLog& log)
    : model_(model),
      name_(std::move(name)),
      log_(log),
      cells_(model.bytes() / 2, 0xFFFF),
      worn_(model.layout.block_count(), 0),
      protected_(model.layout.block_count(), 0) {}

bool JedecChip::protect(std::uint32_t word) {
  protected_[model_.layout.block_at(word * 2).index] = 1;
  return true;
}

void JedecChip::load_protection(StateReader& in) {
  std::vector<std::uint8_t> bits = in.blob();
  if (bits.size() != protected_.size()) in.corrupt(name_ + ": sector protection of another chip");
  protected_ = std::move(bits);
}

void JedecChip::settle() {
  if (mode_ == Mode::Busy && log_.clock().now() >= busy_until_) mode_ = fails_ ? Mode::TimedOut : idle();
}

std::string JedecChip::where(std::uint32_t word) const {
  return "word " + hex32(word) + " (byte " + hex32(word * 2) + " of the chip)";
}

std::uint16_t JedecChip::read(std::uint32_t word) {
  settle();
  switch (mode_) {
    case Mode::Busy:
      log_.clock().chip_busy_until(busy_until_);
      return status_read(word);
    case Mode::TimedOut: return status_read(word);
    case Mode::BufferAborted: return status_read(word) | DQ1_BUFFER_ABORT;
    case Mode::Autoselect:
      switch (word & 0xFF) {
        case AUTOSELECT_MAKER: return model_.maker;
        case AUTOSELECT_DEVICE: return model_.device;
        case AUTOSELECT_PROTECT: return is_protected(model_.layout.block_at(word * 2)) ? 1 : 0;
        case AUTOSELECT_DEVICE_2: return model_.device_2;
        case AUTOSELECT_DEVICE_3: return model_.device_3;
        default: return 0;
      }
    case Mode::Query: {
      const std::uint32_t at_word = word & 0xFF;
      if (at_word < CFI_TABLE_START || at_word - CFI_TABLE_START >= model_.cfi.size()) return 0;
      return model_.cfi[at_word - CFI_TABLE_START];
    }
    default: return cells_[word];
  }
}

std::uint16_t JedecChip::status_read(std::uint32_t word) {
  toggle_ ^= DQ6_TOGGLE;
  const std::uint32_t byte = word * 2;
  if (erasing_ && byte >= sector_start_ && byte - sector_start_ < sector_bytes_) toggle_ ^= DQ2_TOGGLE;
  std::uint16_t status = toggle_;
  if (erasing_)
    status |= DQ3_ERASE_STARTED;  // DQ7 reads 0 until the erase ends
  else
    status |= static_cast<std::uint16_t>(~data_ & DQ7_POLL);
  if (mode_ == Mode::TimedOut) return status | DQ5_TIMEOUT;
  return status;
}

void JedecChip::abort_buffer(const std::string& why) {
  log_.misuse(name_, "write to buffer aborted: " + why + "; the chip shows DQ1 until the abort reset");
  mode_ = Mode::BufferAborted;
  abort_step_ = 0;
}

// The words of one buffer page, after the count: each must lie in the page
// of the first, and in the sector the sequence named.
void JedecChip::buffer_write(std::uint32_t word, std::uint16_t value) {
  const std::uint32_t page = model_.buffer_words;
  if (model_.layout.block_at(word * 2).start != buffer_sector_)
    return abort_buffer("word " + hex32(word) + " outside the sector");
  if (!buffer_.empty() && word / page != buffer_.front().first / page)
    return abort_buffer("word " + hex32(word) + " outside the buffer page of " + hex32(buffer_.front().first));
  buffer_.emplace_back(word, value);
  if (--buffer_left_ == 0) mode_ = Mode::BufferConfirm;
}

void JedecChip::program_buffer(std::uint32_t word, std::uint16_t value) {
  if (static_cast<std::uint8_t>(value) != JEDEC_BUFFER_CONFIRM ||
      model_.layout.block_at(word * 2).start != buffer_sector_)
    return abort_buffer(hex_short(value) + " at " + where(word) + " where 0x29 at the sector was due");
  bool fails = false;
  std::uint16_t last = 0;
  for (const auto& [at_word, data] : buffer_) {
    const std::uint16_t old = cells_[at_word];
    if (data & ~old) {
      log_.misuse(name_, "buffer program of " + hex_short(data) + " over " + hex_short(old) + " at " +
                             where(at_word) + " needs 0 bits to become 1: the chip times out (DQ5) until 0xF0");
      fails = true;
    }
    last = data;
  }
  const bool worn_out = worn(model_.layout.block_at(buffer_sector_), WEAR_PROGRAM);
  if (!worn_out)
    for (const auto& [at_word, data] : buffer_) cells_[at_word] &= data;
  ++ops_.programs;
  start(false, last, 0, 0, fails || worn_out, model_.times.buffer(static_cast<std::uint32_t>(buffer_.size())));
}

void JedecChip::start(bool erase, std::uint16_t data, std::uint32_t sector_start, std::uint32_t sector_bytes,
                      bool fails, SimTime duration) {
  erasing_ = erase;
  data_ = data;
  sector_start_ = sector_start;
  sector_bytes_ = sector_bytes;
  fails_ = fails;
  busy_until_ = log_.clock().now() + duration;
  toggle_ = 0;
  mode_ = Mode::Busy;
}

void JedecChip::abort_sequence(std::uint32_t word, std::uint16_t value) {
  log_.misuse(name_, "command sequence broken by " + hex_short(value) + " at " + where(word) +
                         "; back to read mode");
  mode_ = Mode::Read;
}

void JedecChip::program_word(std::uint32_t word, std::uint16_t value) {
  if (is_protected(model_.layout.block_at(word * 2))) {
    ++ops_.programs;
    return start(false, value, 0, 0, false, PROTECTED_PROGRAM_TIME);
  }
  const std::uint16_t old = cells_[word];
  const bool needs_ones = (value & ~old) != 0;
  const bool fails = needs_ones || worn(model_.layout.block_at(word * 2), WEAR_PROGRAM);
  if (!fails || needs_ones) cells_[word] = old & value;
  if (needs_ones)
    log_.misuse(name_, "program of " + hex_short(value) + " over " + hex_short(old) + " at " + where(word) +
                           " needs 0 bits to become 1: the chip times out (DQ5) until 0xF0");
  ++ops_.programs;
  start(false, value, 0, 0, fails, model_.times.word_program);
}

// In the unlock bypass the chip takes only its two-write program and the
// bypass reset, at any address.
void JedecChip::bypass_write(std::uint32_t word, std::uint16_t value) {
  const auto cmd = static_cast<std::uint8_t>(value);
  if (mode_ == Mode::BypassProgram) return program_word(word, value);
  if (mode_ == Mode::BypassReset) {
    if (cmd == JEDEC_BYPASS_RESET_2) {
      bypass_ = false;
      mode_ = Mode::Read;
      return;
    }
    log_.misuse(name_, hex_short(value) + " at " + where(word) + " where 0x00 was due after 0x90; still in the unlock bypass");
    mode_ = Mode::Bypass;
    return;
  }
  if (cmd == JEDEC_PROGRAM) mode_ = Mode::BypassProgram;
  else if (cmd == JEDEC_BYPASS_RESET) mode_ = Mode::BypassReset;
  else log_.misuse(name_, "write of " + hex_short(value) + " at " + where(word) +
                              " in the unlock bypass, which takes only 0xA0 and 0x90; ignored");
}

void JedecChip::write(std::uint32_t word, std::uint16_t value) {
  const auto cmd = static_cast<std::uint8_t>(value);
  settle();
  switch (mode_) {
    case Mode::Busy:
      log_.misuse(name_, "write of " + hex_short(value) + " at " + where(word) + " while the chip is busy; ignored");
      return;
    case Mode::TimedOut:
      // The reset ends the time-out; a chip in the unlock bypass stays in it
      if (cmd == JEDEC_RESET) {
        mode_ = idle();
        return;
      }
      log_.misuse(name_, "write of " + hex_short(value) + " after a time-out; only 0xF0 is taken");
      return;
    case Mode::BufferAborted:
      // The abort reset: 0xAA at 0x555, 0x55 at 0x2AA, 0xF0
      if (abort_step_ == 0 && cmd == JEDEC_UNLOCK1 && at(word, JEDEC_UNLOCK1_ADDR)) abort_step_ = 1;
      else if (abort_step_ == 1 && cmd == JEDEC_UNLOCK2 && at(word, JEDEC_UNLOCK2_ADDR)) abort_step_ = 2;
      else if (abort_step_ == 2 && cmd == JEDEC_RESET) mode_ = Mode::Read;
      else abort_step_ = 0;
      return;
    case Mode::BufferCount: {
      const std::uint32_t count = static_cast<std::uint32_t>(value) + 1;
      if (model_.layout.block_at(word * 2).start != buffer_sector_)
        return abort_buffer("count written outside the sector");
      if (count > model_.buffer_words)
        return abort_buffer("count of " + std::to_string(count) + " words, the buffer holds " +
                            std::to_string(model_.buffer_words));
      buffer_left_ = count;
      buffer_.clear();
      mode_ = Mode::BufferData;
      return;
    }
    case Mode::BufferData: return buffer_write(word, value);
    case Mode::BufferConfirm: return program_buffer(word, value);
    case Mode::Query:
      if (cmd == JEDEC_RESET) mode_ = Mode::Read;
      // Other writes leave the query mode as it is.
      return;
    case Mode::Read:
    case Mode::Autoselect:
      if (cmd == JEDEC_RESET) {
        mode_ = Mode::Read;
      } else if (cmd == CFI_QUERY && at(word, CFI_QUERY_ADDR) && !model_.cfi.empty()) {
        mode_ = Mode::Query;
      } else if (cmd == JEDEC_UNLOCK1 && at(word, JEDEC_UNLOCK1_ADDR)) {
        mode_ = Mode::Unlocked1;
      }
      // Any other write starts no sequence and the chip ignores it.
      return;
    case Mode::Unlocked1:
      if (cmd == JEDEC_UNLOCK2 && at(word, JEDEC_UNLOCK2_ADDR)) {
        mode_ = Mode::Unlocked2;
        return;
      }
      return abort_sequence(word, value);
    case Mode::Unlocked2:
      if (cmd == JEDEC_RESET) {
        mode_ = Mode::Read;
        return;
      }
      if (cmd == JEDEC_WRITE_BUFFER && model_.buffer_words) {
        buffer_sector_ = model_.layout.block_at(word * 2).start;
        mode_ = Mode::BufferCount;
        return;
      }
      if (!at(word, JEDEC_UNLOCK1_ADDR)) return abort_sequence(word, value);
      if (cmd == JEDEC_AUTOSELECT) mode_ = Mode::Autoselect;
      else if (cmd == JEDEC_PROGRAM) mode_ = Mode::ProgramData;
      else if (cmd == JEDEC_ERASE_SETUP) mode_ = Mode::Erase1;
      else if (cmd == JEDEC_UNLOCK_BYPASS && model_.unlock_bypass) bypass_ = true, mode_ = Mode::Bypass;
      else return abort_sequence(word, value);
      return;
    case Mode::ProgramData: return program_word(word, value);
    case Mode::Bypass:
    case Mode::BypassProgram:
    case Mode::BypassReset: return bypass_write(word, value);
    case Mode::Erase1:
      if (cmd == JEDEC_UNLOCK1 && at(word, JEDEC_UNLOCK1_ADDR)) {
        mode_ = Mode::Erase2;
        return;
      }
      return abort_sequence(word, value);
    case Mode::Erase2:
      if (cmd == JEDEC_UNLOCK2 && at(word, JEDEC_UNLOCK2_ADDR)) {
        mode_ = Mode::Erase3;
        return;
      }
      return abort_sequence(word, value);
    case Mode::Erase3:
      if (cmd == JEDEC_SECTOR_ERASE) {
        const Block b = model_.layout.block_at(word * 2);
        if (is_protected(b)) {
          ++ops_.erases;
          return start(true, 0, b.start, b.bytes, false, PROTECTED_ERASE_TIME);
        }
        const bool fails = worn(b, WEAR_ERASE);
        if (!fails) std::fill(cells_.begin() + b.start / 2, cells_.begin() + (b.start + b.bytes) / 2, 0xFFFF);
        ++ops_.erases;
        return start(true, 0, b.start, b.bytes, fails, model_.times.main_erase);
      }
      if (cmd == JEDEC_CHIP_ERASE && at(word, JEDEC_UNLOCK1_ADDR)) {
        // A worn sector keeps its cells, a protected one is skipped; the
        // others erase.
        bool fails = false;
        bool all_protected = true;
        for (std::uint32_t at_byte = 0; at_byte < model_.bytes();) {
          const Block b = model_.layout.block_at(at_byte);
          all_protected = all_protected && is_protected(b);
          if (worn(b, WEAR_ERASE) && !is_protected(b))
            fails = true;
          else if (!is_protected(b))
            std::fill(cells_.begin() + b.start / 2, cells_.begin() + (b.start + b.bytes) / 2, 0xFFFF);
          at_byte += b.bytes;
        }
        ++ops_.erases;
        if (all_protected) return start(true, 0, 0, model_.bytes(), false, PROTECTED_ERASE_TIME);
        // The sheets' typical chip erase is about every sector's erase in
        // turn (14 s for 19 sectors, 25 s for 35).
        return start(true, 0, 0, model_.bytes(), fails, model_.times.main_erase * model_.layout.block_count());
      }
      return abort_sequence(word, value);
  }
}

void JedecChip::save(StateWriter& out) const {
  out.blob({reinterpret_cast<const std::uint8_t*>(cells_.data()), cells_.size() * 2});
  out.u8(static_cast<std::uint8_t>(static_cast<std::uint8_t>(mode_) | (bypass_ ? MODE_IN_BYPASS : 0)));
  out.u64(busy_until_);
  out.u16(toggle_);
  out.u8(erasing_);
  out.u8(fails_);
  out.u16(data_);
  out.u32(sector_start_);
  out.u32(sector_bytes_);
  out.u32(buffer_sector_);
  out.u32(buffer_left_);
  out.u32(static_cast<std::uint32_t>(buffer_.size()));
  for (const auto& [at_word, data] : buffer_) {
    out.u32(at_word);
    out.u16(data);
  }
  out.u32(abort_step_);
}

void JedecChip::load(StateReader& in) {
  in.blob_into({reinterpret_cast<std::uint8_t*>(cells_.data()), cells_.size() * 2});
  const std::uint8_t saved = in.u8();
  const std::uint8_t mode = saved & ~MODE_IN_BYPASS;
  if (mode > static_cast<std::uint8_t>(Mode::BypassReset)) in.corrupt(name_ + ": unknown chip mode");
  mode_ = static_cast<Mode>(mode);
  bypass_ = (saved & MODE_IN_BYPASS) != 0;
  busy_until_ = in.u64();
  toggle_ = in.u16();
  erasing_ = in.u8() != 0;
  fails_ = in.u8() != 0;
  data_ = in.u16();
  sector_start_ = in.u32();
  sector_bytes_ = in.u32();
  buffer_sector_ = in.u32();
  buffer_left_ = in.u32();
  const std::uint32_t loaded = in.u32();
  if (loaded > model_.buffer_words || buffer_left_ > model_.buffer_words) in.corrupt(name_ + ": write buffer overfull");
  buffer_.clear();
  for (std::uint32_t i = 0; i < loaded; ++i) {
    const std::uint32_t at_word = in.u32();
    const std::uint16_t data = in.u16();
    if (at_word >= cells_.size()) in.corrupt(name_ + ": write buffer word outside the chip");
    buffer_.emplace_back(at_word, data);
  }
  abort_step_ = in.u32();
  const bool bypass_mode = mode_ == Mode::Bypass || mode_ == Mode::BypassProgram || mode_ == Mode::BypassReset;
  if (bypass_mode && !bypass_) in.corrupt(name_ + ": unlock bypass mode outside the bypass");
  if (bypass_ && !model_.unlock_bypass) in.corrupt(name_ + ": unlock bypass on a chip without one");
  // An algorithm ends some time after the clock's start.
  if (mode_ == Mode::Busy && busy_until_ == 0) in.corrupt(name_ + ": busy with no time left");
}

}  // namespace kartex
