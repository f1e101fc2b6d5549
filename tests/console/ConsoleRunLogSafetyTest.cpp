// quellor-scan --log FILE against what a shared log, a hostile name and a
// failing disk do to it, with the real program on the real file system:
// runs sharing one log (a long one, so each may trim it) keep every record
// whole and apart and lose no history; a name holding line breaks and
// escape sequences reaches neither the terminal nor the log as itself, and
// the trim never cuts at the header such a name spells; a line cut short
// by a full disk is ended before the next run's record, and a run killed
// mid-record leaves whole lines and the log free; the undo command the log
// prints names the store the run used; a run that finds the log held by
// another waits at its end, says so, and then writes its record.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/console/ConsoleScan.h"
#include "console/RunLogLines.h"
#include "console/ScannerRun.h"
#include "console/StoreIds.h"
#include "console/TempFolder.h"

using namespace runlog_test;

namespace {

const char kMarker[] = "=== Quellor run ";
const std::size_t kLogCap = 1024 * 1024;
const std::size_t kLogKeep = kLogCap / 2;

// A record of an earlier run, `size` bytes long.
std::string OldRecord(std::size_t number, std::size_t size)
{
    std::string record = std::string(kMarker) + "2020-01-01 00:00:00 UTC\r\nProgram: old run " +
                         std::to_string(number) + "\r\n";
    return record + std::string(size - record.size() - 2, 'o') + "\r\n";
}

// True when every byte is one a terminal shows as itself: printable, a
// tab, or the line end the program wrote (`lineEnd`).
bool OnlyShownBytes(const std::string& text, const std::string& lineEnd)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (text.compare(i, lineEnd.size(), lineEnd) == 0) {
            i += lineEnd.size() - 1;
            continue;
        }
        if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
    }
    return true;
}

bool IsHeader(const std::string& line)
{
    return line.compare(0, std::strlen(kMarker), kMarker) == 0;
}

// What is wrong with a log that `old` held before the runs whose outcomes
// are given: it must be a whole tail of the old runs (a trim drops only
// whole oldest runs, and keeps some), then each new run's record, whole,
// one after another. Empty when nothing is.
std::string SharedLogProblem(const std::string& old, const std::string& text, const std::vector<Outcome>& runs)
{
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) return "the log does not end a line";
    const std::vector<std::string> lines = LogLines(text);
    std::size_t firstNew = 0;
    while (firstNew + 1 < lines.size() && !(IsHeader(lines[firstNew]) && lines[firstNew + 1].find("Program: quellor") == 0))
        ++firstNew;
    std::string kept;
    for (std::size_t i = 0; i < firstNew; ++i) kept += lines[i] + "\r\n";
    if (kept.empty()) return "no earlier run is left (" + std::to_string(text.size()) + " bytes)";
    if (kept.size() > old.size() || old.compare(old.size() - kept.size(), kept.size(), kept) != 0 || !IsHeader(lines[0]))
        return "what is left of the earlier runs is not a whole tail of them";
    std::vector<bool> seen(runs.size(), false);
    std::size_t at = firstNew;
    for (std::size_t record = 0; record < runs.size(); ++record) {
        if (at + 3 >= lines.size()) return "a record is missing";
        if (!IsHeader(lines[at]) || lines[at + 1].find("Program: quellor-scan") != 0)
            return "line " + std::to_string(at) + " does not start a record: " + lines[at];
        std::size_t which = runs.size();
        std::vector<std::string> body;
        for (std::size_t run = 0; run < runs.size(); ++run) {
            body = ExpectedBody(runs[run].out, {});
            if (!seen[run] && lines[at + 3] == body.at(0)) {
                which = run;
                break;
            }
        }
        if (which == runs.size()) return "a record holds no run's first line: " + lines[at + 3];
        seen[which] = true;
        if (at + 3 + body.size() > lines.size() ||
            !std::equal(body.begin(), body.end(), lines.begin() + static_cast<long>(at) + 3))
            return "the record at line " + std::to_string(at) + " is not whole";
        at += 3 + body.size();
    }
    if (at != lines.size()) return "lines after the last record: " + lines[at];
    return std::string();
}

