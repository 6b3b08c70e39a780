// FLASH save chips through the console's save window: identifiers of the
// six parts, sector and chip erase, byte program that only clears bits,
// the bank switch of the 128 KiB parts, the page-program part that
// rewrites whole 128-byte pages without erase, and the busy status.

#include <gtest/gtest.h>

#include "sim/save/save_commands.h"
#include "sim/save/save_flash.h"
#include "tests/sim_save_support.h"

namespace kartex {
namespace {

using namespace savetest;
using namespace save;

struct Part {
  std::uint8_t maker, device;
  std::uint32_t bytes;
};
const Part PARTS[] = {{MAKER_1F, DEV_3D, 64 * KiB}, {MAKER_BF, DEV_D4, 64 * KiB}, {MAKER_C2, DEV_1C, 64 * KiB},
                      {MAKER_32, DEV_1B, 64 * KiB}, {MAKER_C2, DEV_09, 128 * KiB}, {MAKER_62, DEV_13, 128 * KiB}};
const Part SECTOR_64K = PARTS[1], PAGE_64K = PARTS[0], BANKED = PARTS[4];

// Byte i of the image: a pattern that differs from sector to sector and bank to bank.
std::vector<std::uint8_t> pattern(std::uint32_t bytes) {
  std::vector<std::uint8_t> image(bytes);
  for (std::uint32_t i = 0; i < bytes; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 12) * 13 + (i >> 16));
  return image;
}

struct FlashBench : Bench {
  explicit FlashBench(const Part& p, std::vector<std::uint8_t> image = {})
      : Bench(std::make_unique<FlashSaveChip>(*find_flash_save_model(p.maker, p.device), sim.log(), std::move(image))) {}

  FlashSaveChip& chip() { return dynamic_cast<FlashSaveChip&>(cart->save_chip()); }

  void command(std::uint8_t c) {
    wr(FLASH_UNLOCK1_ADDR, FLASH_UNLOCK1);
    wr(FLASH_UNLOCK2_ADDR, FLASH_UNLOCK2);
    wr(FLASH_UNLOCK1_ADDR, c);
  }
  void erase_sector(std::uint32_t at) {
    command(FLASH_ERASE_SETUP);
    wr(FLASH_UNLOCK1_ADDR, FLASH_UNLOCK1);
    wr(FLASH_UNLOCK2_ADDR, FLASH_UNLOCK2);
    wr(at, FLASH_SECTOR_ERASE);
  }
  void bank(std::uint8_t n) {
    command(FLASH_BANK_SWITCH);
    wr(0, n);
  }
  // Reads `at` every 10 us until two reads agree in bit 6; the number of
  // reads taken.
  unsigned toggle_wait(std::uint32_t at) {
    unsigned reads = 2;
    std::uint8_t a = rd(at);
    pass(simtime::microseconds(10));
    std::uint8_t b = rd(at);
    while (((a ^ b) & FLASH_DQ6_TOGGLE) && reads < 400000) {
      pass(simtime::microseconds(10));
      a = b;
      b = rd(at);
      ++reads;
    }
    return reads;
  }
};

TEST(SimSaveFlash, EachPartAnswersItsIdentifierAndLeavesIdModeWithF0) {
  for (const Part& p : PARTS) {
    SCOPED_TRACE(std::to_string(p.maker) + "/" + std::to_string(p.device));
    FlashBench b(p, pattern(p.bytes));
    // Each mode change takes effect after the part's latency, well under 1 ms.
    b.command(FLASH_ID_ENTER);
    b.pass(simtime::milliseconds(1));
    EXPECT_EQ(b.rd(0), p.maker);
    EXPECT_EQ(b.rd(1), p.device);
    b.command(FLASH_RESET);
    b.pass(simtime::milliseconds(1));
    EXPECT_EQ(b.rd(0), pattern(p.bytes)[0]);
    EXPECT_EQ(b.rd(1), pattern(p.bytes)[1]);
    b.command(FLASH_ID_ENTER);
    b.pass(simtime::milliseconds(1));
    b.wr(0x1234, FLASH_RESET);  // the reset byte alone, anywhere, also ends ID mode
    b.pass(simtime::milliseconds(1));
    EXPECT_EQ(b.rd(1), pattern(p.bytes)[1]);
    b.expect_no_misuse();
  }
}

TEST(SimSaveFlash, SectorEraseClearsOnlyItsFourKiBInTheSelectedBank) {
  struct Case {
    Part part;
    std::uint8_t bank;
    std::uint32_t at;  // any address inside the sector
  };
  const Case cases[] = {{SECTOR_64K, 0, 0x3000}, {SECTOR_64K, 0, 0x3ABC}, {PARTS[3], 0, 0xF001},
                        {BANKED, 0, 0x5000},     {BANKED, 1, 0x5000},     {PARTS[5], 1, 0x0FFF}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.part.device) + " bank " + std::to_string(c.bank) + " at " + std::to_string(c.at));
    const std::vector<std::uint8_t> before = pattern(c.part.bytes);
    FlashBench b(c.part, before);
    if (c.part.bytes > FLASH_BANK_BYTES) b.bank(c.bank);
    b.erase_sector(c.at);
    EXPECT_GT(b.toggle_wait(c.at), 2u) << "an erase takes time";
    b.wr(0, FLASH_RESET);
    std::vector<std::uint8_t> want = before;
    const std::uint32_t first = c.bank * FLASH_BANK_BYTES + (c.at & ~(FLASH_SECTOR_BYTES - 1));
    std::fill_n(want.begin() + first, FLASH_SECTOR_BYTES, FLASH_ERASED);
    EXPECT_EQ(b.chip().cells(), want);
    b.expect_no_misuse();
  }
}

