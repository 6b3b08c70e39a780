// What a dump and a write of the same file again cost on the simulator's
// hardware clock and link: a dump moves each block's words once, at close
// to the link's own time for them, and names a block of one repeated value
// instead of sending it; a write of the bytes the ROM already holds is one
// CRC pass, and a write reads back only the blocks it sent. Every figure is
// simulated time and link words, never wall time.

#include <gtest/gtest.h>

#include <algorithm>

#include "cart/agent_crc.h"
#include "sim/cart/cart_header.h"
#include "sim/cart/cartridge.h"
#include "sim/cart/flash_rom.h"
#include "tests/support/cart_bench.h"
#include "tests/support/flash_cells.h"
#include "tests/support/sizes.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

constexpr std::uint32_t BLOCK = 0x10000;  // a dump block
// One link word at the 2 MHz clock
constexpr SimTime WORD = simtime::microseconds(16);

// Pseudo-random bytes behind the header of the simulator's own ROM, which
// the console takes for a cartridge.
Bytes rom_image(std::uint32_t size, std::uint32_t seed) {
  Bytes rom = noise(size, seed);
  const Bytes header = make_default_rom(size);
  std::copy(header.begin(), header.begin() + 0xC0, rom.begin());
  return rom;
}

// A stretch of a ROM image set to one repeated halfword, `lo` then `hi`.
struct Fill {
  std::uint32_t at, bytes;
  std::uint8_t lo, hi;
};

struct Image {
  const char* name;
  std::vector<Fill> runs;      // over pseudo-random bytes
  std::size_t erased, other;  // dump blocks filled in: of 0xFF, of another value
};

const Image IMAGES[] = {
    {"pseudo-random", {}, 0, 0},
    {"padding of several values",
     {
         {0x18000, 0x28000, 0x00, 0x00},           // half of block 1 (sent), blocks 2 and 3
         {5 * BLOCK, BLOCK, 0xFF, 0xFF},           // block 5: erased
         {7 * BLOCK, BLOCK, 0x5A, 0x5A},           // block 7
         {9 * BLOCK, BLOCK, 0x34, 0x12},           // block 9: the halfword 0x1234
         {11 * BLOCK, BLOCK - 1, 0x00, 0x00},      // block 11 but its last byte: sent
         {12 * BLOCK + 1, BLOCK - 1, 0x77, 0x77},  // block 12 but its first byte: sent
         {14 * BLOCK, 2 * BLOCK, 0x00, 0x00},      // the end of the ROM
     },
     1, 6},
};

TEST(DumpSpeed, ContentCrossesTheLinkNearItsFloorAndUniformBlocksStayOff) {
  for (const Image& img : IMAGES) {
    SCOPED_TRACE(img.name);
    Bytes rom = rom_image(MiB, 41);
    for (const Fill& r : img.runs)
      for (std::uint32_t i = 0; i < r.bytes; ++i) rom[r.at + i] = (r.at + i) & 1 ? r.hi : r.lo;
    // The blocks whose bytes must cross the link
    std::uint64_t sent = 0;
    for (std::uint32_t at = 0; at < MiB; at += BLOCK) {
      bool uniform = true;
      for (std::uint32_t i = 2; i < BLOCK && uniform; ++i) uniform = rom[at + i] == rom[at + (i & 1)];
      if (!uniform) sent += BLOCK;
    }
    ASSERT_EQ(sent, MiB - (img.erased + img.other) * BLOCK) << "the image is not what the table says";
    const std::string file = scratch("dump_speed") + "rom.bin";
    spill(file, rom);
    SimOptions o;
    o.rom_file = file;
    CartBench b(o);
    ASSERT_EQ(b.cart.rom_size, static_cast<std::int32_t>(MiB));
    b.out.str("");

    Bytes dumped;
    const Cost c = cost_of(b, [&] { dumped = b.read_rom(0, MiB); });
    ASSERT_TRUE(dumped == rom) << "the dump differs from the ROM";
    // Each block's words once; beside them its header pair and CRC, and the
    // request itself.
    const std::uint64_t floor_words = sent / 4;
    EXPECT_LE(c.words, floor_words + 3 * (MiB / BLOCK) + 8) << "link words";
    // Within 5 % of the link's time for those words; a block that stays off
    // the link costs its scan on the console, well under 10 ms.
    const SimTime bound = floor_words * WORD * 105 / 100 + (img.erased + img.other) * simtime::milliseconds(10);
    EXPECT_LE(c.time, bound) << simtime::seconds(c.time) << " s against a floor of "
                             << simtime::seconds(floor_words * WORD) << " s";
    const std::string out = b.out.str();
    if (img.erased) {
      EXPECT_NE(out.find(strprintf("%zu erased block", img.erased)), std::string::npos) << out;
    }
    if (img.other) {
      EXPECT_NE(out.find(strprintf("%zu blocks of 0x10000 bytes holding one repeated value", img.other)),
                std::string::npos)
          << out;
    }
    EXPECT_EQ(out.find("Re-read blocks: 0"), out.find("Re-read blocks:")) << out;
    EXPECT_EQ(b.a.sim.log().misuse_count(), 0u) << testing::PrintToString(b.a.sim.log().misuses());
  }
}

