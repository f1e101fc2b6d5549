// The seam between the portable engine (scan/, cleanup/) and the operating
// system. The engine includes only this header; it never sees a Windows
// header. Three backends implement it: Win32Platform (thin wrappers over the
// Win32 calls, no decisions of its own), PosixPlatform (files and folders on
// Linux, for the console scanner) and FakePlatform (in memory, for the
// native tests). The platform contract (tests/contract) runs against all
// three.
//
// Conventions of the contract:
// - Text is single-byte (ANSI). Every output buffer comes with its size in
//   bytes; a backend never writes past it and always terminates what it
//   writes when the size is nonzero.
// - Results are plain values: bool for done / not done, -1 or 0 handles for
//   "could not", counts as the platform reports them. Nothing throws.
// - Method names avoid the names that <windows.h> turns into macros
//   (DeleteFile, MoveFile, GetMessage, SendMessage, ...), so a class reads the
//   same in files that include it and files that don't.
#pragma once

#include <cstddef>
#include <cstdint>

// Path buffers hold the platform's path limit, terminator included.
const std::size_t kPathBufferSize = 260;

// Opaque handles. 0 (or -1 for files) means "none".
typedef std::uintptr_t WindowRef;
typedef std::intptr_t FileRef;
typedef std::uintptr_t SearchRef;
typedef std::uintptr_t KeyRef;
typedef std::uintptr_t ProcessRef;
typedef std::uintptr_t SnapshotRef;
typedef std::uintptr_t ServiceRef;
typedef std::uintptr_t LockRef;

const FileRef kNoFile = -1;

// Drive types, as GetDriveTypeA reports them.
enum DriveType {
    DriveUnknown = 0,
    DriveNoRootDir = 1,
    DriveRemovable = 2,
    DriveFixed = 3,
    DriveRemote = 4,
    DriveCdRom = 5,
    DriveRamDisk = 6
};

// File attribute bits, as the platform reports them.
const std::uint32_t kAttrReadOnly = 0x01;
const std::uint32_t kAttrHidden = 0x02;
const std::uint32_t kAttrSystem = 0x04;
const std::uint32_t kAttrDirectory = 0x10;
const std::uint32_t kAttrArchive = 0x20;
const std::uint32_t kAttrNormal = 0x80;
const std::uint32_t kAttrReparsePoint = 0x400;

// Reparse tags of the directory entries the walk must recognise.
const std::uint32_t kReparseTagMountPoint = 0xA0000003u;  // junction or mounted volume
const std::uint32_t kReparseTagSymlink = 0xA000000Cu;

// Size of an entry's short (8.3) name, terminator included.
const std::size_t kShortNameSize = 14;

// One directory entry of an enumeration (FindFirstFileA / FindNextFileA).
struct DirEntry {
    // The long name in the ANSI code page; every character the code page
    // cannot spell exactly comes back as '?' (never as a look-alike, which
    // could name another file, the parent folder or a path), and such a
    // name opens nothing.
    char name[kPathBufferSize];
    // The short (8.3) name the platform gives the entry, which always
    // opens it; empty when the long name is itself a valid short name or
    // the file system keeps none.
    char shortName[kShortNameSize];
    std::uint32_t attributes;
    std::uint32_t reparseTag;  // meaningful only with kAttrReparsePoint
};

// What Platform::TakePathLock found.
enum PathLockResult {
    PathLockTaken = 0,   // this process holds the lock now
    PathLockHeld,        // another holder has it
    PathLockUnavailable  // the path cannot be locked here
};

// Seek origins, as _lseek takes them.
enum SeekOrigin { SeekFromStart = 0, SeekFromCurrent = 1, SeekFromEnd = 2 };

// GetVersionExA, reduced to what the engine reads.
struct VersionInfo {
    std::uint32_t platformId;  // 1 = Windows 95/98/ME, 2 = NT
    std::uint32_t majorVersion;
    std::uint32_t minorVersion;
    std::uint32_t buildNumber;
};

