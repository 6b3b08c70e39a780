// Boards that repeat their ROM through the window instead of leaving the
// bus open past its end (the mirror key), and cartridges larger than the
// window: the size the tool reports, a dump that holds the ROM once, and
// writes that change exactly their range.

#include <gtest/gtest.h>

#include <algorithm>

#include "common/output.h"
#include "sim/cart/cart_header.h"
#include "tests/support/case_spread.h"
#include "tests/support/sizes.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

// Noise behind a valid header, so that identification sees a mask ROM.
Bytes headed_noise(std::uint32_t bytes, std::uint32_t seed) {
  Bytes rom = noise(bytes, seed);
  const Bytes demo = make_default_rom(MiB);
  std::copy(demo.begin(), demo.begin() + 0xC0, rom.begin());
  return rom;
}

// Only stderr lines no run may show: misuse of the hardware, diagnostics.
void expect_quiet(const ToolOnSim& run, const std::string& what) {
  EXPECT_EQ(run.err.str(), "") << what << ": the simulator saw the agent misuse the hardware";
}

TEST(MirrorOnBothCores, MaskRomsReportTheirSizeAndDumpOnce) {
  struct Case {
    const char* core;
    std::uint32_t mib;
    bool mirror;
  };
  std::vector<Case> cases;
  for (const char* core : {"unicorn", "mgba"})
    for (std::uint32_t mib : {1u, 2u, 4u, 8u, 16u})
      for (bool mirror : {false, true}) cases.push_back({core, mib, mirror});
  const std::string d = scratch("mirror_mask");
  for (const Case& tc : spread_of(cases)) {
    const std::string what =
        std::string(tc.core) + " " + std::to_string(tc.mib) + " MiB " + (tc.mirror ? "mirrored" : "open bus");
    SCOPED_TRACE(what);
    const Bytes rom = headed_noise(tc.mib * MiB, tc.mib * 2 + tc.mirror);
    spill(d + "rom.gba", rom);
    std::remove((d + "dump.bin").c_str());
    ToolOnSim run({std::string("--sim=core=") + tc.core + ",rom=" + d + "rom.gba" + (tc.mirror ? ",mirror" : ""),
                   "fr", d + "dump.bin"});
    ASSERT_EQ(run.status, 0) << run.err.str();
    expect_quiet(run, what);
    EXPECT_NE(run.out.str().find(strprintf("MASK ROM SIZE=0x%X\n", tc.mib * MiB)), std::string::npos)
        << run.out.str();
    const Bytes dump = slurp(d + "dump.bin");
    EXPECT_EQ(dump.size(), rom.size());
    EXPECT_TRUE(dump == rom) << "the dump is not the ROM, once";
  }
}

// The identification's size probes put a second set of chips in
// identifier mode; on a board that decodes fewer lines that set is the
// first one again, and the chips found there are not counted twice.
TEST(MirrorOnFlashBoards, SizeProbesCountEveryChipOnce) {
  struct Case {
    const char* keys;
    const char* line;
  };
  const Case cases[] = {
      {"chip=8/88c4,size=16,mirror", "FLASH ROM SIZE=0x1000000\n"},
      {"chip=8/88c5,size=8,mirror", "FLASH ROM SIZE=0x800000\n"},
      {"chip=8/88c4,size=32,mirror", "FLASH ROM SIZE=0x2000000\n"},
      {"chip=8/88cc,size=16,mirror", "FLASH ROM SIZE=0x1000000\n"},
      {"chip=8/8896,size=8,mirror", "FLASH ROM SIZE=0x800000\n"},
      {"chip=8/8897,size=16,mirror", "FLASH ROM SIZE=0x1000000\n"},
      {"chip=3/8801,size=16,mirror", "FLASH ROM SIZE=0x1000000\n"},
      {"chip=9/20,size=8,mirror", "FLASH ROM SIZE=0x800000\n"},
      {"chip=2/16,mirror", "FLASH ROM SIZE=0x400000\n"},
      {"chip=5/22da,mapper=off,mirror", "FLASH ROM SIZE=0x100000\n"},
      {"chip=6/22c4,mapper=off,mirror", "FLASH ROM SIZE=0x200000\n"},
      // The page probe on boards whose mapper pages past the chips.
      {"chip=3/8802,size=32,mirror", "FLASH ROM SIZE=0x2000000\n"},
      {"chip=3/8802,size=32,mirror,save=sram1m", "FLASH ROM SIZE=0x2000000\n"},
      {"chip=3/18,size=64,mirror,save=sram1m", "FLASH ROM SIZE=0x4000000\n"},
      {"chip=3/18,size=64,mirror", "FLASH ROM SIZE=0x4000000\n"},
  };
  const std::string d = scratch("mirror_flash_id");
  // Data at the start, so that the page probe sees the mapper at work.
  spill(d + "rom.gba", headed_noise(MiB, 5));
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.keys);
    ToolOnSim run({std::string("--sim=") + tc.keys + ",rom=" + d + "rom.gba", "fr", d + "dump.bin", "0", "16"});
    ASSERT_EQ(run.status, 0) << run.err.str();
    expect_quiet(run, tc.keys);
    EXPECT_NE(run.out.str().find(tc.line), std::string::npos) << run.out.str();
  }
}

