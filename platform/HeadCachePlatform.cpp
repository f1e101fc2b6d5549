#include "platform/HeadCachePlatform.h"

#include <cstring>
#include <new>

namespace {

const std::int64_t kLargestPosition = 0x7FFFFFFF;

bool SamePath(const char* a, const char* b)
{
    return std::strcmp(a, b) == 0;
}

}  // namespace

HeadCachePlatform::HeadCachePlatform(Platform& inner)
    : inner_(inner), slots_(new (std::nothrow) ReadFile[kSlots])
{
    if (slots_) {
        for (std::size_t i = 0; i < kSlots; ++i) {
            slots_[i].inUse = false;
            slots_[i].kept = false;
        }
    }
}

HeadCachePlatform::~HeadCachePlatform()
{
    LetGo();
    delete[] slots_;
}

void HeadCachePlatform::LetGo()
{
    if (!slots_) return;
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (slots_[i].inUse && slots_[i].kept) {
            slots_[i].inUse = false;
            slots_[i].kept = false;
            inner_.CloseFile(slots_[i].file);
        }
    }
}

HeadCachePlatform::ReadFile* HeadCachePlatform::Slot(FileRef file)
{
    if (!slots_) return nullptr;
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (slots_[i].inUse && !slots_[i].kept && slots_[i].file == file) return &slots_[i];
    }
    return nullptr;
}

// ------------------------------------------------------------ files

FileRef HeadCachePlatform::OpenForRead(const char* path)
{
    if (slots_) {
        for (std::size_t i = 0; i < kSlots; ++i) {
            ReadFile& slot = slots_[i];
            if (slot.inUse && slot.kept && SamePath(slot.path, path)) {
                slot.kept = false;
                slot.position = 0;
                if (slot.length < 0) inner_.SeekTo(slot.file, 0, SeekFromStart);
                return slot.file;
            }
        }
    }
    LetGo();
    FileRef file = inner_.OpenForRead(path);
    if (file == kNoFile || !slots_) return file;
    ReadFile* slot = nullptr;
    for (std::size_t i = 0; i < kSlots && !slot; ++i) {
        if (!slots_[i].inUse) slot = &slots_[i];
    }
    // More files open at once than the table holds: the rest pass through.
    if (!slot) return file;
    const std::size_t pathLength = std::strlen(path);
    if (pathLength >= sizeof slot->path) return file;
    std::memcpy(slot->path, path, pathLength + 1);
    slot->inUse = true;
    slot->kept = false;
    slot->file = file;
    slot->position = 0;
    slot->cached = 0;
    slot->length = inner_.FileLength(file);
    if (slot->length >= 0) {
        const std::uint32_t wanted =
            static_cast<std::uint32_t>(slot->length) < kHeadCacheSize ? static_cast<std::uint32_t>(slot->length)
                                                                       : kHeadCacheSize;
        std::int32_t got = wanted ? inner_.ReadBytes(file, slot->head, wanted) : 0;
        // A file that cannot be read at its start passes through, so every
        // read reports what the backend says.
        if (got < 0) {
            inner_.SeekTo(file, 0, SeekFromStart);
            slot->length = -1;
        } else {
            slot->cached = static_cast<std::uint32_t>(got);
        }
    }
    return file;
}

std::int32_t HeadCachePlatform::ReadThrough(ReadFile& slot, unsigned char* out, std::uint32_t count)
{
    if (inner_.SeekTo(slot.file, slot.position, SeekFromStart) != slot.position) return -1;
    return inner_.ReadBytes(slot.file, out, count);
}

std::int32_t HeadCachePlatform::ReadBytes(FileRef file, void* buffer, std::uint32_t count)
{
    ReadFile* slot = Slot(file);
    if (!slot || slot->length < 0) return inner_.ReadBytes(file, buffer, count);
    unsigned char* out = static_cast<unsigned char*>(buffer);
    if (count > static_cast<std::uint32_t>(kLargestPosition)) count = static_cast<std::uint32_t>(kLargestPosition);
    std::uint32_t done = 0;
    const std::uint32_t position = static_cast<std::uint32_t>(slot->position);
    if (position < slot->cached) {
        done = slot->cached - position < count ? slot->cached - position : count;
        std::memcpy(out, slot->head + position, done);
        slot->position += static_cast<std::int32_t>(done);
    }
    // The rest lies beyond what was read at the opening.
    if (done < count && slot->position < slot->length) {
        std::int32_t more = ReadThrough(*slot, out + done, count - done);
        if (more < 0) return done ? static_cast<std::int32_t>(done) : -1;
        slot->position += more;
        done += static_cast<std::uint32_t>(more);
    }
    return static_cast<std::int32_t>(done);
}

