#pragma once
// The file a dump gets when none is named: "TITLE (GAMECODE).gba" for a ROM,
// ".sav" for a save, made safe as a file name on every system the tool runs
// on.

#include <string>

#include "cart/rom_report.h"

namespace kartex {

// `header`: nullptr when the cartridge has none to read.
std::string default_dump_name(const RomHeader* header, const char* extension);

// `stem` as one file name: no path separator, control character or
// character Windows refuses (each becomes '_'), no leading dot (no hidden
// file, no "." or ".."), no trailing dot or space, and no device name of
// Windows (CON, NUL, COM1, ...) as its base. Empty gives "untitled".
std::string safe_file_stem(const std::string& stem);

}  // namespace kartex
