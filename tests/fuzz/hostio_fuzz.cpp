// Fuzz target: the stream of words a console program sends to the host file
// service. The cable here hands the input's words to every read of the
// console, takes whatever the service sends, and checks each transfer's
// form; the files live in memory. The service must stay within its buffers
// (the sanitizers watch), keep every transfer the size it announced, and
// end once the input is spent.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <sstream>

#include "common/output.h"
#include "host/host_file_service.h"
#include "link/cable_link.h"
#include "common/failure.h"
#include "tests/support/memory_files.h"

namespace {

using namespace kartex;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "hostio fuzz: %s\n", what);
  std::abort();
}

class FuzzCable : public Pipes {
 public:
  FuzzCable(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool spent() const { return at_ >= size_; }

  PipeResult write(Pipe pipe, std::span<const std::uint8_t> bytes) override {
    if (pipe == Pipe::DataOut) {
      if (bytes.size() != out_expected_) broken("data-out bytes differ from the announced count");
      out_expected_ = 0;
      return PipeResult::done(bytes.size());
    }
    if (pipe != Pipe::Command || bytes.empty()) broken("write to the wrong pipe");
    if (out_expected_ != 0) broken("a command while announced data never came");
    switch (bytes[0]) {
      case CMD_REG:
        if (bytes.size() == 2) answer(register_value(bytes[1]));
        else if (bytes.size() == 6) answer(0);
        else broken("register command of a wrong size");
        break;
      case CMD_READ:
        if (bytes.size() != 3) broken("read command of a wrong size");
        for (unsigned n = bytes[1] | bytes[2] << 8; n > 0; --n) answer(next_word());
        break;
      case CMD_WRITE:
        if (bytes.size() != 3) broken("write command of a wrong size");
        out_expected_ = 4u * (bytes[1] | bytes[2] << 8);
        break;
      default:
        broken("a command the file service never sends");
    }
    return PipeResult::done(bytes.size());
  }

  PipeResult read(Pipe pipe, std::span<std::uint8_t> bytes) override {
    if (pipe != Pipe::DataIn || bytes.size() > in_.size()) broken("read of bytes the cable never had");
    for (std::uint8_t& b : bytes) {
      b = in_.front();
      in_.pop_front();
    }
    return PipeResult::done(bytes.size());
  }

  PipeResult reset(Pipe) override { return PipeResult::done(0); }

 private:
  // A cable with the session marker: no handshake; a word is waiting while input is left.
  std::uint32_t register_value(std::uint8_t index) const {
    if (index == CABLE_REG_SESSION) return SESSION_MARKER;
    if (index == CABLE_REG_STATUS) return spent() ? STATUS_LINK_UP | STATUS_NO_WORD : STATUS_LINK_UP;
    return 0;
  }
  std::uint32_t next_word() {
    std::uint32_t w = 0;
    for (int i = 0; i < 4 && at_ < size_; ++i) w |= static_cast<std::uint32_t>(data_[at_++]) << (8 * i);
    return w;
  }
  void answer(std::uint32_t w) {
    for (int i = 0; i < 4; ++i) in_.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
  }

  const std::uint8_t* data_;
  std::size_t size_, at_ = 0;
  std::size_t out_expected_ = 0;
  std::deque<std::uint8_t> in_;
};

// Forwards to a cable the target keeps.
class Borrowed : public Pipes {
 public:
  explicit Borrowed(FuzzCable& cable) : cable_(cable) {}
  PipeResult write(Pipe p, std::span<const std::uint8_t> b) override { return cable_.write(p, b); }
  PipeResult read(Pipe p, std::span<std::uint8_t> b) override { return cable_.read(p, b); }
  PipeResult reset(Pipe p) override { return cable_.reset(p); }

 private:
  FuzzCable& cable_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzCable cable(data, size);
  CableLink link([&] { return std::make_unique<Borrowed>(cable); }, [](int) {});
  std::ostringstream out, err;
  Output con{out, err};
  test::MemoryFiles files;
  ServiceOptions options;
  options.separator = '\\';
  options.stop = [&](std::uint64_t) { return cable.spent(); };
  try {
    link.link_start();
    host_file_service(link, files, con, options);
  } catch (const Failure& f) {
    // The cable never fails: a failure is the service asking for a transfer
    // the cable cannot carry.
    std::fprintf(stderr, "hostio fuzz: %s\n", f.what());
    std::abort();
  }
  if (!files.closed_all) broken("the service ended with its files open");
  return 0;
}
