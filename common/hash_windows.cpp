// MD5 and SHA-256 from the system's CNG library (bcrypt.dll), as SHA-1 is:
// the Windows build carries no libcrypto.
#include <windows.h>
#include <bcrypt.h>

#include <new>
#include <stdexcept>
#include <string>

#include "common/hash_engine.h"

namespace kartex {

struct HashEngine {
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ULONG size = 0;
};

namespace {

void check(NTSTATUS status, const char* step) {
  if (!BCRYPT_SUCCESS(status))
    throw std::runtime_error(std::string("digest ") + step + " failed in the system's bcrypt library");
}

}  // namespace

HashEngine* hash_engine_new(HashAlgorithm algorithm) {
  auto* engine = new HashEngine;
  engine->size = algorithm == HashAlgorithm::Md5 ? 16 : 32;
  NTSTATUS status = BCryptOpenAlgorithmProvider(
      &engine->alg, algorithm == HashAlgorithm::Md5 ? BCRYPT_MD5_ALGORITHM : BCRYPT_SHA256_ALGORITHM,
      nullptr, 0);
  if (BCRYPT_SUCCESS(status)) status = BCryptCreateHash(engine->alg, &engine->hash, nullptr, 0, nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(status)) {
    hash_engine_free(engine);
    check(status, "set-up");
  }
  return engine;
}

void hash_engine_free(HashEngine* engine) {
  if (!engine) return;
  if (engine->hash) BCryptDestroyHash(engine->hash);
  if (engine->alg) BCryptCloseAlgorithmProvider(engine->alg, 0);
  delete engine;
}

void hash_engine_update(HashEngine* engine, std::span<const std::uint8_t> bytes) {
  // BCryptHashData takes a 32-bit length.
  constexpr std::size_t PIECE = 1u << 30;
  while (!bytes.empty()) {
    const std::size_t n = bytes.size() < PIECE ? bytes.size() : PIECE;
    check(BCryptHashData(engine->hash, const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(n), 0),
          "update");
    bytes = bytes.subspan(n);
  }
}

std::vector<std::uint8_t> hash_engine_final(HashEngine* engine) {
  std::vector<std::uint8_t> digest(engine->size);
  check(BCryptFinishHash(engine->hash, digest.data(), engine->size, 0), "final step");
  return digest;
}

}  // namespace kartex
