// Every cartridge command under every fault the simulated cable can
// produce, at a few places in the run: one clear line and a failing status
// (or a correct result), no hang, no lost or silently wrong data, and a
// write that the same command, run again, completes.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "sim/cart/cartridge.h"
#include "sim/cart/flash_rom.h"
#include "sim/simulator.h"
#include "tests/support/case_spread.h"
#include "tests/support/flash_cells.h"
#include "tests/support/sizes.h"
#include "tests/support/tool_on_sim.h"

namespace kartex::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t ROM_BYTES = 256 * KiB;   // what the tests write and read of the ROM
constexpr std::uint32_t SAVE_BYTES = 32 * KiB;

// The tool's own diagnostics: lines starting "kartex: " (the simulator's
// report lines start with "sim: ").
std::vector<std::string> tool_lines(const std::string& err) {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("kartex: ", 0) == 0) lines.push_back(line);
  return lines;
}

struct Bench {
  std::string dir, sim;
  Bytes rom = noise(ROM_BYTES, 1), save = noise(SAVE_BYTES, 2);
  Bytes new_rom = noise(ROM_BYTES, 3), new_save = noise(SAVE_BYTES, 4);

  Bench() : dir(scratch("fault")), sim("--sim=state=" + dir + "state") {
    spill(dir + "rom.bin", rom);
    spill(dir + "save.bin", save);
    spill(dir + "new_rom.bin", new_rom);
    spill(dir + "new_save.bin", new_save);
    ToolOnSim setup({sim + ",chip=2/16,rom=" + dir + "rom.bin,save=sram32k,save-image=" + dir + "save.bin",
                     "fr", dir + "x.bin", "0", "4"});
    EXPECT_EQ(setup.status, 0) << setup.err.str();
  }

  // A fault's run gives up on a silent cable after 0.2 s, to keep the matrix
  // quick; a run without a fault waits out the chips' longest operation
  // (a request may clear the locks and erase blocks of 1 s each before it
  // answers) as a user's command does.
  std::vector<std::string> args(const std::string& command, const std::string& fault) const {
    std::vector<std::string> a{fault.empty() ? "--timeout=10" : "--timeout=0.2",
                               sim + (fault.empty() ? "" : ",fault=" + fault), command};
    if (command == "fr") a.insert(a.end(), {dir + "out.bin", "0", std::to_string(ROM_BYTES)});
    if (command == "sr") a.push_back(dir + "out.bin");
    if (command == "fw" || command == "fa") a.push_back(dir + "new_rom.bin");
    if (command == "sw") a.push_back(dir + "new_save.bin");
    return a;
  }
  Bytes rom_now() const {
    ToolOnSim r({sim, "fr", dir + "check.bin", "0", std::to_string(ROM_BYTES)});
    EXPECT_EQ(r.status, 0) << r.err.str();
    return slurp(dir + "check.bin");
  }
  Bytes save_now() const {
    ToolOnSim r({sim, "sr", dir + "check.bin"});
    EXPECT_EQ(r.status, 0) << r.err.str();
    return slurp(dir + "check.bin");
  }
};

