// keys=LIST: the scripted keypad, by KEYINPUT read.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/usage.h"
#include "common/failure.h"
#include "sim/console/key_script.h"
#include "sim/sim_pipes.h"
#include "sim/simulator.h"

namespace kartex {
namespace {

std::string refusal(const std::string& text) {
  try {
    parse_sim_options(text);
  } catch (const Failure& f) {
    return f.what();
  }
  return "(accepted)";
}

TEST(SimKeys, ScriptHoldsKeysOnTheReadsNamed) {
  const SimOptions o = parse_sim_options("keys=start@10,right@20-22,a+b@30,b@40,stats");
  EXPECT_TRUE(o.stats) << "the list ends at the next option";
  // Held-key bits: A 0x001, B 0x002, Start 0x008, Right 0x010.
  const struct {
    std::uint64_t read;
    std::uint16_t held;
  } cases[] = {{1, 0},      {9, 0},      {10, 0x008}, {11, 0},     {19, 0},
               {20, 0x010}, {21, 0x010}, {22, 0x010}, {23, 0},     {29, 0},
               {30, 0x003}, {31, 0},     {40, 0x002}, {41, 0},     {1000000, 0}};
  for (const auto& c : cases) EXPECT_EQ(o.keys.held(c.read), c.held) << "read " << c.read;

  const KeyScript all = parse_key_script("a+b+select+start+right+left+up+down+r+l@1,l+r@2-3,up@3");
  EXPECT_EQ(all.held(1), 0x3FF);
  EXPECT_EQ(all.held(2), 0x300);
  EXPECT_EQ(all.held(3), 0x340) << "overlapping entries hold their keys together";
}

TEST(SimKeys, BadListsAreRefusedWithOneLine) {
  const struct {
    const char* text;
    const char* says;
  } cases[] = {
      {"keys=start", "'start' needs @N or @N-M"},
      {"keys=x@3", "'x@3' has no key 'x' (keys: a b select start right left up down r l)"},
      {"keys=A@3", "has no key 'A'"},
      {"keys=a+@3", "has no key ''"},
      {"keys=@3", "has no key ''"},
      {"keys=a@0", "names read 0; reads count from 1"},
      {"keys=a@", "needs read numbers after @"},
      {"keys=a@x", "needs read numbers after @"},
      {"keys=a@5-3", "'a@5-3' ends before it starts"},
      {"keys=a@5-", "needs read numbers after @"},
      {"keys=a@1-2-3", "needs read numbers after @"},
      {"keys=a@-3", "needs read numbers after @"},
      {"keys=a@1,right", "unknown option 'right'"},
      {"keys=a@1,,b@2", "empty option"},
      {"keys=", "needs a value"},
  };
  for (const auto& c : cases) {
    const std::string line = refusal(c.text);
    EXPECT_NE(line.find(c.says), std::string::npos) << c.text << ": " << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << c.text << ": " << line;
  }
}

TEST(SimKeys, KeyinputCountsEachReadOnce) {
  Simulator sim;
  sim.set_keys(0x03FF & ~0x200);  // L held by hand the whole time
  sim.console().io().set_key_script(parse_key_script("a@2,start+up@4-5"));
  ConsoleBus& bus = sim.console().bus();
  // Read 1: 16-bit; 2: 32-bit (KEYINPUT and KEYCNT, one read of the keys);
  // 3, 4: bytes; 5: 16-bit; 6: 16-bit.
  EXPECT_EQ(bus.read(0x04000130, 2), 0x1FFu);
  EXPECT_EQ(bus.read(0x04000130, 4) & 0xFFFF, 0x1FEu);
  EXPECT_EQ(bus.read(0x04000130, 1), 0xFFu);
  EXPECT_EQ(bus.read(0x04000130, 1), 0xB7u);
  EXPECT_EQ(bus.read(0x04000130, 2), 0x1B7u);
  EXPECT_EQ(bus.read(0x04000130, 2), 0x1FFu);
  EXPECT_EQ(sim.console().io().key_reads(), 6u);
  EXPECT_EQ(sim.console().io().raw(0x130), 0u) << "the register cells are untouched";
}

// The words of keys=, screens= and video-clock= stand the same in --sim=help, --help and
// the README (line breaks, indentation and Markdown quotes aside).
std::string words_of(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '`') continue;
    const bool space = c == ' ' || c == '\n';
    if (space && (out.empty() || out.back() == ' ')) continue;
    out += space ? ' ' : c;
  }
  return out;
}

