// Program load end to end: the tool loads the example program on the
// simulated console, stamps the clock into it and serves its text and file
// requests; on a fresh cable, on one that still runs the agent, and with a
// program that stops answering.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "agent/agent_image.h"
#include "contract/hw/cart_header.h"
#include "host/program_header.h"
#include "common/output.h"
#include "app/run.h"
#include "host/clock_stamp.h"
#include "link/hex.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scripted_cable.h"
#include "tests/support/usage_text.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

const std::string PROGRAM = KARTEX_HOSTIO_GBA;
// The one line on standard error once the program runs.
const std::string SERVING =
    "kartex: serving the program until Ctrl-C; its files live in the current directory\n";
constexpr std::time_t STAMP_TIME = 1264982398;  // the stamp takes the second after
// Idle polls after which a test ends the service: the program has long
// finished by then (each poll runs the console for a million instructions).
constexpr std::uint64_t IDLE_POLLS_TO_STOP = 20;

// `code` behind the header the BIOS checks, at 0xC8: both entries (0 and
// the multiboot entry 0xC0) branch there.
Bytes headed_program(const Bytes& code) {
  Bytes image(0xC8, 0);
  const Bytes entry = words({0xEA000030}), multiboot_entry = words({0xEA000000});  // b 0xC8
  std::copy(entry.begin(), entry.end(), image.begin());
  std::copy(multiboot_entry.begin(), multiboot_entry.end(), image.begin() + MB_ENTRY);
  const std::uint8_t logo[] = {CART_LOGO_BYTES};
  std::copy(std::begin(logo), std::end(logo), image.begin() + HDR_LOGO);
  image[HDR_FIXED] = HDR_FIXED_VALUE;
  mend_header_complement(image);
  image.insert(image.end(), code.begin(), code.end());
  return image;
}

std::string request_line(std::uint32_t code) { return "cmd 0004" + to_hex(le32(code)); }

// Runs in a scratch folder that holds the example's files.
class RtcOnSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // The process id keeps two builds' test runs on one machine apart.
    dir_ = fs::path(::testing::TempDir()) /
           ("kartex_e2e_rtc_" + std::to_string(::getpid()) + "_" + name);
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "hostio");
    old_dir_ = fs::current_path();
    fs::current_path(dir_);
    source_ = pattern(10000, 0x31);
    spill("hostio/source.bin", source_);
    spill("hostio/copy.bin", pattern(20000, 0x77));  // longer: the copy must empty it
    spill("hostio/log.txt", {'e', 'a', 'r', 'l', 'i', 'e', 'r', '\n'});
  }
  void TearDown() override { fs::current_path(old_dir_); }

  struct Run {
    std::ostringstream out, err;
    int status = -1;
  };

  // `patience`: requests served before the test ends the service as a
  // user's Ctrl-C would, for a program that never falls idle.
  std::unique_ptr<Run> tool(std::vector<std::string> args, std::uint64_t patience = UINT64_MAX) {
    auto r = std::make_unique<Run>();
    RunEnv env{r->out, r->err, {}, [](int) {}};
    int reads = 0;
    env.clock = [reads]() mutable { return reads++ == 0 ? STAMP_TIME : STAMP_TIME + 1; };
    std::uint64_t asked = 0;
    env.service_stop = [asked, patience](std::uint64_t idle) mutable {
      return idle >= IDLE_POLLS_TO_STOP || ++asked > patience;
    };
    r->status = kartex::run(args, env);
    return r;
  }

  std::string trace(const std::string& name) const { return text_of((dir_ / name).string()); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // What the example prints, from the stamp of STAMP_TIME + 1.
  std::string program_lines() const {
    const std::time_t t = STAMP_TIME + 1;
    std::tm tm{};
    localtime_r(&t, &tm);
    return strprintf("%04d/%02d/%02d %02d:%02d:%02d \n", tm.tm_year + 1900, tm.tm_mon + 1,
                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec) +
           strprintf("clock stamp: 20%02d/%02d/%02d weekday %d %02d:%02d:%02d\n", tm.tm_year % 100,
                     tm.tm_mon + 1, tm.tm_mday, tm.tm_wday, tm.tm_hour, tm.tm_min, tm.tm_sec) +
           "hello from the console\n"
           "copied hostio/source.bin to hostio/copy.bin, bytes: 10000\n"
           "appended a line to hostio/log.txt\n"
           "size of hostio/copy.bin: 10000\n"
           "seek to 5: 5\n" +
           strprintf("bytes 5 to 8: %02x %02x %02x %02x\n", source_[5], source_[6], source_[7], source_[8]) +
           "seek back 2: 7\n"
           "seek from origin 3: -1\n"
           "read of a closed handle: -1\n"
           "seek of a closed handle: -1\n"
           "open of a missing file: -1\n"
           "done\n";
  }

  fs::path dir_, old_dir_;
  Bytes source_;
};

