#include "scan/ArchiveDetectors.h"

#include <cstring>

#include "scan/BoundedText.h"
#include "scan/FileReads.h"

const ArchiveDetector ArchiveDetectorList[kArchiveDetectorCount] = {
    {"W32/Bagle.H.Worm", ArchiveZip, {{0x4C00, 0x6400}, {0, 0}}, 1, MethodStored, true},
    {"W32/Bagle.K.Worm", ArchiveZip, {{0x2C00, 0x3C00}, {0, 0}}, 1, MethodStored, true},
    {"W32/Bagle.J.Worm", ArchiveZip, {{0x4400, 0x4C00}, {0, 0}}, 1, MethodStored, true},
    {"W32/Bagle.N.Worm", ArchiveZip, {{0x4C00, 0x6000}, {0, 0}}, 1, MethodLoose, false},
    {"W32/Bagle.O.Worm", ArchiveZip, {{0xA800, 0xBC00}, {0, 0}}, 1, MethodLoose, false},
    {"W32/Bagle.N.Worm", ArchiveRar, {{0x4C00, 0x6400}, {0, 0}}, 1, MethodStored, false},
    {"W32/Bagle.O.Worm", ArchiveRar, {{0xA800, 0xBC00}, {0, 0}}, 1, MethodStored, false},
    {"W32/Bagle.Aa.Worm", ArchiveZip, {{0x4400, 0x7800}, {0x10400, 0x12400}}, 2, MethodLoose, false},
};

const char* const ExecutableExtensions[] = {"EXE", "SCR", "COM", "BAT", "PIF", ""};

namespace {

// ZIP local file header (30 fixed bytes at offset 0).
const std::uint32_t kZipLocalHeaderSize = 30;
const std::uint32_t kZipLocalFlags = 6;
const std::uint32_t kZipLocalMethod = 8;
const std::uint32_t kZipLocalCompressedSize = 18;
const std::uint32_t kZipLocalUncompressedSize = 22;
const std::uint32_t kZipLocalNameLength = 26;
const std::uint32_t kZipLocalExtraLength = 28;
const std::uint16_t kZipFlagEncrypted = 0x0001;
// The traditional encryption header in front of the data of an entry.
const std::uint32_t kZipEncryptionHeaderSize = 12;

// ZIP central directory file header (46 fixed bytes).
const std::uint32_t kZipCentralHeaderSize = 46;
const std::uint32_t kZipCentralNameLength = 28;
const std::uint32_t kZipCentralExtraLength = 30;
const std::uint32_t kZipCentralCommentLength = 32;

// ZIP end-of-central-directory record (22 fixed bytes).
const std::uint32_t kZipEndRecordSize = 22;
const std::uint32_t kZipEndEntriesOnDisk = 8;
const std::uint32_t kZipEndEntriesTotal = 10;

// RAR 1.5 to 4.x blocks.
const std::uint32_t kRarMarkerSize = 7;
const std::uint32_t kRarMainHeaderSize = 13;
const std::uint32_t kRarBlockHeaderSize = 5;  // offset of every block's 16-bit size field
const std::uint32_t kRarFileHeaderSize = 32;
const std::uint32_t kRarFileFlags = 3;
const std::uint32_t kRarFilePackedSize = 7;
const std::uint32_t kRarFileUnpackedSize = 11;
const std::uint32_t kRarFileMethod = 25;
const std::uint32_t kRarFileNameSize = 26;
const std::uint16_t kRarFlagEncrypted = 0x0004;
const unsigned char kRarMethodStore = '0';

// A file position as the platform takes it; one it cannot express becomes
// -1, which every read refuses.
std::int32_t AsOffset(std::uint32_t position)
{
    return position > 0x7FFFFFFFu ? -1 : static_cast<std::int32_t>(position);
}

bool ReadAt(FileRef file, std::uint32_t position, unsigned char* buffer, std::uint32_t count)
{
    return ReadExactAt(file, AsOffset(position), buffer, count);
}

bool InWindows(const ArchiveDetector& detector, std::uint32_t size)
{
    for (std::size_t i = 0; i < detector.windowCount && i < 2; ++i) {
        if (size >= detector.windows[i].low && size <= detector.windows[i].high) return true;
    }
    return false;
}

bool PassesMethodRule(MethodRule rule, std::uint16_t method)
{
    if (rule == MethodStored) return method == 0;
    return (method & 0x06) == 0;
}

// Reads the inner name of `length` bytes at `position` and applies the
// extension test. Names of kArchiveNameBufferSize bytes or more are not
// read and pass.
bool InnerNamePasses(FileRef file, std::uint32_t position, std::uint16_t length)
{
    if (length >= kArchiveNameBufferSize) return true;
    unsigned char name[kArchiveNameBufferSize];
    std::memset(name, 0, sizeof name);
    if (!ReadAt(file, position, name, length)) return false;
    return PassesExtensionTest(reinterpret_cast<const char*>(name));
}

}  // namespace