// Predefined registry keys, with the values the platform gives them.
const KeyRef kKeyCurrentUser = 0x80000001u;
const KeyRef kKeyLocalMachine = 0x80000002u;
const KeyRef kKeyPerformanceData = 0x80000004u;

// Registry access masks and results used by the engine.
const std::uint32_t kKeyRead = 0x20019;
const std::uint32_t kKeyAllAccess = 0xF003F;
// KEY_WOW64_64KEY: added to an access mask, it opens the 64-bit view of the
// keys WoW64 redirects for a 32-bit program. Given only under WoW64: older
// systems do not know the bit.
const std::uint32_t kKeyView64 = 0x0100;
const long kRegistryOk = 0;
const long kRegistryNotFound = 2;
const long kRegistryAccessDenied = 5;
const long kRegistryMoreData = 234;
const long kRegistryNoMoreItems = 259;

// Registry value types.
const std::uint32_t kRegSz = 1;
const std::uint32_t kRegExpandSz = 2;
const std::uint32_t kRegBinary = 3;
const std::uint32_t kRegDword = 4;
const std::uint32_t kRegMultiSz = 7;

// One process of a Tool Help snapshot.
struct ProcessEntry {
    std::uint32_t processId;
    char exeFile[kPathBufferSize];
};

// Results of enabling a privilege in the program's own access token.
enum PrivilegeResult {
    PrivilegeEnabled = 0,         // adjusted, and the last error afterwards was 0
    PrivilegeTokenUnavailable,    // the token could not be opened
    PrivilegeNotAdjusted          // looked up or adjusted with a nonzero last error
};

// A window message taken from the thread's queue. The backend keeps what it
// needs to dispatch the message again in `raw`.
struct PendingMessage {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    unsigned char raw[64];
};

// Window messages the engine recognises in the queue.
const std::uint32_t kMessageDestroy = 0x0002;
const std::uint32_t kMessageQuit = 0x0012;

// Message-box flags and answers.
const std::uint32_t kPromptYesNoQuestion = 36;
const int kAnswerOk = 1;
const int kAnswerCancel = 2;
const int kAnswerYes = 6;
const int kAnswerNo = 7;

// Flags of the reboot request (EWX_REBOOT | EWX_FORCE).
const std::uint32_t kRebootForce = 6;

// Access rights used with processes and services.
const std::uint32_t kProcessTerminate = 0x0001;
const std::uint32_t kProcessTerminateQuery = 0x0401;
const std::uint32_t kProcessQueryRead = 0x0410;
const std::uint32_t kServiceAllAccess = 0xF003F;
const std::uint32_t kMoveDelayUntilReboot = 4;

class Platform {
public:
    virtual ~Platform() {}

    // --- System version (GetVersionExA with a 148-byte structure). ---
    virtual bool QueryVersion(VersionInfo& info) = 0;

    // --- Drives and folders. ---
    // Type of a drive root such as "C:\".
    virtual int QueryDriveType(const char* root) = 0;
    // Starts an enumeration; 0 when nothing matches or the folder cannot be
    // read. The first entry is in `entry`.
    virtual SearchRef FindFirstEntry(const char* pattern, DirEntry& entry) = 0;
    virtual bool FindNextEntry(SearchRef search, DirEntry& entry) = 0;
    virtual void FindEnd(SearchRef search) = 0;
    // Existence test of a file or folder (_access mode 0).
    virtual bool PathExists(const char* path) = 0;
    // Read-access test (_access mode 4).
    virtual bool PathReadable(const char* path) = 0;
    // True when the folder `path` (no trailing backslash) is the mount point
    // of a volume rather than a junction to another folder.
    virtual bool IsVolumeMountPoint(const char* path) = 0;

