// Saves whose chips take real time, end to end: the real agent on the
// simulator's clock writes an EEPROM beside every ROM size (it answers
// only at the top of the window beside a 32 MiB ROM, and beside a 16 MiB
// ROM it shows past the ROM's end, where the ROM size scan must still stop)
// and the page-program FLASH part, which writes a page only once the load
// window has closed. What is written reads back (the sectors around a
// FLASH range stay), the chips were given their time, and the simulator saw
// no misuse of the write path.

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/cart/cartridge.h"
#include "sim/save/save_commands.h"
#include "tests/support/cart_bench.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

SimOptions options(const std::string& save, std::uint32_t size_mib, const Bytes& image) {
  SimOptions o;
  o.save = save;
  o.size_mib = size_mib;
  std::string name = save + "_" + std::to_string(size_mib);
  std::replace(name.begin(), name.end(), ':', '_');
  o.save_image = scratch(name) + "image.bin";
  spill(o.save_image, image);
  return o;
}

// Misuse lines that a write or a read of the save caused: none is allowed.
std::vector<std::string> write_path_misuses(const SimLog& log, std::size_t from) {
  const std::vector<std::string>& lines = log.misuses();
  return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())),
                                  lines.end());
}

TEST(SaveTimingOnSimulator, EepromBesideEveryRomSizeIsFoundAndRoundTrips) {
  struct Case {
    const char* save;
    std::uint32_t bytes;
    std::uint32_t rom_mib;
  };
  const Case cases[] = {{"eeprom8k", save::EEPROM_8K, 32}, {"eeprom512", save::EEPROM_512, 32},
                        {"eeprom8k", save::EEPROM_8K, 16}, {"eeprom512", save::EEPROM_512, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.save) + " beside " + std::to_string(c.rom_mib) + " MiB");
    const Bytes image = noise(c.bytes, c.bytes + c.rom_mib);
    CartBench b(options(c.save, c.rom_mib, image));
    ASSERT_EQ(b.cart.save_size, static_cast<std::int32_t>(c.bytes)) << b.out.str();
    EXPECT_EQ(b.cart.rom_size, static_cast<std::int32_t>(c.rom_mib << 20)) << "the ROM size scan";
    EXPECT_TRUE(b.read_save() == image) << "the probe kept the save";

    // The tool writes an EEPROM whole; every block is its own write.
    const Bytes fresh = noise(c.bytes, 99);
    const std::size_t misuses_before = b.a.sim.log().misuses().size();
    const SimTime t0 = b.a.sim.log().clock().now();
    b.write_save(fresh);
    const SimTime took = b.a.sim.log().clock().now() - t0;
    EXPECT_TRUE(b.read_save() == fresh);
    EXPECT_GE(took, c.bytes / save::EEPROM_BLOCK_BYTES * save::EEPROM_WRITE_TIME) << "each block write was waited for";
    EXPECT_EQ(write_path_misuses(b.a.sim.log(), misuses_before), std::vector<std::string>{});
  }
}

TEST(SaveTimingOnSimulator, PagePartGetsItsLoadWindowAndWriteCycle) {
  const Bytes image = noise(0x10000, 5);
  CartBench b(options("flash64k:1f3d", 4, image));
  ASSERT_EQ(b.cart.save_size, 0x10000) << b.out.str();
  // Two sectors of 32 pages each, between two that stay (the tool moves
  // FLASH saves in whole sectors).
  const std::size_t at = 0x3000, span = 0x2000;
  const Bytes patch = noise(span, 6);
  const SimTime t0 = b.a.sim.log().clock().now();
  b.write_save(patch, {static_cast<std::int32_t>(at), static_cast<std::int32_t>(span)});
  const SimTime took = b.a.sim.log().clock().now() - t0;
  Bytes want = image;
  std::copy(patch.begin(), patch.end(), want.begin() + static_cast<std::ptrdiff_t>(at));
  EXPECT_TRUE(b.read_save() == want);
  EXPECT_GE(took, 64 * (save::FLASH_PAGE_LOAD_WINDOW + simtime::milliseconds(20)))
      << "every page waited for its load window and write cycle";
  EXPECT_EQ(b.a.sim.log().misuse_count(), 0u) << testing::PrintToString(b.a.sim.log().misuses());
}

TEST(SaveTimingOnSimulator, ToolWritesAndReadsAnEepromBesideA32MiBRom) {
  // Each run starts a fresh simulator (no kept state: a 32 MiB ROM is slow
  // to keep): sr reads the part's image, sw writes and verifies it.
  const std::string dir = scratch("eeprom_32m_tool");
  const Bytes image = noise(save::EEPROM_8K, 20), data = noise(save::EEPROM_8K, 21);
  spill(dir + "image.bin", image);
  spill(dir + "in.sav", data);
  ToolOnSim read({"--sim=save=eeprom8k,size=32,save-image=" + dir + "image.bin", "sr", dir + "out.sav"});
  EXPECT_EQ(read.status, 0) << read.err.str();
  EXPECT_NE(read.out.str().find("EEP64K SIZE=0x2000\n"), std::string::npos) << read.out.str();
  EXPECT_TRUE(slurp(dir + "out.sav") == image);
  ToolOnSim write({"--sim=save=eeprom8k,size=32", "sw", dir + "in.sav"});
  EXPECT_EQ(write.status, 0) << write.err.str();
  EXPECT_NE(write.out.str().find("Verify OK"), std::string::npos) << write.out.str();
}

// The console tells the cartridge WAITCNT's save window setting (bits 0-1:
// 4, 3, 2 or 8 cycles) as the agent writes it. The slowest parts need 8
// cycles to take a write or give a settled read.
TEST(SaveTimingOnSimulator, AgentsSaveWindowTimingSuitsTheSlowestParts) {
  for (const char* part : {"flash64k:1f3d", "flash64k:c21c", "flash128k:c209"}) {
    SCOPED_TRACE(part);
    const std::uint32_t bytes = std::string(part).find("128k") != std::string::npos ? 0x20000 : 0x10000;
    CartBench b(options(part, 4, noise(bytes, 3)));
    const Bytes fresh = noise(bytes, 4);
    b.write_save(fresh);
    EXPECT_TRUE(b.read_save() == fresh);
    EXPECT_EQ(b.a.sim.log().misuse_count(), 0u) << testing::PrintToString(b.a.sim.log().misuses());
  }
}

}  // namespace
}  // namespace kartex::test
