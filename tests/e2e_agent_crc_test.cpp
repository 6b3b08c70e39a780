// The agent's CRC-32 requests on the simulator: every block's word is the
// CRC of exactly the bytes a read of the same range gives (ROM pages,
// odd ends, save banks), words can be read as they come, the link stays in
// step, and the work per byte stays far below what the link would take to
// carry the byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "sim/save/save_flash.h"
#include "tests/support/agent_cart.h"
#include "tests/support/crc32_bitwise.h"
#include "tests/support/sizes.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

TEST(AgentCrc, ReferenceCrcIsTheZlibOne) {
  const std::string check = "123456789";
  EXPECT_EQ(crc32_bitwise({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}), 0xCBF43926u);
  EXPECT_EQ(crc32_bitwise({}), 0u);
}

// The words of a CRC request, the first read alone and the rest after it:
// each block's word is on the link as soon as it is summed.
std::vector<std::uint32_t> crc_words(AgentCart& c, wire::Request code, std::uint32_t a1, std::uint32_t a2,
                                     std::uint32_t a3, std::size_t count) {
  std::vector<std::uint32_t> words(count);
  c.a.link.agent_request(code, a1, a2, a3);
  for (std::size_t i = 0; i < count; ++i) words[i] = c.a.link.read_word();
  return words;
}

struct Range {
  const char* name;
  std::uint32_t at, bytes, block;
};

// A 64 MiB cartridge: two 32 MiB pages of the mapper.
TEST(AgentCrc, RomBlocksMatchTheBytesOfEveryPage) {
  const Bytes rom = noise(64 * MiB, 31);
  const std::string file = scratch("crc_rom") + "rom.bin";
  spill(file, rom);
  SimOptions options;
  options.chip = "3/18";
  options.size_mib = 64;
  options.save = "sram1m";  // separate SRAM banks: the agent looks past 32 MiB
  options.rom_file = file;
  AgentCart c(options);
  ASSERT_EQ(c.rom_size, 64 * MiB);

  const Range ranges[] = {
      {"aligned blocks", 0x4000, 0x10000, 0x4000},
      {"odd start", 0x12345, 0x3000, 0x1000},
      {"odd length: a last block of one byte", 0x2000, 0x2001, 0x800},
      {"short last block", 0x100, 10000, 4096},
      {"odd blocks from odd offsets", 0x777, 0x1235, 0x333},
      {"blocks across the 32 MiB page boundary", 0x2000000 - 0x1001, 0x2003, 0x1000},
      {"one odd block across the boundary", 0x2000000 - 0x801, 0x1001, 0x1001},
      {"bytes one by one across the boundary", 0x2000000 - 3, 7, 1},
      {"second page only", 0x3000001, 0x1000, 0x400},
      {"block larger than the range", 0x3000, 0x123, 0x10000},
      {"the end of the ROM", 64 * MiB - 0x801, 0x801, 0x200},
      {"nothing to sum", 0x100, 0, 0x100},
      {"block size 0: no words", 0x100, 0x100, 0},
  };
  for (const Range& r : ranges) {
    SCOPED_TRACE(r.name);
    const std::uint16_t page_before = c.cart().mapper()->rom_page();
    const std::vector<std::uint32_t> want = crc32_blocks(rom, r.at, r.bytes, r.block);
    EXPECT_EQ(crc_words(c, REQ_ROM_CRC32, r.at, r.bytes, r.block, want.size()), want);
    c.expect_in_step();
    // The page of the last byte stays selected, as after a ROM read
    const std::uint16_t page = r.bytes && r.block ? static_cast<std::uint16_t>(((r.at + r.bytes - 1) >> 25) * 0x400)
                                                  : page_before;
    EXPECT_EQ(c.cart().mapper()->rom_page(), page);
  }
  c.expect_no_misuse();
}

// Guest instructions per byte of one request over `bytes`, all in one block.
double instructions_per_byte(AgentCart& c, wire::Request code, std::uint32_t at, std::uint32_t bytes) {
  const std::uint64_t before = c.a.sim.stats().instructions;
  c.request(code, at, bytes, bytes, 1);
  return static_cast<double>(c.a.sim.stats().instructions - before) / bytes;
}

// The link moves a byte in 4 us, some 67 CPU cycles; the sums must cost a
// small part of that. The figures go to the test's output.
TEST(AgentCrc, SumsCostAFewInstructionsPerByte) {
  SimOptions rom_options;
  rom_options.chip = "3/18";
  AgentCart rom(rom_options);
  const double rom_cost = instructions_per_byte(rom, REQ_ROM_CRC32, 0x100000, 4 * MiB);

  SimOptions save_options;
  save_options.chip = "2/17";
  save_options.save = "sram1m";
  AgentCart save(save_options);
  ASSERT_EQ(save.save_type, 2u);
  const double save_cost = instructions_per_byte(save, REQ_SAVE_CRC32, 0, MiB);

  std::printf("REQ_ROM_CRC32: %.3f guest instructions per byte over 4 MiB\n", rom_cost);
  std::printf("REQ_SAVE_CRC32: %.3f guest instructions per byte over 1 MiB of banked SRAM\n", save_cost);
  RecordProperty("rom_crc32_instructions_per_byte", std::to_string(rom_cost));
  RecordProperty("save_crc32_instructions_per_byte", std::to_string(save_cost));
  EXPECT_LT(rom_cost, 4.5);
  EXPECT_LT(save_cost, 6.0);
}

