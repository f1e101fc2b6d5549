// The backend of the platform seam for POSIX systems (Linux), for the
// console scanner: real files and folders; no registry, processes, services,
// message queue or restart, so those calls answer "not available" and the
// engine's steps that need them find nothing.
//
// Drives. A drive letter is mapped to a host folder with MapDrive, which
// opens that folder as it is named (links in the named path are followed:
// whoever names it is trusted) and holds it open until the letter is mapped
// again. The engine builds Windows paths ("C:\\dir\\file.exe", patterns
// "C:\\dir\\*.*"); every engine path on a drive is reached below the folder
// held for it, never by a host path: its folders one real folder at a time
// (no link at any step, no "." or ".."; '\\' and '/' both separate names),
// its last name by a call relative to the folder that holds it. A path on an
// unmapped drive, or one that passes through a link, names nothing. HostPath
// gives the host path an engine path stands for, for messages only.
//
// Names are the host's bytes, looked up exactly (the host's file systems tell
// case apart); a wildcard mask matches them by Windows's listing rules
// (platform/ListingRules.h), case included. Three kinds of entry are left
// out of every enumeration, each reported once to the notice handler: a FIFO,
// socket or device node (never opened, anywhere: opening a device runs its
// driver, opening a FIFO waits for the other end), a name holding '\\' (the
// engine would read it as two names), and an entry whose engine path would
// not fit the engine's path buffers (kPathBufferSize, with room for the
// "\\*.*" the walk appends to a folder).
//
// Only regular files open, and never through a symbolic link: a link never
// leads an examination, a write or a change out of the mapped folders. A
// symbolic link to a folder is listed as a directory with the symbolic-link
// reparse tag, which the walk does not enter; its own name exists. A listed
// folder stays open until its enumeration ends, and the file the listing
// gave last is opened, removed or renamed relative to that folder, with the
// type the listing gave it: one open per file where no other user can
// change the folder; where another user could, a name listed as a regular
// file is first reached without being opened and checked
// (platform/posix/HeldFolder.h).
//
// Changes: only an existing regular file, reached without a link, is
// written in place (OpenForWrite, CreateForAppend). Every other write goes
// to a file this backend has just created, only where no entry had the name;
// a copy over a file is written to a new file beside it and renamed over it;
// renames never replace an existing name; attributes change only on the
// regular file that was checked; removals and renames act in the folder
// held. A call whose name or folder is swapped between its steps acts on
// what it checked or fails.
//
// A file opened for reading is read at the position kept for it, one call
// per read; quellor-scan puts the head cache (platform/HeadCachePlatform.h)
// in front of this backend, which spares the examinations' many small reads.
//
// Folders made with CreateFolder and files made with CreateNewFile are the
// owner's alone (modes 0700 and 0600).
//
// Locks and replacing (PosixLocks.cpp): TakePathLock opens the file itself
// (made when missing; never a FIFO, device or link: platform/posix/
// HeldFolder.h) for writing and takes a lock of that open description
// (fcntl F_OFD_SETLK, F_WRLCK), which conflicts with every other
// description of the file, in this process too; it checks afterwards that
// the file locked still has the name. RenameOver is renameat within the one
// folder, then that folder flushed.
//
// Attributes: read-only is "no write permission for the owner"; hidden and
// system do not exist here (never reported, ignored when set). As on
// Windows, a read-only file is not removed until its attribute is reset, and
// not copied over. Listings take file or folder from the directory itself
// and so show the read-only attribute only for entries they had to look up
// (links, and file systems that do not tell the type).
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

struct EnginePlace;
struct HeldSearch;

class PosixPlatform : public Platform {
public:
    enum NoticeKind {
        NoticeUnreadable,  // a folder or file exists but cannot be read
        NoticeBackslash,   // a name holds '\\'
        NoticeTooLong,     // the entry's engine path exceeds the path buffers
        NoticeNotRegular   // a FIFO, socket or device node: never opened
    };
    // Receives each notice once per host path; `detail` is the errno value
    // for NoticeUnreadable, the entry's type (its S_IFMT bits, for
    // EntryTypeText in platform/posix/HeldFolder.h) for NoticeNotRegular,
    // 0 otherwise.
    typedef void (*NoticeHandler)(NoticeKind kind, const char* hostPath, int detail);
    // Receives NotifyWindow's messages (the engine's result-sink protocol).
    typedef void (*NotifyHandler)(WindowRef window, std::uint32_t message);

