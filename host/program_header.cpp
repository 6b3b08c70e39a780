#include "host/program_header.h"

#include <algorithm>
#include <array>

#include "contract/hw/cart_header.h"
#include "common/output.h"

namespace kartex {

namespace {

constexpr std::array<std::uint8_t, HDR_LOGO_SIZE> LOGO = {CART_LOGO_BYTES};

}  // namespace

std::string program_header_refusal(std::span<const std::uint8_t> image) {
  if (image.size() < HDR_SIZE)
    return strprintf("it is %zu bytes, shorter than the %u-byte header", image.size(), unsigned{HDR_SIZE});
  const auto logo = image.subspan(HDR_LOGO, HDR_LOGO_SIZE);
  const auto differs = std::mismatch(logo.begin(), logo.end(), LOGO.begin());
  if (differs.first != logo.end())
    return strprintf("its header logo differs from the console's at offset 0x%X",
                     static_cast<unsigned>(HDR_LOGO + (differs.first - logo.begin())));
  if (image[HDR_FIXED] != HDR_FIXED_VALUE)
    return strprintf("its header byte 0x%X holds 0x%02X, not 0x%02X", unsigned{HDR_FIXED}, unsigned{image[HDR_FIXED]},
                     unsigned{HDR_FIXED_VALUE});
  return {};
}

void mend_header_complement(std::span<std::uint8_t> image) {
  if (image.size() <= HDR_COMPLEMENT) return;
  image[HDR_COMPLEMENT] = header_complement(image);
}

}  // namespace kartex
