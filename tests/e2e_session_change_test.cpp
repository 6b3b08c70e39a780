// What a cached session meets when the world changed between two commands:
// another cartridge in the slot while the console stayed on, or a console
// switched off and on while the cable kept its session marker. The next
// command notices, says so in one line, and works on what is there now.

#include <gtest/gtest.h>

#include <sstream>

#include "app/agent_identity.h"
#include "app/session.h"
#include "cart/commands.h"
#include "common/output.h"
#include "sim/cart/cart_build.h"
#include "tests/support/body_fixture.h"
#include "tests/support/sim_session.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

const std::string CHANGED = "The cartridge was changed since the last command: identifying it again.\n";
const std::string SILENT =
    "The console did not answer: it was switched off or restarted since the last command; loading "
    "the agent again.\n";

struct Host {
  AgentOnSim a;
  std::ostringstream out, err;
  Output con{out, err};

  explicit Host(const std::string& chip) {
    a.sim.set_cart(build_cartridge(keys(chip), a.sim.log()));
    a.link.link_start();
  }
  static SimOptions keys(const std::string& chip) {
    SimOptions options;
    options.chip = chip;
    return options;
  }
  // One command's bring-up, as a run of the tool does it.
  CartInfo bringup() {
    out.str("");
    const std::vector<std::uint8_t> image = agent_upload_image();
    return session_bringup(a.link, Command::FR, image, con, agent_identity());
  }
};

TEST(SessionChange, ACartridgeSwappedUnderARunningAgentIsIdentifiedAgain) {
  struct Case {
    const char* from;
    const char* to;
    std::int32_t kind, erase_block;
  };
  // Blank flash cartridges of two kinds share a header of all ones: the
  // chips' identifiers tell them apart.
  const Case cases[] = {{"2/16", "3/17", 3, 0x40000}, {"3/17", "8/8896", 8, 0x20000},
                        {"8/8896", "2/16", 2, 0x20000}};
  for (const Case& tc : cases) {
    SCOPED_TRACE(std::string(tc.from) + " -> " + tc.to);
    Host h(tc.from);
    h.bringup();
    EXPECT_EQ(h.out.str().find(CHANGED), std::string::npos);
    const CartInfo same = h.bringup();
    EXPECT_EQ(h.out.str().find(CHANGED), std::string::npos) << "the same cartridge is not new";

    h.a.sim.set_cart(build_cartridge(Host::keys(tc.to), h.a.sim.log()));
    const CartInfo now = h.bringup();
    EXPECT_NE(h.out.str().find(CHANGED), std::string::npos) << h.out.str();
    EXPECT_EQ(now.rom_kind, tc.kind);
    EXPECT_EQ(now.erase_block, tc.erase_block);
    EXPECT_NE(same.rom_kind, now.rom_kind);
    // The cable now caches the new cartridge: the next command is quiet.
    const CartInfo again = h.bringup();
    EXPECT_EQ(h.out.str().find(CHANGED), std::string::npos);
    EXPECT_EQ(again.rom_kind, tc.kind);
    EXPECT_EQ(h.a.sim.log().misuse_count(), 0u)
        << (h.a.sim.log().misuses().empty() ? "" : h.a.sim.log().misuses()[0]);
  }
}

TEST(SessionChange, AConsoleSwitchedOffUnderAMarkedCableGetsTheAgentAgain) {
  Host h("2/16");
  h.bringup();
  h.a.sim.console().power_on();  // memory lost; the cable keeps its marker
  ASSERT_EQ(h.a.sim.cable().reg(CABLE_REG_SESSION), SESSION_MARKER);
  const CartInfo cart = h.bringup();
  EXPECT_NE(h.out.str().find(SILENT), std::string::npos) << h.out.str();
  EXPECT_EQ(cart.rom_kind, 2);
  // The agent runs again and answers: a write and a read back work.
  const Bytes data = noise(0x20000, 5);
  flash_write(h.a.link, cart, {}, data, h.con);
  VectorSink sink;
  flash_read(h.a.link, cart, {0, 0x20000}, sink, h.con);
  EXPECT_TRUE(sink.data == data);
  h.bringup();
  EXPECT_EQ(h.out.str().find(SILENT), std::string::npos);
}

}  // namespace
}  // namespace kartex::test
