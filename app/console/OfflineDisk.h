// What a Windows disk mounted on Linux holds, found on the mounted file
// system: its Windows folder and registry hives, where its users' profile
// folders lie, and whether it can be changed.
//
// Windows looks names up without regard to case, and the NTFS and FAT
// drivers of Linux may or may not; so every name is looked for as Windows
// would ("windows/system32/Config/software" is the SOFTWARE hive). Paths
// here are relative to the disk's root, '/' between names as found on the
// disk. Everything is found below the root folder held open, one held
// folder at a time, listing it and opening the next step through it:
// symbolic links are never followed (the disk's own links, junctions,
// could lead out of it, into the system the scanner runs on), and nothing
// is opened but folders.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// A name as the hives spell it (single bytes, Latin-1, '?' for a character
// Latin-1 cannot spell) and a name on the disk (UTF-8, as the drivers give
// it; other bytes are taken as Latin-1) name the same file for Windows:
// equal but for the case of ASCII and Latin-1 letters.
bool SameWindowsName(const std::string& windowsName, const std::string& diskName);

// Where the names of a Windows path lead below the root.
struct DiskLookup {
    enum Result {
        Found,    // `path` is the entry, of the kind asked for
        Missing,  // no entry has one of the names
        Blocked   // `path` is an entry with the name that is of another kind, or cannot be read
    } result = Missing;
    std::string path;     // relative to the root, as on the disk
    mode_t type = 0;      // Blocked: what the entry is (S_IFLNK, S_IFIFO, S_IFREG ...)
    int error = 0;        // Blocked: why a folder could not be opened or listed (errno); 0 otherwise
    std::size_t depth = 0;  // Blocked: how many names of the path lead to the entry

    // The last name of the path is there, though not what was asked for.
    bool BlockedAtLast(std::size_t names) const { return result == Blocked && depth == names; }
};

// Looks for the names of `windowsPath` ('\\' or '/' between names) below
// the root folder held open as `root`, each a real folder but the last,
// which must be a folder when `folder` and a regular file otherwise. The
// exact spelling wins over another case, and among other spellings the
// first in byte order; a file system that tells case apart may hold
// "Users" and "users" both, and each is tried until the rest is found.
// When no spelling leads to what was asked, the first entry in the way is
// given (Blocked), else Missing.
DiskLookup LookUpOnDisk(int root, const std::string& windowsPath, bool folder);
// The path as found on the disk; false unless Found.
bool FindOnDisk(int root, const std::string& windowsPath, bool folder, std::string& found);
// The number of names in a Windows path.
std::size_t NamesInPath(const std::string& windowsPath);

// "a link, not a folder", "a FIFO, not a file", "not readable (...)": what
// a Blocked lookup met, for a line about it.
std::string BlockedText(const DiskLookup& lookup, bool folder);

enum WindowsFamily {
    NoWindows,
    WindowsNt,   // hives in <Windows>\System32\config
    Windows9x    // SYSTEM.DAT and USER.DAT in the Windows folder
};

struct WindowsOnDisk {
    WindowsFamily family = NoWindows;
    std::string folder;        // the Windows folder, relative to the root
    DiskLookup softwareHive;   // the machine's hives: Found, or Blocked at their own name, or Missing
    DiskLookup systemHive;
    // Every other Windows folder on the disk (NT family or 95/98/ME), in
    // the order they were found: their registries are not cleaned.
    std::vector<std::string> others;
};

// The Windows that SOFTWARE names its own folder: the text of its
// SystemRoot ("C:\WINDOWS"), empty when it cannot be read. Given the root
// folder held open and the SOFTWARE hive's path below it.
typedef std::function<std::string(int root, const std::string& softwareHive)> SystemRootReader;

// Finds the Windows installed on the disk whose root is held open as
// `root`. An NT-family Windows is a folder at the root holding
// System32\config\SOFTWARE or SYSTEM (as anything: a hive that is no
// regular file is a problem of that Windows, not a reason to look past it);
// when there are several, the one whose SOFTWARE names itself as SystemRoot
// is taken, else the first of Windows, WINNT and the rest in byte order.
// Only without one, a folder holding SYSTEM.DAT is a Windows 95/98/ME.
// Nothing on the disk is changed.
WindowsOnDisk FindWindows(int root, const SystemRootReader& systemRootOf);

// A folder as the disk's Windows names it (a profile, "C:\Users\alice";
// its data folder, "C:\ProgramData"; references already expanded), on the
// disk whose root is held open as `root` and whose Windows calls its own
// drive `systemDrive` ("C:"; empty when unknown: any letter).
enum FolderPlace {
    FolderFound,      // `lookup.path` is the folder, relative to the root
    FolderElsewhere,  // on another drive, or not a drive path
    FolderMissing,    // on this drive, but not on the disk
    FolderBlocked     // on this drive, but `lookup` met an entry in the way (a link ...)
};
FolderPlace FindNamedFolder(int root, const std::string& systemDrive, const std::string& windowsPath,
                            DiskLookup& lookup);

// Profiles of the well-known service accounts (LocalSystem S-1-5-18, local
// and network service): unlike an account's (S-1-5-21-...) they often have
// no NTUSER.DAT, which is not worth a note.
bool IsServiceProfile(const std::string& sid);

// A profile folder found in the usual places, with what has its hive's name.
struct UsualProfile {
    std::string folder;  // relative to the root
    DiskLookup hive;     // Found, or Blocked at NTUSER.DAT itself
};
// The profile folders under the usual places ("Users", "Documents and
// Settings") with an entry named NTUSER.DAT, for a disk whose SOFTWARE
// hive lists none. Links there are passed over: Windows itself keeps
// junctions in those places ("Documents and Settings", "All Users").
std::vector<UsualProfile> UsualProfileFolders(int root);

// What a removal needs of the mounted disk, as the system answers.
struct DiskAccess {
    bool mountedReadOnly;  // statvfs: ST_RDONLY
    bool writable;         // the root folder may be written to (access W_OK)
};
DiskAccess ProbeDiskAccess(int root);

// Why a removal on the disk `shown` cannot be made; empty when it can.
std::string WhyDiskUnchangeable(const std::string& shown, const DiskAccess& access);
