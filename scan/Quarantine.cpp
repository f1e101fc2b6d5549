#include "scan/Quarantine.h"

#include <cstdio>
#include <cstring>

#include "scan/BoundedText.h"
#include "scan/NeuteredCopy.h"
#include "scan/QuarantineHold.h"
#include "scan/SystemVersion.h"
#include "scan/Wow64View.h"

const char kKeptCopyExtension[] = ".QDT";
const char kManifestExtension[] = ".QMF";
const char kCopyInProgressExtension[] = ".QTD";
const char kManifestInProgressExtension[] = ".QTM";
const char kStoreLockName[] = "STORE.LCK";

namespace {

// The program's data folder below the all-users data folder (or the
// Windows folder), and the store inside it.
const char kDataBelowCommonData[] = "\\Quellor";
const char kStoreBelowDataFolder[] = "\\Quarantine";

// Ids are tried from the current time on; so many may be taken in a row
// before the store counts as full.
const std::uint32_t kIdAttempts = 4096;

const struct {
    QuarantineFailure failure;
    const char* text;
} kFailureTexts[] = {
    {QuarantineNoFailure, ""},
    {QuarantineTooLarge, "too large for the quarantine"},
    {QuarantineStoreFull, "the quarantine is full"},
    {QuarantineUnreadable, "could not be read whole"},
    {QuarantineUnwritable, "the quarantine could not be written"},
    {QuarantineUnnamed, "its path cannot be recorded"},
    {QuarantineBusy, "the quarantine is in use by another run"},
};

bool active = false;
QuarantineSettings settings;
// What the kept copies in the store take, counted once per store.
bool storeBytesKnown = false;
std::uint64_t storeBytes = 0;
QuarantinePathNamer pathNamer = nullptr;
void* pathNamerContext = nullptr;
QuarantinePathFinder pathFinder = nullptr;
void* pathFinderContext = nullptr;
QuarantineStepObserver stepObserver = nullptr;

std::uint64_t LengthOf(const char* path)
{
    FileRef file = OpenReachableForRead(path);
    if (file == kNoFile) return 0;
    const std::int32_t length = Sys().FileLength(file);
    Sys().CloseFile(file);
    return length > 0 ? static_cast<std::uint64_t>(length) : 0;
}

// The bytes the kept copies take now; every copy counts, complete or being
// written, with or without a manifest.
std::uint64_t StoreBytes()
{
    if (storeBytesKnown) return storeBytes;
    storeBytes = 0;
    char pattern[kPathBufferSize];
    char path[kPathBufferSize];
    DirEntry entry;
    const char* const copies[] = {kKeptCopyExtension, kCopyInProgressExtension};
    for (const char* extension : copies) {
        if (!QuarantineFilePath("*", pattern, sizeof pattern) || !AppendText(pattern, sizeof pattern, extension)) {
            continue;
        }
        SearchRef search = FindFirstReachable(pattern, entry);
        for (bool more = search != 0; more; more = Sys().FindNextEntry(search, entry)) {
            if (!(entry.attributes & kAttrDirectory) && QuarantineFilePath(entry.name, path, sizeof path)) {
                storeBytes += LengthOf(path);
            }
        }
        if (search) Sys().FindEnd(search);
    }
    storeBytesKnown = true;
    return storeBytes;
}

bool StorePathOf(const char* id, const char* extension, char* out, std::size_t size)
{
    char name[kStoreNameSize];
    QuarantineFileName(id, extension, name);
    return QuarantineFilePath(name, out, size);
}

// A free id, with its copy's temporary file created (which claims it);
// kNoFile when none could be claimed.
FileRef ClaimEntry(char id[kQuarantineIdSize], char* copyPath, std::size_t size)
{
    const char* const extensions[] = {kKeptCopyExtension, kManifestExtension, kCopyInProgressExtension,
                                      kManifestInProgressExtension};
    std::uint32_t candidate = static_cast<std::uint32_t>(Sys().CurrentTime());
    char path[kPathBufferSize];
    for (std::uint32_t attempt = 0; attempt < kIdAttempts; ++attempt, ++candidate) {
        std::snprintf(id, kQuarantineIdSize, "%08X", static_cast<unsigned>(candidate));
        bool taken = false;
        for (const char* extension : extensions) {
            if (!StorePathOf(id, extension, path, sizeof path)) return kNoFile;
            if (ReachableExists(path)) taken = true;
        }
        if (taken) continue;
        StorePathOf(id, kCopyInProgressExtension, copyPath, size);
        FileRef file = CreateReachableNewFile(copyPath);
        if (file != kNoFile) return file;
        // Taken in the meantime, or the store cannot be written at all.
        if (!ReachableExists(copyPath)) return kNoFile;
    }
    return kNoFile;
}

bool WriteAll(FileRef file, const void* data, std::size_t length)
{
    return Sys().WriteBytes(file, data, static_cast<std::uint32_t>(length)) == static_cast<std::int32_t>(length);
}

// Writes the neutered copy of the open original to the claimed file and
// flushes it; fills the entry's length and digest.
QuarantineFailure WriteCopy(FileRef original, FileRef copy, std::uint32_t length, QuarantineEntry& entry)
{
    if (!WriteAll(copy, kNeuteredHeader, kNeuteredHeaderLength)) return QuarantineUnwritable;
    Sha256 hash;
    Sha256Start(hash);
    switch (PassNeutered(original, copy, length, true, hash)) {
    case PassReadFailed:
        return QuarantineUnreadable;
    case PassWriteFailed:
        return QuarantineUnwritable;
    case PassDone:
        break;
    }
    if (!Sys().FlushFile(copy)) return QuarantineUnwritable;
    Sha256Finish(hash, entry.sha256);
    entry.length = length;
    return QuarantineNoFailure;
}

// Writes the manifest under its temporary name and flushes it.
bool WriteManifest(const QuarantineEntry& entry, const char* path)
{
    char text[kManifestMaxBytes];
    const std::size_t length = FormatManifest(entry, text, sizeof text);
    if (length == 0) return false;
    FileRef file = CreateReachableNewFile(path);
    if (file == kNoFile) return false;
    const bool written = WriteAll(file, text, length) && Sys().FlushFile(file);
    Sys().CloseFile(file);
    return written;
}

// The entry's record of the file: where the user knew it and what it is.
bool DescribeFile(const char* path, const char* threat, QuarantineEntry& entry)
{
    std::memset(&entry, 0, sizeof entry);
    const bool named = pathNamer ? pathNamer(path, entry.originalPath, sizeof entry.originalPath, pathNamerContext)
                                 : CopyText(entry.originalPath, sizeof entry.originalPath, path);
    entry.time = Sys().CurrentTime();
    return named && IsSafeOriginalPath(entry.originalPath) &&
           CopyText(entry.threat, sizeof entry.threat, threat ? threat : "") && IsSafeThreatName(entry.threat) &&
           entry.time >= 0;
}

// Copies the open original into a new entry of the held store; every file
// of an entry that did not become complete is removed again.
QuarantineFailure AddHeldEntry(FileRef original, std::uint32_t length, QuarantineEntry& entry)
{
    const std::uint64_t needed = kNeuteredHeaderLength + static_cast<std::uint64_t>(length);
    if (needed > settings.totalCap || StoreBytes() > settings.totalCap - needed) return QuarantineStoreFull;
    char copyInProgress[kPathBufferSize];
    char copyPath[kPathBufferSize];
    char manifestInProgress[kPathBufferSize];
    char manifestPath[kPathBufferSize];
    FileRef copy = ClaimEntry(entry.id, copyInProgress, sizeof copyInProgress);
    if (copy == kNoFile) return QuarantineUnwritable;
    StorePathOf(entry.id, kKeptCopyExtension, copyPath, sizeof copyPath);
    StorePathOf(entry.id, kManifestInProgressExtension, manifestInProgress, sizeof manifestInProgress);
    StorePathOf(entry.id, kManifestExtension, manifestPath, sizeof manifestPath);
    QuarantineFileName(entry.id, kKeptCopyExtension, entry.dataName);

    QuarantineFailure failure = WriteCopy(original, copy, length, entry);
    Sys().CloseFile(copy);
    if (failure != QuarantineNoFailure) {
        RemoveReachableFile(copyInProgress);
        return failure;
    }
    ObserveQuarantineStep(QuarantineStepCopyFlushed);
    if (!RenameReachableFile(copyInProgress, copyPath)) {
        RemoveReachableFile(copyInProgress);
        return QuarantineUnwritable;
    }
    ObserveQuarantineStep(QuarantineStepCopyNamed);
    if (!WriteManifest(entry, manifestInProgress)) {
        RemoveReachableFile(manifestInProgress);
        RemoveReachableFile(copyPath);
        return QuarantineUnwritable;
    }
    ObserveQuarantineStep(QuarantineStepManifestFlushed);
    // The entry's names must be on the disk before the original may go.
    if (!RenameReachableFile(manifestInProgress, manifestPath) || !FlushReachableFolder(settings.folder)) {
        RemoveReachableFile(manifestPath);
        RemoveReachableFile(manifestInProgress);
        RemoveReachableFile(copyPath);
        return QuarantineUnwritable;
    }
    ObserveQuarantineStep(QuarantineStepEntryComplete);
    storeBytes += needed;
    return QuarantineNoFailure;
}

QuarantineFailure AddEntry(FileRef original, std::uint32_t length, QuarantineEntry& entry)
{
    if (!PrepareStoreFolders()) return QuarantineUnwritable;
    switch (HoldQuarantine()) {
    case HoldRefused:
        return QuarantineBusy;
    case HoldNotNeeded:
        // Not even the lock file could be made.
        ReleaseQuarantine();
        return QuarantineUnwritable;
    case HoldTaken:
        break;
    }
    const QuarantineFailure failure = AddHeldEntry(original, length, entry);
    ReleaseQuarantine();
    return failure;
}

}  // namespace

