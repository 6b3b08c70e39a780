// Battery SRAM through the console's save window: 32 KiB shows twice in
// the 64 KiB window, the banked parts decode as many bank bits as they
// have banks, a board without the mapper sees bank 0.

#include <gtest/gtest.h>

#include "sim/save/save_commands.h"
#include "sim/save/save_sram.h"
#include "tests/sim_save_support.h"

namespace kartex {
namespace {

using namespace savetest;

TEST(SimSaveSram, ThirtyTwoKiBIsMirroredInTheWindowAndIgnoresTheBank) {
  Bench b(std::make_unique<SramChip>(save::SRAM_32K), "3/8801");
  for (std::uint32_t i = 0; i < 8; ++i) b.wr(i, static_cast<std::uint8_t>(0x10 + i));
  b.wr(0x7FFF, 0x5A);
  b.wr(0xC123, 0x77);  // lands at 0x4123
  for (std::uint32_t i = 0; i < 8; ++i) EXPECT_EQ(b.rd(0x8000 + i), 0x10 + i) << i;
  EXPECT_EQ(b.rd(0xFFFF), 0x5A);
  EXPECT_EQ(b.rd(0x4123), 0x77);
  EXPECT_EQ(b.bus().read(0x0E020000, 1), 0x10u) << "the window repeats up to 0x0FFFFFFF";
  b.select_bank(3);
  EXPECT_EQ(b.rd(0), 0x10) << "a 32 KiB part has no bank lines";
  b.expect_no_misuse();
}

TEST(SimSaveSram, BanksDecodeAsTheWiringDoes) {
  struct Case {
    const char* name;
    std::uint32_t bytes;
    unsigned written, read;
    bool same;  // the two banks are one
  };
  const Case cases[] = {
      {"256 KiB, bank 1 vs 0", save::SRAM_256K, 1, 0, false},
      {"256 KiB, bank 3 vs 0", save::SRAM_256K, 3, 0, false},
      {"256 KiB, bank 4 wraps to 0", save::SRAM_256K, 4, 0, true},
      {"256 KiB, bank 8 wraps to 0", save::SRAM_256K, 8, 0, true},
      {"256 KiB, bank 13 wraps to 1", save::SRAM_256K, 13, 1, true},
      {"1 MiB, bank 8 vs 0", save::SRAM_1M, 8, 0, false},
      {"1 MiB, bank 15 vs 7", save::SRAM_1M, 15, 7, false},
      {"1 MiB, bank 4 vs 0", save::SRAM_1M, 4, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench b(std::make_unique<SramChip>(c.bytes), "3/8801");
    b.select_bank(c.read);
    b.wr(0x1234, 0x11);
    b.wr(0x9234, 0x22);
    b.select_bank(c.written);
    b.wr(0x1234, 0xA5);
    b.wr(0x9234, 0x5A);
    b.select_bank(c.read);
    EXPECT_EQ(b.rd(0x1234), c.same ? 0xA5 : 0x11);
    EXPECT_EQ(b.rd(0x9234), c.same ? 0x5A : 0x22) << "a bank is 64 KiB, not mirrored";
    b.expect_no_misuse();
  }
}

TEST(SimSaveSram, BankedPartOnABoardWithoutTheMapperShowsBankZero) {
  std::vector<std::uint8_t> image(save::SRAM_1M, 0);
  image[0x10000] = 0x01;  // bank 1
  image[0x00000] = 0xB0;
  Bench b(std::make_unique<SramChip>(save::SRAM_1M, image));  // mask ROM, no mapper
  EXPECT_EQ(b.rd(0), 0xB0);
  b.wr(0xFFFF, 0x3C);
  auto& chip = dynamic_cast<SramChip&>(b.cart->save_chip());
  EXPECT_EQ(chip.cells()[0xFFFF], 0x3C);
  EXPECT_EQ(chip.cells()[0x1FFFF], 0x00);
  b.expect_no_misuse();
}

}  // namespace
}  // namespace kartex
