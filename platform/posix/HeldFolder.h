// Names below a folder held open, reached without ever following a link.
//
// On a disk this program did not make (a Windows disk cleaned from Linux,
// as root) any name may be a link, a FIFO or a device, and another user may
// swap it between two calls. So a folder is held by its descriptor and
// everything below it is reached relative to it: every step a real folder,
// no link at any step, no "." or "..", and a file opened only when it is a
// regular file. A FIFO, socket or device node is never opened at all:
// opening a device runs its driver (a watchdog device starts counting down
// when it is opened), and opening a FIFO for writing waits for a reader.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>

// True for one name of a folder: not empty, not "." or "..", no '/'.
bool IsPlainName(const std::string& name);

// The descriptor of the folder `relative` below the folder open as `base`
// ('/' between names; "" is `base` itself, opened anew), opened `access`
// (O_RDONLY, to be listed, or O_PATH, to be held: the folders of a path
// need only be searchable) | O_DIRECTORY | O_CLOEXEC; `base` may be held
// O_PATH. Every step must be a real folder: -1 with errno ELOOP for a link
// at any step, ENOTDIR for anything else that is not a folder, EINVAL for a
// "." or ".." step, an absolute path or another `access`, or whatever the
// system answered.
int OpenFolderBelow(int base, const std::string& relative, int access = O_RDONLY);
// For tests: resolves one step at a time, as on systems without openat2.
void ResolveStepwiseForTesting(bool stepwise);

// What OpenFileIn met.
struct FileOpening {
    int fd;          // -1 unless a regular file was opened
    int error;       // errno of the failure; 0 when opened
    mode_t type;     // S_IFMT bits of what has the name (S_IFLNK for a link), 0 when nothing does
    struct stat st;  // of the opened file
};

// What decides how a name of a held folder may be opened; taken once per
// folder (RiskOf).
struct FolderRisk {
    // Another user could change what a name of the folder stands for
    // between two calls: group or others may write the folder, or it
    // belongs to another user than this process.
    bool shared;
    // The folder's file system opens no device (mounted nodev).
    bool noDevices;
};
FolderRisk RiskOf(int folder);

// Opens `name` (one name) of the folder open as `folder` with `flags`
// (O_RDONLY, O_WRONLY or O_RDWR, and O_APPEND or O_TRUNC; never O_CREAT),
// only when it is a regular file. `listedType` is the type the folder's
// listing gave the name (a DT_* value; DT_UNKNOWN when none). A name
// listed as a regular file is opened at once where its type cannot have
// changed since the listing (no one else may change the folder) or where
// opening it could run no device; anywhere else it is first reached
// without being opened (O_PATH), checked, and then opened through that
// reference, so nothing but the regular file checked is ever opened. That
// second open goes through /proc/self/fd: without /proc such a name is not
// opened (EOPNOTSUPP).
// A FIFO, socket, device, folder or link is not opened: fd -1, `type`
// saying which, `error` ELOOP for a link, ENXIO for the rest.
FileOpening OpenFileIn(int folder, const FolderRisk& risk, const char* name, int flags, unsigned char listedType);

// Creates `name` in the folder open as `folder`, only when no entry has
// that name (O_CREAT | O_EXCL | O_NOFOLLOW), opened with `flags` (O_WRONLY
// or O_RDWR) with `mode` (less the umask): -1 with errno otherwise.
int CreateFileIn(int folder, const char* name, int flags, mode_t mode);

// True when both describe the same file (device and inode).
bool SameFile(const struct stat& a, const struct stat& b);

// A short phrase for what has a name when it is not a regular file ("a
// FIFO", "a device", "a link", "a socket", "a folder").
const char* EntryTypeText(mode_t type);
