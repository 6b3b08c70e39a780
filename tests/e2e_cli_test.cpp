// Whole runs on the simulator of command lines the tool must refuse before
// the cable is touched, of options given after the command word, and of the
// question before fe erases a cartridge.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "contract/wire.h"
#include "tests/support/tool_on_sim.h"
#include "tests/support/usage_text.h"

namespace kartex::test {
namespace {


const std::string NOT_A_START =
    " is not a number; give decimal digits, or hex digits after 0x (k and m are for the length only)\n";
const std::string NOT_A_LENGTH =
    " is not a number; give decimal digits, or hex digits after 0x, with k (x1024) or m (x1048576) at "
    "the end if you like\n";

// Refused before any transfer: no trace file (the cable was never opened),
// no dump file, the file to write and the simulated cartridge unread.
TEST(CommandLineOnSimulator, RefusedBeforeTheCable) {
  const std::string dir = scratch("cli_refused");
  spill(dir + "f.bin", noise(0x10000, 5));
  const std::string r = dir + "r.bin", f = dir + "f.bin";
  struct Case {
    std::vector<std::string> args;
    std::string out, err;
  };
  const Case cases[] = {
      {{"fr", r, "0xZZ", "0x100"}, "", "kartex: start offset \"0xZZ\"" + NOT_A_START},
      {{"fr", r, "abc", "16"}, "", "kartex: start offset \"abc\"" + NOT_A_START},
      {{"fr", r, "0", "1q"}, "", "kartex: length \"1q\"" + NOT_A_LENGTH},
      {{"fr", r, "0", "0X10"}, "", "kartex: length \"0X10\"" + NOT_A_LENGTH},
      {{"fr", r, "0", "-1"}, "", "kartex: length \"-1\" is negative; give a value from 0 to 0x7FFFFFFF\n"},
      {{"fr", r, "0", "-5"}, "", "kartex: length \"-5\" is negative; give a value from 0 to 0x7FFFFFFF\n"},
      {{"fr", r, "0", "99999999999"}, "",
       "kartex: length \"99999999999\" is too large; give a value from 0 to 0x7FFFFFFF\n"},
      {{"fr", r, "0x100"}, "",
       "kartex: start offset \"0x100\" without a length; a start offset needs a length after it: kartex fr "
       "FILE START LENGTH\n"},
      {{"fw", f, "0", "--no-verify"}, "",
       "kartex: start offset \"0\" without a length; a start offset needs a length after it: kartex fw "
       "FILE START LENGTH\n"},
      {{"sw", f, "0x100"}, "",
       "kartex: start offset \"0x100\" without a length; a start offset needs a length after it: kartex sw "
       "FILE START LENGTH\n"},
      {{"fa", f, "0x8000", "16"}, "",
       "kartex: fa writes behind what the cartridge already holds and takes no start offset (\"0x8000\"): "
       "give 0 before the length, as in kartex fa FILE 0 LENGTH\n"},
      {{"fr", r, "0", "16", "32"}, "",
       "kartex: fr takes a file name, or a file name, a start offset and a length; \"32\" is one argument "
       "too many\n"},
      {{"fe", "now"}, "", "kartex: fe takes no arguments; \"now\" is one argument too many\n"},
      {{"fd"}, "",
       "kartex: unknown command \"fd\"; the commands are fr, fw, fa, fe, sr, sw, rtc, vts and info (kartex --help "
       "tells more)\n"},
      {{dir}, "",
       "kartex: unknown command \"" + dir + "\"; the commands are fr, fw, fa, fe, sr, sw, rtc, vts and info "
       "(kartex --help tells more)\n"},
      {{}, USAGE, "kartex: no command given; kartex --help lists the commands and options\n"},
      {{"fd", "x.bin"}, USAGE,
       "kartex: unknown command \"fd\"; the commands are fr, fw, fa, fe, sr, sw, rtc, vts and info (kartex --help "
       "tells more)\n"},
  };
  for (const Case& tc : cases) {
    std::vector<std::string> args = {"--sim=state=" + dir + "state", "--trace", dir + "t"};
    args.insert(args.end(), tc.args.begin(), tc.args.end());
    std::string joined;
    for (const auto& a : tc.args) joined += a + " ";
    SCOPED_TRACE(joined);
    ToolOnSim run(args);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out.str(), BANNER + tc.out);
    EXPECT_EQ(run.err.str(), tc.err);
    EXPECT_FALSE(std::filesystem::exists(dir + "t")) << "the cable was opened";
    EXPECT_FALSE(std::filesystem::exists(r)) << "a dump file was made";
    EXPECT_FALSE(std::filesystem::exists(dir + "state")) << "the simulator ran";
  }
}

TEST(CommandLineOnSimulator, OptionsAfterTheCommandWord) {
  const std::string dir = scratch("cli_options");
  // --help after the command word is help, not a file to dump into.
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  ToolOnSim help({"--sim", "fr", "--help"});
  std::filesystem::current_path(cwd);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.str().rfind(BANNER + USAGE, 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir + "--help"));

