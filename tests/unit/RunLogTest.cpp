// The run log over the fake: header and lines as written, runs appended,
// the cap dropping whole oldest runs, a crash keeping what was flushed, an
// unwritable log that only reports itself; two runs at once kept apart by
// the log's lock, control bytes escaped, and a line cut short by a crash or
// a full disk ended before the next record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/FakePlatform.h"
#include "scan/RunLog.h"

namespace {

const char kLog[] = "C:\\data\\Quellor.log";

class RunLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.AddDrive('C', DriveFixed);
        fake.AddFolder("C:\\data");
        fake.now = 1700000000;  // 2023-11-14 22:13:20 UTC
    }
    void Run(const char* const* lines)
    {
        RunLog log;
        RunLogOpen(log, fake, kLog);
        for (; *lines; ++lines) RunLogLine(log, *lines);
        RunLogClose(log);
    }
    FakePlatform fake;
};

TEST_F(RunLogTest, RecordHasHeaderAndLinesUnchanged)
{
    const char* lines[] = {"C:\\a\\\xE9t\xE9.exe  Infected: W32.Test  Removed", "Scanned: 3", nullptr};
    Run(lines);
    EXPECT_EQ("=== Quellor run 2023-11-14 22:13:20 UTC\r\n"
              "C:\\a\\\xE9t\xE9.exe  Infected: W32.Test  Removed\r\nScanned: 3\r\n",
              fake.Content(kLog));
}

TEST_F(RunLogTest, TimesFormatAsUtcDates)
{
    struct Case { std::int64_t seconds; const char* text; } cases[] = {
        {0, "1970-01-01 00:00:00 UTC"},
        {951782400, "2000-02-29 00:00:00 UTC"},
        {1700000000, "2023-11-14 22:13:20 UTC"},
        {4102444799, "2099-12-31 23:59:59 UTC"},
    };
    for (const Case& c : cases) {
        char out[32];
        RunLogFormatTime(c.seconds, out, sizeof out);
        EXPECT_STREQ(c.text, out) << c.seconds;
    }
}

TEST_F(RunLogTest, SecondRunIsAppended)
{
    const char* first[] = {"first", nullptr};
    const char* second[] = {"second", nullptr};
    Run(first);
    fake.now += 60;
    Run(second);
    std::string text = fake.Content(kLog);
    std::size_t a = text.find("first");
    std::size_t b = text.find("22:14:20 UTC");
    ASSERT_NE(std::string::npos, a);
    ASSERT_NE(std::string::npos, b);
    EXPECT_LT(a, b);
    EXPECT_NE(std::string::npos, text.find("second\r\n", b));
}

TEST_F(RunLogTest, CapDropsWholeOldestRunsAndKeepsNewest)
{
    std::string big(300 * 1024, 'x');
    const char* lines[] = {big.c_str(), nullptr};
    for (int run = 0; run < 4; ++run) {  // 4 runs of 300 KiB: past the cap
        fake.now = 1700000000 + run;
        Run(lines);
    }
    std::string before = fake.Content(kLog);
    ASSERT_GT(before.size(), static_cast<std::size_t>(kRunLogCap));
    fake.now = 1700000000 + 10;
    const char* last[] = {"newest", nullptr};
    Run(last);
    std::string text = fake.Content(kLog);
    EXPECT_LE(text.size(), static_cast<std::size_t>(kRunLogCap));
    EXPECT_EQ(0u, text.find(kRunLogMarker));  // starts with a whole run
    EXPECT_EQ(std::string::npos, text.find("22:13:20 UTC"));  // oldest gone
    EXPECT_NE(std::string::npos, text.find("22:13:23 UTC"));  // newest old run kept
    EXPECT_NE(std::string::npos, text.find("newest\r\n"));
    EXPECT_FALSE(fake.Exists(std::string(kLog) + ".new"));
}

TEST_F(RunLogTest, CrashKeepsEarlierLinesAndRuns)
{
    const char* first[] = {"earlier run", nullptr};
    Run(first);
    RunLog log;
    RunLogOpen(log, fake, kLog);
    RunLogLine(log, "line before the crash");
    fake.SimulateCrash();
    std::string text = fake.Content(kLog);
    EXPECT_NE(std::string::npos, text.find("earlier run\r\n"));
    EXPECT_NE(std::string::npos, text.find("line before the crash\r\n"));
}

