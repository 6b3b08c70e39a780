// Console memory access for the video stream: the bytes each primitive puts
// on the wire, and what lands in the console when the real agent serves
// them on the simulator.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "common/failure.h"
#include "common/output.h"
#include "tests/support/scripted_cable.h"
#include "tests/support/sim_session.h"
#include "vts/console_memory.h"
#include "vts/cube_palette.h"

namespace kartex::test {
namespace {

// The palette block as the console stores it: the 5-bit intensities of the
// six levels are 0, 6, 12, 18, 24, 31; entry 36 g + 6 r + b, low byte first.
Bytes cube_palette_bytes() {
  const unsigned level5[6] = {0, 6, 12, 18, 24, 31};
  Bytes bytes(512, 0);
  for (unsigned g = 0; g < 6; ++g)
    for (unsigned r = 0; r < 6; ++r)
      for (unsigned b = 0; b < 6; ++b) {
        const unsigned entry = 36 * g + 6 * r + b;
        const unsigned colour = level5[b] << 10 | level5[g] << 5 | level5[r];
        bytes[2 * entry] = static_cast<std::uint8_t>(colour);
        bytes[2 * entry + 1] = static_cast<std::uint8_t>(colour >> 8);
      }
  return bytes;
}

TEST(VtsConsoleMemory, EachAccessIsOneRequestAndOneTransfer) {
  struct Case {
    const char* name;
    std::function<void(CableLink&)> call;
    std::function<void(ScriptedCable&)> wire;
  };
  const Bytes page = pattern(38400, 7);
  const Bytes zeros(81920, 0);
  const Case cases[] = {
      {"a frame page: byte count 38,400, command 02 80 25",
       [&](CableLink& l) { gba_write_block(l, 0x06000000, page); },
       [&](ScriptedCable& c) {
         c.cmd({0x00, 0x04, 0x07, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x06, 0x00, 0x96, 0x00, 0x00,
                0x00, 0x00, 0x00, 0x00})
             .cmd({0x02, 0x80, 0x25})
             .out(page);
       }},
      {"clearing video memory: byte count 81,920, command 02 00 50",
       [&](CableLink& l) { gba_write_block(l, 0x06000000, zeros); },
       [&](ScriptedCable& c) { c.request(0xFFFF0007, 0x06000000, 81920, 0).cmd({0x02, 0x00, 0x50}).out(zeros); }},
      {"page 1 from 32-bit words, each low byte first",
       [&](CableLink& l) {
         const std::uint32_t w[] = {0x11223344, 0xA0B0C0D0};
         gba_write_block(l, 0x0600A000, std::span<const std::uint32_t>(w));
       },
       [&](ScriptedCable& c) {
         c.request(0xFFFF0007, 0x0600A000, 8, 0)
             .cmd({0x02, 0x02, 0x00})
             .out({0x44, 0x33, 0x22, 0x11, 0xD0, 0xC0, 0xB0, 0xA0});
       }},
      {"register write of 0x0414: byte count 1, value widened with zeros",
       [&](CableLink& l) { gba_write_reg(l, 0x04000000, 0x0414); },
       [&](ScriptedCable& c) {
         c.cmd({0x00, 0x04, 0x07, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 0x00,
                0x00, 0x00, 0x00, 0x00})
             .cmd({0x02, 0x01, 0x00})
             .out({0x14, 0x04, 0x00, 0x00});
       }},
      {"register write of 0x0404",
       [&](CableLink& l) { gba_write_reg(l, 0x04000000, 0x0404); },
       [&](ScriptedCable& c) { c.request(0xFFFF0007, 0x04000000, 1, 0).cmd({0x02, 0x01, 0x00}).out({0x04, 0x04, 0, 0}); }},
      {"key read: byte count 1, then one word",
       [&](CableLink& l) { EXPECT_EQ(gba_read_word(l, 0x04000130), 0x000003F7u); },
       [&](ScriptedCable& c) {
         c.cmd({0x00, 0x04, 0x06, 0x00, 0xFF, 0xFF, 0x30, 0x01, 0x00, 0x04, 0x01, 0x00, 0x00, 0x00,
                0x00, 0x00, 0x00, 0x00})
             .cmd({0x01, 0x01, 0x00})
             .in({0xF7, 0x03, 0x00, 0x00});
       }},
      {"palette: byte count 512, command 02 80 00, the cube then black",
       [&](CableLink& l) {
         std::ostringstream out, err;
         Output con{out, err};
         upload_palette(l, con);
         EXPECT_EQ(out.str(), "i=216\n");
       },
       [&](ScriptedCable& c) {
         c.request(0xFFFF0007, 0x05000000, 512, 0).cmd({0x02, 0x80, 0x00}).out(cube_palette_bytes());
       }},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    ScriptedLink s;
    start_marked(s);
    tc.wire(*s.cable);
    tc.call(s.link);
    EXPECT_TRUE(s.cable->done()) << s.cable->left() << " steps not taken";
  }
}

TEST(VtsConsoleMemory, FailuresAreOneLineNamingTheAccess) {
  struct Case {
    const char* name;
    std::function<void(ScriptedCable&)> wire;
    PipeResult fault;
    std::function<void(CableLink&)> call;
    const char* expect;
  };
  const Bytes page = pattern(38400);
  const Case cases[] = {
      {"frame data lost", [&](ScriptedCable& c) { c.request(0xFFFF0007, 0x0600A000, 38400, 0).cmd({0x02, 0x80, 0x25}).out(page); },
       PipeResult::failed("timeout after 60 s"), [&](CableLink& l) { gba_write_block(l, 0x0600A000, page); },
       "console memory write at 0x0600A000: write of 9600 words: writing the data-out pipe failed: "
       "timeout after 60 s"},
      {"display switch request refused", [](ScriptedCable& c) { c.request(0xFFFF0007, 0x04000000, 1, 0); },
       PipeResult::failed("No such device"), [](CableLink& l) { gba_write_reg(l, 0x04000000, 0x0404); },
       "console register write at 0x04000000: agent request 0xFFFF0007: writing the command pipe failed: "
       "No such device"},
      {"key read short", [](ScriptedCable& c) { c.request(0xFFFF0006, 0x04000130, 1, 0).cmd({0x01, 0x01, 0x00}).in(le32(0x3FF)); },
       PipeResult::done(2), [](CableLink& l) { gba_read_word(l, 0x04000130); },
       "console memory read at 0x04000130: read of 1 words: reading the data-in pipe moved 2 of 4 bytes"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    ScriptedLink s;
    start_marked(s);
    tc.wire(*s.cable);
    s.cable->failing(tc.fault);
    EXPECT_EQ(failure_text([&] { tc.call(s.link); }), tc.expect);
  }
}

TEST(VtsConsoleMemory, OversizedBlockIsRefusedBeforeTheRequest) {
  ScriptedLink s;
  start_marked(s);
  const Bytes too_big(0x10000 * 4);
  const std::string text = failure_text([&] { gba_write_block(s.link, 0x02000000, too_big); });
  EXPECT_NE(text.find("65536 words exceed the cable's limit of 65535 words"), std::string::npos) << text;
  EXPECT_TRUE(s.cable->done()) << "nothing may reach the cable";
  const std::string partial = failure_text([&] { gba_write_block(s.link, 0x02000000, Bytes(6)); });
  EXPECT_NE(partial.find("not whole words"), std::string::npos) << partial;
}

TEST(VtsConsoleMemoryOnSim, BlocksLandRegistersTakeTheirHalfAndKeysReadBack) {
  AgentOnSim a;
  a.start();
  // Known bytes around page 1 and the palette, to see that nothing beyond
  // each block changes.
  a.sim.poke(0x06009FFC, Bytes{0xA1, 0xA2, 0xA3, 0xA4});
  a.sim.poke(0x06013600, Bytes{0xB1, 0xB2, 0xB3, 0xB4});
  a.sim.poke(0x05000200, Bytes{0xC1, 0xC2});
  const Bytes page = pattern(38400, 0x40);
  gba_write_block(a.link, 0x0600A000, page);
  std::ostringstream out, err;
  Output con{out, err};
  upload_palette(a.link, con);
  gba_write_reg(a.link, 0x04000000, 0x0414);
  a.sim.set_keys(0x03F6);  // A and Start held
  const std::uint32_t keys = gba_read_word(a.link, 0x04000130);
  a.settle();

  EXPECT_EQ(a.sim.peek(0x0600A000, page.size()), page);
  EXPECT_EQ(a.sim.peek(0x06009FFC, 4), (Bytes{0xA1, 0xA2, 0xA3, 0xA4}));
  EXPECT_EQ(a.sim.peek(0x06013600, 4), (Bytes{0xB1, 0xB2, 0xB3, 0xB4}));
  EXPECT_EQ(a.sim.peek(0x05000000, 512), cube_palette_bytes());
  EXPECT_EQ(a.sim.peek(0x05000200, 2), (Bytes{0xC1, 0xC2}));
  EXPECT_EQ(a.sim.console().io().raw(0x000), 0x0414);
  EXPECT_EQ(a.sim.console().io().raw(0x002), 0x0000) << "the half above DISPCNT gets 0";
  EXPECT_EQ(keys & 0x3FF, 0x3F6u);
  a.sim.set_keys(0x03FF);
  EXPECT_EQ(gba_read_word(a.link, 0x04000130) & 0x3FF, 0x3FFu) << "no key held: low 10 bits all ones";
}

}  // namespace
}  // namespace kartex::test
