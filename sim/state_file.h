#pragma once
// The simulator's saved state: one file per part (cable, console,
// cartridge), each with a magic, the part's name and a format version, so
// that each model writes and checks its own part. A damaged or foreign file
// becomes one Failure line, never a crash.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kartex {

class StateWriter {
 public:
  void u8(std::uint8_t v) { bytes_.push_back(v); }
  void u16(std::uint16_t v);
  void u32(std::uint32_t v);
  void u64(std::uint64_t v);
  void str(const std::string& s);
  void blob(std::span<const std::uint8_t> data);  // length, then the bytes
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

class StateReader {
 public:
  // `what` names the file in error messages.
  StateReader(std::vector<std::uint8_t> bytes, std::string what)
      : bytes_(std::move(bytes)), what_(std::move(what)) {}

  std::uint8_t u8();
  std::uint16_t u16();
  std::uint32_t u32();
  std::uint64_t u64();
  std::string str();
  std::vector<std::uint8_t> blob();
  // A blob that must have exactly `out.size()` bytes.
  void blob_into(std::span<std::uint8_t> out);
  bool done() const { return pos_ == bytes_.size(); }
  // Bytes not read yet: a model checks a size the file gives against it
  // before it allocates room for that size.
  std::size_t remaining() const { return bytes_.size() - pos_; }
  [[noreturn]] void corrupt(const std::string& why) const;

 private:
  const std::uint8_t* take(std::size_t n);

  std::vector<std::uint8_t> bytes_;
  std::string what_;
  std::size_t pos_ = 0;
};

// Writes `payload` as DIR/<part>.state (whole or not at all).
void save_state_part(const std::string& dir, const std::string& part, std::uint32_t version,
                     const StateWriter& payload);
bool state_part_exists(const std::string& dir, const std::string& part);
// Reads and checks the header; the reader holds the payload.
StateReader load_state_part(const std::string& dir, const std::string& part,
                            std::uint32_t version);

}  // namespace kartex