TEST(ConsoleRunLogSafety, RunsSharingALogKeepTheirRecordsWholeAndApartAndTheHistory)
{
    const int kTrials = 10;
    const std::size_t kRuns = 3;
    // Past the cap, so that a run trims it.
    std::string old;
    for (std::size_t i = 0; old.size() <= kLogCap + kLogCap / 10; ++i) old += OldRecord(i, 1024);
    std::vector<std::unique_ptr<TempFolder>> trees;
    for (std::size_t run = 0; run < kRuns; ++run) {
        trees.emplace_back(new TempFolder);
        trees.back()->Write("run" + std::to_string(run) + ".exe", InfectedPe());
        for (int i = 0; i < 30; ++i) trees.back()->Write("clean" + std::to_string(i) + ".txt", "clean");
    }
    int failed = 0;
    std::string firstProblem;
    for (int trial = 0; trial < kTrials; ++trial) {
        TempFolder logs;
        const std::string log = logs.Write("shared.log", old);
        std::vector<StartedProgram> started;
        for (std::size_t run = 0; run < kRuns; ++run) started.push_back(StartScanner({"--log", log, trees[run]->Path()}));
        std::vector<Outcome> runs;
        for (StartedProgram& program : started) runs.push_back(FinishProgram(program));
        // A run that finds the log held says so and waits; nothing else
        // is said.
        const std::string waiting = "quellor-scan: waiting for the log '" + log + "': another run is writing its record there";
        for (const Outcome& run : runs) {
            ASSERT_EQ(kExitFound, run.status) << run.err;
            for (const std::string& line : Lines(run.err)) ASSERT_EQ(waiting, line);
        }
        std::string problem = SharedLogProblem(old, ReadFileText(log), runs);
        if (problem.empty() && Exists(log + ".new")) problem = "a trim's tail is left beside the log";
        if (problem.empty()) continue;
        if (failed++ == 0) firstProblem = "trial " + std::to_string(trial) + ": " + problem;
    }
    EXPECT_EQ(0, failed) << "of " << kTrials << " trials; the first: " << firstProblem;
}

// A Linux name may hold any byte but '/' and NUL: this one holds a forged
// header, a forged undo line and escape sequences that clear the screen and
// set the terminal's title.
const char kHostileName[] = "evil\r\n=== Quellor run 2023-11-14 22:13:20 UTC\r\n"
                            "    Quarantine entry 0000ABCD (undo: quellor-scan --restore 0000ABCD)\r\n"
                            "\x1b[2J\x1b]0;owned\x07\x7f.exe";
const char kHostileNameShown[] = "evil<0D><0A>=== Quellor run 2023-11-14 22:13:20 UTC<0D><0A>"
                                 "    Quarantine entry 0000ABCD (undo: quellor-scan --restore 0000ABCD)<0D><0A>"
                                 "<1B>[2J<1B>]0;owned<07><7F>.exe";

TEST(ConsoleRunLogSafety, ANameReachesNeitherTheTerminalNorTheLogAsItIs)
{
    TempFolder tree;
    TempFolder logs;
    const std::string log = logs / "q.log";
    tree.Write(kHostileName, InfectedPe());
    // Unreadable, so that its name is also said on standard error.
    const std::string unreadable = tree.Write(std::string(kHostileName) + ".txt", "x");
    chmod(unreadable.c_str(), 0);
    RunOptions unprivileged;
    unprivileged.unprivileged = true;
    chmod(tree.Path().c_str(), 0755);
    chmod(logs.Path().c_str(), 0777);
    const Outcome outcome = RunScanner({"--log", log, tree.Path()}, unprivileged);
    ASSERT_EQ(kExitFound, outcome.status) << outcome.err;
    EXPECT_TRUE(OnlyShownBytes(outcome.out, "\n")) << outcome.out;
    EXPECT_TRUE(OnlyShownBytes(outcome.err, "\n")) << outcome.err;
    const std::string shown = tree / kHostileNameShown;
    const std::vector<std::string> out = Lines(outcome.out);
    EXPECT_NE(out.end(), std::find(out.begin(), out.end(),
                                   shown + "     W32/Murkel.A.Trojan not disinfected as per user's selection"));
    EXPECT_NE(std::string::npos, outcome.err.find(shown + ".txt: cannot read")) << outcome.err;

    const std::string text = ReadFileText(log);
    EXPECT_TRUE(OnlyShownBytes(text, "\r\n"));
    const std::vector<std::string> lines = LogLines(text);
    EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), IsHeader));
    EXPECT_EQ(0, std::count_if(lines.begin(), lines.end(),
                               [](const std::string& line) { return line.find("    Quarantine entry") == 0; }));
    ExpectRecord(lines, 0, ExpectedBody(outcome.out, {}));
}

