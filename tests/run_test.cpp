// Whole runs from the command line to the exit status, on the scripted cable.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "agent/agent_image.h"
#include "agent/agent_layout.h"
#include "app/run.h"
#include "cart/agent_crc.h"
#include "tests/support/file_bytes.h"
#include "tests/support/rom_wire.h"
#include "tests/support/scripted_cable.h"
#include "tests/support/usage_text.h"

namespace kartex::test {
namespace {


// The identity of the embedded agent: the CRC-32 of its image as built.
std::uint32_t agent_id() { return crc32_of(agent_image()); }

// What the tool uploads: the embedded image with its identity in the word
// at 0x03000004 of the resident stage, the last word filled up with zeros.
Bytes upload_image() {
  const auto image = agent_image();
  Bytes padded(image.begin(), image.end());
  const std::size_t at = AgentLayout::resident_offset + 4;
  EXPECT_EQ(Bytes(padded.begin() + at, padded.begin() + at + 4), le32(0))
      << "the image's identity word is not where the tool writes it";
  const Bytes id = le32(agent_id());
  std::copy(id.begin(), id.end(), padded.begin() + at);
  padded.resize((padded.size() + 3) / 4 * 4, 0);
  return padded;
}

// What the scripted cartridge answers to the fingerprint request.
constexpr std::uint32_t CART_FINGERPRINT = 0xC0FFEE01;

// A full upload of the tool's agent on a cable after the handshake, the
// cartridge asked and cached: a mask ROM of `rom_size` bytes without save.
void expect_agent_upload(ScriptedCable& c, std::uint32_t rom_size) {
  c.cmd({0x02, 0x01, 0x00}).sleep(50).out(le32(static_cast<std::uint32_t>(agent_image().size())));
  c.write(upload_image()).sleep(100);
  c.query(0xFFFF000C, {0}).query(0xFFFF0001, {1, rom_size, 0});
  c.reg_write(3, 0).reg_write(4, 1).reg_write(5, rom_size).reg_write(6, 0);
  // The cartridge's fingerprint, kept in cable register 7 for later runs.
  c.query(0xFFFF0033, {CART_FINGERPRINT}).reg_write(7, CART_FINGERPRINT);
  c.query(0xFFFF0021, {0}).reg_write(1, 0x12345678);
}

struct ToolRun {
  std::shared_ptr<ScriptedCable> cable = std::make_shared<ScriptedCable>();
  int opened = 0;
  std::ostringstream out, err;
  std::string dir = ::testing::TempDir();

  int operator()(std::vector<std::string> args) {
    RunEnv env{out, err, {}, sleep_ms};
    env.dat_folder = std::filesystem::path();
    // A clock that stands still: the report's time line reads the same on every run.
    env.now = [] { return ProgressClock::time_point{}; };
    env.opener = [this](const TransportOptions&) -> PipesOpener {
      return [this]() -> std::unique_ptr<Pipes> {
        ++opened;
        return opener_for(cable)();
      };
    };
    env.sleep = [this](int ms) { cable->on_sleep(ms); };
    return run(args, env);
  }