TEST(FaultMatrix, EveryCommandUnderEveryFault) {
  const char* commands[] = {"fr", "fw", "fa", "fe", "sr", "sw"};
  // lose: a word the cable clocks into a port that is not started; the
  // agent and the tool are a word apart from then on.
  const char* kinds[] = {"unplug", "flip", "hang", "stall", "power", "lose"};
  // On the cached path bring-up moves 15 words (identity, fingerprint,
  // variant); then the command's first request and block, and its middle.
  const int positions[] = {2, 24, 3000};
  const CaseSpread spread(std::size(commands) * std::size(kinds) * std::size(positions));
  std::size_t index = 0;
  for (const char* command : commands) {
    for (const char* kind : kinds) {
      for (int at : positions) {
        if (!spread.runs(index++)) continue;
        const std::string fault = std::string(kind) + "@" + std::to_string(at);
        SCOPED_TRACE(std::string(command) + " " + fault);
        Bench b;
        const std::string cmd = command;
        if (cmd == "fr" || cmd == "sr") spill(b.dir + "out.bin", Bytes{'o', 'l', 'd'});
        const auto started = std::chrono::steady_clock::now();
        ToolOnSim run(b.args(cmd, fault));
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_LT(took, std::chrono::seconds(30)) << "no hang";
        EXPECT_TRUE(run.status == 0 || run.status == 255) << run.status;
        if (run.status != 0) {
          EXPECT_EQ(tool_lines(run.err.str()).size(), 1u) << run.err.str();
        }
        if (cmd == "fr" || cmd == "sr") {
          const Bytes want = cmd == "fr" ? b.rom : b.save;
          const Bytes got = slurp(b.dir + "out.bin");
          if (run.status == 0) {
            EXPECT_TRUE(got == want) << "a dump that claims success is right";
          } else {
            EXPECT_EQ(got, (Bytes{'o', 'l', 'd'})) << "a failed dump leaves the old file";
          }
          EXPECT_FALSE(fs::exists(b.dir + "out.bin.kartex-part"));
        }
        if (cmd == "fw" || cmd == "sw" || cmd == "fe") {
          // The same command again, on the cable as the fault left it,
          // completes, and the cartridge then holds what it should.
          ToolOnSim again(b.args(cmd, ""));
          EXPECT_EQ(again.status, 0) << again.err.str();
          if (cmd == "fw") {
            EXPECT_TRUE(b.rom_now() == b.new_rom);
          } else if (cmd == "sw") {
            EXPECT_TRUE(b.save_now() == b.new_save);
          } else {
            EXPECT_TRUE(b.rom_now() == Bytes(ROM_BYTES, 0xFF));
          }
        }
      }
    }
  }
}

// Between two commands on a kept cable: the console switched off and on
// (the first word of the next run finds it waiting for an upload), or
// another cartridge put in while it stayed on.
// The simulated cable waits out a stalled transfer on the hardware clock, so
// the time a stall takes to be reported is read there, not on the wall.
double hardware_seconds_of_a_stall(const std::string& command, int word, int timeout_s) {
  const std::string dir = scratch("stall_" + command + std::to_string(word) + "_" + std::to_string(timeout_s));
  spill(dir + "in.bin", noise(0x1000, 5));
  std::vector<std::string> args = {"--sim=save=sram32k,fault=stall@" + std::to_string(word) + ",stats", "--timeout",
                                   std::to_string(timeout_s), command, dir + (command == "fr" ? "out.bin" : "in.bin")};
  if (command == "sw") args.insert(args.end(), {"0", "0x1000"});
  ToolOnSim run(args);
  EXPECT_EQ(run.status, 255) << run.err.str();
  EXPECT_NE(run.err.str().find("timeout after " + std::to_string(timeout_s) + " s"), std::string::npos)
      << run.err.str();
  double seconds = -1;
  const std::string text = run.err.str();
  const std::size_t at = text.find("sim: hardware time ");
  if (at != std::string::npos) std::sscanf(text.c_str() + at, "sim: hardware time %lf s", &seconds);
  EXPECT_GE(seconds, 0) << text;
  return seconds;
}

// A stalled pipe is reset before the tool's last word to the cable (the
// session marker cleared), so the failure costs one timeout, not two.
TEST(FaultMatrix, AStallIsReportedAfterOneTimeout) {
  struct Case {
    const char* command;
    int word;
  };
  for (const Case& c : {Case{"fr", 200}, Case{"fr", 5000}, Case{"sw", 300}}) {
    SCOPED_TRACE(std::string(c.command) + " stall@" + std::to_string(c.word));
    const double one = hardware_seconds_of_a_stall(c.command, c.word, 1);
    const double three = hardware_seconds_of_a_stall(c.command, c.word, 3);
    // Two more seconds of timeout cost two more seconds, not four.
    EXPECT_NEAR(three - one, 2.0, 0.1);
  }
}

