// The run's record: its header, a line per result (and per quarantine
// note), and its end.
#include "scan/RunRecord.h"

#include <cstdio>
#include <cstring>

#include "scan/BoundedText.h"
#include "scan/ProductText.h"
#include "scan/RunLog.h"
#include "scan/ScanSession.h"
#include "scan/ScanState.h"

const char kRunLogName[] = "Quellor.log";

namespace {

// The quarantine line after a result that changed a file. The indent sets
// it apart from result lines, which start with a path or "System". The
// undo command names the store when the run named one of its own.
const char kKeptFormat[] = "    Quarantine entry %s (undo: quellor-scan --restore %s)";
const char kKeptInStoreFormat[] = "    Quarantine entry %s (undo: quellor-scan --quarantine %s --restore %s)";
const char kKeptNoUndoFormat[] = "    Quarantine entry %s";
const char kNotKeptFormat[] = "    Not quarantined (%s)";
const char kNoStoreReason[] = "no quarantine in use";

const struct {
    RestartAnswer answer;
    const char* text;
} kRestartLines[] = {
    {RestartNotAsked, "Restart question: not asked"},
    {RestartNow, "Restart question: Yes, the system restarts now"},
    {RestartLater, "Restart question: No, the removal finishes at the next start"},
};

// How often a run that waits for a log held by another tries it again.
const std::uint32_t kLogWaitStepMs = 100;
// Room for the store's word in the undo command (a POSIX path may be long).
const std::size_t kStoreWordSize = 4200;

// One record at a time: the scan has one thread and one run.
struct RecordState {
    RunLog log;
    bool active = false;  // started and not yet ended
    bool open = false;    // the log is open
    bool failed = false;
    RunRecordPathNamer namer = nullptr;
    void* namerContext = nullptr;
    // The second log the record is left in too, when asked.
    char copyPath[kPathBufferSize] = "";
    RunLog copy;
    bool copyOpen = false;
    bool copyFailed = false;
    // The store named by the run, as its undo commands name it; "" for the
    // program's own store.
    char storeWord[kStoreWordSize] = "";
    bool storeWordTooLong = false;
    RunRecordWaitNote waitNote = nullptr;
    void* waitNoteContext = nullptr;
};
RecordState record;

void WriteLine(const char* text)
{
    RunLogLine(record.log, text);
    if (record.log.failed) record.failed = true;
    if (!record.copyOpen) return;
    RunLogLine(record.copy, text);
    if (record.copy.failed) record.copyFailed = true;
}

// Opens the second log beside the first, when one is asked for.
void OpenCopy()
{
    record.copyFailed = false;
    if (record.copyPath[0] == '\0') return;
    record.copyOpen = RunLogOpen(record.copy, Sys(), record.copyPath);
    if (record.copyOpen) return;
    RunLogClose(record.copy);
    record.copyFailed = true;
}

void WriteQuarantineNote(const ResultLineFormat& format, const QuarantineNote& quarantine)
{
    if (!format.namesPath || format.action == ResultReport) return;
    char text[kLineTextSize + kStoreWordSize];
    switch (quarantine.outcome) {
    case QuarantineKept:
        if (record.storeWordTooLong) std::snprintf(text, sizeof text, kKeptNoUndoFormat, quarantine.id);
        else if (record.storeWord[0] == '\0') std::snprintf(text, sizeof text, kKeptFormat, quarantine.id, quarantine.id);
        else std::snprintf(text, sizeof text, kKeptInStoreFormat, quarantine.id, record.storeWord, quarantine.id);
        break;
    case QuarantineNotKept:
        std::snprintf(text, sizeof text, kNotKeptFormat, QuarantineFailureText(quarantine.failure));
        break;
    default:
        // With a store in use a file it was not asked about was not touched
        // (a rename with no name to rename to).
        if (QuarantineActive()) return;
        std::snprintf(text, sizeof text, kNotKeptFormat, kNoStoreReason);
        break;
    }
    WriteLine(text);
}

void CloseLog(RunLog& log, bool& open, bool& failed)
{
    if (!open) return;
    RunLogClose(log);
    if (log.failed) failed = true;
    open = false;
}

void CloseUnlessWaiting(RunLog& log, bool& open, bool& failed)
{
    if (open && !RunLogWaiting(log)) CloseLog(log, open, failed);
}

void NoteWaiting(bool copy, bool& noted)
{
    noted = true;
    if (record.waitNote) record.waitNote(copy, record.waitNoteContext);
}

// Looks at the messages while the run waits for a log: true when the user
// asked to stop (a cancel, an interrupt, the window closing). Whether the
// scan itself was stopped stays as it was.
bool StopAskedWhileWaiting()
{
    const bool cancelled = ScanState.cancelRequested;
    ScanState.cancelRequested = false;
    PumpPendingMessage();
    const bool asked = ScanState.cancelRequested;
    ScanState.cancelRequested = cancelled;
    return asked;
}

}  // namespace

bool DefaultRunLogPath(char* out, std::size_t size)
{
    if (!DefaultDataFolder(out, size)) return false;
    if (AppendText(out, size, "\\") && AppendText(out, size, kRunLogName)) return true;
    out[0] = '\0';
    return false;
}

