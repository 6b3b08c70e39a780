#include "tests/support/scripted_cable.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/failure.h"
#include "link/hex.h"

namespace kartex::test {

namespace {

const char* kind_name(ScriptedCable::Kind kind) {
  switch (kind) {
    case ScriptedCable::Kind::Cmd: return "cmd";
    case ScriptedCable::Kind::Out: return "out";
    case ScriptedCable::Kind::In: return "in";
    case ScriptedCable::Kind::Reset: return "reset";
    case ScriptedCable::Kind::Sleep: return "sleep";
  }
  return "?";
}

// Forwards to a shared cable so that the test can inspect it afterwards.
class SharedPipes : public Pipes {
 public:
  explicit SharedPipes(std::shared_ptr<ScriptedCable> cable) : cable_(std::move(cable)) {}
  PipeResult write(Pipe p, std::span<const std::uint8_t> b) override { return cable_->write(p, b); }
  PipeResult read(Pipe p, std::span<std::uint8_t> b) override { return cable_->read(p, b); }
  PipeResult reset(Pipe p) override { return cable_->reset(p); }

 private:
  std::shared_ptr<ScriptedCable> cable_;
};

}  // namespace

Bytes le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

Bytes words(std::initializer_list<std::uint32_t> values) {
  Bytes out;
  for (std::uint32_t v : values) {
    Bytes w = le32(v);
    out.insert(out.end(), w.begin(), w.end());
  }
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes pattern(std::size_t n, std::uint8_t seed) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
  return out;
}

ScriptedCable& ScriptedCable::cmd(Bytes bytes) {
  steps_.push_back({Kind::Cmd, std::move(bytes)});
  return *this;
}
ScriptedCable& ScriptedCable::out(Bytes bytes) {
  steps_.push_back({Kind::Out, std::move(bytes)});
  return *this;
}
ScriptedCable& ScriptedCable::in(Bytes answer) {
  steps_.push_back({Kind::In, std::move(answer)});
  return *this;
}
ScriptedCable& ScriptedCable::reset(int pipe) {
  steps_.push_back({Kind::Reset, {}, pipe});
  return *this;
}
ScriptedCable& ScriptedCable::sleep(int ms) {
  steps_.push_back({Kind::Sleep, {}, ms});
  return *this;
}
ScriptedCable& ScriptedCable::failing(PipeResult result) {
  steps_.back().fault = std::move(result);
  steps_.back().faulty = true;
  return *this;
}

ScriptedCable& ScriptedCable::reg_read(std::uint8_t index, std::uint32_t value) {
  return cmd({0x03, index}).in(le32(value));
}

ScriptedCable& ScriptedCable::reg_write(std::uint8_t index, std::uint32_t value) {
  // The cable answers a register write with one word of no meaning.
  return cmd(concat({{0x03, static_cast<std::uint8_t>(index | 0x80)}, le32(value)}))
      .in(le32(0xA5A5A5A5));
}

ScriptedCable& ScriptedCable::request(std::uint32_t code, std::uint32_t a1, std::uint32_t a2,
                                      std::uint32_t a3) {
  return cmd(concat({{0x00, 0x04}, le32(code), le32(a1), le32(a2), le32(a3)}));
}

ScriptedCable& ScriptedCable::read(const Bytes& data) {
  std::size_t n = data.size() / 4;
  return cmd({0x01, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)}).in(data);
}

ScriptedCable& ScriptedCable::read_long(const Bytes& data) {
  std::size_t n = data.size() / 4;
  Bytes header(64, 0);
  header[0] = 0x01;
  header[1] = static_cast<std::uint8_t>(n);
  header[2] = static_cast<std::uint8_t>(n >> 8);
  header[3] = 0x07;
  return cmd(header).in(data);
}

ScriptedCable& ScriptedCable::write(const Bytes& data) {
  std::size_t n = data.size() / 4;
  return cmd({0x02, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)}).out(data);
}

ScriptedCable& ScriptedCable::query(std::uint32_t code, std::initializer_list<std::uint32_t> reply) {
  return request(code).read(words(reply));
}

