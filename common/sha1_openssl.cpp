#include <openssl/evp.h>

#include <new>
#include <stdexcept>

#include "common/sha1_engine.h"

namespace kartex {

struct Sha1Engine {
  EVP_MD_CTX* ctx = nullptr;
};

Sha1Engine* sha1_engine_new() {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (!ctx) throw std::bad_alloc();
  if (EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx);
    throw std::runtime_error("SHA-1 is not available from libcrypto");
  }
  return new Sha1Engine{ctx};
}

void sha1_engine_free(Sha1Engine* engine) {
  if (!engine) return;
  EVP_MD_CTX_free(engine->ctx);
  delete engine;
}

void sha1_engine_update(Sha1Engine* engine, std::span<const std::uint8_t> bytes) {
  if (EVP_DigestUpdate(engine->ctx, bytes.data(), bytes.size()) != 1)
    throw std::runtime_error("SHA-1 update failed in libcrypto");
}

Sha1Digest sha1_engine_final(Sha1Engine* engine) {
  Sha1Digest digest{};
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(engine->ctx, digest.data(), &size) != 1 || size != digest.size())
    throw std::runtime_error("SHA-1 final step failed in libcrypto");
  return digest;
}

}  // namespace kartex
