#pragma once
// Which instruction of a translated block made a data access. Inside the
// emulator's memory hooks the PC still holds the block's start, but the
// registers hold what the accessing instruction saw: the block's loads and
// stores are decoded from a given one on, and the first whose address,
// worked out from those registers, covers the access made it.

#include <cstdint>
#include <span>

namespace kartex {

// r0-r14 as the accessing instruction sees them, and 16 for the CPSR (the
// carry of a rotate through it).
class RegisterSource {
 public:
  virtual std::uint32_t reg(unsigned n) = 0;

 protected:
  ~RegisterSource() = default;
};

struct CodeBlock {
  std::span<const std::uint8_t> code;
  std::uint32_t addr;
  bool thumb;
  // Instructions are counted in opcode fetches: 4 bytes in ARM state, 2 in
  // Thumb state (a long branch with link counts twice).
  std::uint32_t count() const { return static_cast<std::uint32_t>(code.size() >> (thumb ? 1 : 2)); }
};

struct AccessSite {
  std::uint32_t index = 0;
  // That the instruction makes: 1, 2 for a swap or a pair, one a word of a
  // block transfer; 0 if no instruction was found.
  std::uint32_t accesses = 0;
  bool found() const { return accesses != 0; }
};

// The first instruction from `from` on that loads (or, with `write`,
// stores) at `addr`; none found if no load or store of the block reaches it.
AccessSite access_site(const CodeBlock& block, std::uint32_t from, std::uint32_t addr, bool write,
                                      RegisterSource& regs);

}  // namespace kartex