TEST(SimSaveFlash, ChipEraseClearsBothBanks) {
  FlashBench b(BANKED, pattern(BANKED.bytes));
  b.command(FLASH_ERASE_SETUP);
  b.command(FLASH_CHIP_ERASE);
  b.toggle_wait(0);
  EXPECT_EQ(b.chip().cells(), std::vector<std::uint8_t>(BANKED.bytes, FLASH_ERASED));
  b.expect_no_misuse();
}

TEST(SimSaveFlash, ByteProgramOnlyClearsBits) {
  struct Case {
    std::uint8_t old, value, result;
    bool misuse;
  };
  const Case cases[] = {{0xFF, 0x5A, 0x5A, false}, {0xF0, 0xF0, 0xF0, false}, {0xF0, 0x0F, 0x00, true},
                        {0x5A, 0xFF, 0x5A, true}};
  for (const Case& c : cases) {
    std::vector<std::uint8_t> image(SECTOR_64K.bytes, FLASH_ERASED);
    image[0x4321] = c.old;
    FlashBench b(SECTOR_64K, image);
    b.command(FLASH_PROGRAM);
    b.wr(0x4321, c.value);
    b.toggle_wait(0x4321);
    EXPECT_EQ(b.rd(0x4321), c.result) << std::hex << int(c.old) << " then " << int(c.value);
    EXPECT_EQ(b.rd(0x4320), FLASH_ERASED);
    EXPECT_EQ(b.new_misuses().size(), c.misuse ? 1u : 0u);
  }
}

TEST(SimSaveFlash, BankSwitchSelectsTheUpper64KiBForReadAndProgram) {
  FlashBench b(BANKED);
  b.bank(1);
  b.command(FLASH_PROGRAM);
  b.wr(0x0010, 0x42);
  b.toggle_wait(0x0010);
  EXPECT_EQ(b.rd(0x0010), 0x42);
  b.bank(0);
  EXPECT_EQ(b.rd(0x0010), FLASH_ERASED);
  EXPECT_EQ(b.chip().cells()[0x10010], 0x42);
  b.expect_no_misuse();

  FlashBench small(SECTOR_64K);
  small.command(FLASH_BANK_SWITCH);
  EXPECT_EQ(small.new_misuses().size(), 1u) << "a 64 KiB part has no bank switch";
}

