#include "app/default_name.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kartex {

namespace {

constexpr const char* NO_TITLE = "untitled";

bool refused_character(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr;
}

// Windows opens a device for these names, with any extension.
bool device_name(const std::string& stem) {
  std::string base = stem.substr(0, stem.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  std::transform(base.begin(), base.end(), base.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  static const char* const DEVICES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* d : DEVICES)
    if (base == d) return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
         base[3] >= '0' && base[3] <= '9';
}

// A field of bytes that are not text (an erased header reads 0xFF) names
// nothing.
bool names_something(const std::string& field) {
  return field.find_first_not_of("? ") != std::string::npos;
}

}  // namespace

std::string safe_file_stem(const std::string& stem) {
  std::string out;
  for (unsigned char c : stem) out += refused_character(c) ? '_' : static_cast<char>(c);
  const std::size_t first = out.find_first_not_of(". ");
  out.erase(0, first == std::string::npos ? out.size() : first);
  while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
  if (out.empty()) return NO_TITLE;
  if (device_name(out)) out.insert(0, "_");
  return out;
}

std::string default_dump_name(const RomHeader* header, const char* extension) {
  std::string stem = header && names_something(header->title) ? header->title : NO_TITLE;
  if (header && names_something(header->game_code)) stem += " (" + header->game_code + ")";
  return safe_file_stem(stem) + extension;
}

}  // namespace kartex
