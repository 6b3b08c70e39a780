// FLASH save sectors that do not take their bytes while the chip reports
// them written (save-fault=): the agent reads every sector back and writes
// it again, so a weak sector ends right before the tool's verify looks,
// and a dead one ends in one line and a failure, with the blocks before it
// written and the ones after it as they were.

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

constexpr std::uint32_t SECTOR = 0x1000;

struct Case {
  const char* what;
  const char* save;       // save= key
  std::uint32_t bytes;    // the part's size
  const char* fault;      // save-fault= key
  std::uint32_t sector;   // the faulty sector; the write covers it and one either side
};

// The save after `sw` of three sectors around tc.sector, kept in a state
// folder so that a second run reads what the chip holds.
struct Written {
  Bytes image, patch, back;
  int status = -1;
  std::string out, err;
};

Written write_around(const Case& tc, const std::string& name) {
  const std::string d = scratch(name);
  Written w;
  w.image = noise(tc.bytes, tc.sector + 11);
  w.patch = noise(3 * SECTOR, tc.sector + 23);
  spill(d + "image.bin", w.image);
  spill(d + "patch.bin", w.patch);
  const std::string kept = "--sim=state=" + d + "state";
  const std::string at = std::to_string((tc.sector - 1) * SECTOR);
  ToolOnSim write({kept + ",save=" + tc.save + ",save-image=" + d + "image.bin,save-fault=" + tc.fault, "sw",
                   d + "patch.bin", at, std::to_string(3 * SECTOR)});
  w.status = write.status;
  w.out = write.out.str();
  w.err = write.err.str();
  ToolOnSim read({kept, "sr", d + "back.sav"});
  EXPECT_EQ(read.status, 0) << read.err.str();
  w.back = slurp(d + "back.sav");
  return w;
}

bool same(const Bytes& a, std::size_t a_at, const Bytes& b, std::size_t b_at, std::size_t n) {
  return a.size() >= a_at + n && b.size() >= b_at + n &&
         std::equal(a.begin() + static_cast<std::ptrdiff_t>(a_at), a.begin() + static_cast<std::ptrdiff_t>(a_at + n),
                    b.begin() + static_cast<std::ptrdiff_t>(b_at));
}

TEST(SaveRetry, AWeakSectorIsWrittenAgainByTheAgent) {
  const Case cases[] = {
      {"sector part, one byte", "flash64k:bfd4", 0x10000, "weak@3", 3},
      {"sector part, past the first two tries", "flash64k:c21c", 0x10000, "weak@3:5000", 3},
      {"sector part, two bytes", "flash64k:321b", 0x10000, "weak@3:2", 3},
      {"page part, one page", "flash64k:1f3d", 0x10000, "weak@3", 3},
      {"page part, a page on its last try", "flash64k:1f3d", 0x10000, "weak@5:79", 5},
      {"128 KiB, the second bank", "flash128k:c209", 0x20000, "weak@20", 20},
      {"128 KiB, the first sector of the second bank", "flash128k:6213", 0x20000, "weak@16:3", 16},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    const Written w = write_around(tc, std::string("save_retry_weak_") + std::to_string(&tc - cases));
    ASSERT_EQ(w.status, 0) << w.err;
    EXPECT_EQ(w.err, "");
    EXPECT_NE(w.out.find("Verify OK: 3 save blocks hold what was written."), std::string::npos) << w.out;
    // The agent mended the sector itself: the tool's verify found nothing.
    EXPECT_EQ(w.out.find("does not hold what was written"), std::string::npos) << w.out;
    Bytes expected = w.image;
    std::copy(w.patch.begin(), w.patch.end(), expected.begin() + (tc.sector - 1) * SECTOR);
    ASSERT_EQ(w.back.size(), expected.size());
    EXPECT_TRUE(w.back == expected) << "the save is not the image with the three sectors written";
  }
}

TEST(SaveRetry, ADeadSectorIsOneLineAndKeepsTheSectorsAfterIt) {
  const Case cases[] = {
      {"sector part", "flash64k:bfd4", 0x10000, "dead@3", 3},
      {"sector part, weak past every try", "flash64k:c21c", 0x10000, "weak@7:12288", 7},
      {"page part", "flash64k:1f3d", 0x10000, "dead@3", 3},
      {"page part, a page weak past every try", "flash64k:1f3d", 0x10000, "weak@9:80", 9},
      {"128 KiB, the second bank", "flash128k:c209", 0x20000, "dead@20", 20},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.what);
    const Written w = write_around(tc, std::string("save_retry_dead_") + std::to_string(&tc - cases));
    EXPECT_EQ(w.status, 255);
    const std::string line = strprintf("the save chip did not keep the block at 0x%X", tc.sector * SECTOR);
    EXPECT_NE(w.err.find(line), std::string::npos) << w.err;
    EXPECT_EQ(std::count(w.err.begin(), w.err.end(), '\n'), 1) << w.err;
    EXPECT_EQ(w.out.find("Verify OK"), std::string::npos) << "a failed write reported as done";
    const std::uint32_t before = (tc.sector - 1) * SECTOR, after = (tc.sector + 1) * SECTOR;
    ASSERT_EQ(w.back.size(), w.image.size());
    EXPECT_TRUE(same(w.back, 0, w.image, 0, before)) << "the save before the range changed";
    EXPECT_TRUE(same(w.back, before, w.patch, 0, SECTOR)) << "the sector before the dead one is not written";
    EXPECT_TRUE(same(w.back, after, w.image, after, tc.bytes - after)) << "the sectors after the dead one changed";
  }
}

TEST(SaveRetry, OnlyFlashSaveChipsTakeTheFault) {
  const std::string d = scratch("save_retry_refused");
  const struct {
    const char* sim;
    const char* says;
  } cases[] = {
      {"--sim=save-fault=weak@1", "takes a FLASH save chip"},
      {"--sim=save=sram32k,save-fault=dead@0", "takes a FLASH save chip"},
      {"--sim=save=flash64k:bfd4,save-fault=weak@16", "sector 16 lies past the 64 KiB FLASH save"},
      {"--sim=save=flash128k:c209,save-fault=dead@32", "sector 32 lies past the 128 KiB FLASH save"},
      {"--sim=save=flash64k:bfd4,save-fault=dead@3:2", "takes weak@N, weak@N:TIMES or dead@N"},
      {"--sim=save=flash64k:bfd4,save-fault=weak@3:0", "takes weak@N, weak@N:TIMES or dead@N"},
      {"--sim=save=flash64k:bfd4,save-fault=slow@3", "takes weak@N, weak@N:TIMES or dead@N"},
      {"--sim=save=flash64k:bfd4,save-fault=weak@x", "takes weak@N, weak@N:TIMES or dead@N"},
      {"--sim=core=mgba,save=flash64k:321b,save-fault=weak@1", "needs core=unicorn"},
  };
  for (const auto& tc : cases) expect_sim_refusal(tc.sim, d, tc.says);
}

}  // namespace
}  // namespace kartex::test
