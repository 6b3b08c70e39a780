#pragma once
// Transcript pieces for the agent's CRC and ROM read requests, and a ROM
// whose bytes are known at every offset without holding them all, so that
// a test can spell out what the console sends for any range.

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cart/agent_crc.h"
#include "common/digest.h"
#include "common/digests.h"
#include "common/output.h"
#include "common/progress.h"
#include "tests/support/scripted_cable.h"

namespace kartex::test {

// A ROM of recognisable bytes (a function of the offset and a seed), with
// erased ranges that read 0xFF and an optional prefix (a header).
struct FakeRom {
  std::uint8_t seed = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> erased;  // [begin, end)
  Bytes prefix;                                                 // bytes from offset 0

  std::uint8_t at(std::uint32_t offset) const {
    if (offset < prefix.size()) return prefix[offset];
    for (const auto& [begin, end] : erased)
      if (offset >= begin && offset < end) return 0xFF;
    return static_cast<std::uint8_t>(seed + offset * 7 + (offset >> 8) * 13 + (offset >> 16));
  }
  Bytes bytes(std::uint32_t offset, std::uint32_t n) const {
    Bytes out(n);
    for (std::uint32_t i = 0; i < n; ++i) out[i] = at(offset + i);
    return out;
  }
};

inline std::uint32_t crc_of(const Bytes& bytes) { return crc32_of(bytes); }

// The CRC of each `block` bytes of `data`, the last block shorter.
inline std::vector<std::uint32_t> block_crcs(const Bytes& data, std::size_t block) {
  std::vector<std::uint32_t> crcs;
  for (std::size_t at = 0; at < data.size(); at += block)
    crcs.push_back(crc32_of(std::span(data).subspan(at, std::min(block, data.size() - at))));
  return crcs;
}

// A CRC request and its replies. The host reads them in pieces that cover
// at most 1 MiB of the range each, so that no single transfer waits long
// on the console's summing.
inline void expect_crcs(ScriptedCable& c, std::uint32_t code, std::uint32_t offset,
                        std::uint32_t bytes, std::uint32_t block,
                        const std::vector<std::uint32_t>& crcs) {
  c.request(code, offset, bytes, block);
  const std::size_t per_piece = std::max<std::size_t>(1, 0x100000 / block);
  for (std::size_t at = 0; at < crcs.size(); at += per_piece) {
    Bytes piece;
    for (std::size_t i = at; i < std::min(crcs.size(), at + per_piece); ++i) {
      const Bytes w = le32(crcs[i]);
      piece.insert(piece.end(), w.begin(), w.end());
    }
    c.read(piece);
  }
}

// REQ_FLASH_FAILURES after a write or an erase: `count` failures, the
// first at `offset` with `cause`.
inline void expect_flash_failures(ScriptedCable& c, std::uint32_t count = 0, std::uint32_t offset = 0,
                                  std::uint32_t cause = 0) {
  Bytes reply = le32(count);
  for (std::uint32_t w : {offset, cause}) {
    const Bytes b = le32(w);
    reply.insert(reply.end(), b.begin(), b.end());
  }
  c.request(0xFFFF0038, 0, 0, 0).read(reply);
}

// A whole erase block sent as a stream the console takes: the request
// (erased first unless `erase` is false), the ready word, the pieces each
// with its check word, eight pieces a transfer, then the outcome and the
// count of pieces programmed.
inline void expect_flash_stream(ScriptedCable& c, std::uint32_t offset, const Bytes& block, bool erase) {
  const auto bytes = static_cast<std::uint32_t>(block.size());
  const std::uint32_t stream_word = bytes | (erase ? STREAM_ERASE : 0);
  c.request(REQ_FLASH_STREAM, offset, stream_word, write_check({}, offset, stream_word));
  c.read(le32(STREAM_READY));
  Bytes form;
  for (std::uint32_t at = 0; at < bytes; at += STREAM_PIECE_BYTES) {
    const Bytes piece(block.begin() + at, block.begin() + at + STREAM_PIECE_BYTES);
    form.insert(form.end(), piece.begin(), piece.end());
    const Bytes check = le32(piece_check(piece, offset + at));
    form.insert(form.end(), check.begin(), check.end());
  }
  const std::size_t transfer = 8 * (STREAM_PIECE_BYTES + 4);
  for (std::size_t at = 0; at < form.size(); at += transfer)
    c.write(Bytes(form.begin() + static_cast<std::ptrdiff_t>(at),
                  form.begin() + static_cast<std::ptrdiff_t>(std::min(form.size(), at + transfer))));
  Bytes end_words = le32(erase ? UPDATE_ERASED : UPDATE_PROGRAMMED);
  const Bytes count = le32(bytes / STREAM_PIECE_BYTES);
  end_words.insert(end_words.end(), count.begin(), count.end());
  c.read(end_words);
}

inline void expect_rom_crcs(ScriptedCable& c, std::uint32_t offset, std::uint32_t bytes,
                            std::uint32_t block, const std::vector<std::uint32_t>& crcs) {
  expect_crcs(c, 0xFFFF0030, offset, bytes, block, crcs);
}

// REQ_ROM_READ of [offset, offset + length): the agent streams halfwords, so
// an odd start is asked from the byte before it; one request per 32 MiB
// page; the replies come in pieces of 4 KiB announced with the long read
// header, the last word of a piece filled up with bus bytes (0xEE here,
// which must never reach a file). `wire` holds the bytes the console sends
// from the even start on (length + (offset & 1) bytes).
inline void expect_rom_read(ScriptedCable& c, std::uint32_t offset, const Bytes& wire) {
  const std::uint32_t from = offset & ~1u;
  const std::uint32_t end = from + static_cast<std::uint32_t>(wire.size());
  std::uint32_t at = from;
  do {
    const std::uint32_t page_end = (at / 0x2000000 + 1) * 0x2000000;
    const std::uint32_t to = std::min(end, page_end);
    c.request(0xFFFF0012, 0x08000000 + at, to - at, 0);
    std::uint32_t piece_at = at;
    do {
      const std::uint32_t n = std::min<std::uint32_t>(to - piece_at, 4096);
      Bytes piece(wire.begin() + (piece_at - from), wire.begin() + (piece_at - from + n));
      piece.resize((n + 3) / 4 * 4, 0xEE);
      c.read_long(piece);
      piece_at += n;
    } while (piece_at < to);
    at = to;
  } while (at < end);
}

// A dump's read: no transfer above 16 KiB, the pieces of even size.
inline void read_pieces(ScriptedCable& c, const Bytes& bytes) {
  const std::size_t words = bytes.size() / 4, pieces = (bytes.size() + 16383) / 16384;
  for (std::size_t k = 0, at = 0; k < pieces; ++k) {
    const std::size_t to = words * (k + 1) / pieces * 4;
    c.read(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(to)));
    at = to;
  }
}

