// Bounded reads of untrusted file content.
//
// Every byte the engine takes from a scanned file comes through ReadExactAt
// into a buffer whose size the caller states, and every multi-byte value is
// decoded from such a buffer with an index that is checked against the
// buffer's size. A value read from a file is never used to index memory
// without a check.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

// Seeks to `offset` from the start of `file` and reads exactly `count`
// bytes into `buffer`. False when the offset is negative, the seek fails or
// fewer bytes come back; the buffer's content is then unspecified.
bool ReadExactAt(FileRef file, std::int32_t offset, void* buffer, std::uint32_t count);

// Little-endian values at `at` inside a fixed buffer. A field that does not
// lie wholly inside the buffer reads as 0.
template <std::size_t N>
std::uint16_t LoadLe16(const unsigned char (&bytes)[N], std::size_t at)
{
    if (at > N || N - at < 2) return 0;
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

template <std::size_t N>
std::uint32_t LoadLe32(const unsigned char (&bytes)[N], std::size_t at)
{
    if (at > N || N - at < 4) return 0;
    return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}
