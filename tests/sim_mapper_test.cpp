// The cartridge mapper: the unlock sequence, the ROM page, SRAM bank and
// command registers, broken sequences that change nothing, ROM pages past
// 32 MiB, and the cartridge's state round trip.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "sim/cart/cart_bus.h"
#include "sim/cart/cartridge.h"
#include "sim/cart/flash_rom.h"
#include "sim_flash_support.h"
#include "tests/support/sizes.h"

namespace kartex::flashtest {
namespace {

using test::MiB;

using namespace mapper;
constexpr std::uint32_t ROM = 0x08000000;

// Records the bank each save-window access came with.
class BankSpy : public SaveChip {
 public:
  std::string name() const override { return "bank spy"; }
  std::string kind() const override { return "spy"; }
  std::uint8_t read8(std::uint32_t, unsigned bank) override {
    last_bank = bank;
    return 0;
  }
  void write8(std::uint32_t, std::uint8_t, unsigned bank) override { last_bank = bank; }
  void save(StateWriter&) const override {}
  unsigned last_bank = 99;
};

// A flash cartridge whose every MiB starts with its number, so that a page
// shows where it points.
struct Cart {
  SimLog log;
  Cartridge cart;

  Cart(const char* chip, std::uint32_t mib, bool with_mapper = true)
      : cart(std::make_unique<FlashRom>(option(chip), mib, numbered(mib), log), with_mapper, nullptr, log) {}

  static std::vector<std::uint8_t> numbered(std::uint32_t mib) {
    std::vector<std::uint8_t> rom(mib * MiB, 0xEE);
    for (std::uint32_t m = 0; m < mib; ++m) {
      rom[m * MiB] = static_cast<std::uint8_t>(m);
      rom[m * MiB + 1] = 0x4D;
    }
    return rom;
  }
  void unlock() {
    for (const UnlockStep& s : UNLOCK)
      for (std::uint32_t i = 0; i < s.times; ++i) cart.write16(ROM + s.offset, s.value);
  }
  void set(std::uint32_t reg, std::uint16_t value) {
    unlock();
    cart.write16(ROM + reg, value);
  }
  std::uint16_t rd(std::uint32_t addr) { return cart.read16(addr); }
};

TEST(SimMapper, PageRegisterMovesTheWindowInStepsOf32KiB) {
  struct Case {
    const char* chip;
    std::uint32_t mib;
    std::uint16_t page;
    std::uint32_t addr, rom_offset;
  };
  const Case cases[] = {
      {"3/18", 64, 0x400, ROM, 32 * MiB},
      {"3/18", 64, 0x400, 0x09F00000, 63 * MiB},
      {"3/18", 128, 0x800, ROM, 64 * MiB},
      {"3/8802", 128, 0xC00, ROM + 5 * MiB, 101 * MiB},
      {"3/8802", 64, 0x000, 0x0A000000 + 7 * MiB, 7 * MiB},  // every wait-state mirror
      {"3/8803", 64, 0x400, ROM + 2 * MiB, 34 * MiB},
      {"8/88c4", 32, 0x020, ROM, 1 * MiB},                    // 0x20 x 32 KiB
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.chip) + " page " + std::to_string(c.page));
    Cart k(c.chip, c.mib);
    k.set(REG_ROM_PAGE, c.page);
    EXPECT_EQ(k.cart.mapper()->rom_page(), c.page);
    EXPECT_EQ(k.rd(c.addr), 0x4D00 | (c.rom_offset / MiB));
    EXPECT_EQ(k.log.misuse_count(), 0u);
  }
  // Page 0x10 shows ROM offset 512 KiB; past the ROM's end nothing answers.
  Cart k("8/8896", 8);
  k.set(REG_ROM_PAGE, 0x10);
  EXPECT_EQ(k.rd(ROM + 512 * 1024), 0x4D01);
  k.set(REG_ROM_PAGE, 0x100);  // 8 MiB: the end of this ROM
  EXPECT_EQ(k.rd(ROM + 4), rom_open_bus(ROM + 4));
}