    PosixPlatform();
    ~PosixPlatform() override;

    PosixPlatform(const PosixPlatform&) = delete;
    PosixPlatform& operator=(const PosixPlatform&) = delete;

    // Maps drive `letter` (A to Z, either case) to `hostFolder`, opened as
    // named and held until the letter is mapped again; an empty folder
    // unmaps it. False when the folder cannot be opened: the drive then
    // names nothing (HostPath still gives its paths).
    bool MapDrive(char letter, const std::string& hostFolder);
    // Maps drive `letter` to the folder `engineFolder` names on a drive
    // mapped already, reached below that drive's held folder as every
    // engine path is (no link at any step). False, leaving the letter
    // unmapped, when that folder cannot be reached.
    bool MapDriveBelow(char letter, const char* engineFolder);
    // The host path an engine path stands for, for messages; false when its
    // drive is not mapped. Nothing is ever reached by it.
    bool HostPath(const char* enginePath, std::string& hostPath) const;
    // A new descriptor (O_RDONLY | O_DIRECTORY | O_CLOEXEC) of the folder
    // `engineFolder` names, reached below its drive's held folder, for
    // callers that work in it with calls of their own relative to it; -1
    // with errno when it cannot be reached.
    int OpenFolder(const char* engineFolder);

    void SetNoticeHandler(NoticeHandler handler) { noticeHandler_ = handler; }
    void SetNotifyHandler(NotifyHandler handler) { notifyHandler_ = handler; }
    // Safe to call from a signal handler: the next TakePendingMessage gives
    // the engine a quit message, so the walk stops at its next check.
    static void RequestQuit();

    bool QueryVersion(VersionInfo& info) override;

    int QueryDriveType(const char* root) override;
    SearchRef FindFirstEntry(const char* pattern, DirEntry& entry) override;
    bool FindNextEntry(SearchRef search, DirEntry& entry) override;
    void FindEnd(SearchRef search) override;
    bool PathExists(const char* path) override;
    bool PathReadable(const char* path) override;
    bool IsVolumeMountPoint(const char* path) override;

    FileRef OpenForRead(const char* path) override;
    FileRef OpenForWrite(const char* path) override;
    FileRef CreateForAppend(const char* path) override;
    std::int32_t ReadBytes(FileRef file, void* buffer, std::uint32_t count) override;
    std::int32_t WriteBytes(FileRef file, const void* data, std::uint32_t count) override;
    std::int32_t SeekTo(FileRef file, std::int32_t offset, SeekOrigin origin) override;
    std::int32_t FileLength(FileRef file) override;
    void CloseFile(FileRef file) override;

    bool SetAttributes(const char* path, std::uint32_t attributes) override;
    bool RemoveFile(const char* path) override;
    bool RenameFile(const char* from, const char* to) override;
    bool CopyFileOver(const char* from, const char* to) override;
    bool RemoveAtReboot(const char* path) override;
    bool CreateFolder(const char* path) override;
    FileRef CreateNewFile(const char* path) override;
    bool FlushFile(FileRef file) override;
    bool FlushFolder(const char* path) override;
    bool MakeGuardedFolder(const char* path) override;
    PathLockResult TakePathLock(const char* path, LockRef& lock) override;
    void ReleasePathLock(LockRef lock) override;
    bool RenameOver(const char* from, const char* to) override;
    std::uint32_t ShortPathOf(const char* path, char* out, std::uint32_t size) override;
    std::uint32_t WindowsFolder(char* out, std::uint32_t size) override;
    std::uint32_t SystemFolder(char* out, std::uint32_t size) override;
    bool RunsUnderWow64() override;
    std::uint32_t CommonDataFolder(char* out, std::uint32_t size) override;
    std::int64_t CurrentTime() override;
    std::uint32_t TempFolder(char* out, std::uint32_t size) override;
    std::uint32_t ExpandEnvironment(const char* text, char* out, std::uint32_t size) override;

