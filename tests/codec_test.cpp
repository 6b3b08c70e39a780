// The dump-compression study's codecs: every block that shrinks decodes to
// itself, a block that would grow is left raw, an encoder never writes past
// the block's own size (on the console its output buffer is no larger),
// and a damaged stream is refused rather than decoded into wrong bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench/codecs/codecs.h"
#include "bench/tiles.h"

namespace kartex {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct CodecUnderTest {
  const char* name;
  std::function<std::size_t(const Bytes&, std::uint8_t*)> encode;
  std::function<int(const std::uint8_t*, std::size_t, std::uint8_t*, std::size_t)> decode;
};

std::vector<CodecUnderTest> codecs() {
  static std::vector<std::uint16_t> table(LZF_HASH_ENTRIES > LZ10_HASH_ENTRIES ? LZF_HASH_ENTRIES : LZ10_HASH_ENTRIES);
  return {
      {"run-length", [](const Bytes& in, std::uint8_t* out) { return rle_encode(in.data(), in.size(), out); },
       rle_decode},
      {"lz greedy",
       [](const Bytes& in, std::uint8_t* out) { return lzf_encode(in.data(), in.size(), out, table.data()); },
       lzf_decode},
      {"lz bios form",
       [](const Bytes& in, std::uint8_t* out) { return lz10_encode(in.data(), in.size(), out, table.data()); },
       lz10_decode},
  };
}

Bytes random_bytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(gen());
  return b;
}

// Like a code section: a few dozen instruction words recurring with
// changed registers and offsets.
Bytes code_like(std::size_t n) {
  std::mt19937 gen(7);
  const std::uint32_t ops[] = {0xE59F0000, 0xE3A01000, 0xE1A00000, 0xEB000000, 0xE12FFF1E, 0xE92D4010};
  Bytes b;
  while (b.size() < n) {
    const std::uint32_t w = ops[gen() % 6] | (gen() % 16) << 12 | (gen() % 8 == 0 ? gen() & 0xFFF : 0);
    for (int i = 0; i < 4 && b.size() < n; ++i) b.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
  }
  return b;
}

// Like 4-bit tiles: runs of few colours, transparent background.
Bytes tiles_like(std::size_t n) {
  std::mt19937 gen(11);
  Bytes b;
  while (b.size() < n) {
    const std::uint8_t colour = static_cast<std::uint8_t>(gen() % 4 == 0 ? 0 : (gen() % 5) * 0x11);
    for (unsigned r = 1 + gen() % 24; r && b.size() < n; --r) b.push_back(colour);
  }
  return b;
}

Bytes text_like(std::size_t n) {
  const std::string words[] = {"the ", "cartridge ", "holds ", "a ", "block ", "of ", "bytes ", "which ", "link\n"};
  std::mt19937 gen(3);
  Bytes b;
  while (b.size() < n)
    for (char c : words[gen() % 9])
      if (b.size() < n) b.push_back(static_cast<std::uint8_t>(c));
  return b;
}

Bytes pairs(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(1 + i / 2 % 2);
  return b;
}

Bytes repeat_of(std::size_t n, std::size_t period, unsigned seed) {
  const Bytes unit = random_bytes(period, seed);
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = unit[i % period];
  return b;
}

// Literal runs and matches across the 15 and 255 steps of the greedy LZ's
// length bytes (fresh random literals, then a copy out of a random first
// stretch), then zeros enough for the whole block to shrink.
Bytes length_steps() {
  Bytes b = random_bytes(256, 21);
  const Bytes fresh = random_bytes(4096, 22);
  const std::size_t literals[] = {0, 14, 15, 16, 269, 270, 271, 3};
  const std::size_t lengths[] = {4, 18, 19, 20, 273, 274, 275, 600};
  std::size_t f = 0;
  for (int k = 0; k < 8; ++k) {
    b.insert(b.end(), fresh.begin() + static_cast<std::ptrdiff_t>(f),
             fresh.begin() + static_cast<std::ptrdiff_t>(f + literals[k]));
    f += literals[k];
    for (std::size_t i = 0; i < lengths[k]; ++i) b.push_back(b[(k * 7 + i) % 256]);
  }
  b.resize(b.size() + 8192, 0);
  return b;
}

