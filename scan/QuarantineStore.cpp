#include "scan/QuarantineStore.h"

#include <cstring>

#include "scan/BoundedText.h"
#include "scan/Quarantine.h"
#include "scan/QuarantineFiles.h"
#include "scan/QuarantineHold.h"
#include "scan/Wow64View.h"

namespace {

// The engine runs on one thread; manifests are read into this buffer.
unsigned char manifestBytes[kManifestMaxBytes];

// The store held for one call; let go at its end.
class HeldStore {
public:
    HeldStore() : result_(HoldQuarantine()) {}
    ~HeldStore()
    {
        if (result_ != HoldRefused) ReleaseQuarantine();
    }
    HeldStore(const HeldStore&) = delete;
    HeldStore& operator=(const HeldStore&) = delete;

    bool Refused() const { return result_ == HoldRefused; }

private:
    HoldResult result_;
};

// Writes the kept file to `target` by way of `inProgress` in its folder
// `folder`; `durable` tells whether the folder was flushed after.
StoreResult WriteRestoredFile(const QuarantineEntry& entry, const char* inProgress, const char* target,
                              const char* folder, bool& durable)
{
    durable = false;
    FileRef out = CreateReachableNewFile(inProgress);
    if (out == kNoFile) return StoreWriteFailed;
    ObserveQuarantineStep(RestoreStepStarted);
    // Checked again as it is written: the copy may have changed since.
    const bool passed = PassKeptCopy(entry, out);
    const bool flushed = passed && Sys().FlushFile(out);
    Sys().CloseFile(out);
    StoreResult result = !passed ? StoreDamaged : !flushed ? StoreWriteFailed : StoreDone;
    if (result == StoreDone) ObserveQuarantineStep(RestoreStepWritten);
    if (result == StoreDone && !RenameReachableFile(inProgress, target)) {
        result = ReachableExists(target) ? StoreTargetExists : StoreWriteFailed;
    }
    if (result != StoreDone) {
        RemoveReachableFile(inProgress);
        return result;
    }
    ObserveQuarantineStep(RestoreStepNamed);
    durable = FlushReachableFolder(folder);
    return StoreDone;
}

// Makes way for the file beside the target: a file of that name that a
// stopped restore of this entry left (the copy's first bytes, or all of
// them) is removed; anyone else's is not.
bool ClearInProgress(const QuarantineEntry& entry, const char* inProgress)
{
    if (!ReachableExists(inProgress)) return true;
    return CompareWithKept(entry, inProgress) != KeptDiffers && RemoveReachableFile(inProgress);
}

StoreResult RestoreHeldEntry(const char* id, const char* target, const char* recordedTarget)
{
    QuarantineEntry entry;
    const StoreResult read = ReadQuarantineEntry(id, entry);
    if (read != StoreDone) return read;
    char folder[kPathBufferSize];
    char inProgress[kPathBufferSize];
    if (!target || target[0] == '/' || !IsSafeOriginalPath(target) || !IsSafeOriginalPath(recordedTarget) ||
        !RestorePaths(id, target, folder, sizeof folder, inProgress, sizeof inProgress)) {
        return StoreBadTarget;
    }
    if (ReachableExists(target)) return StoreTargetExists;
    if (!PassKeptCopy(entry, kNoFile)) return StoreDamaged;
    if (!CreateMissingFolders(folder)) return StoreFolderFailed;
    if (!ClearInProgress(entry, inProgress) || !WriteRestoreNote(id, recordedTarget)) return StoreWriteFailed;
    ObserveQuarantineStep(RestoreStepNoted);
    char note[kPathBufferSize];
    EntryFilePath(id, kRestoreNoteExtension, note, sizeof note);
    bool durable = false;
    const StoreResult written = WriteRestoredFile(entry, inProgress, target, folder, durable);
    // The file is back. Its entry goes only once the file's name outlasts a
    // power cut; an entry that cannot be removed only stays behind.
    if (written == StoreDone && durable) RemoveEntryFiles(id, false);
    RemoveReachableFile(note);
    ObserveQuarantineStep(RestoreStepDone);
    return written;
}

}  // namespace

std::size_t ListQuarantine(StoreVisitor visit, void* context)
{
    struct Listing {
        StoreVisitor visit;
        void* context;
        std::size_t count;
    } listing = {visit, context, 0};
    HeldStore held;
    ForEachStoreFile(
        [](const char* id, StoreFileKind kind, void* listed) {
            Listing& listing = *static_cast<Listing*>(listed);
            // Each id once: at its file of the first kind it has (its
            // manifest, as a rule).
            if (kind != StoreManifest && (StoreFilesOf(id) & (kind - 1u)) != 0) return;
            QuarantineEntry entry;
            listing.visit(id, ReadQuarantineEntry(id, entry) == StoreDone ? &entry : nullptr, listing.context);
            ++listing.count;
        },
        &listing);
    return listing.count;
}

StoreResult ReadQuarantineEntry(const char* id, QuarantineEntry& entry)
{
    if (!id || BoundedLength(id, kQuarantineIdSize) != kQuarantineIdSize - 1 || !IsQuarantineId(id)) {
        return StoreBadId;
    }
    char path[kPathBufferSize];
    if (!EntryFilePath(id, kManifestExtension, path, sizeof path)) return StoreNoEntry;
    if (!ReachableExists(path)) return StoreFilesOf(id) != 0 ? StoreDamaged : StoreNoEntry;
    std::uint32_t length = 0;
    char copyName[kStoreNameSize];
    QuarantineFileName(id, kKeptCopyExtension, copyName);
    // A manifest is its own entry's: its id, and its copy named after it.
    if (!ReadSmallFile(path, manifestBytes, sizeof manifestBytes, length) ||
        !ParseManifest(manifestBytes, length, entry) || std::strcmp(entry.id, id) != 0 ||
        std::strcmp(entry.dataName, copyName) != 0) {
        return StoreDamaged;
    }
    return StoreDone;
}

StoreResult RestoreQuarantineEntry(const char* id, const char* target, const char* recordedTarget)
{
    HeldStore held;
    if (held.Refused()) return StoreBusy;
    return RestoreHeldEntry(id, target, recordedTarget ? recordedTarget : target);
}

StoreResult PurgeQuarantineEntry(const char* id)
{
    HeldStore held;
    if (held.Refused()) return StoreBusy;
    QuarantineEntry entry;
    const StoreResult read = ReadQuarantineEntry(id, entry);
    if (read != StoreDone && read != StoreDamaged) return read;
    return RemoveEntryFiles(id, true) ? StoreDone : StoreWriteFailed;
}
