// The real agent image on the simulated console: the requests that serve
// console memory, start programs, and what the agent shows on the screen.

#include <gtest/gtest.h>

#include <functional>

#include "agent/splash/splash_picture.h"
#include "sim/cart/cart_header.h"
#include "sim/cart/cart_rom.h"
#include "sim/screen/screen.h"
#include "tests/support/scripted_cable.h"
#include "tests/support/sim_session.h"

namespace kartex::test {
namespace {

TEST(AgentOnSimulator, MemoryRequestsMoveWholeWordsAsHalfwords) {
  AgentOnSim a;
  a.start();
  // Five bytes travel as two whole words.
  a.mem_write(0x02010000, {1, 2, 3, 4, 5, 6, 7, 8});
  a.mem_write(0x02010000, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5});
  EXPECT_EQ(a.mem_read(0x02010000, 5), (Bytes{0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0, 0, 0}));
  EXPECT_EQ(a.sim.peek(0x02010000, 8), (Bytes{0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0, 0, 0}));
  // A byte count of 1 writes DISPCNT from the low half and the next
  // register from the high half of the one word.
  a.mem_write(0x04000000, {0x03, 0x04, 0x34, 0x12});
  a.settle();
  EXPECT_EQ(a.sim.console().io().raw(0x000), 0x0403);
  EXPECT_EQ(a.sim.console().io().raw(0x002), 0x1234);
  // KEYINPUT in the low half, KEYCNT in the high half.
  a.sim.set_keys(0x03F6);  // A and Start held
  a.mem_write(0x04000132, {0x21, 0x43});
  EXPECT_EQ(a.mem_read(0x04000130, 1), (Bytes{0xF6, 0x03, 0x21, 0x43}));
  // A count of 0 moves nothing: the next request is served in step.
  a.link.agent_request(REQ_MEM_READ, 0x02010000, 0, 0);
  a.link.agent_request(REQ_MEM_WRITE, 0x02010000, 0, 0);
  EXPECT_EQ(a.mem_read(0x02010004, 4), (Bytes{0xA5, 0, 0, 0}));
  // Palette and video RAM take the same requests.
  a.mem_write(0x05000010, {0x1F, 0x7C});
  a.settle();
  EXPECT_EQ(a.sim.peek(0x05000010, 2), (Bytes{0x1F, 0x7C}));
  EXPECT_EQ(a.sim.log().misuse_count(), 0u);
}

TEST(AgentOnSimulator, MemorySearchFindsThePatternOnItsStep) {
  AgentOnSim a;
  a.start();
  Bytes area(256, 0);
  for (std::size_t i = 0; i < area.size(); ++i) area[i] = static_cast<std::uint8_t>(i * 3);
  const Bytes needle = {0xDE, 0xAD, 0xBE, 0xEF, 0x42};
  std::copy(needle.begin(), needle.end(), area.begin() + 0x40);  // on a step of 16
  std::copy(needle.begin(), needle.begin() + 4, area.begin() + 0x83);  // off every step but 1
  a.mem_write(0x02020000, area);
  struct Case {
    const char* name;
    Bytes pattern;
    std::uint32_t step, area_bytes, expect;
  };
  const Case cases[] = {
      {"five bytes on a step of 16", needle, 16, 256, 0x02020040},
      {"four bytes off the step", {0xDE, 0xAD, 0xBE, 0xEF}, 2, 256, 0x02020040},
      {"only an odd offset holds it: step 2 misses it", {0xDE, 0xAD, 0xBE, 0xEF, area[0x87]}, 2,
       256, 0},
      {"found on step 1 at an odd offset", {0xDE, 0xAD, 0xBE, 0xEF, area[0x87]}, 1, 256, 0x02020083},
      {"area ends before the match", needle, 16, 0x44, 0},
      {"empty pattern matches at once", {}, 4, 256, 0x02020000},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const auto p = static_cast<std::uint32_t>(tc.pattern.size());
    Bytes padded = tc.pattern;
    padded.resize(words_for(p) * 4, 0);
    std::uint32_t reply[1] = {0xFFFFFFFF};
    a.link.agent_request(REQ_MEM_SEARCH, 0x02020000, tc.area_bytes, tc.step << 16 | p);
    a.link.write_words(padded);
    a.link.read_words(std::span(reinterpret_cast<std::uint8_t*>(reply), 4));
    EXPECT_EQ(reply[0], tc.expect);
  }
}

TEST(AgentOnSimulator, UnknownCodesAreDroppedAndTheNextRequestServed) {
  AgentOnSim a;
  a.start();
  for (std::uint32_t code : {0xFFFF0013u, 0xFFFF00FFu, 0x12345678u, 0xFFFF0022u}) {
    a.link.agent_request(wire::Request::unlisted(code), 1, 2, 3);
    std::uint32_t variant[1] = {0xFFFFFFFF};
    a.link.agent_request(REQ_CART_VARIANT, 0, 0, 0, variant);
    EXPECT_LE(variant[0], 2u) << std::hex << code;
  }
  EXPECT_EQ(a.mem_read(0x02000000 + 0x30000, 4).size(), 4u);
}

TEST(AgentOnSimulator, RunProgramStartsTheSentProgramFromExternalRam) {
  AgentOnSim a;
  a.start();
  // Puts 0x1234ABCD in the link data register and arms one exchange:
  //   mov r0, #0x04000000 ; add r0, r0, #0x120 ; ldr r1, =0x1234ABCD
  //   str r1, [r0] ; mov r2, #0x1000 ; strh r2, [r0, #8]
  //   add r2, r2, #0x88 ; strh r2, [r0, #8] ; b .
  const Bytes program = words({0xE3A00301, 0xE2800E12, 0xE59F1014, 0xE5801000, 0xE3A02A01,
                               0xE1C020B8, 0xE2822088, 0xE1C020B8, 0xEAFFFFFE, 0x1234ABCD});
  a.link.agent_request(REQ_RUN_PROGRAM, static_cast<std::uint32_t>(program.size()), 0, 0);
  a.link.write_words(program);
  EXPECT_EQ(a.link.read_word(), 0x1234ABCDu);
  EXPECT_EQ(a.sim.peek(0x02000000, program.size()), program);
  EXPECT_EQ(a.sim.console().fault(), "");
}

TEST(AgentOnSimulator, BootCartRestartsAtTheCartridgeEntry) {
  AgentOnSim a;
  a.start();
  a.link.agent_request(REQ_BOOT_CART, 0, 0, 0);
  // The console runs while the host polls the cable's status: a poll after
  // the fault fails with it.
  for (int poll = 0; poll < 100 && a.sim.console().fault().empty(); ++poll) a.link.reg_read(CABLE_REG_STATUS);
  EXPECT_NE(a.sim.console().fault().find("jumped into the cartridge at PC=0x08000000"),
            std::string::npos)
      << a.sim.console().fault();
}

TEST(AgentOnSimulator, IdentifiesMaskRomsAndNothingElse) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<CartBus>()> cart;
    std::uint32_t kind, size;
  };
  const Case cases[] = {
      {"empty slot", [] { return std::make_unique<EmptySlot>(); }, 0, 0},
      {"8 MiB mask ROM",
       [] { return std::make_unique<MaskRom>(make_default_rom(8 << 20)); }, 1,
       8 << 20},
      {"3 MiB mask ROM: the first megabyte of open bus ends it",
       [] { return std::make_unique<MaskRom>(make_default_rom(3 << 20)); }, 1,
       3 << 20},
      {"logo bytes differ: not a cartridge the agent knows",
       [] {
         Bytes rom = make_default_rom(1 << 20);
         rom[HDR_LOGO + 15] ^= 0x01;
         return std::make_unique<MaskRom>(std::move(rom));
       },
       0, 0},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    AgentOnSim a;
    a.sim.set_cart(tc.cart());
    a.start();
    std::uint32_t save[1], info[3], variant[1];
    a.link.agent_request(REQ_SAVE_TYPE, 0, 0, 0, save);
    a.link.agent_request(REQ_CART_INFO, 0, 0, 0, info);
    a.link.agent_request(REQ_CART_VARIANT, 0, 0, 0, variant);
    EXPECT_EQ(save[0], 0u) << "no save chip";
    EXPECT_EQ(info[0], tc.kind);
    EXPECT_EQ(info[1], tc.size);
    EXPECT_EQ(info[2], 0u) << "nothing to erase";
    EXPECT_EQ(variant[0], 0u) << "no mapper, no SRAM: the page register changes nothing";
    EXPECT_EQ(a.sim.log().misuse_count(), 0u);
  }
}

TEST(AgentOnSimulator, SplashPictureIsCentredOnTheBackgroundColour) {
  AgentOnSim a;
  a.start();
  std::uint32_t variant[1];
  a.link.agent_request(REQ_CART_VARIANT, 0, 0, 0, variant);
  const SplashPicture splash = splash_draw();
  const Screen screen = a.sim.screen();
  const std::uint32_t background = rgb_of(splash.palette[255]);
  int wrong = 0;
  for (int y = 0; y < SCREEN_H; ++y)
    for (int x = 0; x < SCREEN_W; ++x) {
      const int px = x - 4, py = y - 44;
      const bool inside = px >= 0 && px < SPLASH_WIDTH && py >= 0 && py < SPLASH_HEIGHT;
      const std::uint32_t want = inside ? rgb_of(splash.palette[splash.at(px, py)]) : background;
      if (screen.pixel(x, y) != want && wrong++ < 5)
        ADD_FAILURE() << "pixel (" << x << "," << y << ") is " << std::hex << screen.pixel(x, y)
                      << ", want " << want;
    }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace kartex::test
