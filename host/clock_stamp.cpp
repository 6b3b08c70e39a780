#include "host/clock_stamp.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "common/output.h"
#include "common/failure.h"
#include "common/original_lines.h"
#include "host/program_header.h"

namespace kartex {

ClockStampBytes clock_stamp_bytes(const std::tm& local) {
  ClockStampBytes stamp{};
  std::memcpy(stamp.data(), CLOCK_STAMP_MAGIC, CLOCK_STAMP_MAGIC_SIZE);
  stamp[STAMP_YEAR] = static_cast<std::uint8_t>(local.tm_year % 100);
  stamp[STAMP_MONTH] = static_cast<std::uint8_t>(local.tm_mon + 1);
  stamp[STAMP_DAY] = static_cast<std::uint8_t>(local.tm_mday);
  stamp[STAMP_WEEKDAY] = static_cast<std::uint8_t>(local.tm_wday);
  stamp[STAMP_HOUR] = static_cast<std::uint8_t>(local.tm_hour);
  stamp[STAMP_MINUTE] = static_cast<std::uint8_t>(local.tm_min);
  stamp[STAMP_SECOND] = static_cast<std::uint8_t>(local.tm_sec);
  return stamp;
}

std::size_t stamp_clock(std::span<std::uint8_t> image, Output& con, const WallClock& now) {
  // The stamp is taken right as a second begins: at most one second's wait.
  const std::time_t first = now();
  std::time_t t = first;
  while (t == first) {
    std::this_thread::yield();
    t = now();
  }
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &t) != 0) fail("the host's clock gives no local time");
#else
  if (!localtime_r(&t, &local)) fail("the host's clock gives no local time");
#endif
  const ClockStampBytes stamp = clock_stamp_bytes(local);
  // A program shorter than the header holds only the stamp's first bytes;
  // the rest would not be sent anyway.
  if (image.size() > CLOCK_STAMP_OFFSET) {
    const std::size_t n = std::min<std::size_t>(stamp.size(), image.size() - CLOCK_STAMP_OFFSET);
    std::copy_n(stamp.begin(), n, image.begin() + CLOCK_STAMP_OFFSET);
  }
  // The stamp lands in the title, which the header's complement covers:
  // the BIOS would refuse the image with the old one.
  mend_header_complement(image);
  con.print(LINE_STAMP_DATE, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  con.print(LINE_STAMP_TIME, local.tm_hour, local.tm_min, local.tm_sec);
  return stamp.size();
}

}  // namespace kartex
