// Build-time generator: draws the splash picture and writes the two files
// that the agent image takes in, splash_palette.bin and splash_tiles.bin.

#include <cstdio>
#include <fstream>
#include <string>

#include "agent/splash/splash_encode.h"

namespace {

bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "splashgen: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: splashgen OUTPUT_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const kartex::SplashPicture picture = kartex::splash_draw();
  bool ok = write_file(dir + "/splash_palette.bin", kartex::splash_palette_bytes(picture)) &&
            write_file(dir + "/splash_tiles.bin", kartex::splash_tile_bytes(picture));
  return ok ? 0 : 1;
}
