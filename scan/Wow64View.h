// The program under WoW64: a 32-bit program on 64-bit Windows, to which the
// system shows a 32-bit view of itself. Its file calls on
// <windows>\System32 reach <windows>\SysWOW64, and its registry calls on
// most of HKEY_LOCAL_MACHINE\Software reach Software\Wow6432Node.
//
// The engine names every file as the user and the 64-bit system do, so
// C:\Windows\System32\... is the real System32 in the walk, in the result
// lines, in process images and in start-up commands. Only when such a name is
// handed to a file call of the platform is it turned into one this program
// reaches: the real System32 through the "Sysnative" alias.
//
// The alias is used rather than switching the redirection off for the
// thread (Wow64DisableWow64FsRedirection): the scan runs on the dialog's
// thread and dispatches its messages between files, so with redirection off
// any library the dialog, the shell (DOWNLOAD) or a prompt loads on the way
// would come from the 64-bit System32, which a 32-bit program cannot load.
// The alias touches nothing but the one call given it. Where the system has
// no alias (XP x64 and Server 2003 without its update), the real System32
// is out of reach: its files are passed over rather than mistaken for their
// SysWOW64 twins.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

struct Wow64ViewType {
    bool active;                         // the program runs under WoW64
    bool registryViews;                  // HKEY_LOCAL_MACHINE\Software has two views to clean
    char systemFolder[kPathBufferSize];  // System32 as the system names it, e.g. C:\WINDOWS\system32
    char nativeAlias[kPathBufferSize];   // its alias, e.g. C:\WINDOWS\Sysnative; empty when missing
};

extern Wow64ViewType Wow64View;

// Asks the platform whether the program runs under WoW64 and where System32
// and its alias are. Done once when a scan session starts.
void DetectWow64View();
// Back to "not under WoW64" (program start).
void ResetWow64View();

// The name under which this program reaches the file or pattern `path`
// (named as the user knows it). False, with an empty text, when it cannot be
// reached or the name does not fit.
bool ReachablePath(const char* path, char* out, std::size_t size);

// The registry views a rule or a Run key of `hive` is looked at in, as
// access bits to add to the key's access: the program's own view (0), and
// for HKEY_LOCAL_MACHINE, where the platform shows two views (under WoW64,
// or on a 64-bit Windows disk's hives), the 64-bit view as well.
// HKEY_CURRENT_USER\Software is one key for both. Returns the count (1 or 2).
const std::size_t kMaxRegistryViews = 2;
std::size_t RegistryViewsOf(KeyRef hive, std::uint32_t views[kMaxRegistryViews]);

// The platform's file calls, given a file's name as the user knows it. A
// file out of reach is not found, not opened and not changed.
SearchRef FindFirstReachable(const char* pattern, DirEntry& entry);
bool ReachableExists(const char* path);
bool ReachableReadable(const char* path);
bool IsReachableMountPoint(const char* path);
FileRef OpenReachableForRead(const char* path);
bool SetReachableAttributes(const char* path, std::uint32_t attributes);
bool RemoveReachableFile(const char* path);
bool RenameReachableFile(const char* from, const char* to);
bool CreateReachableFolder(const char* path);
FileRef CreateReachableNewFile(const char* path);
bool FlushReachableFolder(const char* path);
bool MakeReachableGuardedFolder(const char* path);
PathLockResult TakeReachablePathLock(const char* path, LockRef& lock);
// The delayed deletion is requested under the reachable name too: the
// system maps it as it maps the program's other file calls and stores the
// name it reads at its next start (a name of the 32-bit view of System32
// would be stored as its SysWOW64 twin).
bool RemoveReachableAtReboot(const char* path);
