// Faults on purpose (--sim fault=KIND@N): what the host sees on the pipes
// when the cable is unplugged, the console hangs or loses power, a pipe
// stalls or a bit flips at a given link word; a cartridge swapped in a kept
// state; a damaged state refused with one line.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/digest.h"
#include "common/failure.h"
#include "sim/cart/cart_build.h"
#include "sim/sim_pipes.h"
#include "sim/state/state_file.h"
#include "sim_support.h"

namespace kartex {
namespace {

using simtest::Wire;
using Clock = std::chrono::steady_clock;

constexpr int TIMEOUT_MS = 50;
constexpr const char* TIMEOUT_TEXT = "timeout after 0.05 s";

std::string temp_dir(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() /
             ("kartex_fault_" + name + "_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::remove_all(dir);
  return dir.string();
}

CableTimes short_times() {
  CableTimes times;
  times.timeout_ms = TIMEOUT_MS;
  times.hang_instructions = 200000;
  return times;
}

std::size_t lines_with(const SimLog& log, const std::string& text) {
  std::size_t n = 0;
  for (const std::string& line : log.lines()) n += line.find(text) != std::string::npos;
  return n;
}

// One pipe call, timed.
struct Timed {
  PipeResult result;
  double seconds;
};

template <typename Call>
Timed timed(Call call) {
  const auto start = Clock::now();
  PipeResult r = call();
  return {r, std::chrono::duration<double>(Clock::now() - start).count()};
}

// The host's side of the echo program's exchanges, one link word per call:
// even words go to the console, odd words come back (the last one plus 1).
class EchoHost {
 public:
  explicit EchoHost(Simulator& sim) : sim_(sim), pipes_(sim.pipes()), wire_(pipes_) {
    wire_.handshake();
    wire_.upload(simtest::echo_program());
    simtest::loader_left_interrupts_off(sim);
    wire_.reg_write(CABLE_REG_SESSION, SESSION_MARKER);
  }

  Wire& wire() { return wire_; }

  // Sends `word` as one CMD_WRITE: the command, then the data-out bytes.
  PipeResult send(std::uint32_t word) {
    PipeResult r = wire_.command({CMD_WRITE, 1, 0});
    if (!r.ok) return r;
    return pipes_.write(Pipe::DataOut, simtest::words_to_bytes(std::vector<std::uint32_t>{word}));
  }
  // CMD_READ of one word, and the read of its bytes; `word` gets them.
  PipeResult receive(std::uint32_t* word) {
    PipeResult r = wire_.command({CMD_READ, 1, 0});
    if (!r.ok) return r;
    std::uint8_t b[4] = {};
    r = pipes_.read(Pipe::DataIn, b);
    if (r.ok) *word = simtest::word_at(b, 0);
    return r;
  }

 private:
  Simulator& sim_;
  Pipes& pipes_;
  Wire wire_;
};

TEST(SimFault, ParsesEveryKindAndRefusesTheRest) {
  const struct {
    const char* text;
    LinkFault::Kind kind;
    std::uint64_t word;
    unsigned bit;
  } accepted[] = {
      {"flip@0", LinkFault::Kind::Flip, 0, 0},           {"flip@7:31", LinkFault::Kind::Flip, 7, 31},
      {"unplug@12", LinkFault::Kind::Unplug, 12, 0},     {"hang@3", LinkFault::Kind::Hang, 3, 0},
      {"stall@0", LinkFault::Kind::Stall, 0, 0},         {"power@100000", LinkFault::Kind::Power, 100000, 0},
      {"lose@5", LinkFault::Kind::Lose, 5, 0},
  };
  for (const auto& a : accepted) {
    const LinkFault f = parse_link_fault(a.text);
    EXPECT_EQ(f.kind, a.kind) << a.text;
    EXPECT_EQ(f.word, a.word) << a.text;
    EXPECT_EQ(f.bit, a.bit) << a.text;
    EXPECT_EQ(link_fault_text(f), std::string(a.text) + (a.kind == LinkFault::Kind::Flip && a.bit == 0 ? ":0" : ""));
  }
  for (const char* bad : {"flip", "flip@", "flip@x", "flip@1:32", "hang@1:3", "lose@2:1", "unplug@-1", "melt@3", "@3", "stall@1e3",
                          "power@1234567890123456789"}) {
    try {
      parse_link_fault(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const Failure& e) {
      EXPECT_NE(std::string(e.what()).find("fault takes KIND@N"), std::string::npos) << e.what();
    }
  }
  const SimOptions o = parse_sim_options("fault=unplug@4,fault=flip@2:9,swap");
  ASSERT_EQ(o.faults.size(), 2u);
  EXPECT_EQ(o.faults[0].kind, LinkFault::Kind::Unplug);
  EXPECT_EQ(o.faults[1].bit, 9u);
  EXPECT_TRUE(o.swap);
  for (const char* key : {"swap", "unplug@N", "hang@N", "stall@N", "power@N", "lose@N", "flip@N[:BIT]"})
    EXPECT_NE(sim_help_text().find(key), std::string::npos) << key;
}

// Each fault kind at several word counts: the words before it pass, the
// call that carries word N fails as a real transfer would, and what
// follows behaves as the hardware would.
TEST(SimFault, EachKindStopsTheWordItNamesAndWhatFollows) {
  struct Case {
    const char* fault;
    std::uint64_t word;  // the word the fault names: even to the console, odd from it
    const char* error;   // what the call carrying it returns
    bool waits;          // the call takes the transport's timeout
    bool later_fail;     // the next call (a register read) fails too
  };
  const Case cases[] = {
      {"unplug", 0, CABLE_UNPLUGGED, false, true}, {"unplug", 3, CABLE_UNPLUGGED, false, true},
      {"hang", 0, TIMEOUT_TEXT, true, false},      {"hang", 5, TIMEOUT_TEXT, true, false},
      {"power", 2, TIMEOUT_TEXT, true, false},     {"power", 1, TIMEOUT_TEXT, true, false},
      {"stall", 4, TIMEOUT_TEXT, true, false},     {"stall", 3, TIMEOUT_TEXT, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + "@" + std::to_string(c.word));
    Simulator sim(short_times());
    sim.cable().add_fault(parse_link_fault(std::string(c.fault) + "@" + std::to_string(c.word)));
    EchoHost host(sim);
    std::uint32_t last = 0x100;
    for (std::uint64_t n = 0; n < c.word; ++n) {
      std::uint32_t got = 0;
      const PipeResult r = n % 2 == 0 ? host.send(last = 0x100 + static_cast<std::uint32_t>(n)) : host.receive(&got);
      ASSERT_TRUE(r.ok) << "word " << n << ": " << r.error;
      if (n % 2) {
        EXPECT_EQ(got, last + 1) << "word " << n;
      }
    }
    std::uint32_t got = 0;
    const Timed t = timed([&] { return c.word % 2 == 0 ? host.send(0x7777) : host.receive(&got); });
    EXPECT_FALSE(t.result.ok);
    EXPECT_EQ(t.result.error, c.error);
    EXPECT_EQ(t.result.moved, 0u);
    if (c.waits) EXPECT_GE(t.seconds, TIMEOUT_MS / 1000.0);
    else EXPECT_LT(t.seconds, TIMEOUT_MS / 1000.0);
    EXPECT_EQ(sim.stats().words_to_console + sim.stats().words_from_console, c.word) << "word N never moved";
    // The cable itself still answers its registers unless it is gone (or its
    // data-in pipe is the stalled one).
    const PipeResult reg = host.wire().command({CMD_REG, CABLE_REG_SESSION});
    std::uint8_t answer[4] = {};
    const PipeResult ans = reg.ok ? sim.pipes().read(Pipe::DataIn, answer) : reg;
    EXPECT_EQ(!ans.ok, c.later_fail) << ans.error;
    EXPECT_EQ(lines_with(sim.log(), "fault " + std::string(c.fault) + "@"), 1u) << "one log line per fault";
  }
}

TEST(SimFault, UnpluggedCableFailsEveryCallAndForgetsItsRegisters) {
  const std::string dir = temp_dir("unplug");
  std::vector<std::uint8_t> program;
  {
    Simulator sim(short_times());
    sim.cable().add_fault(parse_link_fault("unplug@1"));
    EchoHost host(sim);
    host.wire().reg_write(CABLE_REG_ROM_SIZE, 0x800000);
    ASSERT_TRUE(host.send(41).ok);
    std::uint32_t got = 0;
    EXPECT_EQ(host.receive(&got).error, CABLE_UNPLUGGED);
    std::uint8_t b[4];
    const std::uint8_t reg_read[] = {CMD_REG, CABLE_REG_SESSION};
    for (const PipeResult& r : {sim.pipes().write(Pipe::Command, reg_read), sim.pipes().read(Pipe::DataIn, b),
                                sim.pipes().write(Pipe::DataOut, std::vector<std::uint8_t>(4)),
                                sim.pipes().reset(Pipe::Command), sim.pipes().reset(Pipe::DataIn)}) {
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.error, CABLE_UNPLUGGED);
    }
    EXPECT_EQ(sim.cable().reg(CABLE_REG_SESSION), 0u);
    EXPECT_EQ(sim.cable().reg(CABLE_REG_ROM_SIZE), 0u);
    EXPECT_TRUE(sim.console().link_armed()) << "the console still waits to send word 1";
    program = sim.peek(EWRAM_BASE, 64);
    sim.save_state(dir);
  }
  // Plugged in again: a cable just powered, a console that kept running.
  Simulator sim(short_times());
  ASSERT_TRUE(sim.load_state(dir));
  Wire wire(sim.pipes());
  EXPECT_EQ(wire.reg_read(CABLE_REG_SESSION), 0u);
  EXPECT_EQ(wire.reg_read(CABLE_REG_STATUS) & STATUS_LINK_UP, 0u);
  EXPECT_TRUE(sim.console().running());
  EXPECT_EQ(sim.peek(EWRAM_BASE, 64), program);
  std::filesystem::remove_all(dir);
}

TEST(SimFault, PipeResetClearsAStallOnThatPipeOnly) {
  struct Case {
    std::uint64_t word;
    Pipe stalled;
  };
  for (const Case c : {Case{0, Pipe::DataOut}, Case{1, Pipe::DataIn}}) {
    SCOPED_TRACE("stall@" + std::to_string(c.word));
    Simulator sim(short_times());
    sim.cable().add_fault(parse_link_fault("stall@" + std::to_string(c.word)));
    EchoHost host(sim);
    std::uint32_t got = 0;
    if (c.word == 0) {
      EXPECT_EQ(host.send(10).error, TIMEOUT_TEXT);
      EXPECT_EQ(host.send(11).error, TIMEOUT_TEXT) << "still stalled";
    } else {
      ASSERT_TRUE(host.send(10).ok);
      EXPECT_EQ(host.receive(&got).error, TIMEOUT_TEXT);
    }
    // Resetting the other pipes changes nothing.
    for (Pipe p : {Pipe::Command, Pipe::DataIn, Pipe::DataOut})
      if (p != c.stalled) {
        ASSERT_TRUE(sim.pipes().reset(p).ok);
      }
    if (c.word == 0) {
      EXPECT_EQ(host.send(12).error, TIMEOUT_TEXT);
    } else {
      // Not even a register's answer comes through.
      ASSERT_TRUE(host.wire().command({CMD_REG, CABLE_REG_SESSION}).ok);
      std::uint8_t b[4];
      EXPECT_EQ(sim.pipes().read(Pipe::DataIn, b).error, TIMEOUT_TEXT);
    }
    ASSERT_TRUE(sim.pipes().reset(c.stalled).ok);
    // The word that stalled never reached the other end: the exchange goes
    // on from the word that did.
    if (c.word == 0) {
      ASSERT_TRUE(host.send(20).ok);
      ASSERT_TRUE(host.receive(&got).ok);
      EXPECT_EQ(got, 21u);
    } else {
      ASSERT_TRUE(host.receive(&got).ok);
      EXPECT_EQ(got, 11u) << "the console still holds the word it could not send";
    }
    EXPECT_EQ(host.wire().reg_read(CABLE_REG_SESSION), static_cast<std::uint32_t>(SESSION_MARKER));
  }
}

TEST(SimFault, PowerCycleKeepsTheCableAndLeavesNoProgram) {
  Simulator sim(short_times());
  sim.cable().add_fault(parse_link_fault("power@2"));
  EchoHost host(sim);
  std::uint32_t got = 0;
  ASSERT_TRUE(host.send(5).ok);
  ASSERT_TRUE(host.receive(&got).ok);
  EXPECT_EQ(host.send(6).error, TIMEOUT_TEXT);
  EXPECT_FALSE(sim.console().running());
  EXPECT_EQ(sim.peek(EWRAM_BASE, 16), std::vector<std::uint8_t>(16, 0)) << "memory lost";
  EXPECT_EQ(host.wire().reg_read(CABLE_REG_SESSION), static_cast<std::uint32_t>(SESSION_MARKER));
  EXPECT_NE(host.wire().reg_read(CABLE_REG_STATUS) & STATUS_LINK_UP, 0u) << "the cable keeps its link phase";
  // Every later request goes to a console that runs nothing, and says so once.
  EXPECT_EQ(host.send(7).error, TIMEOUT_TEXT);
  EXPECT_EQ(host.receive(&got).error, TIMEOUT_TEXT);
  EXPECT_EQ(lines_with(sim.log(), "no program runs"), 0u) << "the fault line said it";
  EXPECT_EQ(lines_with(sim.log(), "fault power@2"), 1u);
  // A new upload brings it back.
  host.wire().handshake();
  host.wire().upload(simtest::echo_program());
  ASSERT_TRUE(host.send(8).ok);
  ASSERT_TRUE(host.receive(&got).ok);
  EXPECT_EQ(got, 9u);
}

TEST(SimFault, HangIsKeptInTheStateUntilTheHandshake) {
  const std::string dir = temp_dir("hang");
  {
    Simulator sim(short_times());
    sim.cable().add_fault(parse_link_fault("hang@0"));
    EchoHost host(sim);
    EXPECT_EQ(host.send(1).error, TIMEOUT_TEXT);
    EXPECT_TRUE(sim.console().hung());
    EXPECT_NE(host.wire().reg_read(CABLE_REG_STATUS) & STATUS_NO_WORD, 0u) << "a hung console arms nothing";
    sim.save_state(dir);
  }
  Simulator sim(short_times());
  ASSERT_TRUE(sim.load_state(dir));
  EXPECT_TRUE(sim.console().hung());
  Wire wire(sim.pipes());
  EXPECT_EQ(wire.reg_read(CABLE_REG_SESSION), static_cast<std::uint32_t>(SESSION_MARKER));
  const std::uint32_t w[1] = {3};
  const Timed t = timed([&] { return wire.write_words(w); });
  EXPECT_EQ(t.result.error, TIMEOUT_TEXT);
  EXPECT_GE(t.seconds, TIMEOUT_MS / 1000.0);
  // The handshake restarts the console: the program is uploaded again and runs.
  wire.handshake();
  EXPECT_FALSE(sim.console().hung());
  wire.upload(simtest::echo_program());
  ASSERT_TRUE(wire.write_words(w).ok);
  const auto back = wire.read_words(1);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0], 4u);
  std::filesystem::remove_all(dir);
}

TEST(SimFault, FlipInvertsExactlyOneBitEachWay) {
  struct Case {
    const char* fault;
    std::uint32_t sent;
    std::uint32_t received;  // what the host reads back from the echo
  };
  const Case cases[] = {
      {"flip@0:5", 0x1000, (0x1000 ^ 0x20) + 1},          // the console gets 0x1020
      {"flip@0:31", 0x10, (0x10 ^ 0x80000000u) + 1},
      {"flip@1:0", 0x1000, 0x1001 ^ 0x1},                  // the host gets the word with bit 0 inverted
      {"flip@1:17", 0xFFFF, 0x10000 ^ (1u << 17)},
      {"flip@2:3", 0x40, 0x41},                            // a later word: this exchange is clean
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    Simulator sim(short_times());
    sim.cable().add_fault(parse_link_fault(c.fault));
    EchoHost host(sim);
    std::uint32_t got = 0;
    ASSERT_TRUE(host.send(c.sent).ok);
    ASSERT_TRUE(host.receive(&got).ok);
    EXPECT_EQ(got, c.received) << std::hex << got;
    // The next exchange is clean.
    ASSERT_TRUE(host.send(0x500).ok);
    ASSERT_TRUE(host.receive(&got).ok);
    EXPECT_EQ(got, c.fault == std::string("flip@2:3") ? (0x500u ^ 8u) + 1 : 0x501u);
  }
}

// Through the --sim transport: the timeout the tool gives, set_timeout,
// and a report with one line per fault however often the host retries.
TEST(SimFault, TransportTakesTheToolsTimeoutAndReportsEachFaultOnce) {
  std::ostringstream report;
  auto pipes = open_sim_cable(parse_sim_options("fault=hang@0"), report, 5000);
  pipes->set_timeout(TIMEOUT_MS);
  Wire wire(*pipes);
  wire.handshake();
  wire.upload(simtest::echo_program());
  const std::uint32_t w[1] = {1};
  for (int attempt = 0; attempt < 3; ++attempt) {
    const Timed t = timed([&] { return wire.write_words(w); });
    EXPECT_EQ(t.result.error, TIMEOUT_TEXT);
    EXPECT_GE(t.seconds, TIMEOUT_MS / 1000.0);
    EXPECT_LT(t.seconds, 2.0) << "set_timeout replaced the 5 s";
  }
  pipes->set_timeout(100);
  EXPECT_EQ(wire.write_words(w).error, "timeout after 0.1 s");
  pipes.reset();
  const std::string text = report.str();
  std::size_t lines = 0;
  for (std::size_t at = text.find("sim: "); at != std::string::npos; at = text.find("sim: ", at + 1)) ++lines;
  EXPECT_EQ(lines, 1u) << text;
  EXPECT_NE(text.find("sim: cable: fault hang@0: the console hangs"), std::string::npos) << text;
}

std::string write_rom(const std::string& dir, const std::string& name, std::uint8_t fill) {
  std::filesystem::create_directories(dir);
  const std::string path = (std::filesystem::path(dir) / name).string();
  std::ofstream(path, std::ios::binary) << std::string(1024, static_cast<char>(fill));
  return path;
}

// The first ROM halfword of the cartridge kept in `state`.
std::uint16_t kept_rom_halfword(const std::string& state) {
  Simulator sim;
  EXPECT_TRUE(sim.load_state(state));
  return static_cast<std::uint16_t>(sim.console().bus().read(ROM_BASE, 2));
}

TEST(SimFault, SwapReplacesTheKeptCartridgeAndKeepsCableAndConsole) {
  const std::string dir = temp_dir("swap");
  const std::string state = dir + "/state";
  const std::string rom_a = write_rom(dir, "a.gba", 0xA1), rom_b = write_rom(dir, "b.gba", 0xB2);
  std::ostringstream report;
  auto run = [&](const std::string& options, auto&& body) {
    auto pipes = open_sim_cable(parse_sim_options(options), report, TIMEOUT_MS);
    Wire wire(*pipes);
    body(wire);
  };
  run("state=" + state + ",rom=" + rom_a, [](Wire& wire) {
    wire.handshake();
    wire.upload(simtest::echo_program());
    wire.reg_write(CABLE_REG_SESSION, SESSION_MARKER);
  });
  EXPECT_EQ(kept_rom_halfword(state), 0xA1A1);

  struct Case {
    std::string options;
    std::uint16_t kept;  // first ROM halfword afterwards
    bool note;           // the "not used" note
  };
  const Case cases[] = {
      {"rom=" + rom_b, 0xA1A1, true},                          // without swap the kept one stays
      {"rom=" + rom_b + ",swap", 0xB2B2, false},
      {"swap,rom=" + rom_a + ",save=sram32k", 0xA1A1, false},  // and back, with a save chip
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    report.str("");
    run("state=" + state + "," + c.options, [](Wire& wire) {
      EXPECT_EQ(wire.reg_read(CABLE_REG_SESSION), static_cast<std::uint32_t>(SESSION_MARKER));
      // The console's program runs on through the swap.
      const std::uint32_t w[1] = {70};
      ASSERT_TRUE(wire.write_words(w).ok);
      EXPECT_EQ(wire.read_words(1)[0], 71u);
    });
    EXPECT_EQ(kept_rom_halfword(state), c.kept);
    EXPECT_EQ(report.str().find("the kept cartridge stays") != std::string::npos, c.note) << report.str();
  }
  // Without a kept cartridge swap changes nothing: the keys build the one there is.
  const std::string fresh = dir + "/fresh";
  run("state=" + fresh + ",swap,rom=" + rom_b, [](Wire&) {});
  EXPECT_EQ(kept_rom_halfword(fresh), 0xB2B2);
  std::filesystem::remove_all(dir);
}

// Damages one part of a good state in a way a broken disk or an old build
// could; every one is refused with one line naming the file.
TEST(SimFault, DamagedStateIsRefusedWithOneLine) {
  const std::string good = temp_dir("good");
  {
    Simulator sim(short_times());
    EchoHost host(sim);
    sim.save_state(good);
  }
  // A test that changes a field puts the checksum right again, so that the
  // field's own check is what refuses it.
  static auto reseal = [](const std::string& f) {
    std::ifstream in(f, std::ios::binary);
    std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const std::uint32_t crc = crc32_of(std::span(b).first(b.size() - 4));
    for (int i = 0; i < 4; ++i) b[b.size() - 4 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    std::ofstream(f, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(b.data()),
                                                               static_cast<std::streamsize>(b.size()));
  };
  auto payload_part = [](const std::string& dir, const char* part, const StateWriter& w, std::uint32_t version) {
    save_state_part(dir, part, version, w);
  };
  struct Case {
    const char* name;
    const char* part;
    std::function<void(const std::string& dir, const std::string& file)> damage;
    const char* says;
  };
  const Case cases[] = {
      {"truncated cable", "cable",
       [](const std::string&, const std::string& f) { std::filesystem::resize_file(f, 10); }, "it ends early"},
      {"foreign file", "console",
       [](const std::string&, const std::string& f) { std::ofstream(f, std::ios::binary) << "hello"; },
       "not a simulator state file"},
      {"another format version", "cartridge",
       [](const std::string&, const std::string& f) {
         // Magic, the part name's length and "cartridge", then the version.
         {
           std::fstream io(f, std::ios::binary | std::ios::in | std::ios::out);
           io.seekp(8 + 8 + 9);
           io.put(9);
         }
         reseal(f);
       },
       "format version 9, this build reads version 3"},
      {"CPSR without a mode", "console",
       [](const std::string&, const std::string& f) {
         // The payload ends with CPSR and SPSR, the file with the checksum.
         const auto size = std::filesystem::file_size(f);
         {
           std::fstream io(f, std::ios::binary | std::ios::in | std::ios::out);
           io.seekp(static_cast<std::streamoff>(size - 12));
           for (int i = 0; i < 4; ++i) io.put(0);
         }
         reseal(f);
       },
       "holds no ARM processor mode"},
      {"128 MiB flash in a short file", "cartridge",
       [&](const std::string& dir, const std::string&) {
         StateWriter w;
         w.str("cartridge");
         w.u32(1);
         w.str("flash-rom");
         w.str("3/8802");
         w.u32(128);
         payload_part(dir, "cartridge", w, 3);
       },
       "128 MiB flash ROM in 0 bytes"},
      {"mask ROM with the mapper", "cartridge",
       [&](const std::string& dir, const std::string&) {
         StateWriter w;
         w.str("cartridge");
         w.u32(1);
         w.str("mask-rom");
         w.blob(std::vector<std::uint8_t>(16, 0xEE));
         w.u8(1);
         payload_part(dir, "cartridge", w, 3);
       },
       "a mask ROM with the mapper"},
      {"banked SRAM without the mapper", "cartridge",
       [&](const std::string& dir, const std::string&) {
         StateWriter w;
         w.str("cartridge");
         w.u32(1);
         w.str("mask-rom");
         w.blob(std::vector<std::uint8_t>(16, 0xEE));
         w.u8(0);
         w.str("sram");
         w.blob(std::vector<std::uint8_t>(256 * 1024, 0xFF));
         payload_part(dir, "cartridge", w, 3);
       },
       "banked SRAM without the mapper"},
      {"buffered write longer than the chip's buffer", "cartridge",
       [](const std::string&, const std::string& f) {
         // A flash cartridge's file ends with the status-register chip's
         // pending count (u32), the mapper flag and registers (1 + 13
         // bytes) and the save chip's tag "none" (8 + 4 bytes).
         Simulator flash;
         SimOptions o = parse_sim_options("chip=2/16");
         flash.set_cart(build_cartridge(o, flash.log()));
         const std::string dir = std::filesystem::path(f).parent_path().string();
         flash.save_state(dir);
         const auto size = std::filesystem::file_size(f);
         {
           std::fstream io(f, std::ios::binary | std::ios::in | std::ios::out);
           io.seekp(static_cast<std::streamoff>(size - 4 - 26 - 4));
           io.put(17);
         }
         reseal(f);
       },
       "command state out of range"},
      {"too many announced words", "cable",
       [&](const std::string& dir, const std::string&) {
         StateWriter w;
         for (int i = 0; i < CABLE_REG_COUNT; ++i) w.u32(0);
         w.u8(0);
         w.u32(0);
         w.blob({});
         w.u32(0x10000);
         w.blob({});
         w.blob({});
         payload_part(dir, "cable", w, 1);
       },
       "more announced data words"},
      {"field longer than the file", "cable",
       [](const std::string&, const std::string& f) {
         // The part name's length field, right after the magic.
         std::fstream io(f, std::ios::binary | std::ios::in | std::ios::out);
         io.seekp(8 + 7);
         io.put(static_cast<char>(0x7F));
       },
       "longer than the file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = temp_dir(std::string("damaged_") + c.part);
    std::filesystem::copy(good, dir, std::filesystem::copy_options::recursive);
    const std::string file = (std::filesystem::path(dir) / (std::string(c.part) + ".state")).string();
    c.damage(dir, file);
    try {
      Simulator sim;
      sim.load_state(dir);
      ADD_FAILURE() << "loaded";
    } catch (const Failure& e) {
      const std::string line = e.what();
      EXPECT_EQ(line.find('\n'), std::string::npos) << line;
      EXPECT_NE(line.find("simulator state " + file + " is unusable"), std::string::npos) << line;
      EXPECT_NE(line.find(c.says), std::string::npos) << line;
    }
    std::filesystem::remove_all(dir);
  }
  std::filesystem::remove_all(good);
}

}  // namespace
}  // namespace kartex
