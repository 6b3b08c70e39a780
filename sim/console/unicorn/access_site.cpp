#include "sim/console/unicorn/access_site.h"

#include <bit>

namespace kartex {

namespace {

constexpr unsigned PC = 15, SP = 13, CPSR = 16;
constexpr std::uint32_t PSR_CARRY = 1u << 29;

// One load or store as the decoder sees it: where its first access goes,
// given the registers, and how many words a block transfer moves.
struct Transfer {
  bool load = false, store = false;  // a swap does both
  unsigned base = 0;
  // Single transfers: the offset, applied before the access if pre-indexed.
  bool pre = true, up = true;
  bool by_register = false;
  unsigned offset_reg = 0, shift_type = 0, shift_amount = 0;
  std::uint32_t offset = 0;
  // Block transfers (LDM, STM, PUSH, POP): the registers moved, 0 for none.
  unsigned words = 0;
  bool block = false;
  // The doubleword load and store: two words from the address.
  bool pair = false;
  // Thumb's PC-relative load takes the PC rounded down to a word.
  bool word_aligned_pc = false;

  bool none() const { return !load && !store; }
};

Transfer single(bool load, unsigned base, std::uint32_t offset) {
  Transfer t;
  t.load = load;
  t.store = !load;
  t.base = base;
  t.offset = offset;
  return t;
}

Transfer single_by_register(bool load, unsigned base, unsigned offset_reg) {
  Transfer t = single(load, base, 0);
  t.by_register = true;
  t.offset_reg = offset_reg;
  return t;
}

Transfer multiple(bool load, unsigned base, unsigned words, bool before, bool up) {
  Transfer t;
  t.load = load;
  t.store = !load;
  t.base = base;
  t.block = true;
  t.words = words;
  t.pre = before;
  t.up = up;
  return t;
}

bool bit(std::uint32_t insn, unsigned n) { return (insn >> n) & 1; }

// ARMv4T's loads and stores (and ARMv5TE's doubleword pair, which the
// emulated CPU has).
Transfer decode_arm(std::uint32_t insn) {
  if (insn >> 28 == 0xF) return {};  // unconditional space: none on ARMv4T
  const unsigned rn = (insn >> 16) & 0xF;
  switch ((insn >> 25) & 7) {
    case 0:  // extra loads and stores, swaps; the rest is arithmetic
      if ((insn & 0x0FB00FF0) == 0x01000090) {
        Transfer t = single(true, rn, 0);
        t.store = true;
        return t;
      }
      if ((insn & 0x90) == 0x90 && ((insn >> 5) & 3) != 0) {
        const bool l = bit(insn, 20);
        // Without L, SH 2 and 3 are the doubleword load and store.
        const bool load = l || ((insn >> 5) & 3) == 2;
        Transfer t = bit(insn, 22) ? single(load, rn, ((insn >> 4) & 0xF0) | (insn & 0xF))
                                   : single_by_register(load, rn, insn & 0xF);
        t.pair = !l && ((insn >> 5) & 3) != 1;
        t.pre = bit(insn, 24);
        t.up = bit(insn, 23);
        return t;
      }
      return {};
    case 2:
    case 3: {
      if (bit(insn, 25) && bit(insn, 4)) return {};  // undefined on ARMv4T
      Transfer t = bit(insn, 25) ? single_by_register(bit(insn, 20), rn, insn & 0xF)
                                 : single(bit(insn, 20), rn, insn & 0xFFF);
      t.shift_type = (insn >> 5) & 3;
      t.shift_amount = (insn >> 7) & 0x1F;
      t.pre = bit(insn, 24);
      t.up = bit(insn, 23);
      return t;
    }
    case 4:
      return multiple(bit(insn, 20), rn, static_cast<unsigned>(std::popcount(insn & 0xFFFF)), bit(insn, 24),
                      bit(insn, 23));
    default:
      return {};
  }
}

Transfer decode_thumb(std::uint16_t insn) {
  const unsigned mid = (insn >> 3) & 7, high = (insn >> 6) & 7;
  if ((insn & 0xF800) == 0x4800) {  // LDR Rd, [PC, #imm8 * 4]
    Transfer t = single(true, PC, (insn & 0xFFu) * 4);
    t.word_aligned_pc = true;
    return t;
  }
  if ((insn & 0xF000) == 0x5000) {  // register offset; bit 9 picks the halfword and signed forms
    const bool load = bit(insn, 9) ? (insn & 0x0C00) != 0 : bit(insn, 11);
    return single_by_register(load, mid, high);
  }
  if ((insn & 0xE000) == 0x6000)  // word or byte, immediate offset
    return single(bit(insn, 11), mid, ((insn >> 6) & 0x1Fu) * (bit(insn, 12) ? 1 : 4));
  if ((insn & 0xF000) == 0x8000) return single(bit(insn, 11), mid, ((insn >> 6) & 0x1Fu) * 2);
  if ((insn & 0xF000) == 0x9000) return single(bit(insn, 11), SP, (insn & 0xFFu) * 4);
  if ((insn & 0xF600) == 0xB400) {  // PUSH (STMDB SP!) and POP (LDMIA SP!), LR or PC with bit 8
    const bool pop = bit(insn, 11);
    const auto words = static_cast<unsigned>(std::popcount(insn & 0x1FFu));
    return multiple(pop, SP, words, !pop, pop);
  }
  if ((insn & 0xF000) == 0xC000)  // LDMIA, STMIA Rb!
    return multiple(bit(insn, 11), (insn >> 8) & 7, static_cast<unsigned>(std::popcount(insn & 0xFFu)), false, true);
  return {};
}

// The offset register through the immediate shift that scales it.
std::uint32_t shifted(std::uint32_t v, unsigned type, unsigned amount, RegisterSource& regs) {
  switch (type) {
    case 0: return v << amount;
    case 1: return amount ? v >> amount : 0;
    case 2: return static_cast<std::uint32_t>(static_cast<std::int32_t>(v) >> (amount ? amount : 31));
    default:
      if (amount) return std::rotr(v, static_cast<int>(amount));
      return (v >> 1) | ((regs.reg(CPSR) & PSR_CARRY) ? 0x80000000u : 0);  // RRX
  }
}

bool covers(const Transfer& t, std::uint32_t insn_addr, bool thumb, std::uint32_t addr, RegisterSource& regs) {
  std::uint32_t base = 0;
  if (t.base == PC) {
    base = insn_addr + (thumb ? 4 : 8);
    if (t.word_aligned_pc) base &= ~3u;
  } else {
    base = regs.reg(t.base);
  }
  if (t.block) {
    const std::uint32_t span = 4 * t.words;
    const std::uint32_t low = t.up ? base + (t.pre ? 4 : 0) : base - span + (t.pre ? 0 : 4);
    return addr - low < span;
  }
  std::uint32_t first = base;
  if (t.pre) {
    std::uint32_t offset = t.offset;
    if (t.by_register) {
      const std::uint32_t v = t.offset_reg == PC ? insn_addr + 8 : regs.reg(t.offset_reg);
      offset = thumb ? v : shifted(v, t.shift_type, t.shift_amount, regs);
    }
    first = t.up ? base + offset : base - offset;
  }
  return addr == first || (t.pair && addr == first + 4);
}

// Most of a block is arithmetic: these pass on only what may be a load
// (or a store, with `write`) for the decoder to look at closely.
bool may_transfer_arm(std::uint32_t insn, bool write) {
  switch ((insn >> 25) & 7) {
    case 0: return (insn & 0x90) == 0x90;  // extra loads and stores, swaps, multiplies
    case 2: case 3: case 4: return bit(insn, 20) != write;
    default: return false;
  }
}

bool may_transfer_thumb(std::uint16_t insn, bool write) {
  switch (insn >> 12) {
    case 4: return (insn & 0x0800) && !write;  // the PC-relative load (or arithmetic)
    case 5: return true;
    case 6: case 7: case 8: case 9: case 0xC: return bit(insn, 11) != write;
    case 0xB: return (insn & 0x0600) == 0x0400 && bit(insn, 11) != write;
    default: return false;
  }
}

// Each register read once however many loads and stores look at it.
class RegisterMemo final : public RegisterSource {
 public:
  explicit RegisterMemo(RegisterSource& regs) : regs_(regs) {}
  std::uint32_t reg(unsigned n) override {
    if (!(known_ >> n & 1)) {
      value_[n] = regs_.reg(n);
      known_ |= 1u << n;
    }
    return value_[n];
  }

