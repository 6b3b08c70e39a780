// Writes that change exactly their range, rewrites that move only what
// changed, dumps that skip erased blocks and survive a corrupted link word,
// and the report after a dump: the real agent on the simulator.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "cart/commands.h"
#include "common/digest.h"
#include "sim/cart/cart_build.h"
#include "sim/cart/cart_header.h"
#include "sim/cart/cartridge.h"
#include "sim/cart/flash_catalog.h"
#include "sim/cart/flash_rom.h"
#include "tests/support/body_fixture.h"
#include "tests/support/cart_bench.h"
#include "tests/support/case_spread.h"
#include "tests/support/flash_cells.h"
#include "tests/support/sizes.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

// What the cartridge's cells hold, whatever mode its chips are in.
Bytes cells(CartBench& b, std::uint32_t size) { return flash_cells(flash_rom_of(b.a.sim), size); }

std::uint64_t link_words(CartBench& b) {
  const SimStats s = b.a.sim.stats();
  return s.words_to_console + s.words_from_console;
}

TEST(WriteTrust, EveryKindChangesExactlyTheRangeWritten) {
  for (const RomOption& option : spread_of(rom_options())) {
    SCOPED_TRACE(option.label());
    const std::uint32_t size = std::min(option.sizes_mib.front() * MiB, 32 * MiB);
    const std::string old_file = scratch("trust_old") + "old.bin";
    SimOptions options;
    options.chip = option.label();
    options.rom_file = old_file;
    // Old data in the first blocks only; the rest of the chip stays erased.
    const std::uint32_t probe = 0x100000;
    spill(old_file, noise(probe, option.code));
    CartBench b(options);
    const auto block = static_cast<std::uint32_t>(b.cart.erase_block);
    ASSERT_GT(block, 0u);
    Bytes expect = noise(probe, option.code);
    expect.resize(size, 0xFF);

    // From the middle of a block to the middle of the next; then from a
    // block's start to an odd length inside it.
    const Bytes across = noise(block, option.code + 1);
    const std::uint32_t across_at = block + block / 4 + 2;
    const Bytes ending = noise(block / 2 + 1, option.code + 2);
    const std::uint32_t ending_at = 3 * block;
    for (auto [at, data] : {std::pair{across_at, &across}, std::pair{ending_at, &ending}}) {
      flash_write(b.a.link, b.cart, {static_cast<std::int32_t>(at), NOT_GIVEN}, *data, b.con);
      std::copy(data->begin(), data->end(), expect.begin() + at);
    }
    const Bytes now = cells(b, size);
    const auto diff = std::mismatch(now.begin(), now.end(), expect.begin());
    EXPECT_TRUE(diff.first == now.end()) << "first wrong byte at 0x" << std::hex << (diff.first - now.begin());
    EXPECT_EQ(b.a.sim.log().misuse_count(), 0u)
        << (b.a.sim.log().misuses().empty() ? "" : b.a.sim.log().misuses()[0]);
    EXPECT_NE(b.out.str().find("Verify OK"), std::string::npos);
  }
}

TEST(WriteTrust, RewritesMoveOnlyWhatChangedAndDumpsSkipErasedBlocks) {
  SimOptions options;
  options.chip = "2/16";  // 4 MiB, 32 erase blocks of 128 KiB
  CartBench b(options);
  const std::uint32_t size = 4 * MiB, block = 0x20000;
  Bytes file = noise(size, 77);

  std::uint64_t before = link_words(b);
  flash_write(b.a.link, b.cart, {}, file, b.con);
  const std::uint64_t full = link_words(b) - before;

  before = link_words(b);
  flash_write(b.a.link, b.cart, {}, file, b.con);
  const std::uint64_t again = link_words(b) - before;
  EXPECT_LT(again * 50, full) << "a second write of the same file: " << again << " of " << full;
  EXPECT_NE(b.out.str().find("0 of 32 erase blocks written (0 erased first), 32 unchanged."),
            std::string::npos);

  // Two of the 32 blocks change (6 %); one of them only clears bits. Both
  // are whole blocks that differ, which stream in erased first: the erase
  // starts before any of the new data is there to compare with.
  file[5 * block + 100] ^= 0x5A;
  file[20 * block + 7] &= 0x0F;
  before = link_words(b);
  flash_write(b.a.link, b.cart, {}, file, b.con);
  const std::uint64_t some = link_words(b) - before;
  EXPECT_LE(some * 10, full) << "two changed blocks: " << some << " of " << full;
  EXPECT_NE(b.out.str().find("2 of 32 erase blocks written (2 erased first), 30 unchanged."),
            std::string::npos);
  EXPECT_TRUE(cells(b, size) == file);

  before = link_words(b);
  EXPECT_TRUE(b.read_rom(0, size) == file);
  const std::uint64_t dump = link_words(b) - before;
  // The upper half erased: a dump moves little more than the lower half.
  flash_erase(b.a.link, b.cart, b.con);
  flash_write(b.a.link, b.cart, {}, Bytes(file.begin(), file.begin() + size / 2), b.con);
  before = link_words(b);
  Bytes half(file.begin(), file.begin() + size / 2);
  half.resize(size, 0xFF);
  EXPECT_TRUE(b.read_rom(0, size) == half);
  const std::uint64_t sparse = link_words(b) - before;
  EXPECT_LE(sparse * 100, dump * 55) << "half-erased dump: " << sparse << " of " << dump;
}