FlashRom& flash_rom(CartBench& b) { return flash_rom_of(b.a.sim); }

struct Write {
  const char* name;
  std::uint32_t start, length;  // the range of the file
};

const Write WRITES[] = {
    {"whole erase blocks", 0x20000, MiB},
    {"a range off the erase grid: its partial blocks compared by their part", 0x30001, MiB - 0x3000},
};

TEST(FlashSpeed, TheSameFileAgainIsOneCrcPassAndVerifyReadsOnlyWhatWasSent) {
  for (const Write& w : WRITES) {
    SCOPED_TRACE(w.name);
    const std::uint32_t size = 4 * MiB;
    const std::string file = scratch("flash_speed") + "rom.bin";
    spill(file, rom_image(size, 51));
    SimOptions o;
    o.chip = "2/16";
    o.rom_file = file;
    CartBench b(o);
    ASSERT_EQ(b.cart.rom_size, static_cast<std::int32_t>(size));
    const auto block = static_cast<std::uint32_t>(b.cart.erase_block);
    FlashRom& rom = flash_rom(b);
    const Range range{static_cast<std::int32_t>(w.start), static_cast<std::int32_t>(w.length)};
    const Bytes data = noise(w.length, 52);
    auto write = [&](const Bytes& d) { flash_write(b.a.link, b.cart, range, d, b.con); };
    // What the ROM must hold: the file in its range, every other byte as it was.
    Bytes want = flash_cells(rom, size);
    std::copy(data.begin(), data.end(), want.begin() + w.start);

    const Cost first = cost_of(b, [&] { write(data); });
    ASSERT_TRUE(flash_cells(rom, size) == want) << "the first write";

    // One CRC pass over the blocks the range touches, as the tool asks it.
    const std::uint32_t lo = w.start / block * block;
    const std::uint32_t hi = (w.start + w.length + block - 1) / block * block;
    const Cost pass = cost_of(b, [&] { (void)rom_crcs(b.a.link, lo, hi - lo, block); });

    const FlashOps ops_before = rom.ops();
    const Cost same = cost_of(b, [&] { write(data); });
    EXPECT_EQ(rom.ops().erases, ops_before.erases);
    EXPECT_EQ(rom.ops().programs, ops_before.programs);
    EXPECT_TRUE(flash_cells(rom, size) == want) << "the same file again";
    // The pass, the bytes of the two partial blocks read back, and the
    // requests around them: a tenth more at most.
    EXPECT_LE(same.time, pass.time * 110 / 100) << simtime::seconds(same.time) << " s against one pass of "
                                                << simtime::seconds(pass.time) << " s";
    EXPECT_LE(same.words, pass.words + 2 * block / 4 + 64);

    // One block in the middle changes: it alone is sent, erased, programmed
    // and read back.
    Bytes one = data;
    const std::uint32_t middle = (lo + hi) / 2 / block * block;
    for (std::uint32_t i = 0; i < block; ++i) one[middle - w.start + i] ^= 0x5A;
    std::copy(one.begin(), one.end(), want.begin() + w.start);
    const Cost changed = cost_of(b, [&] { write(one); });
    EXPECT_TRUE(flash_cells(rom, size) == want) << "one block changed, every other byte as it was";
    const std::uint64_t blocks = (hi - lo) / block;
    // The compare, the block's share of a first write (which programmed
    // every block), and its own read back: never a second whole pass.
    EXPECT_LE(changed.time, same.time + first.time / blocks * 2 + pass.time / blocks * 2)
        << simtime::seconds(changed.time) << " s";
    // The block's words once, with the check word of each piece it streams in
    EXPECT_LE(changed.words, same.words + block / 4 + block / STREAM_PIECE_BYTES + 64);
    EXPECT_EQ(b.a.sim.log().misuse_count(), 0u) << testing::PrintToString(b.a.sim.log().misuses());
  }
}

}  // namespace
}  // namespace kartex::test
