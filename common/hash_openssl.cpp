#include <openssl/evp.h>

#include <new>
#include <stdexcept>

#include "common/hash_engine.h"

namespace kartex {

struct HashEngine {
  EVP_MD_CTX* ctx = nullptr;
};

HashEngine* hash_engine_new(HashAlgorithm algorithm) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (!ctx) throw std::bad_alloc();
  const EVP_MD* md = algorithm == HashAlgorithm::Md5 ? EVP_md5() : EVP_sha256();
  if (EVP_DigestInit_ex(ctx, md, nullptr) != 1) {
    EVP_MD_CTX_free(ctx);
    throw std::runtime_error("the digest is not available from libcrypto");
  }
  return new HashEngine{ctx};
}

void hash_engine_free(HashEngine* engine) {
  if (!engine) return;
  EVP_MD_CTX_free(engine->ctx);
  delete engine;
}

void hash_engine_update(HashEngine* engine, std::span<const std::uint8_t> bytes) {
  if (EVP_DigestUpdate(engine->ctx, bytes.data(), bytes.size()) != 1)
    throw std::runtime_error("digest update failed in libcrypto");
}

std::vector<std::uint8_t> hash_engine_final(HashEngine* engine) {
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(engine->ctx, digest.data(), &size) != 1)
    throw std::runtime_error("digest final step failed in libcrypto");
  digest.resize(size);
  return digest;
}

}  // namespace kartex
