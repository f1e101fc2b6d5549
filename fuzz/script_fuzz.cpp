// libFuzzer target: the script matchers on arbitrary file content. The
// input is stored as one file of the in-memory platform and goes through
// MatchScriptSignatures, as the script cleaner calls it, and through the
// text and tag tests on their own. Any crash, sanitizer report or broken
// invariant is a finding.
//
// The compiled-in records demand three exact lengths, so the input also
// aims a record of its own: its last 16 bytes, when it has them, give the
// mode, anchor, offset, size test and pattern length, and the pattern is
// taken from the bytes before them. That reaches the fixed-position copies
// and the searches with positions and lengths the fuzzer chooses. A first
// byte 'S' makes the file sparse, with a length from the next four bytes,
// so lengths far beyond the input (up to 4 GiB) are read as well.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/fake/FakePlatform.h"
#include "scan/ScanState.h"
#include "scan/ScriptMatch.h"
#include "scan/ScriptSignature.h"

namespace {

const char kInputPath[] = "C:\\fuzz\\input.htm";
const std::size_t kAimSize = 16;

void Require(bool condition)
{
    if (!condition) std::abort();
}

std::uint32_t Le(const std::uint8_t* bytes, std::size_t count)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    return value;
}

std::int16_t Le16Signed(const std::uint8_t* bytes)
{
    std::uint16_t value = static_cast<std::uint16_t>(Le(bytes, 2));
    std::int16_t result;
    std::memcpy(&result, &value, sizeof result);
    return result;
}

// One aimed record, then an empty slot; without an aim both are empty.
void AimRecords(const std::uint8_t* data, std::size_t size, ScriptSignatureRecord (&records)[2])
{
    std::memset(records, 0, sizeof records);
    if (size < kAimSize) return;
    const std::uint8_t* aim = data + size - kAimSize;
    ScriptSignatureRecord& record = records[0];
    std::memcpy(record.name, "aimed", 6);
    record.searchMode = static_cast<std::int16_t>(aim[0] & 1);
    record.anchor = static_cast<std::int16_t>(aim[1] & 1);
    record.offset = Le16Signed(aim + 2);
    record.sizeTest = static_cast<std::int16_t>(16 + aim[4] % 3);
    record.fileSize = static_cast<std::int32_t>(Le(aim + 5, 4));
    // Up to 127: a length beyond the field must never match or overrun.
    record.patternLength = static_cast<std::uint16_t>(aim[9] & 0x7F);
    const std::size_t before = size - kAimSize;
    const std::size_t take = before < kScriptPatternSize ? before : kScriptPatternSize;
    std::memcpy(record.pattern, data + before - take, take);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static bool descrambled = false;
    if (!descrambled) {
        DescrambleScriptTable();
        descrambled = true;
    }
    FakePlatform fake;
    fake.AddDrive('C', DriveFixed);
    fake.AddFile(kInputPath, std::string(reinterpret_cast<const char*>(data), size));
    if (size >= 5 && data[0] == 'S') fake.SetSparseLength(kInputPath, static_cast<std::int64_t>(Le(data + 1, 4)));
    SetPlatform(&fake);

    FileRef file = Sys().OpenForRead(kInputPath);
    Require(file != kNoFile);

    ScanStatistics.filesInfected = 0;
    std::int32_t slot = MatchScriptSignatures(file);
    Require(slot == kNoScriptRecord || (slot >= 0 && slot < 3));
    Require(ScanStatistics.filesInfected == (slot == kNoScriptRecord ? 0 : 1));

    ScriptSignatureRecord aimed[2];
    AimRecords(data, size, aimed);
    std::int32_t hit = MatchScriptRecords(aimed, 2, file);
    Require(hit == kNoScriptRecord || hit == 0);
    Require(hit == kNoScriptRecord || aimed[0].patternLength <= kScriptPatternSize);

    const bool text = LooksLikeText(file);
    const bool tagged = EndsWithClosingTag(file);
    Require(slot == kNoScriptRecord || text || tagged);

    // No read starts before the file or ends past it.
    const std::int32_t length = Sys().FileLength(file);
    for (const FakePlatform::FileRead& read : fake.fileReads) {
        Require(length >= 0 && read.position >= 0 && read.position + read.count <= length);
    }

    Sys().CloseFile(file);
    SetPlatform(nullptr);
    return 0;
}
