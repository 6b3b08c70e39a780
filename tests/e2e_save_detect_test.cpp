// The real agent's save type probe against every save chip the simulator
// builds: the type it reports, the SRAM variant its bank probe finds, and
// the save contents left as they were.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "sim/cart/cart_build.h"
#include "sim/cart/cartridge.h"
#include "sim/save/save_eeprom.h"
#include "sim/save/save_flash.h"
#include "sim/save/save_rom.h"
#include "sim/save/save_sram.h"
#include "sim/sim_pipes.h"
#include "tests/support/sim_session.h"

namespace kartex::test {
namespace {

std::vector<std::uint8_t> contents(SaveChip& chip) {
  if (auto* s = dynamic_cast<SramChip*>(&chip)) return s->cells();
  if (auto* f = dynamic_cast<FlashSaveChip*>(&chip)) return f->cells();
  if (auto* e = dynamic_cast<EepromChip*>(&chip)) return e->cells();
  if (auto* r = dynamic_cast<RomSaveArea*>(&chip)) return r->contents();
  return {};
}

std::string image_file(std::size_t bytes) {
  const auto path = std::filesystem::path(::testing::TempDir()) / ("kartex_detect_" + std::to_string(getpid()) + "_" + std::to_string(bytes));
  std::string data(bytes, '\0');
  for (std::size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>((i * 29 + (i >> 8)) & 0xFF);
  std::ofstream(path, std::ios::binary) << data;
  return path.string();
}

struct Case {
  std::string sim;
  std::size_t bytes;
  std::uint32_t save_type;
  std::uint32_t variant;              // with the mapper; ~0u: not asked
  std::vector<std::string> misuses;   // parts of the lines the probe is expected to cause, in order
};

void detect(const Case& c) {
  SCOPED_TRACE(c.sim);
  AgentOnSim a;
  a.sim.set_cart(build_cartridge(parse_sim_options(c.sim + ",save-image=" + image_file(c.bytes)), a.sim.log()));
  SaveChip& chip = dynamic_cast<Cartridge&>(a.sim.cart()).save_chip();
  const std::vector<std::uint8_t> before = contents(chip);
  ASSERT_EQ(before.size(), c.bytes);
  a.start();
  std::uint32_t type[1], info[3], variant[1];
  a.link.agent_request(REQ_SAVE_TYPE, 0, 0, 0, type);
  EXPECT_EQ(type[0], c.save_type);
  if (c.variant != ~0u) {
    a.link.agent_request(REQ_CART_INFO, 0, 0, 0, info);
    a.link.agent_request(REQ_CART_VARIANT, 0, 0, 0, variant);
    EXPECT_EQ(variant[0], c.variant);
  }
  a.settle();
  EXPECT_TRUE(contents(chip) == before) << "the probe changed the save";
  const std::vector<std::string>& lines = a.sim.log().misuses();
  EXPECT_EQ(lines.size(), c.misuses.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i < c.misuses.size() && lines[i].find(c.misuses[i]) != std::string::npos) continue;
    ADD_FAILURE() << "unexpected: " << lines[i];
  }
}

TEST(SaveDetectOnSimulator, SramAndFlashParts) {
  const Case cases[] = {
      {"save=sram32k", 0x8000, 1, ~0u, {}},
      {"save=sram256k,chip=3/8801", 0x40000, 2, 1, {}},
      {"save=sram1m,chip=3/8801", 0x100000, 2, 2, {}},
      {"save=sram256k,chip=2/17", 0x40000, 2, ~0u, {}},
      {"save=flash64k:1f3d", 0x10000, 3, ~0u, {}},
      {"save=flash64k:bfd4", 0x10000, 3, ~0u, {}},
      {"save=flash64k:c21c", 0x10000, 3, ~0u, {}},
      {"save=flash64k:321b", 0x10000, 3, ~0u, {}},
      {"save=flash128k:c209", 0x20000, 6, ~0u, {}},
      {"save=flash128k:6213", 0x20000, 6, ~0u, {}},
  };
  for (const Case& c : cases) detect(c);
}

TEST(SaveDetectOnSimulator, RomResidentSave) {
  detect({"save=romsave,chip=3/8802", 0x100000, 7, ~0u, {}});
  detect({"save=romsave,chip=8/88c4,size=32", 0x100000, 7, ~0u, {}});
}

// The probe's 14-bit requests come first (an EEPROM that takes either
// width, as libmgba's does, is an 8 KiB part), and the 512-byte part says
// that it ignores them. The 6-bit requests are shorter than any of the
// 8 KiB part's, which drops them unfinished, and the single halfword stores
// before the part is known (the mapper's registers, the ROM-resident save's
// identifier command at 0x0DF00000) select an EEPROM beside a ROM of up to
// 16 MiB as frames of one bit: no line may come of either.
TEST(SaveDetectOnSimulator, EepromParts) {
  const Case cases[] = {
      {"save=eeprom512", 512, 4, 0,
       {"read request of 17 bits", "write request of 81 bits", "read request of 17 bits"}},
      {"save=eeprom8k", 0x2000, 5, 0, {}},
      {"save=eeprom8k,size=16", 0x2000, 5, 0, {}},
      {"save=eeprom512,size=32", 512, 4, 0,
       {"read request of 17 bits", "write request of 81 bits", "read request of 17 bits"}},
  };
  for (const Case& c : cases) detect(c);
}

}  // namespace
}  // namespace kartex::test