TEST_F(RunLogTest, TrimInterruptedAnywhereLosesNoNewestRun)
{
    std::string big(700 * 1024, 'y');
    for (long steps = 0; steps < 8; ++steps) {
        FakePlatform local;
        local.AddDrive('C', DriveFixed);
        local.AddFolder("C:\\data");
        local.AddFile(kLog, std::string(kRunLogMarker) + "old\r\n" + big + "\r\n" +
                                std::string(kRunLogMarker) + "kept\r\n");
        local.stepBudget = steps;
        RunLogTrim(local, kLog, kRunLogCap / 2, kRunLogKeep);
        local.SimulateCrash();
        local.stepBudget = -1;
        RunLogTrim(local, kLog, kRunLogCap / 2, kRunLogKeep);
        EXPECT_NE(std::string::npos, local.Content(kLog).find("kept\r\n")) << steps;
    }
}

TEST_F(RunLogTest, TailOfAnInterruptedTrimBesideAnIntactLogIsRemoved)
{
    const std::string log = std::string(kRunLogMarker) + "intact\r\n";
    fake.AddFile(kLog, log);
    fake.AddFile(std::string(kLog) + ".new", "half a tail");
    EXPECT_TRUE(RunLogTrim(fake, kLog, kRunLogCap, kRunLogKeep));
    EXPECT_EQ(log, fake.Content(kLog));
    EXPECT_FALSE(fake.Exists(std::string(kLog) + ".new"));
}

TEST_F(RunLogTest, UnwritableLogOnlyReportsItself)
{
    struct Case { const char* name; long writeBudget; bool flushFails; bool noFolder; } cases[] = {
        {"disk full", 0, false, false},
        {"flush fails", -1, true, false},
        {"no folder", -1, false, true},
    };
    for (const Case& c : cases) {
        FakePlatform local;
        local.AddDrive('C', DriveFixed);
        if (!c.noFolder) local.AddFolder("C:\\data");
        local.writeBudget = c.writeBudget;
        local.flushFails = c.flushFails;
        RunLog log;
        RunLogOpen(log, local, kLog);
        RunLogLine(log, "line");
        RunLogClose(log);
        EXPECT_TRUE(log.failed) << c.name;
    }
}

