#pragma once
// The opcode fetches of the block the CPU runs, charged as it runs: an
// access to I/O comes after the fetches of the instructions up to its
// own, and before those of the instructions after it, as on the console,
// where a store that starts a link word starts it at once.

#include <cstdint>

namespace kartex {

class BlockFetches {
 public:
  // A block of `count` instructions at `cycles` a fetch starts; `refill`
  // fetches more (a jump refills the pipeline) come before its first.
  void enter(std::uint32_t count, unsigned cycles, unsigned refill) {
    count_ = count;
    charged_ = 0;
    cycles_ = cycles;
    refill_ = refill;
  }
  std::uint32_t count() const { return count_; }
  // Cycles not yet charged for the fetches up to instruction `index`
  // (counted from 0), which are charged now.
  std::uint64_t through(std::uint32_t index) {
    const std::uint32_t upto = index < count_ ? index + 1 : count_;
    if (upto <= charged_) return 0;
    const std::uint64_t fetches = upto - charged_ + refill_;
    charged_ = upto;
    refill_ = 0;
    return fetches * cycles_;
  }
  // The block's fetches not yet charged, which are charged now.
  std::uint64_t rest() { return through(count_); }
  // What rest() would charge.
  std::uint64_t pending() const { return (std::uint64_t{count_} - charged_ + refill_) * cycles_; }

 private:
  std::uint32_t count_ = 0, charged_ = 0;
  unsigned cycles_ = 0, refill_ = 0;
};

}  // namespace kartex