TEST(SimMapper, SramBankAndCommandRegisters) {
  SimLog log;
  auto spy_owner = std::make_unique<BankSpy>();
  BankSpy* spy = spy_owner.get();
  Cartridge cart(std::make_unique<FlashRom>(option("3/8802"), 32, std::span<const std::uint8_t>(), log), true,
                 std::move(spy_owner), log);
  auto write_reg = [&](std::uint32_t reg, std::uint16_t v) {
    for (const UnlockStep& s : UNLOCK)
      for (std::uint32_t i = 0; i < s.times; ++i) cart.write16(ROM + s.offset, s.value);
    cart.write16(ROM + reg, v);
  };
  for (unsigned bank : {8u, 0u, 5u, 15u, 7u}) {
    write_reg(REG_SRAM_BANK, sram_bank_value(bank));
    cart.read8(0x0E000000);
    EXPECT_EQ(spy->last_bank, bank);
  }
  write_reg(REG_COMMAND, COMMAND_9413);
  EXPECT_EQ(cart.mapper()->command(), COMMAND_9413);
  EXPECT_EQ(cart.mapper()->rom_page(), 0) << "a command write moved the page";
  EXPECT_TRUE(log.lines().empty());

  // Without a mapper the save chip always sees bank 0.
  auto spy2_owner = std::make_unique<BankSpy>();
  BankSpy* spy2 = spy2_owner.get();
  Cartridge plain(std::make_unique<FlashRom>(option("3/8802"), 32, std::span<const std::uint8_t>(), log), false,
                  std::move(spy2_owner), log);
  for (const UnlockStep& s : UNLOCK)
    for (std::uint32_t i = 0; i < s.times; ++i) plain.write16(ROM + s.offset, s.value);
  plain.write16(ROM + REG_SRAM_BANK, sram_bank_value(8));
  plain.write8(0x0E000000, 1);
  EXPECT_EQ(spy2->last_bank, 0u);
}

