#include "common/digest.h"

#include <zlib.h>

#include <array>
#include <stdexcept>

#include "common/sha1_engine.h"

namespace kartex {

namespace {

// crc32_z, not crc32: the Unicorn library exports a crc32 of its own, a
// byte-at-a-time loop several times slower than zlib's, and a process that
// loads both (the tool with its simulator) would call that one. crc32_z
// also takes a size_t, so no span has to go in pieces.
std::uint32_t crc_update(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint32_t>(::crc32_z(crc, bytes.data(), bytes.size()));
}

// CRC of 2^k bytes of 0xFF for k = 0..30. Each run is two copies of the one
// before; 2^30 also keeps every length handed to crc32_combine within a
// 32-bit z_off_t (Windows).
constexpr int BLANK_BITS = 31;

const std::array<std::uint32_t, BLANK_BITS>& blank_runs() {
  static const std::array<std::uint32_t, BLANK_BITS> runs = [] {
    std::array<std::uint32_t, BLANK_BITS> r{};
    const std::uint8_t ff = 0xFF;
    r[0] = crc_update(0, {&ff, 1});
    for (int k = 1; k < BLANK_BITS; ++k)
      r[k] = static_cast<std::uint32_t>(
          ::crc32_combine(r[k - 1], r[k - 1], static_cast<z_off_t>(1) << (k - 1)));
    return r;
  }();
  return runs;
}

}  // namespace

std::uint32_t crc32_of(std::span<const std::uint8_t> bytes) { return crc_update(0, bytes); }

std::uint32_t crc32_blank(std::size_t length) {
  const auto& runs = blank_runs();
  constexpr std::size_t BIGGEST = std::size_t{1} << (BLANK_BITS - 1);
  uLong crc = 0;
  for (; length >= BIGGEST; length -= BIGGEST)
    crc = ::crc32_combine(crc, runs[BLANK_BITS - 1], static_cast<z_off_t>(BIGGEST));
  for (int k = BLANK_BITS - 2; k >= 0; --k) {
    const std::size_t run = std::size_t{1} << k;
    if (length & run) crc = ::crc32_combine(crc, runs[k], static_cast<z_off_t>(run));
  }
  return static_cast<std::uint32_t>(crc);
}

void Crc32::update(std::span<const std::uint8_t> bytes) { crc_ = crc_update(crc_, bytes); }

Sha1::Sha1() : ctx_(sha1_engine_new()) {}

Sha1::~Sha1() { sha1_engine_free(ctx_); }

Sha1::Sha1(Sha1&& other) noexcept : ctx_(other.ctx_), hex_(std::move(other.hex_)) {
  other.ctx_ = nullptr;
}

Sha1& Sha1::operator=(Sha1&& other) noexcept {
  if (this != &other) {
    sha1_engine_free(ctx_);
    ctx_ = other.ctx_;
    hex_ = std::move(other.hex_);
    other.ctx_ = nullptr;
  }
  return *this;
}

void Sha1::update(std::span<const std::uint8_t> bytes) {
  if (!ctx_) throw std::logic_error("SHA-1 update on a moved-from digest");
  if (!hex_.empty()) throw std::logic_error("SHA-1 update after the digest was taken");
  if (bytes.empty()) return;
  sha1_engine_update(ctx_, bytes);
}

std::string Sha1::hex() {
  if (!hex_.empty()) return hex_;
  if (!ctx_) throw std::logic_error("SHA-1 of a moved-from digest");
  const Sha1Digest digest = sha1_engine_final(ctx_);
  static const char DIGITS[] = "0123456789abcdef";
  for (std::uint8_t byte : digest) {
    hex_ += DIGITS[byte >> 4];
    hex_ += DIGITS[byte & 0x0F];
  }
  return hex_;
}

}  // namespace kartex
