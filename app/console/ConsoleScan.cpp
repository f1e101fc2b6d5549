#include "app/console/ConsoleScan.h"

#include <cstring>
#include <set>
#include <vector>

#include "app/console/ConsoleStore.h"
#include "scan/BinaryExamination.h"
#include "scan/BoundedText.h"
#include "scan/Quarantine.h"
#include "scan/ResultLines.h"
#include "scan/RunRecord.h"
#include "scan/ScanSession.h"
#include "scan/ScanState.h"

namespace {

const WindowRef kConsoleSink = 1;
const std::uint64_t kProgressIntervalMs = 250;

// The outcome of a detection, as JSON names it.
const char* OutcomeName(const ResultRecord& record)
{
    if (record.action == ResultReport) return "reported";
    if (record.action == ResultRename) return record.outcome == ResultDone ? "renamed" : "rename failed";
    return record.outcome == ResultDone ? "removed" : "unable to remove";
}

// What the quarantine did with the file, as JSON fields (none when it was
// not asked).
std::string QuarantineFields(const QuarantineNote& note)
{
    if (note.outcome == QuarantineKept) {
        return std::string(",\"quarantine\":\"kept\",\"quarantineId\":") + JsonString(note.id);
    }
    if (note.outcome == QuarantineNotKept) {
        return std::string(",\"quarantine\":\"not quarantined\",\"quarantineReason\":") +
               JsonString(QuarantineFailureText(note.failure));
    }
    return std::string();
}

// The record's result line, with `path` in place of the engine's path.
std::string LineOf(const ResultRecord& record, const std::string& path)
{
    std::vector<char> text(path.size() + kLineTextSize);
    FormatResultLine(record.line, path.c_str(), record.threat, text.data(), text.size());
    return text.data();
}

// The scan could not go on with the drives when a process in memory must
// wait for a restart; a cancel stops it too.
bool Completed()
{
    return !ScanState.cancelRequested && !memoryRestartNeeded;
}

bool RestartDue()
{
    return ScanState.restartNeeded != 0 || memoryRestartNeeded;
}

class Report {
public:
    Report(const ConsoleOptions& options, ConsoleHost& host, const ConsoleStreams& streams)
        : options_(options), host_(host), streams_(streams)
    {
    }

    void SetTarget(const ConsoleTarget* target) { target_ = target; }
    int Problems() const { return problems_; }

    void Note(const std::string& text)
    {
        if (options_.quiet || options_.json) return;
        Print(text);
    }

    // The lines themselves come as records (Record); only the progress
    // follows the protocol's messages.
    void Receive(std::uint32_t message)
    {
        if (message == ShowStatusMessage) ShowProgress();
    }

    void Record(const ResultRecord& record)
    {
        PrintRecord(record);
        // A change the host could not make shows beside the result that
        // asked for it, in the run's record too.
        HostProblems();
    }

    void PrintRecord(const ResultRecord& record)
    {
        if (record.path[0] == '\0') {
            // Registry and memory lines name no file.
            const std::string line = LineOf(record, std::string());
            Print(options_.json ? std::string("{\"type\":\"system\",\"line\":") + JsonString(line) + "}" : line);
            return;
        }
        const std::string path = host_.Display(target_, record.path);
        const std::string line = LineOf(record, path);
        if (!options_.json) {
            Print(line);
            // A line of its own: the result line reads as the dialog's does.
            if (record.quarantine.outcome == QuarantineNotKept) {
                Print("Not quarantined (" + std::string(QuarantineFailureText(record.quarantine.failure)) +
                      "): " + path);
            }
            return;
        }
        Print(std::string("{\"type\":\"detection\",\"path\":") + JsonString(path) + ",\"threat\":" +
              JsonString(record.threat) + ",\"outcome\":" + JsonString(OutcomeName(record)) +
              QuarantineFields(record.quarantine) + ",\"line\":" + JsonString(line) + "}");
    }

    void Problem(const std::string& path, const std::string& reason)
    {
        ProblemLine(path + ": " + reason);
    }

    void ProblemLine(const std::string& text)
    {
        ++problems_;
        ClearProgress();
        std::fputs(("quellor-scan: " + text + "\n").c_str(), streams_.err);
    }

