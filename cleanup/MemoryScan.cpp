#include "cleanup/MemoryScan.h"

#include <cstring>
#include <new>

#include "cleanup/ServiceCleanup.h"
#include "platform/Platform.h"
#include "scan/BinaryExamination.h"
#include "scan/BoundedText.h"
#include "scan/ProductText.h"
#include "scan/RunRecord.h"
#include "scan/ScanSession.h"
#include "scan/ScanState.h"
#include "scan/SystemVersion.h"
#include "scan/Wow64View.h"

const char kMemoryNotice[] =
    "W32/MurkEl.Trojan found in memory! registry entries created by the Trojan are removed. You must restart the "
    "computer and run this program to continue scanning.\n\nRestart the computer now?";

namespace {

const std::size_t kImagePathSize = 340;
const std::uint32_t kMaxProcesses = 1024;
const std::uint32_t kAccessDenied = 5;

struct ProcessRecord {
    std::uint32_t processId;
    char imagePath[kImagePathSize];
    ProcessRecord* next;
};

// The processes of one pass, in the order the platform lists them.
struct ProcessList {
    ProcessRecord* head = nullptr;
    ProcessRecord* tail = nullptr;

    bool Append(std::uint32_t processId, const char* imagePath)
    {
        ProcessRecord* record = new (std::nothrow) ProcessRecord();
        if (!record) return false;
        record->processId = processId;
        CopyText(record->imagePath, sizeof record->imagePath, imagePath);
        if (tail) tail->next = record;
        else head = record;
        tail = record;
        return true;
    }
    ~ProcessList()
    {
        while (head) {
            ProcessRecord* next = head->next;
            delete head;
            head = next;
        }
    }
};

bool TerminateById(std::uint32_t processId)
{
    ProcessRef process = Sys().OpenProcessById(kProcessTerminateQuery, processId);
    if (!process) return false;
    bool ended = Sys().TerminateProcessRef(process, 0);
    Sys().CloseProcess(process);
    return ended;
}

// The image of a process that no longer holds it is offered again, and the
// examination applies the clean action to it at once.
std::int32_t ReexamineWithForcedAction(const char* imagePath)
{
    forcedAction = cleanAction;
    std::int32_t outcome = WalkFolder(imagePath);
    forcedAction = 0;
    return outcome;
}

bool BuildToolHelpList(ProcessList& list)
{
    SnapshotRef snapshot = Sys().ProcessSnapshot();
    if (!snapshot) return false;
    ProcessEntry entry;
    std::memset(&entry, 0, sizeof entry);
    bool complete = Sys().ProcessFirst(snapshot, entry);
    bool have = complete;
    while (have) {
        entry.exeFile[sizeof entry.exeFile - 1] = '\0';
        if (!list.Append(entry.processId, entry.exeFile)) {
            complete = false;
            break;
        }
        have = Sys().ProcessNext(snapshot, entry);
    }
    Sys().SnapshotClose(snapshot);
    return complete;
}

// Opens a process to read its image path; a process the program may not
// open is tried again with the debug privilege.
ProcessRef OpenForImagePath(std::uint32_t processId)
{
    ProcessRef process = Sys().OpenProcessById(kProcessQueryRead, processId);
    if (process || Sys().LastErrorCode() != kAccessDenied) return process;
    // When the program's own token cannot be adjusted there is nothing the
    // user could do about it: the pass goes on without a word.
    Sys().EnablePrivilege("SeDebugPrivilege");
    return Sys().OpenProcessById(kProcessQueryRead, processId);
}

bool BuildPsapiList(ProcessList& list)
{
    std::uint32_t ids[kMaxProcesses];
    std::memset(ids, 0, sizeof ids);
    std::uint32_t bytes = 0;
    if (!Sys().ListProcessIds(ids, sizeof ids, bytes)) return false;
    std::uint32_t count = bytes / 4;
    if (count > kMaxProcesses) count = kMaxProcesses;
    for (std::uint32_t i = 0; i < count; ++i) {
        ProcessRef process = OpenForImagePath(ids[i]);
        if (!process) continue;
        char path[kPathBufferSize];
        std::memset(path, 0, sizeof path);
        std::uint32_t length = Sys().ProcessImagePath(process, path, sizeof path);
        // Under WoW64 psapi cannot read the modules of a 64-bit process;
        // QueryFullProcessImageNameA (Vista and later) names its image. Where
        // that is missing too, the process is passed over like any whose
        // image cannot be named.
        if (length == 0 && Wow64View.active) length = Sys().ProcessImageName(process, path, sizeof path);
        Sys().CloseProcess(process);
        if (length > 0 && !list.Append(ids[i], path)) return false;
    }
    return true;
}

bool IsRemovingAction(std::int32_t action)
{
    return action == kActionDelete || action == kActionRename || action == kActionDeleteAlso;
}

// One record of the NT pass: examined, terminated twice, and when the
// second termination fails on NT 4.0 or NT 5.x stopped as a service.
void CleanProcessNT(const ProcessRecord& record)
{
    if (!ReachableReadable(record.imagePath)) return;
    std::int32_t outcome = WalkFolder(record.imagePath);
    if (!foundInMemory || !IsRemovingAction(cleanAction)) return;

    const bool firstEnded = TerminateById(record.processId);
    if (firstEnded) outcome = 1;
    // The second try fails for a process the first one ended, so the service
    // fallback runs then too; but only a process that ended at neither try
    // and whose service would not stop leaves the program needing a restart.
    if (!TerminateById(record.processId)) {
        const int ntClass = GetNtVersionClass();
        const bool serviceFallback = ntClass == kNtClass4 || ntClass == kNtClass5;
        char service[kPathBufferSize];
        bool stopped = false;
        if (serviceFallback && ServiceNameOf(record.imagePath, service, sizeof service)) {
            stopped = StopService(service) != 0;
            DeleteServiceKeys(service);
            if (!stopped && !firstEnded) memoryRestartNeeded = true;
        }
        if (!stopped && outcome == 0) return;
    }
    ReexamineWithForcedAction(record.imagePath);
}

}  // namespace

