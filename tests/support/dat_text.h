#pragma once
// DAT files of the tests' own making, in the Logiqx XML form.

#include <string>
#include <vector>

#include "common/digests.h"
#include "common/output.h"
#include "tests/support/scripted_cable.h"

namespace kartex::test {

struct DatRom {
  std::string game;
  std::string file;
  std::size_t size = 0;
  DigestSet digests;
  std::string serial;  // empty: none
  bool md5_and_sha256 = true;
};

// The entry a DAT gives these exact bytes.
inline DatRom dat_rom_of(const std::string& game, const std::string& file, const Bytes& data,
                         const std::string& serial = "") {
  Digests d;
  d.update(data);
  return {game, file, data.size(), d.finish(), serial};
}

inline std::string dat_text(const std::vector<DatRom>& roms, const std::string& name = "Test DAT") {
  std::string xml =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
      "\"http://www.logiqx.com/Dats/datafile.dtd\">\n"
      "<datafile>\n  <header>\n    <name>" + name + "</name>\n  </header>\n";
  for (const DatRom& r : roms) {
    xml += "  <game name=\"" + r.game + "\">\n    <description>" + r.game + "</description>\n";
    xml += strprintf("    <rom name=\"%s\" size=\"%zu\" crc=\"%08x\" sha1=\"%s\"", r.file.c_str(), r.size,
                     r.digests.crc32, r.digests.sha1.c_str());
    if (r.md5_and_sha256) xml += " md5=\"" + r.digests.md5 + "\" sha256=\"" + r.digests.sha256 + "\"";
    if (!r.serial.empty()) xml += " serial=\"" + r.serial + "\"";
    xml += "/>\n  </game>\n";
  }
  return xml + "</datafile>\n";
}

}  // namespace kartex::test
