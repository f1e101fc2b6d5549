// The few text operations that the engine and every platform backend need
// alike: a bounded copy into a fixed buffer and ASCII case folding (the
// platform compares names without regard to case, and the engine compares
// what the platform gives it the same way). Portable: no Windows header.
#pragma once

#include <cstddef>

// Copies `source` into `destination` (of `size` bytes). Returns false and
// leaves a truncated, terminated copy when the text does not fit; writes
// nothing when `size` is 0. Reads at most `size` bytes of `source`.
bool CopyText(char* destination, std::size_t size, const char* source);

// `c` in ASCII upper or lower case; every other character as it is.
inline char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the engine paths `a` and `b` name entries of one folder: the
// same text before their last backslash, ASCII case aside, and a name
// after it.
bool InOneFolder(const char* a, const char* b);
