#pragma once
// Pictures of the file taken at a chosen position, independently of the
// playback: the key frame at or before the position, decoded and held as a
// bottom-up 24-bit bitmap.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace kartex {

class Grabber {
 public:
  virtual ~Grabber() = default;
  // Bytes of the bitmap, header included.
  virtual std::size_t image_size() const = 0;
  // Copies the picture held into `buffer`; false when there is none (the
  // last positioning failed) or `buffer` is too small.
  virtual bool copy_to(std::span<std::uint8_t> buffer) = 0;
  // Takes the picture at `milliseconds` from the file's start.
  virtual void position_at(std::int64_t milliseconds) = 0;
  // The file's length in milliseconds; -1 when the container does not say.
  virtual std::int64_t duration_ms() const = 0;
};

// Opens `file_name` for grabbing, holding its first picture. nullptr on
// failure, with the reason in `why`.
std::unique_ptr<Grabber> open_ffmpeg_grabber(const std::string& file_name, std::string& why);

}  // namespace kartex
