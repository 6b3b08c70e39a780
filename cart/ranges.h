#pragma once
// The checks every cartridge command makes before it touches the
// cartridge: a cartridge must answer, and a range must lie whole inside
// the memory it names and hold at least one byte. Each refusal is one line
// that says what would fit.

#include <cstdint>
#include <string>

#include "cart/cart_info.h"

namespace kartex {

// Refuses a slot whose cartridge answered nothing at bring-up (no ROM
// reported): on a console, a cartridge that is not seated or whose
// contacts are dirty.
void require_cartridge(const CartInfo& cart);

// Refuses a cartridge without save memory; `what` is the action ("read",
// "written").
void require_save_memory(const CartInfo& cart, const char* what);

// Refuses `length` bytes from `start` unless they lie inside `size` bytes of
// `memory` ("ROM", "save memory") and are at least one byte.
void require_inside(const char* memory, std::int64_t size, std::int64_t start, std::int64_t length);

// The refusal of a range that runs past the end of `size` bytes, naming
// the range that would fit.
[[noreturn]] void refuse_past_end(const char* memory, std::int64_t size, std::int64_t start,
                                  std::int64_t length);

// "1 erase block", "2 erase blocks".
std::string count_of(std::size_t n, const char* thing);

}  // namespace kartex
