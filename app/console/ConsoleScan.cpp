#include "app/console/ConsoleScan.h"

#include <cstring>

#include "cleanup/MemoryScan.h"
#include "scan/ResultLines.h"
#include "scan/ScanSession.h"
#include "scan/ScanState.h"
#include "scan/Wow64View.h"

namespace {

const WindowRef kConsoleSink = 1;
const std::uint64_t kProgressIntervalMs = 250;

// The outcome of each per-file line, as JSON names it.
const char* OutcomeName(int lineKind)
{
    switch (lineKind) {
    case LineRemoved:
    case LineScriptRemoved: return "removed";
    case LineRenamed:
    case LineScriptRenamed: return "renamed";
    case LineRenameFailed: return "rename failed";
    case LineUnableToRemove: return "unable to remove";
    case LineNotDisinfected:
    case LineScriptNotDisinfected: return "reported";
    default: return "other";
    }
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

    void Receive(std::uint32_t message)
    {
        if (message == ShowStatusMessage) {
            ShowProgress();
        } else if (message == AppendLineMessage) {
            Line(ScanState.lineText);
        }
    }

    void Problem(const std::string& path, const std::string& reason)
    {
        ++problems_;
        ClearProgress();
        std::fputs(("quellor-scan: " + path + ": " + reason + "\n").c_str(), streams_.err);
    }

    void Finish(bool memoryScanned, int status)
    {
        ClearProgress();
        if (!options_.json) {
            Note(ScanState.cancelRequested ? "Scanning terminated" : "Scanning completed");
            return;
        }
        std::string json = "{\"type\":\"summary\"";
        json += ",\"scanned\":" + std::to_string(ScanStatistics.filesScanned);
        json += ",\"infected\":" + std::to_string(ScanStatistics.filesInfected);
        json += ",\"removed\":" + std::to_string(ScanStatistics.filesRemoved);
        json += ",\"problems\":" + std::to_string(problems_);
        json += std::string(",\"completed\":") + (ScanState.cancelRequested ? "false" : "true");
        json += std::string(",\"restartNeeded\":") + (ScanState.restartNeeded ? "true" : "false");
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

    void Line(const std::string& line)
    {
        std::string enginePath;
        int kind = 0;
        if (SplitResultLine(line, lastThreatName, enginePath, kind)) {
            const std::string path = host_.Display(target_, enginePath);
            if (!options_.json) {
                Print(path + line.substr(enginePath.size()));
                return;
            }
            Print(std::string("{\"type\":\"detection\",\"path\":") + JsonString(path) +
                  ",\"threat\":" + JsonString(lastThreatName) + ",\"outcome\":" + JsonString(OutcomeName(kind)) +
                  ",\"line\":" + JsonString(path + line.substr(enginePath.size())) + "}");
            return;
        }
        if (!options_.json) {
            Print(line);
            return;
        }
        // The statistics block is the summary's in JSON; registry and memory
        // lines are detections of their own.
        if (ScanState.statisticsPhase) return;
        Print(std::string("{\"type\":\"system\",\"line\":") + JsonString(line) + "}");
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
    bool shown_ = false;
    std::uint64_t lastProgress_ = 0;
};

Report* activeReport = nullptr;

int ExitStatus(int problems)
{
    if (ScanStatistics.filesInfected > 0) return ScanState.restartNeeded ? kExitRestart : kExitFound;
    // Nothing found, but not everything was looked at.
    if (problems > 0 || ScanState.cancelRequested) return kExitTrouble;
    return kExitClean;
}

bool Contains(const std::vector<std::string>& list, const char* item)
{
    for (const std::string& entry : list) {
        if (entry == item) return true;
    }
    return false;
}

}  // namespace

bool SplitResultLine(const std::string& line, const std::string& threat, std::string& path, int& lineKind)
{
    for (const ResultLineFormat& format : ResultLineFormats) {
        if (format.arguments != 2) continue;
        // "%s<middle>%s<suffix>": the path comes first.
        const char* text = format.format;
        if (std::strncmp(text, "%s", 2) != 0) continue;
        const char* second = std::strstr(text + 2, "%s");
        if (!second) continue;
        const std::string tail = std::string(text + 2, second) + threat + (second + 2);
        if (line.size() <= tail.size() || line.compare(line.size() - tail.size(), tail.size(), tail) != 0) continue;
        path = line.substr(0, line.size() - tail.size());
        lineKind = format.line;
        return true;
    }
    return false;
}

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
    cleanAction = options.action;
    ScanState.resultSink = kConsoleSink;
    ScanState.scanRunning = true;
    Report report(options, host, streams);
    activeReport = &report;

    const std::vector<std::string> missing = host.NotAvailable();
    if (!missing.empty()) {
        std::string note;
        for (std::size_t i = 0; i < missing.size(); ++i) note += (i ? ", " : "") + missing[i];
        report.Note("Not available on this system: " + note + " (files only)");
    }
    // Under WoW64 the real System32 is reached through its alias, as in the
    // dialog's session.
    DetectWow64View();
    const bool memoryScanned = options.memory && !Contains(missing, "memory");
    if (memoryScanned) ScanMemory();

    if (targets.empty()) {
        WalkFixedDrives();
    } else {
        for (const ConsoleTarget& target : targets) {
            if (ScanState.cancelRequested) break;
            host.Enter(target);
            report.SetTarget(&target);
            if (target.folder) {
                WalkDriveRoot(target.engine.c_str());
            } else {
                ScanSingleFile(target.engine.c_str());
            }
        }
    }
    FinishScanSession();
    ScanState.scanRunning = false;

    const int status = ExitStatus(report.Problems());
    report.Finish(memoryScanned, status);
    std::fflush(streams.out);
    activeReport = nullptr;
    return status;
}