    // What the host could not read or change, said once each on standard
    // error and in the run's record: the same failure met again (each
    // change of a hive that cannot be written) is not repeated.
    void HostProblems()
    {
        for (const std::string& line : host_.TakeProblemLines()) {
            if (!hostProblems_.insert(line).second) continue;
            ProblemLine(line);
            RecordRunNote(line.c_str());
        }
    }

    void OriginalKept(const std::string& path, const QuarantineNote& note)
    {
        if (note.outcome == QuarantineNotAsked) return;
        const std::string line = note.outcome == QuarantineKept
                                     ? "Kept in the quarantine as " + std::string(note.id) +
                                           " before its first change: " + path
                                     : "Not quarantined (" + std::string(QuarantineFailureText(note.failure)) +
                                           "): " + path;
        RecordRunNote(line.c_str());
        if (options_.json) {
            Print(std::string("{\"type\":\"original\",\"path\":") + JsonString(path) + QuarantineFields(note) + "}");
        } else if (note.outcome == QuarantineKept) {
            Note(line);
        } else {
            Print(line);
        }
    }

    void Finish(bool memoryScanned, int status)
    {
        ClearProgress();
        if (!options_.json) {
            // The statistics block in text, as the session appends it; in
            // JSON the summary carries the counts.
            char lines[kStatisticsLineCount][kLineTextSize];
            const std::size_t count = FormatStatisticsBlock(ScanStatistics, lines);
            for (std::size_t i = 0; i < count; ++i) Print(lines[i]);
            Note(Completed() ? kScanCompletedText : kScanTerminatedText);
            return;
        }
        std::string json = "{\"type\":\"summary\"";
        json += ",\"scanned\":" + std::to_string(ScanStatistics.filesScanned);
        json += ",\"infected\":" + std::to_string(ScanStatistics.filesInfected);
        json += ",\"removed\":" + std::to_string(ScanStatistics.filesRemoved);
        json += ",\"problems\":" + std::to_string(problems_);
        json += std::string(",\"completed\":") + (Completed() ? "true" : "false");
        json += std::string(",\"restartNeeded\":") + (RestartDue() ? "true" : "false");
        json += std::string(",\"memoryScanned\":") + (memoryScanned ? "true" : "false");
        json += ",\"notAvailable\":[";
        std::vector<std::string> missing = host_.NotAvailable();
        for (std::size_t i = 0; i < missing.size(); ++i) json += (i ? "," : "") + JsonString(missing[i]);
        json += "],\"exitStatus\":" + std::to_string(status) + "}";
        Print(json);
    }

private:
    void Print(const std::string& text)
    {
        ClearProgress();
        std::fputs(text.c_str(), streams_.out);
        std::fputc('\n', streams_.out);
    }

    void ShowProgress()
    {
        if (!streams_.progress || ScanState.statisticsPhase) return;
        std::uint64_t now = host_.Milliseconds();
        if (shown_ && now - lastProgress_ < kProgressIntervalMs) return;
        lastProgress_ = now;
        shown_ = true;
        const std::string line = "\r" + std::to_string(ScanStatistics.filesScanned) + " files  " +
                                 host_.Display(target_, ScanState.statusText) + "\033[K";
        std::fputs(line.c_str(), streams_.err);
        std::fflush(streams_.err);
    }

    void ClearProgress()
    {
        if (!shown_) return;
        std::fputs("\r\033[K", streams_.err);
        std::fflush(streams_.err);
        shown_ = false;
        lastProgress_ = host_.Milliseconds();
    }

