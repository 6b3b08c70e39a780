#pragma once
// One exception type for every fatal condition. main() catches it once,
// prints its one line and exits with its status.

#include <stdexcept>
#include <string>

namespace kartex {

// Exit statuses of the tool. The historical -1 of the cable tools reaches
// the shell as 255.
enum ExitStatus : int {
  EXIT_OK = 0,
  EXIT_FATAL = 255,
  EXIT_INTERRUPTED = 130,  // 128 + SIGINT, as shells report a Ctrl-C
};

class Failure : public std::runtime_error {
 public:
  // Where the line goes: the tool's own fixed messages are part of its
  // standard output; our diagnostics go to standard error.
  enum class Stream { Out, Err };

  // `note`: a diagnostic line for standard error after a fixed message on
  // standard output (what to try, the system's reason); empty for none.
  Failure(std::string line, Stream stream = Stream::Err, int status = EXIT_FATAL,
          std::string note = {})
      : std::runtime_error(std::move(line)), stream_(stream), status_(status),
        note_(std::move(note)) {}

  Stream stream() const { return stream_; }
  int status() const { return status_; }
  const std::string& note() const { return note_; }

 private:
  Stream stream_;
  int status_;
  std::string note_;
};

// A diagnostic line for standard error; `kartex: ` is prefixed when printed.
[[noreturn]] inline void fail(std::string line) { throw Failure(std::move(line)); }

// The user asked the command to stop (Ctrl-C) and it stopped at a block's end.
[[noreturn]] inline void fail_interrupted() {
  throw Failure("interrupted: stopped after the last whole block; the next command starts the "
                "console afresh",
                Failure::Stream::Err, EXIT_INTERRUPTED);
}

// A fixed message of the tool, printed on standard output exactly as given.
[[noreturn]] inline void fail_out(std::string text) {
  throw Failure(std::move(text), Failure::Stream::Out);
}

}  // namespace kartex