TEST_F(RtcOnSimulator, FreshCableUploadsStampsAndServesTheExample) {
  auto r = tool({"--sim", "--trace", path("t"), "rtc", PROGRAM});
  EXPECT_EQ(r->status, 0) << r->err.str();
  EXPECT_EQ(r->err.str(), SERVING) << "the simulator saw the program misuse the hardware";
  EXPECT_EQ(r->out.str(), BANNER + program_lines());
  EXPECT_EQ(slurp("hostio/copy.bin"), source_);
  EXPECT_EQ(text_of("hostio/log.txt"), "earlier\nlog line\n");
  EXPECT_FALSE(fs::exists("hostio/missing.txt"));

  const std::string t = trace("t");
  const Bytes program = slurp(PROGRAM);
  EXPECT_NE(t.find("cmd 020100\nout " + to_hex(le32(static_cast<std::uint32_t>(program.size())))),
            std::string::npos)
      << "no upload of the program";
  EXPECT_NE(t.find(request_line(REQ_CART_VARIANT)), std::string::npos);
  EXPECT_EQ(t.find(request_line(REQ_SAVE_TYPE)), std::string::npos);
  EXPECT_EQ(t.find("cmd 038178563412"), std::string::npos) << "a program load writes no marker";
}

// The example's text and file service on both console models: the
// program's own code (Thumb, its interrupt-free link loop, its stamp) runs
// on the emulator library's ARM7TDMI as on our ARMv5 model.
TEST_F(RtcOnSimulator, ExampleRunsOnEitherConsoleModel) {
  for (const char* core : {"core=unicorn", "core=mgba"}) {
    SCOPED_TRACE(core);
    spill("hostio/copy.bin", pattern(20000, 0x77));
    spill("hostio/log.txt", {'e', 'a', 'r', 'l', 'i', 'e', 'r', '\n'});
    auto r = tool({std::string("--sim=") + core, "rtc", PROGRAM});
    EXPECT_EQ(r->status, 0) << r->err.str();
    EXPECT_EQ(r->err.str(), SERVING) << "the simulator saw the program misuse the hardware";
    EXPECT_EQ(r->out.str(), BANNER + program_lines());
    EXPECT_EQ(slurp("hostio/copy.bin"), source_);
    EXPECT_EQ(text_of("hostio/log.txt"), "earlier\nlog line\n");
  }
}

TEST_F(RtcOnSimulator, EveryRunAppendsToTheLog) {
  const std::string sim = "--sim=state=" + path("state");
  for (int i = 0; i < 2; ++i) {
    auto r = tool({sim, "rtc", PROGRAM});
    EXPECT_EQ(r->status, 0) << r->err.str();
    EXPECT_EQ(r->out.str(), BANNER + program_lines());
  }
  EXPECT_EQ(text_of("hostio/log.txt"), "earlier\nlog line\nlog line\n");
}

