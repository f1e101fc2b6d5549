#include "platform/AnsiText.h"

#include <cstring>

bool CopyText(char* destination, std::size_t size, const char* source)
{
    if (size == 0) return false;
    // Counted only as far as the destination could take it, so a source the
    // system left without a terminator is not read past that either.
    std::size_t length = 0;
    while (length < size && source[length] != '\0') ++length;
    if (length == size) {
        std::memcpy(destination, source, size - 1);
        destination[size - 1] = '\0';
        return false;
    }
    std::memcpy(destination, source, length + 1);
    return true;
}

bool InOneFolder(const char* a, const char* b)
{
    const char* lastA = std::strrchr(a, '\\');
    const char* lastB = std::strrchr(b, '\\');
    if (!lastA || !lastB || lastA[1] == '\0' || lastB[1] == '\0' || lastA - a != lastB - b) return false;
    for (const char* p = a; p < lastA; ++p) {
        if (UpperAscii(*p) != UpperAscii(b[p - a])) return false;
    }
    return true;
}
