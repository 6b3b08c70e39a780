#include "sim/screen/screen_recorder.h"

#include <cstdio>
#include <filesystem>

#include "common/failure.h"
#include "contract/hw/display.h"
#include "sim/screen/png_writer.h"

namespace kartex {

namespace {

// Only modes 4 and 5 have two pages for the page bit to choose from.
int page_shown(std::uint16_t dispcnt) {
  const unsigned mode = dispcnt & DCNT_MODE_MASK;
  if (mode != 4 && mode != 5) return -1;
  return dispcnt & DCNT_PAGE ? 1 : 0;
}

}  // namespace

ScreenRecorder::ScreenRecorder(std::string dir) : dir_(std::move(dir)) {
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (ec) fail("--sim: cannot create the screens directory " + dir_ + ": " + ec.message());
}

std::string ScreenRecorder::picture_path(unsigned n) const {
  char name[32];
  std::snprintf(name, sizeof name, "%06u.png", n);
  return (std::filesystem::path(dir_) / name).string();
}

void ScreenRecorder::observe(std::uint16_t dispcnt, const std::function<Screen()>& render) {
  const int page = page_shown(dispcnt);
  const bool switched = page >= 0 && page_ >= 0 && page != page_;
  page_ = page;
  if (!switched) return;
  ++written_;
  write_png(picture_path(written_), render());
}

}  // namespace kartex
