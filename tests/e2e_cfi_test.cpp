// CFI flash chips end to end with the real agent, on straight boards and on
// boards that swap D0 and D1: identification from the chip's own tables,
// writes that change exactly their range, erase, append, a rewrite of the
// same file that moves almost nothing, a worn block as one failure line,
// and what `info` says of the chip.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

#include "app/run.h"
#include "cart/commands.h"
#include "common/failure.h"
#include "contract/wire.h"
#include "sim/cart/cartridge.h"
#include "sim/cart/flash_rom.h"
#include "tests/support/cart_bench.h"
#include "tests/support/case_spread.h"
#include "tests/support/flash_cells.h"
#include "tests/support/sizes.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

constexpr std::uint32_t OLD_BYTES = 0x60000;  // old contents at the ROM's start

struct Chip {
  const char* label;
  std::uint32_t size, erase_block;
  // An odd range that crosses erase blocks (on the boot part, its 8 KiB
  // sectors and the first 64 KiB block)
  std::uint32_t at, length;
};
const Chip CHIPS[] = {
    {"10/2221", 16 * MiB, 128 * KiB, 0x1FCFF, 0x20803},
    {"10/2222", 32 * MiB, 128 * KiB, 0x3FF01, 0x1233},
    {"10/22f9", 4 * MiB, 64 * KiB, 0x3FFF, 0x10C03},
    // Status-register commands, blocks locked at power-up; the range
    // crosses its four 32 KiB parameter blocks into the first main block
    {"10/881b", 16 * MiB, 128 * KiB, 0x7FFF, 0x20C03},
    // The same at 32 MiB, whose chip also takes the bring-up's writes
    // at the mapper's register addresses
    {"10/891c", 32 * MiB, 128 * KiB, 0x17FFF, 0x10C03},
};

SimOptions cfi_options(const Chip& c, bool d0d1, const std::string& rom_file = "") {
  SimOptions o;
  o.chip = c.label;
  o.d0d1 = d0d1;
  o.rom_file = rom_file;
  return o;
}

std::uint64_t link_words(CartBench& b) {
  const SimStats s = b.a.sim.stats();
  return s.words_to_console + s.words_from_console;
}

std::string hex_digits(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", v);
  return text;
}

std::string trace(const Chip& c, bool d0d1) { return std::string(c.label) + (d0d1 ? " d0d1" : " straight"); }

// Every chip on either wiring: the long write, erase and append tests run
// their spread of it.
struct CfiBoard {
  const Chip* chip;
  bool d0d1;
};
std::vector<CfiBoard> every_board() {
  std::vector<CfiBoard> boards;
  for (const Chip& c : CHIPS)
    for (bool d0d1 : {false, true}) boards.push_back({&c, d0d1});
  return boards;
}

void no_misuse(CartBench& b) {
  EXPECT_EQ(b.a.sim.log().misuse_count(), 0u)
      << (b.a.sim.log().misuses().empty() ? "" : b.a.sim.log().misuses()[0]);
}

TEST(CfiFlash, IdentifiedFromItsTablesOnEitherWiring) {
  for (const Chip& c : CHIPS)
    for (bool d0d1 : {false, true}) {
      SCOPED_TRACE(trace(c, d0d1));
      CartBench b(cfi_options(c, d0d1));
      EXPECT_EQ(b.cart.rom_kind, ROM_KIND_CFI);
      EXPECT_EQ(b.cart.rom_size, static_cast<std::int32_t>(c.size));
      EXPECT_EQ(b.cart.erase_block, static_cast<std::int32_t>(c.erase_block));
      EXPECT_NE(b.out.str().find("FLASH ROM SIZE=0x" + hex_digits(c.size)), std::string::npos) << b.out.str();
      no_misuse(b);
    }
}