    // --- Files (the runtime's low-level file functions). ---
    virtual FileRef OpenForRead(const char* path) = 0;       // _open, read-only, binary
    virtual FileRef OpenForWrite(const char* path) = 0;      // write-only, binary, at the start
    virtual FileRef CreateForAppend(const char* path) = 0;   // create, write-only, append, binary
    // Reads up to `count` bytes; the number read, or -1.
    virtual std::int32_t ReadBytes(FileRef file, void* buffer, std::uint32_t count) = 0;
    // Writes `count` bytes; the number written, or -1.
    virtual std::int32_t WriteBytes(FileRef file, const void* data, std::uint32_t count) = 0;
    // The new position, or -1 (a negative result position fails).
    virtual std::int32_t SeekTo(FileRef file, std::int32_t offset, SeekOrigin origin) = 0;
    // The file's length, or -1.
    virtual std::int32_t FileLength(FileRef file) = 0;
    virtual void CloseFile(FileRef file) = 0;

    virtual bool SetAttributes(const char* path, std::uint32_t attributes) = 0;
    virtual bool RemoveFile(const char* path) = 0;                        // DeleteFileA
    virtual bool RenameFile(const char* from, const char* to) = 0;        // MoveFileA
    virtual bool CopyFileOver(const char* from, const char* to) = 0;      // CopyFileA, overwriting
    // MoveFileExA(path, no target, MOVEFILE_DELAY_UNTIL_REBOOT).
    virtual bool RemoveAtReboot(const char* path) = 0;
    // CreateDirectoryA: makes the one folder `path`, whose parent must
    // exist. False when it cannot be made or the name is taken already.
    virtual bool CreateFolder(const char* path) = 0;
    // Creates the file `path` for writing (write-only, binary) only when
    // nothing has that name yet (_open with _O_CREAT | _O_EXCL); kNoFile when
    // the name is taken or the file cannot be made.
    virtual FileRef CreateNewFile(const char* path) = 0;
    // Writes what was written to `file` through to the disk
    // (FlushFileBuffers); false when the system reports it could not.
    virtual bool FlushFile(FileRef file) = 0;
    // Writes the folder `path`'s own record of its names (files made,
    // renamed and removed in it) through to the disk, so that those changes
    // outlast a power cut as flushed files do. True when done, and on the
    // 95/98/ME family, which offers no way to do it; false when the folder
    // is missing or the system reports a failure.
    virtual bool FlushFolder(const char* path) = 0;
    // Makes the folder `path` (its parent must exist), or takes the real
    // folder of that name (never a link or a junction), so that only the
    // system's administrators and the system itself may change what it
    // holds. On the NT family the Administrators group becomes its owner and
    // its access list, protected from its parent's, grants full control to
    // the system and to administrators (inherited by everything made in it)
    // and nothing to anyone else; on POSIX systems it becomes its owner's
    // alone (mode 0700), and a folder of another user is refused; the
    // 95/98/ME family has no access lists and makes the folder as
    // CreateFolder does. False when the folder cannot be made or guarded
    // (on NT: without administrator rights).
    virtual bool MakeGuardedFolder(const char* path) = 0;
    // Takes, without waiting, the exclusive lock that stands for the file
    // `path` among every process of the system: PathLockTaken with `lock`
    // set, PathLockHeld when another holder has it (in this process or
    // another one), PathLockUnavailable when the system cannot lock that
    // path (a file system without locks, a name that cannot be a file);
    // `lock` is 0 unless taken. The lock keeps out other takers only:
    // reading, writing and replacing the file go on as before. It is let go
    // by ReleasePathLock and by the end of the process, however it ends.
    // Once the file at `path` has been replaced (RenameOver), a lock taken
    // before may no longer keep others out: its holder lets it go and takes
    // it again. Win32: a named mutex whose name comes from the path (its
    // folder's short form, the file's long name), in the global namespace
    // where the system has one; the file need not exist. POSIX: a lock of
    // the file's open description (fcntl F_OFD_SETLK) on the file itself,
    // made empty when missing, so only processes that may write the file
    // can take it; a FIFO, device or link there is never opened.
    virtual PathLockResult TakePathLock(const char* path, LockRef& lock) = 0;
    virtual void ReleasePathLock(LockRef lock) = 0;
    // Gives the file `from` the name `to`, in place of the file that has it
    // (a missing `to` is no error); both names must be in one folder.
    // Where the system replaces atomically, `to` names the old file until
    // it names the new one, whatever interrupts the call: POSIX rename,
    // with the folder flushed after it; MoveFileExA with
    // MOVEFILE_REPLACE_EXISTING on the NT family. Windows 95/98/ME has no
    // such call: `to` is removed, then `from` renamed, and an interruption
    // between the two leaves `from` alone. False when `from` is not a file,
    // `to` is a folder, the names are in two folders, or the system refuses
    // (on Windows a file that another handle holds open is not replaced);
    // without an atomic replace `to` may be gone then.
    virtual bool RenameOver(const char* from, const char* to) = 0;
    // GetShortPathNameA: the length of the short path, 0 on failure.
    virtual std::uint32_t ShortPathOf(const char* path, char* out, std::uint32_t size) = 0;
    // GetWindowsDirectoryA / GetTempPathA: the length, 0 on failure.
    virtual std::uint32_t WindowsFolder(char* out, std::uint32_t size) = 0;
    virtual std::uint32_t TempFolder(char* out, std::uint32_t size) = 0;
    // ExpandEnvironmentStringsA: the size needed including the terminator,
    // 0 on failure.
    virtual std::uint32_t ExpandEnvironment(const char* text, char* out, std::uint32_t size) = 0;
    // GetSystemDirectoryA, looked up at run time: the length, 0 on failure.
    // Under WoW64 it names System32 itself, which the program's file calls
    // are redirected away from.
    virtual std::uint32_t SystemFolder(char* out, std::uint32_t size) = 0;
    // The all-users application data folder (SHGetSpecialFolderPathA with
    // CSIDL_COMMON_APPDATA, looked up at run time): its length; the size
    // needed (terminator included) when `size` is too small; 0 when the
    // system has no such folder (the 95/98/ME family, NT 4.0 without a
    // newer shell, a system that is not Windows).
    virtual std::uint32_t CommonDataFolder(char* out, std::uint32_t size) = 0;
    // The current time in seconds since 1970-01-01 00:00 UTC.
    virtual std::int64_t CurrentTime() = 0;
    // IsWow64Process for the program itself, looked up at run time: true
    // only when the call exists and reports a 32-bit program on 64-bit
    // Windows. The file system and part of HKEY_LOCAL_MACHINE\Software are
    // then redirected for every file and registry call the program makes.
    virtual bool RunsUnderWow64() = 0;

