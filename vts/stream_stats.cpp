#include "vts/stream_stats.h"

#include "common/output.h"

namespace kartex {

std::string stream_stats(std::int64_t frames, std::int64_t elapsed_seconds) {
  double fps = 0;
  std::int32_t bps = 0;
  if (elapsed_seconds > 0) {
    fps = static_cast<double>(frames) / static_cast<double>(elapsed_seconds);
    // The product is formed in 64 bits; the quotient is shown as a signed
    // 32-bit value.
    bps = static_cast<std::int32_t>(frames * PAGE_BITS / elapsed_seconds);
  }
  return strprintf("\ntime:%llds\n", static_cast<long long>(elapsed_seconds)) +
         strprintf("%8.4f fps\n", fps) + strprintf("%ld BPS\n", static_cast<long>(bps));
}

std::string link_words_line(std::int64_t frames, std::int64_t link_words) {
  if (frames <= 0) return "";
  return strprintf("%lld link words a frame\n", static_cast<long long>((link_words + frames / 2) / frames));
}

}  // namespace kartex
