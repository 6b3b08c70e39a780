// Interrupts on the simulated console: the loader leaves the vertical-blank
// interrupt on, and the BIOS calls the handler a program left at 0x03007FFC
// when IME, IE and the CPU allow it. A program that leaves them on without a
// handler crashes, as it would on the console.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "sim_support.h"
#include "support/sim_session.h"

namespace kartex {
namespace {

constexpr std::uint32_t COUNTER = 0x02000100;  // the handler's count of calls
constexpr std::uint32_t HANDLER_WORD = 16;
constexpr std::uint32_t NOP = 0xE1A00000;

struct IrqCase {
  const char* what;
  bool set_handler;
  bool mask_cpu;     // msr cpsr_c, #0x9F: IRQs masked in the CPU
  bool ime_off;      // IME = 0
  int calls_low, calls_high;  // handler calls in three frames
  const char* fault;          // "" or a piece of the fault
};

// Main loop: r4 = 0x55, r5 counts up forever. The handler acknowledges the
// vertical blank and counts its calls at COUNTER.
std::vector<std::uint8_t> irq_program(const IrqCase& s) {
  std::vector<std::uint32_t> w;
  if (s.mask_cpu) w.push_back(0xE321F09F);
  w.push_back(0xE3A00403);  // mov r0, #0x03000000
  w.push_back(0xE2800C7F);  // add r0, r0, #0x7F00
  const auto here = static_cast<std::uint32_t>(w.size());
  w.push_back(0xE28F1000 | (HANDLER_WORD * 4 - (here * 4 + 8)));  // add r1, pc, #handler
  w.push_back(s.set_handler ? 0xE58010FC : NOP);                   // str r1, [r0, #0xFC]
  if (s.ime_off) {
    w.push_back(0xE3A00301);  // mov r0, #0x04000000
    w.push_back(0xE5800208);  // str r0, [r0, #0x208]: bit 0 clear
  }
  w.push_back(0xE3A04055);  // mov r4, #0x55
  w.push_back(0xE3A05000);  // mov r5, #0
  w.push_back(0xE2855001);  // loop: add r5, r5, #1
  w.push_back(0xEAFFFFFD);  // b loop
  while (w.size() < HANDLER_WORD) w.push_back(NOP);
  for (std::uint32_t insn : {0xE3A01301u, 0xE2811C02u,  // r1 = 0x04000200
                             0xE3A02001u, 0xE1C120B2u,  // IF = VBlank: acknowledged
                             0xE3A03402u, 0xE5932100u, 0xE2822001u, 0xE5832100u,  // ++[COUNTER]
                             0xE12FFF1Eu})                                         // bx lr
    w.push_back(insn);
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t insn : w)
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(insn >> (8 * i)));
  return bytes;
}

TEST(SimInterrupts, TheBiosCallsTheProgramsHandlerWhenEverythingAllowsIt) {
  const IrqCase setups[] = {
      {"handler set, interrupts as the loader left them", true, false, false, 2, 4, ""},
      {"no handler", false, false, false, 0, 0, "the handler address at 0x03007FFC is 0x00000000"},
      {"no handler, IRQs masked in the CPU", false, true, false, 0, 0, ""},
      {"no handler, IME off", false, false, true, 0, 0, ""},
  };
  for (const IrqCase& s : setups) {
    Simulator sim;
    sim.console().boot(irq_program(s));
    const SimTime three_frames = simtime::cycles(3 * 228 * 1232);
    const RunEnd end = sim.console().run(~0ull, sim.console().clock().now() + three_frames);
    std::uint32_t calls = 0;
    std::memcpy(&calls, sim.peek(COUNTER, 4).data(), 4);
    if (*s.fault) {
      EXPECT_EQ(end, RunEnd::Fault) << s.what;
      EXPECT_NE(sim.console().fault().find(s.fault), std::string::npos) << s.what << ": " << sim.console().fault();
      continue;
    }
    EXPECT_EQ(end, RunEnd::Deadline) << s.what << ": " << sim.console().fault();
    EXPECT_GE(static_cast<int>(calls), s.calls_low) << s.what;
    EXPECT_LE(static_cast<int>(calls), s.calls_high) << s.what;
    // The interrupted loop goes on with its registers as they were.
    EXPECT_EQ(sim.console().reg(UC_ARM_REG_R4), 0x55u) << s.what;
    EXPECT_EQ(sim.console().reg(UC_ARM_REG_R1), 0x02000000u + HANDLER_WORD * 4) << s.what << ": r1 not restored";
    EXPECT_EQ(sim.console().cpsr() & 0x1F, bios::MODE_SYS) << s.what;
    EXPECT_GT(sim.console().reg(UC_ARM_REG_R5), 1000u) << s.what;
  }
}

TEST(SimInterrupts, TheAgentSwitchesOffWhatTheLoaderLeftOn) {
  test::AgentOnSim a;
  a.start();
  // A 64 KiB dump lasts a quarter of a second: fifteen vertical blanks.
  std::vector<std::uint8_t> data(64 * 1024);
  a.link.agent_request(REQ_ROM_READ, 0x08000000, static_cast<std::uint32_t>(data.size()), 0);
  a.link.read_words(data);
  EXPECT_EQ(a.sim.console().fault(), "");
  EXPECT_EQ(a.sim.console().io().raw(io::IME), 0u);
  EXPECT_EQ(a.sim.console().io().raw(io::IE), 0u);
  // The port was in 32-bit normal mode before its data register was loaded.
  EXPECT_TRUE(a.sim.log().misuses().empty()) << a.sim.log().misuses().front();
}

}  // namespace
}  // namespace kartex
