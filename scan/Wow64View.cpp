#include "scan/Wow64View.h"

#include <cstring>

#include "scan/BoundedText.h"

Wow64ViewType Wow64View;

namespace {

const char kNativeAliasName[] = "\\Sysnative";

// True when `path` is `folder` or lies inside it, without regard to case.
bool IsInFolder(const char* path, const char* folder)
{
    std::size_t length = std::strlen(folder);
    if (length == 0 || !EqualsNoCaseCounted(path, folder, length)) return false;  // also stops at path's end
    return path[length] == '\0' || path[length] == '\\';
}

}  // namespace

void ResetWow64View()
{
    std::memset(&Wow64View, 0, sizeof Wow64View);
}

void DetectWow64View()
{
    ResetWow64View();
    Wow64View.registryViews = Sys().RegistryHasTwoViews();
    if (!Sys().RunsUnderWow64()) return;
    char folder[kPathBufferSize];
    std::uint32_t length = Sys().SystemFolder(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return;
    if (folder[length - 1] == '\\') folder[length - 1] = '\0';
    long slash = LastIndexOf(folder, '\\');
    if (slash <= 0) return;
    Wow64View.active = true;
    CopyText(Wow64View.systemFolder, sizeof Wow64View.systemFolder, folder);
    char* alias = Wow64View.nativeAlias;
    if (!CopyTextPrefix(alias, sizeof Wow64View.nativeAlias, folder, static_cast<std::size_t>(slash)) ||
        !AppendText(alias, sizeof Wow64View.nativeAlias, kNativeAliasName) || !Sys().PathExists(alias)) {
        alias[0] = '\0';
    }
}

bool ReachablePath(const char* path, char* out, std::size_t size)
{
    if (size == 0) return false;
    if (!Wow64View.active || !IsInFolder(path, Wow64View.systemFolder)) {
        if (CopyText(out, size, path)) return true;
        out[0] = '\0';
        return false;
    }
    // Under its own name this program would reach the SysWOW64 twin.
    if (Wow64View.nativeAlias[0] == '\0' || !CopyText(out, size, Wow64View.nativeAlias) ||
        !AppendText(out, size, path + std::strlen(Wow64View.systemFolder))) {
        out[0] = '\0';
        return false;
    }
    return true;
}

std::size_t RegistryViewsOf(KeyRef hive, std::uint32_t views[kMaxRegistryViews])
{
    views[0] = 0;
    if (!Wow64View.registryViews || hive != kKeyLocalMachine) return 1;
    views[1] = kKeyView64;
    return 2;
}

SearchRef FindFirstReachable(const char* pattern, DirEntry& entry)
{
    char reachable[kPathBufferSize];
    return ReachablePath(pattern, reachable, sizeof reachable) ? Sys().FindFirstEntry(reachable, entry) : 0;
}

bool ReachableExists(const char* path)
{
    char reachable[kPathBufferSize];
    return ReachablePath(path, reachable, sizeof reachable) && Sys().PathExists(reachable);
}

bool ReachableReadable(const char* path)
{
    char reachable[kPathBufferSize];
    return ReachablePath(path, reachable, sizeof reachable) && Sys().PathReadable(reachable);
}

bool IsReachableMountPoint(const char* path)
{
    char reachable[kPathBufferSize];
    return ReachablePath(path, reachable, sizeof reachable) && Sys().IsVolumeMountPoint(reachable);
}

FileRef OpenReachableForRead(const char* path)
{
    char reachable[kPathBufferSize];
    return ReachablePath(path, reachable, sizeof reachable) ? Sys().OpenForRead(reachable) : kNoFile;
}

bool SetReachableAttributes(const char* path, std::uint32_t attributes)
{
    char reachable[kPathBufferSize];
    return ReachablePath(path, reachable, sizeof reachable) && Sys().SetAttributes(reachable, attributes);
}

bool RemoveReachableFile(const char* path)
{
    char reachable[kPathBufferSize];
    return ReachablePath(path, reachable, sizeof reachable) && Sys().RemoveFile(reachable);
}

bool RenameReachableFile(const char* from, const char* to)
{
    char reachableFrom[kPathBufferSize];
    char reachableTo[kPathBufferSize];
    return ReachablePath(from, reachableFrom, sizeof reachableFrom) &&
           ReachablePath(to, reachableTo, sizeof reachableTo) && Sys().RenameFile(reachableFrom, reachableTo);
}

bool RemoveReachableAtReboot(const char* path)
{
    char reachable[kPathBufferSize];
    return ReachablePath(path, reachable, sizeof reachable) && Sys().RemoveAtReboot(reachable);
}

bool CreateReachableFolder(const char* path)
{
    char reachable[kPathBufferSize];
    return ReachablePath(path, reachable, sizeof reachable) && Sys().CreateFolder(reachable);
}

FileRef CreateReachableNewFile(const char* path)
{
    char reachable[kPathBufferSize];
    return ReachablePath(path, reachable, sizeof reachable) ? Sys().CreateNewFile(reachable) : kNoFile;
}

bool FlushReachableFolder(const char* path)
{
    char reachable[kPathBufferSize];
    return ReachablePath(path, reachable, sizeof reachable) && Sys().FlushFolder(reachable);
}

bool MakeReachableGuardedFolder(const char* path)
{
    char reachable[kPathBufferSize];
    return ReachablePath(path, reachable, sizeof reachable) && Sys().MakeGuardedFolder(reachable);
}

PathLockResult TakeReachablePathLock(const char* path, LockRef& lock)
{
    char reachable[kPathBufferSize];
    lock = 0;
    if (!ReachablePath(path, reachable, sizeof reachable)) return PathLockUnavailable;
    return Sys().TakePathLock(reachable, lock);
}