struct SavePart {
  const char* save;
  const char* chip;  // "" for the mask ROM
  std::uint32_t type, size;
};

const SavePart SAVE_PARTS[] = {
    {"sram32k", "", 1, 0x8000},
    {"sram256k", "2/17", 2, 0x40000},
    {"sram1m", "2/17", 2, 0x100000},
    {"flash64k:bfd4", "", 3, 0x10000},
    {"flash64k:1f3d", "", 3, 0x10000},
    {"flash128k:c209", "", 6, 0x20000},
    {"flash128k:6213", "", 6, 0x20000},
    {"romsave", "3/18", 7, 0x100000},
};

// What the host reads: REQ_SAVE_READ in 64 KiB pieces, or for the save area
// in the ROM's flash REQ_MEM_READ through the ROM window (halfword aligned).
Bytes host_save_read(AgentCart& c, std::uint32_t at, std::uint32_t bytes) {
  Bytes out;
  for (std::uint32_t done = 0; done < bytes; done += 0x10000) {
    const std::uint32_t pos = at + done, n = std::min(0x10000u, bytes - done);
    if (c.save_type == 7) {
      const std::uint32_t from = pos & ~1u, length = n + (pos & 1);
      const Bytes got = c.a.mem_read(FLASH8M_BASE + from, length);
      out.insert(out.end(), got.begin() + (pos & 1), got.begin() + length);
      continue;
    }
    Bytes piece((n + 3) & ~3u);
    c.a.link.agent_request(REQ_SAVE_READ, pos, n, 0);
    c.a.link.read_words(piece);
    out.insert(out.end(), piece.begin(), piece.begin() + n);
  }
  return out;
}

TEST(AgentCrc, SaveBlocksMatchWhatASaveReadGives) {
  for (const SavePart& part : SAVE_PARTS) {
    SCOPED_TRACE(part.save);
    const Bytes image = noise(part.size, part.size + part.type);
    const std::string file = scratch("crc_save") + "save.bin";
    spill(file, image);
    SimOptions options;
    options.chip = part.chip;
    options.save = part.save;
    options.save_image = file;
    AgentCart c(options);
    ASSERT_EQ(c.save_type, part.type);

    const std::uint32_t s = part.size;
    std::vector<Range> ranges = {
        {"whole save", 0, s, 0x1000},
        {"odd blocks across the middle", s / 2 - 0x801, 0x1003, 0x333},
        {"last bytes", s - 5, 5, 2},
    };
    if (s > 0x10000) ranges.push_back({"small blocks across the first bank boundary", 0xFFF0, 0x20, 7});
    if (s > 0x20000) ranges.push_back({"one block over four banks", 0xFFF1, 0x20020, 0x20020});
    for (const Range& r : ranges) {
      SCOPED_TRACE(r.name);
      const Bytes read = host_save_read(c, r.at, r.bytes);
      ASSERT_TRUE(std::equal(read.begin(), read.end(), image.begin() + r.at)) << "the save read itself";
      const std::vector<std::uint32_t> want = crc32_blocks(read, 0, r.bytes, r.block);
      EXPECT_EQ(crc_words(c, REQ_SAVE_CRC32, r.at, r.bytes, r.block, want.size()), want);
      c.expect_in_step();
      // Banks as a save read leaves them: SRAM bank 0, the FLASH bank of the last byte
      EXPECT_EQ(c.cart().mapper() ? c.cart().mapper()->sram_bank() : 0u, 0u);
      if (auto* flash = dynamic_cast<FlashSaveChip*>(&c.cart().save_chip()); flash && part.type == 6) {
        EXPECT_EQ(flash->bank(), (r.at + r.bytes - 1) >> 16);
      }
    }
    c.expect_no_misuse();
  }
}

// Nothing in a window to sum: a word of 0 per block, and the link in step.
TEST(AgentCrc, SavesWithoutAWindowAnswerZeros) {
  struct Case {
    const char* save;
    std::uint32_t type;
  };
  for (const Case& k : {Case{"eeprom8k", 5}, Case{"eeprom512", 4}, Case{"none", 0}}) {
    SCOPED_TRACE(k.save);
    SimOptions options;
    options.save = k.save;
    AgentCart c(options);
    ASSERT_EQ(c.save_type, k.type);
    EXPECT_EQ(crc_words(c, REQ_SAVE_CRC32, 0x10, 0x2001, 0x1000, 3), (std::vector<std::uint32_t>{0, 0, 0}));
    c.expect_in_step();
    c.request(REQ_SAVE_CRC32, 0, 0x100, 0, 0);  // block size 0: no words
    c.expect_in_step();
  }
}

}  // namespace
}  // namespace kartex::test