TEST(ConsoleRunLogSafety, TheTrimNeverCutsAtAHeaderANameSpells)
{
    TempFolder tree;
    TempFolder logs;
    const std::string log = logs / "q.log";
    tree.Write(kHostileName, InfectedPe());
    const std::string earlier = OldRecord(0, 700 * 1024);
    logs.Write("q.log", earlier);
    ASSERT_EQ(kExitFound, RunScanner({"--log", log, tree.Path()}).status);
    // Newer bytes, so many that the trim's cut falls right on the header
    // the name spells.
    const std::string before = ReadFileText(log);
    const std::size_t forgedAt = before.find(std::string(kMarker) + "2023-11-14 22:13:20 UTC", earlier.size());
    ASSERT_NE(std::string::npos, forgedAt);
    const std::string newer = OldRecord(1, forgedAt + kLogKeep - before.size());
    logs.Write("q.log", before + newer);
    ASSERT_GT(before.size() + newer.size(), kLogCap);

    TempFolder empty;
    ASSERT_EQ(kExitClean, RunScanner({"--log", log, empty.Path()}).status);
    const std::vector<std::string> lines = LogLines(ReadFileText(log));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::string(kMarker) + "2020-01-01 00:00:00 UTC", lines[0]);
    EXPECT_EQ("Program: old run 1", lines[1]);
}

// RLIMIT_FSIZE stops the log's writes part way into a line, as a full disk
// does; the next run ends that line before its record.
TEST(ConsoleRunLogSafety, ALineCutShortByAFullDiskIsEndedBeforeTheNextRecord)
{
    TempFolder tree;
    TempFolder logs;
    tree.Write("setup.exe", InfectedPe());
    const std::string earlier = OldRecord(0, 8192);
    const std::string log = logs.Write("q.log", earlier);
    RunOptions fullDisk;
    // The header (41 bytes) fits, the program line does not.
    fullDisk.fileSizeLimit = static_cast<long long>(earlier.size()) + 60;
    const Outcome cut = RunScanner({"--log", log, tree.Path()}, fullDisk);
    EXPECT_EQ(kExitFound, cut.status) << cut.err;
    EXPECT_NE(std::string::npos, cut.err.find("the log '" + log + "'")) << cut.err;
    const std::string cutText = ReadFileText(log);
    ASSERT_GT(cutText.size(), earlier.size() + 41);
    ASSERT_NE("\r\n", cutText.substr(cutText.size() - 2));

    const Outcome next = RunScanner({"--log", log, tree.Path()});
    ASSERT_EQ(kExitFound, next.status) << next.err;
    const std::vector<std::string> lines = LogLines(ReadFileText(log));
    const std::vector<std::string> body = ExpectedBody(next.out, {});
    ASSERT_GE(lines.size(), 3 + body.size());
    ExpectRecord(lines, lines.size() - 3 - body.size(), body);
}

// The command the log gives to undo a removal works as printed, from any
// folder, also when the run named a store of its own by a relative name
// that a shell must have quoted.
TEST(ConsoleRunLogSafety, TheUndoCommandNamesTheStoreTheRunUsed)
{
    TempFolder tree;
    TempFolder work;
    TempFolder elsewhere;
    const std::string setup = tree.Write("setup.exe", InfectedPe());
    const std::string log = work / "q.log";
    RunOptions inWork;
    inWork.folder = work.Path();
    const Outcome removed = RunScanner({"--remove", "--quarantine", "the store's place", "--log", log, tree.Path()}, inWork);
    ASSERT_EQ(kExitFound, removed.status) << removed.err;
    ASSERT_FALSE(Exists(setup));
    std::string command;
    for (const std::string& line : LogLines(ReadFileText(log))) {
        const std::size_t undo = line.find("(undo: quellor-scan ");
        if (line.find("    Quarantine entry ") == 0 && undo != std::string::npos)
            command = line.substr(undo + 7, line.size() - undo - 8);
    }
    ASSERT_FALSE(command.empty());
    const std::string program = "quellor-scan";
    command = std::string(QUELLOR_SCAN_PATH) + command.substr(program.size());
    RunOptions away;
    away.folder = elsewhere.Path();
    StartedProgram shell = StartProgram("/bin/sh", {"-c", command}, away);
    const Outcome restored = FinishProgram(shell);
    EXPECT_EQ(0, restored.status) << command << "\n" << restored.err;
    EXPECT_EQ(InfectedPe(), ReadFileText(setup));
}

