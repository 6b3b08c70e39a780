// The file service's host files: the open mode word on real files, handles
// the service never opened, seeking, and the paths of another host.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/failure.h"
#include "host/host_files.h"
#include "host/hostio_protocol.h"
#include "host/open_mode.h"
#include "tests/support/file_bytes.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

// A folder of the running test's own: ctest runs the tests of this file in
// processes side by side, and one that shares another's folder would clear
// it under the other.
std::string scratch(const std::string& name) {
  const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const fs::path dir = fs::path(::testing::TempDir()) / ("kartex_host_files_" + name + "_" + test);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string() + "/";
}

std::span<const std::uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(HostFiles, OpenModeWordBehavesAsOnAnyPosixHost) {
  struct Case {
    const char* name;
    std::uint32_t mode;
    bool exists;
    bool opens;
    bool readable;     // a read of 3 bytes gives "abc"
    bool writable;     // a write of "XY" after a seek to the start
    const char* after; // the file afterwards ("-" when it does not exist)
  };
  const Case cases[] = {
      {"0: read and write, no create", 0, true, true, true, true, "XYcdef"},
      {"0 on a missing file", 0, false, false, false, false, "-"},
      {"1: read only", OPEN_READ_ONLY, true, true, true, false, "abcdef"},
      {"2: write only", OPEN_WRITE_ONLY, true, true, false, true, "XYcdef"},
      {"3: read and write", 3, true, true, true, true, "XYcdef"},
      {"create alone on a missing file", OPEN_WRITE_ONLY | OPEN_CREATE, false, true, false, true, "XY"},
      {"create alone keeps a file", OPEN_WRITE_ONLY | OPEN_CREATE, true, true, false, true, "XYcdef"},
      {"truncate alone empties", OPEN_WRITE_ONLY | OPEN_TRUNCATE, true, true, false, true, "XY"},
      {"truncate alone creates nothing", OPEN_WRITE_ONLY | OPEN_TRUNCATE, false, false, false, false, "-"},
      {"0x602 on a missing file", 0x602, false, true, false, true, "XY"},
      {"append: writes go to the end", OPEN_WRITE_ONLY | OPEN_APPEND, true, true, false, true, "abcdefXY"},
      {"other bits are ignored", 0xF801, true, true, true, false, "abcdef"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const std::string dir = scratch("modes");
    const std::string path = dir + "f.bin";
    if (tc.exists) std::ofstream(path, std::ios::binary) << "abcdef";
    HostFiles files(dir);
    const mode_t old_mask = ::umask(022);
    const std::int32_t h = files.open("f.bin", tc.mode);
    ::umask(old_mask);
    EXPECT_EQ(h >= 0, tc.opens);
    if (h >= 0) {
      std::uint8_t got[3] = {};
      const std::int32_t n = files.read(h, got);
      if (tc.readable) {
        EXPECT_EQ(n, 3);
        EXPECT_EQ(std::string(got, got + 3), "abc");
      } else {
        EXPECT_EQ(n, -1);
      }
      EXPECT_EQ(files.seek(h, 0, ORIGIN_START), 0);
      EXPECT_EQ(files.write(h, bytes_of("XY")), tc.writable);
      files.close(h);
    }
    EXPECT_EQ(fs::exists(path) ? text_of(path) : std::string("-"), tc.after);
    if (fs::exists(path) && !tc.exists) {
      // Created files get what other programs give them: 0666 less the
      // umask (022 here, set around the open).
      EXPECT_EQ(static_cast<unsigned>(fs::status(path).permissions() & fs::perms::all), 0644u);
    }
  }
}

TEST(HostFiles, HandlesTheServiceNeverOpenedReachNoFile) {
  const std::string dir = scratch("handles");
  std::ofstream(dir + "f") << "data";
  HostFiles files(dir);
  const std::int32_t h = files.open("f", OPEN_READ_ONLY);
  ASSERT_GE(h, 0);
  // The tool's own descriptors (standard streams, the cable) and anything else.
  for (std::int32_t bad : {0, 1, 2, h + 1, -1, 0x7FFFFFFF}) {
    SCOPED_TRACE(bad);
    std::uint8_t buf[4];
    EXPECT_EQ(files.read(bad, buf), -1);
    EXPECT_FALSE(files.write(bad, bytes_of("x")));
    EXPECT_EQ(files.seek(bad, 0, ORIGIN_START), -1);
    files.close(bad);
  }
  EXPECT_NE(fcntl(1, F_GETFD), -1) << "standard output was closed";
  EXPECT_NE(fcntl(2, F_GETFD), -1) << "standard error was closed";
  EXPECT_NE(fcntl(h, F_GETFD), -1);
  files.close(h);
  std::uint8_t buf[4];
  EXPECT_EQ(files.read(h, buf), -1) << "a closed handle";
}

TEST(HostFiles, SeekOriginsAndLimits) {
  const std::string dir = scratch("seek");
  std::ofstream(dir + "f") << "0123456789";
  HostFiles files(dir);
  const std::int32_t h = files.open("f", OPEN_READ_ONLY);
  struct Step {
    std::int32_t offset;
    std::uint32_t origin;
    std::int64_t at;
  };
  const Step steps[] = {{4, ORIGIN_START, 4}, {2, ORIGIN_CURRENT, 6}, {-1, ORIGIN_END, 9},
                        {0, 3, -1},           {-20, ORIGIN_CURRENT, -1}, {0, ORIGIN_CURRENT, 9}};
  for (const Step& s : steps) EXPECT_EQ(files.seek(h, s.offset, s.origin), s.at) << s.offset << "/" << s.origin;
  std::uint8_t c = 0;
  EXPECT_EQ(files.read(h, std::span(&c, 1)), 1);
  EXPECT_EQ(c, '9') << "a failed seek leaves the position";
  EXPECT_EQ(files.read(h, std::span(&c, 1)), 0) << "end of file";
}

TEST(HostFiles, CloseAllClosesWhatTheProgramLeftOpen) {
  const std::string dir = scratch("close_all");
  HostFiles files(dir);
  const std::int32_t a = files.open("a", 0x602), b = files.open("b", 0x602);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(files.open_count(), 2u);
  files.close_all();
  EXPECT_EQ(files.open_count(), 0u);
  EXPECT_EQ(fcntl(a, F_GETFD), -1);
  EXPECT_EQ(fcntl(b, F_GETFD), -1);
}

TEST(HostFiles, PathsTakeTheSeparatorOfTheHost) {
  struct Case {
    const char* path;
    char separator;
    const char* host;
  };
  const Case cases[] = {
      {"dir/log.txt", '\\', "dir\\log.txt"},
      {"/a/b/c", '\\', "\\a\\b\\c"},
      {"a\\b/c", '\\', "a\\b\\c"},
      {"dir/log.txt", '/', "dir/log.txt"},
      {"", '\\', ""},
  };
  for (const Case& tc : cases) EXPECT_EQ(to_host_path(tc.path, tc.separator), tc.host) << tc.path;
}


// A folder to serve, beside a file outside it, with every kind of name a
// program might use to get out: links out (relative, absolute, to a magic
// link of /proc, to a device), a FIFO, a folder, and a link that stays inside.
struct Confined {
  std::string root, folder;
  Confined() {
    root = scratch("confined");
    folder = root + "in/";
    fs::create_directories(folder + "sub/deep");
    std::ofstream(root + "victim.txt") << "outside";
    std::ofstream(folder + "sub/data.txt") << "inside data";
    fs::create_symlink("../victim.txt", folder + "link_out");
    fs::create_symlink("..", folder + "link_dir_out");
    fs::create_symlink("/etc/passwd", folder + "link_abs");
    fs::create_symlink("/proc/self/fd/2", folder + "link_proc");
    fs::create_symlink("/dev/null", folder + "link_null");
    fs::create_symlink("sub/data.txt", folder + "link_inner");
    fs::create_symlink("sub", folder + "link_sub");
    ::mkfifo((folder + "fifo").c_str(), 0600);
  }
};

TEST(HostFiles, PathsResolveBeneathTheFolderOnly) {
  enum Outcome { OPENS, MISSING, OUT, LINK, NOT_REGULAR, OPENS_WITH_KERNEL };
  struct Case {
    const char* path;
    std::uint32_t mode;
    Outcome outcome;
  };
  constexpr std::uint32_t R = OPEN_READ_ONLY, W = 0x602, A = OPEN_WRITE_ONLY | OPEN_APPEND;
  const Case cases[] = {
      {"sub/data.txt", R, OPENS},
      {"./sub//data.txt", R, OPENS},
      {"sub/deep/new.txt", W, OPENS},
      {"sub/missing.txt", R, MISSING},
      {"nowhere/new.txt", W, MISSING},
      {"/etc/passwd", R, OUT},
      {"/proc/self/environ", R, OUT},
      {"/proc/self/fd/2", A, OUT},
      {"../victim.txt", A, OUT},
      {"sub/../../victim.txt", A, OUT},
      {"sub/../sub/data.txt", R, OUT},  // ".." is refused even where it would stay inside
      {"link_out", A, LINK},
      {"link_dir_out/victim.txt", A, LINK},
      {"link_abs", R, LINK},
      {"link_proc", A, LINK},
      {"link_null", A, LINK},
      {"link_inner", R, OPENS_WITH_KERNEL},
      {"link_sub/data.txt", R, OPENS_WITH_KERNEL},
      {"fifo", R, NOT_REGULAR},
      {"fifo", A, NOT_REGULAR},
      {"sub", R, NOT_REGULAR},
      {".", R, NOT_REGULAR},
      {"", R, MISSING},
  };
  for (HostFiles::Resolve resolve : {HostFiles::Resolve::Kernel, HostFiles::Resolve::Walk}) {
    const bool kernel = resolve == HostFiles::Resolve::Kernel;
    const Confined c;
    std::vector<std::string> lines;
    HostFiles files(c.folder, [&](const std::string& l) { lines.push_back(l); }, resolve);
    for (const Case& tc : cases) {
      SCOPED_TRACE(std::string(kernel ? "kernel: " : "walk: ") + tc.path);
      const std::size_t before = lines.size();
      const std::int32_t h = files.open(tc.path, tc.mode);
      Outcome outcome = tc.outcome;
      // Kernel resolution follows a link that stays inside; the walk follows none.
      if (outcome == OPENS_WITH_KERNEL) outcome = kernel ? OPENS : LINK;
      // A link out seen by the kernel leads out; the walk never follows it.
      if (outcome == LINK && kernel) outcome = OUT;
      EXPECT_EQ(h >= 0, outcome == OPENS);
      if (h >= 0) {
        EXPECT_EQ(fcntl(h, F_GETFL) & O_NONBLOCK, 0) << "left non-blocking";
        files.close(h);
      }
      const std::string quoted = "refused the program's open of \"" + std::string(tc.path) + "\": ";
      std::string want;
      if (outcome == OUT) want = quoted + "it leads out of the folder \"" + c.folder + "\"";
      if (outcome == LINK) want = quoted + "it goes through a link that the service does not follow";
      if (outcome == NOT_REGULAR) want = quoted + "not a regular file";
      // Each refusal is told once: the second open of the FIFO adds no line.
      const auto seen = lines.begin() + static_cast<std::ptrdiff_t>(before);
      const bool told = std::find(lines.begin(), seen, want) != seen;
      if (want.empty() || told) {
        EXPECT_EQ(lines.size(), before) << lines.back();
      } else {
        ASSERT_EQ(lines.size(), before + 1);
        EXPECT_EQ(lines.back(), want);
      }
    }
    // Nothing outside changed, nothing was created outside.
    EXPECT_EQ(text_of(c.root + "victim.txt"), "outside");
    EXPECT_EQ(text_of(c.folder + "sub/data.txt"), "inside data");
    EXPECT_TRUE(fs::exists(c.folder + "sub/deep/new.txt"));
    EXPECT_EQ(fs::status(c.folder + "fifo").type(), fs::file_type::fifo);
  }
}

// Even a folder that holds magic links (the user served /proc/self) gives
// no way to the tool's own descriptors.
TEST(HostFiles, MagicLinksAreNeverFollowed) {
  const int held = ::open("/dev/null", O_RDONLY);
  for (HostFiles::Resolve resolve : {HostFiles::Resolve::Kernel, HostFiles::Resolve::Walk}) {
    std::vector<std::string> lines;
    HostFiles files("/proc/self", [&](const std::string& l) { lines.push_back(l); }, resolve);
    for (const std::string& fd : {std::string("fd/2"), "fd/" + std::to_string(held), std::string("cwd/x")}) {
      SCOPED_TRACE(fd);
      EXPECT_EQ(files.open(fd, OPEN_READ_ONLY), -1);
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back(), "refused the program's open of \"" + fd +
                                  "\": it goes through a link that the service does not follow");
    }
  }
  ::close(held);
}

