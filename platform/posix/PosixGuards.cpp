// What keeps a store of the program's own sound on POSIX systems: folders
// flushed after their names change, and folders guarded from other users.
#include "platform/posix/PosixPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/HeldFolder.h"
#include "platform/posix/PosixPlace.h"

bool PosixPlatform::FlushFolder(const char* path)
{
    const int folder = OpenFolder(path);
    if (folder < 0) return false;
    const bool flushed = fsync(folder) == 0;
    close(folder);
    return flushed;
}

bool PosixPlatform::MakeGuardedFolder(const char* path)
{
    EnginePlace place;
    if (!Locate(path, place) || place.split.name.empty()) return false;
    const int parent = place.folder;
    const std::string& name = place.split.name;
    if (mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) return false;
    // Whatever has the name now is taken only when it is a real folder of
    // this user's; its mode is set on the folder opened, never by name.
    const int folder = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return false;
    struct stat st;
    const bool guarded = fstat(folder, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
                         ((st.st_mode & 07777) == 0700 || fchmod(folder, 0700) == 0);
    close(folder);
    return guarded;
}

