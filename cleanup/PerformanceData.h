// Readers of the two things the NT termination by image takes from the
// registry: the perflib "Counters" strings, which give the index of the
// process object and of its ID Process counter, and the performance-data
// block of that object, which lists the running processes. Both arrive as
// bytes the system hands over; every offset, length and count in them is
// checked against the buffer before it is used.
#pragma once

#include <cstddef>
#include <cstdint>

// Room for the decimal digits of a 32-bit index and the terminator.
const std::size_t kCounterIndexTextSize = 11;

struct CounterIndexes {
    char objectIndexText[kCounterIndexTextSize];  // the process object's index, in decimal
    std::uint32_t idProcessIndex;                 // title index of the ID Process counter
};

// Reads a "Counters" value: zero-terminated strings, index and name in
// turn, closed by an empty string. A string cut by the end of the buffer
// ends there. For the names "process" and "id process" (any case) the index
// is the run of decimal digits that ends the string before the name; later
// names replace earlier ones, and a name with no such run is passed over.
// True when both were found.
bool ReadCounterIndexes(const char* data, std::size_t size, CounterIndexes& indexes);

const std::size_t kPerfProcessTableSize = 255;
const std::uint32_t kPerfProcessTableLimit = 254;  // entries ever filled
const std::size_t kPerfProcessNameSize = 16;
const std::uint32_t kPerfIdleProcessId = 0xFFFFFFFEu;  // stored for the identifier 0

struct PerfProcessEntry {
    std::uint32_t processId;
    // The ANSI name, unterminated when it has 16 characters; empty when the
    // name is longer, "unknown" when it could not be converted.
    char name[kPerfProcessNameSize];
};

// Fills `table` (kPerfProcessTableSize entries, zero-filled first) from a
// performance-data block holding the process object. The identifier of an
// instance is its counter with the title index `idProcessIndex`. Returns the
// number of entries filled; a block that is not one, lacks the counter or is
// cut or contradicts itself anywhere gives an empty table (0).
std::uint32_t ReadPerfProcessTable(const unsigned char* block, std::size_t size, std::uint32_t idProcessIndex,
                                   PerfProcessEntry* table);

// True when the instance name `name` (of a PerfProcessEntry) names the
// image base name `target`: equal ignoring case, or the target followed by
// '#' and digits, as performance data names a second process of one image.
bool InstanceNameMatches(const PerfProcessEntry& entry, const char* target);
