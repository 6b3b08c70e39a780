#include "cart/agent_crc.h"

#include <algorithm>

#include "common/digest.h"
#include "link/cable_link.h"

namespace kartex {

namespace {

// The agent sends each block's CRC as soon as it has it. Reading the
// replies in pieces that cover at most this many bytes keeps every single
// transfer short: a console takes about a second for 1 MiB of ROM.
constexpr std::uint64_t BYTES_PER_REPLY_PIECE = 1 << 20;

// Both take offsets, not console addresses: ask() passes them as they come.
static_assert(wire::request_arg(REQ_ROM_CRC32, 1) == wire::Arg::ROM_OFFSET);
static_assert(wire::request_arg(REQ_SAVE_CRC32, 1) == wire::Arg::SAVE_OFFSET);

std::vector<std::uint32_t> ask(CableLink& link, wire::Request code, std::uint32_t offset,
                               std::uint32_t bytes, std::uint32_t block) {
  const std::uint64_t count = (std::uint64_t{bytes} + block - 1) / block;
  std::vector<std::uint32_t> crcs;
  if (count == 0) return crcs;
  crcs.reserve(count);
  link.agent_request(code, offset, bytes, block);
  const std::uint64_t per_piece =
      std::clamp<std::uint64_t>(BYTES_PER_REPLY_PIECE / block, 1, CMD_MAX_WORDS);
  std::vector<std::uint8_t> raw;
  while (crcs.size() < count) {
    const std::uint64_t n = std::min<std::uint64_t>(per_piece, count - crcs.size());
    raw.resize(n * 4);
    link.read_words(raw);
    for (std::uint64_t i = 0; i < n; ++i) crcs.push_back(get_le32(&raw[i * 4]));
  }
  return crcs;
}

}  // namespace

std::vector<std::uint32_t> rom_crcs(CableLink& link, std::uint32_t offset, std::uint32_t bytes,
                                    std::uint32_t block) {
  return ask(link, REQ_ROM_CRC32, offset, bytes, block);
}

std::vector<std::uint32_t> save_crcs(CableLink& link, std::uint32_t offset, std::uint32_t bytes,
                                     std::uint32_t block) {
  return ask(link, REQ_SAVE_CRC32, offset, bytes, block);
}

std::uint32_t write_check(std::span<const std::uint8_t> data, std::uint32_t offset,
                          std::uint32_t bytes_word) {
  std::uint8_t args[8];
  put_le32(&args[0], offset);
  put_le32(&args[4], bytes_word);
  Crc32 crc;
  crc.update(data);
  crc.update(args);
  return crc.value();
}

std::uint32_t piece_check(std::span<const std::uint8_t> piece, std::uint32_t offset) {
  return write_check(piece, offset, STREAM_PIECE_BYTES);
}

}  // namespace kartex
