// Session bring-up on the wire: the upload, identification, the cache in the
// cable's registers, the check of which agent a cached session runs, and the
// lines shown to the user.

#include <gtest/gtest.h>

#include <sstream>

#include "common/output.h"
#include "app/session.h"
#include "tests/support/scripted_cable.h"

namespace kartex::test {
namespace {

struct Bringup {
  ScriptedLink s;
  std::ostringstream out, err;
  Output con{out, err};

  CartInfo run(Command command, const Bytes& image, std::uint32_t agent_id = 0) {
    s.link.link_start();
    CartInfo cart = session_bringup(s.link, command, image, con, agent_id);
    EXPECT_TRUE(s.cable->done()) << s.cable->left() << " steps not taken";
    return cart;
  }
};

TEST(Bringup, UploadPathSendsImageThenIdentifiesAndCaches) {
  Bringup b;
  const Bytes image = pattern(10, 0x40);  // not a whole number of words
  ScriptedCable& c = *b.s.cable;
  c.open().handshake();
  // Length word: header, 50 ms, the word; then the image with its last word
  // filled up with zeros, then 100 ms for the console to start it.
  c.cmd({0x02, 0x01, 0x00}).sleep(50).out(le32(10));
  c.write(concat({image, {0, 0}})).sleep(100);
  c.query(0xFFFF000C, {3}).query(0xFFFF0001, {2, 0x1000000, 0x20000});
  c.reg_write(3, 3).reg_write(4, 2).reg_write(5, 0x1000000).reg_write(6, 0x20000);
  c.query(0xFFFF0021, {1}).reg_write(1, 0x12345678);

  CartInfo cart = b.run(Command::FR, image);
  EXPECT_EQ(cart.save_type, 3);
  EXPECT_EQ(cart.rom_kind, 2);
  EXPECT_EQ(cart.rom_size, 0x1000000);
  EXPECT_EQ(cart.erase_block, 0x20000);
  EXPECT_EQ(cart.variant, 1u);
  EXPECT_EQ(cart.save_size, 0x10000);
  EXPECT_EQ(b.out.str(), "FLASH ROM SIZE=0x1000000\nFLASH512K SIZE=0x10000\n");
}

TEST(Bringup, CachedPathReadsRegistersAndStillAsksTheVariant) {
  Bringup b;
  ScriptedCable& c = *b.s.cable;
  c.open().reg_read(1, 0x12345678);
  c.reg_read(3, 2).reg_read(4, 1).reg_read(5, 0x800000).reg_read(6, 0);
  c.query(0xFFFF0021, {2});
  CartInfo cart = b.run(Command::SR, pattern(8));
  EXPECT_EQ(cart.save_size, 0x100000);
  EXPECT_EQ(cart.save_block, 0x1000);
  EXPECT_EQ(b.out.str(), "MASK ROM SIZE=0x800000\nSRAM8M SIZE=0x100000\n");
}

TEST(Bringup, ProgramLoadUploadsAsksTheVariantAndLeavesNoMarker) {
  Bringup b;
  ScriptedCable& c = *b.s.cable;
  c.open().handshake();
  c.cmd({0x02, 0x01, 0x00}).sleep(50).out(le32(8)).write(pattern(8)).sleep(100);
  c.query(0xFFFF0021, {0});
  b.run(Command::RTC, pattern(8));
  EXPECT_EQ(b.out.str(), "");
}

TEST(Bringup, LinesFollowSaveTypeAndVariant) {
  struct Case {
    std::int32_t save_type, rom_kind, rom_size;
    std::uint32_t variant;
    const char* lines;
    std::int32_t save_block;
  };
  const Case cases[] = {
      {0, 0, 0, 0, "", 4096},
      {1, 1, 0x400000, 0, "MASK ROM SIZE=0x400000\nSRAM256K SIZE=0x8000\n", 0x1000},
      {2, 2, 0x2000000, 0, "FLASH ROM SIZE=0x2000000\nSRAM2M SIZE=0x40000\n", 0x1000},
      {2, 9, 0x800000, 1, "FLASH ROM SIZE=0x800000\nSRAM2M SIZE=0x40000\n", 0x1000},
      {2, 3, 0x800000, 2, "FLASH ROM SIZE=0x800000\nSRAM8M SIZE=0x100000\n", 0x1000},
      {3, 1, 0x100000, 0, "MASK ROM SIZE=0x100000\nFLASH512K SIZE=0x10000\n", 0x1000},
      {4, 1, 0x100000, 0, "MASK ROM SIZE=0x100000\nEEP4K SIZE=0x200\n", 0x200},
      {5, 1, 0x100000, 0, "MASK ROM SIZE=0x100000\nEEP64K SIZE=0x2000\n", 0x2000},
      {6, 1, 0x100000, 0, "MASK ROM SIZE=0x100000\nFLASH1M SIZE=0x20000\n", 0x1000},
      {7, 3, 0x8000000, 0, "FLASH ROM SIZE=0x8000000\nFLASH8M SIZE=0xFE000\n", 0x2000},
      {8, 1, 0x100000, 0, "MASK ROM SIZE=0x100000\n SIZE=0x0\n", 4096},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.lines);
    Bringup b;
    ScriptedCable& c = *b.s.cable;
    c.open().reg_read(1, 0x12345678);
    c.reg_read(3, static_cast<std::uint32_t>(tc.save_type)).reg_read(4, static_cast<std::uint32_t>(tc.rom_kind));
    c.reg_read(5, static_cast<std::uint32_t>(tc.rom_size)).reg_read(6, 0);
    c.query(0xFFFF0021, {tc.variant});
    CartInfo cart = b.run(Command::FR, pattern(4));
    EXPECT_EQ(b.out.str(), tc.lines);
    EXPECT_EQ(cart.save_block, tc.save_block);
  }
}

TEST(Bringup, ACachedSessionRunsOnlyAnAgentOfThisBuild) {
  // The identity word the tool wrote into its agent image is read back from
  // the console (REQ_MEM_READ of the word at 0x03000004). Another word means
  // an agent that may not know this build's requests: the marker is
  // cleared, the handshake restarts the console and this build's agent is
  // uploaded and asked about the cartridge again.
  constexpr std::uint32_t ID = 0x1C2B3A49;
  const std::string reload =
      "The agent on the console is from another build of kartex: loading this one.\n";
  const std::string lines = "FLASH ROM SIZE=0x1000000\nFLASH512K SIZE=0x10000\n";
  struct Case {
    const char* name;
    Command command;
    bool marker;
    std::uint32_t running;  // what the identity word reads; 0 with no marker: never asked
    std::uint32_t agent_id;
    std::string out;
  };
  const Case cases[] = {
      {"same identity: the cached registers serve", Command::FR, true, ID, ID, lines},
      {"another build's identity: reloaded", Command::SW, true, 0x1C2B3A48, ID, reload + lines},
      {"a cleared word: reloaded", Command::FE, true, 0, ID, reload + lines},
      {"no identity given: no check", Command::FR, true, 0, 0, lines},
      {"no marker: uploaded without asking", Command::FR, false, 0, ID, lines},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Bringup b;
    ScriptedCable& c = *b.s.cable;
    const Bytes image = pattern(12, 0x70);
    const bool asked = tc.marker && tc.agent_id != 0;
    const bool reloaded = asked && tc.running != tc.agent_id;
    c.open();
    if (tc.marker) c.reg_read(1, 0x12345678);
    else c.handshake();
    if (asked) c.request(0xFFFF0006, 0x03000004, 4, 0).read(le32(tc.running));
    if (reloaded) c.reg_write(1, 0).handshake();
    if (!tc.marker || reloaded) {
      c.cmd({0x02, 0x01, 0x00}).sleep(50).out(le32(12)).write(image).sleep(100);
      c.query(0xFFFF000C, {3}).query(0xFFFF0001, {2, 0x1000000, 0x20000});
      c.reg_write(3, 3).reg_write(4, 2).reg_write(5, 0x1000000).reg_write(6, 0x20000);
      // With this build's agent the cartridge's fingerprint is kept too.
      if (tc.agent_id != 0) c.query(0xFFFF0033, {0xF1F2F3F4}).reg_write(7, 0xF1F2F3F4);
    } else {
      c.reg_read(3, 3).reg_read(4, 2).reg_read(5, 0x1000000).reg_read(6, 0x20000);
      if (tc.agent_id != 0) c.query(0xFFFF0033, {0xF1F2F3F4}).reg_read(7, 0xF1F2F3F4);
    }
    c.query(0xFFFF0021, {1});
    // A session found marked keeps its marker; an upload marks it.
    if (!tc.marker || reloaded) c.reg_write(1, 0x12345678);
    CartInfo cart = b.run(tc.command, image, tc.agent_id);
    EXPECT_EQ(cart.rom_size, 0x1000000);
    EXPECT_EQ(cart.erase_block, 0x20000);
    EXPECT_EQ(cart.save_type, 3);
    EXPECT_EQ(b.out.str(), tc.out);
  }
}

TEST(Bringup, ASwappedCartridgeOrASilentConsoleIsNoticedOnTheCachedPath) {
  constexpr std::uint32_t ID = 0x1C2B3A49;
  const std::string lines = "FLASH ROM SIZE=0x800000\nFLASH512K SIZE=0x10000\n";
  const Bytes image = pattern(12, 0x70);
  auto identify = [](ScriptedCable& c) {
    c.query(0xFFFF000C, {3}).query(0xFFFF0001, {3, 0x800000, 0x40000});
    c.reg_write(3, 3).reg_write(4, 3).reg_write(5, 0x800000).reg_write(6, 0x40000);
    c.query(0xFFFF0033, {0xAAAA0002}).reg_write(7, 0xAAAA0002);
  };
  {
    SCOPED_TRACE("another cartridge: identified again without an upload");
    Bringup b;
    ScriptedCable& c = *b.s.cable;
    c.open().reg_read(1, 0x12345678);
    c.request(0xFFFF0006, 0x03000004, 4, 0).read(le32(ID));
    c.reg_read(3, 3).reg_read(4, 2).reg_read(5, 0x1000000).reg_read(6, 0x20000);
    c.query(0xFFFF0033, {0xAAAA0002}).reg_read(7, 0xAAAA0001);
    identify(c);
    c.query(0xFFFF0021, {1});
    CartInfo cart = b.run(Command::FW, image, ID);
    EXPECT_EQ(cart.rom_kind, 3);
    EXPECT_EQ(cart.erase_block, 0x40000);
    EXPECT_EQ(b.out.str(),
              "The cartridge was changed since the last command: identifying it again.\n" + lines);
  }
  {
    SCOPED_TRACE("a console that does not answer: the agent is loaded again");
    Bringup b;
    ScriptedCable& c = *b.s.cable;
    c.open().reg_read(1, 0x12345678);
    c.request(0xFFFF0006, 0x03000004, 4, 0).read(le32(0)).failing(PipeResult::failed("timeout after 0.5 s"));
    c.reg_write(1, 0).handshake();
    c.cmd({0x02, 0x01, 0x00}).sleep(50).out(le32(12)).write(image).sleep(100);
    identify(c);
    c.query(0xFFFF0021, {1}).reg_write(1, 0x12345678);
    CartInfo cart = b.run(Command::FR, image, ID);
    EXPECT_EQ(cart.rom_kind, 3);
    EXPECT_EQ(b.out.str(),
              "The console did not answer: it was switched off or restarted since the last "
              "command; loading the agent again.\n" +
                  lines);
  }
}

TEST(Bringup, AProgramLoadOnACachedSessionAsksNoIdentity) {
  // rtc hands its program to whatever agent runs: every agent knows that
  // request, and the program replaces it anyway.
  Bringup b;
  ScriptedCable& c = *b.s.cable;
  c.open().reg_read(1, 0x12345678);
  c.reg_read(3, 0).reg_read(4, 1).reg_read(5, 0x400000).reg_read(6, 0);
  c.reg_write(1, 0);
  c.request(0xFFFF0002, 8).write(pattern(8)).sleep(100);
  c.query(0xFFFF0021, {0});
  b.run(Command::RTC, pattern(8), 0x1C2B3A49);
  EXPECT_EQ(b.out.str(), "");
}

}  // namespace
}  // namespace kartex::test
