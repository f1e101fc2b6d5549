// Questions the POSIX backend answers about paths, each looked at in the
// folder held for the path without following a link, and the Windows
// folders and environment it does not have.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/PosixPlace.h"
#include "platform/posix/PosixPlatform.h"

namespace {

// What has the name of `place` (the link itself for a link); false when
// nothing does, or when the path asks for a folder and it is none.
bool LookAt(const EnginePlace& place, struct stat& st)
{
    const bool found = place.split.name.empty()
                           ? fstat(place.folder, &st) == 0
                           : fstatat(place.folder, place.split.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    return found && (!place.split.folderOnly || S_ISDIR(st.st_mode));
}

std::uint32_t CopyOut(const std::string& text, char* out, std::uint32_t size)
{
    if (text.size() + 1 > size) return static_cast<std::uint32_t>(text.size() + 1);
    std::memcpy(out, text.c_str(), text.size() + 1);
    return static_cast<std::uint32_t>(text.size());
}

}  // namespace

int PosixPlatform::QueryDriveType(const char* root)
{
    EnginePlace place;
    struct stat st;
    return Locate(root, place) && LookAt(place, st) && S_ISDIR(st.st_mode) ? DriveFixed : DriveNoRootDir;
}

// A link's own name exists (it takes the name), as a dangling link's does
// on Windows.
bool PosixPlatform::PathExists(const char* path)
{
    EnginePlace place;
    struct stat st;
    return Locate(path, place) && LookAt(place, st);
}

// A file or folder this process may read; a link, whose target is never
// opened, is not readable, nor is a FIFO, socket or device.
bool PosixPlatform::PathReadable(const char* path)
{
    EnginePlace place;
    struct stat st;
    if (!Locate(path, place) || !LookAt(place, st) || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) return false;
    const char* name = place.split.name.empty() ? "." : place.split.name.c_str();
    return faccessat(place.folder, name, R_OK, AT_SYMLINK_NOFOLLOW) == 0;
}

bool PosixPlatform::IsVolumeMountPoint(const char* path)
{
    EnginePlace place;
    struct stat self;
    struct stat parent;
    if (!Locate(path, place) || place.split.name.empty() || !LookAt(place, self) || !S_ISDIR(self.st_mode)) {
        return false;
    }
    return fstat(place.folder, &parent) == 0 && self.st_dev != parent.st_dev;
}

std::uint32_t PosixPlatform::ShortPathOf(const char* path, char* out, std::uint32_t size)
{
    // No short names here: the short form of an existing path is the path.
    EnginePlace place;
    struct stat st;
    if (!Locate(path, place) || !LookAt(place, st)) return 0;
    return CopyOut(path, out, size);
}

std::uint32_t PosixPlatform::WindowsFolder(char*, std::uint32_t)
{
    return 0;
}

std::uint32_t PosixPlatform::SystemFolder(char*, std::uint32_t)
{
    return 0;
}

bool PosixPlatform::RunsUnderWow64()
{
    return false;
}

std::uint32_t PosixPlatform::TempFolder(char*, std::uint32_t)
{
    return 0;
}

std::uint32_t PosixPlatform::CommonDataFolder(char*, std::uint32_t)
{
    return 0;
}

std::uint32_t PosixPlatform::ExpandEnvironment(const char* text, char* out, std::uint32_t size)
{
    std::string expanded;
    for (const char* p = text; *p;) {
        const char* close = *p == '%' ? std::strchr(p + 1, '%') : nullptr;
        if (close && close > p + 1) {
            const std::string name(p + 1, static_cast<std::size_t>(close - p - 1));
            if (const char* value = std::getenv(name.c_str())) {
                expanded += value;
                p = close + 1;
                continue;
            }
        }
        expanded += *p++;
    }
    // The size needed, terminator included, whether or not it fitted.
    CopyOut(expanded, out, size);
    return static_cast<std::uint32_t>(expanded.size() + 1);
}
