#pragma once
// A simulated console with a cartridge carrying one save chip, driven
// through the console's bus as a program would: byte accesses in the save
// window, the mapper's SRAM bank register, and DMA3 bit streams for the
// EEPROM.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "contract/hw/dma.h"
#include "sim/cart/cart_header.h"
#include "sim/cart/cartridge.h"
#include "sim/cart/flash_catalog.h"
#include "sim/cart/flash_rom.h"
#include "sim/cart/mapper.h"
#include "sim/simulator.h"

namespace kartex::savetest {

constexpr std::uint32_t SAVE = 0x0E000000;
constexpr std::uint32_t EEPROM = 0x0D000000;
constexpr std::uint32_t BITS_AT = 0x02010000;  // EWRAM scratch for bit streams
constexpr std::uint16_t DMA_START_16 = DMA_COPY16_NOW(0) >> 16;  // the high half of REG_DMA3CNT

struct Bench {
  Simulator sim;
  Cartridge* cart = nullptr;

  // A 4 MiB mask ROM without mapper, or a flash ROM `chip` of `mib` MiB with the mapper.
  explicit Bench(std::unique_ptr<SaveChip> chip, const char* flash = nullptr, std::uint32_t mib = 0) {
    std::unique_ptr<RomPart> rom;
    if (flash) {
      const RomOption* o = find_rom_option(flash);
      rom = std::make_unique<FlashRom>(*o, mib ? mib : o->sizes_mib.front(), std::vector<std::uint8_t>{}, sim.log());
    } else {
      rom = std::make_unique<MaskRomPart>(make_default_rom(mib ? mib << 20 : 4u << 20));
    }
    auto c = std::make_unique<Cartridge>(std::move(rom), flash != nullptr, std::move(chip), sim.log());
    cart = c.get();
    sim.set_cart(std::move(c));
    // The save window at 8 cycles, which every part takes; the tests of a
    // faster setting change it.
    sim.console().io().write16(io::WAITCNT, 0x0003);
  }

  ConsoleBus& bus() { return sim.console().bus(); }
  // Time passes on the console's clock, as it would while a program runs.
  void pass(SimTime t) { sim.log().clock().advance(t); }
  SimTime now() { return sim.log().clock().now(); }
  std::uint8_t rd(std::uint32_t offset) { return static_cast<std::uint8_t>(bus().read(SAVE + offset, 1)); }
  void wr(std::uint32_t offset, std::uint8_t v) { bus().write(SAVE + offset, 1, v); }

  // The mapper's unlock sequence, then its SRAM bank register.
  void select_bank(unsigned n) {
    for (const mapper::UnlockStep& s : mapper::UNLOCK)
      for (std::uint32_t i = 0; i < s.times; ++i) bus().write(0x08000000 + s.offset, 2, s.value);
    bus().write(0x08000000 + mapper::REG_SRAM_BANK, 2, mapper::sram_bank_value(n));
  }

  void dma3(std::uint32_t src, std::uint32_t dst, std::uint16_t count) {
    bus().write(REG_DMA3SAD, 4, src);
    bus().write(REG_DMA3DAD, 4, dst);
    bus().write(REG_DMA3CNT, 4, count | static_cast<std::uint32_t>(DMA_START_16) << 16);
  }

  // One DMA transfer of the bits (bit 0 of a halfword each) to `at`.
  void send_bits(const std::vector<int>& bits, std::uint32_t at = EEPROM) {
    std::vector<std::uint8_t> halves;
    for (int b : bits) {
      halves.push_back(static_cast<std::uint8_t>(b ? 0xFF : 0xFE));  // only bit 0 counts
      halves.push_back(0xFF);
    }
    sim.poke(BITS_AT, halves);
    dma3(BITS_AT, at, static_cast<std::uint16_t>(bits.size()));
  }

  // One DMA transfer of n halfwords from `at`; bit 0 of each.
  std::vector<int> receive_bits(std::uint16_t n, std::uint32_t at = EEPROM) {
    dma3(at, BITS_AT, n);
    const std::vector<std::uint8_t> halves = sim.peek(BITS_AT, 2u * n);
    std::vector<int> bits;
    for (std::uint16_t i = 0; i < n; ++i) bits.push_back(halves[2 * i] & 1);
    return bits;
  }

  void expect_no_misuse() {
    EXPECT_EQ(sim.log().misuse_count(), 0u);
    for (const std::string& line : sim.log().misuses()) ADD_FAILURE() << line;
  }
  // The misuse lines logged since the last call.
  std::vector<std::string> new_misuses() {
    const std::vector<std::string>& lines = sim.log().misuses();
    std::vector<std::string> fresh(lines.begin() + static_cast<std::ptrdiff_t>(seen_), lines.end());
    seen_ = lines.size();
    return fresh;
  }

 private:
  std::size_t seen_ = 0;
};

// The EEPROM's serial requests as DMA3 streams them, one bit a halfword:
// two command bits, the block address, for a write 64 data bits, then the
// stop bit.
inline std::vector<int> request(int b0, int b1, std::uint32_t block, unsigned addr_bits) {
  std::vector<int> bits{b0, b1};
  for (unsigned i = addr_bits; i-- > 0;) bits.push_back((block >> i) & 1);
  return bits;
}

inline std::vector<int> read_request(std::uint32_t block, unsigned addr_bits) {
  std::vector<int> bits = request(1, 1, block, addr_bits);
  bits.push_back(0);
  return bits;
}

inline std::vector<int> write_request(std::uint32_t block, unsigned addr_bits, std::uint64_t data, int last = 0) {
  std::vector<int> bits = request(1, 0, block, addr_bits);
  for (int i = 63; i >= 0; --i) bits.push_back(static_cast<int>((data >> i) & 1));
  bits.push_back(last);
  return bits;
}

}  // namespace kartex::savetest