    // --- Registry (the RegXxxA calls; results are the platform's codes). ---
    virtual long RegistryOpen(KeyRef parent, const char* subkey, std::uint32_t access, KeyRef& key) = 0;
    // Query of a value; `data` may be null to ask for the size only.
    virtual long RegistryQueryValue(KeyRef key, const char* name, std::uint32_t* type, void* data,
                                    std::uint32_t* size) = 0;
    virtual long RegistryValueCount(KeyRef key, std::uint32_t& count) = 0;
    // Name of the value at `index`; `nameLength` holds the buffer's capacity
    // in characters on entry and the name's length on return.
    virtual long RegistryEnumValue(KeyRef key, std::uint32_t index, char* name, std::uint32_t& nameLength) = 0;
    virtual long RegistryDeleteValue(KeyRef key, const char* name) = 0;
    virtual long RegistryDeleteKey(KeyRef parent, const char* subkey) = 0;
    virtual void RegistryClose(KeyRef key) = 0;
    // The users whose HKEY_CURRENT_USER the registry calls reach, one at a
    // time: 1 on a running system (the user the program runs as); one per
    // profile on the hives of a Windows disk that is not running.
    virtual std::uint32_t RegistryUserCount() = 0;
    // Makes user `index` (below RegistryUserCount) the one kKeyCurrentUser
    // names; false, changing nothing, when there is no such user.
    virtual bool SelectRegistryUser(std::uint32_t index) = 0;
    // True when HKEY_LOCAL_MACHINE\Software shows the program a 32-bit view
    // (Software\Wow6432Node) and kKeyView64 reaches the native one beside
    // it: for a 32-bit program under WoW64, and on the hives of a 64-bit
    // Windows disk. The engine then cleans both views.
    virtual bool RegistryHasTwoViews() = 0;

