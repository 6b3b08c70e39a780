// CRC-32 and SHA-1 of dumps and written ranges: the values the dump report
// prints and the host compares with the console's CRC replies.

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <zlib.h>

#include "common/digest.h"

namespace kartex::test {
namespace {

std::span<const std::uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// The reflected CRC-32 (polynomial 0xEDB88320) one bit at a time, as a
// reference that shares nothing with the library.
std::uint32_t bitwise_crc32(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
  }
  return ~crc;
}

// Bytes that are not a repeating pattern of any short period.
std::vector<std::uint8_t> noise(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> v(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return v;
}

TEST(Crc32, KnownVectors) {
  const std::pair<std::string, std::uint32_t> cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const auto& [text, crc] : cases) {
    EXPECT_EQ(crc32_of(bytes_of(text)), crc) << '"' << text << '"';
    Crc32 inc;
    inc.update(bytes_of(text));
    EXPECT_EQ(inc.value(), crc) << '"' << text << '"';
  }
}

TEST(Crc32, MatchesABitwiseCrcOnEveryLength) {
  for (std::size_t n : {1u, 2u, 3u, 7u, 8u, 15u, 16u, 31u, 255u, 4096u, 65537u}) {
    const auto data = noise(n, static_cast<std::uint32_t>(n));
    EXPECT_EQ(crc32_of(data), bitwise_crc32(data)) << n << " bytes";
  }
}

TEST(Crc32, PiecesGiveTheCrcOfTheWhole) {
  const auto data = noise(100003, 7);
  const std::uint32_t whole = crc32_of(data);
  const std::vector<std::vector<std::size_t>> splits = {
      {0},                  // an empty first piece
      {1},
      {3, 5, 7},
      {4095, 4097, 65535},
      {99999, 100002, 100003},  // an empty last piece
  };
  for (const auto& cuts : splits) {
    Crc32 inc;
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
      inc.update(std::span(data).subspan(at, cut - at));
      at = cut;
    }
    inc.update(std::span(data).subspan(at));
    EXPECT_EQ(inc.value(), whole) << "first cut at " << cuts.front();
  }
  EXPECT_EQ(Crc32().value(), 0u);
}

TEST(Crc32, BlankRunsMatchHashedErasedBytes) {
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{4095},
                        std::size_t{4096}, std::size_t{65536}, std::size_t{0x20000 - 1},
                        std::size_t{3 * 1024 * 1024 + 7}}) {
    const std::vector<std::uint8_t> erased(n, 0xFF);
    EXPECT_EQ(crc32_blank(n), crc32_of(erased)) << n << " bytes";
  }
  EXPECT_EQ(crc32_blank(1), bitwise_crc32(std::vector<std::uint8_t>{0xFF}));
}

// The largest cartridge, 128 MiB, against hashing its bytes piece by piece.
TEST(Crc32, BlankRunOfAWholeCartridge) {
  constexpr std::size_t SIZE = std::size_t{128} << 20;
  const std::vector<std::uint8_t> piece(1 << 20, 0xFF);
  Crc32 inc;
  for (std::size_t at = 0; at < SIZE; at += piece.size()) inc.update(piece);
  EXPECT_EQ(crc32_blank(SIZE), inc.value());
}

// Past the 1 GiB runs the blank CRC is built from (hashing that much would
// take seconds): any split of a run, joined by zlib, gives the same CRC.
TEST(Crc32, BlankRunsSplitAnywhere) {
  const std::pair<std::size_t, std::size_t> splits[] = {
      {std::size_t{1} << 30, 4097},
      {(std::size_t{3} << 29) + 5, (std::size_t{1} << 29) + 12345},
      {(std::size_t{1} << 30) - 1, (std::size_t{1} << 30) + 1},
      {std::size_t{5} << 30, 3},
      {7, (std::size_t{1} << 30) - 7},
  };
  for (const auto& [a, b] : splits) {
    const auto joined = ::crc32_combine(crc32_blank(a), crc32_blank(b), static_cast<z_off_t>(b));
    EXPECT_EQ(crc32_blank(a + b), joined) << a << " + " << b;
  }
}

TEST(Sha1, KnownVectors) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
  };
  for (const auto& [text, digest] : cases) {
    Sha1 sha;
    sha.update(bytes_of(text));
    EXPECT_EQ(sha.hex(), digest) << '"' << text << '"';
  }
}

TEST(Sha1, PiecesGiveTheDigestOfTheWhole) {
  // A million 'a' in pieces that never line up with the 64-byte block.
  const std::string a(1000000, 'a');
  Sha1 sha;
  std::size_t at = 0;
  for (std::size_t step = 1; at < a.size(); step = step * 3 + 1) {
    const std::size_t n = std::min(step % 1000 + 1, a.size() - at);
    sha.update(bytes_of(a).subspan(at, n));
    at += n;
  }
  EXPECT_EQ(sha.hex(), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Sha1, MovedDigestKeepsItsStateAndTheDigestIsTakenOnce) {
  Sha1 first;
  first.update(bytes_of("ab"));
  Sha1 second(std::move(first));
  second.update(bytes_of("c"));
  Sha1 third;
  third = std::move(second);
  const std::string digest = third.hex();
  EXPECT_EQ(digest, "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(third.hex(), digest);
  EXPECT_THROW(third.update(bytes_of("d")), std::logic_error);
}

}  // namespace
}  // namespace kartex::test
