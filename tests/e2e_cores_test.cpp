// The same runs of the tool on both console models: our own hardware
// models on Unicorn's ARMv5 CPU, and the emulator library's GBA with its
// own ARM7TDMI, ROM bus and save chips. A dump, a save or a state that
// comes out differently on one of them is a fault of the agent or of a
// model, whichever the other core and the hardware documents agree against.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "agent/agent_image.h"
#include "sim/cart/cart_bus.h"
#include "sim/cart/cart_header.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

struct Core {
  const char* name;
  const char* key;  // the --sim key that picks it
};

const Core CORES[] = {{"unicorn", "core=unicorn"}, {"mgba", "core=mgba"}};

class OnEitherCore : public ::testing::TestWithParam<Core> {
 protected:
  std::string sim(const std::string& more = "") const {
    return std::string("--sim=") + GetParam().key + (more.empty() ? "" : "," + more);
  }
  std::string dir(const std::string& what) const { return scratch(std::string(GetParam().name) + "_" + what); }
};

// The byte at `offset` of a cartridge whose mask ROM is `rom`: past its end
// the bus answers the low halfword of the address put on it.
std::uint8_t cart_byte(const Bytes& rom, std::uint32_t offset) {
  if (offset < rom.size()) return rom[offset];
  const std::uint16_t half = rom_open_bus(ROM_BASE + (offset & ~1u));
  return static_cast<std::uint8_t>(offset & 1 ? half >> 8 : half);
}

TEST_P(OnEitherCore, MaskRomsDumpWholeAndInRanges) {
  const std::string d = dir("rom");
  struct Case {
    std::uint32_t mib;
    std::int64_t start, length;  // -1: the whole ROM
  };
  const Case cases[] = {
      {2, -1, -1},                // whole
      {2, 0x1001, 0x123},         // odd start, odd length
      {2, 0x1FFFF3, 0x21},        // across the end into open bus
      {16, 0xFFFFFD, 0x1003},     // across the 16 MiB line
      {16, 0x1000002, 0x10},      // wholly past the end of a 16 MiB ROM
      {32, 0x1FFFFF0, 0x10},      // the last bytes of the window
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(std::to_string(tc.mib) + " MiB from " + std::to_string(tc.start));
    const Bytes rom = noise(tc.mib << 20, tc.mib);
    Bytes headed = rom;
    const Bytes demo = make_default_rom(1 << 20);
    std::copy(demo.begin(), demo.begin() + 0xC0, headed.begin());  // a valid header
    spill(d + "rom.gba", headed);
    std::vector<std::string> args = {sim("rom=" + d + "rom.gba"), "fr", d + "dump.bin"};
    if (tc.start >= 0) {
      args.push_back(std::to_string(tc.start));
      args.push_back(std::to_string(tc.length));
    }
    ToolOnSim run(args);
    if (tc.start >= 0 && std::int64_t{tc.start} + tc.length > std::int64_t{tc.mib} << 20) {
      EXPECT_EQ(run.status, 255) << "a range past the ROM's end is refused";
      continue;
    }
    ASSERT_EQ(run.status, 0) << run.err.str();
    EXPECT_EQ(run.err.str(), "") << "the simulator saw the agent misuse the hardware";
    Bytes expected;
    if (tc.start < 0) {
      expected = headed;
    } else {
      for (std::int64_t i = 0; i < tc.length; ++i)
        expected.push_back(cart_byte(headed, static_cast<std::uint32_t>(tc.start + i)));
    }
    EXPECT_TRUE(slurp(d + "dump.bin") == expected) << "the dump differs";
    EXPECT_NE(run.out.str().find(strprintf("MASK ROM SIZE=0x%X\n", tc.mib << 20)), std::string::npos)
        << run.out.str();
  }
}

struct SavePart {
  const char* save;
  std::uint32_t size;
  std::uint32_t block;  // the tool writes whole blocks of this size
  const char* line;
};

// The save chips both consoles have. (The library's EEPROM cannot pass for
// a 512-byte part: it takes 14-bit addresses too.)
const SavePart SAVES[] = {
    {"sram32k", 0x8000, 0x1000, "SRAM256K SIZE=0x8000\n"},
    {"flash64k:321b", 0x10000, 0x1000, "FLASH512K SIZE=0x10000\n"},
    {"flash128k:6213", 0x20000, 0x1000, "FLASH1M SIZE=0x20000\n"},
    {"eeprom8k", 0x2000, 0x2000, "EEP64K SIZE=0x2000\n"},
};