TEST(SimKeys, HelpTextsUseTheSameWords) {
  std::ostringstream help;
  print_help(help);
  std::ifstream readme(KARTEX_README);
  ASSERT_TRUE(readme) << KARTEX_README;
  std::stringstream readme_text;
  readme_text << readme.rdbuf();
  const std::string keys = words_of(std::string("keys=LIST: ") + KEY_SCRIPT_HELP);
  const std::string screens = words_of("screens=DIR: a picture DIR/NNNNNN.png (from 000001) each time the "
                                       "displayed page switches");
  const std::string video_clock = words_of(
      "video-clock=host|hardware: what vts's playback follows: host, the host's clock, with the player's "
      "window and sound (default); hardware, the console's hardware time, without window or sound, so that a "
      "run shows the same pictures at the same simulated moments whatever the host's speed");
  const std::string loader = words_of(
      "loader=bios|direct: how the console starts an upload: bios (default), as the console's BIOS does "
      "after a multiboot transfer (checks the header, branch at 0, boot-mode bytes, registers reset, entry "
      "at 0xC0 in system mode); direct, from 0x02000000 with the loader's interrupts left on");
  const std::string chip_times = words_of(
      "chip-times=typical|max: how long the flash ROM chips and FLASH save parts take to erase and program:"
      " typical (default), their data sheets' typical figures; max, the longest the sheets allow");
  const std::string mirror = words_of(
      "mirror: the cartridge's ROM repeats through the 32 MiB window past its end, as a ROM chip or a flash "
      "board that decodes fewer address lines does (default: open bus past the end)");
  const std::string protect = words_of(
      "protect=OFFSET: the sector of the JEDEC flash ROM (chip=5/22da or 6/22c4) that holds ROM offset OFFSET "
      "is protected, as a programmer leaves it: it ignores erase and program; repeatable");
  const std::string rtc = words_of(
      "rtc=YYYY-MM-DDTHH:MM:SS|lost: the cartridge has the GPIO real-time clock of the games with one (a mask ROM, "
      "or the board of an AMD-command CFI chip: chip=10/2221, 10/2222 or 10/22f9), set to that time in 24-hour mode and running on the simulated hardware time; lost: its battery ran dry "
      "(status 0x82, 2000-01-01 00:00:00)");
  const std::string save_fault = words_of(
      "save-fault=KIND@N: the FLASH save chip's 4 KiB sector N does not take what is programmed, while the "
      "chip reports it done; repeatable. weak@N[:TIMES] the first TIMES programs there (default 1; a byte, or "
      "a page on the page part) leave the cells as they were: a weak sector that takes on a later try; dead@N "
      "every program there does: a worn-out sector");
  for (const auto& [where, text] : {std::pair<const char*, std::string>{"--sim=help", sim_help_text()},
                                    {"--help", help.str()},
                                    {"README", readme_text.str()}}) {
    std::string flat = words_of(text);
    // --sim=help sets the key apart from its text by spaces.
    for (std::size_t at; (at = flat.find("keys LIST:")) != std::string::npos;) flat.replace(at, 10, "keys=LIST:");
    for (std::size_t at; (at = flat.find("screens DIR:")) != std::string::npos;) flat.replace(at, 12, "screens=DIR:");
    for (std::size_t at; (at = flat.find("video-clock host|")) != std::string::npos;)
      flat.replace(at, 17, "video-clock=host|");
    for (std::size_t at; (at = flat.find("loader bios|")) != std::string::npos;) flat.replace(at, 12, "loader=bios|");
    for (std::size_t at; (at = flat.find("chip-times typical|")) != std::string::npos;)
      flat.replace(at, 19, "chip-times=typical|");
    for (std::size_t at; (at = flat.find("mirror the cartridge's")) != std::string::npos;)
      flat.replace(at, 10, "mirror: the");
    EXPECT_NE(flat.find(loader), std::string::npos) << where;
    EXPECT_NE(flat.find(chip_times), std::string::npos) << where;
    EXPECT_NE(flat.find(mirror), std::string::npos) << where;
    for (std::size_t at; (at = flat.find("protect OFFSET:")) != std::string::npos;)
      flat.replace(at, 15, "protect=OFFSET:");
    // --help names only some keys; --sim=help and the README all of them.
    for (std::size_t at; (at = flat.find("save-fault KIND@N:")) != std::string::npos;)
      flat.replace(at, 18, "save-fault=KIND@N:");
    if (std::string(where) != "--help") {
      EXPECT_NE(flat.find(protect), std::string::npos) << where;
      for (std::size_t at; (at = flat.find("rtc YYYY-")) != std::string::npos;) flat.replace(at, 9, "rtc=YYYY-");
      EXPECT_NE(flat.find(rtc), std::string::npos) << where;
      EXPECT_NE(flat.find(save_fault), std::string::npos) << where;
    }
    EXPECT_NE(flat.find(keys), std::string::npos) << where;
    EXPECT_NE(flat.find(screens), std::string::npos) << where;
    EXPECT_NE(flat.find(video_clock), std::string::npos) << where;
  }
}

}  // namespace
}  // namespace kartex
