// The POSIX backend's lock of a file and its replace of one file by another.
#include "platform/posix/PosixPlatform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

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

// Sets or clears the whole file's write lock of the open file description;
// 0 when done, else the errno value.
int SetLock(int fd, short type)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    for (;;) {
#ifdef F_OFD_SETLK
        if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return 0;
#else
        // Where there are no description locks, flock's are as much per
        // description.
        if (flock(fd, (type == F_UNLCK ? LOCK_UN : LOCK_EX) | LOCK_NB) == 0) return 0;
#endif
        if (errno != EINTR) return errno;
    }
}

}  // namespace

FileLockResult PosixPlatform::TakeFileLock(FileRef file)
{
    const int fd = DescriptorOf(file);
    if (fd < 0) return FileLockUnavailable;
    const int error = SetLock(fd, F_WRLCK);
    if (error == 0) return FileLockTaken;
    // The answers of a lock another description holds.
    return error == EAGAIN || error == EACCES || error == EWOULDBLOCK ? FileLockHeld : FileLockUnavailable;
}

void PosixPlatform::ReleaseFileLock(FileRef file)
{
    const int fd = DescriptorOf(file);
    if (fd >= 0) SetLock(fd, F_UNLCK);
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
