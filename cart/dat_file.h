#pragma once
// Catalogues of known-good dumps in the Logiqx XML form that ROM managers
// read: <datafile>, then <game> (or <machine>) elements, each with <rom>
// elements carrying name, size and the CRC-32, MD5, SHA-1 and SHA-256 of
// the file. Saves are listed the same way.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kartex {

struct DatEntry {
  std::string game;      // the game's name, what a match is reported by
  std::string file;      // the rom element's file name
  std::uint64_t size = 0;
  std::optional<std::uint32_t> crc32;
  std::string md5, sha1, sha256;  // lower-case hex; empty when not listed
  std::vector<std::string> codes;  // game codes found in its serial ("AGB-AXVE-USA" gives AXVE)
};

struct DatFile {
  std::string path;
  std::string name;  // the header's name, else the file's
  std::vector<DatEntry> entries;
};

// The entries of one DAT; throws Failure with one line (the file, the line
// of the fault and what is wrong) when the file cannot be read or is not a
// well-formed DAT. An entry with a malformed size or hash spoils the file:
// half a catalogue would call good dumps unknown.
DatFile read_dat_file(const std::string& path);
DatFile parse_dat_text(std::string_view xml, const std::string& path);

// Whether a DAT file name lists a save rather than a ROM image.
bool names_save_file(const std::string& file);

}  // namespace kartex
