#include "cart/dat_file.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include <pugixml.hpp>

#include "common/failure.h"
#include "common/output.h"

namespace kartex {

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool all_hex(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::size_t line_of(std::string_view text, std::ptrdiff_t offset) {
  const auto end = static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(offset, 0, static_cast<std::ptrdiff_t>(text.size())));
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
}

struct Reader {
  std::string_view text;
  const std::string& path;

  [[noreturn]] void refuse(const pugi::xml_node& node, const std::string& what) const {
    fail(strprintf("DAT file %s: line %zu: %s", path.c_str(), line_of(text, node.offset_debug()),
                   what.c_str()));
  }

  // A hash of `digits` hex digits, lower case; empty when absent.
  std::string hash(const pugi::xml_node& rom, const char* name, std::size_t digits) const {
    const pugi::xml_attribute a = rom.attribute(name);
    if (!a) return {};
    const std::string value = lower(a.value());
    if (value.size() != digits || !all_hex(value))
      refuse(rom, strprintf("the %s \"%s\" is not %zu hex digits", name, a.value(), digits));
    return value;
  }

  std::uint64_t size(const pugi::xml_node& rom) const {
    const std::string value = rom.attribute("size").value();
    if (value.empty() || value.size() > 12 ||
        !std::all_of(value.begin(), value.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
      refuse(rom, "the size \"" + value + "\" is not a number of bytes");
    return std::stoull(value);
  }
};

// Game codes are four letters; serials carry them alone ("AXVE"), with the
// platform and region around them ("AGB-AXVE-USA"), or several of them.
std::vector<std::string> codes_in(const std::string& serial) {
  std::vector<std::string> codes;
  std::string part;
  auto take = [&] {
    if (part.size() == 4) codes.push_back(part);
    part.clear();
  };
  for (char c : serial) {
    if (std::isalnum(static_cast<unsigned char>(c))) part += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    else take();
  }
  take();
  return codes;
}

}  // namespace

bool names_save_file(const std::string& file) {
  const std::string name = lower(file);
  for (const char* ext : {".sav", ".srm", ".eep", ".fla"})
    if (name.ends_with(ext)) return true;
  return false;
}

DatFile parse_dat_text(std::string_view xml, const std::string& path) {
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
  if (!parsed)
    fail(strprintf("DAT file %s: line %zu: %s", path.c_str(), line_of(xml, parsed.offset),
                   parsed.description()));
  const pugi::xml_node root = doc.document_element();
  if (std::string_view(root.name()) != "datafile")
    fail(strprintf("DAT file %s: not a Logiqx DAT (its root element is <%s>, not <datafile>)",
                   path.c_str(), root.name()));
  const Reader reader{xml, path};
  DatFile dat;
  dat.path = path;
  dat.name = root.child("header").child_value("name");
  if (dat.name.empty()) dat.name = path;
  for (const pugi::xml_node& game : root.children()) {
    const std::string_view kind = game.name();
    if (kind != "game" && kind != "machine") continue;
    const std::string game_name = game.attribute("name").value();
    if (game_name.empty()) reader.refuse(game, std::string("a <") + game.name() + "> without a name");
    std::string game_serial = game.attribute("serial").value();
    if (game_serial.empty()) game_serial = game.child_value("serial");
    for (const pugi::xml_node& rom : game.children("rom")) {
      DatEntry e;
      e.game = game_name;
      e.file = rom.attribute("name").value();
      e.size = reader.size(rom);
      const std::string crc = reader.hash(rom, "crc", 8);
      if (!crc.empty()) e.crc32 = static_cast<std::uint32_t>(std::stoul(crc, nullptr, 16));
      e.md5 = reader.hash(rom, "md5", 32);
      e.sha1 = reader.hash(rom, "sha1", 40);
      e.sha256 = reader.hash(rom, "sha256", 64);
      if (!e.crc32 && e.sha1.empty() && e.md5.empty() && e.sha256.empty())
        reader.refuse(rom, "a <rom> of \"" + game_name + "\" without any hash");
      const std::string serial = rom.attribute("serial").value();
      e.codes = codes_in(serial.empty() ? game_serial : serial);
      dat.entries.push_back(std::move(e));
    }
  }
  return dat;
}

DatFile read_dat_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("DAT file " + path + ": cannot be opened");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) fail("DAT file " + path + ": cannot be read");
  return parse_dat_text(text.str(), path);
}

}  // namespace kartex
