// Status-register chips while their write state machine runs: only read
// status and suspend are taken, read array waits for a command after the
// end; and the operations the chips carried out, which tests of the agent
// count.

#include <gtest/gtest.h>

#include <functional>

#include "tests/sim_flash_support.h"

namespace kartex::flashtest {
namespace {

using namespace flash;

TEST(SimFlashBusy, WritesDuringAnOperationAreIgnoredButSuspendAndStatus) {
  struct Case {
    const char* name;
    std::uint16_t during;     // written while the erase runs
    std::uint64_t misuses;    // lines logged for it
  };
  const Case cases[] = {
      {"read status", CMD_READ_STATUS, 0},
      {"suspend (not modelled: a note)", CMD_SUSPEND, 0},
      {"read array", CMD_READ_ARRAY, 1},
      {"clear status", CMD_CLEAR_STATUS, 1},
      {"another erase", CMD_BLOCK_ERASE, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint8_t data[] = {0x5A, 0x5A, 0x34, 0x12};
    TestRom t("2/16", 0, data);
    t.wr(0x20000, CMD_BLOCK_ERASE);  // the next block: offset 0 keeps its data
    t.wr(0x20000, CMD_CONFIRM);
    t.wr(0x20000, c.during);
    EXPECT_EQ(t.log.misuse_count(), c.misuses);
    EXPECT_EQ(t.rd(0) & SR_READY, 0) << "still busy: status, not array data";
    t.wait_ready(0);
    EXPECT_EQ(t.rd(0), SR_READY) << "after the end the chip shows its status until read array";
    t.wr(0, CMD_READ_ARRAY);
    EXPECT_EQ(t.rd(0), 0x5A5A);
    EXPECT_EQ(t.rd(2), 0x1234);
    EXPECT_EQ(t.rom.ops().erases, 1u);
  }
}

// The page number 0x10 reaching a chip is the other program set-up code;
// all ones as its data word changes no bit, a locked block refuses it
// (with its status bits).
TEST(SimFlashBusy, ProgramSetUpByPageNumberThenAllOnes) {
  struct Case {
    const char* chip;
    bool locked;
  };
  for (const Case& c : {Case{"3/18", false}, Case{"3/8802", true}}) {
    SCOPED_TRACE(c.chip);
    const std::uint8_t data[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    TestRom t(c.chip, 0, data);
    t.wr(2, 0x0010);
    t.wr(2, 0xFFFF);
    t.wait_ready(2);
    EXPECT_EQ(t.rd(2) & SR_PROGRAM_ERROR, c.locked ? SR_PROGRAM_ERROR : 0);
    t.wr(2, CMD_CLEAR_STATUS);
    EXPECT_EQ(t.rd(2), SR_READY) << "status cleared";
    t.wr(2, CMD_READ_ARRAY);
    EXPECT_EQ(t.rd(0), 0x2211);
    EXPECT_EQ(t.rd(2), 0x4433);
    EXPECT_EQ(t.rd(4), 0x6655);
    EXPECT_EQ(t.rom.ops().programs, c.locked ? 0u : 1u) << "a refused program is not carried out";
    // Refused or not, a program that clears no bit is no misuse
    EXPECT_EQ(t.log.misuse_count(), 0u);
  }
}

TEST(SimFlashBusy, OperationsAreCountedPerChip) {
  struct Case {
    const char* name;
    const char* chip;
    std::function<void(TestRom&)> drive;
    std::uint64_t erases, programs;
  };
  const Case cases[] = {
      {"word program", "7/8897", [](TestRom& t) { t.program(0x40000, 0x1234); }, 0, 1},
      {"block erase", "7/8897", [](TestRom& t) { t.erase(0x40000); }, 1, 0},
      {"JEDEC sector erase and program", "5/22da",
       [](TestRom& t) {
         t.erase(0x10000);
         t.program(0x10000, 0x00FF);
       },
       1, 1},
      {"buffered write of 16 words", "2/16",
       [](TestRom& t) {
         t.wr(0, CMD_BUFFERED_WRITE);
         t.wr(0, 15);
         for (std::uint32_t i = 0; i < 16; ++i) t.wr(2 * i, static_cast<std::uint16_t>(i));
         t.wr(0, CMD_CONFIRM);
         t.wait_ready(0);
       },
       0, 1},
      {"both chips of a pair", "8/8896",
       [](TestRom& t) {
         t.program(0x100000, 0x1111);
         t.program(0x100002, 0x2222);
       },
       0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestRom t(c.chip);
    c.drive(t);
    EXPECT_EQ(t.rom.ops().erases, c.erases);
    EXPECT_EQ(t.rom.ops().programs, c.programs);
    EXPECT_EQ(t.log.misuse_count(), 0u);
  }
}

}  // namespace
}  // namespace kartex::flashtest