// A write near the end of a mirroring board's ROM lands there and nowhere
// else: every other byte, the first 16 MiB's included, is kept. The state
// keeps the board's mirroring between the runs.
TEST(MirrorOnFlashBoards, WritesKeepEveryOtherByte) {
  struct Case {
    const char* keys;
    std::uint32_t size;
  };
  const Case cases[] = {
      {"chip=8/88c4,size=16,mirror", 16 * MiB},
      {"chip=2/16,mirror", 4 * MiB},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.keys);
    const std::string d = scratch("mirror_flash_write");
    const Bytes old = headed_noise(tc.size, tc.size >> 20);
    spill(d + "old.gba", old);
    const std::string kept = "--sim=state=" + d + "state";
    ToolOnSim first({kept + "," + tc.keys + ",rom=" + d + "old.gba", "fr", d + "first.bin", "0", "16"});
    ASSERT_EQ(first.status, 0) << first.err.str();

    const std::uint32_t at = tc.size - 0x30001, length = 0x20003;
    const Bytes patch = noise(length, 77);
    spill(d + "patch.bin", patch);
    ToolOnSim write({kept, "fw", d + "patch.bin", std::to_string(at), std::to_string(length)});
    ASSERT_EQ(write.status, 0) << write.err.str();
    expect_quiet(write, "fw");

    ToolOnSim read({kept, "fr", d + "all.bin"});
    ASSERT_EQ(read.status, 0) << read.err.str();
    Bytes expected = old;
    std::copy(patch.begin(), patch.end(), expected.begin() + at);
    const Bytes seen = slurp(d + "all.bin");
    ASSERT_EQ(seen.size(), expected.size());
    EXPECT_TRUE(std::equal(seen.begin(), seen.begin() + at, old.begin())) << "bytes before the range";
    EXPECT_TRUE(std::equal(seen.begin() + at, seen.begin() + at + length, patch.begin())) << "the range";
    EXPECT_TRUE(std::equal(seen.begin() + at + length, seen.end(), old.begin() + at + length))
        << "bytes after the range";

    // Past the ROM's end the board shows its start again: a range there is
    // refused, and nothing is written.
    ToolOnSim past({kept, "fw", d + "patch.bin", std::to_string(tc.size), "16"});
    EXPECT_EQ(past.status, 255);
    ToolOnSim again({kept, "fr", d + "start.bin", "0", "65536"});
    ASSERT_EQ(again.status, 0) << again.err.str();
    EXPECT_TRUE(slurp(d + "start.bin") == Bytes(old.begin(), old.begin() + 65536)) << "the ROM's start changed";
  }
}

// Cartridges larger than the window show their size whenever the mapper is
// seen at work (its ROM page moves the window), banked SRAM or not.
TEST(LargeFlashCartridges, ReportTheirSizeWithAndWithoutBankedSram) {
  struct Case {
    const char* keys;
    std::uint32_t size;
  };
  const Case cases[] = {
      {"chip=3/18,size=64", 64 * MiB},
      {"chip=3/18,size=64,save=sram1m", 64 * MiB},
      {"chip=3/18,size=128,save=sram32k", 128 * MiB},
      {"chip=3/18,size=128,save=sram1m", 128 * MiB},
      {"chip=3/8802,size=64", 64 * MiB},
      {"chip=3/8802,size=64,save=sram1m", 64 * MiB},
      {"chip=3/8802,size=128", 128 * MiB},
      {"chip=3/8802,size=128,save=sram1m", 128 * MiB},
      {"chip=3/8802,size=32", 32 * MiB},
  };
  const std::string d = scratch("large_flash");
  // Data at the start: a blank first KiB does not show the mapper at work.
  spill(d + "rom.gba", headed_noise(MiB, 9));
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.keys);
    // The last bytes of the cartridge: readable only once its size is known.
    ToolOnSim run({std::string("--sim=") + tc.keys + ",rom=" + d + "rom.gba", "fr", d + "end.bin",
                   std::to_string(tc.size - 16), "16"});
    ASSERT_EQ(run.status, 0) << run.err.str();
    expect_quiet(run, tc.keys);
    EXPECT_NE(run.out.str().find(strprintf("FLASH ROM SIZE=0x%X\n", tc.size)), std::string::npos) << run.out.str();
    EXPECT_TRUE(slurp(d + "end.bin") == Bytes(16, 0xFF)) << "the blank end of the last chips";
  }
}

TEST(MirrorKey, BoardsThatDoNotExistAreRefusedWithOneLine) {
  const std::string d = scratch("mirror_refused");
  spill(d + "odd.gba", headed_noise(3 * MiB, 3));
  const struct {
    std::string sim;
    const char* says;
  } cases[] = {
      {"--sim=mirror,rom=" + d + "odd.gba", "power of two"},
      {"--sim=core=mgba,mirror,rom=" + d + "odd.gba", "power of two"},
      {"--sim=mirror,size=3", "power of two"},
      {"--sim=mirror=on", "takes no value"},
      {"--sim=chip=3/8802,size=64,mapper=off", "needs the mapper"},
  };
  for (const auto& tc : cases) expect_sim_refusal(tc.sim, d, tc.says);
}

}  // namespace
}  // namespace kartex::test
