// libFuzzer target: the PE header reader, the section mapping and both
// signature matchers on arbitrary file content. The input is stored as one
// file of the in-memory platform and goes through the examination's calling
// order. Any crash, sanitizer report or broken invariant is a finding.
//
// The compiled-in records rarely accept a fuzzed length (almost all demand
// one exact size), so the input also aims a few records of its own: its last
// 48 bytes, when it has them, give two positions and two patterns, and the
// matchers run over those records with every size rule. That reaches the
// mapping, the seeks and the comparisons with positions the fuzzer chooses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/fake/FakePlatform.h"
#include "scan/PeLayout.h"
#include "scan/SignatureMatch.h"
#include "scan/SignatureRecord.h"

namespace {

const char kInputPath[] = "C:\\fuzz\\input.bin";
const std::size_t kAimSize = 48;

void Require(bool condition)
{
    if (!condition) std::abort();
}

std::int32_t Le32(const std::uint8_t* bytes)
{
    std::uint32_t value = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                          (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    std::int32_t result;
    std::memcpy(&result, &value, sizeof result);
    return result;
}

// Records aimed by the input's tail: one per size rule (including one that
// never matches), then the terminator.
void AimRecords(const std::uint8_t* data, std::size_t size, std::int32_t length, SignatureRecord (&records)[5])
{
    std::memset(records, 0, sizeof records);
    if (size < kAimSize) return;
    const std::uint8_t* aim = data + size - kAimSize;
    const std::int32_t rules[] = {SizeExact, SizeNear, SizeAny, 0};
    for (std::size_t i = 0; i < 4; ++i) {
        SignatureRecord& record = records[i];
        std::memcpy(record.name, "aimed", 6);
        record.offset1 = Le32(aim);
        record.offset2 = Le32(aim + 4);
        std::memcpy(record.pattern1, aim + 8, kPatternLength);
        std::memcpy(record.pattern2, aim + 28, kPatternLength);
        record.fileSize = length + static_cast<std::int32_t>(i) * 1000;
        record.sizeRule = rules[i];
    }
}

bool InRange(std::int32_t hit, std::size_t records)
{
    return hit == kNoRecord || (hit >= 0 && static_cast<std::size_t>(hit) < records);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FakePlatform fake;
    fake.AddDrive('C', DriveFixed);
    fake.AddFile(kInputPath, std::string(reinterpret_cast<const char*>(data), size));
    SetPlatform(&fake);

    FileRef file = Sys().OpenForRead(kInputPath);
    Require(file != kNoFile);
    std::int32_t length = Sys().FileLength(file);
    Require(length == static_cast<std::int32_t>(size));

    SignatureRecord aimed[5];
    AimRecords(data, size, length, aimed);

    PeLayout layout;
    if (ReadPeHeader(file, layout) && ReadPeSections(file, layout)) {
        Require(layout.numberOfSections <= kMaxPeSections);
        Require(InRange(MatchSignatureTable(file, length, layout), kSignatureTableEntries - 1));
        Require(InRange(MatchPeRecords(aimed, 5, file, length, layout), 4));
        // The mapping on its own, for addresses around the entry point.
        std::uint32_t entry = layout.addressOfEntryPoint;
        for (std::uint32_t rva : {entry, entry - 1, entry + 1, 0u, 0xFFFFFFFFu}) {
            RvaToFileOffset(layout, rva, file);
        }
    }
    Require(InRange(MatchArchiveWormTable(file, length), kArchiveWormTableEntries - 1));
    Require(InRange(MatchArchiveRecords(aimed, 5, file, length), 4));

    Sys().CloseFile(file);
    SetPlatform(nullptr);
    return 0;
}