constexpr std::uint8_t GUARD = 0xA5;
constexpr std::size_t GUARD_BYTES = 64;

TEST(BlockCodec, WhatShrinksDecodesToItselfAndTheRestStaysRaw) {
  struct Case {
    const char* what;
    Bytes block;
    bool rle_shrinks, lzf_shrinks, lz10_shrinks;
  };
  const std::size_t B = 65536;
  const Case cases[] = {
      {"random 64 KiB", random_bytes(B, 1), false, false, false},
      {"uniform 64 KiB", Bytes(B, 0x00), true, true, true},
      {"uniform 0xFF, odd size", Bytes(B - 3, 0xFF), true, true, true},
      {"empty", Bytes{}, false, false, false},
      {"one byte", Bytes{0x42}, false, false, false},
      {"four equal bytes", Bytes(4, 7), true, false, false},
      // Pairs never make a run of three: run-length's worst case, one
      // control byte per 128 literals; for LZ a match of period 4.
      {"alternating pairs", pairs(B), false, true, true},
      {"period 4097, beyond the 4 KiB window", repeat_of(B, 4097, 6), false, true, false},
      {"period 4096, inside the window", repeat_of(B, 4096, 6), false, true, true},
      {"code-like", code_like(B), false, true, true},
      {"tiles-like", tiles_like(B), true, true, true},
      {"text-like", text_like(B), false, true, true},
      {"literal runs and match lengths across the length steps", length_steps(), true, true, true},
  };
  for (const CodecUnderTest& codec : codecs())
    for (const Case& tc : cases) {
      SCOPED_TRACE(std::string(codec.name) + ": " + tc.what);
      const std::size_t n = tc.block.size();
      Bytes out(n + GUARD_BYTES, GUARD);
      const std::size_t size = codec.encode(tc.block, out.data());
      for (std::size_t i = n; i < out.size(); ++i) ASSERT_EQ(out[i], GUARD) << "written past the block's size at " << i;
      const bool shrinks = std::string(codec.name) == "run-length" ? tc.rle_shrinks
                           : std::string(codec.name) == "lz greedy" ? tc.lzf_shrinks
                                                                    : tc.lz10_shrinks;
      if (!shrinks && size == 0) continue;  // sent raw
      if (!shrinks) {
        // Not expected to pay off, but a smaller stream must still be exact.
        ASSERT_LT(size, n);
      } else {
        ASSERT_GT(size, 0u);
        ASSERT_LT(size, n);
      }
      Bytes back(n, 0xEE);
      ASSERT_EQ(codec.decode(out.data(), size, back.data(), n), 0);
      EXPECT_EQ(back, tc.block);
    }
}

TEST(BlockCodec, SavesWhatItShouldOnContentWithKnownRepeats) {
  // A block of 64 KiB that repeats a 1 KiB random unit: the greedy LZ pays
  // the unit once and then matches to the end; the BIOS form pays about
  // 2 bytes and a flag bit per 18 (more where its table, which keeps only
  // match starts, has lost the unit's place). A codec that stopped finding
  // matches would need more than the whole block.
  struct Case {
    const char* codec;
    std::size_t at_most;
  };
  const Case cases[] = {{"lz greedy", 1024 + 1200}, {"lz bios form", 65536 / 6}};
  const Bytes block = repeat_of(65536, 1024, 8);
  for (const CodecUnderTest& codec : codecs())
    for (const Case& tc : cases) {
      if (std::string(codec.name) != tc.codec) continue;
      SCOPED_TRACE(tc.codec);
      Bytes out(block.size());
      const std::size_t size = codec.encode(block, out.data());
      EXPECT_GT(size, 0u);
      EXPECT_LE(size, tc.at_most);
    }
}

