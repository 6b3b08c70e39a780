// The command line: numbers, words and options, and the built binary's
// behaviour without a cable.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "app/cli.h"
#include "common/failure.h"
#include "tests/support/run_binary.h"
#include "tests/support/usage_text.h"

namespace kartex::test {
namespace {

TEST(ParseNumber, WholeNumbersOfTheirBaseOnly) {
  using V = ParsedNumber::Verdict;
  struct Case {
    const char* text;
    Suffix suffix;
    V verdict;
    std::int32_t value;
  };
  const Case cases[] = {
      {"64k", Suffix::Applied, V::Ok, 65536},       {"2m", Suffix::Applied, V::Ok, 2097152},
      {"2M", Suffix::Applied, V::Ok, 2097152},      {"0x40k", Suffix::Applied, V::Ok, 65536},
      {"0x10", Suffix::Applied, V::Ok, 16},         {"010", Suffix::Applied, V::Ok, 10},
      {"0x1fK", Suffix::Applied, V::Ok, 0x7C00},    {"3M", Suffix::Applied, V::Ok, 0x300000},
      {"0xFFFF", Suffix::Ignored, V::Ok, 0xFFFF},   {"0", Suffix::Ignored, V::Ok, 0},
      {"0x7FFFFFFF", Suffix::Ignored, V::Ok, 0x7FFFFFFF},
      {"2147483647", Suffix::Applied, V::Ok, 0x7FFFFFFF},
      {"2047m", Suffix::Applied, V::Ok, 0x7FF00000},
      // An upper-case X is no hex prefix, and 0X10 is no decimal number.
      {"0X10", Suffix::Applied, V::NotANumber, 0},  {"0xZZ", Suffix::Ignored, V::NotANumber, 0},
      {"abc", Suffix::Ignored, V::NotANumber, 0},   {"1q", Suffix::Applied, V::NotANumber, 0},
      {"12abc", Suffix::Applied, V::NotANumber, 0}, {"8k", Suffix::Ignored, V::NotANumber, 0},
      {"", Suffix::Applied, V::NotANumber, 0},      {"k", Suffix::Applied, V::NotANumber, 0},
      {"0x", Suffix::Applied, V::NotANumber, 0},    {"0xk", Suffix::Applied, V::NotANumber, 0},
      {"0xg", Suffix::Applied, V::NotANumber, 0},   {"64kk", Suffix::Applied, V::NotANumber, 0},
      {"  42", Suffix::Ignored, V::NotANumber, 0},  {"+7", Suffix::Ignored, V::NotANumber, 0},
      {"1e3", Suffix::Ignored, V::NotANumber, 0},   {"0b101", Suffix::Ignored, V::NotANumber, 0},
      {"-1", Suffix::Applied, V::Negative, 0},      {"-5", Suffix::Applied, V::Negative, 0},
      {"-0x10", Suffix::Ignored, V::Negative, 0},   {"-1k", Suffix::Applied, V::Negative, 0},
      {"99999999999", Suffix::Applied, V::TooLarge, 0},
      {"2147483648", Suffix::Ignored, V::TooLarge, 0},
      {"0x80000000", Suffix::Ignored, V::TooLarge, 0},
      {"0xFFFFFFFF", Suffix::Ignored, V::TooLarge, 0},
      {"0x123456789", Suffix::Ignored, V::TooLarge, 0},
      {"2048m", Suffix::Applied, V::TooLarge, 0},   {"4096m", Suffix::Applied, V::TooLarge, 0},
      {"99999999999999999999999", Suffix::Applied, V::TooLarge, 0},
  };
  for (const Case& tc : cases) {
    const ParsedNumber n = parse_number(tc.text, tc.suffix);
    EXPECT_EQ(n.verdict, tc.verdict) << tc.text;
    EXPECT_EQ(n.value, tc.value) << tc.text;
  }
}

TEST(CommandLine, WordsFilesAndRanges) {
  struct Case {
    std::vector<std::string> args;
    CommandLine::Action action;
    Command command;
    const char* file;
    std::int32_t start, length;
  };
  using A = CommandLine::Action;
  const Case cases[] = {
      {{}, A::Usage, Command::FR, "", -1, -1},
      {{"fr", "a.gba"}, A::Run, Command::FR, "a.gba", -1, -1},
      {{"FR", "a.gba", "0x100", "2k"}, A::Run, Command::FR, "a.gba", 0x100, 2048},
      {{"Sw", "s.sav", "0", "8k"}, A::Run, Command::SW, "s.sav", 0, 8192},
      {{"fe"}, A::Run, Command::FE, "", -1, -1},
      {{KARTEX_README}, A::Run, Command::VTS, KARTEX_README, -1, -1},
      {{"VTS"}, A::Run, Command::VTS, "VTS", -1, -1},
      {{"vts", "clip.mp4"}, A::Run, Command::VTS, "clip.mp4", -1, -1},
      {{"rtc"}, A::Run, Command::RTC, "rtcset.gba", -1, -1},
      {{"rtc", "prog.gba"}, A::Run, Command::RTC, "prog.gba", -1, -1},
      {{"movie.avi", "more"}, A::Usage, Command::FR, "", -1, -1},
      // fa finds its own start: 0 stands in front of the length.
      {{"fa", "f.bin", "0", "0x8000"}, A::Run, Command::FA, "f.bin", -1, 0x8000},
      // Options after the command word, and "--" ending them.
      {{"fw", "f.bin", "--no-verify"}, A::Run, Command::FW, "f.bin", -1, -1},
      {{"fw", "f.bin", "0", "16", "--all-blocks"}, A::Run, Command::FW, "f.bin", 0, 16},
      {{"--sim", "fr", "--help"}, A::Help, Command::FR, "", -1, -1},
      {{"fr", "--", "--help"}, A::Run, Command::FR, "--help", -1, -1},
      {{"--", "fr", "--help", "0", "4"}, A::Run, Command::FR, "--help", 0, 4},
      {{"fr", "./--help"}, A::Run, Command::FR, "./--help", -1, -1},
      {{"fr", "-"}, A::Run, Command::FR, "-", -1, -1},
      {{"fr"}, A::Run, Command::FR, "", -1, -1},
      {{"--help", "fr"}, A::Help, Command::FR, "", -1, -1},
      {{"--version"}, A::Version, Command::FR, "", -1, -1},
      {{"--timeout", "5", "--", "fa", "f"}, A::Run, Command::FA, "f", -1, -1},
  };
  for (const Case& tc : cases) {
    std::string joined;
    for (const auto& a : tc.args) joined += a + " ";
    SCOPED_TRACE(joined);
    CommandLine line = parse_command_line(tc.args);
    EXPECT_EQ(line.action, tc.action);
    if (tc.action != A::Run) continue;
    EXPECT_EQ(line.invocation.command, tc.command);
    EXPECT_EQ(line.invocation.file_name, tc.file);
    EXPECT_EQ(line.invocation.start_offset, tc.start);
    EXPECT_EQ(line.invocation.length, tc.length);
  }
}

TEST(CommandLine, GlobalOptionsAndRefusals) {
  CommandLine line = parse_command_line({"--usb", "0x1234:ABCD", "--trace=t.txt", "--timeout=2.5", "fe"});
  ASSERT_TRUE(line.transport.usb);
  EXPECT_EQ(line.transport.usb->vendor, 0x1234);
  EXPECT_EQ(line.transport.usb->product, 0xABCD);
  EXPECT_EQ(line.transport.trace_path, "t.txt");
  EXPECT_EQ(line.transport.timeout_ms, 2500);
  EXPECT_EQ(line.invocation.eeprom_order, EepromOrder::Tool);
  EXPECT_EQ(parse_command_line({"--eeprom-order", "emulator", "sr", "s.sav"}).invocation.eeprom_order,
            EepromOrder::Emulator);
  EXPECT_FALSE(line.invocation.plain_video);
  EXPECT_TRUE(parse_command_line({"--video=plain", "vts", "a.avi"}).invocation.plain_video);
  EXPECT_FALSE(parse_command_line({"--video", "changes", "vts", "a.avi"}).invocation.plain_video);
  EXPECT_FALSE(parse_command_line({"fe"}).invocation.yes);
  EXPECT_TRUE(parse_command_line({"fe", "--yes"}).invocation.yes);
  EXPECT_FALSE(parse_command_line({"fw", "f.bin", "--no-verify"}).invocation.write.verify);
  EXPECT_TRUE(parse_command_line({"--sim", "fr", "r.bin"}).transport.sim.has_value());
  EXPECT_TRUE(parse_command_line({"fr", "r.bin", "--sim"}).transport.sim.has_value());

  struct Refusal {
    std::vector<std::string> args;
    const char* message;
  };
  const Refusal refusals[] = {
      {{"fr", "a", "-2", "16"}, "start offset \"-2\" is negative; give a value from 0 to 0x7FFFFFFF"},
      {{"sr", "a", "0", "-1k"}, "length \"-1k\" is negative; give a value from 0 to 0x7FFFFFFF"},
      {{"fr", "a", "0", "-1"}, "length \"-1\" is negative; give a value from 0 to 0x7FFFFFFF"},
      {{"fw", "a", "0x80000000", "4"}, "start offset \"0x80000000\" is too large; give a value from 0 to 0x7FFFFFFF"},
      {{"fr", "a", "0", "99999999999"}, "length \"99999999999\" is too large; give a value from 0 to 0x7FFFFFFF"},
      {{"fr", "r.bin", "0xZZ", "0x100"}, "start offset \"0xZZ\" is not a number; give decimal digits, or hex digits after 0x (k and m are for the length only)"},
      {{"fr", "r.bin", "abc", "16"}, "start offset \"abc\" is not a number; give decimal digits, or hex digits after 0x (k and m are for the length only)"},
      {{"sw", "s.sav", "8k", "8k"}, "start offset \"8k\" is not a number; give decimal digits, or hex digits after 0x (k and m are for the length only)"},
      {{"fr", "r.bin", "0", "1q"}, "length \"1q\" is not a number; give decimal digits, or hex digits after 0x, with k (x1024) or m (x1048576) at the end if you like"},
      {{"fr", "r.bin", "0", "0X10"}, "length \"0X10\" is not a number; give decimal digits, or hex digits after 0x, with k (x1024) or m (x1048576) at the end if you like"},
      {{"fr", "r.bin", "0x100"}, "start offset \"0x100\" without a length; a start offset needs a length after it: kartex fr FILE START LENGTH"},
      {{"fw", "f.bin", "0", "--no-verify"}, "start offset \"0\" without a length; a start offset needs a length after it: kartex fw FILE START LENGTH"},
      {{"sr", "o.sav", "0x100"}, "start offset \"0x100\" without a length; a start offset needs a length after it: kartex sr FILE START LENGTH"},
      {{"sw", "o.sav", "0"}, "start offset \"0\" without a length; a start offset needs a length after it: kartex sw FILE START LENGTH"},
      {{"fa", "f.bin", "0"}, "start offset \"0\" without a length; a start offset needs a length after it: kartex fa FILE START LENGTH"},
      {{"fa", "f.bin", "0x100", "16"}, "fa writes behind what the cartridge already holds and takes no start offset (\"0x100\"): give 0 before the length, as in kartex fa FILE 0 LENGTH"},
      {{"fr", "a", "0", "16", "extra"}, "fr takes a file name, or a file name, a start offset and a length; \"extra\" is one argument too many"},
      {{"fa", "a", "0", "16", "x"}, "fa takes a file name, or a file name, 0 and a length; \"x\" is one argument too many"},
      {{"fe", "x", "y"}, "fe takes no arguments; \"x\" is one argument too many"},
      {{"rtc", "prog.gba", "extra"}, "rtc takes at most one program file name; \"extra\" is one argument too many"},
      {{"vts", "clip.mp4", "1"}, "vts takes one video file name; \"1\" is one argument too many"},
      {{"fd"}, "unknown command \"fd\"; the commands are fr, fw, fa, fe, sr, sw, rtc, vts and info (kartex --help tells more)"},
      {{"/"}, "unknown command \"/\"; the commands are fr, fw, fa, fe, sr, sw, rtc, vts and info (kartex --help tells more)"},
      {{"fr", "r.bin", "--frobnicate"}, "unknown option --frobnicate (see kartex --help)"},
      {{"fe", "--yes=no"}, "unknown option --yes (see kartex --help)"},
      {{"--usb", "12345:1", "fe"}, "--usb takes VID:PID in hex, such as 1234:abcd, not \"12345:1\""},
      {{"--timeout", "0", "fe"}, "--timeout takes a number of seconds between 0 and 86400, not \"0\""},
      {{"--trace"}, "option --trace needs a value"},
      {{"--frobnicate", "fe"}, "unknown option --frobnicate (see kartex --help)"},
      {{"--eeprom-order=backwards", "sr", "x"}, "--eeprom-order takes tool or emulator, not \"backwards\""},
      {{"--video=whole", "vts", "x"}, "--video takes changes or plain, not \"whole\""},
  };
  for (const Refusal& r : refusals) {
    try {
      parse_command_line(r.args);
      ADD_FAILURE() << "accepted: " << r.message;
    } catch (const Failure& f) {
      EXPECT_STREQ(f.what(), r.message);
      EXPECT_EQ(f.status(), 255);
    }
  }
}

// ---- The built binary, with no cable attached ----

const std::string NO_CABLE = "Error can't found Tetherbox USB !!.\n";
const char* const NO_CABLE_HINT =
    "kartex: no cable found: check that it is plugged in; --sim runs the command on the "
    "simulator, sudo scripts/install-udev-rule.sh VID:PID mends a permission problem, and "
    "--usb VID:PID picks a cable with other USB IDs\n";

TEST(Binary, MessagesAndExitStatuses) {
  const std::string dir = ::testing::TempDir();
  std::ofstream(dir + "kartex_cli_in.bin") << "0123456789abcdef";
  struct Case {
    const char* args;
    int status;
    std::string out;
    const char* err_contains;
  };
  const Case cases[] = {
      {"", 255, BANNER + USAGE, "kartex: no command given; kartex --help lists the commands and options"},
      {"movie.avi extra", 255, BANNER + USAGE, "kartex: unknown command \"movie.avi\""},
      {"fd", 255, BANNER, "kartex: unknown command \"fd\"; the commands are fr, fw, fa, fe, sr, sw, rtc, vts and info"},
      {"fw missing-file.bin", 255, BANNER + "Can't open missing-file.bin file.\n",
       "kartex: cannot read missing-file.bin: No such file or directory"},
      {"fw", 255, BANNER + "Can't open (no file name) file.\n",
       "kartex: cannot read (no file name): No such file or directory"},
      {"rtc missing.gba", 255, BANNER + "Can't open missing.gba file.\n" + USAGE,
       "kartex: cannot read missing.gba: No such file or directory"},
      {"fr /nonexistent-dir/out.gba", 255, BANNER + "Can't open /nonexistent-dir/out.gba file.\n",
       "kartex: cannot write /nonexistent-dir/out.gba: No such file or directory"},
      {"fr kartex_cli_dump.gba 0 -5", 255, BANNER, "kartex: length \"-5\" is negative"},
      {"--bogus fe", 255, BANNER, "kartex: unknown option --bogus"},
      {"--version", 0, BANNER + "kartex 0.1.0\n", ""},
      {"fe", 255, BANNER + NO_CABLE, NO_CABLE_HINT},
      {"FW kartex_cli_in.bin", 255, BANNER + NO_CABLE, NO_CABLE_HINT},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.args);
    BinaryRun r = run_binary(tc.args);
    EXPECT_EQ(r.status, tc.status);
    EXPECT_EQ(r.out, tc.out);
    if (*tc.err_contains) {
      EXPECT_EQ(r.err.rfind(tc.err_contains, 0), 0u) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    } else {
      EXPECT_EQ(r.err, "");
    }
  }
}

TEST(Binary, HelpListsCommandsAndOptions) {
  BinaryRun r = run_binary("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind(BANNER + USAGE, 0), 0u);
  for (const char* option : {"--usb VID:PID", "--trace FILE", "--timeout SECONDS", "--version", "--yes"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(Binary, FailedReadLeavesAnExistingFileAlone) {
  const std::string dir = ::testing::TempDir();
  const std::string target = dir + "kartex_cli_keep.gba";
  std::ofstream(target) << "precious";
  BinaryRun r = run_binary("fr kartex_cli_keep.gba");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, BANNER + NO_CABLE);
  EXPECT_EQ(r.err, NO_CABLE_HINT);
  EXPECT_EQ(file_text(target), "precious");
  std::ifstream partial(target + ".kartex-part");
  EXPECT_FALSE(partial.good()) << "temporary file left behind";
}

TEST(CommandLine, CataloguesReportsInfoAndDefaultNames) {
  struct Case {
    std::vector<std::string> args;
    Command command;
    std::vector<std::string> dats;
    std::string report;
    bool default_name;
  };
  const Case cases[] = {
      {{"--dat", "a.dat", "fr", "x.gba", "--dat=b.xml"}, Command::FR, {"a.dat", "b.xml"}, "", false},
      {{"--report", "r.json", "info"}, Command::INFO, {}, "r.json", false},
      {{"INFO", "--report=r.json"}, Command::INFO, {}, "r.json", false},
      {{"fr"}, Command::FR, {}, "", true},
      {{"sr", "--dat", "s.dat"}, Command::SR, {"s.dat"}, "", true},
      {{"sr", "s.sav"}, Command::SR, {}, "", false},
      {{"fw"}, Command::FW, {}, "", false},
  };
  for (const Case& tc : cases) {
    const CommandLine line = parse_command_line(tc.args);
    EXPECT_EQ(line.invocation.command, tc.command) << tc.args[0];
    EXPECT_EQ(line.invocation.dat_files, tc.dats) << tc.args[0];
    EXPECT_EQ(line.invocation.report_file, tc.report) << tc.args[0];
    EXPECT_EQ(line.invocation.default_name, tc.default_name) << tc.args[0];
  }
  struct Refused {
    std::vector<std::string> args;
    std::string line;
  };
  const Refused refused[] = {
      {{"--dat"}, "option --dat needs a value"},
      {{"--dat=", "fr"}, "--dat needs a file name"},
      {{"--report=", "fr"}, "--report needs a file name"},
      {{"--report", "r.json", "vts", "clip.mp4"},
       "--report is for the commands with a result (fr, fw, fa, fe, sr, sw and info); vts has none to report"},
      {{"info", "x"}, "info takes no arguments; \"x\" is one argument too many"},
  };
  for (const Refused& tc : refused) {
    std::string got;
    try {
      parse_command_line(tc.args);
    } catch (const Failure& f) {
      got = f.what();
    }
    EXPECT_EQ(got, tc.line);
  }
}

}  // namespace
}  // namespace kartex::test
