#include "app/host_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "common/failure.h"

namespace kartex {

std::optional<std::vector<std::uint8_t>> read_host_file(const std::string& name) {
  if (name.empty()) return std::nullopt;
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> data;
  std::uint8_t chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    data.insert(data.end(), chunk, chunk + n);
    if (data.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      std::fclose(file);
      fail("file " + name + " is larger than 2 GiB");
    }
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return std::nullopt;
  return data;
}

std::optional<OutputFile> OutputFile::create(const std::string& target) {
  if (target.empty()) return std::nullopt;
  // A directory or an unwritable place must fail here, before the cable.
  std::error_code ec;
  if (std::filesystem::is_directory(target, ec)) return std::nullopt;
  std::string temp = target + ".kartex-part";
  std::FILE* file = std::fopen(temp.c_str(), "wb");
  if (!file) return std::nullopt;
  return OutputFile(target, temp, file);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : target_(std::move(other.target_)), temp_(std::move(other.temp_)), file_(other.file_) {
  other.file_ = nullptr;
  other.temp_.clear();
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    discard();
    target_ = std::move(other.target_);
    temp_ = std::move(other.temp_);
    file_ = other.file_;
    other.file_ = nullptr;
    other.temp_.clear();
  }
  return *this;
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  if (!temp_.empty()) std::remove(temp_.c_str());
  temp_.clear();
}

void OutputFile::write(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
    fail("writing " + temp_ + ": " + std::strerror(errno));
}

void OutputFile::commit() {
  bool ok = std::fflush(file_) == 0;
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  if (!ok) fail("writing " + temp_ + ": " + std::strerror(errno));
  std::error_code ec;
  std::filesystem::rename(temp_, target_, ec);
  if (ec) fail("cannot put " + temp_ + " in place of " + target_ + ": " + ec.message());
  temp_.clear();
}

}  // namespace kartex
