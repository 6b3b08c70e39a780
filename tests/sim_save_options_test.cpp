// The --sim keys save= and save-image=: what each builds, what is refused
// with one clear line, and save chips kept whole in state=DIR.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "common/failure.h"
#include "sim/cart/cart_build.h"
#include "sim/save/save_commands.h"
#include "sim/save/save_eeprom.h"
#include "sim/save/save_flash.h"
#include "sim/save/save_rom.h"
#include "sim/save/save_sram.h"
#include "sim/sim_pipes.h"
#include "tests/sim_save_support.h"

namespace kartex {
namespace {

using namespace savetest;

std::string temp_file(const std::string& name, std::size_t bytes, std::uint8_t fill) {
  const auto path = std::filesystem::path(::testing::TempDir()) / ("kartex_save_" + std::to_string(getpid()) + "_" + name);
  std::ofstream(path, std::ios::binary) << std::string(bytes, static_cast<char>(fill));
  return path.string();
}

std::string build_error(const std::string& sim) {
  try {
    SimLog log;
    build_cartridge(parse_sim_options(sim), log);
  } catch (const Failure& f) {
    return f.what();
  }
  return "";
}

TEST(SimSaveOptions, EachSaveValueBuildsItsPart) {
  struct Case {
    std::string sim, name;
  };
  const Case cases[] = {
      {"", "no save chip"},
      {"save=none", "no save chip"},
      {"save=sram32k", "SRAM 32 KiB"},
      {"save=sram256k,chip=2/17", "SRAM 256 KiB"},
      {"save=sram1m,chip=3/8801", "SRAM 1024 KiB"},
      {"save=flash64k:1f3d", "FLASH 64 KiB (ID 1F/3D)"},
      {"save=flash64k:BFD4", "FLASH 64 KiB (ID BF/D4)"},
      {"save=flash64k:c21c", "FLASH 64 KiB (ID C2/1C)"},
      {"save=flash64k:321b", "FLASH 64 KiB (ID 32/1B)"},
      {"save=flash128k:c209", "FLASH 128 KiB (ID C2/09)"},
      {"save=flash128k:6213", "FLASH 128 KiB (ID 62/13)"},
      {"save=eeprom512", "EEPROM 512 B"},
      {"save=eeprom8k", "EEPROM 8 KiB"},
      {"save=romsave,chip=3/8802", "ROM save area 1 MiB (ID 0x00B0/0x009F)"},
      {"save=romsave,chip=8/88c4,size=32", "ROM save area 1 MiB (ID 0x00B0/0x009F)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sim);
    SimLog log;
    auto cart = build_cartridge(parse_sim_options(c.sim), log);
    EXPECT_EQ(dynamic_cast<Cartridge&>(*cart).save_chip().name(), c.name);
  }
}

TEST(SimSaveOptions, RefusalsSayWhatIsWrong) {
  const std::string sram_image = temp_file("sram_short", 0x7FFF, 0);
  struct Case {
    std::string sim, says;
  };
  const Case cases[] = {
      {"save=sram64k", "no save=sram64k (known: none, sram32k"},
      {"save=flash64k", "needs :MMDD"},
      {"save=flash64k:bfd", "needs :MMDD"},
      {"save=flash64k:c209", "no 64 KiB FLASH save chip with ID c209"},
      {"save=flash128k:bfd4", "no 128 KiB FLASH save chip with ID bfd4"},
      {"save=eeprom8k:1234", "save=eeprom8k takes no :MMDD"},
      {"save=romsave", "flash ROM of 32 MiB or more"},
      {"save=romsave,chip=3/8801", "this cartridge has a flash ROM of 16 MiB"},
      // Banks past the first need the mapper's bank register
      {"save=sram256k", "save=sram256k is banked SRAM, which needs the mapper's bank register; give chip= for a "
                        "flash cartridge with the mapper (this cartridge has a mask ROM without the mapper)"},
      {"save=sram1m,rom=" + sram_image, "save=sram1m is banked SRAM, which needs the mapper's bank register"},
      {"save=sram1m,chip=3/8801,mapper=off", "(this cartridge has a flash ROM with mapper=off)"},
      {"save=sram256k,chip=8/88c4,size=32,mapper=off", "save=sram256k is banked SRAM"},
      {"save=sram32k,save-image=" + sram_image, "holds 32767 bytes; save=sram32k takes exactly 32768"},
      {"save-image=" + sram_image, "save-image= needs a save chip"},
      {"save=eeprom512,save-image=/nonexistent/save.bin", "cannot open save-image=/nonexistent/save.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sim);
    std::string error;
    try {
      error = build_error(c.sim);
    } catch (const Failure& f) {
      error = f.what();  // refused while parsing
    }
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

TEST(SimSaveOptions, SaveImageGivesTheFirstContents) {
  struct Case {
    std::string value;
    std::size_t bytes;
  };
  const Case cases[] = {{"sram32k", 0x8000}, {"flash128k:6213", 0x20000}, {"eeprom512", 512}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const std::string image = temp_file(c.value.substr(0, 5), c.bytes, 0x3C);
    Bench b(nullptr);
    b.sim.set_cart(build_cartridge(parse_sim_options("save=" + c.value + ",save-image=" + image), b.sim.log()));
    if (c.value == "eeprom512") {
      b.send_bits({1, 1, 0, 0, 0, 0, 0, 1, 0});  // read block 1
      const std::vector<int> bits = b.receive_bits(68);
      EXPECT_EQ(std::vector<int>(bits.begin() + 4, bits.begin() + 12), (std::vector<int>{0, 0, 1, 1, 1, 1, 0, 0}));
    } else {
      EXPECT_EQ(b.rd(0x7FFF), 0x3C);
    }
    b.expect_no_misuse();
  }
}

TEST(SimSaveOptions, StateKeepsEverySaveChipWithItsMode) {
  const std::string dir = (std::filesystem::path(::testing::TempDir()) / ("kartex_save_state_" + std::to_string(getpid()))).string();
  struct Case {
    std::string sim;
    std::function<void(Bench&)> change;  // done before saving
    std::function<void(Bench&)> check;   // after loading
  };
  const Case cases[] = {
      {"save=sram1m,chip=3/8801",
       [](Bench& b) {
         b.select_bank(9);
         b.wr(0x4444, 0x99);
       },
       [](Bench& b) {
         EXPECT_EQ(b.rd(0x4444), 0x99) << "contents and the mapper's bank";
         b.select_bank(0);
         EXPECT_EQ(b.rd(0x4444), 0xFF);
       }},
      {"save=flash128k:c209",
       [](Bench& b) {
         for (std::uint8_t v : {0xAA, 0x55, 0xB0}) b.wr(v == 0x55 ? 0x2AAA : 0x5555, v);
         b.wr(0, 1);
         for (std::uint8_t v : {0xAA, 0x55, 0xA0}) b.wr(v == 0x55 ? 0x2AAA : 0x5555, v);
         b.wr(0x0123, 0x12);  // still busy when saved
       },
       [](Bench& b) {
         EXPECT_NE(b.rd(0x0123) & 0x80, 0x12 & 0x80) << "still busy: bit 7 polls";
         for (int i = 0; i < 1000 && b.rd(0x0123) != 0x12; ++i) b.pass(simtime::microseconds(10));
         EXPECT_EQ(b.rd(0x0123), 0x12);
         EXPECT_EQ(dynamic_cast<FlashSaveChip&>(b.cart->save_chip()).bank(), 1u);
       }},
      {"save=eeprom8k",
       [](Bench& b) {
         std::vector<int> bits{1, 0};
         for (int i = 13; i >= 0; --i) bits.push_back((0x155 >> i) & 1);
         for (int i = 0; i < 64; ++i) bits.push_back(i & 1);
         bits.push_back(0);
         b.send_bits(bits);
       },
       [](Bench& b) {
         EXPECT_EQ(b.bus().read(EEPROM, 2) & 1, 0u) << "the write is still in progress";
         EXPECT_EQ(dynamic_cast<EepromChip&>(b.cart->save_chip()).cells()[0x155 * 8], 0x55);
       }},
      {"save=romsave,chip=3/8802",
       [](Bench& b) {
         b.bus().write(0x0DF20000, 2, 0x60);
         b.bus().write(0x0DF20000, 2, 0x01);  // lock the block at 128 KiB
         while (!(b.bus().read(0x0DFFFFFE, 2) & 0x80)) {
         }
         b.bus().write(0x0DF20000, 2, 0xFF);
       },
       [](Bench& b) {
         b.bus().write(0x0DF20000, 2, 0x90);
         EXPECT_EQ(b.bus().read(0x0DF20004, 2), 1u) << "lock bits are kept";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sim);
    std::filesystem::remove_all(dir);
    {
      Bench b(nullptr);
      b.sim.set_cart(build_cartridge(parse_sim_options(c.sim), b.sim.log()));
      b.cart = &dynamic_cast<Cartridge&>(b.sim.cart());
      c.change(b);
      b.sim.save_state(dir);
    }
    Bench b(nullptr);
    ASSERT_TRUE(b.sim.load_state(dir));
    b.cart = &dynamic_cast<Cartridge&>(b.sim.cart());
    c.check(b);
    b.expect_no_misuse();
  }
}

}  // namespace
}  // namespace kartex
