// How the simulated console starts an upload: through the BIOS's multiboot
// (header checks, the branch at 0, the boot-mode bytes, reset registers,
// system mode with IRQs unmasked, entry at 0xC0) or straight from
// 0x02000000; the agent starts right both ways, on both cores.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "agent/agent_image.h"
#include "app/session.h"
#include "link/cable_link.h"
#include "sim/console/bios_loader.h"
#include "sim/cart/cart_header.h"
#include "sim/cart/cart_rom.h"
#include "sim_support.h"

namespace kartex {
namespace {

using simtest::Wire;

// A header the BIOS takes, then at 0xC8 `code`; the entry at 0xC0 jumps
// over the two bytes the BIOS writes.
std::vector<std::uint8_t> headed(std::vector<std::uint8_t> code) {
  std::vector<std::uint8_t> image(0xC8, 0);
  const std::uint32_t skip_boot_bytes = 0xEA000000;  // b 0xC8, at 0xC0
  for (int i = 0; i < 4; ++i) image[0xC0 + i] = static_cast<std::uint8_t>(skip_boot_bytes >> (8 * i));
  const auto logo = header_logo();
  std::copy(logo.begin(), logo.end(), image.begin() + HDR_LOGO);
  std::memcpy(&image[HDR_TITLE], "LOADER TEST", 11);
  image[HDR_FIXED] = 0x96;
  image[HDR_COMPLEMENT] = header_complement(image);
  image.insert(image.end(), code.begin(), code.end());
  return image;
}

// Stores CPSR, IME, IE, DISPSTAT, WAITCNT and DISPCNT at 0x03000000 as it
// finds them, then idles:
//   mrs r0, cpsr ; mov r7, #0x03000000 ; str r0, [r7]
//   mov r5, #0x04000000 ; add r6, r5, #0x200
//   ldrh r0, [r6, #8] ; str r0, [r7, #4]      @ IME
//   ldrh r0, [r6] ; str r0, [r7, #8]          @ IE
//   ldrh r0, [r5, #4] ; str r0, [r7, #12]     @ DISPSTAT
//   ldrh r0, [r6, #4] ; str r0, [r7, #16]     @ WAITCNT
//   ldrh r0, [r5] ; str r0, [r7, #20]         @ DISPCNT
//   b .
std::vector<std::uint8_t> report_entry_state() {
  return simtest::program({0xE10F0000, 0xE3A07403, 0xE5870000, 0xE3A05301, 0xE2856C02, 0xE1D600B8, 0xE5870004,
                           0xE1D600B0, 0xE5870008, 0xE1D500B4, 0xE587000C, 0xE1D600B4, 0xE5870010, 0xE1D500B0,
                           0xE5870014, 0xEAFFFFFE});
}

std::uint32_t word(const std::vector<std::uint8_t>& bytes, std::size_t at) { return simtest::word_at(bytes, at); }

CableTimes with_loader(Loader loader) {
  CableTimes t;
  t.loader = loader;
  return t;
}

bool logged(const Simulator& sim, const std::string& what) {
  const auto& lines = const_cast<Simulator&>(sim).log().lines();
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(what) != std::string::npos; });
}

