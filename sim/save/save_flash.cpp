#include "sim/save/save_flash.h"

#include <algorithm>
#include <cstdio>

#include "sim/cart/cart_bus.h"

namespace kartex {

using namespace save;

namespace {

using simtime::microseconds;
using simtime::milliseconds;

// Busy times are typical figures; where a part's own data sheet is not at
// hand the figure is an estimate inside GBATEK's time-outs for the part
// (write, sector erase, chip erase: SST 10/40/200 ms, Macronix 10/2000/2000,
// Panasonic 10/500/500, Atmel 40 ms). Wait cycles are GBATEK's for writes
// and reads; the parts it gives none for take the 8 it asks for during
// identification.
const FlashSaveModel MODELS[] = {
    // 128-byte page-write flash (AT29LV-type data sheets): sector program
    // cycle 20 ms, software chip erase 20 ms; "pause 10 us" after entering
    // and leaving product identification.
    {MAKER_1F, DEV_3D, 64 * KiB, true, milliseconds(20), 0, milliseconds(20), 0, microseconds(10), 8, 8},
    // SST39VF-type data sheets: byte program 14 us, sector erase 18 ms,
    // chip erase 70 ms typical; software ID access and exit time 150 ns.
    {MAKER_BF, DEV_D4, 64 * KiB, false, microseconds(14), milliseconds(18), milliseconds(70), 0,
     simtime::cycles(3), 3, 2},
    // Macronix MX29-type: byte program 7 us typical; erase times estimated;
    // status bit 5 marks an operation past its limit, which only the reset
    // command 0xF0 ends (GBATEK: "terminate command after timeout").
    {MAKER_C2, DEV_1C, 64 * KiB, false, microseconds(7), milliseconds(100), milliseconds(1000), milliseconds(1), 0,
     8, 3},
    // No data sheet: estimates.
    {MAKER_32, DEV_1B, 64 * KiB, false, microseconds(10), milliseconds(50), milliseconds(100), 0, 0, 4, 2},
    {MAKER_C2, DEV_09, 128 * KiB, false, microseconds(7), milliseconds(100), milliseconds(1000), milliseconds(1), 0,
     8, 8},
    {MAKER_62, DEV_13, 128 * KiB, false, microseconds(10), milliseconds(50), milliseconds(100), 0, 0, 8, 8},
};

std::string addr_text(std::uint32_t addr) { return hex32(0x0E000000 | (addr & 0xFFFF)); }

bool at_cmd(std::uint32_t addr, std::uint32_t cmd_addr) { return (addr & FLASH_ADDR_MASK) == cmd_addr; }

}  // namespace

FlashSaveModel at_max_times(const FlashSaveModel& model) {
  // The SST39VF-type sheet's maximum column: byte program 20 us, sector
  // erase 25 ms, chip erase 100 ms; the AT29LV-type's write cycle is at
  // most its 20 ms already. Other parts, without their maximum columns at
  // hand: three times the typical figure, inside GBATEK's time-outs.
  FlashSaveModel slow = model;
  if (model.maker == MAKER_BF) {
    slow.program = microseconds(20);
    slow.sector_erase = milliseconds(25);
    slow.chip_erase = milliseconds(100);
  } else if (!model.page_program) {
    slow.program = 3 * model.program;
    slow.sector_erase = 3 * model.sector_erase;
    slow.chip_erase = std::min(3 * model.chip_erase, milliseconds(2000));
  }
  return slow;
}

std::optional<FlashSaveModel> find_flash_save_model(std::uint8_t maker, std::uint8_t device) {
  for (const FlashSaveModel& m : MODELS)
    if (m.maker == maker && m.device == device) return m;
  return std::nullopt;
}

std::string flash_save_models_help() {
  std::string text;
  for (const FlashSaveModel& m : MODELS) {
    char line[96];
    std::snprintf(line, sizeof line, "  %s:%02x%02x  %u KiB%s\n", m.bytes > 64 * KiB ? "flash128k" : "flash64k",
                  m.maker, m.device, m.bytes / KiB,
                  m.page_program ? ", 128-byte page program without erase" : ", 4 KiB sector erase, byte program");
    text += line;
  }
  return text;
}

FlashSaveChip::FlashSaveChip(const FlashSaveModel& model, SimLog& log, std::vector<std::uint8_t> image)
    : model_(model),
      log_(log),
      cells_(image.empty() ? std::vector<std::uint8_t>(model.bytes, FLASH_ERASED) : std::move(image)),
      wear_(model.bytes / FLASH_SECTOR_BYTES) {
  char text[48];
  std::snprintf(text, sizeof text, "FLASH %u KiB (ID %02X/%02X)", model.bytes / KiB, model.maker, model.device);
  name_ = text;
}

void FlashSaveChip::set_save_wait(unsigned cycles) {
  if (cycles != save_wait_) warned_read_ = warned_write_ = false;
  save_wait_ = cycles;
}

bool FlashSaveChip::too_fast(unsigned needed, bool& warned, const char* access) {
  if (save_wait_ == 0 || save_wait_ >= needed) return false;
  if (!warned)
    log_.misuse(name_, std::string(access) + " with " + std::to_string(save_wait_) +
                           " wait cycles (WAITCNT); this part needs " + std::to_string(needed) +
                           (access[0] == 'r' ? ": the data is not settled yet" : ": the part latches nothing"));
  warned = true;
  return true;
}

void FlashSaveChip::set_id_mode(bool on) {
  id_before_ = id_mode();
  id_target_ = on;
  id_at_ = now() + model_.id_latency;
}

void FlashSaveChip::settle() {
  if (mode_ == Mode::PageLoad && std::count(loaded_.begin(), loaded_.end(), true) > 0 &&
      now() >= last_load_ + FLASH_PAGE_LOAD_WINDOW)
    page_commit(last_load_ + FLASH_PAGE_LOAD_WINDOW);
  if (mode_ == Mode::Busy && !failed_ && now() >= busy_until_) mode_ = Mode::Read;
}

std::uint8_t FlashSaveChip::status() {
  toggle_ ^= FLASH_DQ6_TOGGLE;
  std::uint8_t s = toggle_;
  s |= erasing_ ? FLASH_DQ3_ERASING : static_cast<std::uint8_t>(~data_ & FLASH_DQ7_POLL);
  if (failed_ && now() >= busy_until_) s |= FLASH_DQ5_TIMEOUT;
  return s;
}

std::uint8_t FlashSaveChip::read8(std::uint32_t addr, unsigned) {
  settle();
  if (too_fast(model_.read_wait, warned_read_, "read")) return CART_SAVE_OPEN_BUS;
  if (mode_ == Mode::Busy) {
    if (now() < busy_until_) log_.clock().chip_busy_until(busy_until_);
    return status();
  }
  if (id_mode()) {
    switch (addr & 0xFF) {
      case 0: return model_.maker;
      case 1: return model_.device;
      default: return 0;
    }
  }
  return cells_[at(addr)];
}

void FlashSaveChip::start(bool erasing, std::uint8_t data, SimTime from, SimTime duration) {
  erasing_ = erasing;
  data_ = data;
  busy_until_ = from + duration;
  toggle_ = 0;
  mode_ = Mode::Busy;
}

void FlashSaveChip::abort(std::uint32_t addr, std::uint8_t value, const char* expected) {
  log_.misuse(name_, "command sequence broken by " + hex_short(value) + " at " + addr_text(addr) + " (expected " +
                         expected + "); back to read mode");
  mode_ = Mode::Read;
}

void FlashSaveChip::write8(std::uint32_t addr, std::uint8_t value, unsigned) {
  addr &= WINDOW_BYTES - 1;
  settle();
  if (too_fast(model_.write_wait, warned_write_, "write")) return;
  switch (mode_) {
    case Mode::Busy:
      if (failed_ && value == FLASH_RESET) {
        // The reset command is the only way out of a failed operation.
        failed_ = false;
        mode_ = Mode::Read;
        return;
      }
      log_.misuse(name_, "write of " + hex_short(value) + " at " + addr_text(addr) + " while the chip is busy; ignored");
      return;
    case Mode::Read:
      if (value == FLASH_RESET) {
        if (id_target_) set_id_mode(false);
      } else if (value == FLASH_UNLOCK1 && at_cmd(addr, FLASH_UNLOCK1_ADDR)) {
        mode_ = Mode::Unlocked1;
      }
      // Any other write starts no command and the part ignores it.
      return;
    case Mode::Unlocked1:
      if (value == FLASH_UNLOCK2 && at_cmd(addr, FLASH_UNLOCK2_ADDR)) {
        mode_ = Mode::Unlocked2;
        return;
      }
      return abort(addr, value, "0x55 at 0x0E002AAA");
    case Mode::Unlocked2: return command(addr, value);
    case Mode::Program: return program(addr, value);
    case Mode::PageLoad: return page_load(addr, value);
    case Mode::Erase1:
      if (value == FLASH_UNLOCK1 && at_cmd(addr, FLASH_UNLOCK1_ADDR)) {
        mode_ = Mode::Erase2;
        return;
      }
      return abort(addr, value, "0xAA at 0x0E005555 after the erase set-up");
    case Mode::Erase2:
      if (value == FLASH_UNLOCK2 && at_cmd(addr, FLASH_UNLOCK2_ADDR)) {
        mode_ = Mode::Erase3;
        return;
      }
      return abort(addr, value, "0x55 at 0x0E002AAA after the erase set-up");
    case Mode::Erase3: return erase_command(addr, value);
    case Mode::BankSelect:
      if (addr != 0) return abort(addr, value, "the bank number at 0x0E000000");
      if (value > 1) log_.misuse(name_, "bank number " + hex_short(value) + ": the part decodes bit 0 only");
      bank_ = value & 1u;
      mode_ = Mode::Read;
      return;
  }
}

void FlashSaveChip::command(std::uint32_t addr, std::uint8_t cmd) {
  if (!at_cmd(addr, FLASH_UNLOCK1_ADDR)) return abort(addr, cmd, "a command byte at 0x0E005555");
  mode_ = Mode::Read;
  switch (cmd) {
    case FLASH_ID_ENTER: set_id_mode(true); return;
    case FLASH_RESET:
      if (id_target_) set_id_mode(false);
      return;
    case FLASH_ERASE_SETUP: mode_ = Mode::Erase1; return;
    case FLASH_PROGRAM:
      if (model_.page_program) {
        loaded_.fill(false);
        last_load_ = now();
        mode_ = Mode::PageLoad;
      } else {
        mode_ = Mode::Program;
      }
      return;
    case FLASH_BANK_SWITCH:
      if (model_.bytes > FLASH_BANK_BYTES) {
        mode_ = Mode::BankSelect;
        return;
      }
      break;
    default: break;
  }
  log_.misuse(name_, "command " + hex_short(cmd) + " is not in this part's command set; back to read mode");
}

void FlashSaveChip::erase_command(std::uint32_t addr, std::uint8_t cmd) {
  if (cmd == FLASH_CHIP_ERASE && at_cmd(addr, FLASH_UNLOCK1_ADDR)) {
    std::fill(cells_.begin(), cells_.end(), FLASH_ERASED);
    for (SectorWear& w : wear_) ++w.erases;
    return start(true, 0, now(), model_.chip_erase);
  }
  if (cmd == FLASH_SECTOR_ERASE && !model_.page_program) {
    const std::size_t first = at(addr & ~(FLASH_SECTOR_BYTES - 1));
    std::fill_n(cells_.begin() + static_cast<std::ptrdiff_t>(first), FLASH_SECTOR_BYTES, FLASH_ERASED);
    ++wear_.at(first / FLASH_SECTOR_BYTES).erases;
    return start(true, 0, now(), model_.sector_erase);
  }
  if (cmd == FLASH_SECTOR_ERASE) {
    log_.misuse(name_, "sector erase at " + addr_text(addr) + ": this part has no sector erase; back to read mode");
    mode_ = Mode::Read;
    return;
  }
  abort(addr, cmd, "0x30 in a sector or 0x10 at 0x0E005555");
}

void FlashSaveChip::program(std::uint32_t addr, std::uint8_t value) {
  std::uint8_t& cell = cells_[at(addr)];
  ++wear_.at(at(addr) / FLASH_SECTOR_BYTES).programs;
  const bool impossible = (value & ~cell) != 0;
  if (impossible)
    log_.misuse(name_, "program of " + hex_short(value) + " over " + hex_short(cell) + " at " + addr_text(addr) +
                           " in bank " + std::to_string(bank_) + ": only bits that are 1 can be cleared" +
                           (model_.time_limit ? "; the part keeps trying until its time limit" : ""));
  // A faulty cell stays as it was, and the part still reports the byte
  // written: only a read-back finds it.
  if (!fault_hits(at(addr))) cell &= value;
  // A part with a time limit never sees the byte verify: it stays busy,
  // shows bit 5 once the limit has passed, and waits for the reset command.
  failed_ = impossible && model_.time_limit != 0;
  start(false, value, now(), failed_ ? model_.time_limit : model_.program);
}

void FlashSaveChip::page_load(std::uint32_t addr, std::uint8_t value) {
  // Every write inside the window is a byte load, a command's bytes too,
  // and keeps the window open.
  last_load_ = now();
  const bool first = std::none_of(loaded_.begin(), loaded_.end(), [](bool b) { return b; });
  if (first) page_base_ = addr & ~(FLASH_PAGE_BYTES - 1);
  if ((addr & ~(FLASH_PAGE_BYTES - 1)) != page_base_) {
    log_.misuse(name_, "page data " + hex_short(value) + " at " + addr_text(addr) + " outside the page at " +
                           addr_text(page_base_) + "; ignored");
    return;
  }
  page_[addr & (FLASH_PAGE_BYTES - 1)] = value;
  loaded_[addr & (FLASH_PAGE_BYTES - 1)] = true;
  data_ = value;
}

void FlashSaveChip::page_commit(SimTime at_time) {
  // The part erases the page and writes it whole: bytes that were not
  // loaded come out erased.
  const auto n = std::count(loaded_.begin(), loaded_.end(), true);
  if (n < static_cast<std::ptrdiff_t>(FLASH_PAGE_BYTES))
    log_.misuse(name_, "page at " + addr_text(page_base_) + " written with " + std::to_string(n) +
                           " of 128 bytes loaded; the others are erased");
  ++wear_.at(at(page_base_) / FLASH_SECTOR_BYTES).programs;
  if (!fault_hits(at(page_base_)))
    for (std::uint32_t i = 0; i < FLASH_PAGE_BYTES; ++i) cells_[at(page_base_ + i)] = loaded_[i] ? page_[i] : FLASH_ERASED;
  loaded_.fill(false);
  start(false, data_, at_time, model_.program);
}

bool FlashSaveChip::fault_hits(std::size_t index) {
  for (SaveFault& fault : faults_) {
    if (fault.sector != index / FLASH_SECTOR_BYTES || fault.times == 0) continue;
    if (fault.times != SaveFault::EVERY) --fault.times;
    return true;
  }
  return false;
}

void FlashSaveChip::save(StateWriter& out) const {
  out.u8(model_.maker);
  out.u8(model_.device);
  out.blob(cells_);
  out.u8(static_cast<std::uint8_t>(mode_));
  out.u8(id_before_);
  out.u8(id_target_);
  out.u64(id_at_);
  out.u8(static_cast<std::uint8_t>(bank_));
  out.u64(busy_until_);
  out.u8(failed_);
  out.u64(last_load_);
  out.u8(toggle_);
  out.u8(erasing_);
  out.u8(data_);
  out.u32(page_base_);
  out.blob(page_);
  for (bool b : loaded_) out.u8(b);
}

std::unique_ptr<SaveChip> FlashSaveChip::load(StateReader& in, SimLog& log) {
  const std::uint8_t maker = in.u8(), device = in.u8();
  const std::optional<FlashSaveModel> model = find_flash_save_model(maker, device);
  if (!model) in.corrupt("unknown FLASH save chip " + hex_short(maker) + "/" + hex_short(device));
  auto chip = std::make_unique<FlashSaveChip>(*model, log);
  in.blob_into(chip->cells_);
  const std::uint8_t mode = in.u8();
  if (mode > static_cast<std::uint8_t>(Mode::Busy)) in.corrupt(chip->name_ + ": unknown chip mode");
  chip->mode_ = static_cast<Mode>(mode);
  chip->id_before_ = in.u8() != 0;
  chip->id_target_ = in.u8() != 0;
  chip->id_at_ = in.u64();
  chip->bank_ = in.u8();
  chip->busy_until_ = in.u64();
  chip->failed_ = in.u8() != 0;
  chip->last_load_ = in.u64();
  chip->toggle_ = in.u8();
  chip->erasing_ = in.u8() != 0;
  chip->data_ = in.u8();
  chip->page_base_ = in.u32();
  in.blob_into(chip->page_);
  for (bool& b : chip->loaded_) b = in.u8() != 0;
  // An operation in progress began after the clock's start, so it cannot
  // end before its own duration.
  const SimTime shortest = std::min({model->program, model->page_program ? model->program : model->sector_erase,
                                     model->chip_erase, model->time_limit ? model->time_limit : model->program});
  if (chip->bank_ * FLASH_BANK_BYTES >= model->bytes || chip->page_base_ >= WINDOW_BYTES ||
      (chip->mode_ == Mode::Busy && chip->busy_until_ < shortest) || (chip->failed_ && chip->mode_ != Mode::Busy))
    in.corrupt(chip->name_ + ": chip state out of range");
  return chip;
}

}  // namespace kartex
