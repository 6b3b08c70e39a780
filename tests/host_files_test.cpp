// The file service's host files: the open mode word on real files, handles
// the service never opened, seeking, and the paths of another host.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/host_files.h"
#include "host/hostio_protocol.h"
#include "host/open_mode.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

std::string scratch(const std::string& name) {
  const fs::path dir = fs::path(::testing::TempDir()) / ("kartex_host_files_" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string() + "/";
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
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
    HostFiles files;
    const mode_t old_mask = ::umask(022);
    const std::int32_t h = files.open(path, tc.mode);
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
    EXPECT_EQ(fs::exists(path) ? slurp(path) : std::string("-"), tc.after);
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
  HostFiles files;
  const std::int32_t h = files.open(dir + "f", OPEN_READ_ONLY);
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
  HostFiles files;
  const std::int32_t h = files.open(dir + "f", OPEN_READ_ONLY);
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
  HostFiles files;
  const std::int32_t a = files.open(dir + "a", 0x602), b = files.open(dir + "b", 0x602);
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

}  // namespace
}  // namespace kartex::test
