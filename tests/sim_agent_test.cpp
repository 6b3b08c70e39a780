// The real agent on the simulated console, driven through CableLink.

#include <gtest/gtest.h>

#include "agent/agent_image.h"
#include "app/session.h"
#include "link/cable_link.h"
#include "sim/cart/cart_header.h"
#include "sim_support.h"

namespace kartex {
namespace {

TEST(SimAgent, UploadsAndServesMemoryAndRomReads) {
  Simulator sim;
  CableLink link([&] { return sim.borrow_pipes(); }, [](int) {});
  link.link_start();
  upload_program(link, agent_image());

  std::uint32_t info[3] = {};
  link.agent_request(REQ_CART_INFO, 0, 0, 0, info);
  EXPECT_EQ(info[0], 1u) << "mask ROM";
  EXPECT_EQ(info[1], DEFAULT_ROM_SIZE);

  // The splash fills tile 0 with colour 255; the palette went to 0x05000000.
  std::vector<std::uint8_t> tile(64);
  link.agent_request(REQ_MEM_READ, 0x06000000, 64, 0);
  link.read_words(tile);
  EXPECT_EQ(tile, std::vector<std::uint8_t>(64, 0xFF));
  std::vector<std::uint8_t> palette(512);
  link.agent_request(REQ_MEM_READ, 0x05000000, 512, 0);
  link.read_words(palette);
  EXPECT_EQ(palette, sim.peek(0x05000000, 512));
  // IWRAM holds the resident stage the boot stage copied by DMA.
  std::vector<std::uint8_t> resident(256);
  link.agent_request(REQ_MEM_READ, IWRAM_BASE, 256, 0);
  link.read_words(resident);
  EXPECT_EQ(resident, sim.peek(IWRAM_BASE, 256));
  EXPECT_NE(resident, std::vector<std::uint8_t>(256, 0));

  std::vector<std::uint8_t> rom(4096);
  link.agent_request(REQ_ROM_READ, ROM_BASE + 0x10000, 4096, 0);
  link.read_words_long(rom);
  const std::vector<std::uint8_t> expected = make_default_rom();
  EXPECT_TRUE(std::equal(rom.begin(), rom.end(), expected.begin() + 0x10000));

  // The splash is on screen: 256 colours, BG0; background colour 255.
  EXPECT_EQ(sim.console().io().raw(io::DISPCNT), 0x0100);
  const std::uint16_t c255 = static_cast<std::uint16_t>(palette[510] | palette[511] << 8);
  EXPECT_EQ(sim.screen().pixel(0, 0), rgb_of(c255));
}

}  // namespace
}  // namespace kartex
