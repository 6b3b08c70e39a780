// Fuzz target: an encoded video frame as the agent's decoder gets it, in
// the host build of the decoder's own C. Whatever the ops say, nothing
// outside the page decoded into may change; a crash or a sanitizer report
// (a read past the input or the pages) is a bug. The first byte picks the
// page.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/support/video_vram.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int page = data[0] & 1;
  // Exactly the input's halfwords, so that a read past them is caught.
  std::vector<std::uint16_t> ops((size - 1) / 2);
  for (std::size_t i = 0; i < ops.size(); ++i)
    ops[i] = static_cast<std::uint16_t>(data[1 + 2 * i] | data[2 + 2 * i] << 8);
  kartex::test::HostVram vram;
  const kartex::test::HostVram before = vram;
  const std::uint32_t result = vram.decode(page, ops);
  if (result != 0u && result != 1u) {
    std::fprintf(stderr, "video fuzz: decoder returned %u\n", result);
    std::abort();
  }
  if (const std::int64_t at = vram.changed_outside(page, before); at >= 0) {
    std::fprintf(stderr, "video fuzz: halfword %lld outside page %d changed\n", static_cast<long long>(at), page);
    std::abort();
  }
  return 0;
}
