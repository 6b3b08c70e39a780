// Signals to the built binary in the middle of a command: SIGTERM and
// SIGHUP stop it at the end of a block with one line and 128 + the signal,
// with no part file and a cartridge the next command reads right; a second
// signal ends it at once and still removes the part file; a closed pipe is
// a failed write with one line; Ctrl-C ends a video stream with its
// figures on either clock. Two dumps to one file never mix.
//
// A run is held at a known place by its standard output: a pipe of one page
// filled up to a few bytes past the banner, so that the run blocks at its
// next line until the test reads. Every wait has a limit.

#include <gtest/gtest.h>

#include <cstdio>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "tests/support/run_binary.h"
#include "tests/support/sizes.h"
#include "tests/support/stream_figures.h"
#include "tests/support/tool_on_sim.h"
#include "tests/support/vts_clips.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr auto LIMIT = std::chrono::seconds(60);

struct Child {
  pid_t pid = -1;
  int out = -1;  // read end of its standard output, -1 when it goes to a file
  std::string err_path;
};

// Starts the binary in `dir`. `room`: bytes its standard output (a pipe)
// takes before it blocks; 0: standard output goes to `dir`/out.txt.
Child spawn(const std::vector<std::string>& args, const std::string& dir, std::size_t room) {
  Child c;
  c.err_path = dir + "err.txt";
  int fds[2] = {-1, -1};
  if (room > 0) {
    EXPECT_EQ(::pipe(fds), 0);
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    const int size = ::fcntl(fds[1], F_GETPIPE_SZ);
    const std::string filler(static_cast<std::size_t>(size) - room, '.');
    EXPECT_EQ(::write(fds[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
  }
  std::vector<std::string> argv_text{KARTEX_BINARY};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  c.pid = ::fork();
  if (c.pid == 0) {
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::chdir(dir.c_str()) != 0) ::_exit(120);
    const int out = room > 0 ? fds[1] : ::open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = ::open("/dev/null", O_RDONLY);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::dup2(in, 0);
    if (room > 0) ::close(fds[0]);
    ::execv(KARTEX_BINARY, argv.data());
    ::_exit(121);
  }
  if (room > 0) {
    ::close(fds[1]);
    c.out = fds[0];
  }
  return c;
}

// True once the run sits in a write to its full pipe.
bool blocked_on_pipe(pid_t pid) {
  for (auto until = Clock::now() + LIMIT; Clock::now() < until;) {
    if (file_text("/proc/" + std::to_string(pid) + "/wchan").find("pipe_write") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Reads the pipe to its end (the run's lines after the filler) and waits
// for the run; a run that outlives the limit is killed and reported.
struct Ended {
  bool in_time = false;
  int raw = 0;
  std::string out;
};

Ended finish(Child& c) {
  Ended e;
  if (c.out >= 0) {
    ::fcntl(c.out, F_SETFL, O_NONBLOCK);
  }
  const auto until = Clock::now() + LIMIT;
  for (;;) {
    if (c.out >= 0) {
      char buf[4096];
      for (ssize_t n; (n = ::read(c.out, buf, sizeof buf)) > 0;) e.out.append(buf, static_cast<std::size_t>(n));
    }
    const pid_t done = ::waitpid(c.pid, &e.raw, WNOHANG);
    if (done == c.pid) {
      e.in_time = true;
      break;
    }
    if (Clock::now() > until) {
      ::kill(c.pid, SIGKILL);
      ::waitpid(c.pid, &e.raw, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (c.out >= 0) {
    char buf[4096];
    for (ssize_t n; (n = ::read(c.out, buf, sizeof buf)) > 0;) e.out.append(buf, static_cast<std::size_t>(n));
    ::close(c.out);
  }
  e.out.erase(0, e.out.find_first_not_of('.'));
  return e;
}

const std::string STOPPED = ": stopped after the last whole block; the next command starts the console afresh\n";

TEST(Signals, TermAndHangupStopACommandCleanlyAndTheNextRunReadsRight) {
  struct Case {
    const char* command;
    int sig;
    const char* line;
  };
  const Case cases[] = {
      {"fr", SIGTERM, "kartex: terminated (SIGTERM)"}, {"fr", SIGHUP, "kartex: hung up (SIGHUP)"},
      {"fw", SIGTERM, "kartex: terminated (SIGTERM)"}, {"fw", SIGHUP, "kartex: hung up (SIGHUP)"},
      {"sw", SIGTERM, "kartex: terminated (SIGTERM)"}, {"sw", SIGHUP, "kartex: hung up (SIGHUP)"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(std::string(tc.command) + " " + strsignal(tc.sig));
    const std::string dir = scratch("signals");
    const Bytes rom = noise(256 * KiB, 11), save = noise(32 * KiB, 12);
    spill(dir + "rom.bin", rom);
    spill(dir + "save.bin", save);
    spill(dir + "new_rom.bin", noise(256 * KiB, 13));
    spill(dir + "new_save.bin", noise(32 * KiB, 14));
    const std::string sim = "--sim=state=" + dir + "state";
    ToolOnSim setup({sim + ",chip=2/16,rom=" + dir + "rom.bin,save=sram32k,save-image=" + dir + "save.bin", "fr",
                     dir + "x.bin", "0", "4"});
    ASSERT_EQ(setup.status, 0) << setup.err.str();

    const std::string cmd = tc.command;
    const std::string file = cmd == "fr" ? dir + "out.bin" : dir + (cmd == "fw" ? "new_rom.bin" : "new_save.bin");
    const std::vector<std::string> args = cmd == "fr" ? std::vector<std::string>{sim, "fr", file, "0", "256k"}
                                                      : std::vector<std::string>{sim, cmd, file};
    if (cmd == "fr") spill(file, Bytes{'o', 'l', 'd'});
    Child c = spawn(args, dir, BANNER.size() + 4);
    ASSERT_TRUE(blocked_on_pipe(c.pid));
    ::kill(c.pid, tc.sig);
    Ended e = finish(c);
    ASSERT_TRUE(e.in_time) << "the run did not end";
    ASSERT_TRUE(WIFEXITED(e.raw));
    EXPECT_EQ(WEXITSTATUS(e.raw), 128 + tc.sig);
    EXPECT_EQ(file_text(c.err_path), tc.line + STOPPED);
    EXPECT_TRUE(part_files(dir).empty()) << "part file left behind";
    if (cmd == "fr") {
      EXPECT_EQ(slurp(file), (Bytes{'o', 'l', 'd'}));
    }

    ToolOnSim again(args);
    ASSERT_EQ(again.status, 0) << again.err.str();
    if (cmd == "fr") {
      EXPECT_TRUE(slurp(file) == rom);
    }
    if (cmd == "fw") {
      ToolOnSim back({sim, "fr", dir + "back.bin", "0", "256k"});
      EXPECT_TRUE(slurp(dir + "back.bin") == slurp(file));
    }
    if (cmd == "sw") {
      ToolOnSim back({sim, "sr", dir + "back.bin"});
      EXPECT_TRUE(slurp(dir + "back.bin") == slurp(file));
    }
  }
}

TEST(Signals, ASecondSignalEndsTheRunAtOnceAndStillRemovesThePartFile) {
  const std::string dir = scratch("signals_twice");
  spill(dir + "out.bin", Bytes{'o', 'l', 'd'});
  Child c = spawn({"--sim=state=" + dir + "state", "fr", dir + "out.bin"}, dir, BANNER.size() + 4);
  ASSERT_TRUE(blocked_on_pipe(c.pid));
  EXPECT_EQ(part_files(dir).size(), 1u) << "the dump's temporary file is there while it runs";
  ::kill(c.pid, SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ::kill(c.pid, SIGTERM);
  Ended e = finish(c);
  ASSERT_TRUE(e.in_time);
  ASSERT_TRUE(WIFSIGNALED(e.raw));
  EXPECT_EQ(WTERMSIG(e.raw), SIGTERM);
  EXPECT_TRUE(part_files(dir).empty()) << "part file left behind";
  EXPECT_EQ(slurp(dir + "out.bin"), (Bytes{'o', 'l', 'd'}));
  // The console was left in the middle of nothing worse than a line.
  ToolOnSim again({"--sim=state=" + dir + "state", "fr", dir + "out.bin", "0", "64k"});
  ASSERT_EQ(again.status, 0) << again.err.str();
  ToolOnSim fresh({"--sim", "fr", dir + "fresh.bin", "0", "64k"});
  EXPECT_TRUE(slurp(dir + "out.bin") == slurp(dir + "fresh.bin"));
}

// SIGPIPE is ignored: a reader that goes away makes a failed write, reported
// in one line, and the dump is not put in place.
TEST(Signals, AClosedPipeIsAWriteErrorWithOneLine) {
  struct Case {
    const char* name;
    std::string command;  // run in the scratch folder, its output into head
    std::string line;     // standard error's last line starts so
  };
  const std::string dir = scratch("sigpipe");
  spill(dir + "new_rom.bin", noise(256 * KiB, 21));
  ToolOnSim setup({"--sim=state=" + dir + "state,chip=2/16", "fr", dir + "x.bin", "0", "4"});
  ASSERT_EQ(setup.status, 0) << setup.err.str();
  const Case cases[] = {
      {"fw into head", "--sim=state=state fw new_rom.bin", "kartex: writing standard output failed"},
      {"fr - into head", "--sim fr -", "kartex: writing standard output failed"},
      {"fr to a file, lines into head", "--sim fr dump.bin", "kartex: writing standard output failed"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const std::string script = "cd " + dir + " && " + KARTEX_BINARY + " " + tc.command +
                               " 2>err.txt </dev/null | head -c 10 >/dev/null; echo ${PIPESTATUS[0]} >rc.txt";
    ASSERT_EQ(std::system(("timeout 120 bash -c '" + script + "'").c_str()), 0);
    EXPECT_EQ(file_text(dir + "rc.txt"), "255\n");
    const std::string err = file_text(dir + "err.txt");
    const std::size_t last = err.rfind("kartex: ");
    ASSERT_NE(last, std::string::npos) << err;
    EXPECT_EQ(err.substr(last, tc.line.size()), tc.line);
    EXPECT_EQ(err.find("kartex: "), last) << "one line";
    EXPECT_FALSE(fs::exists(dir + "dump.bin"));
    EXPECT_TRUE(part_files(dir).empty());
  }
}

// Ctrl-C during the stream ends it as B does, at the next frame, with its
// figures, on the host's clock and on the console's.
TEST(Signals, InterruptEndsAVideoStreamWithItsFigures) {
  const VtsClips& clips = vts_clips();
  for (const char* clock : {"hardware", "host"}) {
    SCOPED_TRACE(clock);
    const std::string dir = scratch(std::string("signals_vts_") + clock);
    Child c = spawn({std::string("--sim=video-clock=") + clock, "vts", clips.stripes}, dir, 0);
    bool streaming = false;
    for (auto until = Clock::now() + LIMIT; !streaming && Clock::now() < until;) {
      streaming = file_text(dir + "out.txt").find("BG MODE 4 \n") != std::string::npos;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(streaming) << file_text(c.err_path);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto sent = Clock::now();
    ::kill(c.pid, SIGINT);
    bool figures = false;
    while (!figures && Clock::now() < sent + LIMIT) {
      figures = file_text(dir + "out.txt").find(" BPS\n") != std::string::npos;
      if (!figures) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
    Ended e = finish(c);
    ASSERT_TRUE(e.in_time) << "the stream did not end";
    ASSERT_TRUE(figures);
    // Generous: a stream that ignores the stop runs on until the limit.
    EXPECT_LT(took.count(), 10000) << "figures " << took.count() << " ms after the signal";
    ASSERT_TRUE(WIFEXITED(e.raw));
    EXPECT_EQ(WEXITSTATUS(e.raw), 0) << file_text(c.err_path);
    const std::string out = file_text(dir + "out.txt");
    const std::optional<StreamFigures> figures_seen = stream_figures(out);
    ASSERT_TRUE(figures_seen) << out;
    EXPECT_EQ(figures_seen->fps.size(), 8u) << "fps right-aligned in 8 characters";
    const std::size_t at = figures_seen->at;
    EXPECT_NE(out.find("BG CLEAR\n", at), std::string::npos) << "the screen cleared after the figures";
  }
}

// Two dumps to one name at once: each has its own temporary file, so the
// name ends up holding one run's bytes whole, never a mix.
TEST(Signals, TwoDumpsToOneFileAtOnceNeverMix) {
  const std::string dir = scratch("two_dumps");
  const Bytes a = noise(512 * KiB, 31), b = noise(512 * KiB, 32);
  spill(dir + "a.bin", a);
  spill(dir + "b.bin", b);
  Child first = spawn({"--sim=chip=2/16,rom=" + dir + "a.bin", "fr", "out.bin", "0", "512k"}, dir, 0);
  const std::string dir2 = dir + "second/";
  fs::create_directories(dir2);
  Child second = spawn({"--sim=chip=2/16,rom=" + dir + "b.bin", "fr", dir + "out.bin", "0", "512k"}, dir2, 0);
  Ended e1 = finish(first), e2 = finish(second);
  ASSERT_TRUE(e1.in_time && e2.in_time);
  EXPECT_TRUE(WIFEXITED(e1.raw) && WEXITSTATUS(e1.raw) == 0) << file_text(first.err_path);
  EXPECT_TRUE(WIFEXITED(e2.raw) && WEXITSTATUS(e2.raw) == 0) << file_text(second.err_path);
  const Bytes got = slurp(dir + "out.bin");
  EXPECT_TRUE(got == a || got == b) << "the file mixes the two dumps";
  EXPECT_TRUE(part_files(dir).empty());
}

}  // namespace
}  // namespace kartex::test
