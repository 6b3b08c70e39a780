#pragma once
// Every checksum a dump is known by: the CRC-32 and SHA-1 of the report,
// and the MD5 and SHA-256 that catalogues of dumps list beside them.

#include <cstdint>
#include <span>
#include <string>

#include "common/digest.h"
#include "common/hash_engine.h"

namespace kartex {

// Incremental MD5 or SHA-256; hex() ends the digest and gives the same text
// if called again; update() after it throws std::logic_error.
class Hasher {
 public:
  explicit Hasher(HashAlgorithm algorithm);
  ~Hasher();
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;

  void update(std::span<const std::uint8_t> bytes);
  // Lower-case hex digits.
  std::string hex();

 private:
  HashEngine* engine_ = nullptr;
  std::string hex_;
};

struct DigestSet {
  std::uint32_t crc32 = 0;
  std::string md5, sha1, sha256;  // lower-case hex
};

// The four over the same bytes at once, so that a dump is read only once.
class Digests {
 public:
  Digests();
  void update(std::span<const std::uint8_t> bytes);
  DigestSet finish();

 private:
  Crc32 crc_;
  Hasher md5_;
  Sha1 sha1_;
  Hasher sha256_;
};

}  // namespace kartex