TEST(FaultMatrix, TheNextCommandMeetsAConsoleOrCartridgeThatChanged) {
  Bench b;
  ToolOnSim after_power({"--timeout=5", b.sim + ",fault=power@0", "fr", b.dir + "out.bin", "0",
                         std::to_string(ROM_BYTES)});
  EXPECT_EQ(after_power.status, 0) << after_power.err.str();
  EXPECT_NE(after_power.out.str().find("The console did not answer: it was switched off or restarted "
                                       "since the last command; loading the agent again.\n"),
            std::string::npos)
      << after_power.out.str();
  EXPECT_TRUE(slurp(b.dir + "out.bin") == b.rom);

  ToolOnSim after_swap({b.sim + ",swap,chip=3/17", "fr", b.dir + "out.bin", "0", "16"});
  EXPECT_EQ(after_swap.status, 0) << after_swap.err.str();
  EXPECT_NE(after_swap.out.str().find("The cartridge was changed since the last command: identifying it "
                                      "again.\nFLASH ROM SIZE=0x1000000\n"),
            std::string::npos)
      << after_swap.out.str();
  EXPECT_TRUE(slurp(b.dir + "out.bin") == Bytes(16, 0xFF)) << "the new, blank cartridge was read";
}

// ---- A bit flipped in the blocks of a write ----
//
// Each write of a run is found in a fault-free run's trace, then the same
// run is repeated on the same cartridge with one bit flipped in a word of
// it: its data, its offset, byte count or check word, or its answer, or in
// the read of the bytes around the range and their CRC. After the run (and
// the same command again if it failed), every byte of the cartridge holds
// the file inside the range and what it held before outside it.

// A request as the cable moved it: its first link word, counted as the
// simulator's faults count them, and the words of the transfers after it.
struct WireRequest {
  std::uint64_t at = 0;
  std::uint32_t code = 0;
  std::uint64_t out_words = 0, in_words = 0;
};

std::vector<WireRequest> requests_in_trace(const std::string& trace) {
  std::vector<WireRequest> requests;
  std::istringstream in(trace);
  std::uint64_t word = 0;
  bool reading = false;  // the last command was a read: its reply is link words
  for (std::string kind, hex; in >> kind >> hex;) {
    if (kind == "cmd" && hex.rfind("0004", 0) == 0 && hex.size() == 36) {
      WireRequest r;
      r.at = word;
      for (int i = 3; i >= 0; --i) r.code = r.code << 8 | std::stoul(hex.substr(4 + 2 * i, 2), nullptr, 16);
      requests.push_back(r);
      word += 4;
      reading = false;
    } else if (kind == "cmd") {
      reading = hex.rfind("01", 0) == 0;
    } else if (kind == "out" || (kind == "in" && reading)) {
      const std::uint64_t n = hex.size() / 8;
      word += n;
      if (!requests.empty()) (kind == "out" ? requests.back().out_words : requests.back().in_words) += n;
    }
  }
  return requests;
}

struct Flip {
  std::uint64_t word;
  unsigned bit;
  const char* where;
};

// A streamed piece on the link: its words and its check word
constexpr std::uint64_t PIECE_FORM_WORDS = STREAM_PIECE_BYTES / 4 + 1;

