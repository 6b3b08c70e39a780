#pragma once
// The real agent on a cartridge the --sim options describe, brought up at
// the request level as the tool does it (save type, then cartridge), for
// tests of single requests: what went over the link and what the chips did.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/cart/cart_build.h"
#include "sim/cart/cartridge.h"
#include "sim/cart/flash_rom.h"
#include "tests/support/sim_session.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {

// A cartridge of `chip` whose flash ROM holds `rom`, from a file in a
// scratch folder of its own
inline SimOptions flash_holding(const Bytes& rom, const std::string& name, const std::string& chip) {
  SimOptions options;
  options.chip = chip;
  options.rom_file = scratch(name) + "rom.bin";
  spill(options.rom_file, rom);
  return options;
}

struct AgentCart {
  AgentOnSim a;
  std::uint32_t save_type = 0, rom_kind = 0, rom_size = 0, erase_block = 0, variant = 0;

  explicit AgentCart(const SimOptions& options) {
    // The chips log their misuse in the simulator's log: built after it.
    a.sim.set_cart(build_cartridge(options, a.sim.log()));
    a.start();
    save_type = request(REQ_SAVE_TYPE, 0, 0, 0, 1)[0];
    const std::vector<std::uint32_t> info = request(REQ_CART_INFO, 0, 0, 0, 3);
    rom_kind = info[0];
    rom_size = info[1];
    erase_block = info[2];
    variant = request(REQ_CART_VARIANT, 0, 0, 0, 1)[0];
  }

  std::vector<std::uint32_t> request(wire::Request code, std::uint32_t a1, std::uint32_t a2, std::uint32_t a3,
                                     std::size_t replies) {
    std::vector<std::uint32_t> words(replies);
    a.link.agent_request(code, a1, a2, a3, words);
    return words;
  }

  // The link is in step when the next request gets its own answer.
  void expect_in_step() { EXPECT_EQ(request(REQ_CART_VARIANT, 0, 0, 0, 1)[0], variant) << "link out of step"; }

  Cartridge& cart() { return dynamic_cast<Cartridge&>(a.sim.cart()); }
  FlashRom& flash() { return dynamic_cast<FlashRom&>(cart().rom()); }

  // What the flash cells hold, whatever mode the chips are in.
  std::vector<std::uint8_t> cells(std::uint32_t offset, std::uint32_t bytes) {
    std::vector<std::uint8_t> out;
    out.reserve(bytes);
    for (std::uint32_t at = offset & ~1u; at < offset + bytes; at += 2) {
      const std::uint16_t half = flash().cell(at);
      if (at >= offset) out.push_back(static_cast<std::uint8_t>(half));
      if (at + 1 < offset + bytes) out.push_back(static_cast<std::uint8_t>(half >> 8));
    }
    return out;
  }

  void expect_no_misuse() {
    const std::vector<std::string>& lines = a.sim.log().misuses();
    EXPECT_EQ(a.sim.log().misuse_count(), 0u);
    for (std::size_t i = 0; i < std::min<std::size_t>(lines.size(), 5); ++i) ADD_FAILURE() << lines[i];
  }
};

}  // namespace kartex::test