  // --no-verify after the file: written, not verified; without it, verified.
  const Bytes data = noise(0x20000, 9);
  spill(dir + "f.bin", data);
  for (bool verify : {false, true}) {
    SCOPED_TRACE(verify);
    std::vector<std::string> args = {"--sim=chip=2/16", "fw", dir + "f.bin"};
    if (!verify) args.push_back("--no-verify");
    ToolOnSim run(args);
    EXPECT_EQ(run.status, 0) << run.err.str();
    EXPECT_EQ(run.out.str().find("Verify OK") != std::string::npos, verify) << run.out.str();
  }

  // "--" ends the options: a file named --help is dumped into.
  std::filesystem::current_path(dir);
  ToolOnSim dump({"--sim", "fr", "--", "--help", "0", "16"});
  std::filesystem::current_path(cwd);
  EXPECT_EQ(dump.status, 0) << dump.err.str();
  EXPECT_EQ(slurp(dir + "--help").size(), 16u);
}

// fe on a terminal asks first; only y or yes erases.
struct EraseRun {
  std::ostringstream out, err;
  int status = -1;
  EraseRun(const std::vector<std::string>& args, const std::string& answer, bool terminal) {
    std::istringstream in(answer);
    RunEnv env{out, err, {}, [](int) {}};
    env.in = &in;
    env.in_is_terminal = terminal;
    status = kartex::run(args, env);
  }
};

TEST(CommandLineOnSimulator, EraseAsksOnATerminal) {
  const std::string dir = scratch("cli_erase");
  // A ROM with a header whose checksum agrees.
  Bytes rom = noise(0x400000, 3);
  std::string title = "KARTEXDEMO", code = "AKXE";
  title.resize(12, '\0');  // the title field, NUL-padded
  std::copy(title.begin(), title.end(), rom.begin() + 0xA0);
  std::copy(code.begin(), code.end(), rom.begin() + 0xAC);
  unsigned sum = 0;
  for (std::size_t i = 0xA0; i <= 0xBC; ++i) sum += rom[i];
  rom[0xBD] = static_cast<std::uint8_t>(0u - sum - 0x19);
  spill(dir + "rom.gba", rom);
  const std::string question =
      "Erase all 0x400000 bytes, 4 MiB of the cartridge \"KARTEXDEMO\" (game code AKXE)? Type y to erase: ";
  struct Case {
    std::string answer;
    bool terminal, yes;
    int status;
    std::string err;
  };
  const std::string refused = "kartex: not erased: the cartridge is left as it was\n";
  const Case cases[] = {
      {"n\n", true, false, 255, question + refused},
      {"\n", true, false, 255, question + refused},
      {"", true, false, 255, question + "\n" + refused},
      {"yep\n", true, false, 255, question + refused},
      {"y\n", true, false, 0, question},
      {" YES \n", true, false, 0, question},
      {"", true, true, 0, ""},   // --yes
      {"", false, false, 0, ""},  // a script: no question
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.answer + (tc.terminal ? " terminal" : " script") + (tc.yes ? " --yes" : ""));
    const std::string trace = dir + "t";
    std::vector<std::string> args = {"--sim=chip=2/16,rom=" + dir + "rom.gba", "--trace", trace, "fe"};
    if (tc.yes) args.push_back("--yes");
    EraseRun run(args, tc.answer, tc.terminal);
    EXPECT_EQ(run.status, tc.status);
    EXPECT_EQ(run.err.str(), tc.err);
    const bool erased = text_of(trace).find(request_line(REQ_FLASH_ERASE)) != std::string::npos;
    EXPECT_EQ(erased, tc.status == 0);
    EXPECT_EQ(run.out.str().find("Erase START.") != std::string::npos, tc.status == 0) << run.out.str();
  }
}

}  // namespace
}  // namespace kartex::test
