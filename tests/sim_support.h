#pragma once
// Helpers for the simulator tests: raw wire exchanges on the simulated
// cable's pipes and small ARM programs given as instruction words.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "link/pipes.h"
#include "contract/wire.h"
#include "sim/cart/cart_header.h"
#include "sim/simulator.h"

namespace kartex::simtest {

inline std::vector<std::uint8_t> words_to_bytes(std::span<const std::uint32_t> words) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t w : words)
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
  return bytes;
}

inline std::vector<std::uint8_t> program(std::initializer_list<std::uint32_t> words) {
  return words_to_bytes(std::vector<std::uint32_t>(words));
}

inline std::uint32_t word_at(std::span<const std::uint8_t> bytes, std::size_t i) {
  return bytes[i] | bytes[i + 1] << 8 | bytes[i + 2] << 16 | static_cast<std::uint32_t>(bytes[i + 3]) << 24;
}

// Where multiboot() puts the code: behind the header and the two boot-mode
// bytes the BIOS writes at 0xC4 and 0xC5.
constexpr std::uint32_t MULTIBOOT_CODE = 0xC8;

// `code` as an image either loader starts: a header the BIOS takes, and
// branches to MULTIBOOT_CODE at 0 and at the multiboot entry 0xC0.
inline std::vector<std::uint8_t> multiboot(const std::vector<std::uint8_t>& code) {
  std::vector<std::uint8_t> image(MULTIBOOT_CODE, 0);
  const std::uint32_t from_0 = 0xEA000030, from_c0 = 0xEA000000;  // b 0xC8
  for (int i = 0; i < 4; ++i) {
    image[i] = static_cast<std::uint8_t>(from_0 >> (8 * i));
    image[0xC0 + i] = static_cast<std::uint8_t>(from_c0 >> (8 * i));
  }
  const auto logo = header_logo();
  std::copy(logo.begin(), logo.end(), image.begin() + HDR_LOGO);
  image[HDR_FIXED] = 0x96;
  image[HDR_COMPLEMENT] = header_complement(image);
  image.insert(image.end(), code.begin(), code.end());
  return image;
}

// The host's side of the wire, byte for byte, on a Pipes transport.
class Wire {
 public:
  explicit Wire(Pipes& pipes) : pipes_(pipes) {}

  PipeResult command(std::vector<std::uint8_t> bytes) { return pipes_.write(Pipe::Command, bytes); }

  std::uint32_t answer() {
    std::uint8_t b[4] = {};
    PipeResult r = pipes_.read(Pipe::DataIn, b);
    EXPECT_TRUE(r.ok) << r.error;
    return word_at(b, 0);
  }

  std::uint32_t reg_read(std::uint8_t index) {
    EXPECT_TRUE(command({CMD_REG, index}).ok);
    return answer();
  }

  std::uint32_t reg_write(std::uint8_t index, std::uint32_t v) {
    EXPECT_TRUE(command({CMD_REG, static_cast<std::uint8_t>(index | CMD_REG_WRITE_FLAG),
                         static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                         static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)})
                    .ok);
    return answer();
  }

  PipeResult write_words(std::span<const std::uint32_t> words) {
    const auto n = words.size();
    PipeResult r = command({CMD_WRITE, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)});
    if (!r.ok) return r;
    return pipes_.write(Pipe::DataOut, words_to_bytes(words));
  }

  // CMD_READ of n words; `ok` false when the cable refused.
  std::vector<std::uint32_t> read_words(std::size_t n, bool* ok = nullptr, std::string* why = nullptr) {
    PipeResult r = command({CMD_READ, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)});
    if (ok) *ok = r.ok;
    if (why) *why = r.error;
    if (!r.ok) return {};
    std::vector<std::uint8_t> bytes(n * 4);
    PipeResult d = pipes_.read(Pipe::DataIn, bytes);
    EXPECT_TRUE(d.ok) << d.error;
    std::vector<std::uint32_t> words;
    for (std::size_t i = 0; i < n; ++i) words.push_back(word_at(bytes, 4 * i));
    return words;
  }

  void handshake() {
    reg_write(CABLE_REG_BOOT, BOOT_PATTERN);
    EXPECT_EQ(reg_read(CABLE_REG_BOOT), BOOT_PATTERN);
    reg_write(CABLE_REG_BOOT, 0);
    EXPECT_EQ(reg_read(CABLE_REG_STATUS) & STATUS_LINK_UP, static_cast<std::uint32_t>(STATUS_LINK_UP));
  }

  // The upload: one CMD_WRITE of the length, one of the image.
  void upload(std::span<const std::uint8_t> image) {
    const std::uint32_t length[1] = {static_cast<std::uint32_t>(image.size())};
    ASSERT_TRUE(write_words(length).ok);
    std::vector<std::uint32_t> words((image.size() + 3) / 4, 0);
    for (std::size_t i = 0; i < image.size(); ++i) words[i / 4] |= static_cast<std::uint32_t>(image[i]) << (8 * (i % 4));
    PipeResult r = write_words(words);
    ASSERT_TRUE(r.ok) << r.error;
  }

 private:
  Pipes& pipes_;
};

// Receives a word, sends it back plus one, forever (at MULTIBOOT_CODE):
//   mov r4, #0x04000000 ; add r4, r4, #0x100
//   loop: bl xfer ; add r5, r0, #1 ; str r5, [r4, #0x20] ; bl xfer ; b loop
//   xfer: mov r1, #0x1000 ; strh r1, [r4, #0x28]      @ SIOCNT: normal 32-bit, external clock
//         add r1, r1, #0x88 ; strh r1, [r4, #0x28]    @ start bit (and SO high)
//   wait: ldrh r1, [r4, #0x28] ; tst r1, #0x80 ; bne wait
//         ldr r0, [r4, #0x20] ; bx lr                 @ SIODATA32
// A test program that runs for frames without an interrupt handler: as if
// the loader had left the console's interrupts off.
inline void loader_left_interrupts_off(Simulator& sim) { sim.console().io().set_raw(io::IME, 0); }

inline std::vector<std::uint8_t> echo_program() {
  return multiboot(program({0xE3A04301, 0xE2844C01, 0xEB000003, 0xE2805001, 0xE5845020, 0xEB000000,
                  0xEAFFFFFA, 0xE3A01A01, 0xE1C412B8, 0xE2811088, 0xE1C412B8, 0xE1D412B8,
                  0xE3110080, 0x1AFFFFFC, 0xE5940020, 0xE12FFF1E}));
}

}  // namespace kartex::simtest