// The log's lines; a text that does not end in CR LF gives a last line
// marked as cut.
std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back("(cut) " + text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

TEST_F(RunLogTest, TwoRunsAtOnceLeaveTwoWholeRecordsOneAfterTheOther)
{
    RunLog first;
    RunLog second;
    ASSERT_TRUE(RunLogOpen(first, fake, kLog));
    RunLogLine(first, "first 1");
    fake.now += 1;
    ASSERT_TRUE(RunLogOpen(second, fake, kLog));
    RunLogLine(second, "second 1");
    RunLogLine(first, "first 2");
    RunLogLine(second, "second 2");
    RunLogClose(first);
    RunLogLine(second, "second 3");
    RunLogClose(second);
    EXPECT_FALSE(first.failed);
    EXPECT_FALSE(second.failed);
    EXPECT_EQ("=== Quellor run 2023-11-14 22:13:20 UTC\r\nfirst 1\r\nfirst 2\r\n"
              "=== Quellor run 2023-11-14 22:13:21 UTC\r\nsecond 1\r\nsecond 2\r\nsecond 3\r\n",
              fake.Content(kLog));
}

TEST_F(RunLogTest, ControlBytesOfALineAreWrittenEscapedAndTabsAsTheyAre)
{
    const char* lines[] = {"C:\\a\r\n=== Quellor run 2023-11-14 22:13:20 UTC\r\n\x1b[2J\x7f.exe\tW32.Test", "\x01\x1f",
                           nullptr};
    Run(lines);
    EXPECT_EQ("=== Quellor run 2023-11-14 22:13:20 UTC\r\n"
              "C:\\a<0D><0A>=== Quellor run 2023-11-14 22:13:20 UTC<0D><0A><1B>[2J<7F>.exe\tW32.Test\r\n"
              "<01><1F>\r\n",
              fake.Content(kLog));
}

TEST_F(RunLogTest, TheTrimNeverCutsAtAHeaderANameHolds)
{
    // A run whose lines hold a forged header, then enough newer bytes that
    // the trim's cut falls right on the forged one.
    const std::string forged = std::string(kRunLogMarker) + "2023-11-14 22:13:20 UTC";
    const std::string name = "C:\\a\r\n" + forged + "\r\n    Quarantine entry 0000ABCD.exe";
    const char* lines[] = {"before", name.c_str(), nullptr};
    fake.AddFile(kLog, std::string(kRunLogMarker) + "old\r\n" + std::string(700 * 1024, 'o') + "\r\n");
    Run(lines);
    const std::string before = fake.Content(kLog);
    const std::size_t forgedAt = before.rfind(forged);
    ASSERT_NE(std::string::npos, forgedAt);
    const std::string newer = std::string(kRunLogMarker) + "newer\r\n";
    const std::size_t fill = forgedAt + kRunLogKeep - before.size() - newer.size() - 2;
    fake.AddFile(kLog, before + newer + std::string(fill, 'n') + "\r\n");
    ASSERT_TRUE(RunLogTrim(fake, kLog, kRunLogCap, kRunLogKeep));
    const std::vector<std::string> kept = SplitLines(fake.Content(kLog));
    ASSERT_GE(kept.size(), 2u);
    EXPECT_EQ(std::string(kRunLogMarker) + "newer", kept[0]);
}

// A run killed after any step, a power cut after any step, and a full disk
// after any byte: once the next run has started its record every line is
// whole, and that record's header starts a line of its own.
TEST_F(RunLogTest, ALineCutShortIsEndedBeforeTheNextRecord)
{
    const char* lines[] = {"first line of the run", "second line of the run", nullptr};
    struct Cut {
        const char* name;
        long steps;       // changes carried out before the end; -1: no limit
        long writeBytes;  // bytes the disk still takes; -1: no limit
        bool powerCut;    // only what was flushed stays
    };
    std::vector<Cut> cuts;
    for (long steps = 0; steps < 12; ++steps) {
        cuts.push_back(Cut{"kill", steps, -1, false});
        cuts.push_back(Cut{"power cut", steps, -1, true});
    }
    for (long bytes = 40; bytes < 100; bytes += 3) cuts.push_back(Cut{"full disk", -1, bytes, false});
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(std::string(cut.name) + " after " + std::to_string(cut.steps >= 0 ? cut.steps : cut.writeBytes));
        FakePlatform local;
        local.AddDrive('C', DriveFixed);
        local.AddFolder("C:\\data");
        local.now = 1700000000;
        local.AddFile(kLog, std::string(kRunLogMarker) + "2023-11-14 00:00:00 UTC\r\nearlier\r\n");
        local.stepBudget = cut.steps;
        local.writeBudget = cut.writeBytes;
        RunLog cutShort;
        RunLogOpen(cutShort, local, kLog);
        for (const char* const* line = lines; *line; ++line) RunLogLine(cutShort, *line);
        RunLogClose(cutShort);
        // A line and its end are one write: a run killed between two steps
        // never leaves half a line.
        const std::string left = local.Content(kLog);
        if (cut.steps >= 0 && !cut.powerCut) EXPECT_EQ("\r\n", left.substr(left.size() - 2));
        if (cut.powerCut) local.SimulateCrash();
        local.stepBudget = -1;
        local.writeBudget = -1;
        local.now += 60;
        RunLog next;
        ASSERT_TRUE(RunLogOpen(next, local, kLog));
        RunLogLine(next, "the next run");
        RunLogClose(next);
        const std::vector<std::string> text = SplitLines(local.Content(kLog));
        ASSERT_GE(text.size(), 4u);
        EXPECT_EQ("earlier", text[1]);
        EXPECT_EQ("=== Quellor run 2023-11-14 22:14:20 UTC", text[text.size() - 2]);
        EXPECT_EQ("the next run", text.back());
        for (const std::string& line : text) EXPECT_NE(0u, line.find("(cut)")) << line;
    }
}

// Another run holding the log's lock.
class OtherRun {
public:
    explicit OtherRun(FakePlatform& fake) : fake_(fake), lock_(0)
    {
        held_ = fake_.TakePathLock(kLog, lock_) == PathLockTaken;
    }
    ~OtherRun() { LetGo(); }
    bool held() const { return held_; }
    void LetGo()
    {
        fake_.ReleasePathLock(lock_);
        lock_ = 0;
    }

private:
    FakePlatform& fake_;
    LockRef lock_;
    bool held_;
};

TEST_F(RunLogTest, WhileAnotherRunHoldsTheLogTheLinesWaitAndGoInTogetherOnceItIsFree)
{
    const std::string old = std::string(kRunLogMarker) + "old\r\n" + std::string(kRunLogCap, 'o') + "\r\n" +
                            std::string(kRunLogMarker) + "2023-11-14 22:00:00 UTC\r\nnewest old\r\n";
    fake.AddFile(kLog, old);
    OtherRun other(fake);
    ASSERT_TRUE(other.held());
    RunLog log;
    ASSERT_TRUE(RunLogOpen(log, fake, kLog));
    RunLogLine(log, "one");
    RunLogLine(log, "two");
    // Nothing is written, and the log is not trimmed, while the other run
    // holds it.
    EXPECT_TRUE(RunLogWaiting(log));
    EXPECT_EQ(old, fake.Content(kLog));
    EXPECT_FALSE(fake.Exists(std::string(kLog) + ".new"));

    other.LetGo();
    RunLogLine(log, "three");
    EXPECT_FALSE(RunLogWaiting(log));
    // Trimmed to the newest whole run, then the record, whole.
    EXPECT_EQ(std::string(kRunLogMarker) + "2023-11-14 22:00:00 UTC\r\nnewest old\r\n"
                                           "=== Quellor run 2023-11-14 22:13:20 UTC\r\none\r\ntwo\r\nthree\r\n",
              fake.Content(kLog));
    RunLogLine(log, "four");
    RunLogClose(log);
    EXPECT_FALSE(log.failed);
    EXPECT_NE(std::string::npos, fake.Content(kLog).find("three\r\nfour\r\n"));
    // A run ended, however it ended, holds the lock no more.
    OtherRun next(fake);
    EXPECT_TRUE(next.held());
}

