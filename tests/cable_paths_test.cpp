// The names under which the cable's Windows driver shows the cable and its
// pipes, and the device path taken out of an interface detail record.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/cable_paths.h"

namespace kartex {
namespace {

const std::string DEVICE =
    "\\\\?\\usb#vid_0000&pid_0000#5&1a2b3c4d&0&2#{28b0d529-c559-4697-bc5e-7e18a0dc629b}";

TEST(CablePaths, EachPipeHasItsOwnNumber) {
  struct Case {
    Pipe pipe;
    const char* suffix;
  };
  // Data in is pipe 1 and data out pipe 2: swapped, every command's bytes
  // would go to the pipe the cable reads its answers from.
  const Case cases[] = {
      {Pipe::Command, "\\if000pipe000"},
      {Pipe::DataIn, "\\if000pipe001"},
      {Pipe::DataOut, "\\if000pipe002"},
  };
  for (const Case& c : cases) EXPECT_EQ(pipe_path(DEVICE, c.pipe), DEVICE + c.suffix) << c.suffix;
}

TEST(CablePaths, NoLengthLimitOnTheDevicePath) {
  // 242 characters filled a 256-byte buffer with the 13-character suffix and
  // its terminator; longer paths are real (hubs behind hubs) and must not be
  // cut or refused.
  for (std::size_t length : {1u, 242u, 243u, 600u, 4000u}) {
    const std::string device = "\\\\?\\" + std::string(length - 1, 'd') + "x";
    const std::string path = pipe_path(device.substr(0, length), Pipe::DataOut);
    EXPECT_EQ(path.size(), length + 13) << length;
    EXPECT_EQ(path.substr(0, length), device.substr(0, length)) << length;
    EXPECT_EQ(path.substr(length), "\\if000pipe002") << length;
  }
}

// A detail record as the system fills it in: a 4-byte size field (whose
// value the system sets for itself), the path, its terminator, and what
// else the buffer held.
std::vector<std::uint8_t> detail_record(const std::string& path, const std::string& after,
                                        bool terminated = true) {
  std::vector<std::uint8_t> record = {8, 0, 0, 0};
  record.insert(record.end(), path.begin(), path.end());
  if (terminated) record.push_back(0);
  record.insert(record.end(), after.begin(), after.end());
  return record;
}

TEST(CablePaths, DevicePathFromTheDetailRecord) {
  const std::string long_path = "\\\\?\\" + std::string(700, 'p');
  struct Case {
    const char* name;
    std::vector<std::uint8_t> record;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"path with its terminator", detail_record(DEVICE, ""), DEVICE},
      {"bytes after the terminator are not part of it", detail_record(DEVICE, "junk\xff"), DEVICE},
      {"a path of 700 characters comes whole", detail_record(long_path, ""), long_path},
      // Cut off, it would name some other device (or another's pipes).
      {"no terminator inside the record", detail_record(DEVICE, "", false), std::nullopt},
      {"empty path", detail_record("", "rest"), std::nullopt},
      {"size field only", {8, 0, 0, 0}, std::nullopt},
      {"shorter than the size field", {8, 0}, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(device_path_from_detail(c.record), c.want) << c.name;
}

TEST(CablePaths, DetailRecordIsNotReadPastItsEnd) {
  // The terminator lies just past the span: the path must be refused, not
  // read on into the bytes beyond.
  std::vector<std::uint8_t> buffer = detail_record("\\\\?\\abc", "");
  const std::span<const std::uint8_t> record(buffer.data(), buffer.size() - 1);
  EXPECT_EQ(device_path_from_detail(record), std::nullopt);
}

}  // namespace
}  // namespace kartex