TEST(CfiFlash, AnOddWriteChangesExactlyItsRangeAndARewriteMovesAlmostNothing) {
  const std::string old_file = scratch("cfi_old") + "old.bin";
  for (const CfiBoard& board : spread_of(every_board())) {
    const Chip& c = *board.chip;
    const bool d0d1 = board.d0d1;
    SCOPED_TRACE(trace(c, d0d1));
    spill(old_file, noise(OLD_BYTES, 31));
    CartBench b(cfi_options(c, d0d1, old_file));
    const Bytes data = noise(c.length, 47);
    flash_write(b.a.link, b.cart, {static_cast<std::int32_t>(c.at), NOT_GIVEN}, data, b.con);
    Bytes expect = noise(OLD_BYTES, 31);
    std::copy(data.begin(), data.end(), expect.begin() + c.at);
    const Bytes now = b.read_rom(0, OLD_BYTES);
    const auto diff = std::mismatch(now.begin(), now.end(), expect.begin());
    EXPECT_TRUE(diff.first == now.end()) << "first wrong byte at 0x" << std::hex << (diff.first - now.begin());
    EXPECT_TRUE(b.read_rom(c.size - 0x100, 0x100) == Bytes(0x100, 0xFF)) << "the ROM's end untouched";
    EXPECT_NE(b.out.str().find("Verify OK"), std::string::npos) << b.out.str();

    // Whole blocks written twice: the second time the blocks' CRCs
    // agree and no data moves (an odd range also reads the rest of its
    // end blocks, whatever the chip)
    const Bytes blocks = noise(2 * c.erase_block, 48);
    const auto blocks_at = static_cast<std::int32_t>(OLD_BYTES / c.erase_block * c.erase_block + c.erase_block);
    std::uint64_t before = link_words(b);
    flash_write(b.a.link, b.cart, {blocks_at, NOT_GIVEN}, blocks, b.con);
    const std::uint64_t first = link_words(b) - before;
    before = link_words(b);
    flash_write(b.a.link, b.cart, {blocks_at, NOT_GIVEN}, blocks, b.con);
    const std::uint64_t again = link_words(b) - before;
    EXPECT_LT(again * 50, first) << "the same file again: " << again << " link words of " << first;
    EXPECT_NE(b.out.str().find("0 of 2 erase blocks written (0 erased first), 2 unchanged."), std::string::npos);
    EXPECT_TRUE(b.read_rom(0, OLD_BYTES) == expect);
    EXPECT_TRUE(b.read_rom(static_cast<std::uint32_t>(blocks_at), 2 * c.erase_block) == blocks);
    no_misuse(b);
  }
}

TEST(CfiFlash, EraseLeavesEveryBlockBlank) {
  const std::string old_file = scratch("cfi_erase") + "old.bin";
  for (const CfiBoard& board : spread_of(every_board())) {
    const Chip& c = *board.chip;
    const bool d0d1 = board.d0d1;
    SCOPED_TRACE(trace(c, d0d1));
    spill(old_file, noise(OLD_BYTES, 5));
    CartBench b(cfi_options(c, d0d1, old_file));
    flash_erase(b.a.link, b.cart, b.con);
    EXPECT_TRUE(b.read_rom(0, OLD_BYTES) == Bytes(OLD_BYTES, 0xFF));
    EXPECT_NE(b.out.str().find("Erase END."), std::string::npos);
    no_misuse(b);
  }
}

TEST(CfiFlash, AppendsGoBehindWhatTheRomHolds) {
  for (const CfiBoard& board : spread_of(every_board())) {
    const Chip& c = *board.chip;
    const bool d0d1 = board.d0d1;
    SCOPED_TRACE(trace(c, d0d1));
    CartBench b(cfi_options(c, d0d1));
    const Bytes first = noise(0x9000, 3), second = noise(0x1001, 4);
    flash_append(b.a.link, b.cart, {}, first, b.con);
    flash_append(b.a.link, b.cart, {}, second, b.con);
    // Free space counts in 32 KiB: the second lands at the next 32 KiB
    Bytes expect(0x12000, 0xFF);
    std::copy(first.begin(), first.end(), expect.begin());
    std::copy(second.begin(), second.end(), expect.begin() + 0x10000);
    EXPECT_TRUE(b.read_rom(0, 0x12000) == expect);
    no_misuse(b);
  }
}