TEST(BlockCodec, ADamagedStreamIsRefused) {
  struct Case {
    const char* codec;
    const char* what;
    Bytes stream;
    std::size_t n;
  };
  const Case cases[] = {
      {"run-length", "literals cut short", {0x03, 1, 2}, 4},
      {"run-length", "a run without its byte", {0x85}, 8},
      {"run-length", "more than the block", {0x80, 9}, 2},
      {"run-length", "less than the block", {0x80, 9}, 4},
      {"lz greedy", "a match before the first byte", {0x10, 'a', 0x02, 0x00, 0x00}, 8},
      {"lz greedy", "offset 0", {0x10, 'a', 0x00, 0x00, 0x00}, 5},
      {"lz greedy", "no closing literals", {0x10, 'a', 0x01, 0x00}, 5},
      {"lz greedy", "a length byte missing", {0xF0, 'a'}, 16},
      {"lz greedy", "a match past the block", {0x1F, 'a', 0x01, 0x00, 0x00, 0x00}, 8},
      {"lz bios form", "wrong tag", {0x11, 0x04, 0x00, 0x00, 0x00, 1, 2, 3, 4}, 4},
      {"lz bios form", "wrong size", {0x10, 0x05, 0x00, 0x00, 0x00, 1, 2, 3, 4}, 4},
      {"lz bios form", "distance before the start", {0x10, 0x04, 0x00, 0x00, 0x40, 'a', 0x00, 0x01}, 4},
      {"lz bios form", "cut short", {0x10, 0x04, 0x00, 0x00, 0x00, 'a', 'b'}, 4},
  };
  for (const CodecUnderTest& codec : codecs())
    for (const Case& tc : cases) {
      if (std::string(codec.name) != tc.codec) continue;
      SCOPED_TRACE(std::string(tc.codec) + ": " + tc.what);
      Bytes out(tc.n + GUARD_BYTES, GUARD);
      EXPECT_EQ(codec.decode(tc.stream.data(), tc.stream.size(), out.data(), tc.n), -1);
      for (std::size_t i = tc.n; i < out.size(); ++i) ASSERT_EQ(out[i], GUARD) << "decoded past the block at " << i;
    }
}

TEST(CharacterTiles, PixelsLandInTheConsolesTileOrder) {
  // 16x8 pixels: two tiles side by side; pixel (x, y) holds x + 16 * y, so
  // each byte tells where it came from.
  Bytes pixels(16 * 8);
  for (unsigned y = 0; y < 8; ++y)
    for (unsigned x = 0; x < 16; ++x) pixels[y * 16 + x] = static_cast<std::uint8_t>(x + 16 * y);
  struct Case {
    unsigned bpp, width, height;
    bool ok;
    std::size_t size;
    std::vector<std::pair<std::size_t, std::uint8_t>> bytes;  // offset, value
  };
  const Case cases[] = {
      // Tile 0 row 0 is x 0-7, row 1 x 0-7 of y 1; tile 1 starts at 64.
      {8, 16, 8, true, 128, {{0, 0x00}, {7, 0x07}, {8, 0x10}, {63, 0x77}, {64, 0x08}, {127, 0x7F}}},
      // Two pixels a byte, the left one in the low nibble; 4 bytes a row.
      {4, 16, 8, true, 64, {{0, 0x10}, {1, 0x32}, {3, 0x76}, {4, 0x10}, {32, 0x98}, {63, 0xFE}}},
      {4, 12, 8, false, 0, {}},
      {6, 16, 8, false, 0, {}},
      {8, 16, 16, false, 0, {}},  // more pixels asked for than came
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(std::to_string(tc.bpp) + " bpp " + std::to_string(tc.width) + "x" + std::to_string(tc.height));
    Bytes tiles;
    ASSERT_EQ(to_tiles(pixels, tc.width, tc.height, tc.bpp, tiles), tc.ok);
    if (!tc.ok) continue;
    ASSERT_EQ(tiles.size(), tc.size);
    for (auto [at, value] : tc.bytes) EXPECT_EQ(tiles[at], value) << "at " << at;
  }
}

}  // namespace
}  // namespace kartex
