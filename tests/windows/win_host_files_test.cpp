// The file service's folder on Windows: drive letters, absolute and UNC
// paths, "..", device names and streams are refused, whichever separator
// the program writes; files beneath the folder still open. Runs under
// Windows or wine.

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "host/host_files.h"
#include "host/hostio_protocol.h"

namespace kartex::test {
namespace {

TEST(WinHostFiles, PathsStayBeneathTheFolder) {
  char temp[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
  const std::string root = std::string(temp) + "kartex_win_host_files";
  const std::string folder = root + "\\in";
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA(folder.c_str(), nullptr);
  CreateDirectoryA((folder + "\\sub").c_str(), nullptr);
  std::ofstream(folder + "\\sub\\data.txt") << "inside";
  std::ofstream(root + "\\victim.txt") << "outside";

  struct Case {
    const char* path;
    std::uint32_t mode;
    const char* reason;  // nullptr: opens
  };
  constexpr std::uint32_t R = OPEN_READ_ONLY, W = 0x602;
  const std::string out = "it leads out of the folder \"" + folder + "\"";
  const Case cases[] = {
      {"sub/data.txt", R, nullptr},
      {"sub\\data.txt", R, nullptr},
      {"sub/new.txt", W, nullptr},
      {"../victim.txt", W, out.c_str()},
      {"sub\\..\\..\\victim.txt", W, out.c_str()},
      {"C:\\Windows\\win.ini", R, out.c_str()},
      {"C:victim.txt", R, out.c_str()},
      {"\\\\server\\share\\x", R, out.c_str()},
      {"/victim.txt", R, out.c_str()},
      {"sub/data.txt:stream", W, out.c_str()},
      {"NUL", W, "not a regular file"},
      {"sub/con.txt", W, "not a regular file"},
      {"COM1", R, "not a regular file"},
      {"sub", R, "not a regular file"},
  };
  std::vector<std::string> lines;
  HostFiles files(folder, [&](const std::string& l) { lines.push_back(l); });
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.path);
    const std::size_t before = lines.size();
    const std::int32_t h = files.open(tc.path, tc.mode);
    EXPECT_EQ(h >= 0, tc.reason == nullptr);
    if (h >= 0) files.close(h);
    if (tc.reason) {
      ASSERT_EQ(lines.size(), before + 1);
      EXPECT_EQ(lines.back(), "refused the program's open of \"" + std::string(tc.path) + "\": " + tc.reason);
    } else {
      EXPECT_EQ(lines.size(), before);
    }
  }
  std::ifstream victim(root + "\\victim.txt");
  std::string text;
  victim >> text;
  EXPECT_EQ(text, "outside");
}

}  // namespace
}  // namespace kartex::test
