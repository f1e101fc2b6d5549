// The calls that are not about the registry: the backend this one wraps answers them.
#include "platform/hive/HivePlatform.h"

int HivePlatform::QueryDriveType(const char* root)
{
    return inner_.QueryDriveType(root);
}

SearchRef HivePlatform::FindFirstEntry(const char* pattern, DirEntry& entry)
{
    return inner_.FindFirstEntry(pattern, entry);
}

bool HivePlatform::FindNextEntry(SearchRef search, DirEntry& entry)
{
    return inner_.FindNextEntry(search, entry);
}

void HivePlatform::FindEnd(SearchRef search)
{
    inner_.FindEnd(search);
}

bool HivePlatform::PathExists(const char* path)
{
    return inner_.PathExists(path);
}

bool HivePlatform::PathReadable(const char* path)
{
    return inner_.PathReadable(path);
}

bool HivePlatform::IsVolumeMountPoint(const char* path)
{
    return inner_.IsVolumeMountPoint(path);
}

FileRef HivePlatform::OpenForRead(const char* path)
{
    return inner_.OpenForRead(path);
}

FileRef HivePlatform::OpenForWrite(const char* path)
{
    return inner_.OpenForWrite(path);
}

FileRef HivePlatform::CreateForAppend(const char* path)
{
    return inner_.CreateForAppend(path);
}

std::int32_t HivePlatform::ReadBytes(FileRef file, void* buffer, std::uint32_t count)
{
    return inner_.ReadBytes(file, buffer, count);
}

std::int32_t HivePlatform::WriteBytes(FileRef file, const void* data, std::uint32_t count)
{
    return inner_.WriteBytes(file, data, count);
}

std::int32_t HivePlatform::SeekTo(FileRef file, std::int32_t offset, SeekOrigin origin)
{
    return inner_.SeekTo(file, offset, origin);
}

std::int32_t HivePlatform::FileLength(FileRef file)
{
    return inner_.FileLength(file);
}

void HivePlatform::CloseFile(FileRef file)
{
    inner_.CloseFile(file);
}

bool HivePlatform::SetAttributes(const char* path, std::uint32_t attributes)
{
    return inner_.SetAttributes(path, attributes);
}

bool HivePlatform::RemoveFile(const char* path)
{
    return inner_.RemoveFile(path);
}

bool HivePlatform::RenameFile(const char* from, const char* to)
{
    return inner_.RenameFile(from, to);
}

bool HivePlatform::CopyFileOver(const char* from, const char* to)
{
    return inner_.CopyFileOver(from, to);
}

bool HivePlatform::RemoveAtReboot(const char* path)
{
    return inner_.RemoveAtReboot(path);
}

bool HivePlatform::CreateFolder(const char* path)
{
    return inner_.CreateFolder(path);
}

FileRef HivePlatform::CreateNewFile(const char* path)
{
    return inner_.CreateNewFile(path);
}

bool HivePlatform::FlushFile(FileRef file)
{
    return inner_.FlushFile(file);
}

bool HivePlatform::FlushFolder(const char* path)
{
    return inner_.FlushFolder(path);
}

bool HivePlatform::MakeGuardedFolder(const char* path)
{
    return inner_.MakeGuardedFolder(path);
}

PathLockResult HivePlatform::TakePathLock(const char* path, LockRef& lock)
{
    return inner_.TakePathLock(path, lock);
}

void HivePlatform::ReleasePathLock(LockRef lock)
{
    inner_.ReleasePathLock(lock);
}

bool HivePlatform::RenameOver(const char* from, const char* to)
{
    return inner_.RenameOver(from, to);
}

std::uint32_t HivePlatform::ShortPathOf(const char* path, char* out, std::uint32_t size)
{
    return inner_.ShortPathOf(path, out, size);
}

std::uint32_t HivePlatform::WindowsFolder(char* out, std::uint32_t size)
{
    return inner_.WindowsFolder(out, size);
}

std::uint32_t HivePlatform::TempFolder(char* out, std::uint32_t size)
{
    return inner_.TempFolder(out, size);
}

std::uint32_t HivePlatform::SystemFolder(char* out, std::uint32_t size)
{
    return inner_.SystemFolder(out, size);
}

