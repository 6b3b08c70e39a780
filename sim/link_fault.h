#pragma once
// Faults the simulated cable produces on purpose, so that the tool's
// answer to a loose contact can be tested and replayed exactly.

#include <cstdint>
#include <string>

namespace kartex {

// At a link word counted from the start of the run (0: the first word the
// cable moves to or from the running program).
struct LinkFault {
  enum class Kind : std::uint8_t { Flip };
  Kind kind = Kind::Flip;
  std::uint64_t word = 0;
  unsigned bit = 0;  // Flip: the bit of that word inverted on its way
};

// "flip@N" or "flip@N:BIT" as typed after fault=; throws Failure otherwise.
LinkFault parse_link_fault(const std::string& text);

}  // namespace kartex
