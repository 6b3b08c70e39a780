#include "cart/flash_chips.h"

#include <algorithm>

#include "contract/hw/rom_flash.h"
#include "contract/wire.h"

namespace kartex {

namespace {

constexpr std::uint32_t MIB = 0x100000;

// The agent's ROM kinds.
enum : std::int32_t {
  KIND_BUFFERED = 2,
  KIND_BUFFERED_PAIR = 3,
  KIND_PARAM_8M = 4,
  KIND_JEDEC_1M = 5,
  KIND_JEDEC_2M = 6,
  KIND_PARAM_4M = 7,
  KIND_PARAM_PAIR = 8,
  KIND_PAGE_PAIR = 9,
};

constexpr const char* STATUS_REGISTER = "status register";
constexpr const char* JEDEC = "JEDEC";
constexpr const char* AMD_CFI = "AMD, from its CFI tables";
constexpr const char* SR_CFI = "status register, from its CFI tables";
// A buffered write takes SR_BUFFER_HALFWORDS per chip; the 0x1C pairs
// program SR_PAGE_HALFWORDS over both chips.
constexpr std::uint32_t CHIP_BUFFER = SR_BUFFER_HALFWORDS * 2;
constexpr std::uint32_t PAGE_BUFFER = SR_PAGE_HALFWORDS * 2;

std::vector<std::uint16_t> buffered_single(std::uint32_t size) {
  if (size == 4 * MIB) return {ROM_DEV_BUF_32M};
  if (size == 8 * MIB) return {ROM_DEV_BUF_64M};
  if (size == 16 * MIB) return {ROM_DEV_BUF_128M};
  return {};
}

// A pair reports twice one chip's size.
std::vector<std::uint16_t> buffered_pair(std::uint32_t size) {
  if (size == 8 * MIB) return {ROM_DEV_BUF_32M};
  if (size == 16 * MIB) return {ROM_DEV_BUF_64M, ROM_DEV_BUF2_64M};
  if (size == 32 * MIB) return {ROM_DEV_BUF_128M, ROM_DEV_BUF2_64M, ROM_DEV_BUF2_128M, ROM_DEV_BUF2_256M};
  if (size > 32 * MIB) return {ROM_DEV_BUF_128M, ROM_DEV_BUF2_128M};
  return {};
}

std::vector<std::uint16_t> parameter_pair(std::uint32_t size) {
  if (size == 8 * MIB) return {ROM_DEV_32M_TOP, ROM_DEV_32M_BOTTOM, ROM_DEV2_32M_TOP, ROM_DEV2_32M_BOTTOM};
  if (size == 16 * MIB)
    return {ROM_DEV_32M_TOP, ROM_DEV_32M_BOTTOM, ROM_DEV2_32M_TOP, ROM_DEV2_32M_BOTTOM, ROM_DEV_64M_TOP,
            ROM_DEV_64M_BOTTOM};
  if (size == 32 * MIB) return {ROM_DEV2_32M_TOP, ROM_DEV2_32M_BOTTOM, ROM_DEV_64M_TOP, ROM_DEV_64M_BOTTOM};
  return {};
}

}  // namespace

std::optional<FlashChip> known_flash_chip(const CartInfo& cart) {
  const auto size = static_cast<std::uint32_t>(cart.rom_size);
  FlashChip chip;
  chip.command_set = STATUS_REGISTER;
  chip.maker = ROM_MAKER_SR;
  switch (cart.rom_kind) {
    case KIND_BUFFERED:
      chip.devices = buffered_single(size);
      chip.erase_block = 0x20000;
      chip.buffer = CHIP_BUFFER;
      break;
    case KIND_BUFFERED_PAIR:
      chip.devices = buffered_pair(size);
      chip.pair = true;
      chip.erase_block = 0x40000;
      chip.buffer = 2 * CHIP_BUFFER;
      break;
    case KIND_PARAM_8M:
      chip.maker = ROM_MAKER_SR_B0;
      chip.devices = {ROM_DEV_B0_64M};
      chip.erase_block = 0x10000;
      break;
    case KIND_JEDEC_1M:
    case KIND_JEDEC_2M:
      chip.command_set = JEDEC;
      chip.maker = ROM_MAKER_JEDEC;
      chip.devices = {cart.rom_kind == KIND_JEDEC_1M ? std::uint16_t{ROM_DEV_JEDEC_8M}
                                                     : std::uint16_t{ROM_DEV_JEDEC_16M}};
      chip.erase_block = 0x10000;
      break;
    case KIND_PARAM_4M:
      chip.devices = {ROM_DEV_32M_BOTTOM};
      chip.erase_block = 0x10000;
      break;
    case KIND_PARAM_PAIR:
      chip.devices = parameter_pair(size);
      chip.pair = true;
      chip.erase_block = 0x20000;
      break;
    case KIND_PAGE_PAIR:
      chip.maker = ROM_MAKER_SR_1C;
      chip.devices = {ROM_DEV_1C_PAIR};
      chip.pair = true;
      chip.erase_block = 0x20000;
      chip.buffer = PAGE_BUFFER;
      break;
    case ROM_KIND_CFI:
      chip.command_set = AMD_CFI;
      chip.maker = 0;
      chip.cfi = CfiDetails{};
      break;
    default: return std::nullopt;
  }
  // The block the agent reported is the one its erases step by.
  if (cart.erase_block > 0) chip.erase_block = static_cast<std::uint32_t>(cart.erase_block);
  return chip;
}

void apply_cfi_info(FlashChip& chip, const std::uint32_t (&w)[CFI_INFO_WORDS]) {
  CfiDetails d;
  chip.maker = static_cast<std::uint16_t>(w[0]);
  chip.devices = {static_cast<std::uint16_t>(w[0] >> 16)};
  d.device_2 = static_cast<std::uint16_t>(w[1]);
  d.device_3 = static_cast<std::uint16_t>(w[1] >> 16);
  d.command_set = static_cast<std::uint16_t>(w[2]);
  chip.command_set = d.command_set == CFI_SET_AMD ? AMD_CFI : SR_CFI;
  d.d0d1 = (w[2] & CFI_INFO_D0D1) != 0;
  chip.buffer = w[3];
  const std::uint32_t n = std::min<std::uint32_t>(w[4], CFI_MAX_REGIONS);
  for (std::uint32_t i = 0; i < n; ++i) d.regions.push_back({w[5 + i] & 0xFFFF, (w[5 + i] >> 16) * 256});
  d.word_max_us = w[9];
  d.buffer_max_us = w[10];
  d.erase_max_ms = w[11];
  chip.cfi = d;
}

const char* cfi_command_set_name(std::uint16_t set) {
  switch (set) {
    case CFI_SET_AMD: return "AMD";
    case CFI_SET_INTEL_EXTENDED: return "Intel extended";
    case CFI_SET_INTEL_STANDARD: return "Intel standard";
    default: return "unknown";
  }
}

}  // namespace kartex
