// Serial EEPROM through DMA3 bit streams at 0x0D000000, as the console
// drives it: request formats, 6- and 14-bit addresses by size, the bit
// order of a block, the 4 dummy bits before the data, the ready bit after
// a write, the addresses that select the chip beside small and large ROMs,
// and streams of the wrong length.

#include <gtest/gtest.h>

#include "sim/save/save_commands.h"
#include "sim/save/save_eeprom.h"
#include "tests/sim_save_support.h"

namespace kartex {
namespace {

using namespace savetest;
using namespace save;

struct EepromBench : Bench {
  explicit EepromBench(std::uint32_t bytes, std::vector<std::uint8_t> image = {}, std::uint32_t rom_mib = 4)
      : Bench(std::make_unique<EepromChip>(bytes, rom_mib << 20, sim.log(), std::move(image)), nullptr, rom_mib) {}

  EepromChip& chip() { return dynamic_cast<EepromChip&>(cart->save_chip()); }

  // CPU reads of the ready bit every 100 us until it is 1; how many read 0.
  unsigned busy_reads(std::uint32_t at = EEPROM) {
    unsigned zeros = 0;
    while ((bus().read(at, 2) & 1) == 0 && zeros < 100000) {
      ++zeros;
      pass(simtime::microseconds(100));
    }
    return zeros;
  }

  std::uint64_t read_block(std::uint32_t block, unsigned addr_bits, std::uint32_t at = EEPROM) {
    send_bits(read_request(block, addr_bits), at);
    const std::vector<int> bits = receive_bits(68, at);
    std::uint64_t v = 0;
    for (std::size_t i = 4; i < 68; ++i) v = v << 1 | static_cast<unsigned>(bits[i]);
    return v;
  }
};

TEST(SimSaveEeprom, WriteThenReadEachSizeWithItsAddressWidth) {
  struct Case {
    std::uint32_t bytes;
    unsigned addr_bits;
    std::uint32_t block;
  };
  const Case cases[] = {{EEPROM_512, 6, 0}, {EEPROM_512, 6, 0x3F}, {EEPROM_512, 6, 0x15},
                        {EEPROM_8K, 14, 0}, {EEPROM_8K, 14, 0x3FF}, {EEPROM_8K, 14, 0x240}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bytes) + " bytes, block " + std::to_string(c.block));
    EepromBench b(c.bytes);
    const std::uint64_t v = 0x8123456789ABCD01ull;
    b.send_bits(write_request(c.block, c.addr_bits, v));
    EXPECT_GT(b.busy_reads(), 0u) << "the write takes time";
    EXPECT_EQ(b.read_block(c.block, c.addr_bits), v);
    // The first bit on the wire is the number's top bit, kept as bit 7 of
    // the block's last byte.
    const auto& cells = b.chip().cells();
    EXPECT_EQ(cells[c.block * 8 + 7], 0x81);
    EXPECT_EQ(cells[c.block * 8 + 0], 0x01);
    std::vector<std::uint8_t> rest = cells;
    rest.erase(rest.begin() + c.block * 8, rest.begin() + c.block * 8 + 8);
    EXPECT_TRUE(std::all_of(rest.begin(), rest.end(), [](std::uint8_t x) { return x == EEPROM_ERASED; }))
        << "only the addressed block changes";
    b.expect_no_misuse();
  }
}

TEST(SimSaveEeprom, ReadAnswerIsFourDummyBitsThenTheDataMostSignificantFirst) {
  std::vector<std::uint8_t> image(EEPROM_512, 0);
  for (int i = 0; i < 8; ++i) image[3 * 8 + i] = static_cast<std::uint8_t>(1 << i);  // byte i has bit i
  EepromBench b(EEPROM_512, image);
  b.send_bits(read_request(3, 6));
  const std::vector<int> bits = b.receive_bits(68);
  EXPECT_EQ(std::vector<int>(bits.begin(), bits.begin() + 4), (std::vector<int>{0, 0, 0, 0}));
  std::vector<int> want;
  for (int byte = 7; byte >= 0; --byte)
    for (int bit = 7; bit >= 0; --bit) want.push_back(bit == byte ? 1 : 0);
  EXPECT_EQ(std::vector<int>(bits.begin() + 4, bits.end()), want);
  EXPECT_EQ(b.bus().read(EEPROM, 2) & 1, 1u) << "after the answer the chip reads ready";
  b.expect_no_misuse();
}

TEST(SimSaveEeprom, FourteenBitAddressesUseTheLowTenBits) {
  EepromBench b(EEPROM_8K);
  b.send_bits(write_request(0x2005, 14, 0x1122334455667788ull));
  b.busy_reads();
  EXPECT_EQ(b.read_block(5, 14), 0x1122334455667788ull);
  b.expect_no_misuse();
}

TEST(SimSaveEeprom, RequestsWhileBusyAreIgnored) {
  EepromBench b(EEPROM_512);
  b.send_bits(write_request(1, 6, 0x0102030405060708ull));
  b.send_bits(write_request(2, 6, 0));  // too early: the first write is still in progress
  EXPECT_EQ(b.new_misuses().size(), 1u);
  b.busy_reads();
  EXPECT_EQ(b.read_block(2, 6), ~0ull);
  EXPECT_EQ(b.read_block(1, 6), 0x0102030405060708ull);
}

