// Flash ROM cartridges end to end: the real agent erases and programs every
// ROM kind the simulator builds, and what the tool reads back is what it
// wrote; the append start rule on cartridges with and without the mapper.

#include <gtest/gtest.h>

#include <algorithm>

#include "agent/agent_image.h"
#include "common/output.h"
#include "app/session.h"
#include "cart/commands.h"
#include "contract/wire.h"
#include "sim/cart/cart_build.h"
#include "sim/cart/flash_catalog.h"
#include "tests/support/body_fixture.h"
#include "tests/support/cart_bench.h"
#include "tests/support/case_spread.h"
#include "tests/support/sim_session.h"
#include "tests/support/sizes.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

std::uint32_t erase_block_of(const RomOption& o) {
  static const std::uint32_t ERASE_BLOCK[] = {0, 0, 0x20000, 0x40000, 0x10000, 0x10000,
                                              0x10000, 0x10000, 0x20000, 0x20000};
  // A CFI chip erases in steps of its largest block
  return o.kind == ROM_KIND_CFI ? o.chip->layout.largest_block() : ERASE_BLOCK[o.kind];
}

// One cartridge kept in a state folder across the runs of one test: built
// from `keys` by a first run that only brings the agent up.
struct Cart {
  std::string dir;
  std::string sim;

  Cart(const std::string& name, const std::string& keys)
      : dir(scratch(name)), sim("--sim=state=" + dir + "state") {
    ToolOnSim first({sim + "," + keys, "fr", dir + "first.bin", "0", "16"});
    EXPECT_EQ(first.status, 0) << keys << ": " << first.err.str();
  }

  ToolOnSim tool(std::vector<std::string> args) const {
    args.insert(args.begin(), sim);
    return ToolOnSim(args);
  }

  // Runs and expects success with nothing on standard error (no misuse of
  // the hardware reported by the simulator, no diagnostics).
  std::string ok(std::vector<std::string> args) const {
    ToolOnSim run = tool(args);
    EXPECT_EQ(run.status, 0) << args[0] << ": " << run.err.str();
    EXPECT_EQ(run.err.str(), "") << args[0];
    return run.out.str();
  }

  void write(std::uint32_t offset, const Bytes& data) const {
    const std::string file = dir + "w.bin";
    spill(file, data);
    ok({"fw", file, std::to_string(offset), std::to_string(data.size())});
  }

  Bytes read(std::uint32_t offset, std::uint32_t length) const {
    const std::string file = dir + "r.bin";
    ok({"fr", file, std::to_string(offset), std::to_string(length)});
    return slurp(file);
  }
};

TEST(FlashOnSimulator, EveryKindErasesWritesAndReadsBack) {
  for (const RomOption& option : spread_of(rom_options())) {
    const std::uint32_t size = option.sizes_mib.front() * MiB;
    // Kind 3 part 0x8803 comes in one size that identification reports as
    // the 32 MiB window.
    const std::uint32_t seen = std::min(size, 32 * MiB);
    SCOPED_TRACE(option.label());
    // Old contents everywhere the test looks, so that a missed erase shows.
    const std::string old = scratch("flash_old") + "old.bin";
    spill(old, noise(seen, option.code));
    SimOptions options;
    options.chip = option.label();
    options.rom_file = old;
    CartBench b(options);
    const std::uint32_t block = erase_block_of(option);
    EXPECT_EQ(b.cart.rom_size, static_cast<std::int32_t>(seen));
    EXPECT_EQ(b.cart.erase_block, static_cast<std::int32_t>(block));
    flash_erase(b.a.link, b.cart, b.con);
    EXPECT_EQ(b.out.str().find("Erase START.\n" + std::string(seen / block, 'E') + "\nErase END.\n"),
              b.out.str().find("Erase START."));

    // Low: mid-block across the bottom parameter blocks, from a 512-byte
    // page boundary (pairs programming whole pages need one), ending
    // mid-page; high: mid-block across the top parameter blocks up to the
    // end of the ROM.
    const Bytes low = noise(0x18000 + 6, option.kind * 7 + 1);
    const std::uint32_t low_at = 0x5E00;
    const std::uint32_t high_at = seen - 0x28000 + 0x1000;
    const Bytes high = noise(seen - high_at, option.kind * 7 + 2);
    flash_write(b.a.link, b.cart, {static_cast<std::int32_t>(low_at), NOT_GIVEN}, low, b.con);
    flash_write(b.a.link, b.cart, {static_cast<std::int32_t>(high_at), NOT_GIVEN}, high, b.con);

    Bytes expect_low(0x24000, 0xFF);
    std::copy(low.begin(), low.end(), expect_low.begin() + low_at);
    EXPECT_TRUE(b.read_rom(0, 0x24000) == expect_low) << "bottom of the ROM";
    Bytes expect_high(0x30000, 0xFF);
    std::copy(high.begin(), high.end(), expect_high.end() - static_cast<std::ptrdiff_t>(high.size()));
    EXPECT_TRUE(b.read_rom(seen - 0x30000, 0x30000) == expect_high) << "top of the ROM";
    EXPECT_TRUE(b.read_rom(seen / 2 - 0x1000, 0x2000) == Bytes(0x2000, 0xFF)) << "middle erased";
    EXPECT_EQ(b.a.sim.log().misuse_count(), 0u) << (b.a.sim.log().misuses().empty() ? "" : b.a.sim.log().misuses()[0]);
  }
}