    const ConsoleOptions& options_;
    ConsoleHost& host_;
    ConsoleStreams streams_;
    const ConsoleTarget* target_ = nullptr;
    int problems_ = 0;
    std::set<std::string> hostProblems_;
    bool shown_ = false;
    std::uint64_t lastProgress_ = 0;
};

Report* activeReport = nullptr;

int ExitStatus(int problems)
{
    if (ScanStatistics.filesInfected > 0) return RestartDue() ? kExitRestart : kExitFound;
    // Nothing found, but not everything was looked at.
    if (problems > 0 || !Completed()) return kExitTrouble;
    return kExitClean;
}

void OnRecord(const ResultRecord& record, void* context)
{
    static_cast<Report*>(context)->Record(record);
}

// What the session needs to enter a named target: the host maps it, and
// the report shows the paths under it as the user named them.
struct TargetEntry {
    ConsoleHost& host;
    Report& report;
    const std::vector<ConsoleTarget>& targets;
    const ConsoleTarget* current;
};

void EnterTarget(std::size_t index, void* context)
{
    TargetEntry& entry = *static_cast<TargetEntry*>(context);
    entry.host.Enter(entry.targets[index]);
    entry.report.SetTarget(&entry.targets[index]);
    entry.current = &entry.targets[index];
}

// The quarantine records a file under the path the user knows.
bool NameForRecord(const char* enginePath, char* out, std::size_t size, void* context)
{
    TargetEntry& entry = *static_cast<TargetEntry*>(context);
    return CopyText(out, size, entry.host.OriginalPath(entry.current, enginePath).c_str());
}

// Keeps what --remove and --rename change, unless asked not to. False,
// with the reason on standard error, when the quarantine's folder cannot
// be had: nothing has been touched then.
bool StartQuarantine(const ConsoleOptions& options, ConsoleHost& host, const ConsoleStreams& streams,
                     TargetEntry& entry)
{
    if (!options.quarantine || (options.action != kActionDelete && options.action != kActionRename)) return true;
    std::string error;
    if (!UseConsoleQuarantine(host, options.quarantineFolder, error)) {
        std::fputs(("quellor-scan: " + error + " (--no-quarantine removes without keeping a copy)\n").c_str(),
                   streams.err);
        return false;
    }
    SetQuarantinePathNamer(NameForRecord, &entry);
    return true;
}

const char kConsoleProgramName[] = "quellor-scan";

// The run log names files as the console's lines do.
bool NameForLog(const char* enginePath, char* out, std::size_t size, void* context)
{
    TargetEntry& entry = *static_cast<TargetEntry*>(context);
    return CopyText(out, size, entry.host.Display(entry.current, enginePath).c_str());
}

// The logs the run's record goes to, as the user knows them.
struct ConsoleLog {
    bool started;
    std::string first;   // the log the record is started in
    std::string second;  // the log it is left in as well; empty: none
};

bool ChangesFiles(const ConsoleOptions& options)
{
    return options.action == kActionDelete || options.action == kActionRename;
}

// Starts the run's record in the log the user named and, when the run
// changes a system the scanner does not run on, in the log that system's
// own program keeps (either alone when the other is missing). A log that
// cannot be written is noted on standard error, and the scan goes on
// without it.
ConsoleLog StartConsoleLog(const ConsoleOptions& options, ConsoleHost& host, const ConsoleStreams& streams,
                           TargetEntry& entry)
{
    ConsoleLog log = {false, std::string(), std::string()};
    std::string named;
    if (!options.logFile.empty()) {
        std::string error;
        if (host.LogFile(options.logFile, named, error)) log.first = options.logFile;
        else std::fputs(("quellor-scan: " + error + "; scanning without a log\n").c_str(), streams.err);
    }
    std::string own;
    std::string ownShown;
    if (ChangesFiles(options) && host.OwnLogFile(own, ownShown)) {
        if (log.first.empty()) {
            named = own;
            log.first = ownShown;
        } else {
            log.second = ownShown;
        }
    }
    if (log.first.empty()) return log;
    SetRunRecordCopy(log.second.empty() ? nullptr : own.c_str());
    const std::string system = host.SystemName();
    SetRunRecordPathNamer(NameForLog, &entry);
    log.started = StartRunRecord(named.c_str(), kConsoleProgramName, system.empty() ? nullptr : system.c_str());
    if (!log.started) {
        std::fputs(("quellor-scan: cannot write the log '" + log.first + "'; scanning without it\n").c_str(),
                   streams.err);
    }
    return log;
}

// Closes the logs; a record that started but could not be written in full
// is noted.
void StopConsoleLog(const ConsoleLog& log, const ConsoleStreams& streams)
{
    StopRunRecord();
    SetRunRecordPathNamer(nullptr, nullptr);
    SetRunRecordCopy(nullptr);
    if (log.started && RunRecordFailed()) {
        std::fputs(("quellor-scan: the log '" + log.first + "' could not be written in full\n").c_str(),
                   streams.err);
    }
    if (log.started && !log.second.empty() && RunRecordCopyFailed()) {
        std::fputs(("quellor-scan: the log '" + log.second + "' could not be written in full\n").c_str(),
                   streams.err);
    }
}

bool Contains(const std::vector<std::string>& list, const char* item)
{
    for (const std::string& entry : list) {
        if (entry == item) return true;
    }
    return false;
}

}  // namespace

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            // The length of a well-formed UTF-8 sequence starting here, or 0.
            std::size_t length = 0;
            std::uint32_t least = 0;
            if (c >= 0xC2 && c <= 0xDF) length = 2, least = 0x80;
            else if (c >= 0xE0 && c <= 0xEF) length = 3, least = 0x800;
            else if (c >= 0xF0 && c <= 0xF4) length = 4, least = 0x10000;
            std::uint32_t code = length ? (c & (0xFF >> (length + 1))) : 0;
            for (std::size_t k = 1; length && k < length; ++k) {
                if (i + k >= n || (p[i + k] & 0xC0) != 0x80) {
                    length = 0;
                    break;
                }
                code = (code << 6) | (p[i + k] & 0x3F);
            }
            if (length && (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) length = 0;
            if (length) {
                out.append(text, i, length);
                i += length;
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
                ++i;
            }
        }
    }
    return out + "\"";
}

