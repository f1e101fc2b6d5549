// The POSIX backend's lock that stands for a file, and its replace of one
// file by another.
#include "platform/posix/PosixPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/HeldFolder.h"

namespace {

// How often a lock is taken again when the file it was taken on lost its
// name meanwhile (replaced by the holder's trim): past that, the name is
// taken as held.
const int kLockAttempts = 8;

// The host folder and name of `host`; false when it names no entry of a
// folder.
bool SplitHost(const std::string& host, std::string& folder, std::string& name)
{
    const std::size_t slash = host.rfind('/');
    if (slash == std::string::npos || slash + 1 >= host.size()) return false;
    folder = slash == 0 ? "/" : host.substr(0, slash);
    name = host.substr(slash + 1);
    return name != "." && name != "..";
}

// Sets the whole file's write lock of the open file description; 0 when
// done, else the errno value.
int SetLock(int fd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    for (;;) {
#ifdef F_OFD_SETLK
        if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return 0;
#else
        // Where there are no description locks, flock's are as much per
        // description.
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
#endif
        if (errno != EINTR) return errno;
    }
}

// The regular file `name` of the folder open as `folder`, opened for
// writing, made when nothing has the name; -1 for anything else.
int OpenOrMake(int folder, const char* name)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const FileOpening opened = OpenFileIn(folder, RiskOf(folder), name, O_WRONLY, DT_UNKNOWN);
        if (opened.fd >= 0 || opened.type != 0) return opened.fd;
        const int made = CreateFileIn(folder, name, O_WRONLY, 0666);
        if (made >= 0 || errno != EEXIST) return made;
    }
    return -1;
}

// Locks `name` of the folder open as `folder`.
PathLockResult LockIn(int folder, const char* name, LockRef& lock)
{
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        const int fd = OpenOrMake(folder, name);
        if (fd < 0) return PathLockUnavailable;
        const int error = SetLock(fd);
        if (error != 0) {
            close(fd);
            // The answers of a lock another description holds.
            return error == EAGAIN || error == EACCES ? PathLockHeld : PathLockUnavailable;
        }
        struct stat locked;
        struct stat named;
        if (fstat(fd, &locked) == 0 && fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            SameFile(locked, named)) {
            lock = static_cast<LockRef>(fd) + 1;
            return PathLockTaken;
        }
        close(fd);
    }
    return PathLockHeld;
}

}  // namespace

PathLockResult PosixPlatform::TakePathLock(const char* path, LockRef& lock)
{
    lock = 0;
    std::string host;
    std::string folderPath;
    std::string name;
    if (!HostPath(path, host) || !SplitHost(host, folderPath, name)) return PathLockUnavailable;
    const int folder = open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return PathLockUnavailable;
    const PathLockResult result = LockIn(folder, name.c_str(), lock);
    close(folder);
    return result;
}

void PosixPlatform::ReleasePathLock(LockRef lock)
{
    if (lock != 0) close(static_cast<int>(lock - 1));
}

bool PosixPlatform::RenameOver(const char* from, const char* to)
{
    std::string source;
    std::string target;
    std::string sourceFolder;
    std::string targetFolder;
    std::string sourceName;
    std::string targetName;
    if (!HostPath(from, source) || !HostPath(to, target) || !SplitHost(source, sourceFolder, sourceName) ||
        !SplitHost(target, targetFolder, targetName) || sourceFolder != targetFolder)
        return false;
    const int folder = open(sourceFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    struct stat st;
    bool replaced = fstatat(folder, sourceName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
                    renameat(folder, sourceName.c_str(), folder, targetName.c_str()) == 0;
    // The new name outlasts a power cut only once the folder is written.
    if (replaced) fsync(folder);
    close(folder);
    return replaced;
}
