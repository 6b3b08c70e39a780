#include "sim/cart/flash_catalog.h"

#include <cstdio>
#include <cstdlib>

#include "contract/wire.h"
#include "sim/cart/cfi_table.h"
#include "sim/cart/flash_commands.h"

namespace kartex {

using namespace flash;

namespace {

constexpr std::uint32_t KiB = 1024;

using simtime::microseconds;
using simtime::milliseconds;

// Typical figures of the families' data sheets (3 V supply, VPP at VCC).
//
// 28F-series StrataFlash J3-type sheets (16-word buffer): word program
// 210 us; a full 32-byte buffer 218 us ("6.8 us per byte effective"), a
// shorter one taken in proportion; 128 KiB block erase 1.0 s; set lock bit
// 64 us, clear all lock bits 0.5 s.
const ChipTimes J3_TIMES = {.word_program = microseconds(210),
                            .buffer_per_word = microseconds(218) / 16,
                            .main_erase = milliseconds(1000),
                            .lock_bit_set = microseconds(64),
                            .lock_bits_clear = milliseconds(500)};
// StrataFlash K3/K18-type sheets (32-word buffer): word program 110 us, a
// full 32-word buffer 440 us, taken in proportion; 64 K-word block erase
// 1.0 s. Lock bits are volatile and change at once.
const ChipTimes K3_TIMES = {.word_program = microseconds(110),
                            .buffer_per_word = microseconds(440) / 32,
                            .main_erase = milliseconds(1000)};
// Boot-block status-register sheets (28F-series B3/C3-type): word program
// 22 us, 4 K-word parameter block erase 0.5 s, 32 K-word main block 1.0 s.
const ChipTimes BOOT_TIMES = {.word_program = microseconds(22),
                              .main_erase = milliseconds(1000),
                              .param_erase = milliseconds(500)};
// 0x41 page-program (DINOR) sheets: auto program 4 ms for a word or a
// 128-word page; auto erase 40 ms a block, parameter or main.
const ChipTimes PAGE_TIMES = {.word_program = milliseconds(4),
                              .page_program = milliseconds(4),
                              .main_erase = milliseconds(40)};
// JEDEC 29LV-type boot sector sheets: word program 11 us, sector erase
// 0.7 s whatever the sector's size.
const ChipTimes JEDEC_TIMES = {.word_program = microseconds(11), .main_erase = milliseconds(700)};

// The maximum columns of the same sheets (chip-times=max). J3-type: word
// program 630 us, a full buffer 654 us, block erase 5 s, lock bit set
// 75 us, clear all 0.7 s. Boot-block: word program 200 us, parameter and
// main block erase 4 s and 5 s. JEDEC 29LV-type: word program 360 us,
// sector erase 15 s. Where the maximum column is not at hand (K3-type,
// maker 0xB0, the 0x41 page parts) the figure is three times the typical
// one, the spread the other sheets show.
const ChipTimes J3_MAX = {.word_program = microseconds(630),
                          .buffer_per_word = microseconds(654) / 16,
                          .main_erase = milliseconds(5000),
                          .lock_bit_set = microseconds(75),
                          .lock_bits_clear = milliseconds(700)};
const ChipTimes K3_MAX = {.word_program = microseconds(330),
                          .buffer_per_word = microseconds(1320) / 32,
                          .main_erase = milliseconds(3000)};
const ChipTimes BOOT_MAX = {.word_program = microseconds(200),
                            .main_erase = milliseconds(5000),
                            .param_erase = milliseconds(4000)};
const ChipTimes PAGE_MAX = {.word_program = milliseconds(12),
                            .page_program = milliseconds(12),
                            .main_erase = milliseconds(120)};
const ChipTimes JEDEC_MAX = {.word_program = microseconds(360), .main_erase = milliseconds(15000)};

ChipModel with_max(ChipModel model, const ChipTimes& max) {
  model.max_times = max;
  return model;
}

// Uniform 128 KiB blocks (one per Mbit), 16-word write buffer, non-volatile lock bits
// that a single 0x60 0xD0 clears all at once. The J3-type sheets give a
// CFI table (command set 0x0001, primary table at 0x31): word program
// 2^7 us x 2^4, a 32-byte buffer 2^7 us x 2^4, block erase 2^10 ms x 2^4,
// no chip erase; VCC 2.7-3.6 V, no VPP; x8/x16.
ChipModel buffered(std::uint16_t device, std::uint32_t megabits) {
  ChipModel m = with_max({FlashFamily::StatusRegister, MAKER_89, device, megabits,
                          BlockLayout{{megabits, 128 * KiB}}, 16, 0, LockStyle::ClearAllBits, false, J3_TIMES},
                         J3_MAX);
  m.cfi = cfi_query_table({.command_set = 0x0001, .vcc_min = 0x27, .vcc_max = 0x36,
                           .word_typ = 7, .buffer_typ = 7, .erase_typ = 10, .chip_typ = 0,
                           .word_max = 4, .buffer_max = 4, .erase_max = 4, .chip_max = 0,
                           .interface = 0x0002, .buffer_bytes = 32, .primary_table = 0x31},
                          m.layout);
  return m;
}

// Uniform 128 KiB blocks, 32-word write buffer, every block locked at
// power-up and unlocked one by one.
//
// The K3/K18-type sheet (28F640K3 ... 28F256K3, x16) lists CFI among its
// features; its query pages were not at hand, so the table is built from
// the sheet's own figures with the CFI encoding, each time the smallest
// power of two at or above the figure: VCC 2.70-3.60 V (1B-1C = 27 36);
// word program 110 us (1F = 2^7 us), a full 32-word buffer 440 us
// (20 = 2^9 us), 64 K-word block erase 1.0 s (21 = 2^10 ms), no chip
// erase; the maxima (23-25 = 2^2 times typical each) cover the model's
// maximum column (three times typical, for want of the sheet's); x16 only
// (28 = 0x0001); 32-word buffer (2A = 2^6 bytes); 64, 128 or 256 blocks of
// 64 K-words (the geometry bytes). No program supply byte (1D-1E = 0): the
// VPEN pin only locks the array, as on the J3-type parts. Command set
// 0x0001 with the primary table right after the one erase block region
// (P = 0x31): the J3-type sheet's table, whose commands (write buffer
// 0xE8 ... 0xD0 included) this family shares.
ChipModel locked_buffered(std::uint16_t device, std::uint32_t megabits) {
  ChipModel m = with_max({FlashFamily::StatusRegister, MAKER_89, device, megabits,
                          BlockLayout{{megabits, 128 * KiB}}, 32, 0, LockStyle::PerBlock, true, K3_TIMES},
                         K3_MAX);
  m.cfi = cfi_query_table({.command_set = 0x0001, .vcc_min = 0x27, .vcc_max = 0x36,
                           .word_typ = 7, .buffer_typ = 9, .erase_typ = 10, .chip_typ = 0,
                           .word_max = 2, .buffer_max = 2, .erase_max = 2, .chip_max = 0,
                           .interface = 0x0001, .buffer_bytes = 64, .primary_table = 0x31},
                          m.layout);
  return m;
}

// 64 KiB main blocks and eight 8 KiB parameter blocks at the top or bottom.
BlockLayout boot_layout(std::uint32_t megabits, bool top) {
  const BlockRun main{megabits * 2 - 1, 64 * KiB}, params{8, 8 * KiB};
  return top ? BlockLayout{main, params} : BlockLayout{params, main};
}

ChipModel boot(std::uint16_t device, std::uint32_t megabits, bool top, bool locks) {
  return with_max({FlashFamily::StatusRegister, MAKER_89, device, megabits, boot_layout(megabits, top), 0, 0,
                   locks ? LockStyle::PerBlock : LockStyle::None, locks, BOOT_TIMES},
                  BOOT_MAX);
}

// JEDEC top-boot sector layout: 64 KiB sectors, then 32, 8, 8 and 16 KiB
// (together one more 64 KiB). The 8 and 16 Mbit 29LV-type sheets of these
// device codes give the unlock bypass (two-write programs).
ChipModel jedec_top(std::uint16_t device, std::uint32_t megabits) {
  ChipModel m = with_max({FlashFamily::Jedec, MAKER_04, device, megabits,
                          BlockLayout{{megabits * 2 - 1, 64 * KiB}, {1, 32 * KiB}, {2, 8 * KiB}, {1, 16 * KiB}},
                          0, 0, LockStyle::None, false, JEDEC_TIMES},
                         JEDEC_MAX);
  m.unlock_bypass = true;
  return m;
}

const ChipModel BUF_32M = buffered(DEV_BUF_32M, 32);
const ChipModel BUF_64M = buffered(DEV_BUF_64M, 64);
const ChipModel BUF_128M = buffered(DEV_BUF_128M, 128);
const ChipModel LBUF_64M = locked_buffered(DEV_LBUF_64M, 64);
const ChipModel LBUF_128M = locked_buffered(DEV_LBUF_128M, 128);
const ChipModel LBUF_256M = locked_buffered(DEV_LBUF_256M, 256);
const ChipModel BOOT_32M_T = boot(DEV_BOOT_32M_T, 32, true, false);
const ChipModel BOOT_32M_B = boot(DEV_BOOT_32M_B, 32, false, false);
const ChipModel LBOOT_32M_T = boot(DEV_LBOOT_32M_T, 32, true, true);
const ChipModel LBOOT_32M_B = boot(DEV_LBOOT_32M_B, 32, false, true);
const ChipModel LBOOT_64M_T = boot(DEV_LBOOT_64M_T, 64, true, true);
const ChipModel LBOOT_64M_B = boot(DEV_LBOOT_64M_B, 64, false, true);
// Two 32 Mbit halves, each with eight 8 KiB parameter blocks at its top;
// per-block locks, every block locked at power-up as the family's sheets
// give.
const ChipModel DUAL_64M = with_max({FlashFamily::StatusRegister, MAKER_B0, DEV_DUAL_64M, 64,
                                     BlockLayout{{63, 64 * KiB}, {8, 8 * KiB}, {63, 64 * KiB}, {8, 8 * KiB}},
                                     0, 0, LockStyle::PerBlock, true, maker_b0_times()},
                                    maker_b0_max_times());
// Top boot, programs a page of 128 words after one 0x41; error bits hold
// off every further erase or program until Clear Status.
const ChipModel PAGE_32M_T = with_max({FlashFamily::StatusRegister, MAKER_1C, DEV_PAGE_32M_T, 32,
                                       boot_layout(32, true), 0, 128, LockStyle::None, false, PAGE_TIMES, true},
                                      PAGE_MAX);
// AMD-command-set parts of reproduction boards, each with its sheet's CFI
// table.
//
// 29GL-type 128/256 Mbit uniform-sector page-mode sheets (x16): 128 KiB
// sectors, 32-word write buffer (0x25 ... 0x29). Word program typically
// 60 us, at most 200 us; a full 32-word buffer 240 us, at most 750 us;
// sector erase 0.5 s, at most 3.5 s. CFI: word 2^6 us x 2^2, buffer 2^8 us
// x 2^2, sector 2^9 ms x 2^3, chip erase 2^16 / 2^17 ms x 2^2.
const ChipTimes GL_TIMES = {.word_program = microseconds(60),
                            .buffer_per_word = microseconds(240) / 32,
                            .main_erase = milliseconds(500)};
const ChipTimes GL_MAX = {.word_program = microseconds(200),
                          .buffer_per_word = microseconds(750) / 32,
                          .main_erase = milliseconds(3500)};

ChipModel gl_uniform(std::uint16_t device_2, std::uint32_t megabits, std::uint8_t chip_erase_log) {
  ChipModel m = with_max({FlashFamily::Jedec, MAKER_01, DEV_MULTI_WORD, megabits,
                          BlockLayout{{megabits, 128 * KiB}}, 32, 0, LockStyle::None, false, GL_TIMES},
                         GL_MAX);
  m.device_2 = device_2;
  m.device_3 = DEV_GL_LAST;
  m.cfi = cfi_query_table({.command_set = 0x0002, .vcc_min = 0x27, .vcc_max = 0x36,
                           .word_typ = 6, .buffer_typ = 8, .erase_typ = 9, .chip_typ = chip_erase_log,
                           .word_max = 2, .buffer_max = 2, .erase_max = 3, .chip_max = 2,
                           .interface = 0x0002, .buffer_bytes = 64},
                          m.layout);
  return m;
}

// 29LV-type 32 Mbit bottom-boot sheets (x16): eight 8 KiB boot sectors
// then 63 of 64 KiB, no write buffer. Word program typically 7 us, at most
// 210 us; sector erase 0.7 s, at most 15 s. CFI: word 2^4 us x 2^5, sector
// 2^10 ms x 2^4, no buffer (2^0 bytes), chip erase not listed.
const ChipTimes LV_TIMES = {.word_program = microseconds(7), .main_erase = milliseconds(700),
                            .param_erase = milliseconds(700)};
const ChipTimes LV_MAX = {.word_program = microseconds(210), .main_erase = milliseconds(15000),
                          .param_erase = milliseconds(15000)};

ChipModel lv_bottom_boot() {
  ChipModel m = with_max({FlashFamily::Jedec, MAKER_01, DEV_LV_32M_B, 32,
                          BlockLayout{{8, 8 * KiB}, {63, 64 * KiB}}, 0, 0, LockStyle::None, false, LV_TIMES},
                         LV_MAX);
  m.cfi = cfi_query_table({.command_set = 0x0002, .vcc_min = 0x27, .vcc_max = 0x36,
                           .word_typ = 4, .buffer_typ = 0, .erase_typ = 10, .chip_typ = 0,
                           .word_max = 5, .buffer_max = 0, .erase_max = 4, .chip_max = 0,
                           .interface = 0x0002, .buffer_bytes = 1},
                          m.layout);
  return m;
}

// Status-register parts of reproduction boards with CFI tables, command
// set 0x0001.
//
// 28F-series P30-type 128 and 256 Mbit sheets (x16): 127 (255) main
// blocks of 128 KiB and four 32 KiB parameter blocks at the top or the
// bottom, a 32-word
// write buffer (0xE8 ... 0xD0), every block locked at power-up and
// unlocked one by one (0x60 0xD0). Word program typically 90 us, at most
// 200 us; a full 32-word buffer 440 us, at most 880 us; main block erase
// 1.2 s, at most 4 s; parameter block 0.4 s, at most 2.5 s. CFI: word
// 2^8 us x 2^1, buffer 2^9 us x 2^1, block 2^10 ms x 2^2, no chip erase;
// VCC 1.7-2.0 V, VPP 8.5-9.5 V, primary table at 0x10A.
const ChipTimes P_TIMES = {.word_program = microseconds(90),
                           .buffer_per_word = microseconds(440) / 32,
                           .main_erase = milliseconds(1200),
                           .param_erase = milliseconds(400)};
const ChipTimes P_MAX = {.word_program = microseconds(200),
                         .buffer_per_word = microseconds(880) / 32,
                         .main_erase = milliseconds(4000),
                         .param_erase = milliseconds(2500)};

// The family's 128 and 256 Mbit members differ only in their count of
// main blocks (and so the device size byte of their tables).
ChipModel p_family(std::uint16_t device, bool top, std::uint32_t megabits) {
  const BlockRun main{megabits * 1024 / 8 / 128 - 1, 128 * KiB}, params{4, 32 * KiB};
  ChipModel m = with_max({FlashFamily::StatusRegister, MAKER_89, device, megabits,
                          top ? BlockLayout{main, params} : BlockLayout{params, main}, 32, 0, LockStyle::PerBlock,
                          true, P_TIMES},
                         P_MAX);
  m.cfi = cfi_query_table({.command_set = 0x0001, .vcc_min = 0x17, .vcc_max = 0x20,
                           .word_typ = 8, .buffer_typ = 9, .erase_typ = 10, .chip_typ = 0,
                           .word_max = 1, .buffer_max = 1, .erase_max = 2, .chip_max = 0,
                           .interface = 0x0001, .buffer_bytes = 64, .primary_table = 0x010A,
                           .vpp_min = 0x85, .vpp_max = 0x95},
                          m.layout);
  return m;
}

const ChipModel P_128M_T = p_family(DEV_P_128M_T, true, 128);
const ChipModel P_128M_B = p_family(DEV_P_128M_B, false, 128);
const ChipModel P_256M_T = p_family(DEV_P_256M_T, true, 256);
const ChipModel P_256M_B = p_family(DEV_P_256M_B, false, 256);

const ChipModel GL_128M = gl_uniform(DEV_GL_128M, 128, 16);
const ChipModel GL_256M = gl_uniform(DEV_GL_256M, 256, 17);
const ChipModel LV_32M_B = lv_bottom_boot();

const ChipModel JEDEC_8M_T = jedec_top(DEV_JEDEC_8M_T, 8);
const ChipModel JEDEC_16M_T = jedec_top(DEV_JEDEC_16M_T, 16);

std::string family_of(const RomOption& o) {
  const ChipModel& c = *o.chip;
  std::string text = o.kind != ROM_KIND_CFI           ? (c.family == FlashFamily::Jedec ? "JEDEC" : "status-register")
                     : c.family == FlashFamily::Jedec ? "AMD commands, CFI"
                                                      : "Intel commands, CFI";
  text += o.chips_per_set == 2 ? " pair, 2 x " : ", ";
  text += std::to_string(c.megabits) + " Mbit";
  char ids[48];
  if (c.device == DEV_MULTI_WORD)
    std::snprintf(ids, sizeof ids, " (ID 0x%04X/0x%04X %04X %04X)", c.maker, c.device, c.device_2, c.device_3);
  else
    std::snprintf(ids, sizeof ids, " (ID 0x%04X/0x%04X)", c.maker, c.device);
  text += ids;
  if (c.buffer_words) text += ", " + std::to_string(c.buffer_words) + "-word buffer";
  if (c.page_words) text += ", " + std::to_string(c.page_words) + "-word page program";
  return text;
}

}  // namespace

ChipTimes maker_b0_times() {
  // Dual-bank boot-block status-register sheets of maker 0xB0: word
  // program 20 us, 4 K-word parameter block erase 0.2 s, 32 K-word main
  // block 0.4 s.
  return {.word_program = microseconds(20), .main_erase = milliseconds(400), .param_erase = milliseconds(200)};
}

ChipTimes maker_b0_max_times() {
  // No maximum column at hand: three times the typical figures.
  return {.word_program = microseconds(60), .main_erase = milliseconds(1200), .param_erase = milliseconds(600)};
}

std::string RomOption::label() const {
  char text[16];
  std::snprintf(text, sizeof text, "%u/%x", kind, code);
  return text;
}

const std::vector<RomOption>& rom_options() {
  static const std::vector<RomOption> OPTIONS = {
      {2, DEV_BUF_32M, &BUF_32M, 1, {4}},
      {2, DEV_BUF_64M, &BUF_64M, 1, {8}},
      {2, DEV_BUF_128M, &BUF_128M, 1, {16}},
      {3, DEV_BUF_32M, &BUF_32M, 2, {8}},
      {3, DEV_BUF_64M, &BUF_64M, 2, {16}},
      {3, DEV_BUF_128M, &BUF_128M, 2, {32, 64, 128}},
      {3, DEV_LBUF_64M, &LBUF_64M, 2, {16, 32}},
      {3, DEV_LBUF_128M, &LBUF_128M, 2, {32, 64, 128}},
      {3, DEV_LBUF_256M, &LBUF_256M, 2, {64}},
      {4, DEV_DUAL_64M, &DUAL_64M, 1, {8}},
      {5, DEV_JEDEC_8M_T, &JEDEC_8M_T, 1, {1}},
      {6, DEV_JEDEC_16M_T, &JEDEC_16M_T, 1, {2}},
      {7, DEV_BOOT_32M_B, &BOOT_32M_B, 1, {4}},
      {8, DEV_BOOT_32M_T, &BOOT_32M_T, 2, {8, 16}},
      {8, DEV_BOOT_32M_B, &BOOT_32M_B, 2, {8, 16}},
      {8, DEV_LBOOT_32M_T, &LBOOT_32M_T, 2, {8, 16, 32}},
      {8, DEV_LBOOT_32M_B, &LBOOT_32M_B, 2, {8, 16, 32}},
      {8, DEV_LBOOT_64M_T, &LBOOT_64M_T, 2, {16, 32}},
      {8, DEV_LBOOT_64M_B, &LBOOT_64M_B, 2, {16, 32}},
      {9, DEV_PAGE_32M_T, &PAGE_32M_T, 2, {8, 16}},
      {ROM_KIND_CFI, DEV_GL_128M, &GL_128M, 1, {16}},
      {ROM_KIND_CFI, DEV_GL_256M, &GL_256M, 1, {32}},
      {ROM_KIND_CFI, DEV_LV_32M_B, &LV_32M_B, 1, {4}},
      {ROM_KIND_CFI, DEV_P_128M_B, &P_128M_B, 1, {16}},
      {ROM_KIND_CFI, DEV_P_128M_T, &P_128M_T, 1, {16}},
      {ROM_KIND_CFI, DEV_P_256M_B, &P_256M_B, 1, {32}},
      {ROM_KIND_CFI, DEV_P_256M_T, &P_256M_T, 1, {32}},
  };
  return OPTIONS;
}

const RomOption* find_rom_option(const std::string& text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos || slash == 0 || slash + 1 == text.size()) return nullptr;
  char* end = nullptr;
  const std::string kind_text = text.substr(0, slash), code_text = text.substr(slash + 1);
  const unsigned long kind = std::strtoul(kind_text.c_str(), &end, 10);
  if (*end) return nullptr;
  const unsigned long code = std::strtoul(code_text.c_str(), &end, 16);
  if (*end || code > 0xFFFF) return nullptr;
  for (const RomOption& o : rom_options())
    if (o.kind == kind && o.code == code) return &o;
  return nullptr;
}

