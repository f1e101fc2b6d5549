#include "scan/Sha256.h"

#include <cstring>

namespace {

const std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

const std::uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

std::uint32_t RotateRight(std::uint32_t value, unsigned count)
{
    return (value >> count) | (value << (32 - count));
}

void Compress(std::uint32_t state[8], const unsigned char block[64])
{
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
        w[i] = (static_cast<std::uint32_t>(block[4 * i]) << 24) | (static_cast<std::uint32_t>(block[4 * i + 1]) << 16) |
               (static_cast<std::uint32_t>(block[4 * i + 2]) << 8) | block[4 * i + 3];
    }
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t v[8];
    std::memcpy(v, state, sizeof v);
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t s1 = RotateRight(v[4], 6) ^ RotateRight(v[4], 11) ^ RotateRight(v[4], 25);
        const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint32_t t1 = v[7] + s1 + choice + kRoundConstants[i] + w[i];
        const std::uint32_t s0 = RotateRight(v[0], 2) ^ RotateRight(v[0], 13) ^ RotateRight(v[0], 22);
        const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        const std::uint32_t t2 = s0 + majority;
        v[7] = v[6];
        v[6] = v[5];
        v[5] = v[4];
        v[4] = v[3] + t1;
        v[3] = v[2];
        v[2] = v[1];
        v[1] = v[0];
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i) state[i] += v[i];
}

}  // namespace

void Sha256Start(Sha256& hash)
{
    std::memcpy(hash.state, kInitialState, sizeof hash.state);
    hash.length = 0;
    hash.used = 0;
}

void Sha256Add(Sha256& hash, const void* data, std::size_t count)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    hash.length += count;
    while (count > 0) {
        std::size_t take = sizeof hash.block - hash.used;
        if (take > count) take = count;
        std::memcpy(hash.block + hash.used, bytes, take);
        hash.used += take;
        bytes += take;
        count -= take;
        if (hash.used == sizeof hash.block) {
            Compress(hash.state, hash.block);
            hash.used = 0;
        }
    }
}

void Sha256Finish(Sha256& hash, unsigned char digest[kSha256Size])
{
    const std::uint64_t bits = hash.length * 8;
    // One 0x80 byte, zeros up to 56 bytes into a block, the length in bits.
    const unsigned char marker = 0x80;
    const unsigned char zero = 0;
    const std::uint64_t length = hash.length;
    Sha256Add(hash, &marker, 1);
    while (hash.used != 56) Sha256Add(hash, &zero, 1);
    unsigned char tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    Sha256Add(hash, tail, sizeof tail);
    hash.length = length;
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = static_cast<unsigned char>(hash.state[i] >> 24);
        digest[4 * i + 1] = static_cast<unsigned char>(hash.state[i] >> 16);
        digest[4 * i + 2] = static_cast<unsigned char>(hash.state[i] >> 8);
        digest[4 * i + 3] = static_cast<unsigned char>(hash.state[i]);
    }
}

void Sha256Hex(const unsigned char digest[kSha256Size], char out[kSha256HexSize])
{
    const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < kSha256Size; ++i) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 0x0F];
    }
    out[2 * kSha256Size] = '\0';
}
