// Where a dump lands, with the file system looked at after the run: a
// regular file is replaced whole with its mode kept, a symlink is written
// through to what it names, a device or FIFO takes the bytes straight,
// "-" is standard output alone, a planted link is never followed; and a
// host file that cannot be opened says why.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <functional>
#include <thread>

#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* RANGE_LENGTH = "0x10000";

mode_t mode_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

// The first 64 KiB of the simulator's generated ROM, as a plain dump gives.
const Bytes& reference() {
  static const Bytes bytes = [] {
    const std::string dir = scratch("dump_reference");
    ToolOnSim r({"--sim", "fr", dir + "ref.bin", "0", RANGE_LENGTH});
    EXPECT_EQ(r.status, 0) << r.err.str();
    return slurp(dir + "ref.bin");
  }();
  return bytes;
}

TEST(DumpTarget, TheFileSystemAfterADumpToEachKindOfTarget) {
  const Bytes& rom = reference();
  ASSERT_EQ(rom.size(), 0x10000u);
  const Bytes old{'o', 'l', 'd'};
  const mode_t mask = ::umask(022);
  struct Case {
    const char* name;
    const char* target;  // relative to the scratch folder
    std::function<void(const std::string& dir)> before;
    std::function<void(const std::string& dir)> after;
  };
  const Case cases[] = {
      {"new file: made with the umask's mode", "new.bin", [](const std::string&) {},
       [&](const std::string& d) {
         EXPECT_TRUE(S_ISREG(mode_of(d + "new.bin")));
         EXPECT_EQ(mode_of(d + "new.bin") & 07777, 0644u);
         EXPECT_EQ(slurp(d + "new.bin"), rom);
       }},
      {"old file: replaced, its mode kept", "old.bin",
       [&](const std::string& d) {
         spill(d + "old.bin", old);
         ::chmod((d + "old.bin").c_str(), 0640);
       },
       [&](const std::string& d) {
         EXPECT_TRUE(S_ISREG(mode_of(d + "old.bin")));
         EXPECT_EQ(mode_of(d + "old.bin") & 07777, 0640u);
         EXPECT_EQ(slurp(d + "old.bin"), rom);
       }},
      {"symlink: the link stays, its file takes the dump", "link.bin",
       [&](const std::string& d) {
         fs::create_directories(d + "sub");
         spill(d + "sub/real.bin", old);
         ::chmod((d + "sub/real.bin").c_str(), 0600);
         fs::create_symlink("sub/real.bin", d + "link.bin");
       },
       [&](const std::string& d) {
         EXPECT_TRUE(S_ISLNK(mode_of(d + "link.bin")));
         EXPECT_EQ(fs::read_symlink(d + "link.bin"), fs::path("sub/real.bin"));
         EXPECT_EQ(mode_of(d + "sub/real.bin") & 07777, 0600u);
         EXPECT_EQ(slurp(d + "sub/real.bin"), rom);
         EXPECT_TRUE(part_files(d + "sub").empty());
       }},
      {"chain of links, the last dangling: the named file is made", "first",
       [&](const std::string& d) {
         fs::create_directories(d + "sub");
         fs::create_symlink("sub/second", d + "first");
         fs::create_symlink("../made.bin", d + "sub/second");
       },
       [&](const std::string& d) {
         EXPECT_TRUE(S_ISLNK(mode_of(d + "first")));
         EXPECT_TRUE(S_ISLNK(mode_of(d + "sub/second")));
         EXPECT_EQ(slurp(d + "made.bin"), rom);
       }},
      {"link planted at the old fixed part name: not followed", "target.bin",
       [&](const std::string& d) {
         spill(d + "victim.bin", old);
         fs::create_symlink(d + "victim.bin", d + "target.bin.kartex-part");
       },
       [&](const std::string& d) {
         EXPECT_EQ(slurp(d + "victim.bin"), old);
         EXPECT_TRUE(S_ISLNK(mode_of(d + "target.bin.kartex-part")));
         EXPECT_EQ(slurp(d + "target.bin"), rom);
       }},
      {"hard link: the name gets a new file, the other link keeps the old bytes", "linked.bin",
       [&](const std::string& d) {
         spill(d + "linked.bin", old);
         fs::create_hard_link(d + "linked.bin", d + "other.bin");
       },
       [&](const std::string& d) {
         EXPECT_EQ(slurp(d + "linked.bin"), rom);
         EXPECT_EQ(slurp(d + "other.bin"), old);
       }},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const std::string dir = scratch("dump_target");
    tc.before(dir);
    ToolOnSim r({"--sim", "fr", dir + tc.target, "0", RANGE_LENGTH});
    EXPECT_EQ(r.status, 0) << r.err.str();
    EXPECT_EQ(r.err.str(), "");
    tc.after(dir);
    const std::vector<std::string> left = part_files(dir);
    if (std::string(tc.name).find("planted") != std::string::npos) {
      EXPECT_EQ(left.size(), 1u) << "only the planted link";
    } else {
      EXPECT_TRUE(left.empty()) << left.front();
    }
  }
  ::umask(mask);
}

