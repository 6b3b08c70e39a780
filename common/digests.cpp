#include "common/digests.h"

#include <stdexcept>

namespace kartex {

Hasher::Hasher(HashAlgorithm algorithm) : engine_(hash_engine_new(algorithm)) {}

Hasher::~Hasher() { hash_engine_free(engine_); }

void Hasher::update(std::span<const std::uint8_t> bytes) {
  if (!hex_.empty()) throw std::logic_error("digest update after the digest was taken");
  if (bytes.empty()) return;
  hash_engine_update(engine_, bytes);
}

std::string Hasher::hex() {
  if (!hex_.empty()) return hex_;
  static const char DIGITS[] = "0123456789abcdef";
  for (std::uint8_t byte : hash_engine_final(engine_)) {
    hex_ += DIGITS[byte >> 4];
    hex_ += DIGITS[byte & 0x0F];
  }
  return hex_;
}

Digests::Digests() : md5_(HashAlgorithm::Md5), sha256_(HashAlgorithm::Sha256) {}

void Digests::update(std::span<const std::uint8_t> bytes) {
  crc_.update(bytes);
  md5_.update(bytes);
  sha1_.update(bytes);
  sha256_.update(bytes);
}

DigestSet Digests::finish() { return {crc_.value(), md5_.hex(), sha1_.hex(), sha256_.hex()}; }

}  // namespace kartex
