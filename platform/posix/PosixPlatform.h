// The backend of the platform seam for POSIX systems (Linux), for the
// console scanner: real files and folders; no registry, processes, services,
// message queue or restart, so those calls answer "not available" and the
// engine's steps that need them find nothing.
//
// Paths. The engine builds Windows paths ("C:\\dir\\file.exe", patterns
// "C:\\dir\\*.*"). A drive letter is mapped to a host folder with MapDrive;
// every engine path on that drive names the host path under that folder, each
// '\\' standing for '/'. A path on an unmapped drive names nothing.
//
// Names are the host's bytes, looked up exactly (the host's file systems tell
// case apart); a wildcard mask matches them by Windows's listing rules
// (platform/ListingRules.h), case included. Two kinds of entry cannot be handed to the engine and are left
// out of every enumeration, each reported once to the notice handler: a name
// holding '\\' (the engine would read it as two names), and an entry whose
// engine path would not fit the engine's path buffers (kPathBufferSize,
// with room for the "\\*.*" the walk appends to a folder).
//
// Files are opened without following a symbolic link in the last component,
// so a link never leads an examination out of the mapped folders; only
// regular files open. A symbolic link to a folder is listed as a directory
// with the symbolic-link reparse tag, which the walk does not enter.
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
// Windows, a read-only file is not removed until its attribute is reset.
// Listings take file or folder from the directory itself and so show the
// read-only attribute only for entries they had to look up (links, and
// file systems that do not tell the type).
#pragma once

#include <set>
#include <string>

#include "platform/Platform.h"

class PosixPlatform : public Platform {
public:
    enum NoticeKind {
        NoticeUnreadable,  // a folder or file exists but cannot be read
        NoticeBackslash,   // a name holds '\\'
        NoticeTooLong      // the entry's engine path exceeds the path buffers
    };
    // Receives each notice once per host path; `error` is the errno value
    // for NoticeUnreadable, 0 otherwise.
    typedef void (*NoticeHandler)(NoticeKind kind, const char* hostPath, int error);
    // Receives NotifyWindow's messages (the engine's result-sink protocol).
    typedef void (*NotifyHandler)(WindowRef window, std::uint32_t message);

    PosixPlatform();
    ~PosixPlatform() override;

    PosixPlatform(const PosixPlatform&) = delete;
    PosixPlatform& operator=(const PosixPlatform&) = delete;

    // Maps drive `letter` (A to Z, either case) to `hostFolder`; an empty
    // folder unmaps it.
    void MapDrive(char letter, const std::string& hostFolder);
    // The host path of an engine path; false when its drive is not mapped.
    bool HostPath(const char* enginePath, std::string& hostPath) const;

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
    void Notice(NoticeKind kind, const std::string& hostPath, int error);

private:
    std::string drives_[26];
    std::set<std::string> noticed_;
    NoticeHandler noticeHandler_;
    NotifyHandler notifyHandler_;
    std::uint32_t lastError_;
};