TEST_F(RunLogTest, ARunThatNeverHasTheLogLosesItsLinesAndSaysSo)
{
    OtherRun other(fake);
    RunLog log;
    ASSERT_TRUE(RunLogOpen(log, fake, kLog));
    RunLogLine(log, "kept in memory");
    RunLogClose(log);
    EXPECT_TRUE(log.failed);
    EXPECT_EQ("", fake.Content(kLog));
}

TEST_F(RunLogTest, LinesBeyondWhatARunKeepsInMemoryAreCounted)
{
    OtherRun other(fake);
    RunLog log;
    ASSERT_TRUE(RunLogOpen(log, fake, kLog));
    const std::string line(1022, 'k');  // 1 KiB with its line end
    const std::size_t fitting = kRunLogKeptCap / 1024 - 1;  // the header takes a line's room
    for (std::size_t i = 0; i < fitting + 3; ++i) RunLogLine(log, line.c_str());
    other.LetGo();
    RunLogLine(log, "after");
    RunLogClose(log);
    const std::vector<std::string> lines = SplitLines(fake.Content(kLog));
    ASSERT_EQ(fitting + 3, lines.size());
    EXPECT_EQ(line, lines[fitting]);
    EXPECT_EQ("(3 lines of this run left out: another run held the log)", lines[fitting + 1]);
    EXPECT_EQ("after", lines.back());
}

// A trim left half done by a power cut: with an atomic replace the tail
// is unfinished and goes; on a system without one the log may be gone and
// the tail is all there is of it.
TEST_F(RunLogTest, TheHolderOfTheLockFinishesATrimLeftHalfDone)
{
    struct Row {
        const char* name;
        bool logThere;
        const char* logText;
    } const rows[] = {
        {"a tail beside the log", true, "=== Quellor run 2023-11-14 22:00:00 UTC\r\nwhole\r\n"},
        {"a tail without its log", false, "=== Quellor run 2023-11-14 22:00:00 UTC\r\ntail\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform local;
        local.AddDrive('C', DriveFixed);
        local.AddFolder("C:\\data");
        local.now = 1700000000;
        if (row.logThere) local.AddFile(kLog, row.logText);
        local.AddFile(std::string(kLog) + ".new", "=== Quellor run 2023-11-14 22:00:00 UTC\r\ntail\r\n");
        RunLog log;
        ASSERT_TRUE(RunLogOpen(log, local, kLog));
        RunLogClose(log);
        EXPECT_EQ(std::string(row.logText) + "=== Quellor run 2023-11-14 22:13:20 UTC\r\n", local.Content(kLog));
        EXPECT_FALSE(local.Exists(std::string(kLog) + ".new"));
    }
}

// Where the file system has no locks no run can keep another out: each
// writes its lines through as they come, and none trims.
TEST_F(RunLogTest, WithoutLocksLinesAreWrittenThroughAndTheLogIsNeverTrimmed)
{
    const std::string old = std::string(kRunLogMarker) + "old\r\n" + std::string(kRunLogCap, 'o') + "\r\n";
    fake.AddFile(kLog, old);
    fake.locksUnavailable = true;
    RunLog first;
    RunLog second;
    ASSERT_TRUE(RunLogOpen(first, fake, kLog));
    ASSERT_TRUE(RunLogOpen(second, fake, kLog));
    RunLogLine(first, "first");
    RunLogLine(second, "second");
    RunLogClose(first);
    RunLogClose(second);
    EXPECT_FALSE(first.failed);
    EXPECT_FALSE(second.failed);
    EXPECT_EQ(old + "=== Quellor run 2023-11-14 22:13:20 UTC\r\n=== Quellor run 2023-11-14 22:13:20 UTC\r\nfirst\r\nsecond\r\n",
              fake.Content(kLog));
}

}  // namespace
