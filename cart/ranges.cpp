#include "cart/ranges.h"

#include "common/failure.h"
#include "common/output.h"

namespace kartex {

void require_cartridge(const CartInfo& cart) {
  if (cart.rom_kind == ROM_KIND_NONE)
    fail("no cartridge answers in the slot: seat it firmly (with the console switched off) and "
         "clean its contacts");
}

void require_save_memory(const CartInfo& cart, const char* what) {
  if (cart.save_size <= 0)
    fail(strprintf("no save memory was found on this cartridge: nothing can be %s", what));
}

namespace {

unsigned long long u(std::int64_t v) { return static_cast<unsigned long long>(v); }

}  // namespace

void refuse_past_end(const char* memory, std::int64_t size, std::int64_t start, std::int64_t length) {
  if (start >= size)
    fail(strprintf("start offset 0x%llX lies beyond the end of the 0x%llX-byte %s", u(start), u(size),
                   memory));
  fail(strprintf("0x%llX bytes from 0x%llX do not fit the 0x%llX-byte %s: the range that fits is "
                 "0x%llX 0x%llX",
                 u(length), u(start), u(size), memory, u(start), u(size - start)));
}

void require_inside(const char* memory, std::int64_t size, std::int64_t start, std::int64_t length) {
  if (start < 0 || length < 0) fail("a start offset or length cannot be negative");
  if (length == 0) fail("nothing to do: the length is 0 (give at least one byte)");
  if (start >= size || start + length > size) refuse_past_end(memory, size, start, length);
}

std::string count_of(std::size_t n, const char* thing) {
  return strprintf("%zu %s%s", n, thing, n == 1 ? "" : "s");
}

}  // namespace kartex