 private:
  RegisterSource& regs_;
  std::uint32_t known_ = 0;
  std::uint32_t value_[17] = {};
};

unsigned accesses(const Transfer& t) {
  if (t.block) return t.words ? t.words : 1;
  return t.pair || (t.load && t.store) ? 2 : 1;
}

}  // namespace

AccessSite access_site(const CodeBlock& block, std::uint32_t from, std::uint32_t addr, bool write,
                       RegisterSource& regs) {
  const std::uint32_t count = block.count();
  RegisterMemo memo(regs);
  for (std::uint32_t i = from; i < count; ++i) {
    const std::uint8_t* p = block.code.data() + i * (block.thumb ? 2 : 4);
    Transfer t;
    if (block.thumb) {
      const auto insn = static_cast<std::uint16_t>(p[0] | p[1] << 8);
      if (!may_transfer_thumb(insn, write)) continue;
      t = decode_thumb(insn);
    } else {
      const std::uint32_t insn = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                 static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
      if (!may_transfer_arm(insn, write)) continue;
      t = decode_arm(insn);
    }
    if (t.none() || (write ? !t.store : !t.load)) continue;
    const std::uint32_t insn_addr = block.addr + i * (block.thumb ? 2 : 4);
    if (covers(t, insn_addr, block.thumb, addr, memo)) return AccessSite{i, accesses(t)};
  }
  return {};
}

}  // namespace kartex
