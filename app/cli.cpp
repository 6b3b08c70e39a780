#include "app/cli.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "common/output.h"
#include "common/failure.h"

namespace kartex {

namespace {

struct CommandWord {
  const char* word;
  Command command;
};

constexpr CommandWord COMMAND_WORDS[] = {
    {"FR", Command::FR}, {"VTS", Command::VTS}, {"FW", Command::FW}, {"FE", Command::FE},
    {"FA", Command::FA}, {"SR", Command::SR},   {"SW", Command::SW}, {"RTC", Command::RTC},
};

bool same_word(const std::string& arg, const char* word) {
  std::string upper = arg;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper == word;
}

bool uses_range(Command command) {
  return command == Command::FR || command == Command::FW || command == Command::FA ||
         command == Command::SR || command == Command::SW;
}

int parse_timeout(const std::string& text) {
  char* end = nullptr;
  double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(seconds > 0) || seconds > 86400)
    fail("--timeout takes a number of seconds between 0 and 86400, not \"" + text + "\"");
  return std::max(1, static_cast<int>(seconds * 1000));
}

// A negative value other than the absent marker would make negative piece
// sizes further on.
std::int32_t checked(std::int32_t value, const char* what, const std::string& text) {
  if (value < 0 && value != NOT_GIVEN)
    fail(strprintf("%s \"%s\" is negative (0x%X); give a value from 0 to 0x7FFFFFFF", what,
                   text.c_str(), static_cast<unsigned>(value)));
  return value;
}

}  // namespace

const char* command_word(Command command) {
  for (const CommandWord& w : COMMAND_WORDS)
    if (w.command == command) return w.word;
  return "?";
}

CommandLine parse_command_line(const std::vector<std::string>& args) {
  CommandLine line;
  std::size_t i = 0;
  // Global options come before the command word.
  for (; i < args.size() && args[i].rfind("-", 0) == 0 && args[i].size() > 1; ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      ++i;
      break;
    }
    std::string name = arg;
    std::string value;
    bool has_value = false;
    if (auto eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      has_value = true;
    }
    auto take_value = [&]() -> std::string {
      if (has_value) return value;
      if (i + 1 >= args.size()) fail("option " + name + " needs a value");
      return args[++i];
    };
    if (name == "--help" || name == "-h") {
      line.action = CommandLine::Action::Help;
      return line;
    } else if (name == "--version") {
      line.action = CommandLine::Action::Version;
      return line;
    } else if (name == "--usb") {
      std::string text = take_value();
      line.transport.usb = parse_usb_id(text);
      if (!line.transport.usb) fail("--usb takes VID:PID in hex, such as 1234:abcd, not \"" + text + "\"");
    } else if (name == "--sim") {
      // A bare --sim takes the defaults: the next word is the command.
      line.transport.sim = parse_sim_options(has_value ? value : "");
    } else if (name == "--eeprom-order") {
      const std::string order = take_value();
      if (order == "tool") line.invocation.eeprom_order = EepromOrder::Tool;
      else if (order == "emulator") line.invocation.eeprom_order = EepromOrder::Emulator;
      else fail("--eeprom-order takes tool or emulator, not \"" + order + "\"");
    } else if (name == "--video") {
      const std::string kind = take_value();
      if (kind == "plain") line.invocation.plain_video = true;
      else if (kind == "changes") line.invocation.plain_video = false;
      else fail("--video takes changes or plain, not \"" + kind + "\"");
    } else if (name == "--no-verify" && !has_value) {
      line.invocation.write.verify = false;
    } else if (name == "--all-blocks" && !has_value) {
      line.invocation.write.all_blocks = true;
    } else if (name == "--trace") {
      line.transport.trace_path = take_value();
      if (line.transport.trace_path.empty()) fail("--trace needs a file name");
    } else if (name == "--files") {
      line.invocation.files_folder = take_value();
      if (line.invocation.files_folder.empty()) fail("--files needs a folder");
    } else if (name == "--timeout") {
      line.transport.timeout_ms = parse_timeout(take_value());
    } else {
      fail("unknown option " + name + " (see kartex --help)");
    }
  }

  if (line.transport.sim && line.transport.usb) fail("--usb and --sim exclude each other");

  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (rest.empty()) {
    line.action = CommandLine::Action::Usage;
    return line;
  }
  Invocation& inv = line.invocation;
  const CommandWord* match = nullptr;
  for (const CommandWord& w : COMMAND_WORDS)
    if (same_word(rest[0], w.word)) {
      match = &w;
      break;
    }
  if (!match) {
    // A lone unknown word is a video file to play.
    if (rest.size() != 1) {
      line.action = CommandLine::Action::Usage;
      return line;
    }
    inv.command = Command::VTS;
    inv.file_name = rest[0];
    return line;
  }
  inv.command = match->command;
  if (rest.size() >= 2) inv.file_name = rest[1];
  if (inv.command == Command::VTS && rest.size() == 1) inv.file_name = rest[0];
  if (inv.command == Command::RTC && rest.size() == 1) inv.file_name = DEFAULT_PROGRAM_FILE;
  // A start offset without a length is ignored, as is a start offset for FA.
  if (uses_range(inv.command) && rest.size() >= 4) {
    inv.start_offset = checked(parse_number(rest[2], Suffix::Ignored), "start offset", rest[2]);
    inv.length = checked(parse_number(rest[3], Suffix::Applied), "length", rest[3]);
  }
  return line;
}

}  // namespace kartex
