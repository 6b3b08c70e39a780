#pragma once
// What a run found and did, kept for the --report file.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "cart/cart_clock.h"
#include "cart/cart_describe.h"
#include "cart/dat_match.h"
#include "cart/rom_report.h"
#include "common/digests.h"

namespace kartex {

// fw, fa and sw: the file as it was read, before anything was sent.
struct WriteFacts {
  std::string file;
  std::uint64_t file_size = 0;
  DigestSet file_digests;
  std::int64_t offset = -1;  // as given; -1: the command's own start
  std::int64_t length = -1;  // as given; -1: the whole file
  bool verify = true;
};

struct RunResults {
  std::optional<CartInfo> cart;     // after bring-up
  std::optional<RomHeader> header;  // fr of a whole ROM, info, a default file name
  std::optional<FlashChip> chip;
  std::optional<DumpFacts> dump;    // fr, sr
  bool dump_is_save = false;
  std::string dump_file;            // fr, sr: the file written
  std::vector<DatFile> dats;        // the catalogues read
  std::vector<std::string> dat_problems;
  std::optional<DatVerdict> verdict;
  std::optional<WriteFacts> write;  // fw, fa, sw
  std::optional<std::uint64_t> erased;  // fe: the bytes erased
  bool clock_read = false;              // info, sr --rtc, sw --rtc: the clock was asked for
  std::optional<ClockReading> clock;    // and what it said; nullopt: no clock
  std::chrono::nanoseconds elapsed{0};  // the command's body
};

}  // namespace kartex
