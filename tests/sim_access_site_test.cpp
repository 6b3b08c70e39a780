// Which instruction of a run of code made a data access, from the
// registers the access saw: each addressing form of the ARM and Thumb
// loads and stores, and the instructions that must be passed over.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "sim/console/unicorn/access_site.h"

namespace kartex {
namespace {

class FixedRegisters final : public RegisterSource {
 public:
  std::array<std::uint32_t, 17> r{};
  std::uint32_t reg(unsigned n) override { return r.at(n); }
};

constexpr std::uint32_t CODE = 0x03000100;
constexpr std::uint32_t NONE = ~0u;

struct Case {
  const char* what;
  bool thumb;
  std::vector<std::uint32_t> code;  // ARM words, or Thumb halfwords
  std::vector<std::pair<unsigned, std::uint32_t>> regs;
  std::uint32_t from, addr;
  bool write;
  std::uint32_t index;  // NONE: no instruction reaches it
  unsigned accesses = 1;
};

TEST(SimAccessSite, TheLoadOrStoreThatReachesTheAddressIsFound) {
  const Case cases[] = {
      {"ldrh post-indexed: the base as it is", false, {0xE0D120B2}, {{1, 0x08000100}}, 0, 0x08000100, false, 0},
      {"ldrh post-indexed: not the written-back address", false, {0xE0D120B2}, {{1, 0x08000100}}, 0, 0x08000102, false, NONE},
      {"str with a subtracted offset", false, {0xE5030008}, {{3, 0x04000130}}, 0, 0x04000128, true, 0},
      {"ldr with a register offset shifted left", false, {0xE7910102}, {{1, 0x08000000}, {2, 0x40}}, 0, 0x08000100, false, 0},
      {"ldr with a register offset rotated through the carry", false, {0xE7910062},
       {{1, 0x08000000}, {2, 0x200}, {16, 1u << 29}}, 0, 0x88000100, false, 0},
      {"a store elsewhere and a load of the address are passed over", false, {0xE5840000, 0xE1D322B8, 0xE1C312B8},
       {{3, 0x04000100}, {4, 0x03000000}}, 0, 0x04000128, true, 2},
      {"a second store to the same register: the search goes on after the first", false,
       {0x11C352B8, 0x11C362B8}, {{3, 0x04000100}}, 1, 0x04000128, true, 1},
      {"ldr from the literal pool: PC + 8", false, {0xE1A00000, 0xE59F0004}, {}, 0, CODE + 4 + 8 + 4, false, 1},
      {"ldmia: a word inside its range", false, {0xE8B4500F}, {{4, 0x08000000}}, 0, 0x08000014, false, 0, 6},
      {"stmdb: the words below the base", false, {0xE92D000F}, {{13, 0x03007F00}}, 0, 0x03007EF0, true, 0, 4},
      {"stmdb: not the base itself", false, {0xE92D000F}, {{13, 0x03007F00}}, 0, 0x03007F00, true, NONE},
      {"swp: a load and a store", false, {0xE1032091}, {{3, 0x0E000000}}, 0, 0x0E000000, true, 0, 2},
      {"Thumb strh with an immediate", true, {0x46C0, 0x8519}, {{3, 0x04000100}}, 0, 0x04000128, true, 1},
      {"Thumb ldrb with a register offset", true, {0x5C8A}, {{1, 0x0E000000}, {2, 0x55}}, 0, 0x0E000055, false, 0},
      {"Thumb ldr from the literal pool: PC rounded down", true, {0x46C0, 0x4801}, {}, 0, ((CODE + 2 + 4) & ~3u) + 4, false, 1},
      {"Thumb ldr relative to SP", true, {0x9802}, {{13, 0x03007F00}}, 0, 0x03007F08, false, 0},
      {"Thumb push with LR", true, {0xB530}, {{13, 0x03007F00}}, 0, 0x03007EF4, true, 0, 3},
      {"Thumb ldmia", true, {0xC90C}, {{1, 0x08000010}}, 0, 0x08000014, false, 0, 2},
      {"nothing before `from`", true, {0x8519, 0x46C0}, {{3, 0x04000100}}, 1, 0x04000128, true, NONE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t insn : c.code)
      for (unsigned i = 0; i < (c.thumb ? 2u : 4u); ++i) bytes.push_back(static_cast<std::uint8_t>(insn >> (8 * i)));
    FixedRegisters regs;
    for (auto [n, v] : c.regs) regs.r[n] = v;
    const AccessSite site = access_site({bytes, CODE, c.thumb}, c.from, c.addr, c.write, regs);
    if (c.index == NONE) {
      EXPECT_FALSE(site.found());
      continue;
    }
    ASSERT_TRUE(site.found());
    EXPECT_EQ(site.index, c.index);
    EXPECT_EQ(site.accesses, c.accesses);
  }
}

}  // namespace
}  // namespace kartex
