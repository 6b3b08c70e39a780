#include "vts/cube_palette.h"

#include "common/output.h"
#include "vts/console_memory.h"
#include "vts/gba_video.h"
#include "common/original_lines.h"

namespace kartex {

namespace {

// A level's 5-bit intensity, taken through an 8-bit value with both
// divisions truncating: 0, 6, 12, 18, 24, 31.
std::uint16_t intensity5(int level) {
  int v8 = level * 255 / (CUBE_LEVELS - 1);
  v8 = v8 < 0 ? 0 : v8 > 255 ? 255 : v8;
  return static_cast<std::uint16_t>(v8 * 31 / 255);
}

}  // namespace

CubeTable build_cube_palette(Output& con) {
  CubeTable table{};
  int i = 0;
  for (int g = 0; g < CUBE_LEVELS; ++g)
    for (int r = 0; r < CUBE_LEVELS; ++r)
      for (int b = 0; b < CUBE_LEVELS; ++b)
        table[i++] = static_cast<std::uint16_t>(intensity5(b) << 10 | intensity5(g) << 5 | intensity5(r));
  con.print(LINE_PALETTE_ENTRIES, i);
  return table;
}

void upload_palette(CableLink& link, Output& con) {
  const CubeTable table = build_cube_palette(con);
  std::array<std::uint8_t, PAL_BG_ENTRIES * 2> block{};
  for (std::size_t k = 0; k < table.size(); ++k) {
    block[2 * k] = static_cast<std::uint8_t>(table[k]);
    block[2 * k + 1] = static_cast<std::uint8_t>(table[k] >> 8);
  }
  gba_write_block(link, MEM_PAL, block);
}

}  // namespace kartex
