#include "scan/BoundedText.h"

#include <cstring>

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
    for (; *text; ++text) *text = UpperAscii(*text);
}

void ToLowerAscii(char* text)
{
    for (; *text; ++text) *text = LowerAscii(*text);
}

bool EqualsNoCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        if (UpperAscii(*a) != UpperAscii(*b)) return false;
        if (*a == '\0') return true;
    }
}

bool EqualsNoCaseCounted(const char* a, const char* b, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
        if (a[i] == '\0') return true;
    }
    return true;
}
