// The agent's flash block update on every ROM kind the simulator builds:
// a block that already holds the data is not touched, data that only clears
// bits is programmed unit by unit without an erase, other data erases the
// block (its parameter blocks one by one) and programs it again; the bytes
// of the block past the range and every other block keep their contents.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "cart/agent_crc.h"
#include "contract/wire.h"
#include "sim/cart/flash_catalog.h"
#include "tests/support/agent_cart.h"
#include "tests/support/case_spread.h"
#include "tests/support/crc32_bitwise.h"
#include "tests/support/sizes.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

// The erase block at `at` as the chips see it: how many chip blocks it
// spans on each chip of the set.
std::uint32_t chip_blocks_in(const RomOption& o, std::uint32_t at, std::uint32_t erase_block) {
  const BlockLayout& layout = o.chip->layout;
  const std::uint32_t first = (at % o.set_bytes()) / o.chips_per_set;
  const std::uint32_t end = first + erase_block / o.chips_per_set;
  std::uint32_t count = 0;
  for (std::uint32_t b = first; b < end; b = layout.block_at(b).start + layout.block_at(b).bytes) ++count;
  return count;
}

// The first erase block that the chips split into smaller blocks, if any.
std::optional<std::uint32_t> split_block(const RomOption& o, std::uint32_t erase_block) {
  const BlockLayout& layout = o.chip->layout;
  for (std::uint32_t b = 0; b < layout.chip_bytes(); b = layout.block_at(b).start + layout.block_at(b).bytes)
    if (layout.block_at(b).bytes * o.chips_per_set < erase_block) return (b * o.chips_per_set) & ~(erase_block - 1);
  return std::nullopt;
}

// Clears the lowest set bit of byte i, or of the nearest byte before it
// that has one (noise is seldom 0 for long).
void clear_a_bit(Bytes& data, std::size_t i) {
  while (data[i] == 0 && i > 0) --i;
  data[i] = static_cast<std::uint8_t>(data[i] & (data[i] - 1));
}

// `spoil`: added to the check word, as a bit flipped on the link would
std::uint32_t update(AgentCart& c, std::uint32_t at, const Bytes& data, std::uint32_t spoil = 0) {
  Bytes words = data;
  words.resize((data.size() + 3) & ~std::size_t{3}, 0xA5);  // bytes past the range are not data
  const auto bytes = static_cast<std::uint32_t>(data.size());
  c.a.link.agent_request(REQ_FLASH_UPDATE, at, bytes, write_check(data, at, bytes) + spoil);
  // A 256 KiB block is one word more than a transfer carries
  for (std::size_t done = 0; done < words.size(); done += 0x20000)
    c.a.link.write_words(std::span(words).subspan(done, std::min<std::size_t>(0x20000, words.size() - done)));
  return c.a.link.read_word();
}

struct Step {
  const char* name;
  // The data sent, from what the block holds before
  std::function<Bytes(const Bytes& block)> data;
  std::uint32_t reply;
  int program_units;  // units programmed without an erase; -1: erased
};

TEST(FlashUpdate, EveryKindWritesOnlyWhatTheDataNeeds) {
  const Step steps[] = {
      {"the same data", [](const Bytes& block) { return block; }, UPDATE_KEPT, 0},
      {"bits cleared in three units",
       [](const Bytes& block) {
         Bytes d = block;
         for (std::size_t i : {std::size_t{2}, block.size() / 4 + 155, block.size() - 1}) clear_a_bit(d, i);
         return d;
       },
       UPDATE_PROGRAMMED, 3},
      {"new data", [](const Bytes& block) { return noise(block.size(), static_cast<std::uint32_t>(block[7])); },
       UPDATE_ERASED, -1},
      {"new data for half the block and a byte",
       [](const Bytes& block) {
         Bytes d = noise(block.size() / 2 + 1, block[9] + 1u);
         d.back() |= 0x81;  // a bit for the next step to clear
         return d;
       },
       UPDATE_ERASED, -1},
      {"bits cleared in the last byte of an odd range",
       [](const Bytes& block) {
         Bytes d(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(block.size() / 2 + 1));
         clear_a_bit(d, d.size() - 1);
         return d;
       },
       UPDATE_PROGRAMMED, 1},
  };

  for (const RomOption& o : spread_of(rom_options())) {
    SCOPED_TRACE(o.label());
    const std::uint32_t seen = std::min(o.sizes_mib.front() * MiB, 32 * MiB);
    Bytes rom = noise(seen, o.code * 3u + o.kind);
    AgentCart c(flash_holding(rom, "update_rom", o.label()));
    ASSERT_EQ(c.rom_size, seen);
    const std::uint32_t block = c.erase_block;

    std::vector<std::uint32_t> blocks = {4 * block};
    const auto split = split_block(o, block);
    // Kinds 4 to 9 have parameter blocks or sectors; a CFI chip where its
    // tables list more than one region
    const bool small_blocks = o.kind == ROM_KIND_CFI ? o.chip->layout.runs().size() > 1 : o.kind >= 4;
    EXPECT_EQ(split.has_value(), small_blocks) << "kinds 4 to 9 have parameter blocks or sectors";
    if (split) blocks.push_back(*split);
    for (std::uint32_t at : blocks) {
      SCOPED_TRACE("erase block at " + hex32(at));
      for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        const Bytes data = step.data(Bytes(rom.begin() + at, rom.begin() + at + block));
        const FlashOps before = c.flash().ops();
        EXPECT_EQ(update(c, at, data), step.reply);
        std::copy(data.begin(), data.end(), rom.begin() + at);

        // The block and both neighbours hold what they should, and the
        // chips read their array again.
        const std::uint32_t from = at >= block ? at - block : 0, to = std::min(at + 2 * block, seen);
        EXPECT_TRUE(c.cells(from, to - from) == Bytes(rom.begin() + from, rom.begin() + to));
        EXPECT_EQ(c.request(REQ_ROM_CRC32, at, block, block, 1)[0],
                  crc32_bitwise({rom.data() + at, block}));

        const FlashOps after = c.flash().ops();
        if (step.program_units >= 0) {
          EXPECT_EQ(after.erases, before.erases) << "no erase";
          EXPECT_EQ(after.programs - before.programs, step.program_units * o.chips_per_set)
              << "one program step for each unit that changes, on each chip of the set";
        } else {
          EXPECT_EQ(after.erases - before.erases, chip_blocks_in(o, at, block) * o.chips_per_set)
              << "each block of each chip erased once";
          EXPECT_GT(after.programs, before.programs);
        }
      }
    }
    EXPECT_TRUE(c.cells(0, seen) == rom) << "the rest of the ROM";
    c.expect_no_misuse();
  }
}

