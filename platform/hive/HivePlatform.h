// A Platform whose registry is the hive files of a Windows disk that is not
// running: the machine's SOFTWARE and SYSTEM hives and one NTUSER.DAT per
// user, read and written through libhivex. Everything else (files, folders,
// processes, services, messages) goes to the backend it is given.
//
// What the registry calls reach:
// - kKeyLocalMachine + "Software\\..." the SOFTWARE hive, "SYSTEM\\..." the
//   SYSTEM hive, where "CurrentControlSet" names ControlSet00N with N from
//   SYSTEM\Select\Current;
// - kKeyCurrentUser the selected user's NTUSER.DAT (none before AddUser);
// - on a 64-bit disk (SOFTWARE has Wow6432Node) HKLM\Software\X is
//   Software\Wow6432Node\X unless the access holds kKeyView64, as a 32-bit
//   program sees it under WoW64. Files are not redirected.
// Names are compared without regard to case (ASCII and Latin-1). Hive text
// is UTF-16LE; it comes back in single bytes (Latin-1), with '?' for each
// character Latin-1 cannot spell.
//
// Safety of the hives, which belong to another Windows (and, on a disk an
// attacker prepared, to the attacker):
// - each hive is held by its folder's descriptor and its name there; it is
//   opened only when it is a regular file (never a link, a FIFO or a
//   device), and libhivex reads it through that descriptor, never a path;
// - reading uses a read-only handle in this process and changes nothing on
//   the disk: mounting, reading and a refused change leave every file as
//   it was;
// - nothing is written unless AllowChanges(true); a hive that Windows did not
//   close cleanly (its two sequence numbers differ) is only read, and one
//   whose header does not fit its file, or that is larger than its header
//   says or than Windows allows, is not used at all. Before every change
//   the hive's name must still stand for the file that was read, unchanged,
//   and its header is checked again;
// - before a hive's first change the hook is asked; when it says no (its
//   original could not be kept) the hive is never changed;
// - a key holding a value of more than 16344 bytes is never rewritten:
//   libhivex would store that value the way Windows XP and later misread;
// - each change is made as platform/hive/HiveWriter.h says: a child process
//   commits it to "<hive>.quellor-new", created new beside the hive, this
//   process renames it over the hive within the held folder. An
//   interruption leaves the old hive or the new one, and a failure (or a
//   crash inside the library) only fails that one change. A leftover
//   "<hive>.quellor-new" is removed before the hive's next change; one that
//   cannot be removed stops the change;
// - the changed hive is given a header that keeps Windows from replaying
//   the hive's transaction logs over it (platform/hive/HiveLogs.h).
// A refused or failed change answers kRegistryAccessDenied or
// ERROR_REGISTRY_IO_FAILED (1016) and, unless changes are simply not
// allowed, leaves a line for TakeProblems.
//
// Key handles keep the key's path, so they stay good across changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

struct HiveFile;  // platform/hive/HiveFile.h
struct HiveEdit;  // platform/hive/HiveWriter.h

class HivePlatform : public Platform {
public:
    explicit HivePlatform(Platform& inner);
    ~HivePlatform() override;
    HivePlatform(const HivePlatform&) = delete;
    HivePlatform& operator=(const HivePlatform&) = delete;

    // A hive file as found on the disk: its name in a folder held open as
    // `folder` (the mount takes a descriptor of its own), and its path as
    // the user knows it. An empty name: the hive is missing.
    struct Place {
        int folder;
        std::string name;
        std::string shown;
    };

    // The machine's hives. A hive that is damaged, truncated, too large or
    // not a regular file adds one line to `problems` naming it and is left
    // alone (its keys are then simply not found).
    void MountMachine(const Place& software, const Place& system, std::vector<std::string>& problems);
    // The same with host paths ("" = missing), the folder of each opened by
    // its path: for tools and tests whose paths are their own.
    void MountMachine(const std::string& softwareHive, const std::string& systemHive,
                      std::vector<std::string>& problems);

    struct Profile {
        std::string sid;
        std::string imagePath;  // expanded, Windows form, e.g. "C:\\Users\\alice"
    };
    // SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList: each subkey's
    // ProfileImagePath, in the hive's order. Empty without SOFTWARE.
    std::vector<Profile> Profiles();

    // One user's NTUSER.DAT with the profile folder its %USERPROFILE% names
    // (Windows form). Users are numbered in the order added; the first one
    // added is selected. A hive that cannot be used adds a problem line and
    // the user is still counted (its keys are not found), so user numbers
    // stay those of the calls.
    void AddUser(const Place& ntuserHive, const std::string& profilePath, std::vector<std::string>& problems);
    void AddUser(const std::string& ntuserHive, const std::string& profilePath, std::vector<std::string>& problems);

