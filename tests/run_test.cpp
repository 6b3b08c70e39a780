// Whole runs from the command line to the exit status, on the scripted cable.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "agent/agent_image.h"
#include "app/run.h"
#include "tests/support/scripted_cable.h"

namespace kartex::test {
namespace {

const std::string BANNER =
    "*********** TETHERBOX USB CONSOLE TOOL Ver 3.54 + RTC + VTS ************\n";

struct ToolRun {
  std::shared_ptr<ScriptedCable> cable = std::make_shared<ScriptedCable>();
  int opened = 0;
  std::ostringstream out, err;
  std::string dir = ::testing::TempDir();

  int operator()(std::vector<std::string> args) {
    RunEnv env{out, err, {}, sleep_ms};
    env.opener = [this](const TransportOptions&) -> PipesOpener {
      return [this]() -> std::unique_ptr<Pipes> {
        ++opened;
        return opener_for(cable)();
      };
    };
    env.sleep = [this](int ms) { cable->on_sleep(ms); };
    return run(args, env);
  }

  // A cable whose agent is running on a 16 KiB mask ROM without save memory.
  ScriptedCable& marked(std::uint32_t rom_kind = 1, std::uint32_t rom_size = 0x4000,
                        std::uint32_t erase_block = 0) {
    cable->open().reg_read(1, 0x12345678).reg_read(1, 0x12345678);
    cable->reg_read(3, 0).reg_read(4, rom_kind).reg_read(5, rom_size).reg_read(6, erase_block);
    return cable->query(0xFFFF0021, {0}).reg_write(1, 0x12345678);
  }
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool exists(const std::string& path) { return std::ifstream(path).good(); }

TEST(ToolRun, FreshCableUploadsTheAgentImage) {
  ToolRun r;
  const auto image = agent_image();
  const std::uint32_t words = (static_cast<std::uint32_t>(image.size()) + 3) / 4;
  Bytes padded(image.begin(), image.end());
  padded.resize(words * 4, 0);
  ScriptedCable& c = *r.cable;
  c.open().handshake().reg_read(1, 0);
  c.cmd({0x02, 0x01, 0x00}).sleep(50).out(le32(static_cast<std::uint32_t>(image.size())));
  c.write(padded).sleep(100);
  c.query(0xFFFF000C, {0}).query(0xFFFF0001, {1, 0x4000, 0});
  c.reg_write(3, 0).reg_write(4, 1).reg_write(5, 0x4000).reg_write(6, 0);
  c.query(0xFFFF0021, {0}).reg_write(1, 0x12345678);
  EXPECT_EQ(r({"fe"}), 255);  // a mask ROM cannot be erased
  EXPECT_TRUE(c.done()) << c.left() << " steps not taken";
  EXPECT_EQ(r.out.str(), BANNER + "MASK ROM SIZE=0x4000\n");
}

TEST(ToolRun, ReadReplacesTheFileOnlyWhenComplete) {
  ToolRun r;
  const std::string target = r.dir + "kartex_run_dump.gba";
  std::ofstream(target) << "old contents";
  const Bytes rom = pattern(0x4000, 1);
  r.marked().request(0xFFFF0012, 0x08000000, 0x4000, 0);
  for (int i = 0; i < 4; ++i) r.cable->read_long(Bytes(rom.begin() + i * 4096, rom.begin() + (i + 1) * 4096));
  EXPECT_EQ(r({"FR", target}), 0);
  EXPECT_EQ(r.out.str(), BANNER + "MASK ROM SIZE=0x4000\n0x4000 bytes reading.\nRRRR");
  EXPECT_EQ(slurp(target), std::string(rom.begin(), rom.end()));
  EXPECT_FALSE(exists(target + ".kartex-part"));
}

TEST(ToolRun, ALinkFailureMidReadKeepsTheOldFile) {
  ToolRun r;
  const std::string target = r.dir + "kartex_run_keep.gba";
  std::ofstream(target) << "old contents";
  r.marked().request(0xFFFF0012, 0x08000000, 0x4000, 0);
  r.cable->read_long(pattern(4096)).read_long(pattern(4096));
  r.cable->failing(PipeResult::failed("timeout after 60 s"));
  EXPECT_EQ(r({"fr", target}), 255);
  EXPECT_EQ(r.out.str(), BANNER + "MASK ROM SIZE=0x4000\n0x4000 bytes reading.\nR\n");
  EXPECT_EQ(r.err.str(),
            "kartex: read of 1024 words: reading the data-in pipe failed: timeout after 60 s\n");
  EXPECT_EQ(slurp(target), "old contents");
  EXPECT_FALSE(exists(target + ".kartex-part"));
}

TEST(ToolRun, NothingReachesTheCableBeforeTheCommandIsAccepted) {
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"fw", "/nonexistent/file.gba"}, 255},
      {{"sw", ""}, 255},
      {{"sr", "/nonexistent/dir/out.sav"}, 255},
      {{"fr", "x.gba", "0", "-3"}, 255},
      {{"one", "two", "three"}, 255},
      {{"vts", "clip.avi"}, 255},
  };
  for (const Case& tc : cases) {
    ToolRun r;
    EXPECT_EQ(r(tc.args), tc.status) << tc.args[0];
    EXPECT_EQ(r.opened, 0) << tc.args[0];
  }
}

TEST(ToolRun, WriteSendsTheFileThroughTheRunningAgent) {
  ToolRun r;
  const std::string file = r.dir + "kartex_run_write.gba";
  const Bytes data = pattern(0x5000, 3);
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  r.marked(2, 0x400000, 0x20000).request(0xFFFF0005, 0x1000, 0x5000, 0);
  r.cable->write(Bytes(data.begin(), data.begin() + 16384)).write(Bytes(data.begin() + 16384, data.end()));
  EXPECT_EQ(r({"fw", file, "0x1000", "20k"}), 0);
  EXPECT_TRUE(r.cable->done()) << r.cable->left() << " steps not taken";
  EXPECT_EQ(r.out.str(), BANNER + "FLASH ROM SIZE=0x400000\n0x5000 bytes writeing.\nWW");
}

}  // namespace
}  // namespace kartex::test
