#include "scan/ScanSession.h"

#include <cstdio>
#include <cstring>

#include "cleanup/MemoryScan.h"
#include "platform/Platform.h"
#include "scan/BoundedText.h"
#include "scan/ProductText.h"
#include "scan/RunRecord.h"
#include "scan/ScanState.h"
#include "scan/SystemVersion.h"
#include "scan/VirusHandler.h"
#include "scan/Wow64View.h"

const char kScanCompletedText[] = "Scanning completed";
const char kScanTerminatedText[] = "Scanning terminated";

namespace {

const std::int16_t kStatusWidth = 60;
const std::uint32_t kEscapeKey = 27;

const char kRestartQuestion[] =
    "The system has to be restarted to remove the virus completely from your system. \n\n Restart now?";

// The folder part of a pattern: the pattern cut just before the character in
// front of its last '.', which for "D:\\dir\\*.*" leaves "D:\\dir\\".
// False when the pattern has no '.'.
bool FolderPartOf(const char* pattern, char* out, std::size_t size)
{
    long dot = LastIndexOf(pattern, '.');
    if (dot < 0) return false;
    std::size_t keep = dot > 0 ? static_cast<std::size_t>(dot - 1) : 0;
    return CopyTextPrefix(out, size, pattern, keep);
}

// The name under which an entry can be reached. A long name with
// characters outside the ANSI code page comes back with '?' in their place
// (no real name holds one) and opens nothing; the short name the platform
// reports beside it does, so the file is examined, acted on and named in
// its result line through that name rather than missed.
const char* ReachableName(const DirEntry& entry)
{
    if (std::strchr(entry.name, '?') && entry.shortName[0] != '\0') return entry.shortName;
    return entry.name;
}

bool IsDotEntry(const char* name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Junctions and symbolic links to folders are not entered: profiles since
// Windows Vista hold junction loops ("Application Data" inside
// "AppData\\Local" and the like) that would examine and count the same files
// again and again until the path limit. A volume mounted in a folder is an
// ordinary part of the disk and is walked. Some systems mark a linked folder
// as a reparse point without reporting its tag (0 is no valid tag); such a
// folder is treated like a junction.
bool IsLinkToFolder(const DirEntry& entry, const char* folderPath)
{
    if (!(entry.attributes & kAttrReparsePoint)) return false;
    if (entry.reparseTag == kReparseTagSymlink) return true;
    if (entry.reparseTag == kReparseTagMountPoint || entry.reparseTag == 0) {
        return !IsReachableMountPoint(folderPath);
    }
    return false;
}

void ShowPathInStatus(const char* path)
{
    char shortened[kScratchTextSize];
    ShortenPath(path, shortened, sizeof shortened, kStatusWidth);
    CopyText(ScanState.statusText, sizeof ScanState.statusText, shortened);
    SendStatus();
}

void OfferToHandlers(const char* path)
{
    for (const VirusHandler* handler = ActiveHandlerTable(); handler->label; ++handler) {
        if (handler->examine(handler->label, path)) return;
    }
}

// A file entry of the walk: counted (outside memory-scan mode) before the
// handlers run, whatever they find.
void ExamineFileEntry(const char* fullPath)
{
    if (!memoryScanMode) ++ScanStatistics.filesScanned;
    OfferToHandlers(fullPath);
}

// A drive root ("C:\\*.*") notes whether it has a "Program Files" folder, so
// the session can walk it even when the root's own walk did not reach it.
void NoteProgramFilesFolder(const char* pattern)
{
    if (std::strlen(pattern) > 6) return;
    const char* colon = std::strchr(pattern, ':');
    if (!colon) return;
    char* target = ScanState.programFilesPattern;
    const std::size_t size = sizeof ScanState.programFilesPattern;
    CopyTextPrefix(target, size, pattern, static_cast<std::size_t>(colon - pattern) + 1);
    AppendText(target, size, "\\Program Files");
    if (ReachableExists(target)) {
        ScanState.programFilesPending = 1;
        AppendText(target, size, "\\*.*");
    }
}

void AppendStatistics()
{
    char lines[kStatisticsLineCount][kLineTextSize];
    const std::size_t count = FormatStatisticsBlock(ScanStatistics, lines);
    for (std::size_t i = 0; i < count; ++i) AppendResultLine(lines[i]);
}

// The file pass of one walk level: every entry of the pattern is shown, and
// every file is counted and offered to the handlers. -1, 0 (cancelled) or 1.
std::int32_t WalkFiles(const char* pattern)
{
    DirEntry entry;
    SearchRef search = FindFirstReachable(pattern, entry);
    if (!search) return 1;
    char fullPath[kPathBufferSize];
    do {
        PumpPendingMessage();
        if (ScanState.cancelRequested) {
            Sys().FindEnd(search);
            return 0;
        }
        bool fits = true;
        if (memoryScanMode) {
            fits = CopyText(fullPath, sizeof fullPath, pattern);
        } else {
            if (!FolderPartOf(pattern, fullPath, sizeof fullPath)) {
                Sys().FindEnd(search);
                return -1;
            }
            fits = AppendText(fullPath, sizeof fullPath, ReachableName(entry));
        }
        // An entry whose full path exceeds the path limit cannot be named
        // to the platform's file functions, so it is passed over.
        if (fits) {
            ShowPathInStatus(fullPath);
            if (!(entry.attributes & kAttrDirectory)) ExamineFileEntry(fullPath);
        }
        PumpPendingMessage();
        if (ScanState.cancelRequested) {
            Sys().FindEnd(search);
            return 0;
        }
    } while (Sys().FindNextEntry(search, entry));
    Sys().FindEnd(search);
    return 1;
}

// The subfolder pass: every folder of the pattern is walked in turn, depth
// first. -1, 0 (cancelled) or 1.
std::int32_t WalkSubfolders(const char* pattern)
{
    char folderPattern[kPathBufferSize];
    long dot = LastIndexOf(pattern, '.');
    bool fits = dot >= 0 ? CopyTextPrefix(folderPattern, sizeof folderPattern, pattern,
                                          static_cast<std::size_t>(dot) + 1)
                         : CopyText(folderPattern, sizeof folderPattern, pattern);
    if (!fits || !AppendText(folderPattern, sizeof folderPattern, "*")) return 1;

    DirEntry entry;
    SearchRef search = FindFirstReachable(folderPattern, entry);
    if (!search) return 1;
    char childFolder[kPathBufferSize];
    char childPattern[kPathBufferSize];
    do {
        PumpPendingMessage();
        if (ScanState.cancelRequested) {
            Sys().FindEnd(search);
            return 0;
        }
        if (!(entry.attributes & kAttrDirectory) || IsDotEntry(entry.name)) continue;
        if (!FolderPartOf(pattern, childFolder, sizeof childFolder)) {
            Sys().FindEnd(search);
            return -1;
        }
        if (!AppendText(childFolder, sizeof childFolder, ReachableName(entry))) continue;
        if (!CopyText(childPattern, sizeof childPattern, childFolder) ||
            !AppendText(childPattern, sizeof childPattern, "\\*.*")) {
            continue;
        }
        if (IsLinkToFolder(entry, childFolder)) continue;
        if (std::strstr(childPattern, "\\Program Files\\")) ScanState.programFilesVisited = 1;
        if (WalkFolder(childPattern) == -1) {
            Sys().FindEnd(search);
            return -1;
        }
    } while (Sys().FindNextEntry(search, entry));
    Sys().FindEnd(search);
    return 1;
}

}  // namespace

std::int32_t WalkFolder(const char* pattern)
{
    foundInMemory = false;
    char ownPattern[kPathBufferSize];
    if (!CopyText(ownPattern, sizeof ownPattern, pattern)) return ScanStatistics.filesScanned;

    NoteProgramFilesFolder(ownPattern);

    std::int32_t result = WalkFiles(ownPattern);
    if (result <= 0) return result;
    result = WalkSubfolders(ownPattern);
    if (result <= 0) return result;
    return ScanStatistics.filesScanned;
}

namespace {

// Walks a folder pattern; at a drive root ("D:\\*.*") also its "Program
// Files" folder when the root's own walk did not reach it.
void WalkDriveRoot(const char* rootPattern)
{
    WalkFolder(rootPattern);
    if (ScanState.programFilesPending == 1 && ScanState.programFilesVisited == 0) {
        char programFiles[kPathBufferSize];
        CopyText(programFiles, sizeof programFiles, ScanState.programFilesPattern);
        WalkFolder(programFiles);
        ScanState.programFilesPending = 0;
    }
}

void WalkFixedDrives()
{
    char root[] = "C:\\";
    char rootPattern[] = "C:\\*.*";
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        root[0] = letter;
        if (Sys().QueryDriveType(root) != DriveFixed) continue;
        rootPattern[0] = letter;
        WalkDriveRoot(rootPattern);
    }
}

}  // namespace

