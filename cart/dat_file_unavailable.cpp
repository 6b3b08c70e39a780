// A build without an XML reader (the Windows cross build: mingw has no
// pugixml) reads no DAT files; each one named costs one line, never the dump.
#include "cart/dat_file.h"

#include <algorithm>
#include <cctype>

#include "common/failure.h"

namespace kartex {

bool names_save_file(const std::string& file) {
  std::string name = file;
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* ext : {".sav", ".srm", ".eep", ".fla"})
    if (name.ends_with(ext)) return true;
  return false;
}

DatFile parse_dat_text(std::string_view, const std::string& path) {
  fail("DAT file " + path + ": this build of kartex reads no DAT files");
}

DatFile read_dat_file(const std::string& path) { return parse_dat_text({}, path); }

}  // namespace kartex