void UseQuarantine(const QuarantineSettings& chosen)
{
    settings = chosen;
    // A trailing backslash would double the one every store path adds.
    std::size_t length = BoundedLength(settings.folder, sizeof settings.folder);
    if (length == sizeof settings.folder) length = 0;
    settings.folder[length] = '\0';
    while (length > 2 && settings.folder[length - 1] == '\\') settings.folder[--length] = '\0';
    active = length > 0;
    storeBytesKnown = false;
    ForgetQuarantineOpening();
}

void UseDefaultQuarantine()
{
    QuarantineSettings chosen;
    chosen.totalCap = kDefaultQuarantineTotalCap;
    chosen.fileCap = kDefaultQuarantineFileCap;
    chosen.ownPlace = true;
    if (!DefaultQuarantineFolder(chosen.folder, sizeof chosen.folder)) {
        StopQuarantine();
        return;
    }
    UseQuarantine(chosen);
}

void StopQuarantine()
{
    active = false;
    storeBytesKnown = false;
    ForgetQuarantineOpening();
    std::memset(&settings, 0, sizeof settings);
}

void OpenQuarantine()
{
    if (!active) return;
    if (HoldQuarantine() != HoldRefused) ReleaseQuarantine();
}

bool QuarantineActive()
{
    return active;
}