TEST(SimSaveFlash, PagePartRewritesWholePagesAsGivenWithoutErase) {
  const std::vector<std::uint8_t> before = pattern(PAGE_64K.bytes);
  FlashBench b(PAGE_64K, before);
  std::vector<std::uint8_t> want = before;
  b.command(FLASH_PROGRAM);
  for (std::uint32_t i = 0; i < FLASH_PAGE_BYTES; ++i) {
    const auto v = static_cast<std::uint8_t>(0xFF - i);  // sets bits the old data had clear
    b.wr(0x1180 + i, v);
    want[0x1180 + i] = v;
  }
  b.pass(FLASH_PAGE_LOAD_WINDOW);  // no byte for the load window: the write cycle starts
  EXPECT_GT(b.toggle_wait(0x11FF), 2u);
  EXPECT_EQ(b.chip().cells(), want) << "only the page at 0x1180 changes, to exactly the bytes given";
  b.expect_no_misuse();
}

TEST(SimSaveFlash, PagePartMisuse) {
  struct Case {
    const char* name;
    unsigned loaded;     // bytes loaded from the page start before a read
    bool sector_erase;   // try the sector erase instead
  };
  const Case cases[] = {{"short page: the load window closes after 100 bytes", 100, false},
                        {"no sector erase", 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> before = pattern(PAGE_64K.bytes);
    FlashBench b(PAGE_64K, before);
    std::vector<std::uint8_t> want = before;
    if (c.sector_erase) {
      b.erase_sector(0x2000);
    } else {
      b.command(FLASH_PROGRAM);
      for (std::uint32_t i = 0; i < c.loaded; ++i) b.wr(0x0200 + i, 0x11);
      std::fill_n(want.begin() + 0x200, c.loaded, 0x11);
      std::fill_n(want.begin() + 0x200 + c.loaded, FLASH_PAGE_BYTES - c.loaded, FLASH_ERASED);
    }
    b.pass(FLASH_PAGE_LOAD_WINDOW);
    b.toggle_wait(0x0200);
    EXPECT_EQ(b.chip().cells(), want);
    EXPECT_EQ(b.new_misuses().size(), 1u);
  }
}

TEST(SimSaveFlash, BusyStatusTogglesBit6AndPollsBit7) {
  FlashBench b(SECTOR_64K);
  b.command(FLASH_PROGRAM);
  b.wr(0x0100, 0x3C);  // bit 7 clear: polling shows it set while busy
  const std::uint8_t s1 = b.rd(0x0100), s2 = b.rd(0x0100);
  EXPECT_EQ((s1 ^ s2) & FLASH_DQ6_TOGGLE, FLASH_DQ6_TOGGLE);
  EXPECT_EQ(s1 & FLASH_DQ7_POLL, FLASH_DQ7_POLL);
  b.toggle_wait(0x0100);
  EXPECT_EQ(b.rd(0x0100), 0x3C);

  b.erase_sector(0x0000);
  const std::uint8_t e1 = b.rd(0x0000);
  EXPECT_EQ(e1 & FLASH_DQ7_POLL, 0) << "bit 7 reads 0 while erasing";
  b.wr(0x0005, 0x00);  // ignored while busy
  EXPECT_EQ(b.new_misuses().size(), 1u);
  b.toggle_wait(0);
  EXPECT_EQ(b.rd(0x0100), FLASH_ERASED);
  EXPECT_EQ(b.rd(0x0005), FLASH_ERASED);
}

TEST(SimSaveFlash, BrokenSequenceIsLoggedAndStraysAreIgnored) {
  const std::vector<std::uint8_t> before = pattern(SECTOR_64K.bytes);
  FlashBench b(SECTOR_64K, before);
  for (std::uint32_t i = 0; i < 8; ++i) b.wr(i, static_cast<std::uint8_t>(before[i] + 0x55));  // no command
  EXPECT_TRUE(b.new_misuses().empty());
  b.wr(FLASH_UNLOCK1_ADDR, FLASH_UNLOCK1);
  b.wr(0x2AAB, FLASH_UNLOCK2);  // wrong address
  EXPECT_EQ(b.new_misuses().size(), 1u);
  b.wr(0x0000, 0x00);  // back in read mode: not a program
  EXPECT_EQ(b.chip().cells(), before);
}

}  // namespace
}  // namespace kartex