TEST(CfiFlash, AWornBlockIsOneFailureLine) {
  struct Case {
    const char* name;
    std::uint8_t wear;
    bool written;  // the block holds data first (an erase is needed)
    const char* line;
  };
  const Case cases[] = {
      {"program", FlashChip::WEAR_PROGRAM, false, "the flash ROM failed the program at 0x"},
      {"erase", FlashChip::WEAR_ERASE, true, "the flash ROM failed the erase at 0x"},
  };
  for (const Chip& c : {CHIPS[0], CHIPS[2], CHIPS[3]})
    for (bool d0d1 : {false, true})
      for (const Case& k : cases) {
        SCOPED_TRACE(trace(c, d0d1) + " " + k.name);
        CartBench b(cfi_options(c, d0d1));
        const std::uint32_t block = 2 * c.erase_block;
        if (k.written) flash_write(b.a.link, b.cart, {static_cast<std::int32_t>(block), NOT_GIVEN}, Bytes(0x100, 0), b.con);
        flash_rom_of(b.a.sim).chip(0).wear_out(block / 2, k.wear);
        const std::string before = b.out.str();
        try {
          flash_write(b.a.link, b.cart, {static_cast<std::int32_t>(block), NOT_GIVEN}, Bytes(0x200, 0x5A), b.con);
          ADD_FAILURE() << "the write reported success";
        } catch (const Failure& f) {
          EXPECT_EQ(std::string(f.what()).rfind(k.line + hex_digits(block), 0), 0u) << f.what();
          EXPECT_EQ(f.status(), EXIT_FATAL);
        }
        EXPECT_EQ(b.out.str().find("Verify OK", before.size()), std::string::npos) << "no success shown";
        EXPECT_EQ(b.read_rom(0, 4).size(), 4u) << "the agent is in step";
      }
}

