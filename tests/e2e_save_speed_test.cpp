// What a save write costs on the simulator's hardware clock and link: the
// same file again is a small part of a full write; a save that differs in
// one block writes that block alone, and a FLASH save sector only as much
// as it must (no erase where the cells it changes read erased, no program
// cycle for a byte that holds its value); the save area in the ROM's flash
// erases each erase block once. Every figure is simulated time and link
// words, never wall time.

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/cart/cartridge.h"
#include "sim/cart/flash_rom.h"
#include "sim/save/save_flash.h"
#include "sim/save/save_rom.h"
#include "tests/support/cart_bench.h"
#include "tests/support/case_spread.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

Cost write_cost(CartBench& b, const Bytes& data, Range range = {}, WriteOptions options = {}) {
  return cost_of(b, [&] { save_write(b.a.link, b.cart, range, data, b.con, EepromOrder::Tool, options); });
}

struct SpeedPart {
  const char* save;
  const char* chip;
  std::uint32_t size;        // the save the tool sees
  std::uint32_t block;       // its save block
  std::uint64_t same_words;  // at most, for the same file again: the compare and nothing else
  unsigned same_percent;     // the same file again, at most, of a full write's time
  std::uint32_t image = 0;   // bytes of the chip's image, when not `size`
  // A full write, with and without verify, at most, in percent of the link
  // time of the save's bytes (0: bound by its chip, not by the link)
  unsigned link_percent = 0, unverified_link_percent = 0;
  // A full write over other data, at most, in percent of the chip's own
  // time for it (0: not bound by it)
  unsigned chip_percent = 0;
};

// The link time of a save's bytes, one way: each 32-bit word takes 16 us
// at the cable's 2 MHz clock, and nothing moves a save faster.
constexpr SimTime WORD = simtime::microseconds(16);
SimTime link_floor(std::uint32_t bytes) { return bytes / 4 * WORD; }

// The ROM save area's own time for a whole write of `data` over other
// data, from the model's typical figures: each erase unit the save's
// 0xFE000 bytes cover erased once (fifteen 64 KiB blocks at the main
// block's time, seven 8 KiB sectors at the parameter block's), then one
// word program for each halfword that is not all ones. No write of it can
// take less; the link's time hides under the erases.
SimTime rom_save_chip_floor(const Bytes& data) {
  const ChipTimes& t = RomSaveArea::model().times;
  SimTime time = 15 * t.main_erase + 7 * t.param_erase;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2)
    if ((data[i] & data[i + 1]) != 0xFF) time += t.word_program;
  return time;
}

// The compare of a memory-mapped save is one CRC word a block; an EEPROM is
// read whole (its bits reach no CRC in the console).
// SRAM: a full write is the link's time and little more. The compare
// reads every byte over the 8-bit bus at the save window's 8 wait states
// (11 cycles a load) and through the CRC (6 more): about 17.5 cycles a byte
// against the link's 67. Only the first two blocks pay it on their own:
// each checked write of a run brings the CRCs of the two blocks after it,
// summed by the agent in the link's time for the run's own words (it
// stores each word as it arrives and reads it back into the check, so the
// tool runs no verify pass). A full write is the link's time, the first
// two blocks' compare, the cycles the agent's work per word takes beyond
// the link's 268, and a USB turn-around a run: about 117% of the link's
// time. The same file again is one compare, as before: under a quarter of
// a full write, and no compare that reads every byte gets under a sixth.
const SpeedPart SPEED_PARTS[] = {
    {"sram32k", "", 0x8000, 0x1000, 64, 23, 0, 118, 118},
    {"sram256k", "3/17", 0x40000, 0x1000, 160, 23, 0, 118, 118},
    {"flash64k:bfd4", "", 0x10000, 0x1000, 64, 10},
    {"flash64k:1f3d", "", 0x10000, 0x1000, 64, 10},
    {"flash128k:c209", "", 0x20000, 0x1000, 80, 10},
    {"eeprom512", "", 0x200, 0x200, 0x200 / 4 + 32, 10},
    {"eeprom8k", "", 0x2000, 0x2000, 0x2000 / 4 + 32, 10},
    // The unit's erase runs while its block arrives: the chip's time, the
    // compare, the copy of each unit kept for a failed check, the verify.
    {"romsave", "3/18", 0xFE000, 0x2000, 200, 10, 0x100000, 0, 0, 127},
};

