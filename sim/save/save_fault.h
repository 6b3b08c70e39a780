#pragma once
// A FLASH save sector whose cells do not take what is programmed, while the
// chip reports every write done: a weak sector that takes on a later try,
// or a worn-out one that never does. It is what a writer's read-back and
// retry are for.

#include <cstdint>
#include <limits>
#include <string>

namespace kartex {

struct SaveFault {
  static constexpr std::uint32_t EVERY = std::numeric_limits<std::uint32_t>::max();
  std::uint32_t sector = 0;  // 4 KiB sector of the save, counted across both banks
  std::uint32_t times = 1;   // programs there that fail (a byte; a page on the page part); EVERY: all
};

// "weak@N", "weak@N:TIMES" or "dead@N", as typed after save-fault=; throws
// Failure otherwise.
SaveFault parse_save_fault(const std::string& text);

}  // namespace kartex
