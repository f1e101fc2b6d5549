#include "scan/ScriptMatch.h"

#include <cstring>

#include "scan/BoundedText.h"
#include "scan/FileReads.h"
#include "scan/ScanState.h"

namespace {

const std::int32_t kLargeTextBlock = 1024;
const std::int32_t kSmallTextBlock = 512;
const std::int32_t kTagBlock = 100;
// Looked for in this order.
const char* const kClosingTags[] = {"</BODY>", "</HTML>", "</SCRIPT>"};

bool IsWhitespace(unsigned char c)
{
    return c == 0x20 || (c >= 0x09 && c <= 0x0D);
}

bool LineFeedBeforeZero(const unsigned char* bytes, std::size_t size)
{
    for (std::size_t i = 0; i < size && bytes[i] != 0; ++i) {
        if (bytes[i] == 0x0A) return true;
    }
    return false;
}

// The whitespace-free first and last blocks of a file, and how far a search
// in them reaches: the block size, or the whole file when it is shorter.
struct ScriptBlocks {
    unsigned char head[kScriptBlockSize];
    unsigned char tail[kScriptBlockSize];
    std::size_t headLength;
    std::size_t tailLength;
    std::size_t extent;
};

bool ReadBlocks(FileRef file, std::int32_t length, ScriptBlocks& blocks)
{
    unsigned char raw[kScriptBlockSize];
    const std::int32_t block = static_cast<std::int32_t>(kScriptBlockSize);
    if (length >= block) {
        if (!ReadExactAt(file, 0, raw, kScriptBlockSize)) return false;
        blocks.headLength = StripWhitespace(raw, kScriptBlockSize, blocks.head);
        if (!ReadExactAt(file, length - block, raw, kScriptBlockSize)) return false;
        blocks.tailLength = StripWhitespace(raw, kScriptBlockSize, blocks.tail);
        blocks.extent = kScriptBlockSize;
        return true;
    }
    const std::size_t size = static_cast<std::size_t>(length);
    if (!ReadExactAt(file, 0, raw, static_cast<std::uint32_t>(size))) return false;
    blocks.headLength = StripWhitespace(raw, size, blocks.head);
    std::memcpy(blocks.tail, blocks.head, blocks.headLength);
    blocks.tailLength = blocks.headLength;
    blocks.extent = size;
    return true;
}

bool PassesSizeTest(const ScriptSignatureRecord& record, std::int32_t length)
{
    // Widened: a length near the top of the 32-bit range must not wrap.
    const std::int64_t file = length;
    const std::int64_t reference = record.fileSize;
    switch (record.sizeTest) {
    case kScriptSizeEqual:
        return file == reference;
    case kScriptSizeNear:
        return file - kScriptSizeWindow <= reference && reference <= file + kScriptSizeWindow;
    default:
        return true;
    }
}

// Fixed-position mode: the 100 bytes at `offset` from the start of the head
// block, or `offset` bytes before the end of the tail block's data. What
// lies outside the data (a negative offset included) stays zero.
void CopyFixedWindow(const ScriptSignatureRecord& record, const ScriptBlocks& blocks, ScriptWorkBuffer& work)
{
    if (record.offset < 0) return;
    const std::size_t offset = static_cast<std::size_t>(record.offset);
    const bool tail = record.anchor == kScriptAnchorTail;
    const unsigned char* data = tail ? blocks.tail : blocks.head;
    const std::size_t length = tail ? blocks.tailLength : blocks.headLength;
    if (offset > length) return;
    const std::size_t start = tail ? length - offset : offset;
    std::size_t count = length - start;
    if (count > kScriptPatternSize) count = kScriptPatternSize;
    std::memcpy(work, data + start, count);
}

// The record's tests of the file's length alone.
bool LengthFits(const ScriptSignatureRecord& record, std::int32_t length)
{
    const std::size_t compared = record.patternLength;
    if (compared == 0 || compared > kScriptPatternSize) return false;
    if (length < static_cast<std::int32_t>(compared)) return false;
    return PassesSizeTest(record, length);
}

bool RecordMatches(const ScriptSignatureRecord& record, const ScriptBlocks& blocks, std::int32_t length)
{
    if (!LengthFits(record, length)) return false;
    const std::size_t compared = record.patternLength;
    ScriptWorkBuffer work;
    std::memset(work, 0, sizeof work);
    if (record.searchMode == kScriptSearchAnywhere) {
        const bool tail = record.anchor == kScriptAnchorTail;
        std::memcpy(work, tail ? blocks.tail : blocks.head, tail ? blocks.tailLength : blocks.headLength);
        return FindPattern(work, blocks.extent, record.pattern, compared);
    }
    CopyFixedWindow(record, blocks, work);
    return std::memcmp(work, record.pattern, compared) == 0;
}

}  // namespace