// The buffered kinds fill whole buffers in bursts and give a pair's
// commands to both chips in one store: ranges that start at an odd halfword
// or an odd byte, end inside a buffer or cross a block land exactly, over
// blank flash and over old data, and the bytes around them in the same
// erase blocks keep what they held.
TEST(FlashOnSimulator, BufferedKindsWriteRangesAtAnyAlignment) {
  struct Case {
    const char* what;
    std::uint32_t offset, length;
  };
  const Case cases[] = {
      {"whole buffers from a block start", 0x20000, 0x1000},
      {"from an odd halfword, ending inside a buffer", 0x20802, 0x86},
      {"from an odd byte, across buffers", 0x21001, 0x7F},
      {"from a buffer's middle into the next block", 0x3FFF0, 0x60},
  };
  for (const char* chip : {"3/17", "10/2221", "2/18"}) {
    SCOPED_TRACE(chip);
    SimOptions options;
    options.chip = chip;
    options.size_mib = 16;
    CartBench b(options);
    constexpr std::uint32_t SPAN = 0x40000;  // around every case, both blocks of the last
    const Range span{0x20000, static_cast<std::int32_t>(SPAN)};
    for (const bool blank : {true, false}) {
      for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + (blank ? ", blank" : ", over old data"));
        // All ones erase the span again; old data fills it
        Bytes want = blank ? Bytes(SPAN, 0xFF) : noise(SPAN, c.offset);
        flash_write(b.a.link, b.cart, span, want, b.con);
        const Bytes data = noise(c.length, c.length);
        std::copy(data.begin(), data.end(), want.begin() + (c.offset - 0x20000));
        flash_write(b.a.link, b.cart, {static_cast<std::int32_t>(c.offset), static_cast<std::int32_t>(c.length)},
                    data, b.con);
        EXPECT_TRUE(b.read_rom(0x20000, SPAN) == want) << "the range and the bytes around it";
      }
    }
    EXPECT_EQ(b.a.sim.log().misuse_count(), 0u) << testing::PrintToString(b.a.sim.log().misuses());
  }
}

TEST(FlashOnSimulator, WholeRomRoundTripsOnTwoKinds) {
  const char* chips[] = {"3/17", "8/88c5"};
  for (const char* chip : spread_of(chips)) {
    SCOPED_TRACE(chip);
    Cart cart(std::string("whole_") + chip[0], std::string("chip=") + chip);
    const std::uint32_t size = chip[0] == '3' ? 16 * MiB : 8 * MiB;
    const Bytes data = noise(size, 99);
    cart.ok({"fe"});
    cart.write(0, data);
    EXPECT_TRUE(cart.read(0, size) == data);
  }
}

