// SRAM writes through the agent's own requests, at any offset and length:
// the bytes of the range land in their banks and every byte around them
// keeps its value. The checked write's check is summed while its words
// arrive, and a block whose last word is partly data is summed to its
// last byte; the store loop takes a source off a word and a ragged end.

#include <gtest/gtest.h>

#include <algorithm>

#include "cart/agent_crc.h"
#include "tests/support/cart_bench.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

TEST(SramWriteOnSimulator, TheRangeChangesAndNothingAroundIt) {
  struct Case {
    const char* what;
    const char* save;
    const char* chip;
    bool checked;  // the checked write of ours, else the described one
    std::uint32_t offset, bytes;
  };
  const Case cases[] = {
      {"a checked block", "sram32k", "", true, 0x1000, 0x1000},
      {"a checked range off a word, its last word partly data", "sram32k", "", true, 0x2003, 13},
      {"the described write at the end of the save", "sram32k", "", false, 0x7FF9, 7},
      {"the described write across a bank boundary", "sram256k", "3/17", false, 0xFFFE, 6},
      {"a checked block in the second bank", "sram256k", "3/17", true, 0x10000, 0x2000},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    SimOptions o;
    o.save = tc.save;
    o.chip = tc.chip;
    const std::uint32_t size = std::string(tc.save) == "sram32k" ? 0x8000 : 0x40000;
    const Bytes old = noise(size, 41);
    o.save_image = save_image_file("sram_write", tc.save, old);
    CartBench b(o);
    ASSERT_EQ(b.cart.save_size, static_cast<std::int32_t>(size));
    const Bytes data = noise(tc.bytes, 42);
    Bytes words = data;
    words.resize((tc.bytes + 3) / 4 * 4, 0xEE);
    if (tc.checked) {
      b.a.link.agent_request(REQ_SAVE_WRITE_CHECKED, tc.offset, tc.bytes, write_check(data, tc.offset, tc.bytes));
    } else {
      b.a.link.agent_request(REQ_SRAM_WRITE, tc.offset, tc.bytes, 0);
    }
    b.a.link.write_words(words);
    EXPECT_EQ(b.a.link.read_word(), REPLY_DONE);
    Bytes expected = old;
    std::copy(data.begin(), data.end(), expected.begin() + tc.offset);
    const Bytes back = b.read_save();
    ASSERT_EQ(back.size(), expected.size());
    std::size_t wrong = 0, first = 0;
    for (std::size_t i = 0; i < back.size(); ++i)
      if (back[i] != expected[i] && wrong++ == 0) first = i;
    EXPECT_EQ(wrong, 0u) << "first wrong byte at 0x" << std::hex << first;
    EXPECT_EQ(b.a.sim.log().misuse_count(), 0u);
  }
}

}  // namespace
}  // namespace kartex::test
