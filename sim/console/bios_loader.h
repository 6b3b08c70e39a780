#pragma once
// The console's BIOS as it takes an image over the link port (multiboot):
// it checks the image's cartridge-style header, writes a branch to the
// multiboot entry over the first word and the boot-mode bytes behind that
// entry, resets the I/O registers (RegisterRamReset 0xDE) and enters the
// image at 0x020000C0 in system mode with IRQs unmasked. A loader that
// skips all of it runs the image from its first word.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kartex {

enum class Loader { Bios, Direct };

namespace multiboot {
constexpr std::uint32_t ENTRY = 0x020000C0;
constexpr std::uint32_t ENTRY_OFFSET = 0xC0;
constexpr std::uint32_t BOOT_MODE = 0xC4;  // 2: the normal serial mode
constexpr std::uint32_t SLAVE_ID = 0xC5;   // 1: the only slave in normal mode
constexpr std::uint8_t BOOT_MODE_NORMAL = 0x02;
constexpr std::uint8_t SLAVE_ID_NORMAL = 0x01;
// B 0x020000C0 placed at 0x02000000
constexpr std::uint32_t BRANCH_TO_ENTRY = 0xEA00002E;
// The display is left in forced blank by the register reset.
constexpr std::uint16_t DISPCNT_AFTER_RESET = 0x0080;
}  // namespace multiboot

// Why the BIOS refuses `image` (it is too short for the header, the logo
// differs, the fixed byte is not 0x96, the complement does not match), or
// "" if it starts it.
std::string multiboot_refusal(std::span<const std::uint8_t> image);

// The image as the BIOS leaves it in work RAM before entering it: the
// branch over the first word and the boot-mode bytes. `image` must have
// passed multiboot_refusal.
void multiboot_patch(std::vector<std::uint8_t>& image);

}  // namespace kartex
