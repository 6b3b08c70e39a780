#include "sim/png_writer.h"

#include <algorithm>
#include <fstream>

#include "common/failure.h"

namespace kartex {

namespace {

constexpr std::size_t STORED_BLOCK_MAX = 65535;

void put_be32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void chunk(std::vector<std::uint8_t>& out, const char type[4], const std::vector<std::uint8_t>& data) {
  put_be32(out, static_cast<std::uint32_t>(data.size()));
  std::vector<std::uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  put_be32(out, crc32_of(typed));
}

}  // namespace

std::uint32_t crc32_of(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
  crc = ~crc;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

std::uint32_t adler32_of(std::span<const std::uint8_t> bytes) {
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : bytes) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

std::vector<std::uint8_t> encode_png(const Screen& screen) {
  // Raw scanlines, each led by filter type 0.
  std::vector<std::uint8_t> raw;
  raw.reserve(SCREEN_H * (1 + SCREEN_W * 3));
  for (int y = 0; y < SCREEN_H; ++y) {
    raw.push_back(0);
    auto row = screen.rgb.begin() + static_cast<std::ptrdiff_t>(y) * SCREEN_W * 3;
    raw.insert(raw.end(), row, row + SCREEN_W * 3);
  }
  std::vector<std::uint8_t> z{0x78, 0x01};  // deflate, 32 KiB window, no preset dictionary
  for (std::size_t at = 0; at < raw.size(); at += STORED_BLOCK_MAX) {
    const std::size_t n = std::min(STORED_BLOCK_MAX, raw.size() - at);
    z.push_back(at + n == raw.size() ? 1 : 0);  // BFINAL, BTYPE 00 = stored
    z.push_back(static_cast<std::uint8_t>(n));
    z.push_back(static_cast<std::uint8_t>(n >> 8));
    z.push_back(static_cast<std::uint8_t>(~n));
    z.push_back(static_cast<std::uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
             raw.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  put_be32(z, adler32_of(raw));

  std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  put_be32(header, SCREEN_W);
  put_be32(header, SCREEN_H);
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, filter 0, no interlace
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", {});
  return png;
}

void write_png(const std::string& path, const Screen& screen) {
  const std::vector<std::uint8_t> png = encode_png(screen);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  if (!out) fail("cannot write the screen picture " + path);
}

}  // namespace kartex
