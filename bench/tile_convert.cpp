// Palette-indexed pixels as the console's character tiles: 8x8 pixels a
// tile, tiles left to right then top to bottom, rows of a tile top first;
// 8 bits a pixel one byte each, 4 bits two pixels a byte, the left one in
// the low nibble. Reads WIDTH x HEIGHT index bytes (what an encoder wrote
// as pal8; a palette behind them is ignored), writes the tiles to stdout.
//   kartex_tiles BPP WIDTH HEIGHT FILE

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/tiles.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "usage: kartex_tiles BPP WIDTH HEIGHT FILE\n";
    return 2;
  }
  unsigned bpp = 0, width = 0, height = 0;
  try {
    bpp = static_cast<unsigned>(std::stoul(argv[1]));
    width = static_cast<unsigned>(std::stoul(argv[2]));
    height = static_cast<unsigned>(std::stoul(argv[3]));
  } catch (const std::exception&) {
    std::cerr << "kartex_tiles: BPP, WIDTH and HEIGHT are numbers\n";
    return 2;
  }
  std::ifstream in(argv[4], std::ios::binary);
  if (!in) {
    std::cerr << "kartex_tiles: cannot open " << argv[4] << "\n";
    return 1;
  }
  const std::vector<std::uint8_t> pixels{std::istreambuf_iterator<char>(in), {}};
  std::vector<std::uint8_t> tiles;
  if (!kartex::to_tiles(pixels, width, height, bpp, tiles)) {
    std::cerr << "kartex_tiles: need 4 or 8 bits a pixel, sizes in whole tiles and " << width << "x" << height
              << " index bytes (" << argv[4] << " has " << pixels.size() << ")\n";
    return 1;
  }
  std::fwrite(tiles.data(), 1, tiles.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
