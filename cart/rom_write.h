#pragma once
// Writing a range of flash ROM so that exactly that range changes: whole
// erase blocks are written, the bytes of the first and last block outside
// the range put back as they were; blocks that already hold their bytes are
// left alone, and a block is erased only when its new bytes need a bit set.

#include <cstdint>
#include <span>

#include "cart/cart_info.h"
#include "cart/commands.h"

namespace kartex {

class CableLink;
struct Output;

// `data` goes to ROM offset `start`; the caller has clipped it to the ROM.
void write_rom_range(CableLink& link, const CartInfo& cart, std::uint32_t start,
                     std::span<const std::uint8_t> data, Output& con, WriteOptions options);

// Asks the agent for the erases and programs that failed since it last
// asked (a chip's error bits, or no ready status within its wait) and
// fails with one line naming the first.
void check_flash_failures(CableLink& link);

// Refuses a cartridge whose ROM cannot be erased or programmed, with one
// line naming what it holds; `what` is the command's action ("erased",
// "written").
void require_flash_rom(const CartInfo& cart, const char* what);

}  // namespace kartex
