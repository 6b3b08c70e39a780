// JEDEC flash ROM sectors a programmer protected: the chip ignores their
// erase and program, and the tool says so in one line (not a time-out,
// never "done"), with every byte of the cartridge it could not change, and
// every byte outside the write's range, kept.

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/cart/cart_header.h"
#include "tests/support/sizes.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

struct ProtectCase {
  const char* name;
  const char* chip;
  std::uint32_t rom_size;
  std::uint32_t sector, sector_bytes;  // the protected sector
  std::uint32_t blank_from, blank_to;  // erased bytes of the old ROM
  const char* command;                 // "fw" or "fe"
  std::uint32_t at, length;            // fw's range
  const char* says;
};

TEST(ProtectedSectors, WritesOverThemFailWithOneLineAndKeepTheirBytes) {
  const ProtectCase cases[] = {
      {"fw inside the sector", "5/22da", MiB, 0x20000, 0x10000, 0, 0, "fw", 0x21001, 0x2003,
       "the flash ROM refused the erase at 0x20000: its sector is protected"},
      {"fw from the sector before into it", "5/22da", MiB, 0x20000, 0x10000, 0, 0, "fw", 0x18001, 0x10000,
       "the flash ROM refused the erase at 0x20000: its sector is protected"},
      {"fw on a small boot sector", "5/22da", MiB, 0xF8000, 0x2000, 0, 0, "fw", 0xF0001, 0xFFFF,
       "the flash ROM refused the erase at 0xF8000: its sector is protected"},
      // An erased sector needs no erase: the program is what the chip ignores.
      {"fw on an erased sector", "6/22c4", 2 * MiB, 0x30000, 0x10000, 0x30000, 0x40000, "fw", 0x30000, 0x100,
       "the flash ROM refused the program at 0x30000: its sector is protected"},
      {"fe", "6/22c4", 2 * MiB, 0x100000, 0x10000, 0, 0, "fe", 0, 0,
       "the flash ROM refused the erase at 0x100000: its sector is protected"},
  };
  for (const ProtectCase& tc : cases) {
    SCOPED_TRACE(tc.name);
    const std::string d = scratch("protect");
    Bytes old = noise(tc.rom_size, tc.sector);
    const Bytes demo = make_default_rom(MiB);
    std::copy(demo.begin(), demo.begin() + 0xC0, old.begin());
    std::fill(old.begin() + tc.blank_from, old.begin() + tc.blank_to, 0xFF);
    spill(d + "old.gba", old);
    const std::string kept = "--sim=state=" + d + "state";
    ToolOnSim first({kept + ",chip=" + tc.chip + ",protect=" + std::to_string(tc.sector) + ",rom=" + d + "old.gba",
                     "fr", d + "first.bin", "0", "16"});
    ASSERT_EQ(first.status, 0) << first.err.str();

    const Bytes patch = noise(tc.length, 5);
    spill(d + "patch.bin", patch);
    std::vector<std::string> args = {kept, tc.command};
    if (std::string(tc.command) == "fw") {
      args.push_back(d + "patch.bin");
      args.push_back(std::to_string(tc.at));
      args.push_back(std::to_string(tc.length));
    }
    ToolOnSim write(args);
    EXPECT_EQ(write.status, 255);
    const std::string err = write.err.str();
    EXPECT_NE(err.find(tc.says), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(write.out.str().find("END"), std::string::npos) << write.out.str();
    EXPECT_EQ(write.out.str().find("Verify OK"), std::string::npos) << write.out.str();

    ToolOnSim read({kept, "fr", d + "all.bin"});
    ASSERT_EQ(read.status, 0) << read.err.str();
    const Bytes seen = slurp(d + "all.bin");
    ASSERT_EQ(seen.size(), old.size());
    const auto sector = [&](const Bytes& b) {
      return Bytes(b.begin() + tc.sector, b.begin() + tc.sector + tc.sector_bytes);
    };
    EXPECT_TRUE(sector(seen) == sector(old)) << "the protected sector changed";
    if (std::string(tc.command) == "fw") {
      EXPECT_TRUE(std::equal(seen.begin(), seen.begin() + tc.at, old.begin())) << "bytes before the range";
      EXPECT_TRUE(std::equal(seen.begin() + tc.at + tc.length, seen.end(), old.begin() + tc.at + tc.length))
          << "bytes after the range";
    }
  }
}

TEST(ProtectedSectors, OnlyChipsWithSectorProtectionTakeTheKey) {
  const std::string d = scratch("protect_refused");
  const struct {
    const char* sim;
    const char* says;
  } cases[] = {
      {"--sim=chip=3/8802,protect=0", "has no sector protection"},
      {"--sim=protect=0", "takes a sector of a flash ROM"},
      {"--sim=chip=5/22da,protect=0x100000", "lies past"},
      {"--sim=chip=5/22da,protect=sector", "takes a ROM offset"},
      {"--sim=core=mgba,protect=0", "needs core=unicorn"},
  };
  for (const auto& tc : cases) expect_sim_refusal(tc.sim, d, tc.says);
}

}  // namespace
}  // namespace kartex::test