    // --- Processes. ---
    // Tool Help, looked up at run time in Kernel32.dll; 0 when the library,
    // the function or the snapshot is missing.
    virtual SnapshotRef ProcessSnapshot() = 0;
    virtual bool ProcessFirst(SnapshotRef snapshot, ProcessEntry& entry) = 0;
    virtual bool ProcessNext(SnapshotRef snapshot, ProcessEntry& entry) = 0;
    virtual void SnapshotClose(SnapshotRef snapshot) = 0;
    // psapi EnumProcesses; false when the library or function is missing.
    virtual bool ListProcessIds(std::uint32_t* ids, std::uint32_t capacityBytes, std::uint32_t& bytesReturned) = 0;
    // psapi GetModuleFileNameExA for the main module; the length, 0 on failure
    // (always for a 64-bit process asked from a 32-bit one).
    virtual std::uint32_t ProcessImagePath(ProcessRef process, char* out, std::uint32_t size) = 0;
    // QueryFullProcessImageNameA (Windows Vista and later, looked up at run
    // time), in the Win32 path form; the length, 0 when the call is missing
    // or fails. Needs a handle with query rights; reaches 64-bit processes.
    virtual std::uint32_t ProcessImageName(ProcessRef process, char* out, std::uint32_t size) = 0;
    virtual ProcessRef OpenProcessById(std::uint32_t access, std::uint32_t processId) = 0;
    virtual bool TerminateProcessRef(ProcessRef process, std::uint32_t exitCode) = 0;
    virtual void CloseProcess(ProcessRef process) = 0;
    virtual std::uint32_t LastErrorCode() = 0;
    // WideCharToMultiByte to the ANSI code page; the bytes written, 0 on failure.
    virtual int WideToAnsi(const std::uint16_t* text, int length, char* out, int size) = 0;

    // --- Services. ---
    virtual ServiceRef OpenServiceManager(std::uint32_t access) = 0;
    virtual ServiceRef OpenServiceByName(ServiceRef manager, const char* name, std::uint32_t access) = 0;
    // ControlService(SERVICE_CONTROL_STOP).
    virtual bool RequestServiceStop(ServiceRef service) = 0;
    virtual bool QueryServiceState(ServiceRef service, std::uint32_t& state) = 0;
    virtual void CloseServiceRef(ServiceRef handle) = 0;

    // --- Privileges, restart and the end of the program. ---
    virtual PrivilegeResult EnablePrivilege(const char* privilegeName) = 0;
    virtual bool RequestReboot(std::uint32_t flags) = 0;  // ExitWindowsEx(flags, 0)
    // Ends the program with `exitCode`. A front end that must still report
    // and choose its own exit status (the console scanner) may return
    // instead; the engine then goes on only as far as its own report.
    virtual void EndProgram(int exitCode) = 0;

    // --- Window messages and the user. ---
    // PeekMessageA with removal, for any window of the thread.
    virtual bool TakePendingMessage(PendingMessage& message) = 0;
    // TranslateMessage and DispatchMessageA.
    virtual void DispatchPending(const PendingMessage& message) = 0;
    // SendMessageA(window, message, 0, 0): synchronous.
    virtual void NotifyWindow(WindowRef window, std::uint32_t message) = 0;
    // The program's question box (message-box flags and answers).
    virtual int Prompt(const char* text, const char* caption, std::uint32_t flags) = 0;
    // A plain platform message box with an OK button and no owner.
    virtual void PlainMessage(const char* text, const char* caption) = 0;
    // Sleep.
    virtual void Wait(std::uint32_t milliseconds) = 0;
    // GetTickCount: milliseconds since the system started, wrapping every
    // 49.7 days. How fine it counts is the system's (10 to 16 ms on
    // Windows, 1 ms under Wine).
    virtual std::uint32_t TickCount() = 0;
};

// The backend the engine talks to. The program sets the Win32 backend at
// start; tests set a fake. Never null once set.
Platform& Sys();
void SetPlatform(Platform* platform);
