// libFuzzer target: the encrypted-archive detectors on arbitrary file
// content. The input is stored as one file of the in-memory platform; every
// detector of the list runs over it, then the list match. Any crash,
// sanitizer report or broken invariant is a finding.
//
// Invariants: the file is never written; no detector asks for more bytes than
// its headers and the longest name it reads (ZIP 30 + 299 + 46 + 22, RAR
// 7 + 13 + 32 + 299); the list match names exactly the first detector that
// reports a hit on its own.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/fake/FakePlatform.h"
#include "scan/ArchiveDetectors.h"

namespace {

const char kInputPath[] = "C:\\fuzz\\input.bin";
const std::uint64_t kZipReadLimit = 30 + 299 + 46 + 22;
const std::uint64_t kRarReadLimit = 7 + 13 + 32 + 299;

void Require(bool condition)
{
    if (!condition) std::abort();
}

// The fake, counting what the detectors ask of it.
class CountingPlatform : public FakePlatform {
public:
    std::int32_t ReadBytes(FileRef file, void* buffer, std::uint32_t count) override
    {
        requested += count;
        return FakePlatform::ReadBytes(file, buffer, count);
    }
    std::int32_t WriteBytes(FileRef file, const void* data, std::uint32_t count) override
    {
        ++writes;
        return FakePlatform::WriteBytes(file, data, count);
    }
    std::uint64_t requested = 0;
    std::uint64_t writes = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string content(reinterpret_cast<const char*>(data), size);
    CountingPlatform fake;
    fake.AddDrive('C', DriveFixed);
    fake.AddFile(kInputPath, content);
    SetPlatform(&fake);

    FileRef file = Sys().OpenForRead(kInputPath);
    Require(file != kNoFile);

    const char* firstHit = nullptr;
    for (std::size_t i = 0; i < kArchiveDetectorCount; ++i) {
        const ArchiveDetector& detector = ArchiveDetectorList[i];
        fake.requested = 0;
        bool hit = detector.format == ArchiveZip ? DetectEncryptedZip(file, detector)
                                                 : DetectEncryptedRar(file, detector);
        Require(fake.requested <= (detector.format == ArchiveZip ? kZipReadLimit : kRarReadLimit));
        // A hit needs the whole entry header (the RAR blocks may overlap
        // when their size fields say so).
        if (hit) Require(size >= (detector.format == ArchiveZip ? 30u : 32u));
        if (hit && firstHit == nullptr) firstHit = detector.threatName;
    }
    Require(MatchArchiveDetectors(file) == firstHit);

    Sys().CloseFile(file);
    Require(fake.writes == 0);
    Require(fake.Content(kInputPath) == content);
    return 0;
}
