#pragma once
// A transport wrapper that records every transfer, one line each, in the
// order they happened: `cmd HEX`, `out HEX`, `in HEX` (the bytes actually
// moved) and `reset N`. Bug reports and tests read this format.

#include <cstdio>
#include <memory>
#include <string>

#include "link/pipes.h"

namespace kartex {

class TracePipes : public Pipes {
 public:
  // Takes ownership of `file`, which must be open for writing.
  TracePipes(std::unique_ptr<Pipes> inner, std::FILE* file);
  ~TracePipes() override;
  TracePipes(const TracePipes&) = delete;
  TracePipes& operator=(const TracePipes&) = delete;

  PipeResult write(Pipe pipe, std::span<const std::uint8_t> bytes) override;
  PipeResult read(Pipe pipe, std::span<std::uint8_t> bytes) override;
  PipeResult reset(Pipe pipe) override;
  void set_timeout(int ms) override { inner_->set_timeout(ms); }
  void finish() override { inner_->finish(); }

 private:
  void line(const char* tag, std::span<const std::uint8_t> bytes);

  std::unique_ptr<Pipes> inner_;
  std::FILE* file_;
};

}  // namespace kartex
