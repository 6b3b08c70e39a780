#pragma once
// The platform's MD5 and SHA-256 behind Hasher: libcrypto where it exists,
// the system's cryptography library on Windows. The catalogues a dump is
// checked against list these beside CRC-32 and SHA-1.

#include <cstdint>
#include <span>
#include <vector>

namespace kartex {

enum class HashAlgorithm { Md5, Sha256 };

struct HashEngine;

// Throws std::bad_alloc or std::runtime_error when no engine can be had.
HashEngine* hash_engine_new(HashAlgorithm algorithm);
void hash_engine_free(HashEngine* engine);  // nullptr is fine
void hash_engine_update(HashEngine* engine, std::span<const std::uint8_t> bytes);
// Ends the digest; the engine takes no more bytes after it.
std::vector<std::uint8_t> hash_engine_final(HashEngine* engine);

}  // namespace kartex
