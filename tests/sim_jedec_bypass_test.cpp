// The unlock bypass of the 29LV-type JEDEC chips: two-write programs while
// in it, only its program and reset taken there, and a part of the same ID
// without it taking 0x20 as a broken sequence.

#include <gtest/gtest.h>

#include <functional>

#include "sim_flash_support.h"

namespace kartex::flashtest {
namespace {

using namespace flash;

void bypass_enter(TestRom& t) { t.jedec(JEDEC_UNLOCK_BYPASS); }
void program_in_bypass(TestRom& t, std::uint32_t offset, std::uint16_t value) {
  t.wr(0x40, JEDEC_PROGRAM);  // any address
  t.wr(offset, value);
  t.wait_toggle(offset);
}
void bypass_leave(TestRom& t) {
  t.wr(0x80, JEDEC_BYPASS_RESET);
  t.wr(0x82, JEDEC_BYPASS_RESET_2);
}

// The same part as a row of the catalog, from a sheet without the bypass
struct PartWithoutBypass {
  ChipModel model;
  RomOption option;
  explicit PartWithoutBypass(const std::string& label) : model(*flashtest::option(label).chip), option(flashtest::option(label)) {
    model.unlock_bypass = false;
    option.chip = &model;
  }
};

TEST(SimJedecBypass, ProgramsInTheBypassTakeTwoWritesUntilItsReset) {
  struct Case {
    const char* name;
    const char* chip;
    bool has_bypass;
    std::function<void(TestRom&)> drive;
    std::uint16_t at_10, at_12;  // what the cells hold after
    unsigned misuses;
  };
  const Case cases[] = {
      {"two programs, then the reset", "6/22c4", true,
       [](TestRom& t) { bypass_enter(t); program_in_bypass(t, 0x10, 0x1234); program_in_bypass(t, 0x12, 0x00FF); bypass_leave(t); },
       0x1234, 0x00FF, 0},
      {"the 8 Mbit part too", "5/22da", true,
       [](TestRom& t) { bypass_enter(t); program_in_bypass(t, 0x10, 0x8001); bypass_leave(t); }, 0x8001, 0xFFFF, 0},
      {"after the reset a program needs the unlock again", "6/22c4", true,
       [](TestRom& t) { bypass_enter(t); bypass_leave(t); t.wr(0x40, JEDEC_PROGRAM); t.wr(0x10, 0x0000); }, 0xFFFF, 0xFFFF, 0},
      {"after the reset the whole sequence programs", "6/22c4", true,
       [](TestRom& t) { bypass_enter(t); bypass_leave(t); t.program(0x12, 0x5555); }, 0xFFFF, 0x5555, 0},
      {"the unlock inside the bypass is no command", "6/22c4", true,
       [](TestRom& t) { bypass_enter(t); t.wr(0xAAA, JEDEC_UNLOCK1); t.wr(0x554, JEDEC_UNLOCK2); bypass_leave(t); }, 0xFFFF, 0xFFFF,
       2},
      {"0x90 then not 0x00 stays in the bypass", "6/22c4", true,
       [](TestRom& t) { bypass_enter(t); t.wr(0, JEDEC_BYPASS_RESET); t.wr(0, JEDEC_RESET); program_in_bypass(t, 0x10, 0x0F0F); bypass_leave(t); },
       0x0F0F, 0xFFFF, 1},
      {"a program in the bypass ends in it", "6/22c4", true,
       [](TestRom& t) { bypass_enter(t); program_in_bypass(t, 0x10, 0x1111); program_in_bypass(t, 0x12, 0x2222); }, 0x1111, 0x2222, 0},
      {"without the bypass 0x20 is a broken sequence", "6/22c4", false,
       [](TestRom& t) { bypass_enter(t); t.wr(0x40, JEDEC_PROGRAM); t.wr(0x10, 0x0000); bypass_leave(t); }, 0xFFFF, 0xFFFF, 1},
      {"without it the whole sequence still programs", "5/22da", false,
       [](TestRom& t) { bypass_enter(t); bypass_leave(t); t.program(0x10, 0x4242); }, 0x4242, 0xFFFF, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PartWithoutBypass plain(c.chip);
    TestRom t(c.has_bypass ? option(c.chip) : plain.option);
    c.drive(t);
    EXPECT_EQ(t.rom.cell(0x10), c.at_10);
    EXPECT_EQ(t.rom.cell(0x12), c.at_12);
    EXPECT_EQ(t.log.misuse_count(), c.misuses) << testing::PrintToString(t.log.misuses());
    EXPECT_EQ(t.rd(0x10), c.at_10) << "reads give the array";
  }
}

// A kept state holds the bypass, also while a program in it runs; states
// from before the bypass (the mode byte's top bit clear) load as before.
TEST(SimJedecBypass, AKeptStateKeepsTheBypass) {
  struct Case {
    const char* name;
    bool busy;  // kept while a bypass program runs
  };
  for (const Case& c : {Case{"idle in the bypass", false}, Case{"a bypass program running", true}}) {
    SCOPED_TRACE(c.name);
    TestRom t("6/22c4");
    bypass_enter(t);
    if (c.busy) {
      t.wr(0x40, JEDEC_PROGRAM);
      t.wr(0x10, 0x1234);
    }
    StateWriter out;
    t.rom.save(out);
    TestRom back("6/22c4");
    StateReader in(out.bytes(), "test state");
    (void)in.str();
    (void)in.u32();
    back.rom.load_chips(in);
    if (c.busy) back.wait_toggle(0x10);
    program_in_bypass(back, 0x12, 0x00AA);
    bypass_leave(back);
    EXPECT_EQ(back.rom.cell(0x10), c.busy ? 0x1234 : 0xFFFF);
    EXPECT_EQ(back.rom.cell(0x12), 0x00AA);
    EXPECT_EQ(back.log.misuse_count(), 0u) << testing::PrintToString(back.log.misuses());
  }
}

}  // namespace
}  // namespace kartex::flashtest