void DescribeWindowsVersion(char* out, std::size_t size)
{
    if (size == 0) return;
    VersionInfo version = {};
    if (!Sys().QueryVersion(version) || (version.platformId != 1 && version.platformId != 2)) {
        CopyText(out, size, "unknown");
        return;
    }
    // The 95/98/ME family keeps its version in the high word of the build.
    const bool nt = version.platformId == 2;
    std::snprintf(out, size, "Windows %s %u.%u build %u%s", nt ? "NT" : "95/98/ME",
                  static_cast<unsigned>(version.majorVersion), static_cast<unsigned>(version.minorVersion),
                  static_cast<unsigned>(nt ? version.buildNumber : version.buildNumber & 0xFFFF),
                  Sys().RunsUnderWow64() ? " (WoW64)" : "");
}

bool StartRunRecord(const char* logPath, const char* programName, const char* systemText)
{
    StopRunRecord();
    record.failed = false;
    record.active = false;
    if (!RunLogOpen(record.log, Sys(), logPath)) {
        RunLogClose(record.log);
        record.failed = true;
        return false;
    }
    record.open = true;
    record.active = true;
    OpenCopy();
    char text[kLineTextSize];
    std::snprintf(text, sizeof text, "Program: %s %s (%u-bit)", programName, kProductVersion,
                  static_cast<unsigned>(sizeof(void*) * 8));
    WriteLine(text);
    char system[256];
    if (systemText) CopyText(system, sizeof system, systemText);
    else DescribeWindowsVersion(system, sizeof system);
    std::snprintf(text, sizeof text, "System: %s", system);
    WriteLine(text);
    return !record.failed;
}

bool StartDefaultRunRecord(const char* programName)
{
    char folder[kPathBufferSize];
    char path[kPathBufferSize];
    if (!DefaultDataFolder(folder, sizeof folder) || !DefaultRunLogPath(path, sizeof path)) {
        StopRunRecord();
        record.failed = true;
        return false;
    }
    CreateMissingFolders(folder);
    return StartRunRecord(path, programName, nullptr);
}

bool RunRecordActive()
{
    return record.active;
}

bool RunRecordFailed()
{
    return record.failed;
}

void SetRunRecordPathNamer(RunRecordPathNamer namer, void* context)
{
    record.namer = namer;
    record.namerContext = context;
}

void RecordRunResult(ResultLine line, const char* path, const char* threat, const char* text,
                     const QuarantineNote& quarantine)
{
    const int index = static_cast<int>(line);
    if (!record.active || index < 0 || index >= static_cast<int>(kResultLineCount)) return;
    const ResultLineFormat& format = ResultLineFormats[line];
    char named[kPathBufferSize];
    char own[kLineTextSize];
    if (record.namer && format.namesPath && path && record.namer(path, named, sizeof named, record.namerContext)) {
        FormatResultLine(line, named, threat, own, sizeof own);
        text = own;
    }
    WriteLine(text);
    WriteQuarantineNote(format, quarantine);
}

void RecordRunNote(const char* text)
{
    // Outside a record the logs are closed, and take nothing.
    WriteLine(text);
}

void EndRunRecord(bool completed, RestartAnswer answer)
{
    if (!record.active) return;
    char lines[kStatisticsLineCount][kLineTextSize];
    const std::size_t count = FormatStatisticsBlock(ScanStatistics, lines);
    for (std::size_t i = 0; i < count; ++i) WriteLine(lines[i]);
    WriteLine(completed ? kScanCompletedText : kScanTerminatedText);
    for (const auto& row : kRestartLines) {
        if (row.answer == answer) WriteLine(row.text);
    }
    StopRunRecord();
}

void StopRunRecord()
{
    record.active = false;
    // A log whose lock this run has is let go first, so that another run
    // waiting for it goes on while this one waits for a log of its own.
    CloseUnlessWaiting(record.log, record.open, record.failed);
    CloseUnlessWaiting(record.copy, record.copyOpen, record.copyFailed);
    bool noted[2] = {false, false};
    while (record.open || record.copyOpen) {
        if (record.open && !noted[0]) NoteWaiting(false, noted[0]);
        if (record.copyOpen && !noted[1]) NoteWaiting(true, noted[1]);
        if (StopAskedWhileWaiting()) break;
        Sys().Wait(kLogWaitStepMs);
        CloseUnlessWaiting(record.log, record.open, record.failed);
        CloseUnlessWaiting(record.copy, record.copyOpen, record.copyFailed);
    }
    // Given up: the lines still kept are lost, and the record failed.
    CloseLog(record.log, record.open, record.failed);
    CloseLog(record.copy, record.copyOpen, record.copyFailed);
}

void SetRunRecordCopy(const char* logPath)
{
    if (!logPath || !CopyText(record.copyPath, sizeof record.copyPath, logPath)) record.copyPath[0] = '\0';
}

bool RunRecordCopyFailed()
{
    return record.copyFailed;
}

void SetRunRecordStoreWord(const char* word)
{
    record.storeWordTooLong = word && !CopyText(record.storeWord, sizeof record.storeWord, word);
    if (!word || record.storeWordTooLong) record.storeWord[0] = '\0';
}

void SetRunRecordWaitNote(RunRecordWaitNote note, void* context)
{
    record.waitNote = note;
    record.waitNoteContext = context;
}