TEST(CfiFlash, InfoShowsTheChipsCodesAndGeometry) {
  struct Case {
    std::string sim;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"--sim=chip=10/2221",
       {"FLASH ROM SIZE=0x1000000\n",
        "Flash chip: maker 0x01, device 0x227E 0x2221 0x2201 (CFI, command set 0x0002: AMD)\n",
        "Erase blocks: 128 x 0x20000 (erased in steps of 0x20000), write buffer: 64 bytes\n",
        "Longest times (CFI): word 256 us, buffer 1024 us, block erase 4096 ms\n"}},
      {"--sim=chip=10/22f9,d0d1",
       {"FLASH ROM SIZE=0x400000\n",
        "Flash chip: maker 0x01, device 0x22F9 (CFI, command set 0x0002: AMD), board swaps D0/D1\n",
        "Erase blocks: 8 x 0x2000 + 63 x 0x10000 (erased in steps of 0x10000), no write buffer",
        "Longest times (CFI): word 512 us, buffer 0 us, block erase 16384 ms\n"}},
      {"--sim=chip=10/8818,d0d1",
       {"FLASH ROM SIZE=0x1000000\n",
        "Flash chip: maker 0x89, device 0x8818 (CFI, command set 0x0001: Intel extended), board swaps D0/D1\n",
        "Erase blocks: 127 x 0x20000 + 4 x 0x8000 (erased in steps of 0x20000), write buffer: 64 bytes\n",
        "Longest times (CFI): word 512 us, buffer 1024 us, block erase 4096 ms\n"}},
      // 32 MiB without the mapper: the page probe's write reaches the chip
      {"--sim=chip=10/8919",
       {"FLASH ROM SIZE=0x2000000\n",
        "Flash chip: maker 0x89, device 0x8919 (CFI, command set 0x0001: Intel extended)\n",
        "Erase blocks: 255 x 0x20000 + 4 x 0x8000 (erased in steps of 0x20000), write buffer: 64 bytes\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sim);
    std::ostringstream out, err;
    RunEnv env{out, err, {}, [](int) {}};
    EXPECT_EQ(kartex::run({c.sim, "info"}, env), 0) << err.str();
    EXPECT_EQ(err.str(), "") << "the simulator saw the agent misuse the hardware";
    for (const std::string& line : c.lines) EXPECT_NE(out.str().find(line), std::string::npos) << line << out.str();
  }
}

// Described kinds whose chips also answer the query are still taken as
// the described kind, with the described chip's lines
TEST(CfiFlash, DescribedChipsThatAnswerTheQueryKeepTheirKind) {
  struct Case {
    const char* chip;
    std::int32_t kind;
    std::string line;
  };
  const Case cases[] = {
      {"2/18", 2, "Flash chip: maker 0x89, device 0x0018 (status register commands)\n"},
      {"3/16", 3, "Flash chips (a pair): maker 0x89, device 0x0016 (status register commands)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chip);
    std::ostringstream out, err;
    RunEnv env{out, err, {}, [](int) {}};
    EXPECT_EQ(kartex::run({std::string("--sim=chip=") + c.chip, "info"}, env), 0) << err.str();
    EXPECT_NE(out.str().find(c.line), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find("CFI"), std::string::npos) << out.str();
    SimOptions o;
    o.chip = c.chip;
    CartBench b(o);
    EXPECT_EQ(b.cart.rom_kind, c.kind);
  }
}

// The agent's waits come from the chip's own maximum times: a chip that
// takes its sheet's longest figures still writes and erases.
TEST(CfiFlash, AtTheSheetsLongestTimesWritesStillSucceed) {
  const std::string old_file = scratch("cfi_slow") + "old.bin";
  spill(old_file, noise(OLD_BYTES, 12));
  for (const Chip& c : {CHIPS[0], CHIPS[2], CHIPS[3]}) {
    SCOPED_TRACE(c.label);
    SimOptions o = cfi_options(c, true, old_file);
    o.chip_times_max = true;
    CartBench b(o);
    const Bytes data = noise(0x801, 13);
    const SimTime start = b.a.sim.console().clock().now();
    flash_write(b.a.link, b.cart, {static_cast<std::int32_t>(c.erase_block), NOT_GIVEN}, data, b.con);
    EXPECT_TRUE(b.read_rom(c.erase_block, 0x801) == data);
    // One sector erase at its longest, at the least
    EXPECT_GE(simtime::seconds(b.a.sim.console().clock().now() - start), std::string(c.label) == "10/881b" ? 4.0
                                                                          : c.erase_block == 128 * KiB ? 3.5
                                                                                                       : 15.0);
    no_misuse(b);
  }
}

// A board that does not exist is refused with one line
TEST(CfiFlash, BoardsThatDoNotExistAreRefused) {
  struct Case {
    std::string sim, line;
  };
  const Case cases[] = {
      {"--sim=d0d1", "kartex: --sim: d0d1 describes the board of a CFI flash chip (chip=10/...), not a mask ROM\n"},
      {"--sim=chip=5/22da,d0d1",
       "kartex: --sim: d0d1 describes the board of a CFI flash chip (chip=10/...), not chip=5/22da\n"},
      {"--sim=chip=10/2221,mapper=on",
       "kartex: --sim: chip=10/2221 sits on a board without the mapper (mapper=on cannot be)\n"},
      {"--sim=core=mgba,d0d1", "kartex: --sim: d0d1 describes the board of a CFI flash chip, which needs core=unicorn\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sim);
    std::ostringstream out, err;
    RunEnv env{out, err, {}, [](int) {}};
    EXPECT_NE(kartex::run({c.sim, "info"}, env), 0);
    EXPECT_EQ(err.str(), c.line);
  }
}

// The swapped wiring is part of the board kept between runs: what one run
// wrote, the next reads back, and the chip's cells hold it crossed.
TEST(CfiFlash, ASwappedBoardIsKeptWithTheState) {
  const std::string dir = scratch("cfi_state");
  const Bytes data = noise(0x301, 9);
  spill(dir + "in.bin", data);
  auto run = [&](const std::vector<std::string>& args) {
    std::ostringstream out, err;
    RunEnv env{out, err, {}, [](int) {}};
    EXPECT_EQ(kartex::run(args, env), 0) << err.str();
    return out.str();
  };
  run({"--sim=chip=10/22f9,d0d1,state=" + dir + "state", "fw", dir + "in.bin", "0x2001", "0x301"});
  run({"--sim=state=" + dir + "state", "fr", dir + "out.bin", "0x2001", "0x301"});
  EXPECT_TRUE(slurp(dir + "out.bin") == data);
  EXPECT_NE(run({"--sim=state=" + dir + "state", "info"}).find("board swaps D0/D1"), std::string::npos);
}

}  // namespace
}  // namespace kartex::test
