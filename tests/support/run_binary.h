#pragma once
// Runs the built kartex binary in the test's temporary folder with no input,
// and returns its exit status and what it printed.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace kartex::test {

struct BinaryRun {
  int status;
  std::string out, err;
};

inline std::string file_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline BinaryRun run_binary(const std::string& args) {
  const std::string dir = ::testing::TempDir();
  // CTest runs tests in parallel processes: every run gets its own files.
  static int runs = 0;
  const std::string tag = std::to_string(::getpid()) + "_" + std::to_string(runs++);
  const std::string out = dir + "kartex_cli_out_" + tag, err = dir + "kartex_cli_err_" + tag;
  std::string command = std::string("cd ") + dir + " && " + KARTEX_BINARY + " " + args + " >" +
                        out + " 2>" + err + " </dev/null";
  int raw = std::system(command.c_str());
  BinaryRun result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, file_text(out), file_text(err)};
  std::remove(out.c_str());
  std::remove(err.c_str());
  return result;
}

}  // namespace kartex::test
