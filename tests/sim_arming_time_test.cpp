// A link word starts at the store that arms the console's port, wherever
// that store lies in a run of straight-line code: on the console the store
// sets the start bit as it executes, and the cable clocks from there while
// the CPU runs on.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/cart/cart_rom.h"
#include "sim_support.h"

namespace kartex {
namespace {

using simtest::Wire;

// A while (some 1.5 ms at work RAM 256K's fetches) so that the host's
// word waits at the cable before the console arms.
const std::vector<std::uint32_t> DELAY = {0xE3A00B01, 0xE2500001, 0x1AFFFFFD};  // mov r0, #1024; subs; bne

// Where the arming store lies. The reference starts a run of code with it
// (a branch before, one after); the others put it behind the store of the
// port's mode and three instructions, which take as long as that branch
// (its fetch and the two that refill the pipeline), with `after`
// instructions behind it. (The branch skips an instruction: one to the
// next address cannot be told from running on.)
struct Layout {
  bool branch_before;
  unsigned after;
};

// ARM: r3 = SIOCNT, r1 = 32-bit normal mode, r2 = that and the start bit
// with SO high; the mode's store, the arming store as laid out, then wait
// for the word, arm again for a second one and spin.
std::vector<std::uint32_t> arm_program(Layout at) {
  std::vector<std::uint32_t> w = DELAY;
  for (std::uint32_t insn : {0xE3A03301u, 0xE2833F4Au, 0xE3A01A01u, 0xE3812088u, 0xE1C310B0u}) w.push_back(insn);
  if (at.branch_before) {
    w.insert(w.end(), {0xEA000000, 0xE1A00000});  // b over the nop
  } else {
    w.insert(w.end(), 3, 0xE1A00000);  // nop
  }
  w.push_back(0xE1C320B0);                 // strh r2, [r3]: armed
  w.insert(w.end(), at.after, 0xE2855001);  // add r5, r5, #1
  for (std::uint32_t insn : {0xEAFFFFFFu,                            // b to the next
                             0xE1D340B0u, 0xE3140080u, 0x1AFFFFFCu,  // wait: ldrh r4, [r3]; tst r4, #0x80; bne
                             0xE1C310B0u, 0xE1C320B0u, 0xEAFFFFFEu})
    w.push_back(insn);
  return w;
}

// The same in Thumb state, entered with add r0, pc, #1; bx r0; the start
// bit in r4.
std::vector<std::uint32_t> thumb_program(Layout at) {
  std::vector<std::uint16_t> h = {0x2380, 0x04DB, 0x2294, 0x0052, 0x189B,  // r3 = 0x04000000 + 0x128
                                  0x2480,                                  // r4 = 0x80
                                  0x2180, 0x0149, 0x1C0A, 0x3288,          // r1 = 0x1000, r2 = r1 + 0x88
                                  0x8019};                                 // strh r1, [r3]
  if (at.branch_before) {
    h.insert(h.end(), {0xE000, 0x46C0});  // b over the nop
  } else {
    h.insert(h.end(), 3, 0x46C0);
  }
  h.push_back(0x801A);                   // strh r2, [r3]: armed
  h.insert(h.end(), at.after, 0x3501);  // adds r5, #1
  for (std::uint16_t insn : {0xE7FF,                  // b to the next
                             0x881E, 0x4226, 0xD1FC,  // wait: ldrh r6, [r3]; tst r6, r4; bne
                             0x8019, 0x801A, 0xE7FE})
    h.push_back(insn);
  if (h.size() % 2) h.push_back(0x46C0);
  std::vector<std::uint32_t> w = DELAY;
  w.push_back(0xE28F0001);
  w.push_back(0xE12FFF10);
  for (std::size_t i = 0; i < h.size(); i += 2) w.push_back(h[i] | static_cast<std::uint32_t>(h[i + 1]) << 16);
  return w;
}

// When the two words end on the cable, from the program's start.
struct Timing {
  SimTime first, second;
};

// The host sends two words to the program on `core`, one transfer each.
Timing run(SimCore core, const std::vector<std::uint32_t>& code) {
  Simulator sim(nullptr, CableTimes{}, nullptr, core);
  if (core == SimCore::Unicorn) sim.set_cart(std::make_unique<MaskRom>(make_default_rom()));
  Wire wire(sim.pipes());
  wire.handshake();
  wire.upload(simtest::multiboot(simtest::words_to_bytes(code)));
  const SimTime start = sim.link_console().clock().now();
  Timing t{};
  for (SimTime* end : {&t.first, &t.second}) {
    const std::uint32_t word[1] = {0x12345678};
    EXPECT_TRUE(wire.write_words(word).ok);
    *end = sim.cable().clock().now() - start;
  }
  EXPECT_EQ(sim.stats().words_to_console, 2u);
  EXPECT_EQ(sim.log().misuse_count(), 0u);
  return t;
}

TEST(SimArming, TheWordStartsAtTheArmingStoreNotAtTheEndOfItsRunOfCode) {
  struct Case {
    SimCore core;
    bool thumb;
    unsigned after;  // instructions between the arming store and the branch
  };
  // The adds take less time than the word's 16 us.
  const Case cases[] = {
      {SimCore::Unicorn, false, 0}, {SimCore::Unicorn, false, 1}, {SimCore::Unicorn, false, 8},
      {SimCore::Unicorn, false, 30}, {SimCore::Unicorn, true, 0}, {SimCore::Unicorn, true, 1},
      {SimCore::Unicorn, true, 8},  {SimCore::Unicorn, true, 60}, {SimCore::Mgba, false, 8},
      {SimCore::Mgba, false, 30},   {SimCore::Mgba, true, 60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.core == SimCore::Mgba ? "mgba" : "unicorn") + (c.thumb ? " thumb " : " arm ") +
                 std::to_string(c.after));
    const auto make = c.thumb ? thumb_program : arm_program;
    const Timing reference = run(c.core, make({true, 0}));
    const Timing t = run(c.core, make({false, c.after}));
    // The word: 32 bit times of the 2 MHz clock from the store. The store
    // comes after the delay, long after the host's transfer reached the
    // cable (some 250 us after the start).
    EXPECT_EQ(t.first, reference.first);
    EXPECT_GT(reference.first, simtime::microseconds(1000));
    // The console waits for that end, then arms for the second word. Our
    // console's port registers catch up with the word's end at the first
    // poll; the library's CPU sees it at the next pass of its poll loop
    // (under 32 cycles in work RAM 256K), whose phase the adds move.
    const SimTime slack = c.core == SimCore::Mgba ? simtime::cycles(32) : 0;
    EXPECT_LE(t.second > reference.second ? t.second - reference.second : reference.second - t.second, slack);
    EXPECT_GT(t.second, t.first + simtime::link_word(2'000'000));
  }
}

}  // namespace
}  // namespace kartex
