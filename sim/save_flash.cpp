#include "sim/save_flash.h"

#include <algorithm>
#include <cstdio>

namespace kartex {

using namespace save;

namespace {

const FlashSaveModel MODELS[] = {
    {MAKER_1F, DEV_3D, 64 * KiB, true},
    {MAKER_BF, DEV_D4, 64 * KiB, false},
    {MAKER_C2, DEV_1C, 64 * KiB, false},
    {MAKER_32, DEV_1B, 64 * KiB, false},
    {MAKER_C2, DEV_09, 128 * KiB, false},
    {MAKER_62, DEV_13, 128 * KiB, false},
};

std::string addr_text(std::uint32_t addr) { return hex32(0x0E000000 | (addr & 0xFFFF)); }

bool at_cmd(std::uint32_t addr, std::uint32_t cmd_addr) { return (addr & FLASH_ADDR_MASK) == cmd_addr; }

}  // namespace

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
      cells_(image.empty() ? std::vector<std::uint8_t>(model.bytes, FLASH_ERASED) : std::move(image)) {
  char text[48];
  std::snprintf(text, sizeof text, "FLASH %u KiB (ID %02X/%02X)", model.bytes / KiB, model.maker, model.device);
  name_ = text;
}

std::uint8_t FlashSaveChip::status() {
  toggle_ ^= FLASH_DQ6_TOGGLE;
  std::uint8_t s = toggle_;
  s |= erasing_ ? FLASH_DQ3_ERASING : static_cast<std::uint8_t>(~data_ & FLASH_DQ7_POLL);
  if (--busy_reads_ == 0) mode_ = Mode::Read;
  return s;
}

std::uint8_t FlashSaveChip::read8(std::uint32_t addr, unsigned) {
  // A read ends the page's byte-load phase: the part starts writing.
  if (mode_ == Mode::PageLoad) page_commit();
  if (mode_ == Mode::Busy) return status();
  if (id_mode_) {
    switch (addr & 0xFF) {
      case 0: return model_.maker;
      case 1: return model_.device;
      default: return 0;
    }
  }
  return cells_[at(addr)];
}

void FlashSaveChip::start(bool erasing, std::uint8_t data, std::uint32_t reads) {
  erasing_ = erasing;
  data_ = data;
  busy_reads_ = reads;
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
  switch (mode_) {
    case Mode::Busy:
      log_.misuse(name_, "write of " + hex_short(value) + " at " + addr_text(addr) + " while the chip is busy; ignored");
      return;
    case Mode::Read:
      if (value == FLASH_RESET) {
        id_mode_ = false;
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
    case FLASH_ID_ENTER: id_mode_ = true; return;
    case FLASH_RESET: id_mode_ = false; return;
    case FLASH_ERASE_SETUP: mode_ = Mode::Erase1; return;
    case FLASH_PROGRAM:
      if (model_.page_program) {
        loaded_.fill(false);
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
    return start(true, 0, FLASH_BUSY_CHIP_ERASE);
  }
  if (cmd == FLASH_SECTOR_ERASE && !model_.page_program) {
    const std::size_t first = at(addr & ~(FLASH_SECTOR_BYTES - 1));
    std::fill_n(cells_.begin() + static_cast<std::ptrdiff_t>(first), FLASH_SECTOR_BYTES, FLASH_ERASED);
    return start(true, 0, FLASH_BUSY_SECTOR_ERASE);
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
  if (value & ~cell)
    log_.misuse(name_, "program of " + hex_short(value) + " over " + hex_short(cell) + " at " + addr_text(addr) +
                           " in bank " + std::to_string(bank_) + ": only bits that are 1 can be cleared");
  cell &= value;
  start(false, value, FLASH_BUSY_PROGRAM);
}

void FlashSaveChip::page_load(std::uint32_t addr, std::uint8_t value) {
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
  if (std::all_of(loaded_.begin(), loaded_.end(), [](bool b) { return b; })) page_commit();
}

void FlashSaveChip::page_commit() {
  // The part erases the page and writes it whole: bytes that were not
  // loaded come out erased.
  const auto n = std::count(loaded_.begin(), loaded_.end(), true);
  if (n < static_cast<std::ptrdiff_t>(FLASH_PAGE_BYTES))
    log_.misuse(name_, "page at " + addr_text(page_base_) + " written with " + std::to_string(n) +
                           " of 128 bytes loaded; the others are erased");
  for (std::uint32_t i = 0; i < FLASH_PAGE_BYTES; ++i) cells_[at(page_base_ + i)] = loaded_[i] ? page_[i] : FLASH_ERASED;
  start(false, data_, FLASH_BUSY_PAGE);
}

void FlashSaveChip::save(StateWriter& out) const {
  out.u8(model_.maker);
  out.u8(model_.device);
  out.blob(cells_);
  out.u8(static_cast<std::uint8_t>(mode_));
  out.u8(id_mode_);
  out.u8(static_cast<std::uint8_t>(bank_));
  out.u32(busy_reads_);
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
  chip->id_mode_ = in.u8() != 0;
  chip->bank_ = in.u8();
  chip->busy_reads_ = in.u32();
  chip->toggle_ = in.u8();
  chip->erasing_ = in.u8() != 0;
  chip->data_ = in.u8();
  chip->page_base_ = in.u32();
  in.blob_into(chip->page_);
  for (bool& b : chip->loaded_) b = in.u8() != 0;
  if (chip->bank_ * FLASH_BANK_BYTES >= model->bytes || chip->page_base_ >= WINDOW_BYTES ||
      (chip->mode_ == Mode::Busy && chip->busy_reads_ == 0))
    in.corrupt(chip->name_ + ": chip state out of range");
  return chip;
}

}  // namespace kartex
