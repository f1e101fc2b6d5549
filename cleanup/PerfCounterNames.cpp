#include "cleanup/PerformanceData.h"

#include <cstring>

#include "scan/BoundedText.h"

namespace {

// The trailing run of decimal digits of `text` (of `length` characters) as
// text, when it is 1 to 10 digits long and its value fits 32 bits.
bool TrailingIndex(const char* text, std::size_t length, char* out, std::uint32_t& value)
{
    std::size_t start = length;
    while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9') --start;
    std::size_t digits = length - start;
    if (digits == 0 || digits >= kCounterIndexTextSize) return false;
    std::uint64_t number = 0;
    for (std::size_t i = start; i < length; ++i) number = number * 10 + static_cast<unsigned>(text[i] - '0');
    if (number > 0xFFFFFFFFu) return false;
    std::memcpy(out, text + start, digits);
    out[digits] = '\0';
    value = static_cast<std::uint32_t>(number);
    return true;
}

// Case-insensitive comparison of a counted string with a terminated one.
bool CountedEqualsNoCase(const char* text, std::size_t length, const char* name)
{
    return std::strlen(name) == length && EqualsNoCaseCounted(text, name, length);
}

}  // namespace

bool ReadCounterIndexes(const char* data, std::size_t size, CounterIndexes& indexes)
{
    std::memset(&indexes, 0, sizeof indexes);
    bool haveObject = false;
    bool haveIdProcess = false;
    const char* previous = nullptr;
    std::size_t previousLength = 0;
    std::size_t at = 0;
    while (data != nullptr && at < size) {
        const char* text = data + at;
        std::size_t length = 0;
        while (at + length < size && text[length] != '\0') ++length;
        if (length == 0) break;  // the closing empty string
        char digits[kCounterIndexTextSize];
        std::uint32_t value = 0;
        if (previous != nullptr && CountedEqualsNoCase(text, length, "process") &&
            TrailingIndex(previous, previousLength, digits, value)) {
            CopyText(indexes.objectIndexText, sizeof indexes.objectIndexText, digits);
            haveObject = true;
        } else if (previous != nullptr && CountedEqualsNoCase(text, length, "id process") &&
                   TrailingIndex(previous, previousLength, digits, value)) {
            indexes.idProcessIndex = value;
            haveIdProcess = true;
        }
        previous = text;
        previousLength = length;
        at += length + 1;
    }
    return haveObject && haveIdProcess;
}
