#pragma once
// screens=DIR: a picture each time the display switches between the two
// bitmap pages, numbered from 000001 in the order the switches happen.

#include <cstdint>
#include <functional>
#include <string>

#include "sim/screen/screen.h"

namespace kartex {

class ScreenRecorder {
 public:
  // Creates `dir` if it is missing; throws Failure when it cannot.
  explicit ScreenRecorder(std::string dir);

  // Called with the display control register as it now stands; when the
  // page shown differs from the one seen last, writes render() as the next
  // numbered picture.
  void observe(std::uint16_t dispcnt, const std::function<Screen()>& render);

  unsigned pictures() const { return written_; }
  // DIR/000001.png for n = 1.
  std::string picture_path(unsigned n) const;

 private:
  std::string dir_;
  int page_ = -1;  // the page shown, -1 outside the bitmap modes with pages (4, 5)
  unsigned written_ = 0;
};

}  // namespace kartex
