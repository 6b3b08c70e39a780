#include <algorithm>
#include <functional>
#include <string_view>

#include "common/failure.h"
#include "sim/decimal_text.h"
#include "sim/cart/flash_catalog.h"
#include "sim/console/mgba/mgba_cart.h"
#include "sim/save/save_build.h"
#include "sim/sim_pipes.h"

namespace kartex {

namespace {

struct OptionKey {
  const char* name;
  bool takes_value;
  std::string help;
  std::function<void(SimOptions&, const std::string&)> apply;
  // The value is a comma-separated list: the items after it that have an @
  // and no = belong to it.
  bool list = false;
};

std::uint32_t parse_size(const std::string& v) {
  std::string digits = v;
  if (!digits.empty() && (digits.back() == 'M' || digits.back() == 'm')) digits.pop_back();
  const auto number = decimal_text(digits, 3);
  if (!number) fail("--sim: size takes a number of MiB such as 16 or 16M, not '" + v + "'");
  const auto mib = static_cast<std::uint32_t>(*number);
  if (mib == 0 || mib > 128) fail("--sim: size must be 1 to 128 MiB, not '" + v + "'");
  return mib;
}

void parse_chip(SimOptions& o, const std::string& v) {
  if (!find_rom_option(v)) fail("--sim: no flash ROM chip=" + v + " (see --sim=help for the list)");
  o.chip = v;
}

std::uint64_t parse_in_range(const char* key, const std::string& v, std::uint64_t low, std::uint64_t high,
                             const char* unit) {
  const auto number = decimal_text(v, 9);
  const std::uint64_t n = number.value_or(0);
  if (!number || n < low || n > high)
    fail(std::string("--sim: ") + key + " takes " + std::to_string(low) + " to " + std::to_string(high) + " " +
         unit + ", not '" + v + "'");
  return n;
}

void parse_core(SimOptions& o, const std::string& v) {
  if (v == "unicorn") o.core = SimCore::Unicorn;
  else if (v == "mgba") o.core = SimCore::Mgba;
  else fail("--sim: core takes unicorn or mgba, not '" + v + "'");
}

void parse_video_clock(SimOptions& o, const std::string& v) {
  if (v == "host") o.video_clock_hardware = false;
  else if (v == "hardware") o.video_clock_hardware = true;
  else fail("--sim: video-clock takes host or hardware, not '" + v + "'");
}

void parse_loader(SimOptions& o, const std::string& v) {
  if (v == "bios") o.loader = Loader::Bios;
  else if (v == "direct") o.loader = Loader::Direct;
  else fail("--sim: loader takes bios or direct, not '" + v + "'");
}

void parse_chip_times(SimOptions& o, const std::string& v) {
  if (v == "typical") o.chip_times_max = false;
  else if (v == "max") o.chip_times_max = true;
  else fail("--sim: chip-times takes typical or max, not '" + v + "'");
}

void parse_protect(SimOptions& o, const std::string& v) {
  const bool hex = v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X');
  const std::string digits = hex ? v.substr(2) : v;
  const bool ok = !digits.empty() && digits.size() <= 8 &&
                  std::all_of(digits.begin(), digits.end(), hex ? ::isxdigit : ::isdigit);
  const std::uint64_t offset = ok ? std::stoull(digits, nullptr, hex ? 16 : 10) : 0;
  if (!ok || offset >= 0x8000000)
    fail("--sim: protect takes a ROM offset such as 0xF0000, not '" + v + "'");
  o.protect.push_back(static_cast<std::uint32_t>(offset));
}

void parse_rtc(SimOptions& o, const std::string& v) {
  o.rtc_power_lost = v == "lost";
  o.rtc = o.rtc_power_lost ? ClockTime{} : parse_clock_time(v);
  if (!o.rtc)
    fail("--sim: rtc takes a time YYYY-MM-DDTHH:MM:SS between 2000-01-01T00:00:00 and 2099-12-31T23:59:59, "
         "or lost, not '" + v + "'");
}

void parse_mapper(SimOptions& o, const std::string& v) {
  if (v == "on") o.mapper = true;
  else if (v == "off") o.mapper = false;
  else fail("--sim: mapper takes on or off, not '" + v + "'");
  o.mapper_given = true;
}

const std::vector<OptionKey>& keys() {
  static const std::vector<OptionKey> KEYS = {
      {"core", true,
       "unicorn|mgba: the console model that runs the agent: unicorn (default), our own hardware models on an "
       "ARMv5 CPU; mgba, the emulator library's GBA (ARM7TDMI) with its own ROM and save chips (see below)",
       parse_core},
      {"loader", true,
       "bios|direct: how the console starts an upload: bios (default), as the console's BIOS does after a "
       "multiboot transfer (checks the header, branch at 0, boot-mode bytes, registers reset, entry at 0xC0 in "
       "system mode); direct, from 0x02000000 with the loader's interrupts left on",
       parse_loader},
      {"rom", true, "FILE: ROM contents (default: a generated 4 MiB mask ROM; flash: blank)",
       [](SimOptions& o, const std::string& v) { o.rom_file = v; }},
      {"chip", true, "KIND/CODE: a flash ROM cartridge, e.g. 3/8802 (list below)", parse_chip},
      {"size", true, "MIB: the cartridge's size where it comes in several (e.g. 64 or 64M)",
       [](SimOptions& o, const std::string& v) { o.size_mib = parse_size(v); }},
      {"mapper", true, "on|off: whether the flash cartridge has the mapper (default on; the CFI chips' boards have none)",
       parse_mapper},
      {"mirror", false,
       "the cartridge's ROM repeats through the 32 MiB window past its end, as a ROM chip or a flash board "
       "that decodes fewer address lines does (default: open bus past the end)",
       [](SimOptions& o, const std::string&) { o.mirror = true; }},
      {"protect", true,
       "OFFSET: the sector of the JEDEC flash ROM (chip=5/22da or 6/22c4) that holds ROM offset OFFSET is "
       "protected, as a programmer leaves it: it ignores erase and program; repeatable",
       parse_protect},
      {"d0d1", false,
       "the flash board of a CFI chip swaps data lines D0 and D1 between the edge and the chip, for commands "
       "and data alike, as many reproduction boards do",
       [](SimOptions& o, const std::string&) { o.d0d1 = true; }},
      {"rtc", true,
       "YYYY-MM-DDTHH:MM:SS|lost: the cartridge has the GPIO real-time clock of the games with one (a mask ROM, "
       "or the board of an AMD-command CFI chip: chip=10/2221, 10/2222 or 10/22f9), set to that time in 24-hour mode and running on the simulated hardware time; lost: its battery ran "
       "dry (status 0x82, 2000-01-01 00:00:00)",
       parse_rtc},
      {"chip-times", true,
       "typical|max: how long the flash ROM chips and FLASH save parts take to erase and program: typical "
       "(default), their data sheets' typical figures; max, the longest the sheets allow",
       parse_chip_times},
      {"save", true, "PART: the save chip (list below; default none)",
       [](SimOptions& o, const std::string& v) {
         check_save_option(v);
         o.save = v;
       }},
      {"save-image", true, "FILE: the save chip's first contents, exactly its size (default: erased)",
       [](SimOptions& o, const std::string& v) { o.save_image = v; }},
      {"save-fault", true,
       "KIND@N: the FLASH save chip's 4 KiB sector N does not take what is programmed, while the chip reports "
       "it done; repeatable.\n"
       "             weak@N[:TIMES]  the first TIMES programs there (default 1; a byte, or a page on the page "
       "part) leave the cells as they were: a weak sector that takes on a later try;\n"
       "             dead@N          every program there does: a worn-out sector",
       [](SimOptions& o, const std::string& v) { o.save_faults.push_back(parse_save_fault(v)); }},
      {"state", true, "DIR: keep cable, console and cartridge between runs",
       [](SimOptions& o, const std::string& v) { o.state_dir = v; }},
      {"swap", false, "with state=DIR: the cartridge of rom=, chip=, size=, mapper=, mirror, protect=, d0d1, rtc=, save=, save-image=, "
                      "save-fault= replaces the kept one; cable and console keep running",
       [](SimOptions& o, const std::string&) { o.swap = true; }},
      {"fault", true,
       "KIND@N: a fault when the cable is about to move link word N of the run (0: the first); repeatable.\n"
       "             flip@N[:BIT]  word N crosses with bit BIT (default 0) inverted\n"
       "             unplug@N      the cable is unplugged: that call and every later one fail, its registers are lost\n"
       "             hang@N        the console hangs from then on (kept with state=) until the link handshake\n"
       "             stall@N       the pipe transfer carrying word N never completes, until a pipe reset\n"
       "             power@N       the console is switched off and on: no program runs, the cable keeps its registers\n"
       "             lose@N        word N is clocked before the console's port is started: a word to the console is "
       "lost, one from it reads all ones",
       [](SimOptions& o, const std::string& v) { o.faults.push_back(parse_link_fault(v)); }},
      {"link-clock", true, "HZ: the cable's clock on the link port, 32 bit times a word (default 2000000)",
       [](SimOptions& o, const std::string& v) { o.link_hz = parse_in_range("link-clock", v, 100'000, 4'000'000, "Hz"); }},
      {"usb-latency", true,
       "US: USB turn-around of a transfer the host waits a reply for; one it only sends costs an eighth "
       "(default 1000)",
       [](SimOptions& o, const std::string& v) { o.usb_latency_us = parse_in_range("usb-latency", v, 0, 100'000, "microseconds"); }},
      {"stats", false,
       "print at the end: words moved, instructions run, and the hardware time the run took with the share "
       "the link was busy",
       [](SimOptions& o, const std::string&) { o.stats = true; }},
      {"screens", true, "DIR: a picture DIR/NNNNNN.png (from 000001) each time the displayed page switches",
       [](SimOptions& o, const std::string& v) { o.screens_dir = v; }},
      {"keys", true, std::string("LIST: ") + KEY_SCRIPT_HELP,
       [](SimOptions& o, const std::string& v) { o.keys = parse_key_script(v); }, true},
      {"video-clock", true,
       "host|hardware: what vts's playback follows: host, the host's clock, with the player's window and "
       "sound (default); hardware, the console's hardware time, without window or sound, so that a run shows "
       "the same pictures at the same simulated moments whatever the host's speed",
       parse_video_clock},
      {"help", false, "this list", [](SimOptions& o, const std::string&) { o.help = true; }},
  };
  return KEYS;
}

const OptionKey& find_key(std::string_view name) {
  for (const OptionKey& key : keys())
    if (name == key.name) return key;
  std::string known;
  for (const OptionKey& key : keys()) known += std::string(known.empty() ? "" : ", ") + key.name;
  fail("--sim: unknown option '" + std::string(name) + "' (known: " + known + ")");
}

}  // namespace

SimOptions parse_sim_options(const std::string& text) {
  SimOptions options;
  std::size_t at = 0;
  while (at <= text.size() && !text.empty()) {
    std::size_t comma = std::min(text.find(',', at), text.size());
    std::string item = text.substr(at, comma - at);
    at = comma + 1;
    if (item.empty()) fail("--sim: empty option in '" + text + "'");
    const std::size_t eq = item.find('=');
    const std::string name = item.substr(0, eq);
    const OptionKey& key = find_key(name);
    while (key.list && at < text.size()) {
      comma = std::min(text.find(',', at), text.size());
      const std::string next = text.substr(at, comma - at);
      if (next.find('@') == std::string::npos || next.find('=') != std::string::npos) break;
      item += "," + next;
      at = comma + 1;
    }
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

std::string sim_help_text() {
  std::string text = "--sim=KEY[=VALUE],... keys:\n";
  for (const OptionKey& key : keys()) {
    std::string left = std::string("  ") + key.name;
    left.resize(std::max<std::size_t>(13, left.size() + 1), ' ');
    text += left + key.help + "\n";
  }
  text += "save=PART save chips (FLASH: maker and device byte):\n" + save_options_help();
  text += mgba_cart_help();
  text += "chip=KIND/CODE flash ROMs (KIND/CODE, chips, sizes, erase blocks):\n";
  return text + rom_options_help();
}

}  // namespace kartex