// Flips for the block writes of a run (`write_code`, and the streamed
// blocks): one in each block's data (and each stream's erase flag), and
// `extra` more that go round the other words a write moves.
std::vector<Flip> flips_for(const std::vector<WireRequest>& requests, std::uint32_t write_code, unsigned seed,
                            int extra) {
  std::vector<Flip> data, other;
  for (const WireRequest& r : requests) {
    if (r.code == write_code) {
      data.push_back({r.at + 4 + r.out_words * (1 + seed % 3) / 4, (seed * 7 + 3) % 32, "block data"});
      other.push_back({r.at + 1, seed % 24, "block offset"});
      other.push_back({r.at + 2, (seed * 5) % 32, "block byte count"});
      other.push_back({r.at + 3, (seed * 11) % 32, "check word"});
      other.push_back({r.at + 4 + r.out_words, (seed * 3) % 32, "block answer"});
      if (r.in_words > 1) other.push_back({r.at + 5 + r.out_words, (seed * 29) % 32, "CRC of a block ahead"});
    } else if (r.code == REQ_FLASH_STREAM && r.out_words >= PIECE_FORM_WORDS) {
      // After the request: the ready word, then the pieces, each with its
      // check word, then the outcome and the count of pieces programmed.
      const std::uint64_t pieces = r.out_words / PIECE_FORM_WORDS;
      const std::uint64_t piece = r.at + 5 + (seed % pieces) * PIECE_FORM_WORDS;
      data.push_back({piece + (seed * 37) % (PIECE_FORM_WORDS - 1), (seed * 7 + 3) % 32, "streamed piece"});
      data.push_back({r.at + 2, 31, "stream erase flag"});
      other.push_back({r.at + 1, seed % 24, "stream offset"});
      other.push_back({r.at + 3, (seed * 11) % 32, "stream check word"});
      other.push_back({r.at + 4, (seed * 19) % 32, "stream ready word"});
      other.push_back({piece + PIECE_FORM_WORDS - 1, (seed * 13) % 32, "piece check word"});
      other.push_back({r.at + 5 + r.out_words, (seed * 3) % 32, "stream outcome"});
      other.push_back({r.at + 6 + r.out_words, (seed * 23) % 32, "count of pieces programmed"});
    } else if (r.code == REQ_ROM_READ && r.in_words > 0) {
      other.push_back({r.at + 4 + r.in_words / 2, (seed * 13) % 32, "bytes around the range"});
    } else if (r.code == REQ_ROM_CRC32 && r.in_words > 0) {
      other.push_back({r.at + 4, (seed * 17) % 32, "CRC of the bytes around the range"});
    }
  }
  std::vector<Flip> flips = data;
  for (int i = 0; i < extra && !other.empty(); ++i)
    flips.push_back(other[(seed * 5 + static_cast<unsigned>(i) * 7) % other.size()]);
  return flips;
}

std::string flip_text(const Flip& f) { return "flip@" + std::to_string(f.word) + ":" + std::to_string(f.bit); }

// What the flash cells of the cartridge kept in `state` hold, all of them.
Bytes rom_cells(const std::string& state) {
  Simulator sim;
  EXPECT_TRUE(sim.load_state(state));
  FlashRom& rom = flash_rom_of(sim);
  return flash_cells(rom, rom.span());
}

// Runs `args` on a copy of the cartridge in `base` with `flip`; `rerun`
// without a fault if it failed. Returns the copy's state.
std::string run_flipped(const std::string& base, const std::string& dir, const std::vector<std::string>& args,
                        const Flip& flip, const std::vector<std::string>& rerun) {
  namespace fs = std::filesystem;
  fs::remove_all(dir);
  fs::copy(base, dir, fs::copy_options::recursive);
  auto with = [&](const std::string& sim, double timeout) {
    std::vector<std::string> a{"--timeout=" + std::to_string(timeout), sim};
    a.insert(a.end(), args.begin(), args.end());
    return a;
  };
  // Long enough for the chips' longest erase: a run that gives up while the
  // agent erases a block loses what only the run knew (as a pulled plug
  // would), which is not what these cases are about.
  ToolOnSim run(with("--sim=state=" + dir + ",fault=" + flip_text(flip), 5));
  EXPECT_TRUE(run.status == 0 || run.status == 255) << run.status;
  if (run.status != 0) {
    EXPECT_EQ(tool_lines(run.err.str()).size(), 1u) << run.err.str();
    std::vector<std::string> a{"--sim=state=" + dir};
    a.insert(a.end(), rerun.begin(), rerun.end());
    ToolOnSim again(a);
    EXPECT_EQ(again.status, 0) << again.err.str();
  }
  return dir;
}