bool carries_clock(const RomOption& o) { return o.kind == ROM_KIND_CFI && o.chip->family == FlashFamily::Jedec; }

std::string clock_board_labels() {
  std::vector<std::string> labels;
  for (const RomOption& o : rom_options())
    if (carries_clock(o)) labels.push_back(o.label());
  std::string text;
  for (std::size_t i = 0; i < labels.size(); ++i)
    text += (i == 0 ? "" : i + 1 == labels.size() ? " or " : ", ") + labels[i];
  return text;
}

std::string rom_options_help() {
  std::string text;
  for (const RomOption& o : rom_options()) {
    std::string sizes;
    for (std::uint32_t mib : o.sizes_mib) {
      if (!sizes.empty()) sizes += '/';
      sizes += std::to_string(mib);
    }
    char line[256];
    std::snprintf(line, sizeof line, "  %-7s %s; %s MiB; blocks per chip %s%s%s\n", o.label().c_str(),
                  family_of(o).c_str(), sizes.c_str(), o.chip->layout.describe().c_str(),
                  o.chip->locked_at_power_up ? "; blocks locked at power-up" : "",
                  o.kind == ROM_KIND_CFI ? "; no mapper; d0d1 board possible" : "");
    text += line;
  }
  return text;
}

}  // namespace kartex
