#include "cleanup/ProcessTermination.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "cleanup/PerformanceData.h"
#include "platform/Platform.h"
#include "scan/BoundedText.h"
#include "scan/SystemVersion.h"
#include "scan/Wow64View.h"

namespace {

// The system needs a moment after loading Tool Help, after a snapshot and
// around each step of the walk; a terminated process needs longer to let go
// of its image file.
const std::uint32_t kToolHelpSettleMs = 100;
const std::uint32_t kBeforeTerminateMs = 50;
const std::uint32_t kAfterTerminateMs = 500;

const char kPerflibKey[] = "software\\microsoft\\windows nt\\currentversion\\perflib";
const unsigned kEnglishLanguage = 9;
const char kCountersValue[] = "Counters";

const std::uint32_t kPerfBufferStart = 51200;
const std::uint32_t kPerfBufferStep = 25600;
// Neither value is anywhere near this on a real system; a backend that
// keeps asking for more is not followed further.
const std::uint32_t kRegistryDataLimit = 16u * 1024 * 1024;

const char* BaseName(const char* path)
{
    const char* slash = std::strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

bool TerminateOpened(std::uint32_t access, std::uint32_t processId)
{
    ProcessRef process = Sys().OpenProcessById(access, processId);
    if (!process) return false;
    bool ended = Sys().TerminateProcessRef(process, 0);
    Sys().CloseProcess(process);
    return ended;
}

// The perflib counter names in English, read into a buffer of their size.
bool ReadCounterNames(CounterIndexes& indexes)
{
    char keyName[kPathBufferSize];
    std::snprintf(keyName, sizeof keyName, "%s\\%03x", kPerflibKey, kEnglishLanguage);
    // The system's own names: under WoW64 those of the 64-bit view, which
    // hold whether or not the 32-bit view shares them.
    std::uint32_t views[kMaxRegistryViews];
    const std::size_t viewCount = RegistryViewsOf(kKeyLocalMachine, views);
    KeyRef key = 0;
    if (Sys().RegistryOpen(kKeyLocalMachine, keyName, kKeyRead | views[viewCount - 1], key) != kRegistryOk) {
        return false;
    }
    bool found = false;
    std::uint32_t type = 0, size = 0;
    if (Sys().RegistryQueryValue(key, kCountersValue, &type, nullptr, &size) == kRegistryOk && size > 0 &&
        size <= kRegistryDataLimit) {
        char* names = new (std::nothrow) char[size]();
        std::uint32_t read = size;
        if (names && Sys().RegistryQueryValue(key, kCountersValue, &type, names, &read) == kRegistryOk) {
            found = ReadCounterIndexes(names, read < size ? read : size, indexes);
        }
        delete[] names;
    }
    Sys().RegistryClose(key);
    return found;
}

// The running processes as the performance data lists them. The number
// of entries filled.
std::uint32_t ReadProcessTable(PerfProcessEntry* table)
{
    std::memset(table, 0, kPerfProcessTableSize * sizeof(PerfProcessEntry));
    CounterIndexes indexes;
    if (!ReadCounterNames(indexes)) return 0;

    std::uint32_t capacity = kPerfBufferStart;
    unsigned char* block = nullptr;
    std::uint32_t size = 0;
    long result = kRegistryMoreData;
    while (result == kRegistryMoreData && capacity <= kRegistryDataLimit) {
        delete[] block;
        block = new (std::nothrow) unsigned char[capacity]();
        if (!block) break;
        std::uint32_t type = 0;
        size = capacity;
        result = Sys().RegistryQueryValue(kKeyPerformanceData, indexes.objectIndexText, &type, block, &size);
        if (result == kRegistryMoreData) capacity += kPerfBufferStep;
    }
    std::uint32_t filled = 0;
    if (block && result == kRegistryOk && size > 0) {
        filled = ReadPerfProcessTable(block, size < capacity ? size : capacity, indexes.idProcessIndex, table);
    }
    delete[] block;
    Sys().RegistryClose(kKeyPerformanceData);
    return filled;
}

}  // namespace

std::int32_t TerminateProcessByImage(const char* path)
{
    switch (GetPlatformClass()) {
    case kPlatformWin9x:
        return TerminateByImage9x(path);
    case kPlatformNT:
        return TerminateByImageNT(path);
    default:
        return 1;
    }
}

std::int32_t TerminateByImage9x(const char* path)
{
    // Loading Tool Help and taking the snapshot are one platform call; the
    // system gets its settling time after each of the two steps.
    SnapshotRef snapshot = Sys().ProcessSnapshot();
    Sys().Wait(kToolHelpSettleMs);
    Sys().Wait(kToolHelpSettleMs);
    if (!snapshot) return 0;

    char target[kPathBufferSize];
    CopyText(target, sizeof target, BaseName(path));
    ToUpperAscii(target);

    std::int32_t result = 0;
    ProcessEntry entry;
    std::memset(&entry, 0, sizeof entry);
    bool have = Sys().ProcessFirst(snapshot, entry);
    while (have) {
        entry.exeFile[sizeof entry.exeFile - 1] = '\0';
        if (EqualsNoCase(BaseName(entry.exeFile), target)) {
            Sys().Wait(kBeforeTerminateMs);
            if (TerminateOpened(kProcessTerminateQuery, entry.processId)) result = 1;
            Sys().Wait(kAfterTerminateMs);
            break;
        }
        Sys().Wait(kToolHelpSettleMs);
        have = Sys().ProcessNext(snapshot, entry);
        Sys().Wait(kToolHelpSettleMs);
    }
    Sys().SnapshotClose(snapshot);
    return result;
}

std::int32_t TerminateByImageNT(const char* path)
{
    char image[kPathBufferSize];
    if (!CopyText(image, sizeof image, path)) return 0;
    ToUpperAscii(image);
    std::size_t length = std::strlen(image);
    if (length <= 4) return 0;
    // Performance data names a process by its image's base name without the
    // extension.
    image[length - 4] = '\0';
    const char* target = BaseName(image);
    if (target[0] == '\0') return 0;

    PerfProcessEntry* table = new (std::nothrow) PerfProcessEntry[kPerfProcessTableSize];
    if (!table) return 0;
    std::uint32_t filled = ReadProcessTable(table);

    // Only whole names match: "A" must not end "ABC", nor "S" every process
    // whose name begins with an S.
    std::int32_t result = 0;
    for (std::uint32_t i = 0; i < filled; ++i) {
        if (!InstanceNameMatches(table[i], target)) continue;
        if (TerminateOpened(kProcessTerminate, table[i].processId)) result = 1;
        Sys().Wait(kAfterTerminateMs);
    }
    delete[] table;
    return result;
}