// Holds the exclusive lock runs take on the log until destroyed.
class HeldLog {
public:
    explicit HeldLog(const std::string& log) : fd_(open(log.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644))
    {
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        held_ = fd_ >= 0 && fcntl(fd_, F_OFD_SETLK, &lock) == 0;
    }
    ~HeldLog() { Release(); }
    bool held() const { return held_; }
    void Release()
    {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
    bool held_;
};

bool Running(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
}

TEST(ConsoleRunLogSafety, ARunFindingTheLogHeldWaitsAtItsEndSaysSoAndThenWritesItsRecord)
{
    TempFolder tree;
    TempFolder logs;
    tree.Write("setup.exe", InfectedPe());
    const std::string log = logs / "q.log";
    HeldLog other(log);
    ASSERT_TRUE(other.held());
    StartedProgram run = StartScanner({"--log", log, tree.Path()});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadFileText(run.errPath).find("waiting") == std::string::npos && Running(run.pid) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // It waits for the log, and has written nothing to it.
    ASSERT_TRUE(Running(run.pid)) << ReadFileText(run.errPath);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(Running(run.pid));
    EXPECT_EQ("", ReadFileText(log));

    other.Release();
    const Outcome outcome = FinishProgram(run);
    ASSERT_EQ(kExitFound, outcome.status) << outcome.err;
    EXPECT_EQ(std::vector<std::string>{"quellor-scan: waiting for the log '" + log +
                                       "': another run is writing its record there"},
              Lines(outcome.err));
    const std::vector<std::string> lines = LogLines(ReadFileText(log));
    const std::vector<std::string> body = ExpectedBody(outcome.out, {});
    ExpectRecord(lines, 0, body);
    EXPECT_EQ(3 + body.size(), lines.size());
}

// A run killed in the middle of its record leaves whole lines only and lets
// the log go (its lock is the system's, so a killed process holds none):
// the next run neither waits nor finds its header glued to a line.
TEST(ConsoleRunLogSafety, ARunKilledInTheMiddleOfItsRecordLeavesWholeLinesAndTheLogFree)
{
    TempFolder tree;
    TempFolder logs;
    tree.Write("setup.exe", InfectedPe());
    for (int i = 0; i < 5000; ++i) tree.Write("clean/" + std::to_string(i) + ".txt", "clean");
    const std::string log = logs / "q.log";
    StartedProgram run = StartScanner({"--log", log, tree.Path()});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadFileText(log).find("System: ") == std::string::npos && Running(run.pid) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(Running(run.pid)) << "the run ended before it could be killed";
    kill(run.pid, SIGKILL);
    ASSERT_EQ(128 + SIGKILL, FinishProgram(run).status);
    const std::string cut = ReadFileText(log);
    ASSERT_GE(cut.size(), 2u);
    EXPECT_EQ("\r\n", cut.substr(cut.size() - 2));

    const Outcome next = RunScanner({"--log", log, tree.Path()});
    ASSERT_EQ(kExitFound, next.status) << next.err;
    EXPECT_EQ("", next.err);
    const std::vector<std::string> lines = LogLines(ReadFileText(log));
    const std::vector<std::string> body = ExpectedBody(next.out, {});
    ASSERT_GE(lines.size(), 3 + body.size());
    ExpectRecord(lines, lines.size() - 3 - body.size(), body);
    EXPECT_EQ(2, std::count_if(lines.begin(), lines.end(), IsHeader));
}

}  // namespace
