#include "link/trace_pipes.h"

#include "link/hex.h"

namespace kartex {

TracePipes::TracePipes(std::unique_ptr<Pipes> inner, std::FILE* file)
    : inner_(std::move(inner)), file_(file) {}

TracePipes::~TracePipes() { std::fclose(file_); }

void TracePipes::line(const char* tag, std::span<const std::uint8_t> bytes) {
  std::fprintf(file_, "%s %s\n", tag, to_hex(bytes).c_str());
  // A run that dies mid-transfer is exactly the one whose trace we need.
  std::fflush(file_);
}

PipeResult TracePipes::write(Pipe pipe, std::span<const std::uint8_t> bytes) {
  PipeResult r = inner_->write(pipe, bytes);
  line(pipe == Pipe::Command ? "cmd" : "out", bytes.first(std::min(r.moved, bytes.size())));
  return r;
}

PipeResult TracePipes::read(Pipe pipe, std::span<std::uint8_t> bytes) {
  PipeResult r = inner_->read(pipe, bytes);
  line("in", bytes.first(std::min(r.moved, bytes.size())));
  return r;
}

PipeResult TracePipes::reset(Pipe pipe) {
  PipeResult r = inner_->reset(pipe);
  std::fprintf(file_, "reset %d\n", static_cast<int>(pipe));
  std::fflush(file_);
  return r;
}

}  // namespace kartex
