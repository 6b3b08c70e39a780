// The save memory commands on the wire: the request of each save type,
// whole blocks, acknowledgements, clipping and the boundary rules.

#include <gtest/gtest.h>

#include "tests/support/body_fixture.h"

namespace kartex::test {
namespace {

CartInfo save_cart(std::int32_t save_type, std::uint32_t variant = 1) {
  CartInfo cart = cart_of(1, 0x400000, 0, variant);
  cart.save_type = save_type;
  derive_save_geometry(cart);
  return cart;
}

TEST(SaveRead, EachTypeReadsWholeBlocksWithItsRequest) {
  struct Case {
    const char* name;
    std::int32_t save_type;
    std::uint32_t variant;
    Range range;
    std::uint32_t code, first_address, block;
    int blocks;
    const char* line;
  };
  const Case cases[] = {
      {"EEP4K whole", 4, 1, {}, 0xFFFF000E, 0, 0x200, 1, "0x200 bytes reading.\n"},
      {"EEP64K whole", 5, 1, {}, 0xFFFF000E, 0, 0x2000, 1, "0x2000 bytes reading.\n"},
      {"SRAM256K length 100 reads a whole block", 1, 1, {0, 100}, 0xFFFF000D, 0, 0x1000, 1,
       "0x64 bytes reading.\n"},
      {"FLASH1M range", 6, 1, {0x3000, 0x2000}, 0xFFFF000D, 0x3000, 0x1000, 2,
       "0x2000 bytes reading.\n"},
      {"FLASH8M through the console's address space", 7, 1, {}, 0xFFFF0006, 0x09F00000, 0x2000,
       127, "0xFE000 bytes reading.\n"},
      {"SRAM8M on variant 2", 2, 2, {0x80000, 0x2000}, 0xFFFF000D, 0x80000, 0x1000, 2,
       "0x2000 bytes reading.\n"},
      {"SRAM256K off a block boundary is read as asked", 1, 1, {0x10, 0x1000}, 0xFFFF000D, 0x10,
       0x1000, 1, "0x1000 bytes reading.\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    Bytes expected;
    for (int i = 0; i < tc.blocks; ++i) {
      Bytes data = pattern(tc.block, static_cast<std::uint8_t>(i * 13));
      b.c.request(tc.code, tc.first_address + i * tc.block, tc.block, 0).read(data);
      expected.insert(expected.end(), data.begin(), data.end());
    }
    b.run([&] { save_read(b.s.link, save_cart(tc.save_type, tc.variant), tc.range, b.sink, b.con); });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.sink.data, expected);
    EXPECT_EQ(b.out.str(), tc.line + std::string(static_cast<std::size_t>(tc.blocks), 'R'));
  }
}

TEST(SaveRead, BankedSramOffABlockBoundaryIsRefused) {
  for (std::uint32_t variant : {0u, 2u}) {
    Body b;
    b.run([&] { save_read(b.s.link, save_cart(2, variant), {0xF800, 0x1000}, b.sink, b.con); });
    EXPECT_EQ(b.failure, "SAVE read size and offset must be 0x1000 boundary.\n");
    EXPECT_TRUE(b.c.done());
    EXPECT_EQ(b.out.str(), "");
  }
}

TEST(SaveWrite, EachTypeWritesAcknowledgedBlocks) {
  struct Case {
    const char* name;
    std::int32_t save_type;
    std::size_t file_size;
    Range range;
    std::uint32_t code, first_offset, block;
    int blocks;
    const char* lines;
  };
  const Case cases[] = {
      {"EEP4K: 600-byte file clipped to the device", 4, 600, {}, 0xFFFF000F, 0, 0x200, 1,
       "Write size is longer than device.\n0x200 bytes writeing.\n"},
      {"SRAM256K from 0x1000 clipped to the device's end", 1, 0x8000, {0x1000, 0x8000},
       0xFFFF0010, 0x1000, 0x1000, 7, "Write size is longer than device.\n0x7000 bytes writeing.\n"},
      {"FLASH8M: plain save offsets, 127 blocks", 7, 0x100000, {}, 0xFFFF0011, 0, 0x2000, 127,
       "Write size is longer than device.\n0xFE000 bytes writeing.\n"},
      {"FLASH512K range", 3, 0x10000, {0x2000, 0x2000}, 0xFFFF0011, 0x2000, 0x1000, 2,
       "0x2000 bytes writeing.\n"},
      {"SRAM2M whole", 2, 0x40000, {}, 0xFFFF0010, 0, 0x1000, 64, "0x40000 bytes writeing.\n"},
      {"no save memory: nothing sent", 0, 0x1000, {}, 0, 0, 0x1000, 0,
       "Write size is longer than device.\n0x0 bytes writeing.\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    const Bytes file = pattern(tc.file_size, 21);
    const std::size_t file_start = 0;
    for (int i = 0; i < tc.blocks; ++i) {
      const std::size_t at = file_start + static_cast<std::size_t>(i) * tc.block;
      b.c.request(tc.code, tc.first_offset + i * tc.block, tc.block, 0);
      b.c.write(Bytes(file.begin() + at, file.begin() + at + tc.block));
      b.c.read(le32(0x12345678));
    }
    b.run([&] { save_write(b.s.link, save_cart(tc.save_type), tc.range, file, b.con); });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.out.str(), tc.lines + std::string(static_cast<std::size_t>(tc.blocks), 'W'));
  }
}

TEST(SaveWrite, RefusalsSendNothing) {
  struct Case {
    const char* name;
    std::int32_t save_type;
    std::size_t file_size;
    Range range;
    const char* out;
    const char* failure;
  };
  const Case cases[] = {
      {"300-byte file on EEP4K", 4, 300, {}, "",
       "SAVE read size and offset must be 0x200 boundary.\n"},
      {"offset off the block", 1, 0x8000, {0x800, 0x1000}, "",
       "SAVE read size and offset must be 0x1000 boundary.\n"},
      {"explicit length beyond a short file", 1, 0x1800, {0, 0x2000},
       "Write size is larger than file size.\n",
       "SAVE read size and offset must be 0x1000 boundary.\n"},
      {"start beyond the save memory", 1, 0x1000, {0x9000, 0x1000}, "",
       "start offset 0x9000 lies beyond the end of the 0x8000-byte save memory"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    b.run([&] { save_write(b.s.link, save_cart(tc.save_type), tc.range, pattern(tc.file_size), b.con); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_EQ(b.out.str(), tc.out);
    EXPECT_TRUE(b.c.done());
  }
}

}  // namespace
}  // namespace kartex::test

namespace kartex::test {
namespace {

TEST(EepromOrder, EmulatorOrderReversesEachEightByteBlockBothWays) {
  // The wire carries the tool's order; the file holds the emulators' order.
  for (std::int32_t type : {4, 5}) {
    SCOPED_TRACE(type);
    CartInfo cart = cart_of(1, 0x400000, 0);
    cart.save_type = type;
    derive_save_geometry(cart);
    const auto block = static_cast<std::size_t>(cart.save_block);
    const Bytes wire = pattern(block, 0x31);
    Bytes file = wire;
    for (std::size_t at = 0; at < block; at += 8)
      std::reverse(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + 8));
    ASSERT_NE(file, wire);

    Body reading;
    reading.c.request(0xFFFF000E, 0, static_cast<std::uint32_t>(block), 0).read(wire);
    reading.run([&] { save_read(reading.s.link, cart, {}, reading.sink, reading.con, EepromOrder::Emulator); });
    EXPECT_EQ(reading.failure, "");
    EXPECT_EQ(reading.sink.data, file);

    Body writing;
    writing.c.request(0xFFFF000F, 0, static_cast<std::uint32_t>(block), 0).write(wire).read(le32(0x12345678));
    writing.run([&] { save_write(writing.s.link, cart, {}, file, writing.con, EepromOrder::Emulator); });
    EXPECT_EQ(writing.failure, "");
    EXPECT_TRUE(writing.c.done());
  }
  // Other save types keep their bytes as they are.
  CartInfo sram = cart_of(1, 0x400000, 0);
  sram.save_type = 1;
  derive_save_geometry(sram);
  Bytes data = pattern(16);
  convert_eeprom_order(sram, EepromOrder::Emulator, data);
  EXPECT_EQ(data, pattern(16));
}

}  // namespace
}  // namespace kartex::test
