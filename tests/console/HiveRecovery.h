// What Windows does with a hive's transaction logs (<hive>.LOG, .LOG1,
// .LOG2) when it loads the hive, by the format's published recovery rules,
// and the logs themselves, written as Windows writes them:
// - a hive is dirty when its header's checksum is wrong or its primary and
//   secondary sequence numbers differ; a hive that is not dirty is loaded
//   as it is, whatever its logs hold;
// - a log of the old format (file type 1: a copy of the header, a "DIRT"
//   bitmap of 512-byte pages at 512, the dirty pages after it) is applied
//   to a dirty hive whose "last written" timestamp equals the one in the
//   log's header;
// - a log of the new format (file type 6: "HvLE" entries from offset 512,
//   each at a multiple of 512) is applied to a dirty hive entry by entry,
//   the .LOG1 and then the .LOG2: entries numbered below the hive's
//   secondary sequence number were applied before and are passed over; the
//   first one applied must carry exactly that number, and each next one
//   the number after the last; the chain ends at the first that does not.
//   An entry applied writes its pages at 4096 + their offsets and its
//   number into both sequence numbers.
// The entries' Marvin32 hashes are not checked here: every entry is taken
// as valid, which can only make more of a log applicable than Windows would.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace hiverecovery {

const std::size_t kHeaderSize = 4096;
const std::size_t kSector = 512;
const std::size_t kSequence1 = 4;
const std::size_t kSequence2 = 8;
const std::size_t kTimestamp = 12;
const std::size_t kFileType = 28;
const std::size_t kBinsSize = 40;
const std::size_t kChecksum = 508;

inline std::uint32_t Le32(const std::string& bytes, std::size_t at)
{
    if (at + 4 > bytes.size()) return 0;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return b[0] | static_cast<std::uint32_t>(b[1]) << 8 | static_cast<std::uint32_t>(b[2]) << 16 |
           static_cast<std::uint32_t>(b[3]) << 24;
}

inline void PutLe32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    if (bytes.size() < at + 4) bytes.resize(at + 4, '\0');
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
}

inline std::uint32_t Checksum(const std::string& header)
{
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < kChecksum; at += 4) sum ^= Le32(header, at);
    if (sum == 0xFFFFFFFFu) sum = 0xFFFFFFFEu;
    if (sum == 0) sum = 1;
    return sum;
}

inline void FixChecksum(std::string& header)
{
    PutLe32(header, kChecksum, Checksum(header));
}

inline bool IsDirty(const std::string& hive)
{
    return hive.size() < kHeaderSize || Checksum(hive) != Le32(hive, kChecksum) ||
           Le32(hive, kSequence1) != Le32(hive, kSequence2);
}

// The hive's header as a log's first sector holds it.
inline std::string LogHeader(const std::string& hive, std::uint32_t fileType)
{
    std::string header = hive.substr(0, kSector);
    PutLe32(header, kFileType, fileType);
    FixChecksum(header);
    return header;
}

inline void PadToSector(std::string& bytes)
{
    bytes.resize((bytes.size() + kSector - 1) / kSector * kSector, '\0');
}

// One new-format entry: `pages` of the hive's bins data, all of it from
// offset 0, under `sequence`.
inline std::string LogEntry(std::uint32_t sequence, const std::string& bins)
{
    std::string entry = "HvLE";
    PutLe32(entry, 8, 0);
    PutLe32(entry, 12, sequence);
    PutLe32(entry, 16, static_cast<std::uint32_t>(bins.size()));
    PutLe32(entry, 20, 1);
    entry.resize(40, '\0');  // the two hashes
    PutLe32(entry, 40, 0);
    PutLe32(entry, 44, static_cast<std::uint32_t>(bins.size()));
    entry += bins;
    PadToSector(entry);
    PutLe32(entry, 4, static_cast<std::uint32_t>(entry.size()));
    return entry;
}

// A new-format log of `hive` holding one entry for each of `sequences`,
// each with the whole of `bins`.
inline std::string NewFormatLog(const std::string& hive, const std::vector<std::uint32_t>& sequences,
                                const std::string& bins)
{
    std::string log = LogHeader(hive, 6);
    for (std::uint32_t sequence : sequences) log += LogEntry(sequence, bins);
    return log;
}