    long RegistryOpen(KeyRef parent, const char* subkey, std::uint32_t access, KeyRef& key) override;
    long RegistryQueryValue(KeyRef key, const char* name, std::uint32_t* type, void* data,
                            std::uint32_t* size) override;
    long RegistryValueCount(KeyRef key, std::uint32_t& count) override;
    long RegistryEnumValue(KeyRef key, std::uint32_t index, char* name, std::uint32_t& nameLength) override;
    long RegistryDeleteValue(KeyRef key, const char* name) override;
    long RegistryDeleteKey(KeyRef parent, const char* subkey) override;
    void RegistryClose(KeyRef key) override;
    std::uint32_t RegistryUserCount() override;
    bool SelectRegistryUser(std::uint32_t index) override;
    bool RegistryHasTwoViews() override;

    SnapshotRef ProcessSnapshot() override;
    bool ProcessFirst(SnapshotRef snapshot, ProcessEntry& entry) override;
    bool ProcessNext(SnapshotRef snapshot, ProcessEntry& entry) override;
    void SnapshotClose(SnapshotRef snapshot) override;
    bool ListProcessIds(std::uint32_t* ids, std::uint32_t capacityBytes, std::uint32_t& bytesReturned) override;
    std::uint32_t ProcessImagePath(ProcessRef process, char* out, std::uint32_t size) override;
    std::uint32_t ProcessImageName(ProcessRef process, char* out, std::uint32_t size) override;
    ProcessRef OpenProcessById(std::uint32_t access, std::uint32_t processId) override;
    bool TerminateProcessRef(ProcessRef process, std::uint32_t exitCode) override;
    void CloseProcess(ProcessRef process) override;
    std::uint32_t LastErrorCode() override;
    int WideToAnsi(const std::uint16_t* text, int length, char* out, int size) override;

    ServiceRef OpenServiceManager(std::uint32_t access) override;
    ServiceRef OpenServiceByName(ServiceRef manager, const char* name, std::uint32_t access) override;
    bool RequestServiceStop(ServiceRef service) override;
    bool QueryServiceState(ServiceRef service, std::uint32_t& state) override;
    void CloseServiceRef(ServiceRef handle) override;

    PrivilegeResult EnablePrivilege(const char* privilegeName) override;
    bool RequestReboot(std::uint32_t flags) override;
    void EndProgram(int exitCode) override;

    bool TakePendingMessage(PendingMessage& message) override;
    void DispatchPending(const PendingMessage& message) override;
    void NotifyWindow(WindowRef window, std::uint32_t message) override;
    int Prompt(const char* text, const char* caption, std::uint32_t flags) override;
    void PlainMessage(const char* text, const char* caption) override;
    void Wait(std::uint32_t milliseconds) override;
    std::uint32_t TickCount() override;

    // Reports a notice unless the same host path was reported before.
    void Notice(NoticeKind kind, const std::string& hostPath, int detail);

    // For tests: called between the steps of a call, with the step's name:
    // "held" once the folder that holds a path's last name is open, before
    // anything is done with the name; "checked" after a call checked what
    // the name stands for, before it changes anything.
    void SetStepHookForTesting(std::function<void(const char* step)> hook) { stepHook_ = hook; }

private:
    struct HeldDrive {
        std::string host;
        int fd = -1;
    };

    // Resolves `enginePath` below its drive's held folder: false, with the
    // reason in place.error, when it leads nowhere.
    bool Locate(const char* enginePath, EnginePlace& place);
    // OpenFolder, with `access` O_RDONLY or O_PATH.
    int OpenFolderAs(const char* engineFolder, int access);
    void Step(const char* name);
    void ReleaseDrive(int index);

    HeldDrive drives_[26];
    // The enumerations not yet ended, the latest last.
    std::vector<HeldSearch*> searches_;
    std::function<void(const char*)> stepHook_;
    std::set<std::string> noticed_;
    NoticeHandler noticeHandler_;
    NotifyHandler notifyHandler_;
    std::uint32_t lastError_;
};
