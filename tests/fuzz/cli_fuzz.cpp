// Fuzz target: the command line, --sim options included. The input is split
// into arguments at NUL bytes and newlines. The parsers may refuse with a
// Failure (one line for the user); any other exception, a crash or a
// sanitizer report is a bug.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "app/cli.h"
#include "common/failure.h"
#include "sim/sim_pipes.h"

namespace {

std::vector<std::string> split_arguments(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 || data[i] == '\n') args.emplace_back();
    else args.back().push_back(static_cast<char>(data[i]));
  }
  return args;
}

template <typename Parse>
void refused_or_parsed(Parse parse) {
  try {
    parse();
  } catch (const kartex::Failure& f) {
    if (std::string(f.what()).empty()) {
      std::fprintf(stderr, "cli fuzz: a refusal without a line\n");
      std::abort();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cli fuzz: %s escaped the parser\n", e.what());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> args = split_arguments(data, size);
  refused_or_parsed([&] { kartex::parse_command_line(args); });
  // Each argument also as what follows --sim=, so that the option parser
  // sees every word and not only those with the prefix.
  for (const std::string& arg : args) refused_or_parsed([&] { kartex::parse_sim_options(arg); });
  return 0;
}
