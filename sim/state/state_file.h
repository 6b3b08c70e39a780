#pragma once
// The simulator's saved state: one file per part (cable, console,
// cartridge), each with a magic, the part's name, a format version and a
// checksum, so that each model writes and checks its own part. A damaged or
// foreign file becomes one Failure line, never a crash.

#include <cstdint>
#include <functional>
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

// One save of the simulator's parts, put in place together. Each part goes
// to a temporary file of its own beside DIR/<part>.state, written, synced,
// closed and checked; then DIR/state.set names them all (the moment the new
// set counts), and they are renamed over the old ones. A save cut short
// before that moment leaves the old set, one cut short after it is finished
// by the next load_state_set(). Each part ends with a CRC-32 of the rest of
// its file. A failure throws Failure; the temporary files of a save that did
// not reach that moment are removed.
class StateSave {
 public:
  explicit StateSave(std::string dir) : dir_(std::move(dir)) {}
  ~StateSave();
  StateSave(const StateSave&) = delete;
  StateSave& operator=(const StateSave&) = delete;

  void add(const std::string& part, std::uint32_t version, const StateWriter& payload);
  void commit();

 private:
  struct Written {
    std::string part, temp;
  };
  std::string dir_;
  std::vector<Written> written_;
  bool committed_ = false;
};

// One part saved on its own (a set of one).
void save_state_part(const std::string& dir, const std::string& part, std::uint32_t version,
                     const StateWriter& payload);
// Finishes a save that was cut short after its set counted and removes what
// saves cut short before left behind. Call it with the folder locked,
// before reading any part.
void recover_state_set(const std::string& dir);
bool state_part_exists(const std::string& dir, const std::string& part);
// Reads and checks the header and the checksum; the reader holds the
// payload.
StateReader load_state_part(const std::string& dir, const std::string& part,
                            std::uint32_t version);

// A seam for tests: called before each step of a save ("write cable",
// "sync cable", "set", "place cable", ...); a non-zero answer is taken as
// that system error at that step. Empty: no faults.
using StateSaveFault = std::function<int(const std::string& step)>;
void set_state_save_fault(StateSaveFault fault);

}  // namespace kartex