std::string trace_of(const std::string& base, const std::string& dir, const std::vector<std::string>& args,
                     std::string& out) {
  namespace fs = std::filesystem;
  fs::remove_all(dir);
  fs::copy(base, dir, fs::copy_options::recursive);
  std::vector<std::string> a{"--trace", dir + "/trace.txt", "--sim=state=" + dir};
  a.insert(a.end(), args.begin(), args.end());
  ToolOnSim run(a);
  EXPECT_EQ(run.status, 0) << run.err.str();
  out = run.out.str();
  return text_of(dir + "/trace.txt");
}

TEST(FaultMatrix, AFlipInAnyBlockOfAFlashWriteKeepsEveryByteOfTheRom) {
  // One chip of each ROM kind. The old ROM fills its first 0x50000 bytes;
  // fw's range starts and ends inside erase blocks (and covers whole ones
  // where blocks are small); fa appends behind the data, into erased
  // blocks, where the bank rule leaves room.
  const char* chips[] = {"2/16", "3/16", "4/e2", "5/22da", "6/22c4", "7/8897", "8/8896", "9/20"};
  const std::uint32_t fw_start = 0x31235, fw_length = 0x24000;
  unsigned seed = 0;
  for (const char* chip : spread_of(chips)) {
    SCOPED_TRACE(chip);
    const std::string dir = scratch(std::string("flip_rom_") + (chip[0]));
    const Bytes old = noise(0x50000, 11), fw_file = noise(fw_length, 12), fa_file = noise(0x5000, 13);
    spill(dir + "old.bin", old);
    spill(dir + "fw.bin", fw_file);
    spill(dir + "fa.bin", fa_file);
    const std::string base = dir + "base";
    ToolOnSim setup({"--sim=state=" + base + ",chip=" + chip + ",rom=" + dir + "old.bin", "fr", dir + "x.bin", "0", "4"});
    ASSERT_EQ(setup.status, 0) << setup.err.str();
    Bytes before = rom_cells(base);
    ASSERT_TRUE(std::equal(old.begin(), old.end(), before.begin()));

    for (const bool append : {false, true}) {
      const std::vector<std::string> args =
          append ? std::vector<std::string>{"fa", dir + "fa.bin"}
                 : std::vector<std::string>{"fw", dir + "fw.bin", std::to_string(fw_start), std::to_string(fw_length)};
      std::string out;
      const std::vector<WireRequest> requests = requests_in_trace(trace_of(base, dir + "probe", args, out));
      Bytes want = before;
      unsigned fa_start = 0, fa_length = 0;
      if (append) {
        unsigned start = 0, length = 0;
        const std::size_t at = out.find("Start=");
        ASSERT_NE(at, std::string::npos) << out;
        ASSERT_EQ(std::sscanf(out.c_str() + at, "Start=0x%X  0x%X", &start, &length), 2) << out;
        if (static_cast<int>(length) <= 0) continue;  // no room behind the bank rule
        std::copy(fa_file.begin(), fa_file.begin() + length, want.begin() + start);
        fa_start = start;
        fa_length = length;
      } else {
        std::copy(fw_file.begin(), fw_file.end(), want.begin() + fw_start);
      }
      ASSERT_TRUE(rom_cells(dir + "probe") == want) << "the write without a fault";
      // fa again would append behind what the failed run wrote: the user
      // finishes it with fw at the start and length it printed (a start
      // alone is ignored).
      std::vector<std::string> rerun = args;
      if (append) rerun = {"fw", dir + "fa.bin", std::to_string(fa_start), std::to_string(fa_length)};
      for (const Flip& flip : flips_for(requests, REQ_FLASH_UPDATE, seed++, 2)) {
        SCOPED_TRACE(args[0] + " " + flip_text(flip) + " in the " + flip.where);
        EXPECT_TRUE(rom_cells(run_flipped(base, dir + "run", args, flip, rerun)) == want);
      }
    }
  }
}

