#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/interrupt.h"
#include "app/run.h"

namespace {

// The bar clears its line with a VT100 sequence: only a terminal that
// understands it gets the bar.
bool stderr_takes_progress_bar() {
  if (!isatty(STDERR_FILENO)) return false;
  const char* term = std::getenv("TERM");
  return term && *term && std::strcmp(term, "dumb") != 0;
}

// Standard output and standard error show on the one terminal.
bool same_terminal() {
  struct stat out {}, err {};
  if (!isatty(STDOUT_FILENO) || !isatty(STDERR_FILENO)) return false;
  if (fstat(STDOUT_FILENO, &out) != 0 || fstat(STDERR_FILENO, &err) != 0) return false;
  return out.st_rdev == err.st_rdev;
}

}  // namespace

int main(int argc, char** argv) {
  kartex::ignore_broken_pipes();
  std::vector<std::string> args(argv + 1, argv + argc);
  kartex::RunEnv env{std::cout, std::cerr, {}, kartex::sleep_ms};
  env.progress_bar = stderr_takes_progress_bar();
  env.marks_in_bar = env.progress_bar && same_terminal();
  env.in = &std::cin;
  env.in_is_terminal = isatty(STDIN_FILENO) != 0;
  return kartex::run(args, env);
}