TEST(WriteTrust, AllBlocksWritesEveryBlockAgain) {
  SimOptions options;
  options.chip = "2/16";
  CartBench b(options);
  const Bytes file = noise(0x40000, 3);
  flash_write(b.a.link, b.cart, {}, file, b.con);
  flash_write(b.a.link, b.cart, {}, file, b.con, WriteOptions{.verify = true, .all_blocks = true});
  EXPECT_NE(b.out.str().find("2 of 2 erase blocks written (2 erased first), 0 unchanged."),
            std::string::npos);
  EXPECT_TRUE(cells(b, 0x40000) == file);
}

// A loose contact flips one bit of one link word: a dump is either right or
// absent, never silently wrong.
TEST(WriteTrust, ACorruptedLinkWordNeverLeavesAWrongDump) {
  const std::string dir = scratch("flip_dump");
  const Bytes rom = make_default_rom(MiB);
  spill(dir + "rom.gba", rom);
  // Bring-up takes 17 words; then the CRC request, its 16 replies, the
  // first block's read request and its data.
  struct Case {
    std::uint64_t word;
    unsigned bit;
    bool recovers;  // the tool must end with a right dump
  };
  const Case cases[] = {{23, 5, true}, {40, 0, true}, {300, 31, true}, {9000, 17, true},
                        {19, 4, false}, {2, 1, false}};
  int recovered = 0;
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.word);
    std::filesystem::remove(dir + "dump.gba");
    ToolOnSim run({"--timeout=1", "--sim=rom=" + dir + "rom.gba,fault=flip@" + std::to_string(tc.word) + ":" +
                       std::to_string(tc.bit),
                   "fr", dir + "dump.gba"});
    if (run.status == 0) {
      ++recovered;
      EXPECT_TRUE(slurp(dir + "dump.gba") == rom) << "a wrong dump was kept";
    } else {
      EXPECT_EQ(run.status, 255);
      EXPECT_FALSE(std::filesystem::exists(dir + "dump.gba"));
      EXPECT_NE(run.err.str().find("kartex: "), std::string::npos) << run.err.str();
    }
    if (tc.recovers) {
      EXPECT_EQ(run.status, 0) << run.err.str();
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "dump.gba.kartex-part"));
  }
  EXPECT_GE(recovered, 4);
}

TEST(WriteTrust, ABitFlippedOnItsWayToTheChipNeverReachesIt) {
  const std::string dir = scratch("flip_write");
  const std::string state = "state=" + dir + "state";
  const Bytes file = noise(0x40000, 4);
  spill(dir + "f.bin", file);
  ToolOnSim setup({"--sim=chip=2/16," + state, "fr", dir + "x.bin", "0", "4"});
  ASSERT_EQ(setup.status, 0) << setup.err.str();
  // Word 2000 lies in the data of the first block: the agent finds it
  // disagreeing with its check word, writes nothing, and the tool sends
  // the block again in the same run.
  ToolOnSim flipped({"--sim=" + state + ",fault=flip@2000:3", "fw", dir + "f.bin"});
  EXPECT_EQ(flipped.status, 0) << flipped.err.str();
  EXPECT_NE(flipped.err.str().find("bit 3 of link word 2000 inverted"), std::string::npos) << flipped.err.str();
  EXPECT_NE(flipped.out.str().find("Verify OK: 2 erase blocks hold what was written.\n"), std::string::npos)
      << flipped.out.str();
  ToolOnSim back({"--sim=" + state, "fr", dir + "back.bin", "0", std::to_string(file.size())});
  EXPECT_EQ(back.status, 0);
  EXPECT_TRUE(slurp(dir + "back.bin") == file);
}