void ScanSingleFile(const char* fullPath)
{
    ShowPathInStatus(fullPath);
    ExamineFileEntry(fullPath);
}

namespace {

void FinishScanSession()
{
    ScanState.statisticsPhase = true;
    AppendStatistics();

    CopyText(ScanState.statusText, sizeof ScanState.statusText,
             ScanState.cancelRequested ? kScanTerminatedText : kScanCompletedText);
    SendStatus();

    RestartAnswer answer = RestartNotAsked;
    if (ScanState.restartNeeded != 0) {
        const bool now = Sys().Prompt(kRestartQuestion, kProductTitle, kPromptYesNoQuestion) == kAnswerYes;
        answer = now ? RestartNow : RestartLater;
    }
    // The record is complete before the system may go down. A session whose
    // memory scan left the drives for after a restart (the console's, which
    // gets here) ended its record there already.
    EndRunRecord(!ScanState.cancelRequested && !memoryRestartNeeded, answer);
    if (answer == RestartNow) RestartComputer();
}

}  // namespace

std::size_t FormatStatisticsBlock(const ScanStatisticsType& statistics, char (*lines)[kLineTextSize])
{
    // The tabs are part of the lines: the results list expands them.
    struct Count {
        const char* format;
        std::int32_t value;
    };
    const Count counts[] = {
        {"Total files scanned\t\t:  %d", statistics.filesScanned},
        {"Total files infected\t\t:  %d", statistics.filesInfected},
        {"Total files removed\t\t:  %d", statistics.filesRemoved},
    };
    std::size_t count = 0;
    if (statistics.filesInfected > 0) CopyText(lines[count++], kLineTextSize, " ");
    CopyText(lines[count++], kLineTextSize, "Scanning statistics");
    CopyText(lines[count++], kLineTextSize, "------------------------------");
    for (const Count& line : counts) {
        std::snprintf(lines[count++], kLineTextSize, line.format, static_cast<int>(line.value));
    }
    return count;
}

