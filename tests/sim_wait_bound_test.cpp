// Waits bounded in time against chips at their data sheets' longest times:
// the simulator lets a busy chip's time pass in steps a timer sees, so a
// bound shorter than the chip's time runs out; and every bound the agent
// sets covers the slowest chip it can meet.

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/cart/cart_build.h"
#include "sim/cart/flash_catalog.h"
#include "sim/save/save_flash.h"
#include "sim_support.h"
// The agent's plain #defines last: some share a name with the simulator's
// own constants.
#include "contract/hw/rom_flash.h"
#include "contract/hw/timer.h"

namespace kartex {
namespace {

// Starts timers 2 and 3 as one clock (prescaler 1024, 3 cascaded: one
// count of timer 3 is 4 s), erases the first block of a status-register
// chip, polls its status until ready or until timer 3 reaches `bound`, and
// stores at 0x03000000 1 (ready) or 2 (gave up), then timer 2 and 3:
//   mov r4, #0x08000000 ; mov r5, #0x04000000 ; add r5, r5, #0x100
//   mov r0, #0 ; strh r0, [r5, #0xA] ; strh r0, [r5, #0xE] ; strh r0, [r5, #8] ; strh r0, [r5, #0xC]
//   mov r0, #0x84 ; strh r0, [r5, #0xE] ; mov r0, #0x83 ; strh r0, [r5, #0xA]
//   mov r0, #0x20 ; strh r0, [r4] ; mov r0, #0xD0 ; strh r0, [r4]
//   poll: mov r0, #0x70 ; strh r0, [r4] ; ldrh r1, [r4] ; tst r1, #0x80 ; bne ready
//         ldrh r2, [r5, #0xC] ; cmp r2, #bound ; blo poll ; mov r6, #2 ; b park
//   ready: mov r6, #1
//   park: mov r7, #0x03000000 ; str r6, [r7] ; ldrh r3, [r5, #8] ; str r3, [r7, #4]
//         ldrh r3, [r5, #0xC] ; str r3, [r7, #8] ; b .
std::vector<std::uint8_t> erase_with_bound(std::uint8_t bound) {
  return simtest::program({0xE3A04302, 0xE3A05301, 0xE2855C01, 0xE3A00000, 0xE1C500BA, 0xE1C500BE, 0xE1C500B8,
                           0xE1C500BC, 0xE3A00084, 0xE1C500BE, 0xE3A00083, 0xE1C500BA, 0xE3A00020, 0xE1C400B0,
                           0xE3A000D0, 0xE1C400B0, 0xE3A00070, 0xE1C400B0, 0xE1D410B0, 0xE3110080, 0x1A000004,
                           0xE1D520BC, 0xE3520000u | bound, 0x3AFFFFF7, 0xE3A06002, 0xEA000000, 0xE3A06001,
                           0xE3A07403, 0xE5876000, 0xE1D530B8, 0xE5873004, 0xE1D530BC, 0xE5873008, 0xEAFFFFFE});
}

TEST(WaitBound, ABoundShorterThanTheChipsTimeRunsOut) {
  // The 16-word-buffer part erases a block in 1 s typically, 5 s at most.
  struct Case {
    bool max_times;
    std::uint8_t bound;  // in 4 s counts of timer 3
    std::uint32_t outcome;
    double at_least_s, below_s;  // the console's time the wait ended at
  };
  const Case cases[] = {
      {false, 1, 1, 1.0, 1.01},  // 1 s inside 4 s: one pass after the chip
      {true, 1, 2, 4.0, 5.0},    // 5 s outlasts 4 s: the wait gives up while the chip still erases
      {true, 2, 1, 5.0, 5.01},   // inside 8 s
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(std::string(tc.max_times ? "max" : "typical") + " bound " + std::to_string(tc.bound));
    Simulator sim;
    SimOptions options;
    options.chip = "2/16";
    options.chip_times_max = tc.max_times;
    sim.set_cart(build_cartridge(options, sim.log()));
    sim.console().boot(erase_with_bound(tc.bound));
    simtest::loader_left_interrupts_off(sim);
    const SimTime start = sim.console().clock().now();
    sim.console().run(10'000);
    const auto ram = sim.peek(0x03000000, 12);
    EXPECT_EQ(simtest::word_at(ram, 0), tc.outcome);
    // The time the program saw when it stopped waiting, on the timers.
    const double seconds = (simtest::word_at(ram, 8) * 65536.0 + simtest::word_at(ram, 4)) / TIMER_TICKS_PER_SECOND;
    EXPECT_GE(seconds, tc.at_least_s);
    EXPECT_LT(seconds, tc.below_s);
    // The timers count the console's time: the run (which idles on after
    // the wait) took at least as long.
    EXPECT_GE(simtime::seconds(sim.console().clock().now() - start), seconds);
  }
}

SimTime us(std::uint64_t n) { return simtime::microseconds(n); }

TEST(WaitBound, TheAgentsBoundsCoverEveryChipAtItsLongest) {
  for (const RomOption& o : rom_options()) {
    SCOPED_TRACE(o.label());
    const ChipModel& c = *o.chip;
    const ChipTimes& max = c.max_times;
    const ChipTimes& typ = c.times;
    // The maximum is no shorter than the typical figure, operation by operation.
    for (auto [m, t] : {std::pair{max.word_program, typ.word_program}, {max.main_erase, typ.main_erase},
                        {max.param_erase, typ.param_erase}, {max.page_program, typ.page_program},
                        {max.buffer(c.buffer_words), typ.buffer(c.buffer_words)},
                        {max.lock_bits_clear, typ.lock_bits_clear}})
      EXPECT_GE(m, t);
    const SimTime erase = std::max({max.main_erase, max.param_erase, max.lock_bits_clear});
    const SimTime program = std::max({max.word_program, max.buffer(c.buffer_words), max.page_program});
    EXPECT_LE(erase, us(c.family == FlashFamily::Jedec ? FLASH_JEDEC_ERASE_MAX_US : FLASH_SR_ERASE_MAX_US));
    EXPECT_LE(program, us(FLASH_PROGRAM_MAX_US));
  }
}

}  // namespace
}  // namespace kartex
