#pragma once
// A file's bytes or text, read whole, bytes written to a file, and the
// temporaries a dump leaves while it runs.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace kartex::test {

inline std::vector<std::uint8_t> slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void spill(const std::string& path, const std::vector<std::uint8_t>& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline std::string text_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Files in `dir` whose names tell a temporary of the dump.
inline std::vector<std::string> part_files(const std::string& dir) {
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string().find(".kartex-part") != std::string::npos) left.push_back(e.path().string());
  return left;
}

}  // namespace kartex::test
