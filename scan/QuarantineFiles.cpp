#include "scan/QuarantineFiles.h"

#include <cstring>

#include "scan/BoundedText.h"
#include "scan/NeuteredCopy.h"
#include "scan/Quarantine.h"
#include "scan/Wow64View.h"

const char kRestoreNoteExtension[] = ".QRP";
const char kRestoreInProgressExtension[] = ".QRS";

const StoreFileKindName kStoreFileKinds[kStoreFileKindCount] = {
    {StoreManifest, kManifestExtension},
    {StoreCopy, kKeptCopyExtension},
    {StoreCopyInProgress, kCopyInProgressExtension},
    {StoreManifestInProgress, kManifestInProgressExtension},
    {StoreRestoreNote, kRestoreNoteExtension},
};

namespace {

const char kNoteHeading[] = "Quellor restore 1\r\n";
const char kNoteTarget[] = "target=";
const char kNoteEnd[] = "\r\n";

// The engine runs on one thread: the two sides of a comparison are read
// into these.
unsigned char keptBlock[16384];
unsigned char fileBlock[sizeof keptBlock];

// Opens the entry's kept copy at the first byte after its header; kNoFile
// when it is missing, of another length than the manifest says, or does
// not begin with the header.
FileRef OpenKeptCopy(const QuarantineEntry& entry)
{
    char path[kPathBufferSize];
    if (!EntryFilePath(entry.id, kKeptCopyExtension, path, sizeof path)) return kNoFile;
    FileRef file = OpenReachableForRead(path);
    if (file == kNoFile) return kNoFile;
    char header[kNeuteredHeaderLength];
    const std::int64_t expected = static_cast<std::int64_t>(kNeuteredHeaderLength) + entry.length;
    const bool whole = Sys().FileLength(file) == expected &&
                       Sys().ReadBytes(file, header, static_cast<std::uint32_t>(kNeuteredHeaderLength)) ==
                           static_cast<std::int32_t>(kNeuteredHeaderLength) &&
                       std::memcmp(header, kNeuteredHeader, kNeuteredHeaderLength) == 0;
    if (whole) return file;
    Sys().CloseFile(file);
    return kNoFile;
}

// Reads exactly `count` bytes.
bool ReadExactly(FileRef file, unsigned char* buffer, std::uint32_t count)
{
    std::uint32_t done = 0;
    while (done < count) {
        const std::int32_t got = Sys().ReadBytes(file, buffer + done, count - done);
        if (got <= 0) return false;
        done += static_cast<std::uint32_t>(got);
    }
    return true;
}

KeptMatch CompareOpen(FileRef copy, FileRef file, std::uint32_t keptLength)
{
    const std::int32_t length = Sys().FileLength(file);
    if (length < 0 || static_cast<std::uint32_t>(length) > keptLength) return KeptDiffers;
    const std::uint32_t total = static_cast<std::uint32_t>(length);
    for (std::uint32_t at = 0; at < total;) {
        const std::uint32_t count = total - at < sizeof keptBlock ? total - at : static_cast<std::uint32_t>(sizeof keptBlock);
        if (!ReadExactly(copy, keptBlock, count) || !ReadExactly(file, fileBlock, count)) return KeptDiffers;
        NeuterBytes(keptBlock, count, at);
        if (std::memcmp(keptBlock, fileBlock, count) != 0) return KeptDiffers;
        at += count;
    }
    // Nothing more to read than the length said.
    if (Sys().ReadBytes(file, fileBlock, 1) != 0) return KeptDiffers;
    return total == keptLength ? KeptWhole : KeptPrefix;
}

}  // namespace

bool EntryFilePath(const char* id, const char* extension, char* out, std::size_t size)
{
    char name[kStoreNameSize];
    QuarantineFileName(id, extension, name);
    return QuarantineFilePath(name, out, size);
}

bool ParseStoreName(const char* name, char id[kQuarantineIdSize], StoreFileKind& kind)
{
    if (BoundedLength(name, kStoreNameSize) != kStoreNameSize - 1) return false;
    if (!CopyTextPrefix(id, kQuarantineIdSize, name, kQuarantineIdSize - 1) || !IsQuarantineId(id)) return false;
    for (const StoreFileKindName& known : kStoreFileKinds) {
        if (std::strcmp(name + kQuarantineIdSize - 1, known.extension) == 0) {
            kind = known.kind;
            return true;
        }
    }
    return false;
}

unsigned StoreFilesOf(const char* id)
{
    unsigned kinds = 0;
    char path[kPathBufferSize];
    for (const StoreFileKindName& known : kStoreFileKinds) {
        if (EntryFilePath(id, known.extension, path, sizeof path) && ReachableExists(path)) kinds |= known.kind;
    }
    return kinds;
}

void ForEachStoreFile(StoreFileVisitor visit, void* context)
{
    char pattern[kPathBufferSize];
    if (!QuarantineFilePath("*.*", pattern, sizeof pattern)) return;
    DirEntry found;
    SearchRef search = FindFirstReachable(pattern, found);
    for (bool more = search != 0; more; more = Sys().FindNextEntry(search, found)) {
        char id[kQuarantineIdSize];
        StoreFileKind kind;
        if (!(found.attributes & kAttrDirectory) && ParseStoreName(found.name, id, kind)) visit(id, kind, context);
    }
    if (search) Sys().FindEnd(search);
}

