// SHA-1 from the system's CNG library (bcrypt.dll), present on every
// Windows since Vista: the Windows build carries no libcrypto.
#include <windows.h>
#include <bcrypt.h>

#include <new>
#include <stdexcept>
#include <string>

#include "common/sha1_engine.h"

namespace kartex {

struct Sha1Engine {
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
};

namespace {

void check(NTSTATUS status, const char* step) {
  if (!BCRYPT_SUCCESS(status))
    throw std::runtime_error(std::string("SHA-1 ") + step + " failed in the system's bcrypt library");
}

}  // namespace

Sha1Engine* sha1_engine_new() {
  auto* engine = new Sha1Engine;
  NTSTATUS status = BCryptOpenAlgorithmProvider(&engine->alg, BCRYPT_SHA1_ALGORITHM, nullptr, 0);
  if (BCRYPT_SUCCESS(status)) status = BCryptCreateHash(engine->alg, &engine->hash, nullptr, 0, nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(status)) {
    sha1_engine_free(engine);
    check(status, "set-up");
  }
  return engine;
}

void sha1_engine_free(Sha1Engine* engine) {
  if (!engine) return;
  if (engine->hash) BCryptDestroyHash(engine->hash);
  if (engine->alg) BCryptCloseAlgorithmProvider(engine->alg, 0);
  delete engine;
}

void sha1_engine_update(Sha1Engine* engine, std::span<const std::uint8_t> bytes) {
  // BCryptHashData takes a 32-bit length.
  constexpr std::size_t PIECE = 1u << 30;
  while (!bytes.empty()) {
    const std::size_t n = bytes.size() < PIECE ? bytes.size() : PIECE;
    check(BCryptHashData(engine->hash, const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(n), 0),
          "update");
    bytes = bytes.subspan(n);
  }
}

Sha1Digest sha1_engine_final(Sha1Engine* engine) {
  Sha1Digest digest{};
  check(BCryptFinishHash(engine->hash, digest.data(), static_cast<ULONG>(digest.size()), 0), "final step");
  return digest;
}

}  // namespace kartex
