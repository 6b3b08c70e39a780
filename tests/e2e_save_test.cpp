// Save memory end to end: the real agent reads and writes every save part
// the simulator builds, through the tool's save bodies; what comes back is
// what was written, and what a write did not cover is kept.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/support/cart_bench.h"
#include "common/digest.h"
#include "tests/support/case_spread.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

struct Part {
  const char* save;      // save= key
  const char* chip;      // chip= key, "" for the mask ROM
  std::uint32_t size;    // bytes of the part
  const char* line;      // the save line after bring-up
  int misuses;           // lines the simulator logs: the EEPROM probes stream
                         // bits the part does not expect (-1, not counted); the
                         // ROM-resident save does not know the pair written
                         // before sector 0x7E is erased
};

const Part PARTS[] = {
    {"sram32k", "", 0x8000, "SRAM256K SIZE=0x8000\n", 0},
    {"sram256k", "2/17", 0x40000, "SRAM2M SIZE=0x40000\n", 0},
    {"sram1m", "2/17", 0x100000, "SRAM8M SIZE=0x100000\n", 0},
    {"flash64k:1f3d", "", 0x10000, "FLASH512K SIZE=0x10000\n", 0},
    {"flash64k:bfd4", "", 0x10000, "FLASH512K SIZE=0x10000\n", 0},
    {"flash64k:c21c", "", 0x10000, "FLASH512K SIZE=0x10000\n", 0},
    {"flash64k:321b", "", 0x10000, "FLASH512K SIZE=0x10000\n", 0},
    {"flash128k:c209", "", 0x20000, "FLASH1M SIZE=0x20000\n", 0},
    {"flash128k:6213", "", 0x20000, "FLASH1M SIZE=0x20000\n", 0},
    {"eeprom512", "", 0x200, "EEP4K SIZE=0x200\n", -1},
    {"eeprom8k", "", 0x2000, "EEP64K SIZE=0x2000\n", -1},
    {"romsave", "3/18", 0x100000, "FLASH8M SIZE=0xFE000\n", 1},
};

SimOptions options_for(const Part& part, const std::string& image) {
  SimOptions options;
  options.save = part.save;
  options.chip = part.chip;
  options.save_image = image;
  return options;
}

// Spills `data` where a test of this part keeps its save image.
TEST(SaveOnSimulator, EveryPartKeepsItsImageThroughTheProbeAndRoundTrips) {
  for (const Part& part : spread_of(PARTS)) {
    SCOPED_TRACE(part.save);
    const Bytes image = noise(part.size, part.size + part.line[1]);
    CartBench b(options_for(part, save_image_file("save", part.save, image)));
    const std::string out = b.out.str();
    EXPECT_EQ(out.substr(out.find('\n') + 1), part.line) << "the save line";
    const auto seen = static_cast<std::size_t>(b.cart.save_size);

    // The agent's probe has put back whatever it touched.
    EXPECT_TRUE(b.read_save() == Bytes(image.begin(), image.begin() + seen)) << "probe kept the save";

    const Bytes fresh = noise(seen, 77);
    b.write_save(fresh);
    EXPECT_TRUE(b.read_save() == fresh) << "whole save written and read back";

    // Two blocks in the middle; the rest stays as written.
    const auto block = static_cast<std::size_t>(b.cart.save_block);
    const std::size_t at = seen > 4 * block ? (seen / 2 / block - 1) * block : 0;
    const std::size_t span = std::min<std::size_t>(2 * block, seen);
    const Bytes patch = noise(span, 78);
    b.write_save(patch, {static_cast<std::int32_t>(at), static_cast<std::int32_t>(span)});
    Bytes expect = fresh;
    std::copy(patch.begin(), patch.end(), expect.begin() + static_cast<std::ptrdiff_t>(at));
    EXPECT_TRUE(b.read_save() == expect) << "a range leaves the rest";
    EXPECT_TRUE(b.read_save({static_cast<std::int32_t>(at), static_cast<std::int32_t>(span)}) == patch)
        << "a range reads just that range";
    if (part.misuses >= 0) {
      EXPECT_EQ(b.a.sim.log().misuse_count(), static_cast<std::uint64_t>(part.misuses))
          << testing::PrintToString(b.a.sim.log().misuses());
    }
  }
}