bool RemoveEntryFiles(const char* id, bool withNote)
{
    char path[kPathBufferSize];
    if (!EntryFilePath(id, kManifestExtension, path, sizeof path)) return false;
    if (ReachableExists(path) && !RemoveReachableFile(path)) return false;
    ObserveQuarantineStep(PurgeStepManifestRemoved);
    bool removed = true;
    for (const StoreFileKindName& known : kStoreFileKinds) {
        if (known.kind == StoreManifest || (known.kind == StoreRestoreNote && !withNote)) continue;
        if (!EntryFilePath(id, known.extension, path, sizeof path)) return false;
        if (ReachableExists(path) && !RemoveReachableFile(path)) removed = false;
    }
    ForgetStoreBytes();
    ObserveQuarantineStep(PurgeStepFilesRemoved);
    return removed;
}

bool ReadSmallFile(const char* path, unsigned char* buffer, std::uint32_t capacity, std::uint32_t& length)
{
    FileRef file = OpenReachableForRead(path);
    if (file == kNoFile) return false;
    const std::int32_t size = Sys().FileLength(file);
    const bool whole = size >= 0 && static_cast<std::uint32_t>(size) <= capacity &&
                       ReadExactly(file, buffer, static_cast<std::uint32_t>(size));
    length = whole ? static_cast<std::uint32_t>(size) : 0;
    Sys().CloseFile(file);
    return whole;
}

bool PassKeptCopy(const QuarantineEntry& entry, FileRef to)
{
    FileRef copy = OpenKeptCopy(entry);
    if (copy == kNoFile) return false;
    Sha256 hash;
    Sha256Start(hash);
    const bool passed = PassNeutered(copy, to, entry.length, false, hash) == PassDone;
    Sys().CloseFile(copy);
    unsigned char digest[kSha256Size];
    Sha256Finish(hash, digest);
    return passed && std::memcmp(digest, entry.sha256, kSha256Size) == 0;
}

KeptMatch CompareWithKept(const QuarantineEntry& entry, const char* path)
{
    FileRef copy = OpenKeptCopy(entry);
    if (copy == kNoFile) return KeptDiffers;
    FileRef file = OpenReachableForRead(path);
    const KeptMatch match = file == kNoFile ? KeptDiffers : CompareOpen(copy, file, entry.length);
    if (file != kNoFile) Sys().CloseFile(file);
    Sys().CloseFile(copy);
    return match;
}

bool RestorePaths(const char* id, const char* target, char* folder, std::size_t folderSize, char* inProgress,
                  std::size_t inProgressSize)
{
    char name[kStoreNameSize];
    QuarantineFileName(id, kRestoreInProgressExtension, name);
    const long slash = LastIndexOf(target, '\\');
    return slash >= 2 && CopyTextPrefix(folder, folderSize, target, static_cast<std::size_t>(slash)) &&
           CopyText(inProgress, inProgressSize, folder) && AppendText(inProgress, inProgressSize, "\\") &&
           AppendText(inProgress, inProgressSize, name);
}

bool WriteRestoreNote(const char* id, const char* recordedTarget)
{
    char path[kPathBufferSize];
    char text[kManifestMaxBytes];
    if (!IsSafeOriginalPath(recordedTarget) || !EntryFilePath(id, kRestoreNoteExtension, path, sizeof path) ||
        !CopyText(text, sizeof text, kNoteHeading) || !AppendText(text, sizeof text, kNoteTarget) ||
        !AppendText(text, sizeof text, recordedTarget) || !AppendText(text, sizeof text, kNoteEnd)) {
        return false;
    }
    FileRef file = CreateReachableNewFile(path);
    if (file == kNoFile) return false;
    const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(text));
    const bool written = Sys().WriteBytes(file, text, length) == static_cast<std::int32_t>(length) &&
                         Sys().FlushFile(file);
    Sys().CloseFile(file);
    // The note must be found after a power cut before anything is made
    // beside the target.
    if (written && FlushReachableFolder(ActiveQuarantine().folder)) return true;
    RemoveReachableFile(path);
    return false;
}

bool ReadRestoreNote(const char* id, char* recordedTarget, std::size_t size)
{
    char path[kPathBufferSize];
    unsigned char bytes[kManifestMaxBytes];
    std::uint32_t length = 0;
    if (!EntryFilePath(id, kRestoreNoteExtension, path, sizeof path) ||
        !ReadSmallFile(path, bytes, sizeof bytes, length)) {
        return false;
    }
    const std::size_t heading = sizeof kNoteHeading - 1;
    const std::size_t field = sizeof kNoteTarget - 1;
    const std::size_t end = sizeof kNoteEnd - 1;
    const char* text = reinterpret_cast<const char*>(bytes);
    if (length < heading + field + end || std::memcmp(text, kNoteHeading, heading) != 0 ||
        std::memcmp(text + heading, kNoteTarget, field) != 0 ||
        std::memcmp(text + length - end, kNoteEnd, end) != 0) {
        return false;
    }
    const std::size_t valueLength = length - heading - field - end;
    const char* value = text + heading + field;
    if (std::memchr(value, '\0', valueLength) || !CopyTextPrefix(recordedTarget, size, value, valueLength)) return false;
    return IsSafeOriginalPath(recordedTarget);
}
