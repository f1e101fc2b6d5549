// The real backend of the platform seam: each method is one Win32 or C
// runtime call (or the few calls one operation needs), with its result mapped
// to the conventions of Platform.h. No decisions are taken here.
//
// The header stays free of <windows.h> so that code holding a Win32Platform
// does not pull the Windows macros in; the calls live in the .cpp files of
// this folder, one per area:
//   Win32Files.cpp      version, drives, files, paths
//   Win32Locks.cpp      the lock that stands for a path, replacing a file
//   Win32Directory.cpp  directory enumeration
//   Win32Registry.cpp   registry
//   Win32Processes.cpp  processes, services, privileges, reboot, exit
//   Win32Messages.cpp   message queue, prompts, message boxes, waits
//
// Everything the program imports statically must exist on Windows 98 SE and
// NT 4.0: functions that came later (Tool Help on NT, psapi, volume mount
// points, WoW64, full process image names) are looked up at run time.
#pragma once

#include <vector>

#include "platform/Platform.h"

class Win32Platform : public Platform {
public:
    // The program's own question box. When one is installed, Prompt() asks it
    // instead of showing a plain MessageBoxA.
    typedef int (*PromptHandler)(const char* text, const char* caption, unsigned flags);
    static void SetPromptHandler(PromptHandler handler);

    Win32Platform();
    ~Win32Platform() override;

    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

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
    // psapi.dll, loaded on first use and kept until the backend goes away
    // (an HMODULE; null until loaded or when the library is missing).
    void* Psapi();
    void* psapi_;
    bool psapiTried_;

    static PromptHandler promptHandler_;
};

// For tests: the security descriptor MakeGuardedFolder gives a folder, in
// self-relative form; empty where the system has no security calls (the
// 95/98/ME family).
std::vector<unsigned char> GuardedFolderDescriptorForTesting();
