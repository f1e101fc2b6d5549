// A Platform in front of a real backend that spares the scan repeated work
// on each file, with the same results:
// - a file opened for reading is read once, its first kHeadCacheSize bytes
//   (or the whole file when shorter) in one call at the opening, and reads
//   within them are served from memory; seeks are counted here;
// - a file just closed stays at hand: when the very next call to the
//   platform opens the same path for reading again (the next examination
//   handler of the walk asking for the file the previous one let go), that
//   opening reuses it, head and all. Any other call first lets it go, so a
//   file is closed before anything is done to it or with it.
// A file whose length cannot be given (of 4 GiB or more) passes every call
// through unchanged.
//
// Portable: it only ever talks to the backend it is given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

// Enough for what the examinations read of almost every file: the PE
// header and section table, the archive headers, the script blocks. A
// larger head costs more to copy than the rare read beyond it saves.
const std::uint32_t kHeadCacheSize = 4 * 1024;

class HeadCachePlatform : public Platform {
public:
    explicit HeadCachePlatform(Platform& inner);
    ~HeadCachePlatform() override;
    HeadCachePlatform(const HeadCachePlatform&) = delete;
    HeadCachePlatform& operator=(const HeadCachePlatform&) = delete;

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
    std::uint32_t TempFolder(char* out, std::uint32_t size) override;
    std::uint32_t ExpandEnvironment(const char* text, char* out, std::uint32_t size) override;
    std::uint32_t SystemFolder(char* out, std::uint32_t size) override;
    bool RunsUnderWow64() override;
    std::uint32_t CommonDataFolder(char* out, std::uint32_t size) override;
    // A pure query, like LastErrorCode: it does not let the kept file go.
    std::int64_t CurrentTime() override;

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
    // Pure queries (these two and TickCount): they neither let the kept file
    // go nor disturb the thread's last error.
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

private:
    // One file open for reading. `length` is -1 when the file passes
    // through unchanged.
    struct ReadFile {
        bool inUse;
        bool kept;
        FileRef file;
        std::int32_t length;
        std::int32_t position;
        std::uint32_t cached;
        char path[kPathBufferSize];
        unsigned char head[kHeadCacheSize];
    };
    static const std::size_t kSlots = 4;

    // Closes the file kept at hand, if any. Every call but a reopening of
    // that file and the pure queries starts with it.
    void LetGo();
    ReadFile* Slot(FileRef file);
    std::int32_t ReadThrough(ReadFile& slot, unsigned char* out, std::uint32_t count);

    Platform& inner_;
    ReadFile* slots_;
};