TEST(FlashUpdate, RefusedWithoutFlashOrOutsideOneEraseBlock) {
  {
    AgentCart mask{SimOptions{}};
    ASSERT_EQ(mask.rom_kind, 1u);
    EXPECT_EQ(update(mask, 0, noise(0x101, 1)), UPDATE_REFUSED);
    mask.expect_in_step();
  }
  const Bytes rom = noise(4 * MiB, 2);
  AgentCart c(flash_holding(rom, "update_refused", "2/16"));
  const std::uint32_t block = c.erase_block;
  struct Case {
    const char* name;
    std::uint32_t at, bytes;
  };
  const Case cases[] = {
      {"not at a block start", block + 0x100, 0x100},
      {"more than one block", block, block + 2},
      {"past the end of the ROM", 4 * MiB, 0x100},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(update(c, k.at, noise(k.bytes, k.at)), UPDATE_REFUSED);
    c.expect_in_step();
  }
  // A block whose data or arguments changed on the way: the check word
  // disagrees, whatever the block would have needed.
  const struct {
    const char* name;
    std::uint32_t at, bytes, spoil;
  } spoilt[] = {
      {"a data bit", block, block, 1},
      {"a high bit", 0, block / 2, 0x80000000},
      {"a block that needs no erase", 2 * block, 0x100, 0x10},
  };
  for (const auto& k : spoilt) {
    SCOPED_TRACE(k.name);
    Bytes data = noise(k.bytes, k.at + 7);
    if (k.at == 2 * block) {  // only clears bits of what the block holds
      data.assign(rom.begin() + k.at, rom.begin() + k.at + k.bytes);
      data[3] &= 0x0F;
    }
    EXPECT_EQ(update(c, k.at, data, k.spoil), WRITE_CHECK_FAILED);
    c.expect_in_step();
  }
  EXPECT_EQ(c.flash().ops().erases + c.flash().ops().programs, 0u);
  EXPECT_TRUE(c.cells(0, 4 * MiB) == rom);
  c.expect_no_misuse();
}

// The rewrite flag erases and programs a block that holds the data already.
TEST(FlashUpdate, ARewriteErasesAndProgramsEvenWhenTheBlockHoldsTheData) {
  const Bytes rom = noise(4 * MiB, 5);
  AgentCart c(flash_holding(rom, "update_rewrite", "2/16"));
  const std::uint32_t block = c.erase_block;
  const Bytes data(rom.begin() + block, rom.begin() + 2 * block);
  const std::uint32_t bytes = block | UPDATE_REWRITE;
  c.a.link.agent_request(REQ_FLASH_UPDATE, block, bytes, write_check(data, block, bytes));
  c.a.link.write_words(data);
  EXPECT_EQ(c.a.link.read_word(), UPDATE_ERASED);
  c.expect_in_step();
  EXPECT_EQ(c.flash().ops().erases, 1u);
  EXPECT_GT(c.flash().ops().programs, 0u);
  EXPECT_TRUE(c.cells(0, 4 * MiB) == rom);
  c.expect_no_misuse();
}

}  // namespace
}  // namespace kartex::test
