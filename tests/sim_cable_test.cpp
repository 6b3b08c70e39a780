// The simulated cable at the wire level: registers, handshake, upload and
// link words exchanged with a small console program.

#include <gtest/gtest.h>

#include "sim/cart/cart_rom.h"
#include "sim_support.h"

namespace kartex {
namespace {

using simtest::Wire;

TEST(SimCable, RegistersKeepValuesAndAnswerWritesWithTheValue) {
  Simulator sim;
  Wire wire(sim.pipes());
  const std::uint8_t indexes[] = {CABLE_REG_SESSION, CABLE_REG_SAVE_TYPE, CABLE_REG_ROM_KIND, CABLE_REG_ROM_SIZE, CABLE_REG_ERASE_BLOCK, 100};
  for (std::uint8_t index : indexes) {
    const std::uint32_t value = 0xA5000000u | index;
    EXPECT_EQ(wire.reg_write(index, value), value) << "register " << int(index);
    EXPECT_EQ(wire.reg_read(index), value) << "register " << int(index);
  }
  EXPECT_EQ(sim.log().misuse_count(), 0u);
}

TEST(SimCable, HandshakeRaisesLinkUpOnlyAfterPatternThenZero) {
  Simulator sim;
  Wire wire(sim.pipes());
  EXPECT_EQ(wire.reg_read(CABLE_REG_STATUS) & STATUS_LINK_UP, 0u);
  wire.reg_write(CABLE_REG_BOOT, 0);  // zero without the pattern first starts nothing
  EXPECT_EQ(wire.reg_read(CABLE_REG_STATUS) & STATUS_LINK_UP, 0u);
  wire.reg_write(CABLE_REG_BOOT, BOOT_PATTERN);
  EXPECT_EQ(wire.reg_read(CABLE_REG_BOOT), BOOT_PATTERN);
  EXPECT_EQ(wire.reg_read(CABLE_REG_STATUS) & STATUS_LINK_UP, 0u);
  wire.reg_write(CABLE_REG_BOOT, 0);
  EXPECT_EQ(wire.reg_read(CABLE_REG_STATUS) & STATUS_LINK_UP, static_cast<std::uint32_t>(STATUS_LINK_UP));
  // Nothing runs yet: no word can be clocked out.
  EXPECT_NE(wire.reg_read(CABLE_REG_STATUS) & STATUS_NO_WORD, 0u);
}

TEST(SimCable, UploadStartsTheImageAtEwramInArmSystemMode) {
  // The BIOS enters at the multiboot entry; a loader that skips it at the
  // first word.
  for (auto [loader, entry] : {std::pair{Loader::Bios, std::uint32_t{EWRAM_BASE + 0xC0}}, std::pair{Loader::Direct, std::uint32_t{EWRAM_BASE}}}) {
    SCOPED_TRACE(entry);
    CableTimes times;
    times.loader = loader;
    Simulator sim(times);
    Wire wire(sim.pipes());
    wire.handshake();
    wire.upload(simtest::echo_program());
    EXPECT_EQ(sim.peek(EWRAM_BASE + simtest::MULTIBOOT_CODE, 8), simtest::program({0xE3A04301, 0xE2844C01}));
    EXPECT_EQ(sim.console().pc(), static_cast<std::uint32_t>(entry));
    EXPECT_EQ(sim.console().cpsr() & 0x3F, bios::MODE_SYS);  // ARM state, system mode
    EXPECT_EQ(sim.console().reg(UC_ARM_REG_SP), bios::SP_SYS);
    EXPECT_EQ(sim.console().banked_sp(bios::MODE_IRQ), bios::SP_IRQ);
    EXPECT_EQ(sim.console().banked_sp(bios::MODE_SVC), bios::SP_SVC);
  }
}

TEST(SimCable, LinkWordsPassBothWaysInOrder) {
  Simulator sim;
  Wire wire(sim.pipes());
  wire.handshake();
  wire.upload(simtest::echo_program());

  // Status polls let the program run: within a few the upload has ended
  // (the cable buffers its last words) and the program armed its first
  // exchange.
  int polls = 1;
  while ((wire.reg_read(CABLE_REG_STATUS) & STATUS_NO_WORD) != 0 && polls < 5) ++polls;
  EXPECT_LT(polls, 5);

  struct Step {
    bool to_console;
    std::uint32_t word;  // sent, or expected back
  };
  // The cable shifts LINK_IDLE_WORD in while it reads a word out; a
  // console that loaded nothing new shifts out what it last received.
  const Step steps[] = {
      {true, 0x11223344}, {false, 0x11223345}, {false, LINK_IDLE_WORD}, {false, LINK_IDLE_WORD + 1},
      {true, 0xFFFFFFFF}, {false, 0x00000000},
  };
  for (const Step& step : steps) {
    if (step.to_console) {
      const std::uint32_t w[1] = {step.word};
      PipeResult r = wire.write_words(w);
      ASSERT_TRUE(r.ok) << r.error;
    } else {
      bool ok = false;
      std::string why;
      auto got = wire.read_words(1, &ok, &why);
      ASSERT_TRUE(ok) << why;
      EXPECT_EQ(got[0], step.word) << std::hex << "expected 0x" << step.word;
    }
  }
  EXPECT_EQ(sim.stats().words_to_console, 2u);
  EXPECT_EQ(sim.stats().words_from_console, 4u);
  EXPECT_EQ(sim.log().misuse_count(), 0u);
}

// The echo program with its arming instruction (ADD r1, r1, #imm, the
// program's tenth word) replaced by `add`.
std::vector<std::uint8_t> echo_program_arming_with(std::uint32_t add) {
  std::vector<std::uint8_t> image = simtest::echo_program();
  const std::size_t at = simtest::MULTIBOOT_CODE + 9 * 4;
  EXPECT_EQ(simtest::word_at(image, at), 0xE2811088u) << "the echo program's arming moved";
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(add >> (8 * i));
  return image;
}

// The echo program answers the word written, plus one, and nothing was misused.
void expect_echo_of_11223344(Wire& wire, Simulator& sim) {
  bool ok = false;
  auto got = wire.read_words(1, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(got[0], 0x11223345u);
  EXPECT_EQ(sim.log().misuse_count(), 0u);
}

bool log_says(Simulator& sim, const std::string& text) {
  for (const auto& line : sim.log().lines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

TEST(SimCable, CableClocksOnlyAtTheRiseOfSoWithTheStartBit) {
  // The echo program drops SO (SIOCNT 0x1000) and then sets SIOCNT by
  // adding to that value: 0x88 raises SO with the start bit, 0x80 sets the
  // start bit alone, which the cable never sees.
  struct Case {
    const char* what;
    std::uint32_t add;  // the ADD r1, r1, #imm that makes the arming value
    bool moves;
  };
  const Case cases[] = {
      {"start bit with SO's rise", 0xE2811088, true},
      {"start bit with SO low", 0xE2811080, false},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    CableTimes times;
    times.timeout_ms = 50;
    Simulator sim(times);
    Wire wire(sim.pipes());
    wire.handshake();
    wire.upload(echo_program_arming_with(tc.add));
    const std::uint32_t w[1] = {0x11223344};
    PipeResult r = wire.write_words(w);
    EXPECT_EQ(r.ok, tc.moves) << r.error;
    if (tc.moves) {
      expect_echo_of_11223344(wire, sim);
    } else {
      EXPECT_EQ(sim.stats().words_to_console, 0u);
      EXPECT_TRUE(log_says(sim, "without raising SO")) << "the log says why the cable never clocked";
    }
  }
}

TEST(SimCable, SoRisingWithTheStartBitClearLosesTheWordOnEitherCore) {
  // The same echo program, arming with SO's rise and the start bit, or
  // raising SO alone (ADD #0x08): the cable's firmware clocks at SO's rise,
  // so the word goes, but into a port that takes nothing.
  struct Case {
    const char* what;
    SimCore core;
    std::uint32_t add;  // the arming ADD r1, r1, #imm
    bool lost;
  };
  const Case cases[] = {
      {"unicorn, start bit with SO", SimCore::Unicorn, 0xE2811088, false},
      {"unicorn, SO alone", SimCore::Unicorn, 0xE2811008, true},
      {"mgba, start bit with SO", SimCore::Mgba, 0xE2811088, false},
      {"mgba, SO alone", SimCore::Mgba, 0xE2811008, true},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    CableTimes times;
    times.timeout_ms = 50;
    Simulator sim(tc.core == SimCore::Unicorn ? std::make_unique<MaskRom>(make_default_rom()) : nullptr, times,
                  nullptr, tc.core);
    Wire wire(sim.pipes());
    wire.handshake();
    wire.upload(echo_program_arming_with(tc.add));
    const std::uint32_t w[1] = {0x11223344};
    PipeResult r = wire.write_words(w);
    ASSERT_TRUE(r.ok) << r.error << ": the cable clocks at SO's rise either way";
    EXPECT_EQ(sim.stats().words_to_console, 1u);
    EXPECT_EQ(log_says(sim, "link word 0 (0x11223344) was clocked into a port that was not started; lost"),
              tc.lost)
        << "the log names the lost word";
    if (!tc.lost) expect_echo_of_11223344(wire, sim);
  }
}

TEST(SimCable, RequestRecordClocksItsFourWords) {
  Simulator sim;
  Wire wire(sim.pipes());
  wire.handshake();
  wire.upload(simtest::echo_program());
  std::vector<std::uint8_t> record = {CMD_REQUEST, CMD_REQUEST_WORDS};
  for (std::uint32_t w : {0xFFFF0006u, 0x1000u, 0x2000u, 0x3000u}) {
    for (int i = 0; i < 4; ++i) record.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
  }
  // Every exchange the program arms takes the next word: it receives the
  // code, takes 0x1000 while it sends, receives 0x2000, takes 0x3000.
  ASSERT_TRUE(wire.command(record).ok);
  EXPECT_EQ(sim.console().reg(UC_ARM_REG_R5), 0x2001u);
  EXPECT_EQ(sim.console().io().raw(io::SIODATA32_L), 0x3000u);
  EXPECT_EQ(sim.console().io().raw(io::SIODATA32_H), 0u);
  EXPECT_EQ(sim.stats().words_to_console, 4u);
}

TEST(SimCable, RefusesWhatTheWireCannotCarry) {
  CableTimes times;
  times.timeout_ms = 50;  // the empty data-in read waits for it
  Simulator sim(times);
  Wire wire(sim.pipes());
  const std::uint32_t one[1] = {1};
  EXPECT_FALSE(wire.write_words(one).ok) << "data before the handshake";
  bool ok = true;
  wire.read_words(1, &ok);
  EXPECT_FALSE(ok) << "read with no program running";
  std::uint8_t b[4];
  PipeResult r = sim.pipes().read(Pipe::DataIn, b);
  EXPECT_FALSE(r.ok) << "read of an empty data-in pipe";
  EXPECT_EQ(r.error, "timeout after 0.05 s") << "as a USB read that nothing answers";
  EXPECT_EQ(r.moved, 0u);
  EXPECT_FALSE(wire.command({0x7E}).ok) << "unknown command";
  wire.handshake();
  const std::uint32_t too_long[1] = {EWRAM_SIZE + 4};
  EXPECT_FALSE(wire.write_words(too_long).ok) << "upload larger than EWRAM";
  EXPECT_GE(sim.log().misuse_count(), 4u);
}

TEST(SimCable, ConsoleThatNeverArmsIsReportedHung) {
  CableTimes times;
  times.hang_instructions = 100000;
  times.timeout_ms = 50;
  Simulator sim(times);
  Wire wire(sim.pipes());
  wire.handshake();
  // IME off (bit 0 of 0x04000000 is clear), then b .
  wire.upload(simtest::multiboot(simtest::program({0xE3A00301, 0xE5800208, 0xEAFFFFFE})));
  const std::uint32_t w[1] = {7};
  // The host sees what a USB transfer without an answer gives; the log says why.
  PipeResult r = wire.write_words(w);
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.error, "timeout after 0.05 s");
  ASSERT_FALSE(sim.log().lines().empty());
  // 50 ms of console time pass long before 100000 instructions of "b ." in
  // work RAM (18 cycles each).
  EXPECT_EQ(sim.log().lines().back(),
            "cable: no answer: the console did not arm the link port within 0.05 s, PC=0x020000D0");
  // The host is never left waiting: a read fails the same way.
  bool ok = true;
  std::string why;
  wire.read_words(2, &ok, &why);
  EXPECT_FALSE(ok);
  EXPECT_EQ(why, "timeout after 0.05 s");
}

}  // namespace
}  // namespace kartex