std::uint32_t HivePlatform::CommonDataFolder(char* out, std::uint32_t size)
{
    return inner_.CommonDataFolder(out, size);
}

std::int64_t HivePlatform::CurrentTime()
{
    return inner_.CurrentTime();
}

SnapshotRef HivePlatform::ProcessSnapshot()
{
    return inner_.ProcessSnapshot();
}

bool HivePlatform::ProcessFirst(SnapshotRef snapshot, ProcessEntry& entry)
{
    return inner_.ProcessFirst(snapshot, entry);
}

bool HivePlatform::ProcessNext(SnapshotRef snapshot, ProcessEntry& entry)
{
    return inner_.ProcessNext(snapshot, entry);
}

void HivePlatform::SnapshotClose(SnapshotRef snapshot)
{
    inner_.SnapshotClose(snapshot);
}

bool HivePlatform::ListProcessIds(std::uint32_t* ids, std::uint32_t capacityBytes, std::uint32_t& bytesReturned)
{
    return inner_.ListProcessIds(ids, capacityBytes, bytesReturned);
}

std::uint32_t HivePlatform::ProcessImagePath(ProcessRef process, char* out, std::uint32_t size)
{
    return inner_.ProcessImagePath(process, out, size);
}

std::uint32_t HivePlatform::ProcessImageName(ProcessRef process, char* out, std::uint32_t size)
{
    return inner_.ProcessImageName(process, out, size);
}

ProcessRef HivePlatform::OpenProcessById(std::uint32_t access, std::uint32_t processId)
{
    return inner_.OpenProcessById(access, processId);
}

bool HivePlatform::TerminateProcessRef(ProcessRef process, std::uint32_t exitCode)
{
    return inner_.TerminateProcessRef(process, exitCode);
}

void HivePlatform::CloseProcess(ProcessRef process)
{
    inner_.CloseProcess(process);
}

std::uint32_t HivePlatform::LastErrorCode()
{
    return inner_.LastErrorCode();
}

int HivePlatform::WideToAnsi(const std::uint16_t* text, int length, char* out, int size)
{
    return inner_.WideToAnsi(text, length, out, size);
}

ServiceRef HivePlatform::OpenServiceManager(std::uint32_t access)
{
    return inner_.OpenServiceManager(access);
}

ServiceRef HivePlatform::OpenServiceByName(ServiceRef manager, const char* name, std::uint32_t access)
{
    return inner_.OpenServiceByName(manager, name, access);
}

bool HivePlatform::RequestServiceStop(ServiceRef service)
{
    return inner_.RequestServiceStop(service);
}

bool HivePlatform::QueryServiceState(ServiceRef service, std::uint32_t& state)
{
    return inner_.QueryServiceState(service, state);
}

void HivePlatform::CloseServiceRef(ServiceRef handle)
{
    inner_.CloseServiceRef(handle);
}

PrivilegeResult HivePlatform::EnablePrivilege(const char* privilegeName)
{
    return inner_.EnablePrivilege(privilegeName);
}

bool HivePlatform::RequestReboot(std::uint32_t flags)
{
    return inner_.RequestReboot(flags);
}

void HivePlatform::EndProgram(int exitCode)
{
    inner_.EndProgram(exitCode);
}

bool HivePlatform::TakePendingMessage(PendingMessage& message)
{
    return inner_.TakePendingMessage(message);
}

void HivePlatform::DispatchPending(const PendingMessage& message)
{
    inner_.DispatchPending(message);
}

void HivePlatform::NotifyWindow(WindowRef window, std::uint32_t message)
{
    inner_.NotifyWindow(window, message);
}

int HivePlatform::Prompt(const char* text, const char* caption, std::uint32_t flags)
{
    return inner_.Prompt(text, caption, flags);
}

void HivePlatform::PlainMessage(const char* text, const char* caption)
{
    inner_.PlainMessage(text, caption);
}

void HivePlatform::Wait(std::uint32_t milliseconds)
{
    inner_.Wait(milliseconds);
}

std::uint32_t HivePlatform::TickCount()
{
    return inner_.TickCount();
}