TEST(HostFiles, RefusalsAreReportedOnceAndNotWithoutEnd) {
  const Confined c;
  std::vector<std::string> lines;
  HostFiles files(c.folder, [&](const std::string& l) { lines.push_back(l); });
  for (int round = 0; round < 3; ++round) EXPECT_EQ(files.open("/etc/passwd", OPEN_READ_ONLY), -1);
  ASSERT_EQ(lines.size(), 1u);
  // The path is shown with its control bytes escaped.
  EXPECT_EQ(files.open("/\x1b[2J", OPEN_READ_ONLY), -1);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "refused the program's open of \"/\\x1B[2J\": it leads out of the folder \"" +
                          c.folder + "\"");
  for (int i = 0; i < 100; ++i) files.open("/n" + std::to_string(i), OPEN_READ_ONLY);
  ASSERT_EQ(lines.size(), HostFiles::MAX_REPORTS + 1);
  EXPECT_EQ(lines.back(), "further refused opens are not shown");
}

TEST(HostFiles, AtMostThirtyTwoHandlesAtOnce) {
  const Confined c;
  std::vector<std::string> lines;
  HostFiles files(c.folder, [&](const std::string& l) { lines.push_back(l); });
  std::vector<std::int32_t> handles;
  for (int i = 0; i < 40; ++i) handles.push_back(files.open("sub/data.txt", OPEN_READ_ONLY));
  EXPECT_EQ(std::count_if(handles.begin(), handles.end(), [](std::int32_t h) { return h >= 0; }), 32);
  EXPECT_EQ(std::count(handles.begin() + 32, handles.end(), -1), 8);
  ASSERT_EQ(lines.size(), 1u) << "one line for the limit, not one per open";
  EXPECT_EQ(lines[0], "refused the program's open of \"sub/data.txt\": 32 files are open already");
  files.close(handles[3]);
  EXPECT_GE(files.open("sub/data.txt", OPEN_READ_ONLY), 0) << "a closed handle makes room";
}

