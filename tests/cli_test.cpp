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

namespace kartex::test {
namespace {

TEST(ParseNumber, BasesSignsAndSuffixes) {
  struct Case {
    const char* text;
    Suffix suffix;
    std::uint32_t value;
  };
  const Case cases[] = {
      {"64k", Suffix::Applied, 65536},       {"2m", Suffix::Applied, 2097152},
      {"2M", Suffix::Applied, 2097152},      {"0x40k", Suffix::Applied, 65536},
      {"0x10", Suffix::Applied, 16},         {"010", Suffix::Applied, 10},
      {"0X10", Suffix::Applied, 0},          {"8k", Suffix::Ignored, 8},
      {"-1", Suffix::Applied, 0xFFFFFFFF},   {"-2", Suffix::Ignored, 0xFFFFFFFE},
      {"abc", Suffix::Applied, 0},           {"12abc", Suffix::Applied, 12},
      {"  42", Suffix::Ignored, 42},         {"+7", Suffix::Ignored, 7},
      {"4294967295", Suffix::Ignored, 0xFFFFFFFF}, {"4294967296", Suffix::Ignored, 0xFFFFFFFF},
      {"0x123456789", Suffix::Ignored, 0xFFFFFFFF}, {"0xFFFFFFFF", Suffix::Ignored, 0xFFFFFFFF},
      {"4096m", Suffix::Applied, 0},          {"3M", Suffix::Applied, 0x300000},
      {"0xg", Suffix::Applied, 0},            {"0x1fK", Suffix::Applied, 0x7C00},
      {"", Suffix::Applied, 0},
  };
  for (const Case& tc : cases)
    EXPECT_EQ(static_cast<std::uint32_t>(parse_number(tc.text, tc.suffix)), tc.value) << tc.text;
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
      {{"fr", "a.gba", "0x100"}, A::Run, Command::FR, "a.gba", -1, -1},
      {{"Sw", "s.sav", "8k", "8k"}, A::Run, Command::SW, "s.sav", 8, 8192},
      {{"fe", "x", "y", "z"}, A::Run, Command::FE, "x", -1, -1},
      {{"movie.avi"}, A::Run, Command::VTS, "movie.avi", -1, -1},
      {{"VTS"}, A::Run, Command::VTS, "VTS", -1, -1},
      {{"vts", "clip.mp4", "1", "2"}, A::Run, Command::VTS, "clip.mp4", -1, -1},
      {{"rtc"}, A::Run, Command::RTC, "rtcset.gba", -1, -1},
      {{"rtc", "prog.gba", "extra"}, A::Run, Command::RTC, "prog.gba", -1, -1},
      {{"movie.avi", "more"}, A::Usage, Command::FR, "", -1, -1},
      {{"fr"}, A::Run, Command::FR, "", -1, -1},
      {{"--help", "fr"}, A::Help, Command::FR, "", -1, -1},
      {{"--version"}, A::Version, Command::FR, "", -1, -1},
      {{"--timeout", "5", "--", "fa", "f"}, A::Run, Command::FA, "f", -1, -1},
      {{"fr", "a", "-1", "-1"}, A::Run, Command::FR, "a", -1, -1},
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
  EXPECT_FALSE(parse_command_line({"--video", "changes", "a.avi"}).invocation.plain_video);

  struct Refusal {
    std::vector<std::string> args;
    const char* message;
  };
  const Refusal refusals[] = {
      {{"fr", "a", "-2", "16"}, "start offset \"-2\" is negative (0xFFFFFFFE); give a value from 0 to 0x7FFFFFFF"},
      {{"sr", "a", "0", "-1k"}, "length \"-1k\" is negative (0xFFFFFC00); give a value from 0 to 0x7FFFFFFF"},
      {{"fw", "a", "0x80000000", "4"}, "start offset \"0x80000000\" is negative (0x80000000); give a value from 0 to 0x7FFFFFFF"},
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

const std::string BANNER =
    "*********** TETHERBOX USB CONSOLE TOOL Ver 3.54 + RTC + VTS ************\n";
const std::string USAGE =
    "FLASH READ ------- kartex fr file_name [start_offset len(?? ??k ??m)]\n"
    "FLASH WRITE ------ kartex fw file_name [start_offset len(?? ??k ??m)]\n"
    "FLASH APEND ------ kartex fa file_name\n"
    "FLASH ALL ERASE -- kartex fe\n"
    "SAVE READ -------- kartex sr file_name [start_offset len(?? ??k ??m)]\n"
    "SAVE WRITE ------- kartex sw file_name [start_offset len(?? ??k ??m)]\n"
    "RTC LOAD & GO ---- kartex rtc rtc_pgm_file\n"
    "VTS GO ----------- kartex vts avi_file\n"
    "VTS GO ----------- kartex avi_file\n";
const std::string NO_CABLE = "Error can't found Tetherbox USB !!.\n";

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
      {"", 255, BANNER + USAGE, ""},
      {"movie.avi extra", 255, BANNER + USAGE, ""},
      {"fw missing-file.bin", 255, BANNER + "Can't open missing-file.bin file.\n", ""},
      {"fr", 255, BANNER + "Can't open (no file name) file.\n", ""},
      {"rtc missing.gba", 255, BANNER + "Can't open missing.gba file.\n" + USAGE, ""},
      {"fr /nonexistent-dir/out.gba", 255, BANNER + "Can't open /nonexistent-dir/out.gba file.\n", ""},
      {"fr kartex_cli_dump.gba 0 -5", 255, BANNER, "kartex: length \"-5\" is negative"},
      {"--bogus fe", 255, BANNER, "kartex: unknown option --bogus"},
      {"--version", 0, BANNER + "kartex 0.1.0\n", ""},
      {"fe", 255, BANNER + NO_CABLE, ""},
      {"FW kartex_cli_in.bin", 255, BANNER + NO_CABLE, ""},
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
  for (const char* option : {"--usb VID:PID", "--trace FILE", "--timeout SECONDS", "--version"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(Binary, FailedReadLeavesAnExistingFileAlone) {
  const std::string dir = ::testing::TempDir();
  const std::string target = dir + "kartex_cli_keep.gba";
  std::ofstream(target) << "precious";
  BinaryRun r = run_binary("fr kartex_cli_keep.gba");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, BANNER + NO_CABLE);
  EXPECT_EQ(file_text(target), "precious");
  std::ifstream partial(target + ".kartex-part");
  EXPECT_FALSE(partial.good()) << "temporary file left behind";
}

}  // namespace
}  // namespace kartex::test
