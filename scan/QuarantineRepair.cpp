// The opening of the store: what interrupted runs left is finished or
// cleared (the rules are in scan/QuarantineHold.h).
#include <cstring>

#include "scan/BoundedText.h"
#include "scan/Quarantine.h"
#include "scan/QuarantineFiles.h"
#include "scan/QuarantineHold.h"
#include "scan/QuarantineStore.h"
#include "scan/Wow64View.h"

namespace {

unsigned char manifestBytes[kManifestMaxBytes];

void RemoveFileOf(const char* id, const char* extension)
{
    char path[kPathBufferSize];
    if (EntryFilePath(id, extension, path, sizeof path)) RemoveReachableFile(path);
}

// The manifest being written makes the entry of `id` whole: it is that
// entry's, and the copy beside it is the one it describes, byte for byte.
bool FinishesEntry(const char* id)
{
    char path[kPathBufferSize];
    char copyName[kStoreNameSize];
    std::uint32_t length = 0;
    QuarantineEntry entry;
    QuarantineFileName(id, kKeptCopyExtension, copyName);
    return EntryFilePath(id, kManifestInProgressExtension, path, sizeof path) &&
           ReadSmallFile(path, manifestBytes, sizeof manifestBytes, length) &&
           ParseManifest(manifestBytes, length, entry) && std::strcmp(entry.id, id) == 0 &&
           std::strcmp(entry.dataName, copyName) == 0 && PassKeptCopy(entry, kNoFile);
}

// The restore the note of `id` names was stopped: the file it left beside
// the target goes, or, when the file is back whole, the entry does.
void SettleRestore(const char* id)
{
    char note[kPathBufferSize];
    char recorded[kOriginalPathSize];
    char target[kPathBufferSize];
    char folder[kPathBufferSize];
    char inProgress[kPathBufferSize];
    if (!EntryFilePath(id, kRestoreNoteExtension, note, sizeof note)) return;
    // A note that was never flushed whole came before anything beside the
    // target.
    if (!ReadRestoreNote(id, recorded, sizeof recorded)) {
        RemoveReachableFile(note);
        return;
    }
    // Kept for a run that can reach the target.
    if (!FindRecordedPath(recorded, target, sizeof target) ||
        !RestorePaths(id, target, folder, sizeof folder, inProgress, sizeof inProgress)) {
        return;
    }
    QuarantineEntry entry;
    if (ReadQuarantineEntry(id, entry) == StoreDone) {
        if (ReachableExists(inProgress)) {
            // Only what this entry's restore wrote is taken away.
            if (CompareWithKept(entry, inProgress) != KeptDiffers && !RemoveReachableFile(inProgress)) return;
        } else if (ReachableExists(target) && CompareWithKept(entry, target) == KeptWhole) {
            if (!FlushReachableFolder(folder)) return;
            RemoveEntryFiles(id, false);
        }
    }
    RemoveReachableFile(note);
}

// Finishes or clears what interrupted runs left of entry `id`; true when
// a manifest took its name.
bool RepairEntry(const char* id)
{
    unsigned files = StoreFilesOf(id);
    if (files & StoreRestoreNote) {
        SettleRestore(id);
        files = StoreFilesOf(id);
    }
    if (files & StoreCopyInProgress) RemoveFileOf(id, kCopyInProgressExtension);
    bool finished = false;
    if (files & StoreManifestInProgress) {
        char from[kPathBufferSize];
        char to[kPathBufferSize];
        finished = !(files & StoreManifest) && (files & StoreCopy) && FinishesEntry(id) &&
                   EntryFilePath(id, kManifestInProgressExtension, from, sizeof from) &&
                   EntryFilePath(id, kManifestExtension, to, sizeof to) && RenameReachableFile(from, to);
        if (finished) files |= StoreManifest;
        else RemoveFileOf(id, kManifestInProgressExtension);
    }
    if ((files & StoreCopy) && !(files & StoreManifest)) RemoveFileOf(id, kKeptCopyExtension);
    return finished;
}

}  // namespace

void RepairQuarantine()
{
    bool finished = false;
    ForEachStoreFile(
        [](const char* id, StoreFileKind kind, void* context) {
            // A complete entry costs one look for its manifest beside its copy.
            char manifest[kPathBufferSize];
            if (kind == StoreManifest) return;
            if (kind == StoreCopy && EntryFilePath(id, kManifestExtension, manifest, sizeof manifest) &&
                ReachableExists(manifest)) {
                return;
            }
            if (RepairEntry(id)) *static_cast<bool*>(context) = true;
        },
        &finished);
    if (finished) FlushReachableFolder(ActiveQuarantine().folder);
    ForgetStoreBytes();
}