TEST(HostFiles, AFolderThatCannotBeOpenedIsRefused) {
  const std::string dir = scratch("no_folder");
  std::ofstream(dir + "file") << "x";
  for (const std::string& bad : {dir + "missing", dir + "file"}) {
    SCOPED_TRACE(bad);
    try {
      HostFiles files(bad);
      ADD_FAILURE() << "accepted";
    } catch (const Failure& f) {
      EXPECT_EQ(std::string(f.what()).rfind("--files: cannot open the folder \"" + bad + "\": ", 0), 0u)
          << f.what();
    }
  }
}

// The seek answer is one word: a position it cannot carry is refused before
// the file moves, and no write takes the file past it.
TEST(HostFiles, PositionsStayWhereASeekAnswerCanNameThem) {
  const std::string dir = scratch("far");
  HostFiles files(dir);
  const std::int32_t h = files.open("big", OPEN_READ_WRITE | OPEN_CREATE);
  ASSERT_GE(h, 0);
  struct Step {
    std::int32_t offset;
    std::uint32_t origin;
    std::int64_t answer;
    std::int64_t position;  // afterwards
  };
  const Step steps[] = {
      {0x7FFFFFF0, ORIGIN_START, 0x7FFFFFF0, 0x7FFFFFF0},
      {0x7FFFFFFF, ORIGIN_CURRENT, 0xFFFFFFEF, 0xFFFFFFEF},
      {0x0F, ORIGIN_CURRENT, 0xFFFFFFFE, 0xFFFFFFFE},
      {1, ORIGIN_CURRENT, -1, 0xFFFFFFFE},  // 0xFFFFFFFF would read as -1
      {0x7FFFFFFF, ORIGIN_CURRENT, -1, 0xFFFFFFFE},
      {-0x7FFFFFFF, ORIGIN_START, -1, 0xFFFFFFFE},
      {-0x10, ORIGIN_START, -1, 0xFFFFFFFE},
      {0x10, ORIGIN_START, 0x10, 0x10},
      {-0x11, ORIGIN_CURRENT, -1, 0x10},
      {-1, ORIGIN_END, -1, 0x10},  // an empty file has no byte before its end
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(s.offset) + "/" + std::to_string(s.origin));
    EXPECT_EQ(files.seek(h, s.offset, s.origin), s.answer);
    EXPECT_EQ(::lseek(h, 0, SEEK_CUR), s.position);
  }
  EXPECT_EQ(files.seek(h, 0x7FFFFFFF, ORIGIN_START), 0x7FFFFFFF);
  EXPECT_EQ(files.seek(h, 0x7FFFFFF0, ORIGIN_CURRENT), 0xFFFFFFEF);
  EXPECT_TRUE(files.write(h, bytes_of("0123456789abcde")));  // ends at the last position
  EXPECT_FALSE(files.write(h, bytes_of("x"))) << "a write past the last position";
  EXPECT_EQ(fs::file_size(dir + "big"), 0xFFFFFFFEu);
  const std::int32_t a = files.open("big", OPEN_WRITE_ONLY | OPEN_APPEND);
  EXPECT_FALSE(files.write(a, bytes_of("y"))) << "an append past the last position";
  EXPECT_EQ(fs::file_size(dir + "big"), 0xFFFFFFFEu);
  fs::remove(dir + "big");
}

}  // namespace
}  // namespace kartex::test