// An old-format log of `hive` that marks every page of `bins` dirty.
inline std::string OldFormatLog(const std::string& hive, const std::string& bins)
{
    std::string log = LogHeader(hive, 1);
    std::string vector = "DIRT" + std::string(bins.size() / kSector / 8, '\xFF');
    PadToSector(vector);
    return log + vector + bins;
}

// Applies the new-format entries of `log` that follow the chain from
// `next`; false once the chain has ended.
inline bool ApplyNewFormat(std::string& hive, const std::string& log, std::uint32_t& next, bool& started)
{
    for (std::size_t at = kSector; at + 40 <= log.size();) {
        if (log.compare(at, 4, "HvLE") != 0) return true;
        const std::uint32_t size = Le32(log, at + 4);
        const std::uint32_t sequence = Le32(log, at + 12);
        if (size < 40 || size % kSector != 0 || at + size > log.size()) return true;
        if (!started && sequence < next) {
            at += size;
            continue;
        }
        if (sequence != next) return false;
        started = true;
        const std::uint32_t binsSize = Le32(log, at + 16);
        const std::uint32_t pages = Le32(log, at + 20);
        if (hive.size() < kHeaderSize + binsSize) hive.resize(kHeaderSize + binsSize, '\0');
        std::size_t data = at + 40 + 8 * static_cast<std::size_t>(pages);
        for (std::uint32_t page = 0; page < pages; ++page) {
            const std::uint32_t offset = Le32(log, at + 40 + 8 * page);
            const std::uint32_t length = Le32(log, at + 44 + 8 * page);
            if (data + length > log.size() || kHeaderSize + offset + length > hive.size()) return false;
            hive.replace(kHeaderSize + offset, length, log, data, length);
            data += length;
        }
        PutLe32(hive, kSequence1, sequence);
        PutLe32(hive, kSequence2, sequence);
        PutLe32(hive, kBinsSize, binsSize);
        ++next;
        at += size;
    }
    return true;
}

inline void ApplyOldFormat(std::string& hive, const std::string& log)
{
    if (log.compare(kSector, 4, "DIRT") != 0) return;
    if (log.compare(kTimestamp, 8, hive, kTimestamp, 8) != 0) return;
    const std::size_t pages = (hive.size() - kHeaderSize) / kSector;
    std::size_t vectorEnd = kSector + 4 + (pages + 7) / 8;
    vectorEnd = (vectorEnd + kSector - 1) / kSector * kSector;
    std::size_t data = vectorEnd;
    for (std::size_t page = 0; page < pages; ++page) {
        const unsigned char bits = static_cast<unsigned char>(log[kSector + 4 + page / 8]);
        if (!(bits & (1u << (page % 8)))) continue;
        if (data + kSector > log.size()) return;
        hive.replace(kHeaderSize + page * kSector, kSector, log, data, kSector);
        data += kSector;
    }
}

// The hive as Windows loads it beside `logs` (their bytes, in the order
// .LOG, .LOG1, .LOG2; "" for a log that is not there).
inline std::string LoadAsWindowsWould(const std::string& hive, const std::vector<std::string>& logs)
{
    if (!IsDirty(hive)) return hive;
    std::string loaded = hive;
    std::uint32_t next = Le32(hive, kSequence2);
    bool started = false;
    bool going = true;
    for (const std::string& log : logs) {
        if (log.size() < 2 * kSector) continue;
        const std::uint32_t type = Le32(log, kFileType);
        if (type == 1) ApplyOldFormat(loaded, log);
        else if (type == 6 && going) going = ApplyNewFormat(loaded, log, next, started);
    }
    PutLe32(loaded, kSequence2, Le32(loaded, kSequence1));
    FixChecksum(loaded);
    return loaded;
}

// The hive as it is when Windows crashed at the start of its next write to
// it: its primary sequence number moved on, its secondary one not.
inline std::string CrashedInItsNextWrite(std::string hive)
{
    PutLe32(hive, kSequence1, Le32(hive, kSequence1) + 1);
    FixChecksum(hive);
    return hive;
}

}  // namespace hiverecovery
