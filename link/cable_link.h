#pragma once
// The host side of the cable's wire protocol: transfer commands, cable
// registers, agent requests and the link handshake. Every transfer is
// checked; a failure becomes one error line naming the operation.

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>

#include "link/pipes.h"
#include "contract/request.h"
#include "contract/wire.h"

namespace kartex {

// Opens the transport. Returns nullptr when no cable is present; throws
// Failure for a cable that is present but cannot be used.
using PipesOpener = std::function<std::unique_ptr<Pipes>()>;

// A transfer's time limit unless --timeout says otherwise: it outlasts the
// slowest erase request at the chips' longest times (four JEDEC sectors of
// up to 15 s each, which the agent waits on for up to 18 s each).
constexpr int LINK_TIMEOUT_MS = 90000;
using Sleeper = std::function<void(int ms)>;

void sleep_ms(int ms);

// What a run without a cable prints.

class CableLink {
 public:
  // `notice` receives lines for the user while the link waits (the console
  // is still off); nullptr keeps quiet.
  explicit CableLink(PipesOpener open, Sleeper sleep = sleep_ms, std::ostream* notice = nullptr);

  // Opens the cable once per process, resets its pipes, and runs the
  // handshake unless an agent already holds the session marker.
  void link_start();
  // What link_start found in the session marker register, once: the
  // session set up right after it needs no second read of it.
  std::optional<bool> take_marker_seen() { return std::exchange(marker_seen_, std::nullopt); }
  void forget_marker_seen() { marker_seen_.reset(); }

  // CMD_READ of dst.size() / 4 words into dst (size a multiple of 4).
  void read_words(std::span<std::uint8_t> dst);
  // The same transfer announced with the 64-byte read header.
  void read_words_long(std::span<std::uint8_t> dst);
  // CMD_WRITE of src.size() / 4 words (size a multiple of 4).
  void write_words(std::span<const std::uint8_t> src);
  std::uint32_t read_word();
  void write_word(std::uint32_t value);
  // A one-word CMD_WRITE whose header and word go out `pause` ms apart: the
  // cable needs the gap before the length word of an upload.
  void write_word_paced(std::uint32_t value, int pause);

  std::uint32_t reg_read(std::uint8_t index);
  void reg_write(std::uint8_t index, std::uint32_t value);

  // CMD_REQUEST with the code and three arguments, then reply.size() words
  // read back when reply is not empty.
  void agent_request(wire::Request code, std::uint32_t a1, std::uint32_t a2, std::uint32_t a3,
                     std::span<std::uint32_t> reply = {});

  void pause(int ms) { sleep_(ms); }

  // How long one transfer may take before it fails; the transport's own
  // default until set.
  void set_timeout(int ms);
  int timeout() const { return timeout_ms_; }

  // The command is done: the transport keeps what it keeps for the next run
  // now (see Pipes::finish); throws Failure when it cannot.
  void finish() {
    if (pipes_) pipes_->finish();
  }

  // Asked while the link waits for the console to come up; true ends the
  // wait with the interruption failure.
  void set_stop(std::function<bool()> stop) { stop_ = std::move(stop); }

  // After a failed transfer the pipe it used may still hold it (a stalled
  // endpoint answers nothing more until it is reset): resets each such
  // pipe, so that a last word to the cable is not one more timeout.
  void reset_failed_pipes();

 private:
  void send_command(std::span<const std::uint8_t> bytes, const std::string& op);
  void send_data(std::span<const std::uint8_t> bytes, const std::string& op);
  void receive_data(std::span<std::uint8_t> bytes, const std::string& op);
  void check(const PipeResult& r, Pipe pipe, const char* verb, std::size_t want,
             const std::string& op);
  void read_with_header(std::span<std::uint8_t> dst, bool long_header);
  void reset_pipe(Pipe pipe);
  void open_pipes();
  void handshake();
  Pipes& pipes();

  PipesOpener open_;
  Sleeper sleep_;
  std::ostream* notice_;
  std::function<bool()> stop_;
  int timeout_ms_ = LINK_TIMEOUT_MS;
  std::unique_ptr<Pipes> pipes_;
  bool opened_ = false;
  std::optional<bool> marker_seen_;
  bool failed_[3] = {false, false, false};  // by pipe number: its last transfer failed
};

// Words on the cable are little-endian.
inline void put_le32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::uint32_t get_le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Words needed to carry `bytes` bytes.
constexpr std::uint32_t words_for(std::uint32_t bytes) { return (bytes + 3) / 4; }

}  // namespace kartex
