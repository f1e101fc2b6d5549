// What a Windows disk mounted on Linux holds, found on the mounted file
// system: its Windows folder and registry hives, where its users' profile
// folders lie, and whether it can be changed.
//
// Windows looks names up without regard to case, and the NTFS and FAT
// drivers of Linux may or may not; so every name is looked for as Windows
// would ("windows/system32/Config/software" is the SOFTWARE hive). Paths
// here are relative to the disk's root, '/' between names as found on the
// disk. Symbolic links are never followed: the disk's own links (junctions)
// could lead out of it, into the system the scanner runs on.
#pragma once

#include <functional>
#include <string>
#include <vector>

// A name as the hives spell it (single bytes, Latin-1, '?' for a character
// Latin-1 cannot spell) and a name on the disk (UTF-8, as the drivers give
// it; other bytes are taken as Latin-1) name the same file for Windows:
// equal but for the case of ASCII and Latin-1 letters.
bool SameWindowsName(const std::string& windowsName, const std::string& diskName);

// Looks for the names of `windowsPath` ('\\' or '/' between names) below
// `root`, each a real folder but the last, which must be a folder when
// `folder` and a regular file otherwise. Gives the path as found on the
// disk, relative to `root`; the exact spelling wins over another case, and
// among other spellings the first in byte order. False when not found.
bool FindOnDisk(const std::string& root, const std::string& windowsPath, bool folder, std::string& found);

enum WindowsFamily {
    NoWindows,
    WindowsNt,   // hives in <Windows>\System32\config
    Windows9x    // SYSTEM.DAT and USER.DAT in the Windows folder
};

struct WindowsOnDisk {
    WindowsFamily family;
    std::string folder;        // the Windows folder, relative to the root
    std::string softwareHive;  // relative paths; empty when missing
    std::string systemHive;
};

// The Windows that SOFTWARE names its own folder: the text of its
// SystemRoot ("C:\WINDOWS"), empty when it cannot be read. Given the host
// path of a SOFTWARE hive.
typedef std::function<std::string(const std::string& softwareHostPath)> SystemRootReader;

// Finds the Windows installed on the disk at `root`. An NT-family Windows
// is a folder at the root holding System32\config\SOFTWARE or SYSTEM; when
// there are several, the one whose SOFTWARE names itself as SystemRoot is
// taken, else the first of Windows, WINNT and the rest in byte order. Only
// without one, a folder holding SYSTEM.DAT is a Windows 95/98/ME.
WindowsOnDisk FindWindows(const std::string& root, const SystemRootReader& systemRootOf);

// A folder as the disk's Windows names it (a profile, "C:\Users\alice";
// its data folder, "C:\ProgramData"; references already expanded), on the
// disk at `root` whose Windows calls its own drive `systemDrive` ("C:";
// empty when unknown: any letter).
enum FolderPlace {
    FolderFound,      // `folder` is the folder, relative to the root
    FolderElsewhere,  // on another drive, or not a drive path
    FolderMissing     // on this drive, but not on the disk
};
FolderPlace FindNamedFolder(const std::string& root, const std::string& systemDrive, const std::string& windowsPath,
                            std::string& folder);

// Profiles of the well-known service accounts (LocalSystem S-1-5-18, local
// and network service): unlike an account's (S-1-5-21-...) they often have
// no NTUSER.DAT, which is not worth a note.
bool IsServiceProfile(const std::string& sid);

// The profile folders with an NTUSER.DAT under the usual places ("Users",
// "Documents and Settings"), relative to the root, for a disk whose
// SOFTWARE hive lists none.
std::vector<std::string> UsualProfileFolders(const std::string& root);

// What a removal needs of the mounted disk, as the system answers.
struct DiskAccess {
    bool mountedReadOnly;  // statvfs: ST_RDONLY
    bool writable;         // the root folder may be written to (access W_OK)
};
DiskAccess ProbeDiskAccess(const std::string& root);

// Why a removal on the disk `shown` cannot be made; empty when it can.
std::string WhyDiskUnchangeable(const std::string& shown, const DiskAccess& access);
