#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/interrupt.h"
#include "app/run.h"

namespace {

// The bar moves the cursor with VT100 sequences: only a terminal that
// understands them gets it.
bool stderr_takes_progress_bar() {
  if (!isatty(STDERR_FILENO)) return false;
  const char* term = std::getenv("TERM");
  return term && *term && std::strcmp(term, "dumb") != 0;
}

}  // namespace

int main(int argc, char** argv) {
  kartex::ignore_broken_pipes();
  std::vector<std::string> args(argv + 1, argv + argc);
  kartex::RunEnv env{std::cout, std::cerr, {}, kartex::sleep_ms};
  env.progress_bar = stderr_takes_progress_bar();
  return kartex::run(args, env);
}
