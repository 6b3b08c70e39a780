// The file a dump gets without a name, and the flash chips info names.

#include <gtest/gtest.h>

#include "contract/wire.h"

#include "contract/hw/rom_flash.h"
#include "app/default_name.h"
#include "cart/flash_chips.h"

namespace kartex::test {
namespace {

TEST(DefaultDumpName, FromTheHeaderMadeSafe) {
  struct Case {
    std::string title, code;
    const char* extension;
    std::string name;
  };
  const Case cases[] = {
      {"KARTEX DEMO", "KXDE", ".gba", "KARTEX DEMO (KXDE).gba"},
      {"POKEMON", "BPEE", ".sav", "POKEMON (BPEE).sav"},
      {"A/B\\C:D*E", "AB?C", ".gba", "A_B_C_D_E (AB_C).gba"},
      {"..HIDDEN", "HIDE", ".gba", "HIDDEN (HIDE).gba"},
      {"CON", "", ".gba", "_CON.gba"},
      {"nul", "", ".sav", "_nul.sav"},
      {"LPT1", "", ".gba", "_LPT1.gba"},
      {"COMX", "", ".gba", "COMX.gba"},
      {"", "AXVE", ".gba", "untitled (AXVE).gba"},
      // An erased header reads 0xFF: its fields show as '?' and name nothing.
      {"????????????", "????", ".gba", "untitled.gba"},
      {"TAB\tIN", "X\"<>", ".gba", "TAB_IN (X___).gba"},
  };
  for (const Case& tc : cases) {
    RomHeader h;
    h.title = tc.title;
    h.game_code = tc.code;
    EXPECT_EQ(default_dump_name(&h, tc.extension), tc.name) << tc.title;
  }
  EXPECT_EQ(default_dump_name(nullptr, ".sav"), "untitled.sav");
}

TEST(DefaultDumpName, SafeStems) {
  struct Case {
    std::string stem, safe;
  };
  const Case cases[] = {
      {"plain", "plain"},      {".", "untitled"},          {"..", "untitled"},
      {"...", "untitled"},     {"  . x", "x"},            {"trailing. ", "trailing"},
      {"a|b", "a_b"},          {std::string("a\x7f" "b\x01", 4), "a_b_"},
      {"aux.txt", "_aux.txt"}, {"AUX .x", "_AUX .x"},    {"../../etc/passwd", "_.._etc_passwd"},
  };
  for (const Case& tc : cases) EXPECT_EQ(safe_file_stem(tc.stem), tc.safe) << tc.stem;
}

TEST(FlashChips, FromTheKindAndSizeTheAgentReports) {
  constexpr std::int32_t MIB = 0x100000;
  struct Case {
    std::int32_t kind, size, erase_block;
    bool known;
    std::uint16_t maker;
    std::vector<std::uint16_t> devices;
    bool pair;
    std::uint32_t buffer;
  };
  const Case cases[] = {
      {0, 0, 0, false, 0, {}, false, 0},
      {1, 4 * MIB, 0, false, 0, {}, false, 0},
      {2, 4 * MIB, 0x20000, true, ROM_MAKER_SR, {ROM_DEV_BUF_32M}, false, 32},
      {2, 16 * MIB, 0x20000, true, ROM_MAKER_SR, {ROM_DEV_BUF_128M}, false, 32},
      {3, 8 * MIB, 0x40000, true, ROM_MAKER_SR, {ROM_DEV_BUF_32M}, true, 64},
      {3, 16 * MIB, 0x40000, true, ROM_MAKER_SR, {ROM_DEV_BUF_64M, ROM_DEV_BUF2_64M}, true, 64},
      {3, 64 * MIB, 0x40000, true, ROM_MAKER_SR, {ROM_DEV_BUF_128M, ROM_DEV_BUF2_128M}, true, 64},
      {4, 8 * MIB, 0x10000, true, ROM_MAKER_SR_B0, {ROM_DEV_B0_64M}, false, 0},
      {5, 1 * MIB, 0x10000, true, ROM_MAKER_JEDEC, {ROM_DEV_JEDEC_8M}, false, 0},
      {6, 2 * MIB, 0x10000, true, ROM_MAKER_JEDEC, {ROM_DEV_JEDEC_16M}, false, 0},
      {7, 4 * MIB, 0x10000, true, ROM_MAKER_SR, {ROM_DEV_32M_BOTTOM}, false, 0},
      {8, 32 * MIB, 0x20000, true, ROM_MAKER_SR,
       {ROM_DEV2_32M_TOP, ROM_DEV2_32M_BOTTOM, ROM_DEV_64M_TOP, ROM_DEV_64M_BOTTOM}, true, 0},
      {9, 16 * MIB, 0x20000, true, ROM_MAKER_SR_1C, {ROM_DEV_1C_PAIR}, true, 512},
      // A CFI chip: the erase block alone until its tables are asked for
      {ROM_KIND_CFI, 16 * MIB, 0x20000, true, 0, {}, false, 0},
      {11, 4 * MIB, 0x20000, false, 0, {}, false, 0},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE("kind " + std::to_string(tc.kind));
    CartInfo cart;
    cart.rom_kind = tc.kind;
    cart.rom_size = tc.size;
    cart.erase_block = tc.erase_block;
    const auto chip = known_flash_chip(cart);
    ASSERT_EQ(chip.has_value(), tc.known);
    if (!chip) continue;
    EXPECT_EQ(chip->maker, tc.maker);
    EXPECT_EQ(chip->devices, tc.devices);
    EXPECT_EQ(chip->pair, tc.pair);
    EXPECT_EQ(chip->erase_block, static_cast<std::uint32_t>(tc.erase_block));
    EXPECT_EQ(chip->buffer, tc.buffer);
    EXPECT_EQ(chip->cfi.has_value(), tc.kind == ROM_KIND_CFI);
  }
}

// The reply words of REQ_CFI_INFO, as the agent packs them
TEST(FlashChips, CfiInfoWordsFillTheChip) {
  CartInfo cart;
  cart.rom_kind = ROM_KIND_CFI;
  cart.rom_size = 0x400000;
  cart.erase_block = 0x10000;
  FlashChip chip = *known_flash_chip(cart);
  const std::uint32_t words[CFI_INFO_WORDS] = {0x22F90001, 0x22012221, 0x0002 | CFI_INFO_D0D1, 64, 2,
                                               0x00200008, 0x0100003F, 0, 0, 512, 1024, 16384};
  apply_cfi_info(chip, words);
  EXPECT_EQ(chip.maker, 0x01);
  EXPECT_EQ(chip.devices, std::vector<std::uint16_t>{0x22F9});
  EXPECT_EQ(chip.buffer, 64u);
  ASSERT_TRUE(chip.cfi);
  EXPECT_EQ(chip.cfi->device_2, 0x2221);
  EXPECT_EQ(chip.cfi->device_3, 0x2201);
  EXPECT_EQ(chip.cfi->command_set, 0x0002);
  EXPECT_TRUE(chip.cfi->d0d1);
  ASSERT_EQ(chip.cfi->regions.size(), 2u);
  EXPECT_EQ(chip.cfi->regions[0].blocks, 8u);
  EXPECT_EQ(chip.cfi->regions[0].bytes, 0x2000u);
  EXPECT_EQ(chip.cfi->regions[1].blocks, 63u);
  EXPECT_EQ(chip.cfi->regions[1].bytes, 0x10000u);
  EXPECT_EQ(chip.cfi->word_max_us, 512u);
  EXPECT_EQ(chip.cfi->buffer_max_us, 1024u);
  EXPECT_EQ(chip.cfi->erase_max_ms, 16384u);
  EXPECT_EQ(chip.erase_block, 0x10000u) << "the block the agent steps by stays";
}

}  // namespace
}  // namespace kartex::test
