#include "scan/BoundedText.h"

#include <cstring>

bool CopyText(char* destination, std::size_t size, const char* source)
{
    if (size == 0) return false;
    std::size_t length = std::strlen(source);
    if (length >= size) {
        std::memcpy(destination, source, size - 1);
        destination[size - 1] = '\0';
        return false;
    }
    std::memcpy(destination, source, length + 1);
    return true;
}

bool AppendText(char* destination, std::size_t size, const char* source)
{
    std::size_t used = BoundedLength(destination, size);
    std::size_t length = std::strlen(source);
    if (used >= size || length >= size - used) return false;
    std::memcpy(destination + used, source, length + 1);
    return true;
}

bool CopyTextPrefix(char* destination, std::size_t size, const char* source, std::size_t count)
{
    if (size == 0) return false;
    std::size_t length = std::strlen(source);
    if (length > count) length = count;
    if (length >= size) {
        destination[0] = '\0';
        return false;
    }
    std::memcpy(destination, source, length);
    destination[length] = '\0';
    return true;
}

std::size_t BoundedLength(const char* text, std::size_t size)
{
    const void* end = std::memchr(text, '\0', size);
    return end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : size;
}

long LastIndexOf(const char* text, char c)
{
    const char* found = std::strrchr(text, c);
    return found ? static_cast<long>(found - text) : -1;
}

void ToUpperAscii(char* text)
{
    for (; *text; ++text) {
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
    }
}

void ToLowerAscii(char* text)
{
    for (; *text; ++text) {
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
    }
}

bool EqualsNoCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
        if (x == '\0') return true;
    }
}
