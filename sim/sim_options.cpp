#include <algorithm>
#include <functional>
#include <string_view>

#include "link/failure.h"
#include "sim/sim_pipes.h"

namespace kartex {

namespace {

struct OptionKey {
  const char* name;
  bool takes_value;
  std::function<void(SimOptions&, const std::string&)> apply;
};

// One row per key; later keys (chip, size, mapper, save, ...) are added here.
const OptionKey& find_key(std::string_view name) {
  static const OptionKey KEYS[] = {
      {"rom", true, [](SimOptions& o, const std::string& v) { o.rom_file = v; }},
      {"state", true, [](SimOptions& o, const std::string& v) { o.state_dir = v; }},
      {"stats", false, [](SimOptions& o, const std::string&) { o.stats = true; }},
  };
  for (const OptionKey& key : KEYS)
    if (name == key.name) return key;
  std::string known;
  for (const OptionKey& key : KEYS) known += std::string(known.empty() ? "" : ", ") + key.name;
  fail("--sim: unknown option '" + std::string(name) + "' (known: " + known + ")");
}

}  // namespace

SimOptions parse_sim_options(const std::string& text) {
  SimOptions options;
  std::size_t at = 0;
  while (at <= text.size() && !text.empty()) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string item = text.substr(at, comma - at);
    at = comma + 1;
    if (item.empty()) fail("--sim: empty option in '" + text + "'");
    const std::size_t eq = item.find('=');
    const std::string name = item.substr(0, eq);
    const OptionKey& key = find_key(name);
    if (key.takes_value) {
      if (eq == std::string::npos || eq + 1 == item.size())
        fail("--sim: option '" + name + "' needs a value (" + name + "=...)");
      key.apply(options, item.substr(eq + 1));
    } else {
      if (eq != std::string::npos) fail("--sim: option '" + name + "' takes no value");
      key.apply(options, {});
    }
  }
  return options;
}

}  // namespace kartex
