#include "host/program_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/output.h"
#include "common/failure.h"
#include "host/program_header.h"

namespace kartex {

std::optional<std::vector<std::uint8_t>> read_program_file(const std::string& name, std::string* reason) {
  auto why = [reason](int error) {
    if (reason) *reason = std::strerror(error);
  };
  if (name.empty()) {
    why(ENOENT);
    return std::nullopt;
  }
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (!file) {
    why(errno);
    return std::nullopt;
  }
  // One byte more than fits tells a file that is too long.
  std::vector<std::uint8_t> data(PROGRAM_MAX_BYTES + 1);
  const std::size_t n = std::fread(data.data(), 1, data.size(), file);
  // A directory opens on some systems and fails at the first read.
  const int error = errno;
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    why(error ? error : EIO);
    return std::nullopt;
  }
  if (n > PROGRAM_MAX_BYTES)
    fail(strprintf("program file %s is longer than %u bytes, the most one upload carries",
                   name.c_str(), PROGRAM_MAX_BYTES));
  if (n == 0) fail("program file " + name + " is empty: there is no program to start");
  data.resize(n);
  // Sent through the cable's upload, the image reaches the console's BIOS,
  // which starts nothing whose header it refuses: the run would only wait.
  if (const std::string why = program_header_refusal(data); !why.empty())
    fail("program file " + name + " would not start on the console: " + why);
  return data;
}

}  // namespace kartex