TEST_P(OnEitherCore, EverySaveChipKeepsItsImageAndTakesWritesOfRanges) {
  for (const SavePart& part : SAVES) {
    SCOPED_TRACE(part.save);
    std::string name = std::string("save_") + part.save;
    std::replace(name.begin(), name.end(), ':', '_');
    const std::string d = dir(name);
    const Bytes image = noise(part.size, part.size);
    spill(d + "image.bin", image);
    // The state keeps the console running the agent and the chip's
    // contents between the runs, as a powered cable and console do.
    const std::string kept = sim("state=" + d + "state");

    ToolOnSim first({kept + ",save=" + part.save + ",save-image=" + d + "image.bin", "sr", d + "first.sav"});
    ASSERT_EQ(first.status, 0) << first.err.str();
    // Our EEPROM model names the probe's streams of the other size; the
    // agent sends them on purpose. Nothing else may be logged.
    std::istringstream lines(first.err.str());
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("sim: EEPROM", 0) != 0 && line != "sim: further log lines are not shown") ADD_FAILURE() << line;
    EXPECT_NE(first.out.str().find(std::string("\n") + part.line), std::string::npos) << first.out.str();
    EXPECT_TRUE(slurp(d + "first.sav") == image) << "the probe or the read changed the save";

    // Two middle blocks, or the whole chip where one block is all of it.
    const std::uint32_t span = std::min(2 * part.block, part.size);
    const std::uint32_t at = (part.size - span) / 2 / part.block * part.block;
    const Bytes patch = noise(span, 99);
    spill(d + "patch.bin", patch);
    ToolOnSim write({kept, "sw", d + "patch.bin", std::to_string(at), std::to_string(span)});
    ASSERT_EQ(write.status, 0) << write.err.str();
    EXPECT_EQ(write.err.str(), "");

    ToolOnSim again({kept, "sr", d + "again.sav"});
    ASSERT_EQ(again.status, 0) << again.err.str();
    Bytes expected = image;
    std::copy(patch.begin(), patch.end(), expected.begin() + at);
    const Bytes seen = slurp(d + "again.sav");
    ASSERT_EQ(seen.size(), expected.size());
    EXPECT_TRUE(seen == expected) << "the write did not land, or changed bytes around its range";
    EXPECT_TRUE(std::equal(seen.begin(), seen.begin() + at, image.begin())) << "bytes before the range";
    EXPECT_TRUE(std::equal(seen.begin() + at + span, seen.end(), image.begin() + at + span))
        << "bytes after the range";
  }
}

TEST_P(OnEitherCore, KeptStateSkipsTheUploadAndKeepsTheScreenAndCounts) {
  const std::string d = dir("state");
  const std::string kept = sim("state=" + d + "state,stats");
  ToolOnSim first({kept, "--trace", d + "first.trace", "fr", d + "a.bin", "0", "4096"});
  ASSERT_EQ(first.status, 0) << first.err.str();
  const std::string length_word = "out " + to_hex(le32(static_cast<std::uint32_t>(agent_image().size())));
  EXPECT_NE(text_of(d + "first.trace").find(length_word), std::string::npos) << "no upload";
  EXPECT_TRUE(fs::exists(d + "state/screen.png"));
  // What the stats line counts: the console's own work on this core.
  const std::string counted = GetParam().key == std::string("core=mgba") ? " CPU cycles (mGBA)" : " instructions";
  EXPECT_NE(first.err.str().find(counted), std::string::npos) << first.err.str();

  ToolOnSim second({kept, "--trace", d + "second.trace", "fr", d + "b.bin", "4096", "4096"});
  ASSERT_EQ(second.status, 0) << second.err.str();
  EXPECT_EQ(text_of(d + "second.trace").find(length_word), std::string::npos) << "uploaded again";
  EXPECT_EQ(text_of(d + "second.trace").find("cmd 0382"), std::string::npos) << "handshake on a marked cable";
  const Bytes rom = make_default_rom();
  EXPECT_TRUE(slurp(d + "a.bin") == Bytes(rom.begin(), rom.begin() + 4096));
  EXPECT_TRUE(slurp(d + "b.bin") == Bytes(rom.begin() + 4096, rom.begin() + 8192)) << "the kept agent lost its place";
}

INSTANTIATE_TEST_SUITE_P(Cores, OnEitherCore, ::testing::ValuesIn(CORES),
                         [](const ::testing::TestParamInfo<Core>& info) { return std::string(info.param.name); });

TEST(MgbaCore, RefusesWhatItCannotRunWithOneLine) {
  const std::string d = scratch("mgba_refusals");
  for (const char* bad : {"--sim=core=mgba,chip=3/8802", "--sim=core=mgba,save=sram256k",
                          "--sim=core=mgba,save=flash64k:bfd4", "--sim=core=mgba,save=romsave",
                          "--sim=core=mgba,save=eeprom512",
                          "--sim=core=mgba,mapper=off", "--sim=core=z80"})
    expect_sim_refusal(bad, d);
}

TEST(MgbaCore, StateOfOneCoreIsNotReadByTheOther) {
  const std::string d = scratch("mgba_state_mix");
  ToolOnSim mgba({"--sim=core=mgba,state=" + d + "state", "fr", d + "a.bin", "0", "16"});
  ASSERT_EQ(mgba.status, 0) << mgba.err.str();
  ToolOnSim unicorn({"--sim=core=unicorn,state=" + d + "state", "fr", d + "b.bin", "0", "16"});
  EXPECT_EQ(unicorn.status, 255);
  EXPECT_NE(unicorn.err.str().find("core=mgba"), std::string::npos) << unicorn.err.str();
}

}  // namespace
}  // namespace kartex::test
