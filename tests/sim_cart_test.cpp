// Cartridge models on the console bus: contents, open bus past the ROM's
// end and in an empty slot, the three ROM mirrors, the save window, and the
// generated default ROM's header.

#include <gtest/gtest.h>

#include "sim/cart/cart_header.h"
#include "sim/cart/cart_rom.h"
#include "sim_support.h"

namespace kartex {
namespace {

constexpr std::uint32_t MIRRORS[] = {0x08000000, 0x0A000000, 0x0C000000};

std::unique_ptr<CartBus> small_rom() {
  std::vector<std::uint8_t> rom(0x100);
  for (std::size_t i = 0; i < rom.size(); ++i) rom[i] = static_cast<std::uint8_t>(0xC0 ^ i);
  return std::make_unique<MaskRom>(std::move(rom));
}

TEST(SimCart, MaskRomReadsContentsThenOpenBusInEveryMirror) {
  Simulator sim;
  sim.set_cart(small_rom());
  ConsoleBus& bus = sim.console().bus();
  struct Case {
    std::uint32_t offset;
    unsigned size;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {0x000, 2, 0xC1C0},
      {0x0FE, 2, 0x3F3E},
      {0x0FC, 4, 0x3F3E3D3C},
      {0x0FD, 1, 0x3D},
      {0x100, 2, 0x0080},                 // past the end: halfword index
      {0x100, 4, 0x00810080},             // word = two halfword reads, low first
      {0x1FFFFFE, 2, 0xFFFF},             // last halfword of the 32 MiB window
      {0x0246802, 2, 0x3401},
      {0x0246803, 1, 0x34},
  };
  for (std::uint32_t base : MIRRORS)
    for (const Case& c : cases)
      EXPECT_EQ(bus.read(base + c.offset, c.size), c.expected) << std::hex << "at 0x" << base + c.offset;
  EXPECT_EQ(sim.log().misuse_count(), 0u);
}

TEST(SimCart, EmptySlotIsOpenBusEverywhere) {
  Simulator sim;
  sim.set_cart(std::make_unique<EmptySlot>());
  ConsoleBus& bus = sim.console().bus();
  for (std::uint32_t base : MIRRORS) {
    EXPECT_EQ(bus.read(base, 2), 0x0000u);
    EXPECT_EQ(bus.read(base + 0x10, 4), 0x00090008u);
    EXPECT_EQ(bus.read(base + 0x1234566, 2), 0xA2B3u);
  }
  EXPECT_EQ(bus.read(0x0E000000, 1), 0xFFu);
  bus.write(0x08000000, 2, 0x1234);
  EXPECT_EQ(sim.log().misuse_count(), 0u);
}

TEST(SimCart, SaveWindowWithoutChipReadsOnesOnEveryLane) {
  Simulator sim;
  sim.set_cart(small_rom());
  ConsoleBus& bus = sim.console().bus();
  EXPECT_EQ(bus.read(0x0E000000, 1), 0xFFu);
  EXPECT_EQ(bus.read(0x0E00FFFE, 2), 0xFFFFu);
  EXPECT_EQ(bus.read(0x0E001000, 4), 0xFFFFFFFFu);
}

TEST(SimCart, WritesToMaskRomAndEmptySaveWindowAreIgnored) {
  Simulator sim;
  sim.set_cart(small_rom());
  ConsoleBus& bus = sim.console().bus();
  // Identification probes write flash commands to every cartridge.
  bus.write(0x0A000010, 2, 0xAA55);
  bus.write(0x08000AAA, 2, 0x90);
  bus.write(0x0E005555, 1, 0xAA);
  EXPECT_EQ(sim.log().misuse_count(), 0u);
  EXPECT_EQ(bus.read(0x08000010, 2), 0xD1D0u) << "the ROM keeps its contents";
  EXPECT_EQ(bus.read(0x08000AAA, 2), rom_open_bus(0x08000AAA)) << "no command mode";
  EXPECT_EQ(bus.read(0x0E005555, 1), 0xFFu);
}

TEST(SimCart, DefaultRomHasAValidHeaderAndAddressUniqueContents) {
  const std::vector<std::uint8_t> rom = make_default_rom();
  ASSERT_EQ(rom.size(), DEFAULT_ROM_SIZE);
  const std::uint8_t logo_start[16] = {0x24, 0xFF, 0xAE, 0x51, 0x69, 0x9A, 0xA2, 0x21,
                                       0x3D, 0x84, 0x82, 0x0A, 0x84, 0xE4, 0x09, 0xAD};
  EXPECT_TRUE(std::equal(std::begin(logo_start), std::end(logo_start), rom.begin() + HDR_LOGO));
  // All 156 logo bytes: their CRC-16 (init 0xFFFF, reflected 0xA001) is the
  // published 0xCF56.
  std::uint16_t crc = 0xFFFF;
  for (std::uint32_t i = 0; i < HDR_LOGO_SIZE; ++i) {
    crc ^= rom[HDR_LOGO + i];
    for (int k = 0; k < 8; ++k) crc = crc & 1 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  EXPECT_EQ(crc, 0xCF56);
  EXPECT_EQ(std::string(rom.begin() + HDR_TITLE, rom.begin() + HDR_TITLE + 11), "KARTEX DEMO");
  EXPECT_EQ(rom[HDR_FIXED], 0x96);
  // The complement makes the bytes 0xA0-0xBD plus 0x19 sum to zero.
  unsigned sum = 0x19;
  for (std::uint32_t i = HDR_TITLE; i <= HDR_COMPLEMENT; ++i) sum += rom[i];
  EXPECT_EQ(sum & 0xFF, 0u);
  EXPECT_EQ(simtest::word_at(rom, 0), 0xEA00002Eu) << "b 0x080000C0";
  // Contents: neighbouring halfwords and 64 KiB apart differ.
  int equal_neighbours = 0;
  for (std::uint32_t a = HDR_SIZE + 4; a + 0x10002 < rom.size(); a += 0x101) {
    if (rom[a] == rom[a + 2] && rom[a + 1] == rom[a + 3]) ++equal_neighbours;
    if (rom[a] == rom[a + 0x10000] && rom[a + 1] == rom[a + 0x10001]) ++equal_neighbours;
  }
  EXPECT_LT(equal_neighbours, 5);
}

}  // namespace
}  // namespace kartex