std::int32_t HeadCachePlatform::SeekTo(FileRef file, std::int32_t offset, SeekOrigin origin)
{
    ReadFile* slot = Slot(file);
    if (!slot || slot->length < 0) return inner_.SeekTo(file, offset, origin);
    std::int64_t base = 0;
    if (origin == SeekFromCurrent) base = slot->position;
    else if (origin == SeekFromEnd) base = slot->length;
    else if (origin != SeekFromStart) return -1;
    const std::int64_t target = base + offset;
    if (target < 0 || target > kLargestPosition) return -1;
    slot->position = static_cast<std::int32_t>(target);
    return slot->position;
}

std::int32_t HeadCachePlatform::FileLength(FileRef file)
{
    ReadFile* slot = Slot(file);
    if (!slot || slot->length < 0) return inner_.FileLength(file);
    return slot->length;
}

void HeadCachePlatform::CloseFile(FileRef file)
{
    ReadFile* slot = Slot(file);
    if (!slot) {
        LetGo();
        inner_.CloseFile(file);
        return;
    }
    // Only one file is kept at hand: the one closed last.
    LetGo();
    slot->kept = true;
}

FileRef HeadCachePlatform::OpenForWrite(const char* path)
{
    LetGo();
    return inner_.OpenForWrite(path);
}

FileRef HeadCachePlatform::CreateForAppend(const char* path)
{
    LetGo();
    return inner_.CreateForAppend(path);
}

std::int32_t HeadCachePlatform::WriteBytes(FileRef file, const void* data, std::uint32_t count)
{
    LetGo();
    return inner_.WriteBytes(file, data, count);
}

// ------------------------------------------------------------ everything else passes through

bool HeadCachePlatform::QueryVersion(VersionInfo& info)
{
    LetGo();
    return inner_.QueryVersion(info);
}

int HeadCachePlatform::QueryDriveType(const char* root)
{
    LetGo();
    return inner_.QueryDriveType(root);
}

SearchRef HeadCachePlatform::FindFirstEntry(const char* pattern, DirEntry& entry)
{
    LetGo();
    return inner_.FindFirstEntry(pattern, entry);
}

bool HeadCachePlatform::FindNextEntry(SearchRef search, DirEntry& entry)
{
    LetGo();
    return inner_.FindNextEntry(search, entry);
}

void HeadCachePlatform::FindEnd(SearchRef search)
{
    LetGo();
    inner_.FindEnd(search);
}

bool HeadCachePlatform::PathExists(const char* path)
{
    LetGo();
    return inner_.PathExists(path);
}

bool HeadCachePlatform::PathReadable(const char* path)
{
    LetGo();
    return inner_.PathReadable(path);
}

bool HeadCachePlatform::IsVolumeMountPoint(const char* path)
{
    LetGo();
    return inner_.IsVolumeMountPoint(path);
}

bool HeadCachePlatform::SetAttributes(const char* path, std::uint32_t attributes)
{
    LetGo();
    return inner_.SetAttributes(path, attributes);
}

bool HeadCachePlatform::RemoveFile(const char* path)
{
    LetGo();
    return inner_.RemoveFile(path);
}

bool HeadCachePlatform::RenameFile(const char* from, const char* to)
{
    LetGo();
    return inner_.RenameFile(from, to);
}

bool HeadCachePlatform::CopyFileOver(const char* from, const char* to)
{
    LetGo();
    return inner_.CopyFileOver(from, to);
}

bool HeadCachePlatform::RemoveAtReboot(const char* path)
{
    LetGo();
    return inner_.RemoveAtReboot(path);
}

bool HeadCachePlatform::CreateFolder(const char* path)
{
    LetGo();
    return inner_.CreateFolder(path);
}

FileRef HeadCachePlatform::CreateNewFile(const char* path)
{
    LetGo();
    return inner_.CreateNewFile(path);
}

