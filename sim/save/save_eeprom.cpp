#include "sim/save/save_eeprom.h"

#include "sim/cart/cart_bus.h"
#include "sim/save/save_commands.h"

namespace kartex {

using namespace save;

EepromChip::EepromChip(std::uint32_t bytes, std::uint32_t rom_bytes, SimLog& log, std::vector<std::uint8_t> image)
    : rom_bytes_(rom_bytes),
      log_(log),
      cells_(image.empty() ? std::vector<std::uint8_t>(bytes, EEPROM_ERASED) : std::move(image)) {}

std::string EepromChip::name() const {
  return cells_.size() == EEPROM_512 ? "EEPROM 512 B" : "EEPROM " + std::to_string(cells_.size() / KiB) + " KiB";
}

unsigned EepromChip::address_bits() const { return cells_.size() == EEPROM_512 ? 6 : 14; }

bool EepromChip::answers_rom(std::uint32_t addr) const {
  // The cartridge sees the ROM offset only: which of the console's windows
  // made the access does not reach it.
  const std::uint32_t offset = addr & (CART_ROM_WINDOW - 1);
  if (rom_bytes_ <= EEPROM_SMALL_ROM_MAX) return (offset & EEPROM_SELECT_OFFSET) != 0;
  return offset >= EEPROM_TOP_OFFSET;
}

std::uint64_t EepromChip::block(std::uint32_t n) const {
  std::uint64_t v = 0;
  for (std::uint32_t i = 0; i < EEPROM_BLOCK_BYTES; ++i)
    v |= static_cast<std::uint64_t>(cells_[n * EEPROM_BLOCK_BYTES + i]) << (8 * i);
  return v;
}

std::uint16_t EepromChip::read16(std::uint32_t addr) {
  if (frame_ == Frame::Write) bus_released();
  frame_ = Frame::Read;
  unsigned bit = 1;  // idle and ready
  if (mode_ == Mode::Busy && log_.clock().now() >= busy_until_) mode_ = Mode::Idle;
  if (mode_ == Mode::Busy) {
    log_.clock().chip_busy_until(busy_until_);
    bit = 0;
  } else if (mode_ == Mode::Answer) {
    const std::uint32_t pos = out_pos_++;
    bit = pos < EEPROM_DUMMY_BITS ? 0 : (block(block_) >> (EEPROM_DATA_BITS - 1 - (pos - EEPROM_DUMMY_BITS))) & 1;
    if (out_pos_ == EEPROM_DUMMY_BITS + EEPROM_DATA_BITS) mode_ = Mode::Idle;
  }
  // Only data line 0 is driven; the others still hold the address.
  return static_cast<std::uint16_t>((rom_open_bus(addr) & ~1u) | bit);
}

void EepromChip::write16(std::uint32_t, std::uint16_t value) {
  if (frame_ == Frame::Read) bus_released();
  frame_ = Frame::Write;
  bits_.push_back(static_cast<std::uint8_t>(value & 1));
}

void EepromChip::bus_released() {
  if (frame_ == Frame::Write) end_write_frame();
  if (frame_ == Frame::Read && mode_ == Mode::Answer && out_pos_ > 0) {
    log_.misuse(name(), "read answer stopped after " + std::to_string(out_pos_) + " of 68 bits; the rest is lost");
    mode_ = Mode::Idle;
  }
  frame_ = Frame::None;
  bits_.clear();
}

std::uint32_t EepromChip::take_address(std::size_t from) const {
  std::uint32_t a = 0;
  for (unsigned i = 0; i < address_bits(); ++i) a = a << 1 | bits_[from + i];
  return a & static_cast<std::uint32_t>(cells_.size() / EEPROM_BLOCK_BYTES - 1);  // unused upper lines
}

void EepromChip::end_write_frame() {
  const std::size_t n = bits_.size();
  const unsigned a = address_bits();
  const std::size_t read_len = 2 + a + 1, write_len = 2 + a + EEPROM_DATA_BITS + 1;
  const std::string got = std::to_string(n) + "-bit stream";
  if (mode_ == Mode::Busy && log_.clock().now() >= busy_until_) mode_ = Mode::Idle;
  const unsigned request = n >= 2 ? static_cast<unsigned>(bits_[0] << 1 | bits_[1]) : 0;
  // Deselected before its request is whole, the part drops the frame as
  // if it had never begun. A single store anywhere the part is selected (a
  // mapper register write, another chip's identifier command) is such a
  // frame of one bit; so is a request of the shorter address width.
  const bool unfinished = n < 2 || (request == EEPROM_REQ_READ && n < read_len) ||
                          (request == EEPROM_REQ_WRITE && n < write_len);
  if (unfinished) {
    if (mode_ != Mode::Busy) mode_ = Mode::Idle;
    return;
  }
  if (mode_ == Mode::Busy) {
    log_.misuse(name(), got + " while a write is still in progress; ignored");
    return;
  }
  if (request == EEPROM_REQ_READ && n == read_len) {
    block_ = take_address(2);
    out_pos_ = 0;
    mode_ = Mode::Answer;
    return;
  }
  if (request == EEPROM_REQ_WRITE && n == write_len && bits_[n - 1] != EEPROM_WRITE_STOP) {
    log_.misuse(name(), "write request ending in 1; the part takes it only with the stop bit 0; ignored");
    mode_ = Mode::Idle;
    return;
  }
  if (request == EEPROM_REQ_WRITE && n == write_len) {
    const std::uint32_t b = take_address(2);
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < EEPROM_DATA_BITS; ++i) v = v << 1 | bits_[2 + a + i];
    for (std::uint32_t i = 0; i < EEPROM_BLOCK_BYTES; ++i)
      cells_[b * EEPROM_BLOCK_BYTES + i] = static_cast<std::uint8_t>(v >> (8 * i));
    busy_until_ = log_.clock().now() + EEPROM_WRITE_TIME;
    mode_ = Mode::Busy;
    return;
  }
  std::string what;
  if (request == EEPROM_REQ_READ)
    what = "read request of " + std::to_string(n) + " bits; this part takes " + std::to_string(read_len);
  else if (request == EEPROM_REQ_WRITE)
    what = "write request of " + std::to_string(n) + " bits; this part takes " + std::to_string(write_len);
  else
    what = got + " that is no request (it must begin 11 or 10)";
  log_.misuse(name(), what + "; ignored");
  mode_ = Mode::Idle;
}