void RunSessionPlan(const SessionPlan& plan)
{
    DetectWow64View();
    if (plan.scanMemory) ScanMemory();
    // The memory scan ends the program when a process it could not end
    // needs a restart before the scan can go on; a front end that returns
    // from that (the console scanner) gets the statistics without a walk.
    if (!memoryRestartNeeded) {
        if (plan.targetCount == 0) WalkFixedDrives();
        for (std::size_t i = 0; i < plan.targetCount && !ScanState.cancelRequested; ++i) {
            if (plan.enterTarget) plan.enterTarget(i, plan.context);
            if (plan.targets[i].folder) {
                WalkDriveRoot(plan.targets[i].path);
            } else {
                ScanSingleFile(plan.targets[i].path);
            }
        }
    }
    FinishScanSession();
}

std::int32_t RunScanSession()
{
    SessionPlan plan = {true, nullptr, 0, nullptr, nullptr};
    RunSessionPlan(plan);
    return 1;
}

namespace {

// Looking into the queue costs a round trip to the window server on some
// systems (under Wine the walk's looks, three per entry, cost more than its
// file work). Within one tick of the clock an empty queue is not looked
// into again; a queue that just gave a message is. A message waits a tick
// at most: 10 to 16 ms on Windows, 1 ms under Wine.
struct QueueLook {
    bool foundEmpty;
    std::uint32_t tick;
};
QueueLook lastLook = {false, 0};

}  // namespace

void ResetMessagePacing()
{
    lastLook = QueueLook{false, 0};
}

void PumpPendingMessage()
{
    const std::uint32_t now = Sys().TickCount();
    if (lastLook.foundEmpty && lastLook.tick == now) return;
    PendingMessage message;
    lastLook.tick = now;
    lastLook.foundEmpty = !Sys().TakePendingMessage(message);
    if (lastLook.foundEmpty) return;
    // Escape reaches the walk in whatever message carries its key code; the
    // message itself is dropped either way.
    if ((message.wParam & 0xFFFF) == kEscapeKey) {
        if (Sys().Prompt(kTerminateQuestion, kProductTitle, kPromptYesNoQuestion) != kAnswerNo) {
            ScanState.cancelRequested = true;
        }
        return;
    }
    if (message.message == kMessageQuit || message.message == kMessageDestroy) {
        ScanState.cancelRequested = true;
        return;
    }
    Sys().DispatchPending(message);
}

void ShortenPath(const char* source, char* destination, std::size_t destinationSize, std::int16_t width)
{
    if (destinationSize == 0) return;
    std::size_t length = std::strlen(source);
    int half = width / 2 - 1;
    if (width > 0 && length > static_cast<std::size_t>(width) && half > 0 &&
        static_cast<std::size_t>(width) < destinationSize) {
        std::size_t h = static_cast<std::size_t>(half);
        std::size_t dots = static_cast<std::size_t>(width) - 2 * h;
        std::memcpy(destination, source, h);
        std::memset(destination + h, '.', dots);
        std::memcpy(destination + h + dots, source + length - h, h);
        destination[width] = '\0';
        return;
    }
    CopyText(destination, destinationSize, source);
}

void RestartComputer()
{
    if (GetPlatformClass() == kPlatformWin9x) {
        Sys().RequestReboot(kRebootForce);
        return;
    }
    if (Sys().EnablePrivilege("SeShutdownPrivilege") != PrivilegeEnabled) return;
    Sys().RequestReboot(kRebootForce);
}
