#pragma once
// Checksums of dumped and written data: the CRC-32 that the agent's CRC
// request also returns (zlib's polynomial), and SHA-1 for the dump report.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kartex {

struct Sha1Engine;

// CRC-32 of the zlib polynomial, the value the agent's CRC request returns.
std::uint32_t crc32_of(std::span<const std::uint8_t> bytes);

// CRC-32 of `length` bytes of 0xFF: an erased flash block or save sector.
// Built from CRCs of power-of-two runs, so no buffer of `length` bytes is
// ever hashed.
std::uint32_t crc32_blank(std::size_t length);

// Incremental CRC-32: update() over consecutive pieces gives crc32_of() of
// the whole.
class Crc32 {
 public:
  void update(std::span<const std::uint8_t> bytes);
  std::uint32_t value() const { return crc_; }

 private:
  std::uint32_t crc_ = 0;
};

// Incremental SHA-1. hex() ends the digest; it returns the same text if
// called again, and update() after it throws std::logic_error.
class Sha1 {
 public:
  Sha1();
  ~Sha1();
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;
  Sha1(Sha1&& other) noexcept;
  Sha1& operator=(Sha1&& other) noexcept;

  void update(std::span<const std::uint8_t> bytes);
  // 40 lower-case hex digits.
  std::string hex();

 private:
  Sha1Engine* ctx_ = nullptr;
  std::string hex_;
};

}  // namespace kartex
