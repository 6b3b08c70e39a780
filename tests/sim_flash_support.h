#pragma once
// A flash ROM built from a chip= row, driven by ROM offset, for the chip
// model tests.

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/cart/flash_commands.h"
#include "sim/cart/flash_rom.h"

namespace kartex::flashtest {

inline const RomOption& option(const std::string& label) {
  const RomOption* o = find_rom_option(label);
  if (!o) throw std::runtime_error("no chip " + label);
  return *o;
}

struct TestRom {
  SimLog log;
  FlashRom rom;

  explicit TestRom(const std::string& label, std::uint32_t mib = 0, std::span<const std::uint8_t> contents = {})
      : TestRom(option(label), mib, contents) {}
  explicit TestRom(const RomOption& o, std::uint32_t mib = 0, std::span<const std::uint8_t> contents = {})
      : rom(o, mib ? mib : o.sizes_mib.front(), contents, log) {}

  std::uint16_t rd(std::uint32_t offset) { return rom.read16(offset); }
  void wr(std::uint32_t offset, std::uint16_t value) { rom.write16(offset, value); }

  SimTime now() { return log.clock().now(); }
  void pass(SimTime t) { log.clock().advance(t); }

  // Status reads at `offset` until bit 7 is set, the console's clock moving
  // on POLL after each busy one; the number of busy reads.
  unsigned wait_ready(std::uint32_t offset) {
    for (unsigned n = 0; n < POLLS; ++n) {
      if (rd(offset) & flash::SR_READY) return n;
      pass(POLL);
    }
    ADD_FAILURE() << "never ready at " << std::hex << offset;
    return POLLS;
  }
  // JEDEC: reads until DQ6 stops toggling; the number of toggling pairs.
  unsigned wait_toggle(std::uint32_t offset) {
    for (unsigned n = 0; n < POLLS; ++n) {
      if (((rd(offset) ^ rd(offset)) & flash::DQ6_TOGGLE) == 0) return n;
      pass(POLL);
    }
    ADD_FAILURE() << "DQ6 never stopped at " << std::hex << offset;
    return POLLS;
  }
  // A poll's step and the most a wait takes: 30 s, beyond every erase.
  static constexpr SimTime POLL = simtime::microseconds(10);
  static constexpr unsigned POLLS = 3'000'000;
  void jedec(std::uint8_t command) {
    wr(0xAAA, flash::JEDEC_UNLOCK1);
    wr(0x554, flash::JEDEC_UNLOCK2);
    wr(0xAAA, command);
  }
  // The chip holding `offset` erases the block there; back to read mode.
  void erase(std::uint32_t offset) {
    if (rom.option().chip->family == FlashFamily::Jedec) {
      jedec(flash::JEDEC_ERASE_SETUP);
      wr(0xAAA, flash::JEDEC_UNLOCK1);
      wr(0x554, flash::JEDEC_UNLOCK2);
      wr(offset, flash::JEDEC_SECTOR_ERASE);
      wait_toggle(offset);
      return;
    }
    wr(offset, flash::CMD_BLOCK_ERASE);
    wr(offset, flash::CMD_CONFIRM);
    wait_ready(offset);
    wr(offset, flash::CMD_READ_ARRAY);
  }
  void program(std::uint32_t offset, std::uint16_t value) {
    if (rom.option().chip->family == FlashFamily::Jedec) {
      jedec(flash::JEDEC_PROGRAM);
      wr(offset, value);
      wait_toggle(offset);
      return;
    }
    wr(offset, flash::CMD_WORD_PROGRAM);
    wr(offset, value);
    wait_ready(offset);
    wr(offset, flash::CMD_READ_ARRAY);
  }
  void unlock_block(std::uint32_t offset) {
    wr(offset, flash::CMD_LOCK_SETUP);
    wr(offset, flash::CMD_CONFIRM);
    wr(offset, flash::CMD_READ_ARRAY);
  }
};

}  // namespace kartex::flashtest
