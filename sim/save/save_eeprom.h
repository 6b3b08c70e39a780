#pragma once
// Serial EEPROM of 512 bytes (6-bit block addresses) or 8 KiB (14-bit,
// the upper 4 unused), on data line 0 of the ROM bus. Its chip select is
// address line A23 (beside a ROM over 16 MiB: A7-A23 all high), so it
// answers in every ROM window, and any access there reaches it. The chip
// is selected for one bus burst at a time: a DMA transfer is one frame of
// bits, a single CPU access is a frame of one. A write frame is a request:
// "11", the address, "0" (read request; the next read frame gives 4 dummy
// bits and the 64 data bits, most significant first), or "10", the
// address, 64 data bits, "0" (write; the chip then reads 0 on bit 0 for
// its write time, 1 when ready). A frame of another length or with
// another stop bit is ignored and logged.

#include <vector>

#include "sim/cart/cart_bus.h"
#include "sim/save/save_chip.h"

namespace kartex {

class EepromChip : public SaveChip {
 public:
  // `bytes`: save::EEPROM_512 or EEPROM_8K. `rom_bytes`: the cartridge's ROM
  // size, which decides the addresses that select the chip. `image`: the
  // blocks, each its 64-bit number least significant byte first; empty:
  // erased.
  EepromChip(std::uint32_t bytes, std::uint32_t rom_bytes, SimLog& log, std::vector<std::uint8_t> image = {});

  std::string name() const override;
  std::string kind() const override { return "eeprom"; }
  std::uint8_t read8(std::uint32_t, unsigned) override { return CART_SAVE_OPEN_BUS; }
  void write8(std::uint32_t, std::uint8_t, unsigned) override {}
  bool answers_rom(std::uint32_t addr) const override;
  std::uint16_t read16(std::uint32_t addr) override;
  void write16(std::uint32_t addr, std::uint16_t value) override;
  void bus_released() override;
  void save(StateWriter& out) const override;
  static std::unique_ptr<SaveChip> load(StateReader& in, SimLog& log);

  const std::vector<std::uint8_t>& cells() const { return cells_; }

 private:
  enum class Mode : std::uint8_t { Idle, Answer, Busy };
  enum class Frame : std::uint8_t { None, Write, Read };

  unsigned address_bits() const;
  std::uint64_t block(std::uint32_t n) const;
  void end_write_frame();
  std::uint32_t take_address(std::size_t from) const;

  std::uint32_t rom_bytes_;
  SimLog& log_;
  std::vector<std::uint8_t> cells_;
  Mode mode_ = Mode::Idle;
  Frame frame_ = Frame::None;
  std::vector<std::uint8_t> bits_;  // the bits of the write frame so far
  std::uint32_t block_ = 0;         // latched by a read request
  std::uint32_t out_pos_ = 0;       // answer bits given
  SimTime busy_until_ = 0;          // end of the write in progress (Busy)
};

}  // namespace kartex
