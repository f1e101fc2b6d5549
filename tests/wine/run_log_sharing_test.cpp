// Runs sharing one log with the real program, under Windows' own locks and
// replace: quellor-scan.exe runs started at once over one long log (so that
// the first to have it trims it) keep every record whole and apart, and the
// newest whole runs of the history; a run that finds the log's lock taken
// by another (taken here through the real backend, as a run takes it)
// waits at its end, says so, and writes its whole record once the lock is
// let go; and the undo command the log prints names the store the run
// named, and gives the file back as printed.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/Win32Platform.h"
#include "wine/harness/Harness.h"
#include "wine/support/ProgramRun.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const char kScanner[] = "C:\\Quellor\\quellor-scan.exe";
const char kMarker[] = "=== Quellor run ";
const DWORD kRunTimeout = 240000;
const std::size_t kRuns = 3;

std::string OldRecord(std::size_t number, std::size_t size)
{
    std::string record = std::string(kMarker) + "2020-01-01 00:00:00 UTC\r\nProgram: old run " +
                         std::to_string(number) + "\r\n";
    return record + std::string(size - record.size() - 2, 'o') + "\r\n";
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// The log's lines; empty with a failure when one does not end in CR LF.
std::vector<std::string> LogLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ReportFailure(__FILE__, __LINE__, "a line without its end: " + text.substr(start, 80));
            return std::vector<std::string>();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// A run's record after its header, program and system lines: the lines it
// printed, then the restart answer.
std::vector<std::string> Body(const Finished& run)
{
    std::vector<std::string> body = run.out;
    body.push_back("Restart question: not asked");
    return body;
}

bool IsNewRecordAt(const std::vector<std::string>& lines, std::size_t at)
{
    return at + 1 < lines.size() && StartsWith(lines[at], kMarker) && StartsWith(lines[at + 1], "Program: quellor-scan");
}

// What is wrong with a log that held `old` before `runs` wrote to it: a
// whole tail of the old runs, then each run's record, whole, one after
// another. Empty when nothing is.
std::string SharedLogProblem(const std::string& old, const std::string& text, const std::vector<Finished>& runs)
{
    const std::vector<std::string> lines = LogLines(text);
    std::size_t at = 0;
    std::string kept;
    while (at < lines.size() && !IsNewRecordAt(lines, at)) kept += lines[at++] + "\r\n";
    if (kept.empty()) return "no earlier run is left (" + std::to_string(text.size()) + " bytes)";
    if (kept.size() > old.size() || old.compare(old.size() - kept.size(), kept.size(), kept) != 0 ||
        !StartsWith(kept, kMarker))
        return "what is left of the earlier runs is not a whole tail of them";
    std::vector<bool> seen(runs.size(), false);
    for (std::size_t record = 0; record < runs.size(); ++record) {
        if (!IsNewRecordAt(lines, at) || at + 3 >= lines.size()) return "no record starts at line " + std::to_string(at);
        std::size_t which = runs.size();
        for (std::size_t run = 0; run < runs.size(); ++run) {
            if (!seen[run] && !runs[run].out.empty() && lines[at + 3] == runs[run].out[0]) which = run;
        }
        if (which == runs.size()) return "a record holds no run's first line: " + lines[at + 3];
        seen[which] = true;
        const std::vector<std::string> body = Body(runs[which]);
        for (std::size_t i = 0; i < body.size(); ++i) {
            if (at + 3 + i >= lines.size() || lines[at + 3 + i] != body[i])
                return "the record at line " + std::to_string(at) + " is not whole";
        }
        at += 3 + body.size();
    }
    if (at != lines.size()) return "lines after the last record: " + lines[at];
    return std::string();
}

// A folder of its own for each run: one detection and some clean files.
bool MakeTrees()
{
    std::string infected;
    if (!ReadWholeFile("D:\\Downloads\\setup.exe", infected)) return false;
    for (std::size_t run = 0; run < kRuns; ++run) {
        const std::string tree = "D:\\run" + std::to_string(run);
        if (!CreateDirectoryA(tree.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
        if (!WriteWholeFile(tree + "\\run" + std::to_string(run) + ".exe", infected)) return false;
        for (int i = 0; i < 20; ++i) {
            if (!WriteWholeFile(tree + "\\clean" + std::to_string(i) + ".txt", "clean")) return false;
        }
    }
    return true;
}

std::string WaitingNote(const std::string& log)
{
    return "quellor-scan: waiting for the log '" + log + "': another run is writing its record there";
}

}  // namespace

WINE_TEST(RunsSharingALogKeepTheirRecordsWholeAndApartAndTheHistory)
{
    CreateDirectoryA("C:\\logs", nullptr);
    CHECK(MakeTrees());
    const std::string log = "C:\\logs\\shared.log";
    std::string old;
    for (std::size_t i = 0; old.size() <= 1024 * 1024 + 100 * 1024; ++i) old += OldRecord(i, 1024);
    for (int trial = 0; trial < 3; ++trial) {
        CHECK(WriteWholeFile(log, old));
        std::vector<StartedProgram> started;
        for (std::size_t run = 0; run < kRuns; ++run) {
            const std::string number = std::to_string(run);
            started.push_back(StartProgram(kScanner, "--no-memory --log " + log + " D:\\run" + number,
                                           "C:\\out" + number + ".txt", "C:\\err" + number + ".txt"));
        }
        std::vector<Finished> runs;
        for (StartedProgram& program : started) runs.push_back(FinishProgram(program, kRunTimeout));
        for (const Finished& run : runs) {
            CHECK(run.ended);
            CHECK_EQ(1u, run.status);
            for (const std::string& line : run.err) CHECK_STREQ(WaitingNote(log), line);
        }
        std::string text;
        CHECK(ReadWholeFile(log, text));
        CHECK_STREQ("", SharedLogProblem(old, text, runs));
        CHECK(!PathPresent(log + ".new"));
    }
}

WINE_TEST(ARunFindingTheLogHeldWaitsAtItsEndAndThenWritesItsRecord)
{
    CreateDirectoryA("C:\\logs", nullptr);
    CHECK(MakeTrees());
    const std::string log = "C:\\logs\\held.log";
    Win32Platform platform;
    LockRef lock = 0;
    // Spelled otherwise than the run spells it: the lock stands for the
    // file, not for one spelling of its path.
    CHECK_EQ(static_cast<int>(PathLockTaken), static_cast<int>(platform.TakePathLock("c:\\LOGS\\.\\Held.LOG", lock)));
    StartedProgram run = StartProgram(kScanner, "--no-memory --log " + log + " D:\\run0", "C:\\out.txt", "C:\\err.txt");
    CHECK(run.started);
    std::string err;
    for (int i = 0; i < 1200 && err.find("waiting") == std::string::npos; ++i) {
        if (WaitForSingleObject(run.process, 50) == WAIT_OBJECT_0) break;
        ReadWholeFile(run.errFile, err);
    }
    // It waits for the log and has written nothing to it.
    CHECK_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(run.process, 300));
    std::string text;
    CHECK(!ReadWholeFile(log, text) || text.empty());

    platform.ReleasePathLock(lock);
    const Finished finished = FinishProgram(run, kRunTimeout);
    CHECK(finished.ended);
    CHECK_EQ(1u, finished.status);
    CHECK_EQ(1u, finished.err.size());
    if (!finished.err.empty()) CHECK_STREQ(WaitingNote(log), finished.err[0]);
    CHECK(ReadWholeFile(log, text));
    const std::vector<std::string> lines = LogLines(text);
    const std::vector<std::string> body = Body(finished);
    CHECK_EQ(3 + body.size(), lines.size());
    CHECK(IsNewRecordAt(lines, 0));
    for (std::size_t i = 0; i < body.size() && 3 + i < lines.size(); ++i) CHECK_STREQ(body[i], lines[3 + i]);
}

WINE_TEST(TheUndoCommandNamesTheStoreTheRunNamed)
{
    CreateDirectoryA("C:\\logs", nullptr);
    const std::string log = "C:\\logs\\undo.log";
    std::string infected;
    CHECK(ReadWholeFile("D:\\Downloads\\setup.exe", infected));
    CHECK(CreateDirectoryA("D:\\undo", nullptr));
    CHECK(WriteWholeFile("D:\\undo\\setup.exe", infected));
    const Finished removed =
        RunInstalledScanner("--no-memory --remove --quarantine \"D:\\my store\" --log " + log + " D:\\undo");
    CHECK_EQ(1u, removed.status);
    CHECK(!PathPresent("D:\\undo\\setup.exe"));
    std::string text;
    CHECK(ReadWholeFile(log, text));
    std::string arguments;
    for (const std::string& line : LogLines(text)) {
        const std::string start = "    Quarantine entry ";
        const std::size_t undo = line.find(" (undo: quellor-scan ");
        if (!StartsWith(line, start) || undo == std::string::npos) continue;
        const std::string id = line.substr(start.size(), 8);
        CHECK_STREQ(start + id + " (undo: quellor-scan --quarantine \"D:\\my store\" --restore " + id + ")", line);
        arguments = line.substr(undo + std::strlen(" (undo: quellor-scan "));
        arguments.pop_back();
    }
    CHECK(!arguments.empty());
    const Finished restored = RunInstalledScanner(arguments);
    CHECK_EQ(0u, restored.status);
    std::string back;
    CHECK(ReadWholeFile("D:\\undo\\setup.exe", back));
    CHECK(back == infected);
}