bool HeadCachePlatform::FlushFile(FileRef file)
{
    LetGo();
    return inner_.FlushFile(file);
}

bool HeadCachePlatform::FlushFolder(const char* path)
{
    LetGo();
    return inner_.FlushFolder(path);
}

bool HeadCachePlatform::MakeGuardedFolder(const char* path)
{
    LetGo();
    return inner_.MakeGuardedFolder(path);
}

PathLockResult HeadCachePlatform::TakePathLock(const char* path, LockRef& lock)
{
    LetGo();
    return inner_.TakePathLock(path, lock);
}

void HeadCachePlatform::ReleasePathLock(LockRef lock)
{
    LetGo();
    inner_.ReleasePathLock(lock);
}

bool HeadCachePlatform::RenameOver(const char* from, const char* to)
{
    LetGo();
    return inner_.RenameOver(from, to);
}

std::uint32_t HeadCachePlatform::ShortPathOf(const char* path, char* out, std::uint32_t size)
{
    LetGo();
    return inner_.ShortPathOf(path, out, size);
}

std::uint32_t HeadCachePlatform::WindowsFolder(char* out, std::uint32_t size)
{
    LetGo();
    return inner_.WindowsFolder(out, size);
}

std::uint32_t HeadCachePlatform::TempFolder(char* out, std::uint32_t size)
{
    LetGo();
    return inner_.TempFolder(out, size);
}

std::uint32_t HeadCachePlatform::ExpandEnvironment(const char* text, char* out, std::uint32_t size)
{
    LetGo();
    return inner_.ExpandEnvironment(text, out, size);
}

std::uint32_t HeadCachePlatform::SystemFolder(char* out, std::uint32_t size)
{
    LetGo();
    return inner_.SystemFolder(out, size);
}

bool HeadCachePlatform::RunsUnderWow64()
{
    LetGo();
    return inner_.RunsUnderWow64();
}

std::uint32_t HeadCachePlatform::CommonDataFolder(char* out, std::uint32_t size)
{
    LetGo();
    return inner_.CommonDataFolder(out, size);
}

std::int64_t HeadCachePlatform::CurrentTime()
{
    return inner_.CurrentTime();
}

long HeadCachePlatform::RegistryOpen(KeyRef parent, const char* subkey, std::uint32_t access, KeyRef& key)
{
    LetGo();
    return inner_.RegistryOpen(parent, subkey, access, key);
}

long HeadCachePlatform::RegistryQueryValue(KeyRef key, const char* name, std::uint32_t* type, void* data,
                                           std::uint32_t* size)
{
    LetGo();
    return inner_.RegistryQueryValue(key, name, type, data, size);
}

long HeadCachePlatform::RegistryValueCount(KeyRef key, std::uint32_t& count)
{
    LetGo();
    return inner_.RegistryValueCount(key, count);
}

long HeadCachePlatform::RegistryEnumValue(KeyRef key, std::uint32_t index, char* name, std::uint32_t& nameLength)
{
    LetGo();
    return inner_.RegistryEnumValue(key, index, name, nameLength);
}

long HeadCachePlatform::RegistryDeleteValue(KeyRef key, const char* name)
{
    LetGo();
    return inner_.RegistryDeleteValue(key, name);
}

long HeadCachePlatform::RegistryDeleteKey(KeyRef parent, const char* subkey)
{
    LetGo();
    return inner_.RegistryDeleteKey(parent, subkey);
}

void HeadCachePlatform::RegistryClose(KeyRef key)
{
    LetGo();
    inner_.RegistryClose(key);
}

std::uint32_t HeadCachePlatform::RegistryUserCount()
{
    LetGo();
    return inner_.RegistryUserCount();
}

bool HeadCachePlatform::SelectRegistryUser(std::uint32_t index)
{
    LetGo();
    return inner_.SelectRegistryUser(index);
}

bool HeadCachePlatform::RegistryHasTwoViews()
{
    LetGo();
    return inner_.RegistryHasTwoViews();
}

SnapshotRef HeadCachePlatform::ProcessSnapshot()
{
    LetGo();
    return inner_.ProcessSnapshot();
}

