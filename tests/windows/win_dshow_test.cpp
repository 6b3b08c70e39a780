// The DirectShow frame source under Windows or wine: a file that cannot be
// played fails the open with one trace line on standard output and one
// line on standard error that names the file and the step that refused it,
// at once and without a window; and long file names reach the framework
// whole.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "common/output.h"
#include "link/cable_link.h"
#include "contract/wire.h"
#include "vts/dshow_com.h"
#include "vts/dxplay.h"
#include "vts/vts_play.h"

namespace kartex::test {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string temp_dir() {
  char dir[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathA(sizeof dir, dir);
  return std::string(dir, n);
}

TEST(WinDshow, UnplayableFilesFailTheOpenWithOneTraceAndOneReason) {
  const std::string dir = temp_dir();
  const std::string text_file = dir + "kartex-not-a-video.avi";
  {
    std::ofstream f(text_file, std::ios::binary);
    f << "This is a text file, not a video.\r\n";
    for (int i = 0; i < 200; ++i) f << "line " << i << " of plain text\r\n";
  }
  const struct {
    const char* what;
    std::string file;
    const char* step;  // the graph-building call that fails
  } cases[] = {
      {"missing file", dir + "kartex-no-such-clip.avi", "AddSourceFilter: "},
      {"text renamed .avi", text_file, "Connect: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::ostringstream out, err;
    Output con{out, err};
    std::vector<int> waits;
    DxPlay source(media_openers(MediaOutputs{}), con, [&](int ms) { waits.push_back(ms); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(source.dx_open(c.file), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(20));

    const auto out_lines = lines_of(out.str());
    ASSERT_EQ(out_lines.size(), 1u) << out.str();
    EXPECT_EQ(out_lines[0].rfind("dxplay.cpp:", 0), 0u) << out_lines[0];
    const auto err_lines = lines_of(err.str());
    ASSERT_EQ(err_lines.size(), 1u) << err.str();
    std::printf("  %s: %s | %s\n", c.what, out_lines[0].c_str(), err_lines[0].c_str());
    EXPECT_NE(err_lines[0].find(c.file), std::string::npos) << err_lines[0];
    // Where in the graph building it failed, and the framework's code.
    // The grab graph is built first: its source filter refuses a missing
    // file, and no chain of filters connects a text file to the grabber.
    EXPECT_NE(err_lines[0].find("dshow_grab.cpp:"), std::string::npos) << err_lines[0];
    EXPECT_NE(err_lines[0].find(c.step), std::string::npos) << err_lines[0];
    EXPECT_NE(err_lines[0].find("(0x8"), std::string::npos) << err_lines[0];

    // Nothing was opened: the calls after a failed open do nothing and wait
    // for nothing.
    EXPECT_EQ(source.dx_image_size(), 0);
    EXPECT_EQ(source.dx_play_state(PlayMode::Toggle), 0);
    EXPECT_EQ(source.dx_full_screen(), 0);
    EXPECT_TRUE(waits.empty());
    source.dx_close();
    source.dx_close();
  }
  DeleteFileA(text_file.c_str());
}

// A cable whose agent is already running: every read answers the session
// marker, every write goes through. Enough for vts to set the console up
// and reach the frame source.
class RunningAgent : public Pipes {
 public:
  PipeResult write(Pipe, std::span<const std::uint8_t> bytes) override { return PipeResult::done(bytes.size()); }
  PipeResult read(Pipe, std::span<std::uint8_t> bytes) override {
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = (SESSION_MARKER >> (8 * (i % 4))) & 0xFF;
    return PipeResult::done(bytes.size());
  }
  PipeResult reset(Pipe) override { return PipeResult::done(0); }
};

TEST(WinDshow, VtsOfAMissingFileEndsWithTheTraceAndItsError) {
  std::ostringstream out, err;
  Output con{out, err};
  CableLink link([] { return std::make_unique<RunningAgent>(); }, [](int) {});
  link.link_start();
  DxPlay source(media_openers(MediaOutputs{}), con, [](int) {});
  const std::string file = temp_dir() + "kartex-no-such-clip.avi";
  EXPECT_EQ(vts_play(link, file, source, con, VtsEnv{[](int) {}, [] { return std::time_t(1); }}), -1);
  const auto lines = lines_of(out.str());
  ASSERT_GE(lines.size(), 3u) << out.str();
  EXPECT_EQ(lines[lines.size() - 3], "BG MODE 4 ");
  EXPECT_EQ(lines[lines.size() - 2].rfind("dxplay.cpp:", 0), 0u) << out.str();
  EXPECT_EQ(lines.back(), "dsplay error");
  EXPECT_NE(err.str().find(file), std::string::npos) << err.str();
}

TEST(WinDshow, LongFileNamesConvertWhole) {
  std::string why;
  for (const std::size_t length : {255u, 256u, 300u, 1000u}) {
    std::string name = "C:\\clips\\" + std::string(length - 13, 'v') + ".avi";
    ASSERT_EQ(name.size(), length);
    const std::vector<wchar_t> wide = wide_file_name(name, why);
    ASSERT_EQ(wide.size(), length + 1) << "length " << length << ": " << why;
    EXPECT_EQ(std::wstring(wide.data()), std::wstring(name.begin(), name.end()));
  }
}

}  // namespace
}  // namespace kartex::test
