#pragma once
// The one seam between the wire protocol and a transport. A transport moves
// bytes on the cable's three bulk pipes and reports what happened; it never
// interprets them. CableLink turns a bad status into an error line.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kartex {

// Pipe numbers as the cable's interface 0 lists them.
enum class Pipe : int {
  Command = 0,  // host to cable: command bytes
  DataIn = 1,   // cable to host: data words, register values, acknowledgements
  DataOut = 2,  // host to cable: data words
};

const char* pipe_name(Pipe pipe);

struct PipeResult {
  bool ok = true;
  std::size_t moved = 0;   // bytes actually transferred
  std::string error;       // the transport's own words when !ok

  static PipeResult done(std::size_t n) { return {true, n, {}}; }
  static PipeResult failed(std::string why, std::size_t n = 0) { return {false, n, std::move(why)}; }
};

class Pipes {
 public:
  virtual ~Pipes() = default;
  virtual PipeResult write(Pipe pipe, std::span<const std::uint8_t> bytes) = 0;
  virtual PipeResult read(Pipe pipe, std::span<std::uint8_t> bytes) = 0;
  virtual PipeResult reset(Pipe pipe) = 0;
  // How long a later transfer may take before it fails with a timeout.
  virtual void set_timeout(int ms) { (void)ms; }
  // The run is over: a transport that keeps something for the next run
  // (the simulator's state) keeps it now, and throws Failure when it
  // cannot, so that the run does not end as a success.
  virtual void finish() {}
};

}  // namespace kartex