const QuarantineSettings& ActiveQuarantine()
{
    return settings;
}

bool DefaultDataFolder(char* out, std::size_t size)
{
    if (size == 0) return false;
    out[0] = '\0';
    char base[kPathBufferSize];
    std::uint32_t length = 0;
    const int family = GetPlatformClass();
    if (family == kPlatformNT) length = Sys().CommonDataFolder(base, sizeof base);
    if (family != kPlatformNT && family != kPlatformWin9x) return false;
    if (length == 0 || length >= sizeof base) length = Sys().WindowsFolder(base, sizeof base);
    if (length == 0 || length >= sizeof base) return false;
    // "C:\" comes back with its backslash, a folder without one.
    if (base[length - 1] == '\\') base[length - 1] = '\0';
    if (CopyText(out, size, base) && AppendText(out, size, kDataBelowCommonData)) return true;
    out[0] = '\0';
    return false;
}

bool DefaultQuarantineFolder(char* out, std::size_t size)
{
    if (DefaultDataFolder(out, size) && AppendText(out, size, kStoreBelowDataFolder)) return true;
    if (size > 0) out[0] = '\0';
    return false;
}

void SetQuarantinePathNamer(QuarantinePathNamer namer, void* context)
{
    pathNamer = namer;
    pathNamerContext = context;
}