TEST(BiosLoader, RefusesImagesWhoseHeaderTheBiosRejects) {
  struct Case {
    const char* what;
    std::size_t at;       // byte changed (npos: the image is cut short instead)
    std::string logged;   // in the cable's note
  };
  const Case cases[] = {
      {"logo byte", HDR_LOGO + 77, "the header logo differs at offset 0x51"},
      {"fixed byte", HDR_FIXED, "the header's fixed byte at 0xB2 is 0x97, not 0x96"},
      {"complement", HDR_COMPLEMENT, "the header complement at 0xBD"},
      {"title without a new complement", HDR_TITLE + 3, "the header complement at 0xBD"},
      {"too short", std::string::npos, "the image is 128 bytes, too short for a multiboot header"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    std::vector<std::uint8_t> image = headed(report_entry_state());
    if (tc.at == std::string::npos) image.resize(0x80);
    else ++image[tc.at];
    for (Loader loader : {Loader::Bios, Loader::Direct}) {
      Simulator sim(with_loader(loader));
      Wire wire(sim.pipes());
      wire.handshake();
      wire.upload(image);
      if (loader == Loader::Bios) {
        EXPECT_FALSE(sim.link_console().running());
        EXPECT_TRUE(logged(sim, "the console's BIOS refuses the upload: " + tc.logged)) << tc.logged;
      } else {
        EXPECT_TRUE(sim.link_console().running()) << "a loader that skips the BIOS checks nothing";
      }
    }
  }
}

TEST(BiosLoader, EntersAtTheMultibootEntryWithTheRegistersReset) {
  struct Case {
    Loader loader;
    std::uint32_t first_word;   // what 0x02000000 holds once the program runs
    std::uint32_t cpsr_low;     // mode and the I, F bits
    std::uint32_t ime, ie, dispstat, dispcnt;
  };
  const std::vector<std::uint8_t> image = headed(report_entry_state());
  const Case cases[] = {
      // The BIOS: its branch over the first word, system mode, IRQs
      // unmasked, RegisterRamReset's registers, forced blank.
      {Loader::Bios, multiboot::BRANCH_TO_ENTRY, 0x1F, 0, 0, 0, 0x0080},
      // A careless loader: the image as sent, its vertical-blank interrupt left on.
      {Loader::Direct, word(image, 0), 0x1F, 1, 1, 0x0008, 0x0080},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.loader == Loader::Bios ? "bios" : "direct");
    Simulator sim(with_loader(tc.loader));
    Wire wire(sim.pipes());
    wire.handshake();
    // Through the direct loader the program starts at 0: the header's
    // first word must lead to the code too.
    std::vector<std::uint8_t> sent = image;
    const std::uint32_t branch_to_code = 0xEA000030;  // b 0xC8, at 0
    for (int i = 0; i < 4; ++i) sent[i] = static_cast<std::uint8_t>(branch_to_code >> (8 * i));
    sent[HDR_COMPLEMENT] = header_complement(sent);
    wire.upload(sent);
    ASSERT_TRUE(sim.link_console().running());
    sim.console().run(2000);
    const auto ram = sim.peek(0x03000000, 24);
    const auto ewram = sim.peek(0x02000000, 0xC8);
    EXPECT_EQ(word(ewram, 0), tc.loader == Loader::Bios ? tc.first_word : branch_to_code);
    EXPECT_EQ(ewram[0xC4], tc.loader == Loader::Bios ? multiboot::BOOT_MODE_NORMAL : 0);
    EXPECT_EQ(ewram[0xC5], tc.loader == Loader::Bios ? multiboot::SLAVE_ID_NORMAL : 0);
    EXPECT_EQ(word(ram, 0) & 0xFF, tc.cpsr_low) << std::hex << word(ram, 0);
    EXPECT_EQ(word(ram, 4), tc.ime);
    EXPECT_EQ(word(ram, 8), tc.ie);
    EXPECT_EQ(word(ram, 12) & 0xFF38, tc.dispstat);
    EXPECT_EQ(word(ram, 16), 0u) << "WAITCNT";
    EXPECT_EQ(word(ram, 20), tc.dispcnt);
  }
}

TEST(BiosLoader, TheAgentStartsThroughEitherLoaderOnEitherCore) {
  for (SimCore core : {SimCore::Unicorn, SimCore::Mgba}) {
    for (Loader loader : {Loader::Bios, Loader::Direct}) {
      SCOPED_TRACE(std::string(core == SimCore::Unicorn ? "unicorn " : "mgba ") +
                   (loader == Loader::Bios ? "bios" : "direct"));
      Simulator sim(core == SimCore::Unicorn ? std::make_unique<MaskRom>(make_default_rom()) : nullptr,
                    with_loader(loader), nullptr, core);
      CableLink link([&] { return sim.borrow_pipes(); }, [](int) {});
      link.link_start();
      const auto image = agent_image();
      upload_program(link, image);
      // As loaded, before the agent uses the start of work RAM as its buffer.
      const auto first = sim.peek(0x02000000, 4);
      EXPECT_EQ(word(first, 0), loader == Loader::Bios ? multiboot::BRANCH_TO_ENTRY : simtest::word_at(image, 0));
      std::uint32_t info[3] = {};
      link.agent_request(REQ_CART_INFO, 0, 0, 0, info);
      EXPECT_EQ(info[0], 1u) << "mask ROM";
      EXPECT_EQ(info[1], DEFAULT_ROM_SIZE);
      EXPECT_TRUE(sim.link_console().fault().empty()) << sim.link_console().fault();
    }
  }
}

}  // namespace
}  // namespace kartex