// A device node or a FIFO is written into, never replaced.
TEST(DumpTarget, DeviceAndFifoTakeTheBytesAndStayWhatTheyWere) {
  const Bytes& rom = reference();
  const std::string dir = scratch("dump_nodes");
  // A null device of our own, where the user may make one (root).
  if (::mknod((dir + "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    fs::create_symlink(dir + "null", dir + "to_null");
    for (const char* name : {"null", "to_null"}) {
      SCOPED_TRACE(name);
      ToolOnSim r({"--sim", "fr", dir + name, "0", "4"});
      EXPECT_EQ(r.status, 0) << r.err.str();
      EXPECT_TRUE(S_ISCHR(mode_of(dir + "null")));
      struct stat st {};
      ASSERT_EQ(::stat((dir + "null").c_str(), &st), 0);
      EXPECT_EQ(st.st_rdev, makedev(1, 3));
    }
    EXPECT_TRUE(S_ISLNK(mode_of(dir + "to_null")));
  }
  ASSERT_EQ(::mkfifo((dir + "fifo").c_str(), 0600), 0) << std::strerror(errno);
  Bytes received;
  std::thread reader([&] {
    const int fd = ::open((dir + "fifo").c_str(), O_RDONLY);
    std::uint8_t buf[4096];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;) received.insert(received.end(), buf, buf + n);
    if (fd >= 0) ::close(fd);
  });
  ToolOnSim r({"--sim", "fr", dir + "fifo", "0", RANGE_LENGTH});
  reader.join();
  EXPECT_EQ(r.status, 0) << r.err.str();
  EXPECT_TRUE(S_ISFIFO(mode_of(dir + "fifo")));
  EXPECT_EQ(received, rom);
  EXPECT_TRUE(part_files(dir).empty());
}

// "-": the dump alone on standard output, the tool's lines on standard error.
TEST(DumpTarget, StandardOutputCarriesTheDumpAndNothingElse) {
  const Bytes& rom = reference();
  ToolOnSim r({"--sim", "fr", "-", "0", RANGE_LENGTH});
  EXPECT_EQ(r.status, 0) << r.err.str();
  const std::string out = r.out.str();
  EXPECT_EQ(Bytes(out.begin(), out.end()), rom);
  const std::string err = r.err.str();
  EXPECT_EQ(err.rfind(BANNER, 0), 0u);
  EXPECT_NE(err.find("0x10000 bytes reading.\n"), std::string::npos);
  EXPECT_NE(err.find(std::string(16, 'R')), std::string::npos);
  EXPECT_NE(err.find(checksum_lines(rom)), std::string::npos);
  EXPECT_FALSE(fs::exists("-"));
}

// The fixed line stays on standard output; the system's reason follows on
// standard error, and nothing reaches the cable or the file system.
TEST(DumpTarget, AFileThatCannotBeOpenedSaysWhy) {
  const std::string dir = scratch("cant_open");
  fs::create_directories(dir + "folder");
  fs::create_directories(dir + "locked");
  ::chmod((dir + "locked").c_str(), 0555);
  spill(dir + "secret.bin", Bytes(16, 1));
  ::chmod((dir + "secret.bin").c_str(), 0);
  spill(dir + "secret.gba", Bytes(16, 1));
  ::chmod((dir + "secret.gba").c_str(), 0);
  const std::string missing = dir + "none/out.bin";
  struct Case {
    std::vector<std::string> args;
    std::string name;      // in the fixed line
    std::string reason;    // the diagnostic, after "kartex: "
    bool as_user = false;  // permissions: run without root's override
    bool usage = false;    // rtc follows the line with the usage text
  };
  const Case cases[] = {
      {{"fr", missing}, missing, "cannot write " + missing + ": No such file or directory"},
      {{"sr", dir + "folder"}, dir + "folder", "cannot write " + dir + "folder: Is a directory"},
      {{"fr", dir + "locked/out.bin"}, dir + "locked/out.bin",
       "cannot write " + dir + "locked/out.bin: Permission denied", true},
      {{"fw", dir + "none.bin"}, dir + "none.bin", "cannot read " + dir + "none.bin: No such file or directory"},
      {{"fa", dir + "folder"}, dir + "folder", "cannot read " + dir + "folder: Is a directory"},
      {{"sw", dir + "secret.bin"}, dir + "secret.bin", "cannot read " + dir + "secret.bin: Permission denied", true},
      {{"rtc", dir + "none.gba"}, dir + "none.gba", "cannot read " + dir + "none.gba: No such file or directory",
       false, true},
      {{"rtc", dir + "folder"}, dir + "folder", "cannot read " + dir + "folder: Is a directory", false, true},
      {{"rtc", dir + "secret.gba"}, dir + "secret.gba", "cannot read " + dir + "secret.gba: Permission denied",
       true, true},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.args[0] + " " + tc.args[1]);
    std::vector<std::string> args{"--sim=state=" + dir + "state"};
    args.insert(args.end(), tc.args.begin(), tc.args.end());
    const bool root = ::geteuid() == 0;
    if (tc.as_user && root) {
      ASSERT_EQ(::seteuid(65534), 0);
    }
    ToolOnSim r(args);
    if (tc.as_user && root) {
      ASSERT_EQ(::seteuid(0), 0);
    }
    EXPECT_EQ(r.status, 255);
    const std::string line = "Can't open " + tc.name + " file.\n";
    EXPECT_EQ(r.out.str().substr(0, BANNER.size() + line.size()), BANNER + line);
    if (!tc.usage) {
      EXPECT_EQ(r.out.str(), BANNER + line);
    }
    if (tc.usage) {
      EXPECT_NE(r.out.str().find("RTC LOAD & GO"), std::string::npos);
    }
    EXPECT_EQ(r.err.str(), "kartex: " + tc.reason + "\n");
    EXPECT_FALSE(fs::exists(dir + "state")) << "the cable was reached";
    EXPECT_TRUE(part_files(dir).empty());
    EXPECT_TRUE(part_files(dir + "locked").empty());
  }
  ::chmod((dir + "locked").c_str(), 0755);
}

}  // namespace
}  // namespace kartex::test
