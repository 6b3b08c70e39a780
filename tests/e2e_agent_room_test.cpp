// Where the agent's code lies once it runs: the loops in internal work RAM,
// the code that runs once per request in video RAM that no bitmap page
// reaches, and nothing in external work RAM, which is all data buffer. The
// largest buffers the tool fills and the pages it draws must leave that code
// as the boot stage copied it, and the requests it serves must still answer.

#include <gtest/gtest.h>

#include <functional>

#include "agent/agent_layout.h"
#include "tests/support/cart_bench.h"
#include "tests/support/flash_cells.h"
#include "tests/support/tool_on_sim.h"
#include "vts/gba_video.h"

namespace kartex::test {
namespace {

constexpr std::uint32_t PAIR_BLOCK = 0x40000;  // the erase block of a pair of buffered chips side by side

std::span<const std::uint8_t> cold_piece() {
  return agent_image().subspan(AgentLayout::cold_offset, AgentLayout::cold_size);
}

// A mode-4 frame of fill ops (contract/wire.h), as halfwords padded to words
Bytes fill_frame(std::uint32_t pairs, std::uint16_t value) {
  std::vector<std::uint16_t> ops;
  for (std::uint32_t left = pairs; left != 0;) {
    const std::uint32_t n = std::min<std::uint32_t>(left, VIDEO_COUNT_MASK);
    ops.push_back(static_cast<std::uint16_t>(VIDEO_OP_FILL << VIDEO_OP_SHIFT | n));
    ops.push_back(value);
    left -= n;
  }
  Bytes b;
  for (std::uint16_t h : ops) {
    b.push_back(static_cast<std::uint8_t>(h));
    b.push_back(static_cast<std::uint8_t>(h >> 8));
  }
  b.resize((b.size() + 3) / 4 * 4, 0);
  return b;
}

void send_frame(CartBench& b, std::uint32_t page, const Bytes& payload) {
  b.a.link.agent_request(REQ_VIDEO_FRAME, page, static_cast<std::uint32_t>(payload.size()), SHOW_PAGE0);
  b.a.link.write_words(payload);
}

TEST(AgentRoom, NoBufferOrFrameReachesTheCodeInVideoRam) {
  struct Case {
    const char* name;
    std::function<void(CartBench&)> act;
  };
  const Case cases[] = {
      {"a flash update of a pair's whole erase block fills external work RAM",
       [](CartBench& b) {
         FlashRom& rom = flash_rom_of(b.a.sim);
         const auto size = static_cast<std::uint32_t>(b.cart.rom_size);
         ASSERT_EQ(b.cart.erase_block, static_cast<std::int32_t>(PAIR_BLOCK));
         const Bytes data = noise(PAIR_BLOCK, 81);
         Bytes want = flash_cells(rom, size);
         std::copy(data.begin(), data.end(), want.begin() + PAIR_BLOCK);
         flash_write(b.a.link, b.cart, {static_cast<std::int32_t>(PAIR_BLOCK), static_cast<std::int32_t>(PAIR_BLOCK)},
                     data, b.con);
         EXPECT_TRUE(flash_cells(rom, size) == want) << "the block written, every byte around it as it was";
       }},
      {"a search pattern of 65535 bytes",
       [](CartBench& b) {
         Bytes pattern = noise(0x10000, 82);
         b.a.link.agent_request(REQ_MEM_SEARCH, EWRAM_BASE, 0x20000, 1u << 16 | 0xFFFF);
         b.a.link.write_words(pattern);
         // The pattern lies where it was received: found there at once
         EXPECT_EQ(b.a.link.read_word(), std::uint32_t{EWRAM_BASE});
       }},
      {"every byte of external work RAM written",
       [](CartBench& b) {
         b.a.mem_write(EWRAM_BASE, noise(EWRAM_SIZE / 2, 83));
         b.a.mem_write(EWRAM_BASE + EWRAM_SIZE / 2, noise(EWRAM_SIZE / 2, 84));
       }},
      {"a stream's clear of both pages and a whole frame on each",
       [](CartBench& b) {
         b.a.mem_write(MEM_VRAM, Bytes(VRAM_CLEAR_BYTES, 0));
         send_frame(b, 0, fill_frame(VIDEO_PAGE_BYTES / 2, 0x1234));
         send_frame(b, 1, fill_frame(VIDEO_PAGE_BYTES / 2, 0x5678));
         // Served once the frame is in: the last pair of each page
         EXPECT_EQ(b.a.mem_read(MEM_VRAM_PAGE0 + VIDEO_PAGE_BYTES - 4, 4), (Bytes{0x34, 0x12, 0x34, 0x12}));
         EXPECT_EQ(b.a.mem_read(MEM_VRAM_PAGE1 + VIDEO_PAGE_BYTES - 4, 4), (Bytes{0x78, 0x56, 0x78, 0x56}));
       }},
      {"a frame whose fills run past the end of page 1",
       [](CartBench& b) {
         send_frame(b, 1, fill_frame(3 * VIDEO_COUNT_MASK, 0xA55A));
         EXPECT_EQ(b.a.mem_read(MEM_VRAM_PAGE1 + VIDEO_PAGE_BYTES, 4), (Bytes{0, 0, 0, 0})) << "past page 1";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimOptions o;
    o.chip = "3/17";
    CartBench b(o);
    ASSERT_GT(AgentLayout::cold_size, 0u);
    ASSERT_TRUE(b.a.sim.peek(AGENT_COLD_BASE, AgentLayout::cold_size) == Bytes(cold_piece().begin(), cold_piece().end()))
        << "the boot stage did not copy the cold code";
    c.act(b);
    EXPECT_TRUE(b.a.sim.peek(AGENT_COLD_BASE, AgentLayout::cold_size) == Bytes(cold_piece().begin(), cold_piece().end()))
        << "the cold code changed";
    // Identification and the failure record run from there
    std::uint32_t info[3] = {};
    b.a.link.agent_request(REQ_CART_INFO, 0, 0, 0, info);
    EXPECT_EQ(info[0], static_cast<std::uint32_t>(b.cart.rom_kind));
    EXPECT_EQ(info[1], static_cast<std::uint32_t>(b.cart.rom_size));
    EXPECT_EQ(info[2], static_cast<std::uint32_t>(b.cart.erase_block));
    std::uint32_t failures[3] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    b.a.link.agent_request(REQ_FLASH_FAILURES, 0, 0, 0, failures);
    EXPECT_EQ(failures[0], 0u);
    EXPECT_EQ(b.a.sim.console().fault(), "");
    EXPECT_EQ(b.a.sim.log().misuse_count(), 0u) << testing::PrintToString(b.a.sim.log().misuses());
  }
}

}  // namespace
}  // namespace kartex::test
