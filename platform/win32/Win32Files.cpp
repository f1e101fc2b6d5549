// Version, drives, folders and files. Files go through the C runtime's
// low-level functions (descriptors), the rest through kernel32.
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "platform/AnsiText.h"
#include "platform/win32/Win32Internal.h"

using win32detail::KernelFunction;
using win32detail::LookUpFunction;
using win32detail::TerminateWithin;

namespace {

// GetVolumeNameForVolumeMountPointA first shipped with Windows 2000; it is
// looked up at run time so the program still loads on 98 and NT 4.0.
typedef BOOL(WINAPI* VolumeNameForMountPointFn)(LPCSTR mountPoint, LPSTR volumeName, DWORD size);
// GetSystemDirectoryA exists everywhere but is not among the program's
// static imports; IsWow64Process first shipped with Windows XP SP2.
typedef UINT(WINAPI* SystemDirectoryFn)(LPSTR buffer, UINT size);
typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE process, BOOL* wow64);
typedef BOOL(WINAPI* SpecialFolderPathFn)(HWND owner, LPSTR path, int folder, BOOL create);
// CSIDL_COMMON_APPDATA.
const int kCommonAppData = 0x0023;

// The size GetVersionExA expects for the basic structure.
const DWORD kVersionInfoSize = 148;
static_assert(sizeof(OSVERSIONINFOA) == kVersionInfoSize, "OSVERSIONINFOA is 148 bytes");

int Descriptor(FileRef file)
{
    return static_cast<int>(file);
}

}  // namespace

bool Win32Platform::QueryVersion(VersionInfo& info)
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = kVersionInfoSize;
    if (!GetVersionExA(&version)) return false;
    info.platformId = version.dwPlatformId;
    info.majorVersion = version.dwMajorVersion;
    info.minorVersion = version.dwMinorVersion;
    info.buildNumber = version.dwBuildNumber;
    return true;
}

int Win32Platform::QueryDriveType(const char* root)
{
    return static_cast<int>(GetDriveTypeA(root));
}

bool Win32Platform::PathExists(const char* path)
{
    return _access(path, 0) == 0;
}

bool Win32Platform::PathReadable(const char* path)
{
    return _access(path, 4) == 0;
}

bool Win32Platform::IsVolumeMountPoint(const char* path)
{
    VolumeNameForMountPointFn volumeName =
        KernelFunction<VolumeNameForMountPointFn>("GetVolumeNameForVolumeMountPointA");
    if (volumeName == nullptr) return false;

    // The call wants the folder with a trailing backslash.
    char mountPoint[kPathBufferSize];
    std::size_t length = std::strlen(path);
    if (length + 2 > sizeof mountPoint) return false;
    std::memcpy(mountPoint, path, length);
    mountPoint[length] = '\\';
    mountPoint[length + 1] = '\0';

    char volume[kPathBufferSize];
    return volumeName(mountPoint, volume, sizeof volume) != FALSE;
}

FileRef Win32Platform::OpenForRead(const char* path)
{
    int fd = _open(path, _O_RDONLY | _O_BINARY);
    return fd < 0 ? kNoFile : fd;
}

FileRef Win32Platform::OpenForWrite(const char* path)
{
    int fd = _open(path, _O_WRONLY | _O_BINARY);
    return fd < 0 ? kNoFile : fd;
}

FileRef Win32Platform::CreateForAppend(const char* path)
{
    int fd = _open(path, _O_WRONLY | _O_APPEND | _O_BINARY | _O_CREAT, _S_IREAD | _S_IWRITE);
    return fd < 0 ? kNoFile : fd;
}

std::int32_t Win32Platform::ReadBytes(FileRef file, void* buffer, std::uint32_t count)
{
    return _read(Descriptor(file), buffer, count);
}

std::int32_t Win32Platform::WriteBytes(FileRef file, const void* data, std::uint32_t count)
{
    return _write(Descriptor(file), data, count);
}

std::int32_t Win32Platform::SeekTo(FileRef file, std::int32_t offset, SeekOrigin origin)
{
    return _lseek(Descriptor(file), offset, static_cast<int>(origin));
}

std::int32_t Win32Platform::FileLength(FileRef file)
{
    // A file of 4 GiB or more has no 32-bit length: Microsoft's runtime
    // answers -1, but others keep the low 32 bits (Wine's), which would make
    // a huge file look small. The system's own size tells such a file apart.
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(Descriptor(file)));
    if (handle == INVALID_HANDLE_VALUE) return -1;
    DWORD high = 0;
    DWORD low = GetFileSize(handle, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    if (high != 0) return -1;
    return _filelength(Descriptor(file));
}

