#include "sim/state_file.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/failure.h"

namespace kartex {

namespace {

constexpr char STATE_MAGIC[8] = {'K', 'X', 'S', 'T', 'A', 'T', 'E', '\n'};
// Larger than any part can be (the largest is a 128 MiB flash ROM with its
// save chip): a bigger file is not read into memory at all.
constexpr std::uintmax_t MAX_STATE_FILE_BYTES = 192u * 1024 * 1024;

std::string part_path(const std::string& dir, const std::string& part) {
  return (std::filesystem::path(dir) / (part + ".state")).string();
}

}  // namespace

void StateWriter::u16(std::uint16_t v) {
  u8(static_cast<std::uint8_t>(v));
  u8(static_cast<std::uint8_t>(v >> 8));
}

void StateWriter::u32(std::uint32_t v) {
  u16(static_cast<std::uint16_t>(v));
  u16(static_cast<std::uint16_t>(v >> 16));
}

void StateWriter::u64(std::uint64_t v) {
  u32(static_cast<std::uint32_t>(v));
  u32(static_cast<std::uint32_t>(v >> 32));
}

void StateWriter::str(const std::string& s) {
  blob({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
}

void StateWriter::blob(std::span<const std::uint8_t> data) {
  u64(data.size());
  bytes_.insert(bytes_.end(), data.begin(), data.end());
}

void StateReader::corrupt(const std::string& why) const {
  // `why` may quote names taken from the damaged file: keep the line one
  // short line of printable text whatever the file holds.
  constexpr std::size_t MAX_WHY = 160;
  std::string text;
  for (unsigned char c : why) {
    if (text.size() >= MAX_WHY) {
      text += "...";
      break;
    }
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      text += esc;
    }
  }
  fail("simulator state " + what_ + " is unusable: " + text);
}

const std::uint8_t* StateReader::take(std::size_t n) {
  if (bytes_.size() - pos_ < n) corrupt("it ends early");
  const std::uint8_t* p = bytes_.data() + pos_;
  pos_ += n;
  return p;
}

std::uint8_t StateReader::u8() { return *take(1); }

std::uint16_t StateReader::u16() {
  const std::uint8_t* p = take(2);
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t StateReader::u32() {
  std::uint32_t lo = u16();
  return lo | static_cast<std::uint32_t>(u16()) << 16;
}

std::uint64_t StateReader::u64() {
  std::uint64_t lo = u32();
  return lo | static_cast<std::uint64_t>(u32()) << 32;
}

std::string StateReader::str() {
  std::vector<std::uint8_t> b = blob();
  return {b.begin(), b.end()};
}

std::vector<std::uint8_t> StateReader::blob() {
  std::uint64_t n = u64();
  if (n > bytes_.size() - pos_) corrupt("a field is longer than the file");
  const std::uint8_t* p = take(static_cast<std::size_t>(n));
  return {p, p + n};
}

void StateReader::blob_into(std::span<std::uint8_t> out) {
  std::uint64_t n = u64();
  if (n != out.size())
    corrupt("a memory block holds " + std::to_string(n) + " bytes instead of " +
            std::to_string(out.size()));
  std::memcpy(out.data(), take(out.size()), out.size());
}

void save_state_part(const std::string& dir, const std::string& part, std::uint32_t version,
                     const StateWriter& payload) {
  StateWriter file;
  for (char c : STATE_MAGIC) file.u8(static_cast<std::uint8_t>(c));
  file.str(part);
  file.u32(version);
  file.blob(payload.bytes());
  const std::string path = part_path(dir, part);
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.bytes().data()),
              static_cast<std::streamsize>(file.bytes().size()));
    if (!out) fail("cannot write simulator state " + temp);
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) fail("cannot write simulator state " + path + ": " + ec.message());
}

bool state_part_exists(const std::string& dir, const std::string& part) {
  std::error_code ec;
  return std::filesystem::exists(part_path(dir, part), ec);
}

StateReader load_state_part(const std::string& dir, const std::string& part,
                            std::uint32_t version) {
  const std::string path = part_path(dir, part);
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) fail("cannot read simulator state " + path + ": " + ec.message());
  if (size > MAX_STATE_FILE_BYTES)
    fail("simulator state " + path + " is unusable: " + std::to_string(size) + " bytes is more than any part holds");
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot read simulator state " + path);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  StateReader file(std::move(bytes), path);
  for (char c : STATE_MAGIC)
    if (file.u8() != static_cast<std::uint8_t>(c)) file.corrupt("not a simulator state file");
  if (file.str() != part) file.corrupt("it holds another part than " + part);
  std::uint32_t found = file.u32();
  if (found != version)
    file.corrupt("format version " + std::to_string(found) + ", this build reads version " +
                 std::to_string(version));
  StateReader payload(file.blob(), path);
  if (!file.done()) file.corrupt("trailing bytes after the payload");
  return payload;
}

}  // namespace kartex
