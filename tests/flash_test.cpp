// The flash ROM commands on the wire: the dump's blocks with their CRCs,
// erased blocks filled in, corrupted blocks read again; writes that change exactly their
// range (the bytes around it read back and put back), skip blocks that hold
// their bytes, program erased ones and verify; clipping, the append start
// rule, erase, and the refusals of ROMs that are not flash.

#include <gtest/gtest.h>

#include "cart/agent_crc.h"
#include "tests/support/body_fixture.h"
#include "tests/support/rom_wire.h"

namespace kartex::test {
namespace {

std::string marks(std::size_t n, char letter) { return std::string(n, letter); }

// ---- fr ----

TEST(FlashRead, EachDumpBlockComesWithItsCrcAndTheMarksCount4KiB) {
  struct Case {
    const char* name;
    Range range;
    std::int32_t rom_size;
    std::size_t marks;
    bool header;  // a whole-ROM dump from 0 shows the header
  };
  const Case cases[] = {
      {"whole small ROM", {}, 0x3000, 3, true},
      {"range over two dump blocks", {0x20000, 0x12001}, 0x400000, 19, false},
      {"five bytes from 0: two words, no header", {0, 5}, 0x400000, 1, false},
      {"odd start: the words around the range are read, their other bytes dropped", {0x1001, 0x1000},
       0x400000, 1, false},
      {"an odd range over the grid: a word of each block beside it", {0xFFFF, 0x10002}, 0x400000, 17, false},
      {"a block over a 32 MiB page boundary: cut where the page ends", {0x1FF8000, 0x10000}, 0x4000000, 16,
       false},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    FakeRom rom{.seed = 0x21, .erased = {}, .prefix = rom_header()};
    const auto from = static_cast<std::uint32_t>(tc.range.start_offset == NOT_GIVEN ? 0 : tc.range.start_offset);
    const auto length = static_cast<std::uint32_t>(tc.range.length == NOT_GIVEN ? tc.rom_size : tc.range.length);
    expect_rom_dump(b.c, rom, from, length);
    b.run([&] { flash_read(b.s.link, cart_of(1, tc.rom_size, 0), tc.range, b.sink, b.con); });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    const Bytes expected = rom.bytes(from, length);
    EXPECT_EQ(b.sink.data, expected);
    EXPECT_EQ(b.out.str(), strprintf("0x%X bytes reading.\n", length) + marks(tc.marks, 'R') +
                               (tc.marks ? "\n" : "") + (tc.header ? header_lines() : "") +
                               digest_lines(expected));
  }
}

TEST(FlashRead, PiecesSpelledOutAcrossAPageBoundary) {
  // The same wire as above, written out by hand: one request for the
  // range, a block cut where the mapper's 32 MiB page ends; each read
  // takes a block, its CRC and the header pair of the next block.
  Body b;
  const Bytes low = pattern(0x1000, 1), high = pattern(0x800, 2);
  const Bytes sent = concat({le32(0x5E7D0000), le32(0xA182FFFF)});
  b.c.request(0xFFFF003D, 0x1FFF000, 0x1800, write_check({}, 0x1FFF000, 0x1800)).read(sent);
  b.c.read(concat({low, le32(crc_of(low)), sent}));
  b.c.read(concat({high, le32(crc_of(high))}));
  b.run([&] { flash_read(b.s.link, cart_of(3, 0x4000000, 0x40000), {0x1FFF000, 0x1800}, b.sink, b.con); });
  EXPECT_EQ(b.failure, "");
  EXPECT_TRUE(b.c.done());
  EXPECT_EQ(b.sink.data, concat({low, high}));
  EXPECT_EQ(b.out.str(), "0x1800 bytes reading.\nRR\n" + digest_lines(concat({low, high})));
}

TEST(FlashRead, ErasedBlocksAreFilledInWithoutReadingThem) {
  struct Case {
    const char* name;
    std::int32_t rom_size;
    Range range;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> erased;
    std::size_t blank;
    bool header;
  };
  const Case cases[] = {
      {"two erased blocks between data", 0x40000, {}, {{0x10000, 0x30000}}, 2, true},
      {"18 blocks, 16 of them erased", 0x120000, {}, {{0x10000, 0x110000}}, 16, true},
      {"an erased short last block", 0x400000, {0x20000, 0x18000}, {{0x30000, 0x38000}}, 1, false},
      {"all erased: only the header pairs cross the link", 0x400000, {0x100000, 0x30000},
       {{0x100000, 0x130000}}, 3, false},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    FakeRom rom{.seed = 0x44, .erased = tc.erased, .prefix = rom_header()};
    const auto from = static_cast<std::uint32_t>(tc.range.start_offset == NOT_GIVEN ? 0 : tc.range.start_offset);
    const auto length = static_cast<std::uint32_t>(tc.range.length == NOT_GIVEN ? tc.rom_size : tc.range.length);
    const Bytes expected = rom.bytes(from, length);
    expect_rom_dump(b.c, rom, from, length);
    b.run([&] { flash_read(b.s.link, cart_of(2, tc.rom_size, 0x20000), tc.range, b.sink, b.con); });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.sink.data, expected);
    EXPECT_EQ(b.out.str(),
              strprintf("0x%X bytes reading.\n", length) + marks(length / 0x1000, 'R') + "\n" +
                  strprintf("%zu erased block%s of 0x10000 bytes filled in without reading %s.\n",
                            tc.blank, tc.blank == 1 ? "" : "s", tc.blank == 1 ? "it" : "them") +
                  (tc.header ? header_lines() : "") + digest_lines(expected));
  }
}

TEST(FlashRead, ABlockThatArrivesCorruptedIsReadAgain) {
  // Block 0 arrives whole, block 1 (0x10000) as `first` says, then the
  // blocks after it; block 1 is then asked for alone, once per entry of
  // `again`, and blocks 2 and 3 reach the file behind it.
  struct Case {
    const char* name;
    DumpHarm first;
    std::vector<DumpHarm> again;
    const char* failure;
  };
  const Case cases[] = {
      {"corrupted once, then accepted", DumpHarm::Data, {DumpHarm::None}, ""},
      {"corrupted twice, then accepted", DumpHarm::Data, {DumpHarm::Data, DumpHarm::None}, ""},
      {"a garbled CRC word costs one more read", DumpHarm::Crc, {DumpHarm::None}, ""},
      {"a header word changed: its complement tells, the CRC agrees, no read again", DumpHarm::Header, {}, ""},
      {"a complement changed: the header tells, no read again", DumpHarm::Complement, {}, ""},
      {"three corrupted reads give up with one line", DumpHarm::Data, {DumpHarm::Data, DumpHarm::Crc},
       "the ROM bytes at 0x10000 (0x10000 bytes) arrived corrupted 3 times over the link; giving "
       "up (check the cable and the cartridge's contacts)"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    FakeRom rom{.seed = 0x66, .erased = {}, .prefix = {}};
    expect_rom_dump(b.c, rom, 0, 0x40000, {{1, tc.first}});
    for (DumpHarm h : tc.again) expect_rom_dump(b.c, rom, 0x10000, 0x10000, {{0, h}});
    b.run([&] { flash_read(b.s.link, cart_of(2, 0x400000, 0x20000), {0, 0x40000}, b.sink, b.con); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    if (*tc.failure) {
      // The marks stop after the last block that arrived whole and in order.
      EXPECT_EQ(b.out.str(), "0x40000 bytes reading.\n" + marks(16, 'R'));
      EXPECT_EQ(b.sink.data, rom.bytes(0, 0x10000));
    } else {
      EXPECT_EQ(b.sink.data, rom.bytes(0, 0x40000));
      EXPECT_EQ(b.out.str(), "0x40000 bytes reading.\n" + marks(64, 'R') + "\n" +
                                 digest_lines(rom.bytes(0, 0x40000), static_cast<unsigned>(tc.again.size())));
    }
  }
}

TEST(FlashRead, AFilledBlockWhoseHeaderChangedIsReadAgain) {
  // Block 1 is erased: its value comes in the header pair alone, so a pair
  // that disagrees leaves the value in doubt and the block is asked again;
  // a pair of which neither word names a known block stops the dump.
  struct Case {
    const char* name;
    DumpHarm harm;
  };
  const Case cases[] = {
      {"the header word changed", DumpHarm::Header},
      {"the complement changed", DumpHarm::Complement},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    FakeRom rom{.seed = 0x67, .erased = {{0x10000, 0x20000}}, .prefix = {}};
    expect_rom_dump(b.c, rom, 0, 0x30000, {{1, tc.harm}});
    expect_rom_dump(b.c, rom, 0x10000, 0x10000);
    b.run([&] { flash_read(b.s.link, cart_of(2, 0x400000, 0x20000), {0, 0x30000}, b.sink, b.con); });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.sink.data, rom.bytes(0, 0x30000));
  }
  // Neither word of the pair names a block: how many words follow is unknown.
  Body b;
  b.c.request(0xFFFF003D, 0, 0x20000, write_check({}, 0, 0x20000)).read(concat({le32(0x12345678), le32(0x12345678)}));
  b.run([&] { flash_read(b.s.link, cart_of(2, 0x400000, 0x20000), {0, 0x20000}, b.sink, b.con); });
  EXPECT_EQ(b.failure, "the console's dump of the ROM at 0x0 arrived garbled (block header 12345678 12345678): "
                       "check the cable and the cartridge's contacts");
  EXPECT_TRUE(b.sink.data.empty());
}

TEST(FlashRead, ARequestTheConsoleRefusesIsSentAgain) {
  // The console checks the request's offset and byte count against its
  // check word and answers a pair of DUMP_REFUSED alone when they differ.
  struct Case {
    const char* name;
    int refusals;
    bool flipped;  // the refusal's own header word changed on the way
    const char* failure;
  };
  const Case cases[] = {
      {"refused once, then served", 1, false, ""},
      {"a refusal whose header changed is still a refusal", 1, true, ""},
      {"refused three times: one line", 3, false,
       "the console refused the dump of the ROM at 0x20000 3 times: its request arrived changed over the "
       "link (check the cable and the cartridge's contacts)"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    FakeRom rom{.seed = 0x68, .erased = {}, .prefix = {}};
    for (int i = 0; i < tc.refusals; ++i)
      b.c.request(0xFFFF003D, 0x20000, 0x10000, write_check({}, 0x20000, 0x10000))
          .read(concat({le32(0x0BAD0000 ^ (tc.flipped ? 0x40u : 0u)), le32(0xF452FFFF)}));
    if (!*tc.failure) expect_rom_dump(b.c, rom, 0x20000, 0x10000);
    b.run([&] { flash_read(b.s.link, cart_of(2, 0x400000, 0x20000), {0x20000, 0x10000}, b.sink, b.con); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_TRUE(b.sink.data == (*tc.failure ? Bytes{} : rom.bytes(0x20000, 0x10000)));
  }
}

// ---- fw, fa ----

constexpr std::uint32_t UPDATE_KEPT_REPLY = 0x55AA0000;
constexpr std::uint32_t UPDATE_PROGRAMMED_REPLY = 0x55AA0001;
constexpr std::uint32_t UPDATE_ERASED_REPLY = 0x55AA0002;
constexpr std::uint32_t UPDATE_REFUSED_REPLY = 0x55AA00FF;

// What the host does to the erase blocks a write touches, in wire order.
struct Step {
  enum Kind { Crcs, Head, Tail, Program, Update, WriteAll, Verify, Failures } kind;
  std::size_t block = 0;       // Program, Update: index among the touched blocks
  std::size_t count = 1;       // Program: blocks in the run
  std::uint32_t reply = 0;     // Update: the agent's answer
  int bad_block = -1;          // Verify: this block's CRC comes back different
};

Step crcs() { return {Step::Crcs}; }
Step head() { return {Step::Head}; }
Step tail() { return {Step::Tail}; }
Step program(std::size_t block, std::size_t count = 1) { return {Step::Program, block, count}; }
Step update(std::size_t block, std::uint32_t reply) { return {Step::Update, block, 1, reply}; }
Step write_all() { return {Step::WriteAll}; }
Step verify(int bad_block = -1) { return {Step::Verify, 0, 1, 0, bad_block}; }
// After the blocks that failed verify were written again
Step failures() { return {Step::Failures}; }

// A write of `data` at ROM offset `start` over `old`, scripted step by step.
// The blocks must afterwards hold `old` with `data` laid over it: nothing
// else may change, so the bytes around the range are part of what is
// checked in every block the agent is sent.
struct WriteScript {
  const FakeRom& old;
  std::uint32_t block, start;
  Bytes data;

  std::uint32_t first() const { return start / block * block; }
  std::uint32_t end() const { return start + static_cast<std::uint32_t>(data.size()); }
  std::uint32_t last_end() const { return (end() + block - 1) / block * block; }
  Bytes image() const {
    Bytes img = old.bytes(first(), last_end() - first());
    std::copy(data.begin(), data.end(), img.begin() + (start - first()));
    return img;
  }

  void pieces(ScriptedCable& c, const Bytes& bytes) const {
    for (std::size_t at = 0; at < bytes.size(); at += 16384)
      c.write(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                    bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + 16384))));
  }

  void read_back(ScriptedCable& c, std::uint32_t offset, std::uint32_t length) const {
    if (length == 0) return;
    const Bytes bytes = old.bytes(offset, length);
    c.request(0xFFFF0030, offset, length, length).read(le32(crc_of(bytes)));
    expect_rom_read(c, old, offset, length);
  }

  // `completes`: the tool reaches the end of its writes (it asks for the
  // agent's failures), rather than failing on a reply.
  void script(ScriptedCable& c, const std::vector<Step>& steps, bool completes = true) const {
    const Bytes img = image();
    const auto size = static_cast<std::uint32_t>(img.size());
    auto blocks = [&](std::size_t i, std::size_t n) {
      return Bytes(img.begin() + static_cast<std::ptrdiff_t>(i * block),
                   img.begin() + static_cast<std::ptrdiff_t>((i + n) * block));
    };
    // The tool asks for the agent's failures once the blocks are written,
    // before the verify.
    bool written = false, asked = false;
    auto ask = [&] {
      if (written && !asked) expect_flash_failures(c);
      asked = true;
    };
    // Every block goes with its check word over its bytes, offset and count
    auto update = [&](std::size_t i, std::uint32_t bytes_word, std::uint32_t reply) {
      const std::uint32_t offset = first() + static_cast<std::uint32_t>(i) * block;
      const Bytes bytes = blocks(i, 1);
      c.request(0xFFFF0032, offset, bytes_word, write_check(bytes, offset, bytes_word));
      pieces(c, bytes);
      c.read(le32(reply));
    };
    // The blocks the next verify reads back: those the write sent, then
    // only those that failed the verify before.
    std::vector<std::size_t> pending;
    bool verified = false;
    // A block the range covers whole goes as a stream the first time it is
    // written: the ready word, its pieces each with its check word, then
    // the outcome and the count of pieces programmed; erased first unless
    // its CRC said blank. A block written again after a verify, or one
    // whose stream the console did not take (`reply` is no outcome of a
    // stream), goes as an update.
    auto write = [&](std::size_t i, std::uint32_t bytes_word, std::uint32_t reply) {
      const std::uint32_t offset = first() + static_cast<std::uint32_t>(i) * block;
      if (verified || start > offset || end() < offset + block) return update(i, bytes_word, reply);
      const Bytes before = old.bytes(offset, block);
      const bool erase = std::any_of(before.begin(), before.end(), [](std::uint8_t v) { return v != 0xFF; });
      if (reply != UPDATE_ERASED_REPLY && reply != UPDATE_PROGRAMMED_REPLY) {
        const std::uint32_t stream_word = block | (erase ? STREAM_ERASE : 0);
        c.request(REQ_FLASH_STREAM, offset, stream_word, write_check({}, offset, stream_word));
        c.read(le32(reply));
        return update(i, bytes_word, reply);
      }
      expect_flash_stream(c, offset, blocks(i, 1), erase);
    };
    auto sent = [&](std::size_t i) {
      if (!verified) pending.push_back(i);
    };
    for (const Step& s : steps) {
      if (s.kind == Step::Program || s.kind == Step::Update || s.kind == Step::WriteAll) written = true;
      if (s.kind == Step::Verify) ask();
      switch (s.kind) {
        case Step::Crcs:
          // Whole blocks by the block, a block the range covers in part by
          // that part alone.
          for (std::size_t i = 0; i < size / block;) {
            const std::uint32_t off = first() + static_cast<std::uint32_t>(i) * block;
            const std::uint32_t lo = std::max(start, off), hi = std::min(end(), off + block);
            auto whole = [&](std::size_t j) {
              const std::uint32_t at = first() + static_cast<std::uint32_t>(j) * block;
              return start <= at && end() >= at + block;
            };
            if (whole(i)) {
              std::size_t j = i;
              while (j < size / block && whole(j)) ++j;
              const auto n = static_cast<std::uint32_t>(j - i) * block;
              expect_rom_crcs(c, off, n, block, block_crcs(old.bytes(off, n), block));
              i = j;
            } else {
              expect_rom_crcs(c, lo, hi - lo, hi - lo, {crc_of(old.bytes(lo, hi - lo))});
              ++i;
            }
          }
          break;
        case Step::Head: read_back(c, first(), start - first()); break;
        case Step::Tail: read_back(c, end(), last_end() - end()); break;
        case Step::Program:  // an erased block is updated as any other
          for (std::size_t i = s.block; i < s.block + s.count; ++i) {
            write(i, block, UPDATE_PROGRAMMED_REPLY);
            sent(i);
          }
          break;
        case Step::Update:
          write(s.block, block, s.reply);
          sent(s.block);
          break;
        case Step::WriteAll:
          // The whole CRC of a block the range covers in part tells whether
          // its erase was needed.
          for (const std::size_t i : {std::size_t{0}, std::size_t{size / block - 1}}) {
            const std::uint32_t off = first() + static_cast<std::uint32_t>(i) * block;
            if ((start > off || end() < off + block) && (i == 0 || size / block > 1))
              expect_rom_crcs(c, off, block, block, {crc_of(old.bytes(off, block))});
          }
          for (std::size_t i = 0; i < size / block; ++i) {
            write(i, block | UPDATE_REWRITE, UPDATE_ERASED);
            sent(i);
          }
          break;
        case Step::Failures: expect_flash_failures(c); break;
        case Step::Verify: {
          // One CRC request per run of neighbouring blocks
          std::vector<std::uint32_t> now = block_crcs(img, block);
          if (s.bad_block >= 0) now[static_cast<std::size_t>(s.bad_block)] ^= 0x00800000;
          for (std::size_t k = 0; k < pending.size();) {
            std::size_t run = 1;
            while (k + run < pending.size() && pending[k + run] == pending[k] + run) ++run;
            expect_rom_crcs(c, first() + static_cast<std::uint32_t>(pending[k]) * block,
                            static_cast<std::uint32_t>(run) * block, block,
                            std::vector<std::uint32_t>(now.begin() + static_cast<std::ptrdiff_t>(pending[k]),
                                                       now.begin() + static_cast<std::ptrdiff_t>(pending[k] + run)));
            k += run;
          }
          verified = true;
          pending.clear();
          if (s.bad_block >= 0) pending.push_back(static_cast<std::size_t>(s.bad_block));
          break;
        }
      }
    }
    if (completes) ask();
  }

  // The failure line of a verify whose block `i` came back different.
  std::string verify_failure(std::size_t i) const {
    const std::uint32_t want = block_crcs(image(), block)[i];
    return strprintf("verify failed: the erase block at 0x%X does not hold what was written "
                     "(CRC32 %08X, expected %08X)",
                     first() + static_cast<std::uint32_t>(i) * block, want ^ 0x00800000, want);
  }
};

TEST(FlashWrite, ExactlyTheRangeChangesBlockByBlock) {
  struct Case {
    const char* name;
    Range range;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> erased;  // of the ROM before
    std::vector<std::uint32_t> kept;  // blocks whose new bytes equal the old ones
    WriteOptions options;
    std::vector<Step> steps;
    std::string out;
    bool verify_fails = false;  // the last Verify step's bad block fails the write
  };
  const std::string line = "0x30000 bytes writeing.\n";
  const std::string again_line = [] {
    FakeRom fresh{.seed = 0x9C, .erased = {}, .prefix = {}};
    const std::uint32_t want = crc_of(fresh.bytes(0x20000, 0x20000));
    return strprintf("The erase block at 0x20000 does not hold what was written (CRC32 %08X, expected "
                     "%08X): writing it again.\n",
                     want ^ 0x00800000, want);
  }();
  const Case cases[] = {
      {"partial first and last block: the bytes around the range read back and kept",
       {0x10001, 0x30000}, {}, {}, {},
       {crcs(), head(), tail(), update(0, UPDATE_ERASED_REPLY), update(1, UPDATE_ERASED_REPLY),
        update(2, UPDATE_ERASED_REPLY), verify()},
       line + marks(24, 'W') + "\n3 of 3 erase blocks written (3 erased first), 0 "
                               "unchanged.\nVerify OK: 3 erase blocks hold what was written.\n"},
      {"a range inside one block: both sides read back", {0x21000, 0x10}, {}, {}, {},
       {crcs(), head(), tail(), update(0, UPDATE_PROGRAMMED_REPLY), verify()},
       "0x10 bytes writeing.\n" + marks(8, 'W') +
           "\n1 of 1 erase block written (0 erased first), 0 unchanged.\nVerify OK: 1 "
           "erase block holds what was written.\n"},
      {"a block that holds its bytes already is skipped", {0, 0x60000}, {}, {0, 0x40000}, {},
       {crcs(), update(1, UPDATE_ERASED_REPLY), verify()},
       "0x60000 bytes writeing.\n" + marks(8, 'W') +
           "\n1 of 3 erase blocks written (1 erased first), 2 unchanged.\nVerify OK: 3 "
           "erase blocks hold what was written.\n"},
      {"the same bytes again: one CRC pass, nothing sent and nothing read back", {0, 0x60000}, {},
       {0, 0x20000, 0x40000}, {}, {crcs(), verify()},
       "0x60000 bytes writeing.\n0 of 3 erase blocks written (0 erased first), 3 unchanged.\nVerify OK: 3 "
       "erase blocks hold what was written.\n"},
      {"only the blocks sent are read back, one request per run of them", {0, 0x80000}, {}, {0x20000},
       {},
       {crcs(), update(0, UPDATE_ERASED_REPLY), update(2, UPDATE_ERASED_REPLY), update(3, UPDATE_ERASED_REPLY),
        verify()},
       "0x80000 bytes writeing.\n" + marks(24, 'W') +
           "\n3 of 4 erase blocks written (3 erased first), 1 unchanged.\nVerify OK: 4 "
           "erase blocks hold what was written.\n"},
      {"erased blocks are programmed, each checked on its own", {0x40000, 0x60000},
       {{0x40000, 0x80000}}, {}, {},
       {crcs(), program(0, 2), update(2, UPDATE_ERASED_REPLY), verify()},
       "0x60000 bytes writeing.\n" + marks(24, 'W') +
           "\n3 of 3 erase blocks written (1 erased first), 0 unchanged.\nVerify OK: 3 "
           "erase blocks hold what was written.\n"},
      {"an erased partial block is read back too: its CRC crossed the link", {0x100, 0x100},
       {{0, 0x20000}}, {}, {}, {crcs(), head(), tail(), program(0), verify()},
       "0x100 bytes writeing.\n" + marks(8, 'W') +
           "\n1 of 1 erase block written (0 erased first), 0 unchanged.\nVerify OK: 1 "
           "erase block holds what was written.\n"},
      {"erased first block, used last block: both ends read back", {0x10000, 0x20000},
       {{0, 0x20000}}, {}, {},
       {crcs(), head(), tail(), program(0), update(1, UPDATE_KEPT_REPLY), verify()},
       "0x20000 bytes writeing.\n" + marks(16, 'W') +
           "\n1 of 2 erase blocks written (0 erased first), 1 unchanged.\nVerify OK: 2 "
           "erase blocks hold what was written.\n"},
      {"--all-blocks: every block rewritten, a blank one not counted as erased", {0x10000, 0x20000},
       {{0x20000, 0x40000}}, {}, {.verify = true, .all_blocks = true},
       {crcs(), head(), tail(), write_all(), verify()},
       "0x20000 bytes writeing.\n" + marks(16, 'W') +
           "\n2 of 2 erase blocks written (1 erased first), 0 unchanged.\nVerify OK: 2 "
           "erase blocks hold what was written.\n"},
      {"--all-blocks writes a block that holds its bytes too", {0, 0x20000}, {}, {0},
       {.verify = true, .all_blocks = true}, {crcs(), write_all(), verify()},
       "0x20000 bytes writeing.\n" + marks(8, 'W') +
           "\n1 of 1 erase block written (1 erased first), 0 unchanged.\nVerify OK: 1 "
           "erase block holds what was written.\n"},
      {"--no-verify asks no CRCs afterwards", {0, 0x40000}, {}, {0}, {.verify = false},
       {crcs(), update(1, UPDATE_ERASED_REPLY)},
       "0x40000 bytes writeing.\n" + marks(8, 'W') +
           "\n1 of 2 erase blocks written (1 erased first), 1 unchanged.\n"},
      {"a block that fails verify is written again from the tool's copy", {0, 0x40000}, {}, {}, {},
       {crcs(), update(0, UPDATE_ERASED_REPLY), update(1, UPDATE_ERASED_REPLY), verify(1),
        update(1, UPDATE_PROGRAMMED_REPLY), failures(), verify()},
       "0x40000 bytes writeing.\n" + marks(16, 'W') +
           "\n2 of 2 erase blocks written (2 erased first), 0 unchanged.\n" + again_line +
           marks(8, 'W') + "\nVerify OK: 2 erase blocks hold what was written.\n"},
      {"a block that keeps failing verify fails the write after three verifies", {0, 0x40000}, {}, {},
       {},
       {crcs(), update(0, UPDATE_ERASED_REPLY), update(1, UPDATE_ERASED_REPLY), verify(1),
        update(1, UPDATE_KEPT_REPLY), failures(), verify(1), update(1, UPDATE_KEPT_REPLY), failures(),
        verify(1)},
       "0x40000 bytes writeing.\n" + marks(16, 'W') +
           "\n2 of 2 erase blocks written (2 erased first), 0 unchanged.\n" + again_line +
           marks(8, 'W') + "\n" + again_line + marks(8, 'W') + "\n",
       true},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    FakeRom old{.seed = 0x13, .erased = tc.erased, .prefix = {}};
    FakeRom fresh{.seed = 0x9C, .erased = {}, .prefix = {}};
    const auto start = static_cast<std::uint32_t>(tc.range.start_offset);
    const auto length = static_cast<std::uint32_t>(tc.range.length);
    // The file holds new bytes from offset 0; the range takes its first part.
    Bytes file = fresh.bytes(start, length);
    for (std::uint32_t kept : tc.kept)
      for (std::uint32_t i = 0; i < 0x20000; ++i)
        if (kept + i >= start && kept + i < start + length) file[kept + i - start] = old.at(kept + i);
    WriteScript w{old, 0x20000, start, file};
    w.script(b.c, tc.steps);
    b.run([&] { flash_write(b.s.link, cart_of(2, 0x100000, 0x20000), tc.range, file, b.con, tc.options); });
    EXPECT_EQ(b.failure, tc.verify_fails ? w.verify_failure(static_cast<std::size_t>(tc.steps.back().bad_block)) : "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.out.str(), tc.out);
  }
}

TEST(FlashWrite, AnUpdateReplyThatIsNoneOfTheThreeFails) {
  struct Case {
    std::uint32_t reply;
    std::size_t block;
    const char* failure;
  };
  const Case cases[] = {
      {UPDATE_REFUSED_REPLY, 0,
       "the console did not write the erase block at 0x40000 (it answered 0x55AA00FF)"},
      {0x5555AAAA, 1,
       "the console did not write the erase block at 0x60000 (it answered 0x5555AAAA)"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.failure);
    Body b;
    FakeRom old{.seed = 0x13, .erased = {}, .prefix = {}};
    const Bytes file = pattern(0x40000, 0x77);
    WriteScript w{old, 0x20000, 0x40000, file};
    std::vector<Step> steps = {crcs()};
    for (std::size_t i = 0; i < tc.block; ++i) steps.push_back(update(i, UPDATE_PROGRAMMED_REPLY));
    steps.push_back(update(tc.block, tc.reply));
    w.script(b.c, steps, false);
    b.run([&] { flash_write(b.s.link, cart_of(2, 0x100000, 0x20000), {0x40000, 0x40000}, file, b.con); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.out.str(), "0x40000 bytes writeing.\n" + marks(8 * (tc.block + 1), 'W'));
  }
}

TEST(FlashWrite, ClipsToRomFromTheOffsetAndToTheFile) {
  // On an erased ROM every touched block is programmed: where the file's
  // bytes lie in it shows what was clipped.
  struct Case {
    const char* name;
    Range range;
    std::size_t file_size;
    std::int32_t rom_size;
    std::uint32_t start, sent;  // where the file's first bytes go, and how many
    const char* messages;
    std::size_t blocks;
  };
  const Case cases[] = {
      {"whole file", {}, 0x5000, 0x200000, 0, 0x5000, "0x5000 bytes writeing.\n", 1},
      {"file as large as the ROM", {}, 0x20000, 0x20000, 0, 0x20000, "0x20000 bytes writeing.\n", 1},
      {"range up to the ROM's end", {0x10000, 0x10000}, 0x20000, 0x20000, 0x10000, 0x10000,
       "0x10000 bytes writeing.\n", 1},
      {"part of the file", {0x4000, 0x6000}, 0x6001, 0x200000, 0x4000, 0x6000, "0x6000 bytes writeing.\n", 1},
      {"lone piece of 3 bytes", {0x20000, 3}, 0x100, 0x200000, 0x20000, 3,
       "0x3 bytes writeing.\n", 1},
      {"odd start over two blocks", {0x1FFFF, 0x4}, 0x100, 0x200000, 0x1FFFF, 4,
       "0x4 bytes writeing.\n", 2},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    const Bytes file = pattern(tc.file_size, 5);
    FakeRom erased{.seed = 0, .erased = {{0, 0xFFFFFFFF}}, .prefix = {}};
    WriteScript w{erased, 0x20000, tc.start, Bytes(file.begin(), file.begin() + tc.sent)};
    w.script(b.c, {crcs(), head(), tail(), program(0, tc.blocks), verify()});
    b.run([&] { flash_write(b.s.link, cart_of(2, tc.rom_size, 0x20000), tc.range, file, b.con); });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.out.str(),
              tc.messages + marks(8 * tc.blocks, 'W') +
                  strprintf("\n%zu of %zu erase block%s written (0 erased first), 0 "
                            "unchanged.\nVerify OK: %zu erase block%s what was written.\n",
                            tc.blocks, tc.blocks, tc.blocks == 1 ? "" : "s", tc.blocks,
                            tc.blocks == 1 ? " holds" : "s hold"));
  }
}

TEST(FlashWrite, OnlyTheWholeRangeOrNothing) {
  // What does not fit is refused before the first request, with the line
  // of what would fit.
  struct Case {
    Range range;
    std::size_t file_size;
    const char* out;
    const char* failure;
  };
  const Case cases[] = {
      {{}, 0x30000, "Write size(0x30000) is too big.\n",
       "0x30000 bytes from 0x0 do not fit the 0x20000-byte ROM: the range that fits is 0x0 0x20000"},
      {{0x10000, 0x20000}, 0x20000, "Write size(0x20000) is too big.\n",
       "0x20000 bytes from 0x10000 do not fit the 0x20000-byte ROM: the range that fits is 0x10000 0x10000"},
      {{0x4000, 0x9000}, 0x6001, "Write size is larger than file size.\n",
       "the file holds 0x6001 bytes, fewer than the 0x9000 asked: give a length of at most 0x6001"},
      {{0x20000, 16}, 16, "", "start offset 0x20000 lies beyond the end of the 0x20000-byte ROM"},
      {{}, 0, "", "nothing to write: the file is empty"},
      {{0, 0}, 16, "", "nothing to write: the length is 0 (give at least one byte)"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.failure);
    Body b;
    b.run([&] { flash_write(b.s.link, cart_of(2, 0x20000, 0x20000), tc.range, pattern(tc.file_size), b.con); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done());
    EXPECT_EQ(b.out.str(), tc.out);
  }
}

TEST(FlashWrite, RefusedBeforeAnyRequest) {
  // ROMs that cannot be erased or programmed, and starts past the ROM; the
  // refusal comes before the first request, even that of fa's free space.
  enum Cmd { FW, FA, FE };
  struct Case {
    Cmd cmd;
    std::int32_t rom_kind, erase_block, start;
    const char* failure;
  };
  const Case cases[] = {
      {FW, 2, 0x20000, 0x200000, "start offset 0x200000 lies beyond the end of the 0x100000-byte ROM"},
      {FW, 1, 0, 0, "this cartridge cannot be written: its ROM (mask ROM) is not flash"},
      {FW, 0, 0, 0, "no cartridge answers in the slot: seat it firmly (with the console switched off) and clean its contacts"},
      {FW, 1, 0x20000, 0, "this cartridge cannot be written: its ROM (mask ROM) is not flash"},
      {FA, 1, 0, 0, "this cartridge cannot be written: its ROM (mask ROM) is not flash"},
      {FA, 0, 0, 0, "no cartridge answers in the slot: seat it firmly (with the console switched off) and clean its contacts"},
      {FE, 1, 0, 0, "this cartridge cannot be erased: its ROM (mask ROM) is not flash"},
      {FE, 0, 0, 0, "no cartridge answers in the slot: seat it firmly (with the console switched off) and clean its contacts"},
      {FE, 1, 0x20000, 0, "this cartridge cannot be erased: its ROM (mask ROM) is not flash"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.failure);
    Body b;
    const CartInfo cart = cart_of(tc.rom_kind, 0x100000, tc.erase_block);
    b.run([&] {
      if (tc.cmd == FW) flash_write(b.s.link, cart, {tc.start, 16}, pattern(16), b.con);
      if (tc.cmd == FA) flash_append(b.s.link, cart, {}, pattern(16), b.con);
      if (tc.cmd == FE) flash_erase(b.s.link, cart, b.con);
    });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done());
    EXPECT_EQ(b.out.str(), "");
  }
}

TEST(FlashWrite, AFlashRomWithoutAnEraseBlockIsNotCalledSomethingElse) {
  // The tool has shown "FLASH ROM SIZE=..." for this cartridge: the refusal
  // must name the missing erase block, not say the ROM is not flash.
  for (std::int32_t erase_block : {0, -0x20000}) {
    Body b;
    b.run([&] { flash_erase(b.s.link, cart_of(2, 0x400000, erase_block), b.con); });
    EXPECT_EQ(b.failure.rfind("this cartridge cannot be erased", 0), 0u) << b.failure;
    EXPECT_NE(b.failure.find("no erase block"), std::string::npos) << b.failure;
    EXPECT_EQ(b.failure.find("is not flash"), std::string::npos) << b.failure;
    EXPECT_TRUE(b.c.done());
  }
}

TEST(FlashAppend, StartFollowsFreeSpaceAndTheBankRule) {
  // On an erased ROM: where the file's bytes lie in the programmed block
  // shows the start.
  struct Case {
    const char* name;
    std::uint32_t variant;
    std::int32_t rom_size;
    std::uint32_t free_reply;
    std::size_t file_size;
    Range range;
    std::uint32_t start, sent;
    const char* messages;
  };
  const Case cases[] = {
      {"variant 0 rounds up to the next bank plus its header", 0, 0x2000000, 0x1E80000, 0x100, {},
       0x408000, 0x100, "Start=0x408000  0x100 bytes writeing.\n"},
      {"variant 0 at a bank boundary", 0, 0x2000000, 0x1800000, 0x100, {}, 0x808000, 0x100,
       "Start=0x808000  0x100 bytes writeing.\n"},
      {"variant 0 already behind a header", 0, 0x2000000, 0x17F8000, 0x100, {}, 0x808000, 0x100,
       "Start=0x808000  0x100 bytes writeing.\n"},
      {"free space rounded down to 32 KiB", 1, 0x2000000, 0x1E87FFF, 0x40, {}, 0x180000, 0x40,
       "Start=0x180000  0x40 bytes writeing.\n"},
      {"empty flash starts at 0 even on variant 0", 0, 0x1000000, 0x1000000, 0x40, {}, 0, 0x40,
       "Start=0x0  0x40 bytes writeing.\n"},
      {"variant 2 has no bank rule", 2, 0x1000000, 0xE80000, 0x40, {}, 0x180000, 0x40,
       "Start=0x180000  0x40 bytes writeing.\n"},
      {"explicit length shorter than the file", 1, 0x1000000, 0x800000, 0x40, {0, 0x20}, 0x800000,
       0x20, "Start=0x800000  0x20 bytes writeing.\n"},
      {"file as large as the room left", 1, 0x1000000, 0x8000, 0x8000, {}, 0xFF8000, 0x8000,
       "Start=0xFF8000  0x8000 bytes writeing.\n"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    Body b;
    const Bytes file = pattern(tc.file_size, 9);
    b.c.query(0xFFFF0020, {tc.free_reply});
    FakeRom erased{.seed = 0, .erased = {{0, 0xFFFFFFFF}}, .prefix = {}};
    std::string after;
    if (tc.sent > 0) {
      WriteScript w{erased, 0x20000, tc.start, Bytes(file.begin(), file.begin() + tc.sent)};
      w.script(b.c, {crcs(), head(), tail(), program(0), verify()});
      after = marks(8, 'W') +
             "\n1 of 1 erase block written (0 erased first), 0 unchanged.\nVerify OK: 1 "
             "erase block holds what was written.\n";
    }
    b.run([&] {
      flash_append(b.s.link, cart_of(2, tc.rom_size, 0x20000, tc.variant), tc.range, file, b.con);
    });
    EXPECT_EQ(b.failure, "");
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.out.str(), tc.messages + after);
  }
}

TEST(FlashAppend, AStartInsideAUsedBlockKeepsTheBytesBeforeIt) {
  // Free space counts in 32 KiB, erase blocks are larger: the block the
  // appended program starts in may hold the end of what is already there.
  Body b;
  b.c.query(0xFFFF0020, {0xE8000});
  FakeRom old{.seed = 0x31, .erased = {{0x1C000, 0x100000}}, .prefix = {}};
  const Bytes file = pattern(0x100, 0x5A);
  WriteScript w{old, 0x20000, 0x18000, file};
  w.script(b.c, {crcs(), head(), tail(), update(0, UPDATE_PROGRAMMED_REPLY), verify()});
  b.run([&] { flash_append(b.s.link, cart_of(2, 0x100000, 0x20000, 1), {}, file, b.con); });
  EXPECT_EQ(b.failure, "");
  EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
  EXPECT_EQ(b.out.str(), "Start=0x18000  0x100 bytes writeing.\n" + marks(8, 'W') +
                             "\n1 of 1 erase block written (0 erased first), 0 "
                             "unchanged.\nVerify OK: 1 erase block holds what was written.\n");
}

TEST(FlashAppend, FreeReplyLargerThanTheRomIsRefused) {
  Body b;
  b.c.query(0xFFFF0020, {0x2000000});
  b.run([&] { flash_append(b.s.link, cart_of(2, 0x1000000, 0x20000), {}, pattern(4), b.con); });
  EXPECT_EQ(b.failure, "the cartridge reports 0x2000000 free bytes in a ROM of 0x1000000 bytes");
  EXPECT_TRUE(b.c.done());
}

// ---- fe ----

TEST(FlashErase, OneAcknowledgedRequestPerBlock) {
  Body b;
  for (std::uint32_t a = 0; a < 0x400000; a += 0x20000) {
    b.c.request(0xFFFF0003, a).read(le32(0x12345678));
    expect_flash_failures(b.c);
  }
  b.run([&] { flash_erase(b.s.link, cart_of(2, 0x400000, 0x20000), b.con); });
  EXPECT_EQ(b.failure, "");
  EXPECT_TRUE(b.c.done());
  EXPECT_EQ(b.out.str(), "Erase START.\n" + std::string(32, 'E') + "\nErase END.\n");
}

// "Done" comes whatever the chip did: the agent's record of failures is the
// answer, and the first failed block ends the command with one line.
TEST(FlashErase, AFailedBlockEndsTheEraseWithOneLine) {
  struct Case {
    std::uint32_t count, cause;
    const char* line;
  };
  const Case cases[] = {
      {1, 0x01A0, "the flash ROM failed the erase at 0x20000 (chip status 0xA0)"},
      {3, 0x0520, "the flash ROM did not finish the erase at 0x20000: the chip never reported ready (3 failures in all)"},
  };
  for (const Case& c : cases) {
    Body b;
    b.c.request(0xFFFF0003, 0).read(le32(0x12345678));
    expect_flash_failures(b.c);
    b.c.request(0xFFFF0003, 0x20000).read(le32(0x12345678));
    expect_flash_failures(b.c, c.count, 0x20000, c.cause);
    b.run([&] { flash_erase(b.s.link, cart_of(2, 0x400000, 0x20000), b.con); });
    EXPECT_EQ(b.failure, c.line);
    EXPECT_TRUE(b.c.done());
    EXPECT_EQ(b.out.str(), "Erase START.\nE");
  }
}

TEST(FlashAppend, WhatDoesNotFitTheRoomLeftIsRefusedAfterTheFreeSpaceOnly) {
  struct Case {
    std::uint32_t variant, free_reply;
    std::size_t file_size;
    Range range;
    const char* out;
    const char* failure;
  };
  const Case cases[] = {
      {1, 0x8000, 0x10000, {}, "Write size(0x10000) is too big.\n",
       "0x10000 bytes do not fit the room left behind what the ROM holds: 0x8000 bytes from 0xFF8000"},
      {0, 0x10000, 0x40, {}, "Write size(0x40) is too big.\n",
       "no room left on the 0x1000000-byte ROM: an appended program would start at 0x1008000"},
      {1, 0x800000, 0x40, {0, 0x1000}, "Write size is larger than file size.\n",
       "the file holds 0x40 bytes, fewer than the 0x1000 asked: give a length of at most 0x40"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.failure);
    Body b;
    b.c.query(0xFFFF0020, {tc.free_reply});
    b.run([&] {
      flash_append(b.s.link, cart_of(2, 0x1000000, 0x20000, tc.variant), tc.range, pattern(tc.file_size), b.con);
    });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done()) << b.c.left() << " steps not taken";
    EXPECT_EQ(b.out.str(), tc.out);
  }
}

TEST(FlashRead, RangesOutsideTheRomAreRefusedBeforeAnyRequest) {
  struct Case {
    Range range;
    const char* failure;
  };
  const Case cases[] = {
      {{0x100, 0}, "nothing to do: the length is 0 (give at least one byte)"},
      {{0x1000, 0x2000}, "0x2000 bytes from 0x1000 do not fit the 0x2000-byte ROM: the range that fits is 0x1000 0x1000"},
      {{0x2000, 0x10}, "start offset 0x2000 lies beyond the end of the 0x2000-byte ROM"},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.failure);
    Body b;
    b.run([&] { flash_read(b.s.link, cart_of(2, 0x2000, 0x20000), tc.range, b.sink, b.con); });
    EXPECT_EQ(b.failure, tc.failure);
    EXPECT_TRUE(b.c.done());
    EXPECT_EQ(b.out.str(), "");
    EXPECT_TRUE(b.sink.data.empty());
  }
}

}  // namespace
}  // namespace kartex::test
