// The flash ROM commands on the wire: pieces, headers, clipping, the append
// start rule and erase.

#include <gtest/gtest.h>

#include "tests/support/body_fixture.h"

namespace kartex::test {
namespace {

TEST(FlashRead, RangeArrivesIn4KiBPiecesWithTheLongHeader) {
  struct Case {
    Range range;
    std::int32_t rom_size;
    std::uint32_t address, length;
    std::vector<std::size_t> pieces;  // bytes fetched per header (whole words)
    const char* first_line;
  };
  const Case cases[] = {
      {{}, 0x3000, 0x08000000, 0x3000, {4096, 4096, 4096}, "0x3000 bytes reading.\n"},
      {{0x20000, 0x2001}, 0x400000, 0x08020000, 0x2001, {4096, 4096, 4},
       "0x2001 bytes reading.\n"},
      {{0, 5}, 0x400000, 0x08000000, 5, {8}, "0x5 bytes reading.\n"},
      // Length 0 still makes one empty pass, as the agent expects.
      {{0x100, 0}, 0x400000, 0x08000100, 0, {0}, "0x0 bytes reading.\n"},
      // An odd start is read from the even byte before it, which is dropped.
      {{0x1001, 0x1000}, 0x400000, 0x08001000, 0x1001, {4096, 4}, "0x1000 bytes reading.\n"},
      // Nothing is clipped: a range past the ROM's end is read as asked.
      {{0x1000, 0x2000}, 0x2000, 0x08001000, 0x2000, {4096, 4096}, "0x2000 bytes reading.\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.first_line);
    Body b;
    b.c.request(0xFFFF0012, tc.address, tc.length, 0);
    Bytes expected;
    std::uint8_t seed = 0;
    for (std::size_t piece : tc.pieces) {
      Bytes data = pattern(piece, seed += 11);
      b.c.read_long(data);
      expected.insert(expected.end(), data.begin(), data.end());
    }
    const std::size_t lead = tc.range.start_offset == NOT_GIVEN ? 0 : tc.range.start_offset & 1;
    expected.resize(tc.length);
    expected.erase(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(lead));
    b.run([&] { flash_read(b.s.link, cart_of(1, tc.rom_size, 0), tc.range, b.sink, b.con); });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.sink.data, expected);
    EXPECT_EQ(b.out.str(), tc.first_line + std::string(tc.pieces.size(), 'R'));
  }
}

TEST(FlashRead, OneRequestPerRomPageTheRangeTouches) {
  Body b;
  const Bytes low = pattern(0x1000, 1), high = pattern(0x800, 2);
  b.c.request(0xFFFF0012, 0x09FFF000, 0x1000, 0).read_long(low);
  b.c.request(0xFFFF0012, 0x0A000000, 0x800, 0).read_long(high);
  b.run([&] { flash_read(b.s.link, cart_of(3, 0x4000000, 0x40000), {0x1FFF000, 0x1800}, b.sink, b.con); });
  EXPECT_EQ(b.failure, "");
  EXPECT_TRUE(b.c.done());
  EXPECT_EQ(b.sink.data, concat({low, high}));
  EXPECT_EQ(b.out.str(), "0x1800 bytes reading.\nRR");
}

TEST(FlashWrite, ClipsToRomFromTheOffsetAndToTheFile) {
  struct Case {
    const char* name;
    Range range;
    std::size_t file_size;
    std::int32_t rom_size;
    std::uint32_t sent;  // bytes announced and streamed
    const char* messages;
  };
  const Case cases[] = {
      {"whole file", {}, 0x5000, 0x200000, 0x5000, "0x5000 bytes writeing.\n"},
      {"file larger than the ROM", {}, 0x30000, 0x20000, 0x20000,
       "Write size(0x30000) is too big.\n0x20000 bytes writeing.\n"},
      {"offset counts against the ROM's end", {0x10000, 0x20000}, 0x20000, 0x20000, 0x10000,
       "Write size(0x20000) is too big.\n0x10000 bytes writeing.\n"},
      {"length beyond the file", {0x4000, 0x9000}, 0x6001, 0x200000, 0x6001,
       "Write size is larger than file size.\n0x6001 bytes writeing.\n"},
      {"lone piece of 3 bytes", {0x20000, 3}, 0x100, 0x200000, 3, "0x3 bytes writeing.\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    const Bytes file = pattern(tc.file_size, 5);
    const std::uint32_t start = tc.range.start_offset == NOT_GIVEN ? 0 : tc.range.start_offset;
    b.c.request(0xFFFF0005, start, tc.sent, 0);
    std::size_t pieces = 0;
    for (std::uint32_t pos = 0; pos < tc.sent; pos += 16384, ++pieces) {
      Bytes piece(file.begin() + pos, file.begin() + std::min<std::size_t>(pos + 16384, tc.sent));
      piece.resize((piece.size() + 3) / 4 * 4, 0xFF);  // padding programs nothing
      b.c.write(piece);
    }
    b.run([&] { flash_write(b.s.link, cart_of(2, tc.rom_size, 0x20000), tc.range, file, b.con); });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.out.str(), tc.messages + std::string(pieces, 'W'));
  }
}

TEST(FlashWrite, BadStartsAreRefusedBeforeAnyRequest) {
  struct Case {
    std::int32_t kind, start;
    const char* failure;
  };
  const Case cases[] = {
      {2, 0x200000, "start offset 0x200000 lies beyond the end of the 0x100000-byte ROM"},
      {2, 0x1001, "start offset 0x1001 is odd; flash ROM is written from an even offset"},
      {3, 0x1020, "start offset 0x1020 is not a multiple of 0x40, the programming unit of this flash ROM"},
      {9, 0x1100, "start offset 0x1100 is not a multiple of 0x200, the programming unit of this flash ROM"},
  };
  for (const Case& tc : cases) {
    Body b;
    b.run([&] { flash_write(b.s.link, cart_of(tc.kind, 0x100000, 0x20000), {tc.start, 16}, pattern(16), b.con); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done());
    EXPECT_EQ(b.out.str(), "");
  }
}

TEST(FlashAppend, StartFollowsFreeSpaceAndTheBankRule) {
  struct Case {
    const char* name;
    std::uint32_t variant;
    std::int32_t rom_size;
    std::uint32_t free_reply;
    std::size_t file_size;
    Range range;
    std::uint32_t start, sent;
    const char* messages;
  };
  const Case cases[] = {
      {"variant 0 rounds up to the next bank plus its header", 0, 0x2000000, 0x1E80000, 0x100, {},
       0x408000, 0x100, "Start=0x408000  0x100 bytes writeing.\n"},
      {"variant 0 at a bank boundary", 0, 0x2000000, 0x1800000, 0x100, {}, 0x808000, 0x100,
       "Start=0x808000  0x100 bytes writeing.\n"},
      {"variant 0 already behind a header", 0, 0x2000000, 0x17F8000, 0x100, {}, 0x808000, 0x100,
       "Start=0x808000  0x100 bytes writeing.\n"},
      {"free space rounded down to 32 KiB", 1, 0x2000000, 0x1E87FFF, 0x40, {}, 0x180000, 0x40,
       "Start=0x180000  0x40 bytes writeing.\n"},
      {"empty flash starts at 0 even on variant 0", 0, 0x1000000, 0x1000000, 0x40, {}, 0, 0x40,
       "Start=0x0  0x40 bytes writeing.\n"},
      {"variant 2 has no bank rule", 2, 0x1000000, 0xE80000, 0x40, {}, 0x180000, 0x40,
       "Start=0x180000  0x40 bytes writeing.\n"},
      {"explicit length beyond the file is clipped to it", 1, 0x1000000, 0x800000, 0x40,
       {0, 0x1000}, 0x800000, 0x40,
       "Write size is larger than file size.\nStart=0x800000  0x40 bytes writeing.\n"},
      {"file larger than the room left", 1, 0x1000000, 0x8000, 0x10000, {}, 0xFF8000, 0x8000,
       "Write size(0x10000) is too big.\nStart=0xFF8000  0x8000 bytes writeing.\n"},
      {"bank rule leaves no room: nothing is sent", 0, 0x1000000, 0x10000, 0x40, {}, 0x1008000,
       0, "Write size(0x40) is too big.\nStart=0x1008000  0xFFFF8000 bytes writeing.\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    const Bytes file = pattern(tc.file_size, 9);
    b.c.query(0xFFFF0020, {tc.free_reply});
    std::size_t pieces = 0;
    if (tc.sent > 0) {
      b.c.request(0xFFFF0005, tc.start, tc.sent, 0);
      for (std::uint32_t pos = 0; pos < tc.sent; pos += 16384, ++pieces)
        b.c.write(Bytes(file.begin() + pos, file.begin() + std::min<std::size_t>(pos + 16384, tc.sent)));
    }
    b.run([&] {
      flash_append(b.s.link, cart_of(2, tc.rom_size, 0x20000, tc.variant), tc.range, file, b.con);
    });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.out.str(), tc.messages + std::string(pieces, 'W'));
  }
}

TEST(FlashAppend, FreeReplyLargerThanTheRomIsRefused) {
  Body b;
  b.c.query(0xFFFF0020, {0x2000000});
  b.run([&] { flash_append(b.s.link, cart_of(2, 0x1000000, 0x20000), {}, pattern(4), b.con); });
  EXPECT_EQ(b.failure, "the cartridge reports 0x2000000 free bytes in a ROM of 0x1000000 bytes");
  EXPECT_TRUE(b.c.done());
}

TEST(FlashErase, OneAcknowledgedRequestPerBlock) {
  Body b;
  for (std::uint32_t a = 0; a < 0x400000; a += 0x20000) b.c.request(0xFFFF0003, a).read(le32(0x12345678));
  b.run([&] { flash_erase(b.s.link, cart_of(2, 0x400000, 0x20000), b.con); });
  EXPECT_EQ(b.failure, "");
  EXPECT_TRUE(b.c.done());
  EXPECT_EQ(b.out.str(), "Erase START.\n" + std::string(32, 'E') + "\nErase END.\n");
}

TEST(FlashErase, NoEraseBlockIsRefusedWithoutARequest) {
  struct Case {
    std::int32_t rom_kind, erase_block;
    const char* failure;
  };
  const Case cases[] = {
      {1, 0, "this cartridge cannot be erased: its ROM (mask ROM) reports no erase block"},
      {0, 0, "this cartridge cannot be erased: its ROM (none found) reports no erase block"},
      {2, -0x20000, "this cartridge cannot be erased: its ROM (flash ROM) reports no erase block"},
  };
  for (const Case& tc : cases) {
    Body b;
    b.run([&] { flash_erase(b.s.link, cart_of(tc.rom_kind, 0x400000, tc.erase_block), b.con); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done());
    EXPECT_EQ(b.out.str(), "");
  }
}

}  // namespace
}  // namespace kartex::test