void Win32Platform::CloseFile(FileRef file)
{
    _close(Descriptor(file));
}

bool Win32Platform::SetAttributes(const char* path, std::uint32_t attributes)
{
    return SetFileAttributesA(path, attributes) != FALSE;
}

bool Win32Platform::RemoveFile(const char* path)
{
    return DeleteFileA(path) != FALSE;
}

bool Win32Platform::RenameFile(const char* from, const char* to)
{
    return MoveFileA(from, to) != FALSE;
}

bool Win32Platform::CopyFileOver(const char* from, const char* to)
{
    return CopyFileA(from, to, FALSE) != FALSE;
}

bool Win32Platform::RemoveAtReboot(const char* path)
{
    return MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

// The three calls below report, when the buffer is too small, the size they
// need (terminator included) and leave the buffer unspecified; the buffer is
// emptied first and terminated within its capacity afterwards.

std::uint32_t Win32Platform::ShortPathOf(const char* path, char* out, std::uint32_t size)
{
    TerminateWithin(out, size, 0);
    DWORD length = GetShortPathNameA(path, out, size);
    TerminateWithin(out, size, length);
    return length;
}

std::uint32_t Win32Platform::WindowsFolder(char* out, std::uint32_t size)
{
    TerminateWithin(out, size, 0);
    UINT length = GetWindowsDirectoryA(out, size);
    TerminateWithin(out, size, length);
    return length;
}

std::uint32_t Win32Platform::SystemFolder(char* out, std::uint32_t size)
{
    TerminateWithin(out, size, 0);
    SystemDirectoryFn systemDirectory = KernelFunction<SystemDirectoryFn>("GetSystemDirectoryA");
    if (systemDirectory == nullptr) return 0;
    UINT length = systemDirectory(out, size);
    TerminateWithin(out, size, length);
    return length;
}

bool Win32Platform::RunsUnderWow64()
{
    IsWow64ProcessFn isWow64 = KernelFunction<IsWow64ProcessFn>("IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

std::uint32_t Win32Platform::TempFolder(char* out, std::uint32_t size)
{
    TerminateWithin(out, size, 0);
    DWORD length = GetTempPathA(size, out);
    TerminateWithin(out, size, length);
    return length;
}

std::uint32_t Win32Platform::ExpandEnvironment(const char* text, char* out, std::uint32_t size)
{
    // The result counts the terminator; a result larger than the buffer means
    // the text did not fit.
    TerminateWithin(out, size, 0);
    DWORD needed = ExpandEnvironmentStringsA(text, out, size);
    if (needed == 0 || needed > size) TerminateWithin(out, size, size);
    return needed;
}

bool Win32Platform::CreateFolder(const char* path)
{
    return CreateDirectoryA(path, nullptr) != FALSE;
}

FileRef Win32Platform::CreateNewFile(const char* path)
{
    int fd = _open(path, _O_WRONLY | _O_BINARY | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
    return fd < 0 ? kNoFile : fd;
}

bool Win32Platform::FlushFile(FileRef file)
{
    // The runtime's _write hands every byte to WriteFile at once (binary
    // mode keeps no buffer of its own), so the system's buffers are all
    // that is left to flush.
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(Descriptor(file)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != FALSE;
}

std::uint32_t Win32Platform::CommonDataFolder(char* out, std::uint32_t size)
{
    TerminateWithin(out, size, 0);
    // The shell's folder call exists only with a newer shell (2000, ME, or
    // an older system with the desktop update), so it is looked up; the
    // call itself wants room for MAX_PATH characters.
    HMODULE shell = LoadLibraryA("shell32.dll");
    SpecialFolderPathFn specialFolderPath = LookUpFunction<SpecialFolderPathFn>(shell, "SHGetSpecialFolderPathA");
    char folder[MAX_PATH];
    folder[0] = '\0';
    const bool found = specialFolderPath != nullptr && specialFolderPath(nullptr, folder, kCommonAppData, FALSE);
    if (shell != nullptr) FreeLibrary(shell);
    if (!found || folder[0] == '\0') return 0;
    const std::size_t length = std::strlen(folder);
    if (length + 1 > size) return static_cast<std::uint32_t>(length + 1);
    std::memcpy(out, folder, length + 1);
    return static_cast<std::uint32_t>(length);
}

std::int64_t Win32Platform::CurrentTime()
{
    // FILETIME counts 100-nanosecond steps since 1601-01-01 UTC.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const std::uint64_t kTicksFrom1601To1970 = 116444736000000000ull;
    if (ticks < kTicksFrom1601To1970) return 0;
    return static_cast<std::int64_t>((ticks - kTicksFrom1601To1970) / 10000000ull);
}
