// The serial EEPROM as the cartridge wires it: busy for its write time on
// the console's clock (advanced by hand), a write request taken only with
// the stop bit 0, and a chip select that is address line A23 in every ROM
// window (only the top 256 bytes beside a ROM over 16 MiB), so that stray
// accesses there reach it too.

#include <gtest/gtest.h>

#include "sim/save/save_commands.h"
#include "sim/save/save_eeprom.h"
#include "tests/sim_save_support.h"

namespace kartex {
namespace {

using namespace savetest;
using namespace save;

struct EepBench : Bench {
  EepBench(std::uint32_t bytes, std::uint32_t rom_mib)
      : Bench(std::make_unique<EepromChip>(bytes, rom_mib << 20, sim.log()), nullptr, rom_mib) {}
  EepromChip& chip() { return dynamic_cast<EepromChip&>(cart->save_chip()); }
  unsigned ready(std::uint32_t at) { return bus().read(at, 2) & 1; }
  std::uint64_t read_block(std::uint32_t block, unsigned addr_bits, std::uint32_t at) {
    send_bits(read_request(block, addr_bits), at);
    const std::vector<int> bits = receive_bits(68, at);
    std::uint64_t v = 0;
    for (std::size_t i = 4; i < 68; ++i) v = v << 1 | static_cast<unsigned>(bits[i]);
    return v;
  }
};

TEST(SimSaveEepromTiming, AWriteIsBusyForItsWriteTimeAndNoLonger) {
  for (std::uint32_t bytes : {EEPROM_512, EEPROM_8K}) {
    SCOPED_TRACE(bytes);
    const unsigned addr_bits = bytes == EEPROM_512 ? 6 : 14;
    EepBench b(bytes, 4);
    b.send_bits(write_request(3, addr_bits, 0x0123456789ABCDEFull, EEPROM_WRITE_STOP));
    // The DMA's own bus cycles move the clock on: the write began when its
    // stream ended, now.
    const SimTime began = b.now();
    EXPECT_EQ(b.ready(EEPROM), 0u);
    b.send_bits(read_request(3, addr_bits));  // too early: refused
    EXPECT_EQ(b.new_misuses().size(), 1u);
    b.pass(began + EEPROM_WRITE_TIME - 1 - b.now());
    EXPECT_EQ(b.ready(EEPROM), 0u) << "one tick before the end";
    b.pass(1);
    EXPECT_EQ(b.ready(EEPROM), 1u);
    EXPECT_GT(EEPROM_WRITE_TIME, simtime::milliseconds(6));
    EXPECT_EQ(b.read_block(3, addr_bits, EEPROM), 0x0123456789ABCDEFull);
    EXPECT_EQ(b.read_block(2, addr_bits, EEPROM), ~0ull) << "the block before stays";
    EXPECT_EQ(b.read_block(4, addr_bits, EEPROM), ~0ull) << "the block after stays";
    EXPECT_EQ(b.new_misuses(), std::vector<std::string>{});
  }
}

TEST(SimSaveEepromTiming, AWriteRequestEndingInOneIsNotTaken) {
  EepBench b(EEPROM_8K, 4);
  b.send_bits(write_request(7, 14, 0x1111222233334444ull, 1));
  EXPECT_EQ(b.new_misuses().size(), 1u);
  EXPECT_EQ(b.ready(EEPROM), 1u) << "no write started";
  EXPECT_TRUE(std::all_of(b.chip().cells().begin(), b.chip().cells().end(),
                          [](std::uint8_t x) { return x == EEPROM_ERASED; }));
}

TEST(SimSaveEepromTiming, SelectedByA23InEveryWindow) {
  struct Case {
    std::uint32_t rom_mib;
    std::uint32_t at;  // where the request goes; streams run upward from it
    bool eeprom;
  };
  // One cartridge per ROM size; each case writes its own block.
  const Case cases[] = {
      {16, 0x09000000, true},  {16, 0x0B7FFF00, true},  {16, 0x0DFFFF00, true},  {16, 0x08FFFF00, false},
      {16, 0x0C000000, false}, {32, 0x09FFFF00, true},  {32, 0x0BFFFF00, true},  {32, 0x09FFFE00, false},
      {32, 0x0D000000, false}, {32, 0x0DFFFF00, true},
  };
  for (std::uint32_t mib : {16u, 32u}) {
    EepBench b(EEPROM_512, mib);
    std::uint32_t block = 0;
    for (const Case& c : cases) {
      if (c.rom_mib != mib) continue;
      SCOPED_TRACE(std::to_string(c.rom_mib) + " MiB ROM at " + hex32(c.at));
      ++block;
      b.send_bits(write_request(block, 6, 0xA5 + block, EEPROM_WRITE_STOP), c.at);
      b.pass(EEPROM_WRITE_TIME);
      if (c.eeprom) {
        EXPECT_EQ(b.read_block(block, 6, c.at), 0xA5u + block);
        EXPECT_EQ(b.chip().cells()[block * 8], 0xA5 + block);
        EXPECT_EQ(b.new_misuses(), std::vector<std::string>{});
      } else {
        EXPECT_EQ(b.chip().cells()[block * 8], EEPROM_ERASED);
        b.new_misuses();  // a mask ROM may name the stray writes
      }
    }
  }
}

TEST(SimSaveEepromTiming, StrayReadsBesideASmallRomSeeTheChipsReadyBit) {
  // Past a 16 MiB ROM an idle EEPROM drives data line 0 with its ready
  // bit; the other lines float with the address, as open bus does.
  EepBench b(EEPROM_512, 16);
  for (std::uint32_t at : {0x09000000u, 0x09000002u, 0x09ABCDE0u}) {
    const std::uint16_t open = static_cast<std::uint16_t>(((at & 0x01FFFFFF) >> 1) & 0xFFFF);
    EXPECT_EQ(b.bus().read(at, 2), static_cast<std::uint32_t>((open & ~1u) | 1u)) << hex32(at);
  }
  // Stray single stores are frames of one bit, dropped without a word.
  b.bus().write(0x096B592E, 2, 0x0001);
  EXPECT_EQ(b.new_misuses(), std::vector<std::string>{});
  EXPECT_EQ(b.ready(0x0D000000), 1u);
  // Below 16 MiB the ROM answers as before.
  EXPECT_EQ(b.bus().read(0x08FFFFFE, 2), b.bus().read(0x0CFFFFFE, 2));
}

}  // namespace
}  // namespace kartex
