#pragma once
// The host's files as the file service sees them. A handle is the word the
// program gets back from an open and gives back unchanged; -1 marks a
// failure. Only handles that the service itself opened reach a file: any
// other word fails, so a program can never close, read or write the tool's
// own descriptors (its terminal, the cable, a trace file).

#include <cstdint>
#include <span>
#include <string>

namespace kartex {

// The furthest position a seek answer can carry: the answer is one word,
// and 0xFFFFFFFF reads as -1. A file never grows past it through the service.
constexpr std::int64_t MAX_FILE_POSITION = 0xFFFFFFFE;

class FileHost {
 public:
  virtual ~FileHost() = default;
  // `path` is in the host's form already; `mode` is the wire's open mode.
  virtual std::int32_t open(const std::string& path, std::uint32_t mode) = 0;
  virtual void close(std::int32_t handle) = 0;
  // Bytes read into `into` (0 at the end of the file), or -1.
  virtual std::int32_t read(std::int32_t handle, std::span<std::uint8_t> into) = 0;
  // False when not every byte was written.
  virtual bool write(std::int32_t handle, std::span<const std::uint8_t> bytes) = 0;
  // New position from the start, or -1 (unknown origin, bad handle, a
  // position before the start or past MAX_FILE_POSITION, failure); a seek
  // that fails leaves the position where it was.
  virtual std::int64_t seek(std::int32_t handle, std::int32_t offset, std::uint32_t origin) = 0;
  // Closes whatever the program left open.
  virtual void close_all() = 0;
};

}  // namespace kartex
