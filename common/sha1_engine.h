#pragma once
// The platform's SHA-1 behind Sha1: libcrypto where it exists, the system's
// cryptography library on Windows.

#include <array>
#include <cstdint>
#include <span>

namespace kartex {

struct Sha1Engine;
using Sha1Digest = std::array<std::uint8_t, 20>;

// Throws std::bad_alloc or std::runtime_error when no engine can be had.
Sha1Engine* sha1_engine_new();
void sha1_engine_free(Sha1Engine* engine);  // nullptr is fine
void sha1_engine_update(Sha1Engine* engine, std::span<const std::uint8_t> bytes);
// Ends the digest; the engine takes no more bytes after it.
Sha1Digest sha1_engine_final(Sha1Engine* engine);

}  // namespace kartex
