// What keeps a store of the program's own sound on POSIX systems: folders
// flushed after their names change, folders guarded from other users, and
// files held as locks between runs.
#include "platform/posix/PosixPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/HeldFolder.h"

namespace {

// The folder above `host` and the last name of it; false when there is no
// name to take (the file system's root).
bool SplitLast(const std::string& host, std::string& parent, std::string& name)
{
    std::string path = host;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 >= path.size()) return false;
    parent = slash == 0 ? std::string("/") : path.substr(0, slash);
    name = path.substr(slash + 1);
    return name != "." && name != "..";
}

int OpenFolder(const std::string& host)
{
    return open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The folder that holds the engine path `path`, opened, and the last name
// of the path in `name`; -1 when there is none.
int OpenParentOf(const PosixPlatform& platform, const char* path, std::string& name)
{
    std::string host;
    std::string parent;
    if (!platform.HostPath(path, host) || !SplitLast(host, parent, name)) return -1;
    return OpenFolder(parent);
}

}  // namespace

bool PosixPlatform::FlushFolder(const char* path)
{
    std::string host;
    if (!HostPath(path, host)) return false;
    const int folder = OpenFolder(host);
    if (folder < 0) return false;
    const bool flushed = fsync(folder) == 0;
    close(folder);
    return flushed;
}

bool PosixPlatform::MakeGuardedFolder(const char* path)
{
    std::string name;
    const int parent = OpenParentOf(*this, path, name);
    if (parent < 0) return false;
    if (mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
        close(parent);
        return false;
    }
    // Whatever has the name now is taken only when it is a real folder of
    // this user's; its mode is set on the folder opened, never by name.
    const int folder = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(parent);
    if (folder < 0) return false;
    struct stat st;
    const bool guarded = fstat(folder, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
                         ((st.st_mode & 07777) == 0700 || fchmod(folder, 0700) == 0);
    close(folder);
    return guarded;
}

HoldRef PosixPlatform::HoldFile(const char* path)
{
    std::string name;
    const int parent = OpenParentOf(*this, path, name);
    if (parent < 0) return 0;
    // A FIFO or a device of that name is never opened.
    const FileOpening opening = OpenFileIn(parent, RiskOf(parent), name.c_str(), O_RDONLY, DT_UNKNOWN);
    close(parent);
    if (opening.fd < 0) return 0;
    if (flock(opening.fd, LOCK_EX | LOCK_NB) != 0) {
        close(opening.fd);
        return 0;
    }
    return static_cast<HoldRef>(opening.fd) + 1;
}

void PosixPlatform::ReleaseHold(HoldRef hold)
{
    // Closing the only descriptor of the opening ends its lock.
    if (hold != 0) close(static_cast<int>(hold - 1));
}
