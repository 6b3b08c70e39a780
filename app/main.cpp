#include <iostream>

#include "app/run.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kartex::RunEnv env{std::cout, std::cerr, {}, kartex::sleep_ms};
  return kartex::run(args, env);
}