TEST(FaultMatrix, AFlipInAnyBlockOfASaveWriteKeepsEveryByteOfTheSave) {
  struct Part {
    const char* sim;     // the cartridge's keys
    std::uint32_t size;  // of the save chip, and of the save the tool reads
    std::uint32_t image, read, block;
  };
  const Part parts[] = {
      {"save=sram32k", 0x8000, 0x8000, 0x8000, 0x1000},
      {"chip=2/16,save=sram256k", 0x40000, 0x40000, 0x40000, 0x1000},
      {"chip=2/16,save=sram1m", 0x100000, 0x100000, 0x100000, 0x1000},
      {"save=flash64k:1f3d", 0x10000, 0x10000, 0x10000, 0x1000},
      {"save=flash64k:bfd4", 0x10000, 0x10000, 0x10000, 0x1000},
      {"save=flash64k:c21c", 0x10000, 0x10000, 0x10000, 0x1000},
      {"save=flash64k:321b", 0x10000, 0x10000, 0x10000, 0x1000},
      {"save=flash128k:c209", 0x20000, 0x20000, 0x20000, 0x1000},
      {"save=flash128k:6213", 0x20000, 0x20000, 0x20000, 0x1000},
      {"save=eeprom512", 0x200, 0x200, 0x200, 0x200},
      {"save=eeprom8k", 0x2000, 0x2000, 0x2000, 0x2000},
      {"chip=3/18,size=32,save=romsave", 0x100000, 0, 0xFE000, 0x2000},
  };
  unsigned seed = 0;
  for (const Part& part : spread_of(parts)) {
    SCOPED_TRACE(part.sim);
    const std::string dir = scratch("flip_save");
    const Bytes old = noise(part.size, 21);
    // Two blocks, from the second where the save has more than one, into
    // a save block the bytes around which must stay.
    const std::uint32_t start = part.read > part.block ? part.block : 0;
    const std::uint32_t length = part.read > part.block ? 2 * part.block : part.block;
    const Bytes file = noise(length, 22);
    spill(dir + "old.sav", old);
    spill(dir + "new.sav", file);
    const std::string base = dir + "base";
    std::string keys = std::string(part.sim);
    if (part.image) keys += ",save-image=" + dir + "old.sav";
    ToolOnSim setup({"--sim=state=" + base + "," + keys, "fr", dir + "x.bin", "0", "4"});
    ASSERT_EQ(setup.status, 0) << setup.err.str();
    auto save_now = [&](const std::string& state) {
      ToolOnSim r({"--sim=state=" + state, "sr", dir + "check.sav"});
      EXPECT_EQ(r.status, 0) << r.err.str();
      return slurp(dir + "check.sav");
    };
    Bytes want = save_now(base);
    ASSERT_EQ(want.size(), part.read);
    if (part.image) {
      EXPECT_TRUE(std::equal(want.begin(), want.end(), old.begin()));
    }
    std::copy(file.begin(), file.end(), want.begin() + start);

    const std::vector<std::string> args{"sw", dir + "new.sav", std::to_string(start), std::to_string(length)};
    std::string out;
    const std::vector<WireRequest> requests = requests_in_trace(trace_of(base, dir + "probe", args, out));
    ASSERT_TRUE(save_now(dir + "probe") == want) << "the write without a fault";
    // SRAM takes its runs with the CRCs of the blocks after them
    const bool sram = std::string(part.sim).find("sram") != std::string::npos;
    for (const Flip& flip : flips_for(requests, sram ? REQ_SAVE_WRITE_AHEAD : REQ_SAVE_WRITE_CHECKED, seed++, 2)) {
      SCOPED_TRACE(flip_text(flip) + " in the " + flip.where);
      EXPECT_TRUE(save_now(run_flipped(base, dir + "run", args, flip, args)) == want);
    }
  }
}

}  // namespace
}  // namespace kartex::test