bool LooksLikeText(FileRef file)
{
    const std::int32_t length = Sys().FileLength(file);
    if (length < 0) return false;
    std::int32_t block = length > kLargeTextBlock ? kLargeTextBlock : kSmallTextBlock;
    if (block > length) block = length;
    const std::uint32_t count = static_cast<std::uint32_t>(block);
    unsigned char bytes[kLargeTextBlock + 1];
    std::memset(bytes, 0, sizeof bytes);
    if (!ReadExactAt(file, 0, bytes, count)) return false;
    if (LineFeedBeforeZero(bytes, count)) return true;
    if (!ReadExactAt(file, length - block, bytes, count)) return false;
    return LineFeedBeforeZero(bytes, count);
}

bool EndsWithClosingTag(FileRef file)
{
    const std::int32_t length = Sys().FileLength(file);
    if (length < kTagBlock) return false;
    char bytes[kTagBlock + 1];
    std::memset(bytes, 0, sizeof bytes);
    if (!ReadExactAt(file, length - kTagBlock, bytes, kTagBlock)) return false;
    // Both stop at the first zero byte, as the tag search must.
    ToUpperAscii(bytes);
    for (const char* tag : kClosingTags) {
        if (std::strstr(bytes, tag)) return true;
    }
    return false;
}

std::size_t StripWhitespace(const unsigned char* block, std::size_t length, unsigned char* destination)
{
    std::size_t written = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (!IsWhitespace(block[i])) destination[written++] = block[i];
    }
    return written;
}

bool FindPattern(const ScriptWorkBuffer& block, std::size_t extent, const unsigned char* pattern,
                 std::size_t length)
{
    if (length == 0) return false;
    if (extent > kScriptBlockSize) extent = kScriptBlockSize;
    if (length > kScriptPatternSize) length = kScriptPatternSize;
    for (std::size_t at = 0; at < extent; ++at) {
        if (block[at] == pattern[0] && std::memcmp(block + at, pattern, length) == 0) return true;
    }
    return false;
}

std::int32_t MatchScriptRecords(const ScriptSignatureRecord* records, std::size_t count, FileRef file)
{
    // The length decides for almost every file that no record can match;
    // nothing is read then. The records' length tests come again below, in
    // their order, so the outcome is the same as reading first.
    const std::int32_t length = Sys().FileLength(file);
    if (length < 0) return kNoScriptRecord;
    bool anyFits = false;
    for (std::size_t i = 0; i < count && !anyFits; ++i) anyFits = LengthFits(records[i], length);
    if (!anyFits) return kNoScriptRecord;
    if (!LooksLikeText(file) && !EndsWithClosingTag(file)) return kNoScriptRecord;
    ScriptBlocks blocks;
    if (!ReadBlocks(file, length, blocks)) return kNoScriptRecord;
    for (std::size_t i = 0; i < count; ++i) {
        if (RecordMatches(records[i], blocks, length)) return static_cast<std::int32_t>(i);
    }
    return kNoScriptRecord;
}

std::int32_t MatchScriptSignatures(FileRef file)
{
    std::int32_t slot = MatchScriptRecords(ScriptSignatureTable, kScriptTableSlots, file);
    if (slot != kNoScriptRecord) ++ScanStatistics.filesInfected;
    return slot;
}
