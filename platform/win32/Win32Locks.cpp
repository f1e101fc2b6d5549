// The lock that stands for a file's path, and the replace of one file by
// another.
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

#include "platform/AnsiText.h"

namespace {

// The size GetVersionExA expects for the basic structure.
const DWORD kVersionInfoSize = 148;

// One lock taken: the mutex this thread owns, and the name it is known by
// in this process.
struct HeldLock {
    HANDLE mutex;
    std::string name;
};

// The names this process holds: a mutex is owned by a thread, which would
// take one it owns already a second time.
std::set<std::string>& HeldNames()
{
    static std::set<std::string> names;
    return names;
}

// The mutex name that stands for `path`, the same however the path is
// spelled: its folder in the short form the file system keeps, its file by
// the name the file system stores (when it exists), ASCII case aside,
// hashed (FNV-1a) into a name that always fits.
bool LockName(const char* path, std::string& name)
{
    char full[MAX_PATH];
    char* file = nullptr;
    const DWORD length = GetFullPathNameA(path, sizeof full, full, &file);
    if (length == 0 || length >= sizeof full || file == nullptr || *file == '\0') return false;
    std::string folder(full, static_cast<std::size_t>(file - full));
    char shortFolder[MAX_PATH];
    const DWORD shortLength = GetShortPathNameA(folder.c_str(), shortFolder, sizeof shortFolder);
    if (shortLength > 0 && shortLength < sizeof shortFolder) folder = shortFolder;
    std::string stored = file;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(full, &found);
    if (search != INVALID_HANDLE_VALUE) {
        stored = found.cFileName;
        FindClose(search);
    }
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : folder + stored) {
        hash ^= static_cast<unsigned char>(UpperAscii(c));
        hash *= 1099511628211ull;
    }
    char text[40];
    std::snprintf(text, sizeof text, "QuellorLog-%08lX%08lX", static_cast<unsigned long>(hash >> 32),
                  static_cast<unsigned long>(hash & 0xFFFFFFFFu));
    name = text;
    return true;
}

// The named mutex, in the namespace every session shares where the system
// has one (Windows 2000 and later; NT 4.0 and 95/98/ME have one namespace,
// and refuse the prefix). Null with the last error when it cannot be had.
HANDLE OpenLockMutex(const std::string& name)
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, ("Global\\" + name).c_str());
    if (mutex != nullptr || GetLastError() == ERROR_ACCESS_DENIED) return mutex;
    return CreateMutexA(nullptr, FALSE, name.c_str());
}

bool IsNinetyFiveFamily()
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = kVersionInfoSize;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

bool IsFile(const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

PathLockResult Win32Platform::TakePathLock(const char* path, LockRef& lock)
{
    lock = 0;
    std::string name;
    if (!LockName(path, name)) return PathLockUnavailable;
    if (HeldNames().count(name)) return PathLockHeld;
    HANDLE mutex = OpenLockMutex(name);
    // A mutex another user's run made is one this user may not open: that
    // run still has it.
    if (mutex == nullptr) return GetLastError() == ERROR_ACCESS_DENIED ? PathLockHeld : PathLockUnavailable;
    // An abandoned mutex is one a run that ended without letting it go
    // held: it is this run's now.
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return waited == WAIT_TIMEOUT ? PathLockHeld : PathLockUnavailable;
    }
    HeldNames().insert(name);
    lock = reinterpret_cast<LockRef>(new HeldLock{mutex, name});
    return PathLockTaken;
}

void Win32Platform::ReleasePathLock(LockRef lock)
{
    if (lock == 0) return;
    HeldLock* held = reinterpret_cast<HeldLock*>(lock);
    ReleaseMutex(held->mutex);
    CloseHandle(held->mutex);
    HeldNames().erase(held->name);
    delete held;
}

bool Win32Platform::RenameOver(const char* from, const char* to)
{
    if (!InOneFolder(from, to) || !IsFile(from)) return false;
    // The 95/98/ME family exports MoveFileExA without carrying it out.
    if (!IsNinetyFiveFamily()) {
        if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
        if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
    }
    if (GetFileAttributesA(to) != INVALID_FILE_ATTRIBUTES && !DeleteFileA(to)) return false;
    return MoveFileA(from, to) != FALSE;
}
