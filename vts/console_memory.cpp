#include "vts/console_memory.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/failure.h"
#include "vts/gba_video.h"

namespace kartex {

namespace {

// The agent takes a byte count and rounds it up to whole words; a
// one-word access passes 1.
constexpr std::uint32_t ONE_WORD_BYTES = 1;

std::string at_address(const char* what, std::uint32_t address) {
  char text[64];
  std::snprintf(text, sizeof text, "%s at 0x%08X", what, address);
  return text;
}

// A failed transfer names the console access it belonged to, in front of
// the link's own line.
void in_context(const char* what, std::uint32_t address, const std::function<void()>& body) {
  try {
    body();
  } catch (const Failure& f) {
    if (f.stream() != Failure::Stream::Err) throw;
    throw Failure(at_address(what, address) + ": " + f.what(), f.stream(), f.status());
  }
}

}  // namespace

void gba_write_block(CableLink& link, std::uint32_t address, std::span<const std::uint8_t> words) {
  if (words.size() % 4 != 0)
    fail("internal error: console memory write of " + std::to_string(words.size()) +
         " bytes, not whole words");
  const std::size_t count = words.size() / 4;
  // Refused before the request goes out: the agent would wait for words
  // the cable cannot announce in one transfer.
  if (count > CMD_MAX_WORDS)
    fail(at_address("console memory write", address) + ": " + std::to_string(count) +
         " words exceed the cable's limit of " + std::to_string(CMD_MAX_WORDS) + " words");
  in_context("console memory write", address, [&] {
    link.agent_request(REQ_MEM_WRITE, address, static_cast<std::uint32_t>(words.size()), 0);
    link.write_words(words);
  });
}

void gba_write_block(CableLink& link, std::uint32_t address, std::span<const std::uint32_t> words) {
  std::vector<std::uint8_t> bytes(words.size() * 4);
  for (std::size_t i = 0; i < words.size(); ++i) put_le32(&bytes[i * 4], words[i]);
  gba_write_block(link, address, bytes);
}

void gba_write_reg(CableLink& link, std::uint32_t address, std::uint16_t value16) {
  in_context("console register write", address, [&] {
    link.agent_request(REQ_MEM_WRITE, address, ONE_WORD_BYTES, 0);
    link.write_word(value16);
  });
}

void gba_video_frame(CableLink& link, int page, std::span<const std::uint16_t> ops, std::uint16_t display) {
  if (ops.size() % 2 != 0 || ops.size() / 2 > VIDEO_FRAME_MAX_WORDS)
    fail("internal error: video frame of " + std::to_string(ops.size()) + " halfwords");
  std::vector<std::uint8_t> bytes(ops.size() * 2);
  for (std::size_t i = 0; i < ops.size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(ops[i]);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(ops[i] >> 8);
  }
  const std::uint32_t address = page ? MEM_VRAM_PAGE1 : MEM_VRAM_PAGE0;
  in_context("video frame", address, [&] {
    link.agent_request(REQ_VIDEO_FRAME, static_cast<std::uint32_t>(page), static_cast<std::uint32_t>(bytes.size()),
                       display);
    // A frame that changes nothing is the request alone.
    if (!bytes.empty()) link.write_words(bytes);
  });
}

std::uint32_t gba_read_word(CableLink& link, std::uint32_t address) {
  std::uint32_t value = 0;
  in_context("console memory read", address, [&] {
    link.agent_request(REQ_MEM_READ, address, ONE_WORD_BYTES, 0);
    value = link.read_word();
  });
  return value;
}

}  // namespace kartex
