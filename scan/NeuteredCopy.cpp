#include "scan/NeuteredCopy.h"

const char kNeuteredHeader[] =
    "QUELLOR QUARANTINE 1: a neutered copy of a detected file, not a program. "
    "Restore it with quellor-scan --restore.\r\n";
static_assert(sizeof kNeuteredHeader == kNeuteredHeaderLength + 1, "kNeuteredHeaderLength is the header's length");

namespace {

// Four key bytes for each group of four positions: a 32-bit integer mix of
// the group's number, so no stretch of the stream repeats or stays zero.
std::uint32_t KeyWord(std::uint64_t group)
{
    std::uint32_t x = static_cast<std::uint32_t>(group) ^ (static_cast<std::uint32_t>(group >> 32) * 0x27D4EB2Fu);
    x = x * 0x9E3779B9u + 0x7F4A7C15u;
    x ^= x >> 16;
    x *= 0x85EBCA6Bu;
    x ^= x >> 13;
    x *= 0xC2B2AE35u;
    x ^= x >> 16;
    return x;
}

}  // namespace

void NeuterBytes(unsigned char* bytes, std::size_t count, std::uint64_t position)
{
    std::uint64_t group = position >> 2;
    std::uint32_t word = KeyWord(group);
    for (std::size_t i = 0; i < count; ++i, ++position) {
        if ((position >> 2) != group) {
            group = position >> 2;
            word = KeyWord(group);
        }
        bytes[i] ^= static_cast<unsigned char>(word >> (8 * (position & 3)));
    }
}

namespace {

// The engine runs on one thread; the copy works through this buffer.
unsigned char passBuffer[64 * 1024];

}  // namespace

PassResult PassNeutered(FileRef from, FileRef to, std::uint32_t length, bool fromOriginal, Sha256& original)
{
    std::uint32_t done = 0;
    while (done < length) {
        std::uint32_t want = length - done;
        if (want > sizeof passBuffer) want = sizeof passBuffer;
        const std::int32_t got = Sys().ReadBytes(from, passBuffer, want);
        if (got <= 0) return PassReadFailed;
        const std::size_t count = static_cast<std::size_t>(got);
        if (fromOriginal) Sha256Add(original, passBuffer, count);
        NeuterBytes(passBuffer, count, done);
        if (!fromOriginal) Sha256Add(original, passBuffer, count);
        if (to != kNoFile && Sys().WriteBytes(to, passBuffer, static_cast<std::uint32_t>(got)) != got) {
            return PassWriteFailed;
        }
        done += static_cast<std::uint32_t>(got);
    }
    unsigned char more;
    return Sys().ReadBytes(from, &more, 1) == 0 ? PassDone : PassReadFailed;
}