FlashSaveChip* flash_chip(CartBench& b) {
  return dynamic_cast<FlashSaveChip*>(&dynamic_cast<Cartridge&>(b.a.sim.cart()).save_chip());
}

RomSaveArea* rom_save(CartBench& b) {
  return dynamic_cast<RomSaveArea*>(&dynamic_cast<Cartridge&>(b.a.sim.cart()).save_chip());
}

// The save area's erase units that a whole write of its 0xFE000 bytes
// covers: fifteen blocks of 64 KiB, then seven sectors of 8 KiB.
constexpr std::uint64_t ROM_SAVE_UNITS = 15 + 7;

TEST(SaveSpeed, OnlyWhatDiffersIsWrittenAndTheSameFileCostsATenth) {
  for (const SpeedPart& p : spread_of(SPEED_PARTS)) {
    SCOPED_TRACE(p.save);
    const std::uint32_t blocks = p.size / p.block;
    const std::uint32_t middle = blocks / 2 * p.block;  // the block that changes on its own
    // The chip holds other data everywhere, and erased cells in the middle
    // block: a FLASH save programs that one without an erase.
    Bytes old = noise(p.image ? p.image : p.size, 31);
    if (p.block == 0x1000) std::fill_n(old.begin() + middle, p.block, 0xFF);
    SimOptions o;
    o.save = p.save;
    o.chip = p.chip;
    o.save_image = save_image_file("save_speed", p.save, old);
    CartBench b(o);
    ASSERT_EQ(b.cart.save_size, static_cast<std::int32_t>(p.size));
    // The EEPROM probe streams bits one of the two parts does not take;
    // what the writes do is counted from here.
    const std::uint64_t misuses = b.a.sim.log().misuse_count();

    // The ROM's MiB below the save area (at 0x1F00000, the top of the
    // 32 MiB): its cells, to compare at the end.
    auto* rom = dynamic_cast<FlashRom*>(&dynamic_cast<Cartridge&>(b.a.sim.cart()).rom());
    constexpr std::uint32_t BELOW = 0x1E00000, AREA = 0x1F00000;
    std::vector<std::uint16_t> rom_before;
    if (rom_save(b) && rom)
      for (std::uint32_t at = BELOW; at < AREA; at += 2) rom_before.push_back(rom->cell(at));

    const Bytes data = noise(p.size, 32);
    const Cost full = write_cost(b, data);
    EXPECT_TRUE(b.read_save() == data) << "the full write";
    if (p.link_percent) {
      EXPECT_LE(full.time * 100, link_floor(p.size) * p.link_percent)
          << "the full write took " << simtime::seconds(full.time) << " s, its bytes' link time "
          << simtime::seconds(link_floor(p.size)) << " s";
    }
    if (RomSaveArea* area = rom_save(b)) {
      EXPECT_EQ(area->ops().erases, ROM_SAVE_UNITS) << "each unit erased once";
    }
    if (p.chip_percent) {
      const SimTime floor = rom_save_chip_floor(data);
      EXPECT_LE(full.time * 100, floor * p.chip_percent)
          << "the full write took " << simtime::seconds(full.time) << " s, the chip's own time "
          << simtime::seconds(floor) << " s";
    }
    if (FlashSaveChip* chip = flash_chip(b)) {
      const bool paged = std::string(p.save) == "flash64k:1f3d";
      const auto non_erased = static_cast<std::uint32_t>(
          std::count_if(data.begin() + middle, data.begin() + middle + p.block, [](std::uint8_t v) { return v != 0xFF; }));
      EXPECT_EQ(chip->wear(middle / p.block).erases, 0u) << "erased cells need no erase";
      EXPECT_EQ(chip->wear(middle / p.block).programs, paged ? p.block / 128 : non_erased)
          << "a program cycle for each byte that is not 0xFF";
    }

    // The same file again: the compare, no write.
    const Cost same = write_cost(b, data);
    EXPECT_LE(same.time * 100, full.time * p.same_percent) << "the same file again took " << simtime::seconds(same.time) << " s of "
                                         << simtime::seconds(full.time) << " s";
    EXPECT_LE(same.words, p.same_words);
    EXPECT_TRUE(b.read_save() == data);

    // One block differs: it alone is written.
    Bytes one = data;
    const Bytes fresh = noise(p.block, 33);
    std::copy(fresh.begin(), fresh.end(), one.begin() + middle);
    std::vector<FlashSaveChip::SectorWear> wear_before;
    if (FlashSaveChip* chip = flash_chip(b))
      for (std::uint32_t s = 0; s < blocks; ++s) wear_before.push_back(chip->wear(s));
    const std::uint64_t erases_before = rom_save(b) ? rom_save(b)->ops().erases : 0;
    const Cost changed = write_cost(b, one);
    if (RomSaveArea* area = rom_save(b)) {
      EXPECT_EQ(area->ops().erases, erases_before + 1) << "one erase unit";
    }
    EXPECT_TRUE(b.read_save() == one) << "one block changed, every other byte as it was";
    // Its erase unit's share of the full write (a 64 KiB block of the ROM
    // save area, else the block), twice over, beside the compare.
    const std::uint64_t unit = std::string(p.save) == "romsave" ? 0x10000 : p.block;
    EXPECT_LE(changed.time, same.time * 2 + 2 * full.time * unit / p.size + simtime::milliseconds(10))
        << simtime::seconds(changed.time) << " s";
    EXPECT_LE(changed.words, same.words * 2 + 2 * p.block / 4 + 64);
    if (FlashSaveChip* chip = flash_chip(b)) {
      for (std::uint32_t s = 0; s < blocks; ++s) {
        const FlashSaveChip::SectorWear& w = chip->wear(s);
        if (s == middle / p.block) {
          EXPECT_GT(w.programs, wear_before[s].programs);
        } else {
          EXPECT_EQ(w.erases, wear_before[s].erases) << "sector " << s << " erased";
          EXPECT_EQ(w.programs, wear_before[s].programs) << "sector " << s << " programmed";
        }
      }
    }
    if (!rom_before.empty()) {
      std::size_t differing = 0;
      for (std::uint32_t at = BELOW; at < AREA; at += 2) differing += rom->cell(at) != rom_before[(at - BELOW) / 2];
      EXPECT_EQ(differing, 0u) << "ROM halfwords changed around the save area";
      EXPECT_EQ(rom->ops().erases + rom->ops().programs, 0u) << "the ROM itself took a command";
    }
    // Other data everywhere, without verify: the link's time and little more.
    if (p.unverified_link_percent) {
      const Bytes other = noise(p.size, 34);
      const Cost unverified = write_cost(b, other, {}, WriteOptions{.verify = false});
      EXPECT_TRUE(b.read_save() == other) << "other data, unverified";
      EXPECT_LE(unverified.time * 100, link_floor(p.size) * p.unverified_link_percent)
          << "other data without verify took " << simtime::seconds(unverified.time) << " s, its bytes' link time "
          << simtime::seconds(link_floor(p.size)) << " s";
    }
    // The ROM save area does not know the command pair its sector 0x7E
    // takes before an erase.
    EXPECT_EQ(b.a.sim.log().misuse_count() - misuses, std::string(p.save) == "romsave" ? 1u : 0u)
        << testing::PrintToString(b.a.sim.log().misuses());
  }
}

}  // namespace
}  // namespace kartex::test
