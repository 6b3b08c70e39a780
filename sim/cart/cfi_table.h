#pragma once
// The CFI query table of a flash part (JEDEC JESD68 layout), built from the
// figures its data sheet lists: the "QRY" string, the command set, the
// supply range, the typical and maximum times as powers of two, the device
// size, the interface, the write buffer and the erase block regions.

#include <cstdint>
#include <vector>

#include "sim/cart/flash_layout.h"

namespace kartex {

struct CfiFacts {
  std::uint16_t command_set;   // 0x0002 AMD, 0x0001/0x0003 Intel
  std::uint8_t vcc_min, vcc_max;  // BCD volts.tenths, e.g. 0x27 = 2.7 V
  // Typical times as 2^N (word program us, buffer write us, block erase
  // ms, chip erase ms; 0: not supported) and the maximum as typical x 2^N.
  std::uint8_t word_typ, buffer_typ, erase_typ, chip_typ;
  std::uint8_t word_max, buffer_max, erase_max, chip_max;
  std::uint16_t interface;     // 0x0002: x8/x16
  std::uint32_t buffer_bytes;  // a power of two; 1 where the part has no buffer
  std::uint16_t primary_table = 0x40;  // word address of the maker's own extended table
  std::uint8_t vpp_min = 0, vpp_max = 0;  // program supply (volts in hex, tenths BCD); 0: none
};

// Words from 0x10 up to the end of the erase block regions; each holds one
// table byte in its low half.
std::vector<std::uint16_t> cfi_query_table(const CfiFacts& facts, const BlockLayout& layout);

// Times the table states, in microseconds: typical and maximum.
struct CfiTimes {
  std::uint64_t word_us, word_max_us, buffer_us, buffer_max_us, erase_us, erase_max_us;
};
CfiTimes cfi_times(const std::vector<std::uint16_t>& table);

}  // namespace kartex
