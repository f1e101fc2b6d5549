#include "platform/posix/HeldFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool resolveStepwise = false;

bool SplitRelative(const std::string& relative, std::vector<std::string>& names)
{
    if (!relative.empty() && relative[0] == '/') return false;
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t slash = relative.find('/', start);
        if (slash == std::string::npos) slash = relative.size();
        const std::string name = relative.substr(start, slash - start);
        if (!name.empty()) {
            if (!IsPlainName(name)) return false;
            names.push_back(name);
        }
        start = slash + 1;
    }
    return true;
}

// openat2 refuses a link at any step in one call (Linux 5.6 and later).
// -2 when the system does not have it.
int OpenBeneath(int base, const std::string& relative, int access)
{
#ifdef SYS_openat2
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = static_cast<unsigned>(access | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    for (;;) {
        const long fd = syscall(SYS_openat2, base, relative.c_str(), &how, sizeof how);
        if (fd >= 0) return static_cast<int>(fd);
        if (errno == EINTR || errno == EAGAIN) continue;
        if (errno == ENOSYS || errno == EPERM) return -2;  // EPERM: a filter that forbids the call
        return -1;
    }
#else
    (void)base;
    (void)relative;
    (void)access;
    return -2;
#endif
}

}  // namespace

bool IsPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

int OpenFolderBelow(int base, const std::string& relative, int access)
{
    std::vector<std::string> names;
    if ((access != O_RDONLY && access != O_PATH) || !SplitRelative(relative, names)) {
        errno = EINVAL;
        return -1;
    }
    // `base` itself, opened anew: it may be held without being readable
    // (O_PATH), and a listing needs a position of its own.
    if (names.empty()) return openat(base, ".", access | O_DIRECTORY | O_CLOEXEC);
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : "/") + name;
    const int fd = resolveStepwise ? -2 : OpenBeneath(base, joined, access);
    // A link as the last step fails as "not a folder": the steps are taken
    // one by one again to tell it from a file.
    if (fd >= 0 || (fd == -1 && errno != ENOTDIR)) return fd;
    // One step at a time, each refusing a link; the folders on the way are
    // only passed through.
    int current = base;
    for (std::size_t step = 0; step < names.size(); ++step) {
        const std::string& name = names[step];
        const int stepAccess = step + 1 == names.size() ? access : O_PATH;
        const int next = openat(current, name.c_str(), stepAccess | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int error = errno;
        struct stat st;
        if (next < 0 && error == ENOTDIR && fstatat(current, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode)) {
            error = ELOOP;
        }
        if (current != base) close(current);
        if (next < 0) {
            errno = error;
            return -1;
        }
        current = next;
    }
    return current;
}

void ResolveStepwiseForTesting(bool stepwise)
{
    resolveStepwise = stepwise;
}

FolderRisk RiskOf(int folder)
{
    FolderRisk risk = {true, false};
    struct stat st;
    if (fstat(folder, &st) == 0) risk.shared = (st.st_mode & 022) != 0 || st.st_uid != geteuid();
    struct statvfs fs;
    if (fstatvfs(folder, &fs) == 0) risk.noDevices = (fs.f_flag & ST_NODEV) != 0;
    return risk;
}

FileOpening OpenFileIn(int folder, const FolderRisk& risk, const char* name, int flags, unsigned char listedType)
{
    FileOpening opening;
    opening.fd = -1;
    opening.error = 0;
    opening.type = 0;
    std::memset(&opening.st, 0, sizeof opening.st);
    if (!name || !IsPlainName(name) || (flags & O_CREAT)) {
        opening.error = EINVAL;
        return opening;
    }
    const int openFlags = flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = -1;
    if (listedType == DT_REG && (!risk.shared || risk.noDevices)) {
        fd = openat(folder, name, openFlags);
        if (fd < 0) opening.error = errno;
    } else {
        const int path = openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (path < 0) {
            opening.error = errno;
            return opening;
        }
        struct stat st;
        if (fstat(path, &st) != 0) {
            opening.error = errno;
        } else if (!S_ISREG(st.st_mode)) {
            opening.type = st.st_mode & S_IFMT;
            opening.error = S_ISLNK(st.st_mode) ? ELOOP : ENXIO;
        } else {
            char reference[40];
            std::snprintf(reference, sizeof reference, "/proc/self/fd/%d", path);
            fd = open(reference, openFlags & ~O_NOFOLLOW);
            if (fd < 0) opening.error = errno == ENOENT ? EOPNOTSUPP : errno;
        }
        close(path);
    }
    if (fd < 0) return opening;
    if (fstat(fd, &opening.st) != 0 || !S_ISREG(opening.st.st_mode)) {
        // Only a name listed as a file, opened at once, can get here: a
        // FIFO swapped in, opened without waiting, and closed unread.
        opening.type = opening.st.st_mode & S_IFMT;
        opening.error = ENXIO;
        close(fd);
        return opening;
    }
    opening.type = S_IFREG;
    opening.fd = fd;
    return opening;
}

int CreateFileIn(int folder, const char* name, int flags, mode_t mode)
{
    if (!name || !IsPlainName(name)) {
        errno = EINVAL;
        return -1;
    }
    return openat(folder, name, flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

const char* EntryTypeText(mode_t type)
{
    switch (type & S_IFMT) {
    case S_IFIFO: return "a FIFO";
    case S_IFSOCK: return "a socket";
    case S_IFCHR:
    case S_IFBLK: return "a device";
    case S_IFLNK: return "a link";
    case S_IFDIR: return "a folder";
    case S_IFREG: return "a file";
    default: return "not a file";
    }
}