void ConsoleReceive(std::uint32_t message)
{
    if (activeReport) activeReport->Receive(message);
}

void ConsoleProblem(const std::string& displayPath, const std::string& reason)
{
    if (activeReport) activeReport->Problem(displayPath, reason);
}

void ConsoleOriginalKept(const std::string& displayPath, const QuarantineNote& note)
{
    if (activeReport) activeReport->OriginalKept(displayPath, note);
}

int RunConsoleScan(const ConsoleOptions& options, ConsoleHost& host, const ConsoleStreams& streams)
{
    if (options.targets.empty() && !host.AllDrivesByDefault()) {
        std::fputs("quellor-scan: name a folder or file to scan (--help for usage)\n", streams.err);
        return kExitTrouble;
    }
    // Every target is checked before anything is touched.
    std::vector<ConsoleTarget> targets(options.targets.size());
    for (std::size_t i = 0; i < options.targets.size(); ++i) {
        std::string error;
        if (!host.Resolve(options.targets[i], targets[i], error)) {
            std::fputs(("quellor-scan: " + error + "\n").c_str(), streams.err);
            return kExitTrouble;
        }
    }

    ResetScanGlobals();
    Report report(options, host, streams);
    TargetEntry entry = {host, report, targets, nullptr};
    if (!StartQuarantine(options, host, streams, entry)) return kExitTrouble;
    cleanAction = options.action;
    ScanState.resultSink = kConsoleSink;
    ScanState.scanRunning = true;
    activeReport = &report;

    const std::vector<std::string> missing = host.NotAvailable();
    if (!missing.empty()) {
        std::string note;
        for (std::size_t i = 0; i < missing.size(); ++i) note += (i ? ", " : "") + missing[i];
        if (Contains(missing, "registry")) note += " (files only)";
        report.Note("Not available on " + host.ScannedSystem() + ": " + note);
    }
    for (const std::string& note : host.Notes()) report.Note(note);
    const bool memoryScanned = options.memory && !Contains(missing, "memory");
    std::vector<SessionTarget> walked(targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        walked[i] = SessionTarget{targets[i].engine.c_str(), targets[i].folder};
    }
    SessionPlan plan = {memoryScanned, walked.data(), walked.size(), EnterTarget, &entry};
    SetResultRecordSink(OnRecord, &report);
    const ConsoleLog log = StartConsoleLog(options, host, streams, entry);
    // What the host met before the scan (a damaged hive), first.
    report.HostProblems();
    RunSessionPlan(plan);
    StopConsoleLog(log, streams);
    report.HostProblems();
    SetResultRecordSink(nullptr, nullptr);
    StopQuarantine();
    SetQuarantinePathNamer(nullptr, nullptr);
    ScanState.scanRunning = false;

    const int status = ExitStatus(report.Problems());
    report.Finish(memoryScanned, status);
    std::fflush(streams.out);
    activeReport = nullptr;
    return status;
}

int RunConsoleCommand(const ConsoleOptions& options, ConsoleHost& host, const ConsoleStreams& streams)
{
    if (options.command == CommandScan) return RunConsoleScan(options, host, streams);
    return RunQuarantineCommand(options, host, streams);
}
