#pragma once
// Reading a file the user names for the simulator (a ROM, a save image, a
// kept state part): a regular file only, opened without blocking so that a
// FIFO or a device never holds the run, its size known before a byte is
// read so that a caller bounds it first.

#include <cstdint>
#include <string>
#include <vector>

namespace kartex {

class InputFile {
 public:
  // `what` names the file in messages ("ROM file x.gba", "save-image=x"),
  // `prefix` starts them ("--sim: " or ""). Throws Failure when the file
  // cannot be opened or is not a regular file.
  InputFile(const std::string& path, std::string what, std::string prefix = "");
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  std::uint64_t size() const { return size_; }
  // The whole file; throws Failure on a read error or a file that changed
  // size while it was read.
  std::vector<std::uint8_t> read_all();

 private:
  [[noreturn]] void refuse(const std::string& why) const;

  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::string what_, prefix_;
};

}  // namespace kartex