// CRC-32 bit by bit, as the zlib polynomial defines it.
std::uint32_t plain_crc32(const Bytes& data) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::uint8_t byte : data) {
    crc ^= byte;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// The digest the system's own tool (sha1sum, md5sum, sha256sum) gives, in
// `digits` hex digits.
std::string digest_by(const char* tool, const std::string& path, std::size_t digits) {
  std::FILE* p = ::popen((std::string(tool) + " '" + path + "'").c_str(), "r");
  if (!p) return "";
  char text[65] = {};
  const std::size_t n = std::fread(text, 1, digits, p);
  ::pclose(p);
  return std::string(text, n);
}

std::string sha1sum_of(const std::string& path) { return digest_by("sha1sum", path, 40); }

TEST(WriteTrust, DumpReportNamesTheHeaderAndTheChecksums) {
  struct Case {
    const char* name;
    int checksum_bias;  // 0: the header's check holds
    const char* check_line;
  };
  const Case cases[] = {{"good header", 0, "Header checksum: 0x%02X (good)\n"},
                        {"bad header", 1, "Header checksum: 0x%02X (bad: the header bytes give 0x%02X)\n"}};
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    const std::string dir = scratch("report");
    Bytes rom = make_default_rom(MiB);  // the logo that marks a mask ROM
    const std::string title = "TRUST TEST\0\0", code = "KTSE", maker = "01";
    std::copy(title.begin(), title.end(), rom.begin() + 0xA0);
    std::fill(rom.begin() + 0xA0 + 10, rom.begin() + 0xAC, 0);
    std::copy(code.begin(), code.end(), rom.begin() + 0xAC);
    std::copy(maker.begin(), maker.end(), rom.begin() + 0xB0);
    rom[0xBC] = 3;
    unsigned sum = 0;
    for (int i = 0xA0; i <= 0xBC; ++i) sum += rom[i];
    const auto good = static_cast<std::uint8_t>(-(sum + 0x19));
    rom[0xBD] = static_cast<std::uint8_t>(good + tc.checksum_bias);
    spill(dir + "rom.gba", rom);
    ToolOnSim run({"--sim=rom=" + dir + "rom.gba", "fr", dir + "dump.gba"});
    ASSERT_EQ(run.status, 0) << run.err.str();
    char check[96];
    std::snprintf(check, sizeof check, tc.check_line, rom[0xBD], good);
    char sums[320];
    std::snprintf(sums, sizeof sums, "CRC32: %08X\nMD5: %s\nSHA-1: %s\nSHA-256: %s\n", plain_crc32(rom),
                  digest_by("md5sum", dir + "rom.gba", 32).c_str(), sha1sum_of(dir + "rom.gba").c_str(),
                  digest_by("sha256sum", dir + "rom.gba", 64).c_str());
    const std::string report = std::string("\nTitle: TRUST TEST\nGame code: KTSE\nMaker code: 01\nVersion: 3\n") +
                               check + sums + "Time: 1.0 MiB in 0:00, -- B/s\nRe-read blocks: 0\n";
    EXPECT_TRUE(run.out.str().ends_with(report)) << run.out.str();
  }
}

TEST(WriteTrust, WritesToARomThatIsNotFlashAreRefusedBeforeAnyRequest) {
  const std::string dir = scratch("not_flash");
  spill(dir + "patch.bin", noise(0x1000, 1));
  for (const char* command : {"fw", "fa"}) {
    SCOPED_TRACE(command);
    ToolOnSim run({"--sim", "--trace", dir + "t.trace", command, dir + "patch.bin"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err.str(), "kartex: this cartridge cannot be written: its ROM (mask ROM) is not flash\n");
    const std::string trace = text_of(dir + "t.trace");
    for (std::uint32_t code : {REQ_FLASH_WRITE, REQ_FLASH_PROGRAM, REQ_FLASH_UPDATE, REQ_FLASH_STREAM, REQ_FLASH_FREE})
      EXPECT_EQ(trace.find(request_line(code)), std::string::npos);
  }
}

}  // namespace
}  // namespace kartex::test
