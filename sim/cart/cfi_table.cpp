#include "sim/cart/cfi_table.h"

#include <bit>

namespace kartex {

namespace {

// Table offsets, as word addresses of the query
enum : std::uint32_t {
  Q_STRING = 0x10,
  Q_COMMAND_SET = 0x13,
  Q_PRIMARY_TABLE = 0x15,
  Q_ALT_SET = 0x17,
  Q_VCC_MIN = 0x1B,
  Q_VPP_MIN = 0x1D,
  Q_WORD_TYP = 0x1F,
  Q_DEVICE_SIZE = 0x27,
  Q_INTERFACE = 0x28,
  Q_BUFFER = 0x2A,
  Q_REGIONS = 0x2C,
  Q_REGION_0 = 0x2D,
};

}  // namespace

std::vector<std::uint16_t> cfi_query_table(const CfiFacts& f, const BlockLayout& layout) {
  std::vector<BlockRun> runs = layout.runs();
  std::vector<std::uint16_t> t(Q_REGION_0 + 4 * runs.size() - Q_STRING, 0);
  auto put = [&](std::uint32_t at, std::uint32_t byte) { t[at - Q_STRING] = static_cast<std::uint16_t>(byte & 0xFF); };
  put(Q_STRING, 'Q');
  put(Q_STRING + 1, 'R');
  put(Q_STRING + 2, 'Y');
  put(Q_COMMAND_SET, f.command_set);
  put(Q_COMMAND_SET + 1, f.command_set >> 8);
  put(Q_PRIMARY_TABLE, f.primary_table);
  put(Q_PRIMARY_TABLE + 1, f.primary_table >> 8);
  put(Q_ALT_SET, 0);  // no alternate command set, no table for it
  put(Q_VCC_MIN, f.vcc_min);
  put(Q_VCC_MIN + 1, f.vcc_max);
  put(Q_VPP_MIN, f.vpp_min);
  put(Q_VPP_MIN + 1, f.vpp_max);
  const std::uint8_t times[8] = {f.word_typ, f.buffer_typ, f.erase_typ, f.chip_typ,
                                 f.word_max, f.buffer_max, f.erase_max, f.chip_max};
  for (std::uint32_t i = 0; i < 8; ++i) put(Q_WORD_TYP + i, times[i]);
  put(Q_DEVICE_SIZE, static_cast<std::uint32_t>(std::countr_zero(layout.chip_bytes())));
  put(Q_INTERFACE, f.interface);
  put(Q_INTERFACE + 1, f.interface >> 8);
  const auto buffer_log = static_cast<std::uint32_t>(std::countr_zero(f.buffer_bytes));
  put(Q_BUFFER, buffer_log);
  put(Q_BUFFER + 1, buffer_log >> 8);
  put(Q_REGIONS, static_cast<std::uint32_t>(runs.size()));
  for (std::size_t i = 0; i < runs.size(); ++i) {
    // Blocks less one, then the block size in units of 256 bytes
    const std::uint32_t at = Q_REGION_0 + 4 * static_cast<std::uint32_t>(i);
    const std::uint32_t n = runs[i].count - 1, units = runs[i].bytes / 256;
    put(at, n);
    put(at + 1, n >> 8);
    put(at + 2, units);
    put(at + 3, units >> 8);
  }
  return t;
}

CfiTimes cfi_times(const std::vector<std::uint16_t>& t) {
  auto at = [&](std::uint32_t q) -> std::uint32_t { return t.at(q - Q_STRING) & 0xFF; };
  auto pow2 = [](std::uint32_t n) -> std::uint64_t { return n ? std::uint64_t{1} << n : 0; };
  CfiTimes c{};
  c.word_us = pow2(at(Q_WORD_TYP));
  c.buffer_us = pow2(at(Q_WORD_TYP + 1));
  c.erase_us = pow2(at(Q_WORD_TYP + 2)) * 1000;
  c.word_max_us = c.word_us << at(Q_WORD_TYP + 4);
  c.buffer_max_us = c.buffer_us << at(Q_WORD_TYP + 5);
  c.erase_max_us = c.erase_us << at(Q_WORD_TYP + 6);
  return c;
}

}  // namespace kartex