  // A cable whose agent, this build's, is running on a 16 KiB mask ROM
  // without save memory.
  ScriptedCable& marked(std::uint32_t rom_kind = 1, std::uint32_t rom_size = 0x4000,
                        std::uint32_t erase_block = 0, std::uint32_t save_type = 0) {
    cable->open().reg_read(1, 0x12345678);
    cable->request(0xFFFF0006, 0x03000004, 4, 0).read(le32(agent_id()));
    cable->reg_read(3, save_type).reg_read(4, rom_kind).reg_read(5, rom_size).reg_read(6, erase_block);
    // The same cartridge as the cable cached: its fingerprint matches.
    cable->query(0xFFFF0033, {CART_FINGERPRINT}).reg_read(7, CART_FINGERPRINT);
    return cable->query(0xFFFF0021, {0});
  }
};

bool exists(const std::string& path) { return std::ifstream(path).good(); }

TEST(ToolRun, FreshCableUploadsTheAgentImageWithItsIdentity) {
  ToolRun r;
  ASSERT_NE(agent_id(), 0u);
  ScriptedCable& c = *r.cable;
  c.open().handshake();
  expect_agent_upload(c, 0x4000);
  // A failed command leaves no marker: the next one starts afresh.
  c.reg_write(1, 0);
  EXPECT_EQ(r({"fe"}), 255);  // a mask ROM cannot be erased
  EXPECT_TRUE(c.done()) << c.left() << " steps not taken";
  EXPECT_EQ(r.out.str(), BANNER + "MASK ROM SIZE=0x4000\n");
  EXPECT_EQ(r.err.str(), "kartex: this cartridge cannot be erased: its ROM (mask ROM) is not flash\n");
}

TEST(ToolRun, AnotherBuildsAgentIsReplacedBeforeTheCommand) {
  ToolRun r;
  ScriptedCable& c = *r.cable;
  c.open().reg_read(1, 0x12345678);
  c.request(0xFFFF0006, 0x03000004, 4, 0).read(le32(agent_id() ^ 0x80));
  c.reg_write(1, 0).handshake();
  expect_agent_upload(c, 0x4000);
  c.reg_write(1, 0);
  EXPECT_EQ(r({"fe"}), 255);
  EXPECT_TRUE(c.done()) << c.left() << " steps not taken";
  EXPECT_EQ(r.out.str(), BANNER +
                             "The agent on the console is from another build of kartex: loading "
                             "this one.\nMASK ROM SIZE=0x4000\n");
}

TEST(ToolRun, ReadReplacesTheFileOnlyWhenComplete) {
  ToolRun r;
  const std::string target = r.dir + "kartex_run_dump.gba";
  std::ofstream(target) << "old contents";
  Bytes rom = pattern(0x4000, 1);
  const Bytes header = rom_header();
  std::copy(header.begin(), header.end(), rom.begin());
  // One dump block: its header pair, then its words and their CRC, in two
  // reads of at most 16 KiB.
  r.marked().request(0xFFFF003D, 0, 0x4000, write_check({}, 0, 0x4000)).read(concat({le32(0x5E7D0000), le32(0xA182FFFF)}));
  const Bytes body = concat({rom, le32(crc32_of(rom))});
  r.cable->read(Bytes(body.begin(), body.begin() + 0x2000)).read(Bytes(body.begin() + 0x2000, body.end()));
  EXPECT_EQ(r({"FR", target}), 0);
  EXPECT_TRUE(r.cable->done()) << r.cable->left() << " steps not taken";
  EXPECT_EQ(r.out.str(), BANNER + "MASK ROM SIZE=0x4000\n0x4000 bytes reading.\nRRRR\n" +
                             header_lines() + digest_lines(rom));
  EXPECT_EQ(text_of(target), std::string(rom.begin(), rom.end()));
  EXPECT_FALSE(exists(target + ".kartex-part"));
}

TEST(ToolRun, ALinkFailureMidReadKeepsTheOldFile) {
  ToolRun r;
  const std::string target = r.dir + "kartex_run_keep.gba";
  std::ofstream(target) << "old contents";
  r.marked().request(0xFFFF003D, 0, 0x4000, write_check({}, 0, 0x4000)).read(concat({le32(0x5E7D0000), le32(0xA182FFFF)}));
  r.cable->read(pattern(0x2000)).read(pattern(0x2004));
  r.cable->failing(PipeResult::failed("timeout after 60 s"));
  // The agent may still be sending: the marker goes, so that the next
  // command restarts the console instead of taking those words for answers;
  // the pipe that failed is reset first, or a stalled one would take that
  // last word for one more timeout.
  r.cable->reset(1).reg_write(1, 0);
  EXPECT_EQ(r({"fr", target}), 255);
  EXPECT_TRUE(r.cable->done()) << r.cable->left() << " steps not taken";
  // No mark: a block's bytes count only once they match its CRC.
  EXPECT_EQ(r.out.str(), BANNER + "MASK ROM SIZE=0x4000\n0x4000 bytes reading.\n");
  EXPECT_EQ(r.err.str(),
            "kartex: read of 2049 words: reading the data-in pipe failed: timeout after 60 s\n");
  EXPECT_EQ(text_of(target), "old contents");
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
  };
  for (const Case& tc : cases) {
    ToolRun r;
    EXPECT_EQ(r(tc.args), tc.status) << tc.args[0];
    EXPECT_EQ(r.opened, 0) << tc.args[0];
  }
}

void write_file(const std::string& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

TEST(ToolRun, WriteSendsTheFileThroughTheRunningAgent) {
  // 20 KiB at 0x1000 of an erased 128 KiB block: the file's part is
  // compared, the bytes around it are read back (0xFF), the block goes whole
  // with its check word, and is verified.
  ToolRun r;
  const std::string file = r.dir + "kartex_run_write.gba";
  const Bytes data = pattern(0x5000, 3);
  write_file(file, data);
  Bytes block(0x20000, 0xFF);
  std::copy(data.begin(), data.end(), block.begin() + 0x1000);
  r.marked(2, 0x400000, 0x20000).request(0xFFFF0030, 0x1000, 0x5000, 0x5000).read(le32(crc32_blank(0x5000)));
  r.cable->request(0xFFFF0030, 0, 0x1000, 0x1000).read(le32(crc32_blank(0x1000)));
  expect_rom_read(*r.cable, 0, Bytes(0x1000, 0xFF));
  r.cable->request(0xFFFF0030, 0x6000, 0x1A000, 0x1A000).read(le32(crc32_blank(0x1A000)));
  expect_rom_read(*r.cable, 0x6000, Bytes(0x1A000, 0xFF));
  r.cable->request(0xFFFF0032, 0, 0x20000, write_check(block, 0, 0x20000));
  for (std::size_t at = 0; at < block.size(); at += 16384)
    r.cable->write(Bytes(block.begin() + at, block.begin() + at + 16384));
  r.cable->read(le32(0x55AA0001));
  expect_flash_failures(*r.cable);
  r.cable->request(0xFFFF0030, 0, 0x20000, 0x20000).read(le32(crc32_of(block)));
  // The write changed the header the fingerprint covers: the new one is kept.
  r.cable->query(0xFFFF0033, {CART_FINGERPRINT}).reg_write(7, CART_FINGERPRINT);
  EXPECT_EQ(r({"fw", file, "0x1000", "20k"}), 0);
  EXPECT_TRUE(r.cable->done()) << r.cable->left() << " steps not taken";
  EXPECT_EQ(r.out.str(), BANNER +
                             "FLASH ROM SIZE=0x400000\n0x5000 bytes writeing.\nWWWWWWWW\n1 of 1 "
                             "erase block written (0 erased first), 0 unchanged.\nVerify "
                             "OK: 1 erase block holds what was written.\n");
}

TEST(ToolRun, WriteOptionsReachTheCommands) {
  struct Case {
    std::vector<std::string> options;
    bool all_blocks, verify;
  };
  const Case cases[] = {
      {{}, false, true},
      {{"--no-verify"}, false, false},
      {{"--all-blocks"}, true, true},
      {{"--all-blocks", "--no-verify"}, true, false},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.options.size());
    // fw of a whole 128 KiB block over other data.
    {
      ToolRun r;
      const std::string file = r.dir + "kartex_run_options.gba";
      const Bytes data = pattern(0x20000, 0x41);
      write_file(file, data);
      r.marked(2, 0x400000, 0x20000).request(0xFFFF0030, 0, 0x20000, 0x20000).read(le32(0x0BADF00D));
      // A whole block that is not blank streams in, erased first, with or
      // without --all-blocks.
      expect_flash_stream(*r.cable, 0, data, true);
      expect_flash_failures(*r.cable);
      if (tc.verify) r.cable->request(0xFFFF0030, 0, 0x20000, 0x20000).read(le32(crc32_of(data)));
      r.cable->query(0xFFFF0033, {CART_FINGERPRINT}).reg_write(7, CART_FINGERPRINT);
      std::vector<std::string> args = tc.options;
      args.insert(args.end(), {"fw", file});
      EXPECT_EQ(r(args), 0);
      EXPECT_TRUE(r.cable->done()) << r.cable->left() << " steps not taken";
      EXPECT_EQ(r.out.str(),
                BANNER + "FLASH ROM SIZE=0x400000\n0x20000 bytes writeing.\nWWWWWWWW\n1 of 1 erase "
                         "block written (1 erased first), 0 unchanged.\n" +
                    (tc.verify ? "Verify OK: 1 erase block holds what was written.\n" : ""));
    }
    // sw of one SRAM block: without --all-blocks the block is compared first.
    {
      ToolRun r;
      const std::string file = r.dir + "kartex_run_options.sav";
      const Bytes data = pattern(0x1000, 0x52);
      write_file(file, data);
      r.marked(1, 0x4000, 0, 1);
      if (!tc.all_blocks) r.cable->request(0xFFFF0031, 0, 0x1000, 0x1000).read(le32(crc32_of(data) ^ 1));
      // Compared, it goes in the request that sums blocks ahead (none
      // here); --all-blocks keeps the plain checked write.
      r.cable->request(tc.all_blocks ? 0xFFFF0039 : 0xFFFF0040, 0, 0x1000, write_check(data, 0, 0x1000))
          .write(data)
          .read(le32(0x12345678));
      // The agent read the SRAM block back into its check: no verify pass.
      std::vector<std::string> args = tc.options;
      args.insert(args.end(), {"sw", file, "0", "0x1000"});
      EXPECT_EQ(r(args), 0);
      EXPECT_TRUE(r.cable->done()) << r.cable->left() << " steps not taken";
      EXPECT_EQ(r.out.str(), BANNER + "MASK ROM SIZE=0x4000\nSRAM256K SIZE=0x8000\n0x1000 bytes writeing.\nW" +
                                 (tc.verify ? "\nVerify OK: 1 save block holds what was written.\n" : ""));
    }
  }
}

}  // namespace
}  // namespace kartex::test