void SetQuarantinePathFinder(QuarantinePathFinder finder, void* context)
{
    pathFinder = finder;
    pathFinderContext = context;
}

bool FindRecordedPath(const char* recorded, char* out, std::size_t size)
{
    if (pathFinder && pathFinder(recorded, out, size, pathFinderContext)) return true;
    if (!pathFinder && recorded[0] != '/' && CopyText(out, size, recorded)) return true;
    if (size > 0) out[0] = '\0';
    return false;
}

const char* QuarantineFailureText(QuarantineFailure failure)
{
    for (const auto& row : kFailureTexts) {
        if (row.failure == failure) return row.text;
    }
    return "";
}

QuarantineNote KeepDetectedFile(const char* path, const char* threat)
{
    QuarantineNote note;
    std::memset(&note, 0, sizeof note);
    if (!active) return note;
    note.outcome = QuarantineNotKept;
    QuarantineEntry entry;
    if (!DescribeFile(path, threat, entry)) {
        note.failure = QuarantineUnnamed;
        return note;
    }
    FileRef original = OpenReachableForRead(path);
    if (original == kNoFile) {
        note.failure = QuarantineUnreadable;
        return note;
    }
    const std::int32_t length = Sys().FileLength(original);
    if (length < 0) {
        note.failure = QuarantineUnreadable;
    } else if (static_cast<std::uint32_t>(length) > settings.fileCap) {
        note.failure = QuarantineTooLarge;
    } else {
        note.failure = AddEntry(original, static_cast<std::uint32_t>(length), entry);
    }
    Sys().CloseFile(original);
    if (note.failure != QuarantineNoFailure) return note;
    note.outcome = QuarantineKept;
    CopyText(note.id, sizeof note.id, entry.id);
    return note;
}

bool QuarantineFilePath(const char* name, char* out, std::size_t size)
{
    if (CopyText(out, size, settings.folder) && AppendText(out, size, "\\") && AppendText(out, size, name)) {
        return true;
    }
    if (size > 0) out[0] = '\0';
    return false;
}

void QuarantineFileName(const char* id, const char* extension, char out[kStoreNameSize])
{
    std::snprintf(out, kStoreNameSize, "%.8s%.4s", id, extension);
}

namespace {

// Makes the folders of `folder` that are missing, from the top down; those
// whose path is `guardFrom` or below it are guarded as well, made or not.
bool MakeFolders(const char* folder, const char* guardFrom)
{
    const std::size_t guardLength = guardFrom ? std::strlen(guardFrom) : 0;
    char partial[kPathBufferSize];
    if (!CopyText(partial, sizeof partial, folder)) return false;
    const std::size_t length = std::strlen(partial);
    // Past the drive ("X:" and its backslash): every folder below it in turn.
    std::size_t at = length >= 2 && partial[1] == ':' ? 2 : 0;
    if (at < length && partial[at] == '\\') ++at;
    for (; at <= length; ++at) {
        if (at < length && partial[at] != '\\') continue;
        const char kept = partial[at];
        partial[at] = '\0';
        const bool root = partial[0] == '\0' || (partial[1] == ':' && partial[2] == '\0');
        const bool guarded = !root && guardLength > 0 && at >= guardLength &&
                             std::strncmp(partial, guardFrom, guardLength) == 0 &&
                             (partial[guardLength] == '\0' || partial[guardLength] == '\\');
        bool made = root || (!guarded && (ReachableExists(partial) || CreateReachableFolder(partial)));
        if (guarded) made = MakeReachableGuardedFolder(partial);
        partial[at] = kept;
        if (!made) return false;
    }
    return true;
}

}  // namespace

bool CreateMissingFolders(const char* folder)
{
    return MakeFolders(folder, nullptr);
}

bool PrepareStoreFolders()
{
    char dataFolder[kPathBufferSize];
    const bool guarded = settings.ownPlace && DefaultDataFolder(dataFolder, sizeof dataFolder);
    return MakeFolders(settings.folder, guarded ? dataFolder : nullptr);
}

void ForgetStoreBytes()
{
    storeBytesKnown = false;
}

void SetQuarantineStepObserver(QuarantineStepObserver observer)
{
    stepObserver = observer;
}

void ObserveQuarantineStep(QuarantineStep step)
{
    if (stepObserver) stepObserver(step);
}