    // Without this every change is refused (access denied) and no file is
    // written.
    void AllowChanges(bool allow);

    // Called once per hive file, with its path as shown, before its first
    // change is written (the console keeps the original in the quarantine
    // store there). Called before the change is attempted, so it may run
    // for a hive whose change then fails. False: the hive is never changed
    // (one problem line says so).
    void SetBeforeFirstChange(std::function<bool(const std::string& hiveShownPath)> hook);

    // SOFTWARE has a Wow6432Node key.
    bool Is64BitWindows();

    // Lines the caller prints once each: a hive left read-only because
    // Windows did not close it cleanly, a change that could not be written,
    // ... Taken lines are gone.
    std::vector<std::string> TakeProblems();
    // Any hive found damaged or unusable: the console's exit status is never
    // 0 then.
    bool HadDamagedHive();

    // For tests: where a change stops as if the program were killed there.
    // The child steps end only the child; the others end this process
    // (_exit), so tests use them in a process of their own.
    enum class ChangeFault {
        None,
        ChildAborts,              // the child calls abort() before committing
        ChildKilledBeforeCommit,  // the child is killed before committing
        ChildFlushFails,          // the child commits the new file, then cannot flush it
        ChildHangs,               // the child never ends; it is stopped after 1 s instead of 120
        StopAfterNewFile,         // this process ends with the new file written, not renamed
        StopAfterRename           // this process ends just after the rename
    };
    void SetChangeFaultForTesting(ChangeFault fault);
    // For tests: the steps of a change, after each of which a hook may
    // change the disk (swap a name for a link, a FIFO, a folder) to show
    // what a racing user could do there.
    enum class ChangeStep {
        HiveChecked,     // the hive's name still stands for the file read, its header is sound
        OriginalKept,    // the hook before the first change said yes, the hive was checked again
        NewFileMade,     // the new file was created beside the hive
        NewFileWritten,  // the child committed the change into it and flushed it
        NewFileReady,    // its header sealed, flushed, given the hive's owner and mode
        BeforeRename,    // both names were checked a last time
        Renamed          // the new file has the hive's name (checked); the folder is not flushed yet
    };
    void SetStepHookForTesting(std::function<void(ChangeStep)> hook);

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
    // As ExpandEnvironmentStringsA, with that Windows' own values: see
    // platform/hive/HiveEnvironment.h.
    std::uint32_t ExpandEnvironment(const char* text, char* out, std::uint32_t size) override;
    std::uint32_t SystemFolder(char* out, std::uint32_t size) override;
    std::uint32_t CommonDataFolder(char* out, std::uint32_t size) override;
    std::int64_t CurrentTime() override;
    // False: the files of the disk are not redirected.
    bool RunsUnderWow64() override;

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
    // An open key: which hive, the names from its root (as the caller gave
    // them, after the machine's mappings), the access it was opened with.
    struct OpenKey {
        HiveFile* hive;
        std::vector<std::string> path;
        std::uint32_t access;
    };

    // The hive and path inside it that `parent` + `subkey` names, after the
    // machine's mappings (CurrentControlSet, the 32-bit view). False when
    // the name reaches no hive; `result` then says why.
    bool Locate(KeyRef parent, const char* subkey, std::uint32_t access, OpenKey& target, long& result);
    // The hive, path and access of an open key or of kKeyCurrentUser; false
    // with `result` for anything else.
    bool Target(KeyRef key, OpenKey& target, long& result);
    HiveFile* SelectedUser() const;
    // Refuses or makes one change of a hive and reports its failure.
    long Change(HiveFile& hive, const HiveEdit& edit);
    // Every place the file of `hive` is mounted.
    std::vector<HiveFile*> MountsOf(const HiveFile& hive);
    void Note(const std::string& line);
    void MountOne(HiveFile& hive, const Place& place, std::vector<std::string>& problems);
    void ReadMachine();

    Platform& inner_;
    std::unique_ptr<HiveFile> software_;
    std::unique_ptr<HiveFile> system_;
    std::vector<std::unique_ptr<HiveFile>> users_;
    std::vector<std::string> profilePaths_;
    std::uint32_t selectedUser_;
    // "ControlSet00N" that CurrentControlSet names; empty when unknown.
    std::string controlSet_;
    bool is64Bit_;
    std::map<KeyRef, OpenKey> openKeys_;
    KeyRef nextKey_;
    bool allowChanges_;
    bool damaged_;
    ChangeFault fault_;
    std::function<bool(const std::string&)> beforeFirstChange_;
    std::function<void(ChangeStep)> stepHook_;
    std::vector<std::string> problems_;
    // Variable values by upper-case name, from the machine's hives.
    std::map<std::string, std::string> environment_;
};
