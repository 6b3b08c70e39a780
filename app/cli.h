#pragma once
// The command line: the command word and its arguments, with the options
// before or after them; "--" ends the options.

#include <cstdint>
#include <string>
#include <vector>

#include "common/parse_number.h"
#include "cart/commands.h"
#include "app/transport.h"

namespace kartex {

// In the order the words are tested.
enum class Command { FR, VTS, FW, FE, FA, SR, SW, RTC, INFO };

const char* command_word(Command command);

struct Invocation {
  Command command = Command::FR;
  std::string file_name;     // empty when the command word came without one
  // fr and sr without a file name: the dump is named after the cartridge's
  // header once it has been read.
  bool default_name = false;
  std::int32_t start_offset = NOT_GIVEN;
  std::int32_t length = NOT_GIVEN;
  EepromOrder eeprom_order = EepromOrder::Tool;  // --eeprom-order, for sr and sw
  WriteOptions write;  // --no-verify, --all-blocks, for fw, fa and sw
  bool plain_video = false;  // --video=plain, for vts
  std::string files_folder;  // --files, for rtc; empty: the current directory
  bool yes = false;          // --yes: fe erases without asking
  std::vector<std::string> dat_files;  // --dat FILE, as often as given: catalogues to check a dump against
  std::string report_file;   // --report FILE: the run's result as JSON; empty for none
  bool clock = false;        // --rtc: sr and sw keep the cartridge clock after the save's bytes
  bool set_clock = false;    // --set-clock: info first sets the cartridge clock to the host's time
};

struct CommandLine {
  enum class Action { Run, Help, Version, Usage } action = Action::Run;
  TransportOptions transport;
  Invocation invocation;
  // With Usage: what was wrong, one line for standard error after the usage.
  std::string usage_note;
};

// Throws Failure for an option, number or argument the tool refuses.
CommandLine parse_command_line(const std::vector<std::string>& args);

constexpr const char* DEFAULT_PROGRAM_FILE = "rtcset.gba";

}  // namespace kartex
