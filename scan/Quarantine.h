// The quarantine: before a detected file is removed, renamed away or left
// for deletion at the next start, a copy of it goes to a store of the
// program's own, so that a detection that was wrong costs the user nothing.
//
// The store is one folder. Each entry is two files named after the entry's
// id (8 hexadecimal digits): ID.QDT, the file's bytes in neutered form
// (scan/NeuteredCopy.h), and ID.QMF, its manifest
// (scan/QuarantineManifest.h). An entry exists once its manifest does.
//
// Keeping a file takes these steps, each through the platform seam, and
// the original is removed only after the last one:
//   1. the copy is written under a temporary name (ID.QTD) and flushed;
//   2. it takes its name ID.QDT;
//   3. the manifest is written under a temporary name (ID.QTM) and flushed;
//   4. it takes its name ID.QMF, and the store's folder is flushed: the
//      entry is complete, and outlasts a power cut.
// A run stopped anywhere leaves the original, or a complete entry, or both;
// never neither. What a stopped run leaves besides is finished or cleared
// when the store is next opened (scan/QuarantineHold.h).
//
// A run changes the store only while it holds the store's lock file
// (STORE.LCK), so two runs never work on it at once and the opening of
// the store never takes a step of another run for a leftover.
//
// A file the store cannot take (larger than the per-file cap, more than
// the total cap leaves room for, unreadable, or a store that cannot be
// written) is not kept, and its removal goes on as the user asked: the
// result says "not quarantined".
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"
#include "scan/QuarantineManifest.h"

const std::uint64_t kDefaultQuarantineTotalCap = 1024ull * 1024 * 1024;
const std::uint32_t kDefaultQuarantineFileCap = 256u * 1024 * 1024;

struct QuarantineSettings {
    char folder[kPathBufferSize];  // the store, an engine path without a trailing backslash
    std::uint64_t totalCap;        // bytes all kept copies may take together
    std::uint32_t fileCap;         // the largest file kept
    // The store is the system's own place for it (DefaultQuarantineFolder):
    // its folders from the program's data folder down are made so that
    // only administrators and the system may change them
    // (Platform::MakeGuardedFolder), whoever made them first.
    bool ownPlace;
};

// The store's files; extensions of the names made from an entry's id.
extern const char kKeptCopyExtension[];            // ".QDT"
extern const char kManifestExtension[];            // ".QMF"
extern const char kCopyInProgressExtension[];      // ".QTD", the copy until it is complete
extern const char kManifestInProgressExtension[];  // ".QTM", the manifest until it is complete
// The file whose hold keeps two runs from changing the store at once.
extern const char kStoreLockName[];                // "STORE.LCK"

// Keeps copies from now on, in the store and with the caps given.
void UseQuarantine(const QuarantineSettings& settings);
// The dialog's store: the program's own folder (see
// DefaultQuarantineFolder) with the default caps. Keeps nothing when the
// system names no such folder.
void UseDefaultQuarantine();
// Keeps nothing (program start).
void StopQuarantine();
// Opens the store in use: the first time in a run that the store is held,
// what interrupted runs left in it is finished or cleared
// (scan/QuarantineHold.h). Cheap when nothing was left; the console's
// commands on the store call it first.
void OpenQuarantine();
bool QuarantineActive();
const QuarantineSettings& ActiveQuarantine();

// The program's own data folder on this system: "Quellor" under the
// all-users application data folder on the NT family (under the Windows
// folder where the system names no such folder, as NT 4.0 may not), and
// under the Windows folder on the 95/98/ME family. It holds the store and
// the run log (scan/RunRecord.h). False on any other system.
bool DefaultDataFolder(char* out, std::size_t size);
// Where this system keeps the store: "Quarantine" in DefaultDataFolder.
bool DefaultQuarantineFolder(char* out, std::size_t size);

// The path as the user knows it of a file the engine names `enginePath`,
// for the entry's record (absolute, see IsSafeOriginalPath). Without a
// namer the engine path is recorded.
typedef bool (*QuarantinePathNamer)(const char* enginePath, char* out, std::size_t size, void* context);
void SetQuarantinePathNamer(QuarantinePathNamer namer, void* context);

// The engine path that reaches a path recorded in the store (the target
// of a restore that was stopped), in the form the namer gives. Without a
// finder a recorded path is taken as an engine path.
typedef bool (*QuarantinePathFinder)(const char* recorded, char* out, std::size_t size, void* context);
void SetQuarantinePathFinder(QuarantinePathFinder finder, void* context);
bool FindRecordedPath(const char* recorded, char* out, std::size_t size);

enum QuarantineOutcome {
    QuarantineNotAsked,  // no store in use, or the file is not touched
    QuarantineKept,
    QuarantineNotKept
};

enum QuarantineFailure {
    QuarantineNoFailure,
    QuarantineTooLarge,     // larger than the per-file cap
    QuarantineStoreFull,    // the total cap leaves no room for it
    QuarantineUnreadable,   // the file could not be read whole
    QuarantineUnwritable,   // the store could not be written (full disk, no rights)
    QuarantineUnnamed,      // its path cannot be recorded
    QuarantineBusy          // another run held the store for longer than a run waits
};

struct QuarantineNote {
    QuarantineOutcome outcome;
    QuarantineFailure failure;
    char id[kQuarantineIdSize];  // of the entry, when kept
};

// What a front end shows for a failure ("too large for the quarantine").
const char* QuarantineFailureText(QuarantineFailure failure);

// Keeps a copy of the detected file `path` (an engine path) under the
// threat name `threat`, before anything is done to it.
QuarantineNote KeepDetectedFile(const char* path, const char* threat);

// The full path of a file of the store; false when it does not fit.
bool QuarantineFilePath(const char* name, char* out, std::size_t size);
// The store file name ID + extension.
void QuarantineFileName(const char* id, const char* extension, char out[kStoreNameSize]);

// Creates the folders of `folder` that are missing, from the top down.
// True when the folder is there afterwards.
bool CreateMissingFolders(const char* folder);

// The store's folders, made when missing and guarded where the settings
// ask (ownPlace); true when the store's folder is there afterwards.
bool PrepareStoreFolders();
// The bytes the kept copies take are counted again when next needed (an
// entry was removed, or the store repaired).
void ForgetStoreBytes();

// For tests: called after each step of keeping a file, of giving one back
// (scan/QuarantineStore.h) and of removing an entry has been carried out
// (a test stops the program there to see what a crash leaves). Null:
// nothing is called.
enum QuarantineStep {
    QuarantineStepCopyFlushed,
    QuarantineStepCopyNamed,
    QuarantineStepManifestFlushed,
    QuarantineStepEntryComplete,
    RestoreStepNoted,       // the store's note of the restore is flushed
    RestoreStepStarted,     // the file is made, empty, beside its target
    RestoreStepWritten,     // and written whole and flushed
    RestoreStepNamed,       // it has its target's name
    PurgeStepManifestRemoved,
    PurgeStepFilesRemoved,  // the copy and whatever else the entry had
    RestoreStepDone         // the note is gone
};
typedef void (*QuarantineStepObserver)(QuarantineStep step);
void SetQuarantineStepObserver(QuarantineStepObserver observer);
void ObserveQuarantineStep(QuarantineStep step);
