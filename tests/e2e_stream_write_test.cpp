// The agent's streamed flash write (the data arrives over the link while
// the chips program it), on every programming method: what lands in the
// ROM, and what the erase of the block it starts does to the bytes after it.

#include <gtest/gtest.h>

#include <algorithm>

#include "link/cable_link.h"
#include "tests/support/cart_bench.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

TEST(StreamWrite, EveryKindProgramsTheStreamedRangeAcrossAChunkBoundary) {
  // 0x5000 bytes from a block start: two chunks of the agent's (16 KiB, then
  // 4 KiB), so the position carried from one chunk to the next is used.
  constexpr std::uint32_t LENGTH = 0x5000;
  constexpr std::uint32_t AFTER = 0x3000;  // checked past the range, same erase block
  const char* chips[] = {"2/18", "3/17", "3/8802", "4/e2", "5/22da", "7/8897", "8/8896", "9/20"};
  for (const char* chip : chips) {
    SCOPED_TRACE(chip);
    SimOptions options;
    options.chip = chip;
    CartBench b(options);
    // Old data over the whole span first, so that the erase shows.
    flash_write(b.a.link, b.cart, {0, static_cast<std::int32_t>(LENGTH + AFTER)},
                noise(LENGTH + AFTER, 7), b.con, WriteOptions{});
    const Bytes data = noise(LENGTH, 3);
    b.a.link.agent_request(REQ_FLASH_WRITE, 0, LENGTH, 0);
    b.a.link.write_words(data);
    const Bytes rom = b.read_rom(0, LENGTH + AFTER);
    ASSERT_EQ(rom.size(), LENGTH + AFTER);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), rom.begin())) << "the range differs";
    // The write erased the block it starts: the old bytes after it are gone.
    EXPECT_TRUE(std::all_of(rom.begin() + LENGTH, rom.end(), [](std::uint8_t v) { return v == 0xFF; }))
        << "bytes after the range are not erased";
  }
}

}  // namespace
}  // namespace kartex::test
