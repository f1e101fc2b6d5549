// An in-memory platform for the native tests: drives, folders and files
// (content, attributes, enumeration order, locks against deleting and
// opening, the locks TakePathLock takes), the registry, processes,
// services, the message queue, prompt answers and a clock that records waits
// instead of sleeping. Everything the engine asks of it is recorded so tests
// can assert on it.
//
// Its source files follow the Win32 backend's split: FakeFiles.cpp (version,
// drives, folders, files), FakeRegistry.cpp, FakeProcesses.cpp (processes,
// services, privileges, restart, the end of the program), FakeMessages.cpp
// (queue, notifications, prompts, waits) and FakePlatform.cpp (construction
// and the WoW64 views).
//
// Paths are compared without regard to case, as on the real platform. A
// folder lists its entries in the order they were added unless a test
// reorders them.
//
// With `wow64` set the fake is 64-bit Windows running the program as a
// 32-bit one, redirected as the real system does it: the program's file
// calls on <windows>\System32 reach <windows>\SysWOW64 (except the
// subfolders the system exempts), <windows>\Sysnative reaches the real
// System32 (when `nativeAliasAvailable`; the alias is never listed), and its
// registry opens of HKEY_LOCAL_MACHINE\Software reach
// Software\Wow6432Node unless the access holds kKeyView64. The set-up and
// inspection helpers always use the real (64-bit) names.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

class FakePlatform : public Platform {
public:
    FakePlatform();
    ~FakePlatform() override;

    // ----- Set-up and inspection used by tests. -----

    // Drives: every letter is DriveNoRootDir until added.
    void AddDrive(char letter, int type);
    // Creates the folder and any missing parents.
    void AddFolder(const std::string& path, std::uint32_t attributes = kAttrDirectory);
    // Creates or replaces a file (parents are created as folders).
    void AddFile(const std::string& path, const std::string& content, std::uint32_t attributes = kAttrArchive);
    // A directory reparse point at `path` whose contents are those of the
    // folder `target`. `volumeMount` marks a volume mounted in a folder.
    // A symbolic link (kReparseTagSymlink) takes its name but is never
    // followed: no path leads through it, as with the POSIX backend.
    void AddLink(const std::string& path, const std::string& target, std::uint32_t reparseTag,
                 bool volumeMount = false);
    // Reorders the entries of a folder: names listed first, in that order.
    void SetEnumerationOrder(const std::string& folder, const std::vector<std::string>& names);

    bool Exists(const std::string& path) const;
    bool IsFolder(const std::string& path) const;
    std::string Content(const std::string& path) const;
    std::uint32_t Attributes(const std::string& path) const;

    // Failure switches for one path.
    void LockAgainstDelete(const std::string& path, bool locked = true);  // delete and rename fail
    void LockAgainstOpen(const std::string& path, bool locked = true);    // opening fails
    void LockAttributes(const std::string& path, bool locked = true);     // attribute changes fail
    // The file is the image of a running process: delete and rename fail
    // until that process is terminated.
    void HoldOpenByProcess(const std::string& path, std::uint32_t processId);
    // The entry at `path` keeps its present name as its short (8.3) name and
    // is listed under `longName`: the ANSI form of a long name, with '?'
    // for each character the code page lacks. Such a long name opens
    // nothing; the short name, which the enumeration reports beside it,
    // opens the entry.
    void SetAnsiLongName(const std::string& path, const std::string& longName);
    // Makes the file a sparse one of `length` bytes: its content, then zeros.
    // The length is reported as the runtime's 32-bit _filelength reports
    // it: a file of 2 GiB or more but under 4 GiB reads as a negative
    // length, a larger one as -1 (the seek behind it fails).
    void SetSparseLength(const std::string& path, std::int64_t length);
    // Every read asked of an open file, in order: where and how many bytes.
    struct FileRead {
        std::int64_t position;
        std::uint32_t count;
    };
    std::vector<FileRead> fileReads;
    // The short (8.3) form reported for a path.
    void SetShortPath(const std::string& path, const std::string& shortPath);

    // Folders guarded by MakeGuardedFolder; with `guardFails` every guard
    // is refused, as for a program without administrator rights.
    bool IsGuarded(const std::string& path) const;
    bool guardFails = false;
    // Another process holds the lock of the path (TakePathLock), or lets it
    // go; HeldHere: this process holds it.
    void HoldElsewhere(const std::string& path, bool held = true);
    bool HeldHere(const std::string& path) const;
    // The names of the files in `folder` become as fleeting as unflushed
    // bytes: a power cut (SimulateCrash) takes the folder's files back to
    // what they were when it was last flushed (FlushFolder), or else when
    // this was called: files made since are gone, files removed or renamed
    // since are back under their old names (with their content as it was
    // then flushed). Other folders keep every change of names.
    void MakeNamesFleeting(const std::string& folder);