void EepromChip::save(StateWriter& out) const {
  out.u32(rom_bytes_);
  out.blob(cells_);
  out.u8(static_cast<std::uint8_t>(mode_));
  out.u32(block_);
  out.u32(out_pos_);
  out.u64(busy_until_);
}

std::unique_ptr<SaveChip> EepromChip::load(StateReader& in, SimLog& log) {
  const std::uint32_t rom_bytes = in.u32();
  if (rom_bytes > 128u * 1024 * 1024) in.corrupt("EEPROM beside a ROM of " + std::to_string(rom_bytes) + " bytes");
  std::vector<std::uint8_t> cells = in.blob();
  if (cells.size() != EEPROM_512 && cells.size() != EEPROM_8K)
    in.corrupt("EEPROM of " + std::to_string(cells.size()) + " bytes");
  const auto bytes = static_cast<std::uint32_t>(cells.size());
  auto chip = std::make_unique<EepromChip>(bytes, rom_bytes, log, std::move(cells));
  const std::uint8_t mode = in.u8();
  chip->block_ = in.u32();
  chip->out_pos_ = in.u32();
  chip->busy_until_ = in.u64();
  // A write in progress ends a write time after it began, which was after
  // the clock's start.
  if (mode > static_cast<std::uint8_t>(Mode::Busy) || chip->block_ >= bytes / EEPROM_BLOCK_BYTES ||
      chip->out_pos_ > EEPROM_DUMMY_BITS + EEPROM_DATA_BITS ||
      (mode == static_cast<std::uint8_t>(Mode::Busy) && chip->busy_until_ < EEPROM_WRITE_TIME))
    in.corrupt(chip->name() + ": chip state out of range");
  chip->mode_ = static_cast<Mode>(mode);
  return chip;
}

}  // namespace kartex
