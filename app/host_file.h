#pragma once
// Host files of the cartridge commands. An input file is read whole before
// the cable is touched, so a cartridge is never written from a file that
// could not be read. An output file is written beside its target and put in
// place only when complete, so a failed run leaves the old file as it was.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cart/byte_sink.h"

namespace kartex {

// The whole file, or nullopt when it cannot be opened or read.
std::optional<std::vector<std::uint8_t>> read_host_file(const std::string& name);

class OutputFile : public ByteSink {
 public:
  // Creates the temporary file; returns nullopt when that is not possible.
  static std::optional<OutputFile> create(const std::string& target);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  ~OutputFile() override;  // removes the temporary file unless committed

  void write(std::span<const std::uint8_t> bytes) override;
  // Flushes, closes and renames over the target. Throws Failure on error.
  void commit();

 private:
  OutputFile(std::string target, std::string temp, std::FILE* file)
      : target_(std::move(target)), temp_(std::move(temp)), file_(file) {}
  void discard();

  std::string target_;
  std::string temp_;
  std::FILE* file_ = nullptr;
};

}  // namespace kartex