TEST_F(RtcOnSimulator, MarkedCableRunsTheProgramThroughTheAgentAndTheNextRunBringsItBack) {
  const std::string sim = "--sim=state=" + path("state");
  auto dump = tool({sim, "fr", path("a.bin"), "0", "16"});
  ASSERT_EQ(dump->status, 0) << dump->err.str();

  auto r = tool({sim, "--trace", path("rtc.trace"), "rtc", PROGRAM});
  EXPECT_EQ(r->status, 0) << r->err.str();
  EXPECT_EQ(r->err.str(), SERVING);
  EXPECT_EQ(r->out.str(), BANNER + program_lines());
  EXPECT_EQ(slurp("hostio/copy.bin"), source_);
  const std::string t = trace("rtc.trace");
  const auto size = static_cast<std::uint32_t>(slurp(PROGRAM).size());
  EXPECT_EQ(t.find("cmd 0382"), std::string::npos) << "handshake on a marked cable";
  const std::size_t cleared = t.find("cmd 038100000000");
  const std::size_t started = t.find(request_line(REQ_RUN_PROGRAM) + to_hex(le32(size)));
  EXPECT_NE(cleared, std::string::npos) << "the marker stays";
  EXPECT_NE(started, std::string::npos) << "the program was not sent";
  EXPECT_LT(cleared, started);
  EXPECT_LT(started, t.find(request_line(REQ_CART_VARIANT))) << "the variant request goes to the program";

  auto again = tool({sim, "--trace", path("again.trace"), "fr", path("b.bin"), "0", "16"});
  EXPECT_EQ(again->status, 0) << again->err.str();
  const std::string t2 = trace("again.trace");
  EXPECT_NE(t2.find("cmd 0382"), std::string::npos) << "no handshake";
  EXPECT_NE(t2.find("out " + to_hex(le32(static_cast<std::uint32_t>(agent_image().size())))),
            std::string::npos)
      << "the agent was not uploaded again";
  EXPECT_EQ(slurp(path("b.bin")), slurp(path("a.bin")));
}

TEST_F(RtcOnSimulator, AProgramThatStopsAnsweringEndsTheRunWithItsFault) {
  // Answers the variant request (4 words in, 1 out), then runs an undefined
  // instruction:
  //   mov r4, #0x04000000 ; add r4, r4, #0x120 ; mov r5, #5
  //   loop: mov r1, #0x1000 ; strh r1, [r4, #8] ; add r1, r1, #0x88 ; strh r1, [r4, #8]
  //   wait: ldrh r1, [r4, #8] ; tst r1, #0x80 ; bne wait ; subs r5, r5, #1 ; bne loop
  //   udf
  spill("stops.gba", headed_program(words({0xE3A04301, 0xE2844E12, 0xE3A05005, 0xE3A01A01, 0xE1C410B8,
                                           0xE2811088, 0xE1C410B8, 0xE1D410B8, 0xE3110080, 0x1AFFFFFC,
                                           0xE2555001, 0x1AFFFFF6, 0xE7F000F0})));
  auto r = tool({"--sim", "rtc", "stops.gba"});
  EXPECT_EQ(r->status, 255);
  // The simulator's own log lines come first; the tool's error line ends the run.
  const std::string err = r->err.str();
  const std::string last = err.substr(err.rfind('\n', err.size() - 2) + 1);
  EXPECT_EQ(last,
            "kartex: read of cable register 0: writing the command pipe failed: console fault: "
            "undefined instruction, PC=0x020000F8\n")
      << err;
  EXPECT_EQ(r->out.str().find("clock stamp"), std::string::npos);
}

// A loose contact flips a bit of a word the program sends: the service may
// answer a request it misread, but it reads and writes only the files the
// program opened, never beyond its buffers (the sanitizer builds run this
// too), and the run ends with its status and at most one line of its own.
TEST_F(RtcOnSimulator, AFlippedRequestWordTouchesNoOtherFile) {
  spill("bystander.bin", pattern(4096, 0x55));
  spill("hostio/bystander.bin", pattern(4096, 0x66));
  // Words 0-4 carry the variant request and its reply; the program's text
  // and file requests follow.
  for (int word : {6, 14, 61, 400}) {
    for (unsigned bit : {0u, 18u, 31u}) {
      SCOPED_TRACE(std::to_string(word) + ":" + std::to_string(bit));
      // A misread request can leave program and service talking past each
      // other for good; the user would press Ctrl-C.
      auto r = tool({"--timeout=0.2", "--sim=fault=flip@" + std::to_string(word) + ":" + std::to_string(bit),
                     "rtc", PROGRAM},
                    100);
      EXPECT_TRUE(r->status == 0 || r->status == 255) << r->status;
      EXPECT_EQ(slurp("bystander.bin"), pattern(4096, 0x55));
      EXPECT_EQ(slurp("hostio/bystander.bin"), pattern(4096, 0x66));
    }
  }
}

}  // namespace
}  // namespace kartex::test