    // ----- Registry set-up and inspection. -----
    // kKeyCurrentUser names the selected user's keys (SelectRegistryUser);
    // there is one user until a test adds more. Returns the new user's index.
    std::uint32_t AddRegistryUser();
    void SetRegistryValue(KeyRef hive, const std::string& key, const std::string& name, std::uint32_t type,
                          const std::string& data);
    void SetRegistryString(KeyRef hive, const std::string& key, const std::string& name, const std::string& text);
    void AddRegistryKey(KeyRef hive, const std::string& key);
    // Deleting the value is refused (access denied) while locked.
    void LockRegistryValue(KeyRef hive, const std::string& key, const std::string& name, bool locked = true);
    bool HasRegistryValue(KeyRef hive, const std::string& key, const std::string& name) const;
    bool HasRegistryKey(KeyRef hive, const std::string& key) const;
    std::vector<std::string> RegistryValueNames(KeyRef hive, const std::string& key) const;
    // Every RegistryDeleteKey call's subkey, as given.
    std::vector<std::string> keyDeletionRequests;
    // Data returned for queries of HKEY_PERFORMANCE_DATA, by value name.
    std::map<std::string, std::string> performanceData;
    // Number of registry keys currently open (leak check), HKEY_PERFORMANCE_DATA
    // included once a query has opened it.
    int OpenKeyCount() const;
    // Every RegistryOpen call, in order.
    struct KeyOpen {
        KeyRef parent;
        std::string subkey;
        std::uint32_t access;
    };
    std::vector<KeyOpen> keyOpens;

    // ----- Processes and services. -----
    struct FakeProcess {
        std::uint32_t processId;
        std::string imagePath;
        bool canOpen;
        bool canTerminate;
        bool running;
        // Opening it is denied until SeDebugPrivilege has been enabled, as
        // for the system's own services.
        bool needsDebugPrivilege = false;
        // A 64-bit process: under WoW64 psapi cannot read its modules, only
        // QueryFullProcessImageNameA names its image.
        bool is64Bit = false;
    };
    std::uint32_t AddProcess(const std::string& imagePath, bool canOpen = true, bool canTerminate = true);
    const FakeProcess* FindProcess(std::uint32_t processId) const;
    void RequireDebugPrivilege(std::uint32_t processId);
    void MakeSixtyFourBit(std::uint32_t processId);
    bool toolHelpAvailable;
    bool psapiAvailable;
    bool fullImageNameAvailable;  // QueryFullProcessImageNameA exists (Vista and later)
    std::vector<std::uint32_t> terminatedProcesses;
    // Every OpenProcessById call, in order. A handle grants only the rights
    // it was opened with: termination needs kProcessTerminate, the image path
    // needs both rights of kProcessQueryRead.
    struct ProcessOpen {
        std::uint32_t access;
        std::uint32_t processId;
    };
    std::vector<ProcessOpen> processOpens;
    bool debugPrivilegeEnabled;
    int OpenProcessCount() const;

    struct FakeService {
        bool acceptsStop;
        std::vector<std::uint32_t> states;  // answers of successive status queries; the last repeats
        std::size_t queries;
        std::size_t answered = static_cast<std::size_t>(-1);  // queries answered before they fail
    };
    std::map<std::string, FakeService> services;  // by upper-case name
    std::vector<std::string> stopRequests;
    bool serviceManagerFails;
    std::vector<std::uint32_t> serviceAccess;  // access of every manager and service open, in order
    int OpenServiceCount() const;

    // ----- System. -----
    VersionInfo version;          // defaults to NT 5.1
    bool versionQueryFails;
    bool wow64;                   // a 32-bit program on 64-bit Windows (see above)
    // The registry of a 64-bit Windows disk's hives: HKEY_LOCAL_MACHINE\Software
    // has the two views as under `wow64`, the files are not redirected.
    bool twoRegistryViews = false;
    bool nativeAliasAvailable;    // under WoW64, <windows>\Sysnative reaches System32
    std::string windowsFolder;    // "C:\\WINDOWS"
    std::string tempFolder;       // "C:\\WINDOWS\\TEMP\\"
    std::map<std::string, std::string> environment;  // by upper-case name
    bool shortPathFails;
    bool rebootRemovalResult;
    std::vector<std::string> rebootRemovals;
    // Bytes the next writes may still write in all; negative = no limit.
    long writeBudget;
    // Calls that change files and folders (creating, writing, flushing,
    // attributes, removing, renaming, copying, delayed removal) the fake
    // still carries out; once it reaches 0 each further one fails and
    // changes nothing, as when the program stopped there. Negative: no
    // limit.
    long stepBudget = -1;
    bool flushFails = false;
    // No path can be locked: TakePathLock answers PathLockUnavailable.
    bool locksUnavailable = false;
    std::int64_t now = 1700000000;  // what CurrentTime answers
    // What CommonDataFolder answers; empty: the system has none.
    std::string commonDataFolder = "C:\\Documents and Settings\\All Users\\Application Data";
    // A power cut: every file keeps only what it held when it was last
    // flushed (or set up by a test); a file created and never flushed is
    // empty. Names, folders and removals stay as they were done; open
    // handles, enumerations and holds are gone; folders made fleeting
    // (MakeNamesFleeting) lose the changes of names not flushed.
    void SimulateCrash();
    std::uint32_t lastError;

