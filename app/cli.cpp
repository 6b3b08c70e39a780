#include "app/cli.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

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
    {"INFO", Command::INFO},
};

constexpr const char* COMMAND_LIST = "fr, fw, fa, fe, sr, sw, rtc, vts and info";

bool same_word(const std::string& arg, const char* word) {
  std::string upper = arg;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper == word;
}

std::string lower_word(Command command) {
  std::string word = command_word(command);
  std::transform(word.begin(), word.end(), word.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return word;
}

std::string unknown_command(const std::string& word) {
  return "unknown command \"" + word + "\"; the commands are " + COMMAND_LIST +
         " (kartex --help tells more)";
}

// What follows the command word, for the line that refuses one argument too many.
const char* arguments_taken(Command command) {
  switch (command) {
    case Command::FE:
    case Command::INFO: return "no arguments";
    case Command::FA: return "a file name, or a file name, 0 and a length";
    case Command::RTC: return "at most one program file name";
    case Command::VTS: return "one video file name";
    default: return "a file name, or a file name, a start offset and a length";
  }
}

int parse_timeout(const std::string& text) {
  char* end = nullptr;
  double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(seconds > 0) || seconds > 86400)
    fail("--timeout takes a number of seconds between 0 and 86400, not \"" + text + "\"");
  return std::max(1, static_cast<int>(seconds * 1000));
}

// A start offset or length, or one line saying what it takes.
std::int32_t number_argument(const std::string& text, const char* what, Suffix suffix) {
  const ParsedNumber n = parse_number(text, suffix);
  switch (n.verdict) {
    case ParsedNumber::Verdict::Ok: return n.value;
    case ParsedNumber::Verdict::Negative:
      fail(strprintf("%s \"%s\" is negative; give a value from 0 to 0x7FFFFFFF", what, text.c_str()));
    case ParsedNumber::Verdict::TooLarge:
      fail(strprintf("%s \"%s\" is too large; give a value from 0 to 0x7FFFFFFF", what, text.c_str()));
    case ParsedNumber::Verdict::NotANumber: break;
  }
  fail(strprintf("%s \"%s\" is not a number; give decimal digits, or hex digits after 0x%s", what,
                 text.c_str(),
                 suffix == Suffix::Applied ? ", with k (x1024) or m (x1048576) at the end if you like"
                                           : " (k and m are for the length only)"));
}

// "-" alone is a file name (standard input or output), and "-5" a number
// that the range check refuses with its own line.
bool looks_like_option(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-' && !std::isdigit(static_cast<unsigned char>(arg[1]));
}

// A lone word that is no command is a video only when there is such a file:
// a mistyped command must not reach the cable as a video to play.
bool is_video_file(const std::string& name) {
  std::error_code ec;
  return std::filesystem::exists(name, ec) && !std::filesystem::is_directory(name, ec);
}

}  // namespace

const char* command_word(Command command) {
  for (const CommandWord& w : COMMAND_WORDS)
    if (w.command == command) return w.word;
  return "?";
}

