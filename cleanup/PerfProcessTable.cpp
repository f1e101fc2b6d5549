#include "cleanup/PerformanceData.h"

#include <cstring>

#include "platform/Platform.h"
#include "scan/BoundedText.h"

namespace {

// Field offsets of the platform's performance-data structures.
const std::uint64_t kBlockHeaderLength = 24;        // PERF_DATA_BLOCK.HeaderLength
const std::uint64_t kBlockFixedSize = 28;
const std::uint64_t kObjectDefinitionLength = 4;    // PERF_OBJECT_TYPE
const std::uint64_t kObjectHeaderLength = 8;
const std::uint64_t kObjectNumCounters = 32;
const std::uint64_t kObjectNumInstances = 40;
const std::uint64_t kObjectFixedSize = 44;
const std::uint64_t kCounterDefinitionSize = 40;    // PERF_COUNTER_DEFINITION
const std::uint64_t kCounterNameTitleIndex = 4;
const std::uint64_t kCounterOffset = 36;
const std::uint64_t kInstanceNameOffset = 16;       // PERF_INSTANCE_DEFINITION
const std::uint64_t kInstanceFixedSize = 24;

// A name converts into 260 bytes with its terminator, so one of 260
// characters or more cannot be converted at all.
const std::size_t kNameConversionSize = kPathBufferSize;

const char kUnknownName[] = "unknown";

// The bytes of one block, read only through bounds-checked accessors.
// Offsets are 64-bit so that adding two 32-bit fields cannot wrap.
struct BlockReader {
    const unsigned char* bytes;
    std::uint64_t size;

    bool Has(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= size && length <= size - offset;
    }
    bool U32(std::uint64_t offset, std::uint32_t& value) const
    {
        if (!Has(offset, 4)) return false;
        const unsigned char* p = bytes + offset;
        value = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
        return true;
    }
    std::uint16_t U16(std::uint64_t offset) const
    {
        return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
    }
};

bool HasPerfSignature(const BlockReader& block)
{
    static const char kSignature[] = "PERF";
    if (!block.Has(0, 8)) return false;
    for (std::uint64_t i = 0; i < 4; ++i) {
        if (block.U16(2 * i) != static_cast<unsigned char>(kSignature[i])) return false;
    }
    return true;
}

// Offset of the ID Process counter within each instance's counter block.
bool FindIdCounterOffset(const BlockReader& block, std::uint64_t object, std::uint32_t idProcessIndex,
                         std::uint32_t& counterOffset)
{
    std::uint32_t headerLength = 0, numCounters = 0;
    if (!block.U32(object + kObjectHeaderLength, headerLength) ||
        !block.U32(object + kObjectNumCounters, numCounters)) {
        return false;
    }
    std::uint64_t definition = object + headerLength;
    for (std::uint32_t i = 0; i < numCounters; ++i, definition += kCounterDefinitionSize) {
        std::uint32_t titleIndex = 0;
        if (!block.Has(definition, kCounterDefinitionSize)) return false;
        block.U32(definition + kCounterNameTitleIndex, titleIndex);
        if (titleIndex == idProcessIndex) return block.U32(definition + kCounterOffset, counterOffset);
    }
    return false;
}

// The instance's name into `entry`. The name must end within the instance
// definition [instance, end). False when it does not.
bool ReadInstanceName(const BlockReader& block, std::uint64_t instance, std::uint64_t end, PerfProcessEntry& entry)
{
    std::uint32_t nameOffset = 0;
    block.U32(instance + kInstanceNameOffset, nameOffset);
    std::uint64_t at = instance + nameOffset;
    std::uint16_t units[kNameConversionSize];
    std::size_t count = 0;
    bool terminated = false;
    while (count < kNameConversionSize) {
        if (at + 2 > end) return false;
        units[count] = block.U16(at);
        at += 2;
        if (units[count] == 0) {
            terminated = true;
            break;
        }
        ++count;
    }
    char converted[kNameConversionSize];
    int written = terminated ? Sys().WideToAnsi(units, static_cast<int>(count) + 1, converted,
                                                static_cast<int>(sizeof converted))
                             : 0;
    if (written <= 0) {
        std::memcpy(entry.name, kUnknownName, sizeof kUnknownName - 1);
        return true;
    }
    std::size_t length = BoundedLength(converted, static_cast<std::size_t>(written));
    if (length <= kPerfProcessNameSize) std::memcpy(entry.name, converted, length);
    return true;
}

bool ReadTable(const BlockReader& block, std::uint32_t idProcessIndex, PerfProcessEntry* table,
               std::uint32_t& filled)
{
    std::uint32_t objectOffset = 0;
    if (!block.Has(0, kBlockFixedSize) || !HasPerfSignature(block)) return false;
    block.U32(kBlockHeaderLength, objectOffset);
    const std::uint64_t object = objectOffset;
    if (!block.Has(object, kObjectFixedSize)) return false;

    std::uint32_t counterOffset = 0;
    if (!FindIdCounterOffset(block, object, idProcessIndex, counterOffset)) return false;

    std::uint32_t definitionLength = 0, instances = 0;
    block.U32(object + kObjectDefinitionLength, definitionLength);
    block.U32(object + kObjectNumInstances, instances);
    if (instances > kPerfProcessTableLimit) instances = kPerfProcessTableLimit;

    std::uint64_t instance = object + definitionLength;
    for (std::uint32_t i = 0; i < instances; ++i) {
        std::uint32_t instanceLength = 0, counterLength = 0, processId = 0;
        if (!block.U32(instance, instanceLength) || instanceLength < kInstanceFixedSize ||
            !block.Has(instance, instanceLength)) {
            return false;
        }
        const std::uint64_t counters = instance + instanceLength;
        if (!ReadInstanceName(block, instance, counters, table[i])) return false;
        if (!block.U32(counters, counterLength) || !block.Has(counters, counterLength) ||
            static_cast<std::uint64_t>(counterOffset) + 4 > counterLength) {
            return false;
        }
        block.U32(counters + counterOffset, processId);
        table[i].processId = processId != 0 ? processId : kPerfIdleProcessId;
        filled = i + 1;
        instance = counters + counterLength;
    }
    return true;
}

}  // namespace

std::uint32_t ReadPerfProcessTable(const unsigned char* block, std::size_t size, std::uint32_t idProcessIndex,
                                   PerfProcessEntry* table)
{
    std::memset(table, 0, kPerfProcessTableSize * sizeof(PerfProcessEntry));
    if (block == nullptr) return 0;
    BlockReader reader = {block, size};
    std::uint32_t filled = 0;
    if (ReadTable(reader, idProcessIndex, table, filled)) return filled;
    std::memset(table, 0, kPerfProcessTableSize * sizeof(PerfProcessEntry));
    return 0;
}

bool InstanceNameMatches(const PerfProcessEntry& entry, const char* target)
{
    const std::size_t nameLength = BoundedLength(entry.name, sizeof entry.name);
    const std::size_t targetLength = std::strlen(target);
    if (targetLength == 0 || nameLength < targetLength) return false;
    if (!EqualsNoCaseCounted(entry.name, target, targetLength)) return false;
    if (nameLength == targetLength) return true;
    if (entry.name[targetLength] != '#' || nameLength == targetLength + 1) return false;
    for (std::size_t i = targetLength + 1; i < nameLength; ++i) {
        if (entry.name[i] < '0' || entry.name[i] > '9') return false;
    }
    return true;
}