bool PassesExtensionTest(const char* name)
{
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr) return true;
    const char* extension = dot + 1;
    for (std::size_t i = 0; ExecutableExtensions[i][0] != '\0'; ++i) {
        if (EqualsNoCase(extension, ExecutableExtensions[i])) return true;
    }
    return false;
}

bool DetectEncryptedZip(FileRef file, const ArchiveDetector& detector)
{
    unsigned char local[kZipLocalHeaderSize];
    if (!ReadAt(file, 0, local, sizeof local)) return false;
    if (local[0] != 'P' || local[1] != 'K') return false;
    if ((LoadLe16(local, kZipLocalFlags) & kZipFlagEncrypted) == 0) return false;

    std::uint32_t compressedSize = LoadLe32(local, kZipLocalCompressedSize);
    std::uint32_t uncompressedSize = LoadLe32(local, kZipLocalUncompressedSize);
    // A stored encrypted entry is its data plus the encryption header;
    // unsigned arithmetic wraps, so a smaller compressed size fails too.
    if (detector.sizeDifferenceRule && compressedSize - uncompressedSize != kZipEncryptionHeaderSize) return false;
    if (!InWindows(detector, uncompressedSize)) return false;
    if (!PassesMethodRule(detector.methodRule, LoadLe16(local, kZipLocalMethod))) return false;

    std::uint16_t nameLength = LoadLe16(local, kZipLocalNameLength);
    std::uint16_t extraLength = LoadLe16(local, kZipLocalExtraLength);
    if (!InnerNamePasses(file, kZipLocalHeaderSize, nameLength)) return false;

    // Single-entry test. The worm's archive holds one entry, directly
    // followed by its central directory header and the end record; an
    // archive cut off after the entry's data still counts as one.
    // Both a failed seek and a short read there mean the archive ends with
    // that entry.
    std::uint32_t central = kZipLocalHeaderSize + nameLength + extraLength + compressedSize;
    unsigned char centralHeader[kZipCentralHeaderSize];
    if (!ReadAt(file, central, centralHeader, sizeof centralHeader)) return true;

    std::uint32_t end = central + kZipCentralHeaderSize + LoadLe16(centralHeader, kZipCentralNameLength) +
                        LoadLe16(centralHeader, kZipCentralExtraLength) +
                        LoadLe16(centralHeader, kZipCentralCommentLength);
    unsigned char endRecord[kZipEndRecordSize];
    if (!ReadAt(file, end, endRecord, sizeof endRecord)) return false;
    return LoadLe16(endRecord, kZipEndEntriesOnDisk) == 1 && LoadLe16(endRecord, kZipEndEntriesTotal) == 1;
}

bool DetectEncryptedRar(FileRef file, const ArchiveDetector& detector)
{
    unsigned char marker[kRarMarkerSize];
    if (!ReadAt(file, 0, marker, sizeof marker)) return false;
    if (marker[0] != 'R' || marker[1] != 'a' || marker[2] != 'r') return false;
    std::uint32_t markerSize = LoadLe16(marker, kRarBlockHeaderSize);

    unsigned char mainHeader[kRarMainHeaderSize];
    if (!ReadAt(file, markerSize, mainHeader, sizeof mainHeader)) return false;
    std::uint32_t fileHeaderPosition = markerSize + LoadLe16(mainHeader, kRarBlockHeaderSize);

    unsigned char fileHeader[kRarFileHeaderSize];
    if (!ReadAt(file, fileHeaderPosition, fileHeader, sizeof fileHeader)) return false;
    if ((LoadLe16(fileHeader, kRarFileFlags) & kRarFlagEncrypted) == 0) return false;
    std::uint32_t packedSize = LoadLe32(fileHeader, kRarFilePackedSize);
    std::uint32_t unpackedSize = LoadLe32(fileHeader, kRarFileUnpackedSize);
    if (unpackedSize > packedSize) return false;
    if (!InWindows(detector, unpackedSize)) return false;
    if (fileHeader[kRarFileMethod] != kRarMethodStore) return false;

    return InnerNamePasses(file, fileHeaderPosition + kRarFileHeaderSize, LoadLe16(fileHeader, kRarFileNameSize));
}

const char* MatchArchiveDetectors(FileRef file)
{
    for (std::size_t i = 0; i < kArchiveDetectorCount; ++i) {
        const ArchiveDetector& detector = ArchiveDetectorList[i];
        bool hit = detector.format == ArchiveZip ? DetectEncryptedZip(file, detector)
                                                 : DetectEncryptedRar(file, detector);
        if (hit) return detector.threatName;
    }
    return nullptr;
}