bool HeadCachePlatform::ProcessFirst(SnapshotRef snapshot, ProcessEntry& entry)
{
    LetGo();
    return inner_.ProcessFirst(snapshot, entry);
}

bool HeadCachePlatform::ProcessNext(SnapshotRef snapshot, ProcessEntry& entry)
{
    LetGo();
    return inner_.ProcessNext(snapshot, entry);
}

void HeadCachePlatform::SnapshotClose(SnapshotRef snapshot)
{
    LetGo();
    inner_.SnapshotClose(snapshot);
}

bool HeadCachePlatform::ListProcessIds(std::uint32_t* ids, std::uint32_t capacityBytes, std::uint32_t& bytesReturned)
{
    LetGo();
    return inner_.ListProcessIds(ids, capacityBytes, bytesReturned);
}

std::uint32_t HeadCachePlatform::ProcessImagePath(ProcessRef process, char* out, std::uint32_t size)
{
    LetGo();
    return inner_.ProcessImagePath(process, out, size);
}

std::uint32_t HeadCachePlatform::ProcessImageName(ProcessRef process, char* out, std::uint32_t size)
{
    LetGo();
    return inner_.ProcessImageName(process, out, size);
}

ProcessRef HeadCachePlatform::OpenProcessById(std::uint32_t access, std::uint32_t processId)
{
    LetGo();
    return inner_.OpenProcessById(access, processId);
}

bool HeadCachePlatform::TerminateProcessRef(ProcessRef process, std::uint32_t exitCode)
{
    LetGo();
    return inner_.TerminateProcessRef(process, exitCode);
}

void HeadCachePlatform::CloseProcess(ProcessRef process)
{
    LetGo();
    inner_.CloseProcess(process);
}

std::uint32_t HeadCachePlatform::LastErrorCode()
{
    return inner_.LastErrorCode();
}

int HeadCachePlatform::WideToAnsi(const std::uint16_t* text, int length, char* out, int size)
{
    return inner_.WideToAnsi(text, length, out, size);
}

ServiceRef HeadCachePlatform::OpenServiceManager(std::uint32_t access)
{
    LetGo();
    return inner_.OpenServiceManager(access);
}

ServiceRef HeadCachePlatform::OpenServiceByName(ServiceRef manager, const char* name, std::uint32_t access)
{
    LetGo();
    return inner_.OpenServiceByName(manager, name, access);
}

bool HeadCachePlatform::RequestServiceStop(ServiceRef service)
{
    LetGo();
    return inner_.RequestServiceStop(service);
}

bool HeadCachePlatform::QueryServiceState(ServiceRef service, std::uint32_t& state)
{
    LetGo();
    return inner_.QueryServiceState(service, state);
}

void HeadCachePlatform::CloseServiceRef(ServiceRef handle)
{
    LetGo();
    inner_.CloseServiceRef(handle);
}

PrivilegeResult HeadCachePlatform::EnablePrivilege(const char* privilegeName)
{
    LetGo();
    return inner_.EnablePrivilege(privilegeName);
}

bool HeadCachePlatform::RequestReboot(std::uint32_t flags)
{
    LetGo();
    return inner_.RequestReboot(flags);
}

void HeadCachePlatform::EndProgram(int exitCode)
{
    LetGo();
    inner_.EndProgram(exitCode);
}

bool HeadCachePlatform::TakePendingMessage(PendingMessage& message)
{
    LetGo();
    return inner_.TakePendingMessage(message);
}

void HeadCachePlatform::DispatchPending(const PendingMessage& message)
{
    LetGo();
    inner_.DispatchPending(message);
}

void HeadCachePlatform::NotifyWindow(WindowRef window, std::uint32_t message)
{
    LetGo();
    inner_.NotifyWindow(window, message);
}

int HeadCachePlatform::Prompt(const char* text, const char* caption, std::uint32_t flags)
{
    LetGo();
    return inner_.Prompt(text, caption, flags);
}

void HeadCachePlatform::PlainMessage(const char* text, const char* caption)
{
    LetGo();
    inner_.PlainMessage(text, caption);
}

void HeadCachePlatform::Wait(std::uint32_t milliseconds)
{
    LetGo();
    inner_.Wait(milliseconds);
}

std::uint32_t HeadCachePlatform::TickCount()
{
    return inner_.TickCount();
}
