#pragma once
// A dump checked against the catalogues: the same bytes listed (verified),
// the cartridge's game listed with other bytes (and what that usually
// means), or not listed at all.

#include <string>
#include <vector>

#include "cart/dat_file.h"
#include "cart/rom_report.h"

namespace kartex {

struct DatVerdict {
  enum class Kind {
    NoCatalogue,  // no DAT lists anything of this sort: nothing to say
    Verified,
    Mismatch,     // an entry with the header's game code lists other bytes
    NotListed,
  } kind = Kind::NoCatalogue;
  std::string name;                 // Verified, Mismatch: the game's name in the DAT
  std::string dat;                  // Verified, Mismatch: the DAT that lists it
  std::vector<std::string> differs; // Mismatch: "size", "CRC32", "MD5", "SHA-1", "SHA-256"
  std::string listed;               // Mismatch: what the DAT lists, e.g. "size (0x800000) and CRC32 (0123ABCD)"
  std::string meaning;              // Mismatch: what such a difference usually means
};

// `save`: the facts are of save memory (sr), matched against the DATs'
// save entries only; otherwise against their ROM entries, and by game code
// when the dump has a header.
DatVerdict match_dump(const std::vector<DatFile>& dats, const DumpFacts& facts, bool save);

// The one line that tells the user; nothing for NoCatalogue.
void print_dat_verdict(Output& con, const DatVerdict& verdict);

}  // namespace kartex