    PrivilegeResult privilegeResult;
    std::vector<std::string> privilegeRequests;
    bool rebootResult;
    std::vector<std::uint32_t> rebootRequests;
    std::vector<int> endProgramCalls;

    // ----- Messages, prompts and waits. -----
    struct Notification {
        WindowRef window;
        std::uint32_t message;
    };
    struct PromptCall {
        std::string text;
        std::string caption;
        std::uint32_t flags;
    };
    void QueueMessage(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    std::deque<PendingMessage> messageQueue;
    std::vector<PendingMessage> dispatched;
    std::function<void(const PendingMessage&)> onDispatch;
    std::vector<Notification> notifications;
    std::function<void(WindowRef, std::uint32_t)> onNotify;
    std::deque<int> promptAnswers;   // answered in order; then defaultPromptAnswer
    int defaultPromptAnswer;         // kAnswerNo
    std::vector<PromptCall> prompts;
    std::function<void(const PromptCall&)> onPrompt;
    std::vector<PromptCall> plainMessages;
    std::vector<std::uint32_t> waits;
    // The clock TickCount reads: each reading advances it by `tickStep`
    // (1 by default, so no two readings are alike; 0 holds it still).
    std::uint32_t tick;
    std::uint32_t tickStep;
    int queueLooks;  // TakePendingMessage calls
    std::vector<std::string> findPatterns;  // every pattern enumerated, in order

    // ----- Platform. -----
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

    struct Node;
    struct Key;

private:
    // The real name a file call of the program reaches (see `wow64`).
    std::string ProgramView(const char* path) const;
    // The key a registry call of the program reaches under `hive`.
    std::string RegistryView(KeyRef hive, const char* subkey, std::uint32_t access) const;
    Node* Resolve(const std::string& path, bool followFinalLink = true) const;
    Node* Root(char letter) const;
    Node* MakeFolders(const std::string& path);
    FileRef OpenHandle(Node* node, bool forWrite, bool append);
    Key* FindKey(KeyRef hive, const std::string& path, bool create) const;
    Key* KeyOf(KeyRef key) const;
    // Counts one call against stepBudget; false when none is left.
    bool TakeStep();
    Node* FolderFor(const std::string& path, std::string& name) const;
    // The files a fleeting folder held when it was last flushed.
    struct KeptName {
        std::uint64_t serial;
        std::string name;
        std::uint32_t attributes;
        std::string durable;
    };
    void KeepNames(Node* folder);
    void RestoreNames(Node* folder, const std::vector<KeptName>& kept);
    std::map<Node*, std::vector<KeptName>> fleetingFolders_;
    std::vector<std::string> heldElsewhere_;

    std::map<char, int> driveTypes_;
    std::map<char, std::unique_ptr<Node>> roots_;

    struct OpenFile {
        Node* node;
        std::int64_t position;
        bool forWrite;
        bool append;
    };
    std::map<FileRef, OpenFile> openFiles_;
    FileRef nextFile_;
    // The paths locked (upper case), by lock; a power cut ends them all.
    std::map<LockRef, std::string> pathLocks_;
    LockRef nextLock_ = 1;

    struct Search {
        std::vector<DirEntry> entries;
        std::size_t next;
    };
    std::map<SearchRef, Search> searches_;
    SearchRef nextSearch_;

    std::vector<std::unique_ptr<Key>> users_;  // HKEY_CURRENT_USER of each user
    std::uint32_t selectedUser_ = 0;
    std::unique_ptr<Key> localMachine_;
    std::map<KeyRef, Key*> openKeys_;
    std::map<KeyRef, std::uint32_t> openKeyAccess_;  // the access each open key was opened with
    static const std::uint32_t kKeySetValue = 0x0002;
    KeyRef nextKey_;
    bool performanceDataOpen_;

    std::vector<FakeProcess> processes_;
    std::uint32_t nextProcessId_;
    std::map<SnapshotRef, std::size_t> snapshots_;
    SnapshotRef nextSnapshot_;
    struct OpenProcessHandle {
        std::uint32_t processId;
        std::uint32_t access;
    };
    std::map<ProcessRef, OpenProcessHandle> openProcesses_;
    ProcessRef nextProcessRef_;
    std::map<ServiceRef, std::string> openServices_;
    ServiceRef nextService_;
};
