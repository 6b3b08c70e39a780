#pragma once
// Host files of the cartridge commands. An input file is read whole before
// the cable is touched, so a cartridge is never written from a file that
// could not be read.
//
// A dump to a regular file (or to a name not yet taken) goes into a
// temporary file of its own, created exclusively beside the real target
// (a symlink is followed to what it names first), and is renamed over the
// target only when complete: a failed run leaves the old file as it was,
// two dumps to one name never mix, and the old file's mode (and owner, where
// the user may set it) carries over. A rename gives the name a new file:
// other hard links to the old one keep the old bytes. A device, a FIFO or
// "-" (standard output) is written straight through and never replaced.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cart/byte_sink.h"

namespace kartex {

// The whole file, or nullopt when it cannot be opened or read; `reason`,
// when given, then holds the system's own words for why.
std::optional<std::vector<std::uint8_t>> read_host_file(const std::string& name,
                                                        std::string* reason = nullptr);

// The name that stands for standard output.
constexpr const char* STANDARD_OUTPUT_NAME = "-";

class OutputFile : public ByteSink {
 public:
  // Opens the way to `target`; nullopt (with `reason`) when there is none.
  // "-" writes to `standard_output` when one is given.
  static std::optional<OutputFile> create(const std::string& target, std::string* reason = nullptr,
                                          std::ostream* standard_output = nullptr);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  ~OutputFile() override;  // removes the temporary file unless committed

  void write(std::span<const std::uint8_t> bytes) override;
  // Flushes, closes and, for a temporary file, renames it over the target.
  // Throws Failure on error.
  void commit();

  // The temporary file, empty when the target is written straight through.
  const std::string& temporary_name() const { return temp_; }

 private:
  OutputFile() = default;
  void discard() noexcept;
  void steal(OutputFile& other) noexcept;

  std::string target_;  // the file finally named, links followed
  std::string temp_;
  int fd_ = -1;
  std::ostream* stream_ = nullptr;
  int cleanup_slot_ = -1;
};

}  // namespace kartex