// What a dump block meets on the link.
enum class DumpHarm { None, Data, Crc, Header, Complement };

// The dump request of [offset, offset + length) and what the console sends
// for it: whole words, from the word that holds the first byte to the one
// that holds the last, in blocks on the 64 KiB grid. Each block is a header
// word and its complement, then the block's words and their CRC-32, or
// nothing more for a block whose halfwords all hold one value (named in the
// header's low half). The host reads the first header pair alone, then each
// block with the header pair of the block after it. `harm` changes blocks
// on the way, by their index.
inline void expect_rom_dump(ScriptedCable& c, const FakeRom& rom, std::uint32_t offset, std::uint32_t length,
                            const std::vector<std::pair<std::size_t, DumpHarm>>& harm = {}) {
  const std::uint32_t from = offset & ~3u, to = (offset + length + 3) & ~3u;
  c.request(0xFFFF003D, from, to - from, write_check({}, from, to - from));
  Bytes pending;
  std::size_t index = 0;
  for (std::uint32_t at = from; at < to; ++index) {
    const std::uint32_t end = std::min(to, (at / 0x10000 + 1) * 0x10000);
    Bytes bytes = rom.bytes(at, end - at);
    DumpHarm h = DumpHarm::None;
    for (const auto& [i, what] : harm)
      if (i == index) h = what;
    bool uniform = true;
    for (std::size_t i = 2; i < bytes.size(); ++i) uniform = uniform && bytes[i] == bytes[i & 1];
    const std::uint32_t header = uniform ? 0xF1110000u | bytes[0] | bytes[1] << 8 : 0x5E7D0000u;
    const Bytes word = le32(header ^ (h == DumpHarm::Header ? 0x00000004u : 0u));
    const Bytes complement = le32(~header ^ (h == DumpHarm::Complement ? 0x00000100u : 0u));
    pending.insert(pending.end(), word.begin(), word.end());
    pending.insert(pending.end(), complement.begin(), complement.end());
    read_pieces(c, pending);
    pending.clear();
    if (!uniform) {
      const Bytes crc = le32(crc_of(bytes) ^ (h == DumpHarm::Crc ? 0x00010000u : 0u));
      if (h == DumpHarm::Data) bytes[bytes.size() / 2] ^= 0x10;
      pending = bytes;
      pending.insert(pending.end(), crc.begin(), crc.end());
    }
    at = end;
  }
  if (!pending.empty()) read_pieces(c, pending);
}

