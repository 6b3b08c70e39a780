// The 1 MiB save area inside a 32 MiB flash ROM, through the wait state 2
// mirror at 0x0DF00000: its identifier, erase units (64 KiB blocks for
// sectors 0-119, single 8 KiB sectors above), word program, status at the
// top, and block locks that refuse erase and program until unlocked.

#include <gtest/gtest.h>

#include "sim/cart/flash_commands.h"
#include "sim/save/save_commands.h"
#include "sim/save/save_rom.h"
#include "tests/sim_save_support.h"

namespace kartex {
namespace {

using namespace savetest;
using namespace flash;

constexpr std::uint32_t AREA = 0x0DF00000;
constexpr std::uint32_t STATUS = 0x0DFFFFFE;
constexpr std::uint32_t SECTOR = 0x2000;

std::vector<std::uint8_t> pattern() {
  std::vector<std::uint8_t> image(save::ROM_SAVE_BYTES);
  for (std::uint32_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i ^ (i >> 13));
  return image;
}

struct RomSaveBench : Bench {
  explicit RomSaveBench(const std::vector<std::uint8_t>& image = {})
      : Bench(std::make_unique<RomSaveArea>(sim.log(), image), "3/8802", 32) {}

  RomSaveArea& area() { return dynamic_cast<RomSaveArea&>(cart->save_chip()); }
  std::uint16_t rd16(std::uint32_t at) { return static_cast<std::uint16_t>(bus().read(at, 2)); }
  void wr16(std::uint32_t at, std::uint16_t v) { bus().write(at, 2, v); }

  // Two command writes, then status reads until ready; returns the status
  // and how many reads showed busy.
  std::pair<std::uint16_t, unsigned> step(std::uint32_t at, std::uint16_t a, std::uint16_t b) {
    wr16(at, a);
    wr16(at, b);
    unsigned busy = 0;
    std::uint16_t s;
    // The clock moves a millisecond a poll: erases take a fraction of a second.
    while (!((s = rd16(STATUS)) & SR_READY) && busy < 1000) {
      ++busy;
      sim.log().clock().advance(simtime::milliseconds(1));
    }
    wr16(STATUS, CMD_CLEAR_STATUS);
    wr16(STATUS, CMD_READ_ARRAY);
    return {s, busy};
  }
};

TEST(SimSaveRom, AnswersItsOwnIdentifierThroughTheMirror) {
  RomSaveBench b;
  b.wr16(AREA, CMD_READ_ID);
  EXPECT_EQ(b.rd16(AREA), save::ROM_SAVE_MAKER);
  EXPECT_EQ(b.rd16(AREA + 2), save::ROM_SAVE_DEVICE);
  EXPECT_EQ(b.rd16(0x09F00002), save::ROM_SAVE_DEVICE) << "the same chip in the wait state 0 window";
  EXPECT_EQ(b.rd16(0x08000000), 0xFFFF) << "the ROM's own chips saw no command";
  b.wr16(AREA, CMD_READ_ARRAY);
  EXPECT_EQ(b.rd16(AREA), 0xFFFF);
  b.expect_no_misuse();
}

TEST(SimSaveRom, EraseUnitsAreBlocksOfEightSectorsThenSingleSectors) {
  struct Case {
    std::uint32_t sector;              // erase command at its base
    std::uint32_t first, count;        // sectors erased
  };
  const Case cases[] = {{0, 0, 8}, {13, 8, 8}, {119, 112, 8}, {120, 120, 1}, {126, 126, 1}, {127, 127, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE("sector " + std::to_string(c.sector));
    const std::vector<std::uint8_t> before = pattern();
    RomSaveBench b(before);
    b.step(AREA + c.sector * SECTOR, CMD_LOCK_SETUP, CMD_CONFIRM);  // locked at power-up
    const auto [status, busy] = b.step(AREA + c.sector * SECTOR, CMD_BLOCK_ERASE, CMD_CONFIRM);
    EXPECT_EQ(status, SR_READY);
    EXPECT_GT(busy, 0u) << "an erase takes time";
    std::vector<std::uint8_t> want = before;
    std::fill_n(want.begin() + c.first * SECTOR, c.count * SECTOR, 0xFF);
    EXPECT_EQ(b.area().contents(), want);
    b.expect_no_misuse();
  }
}

TEST(SimSaveRom, WordProgramOnlyClearsBits) {
  RomSaveBench b(pattern());
  const std::uint32_t at = AREA + 0x7E * SECTOR + 0x10;
  const std::uint16_t old = b.rd16(at);
  b.step(at, CMD_LOCK_SETUP, CMD_CONFIRM);  // locked at power-up
  b.step(at, CMD_WORD_PROGRAM, 0x0FF0);
  EXPECT_EQ(b.rd16(at), old & 0x0FF0);
  EXPECT_EQ(b.rd16(at + 2), pattern()[0x7E * SECTOR + 0x12] | pattern()[0x7E * SECTOR + 0x13] << 8);
  b.expect_no_misuse();
}

TEST(SimSaveRom, LockedBlocksRefuseEraseAndProgramUntilUnlocked) {
  const std::vector<std::uint8_t> before = pattern();
  RomSaveBench b(before);
  b.step(AREA + 24 * SECTOR, CMD_LOCK_SETUP, CMD_CONFIRM);  // every block starts locked: open 24-31
  b.step(AREA + 16 * SECTOR, CMD_LOCK_SETUP, CMD_LOCK_BLOCK);  // the block of sectors 16-23
  struct Try {
    std::uint32_t sector;
    std::uint16_t cmd, data;
    std::uint16_t error;  // 0: allowed
  };
  const Try tries[] = {{16, CMD_BLOCK_ERASE, CMD_CONFIRM, SR_ERASE_ERROR | SR_BLOCK_LOCKED},
                       {23, CMD_WORD_PROGRAM, 0x0000, SR_PROGRAM_ERROR | SR_BLOCK_LOCKED},
                       {24, CMD_WORD_PROGRAM, 0x0000, 0}};
  for (const Try& t : tries) {
    SCOPED_TRACE("sector " + std::to_string(t.sector));
    const auto [status, busy] = b.step(AREA + t.sector * SECTOR, t.cmd, t.data);
    EXPECT_EQ(status, SR_READY | t.error);
    EXPECT_EQ(b.new_misuses().size(), t.error ? 1u : 0u);
  }
  std::vector<std::uint8_t> after = b.area().contents();
  EXPECT_TRUE(std::equal(after.begin() + 16 * SECTOR, after.begin() + 24 * SECTOR, before.begin() + 16 * SECTOR));
  EXPECT_EQ(after[24 * SECTOR], 0);
  b.step(STATUS, CMD_LOCK_SETUP, CMD_CONFIRM);  // unlocks only the top block
  b.step(AREA + 16 * SECTOR, CMD_BLOCK_ERASE, CMD_CONFIRM);
  EXPECT_EQ(b.new_misuses().size(), 1u) << "still locked";
  b.step(AREA + 20 * SECTOR, CMD_LOCK_SETUP, CMD_CONFIRM);
  b.step(AREA + 16 * SECTOR, CMD_BLOCK_ERASE, CMD_CONFIRM);
  after = b.area().contents();
  EXPECT_TRUE(std::all_of(after.begin() + 16 * SECTOR, after.begin() + 24 * SECTOR, [](std::uint8_t v) { return v == 0xFF; }));
  EXPECT_TRUE(b.new_misuses().empty());
}

}  // namespace
}  // namespace kartex