TEST(SimSaveEeprom, WrongStreamsAreLoggedAndChangeNothing) {
  struct Case {
    const char* name;
    std::uint32_t bytes;
    std::vector<int> bits;
  };
  const Case cases[] = {
      {"14-bit read on the 512-byte part", EEPROM_512, read_request(0x40, 14)},
      {"14-bit write on the 512-byte part", EEPROM_512, write_request(0x40, 14, 0)},
      {"stream beginning 0", EEPROM_512, {0, 1, 1, 0, 0, 0, 0, 0, 0}},
      {"two bits beginning 0", EEPROM_8K, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EepromBench b(c.bytes);
    b.send_bits(c.bits);
    EXPECT_EQ(b.new_misuses().size(), 1u);
    EXPECT_EQ(b.busy_reads(), 0u) << "no write started";
    EXPECT_TRUE(std::all_of(b.chip().cells().begin(), b.chip().cells().end(),
                            [](std::uint8_t x) { return x == EEPROM_ERASED; }));
  }
}

TEST(SimSaveEeprom, StreamsCutShortAreDroppedQuietly) {
  struct Case {
    const char* name;
    std::uint32_t bytes;
    std::vector<int> bits;
  };
  std::vector<int> half_write = write_request(3, 6, 0);
  half_write.resize(40);
  const Case cases[] = {
      {"one bit 1 on the 512-byte part", EEPROM_512, {1}},
      {"one bit 0 on the 8 KiB part", EEPROM_8K, {0}},
      {"6-bit read on the 8 KiB part", EEPROM_8K, read_request(0, 6)},
      {"6-bit write on the 8 KiB part", EEPROM_8K, write_request(0, 6, 0)},
      {"write cut after 40 bits", EEPROM_512, half_write},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EepromBench b(c.bytes);
    b.send_bits(c.bits);
    b.expect_no_misuse();
    EXPECT_EQ(b.busy_reads(), 0u) << "no write started";
    EXPECT_EQ(b.bus().read(EEPROM, 2) & 1, 1u) << "the part reads idle";
    EXPECT_TRUE(std::all_of(b.chip().cells().begin(), b.chip().cells().end(),
                            [](std::uint8_t x) { return x == EEPROM_ERASED; }));
  }
}

TEST(SimSaveEeprom, CpuStoresAreFramesOfOneBitThatThePartDrops) {
  // Without DMA the cartridge is deselected after every access, so a
  // request sent by single stores never arrives whole; each store is a
  // frame cut short before a request code, which the part drops quietly.
  EepromBench b(EEPROM_512);
  for (int bit : write_request(0, 6, 0)) b.bus().write(EEPROM, 2, static_cast<std::uint32_t>(bit));
  b.expect_no_misuse();
  EXPECT_EQ(b.busy_reads(), 0u) << "no write started";
  EXPECT_EQ(b.chip().cells()[0], EEPROM_ERASED);
}

TEST(SimSaveEeprom, OneBitFramesLeaveWhatThePartIsDoing) {
  struct Case {
    const char* name;
    int stray;           // the lone store's data bit
    bool during_write;   // else: between a read request and its answer
  };
  const Case cases[] = {
      {"0 while a write is in progress", 0, true},
      {"1 while a write is in progress", 1, true},
      {"0 before a requested answer", 0, false},
      {"1 before a requested answer", 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EepromBench b(EEPROM_8K);
    if (c.during_write) {
      b.send_bits(write_request(7, 14, 0x0123456789ABCDEFull));
      b.bus().write(EEPROM, 2, static_cast<std::uint32_t>(c.stray));
      EXPECT_GT(b.busy_reads(), 0u) << "the write goes on";
      EXPECT_EQ(b.read_block(7, 14), 0x0123456789ABCDEFull);
    } else {
      b.send_bits(read_request(7, 14));
      b.bus().write(EEPROM, 2, static_cast<std::uint32_t>(c.stray));
      // The answer waited for is gone: the part reads idle, all ones.
      EXPECT_EQ(b.bus().read(EEPROM, 2) & 1, 1u);
    }
    b.expect_no_misuse();
  }
}

TEST(SimSaveEeprom, AnswerCutShortIsLogged) {
  EepromBench b(EEPROM_512);
  b.send_bits(read_request(0, 6));
  b.receive_bits(30);
  EXPECT_EQ(b.new_misuses().size(), 1u);
  EXPECT_EQ(b.bus().read(EEPROM, 2) & 1, 1u);
}

TEST(SimSaveEeprom, SelectedByA24BesideSmallRomsAndOnlyAtTheTopBesideLargeOnes) {
  struct Case {
    std::uint32_t rom_mib;
    std::uint32_t at;
    bool eeprom;
  };
  // Streams run upward from `at`: the top window holds 128 bits.
  const Case cases[] = {{4, 0x0D000000, true},   {16, 0x0D800000, true},  {16, 0x0DFFFF00, true},
                        {32, 0x0D000000, false}, {32, 0x0DFFFE00, false}, {32, 0x0DFFFF00, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rom_mib) + " MiB ROM at " + hex32(c.at));
    EepromBench b(EEPROM_512, {}, c.rom_mib);
    b.send_bits(write_request(9, 6, 0x00000000000000A5ull), c.at);
    if (c.eeprom) {
      b.busy_reads(c.at);
      EXPECT_EQ(b.read_block(9, 6, c.at), 0xA5u);
    } else {
      EXPECT_EQ(b.chip().cells()[9 * 8], EEPROM_ERASED);
      EXPECT_EQ(b.bus().read(c.at, 2), b.bus().read(c.at - 0x04000000, 2)) << "the ROM answers";
    }
    b.expect_no_misuse();
  }
}

}  // namespace
}  // namespace kartex
