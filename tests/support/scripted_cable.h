#pragma once
// A fake cable for wire-level tests: a transcript of the transfers the host
// must make, with the cable's answers. The wire bytes are spelled out here
// from the cable's documented command forms, independently of CableLink.
// A transfer that differs from the transcript fails the test with a hex
// dump of both and comes back to the host as a transport error.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/cable_link.h"
#include "link/pipes.h"

namespace kartex::test {

using Bytes = std::vector<std::uint8_t>;

Bytes le32(std::uint32_t v);
Bytes words(std::initializer_list<std::uint32_t> values);
Bytes concat(std::initializer_list<Bytes> parts);
// n bytes counting up from `seed`, for recognisable data.
Bytes pattern(std::size_t n, std::uint8_t seed = 0);

class ScriptedCable : public Pipes {
 public:
  enum class Kind { Cmd, Out, In, Reset, Sleep };
  struct Step {
    Kind kind;
    Bytes bytes;     // expected bytes (Cmd, Out) or the answer (In)
    int number = 0;  // pipe (Reset) or milliseconds (Sleep)
    PipeResult fault{};  // a failure to report instead of doing the step
    bool faulty = false;
  };

  // Raw steps.
  ScriptedCable& cmd(Bytes bytes);
  ScriptedCable& out(Bytes bytes);
  ScriptedCable& in(Bytes answer);
  ScriptedCable& reset(int pipe);
  ScriptedCable& sleep(int ms);
  // The next step (already scripted) fails with `result` instead.
  ScriptedCable& failing(PipeResult result);

  // Whole command forms.
  ScriptedCable& reg_read(std::uint8_t index, std::uint32_t value);
  ScriptedCable& reg_write(std::uint8_t index, std::uint32_t value);
  ScriptedCable& request(std::uint32_t code, std::uint32_t a1 = 0, std::uint32_t a2 = 0,
                         std::uint32_t a3 = 0);
  ScriptedCable& read(const Bytes& data);       // 3-byte CMD_READ of data.size()/4 words
  ScriptedCable& read_long(const Bytes& data);  // 64-byte CMD_READ header
  ScriptedCable& write(const Bytes& data);
  ScriptedCable& query(std::uint32_t code, std::initializer_list<std::uint32_t> reply);
  // Opening: the three pipe resets in the cable driver's order.
  ScriptedCable& open();
  // A full handshake from a cable without the session marker.
  ScriptedCable& handshake(int status_polls = 1);

  PipeResult write(Pipe pipe, std::span<const std::uint8_t> bytes) override;
  PipeResult read(Pipe pipe, std::span<std::uint8_t> bytes) override;
  PipeResult reset(Pipe pipe) override;
  void on_sleep(int ms);

  // True when every scripted step was taken.
  bool done() const { return steps_.empty(); }
  std::size_t left() const { return steps_.size(); }
  // What the host moved, in the trace format, for failure messages.
  const std::vector<std::string>& log() const { return log_; }

 private:
  PipeResult take(Kind kind, int number, std::span<const std::uint8_t> bytes, std::size_t size,
                  std::uint8_t* answer);

  std::deque<Step> steps_;
  std::vector<std::string> log_;
  bool broken_ = false;
};

// Owns a scripted cable and hands it to CableLink as its transport.
struct ScriptedLink {
  std::shared_ptr<ScriptedCable> cable = std::make_shared<ScriptedCable>();
  CableLink link;
  ScriptedLink();
  explicit ScriptedLink(std::ostream* notice);
};

// A PipesOpener that hands out `cable` (shared, so the test keeps it).
PipesOpener opener_for(std::shared_ptr<ScriptedCable> cable);

// Opens the link on a cable whose agent already holds the session marker.
void start_marked(ScriptedLink& s);

// The text of the Failure `body` throws, or "(no failure)".
std::string failure_text(const std::function<void()>& body);

}  // namespace kartex::test