TEST(FlashOnSimulator, AppendFollowsTheBankRuleOnlyWithoutTheMapper) {
  struct Case {
    const char* name;
    const char* keys;
    std::uint32_t first;   // bytes written before the append, 0 for a blank ROM
    std::uint32_t start;   // where the append must land
  };
  // The agent tells a cartridge without the mapper by a first KiB that the
  // page register leaves alone, so the ROM holds data when it comes up.
  const Case cases[] = {
      {"no mapper: next bank, behind its header", "chip=8/8896,mapper=off", 0x123456, 0x408000},
      {"mapper: behind the written data, 32 KiB aligned", "chip=8/8896", 0x123456, 0x128000},
      {"blank ROM, no mapper: starts at 0", "chip=8/8896,mapper=off", 0, 0},
      {"blank ROM with the mapper", "chip=3/17", 0, 0},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const std::string name = "append_" + std::to_string(&tc - cases);
    std::string keys = tc.keys;
    const Bytes first = noise(tc.first, 5);
    if (tc.first) {
      const std::string rom = scratch(name + "_rom") + "rom.bin";
      spill(rom, first);
      keys += ",rom=" + rom;
    }
    Cart cart(name, keys);
    const Bytes extra = noise(0x9001, 6);
    spill(cart.dir + "extra.bin", extra);
    const std::string out = cart.ok({"fa", cart.dir + "extra.bin"});
    char line[80];
    std::snprintf(line, sizeof line, "Start=0x%X  0x9001 bytes writeing.\n", tc.start);
    EXPECT_NE(out.find(line), std::string::npos) << out;
    if (tc.first) {
      EXPECT_TRUE(cart.read(0, tc.first) == first) << "what was there stays";
    }
    EXPECT_TRUE(cart.read(tc.start, 0x9001) == extra);
    if (tc.start > tc.first) {
      EXPECT_TRUE(cart.read(tc.first, tc.start - tc.first) == Bytes(tc.start - tc.first, 0xFF))
          << "gap left erased";
    }
  }
}

TEST(FlashOnSimulator, WriteRefusalsReachNoChip) {
  Cart cart("refusals", "chip=2/16");
  ToolOnSim odd = cart.tool({"fw", cart.dir + "none", "1", "2"});
  EXPECT_EQ(odd.status, 255) << "no file";
  spill(cart.dir + "f.bin", noise(64, 1));
  ToolOnSim beyond = cart.tool({"fw", cart.dir + "f.bin", "0x800000", "64"});
  EXPECT_EQ(beyond.status, 255);
  EXPECT_TRUE(cart.read(0, 0x2000) == Bytes(0x2000, 0xFF)) << "blank flash stays blank";
  // An odd start is no refusal: the halfword around it keeps its other byte.
  cart.ok({"fw", cart.dir + "f.bin", "0x1001", "64"});
  Bytes expect(0x2000, 0xFF);
  const Bytes data = noise(64, 1);
  std::copy(data.begin(), data.end(), expect.begin() + 0x1001);
  EXPECT_TRUE(cart.read(0, 0x2000) == expect) << "odd start";
}

}  // namespace
}  // namespace kartex::test

namespace kartex::test {
namespace {

TEST(FlashOnSimulator, CartridgesPast32MiBThroughTheRomPages) {
  // Separate SRAM banks (variant 2) let the agent look for more chips
  // behind the ROM pages of 32 and 64 MiB.
  for (std::uint32_t mib : {64u, 128u}) {
    SCOPED_TRACE(std::to_string(mib) + " MiB");
    SimOptions options;
    options.chip = "3/18";
    options.size_mib = mib;
    options.save = "sram1m";
    CartBench b(options);
    EXPECT_EQ(b.cart.rom_size, static_cast<std::int32_t>(mib * MiB));
    EXPECT_EQ(b.cart.variant, 2u);
    struct Span {
      std::uint32_t at, length;
    };
    // Across each 32 MiB page boundary, and the last bytes of the ROM.
    std::vector<Span> spans;
    for (std::uint32_t page = 32 * MiB; page < mib * MiB; page += 32 * MiB) spans.push_back({page - 0x6000, 0xC000});
    spans.push_back({mib * MiB - 0x4000, 0x4000});
    for (const Span& s : spans) {
      const Bytes data = noise(s.length, s.at >> 12);
      flash_write(b.a.link, b.cart, {static_cast<std::int32_t>(s.at), NOT_GIVEN}, data, b.con);
      EXPECT_TRUE(b.read_rom(s.at, s.length) == data) << std::hex << s.at;
    }
    // The pages are really apart: the first page did not take the data.
    EXPECT_TRUE(b.read_rom(0x2000000 - 0x6000 - 0x1000000, 0xC000) == Bytes(0xC000, 0xFF));
    EXPECT_EQ(b.a.sim.log().misuse_count(), 0u) << testing::PrintToString(b.a.sim.log().misuses());
  }
}

}  // namespace
}  // namespace kartex::test
