// The files of the quarantine's store as the store's own code reads and
// checks them (scan/QuarantineStore.cpp, scan/QuarantineRepair.cpp): the
// kinds of file an entry's id names, the kept copy checked against its
// manifest, a file compared with what a copy holds, and the store's note of
// a restore under way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"
#include "scan/QuarantineManifest.h"

// The kinds of file named after an entry's id in the store, as bits.
enum StoreFileKind : unsigned {
    StoreManifest = 1u << 0,            // ID.QMF
    StoreCopy = 1u << 1,                // ID.QDT
    StoreCopyInProgress = 1u << 2,      // ID.QTD
    StoreManifestInProgress = 1u << 3,  // ID.QTM
    StoreRestoreNote = 1u << 4          // ID.QRP
};
const std::size_t kStoreFileKindCount = 5;
extern const struct StoreFileKindName {
    StoreFileKind kind;
    const char* extension;
} kStoreFileKinds[kStoreFileKindCount];

// The store's note of a restore under way: it names the restore's target,
// and the file beside the target is ID.QRS until it is complete.
extern const char kRestoreNoteExtension[];        // ".QRP"
extern const char kRestoreInProgressExtension[];  // ".QRS"

// The store's path of the file of entry `id` with `extension`.
bool EntryFilePath(const char* id, const char* extension, char* out, std::size_t size);
// The id and kind of a store file name ("0123ABCD.QDT"); false for any
// name this program does not give.
bool ParseStoreName(const char* name, char id[kQuarantineIdSize], StoreFileKind& kind);
// Which kinds of file of entry `id` the store holds.
unsigned StoreFilesOf(const char* id);
// Calls `visit` for each file of the store named after an id, in the
// order its folder lists them.
typedef void (*StoreFileVisitor)(const char* id, StoreFileKind kind, void* context);
void ForEachStoreFile(StoreFileVisitor visit, void* context);

// Removes the files of entry `id`: its manifest first (the entry is gone),
// then its copy and whatever else of it the store holds, its restore note
// too when `withNote`. True when none of them is left.
bool RemoveEntryFiles(const char* id, bool withNote);

// Reads a whole file of at most `capacity` bytes.
bool ReadSmallFile(const char* path, unsigned char* buffer, std::uint32_t capacity, std::uint32_t& length);

// Passes the entry's kept copy, checked whole, to `to` (kNoFile: only
// checks it); true when all of it came through and its digest is the
// manifest's.
bool PassKeptCopy(const QuarantineEntry& entry, FileRef to);

// How the file `path` stands to the bytes the entry's copy holds.
enum KeptMatch {
    KeptDiffers,  // other bytes, longer, or either cannot be read
    KeptPrefix,   // the copy's first bytes, but not all of them
    KeptWhole     // exactly the copy's bytes
};
KeptMatch CompareWithKept(const QuarantineEntry& entry, const char* path);

// The folder of the restore target `target` (an engine path), and the
// path its file has there until it is complete (ID.QRS in that folder).
bool RestorePaths(const char* id, const char* target, char* folder, std::size_t folderSize, char* inProgress,
                  std::size_t inProgressSize);

// The note of a restore of entry `id` to `recordedTarget` (the target as
// the user knows it), written and flushed, with the store's folder. False
// when it could not be written (nothing is left then).
bool WriteRestoreNote(const char* id, const char* recordedTarget);
// The target the note of `id` names; false when there is no note or it is
// not one this program writes.
bool ReadRestoreNote(const char* id, char* recordedTarget, std::size_t size);
