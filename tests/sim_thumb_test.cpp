// The simulated console running Thumb code: link exchanges that stop and
// resume the CPU in Thumb state, BIOS calls from Thumb, and a program that
// stops answering while the host polls for its next word.

#include <gtest/gtest.h>

#include "sim_support.h"

namespace kartex {
namespace {

using simtest::program;

// ARM entry, then Thumb: receives a word, sends it back plus one, forever.
//   add r0, pc, #1 ; bx r0
//   movs r4, #1 ; lsls r4, #26 ; adds r4, #0x90 ; adds r4, #0x90     @ 0x04000120
//   loop: bl xfer ; adds r5, r0, #1 ; str r5, [r4] ; bl xfer ; b loop
//   xfer: movs r1, #1 ; lsls r1, #12 ; strh r1, [r4, #8] ; adds r1, #0x88 ; strh r1, [r4, #8]
//   wait: ldrh r1, [r4, #8] ; lsls r1, #24 ; bmi wait ; ldr r0, [r4] ; bx lr
std::vector<std::uint8_t> thumb_echo() {
  return program({0xE28F0001, 0xE12FFF10, 0x06A42401, 0x34903490, 0xF805F000, 0x60251C45,
                  0xF801F000, 0x2101E7F8, 0x81210309, 0x81213188, 0x06098921, 0x6820D4FC,
                  0x46C04770});
}

// ARM entry, then Thumb: counts its runs at 0x02000040, calls BIOS 5 (not
// emulated), sets the reset flag and calls SoftReset:
//   movs r3, #1 ; lsls r3, #25 ; ldr r2, [r3, #0x40] ; adds r2, #1 ; str r2, [r3, #0x40]
//   swi 5 ; ldr r0, =0x03007FFA ; movs r1, #1 ; strb r1, [r0] ; swi 0
std::vector<std::uint8_t> thumb_reset() {
  return program({0xE28F0001, 0xE12FFF10, 0x065B2301, 0x32016C1A, 0xDF05641A, 0x21014801,
                  0xDF007001, 0x03007FFA});
}

// ARM entry, then Thumb: arms one exchange, waits for it, then runs an
// undefined instruction (udf #0).
std::vector<std::uint8_t> thumb_send_then_fault() {
  return program({0xE28F0001, 0xE12FFF10, 0x06A42401, 0x34903490, 0x21016820, 0x81210309,
                  0x81213188, 0x06098921, 0xDE00D4FC});
}

TEST(SimThumb, LinkExchangesStopAndResumeInThumbState) {
  Simulator sim;
  simtest::Wire wire(sim.pipes());
  wire.handshake();
  wire.upload(simtest::multiboot(thumb_echo()));
  simtest::loader_left_interrupts_off(sim);
  for (std::uint32_t i = 0; i < 200; ++i) {
    const std::uint32_t value = 0x10000 * i + 7;
    const std::uint32_t word[1] = {value};
    ASSERT_TRUE(wire.write_words(word).ok) << i;
    // The host asks before the console has armed: the CPU stops in Thumb code.
    EXPECT_EQ(wire.reg_read(CABLE_REG_STATUS) & STATUS_NO_WORD, 0u) << "the answer is ready";
    bool ok = false;
    std::string why;
    const auto back = wire.read_words(1, &ok, &why);
    ASSERT_TRUE(ok) << why;
    EXPECT_EQ(back[0], value + 1) << i;
  }
  EXPECT_EQ(sim.console().fault(), "");
  EXPECT_EQ(sim.log().misuse_count(), 0u);
}

TEST(SimThumb, BiosCallsFromThumbAndSoftResetBackToArm) {
  Simulator sim;
  sim.console().boot(thumb_reset());
  EXPECT_EQ(sim.console().run(5000), RunEnd::Budget);
  EXPECT_EQ(sim.console().fault(), "");
  // Every restart begins with the ARM instructions at 0x02000000 again.
  EXPECT_GT(simtest::word_at(sim.peek(EWRAM_BASE + 0x40, 4), 0), 10u);
  ASSERT_FALSE(sim.log().lines().empty());
  EXPECT_NE(sim.log().lines()[0].find("call 0x00000005 at PC=0x02000012"), std::string::npos)
      << sim.log().lines()[0];
}

TEST(SimThumb, StatusPollAfterAFaultReportsIt) {
  Simulator sim;
  simtest::Wire wire(sim.pipes());
  wire.handshake();
  wire.upload(simtest::multiboot(thumb_send_then_fault()));
  bool ok = false;
  wire.read_words(1, &ok);
  ASSERT_TRUE(ok);
  // The console runs on while the host polls: this poll sees it fault...
  EXPECT_NE(wire.reg_read(CABLE_REG_STATUS) & STATUS_NO_WORD, 0u);
  const std::string fault = sim.console().fault();
  EXPECT_NE(fault.find("undefined instruction"), std::string::npos) << fault;
  // ...and every later one reports that no word will come.
  for (int i = 0; i < 2; ++i) {
    PipeResult r = wire.command({CMD_REG, CABLE_REG_STATUS});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, fault);
  }
  // Other registers still answer.
  EXPECT_EQ(wire.reg_read(CABLE_REG_SESSION), 0u);
}

}  // namespace
}  // namespace kartex
