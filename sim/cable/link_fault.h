#pragma once
// Faults the simulated cable produces on purpose, so that the tool's
// answer to a loose contact, a pulled plug, a stuck console or a stalled
// transfer can be tested and replayed exactly.

#include <cstdint>
#include <string>

namespace kartex {

// Each takes effect when the cable is about to move a link word counted
// from the start of the run (0: the first word the cable moves to or from
// the running program).
struct LinkFault {
  enum class Kind : std::uint8_t {
    Flip,     // that word crosses with bit `bit` inverted
    Unplug,   // the cable leaves the USB bus: that call and every later one fail
    Hang,     // the console's CPU spins from then on and never arms the link port
    Stall,    // the pipe transfer carrying that word never completes, until a pipe reset
    Power,    // the console is switched off and on: memory lost, no program runs
    Lose,     // the cable clocks that word before the console's port is started: a word
              // to the console is lost, one from it reads SO's level (all ones)
  };
  Kind kind = Kind::Flip;
  std::uint64_t word = 0;
  unsigned bit = 0;  // Flip: the bit of that word inverted on its way
};

// "KIND@N", or "flip@N:BIT", as typed after fault=; throws Failure otherwise.
LinkFault parse_link_fault(const std::string& text);
// "unplug@12", "flip@3:7": the fault as the user types it.
std::string link_fault_text(const LinkFault& fault);

}  // namespace kartex
