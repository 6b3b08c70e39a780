#include "sim/console/bios_loader.h"

#include <algorithm>
#include <cstdio>

#include "sim/cart/cart_header.h"

namespace kartex {

namespace {

std::string hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

}  // namespace

std::string multiboot_refusal(std::span<const std::uint8_t> image) {
  // The transfer carries the header first and the BIOS checks it before it
  // takes the rest.
  if (image.size() < multiboot::BOOT_MODE + 2)
    return "the image is " + std::to_string(image.size()) + " bytes, too short for a multiboot header";
  const auto logo = header_logo();
  const auto got = image.subspan(HDR_LOGO, logo.size());
  const auto differs = std::mismatch(got.begin(), got.end(), logo.begin());
  if (differs.first != got.end())
    return "the header logo differs at offset " + hex(static_cast<unsigned>(HDR_LOGO + (differs.first - got.begin())));
  if (image[HDR_FIXED] != HDR_FIXED_VALUE) return "the header's fixed byte at 0xB2 is " + hex(image[HDR_FIXED]) + ", not 0x96";
  const std::uint8_t want = header_complement(image);
  if (image[HDR_COMPLEMENT] != want)
    return "the header complement at 0xBD is " + hex(image[HDR_COMPLEMENT]) + ", not " + hex(want);
  return {};
}

void multiboot_patch(std::vector<std::uint8_t>& image) {
  for (int i = 0; i < 4; ++i) image[i] = static_cast<std::uint8_t>(multiboot::BRANCH_TO_ENTRY >> (8 * i));
  image[multiboot::BOOT_MODE] = multiboot::BOOT_MODE_NORMAL;
  image[multiboot::SLAVE_ID] = multiboot::SLAVE_ID_NORMAL;
}

}  // namespace kartex