CommandLine parse_command_line(const std::vector<std::string>& args) {
  CommandLine line;
  std::vector<std::string> words;  // the command word and its arguments
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_ended || !looks_like_option(arg)) {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
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
    } else if (name == "--rtc" && !has_value) {
      line.invocation.clock = true;
    } else if (name == "--set-clock" && !has_value) {
      line.invocation.set_clock = true;
    } else if (name == "--yes" && !has_value) {
      line.invocation.yes = true;
    } else if (name == "--trace") {
      line.transport.trace_path = take_value();
      if (line.transport.trace_path.empty()) fail("--trace needs a file name");
    } else if (name == "--files") {
      line.invocation.files_folder = take_value();
      if (line.invocation.files_folder.empty()) fail("--files needs a folder");
    } else if (name == "--dat") {
      const std::string file = take_value();
      if (file.empty()) fail("--dat needs a file name");
      line.invocation.dat_files.push_back(file);
    } else if (name == "--report") {
      line.invocation.report_file = take_value();
      if (line.invocation.report_file.empty()) fail("--report needs a file name");
      // Standard output carries the tool's own lines.
      if (line.invocation.report_file == "-")
        fail("--report needs a file name; standard output carries the tool's lines");
    } else if (name == "--timeout") {
      line.transport.timeout_ms = parse_timeout(take_value());
    } else {
      fail("unknown option " + name + " (see kartex --help)");
    }
  }

  if (line.transport.sim && line.transport.usb) fail("--usb and --sim exclude each other");

  if (words.empty()) {
    line.action = CommandLine::Action::Usage;
    line.usage_note = "no command given; kartex --help lists the commands and options";
    return line;
  }
  Invocation& inv = line.invocation;
  const CommandWord* match = nullptr;
  for (const CommandWord& w : COMMAND_WORDS)
    if (same_word(words[0], w.word)) {
      match = &w;
      break;
    }
  if (!match) {
    if (words.size() != 1) {
      line.action = CommandLine::Action::Usage;
      line.usage_note = unknown_command(words[0]);
      return line;
    }
    if (!is_video_file(words[0])) fail(unknown_command(words[0]));
    inv.command = Command::VTS;
    inv.file_name = words[0];
    if (!inv.report_file.empty()) fail("--report is for the commands with a result; vts has none to report");
    return line;
  }
  inv.command = match->command;
  const std::vector<std::string> rest(words.begin() + 1, words.end());

  // How many words may follow the command word.
  std::size_t most = 1;
  switch (inv.command) {
    case Command::FE:
    case Command::INFO: most = 0; break;
    case Command::RTC:
    case Command::VTS: most = 1; break;
    default: most = 3; break;
  }
  if (rest.size() > most)
    fail(strprintf("%s takes %s; \"%s\" is one argument too many", lower_word(inv.command).c_str(),
                   arguments_taken(inv.command), rest[most].c_str()));

  if (inv.clock && inv.command != Command::SR && inv.command != Command::SW)
    fail(strprintf("--rtc is for sr and sw, which keep the cartridge clock after the save; %s does not",
                   lower_word(inv.command).c_str()));
  if (inv.set_clock && inv.command != Command::INFO)
    fail(strprintf("--set-clock is for info (kartex info --set-clock); %s does not set the clock",
                   lower_word(inv.command).c_str()));
  if (inv.clock && rest.size() == 3)
    fail("--rtc keeps the whole save with the clock behind it; give no start offset and length");
  if (!rest.empty()) inv.file_name = rest[0];
  if ((inv.command == Command::FR || inv.command == Command::SR) && rest.empty()) inv.default_name = true;
  if (!inv.report_file.empty() && (inv.command == Command::RTC || inv.command == Command::VTS))
    fail(strprintf("--report is for the commands with a result (fr, fw, fa, fe, sr, sw and info); "
                   "%s has none to report",
                   lower_word(inv.command).c_str()));
  if (inv.command == Command::VTS && rest.empty()) inv.file_name = words[0];
  if (inv.command == Command::RTC && rest.empty()) inv.file_name = DEFAULT_PROGRAM_FILE;
  if (most == 3 && rest.size() == 2)
    fail(strprintf("start offset \"%s\" without a length; a start offset needs a length after it: "
                   "kartex %s FILE START LENGTH",
                   rest[1].c_str(), lower_word(inv.command).c_str()));
  if (rest.size() == 3) {
    inv.start_offset = number_argument(rest[1], "start offset", Suffix::Ignored);
    inv.length = number_argument(rest[2], "length", Suffix::Applied);
    // fa finds its own start behind what the cartridge holds; a start offset
    // other than 0 would be one the write does not go to.
    if (inv.command == Command::FA) {
      if (inv.start_offset != 0)
        fail(strprintf("fa writes behind what the cartridge already holds and takes no start "
                       "offset (\"%s\"): give 0 before the length, as in kartex fa FILE 0 LENGTH",
                       rest[1].c_str()));
      inv.start_offset = NOT_GIVEN;
    }
  }
  return line;
}

}  // namespace kartex
