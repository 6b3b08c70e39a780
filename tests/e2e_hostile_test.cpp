// A hostile program on the simulated console: the tests' own program asks
// the host file service for everything outside the folder it is given
// (other files, the tool's own descriptors, links out, a FIFO, handles
// beyond the limit, positions past 4 GiB) and prints terminal commands;
// then it does what a program may do. The host's files are checked after.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <linux/openat2.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/run.h"
#include "app/usage.h"
#include "common/output.h"
#include "tests/support/file_bytes.h"
#include "tests/support/usage_text.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* ABSOLUTE_TARGET = "/tmp/kartex_hostile_absolute.txt";

char byte_at(const fs::path& path, std::int64_t at) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  char c = 0;
  EXPECT_EQ(::pread(fd, &c, 1, at), 1) << at;
  ::close(fd);
  return c;
}

// Whether this kernel resolves beneath a folder itself (openat2); without
// it a link out is refused as a link, with it as a way out.
bool kernel_resolves() {
  open_how how{};
  how.flags = O_RDONLY;
  how.resolve = RESOLVE_BENEATH;
  const long fd = ::syscall(SYS_openat2, AT_FDCWD, ".", &how, sizeof how);
  if (fd >= 0) ::close(static_cast<int>(fd));
  return !(fd < 0 && errno == ENOSYS);
}

// Standard output and error of the process itself, where a program that
// got hold of descriptors 1 or 2 would write.
class ProcessStreams {
 public:
  explicit ProcessStreams(const fs::path& file) {
    ::fflush(nullptr);
    saved_out_ = ::dup(1);
    saved_err_ = ::dup(2);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::close(fd);
  }
  ~ProcessStreams() {
    ::fflush(nullptr);
    ::dup2(saved_out_, 1);
    ::dup2(saved_err_, 2);
    ::close(saved_out_);
    ::close(saved_err_);
  }

 private:
  int saved_out_, saved_err_;
};

TEST(HostileProgram, StaysInItsFolderAndStillWorksThere) {
  const fs::path base =
      fs::path(::testing::TempDir()) / ("kartex_e2e_hostile_" + std::to_string(::getpid()));
  fs::remove_all(base);
  const fs::path served = base / "served";
  fs::create_directories(served / "sub" / "deep");
  std::ofstream(base / "victim.txt") << "victim";
  std::ofstream(served / "sub" / "data.txt") << "inside data\n";
  fs::create_symlink("../victim.txt", served / "link_out");
  fs::create_symlink("..", served / "link_dir_out");
  fs::create_symlink("/proc/self/fd/2", served / "link_proc_stderr");
  fs::create_symlink("/dev/null", served / "link_null");
  ASSERT_EQ(::mkfifo((served / "fifo").c_str(), 0600), 0);
  fs::remove(ABSOLUTE_TARGET);
  const fs::path old_dir = fs::current_path();
  fs::current_path(base);

  std::ostringstream out, err;
  int status;
  {
    ProcessStreams streams(base / "process_streams");
    RunEnv env{out, err, {}, [](int) {}};
    env.service_stop = [](std::uint64_t idle) { return idle >= 20; };
    status = kartex::run({"--sim", "--trace", (base / "trace").string(), "--files", "served", "rtc",
                          KARTEX_HOSTILE_GBA},
                         env);
  }
  fs::current_path(old_dir);

  EXPECT_EQ(status, 0) << err.str();
  std::string shown = out.str();
  ASSERT_EQ(shown.rfind(BANNER, 0), 0u);
  shown.erase(0, BANNER.size());
  shown.erase(0, shown.find('\n') + 1);  // the clock stamp's line
  EXPECT_EQ(shown,
            "/etc/passwd: -1\n"
            "/proc/self/environ: -1\n"
            "../outside.txt: -1\n"
            "sub/../../outside.txt: -1\n"
            "/tmp/kartex_hostile_absolute.txt: -1\n"
            "link_out: -1\n"
            "link_dir_out/outside.txt: -1\n"
            "link_proc_stderr: -1\n"
            "link_null: -1\n"
            "/proc/self/fd/2: -1\n"
            "/proc/self/fd/3: -1\n"
            "/dev/stdin: -1\n"
            "fifo: -1\n"
            "fifo: -1\n"
            "sub: -1\n"
            ".: -1\n"
            "read of handle 0: -1\n"
            "read of handle 1: -1\n"
            "read of handle 2: -1\n"
            "read of handle 3: -1\n"
            "read of handle 4: -1\n"
            "read of handle 5: -1\n"
            "terminal: \\x1B]0;owned\\x07\\x1B[2J\\x0D\\xC2\\x9B31m caf\xc3\xa9 \\x7F\\x80 tab\tend\n"
            "handles of 40 opens: 32\n"
            "open after closing them: 1\n"
            "seek to 2 GiB - 16: 2147483632\n"
            "seek on to 4 GiB - 16: -16\n"
            "seek past 4 GiB: -1\n"
            "seek before the start: -1\n"
            "size, read as a number: -15\n"
            "seek to 8: 8\n"
            "create in a subfolder: 1\n"
            "seek for reading: 0\n"
            "bytes read back: 17\n"
            "read back: created\nappended\n"
            "seek for reading: 7\n"
            "bytes read back: 5\n"
            "read back: data\n"
            "done\n");

  const std::string out_of = "it leads out of the folder \"served\"";
  const std::string link_out =
      kernel_resolves() ? out_of : "it goes through a link that the service does not follow";
  auto refused = [](const std::string& path, const std::string& why) {
    return "kartex: refused the program's open of \"" + path + "\": " + why + "\n";
  };
  EXPECT_EQ(err.str(),
            "kartex: serving the program until Ctrl-C; its files live in the folder \"served\"\n" +
                refused("/etc/passwd", out_of) + refused("/proc/self/environ", out_of) +
                refused("../outside.txt", out_of) + refused("sub/../../outside.txt", out_of) +
                refused(ABSOLUTE_TARGET, out_of) + refused("link_out", link_out) +
                refused("link_dir_out/outside.txt", link_out) +
                refused("link_proc_stderr", link_out) + refused("link_null", link_out) +
                refused("/proc/self/fd/2", out_of) + refused("/proc/self/fd/3", out_of) +
                refused("/dev/stdin", out_of) + refused("fifo", "not a regular file") +
                refused("sub", "not a regular file") + refused(".", "not a regular file") +
                refused("sub/data.txt", "32 files are open already"));

  // Nothing reached outside the folder.
  EXPECT_EQ(text_of(base / "process_streams"), "") << "a write reached the process's own streams";
  EXPECT_FALSE(fs::exists(base / "outside.txt"));
  EXPECT_FALSE(fs::exists(ABSOLUTE_TARGET));
  EXPECT_EQ(text_of(base / "victim.txt"), "victim");
  EXPECT_TRUE(fs::is_symlink(served / "link_out"));
  EXPECT_EQ(fs::status(served / "fifo").type(), fs::file_type::fifo);
  EXPECT_EQ(text_of(base / "trace").find("escaped"), std::string::npos);
  // What the program may do, done.
  EXPECT_EQ(text_of(served / "sub" / "deep" / "new.txt"), "created\nappended\n");
  EXPECT_EQ(text_of(served / "sub" / "data.txt"), "inside data\n");
  const fs::path big = served / "big.bin";
  EXPECT_EQ(fs::file_size(big), 0xFFFFFFF1u) << "a write landed past the refused seek";
  EXPECT_EQ(byte_at(big, 0x7FFFFFF0), 'A');
  EXPECT_EQ(byte_at(big, 0xFFFFFFF0), 'B');
  fs::remove_all(base);
}