// A sequence that is not exactly the unlock leaves the registers alone.
TEST(SimMapper, BrokenUnlockSequencesChangeNothing) {
  struct Case {
    const char* name;
    std::function<void(Cart&)> unlock;
  };
  auto run = [](Cart& k, std::uint32_t skip_step, int extra, std::uint16_t wrong_value) {
    for (std::uint32_t st = 0; st < UNLOCK_STEPS; ++st) {
      const UnlockStep& s = UNLOCK[st];
      std::uint32_t times = s.times;
      if (st == skip_step) times = static_cast<std::uint32_t>(static_cast<int>(times) + extra);
      for (std::uint32_t i = 0; i < times; ++i)
        k.cart.write16(ROM + s.offset, st == skip_step && wrong_value && i == 0 ? wrong_value : s.value);
    }
  };
  const Case cases[] = {
      {"499 writes of 0x1234", [&](Cart& k) { run(k, 1, -1, 0); }},
      {"501 writes of 0x5678", [&](Cart& k) { run(k, 4, +1, 0); }},
      {"step 8 missing", [&](Cart& k) { run(k, 7, -1, 0); }},
      {"wrong value in step 10", [&](Cart& k) { run(k, 9, 0, 0xABCC); }},
      {"last step missing", [&](Cart& k) { run(k, 10, -1, 0); }},
      {"complete unlock spent by a stray write",
       [&](Cart& k) {
         run(k, 99, 0, 0);  // a whole unlock, spent by the stray write below
         k.cart.write16(ROM, 0xFF);
       }},
      {"unlock at the wrong address",
       [&](Cart& k) {
         for (const UnlockStep& s : UNLOCK)
           for (std::uint32_t i = 0; i < s.times; ++i) k.cart.write16(ROM + s.offset + 0x20, s.value);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cart k("8/88c4", 8);
    c.unlock(k);
    k.cart.write16(ROM + REG_ROM_PAGE, 0x20);
    EXPECT_EQ(k.cart.mapper()->rom_page(), 0);
    // Writes of a broken sequence reach the chips, which take them as
    // invalid commands: clear their status and read the array again.
    for (std::uint32_t chip : {0u, 2u}) {
      k.cart.write16(ROM + chip, flash::CMD_CLEAR_STATUS);
      k.cart.write16(ROM + chip, flash::CMD_READ_ARRAY);
    }
    EXPECT_EQ(k.rd(ROM), 0x4D00);
    // A register write needs its own unlock: the next one works.
    k.set(REG_ROM_PAGE, 0x20);
    EXPECT_EQ(k.rd(ROM), 0x4D01);
    EXPECT_EQ(k.log.misuse_count(), 0u);
  }
}

TEST(SimMapper, UnlockCyclesNeverReachTheFlashChips) {
  // A chip left in identifier mode stays there through a register write.
  Cart k("8/88c4", 8);
  k.cart.write16(ROM, flash::CMD_READ_ID);
  k.set(REG_COMMAND, COMMAND_9413);
  EXPECT_EQ(k.rd(ROM), flash::MAKER_89);
  EXPECT_EQ(k.log.misuse_count(), 0u);

  // Without the mapper the same writes reach the chips, which take values
  // that are no command as the command sequence error and show their
  // status; the page does not move.
  Cart plain("3/8802", 64, false);
  plain.set(REG_ROM_PAGE, 0x400);
  EXPECT_EQ(plain.cart.mapper(), nullptr);
  EXPECT_EQ(plain.rd(ROM), flash::SR_READY | flash::SR_ERASE_ERROR | flash::SR_PROGRAM_ERROR);
  plain.cart.write16(ROM, flash::CMD_CLEAR_STATUS);
  plain.cart.write16(ROM, flash::CMD_READ_ARRAY);
  EXPECT_EQ(plain.rd(ROM), 0x4D00);
  EXPECT_EQ(plain.log.misuse_count(), 0u);
}

TEST(SimMapper, CartridgeStateKeepsCellsLocksModesAndRegisters) {
  const auto dir = std::filesystem::temp_directory_path() / "kartex_sim_mapper_state";
  std::filesystem::create_directories(dir);
  Cart k("8/88c4", 16);
  k.set(REG_ROM_PAGE, 0x100);              // window shows ROM offset 8 MiB
  k.cart.write16(ROM + 0x10, 0x60);        // unlock the second pair's first even block
  k.cart.write16(ROM + 0x10, 0xD0);
  k.cart.write16(ROM + 0x10, 0x40);
  k.cart.write16(ROM + 0x10, 0x1234);
  while (!(k.rd(ROM + 0x10) & flash::SR_READY)) k.log.clock().advance(simtime::microseconds(1));
  k.cart.write16(ROM + 0x12, 0x90);        // the odd chip left in identifier mode
  StateWriter out;
  save_cart(k.cart, out);
  save_state_part(dir.string(), "cartridge", 1, out);

  SimLog log;
  StateReader in = load_state_part(dir.string(), "cartridge", 1);
  std::unique_ptr<CartBus> loaded = load_cart(in, log);
  EXPECT_TRUE(in.done());
  EXPECT_EQ(loaded->read16(ROM + 0x6), 0x88C4) << "identifier mode or page lost";
  EXPECT_EQ(loaded->read16(ROM + 0x10), flash::SR_READY) << "status mode lost";
  loaded->write16(ROM + 0x10, 0xFF);
  loaded->write16(ROM + 0x12, 0xFF);
  EXPECT_EQ(loaded->read16(ROM + 0x10), 0x1234 & 0xEEEE);
  EXPECT_EQ(loaded->read16(ROM + 0x18), 0xEEEE);
  // Locks: the block programmed above is open, the one beside it is not.
  loaded->write16(ROM + 0x40010, 0x40);
  loaded->write16(ROM + 0x40010, 0x0000);
  log.clock().advance(simtime::milliseconds(1));
  EXPECT_EQ(loaded->read16(ROM + 0x40010) & flash::SR_BLOCK_LOCKED, flash::SR_BLOCK_LOCKED);
  EXPECT_EQ(log.misuse_count(), 1u);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kartex::flashtest
