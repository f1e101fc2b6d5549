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
// it apart from result lines, which start with a path or "System".
const char kKeptFormat[] = "    Quarantine entry %s (undo: quellor-scan --restore %s)";
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

// One record at a time: the scan has one thread and one run.
struct RecordState {
    RunLog log;
    bool active;   // started and not yet ended
    bool open;     // the log is open
    bool failed;
    RunRecordPathNamer namer;
    void* namerContext;
    // The second log the record is left in too, when asked.
    char copyPath[kPathBufferSize];
    RunLog copy;
    bool copyOpen;
    bool copyFailed;
};
RecordState record = {{nullptr, kNoFile, false}, false, false, false, nullptr, nullptr, "",
                      {nullptr, kNoFile, false}, false, false};

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
    char text[kLineTextSize];
    switch (quarantine.outcome) {
    case QuarantineKept:
        std::snprintf(text, sizeof text, kKeptFormat, quarantine.id, quarantine.id);
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
    if (record.open) RunLogClose(record.log);
    if (record.copyOpen) RunLogClose(record.copy);
    record.open = false;
    record.copyOpen = false;
    record.active = false;
}

void SetRunRecordCopy(const char* logPath)
{
    if (!logPath || !CopyText(record.copyPath, sizeof record.copyPath, logPath)) record.copyPath[0] = '\0';
}

bool RunRecordCopyFailed()
{
    return record.copyFailed;
}