// The same for a range of `rom`, sent unharmed.
inline void expect_rom_read(ScriptedCable& c, const FakeRom& rom, std::uint32_t offset,
                            std::uint32_t length) {
  expect_rom_read(c, offset, rom.bytes(offset & ~1u, length + (offset & 1)));
}

// A copy of `bytes` with one bit changed at `at`, as a noisy link delivers.
inline Bytes flipped(Bytes bytes, std::size_t at) {
  bytes.at(at) ^= 0x10;
  return bytes;
}

// The first 0xC0 bytes of a ROM with a header the BIOS accepts, and the
// lines a whole-ROM dump shows for it.
inline Bytes rom_header() {
  Bytes h(0xC0, 0);
  h[0] = 0x2E, h[3] = 0xEA;
  const std::string title = "KARTEX DUMP", code = "KXDE", maker = "01";
  std::copy(title.begin(), title.end(), h.begin() + 0xA0);
  std::copy(code.begin(), code.end(), h.begin() + 0xAC);
  std::copy(maker.begin(), maker.end(), h.begin() + 0xB0);
  h[0xB2] = 0x96;
  h[0xBC] = 2;
  std::uint8_t chk = 0;
  for (std::size_t i = 0xA0; i <= 0xBC; ++i) chk = static_cast<std::uint8_t>(chk - h[i]);
  h[0xBD] = static_cast<std::uint8_t>(chk - 0x19);
  return h;
}

inline std::string header_lines() {
  char text[160];
  std::snprintf(text, sizeof text,
                "Title: KARTEX DUMP\nGame code: KXDE\nMaker code: 01\nVersion: 2\n"
                "Header checksum: 0x%02X (good)\n",
                rom_header()[0xBD]);
  return text;
}

// The checksum, time and re-read lines that end a dump's report, as a body
// whose clock stands still shows them.
inline std::string digest_lines(const Bytes& dumped, unsigned rereads = 0) {
  Digests digests;
  digests.update(dumped);
  const DigestSet d = digests.finish();
  return strprintf("CRC32: %08X\nMD5: %s\nSHA-1: %s\nSHA-256: %s\nTime: %s\nRe-read blocks: %u\n",
                   d.crc32, d.md5.c_str(), d.sha1.c_str(), d.sha256.c_str(),
                   progress_summary(dumped.size(), dumped.size(), {}).c_str(), rereads);
}

}  // namespace kartex::test
