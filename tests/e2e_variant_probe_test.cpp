// The ROM page probe of cartridge identification on boards of 32 MiB: the
// page number 0x10 that the mapper's page register takes reaches the flash
// chips when there is no mapper, where it is a program set-up command. The
// probe must leave every byte of the ROM as it was, read the ROM again and
// report variant 0; with the mapper the variant stays what it was.

#include <gtest/gtest.h>

#include "sim/cart/flash_catalog.h"
#include "tests/support/agent_cart.h"
#include "tests/support/case_spread.h"
#include "tests/support/crc32_bitwise.h"
#include "tests/support/sizes.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

struct Board {
  const char* chip;
  bool mapper;
  const char* save;
  std::uint32_t variant;
  // The program of all ones that settles the chip at the page register's
  // address reaches a block locked at power-up, which refuses it. Nothing
  // is written either way, so the chip model logs no misuse for it.
  bool locked_block_refuses;
};

TEST(VariantProbe, ThirtyTwoMiBBoardsKeepTheirRomAndTellTheMapper) {
  const Board boards[] = {
      {"3/18", false, "none", 0, false},
      {"3/8802", false, "none", 0, true},
      {"3/8801", false, "none", 0, true},
      {"8/88c4", false, "none", 0, true},
      {"8/88cd", false, "none", 0, true},
      {"3/18", true, "none", 1, false},
      {"3/8802", true, "none", 1, false},
      {"8/88c4", true, "none", 1, false},
      {"8/88cd", true, "sram1m", 2, false},
  };
  const Bytes rom = noise(32 * MiB, 77);
  const std::string file = scratch("variant_rom") + "rom.bin";
  spill(file, rom);
  const std::vector<std::uint32_t> sums = crc32_blocks(rom, 0, 32 * MiB, MiB);
  for (const Board& b : spread_of(boards)) {
    SCOPED_TRACE(std::string(b.chip) + (b.mapper ? " with the mapper" : " without the mapper") + ", save=" + b.save);
    SimOptions options;
    options.chip = b.chip;
    options.size_mib = 32;
    options.mapper = b.mapper;
    options.save = b.save;
    options.rom_file = file;
    AgentCart c(options);

    EXPECT_EQ(c.variant, b.variant);
    EXPECT_EQ(c.rom_kind, find_rom_option(b.chip)->kind);
    EXPECT_EQ(c.rom_size, 32 * MiB);
    EXPECT_TRUE(c.cells(0, 32 * MiB) == rom) << "the probe changed the ROM";
    // Every chip reads its array: the ROM as the console reads it, 1 MiB a word
    const std::vector<std::uint32_t> got = c.request(REQ_ROM_CRC32, 0, 32 * MiB, MiB, 32);
    EXPECT_EQ(got, sums);

    // Refused or not, the probe's settling program is no misuse
    c.expect_no_misuse();
  }
}

}  // namespace
}  // namespace kartex::test
