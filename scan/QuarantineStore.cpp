#include "scan/QuarantineStore.h"

#include <cstring>

#include "scan/BoundedText.h"
#include "scan/NeuteredCopy.h"
#include "scan/Quarantine.h"
#include "scan/Wow64View.h"

namespace {

// A restored file is written under this extension of its entry's id, in
// the folder it goes to, until it is complete.
const char kRestoreInProgressExtension[] = ".QRS";

// The engine runs on one thread; manifests are read into this buffer.
unsigned char manifestBytes[kManifestMaxBytes];

bool EntryFilePath(const char* id, const char* extension, char* out, std::size_t size)
{
    char name[kStoreNameSize];
    QuarantineFileName(id, extension, name);
    return QuarantineFilePath(name, out, size);
}

// Reads a whole file of at most `capacity` bytes.
bool ReadSmallFile(const char* path, unsigned char* buffer, std::uint32_t capacity, std::uint32_t& length)
{
    FileRef file = OpenReachableForRead(path);
    if (file == kNoFile) return false;
    const std::int32_t size = Sys().FileLength(file);
    bool whole = size >= 0 && static_cast<std::uint32_t>(size) <= capacity;
    length = whole ? static_cast<std::uint32_t>(size) : 0;
    std::uint32_t done = 0;
    while (whole && done < length) {
        const std::int32_t got = Sys().ReadBytes(file, buffer + done, length - done);
        if (got <= 0) whole = false;
        else done += static_cast<std::uint32_t>(got);
    }
    Sys().CloseFile(file);
    return whole;
}

// Opens the entry's kept copy at the first byte after its header; kNoFile
// when it is missing, of another length than the manifest says, or does
// not begin with the header.
FileRef OpenKeptCopy(const QuarantineEntry& entry)
{
    char path[kPathBufferSize];
    if (!QuarantineFilePath(entry.dataName, path, sizeof path)) return kNoFile;
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

// Passes the kept copy to `to` (kNoFile: only checks it); true when all of
// it came through and its digest is the manifest's.
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

// The folder part of an engine path ("C:" for a file in a drive's root).
bool FolderOf(const char* path, char* out, std::size_t size)
{
    const long slash = LastIndexOf(path, '\\');
    return slash >= 2 && CopyTextPrefix(out, size, path, static_cast<std::size_t>(slash));
}

// Writes the kept file to `target` by way of `inProgress` in its folder.
StoreResult WriteRestoredFile(const QuarantineEntry& entry, const char* inProgress, const char* target)
{
    FileRef out = CreateReachableNewFile(inProgress);
    if (out == kNoFile) return StoreWriteFailed;
    // Checked again as it is written: the copy may have changed since.
    const bool passed = PassKeptCopy(entry, out);
    const bool flushed = passed && Sys().FlushFile(out);
    Sys().CloseFile(out);
    StoreResult result = !passed ? StoreDamaged : !flushed ? StoreWriteFailed : StoreDone;
    if (result == StoreDone && !RenameReachableFile(inProgress, target)) {
        result = ReachableExists(target) ? StoreTargetExists : StoreWriteFailed;
    }
    if (result != StoreDone) RemoveReachableFile(inProgress);
    return result;
}

}  // namespace

std::size_t ListQuarantine(StoreVisitor visit, void* context)
{
    char pattern[kPathBufferSize];
    if (!QuarantineFilePath("*", pattern, sizeof pattern) || !AppendText(pattern, sizeof pattern, kManifestExtension)) {
        return 0;
    }
    std::size_t count = 0;
    DirEntry found;
    SearchRef search = FindFirstReachable(pattern, found);
    for (bool more = search != 0; more; more = Sys().FindNextEntry(search, found)) {
        // Only a name this program gives a manifest is one: ID.QMF.
        char id[kQuarantineIdSize];
        if ((found.attributes & kAttrDirectory) || std::strlen(found.name) != kStoreNameSize - 1 ||
            std::strcmp(found.name + kQuarantineIdSize - 1, kManifestExtension) != 0 ||
            !CopyTextPrefix(id, sizeof id, found.name, kQuarantineIdSize - 1) || !IsQuarantineId(id)) {
            continue;
        }
        QuarantineEntry entry;
        const bool readable = ReadQuarantineEntry(id, entry) == StoreDone;
        visit(id, readable ? &entry : nullptr, context);
        ++count;
    }
    if (search) Sys().FindEnd(search);
    return count;
}

StoreResult ReadQuarantineEntry(const char* id, QuarantineEntry& entry)
{
    if (!id || BoundedLength(id, kQuarantineIdSize) != kQuarantineIdSize - 1 || !IsQuarantineId(id)) {
        return StoreBadId;
    }
    char path[kPathBufferSize];
    if (!EntryFilePath(id, kManifestExtension, path, sizeof path) || !ReachableExists(path)) return StoreNoEntry;
    std::uint32_t length = 0;
    if (!ReadSmallFile(path, manifestBytes, sizeof manifestBytes, length) ||
        !ParseManifest(manifestBytes, length, entry) || std::strcmp(entry.id, id) != 0) {
        return StoreDamaged;
    }
    return StoreDone;
}

StoreResult RestoreQuarantineEntry(const char* id, const char* target)
{
    QuarantineEntry entry;
    const StoreResult read = ReadQuarantineEntry(id, entry);
    if (read != StoreDone) return read;
    char folder[kPathBufferSize];
    char inProgress[kPathBufferSize];
    char name[kStoreNameSize];
    QuarantineFileName(id, kRestoreInProgressExtension, name);
    if (!target || target[0] == '/' || !IsSafeOriginalPath(target) || !FolderOf(target, folder, sizeof folder) ||
        !CopyText(inProgress, sizeof inProgress, folder) || !AppendText(inProgress, sizeof inProgress, "\\") ||
        !AppendText(inProgress, sizeof inProgress, name)) {
        return StoreBadTarget;
    }
    if (ReachableExists(target)) return StoreTargetExists;
    if (!PassKeptCopy(entry, kNoFile)) return StoreDamaged;
    if (!CreateMissingFolders(folder)) return StoreFolderFailed;
    const StoreResult written = WriteRestoredFile(entry, inProgress, target);
    if (written != StoreDone) return written;
    // The file is back; an entry that cannot be removed only stays behind.
    PurgeQuarantineEntry(id);
    return StoreDone;
}

StoreResult PurgeQuarantineEntry(const char* id)
{
    QuarantineEntry entry;
    const StoreResult read = ReadQuarantineEntry(id, entry);
    if (read != StoreDone && read != StoreDamaged) return read;
    char manifest[kPathBufferSize];
    char copy[kPathBufferSize];
    if (read == StoreDamaged) QuarantineFileName(id, kKeptCopyExtension, entry.dataName);
    if (!EntryFilePath(id, kManifestExtension, manifest, sizeof manifest) ||
        !QuarantineFilePath(entry.dataName, copy, sizeof copy) || !RemoveReachableFile(manifest)) {
        return StoreWriteFailed;
    }
    RemoveReachableFile(copy);
    return StoreDone;
}
