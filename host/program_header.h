#pragma once
// The header a program image needs for the console's BIOS to start it
// after a multiboot transfer: the logo bitmap at 0x04, the fixed byte at
// 0xB2 and the complement at 0xBD over the bytes 0xA0-0xBC.

#include <cstdint>
#include <span>
#include <string>

namespace kartex {

// What the BIOS would refuse in `image`, in a few words for one line, or
// "" when the header passes. The complement is not judged: the clock stamp
// rewrites the title it covers, and mend_header_complement sets it after.
std::string program_header_refusal(std::span<const std::uint8_t> image);

// Sets the complement at 0xBD to match the bytes before it; an image too
// short to hold it is left alone.
void mend_header_complement(std::span<std::uint8_t> image);

}  // namespace kartex
