// Changes the POSIX backend makes to names: attributes, removals, renames,
// copies and new folders, each in the folder held for the name and never
// through a link.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/posix/PosixPlace.h"
#include "platform/posix/PosixPlatform.h"

namespace {

// The names of the places, one folder each: neither a drive's folder nor a
// name that must be a folder.
bool NamesFiles(const EnginePlace& place)
{
    return !place.split.name.empty() && !place.split.folderOnly;
}

// Changes the mode of the file open as `reference` (O_PATH): the file that
// was checked, whatever its name stands for by now.
bool ChangeModeOf(int reference, mode_t mode)
{
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", reference);
    return chmod(path, mode) == 0;
}

bool CopyBytes(int in, int out)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(out, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            done += put;
        }
    }
}

// Creates a file of a name no entry of `folder` has, for a copy to be
// renamed over its target; -1 when none can be made.
int CreateBeside(int folder, std::string& name)
{
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char made[40];
        std::snprintf(made, sizeof made, ".quellor-copy-%08x",
                      static_cast<unsigned>(getpid()) * 2654435761u + ++counter);
        const int fd = CreateFileIn(folder, made, O_WRONLY, 0600);
        if (fd >= 0) {
            name = made;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

}  // namespace

bool PosixPlatform::SetAttributes(const char* path, std::uint32_t attributes)
{
    EnginePlace place;
    if (!Locate(path, place)) return false;
    // A folder's read-only attribute is advisory on Windows; its mode stays.
    if (place.split.name.empty()) return true;
    const int reference = openat(place.folder, place.split.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (reference < 0) return false;
    bool done = false;
    struct stat st;
    if (fstat(reference, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            done = true;
        } else if (S_ISREG(st.st_mode) && !place.split.folderOnly) {
            const mode_t mode = st.st_mode & 07777;
            const mode_t wanted =
                (attributes & kAttrReadOnly) ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
            Step("checked");
            done = wanted == mode || ChangeModeOf(reference, wanted);
        }
    }
    close(reference);
    return done;
}

bool PosixPlatform::RemoveFile(const char* path)
{
    EnginePlace place;
    if (!Locate(path, place) || !NamesFiles(place)) return false;
    struct stat st;
    if (fstatat(place.folder, place.split.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    // As on Windows, a read-only file stays until its attribute is reset.
    if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) return false;
    Step("checked");
    return unlinkat(place.folder, place.split.name.c_str(), 0) == 0;
}

bool PosixPlatform::RenameFile(const char* from, const char* to)
{
    EnginePlace source;
    EnginePlace target;
    if (!Locate(from, source) || !Locate(to, target) || !NamesFiles(source) || !NamesFiles(target)) return false;
    const char* sourceName = source.split.name.c_str();
    const char* targetName = target.split.name.c_str();
    // A move onto the file's own name succeeds and changes nothing, as
    // MoveFileA's does.
    struct stat st;
    if (source.host == target.host) return fstatat(source.folder, sourceName, &st, AT_SYMLINK_NOFOLLOW) == 0;
    Step("checked");
    // MoveFileA never replaces an existing name.
    if (renameat2(source.folder, sourceName, target.folder, targetName, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system that cannot refuse to replace: the name is checked first.
    if (fstatat(target.folder, targetName, &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) return false;
    return renameat(source.folder, sourceName, target.folder, targetName) == 0;
}

// The copy never writes through the target's name: it is made as a new
// file beside the target and renamed over it.
bool PosixPlatform::CopyFileOver(const char* from, const char* to)
{
    EnginePlace source;
    EnginePlace target;
    if (!Locate(from, source) || !NamesFiles(source) || !Locate(to, target) || !NamesFiles(target)) return false;
    const FileOpening in =
        OpenFileIn(source.folder, source.Risk(), source.split.name.c_str(), O_RDONLY, source.listedType);
    if (in.fd < 0) return false;
    const char* targetName = target.split.name.c_str();
    struct stat existing;
    bool allowed = true;
    if (fstatat(target.folder, targetName, &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        // Only a regular file is replaced: never a folder, a link or a
        // special file, never the source itself, and (as on Windows) never
        // a read-only file.
        allowed = S_ISREG(existing.st_mode) && !SameFile(existing, in.st) && (existing.st_mode & S_IWUSR);
    } else {
        allowed = errno == ENOENT;
    }
    std::string made;
    const int out = allowed ? CreateBeside(target.folder, made) : -1;
    bool copied = false;
    if (out >= 0) {
        // The copy gets the source's permissions, never its set-user or
        // set-group bit.
        copied = CopyBytes(in.fd, out) && fchmod(out, in.st.st_mode & 0777) == 0;
        copied = close(out) == 0 && copied;
        Step("checked");
        copied = copied && renameat(target.folder, made.c_str(), target.folder, targetName) == 0;
        if (!copied) unlinkat(target.folder, made.c_str(), 0);
    }
    close(in.fd);
    return copied;
}

bool PosixPlatform::RemoveAtReboot(const char*)
{
    return false;
}

bool PosixPlatform::CreateFolder(const char* path)
{
    EnginePlace place;
    return Locate(path, place) && !place.split.name.empty() &&
           mkdirat(place.folder, place.split.name.c_str(), 0700) == 0;
}
