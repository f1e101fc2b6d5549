#include "scan/SignatureMatch.h"

#include <cstring>

#include "scan/FileReads.h"

namespace {

// The archived-worm patterns are searched in a block read at each position.
// Start positions run from 0 to 1003 only, so a pattern that ends on the
// block's last byte (start 1004) is not found.
const std::uint32_t kArchiveBlockSize = 1024;
const std::uint32_t kArchiveLastStart = 1003;
static_assert(kArchiveLastStart + kPatternLength <= kArchiveBlockSize, "search stays inside the block");

// Bytes of the archive check at the start of the file.
const std::uint32_t kArchiveHeadSize = 40;

// True when the 20 bytes at `position` equal `pattern`. Positions above the
// signed 32-bit range are negative seeks to the file functions, which fail.
bool PatternAt(FileRef file, std::uint32_t position, const unsigned char* pattern)
{
    if (position > 0x7FFFFFFFu) return false;
    unsigned char found[kPatternLength];
    if (!ReadExactAt(file, static_cast<std::int32_t>(position), found, sizeof found)) return false;
    return std::memcmp(found, pattern, kPatternLength) == 0;
}

// True when `pattern` starts somewhere in the first kArchiveLastStart + 1
// positions of the block at `offset`.
bool PatternInBlock(FileRef file, std::int32_t offset, const unsigned char* pattern)
{
    unsigned char block[kArchiveBlockSize];
    if (!ReadExactAt(file, offset, block, sizeof block)) return false;
    for (std::uint32_t start = 0; start <= kArchiveLastStart; ++start) {
        if (std::memcmp(block + start, pattern, kPatternLength) == 0) return true;
    }
    return false;
}

}  // namespace

bool SizeRuleAccepts(const SignatureRecord& record, std::int32_t fileLength)
{
    switch (record.sizeRule) {
    case SizeExact:
        return fileLength == record.fileSize;
    case SizeNear: {
        // Widened so that no pair of 32-bit values can overflow.
        std::int64_t difference = static_cast<std::int64_t>(record.fileSize) - fileLength;
        return difference > -SizeWindow && difference < SizeWindow;
    }
    case SizeAny:
        return true;
    default:
        return false;
    }
}

std::int32_t MatchPeRecords(const SignatureRecord* table, std::size_t entries, FileRef file,
                            std::int32_t fileLength, const PeLayout& layout)
{
    const std::uint32_t entryPoint = layout.addressOfEntryPoint;
    for (std::size_t i = 0; i < entries && table[i].name[0] != '\0'; ++i) {
        const SignatureRecord& record = table[i];
        // Almost every record demands an exact length, so most files end
        // here without further reads.
        if (!SizeRuleAccepts(record, fileLength)) continue;

        // Positions count from the entry point, modulo 2^32.
        std::uint32_t first = RvaToFileOffset(layout, entryPoint + static_cast<std::uint32_t>(record.offset1), file);
        if (!PatternAt(file, first, record.pattern1)) continue;
        std::uint32_t second = RvaToFileOffset(layout, entryPoint + static_cast<std::uint32_t>(record.offset2), file);
        if (!PatternAt(file, second, record.pattern2)) continue;
        return static_cast<std::int32_t>(i);
    }
    return kNoRecord;
}

std::int32_t MatchArchiveRecords(const SignatureRecord* table, std::size_t entries, FileRef file,
                                 std::int32_t fileLength)
{
    for (std::size_t i = 0; i < entries && table[i].name[0] != '\0'; ++i) {
        const SignatureRecord& record = table[i];
        if (!SizeRuleAccepts(record, fileLength)) continue;

        // Not a ZIP archive: no record can match, stop here.
        unsigned char head[kArchiveHeadSize];
        if (!ReadExactAt(file, 0, head, sizeof head)) return kNoRecord;
        if (head[0] != 'P' || head[1] != 'K') return kNoRecord;

        // The two searches are independent of each other.
        if (!PatternInBlock(file, record.offset1, record.pattern1)) continue;
        if (!PatternInBlock(file, record.offset2, record.pattern2)) continue;
        return static_cast<std::int32_t>(i);
    }
    return kNoRecord;
}

std::int32_t MatchSignatureTable(FileRef file, std::int32_t fileLength, const PeLayout& layout)
{
    return MatchPeRecords(SignatureTable, kSignatureTableEntries, file, fileLength, layout);
}

std::int32_t MatchArchiveWormTable(FileRef file, std::int32_t fileLength)
{
    return MatchArchiveRecords(ArchiveWormTable, kArchiveWormTableEntries, file, fileLength);
}