bool ServiceNameOf(const char* imagePath, char* out, std::size_t size)
{
    const char* slash = std::strrchr(imagePath, '\\');
    if (!CopyText(out, size, slash ? slash + 1 : imagePath)) return false;
    long dot = LastIndexOf(out, '.');
    if (dot >= 0) out[dot] = '\0';
    return true;
}

std::int32_t ScanProcesses9x()
{
    ProcessList list;
    if (!BuildToolHelpList(list)) return 0;
    std::int32_t found = 0;
    for (const ProcessRecord* record = list.head; record; record = record->next) {
        if (!ReachableReadable(record->imagePath)) continue;
        WalkFolder(record->imagePath);
        if (!foundInMemory) continue;
        ++found;
        if (cleanAction == kActionReportOnly) continue;
        // The image is offered again even when the process would not end: the
        // examination's own escalation then has its turn.
        TerminateById(record->processId);
        ReexamineWithForcedAction(record->imagePath);
    }
    return found;
}

std::int32_t ScanProcessesNT()
{
    ProcessList list;
    if (!BuildPsapiList(list)) return 0;
    for (const ProcessRecord* record = list.head; record; record = record->next) CleanProcessNT(*record);
    return memoryRestartNeeded ? 1 : 0;
}

void ScanMemory()
{
    platformClass = GetPlatformClass();
    memoryScanMode = true;
    if (platformClass == kPlatformWin9x) ScanProcesses9x();
    if (platformClass == kPlatformNT && ScanProcessesNT() != 0) {
        const bool now =
            memoryRestartNeeded && Sys().Prompt(kMemoryNotice, kProductTitle, kMemoryNoticeFlags) == kAnswerOk;
        // The program ends here, before the drives: the run's record ends
        // too, with what was done so far.
        EndRunRecord(false, !memoryRestartNeeded ? RestartNotAsked : now ? RestartNow : RestartLater);
        if (now) RestartComputer();
        memoryScanMode = false;
        Sys().EndProgram(0);
        return;
    }
    memoryScanMode = false;
}
