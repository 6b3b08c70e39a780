// Wire-level tests of CableLink against the scripted cable.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/failure.h"
#include "link/trace_pipes.h"
#include "tests/support/scripted_cable.h"

namespace kartex::test {
namespace {

TEST(CableLinkForms, TransfersAreByteForByte) {
  struct Case {
    const char* name;
    std::function<void(CableLink&)> call;
    std::function<void(ScriptedCable&)> wire;
  };
  const Bytes data = pattern(8 * 4);
  const Bytes big = pattern(0x1234 * 4, 3);
  const Case cases[] = {
      {"read of 8 words: count low byte first",
       [&](CableLink& l) {
         Bytes got(32);
         l.read_words(got);
         EXPECT_EQ(got, data);
       },
       [&](ScriptedCable& c) { c.cmd({0x01, 0x08, 0x00}).in(data); }},
      {"read of 0x1234 words: count split little-endian",
       [&](CableLink& l) {
         Bytes got(big.size());
         l.read_words(got);
       },
       [&](ScriptedCable& c) { c.cmd({0x01, 0x34, 0x12}).in(big); }},
      {"long read header: 64 bytes, mode 7",
       [&](CableLink& l) {
         Bytes got(8);
         l.read_words_long(got);
       },
       [&](ScriptedCable& c) {
         Bytes header(64, 0);
         header[0] = 0x01;
         header[1] = 0x02;
         header[3] = 0x07;
         c.cmd(header).in(pattern(8));
       }},
      {"write of 0x1234 words",
       [&](CableLink& l) { l.write_words(big); },
       [&](ScriptedCable& c) { c.cmd({0x02, 0x34, 0x12}).out(big); }},
      {"read of 0 words still sends its header",
       [&](CableLink& l) { l.read_words({}); },
       [&](ScriptedCable& c) { c.cmd({0x01, 0x00, 0x00}).in({}); }},
      {"write_word: little-endian value",
       [&](CableLink& l) { l.write_word(0x11223344); },
       [&](ScriptedCable& c) { c.cmd({0x02, 0x01, 0x00}).out({0x44, 0x33, 0x22, 0x11}); }},
      {"read_word",
       [&](CableLink& l) { EXPECT_EQ(l.read_word(), 0xCAFEF00Du); },
       [&](ScriptedCable& c) { c.cmd({0x01, 0x01, 0x00}).in({0x0D, 0xF0, 0xFE, 0xCA}); }},
      {"register read",
       [&](CableLink& l) { EXPECT_EQ(l.reg_read(5), 0x00800000u); },
       [&](ScriptedCable& c) { c.cmd({0x03, 0x05}).in({0x00, 0x00, 0x80, 0x00}); }},
      {"register write reads and drops the cable's answer",
       [&](CableLink& l) {
         l.reg_write(3, 0x01020304);
         EXPECT_EQ(l.reg_read(4), 7u);  // still in step after the write
       },
       [&](ScriptedCable& c) {
         c.cmd({0x03, 0x83, 0x04, 0x03, 0x02, 0x01}).in({0xEE, 0xEE, 0xEE, 0xEE});
         c.cmd({0x03, 0x04}).in(le32(7));
       }},
      {"agent request: 18-byte record",
       [&](CableLink& l) { l.agent_request(0xFFFF0012, 0x08020000, 0x10000, 0); },
       [&](ScriptedCable& c) {
         c.cmd({0x00, 0x04, 0x12, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x08, 0x00, 0x00, 0x01,
                0x00, 0x00, 0x00, 0x00, 0x00});
       }},
      {"agent request with reply words",
       [&](CableLink& l) {
         std::uint32_t reply[3];
         l.agent_request(0xFFFF0001, 1, 2, 3, reply);
         EXPECT_EQ(reply[0], 1u);
         EXPECT_EQ(reply[1], 0x2000000u);
         EXPECT_EQ(reply[2], 0x20000u);
       },
       [&](ScriptedCable& c) {
         c.request(0xFFFF0001, 1, 2, 3).cmd({0x01, 0x03, 0x00}).in(words({1, 0x2000000, 0x20000}));
       }},
      {"paced word: header, pause, then the word",
       [&](CableLink& l) { l.write_word_paced(7292 * 4, 50); },
       [&](ScriptedCable& c) { c.cmd({0x02, 0x01, 0x00}).sleep(50).out(le32(7292 * 4)); }},
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

TEST(CableLinkForms, OversizedTransferIsRefusedBeforeAnyByte) {
  ScriptedLink s;
  start_marked(s);
  Bytes too_big(0x10000 * 4);
  std::string text = failure_text([&] { s.link.write_words(too_big); });
  EXPECT_NE(text.find("65535 words"), std::string::npos) << text;
  EXPECT_TRUE(s.cable->done());
}

TEST(CableLinkFaults, EveryBadTransferIsOneNamedError) {
  struct Case {
    const char* name;
    PipeResult fault;
    std::function<void(ScriptedCable&)> wire;
    std::function<void(CableLink&)> call;
    const char* expect;
  };
  const Case cases[] = {
      {"timeout on the data-in pipe", PipeResult::failed("timeout after 60 s"),
       [](ScriptedCable& c) { c.cmd({0x01, 0x01, 0x00}).in(le32(0)); },
       [](CableLink& l) { l.read_word(); },
       "read of 1 words: reading the data-in pipe failed: timeout after 60 s"},
      {"short read", PipeResult::done(2),
       [](ScriptedCable& c) { c.cmd({0x03, 0x00}).in(le32(3)); },
       [](CableLink& l) { l.reg_read(0); },
       "read of cable register 0: reading the data-in pipe moved 2 of 4 bytes"},
      {"short data write", PipeResult::done(4),
       [](ScriptedCable& c) { c.cmd({0x02, 0x02, 0x00}).out(pattern(8)); },
       [](CableLink& l) { l.write_words(pattern(8)); },
       "write of 2 words: writing the data-out pipe moved 4 of 8 bytes"},
      {"device gone on the command pipe", PipeResult::failed("No such device"),
       [](ScriptedCable& c) { c.request(0xFFFF0021); },
       [](CableLink& l) { l.agent_request(0xFFFF0021, 0, 0, 0); },
       "agent request 0xFFFF0021: writing the command pipe failed: No such device"},
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

TEST(LinkStart, MarkerSkipsTheHandshake) {
  ScriptedLink s;
  s.cable->open().reg_read(1, 0x12345678);
  s.link.link_start();
  EXPECT_TRUE(s.cable->done());
}

TEST(LinkStart, HandshakeDrainsStaleWordsAndWaitsForStatus) {
  std::ostringstream notice;
  ScriptedLink s(&notice);
  s.cable->open().reg_read(1, 0).reg_write(2, 0xFEDCBA98);
  // Two stale words come first: each costs a register read and one more word.
  s.cable->reg_read(2, 0x11111111).in(le32(0x22222222));
  s.cable->reg_read(2, 0x33333333).in(le32(0xFEDCBA98));
  s.cable->reg_read(2, 0xFEDCBA98).reg_write(2, 0);
  // Bit 0 alone, then bit 1 alone, are not enough: both must be set.
  s.cable->reg_read(0, 1).sleep(100).reg_read(0, 2).sleep(100).reg_read(0, 7).sleep(100);
  s.link.link_start();
  EXPECT_TRUE(s.cable->done()) << s.cable->left() << " steps not taken";
  EXPECT_EQ(notice.str(), "");
}

TEST(LinkStart, SaysOnceThatItWaitsForTheConsole) {
  std::ostringstream notice;
  ScriptedLink s(&notice);
  s.cable->open().handshake(45);
  s.link.link_start();
  EXPECT_TRUE(s.cable->done());
  EXPECT_EQ(notice.str(),
            "Waiting for the console: switch it on with the cable in its link port "
            "(Ctrl-C to give up).\n");
}

TEST(LinkStart, SecondCallDoesNotReopenButShakesHandsAgain) {
  ScriptedLink s;
  s.cable->open().handshake().handshake();
  s.link.link_start();
  s.link.link_start();
  EXPECT_TRUE(s.cable->done());
}

TEST(LinkStart, NoCableIsTheToolsOwnMessage) {
  CableLink link([] { return std::unique_ptr<Pipes>(); });
  try {
    link.link_start();
    FAIL() << "no failure";
  } catch (const Failure& f) {
    EXPECT_STREQ(f.what(), "Error can't found Tetherbox USB !!.\n");
    EXPECT_EQ(f.stream(), Failure::Stream::Out);
    EXPECT_EQ(f.status(), 255);
  }
}

TEST(LinkStart, ACableThatNeverAnswersTheHandshakeFailsInsteadOfLooping) {
  ScriptedLink s;
  s.cable->open().reg_read(1, 0).reg_write(2, 0xFEDCBA98);
  for (int i = 0; i < 16384; ++i) s.cable->reg_read(2, 0).in(le32(0));
  s.cable->reg_read(2, 0);
  std::string text = failure_text([&] { s.link.link_start(); });
  EXPECT_NE(text.find("never answered the link handshake"), std::string::npos) << text;
  EXPECT_TRUE(s.cable->done());
}

TEST(Trace, OneLinePerTransferInOrder) {
  auto cable = std::make_shared<ScriptedCable>();
  cable->open().reg_read(1, 0x12345678).request(0xFFFF000C).read(le32(3)).write(pattern(4));
  std::string path = ::testing::TempDir() + "kartex_trace_test.txt";
  std::FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  {
    CableLink link([&]() -> std::unique_ptr<Pipes> {
      return std::make_unique<TracePipes>(opener_for(cable)(), file);
    });
    link.link_start();
    std::uint32_t save[1];
    link.agent_request(0xFFFF000C, 0, 0, 0, save);
    link.write_words(pattern(4));
    EXPECT_TRUE(cable->done());
  }  // the link's end closes the trace
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "reset 0\nreset 2\nreset 1\n"
            "cmd 0301\nin 78563412\n"
            "cmd 00040c00ffff000000000000000000000000\n"
            "cmd 010100\nin 03000000\n"
            "cmd 020100\nout 00070e15\n");
  std::remove(path.c_str());
}

}  // namespace
}  // namespace kartex::test