// --files names the folder before the cable is touched: one that cannot be
// opened, or none at all, ends the run with one line and no upload.
TEST(HostileProgram, AFilesFolderThatCannotServeIsRefusedFirst) {
  const fs::path base =
      fs::path(::testing::TempDir()) / ("kartex_e2e_files_" + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base);
  std::ofstream(base / "plain") << "x";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::string trace = (base / "trace").string();
  const Case cases[] = {
      {{"--sim", "--trace", trace, "--files", (base / "missing").string(), "rtc", KARTEX_HOSTIO_GBA},
       "kartex: --files: cannot open the folder \"" + (base / "missing").string() +
           "\": No such file or directory\n"},
      {{"--sim", "--trace", trace, "--files", (base / "plain").string(), "rtc", KARTEX_HOSTIO_GBA},
       "kartex: --files: cannot open the folder \"" + (base / "plain").string() + "\": Not a directory\n"},
      {{"--sim", "--trace", trace, "--files=", "rtc"}, "kartex: --files needs a folder\n"},
      {{"--sim", "--trace", trace, "--files"}, "kartex: option --files needs a value\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.err);
    fs::remove(trace);
    std::ostringstream out, err;
    RunEnv env{out, err, {}, [](int) {}};
    env.service_stop = [](std::uint64_t) { return true; };
    EXPECT_EQ(kartex::run(tc.args, env), 255);
    EXPECT_EQ(err.str(), tc.err);
    EXPECT_EQ(out.str(), BANNER);
    EXPECT_FALSE(fs::exists(trace) && fs::file_size(trace) > 0) << "the cable was used";
  }
  fs::remove_all(base);
}

// --help and the README give --files and what rtc does in the same words.
TEST(HostileProgram, HelpAndReadmeDescribeTheFolderAlike) {
  auto words = [](const std::string& text) {
    std::string flat;
    for (char c : text) {
      if (c == '`' || c == '|') continue;
      const bool space = c == ' ' || c == '\n';
      if (space && (flat.empty() || flat.back() == ' ')) continue;
      flat += space ? ' ' : c;
    }
    return flat;
  };
  std::ostringstream help;
  print_help(help);
  const std::string readme = words(text_of(KARTEX_README));
  for (const std::string want :
       {"--files DIR rtc: the folder the program's files live in (default: the current "
        "directory); it reaches nothing outside it",
        "(default rtcset.gba)", "until Ctrl-C"}) {
    SCOPED_TRACE(want);
    EXPECT_NE(words(help.str()).find(want), std::string::npos) << help.str();
    EXPECT_NE(readme.find(words(want)), std::string::npos);
  }
}

}  // namespace
}  // namespace kartex::test