ScriptedCable& ScriptedCable::open() { return reset(0).reset(2).reset(1); }

ScriptedCable& ScriptedCable::handshake(int status_polls) {
  reg_read(1, 0).reg_write(2, 0xFEDCBA98).reg_read(2, 0xFEDCBA98).reg_write(2, 0);
  for (int i = 1; i < status_polls; ++i) reg_read(0, 0).sleep(100);
  return reg_read(0, 3).sleep(100);
}

PipeResult ScriptedCable::take(Kind kind, int number, std::span<const std::uint8_t> bytes,
                               std::size_t size, std::uint8_t* answer) {
  std::string actual = std::string(kind_name(kind)) + " " +
                       (kind == Kind::Reset || kind == Kind::Sleep ? std::to_string(number)
                                                                  : to_hex(bytes));
  if (kind == Kind::In) actual = "in (" + std::to_string(size) + " bytes wanted)";
  log_.push_back(actual);
  if (broken_) return PipeResult::failed("script already broken");
  if (steps_.empty()) {
    broken_ = true;
    ADD_FAILURE() << "transfer beyond the end of the script: " << actual;
    return PipeResult::failed("unexpected transfer");
  }
  Step step = steps_.front();
  steps_.pop_front();
  std::string expected = std::string(kind_name(step.kind)) + " " +
                         (step.kind == Kind::Reset || step.kind == Kind::Sleep
                              ? std::to_string(step.number)
                              : to_hex(step.bytes));
  bool match = step.kind == kind;
  if (match && (kind == Kind::Cmd || kind == Kind::Out))
    match = Bytes(bytes.begin(), bytes.end()) == step.bytes;
  if (match && kind == Kind::In) match = size == step.bytes.size();
  if (match && (kind == Kind::Reset || kind == Kind::Sleep)) match = number == step.number;
  if (!match) {
    broken_ = true;
    ADD_FAILURE() << "wire mismatch after " << log_.size() - 1 << " transfers\n  expected: "
                  << expected << "\n  actual:   " << actual;
    return PipeResult::failed("script mismatch");
  }
  if (step.faulty) return step.fault;
  if (kind == Kind::In) std::copy(step.bytes.begin(), step.bytes.end(), answer);
  return PipeResult::done(kind == Kind::In ? size : bytes.size());
}

PipeResult ScriptedCable::write(Pipe pipe, std::span<const std::uint8_t> bytes) {
  if (pipe == Pipe::DataIn) {
    ADD_FAILURE() << "write on the data-in pipe";
    return PipeResult::failed("wrong pipe");
  }
  return take(pipe == Pipe::Command ? Kind::Cmd : Kind::Out, 0, bytes, bytes.size(), nullptr);
}

PipeResult ScriptedCable::read(Pipe pipe, std::span<std::uint8_t> bytes) {
  if (pipe != Pipe::DataIn) {
    ADD_FAILURE() << "read on a pipe other than data-in";
    return PipeResult::failed("wrong pipe");
  }
  return take(Kind::In, 0, {}, bytes.size(), bytes.data());
}

PipeResult ScriptedCable::reset(Pipe pipe) {
  return take(Kind::Reset, static_cast<int>(pipe), {}, 0, nullptr);
}

void ScriptedCable::on_sleep(int ms) { take(Kind::Sleep, ms, {}, 0, nullptr); }

PipesOpener opener_for(std::shared_ptr<ScriptedCable> cable) {
  return [cable]() -> std::unique_ptr<Pipes> { return std::make_unique<SharedPipes>(cable); };
}

ScriptedLink::ScriptedLink() : ScriptedLink(nullptr) {}

ScriptedLink::ScriptedLink(std::ostream* notice_stream)
    : link(opener_for(cable), [c = cable](int ms) { c->on_sleep(ms); }, notice_stream) {}

void start_marked(ScriptedLink& s) {
  s.cable->open().reg_read(1, 0x12345678);
  s.link.link_start();
}

std::string failure_text(const std::function<void()>& body) {
  try {
    body();
  } catch (const Failure& f) {
    return f.what();
  }
  return "(no failure)";
}

}  // namespace kartex::test
