// SHA-256 (FIPS 180-4), fed in pieces: the quarantine records the digest
// of every file it keeps and checks it before a file is given back.
#pragma once

#include <cstddef>
#include <cstdint>

const std::size_t kSha256Size = 32;
// Lower-case hexadecimal, terminator included.
const std::size_t kSha256HexSize = 2 * kSha256Size + 1;

struct Sha256 {
    std::uint32_t state[8];
    std::uint64_t length;  // bytes added so far
    unsigned char block[64];
    std::size_t used;      // bytes waiting in `block`
};

void Sha256Start(Sha256& hash);
void Sha256Add(Sha256& hash, const void* data, std::size_t count);
void Sha256Finish(Sha256& hash, unsigned char digest[kSha256Size]);

// The digest as lower-case hexadecimal.
void Sha256Hex(const unsigned char digest[kSha256Size], char out[kSha256HexSize]);
