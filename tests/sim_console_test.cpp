// The simulated console: DMA through the bus, the BIOS soft reset, faults
// and runaway programs.

#include <gtest/gtest.h>

#include <cstring>

#include "contract/hw/dma.h"
#include "sim/cart/cart_header.h"
#include "sim/cart/cart_rom.h"
#include "sim_support.h"

namespace kartex {
namespace {

using simtest::program;

constexpr std::uint32_t SRC = 0x02001000, DST = 0x03000100;

void start_dma3(ConsoleBus& bus, std::uint32_t src, std::uint32_t dst, std::uint16_t count,
                std::uint16_t control) {
  bus.write(REG_DMA3SAD, 4, src);
  bus.write(REG_DMA3DAD, 4, dst);
  bus.write(REG_DMA3CNT, 4, count | static_cast<std::uint32_t>(control) << 16);
}

struct DmaCase {
  const char* name;
  std::uint32_t src, dst;
  std::uint16_t count, control;
  std::uint32_t check_at;                  // console address read back afterwards
  std::vector<std::uint16_t> expected;     // halfwords from check_at
};

TEST(SimDma, ImmediateTransfersFollowUnitAndAddressModes) {
  // Source: halfword i at SRC + 2i holds 0x1000 + i.
  const DmaCase cases[] = {
      {"32-bit increment", SRC, DST, 2, 0x8400, DST, {0x1000, 0x1001, 0x1002, 0x1003, 0}},
      {"16-bit increment", SRC, DST, 3, 0x8000, DST, {0x1000, 0x1001, 0x1002, 0}},
      {"16-bit source decrement", SRC + 4, DST, 3, 0x8080, DST, {0x1002, 0x1001, 0x1000, 0}},
      {"16-bit source fixed (fill)", SRC + 2, DST, 3, 0x8100, DST, {0x1001, 0x1001, 0x1001, 0}},
      {"16-bit destination decrement", SRC, DST + 4, 3, 0x8020, DST, {0x1002, 0x1001, 0x1000, 0}},
      {"16-bit destination fixed", SRC, DST, 3, 0x8040, DST, {0x1002, 0}},
      {"32-bit low address bits ignored", SRC + 2, DST + 3, 1, 0x8400, DST, {0x1000, 0x1001, 0}},
      {"from cartridge ROM", ROM_BASE + 0xA0, DST, 6, 0x8000, DST,
       {0x414B, 0x5452, 0x5845, 0x4420, 0x4D45, 0x004F}},  // "KARTEX DEMO"
  };
  for (const DmaCase& c : cases) {
    Simulator sim;
    for (std::uint16_t i = 0; i < 64; ++i) {
      const std::uint8_t h[2] = {static_cast<std::uint8_t>(i), 0x10};
      sim.poke(SRC + 2 * i, h);
    }
    start_dma3(sim.console().bus(), c.src, c.dst, c.count, c.control);
    for (std::size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_EQ(sim.console().bus().read(c.check_at + 2 * static_cast<std::uint32_t>(i), 2), c.expected[i])
          << c.name << ", halfword " << i;
    EXPECT_EQ(sim.console().bus().read(REG_DMA3CNT + 2, 2) & 0x8000, 0u) << c.name << ": enable bit stays set";
    EXPECT_EQ(sim.log().misuse_count(), 0u) << c.name;
  }
}

TEST(SimDma, CountZeroMovesTheLargestCount) {
  Simulator sim;
  // DMA3: 0x10000 halfwords = 128 KiB, from the generated ROM into EWRAM.
  start_dma3(sim.console().bus(), ROM_BASE, EWRAM_BASE, 0, 0x8000);
  const std::vector<std::uint8_t> ewram = sim.peek(EWRAM_BASE, 0x20004);
  const std::vector<std::uint8_t> rom = make_default_rom();
  EXPECT_TRUE(std::equal(rom.begin(), rom.begin() + 0x20000, ewram.begin()));
  EXPECT_EQ(ewram[0x20000], 0u) << "one unit too many";
}

// Records the cartridge bus accesses that reach it.
class RecordingCart : public CartBus {
 public:
  std::vector<std::pair<std::uint32_t, std::uint16_t>> writes;
  std::string name() const override { return "recorder"; }
  std::string kind() const override { return "recorder"; }
  std::uint16_t read16(std::uint32_t addr) override { return rom_open_bus(addr); }
  void write16(std::uint32_t addr, std::uint16_t value) override { writes.emplace_back(addr, value); }
  std::uint8_t read8(std::uint32_t) override { return CART_SAVE_OPEN_BUS; }
  void write8(std::uint32_t, std::uint8_t) override {}
  void save(StateWriter&) const override {}
};

TEST(SimDma, ReachesTheCartridgeBusForWrites) {
  Simulator sim;
  auto cart = std::make_unique<RecordingCart>();
  RecordingCart& recorder = *cart;
  sim.set_cart(std::move(cart));
  sim.poke(SRC, std::vector<std::uint8_t>{0x01, 0x10, 0x02, 0x10});
  start_dma3(sim.console().bus(), SRC, ROM_BASE + 0x100, 2, 0x8000);
  const std::vector<std::pair<std::uint32_t, std::uint16_t>> expected = {{0x08000100, 0x1001},
                                                                         {0x08000102, 0x1002}};
  EXPECT_EQ(recorder.writes, expected);
}

// Counts its runs in EWRAM at 0x40, copies the byte at 0x44 to the BIOS
// reset flag, then calls SoftReset:
//   mov r3, #0x02000000 ; ldr r2, [r3, #0x40] ; add r2, r2, #1 ; str r2, [r3, #0x40]
//   mov r0, #0x03000000 ; add r0, r0, #0x7F00 ; ldrb r1, [r3, #0x44] ; strb r1, [r0, #0xFA]
//   swi 0
std::vector<std::uint8_t> reset_program(std::uint8_t flag) {
  auto p = program({0xE3A03402, 0xE5932040, 0xE2822001, 0xE5832040, 0xE3A00403, 0xE2800C7F,
                    0xE5D31044, 0xE5C010FA, 0xEF000000});
  p.resize(0x48, 0);
  p[0x44] = flag;
  return p;
}

TEST(SimBios, SoftResetRestartsWhereTheFlagSays) {
  for (std::uint8_t flag : {1, 0}) {
    Simulator sim;
    sim.console().boot(reset_program(flag));
    const std::uint8_t stack_junk[4] = {1, 2, 3, 4};
    sim.poke(0x03007E10, stack_junk);
    // A wrong supervisor stack that SoftReset must replace.
    sim.console().set_reg(UC_ARM_REG_CPSR, bios::MODE_SVC);
    sim.console().set_reg(UC_ARM_REG_SP, 0x03001234);
    sim.console().set_reg(UC_ARM_REG_CPSR, bios::MODE_SYS);

    const RunEnd end = sim.console().run(5000);
    const std::uint32_t runs = simtest::word_at(sim.peek(EWRAM_BASE + 0x40, 4), 0);
    if (flag) {
      EXPECT_EQ(end, RunEnd::Budget);
      EXPECT_GT(runs, 10u) << "restarts at 0x02000000 over and over";
      EXPECT_EQ(sim.console().cpsr() & 0x3F, bios::MODE_SYS);
    } else {
      EXPECT_EQ(end, RunEnd::Fault);
      EXPECT_EQ(runs, 1u);
      EXPECT_NE(sim.console().fault().find("PC=0x08000000"), std::string::npos) << sim.console().fault();
    }
    EXPECT_EQ(sim.peek(0x03007E10, 4), std::vector<std::uint8_t>(4, 0)) << "flag " << int(flag);
    EXPECT_EQ(sim.console().banked_sp(bios::MODE_SVC), bios::SP_SVC);
    EXPECT_EQ(sim.console().banked_sp(bios::MODE_IRQ), bios::SP_IRQ);
    EXPECT_EQ(sim.console().banked_sp(bios::MODE_SYS), bios::SP_SYS);
  }
}

TEST(SimConsole, FaultsNameTheAddressAndThePc) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> code;
    std::string expected;
  };
  // Memory faults name the start of the code block that made the access.
  const Case cases[] = {
      {"unaligned word load", program({0xE3A00403, 0xE5901002}),  // mov r0, #0x03000000 ; ldr r1, [r0, #2]
       "console fault: unaligned 32-bit read at 0x03000002 in the code block at PC=0x02000000"},
      {"unaligned halfword load", program({0xE3A00403, 0xE1D010B1}),  // ldrh r1, [r0, #1]
       "console fault: unaligned 16-bit read at 0x03000001 in the code block at PC=0x02000000"},
      {"unaligned word store", program({0xE3A00403, 0xE5801001}),  // str r1, [r0, #1]
       "console fault: unaligned 32-bit write at 0x03000001 in the code block at PC=0x02000000"},
      {"unaligned I/O store", program({0xE3A00301, 0xE5801121}),  // mov r0, #0x04000000 ; str r1, [r0, #0x121]
       "console fault: unaligned 32-bit write at 0x04000121 in the code block at PC=0x02000000"},
      {"unmapped read", program({0xE3A00401, 0xE5901000}),  // mov r0, #0x01000000 ; ldr r1, [r0]
       "console fault: read of unmapped address 0x01000000 in the code block at PC=0x02000000"},
      {"undefined instruction", program({0xE7F000F0}), "console fault: undefined instruction, PC=0x02000000"},
  };
  for (const Case& c : cases) {
    Simulator sim;
    sim.console().boot(c.code);
    EXPECT_EQ(sim.console().run(1000), RunEnd::Fault) << c.name;
    EXPECT_EQ(sim.console().fault(), c.expected) << c.name;
    EXPECT_EQ(sim.console().run(1000), RunEnd::Fault) << c.name << ": a faulted console stays faulted";
  }
}

TEST(SimConsole, RunawayProgramStopsAtTheBudget) {
  Simulator sim;
  // swi 0x05 (not emulated: logged, the program goes on) ; b .
  sim.console().boot(program({0xEF050000, 0xEAFFFFFE}));
  simtest::loader_left_interrupts_off(sim);
  EXPECT_EQ(sim.console().run(20000), RunEnd::Budget);
  EXPECT_EQ(sim.console().pc(), 0x02000004u);
  EXPECT_GE(sim.console().instructions(), 20000u);
  EXPECT_LT(sim.console().instructions(), 20100u);
  ASSERT_FALSE(sim.log().lines().empty());
  EXPECT_NE(sim.log().lines()[0].find("0x00000005"), std::string::npos) << sim.log().lines()[0];
}

TEST(SimConsole, KeypadReadsAsSetAndIoRegistersReadBack) {
  Simulator sim;
  ConsoleBus& bus = sim.console().bus();
  EXPECT_EQ(bus.read(0x04000130, 2), 0x03FFu) << "no key pressed";
  sim.set_keys(0x03FE);  // A pressed
  EXPECT_EQ(bus.read(0x04000130, 2), 0x03FEu);
  bus.write(0x04000130, 2, 0);
  EXPECT_EQ(bus.read(0x04000130, 2), 0x03FEu) << "KEYINPUT is read-only";
  bus.write(0x04000204, 2, 0x0314);
  EXPECT_EQ(bus.read(0x04000204, 2), 0x0314u);
  bus.write(0x04000010, 4, 0xFFD4FFFC);
  EXPECT_EQ(bus.read(0x04000012, 2), 0xFFD4u);
  EXPECT_EQ(bus.read(0x04000010, 1), 0xFCu);
}

}  // namespace
}  // namespace kartex
