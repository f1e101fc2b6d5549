// quellor-scan --log FILE as a user meets it: the record holds the lines
// the console printed, the quarantine entry of each file it removed, the
// statistics and the restart answer; a second run is appended; a log that
// cannot be written gives one note and changes neither the output nor the
// exit status. And the option's usage errors.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/console/ConsoleOptions.h"
#include "app/console/ConsoleScan.h"
#include "console/RunLogLines.h"
#include "console/ScannerRun.h"
#include "console/StoreIds.h"
#include "console/TempFolder.h"
#include "fixtures/InfectedFiles.h"
#include "scan/SignatureRecord.h"

using namespace runlog_test;

namespace {

TEST(ConsoleRunLog, TheRecordHoldsThePrintedLinesTheEntriesAndTheStatisticsAndRunsAreAppended)
{
    TempFolder tree;
    TempFolder store;
    TempFolder logs;
    const std::string log = logs / "quellor.log";
    const std::string setup = tree.Write("setup.exe", InfectedPe());
    tree.Write("readme.txt", "clean");

    Outcome first = RunScanner({"--remove", "--quarantine", store.Path(), "--log", log, tree.Path()});
    ASSERT_EQ(kExitFound, first.status) << first.err;
    EXPECT_EQ("", first.err);
    const std::vector<std::string> ids = StoreIds(store.Path());
    ASSERT_EQ(1u, ids.size());
    const std::vector<std::string> firstBody = ExpectedBody(first.out, {{setup, ids[0]}}, store.Path());
    EXPECT_EQ(tree / "setup.exe     W32/Murkel.A.Trojan removed", firstBody.at(0));
    std::vector<std::string> lines = LogLines(ReadFileText(log));
    ExpectRecord(lines, 0, firstBody);
    EXPECT_EQ(3 + firstBody.size(), lines.size());

    // A second run, report only, finds another file; its record follows.
    const std::string other = tree.Write("other.exe", InfectedPe());
    Outcome second = RunScanner({"--quarantine", store.Path(), "--log", log, tree.Path()});
    ASSERT_EQ(kExitFound, second.status) << second.err;
    lines = LogLines(ReadFileText(log));
    ExpectRecord(lines, 0, firstBody);
    const std::vector<std::string> secondBody = ExpectedBody(second.out, {});
    EXPECT_EQ(other + "     W32/Murkel.A.Trojan not disinfected as per user's selection", secondBody.at(0));
    ExpectRecord(lines, 3 + firstBody.size(), secondBody);
    EXPECT_EQ(6 + firstBody.size() + secondBody.size(), lines.size());
}

TEST(ConsoleRunLog, AFileRemovedWithoutTheQuarantineSaysSo)
{
    TempFolder tree;
    TempFolder logs;
    const std::string setup = tree.Write("setup.exe", InfectedPe());
    Outcome outcome = RunScanner({"--remove", "--no-quarantine", "--log", logs / "q.log", setup});
    ASSERT_EQ(kExitFound, outcome.status) << outcome.err;
    const std::vector<std::string> lines = LogLines(ReadFileText(logs / "q.log"));
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(setup + "     W32/Murkel.A.Trojan removed", lines[3]);
    EXPECT_EQ("    Not quarantined (no quarantine in use)", lines[4]);
}

TEST(ConsoleRunLog, ALogThatCannotBeWrittenGivesANoteAndChangesNothingElse)
{
    TempFolder tree;
    TempFolder logs;
    tree.Write("setup.exe", InfectedPe());
    const std::string locked = logs.Folder("locked");
    chmod(locked.c_str(), 0555);
    RunOptions unprivileged;
    unprivileged.unprivileged = true;
    chmod(tree.Path().c_str(), 0755);
    chmod((tree / "setup.exe").c_str(), 0644);
    chmod(logs.Path().c_str(), 0755);

    const Outcome plain = RunScanner({tree.Path()}, unprivileged);
    ASSERT_EQ(kExitFound, plain.status) << plain.err;
    struct Row {
        const char* name;
        std::string log;
        const char* note;  // a part of the one line on standard error
    } const rows[] = {
        {"its folder is missing", logs / "missing/q.log", "cannot write the log"},
        {"it is a folder", logs.Path(), "cannot write the log"},
        {"its folder cannot be written", locked + "/q.log", "cannot write the log"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome outcome = RunScanner({"--log", row.log, tree.Path()}, unprivileged);
        EXPECT_EQ(plain.status, outcome.status);
        EXPECT_EQ(plain.out, outcome.out);
        const std::vector<std::string> err = Lines(outcome.err);
        ASSERT_EQ(1u, err.size()) << outcome.err;
        EXPECT_NE(std::string::npos, err[0].find(row.note)) << err[0];
        EXPECT_FALSE(std::filesystem::exists(logs / "missing"));
    }
}

TEST(ConsoleRunLog, OptionAndItsUsageErrors)
{
    struct Row {
        std::vector<const char*> argv;
        bool valid;
        const char* error;  // a part of the reason given
    } const rows[] = {
        {{"x", "--log", "run.log", "a"}, true, ""},
        {{"x", "--log"}, false, "--log needs a file"},
        {{"x", "--log", "run.log", "--quarantine-list"}, false, "--log records scans"},
        {{"x", "--restore", "0A0B0C0D", "--log", "run.log"}, false, "--log records scans"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.argv.back());
        ConsoleOptions options;
        std::string error;
        EXPECT_EQ(row.valid, ParseConsoleArguments(static_cast<int>(row.argv.size()), row.argv.data(), options, error));
        EXPECT_NE(std::string::npos, error.find(row.error)) << error;
        if (row.valid) {
            EXPECT_EQ("run.log", options.logFile);
        }
    }
}

}  // namespace