TEST(SaveOnSimulator, EepromFilesInEitherOrder) {
  for (const Part& part : {PARTS[9], PARTS[10]}) {
    SCOPED_TRACE(part.save);
    const Bytes image = noise(part.size, 5);
    CartBench b(options_for(part, save_image_file("save", part.save, image)));
    // The part's image is in the tool's own order; the emulators' order
    // reverses every 8-byte block.
    Bytes emulator = image;
    for (std::size_t at = 0; at < emulator.size(); at += 8)
      std::reverse(emulator.begin() + static_cast<std::ptrdiff_t>(at),
                   emulator.begin() + static_cast<std::ptrdiff_t>(at + 8));
    EXPECT_TRUE(b.read_save({}, EepromOrder::Emulator) == emulator);
    const Bytes fresh = noise(part.size, 6);
    b.write_save(fresh, {}, EepromOrder::Emulator);
    EXPECT_TRUE(b.read_save({}, EepromOrder::Emulator) == fresh);
    Bytes tool = fresh;
    for (std::size_t at = 0; at < tool.size(); at += 8)
      std::reverse(tool.begin() + static_cast<std::ptrdiff_t>(at), tool.begin() + static_cast<std::ptrdiff_t>(at + 8));
    EXPECT_TRUE(b.read_save() == tool) << "stored in the part as the emulator file says";
  }
}

TEST(SaveOnSimulator, RomResidentSaveKeepsTheRestOfAnEraseBlock) {
  const Part& part = PARTS[11];
  const Bytes image = noise(part.size, 9);
  CartBench b(options_for(part, save_image_file("save", part.save, image)));
  struct Case {
    const char* name;
    std::int32_t offset;
  };
  // Sector 9 lies inside the 64 KiB block of sectors 8-15; sector 0x7E is
  // erased on its own, after the command pair this part's last sectors take.
  const Case cases[] = {{"sector in the middle of an erase block", 0x12000},
                        {"sector at the start of an erase block", 0x20000},
                        {"single sector near the top", 0xFC000}};
  Bytes expect(image.begin(), image.begin() + 0xFE000);
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const Bytes sector = noise(0x2000, static_cast<std::uint32_t>(tc.offset));
    b.write_save(sector, {tc.offset, 0x2000});
    std::copy(sector.begin(), sector.end(), expect.begin() + tc.offset);
    EXPECT_TRUE(b.read_save() == expect);
  }
  // The one command the part does not know: the 0x60, 0xDC pair before the
  // erase of sector 0x7E.
  EXPECT_EQ(b.a.sim.log().misuse_count(), 1u);
}

TEST(SaveOnSimulator, BoundaryRulesBeforeAnyRequest) {
  const Part& part = PARTS[2];  // 1 MiB of SRAM in 64 KiB banks
  CartBench b(options_for(part, ""));
  struct Case {
    std::function<void()> body;
    const char* failure;
  };
  const Case cases[] = {
      {[&] { b.read_save({0x100800, 0x1000}); },
       "start offset 0x100800 lies beyond the end of the 0x100000-byte save memory"},
      {[&] { b.write_save(noise(0x1000, 1), {0x10800, 0x1000}); },
       "SAVE read size and offset must be 0x1000 boundary.\n"},
      {[&] { b.write_save(noise(0x1800, 1)); }, "SAVE read size and offset must be 0x1000 boundary.\n"},
  };
  for (const Case& tc : cases) {
    try {
      tc.body();
      ADD_FAILURE() << "accepted: " << tc.failure;
    } catch (const Failure& f) {
      EXPECT_STREQ(f.what(), tc.failure);
    }
  }
  // Still in step: a whole-bank read across the 64 KiB bank boundary works.
  const Bytes across = noise(0x2000, 3);
  b.write_save(across, {0xF000, 0x2000});
  EXPECT_TRUE(b.read_save({0xF000, 0x2000}) == across);
}

TEST(SaveOnSimulator, ToolLinesForSaveCommands) {
  const std::string dir = scratch("save_tool");
  const Bytes data = noise(0x8000, 12);
  spill(dir + "in.sav", data);
  const std::string sim = "--sim=state=" + dir + "state,save=sram32k";
  ToolOnSim write({sim, "sw", dir + "in.sav"});
  EXPECT_EQ(write.status, 0) << write.err.str();
  EXPECT_EQ(write.out.str(), BANNER + "MASK ROM SIZE=0x400000\nSRAM256K SIZE=0x8000\n0x8000 bytes writeing.\n" +
                                 std::string(8, 'W') + "\nVerify OK: 8 save blocks hold what was written.\n");
  ToolOnSim read({"--sim=state=" + dir + "state", "sr", dir + "out.sav"});
  EXPECT_EQ(read.status, 0) << read.err.str();
  EXPECT_EQ(read.out.str(), BANNER + "MASK ROM SIZE=0x400000\nSRAM256K SIZE=0x8000\n0x8000 bytes reading.\n" +
                                std::string(8, 'R') + "\n" + checksum_lines(data));
  EXPECT_TRUE(slurp(dir + "out.sav") == data);
}

}  // namespace
}  // namespace kartex::test
