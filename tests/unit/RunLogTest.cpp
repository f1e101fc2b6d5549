// The run log over the fake: header and lines as written, runs appended,
// the cap dropping whole oldest runs, a crash keeping what was flushed, and
// an unwritable log that only reports itself.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
