// The checked save write where the agent does not wait for the whole block:
// SRAM takes each word as it arrives, the save area in the ROM's flash has
// the block's erase unit erased while the block arrives. A block with one
// word flipped on the link must leave every byte of the save as it was (the
// ROM save area's unit included, though it was erased meanwhile), and the
// same block sent right afterwards lands with nothing around it changed.

#include <gtest/gtest.h>

#include <algorithm>

#include "cart/agent_crc.h"
#include "sim/cart/cartridge.h"
#include "sim/save/save_rom.h"
#include "tests/support/cart_bench.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

// The first byte where two saves differ, or none.
std::string first_difference(const Bytes& got, const Bytes& want) {
  if (got.size() != want.size()) return "sizes differ";
  const auto at = std::mismatch(got.begin(), got.end(), want.begin());
  if (at.first == got.end()) return "";
  char text[32];
  std::snprintf(text, sizeof text, "0x%zX", static_cast<std::size_t>(at.first - got.begin()));
  return text;
}

TEST(SaveWriteCheck, AFlippedWordLeavesTheSaveAndTheBlockThenLands) {
  struct Case {
    const char* what;
    const char* save;
    const char* chip;
    std::uint32_t image;  // bytes of the save chip
    std::uint32_t offset, bytes;
    std::uint32_t erased_from = 0, erased_to = 0;  // cells that read erased at first
    std::uint64_t erases = 0;  // ROM save area: erases of the flipped try and of the good one together
  };
  const Case cases[] = {
      {"SRAM, off a word, its last word partly data", "sram32k", "", 0x8000, 0x2003, 13},
      {"SRAM, the last bytes of the save", "sram32k", "", 0x8000, 0x7FF6, 10},
      {"banked SRAM, a ragged range across a bank boundary", "sram256k", "3/17", 0x40000, 0xFFFD, 11},
      {"banked SRAM, whole words across a bank boundary", "sram256k", "3/17", 0x40000, 0x1F800, 0x1000},
      {"banked SRAM, a whole bank", "sram1m", "3/17", 0x100000, 0x30000, 0x10000},
      {"ROM save area, a whole 64 KiB erase block", "romsave", "3/18", 0x100000, 0x20000, 0x10000, 0, 0, 2},
      {"ROM save area, sectors inside an erase block", "romsave", "3/18", 0x100000, 0x32000, 0x4000, 0, 0, 2},
      {"ROM save area, a sector that erases alone", "romsave", "3/18", 0x100000, 0xF4000, 0x2000, 0, 0, 2},
      {"ROM save area, a range that reads erased", "romsave", "3/18", 0x100000, 0x52000, 0x4000, 0x52000, 0x56000,
       0},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    const bool rom = std::string(tc.save) == "romsave";
    Bytes old = noise(tc.image, 51);
    std::fill(old.begin() + tc.erased_from, old.begin() + tc.erased_to, 0xFF);
    SimOptions o;
    o.save = tc.save;
    o.chip = tc.chip;
    o.save_image = save_image_file("save_write_check", tc.save, old);
    CartBench b(o);
    auto* area = dynamic_cast<RomSaveArea*>(&dynamic_cast<Cartridge&>(b.a.sim.cart()).save_chip());
    ASSERT_EQ(area != nullptr, rom);
    const std::uint64_t misuses = b.a.sim.log().misuse_count();
    const std::uint64_t erases = rom ? area->ops().erases : 0;
    const Bytes before = b.read_save();
    ASSERT_TRUE(std::equal(before.begin(), before.end(), old.begin()));

    const Bytes data = noise(tc.bytes, 52);
    Bytes words = data;
    words.resize((tc.bytes + 3) / 4 * 4, 0xEE);
    const std::uint32_t check = write_check(data, tc.offset, tc.bytes);
    Bytes flipped = words;
    flipped[words.size() / 8 * 4 + 1] ^= 0x20;  // a bit of the middle word

    b.a.link.agent_request(REQ_SAVE_WRITE_CHECKED, tc.offset, tc.bytes, check);
    b.a.link.write_words(flipped);
    EXPECT_EQ(b.a.link.read_word(), WRITE_CHECK_FAILED);
    EXPECT_EQ(first_difference(b.read_save(), before), "") << "the flipped block changed the save";
    if (rom) {
      const std::vector<std::uint8_t> cells = area->contents();
      EXPECT_EQ(first_difference(Bytes(cells.begin(), cells.end()), old), "") << "the area's top sectors too";
    }

    b.a.link.agent_request(REQ_SAVE_WRITE_CHECKED, tc.offset, tc.bytes, check);
    b.a.link.write_words(words);
    EXPECT_EQ(b.a.link.read_word(), REPLY_DONE);
    Bytes want = before;
    std::copy(data.begin(), data.end(), want.begin() + tc.offset);
    EXPECT_EQ(first_difference(b.read_save(), want), "") << "the block sent again";
    if (rom) {
      EXPECT_EQ(area->ops().erases - erases, tc.erases);
    }
    EXPECT_EQ(b.a.sim.log().misuse_count() - misuses, 0u) << testing::PrintToString(b.a.sim.log().misuses());
  }
}

}  // namespace
}  // namespace kartex::test
