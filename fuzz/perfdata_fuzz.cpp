// libFuzzer target: the readers of the perflib "Counters" strings and of the
// performance-data block, on arbitrary bytes. Any crash, sanitizer report
// or broken invariant is a finding.
//
// Invariants: the object index read is 1 to 10 decimal digits; at most 254
// entries are filled, every filled one has a nonzero identifier and a name
// of at most 16 characters, and every entry after them stays zero.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cleanup/PerformanceData.h"
#include "platform/fake/FakePlatform.h"

namespace {

const std::uint32_t kIdProcessIndex = 784;

void Require(bool condition)
{
    if (!condition) std::abort();
}

bool IsZero(const PerfProcessEntry& entry)
{
    static const PerfProcessEntry zero = {};
    return std::memcmp(&entry, &zero, sizeof entry) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static FakePlatform fake;  // converts the instance names
    SetPlatform(&fake);

    CounterIndexes indexes;
    if (ReadCounterIndexes(reinterpret_cast<const char*>(data), size, indexes)) {
        std::size_t digits = std::strlen(indexes.objectIndexText);
        Require(digits >= 1 && digits < kCounterIndexTextSize);
        for (std::size_t i = 0; i < digits; ++i) {
            Require(indexes.objectIndexText[i] >= '0' && indexes.objectIndexText[i] <= '9');
        }
    }

    static PerfProcessEntry table[kPerfProcessTableSize];
    std::memset(table, 0xA5, sizeof table);
    std::uint32_t filled = ReadPerfProcessTable(data, size, kIdProcessIndex, table);
    Require(filled <= kPerfProcessTableLimit);
    for (std::uint32_t i = 0; i < kPerfProcessTableSize; ++i) {
        if (i >= filled) {
            Require(IsZero(table[i]));
            continue;
        }
        Require(table[i].processId != 0);
        // The name is a text of at most 16 characters: after its end the
        // field holds only zeros.
        std::size_t length = strnlen(table[i].name, sizeof table[i].name);
        for (std::size_t j = length; j < sizeof table[i].name; ++j) Require(table[i].name[j] == '\0');
        // Another name matches only when it is the same or a numbered copy.
        if (length > 0) {
            char target[kPerfProcessNameSize + 1] = {};
            std::memcpy(target, table[i].name, length);
            Require(InstanceNameMatches(table[i], target));
        }
    }
    return 0;
}
