// The run's record over the fake: a scan of the demo drive recorded line for
// line as the list shows it, with the store's entry of every removal, the
// statistics and the restart answer; the quarantine note of each kind of
// result; runs appended and the oldest dropped whole past the cap; a crash
// keeping every line before it; and a log that cannot be written leaving
// the scan exactly as it is without one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fixtures/DemoSamples.h"
#include "fixtures/QuarantineHelpers.h"
#include "platform/fake/FakePlatform.h"
#include "scan/BinaryExamination.h"
#include "scan/ProductText.h"
#include "scan/RunLog.h"
#include "scan/RunRecord.h"
#include "scan/ScanSession.h"
#include "scan/ScanState.h"

using namespace quarantine_test;

namespace {

const WindowRef kSink = 0x5150;
const char kDialogLog[] = "C:\\ProgramData\\Quellor\\Quellor.log";
const char kLog[] = "C:\\logs\\run.log";

std::string Lines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

std::string Header(std::int64_t seconds, const char* program, const char* system)
{
    char when[32];
    RunLogFormatTime(seconds, when, sizeof when);
    return Lines({std::string(kRunLogMarker) + when,
                  std::string("Program: ") + program + " " + kProductVersion + " (" +
                      std::to_string(sizeof(void*) * 8) + "-bit)",
                  std::string("System: ") + system});
}

std::string KeptNote(const std::string& id)
{
    return "    Quarantine entry " + id + " (undo: quellor-scan --restore " + id + ")";
}

// The fake, noting what the dialog's log holds when a restart is asked for,
// and calling `onWait` at each wait.
class WatchedFake : public FakePlatform {
public:
    bool RequestReboot(std::uint32_t flags) override
    {
        logAtReboot = Content(kDialogLog);
        return FakePlatform::RequestReboot(flags);
    }
    void Wait(std::uint32_t milliseconds) override
    {
        FakePlatform::Wait(milliseconds);
        if (onWait) onWait();
    }
    std::string logAtReboot;
    std::function<void()> onWait;
};

// Another run holding a log's lock.
LockRef HoldLog(FakePlatform& fake, const std::string& log)
{
    LockRef lock = 0;
    EXPECT_EQ(PathLockTaken, fake.TakePathLock(log.c_str(), lock));
    return lock;
}

// The notes a front end is given before the run waits for a log.
void NoteWait(bool copy, void* context)
{
    static_cast<std::vector<bool>*>(context)->push_back(copy);
}

class RunRecord : public ::testing::Test {
protected:
    void SetUp() override { Fresh(); }
    void TearDown() override
    {
        StopRunRecord();
        SetRunRecordPathNamer(nullptr, nullptr);
        SetRunRecordWaitNote(nullptr, nullptr);
        SetRunRecordStoreWord(nullptr);
        StopQuarantine();
        ResetScanGlobals();
        SetPlatform(nullptr);
    }

    // A new machine with the demo drive, as the dialog finds it.
    void Fresh()
    {
        StopRunRecord();
        ResetScanGlobals();
        fake.reset(new WatchedFake);
        SetPlatform(fake.get());
        ScanState.resultSink = kSink;
        lines.clear();
        fake->onNotify = [this](WindowRef, std::uint32_t message) {
            if (message == AppendLineMessage) lines.push_back(ScanState.lineText);
            if (message == AppendLineMessage && crashAtLine == lines.size()) fake->SimulateCrash();
        };
        fake->AddDrive('C', DriveFixed);
        fake->AddDrive('D', DriveFixed);
        fake->AddFolder("C:\\logs");
        fake->commonDataFolder = "C:\\ProgramData";
        for (const Sample& sample : DemoSamples()) fake->AddFile(sample.path, sample.content);
        crashAtLine = 0;
    }

    // The dialog's run: SCAN, the session, the end of the tick.
    void DialogRun()
    {
        cleanAction = kActionDelete;
        UseDefaultQuarantine();
        StartDefaultRunRecord("Quellor.exe");
        RunScanSession();
        StopRunRecord();
    }

    // The record the dialog's run must leave: the list's lines, each
    // removal followed by its entry in the store, then the end.
    std::string ExpectedDialogRecord(const char* restartLine = "Restart question: not asked")
    {
        std::string text = Header(fake->now, "Quellor.exe", "Windows NT 5.1 build 2600");
        const std::vector<Listed> entries = Entries();
        for (const std::string& line : lines) {
            text += line + "\r\n";
            for (const Listed& entry : entries) {
                if (line.compare(0, std::strlen(entry.entry.originalPath) + 5,
                                 std::string(entry.entry.originalPath) + "     ") == 0) {
                    text += KeptNote(entry.id) + "\r\n";
                }
            }
        }
        return text + Lines({kScanCompletedText, restartLine});
    }

    std::unique_ptr<WatchedFake> fake;
    std::vector<std::string> lines;
    std::size_t crashAtLine;
};

TEST_F(RunRecord, TheDialogsRunIsRecordedAsTheListShowsItWithTheEntryOfEveryRemoval)
{
    DialogRun();
    ASSERT_EQ(6, ScanStatistics.filesRemoved);
    ASSERT_EQ(6u, Entries().size());
    ASSERT_EQ(12u, lines.size());  // six results, the statistics
    EXPECT_FALSE(RunRecordFailed());
    EXPECT_EQ(ExpectedDialogRecord(), fake->Content(kDialogLog));
}

TEST_F(RunRecord, EachResultThatChangedAFileSaysWhereItsCopyIsOrWhyThereIsNone)
{
    struct Row {
        const char* name;
        std::int32_t action;
        int store;  // 0 none, 1 the default caps, 2 a per-file cap of 16 bytes
        const char* note;  // "": no note; "kept": the entry's note
    } const rows[] = {
        {"removed and kept", kActionDelete, 1, "kept"},
        {"renamed and kept", kActionRename, 1, "kept"},
        {"too large for the store", kActionDelete, 2, "    Not quarantined (too large for the quarantine)"},
        {"removed without a store", kActionDelete, 0, "    Not quarantined (no quarantine in use)"},
        {"only reported", kActionReportOnly, 1, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fresh();
        if (row.store) UseStore("C:\\store", kDefaultQuarantineTotalCap, row.store == 2 ? 16 : kDefaultQuarantineFileCap);
        cleanAction = row.action;
        ASSERT_TRUE(StartRunRecord(kLog, "quellor-scan", "Test 1.0"));
        ScanSingleFile("D:\\Downloads\\setup.exe");
        StopRunRecord();
        ASSERT_EQ(1u, lines.size());
        std::string note = row.note;
        if (note == "kept") {
            ASSERT_EQ(1u, Entries().size());
            note = KeptNote(Entries()[0].id);
        }
        EXPECT_EQ(Header(fake->now, "quellor-scan", "Test 1.0") + lines[0] + "\r\n" + (note.empty() ? "" : note + "\r\n"),
                  fake->Content(kLog));
    }
}

TEST_F(RunRecord, TheRestartAnswerIsRecordedBeforeTheSystemGoesDown)
{
    struct Row {
        const char* name;
        bool locked;  // setup.exe can only go at the next start
        int answer;
        const char* line;
        std::size_t reboots;
    } const rows[] = {
        {"nothing left for the next start", false, kAnswerYes, "Restart question: not asked", 0},
        {"answered Yes", true, kAnswerYes, "Restart question: Yes, the system restarts now", 1},
        {"answered No", true, kAnswerNo, "Restart question: No, the removal finishes at the next start", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fresh();
        if (row.locked) fake->LockAgainstDelete("D:\\Downloads\\setup.exe");
        fake->defaultPromptAnswer = row.answer;
        DialogRun();
        EXPECT_EQ(row.reboots, fake->rebootRequests.size());
        EXPECT_EQ(ExpectedDialogRecord(row.line), fake->Content(kDialogLog));
        if (row.reboots) {
            EXPECT_EQ(fake->Content(kDialogLog), fake->logAtReboot);
        }
    }
}

TEST_F(RunRecord, ASecondRunIsAppendedAfterTheFirst)
{
    DialogRun();
    const std::string first = fake->Content(kDialogLog);
    ASSERT_FALSE(first.empty());
    // The next program run: nothing left to find.
    ResetScanGlobals();
    ScanState.resultSink = kSink;
    lines.clear();
    fake->now += 3600;
    DialogRun();
    EXPECT_EQ(first + ExpectedDialogRecord(), fake->Content(kDialogLog));
}

TEST_F(RunRecord, PastTheCapTheOldestRunsGoWholeAndTheNewOneIsKeptWhole)
{
    // Eight old runs of 200 KiB each, each its own filler letter.
    std::string old;
    std::vector<std::string> runs;
    for (int i = 0; i < 8; ++i) {
        runs.push_back(std::string(kRunLogMarker) + "old run " + std::to_string(i) + "\r\n" +
                       std::string(200 * 1024, static_cast<char>('a' + i)) + "\r\n");
        old += runs.back();
    }
    ASSERT_GT(old.size(), static_cast<std::size_t>(kRunLogCap));
    fake->AddFolder("C:\\ProgramData");
    fake->AddFolder("C:\\ProgramData\\Quellor");
    fake->AddFile(kDialogLog, old);
    DialogRun();
    const std::string text = fake->Content(kDialogLog);
    const std::string current = ExpectedDialogRecord();
    ASSERT_GE(text.size(), current.size());
    EXPECT_EQ(current, text.substr(text.size() - current.size()));
    // What is left of the old runs is their newest whole runs, in order.
    const std::string kept = text.substr(0, text.size() - current.size());
    EXPECT_LE(kept.size(), static_cast<std::size_t>(kRunLogKeep));
    EXPECT_FALSE(kept.empty());
    EXPECT_EQ(old.substr(old.size() - kept.size()), kept);
    EXPECT_EQ(0u, kept.find(kRunLogMarker));
    EXPECT_FALSE(fake->Exists(std::string(kDialogLog) + ".new"));
}

TEST_F(RunRecord, ACrashAnywhereKeepsEveryLineWrittenBeforeIt)
{
    DialogRun();
    const std::vector<std::string> full = lines;
    const std::size_t kResults = 6;
    ASSERT_EQ(" ", full[kResults]);  // the statistics follow the results
    const std::string record = fake->Content(kDialogLog);
    for (std::size_t crash = 1; crash <= full.size(); ++crash) {
        SCOPED_TRACE("crash as line " + std::to_string(crash) + " reaches the list");
        Fresh();
        crashAtLine = crash;
        DialogRun();
        // The record up to the result before the crash, its note included;
        // the statistics are recorded at the end, after the list has them.
        const std::size_t kept = std::min(crash - 1, kResults);
        const std::size_t cut = record.find("\r\n" + full[kept] + "\r\n");
        ASSERT_NE(std::string::npos, cut);
        EXPECT_EQ(record.substr(0, cut + 2), fake->Content(kDialogLog));
        EXPECT_TRUE(RunRecordFailed());
    }
}

TEST_F(RunRecord, ALogThatCannotBeWrittenLeavesTheScanAsItIsWithoutOne)
{
    struct Row {
        const char* name;
        const char* log;  // null: no log at all
        void (*prepare)(FakePlatform& fake);
    } const rows[] = {
        {"no log", nullptr, [](FakePlatform&) {}},
        {"its folder is missing", "C:\\missing\\run.log", [](FakePlatform&) {}},
        {"a folder has its name", "C:\\logs", [](FakePlatform&) {}},
        // On a drive the walk leaves alone, so that the scan sees the same files.
        {"read-only", "E:\\logs\\run.log",
         [](FakePlatform& fake) {
             fake.AddDrive('E', DriveRemovable);
             fake.AddFolder("E:\\logs");
             fake.AddFile("E:\\logs\\run.log", "", kAttrReadOnly);
         }},
    };
    std::vector<std::string> withoutLog;
    ScanStatisticsType counts = {};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fresh();
        row.prepare(*fake);
        cleanAction = kActionDelete;
        UseDefaultQuarantine();
        if (row.log) {
            EXPECT_FALSE(StartRunRecord(row.log, "Quellor.exe", nullptr));
        }
        RunScanSession();
        StopRunRecord();
        if (!row.log) {
            withoutLog = lines;
            counts = ScanStatistics;
            continue;
        }
        EXPECT_TRUE(RunRecordFailed());
        EXPECT_EQ(withoutLog, lines);
        EXPECT_EQ(counts.filesScanned, ScanStatistics.filesScanned);
        EXPECT_EQ(counts.filesRemoved, ScanStatistics.filesRemoved);
        EXPECT_EQ(6u, Entries().size());
        EXPECT_FALSE(fake->Exists("D:\\Downloads\\setup.exe"));
    }
}

// A disk cleaned from outside keeps the record in its own program's log
// as well: the same lines, each log with its own header; the front end's
// own lines go to both; a second log that cannot be written leaves the
// first as it would be alone.
TEST_F(RunRecord, ASecondLogGetsTheSameRecordAndFailsOnItsOwn)
{
    struct Row {
        const char* name;
        const char* copy;
        bool copyWritten;
    };
    const std::vector<Row> rows = {
        {"written", "E:\\Quellor\\Quellor.log", true},
        {"its folder is missing", "E:\\missing\\Quellor.log", false},
        {"none", nullptr, false},
    };
    std::vector<std::string> firstLogs;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fresh();
        // On a drive the walk leaves alone, so that the scan sees the same files.
        fake->AddDrive('E', DriveRemovable);
        fake->AddFolder("E:\\Quellor");
        cleanAction = kActionDelete;
        UseDefaultQuarantine();
        RecordRunNote("said before any record: nowhere");
        SetRunRecordCopy(row.copy);
        ASSERT_TRUE(StartRunRecord(kLog, "quellor-scan", "Linux"));
        RecordRunNote("Kept in the quarantine as 0000ABCD before its first change: /mnt/win/SOFTWARE");
        RunScanSession();
        StopRunRecord();
        SetRunRecordCopy(nullptr);
        RecordRunNote("said after the record: nowhere");
        EXPECT_FALSE(RunRecordFailed());
        EXPECT_EQ(!row.copyWritten && row.copy, RunRecordCopyFailed());
        const std::string first = fake->Content(kLog);
        EXPECT_EQ(0u, first.find(Header(fake->now, "quellor-scan", "Linux") +
                                 "Kept in the quarantine as 0000ABCD before its first change: /mnt/win/SOFTWARE\r\n"));
        EXPECT_EQ(std::string::npos, first.find("nowhere"));
        if (row.copyWritten) {
            EXPECT_EQ(first, fake->Content(row.copy));
        } else if (row.copy) {
            EXPECT_FALSE(fake->Exists(row.copy));
        }
        firstLogs.push_back(first);
    }
    // The first log is the same, line for line, whatever became of a copy.
    EXPECT_EQ(std::vector<std::string>(rows.size(), firstLogs[0]), firstLogs);
}

TEST_F(RunRecord, TheSystemLineNamesTheWindowsVersion)
{
    struct Row {
        const char* name;
        std::uint32_t platformId;
        std::uint32_t major, minor, build;
        bool wow64;
        bool fails;
        const char* text;
    } const rows[] = {
        {"XP", 2, 5, 1, 2600, false, false, "Windows NT 5.1 build 2600"},
        {"a 32-bit program on 64-bit Windows", 2, 10, 0, 19045, true, false, "Windows NT 10.0 build 19045 (WoW64)"},
        {"98 SE, its version in the build's high word", 1, 4, 10, 0x040A08AE, false, false,
         "Windows 95/98/ME 4.10 build 2222"},
        {"the query fails", 2, 5, 1, 2600, false, true, "unknown"},
        {"neither family", 3, 5, 1, 2600, false, false, "unknown"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fake->version = VersionInfo{row.platformId, row.major, row.minor, row.build};
        fake->wow64 = row.wow64;
        fake->versionQueryFails = row.fails;
        char text[128];
        DescribeWindowsVersion(text, sizeof text);
        EXPECT_STREQ(row.text, text);
    }
}

TEST_F(RunRecord, TheLogSitsBesideTheStoreInTheProgramsDataFolder)
{
    char path[kPathBufferSize];
    char store[kPathBufferSize];
    ASSERT_TRUE(DefaultRunLogPath(path, sizeof path));
    ASSERT_TRUE(DefaultQuarantineFolder(store, sizeof store));
    EXPECT_STREQ(kDialogLog, path);
    EXPECT_STREQ("C:\\ProgramData\\Quellor\\Quarantine", store);
    fake->version.platformId = 3;
    EXPECT_FALSE(DefaultRunLogPath(path, sizeof path));
    EXPECT_FALSE(StartDefaultRunRecord("Quellor.exe"));
}

// A name is data: whatever bytes it holds, the record has the lines the run
// wrote and no other. The results list shows the name as it is.
TEST_F(RunRecord, ANameHoldingLineBreaksAndEscapesMakesNoLineOfItsOwn)
{
    const std::string name = "D:\\Downloads\\evil\r\n=== Quellor run 2023-11-14 22:13:20 UTC\r\n"
                             "    Quarantine entry 0000ABCD (undo: quellor-scan --restore 0000ABCD)\r\n\x1b[2J\x7f.exe";
    fake->AddFile(name, DemoSamples()[0].content);
    DialogRun();
    const auto listed = std::find_if(lines.begin(), lines.end(),
                                     [&](const std::string& line) { return line.compare(0, name.size(), name) == 0; });
    ASSERT_NE(lines.end(), listed);
    const std::string log = fake->Content(kDialogLog);
    EXPECT_EQ(0u, log.find(kRunLogMarker));
    EXPECT_EQ(std::string::npos, log.find(std::string("\n") + kRunLogMarker));
    EXPECT_EQ(std::string::npos, log.find("\n    Quarantine entry 0000ABCD"));
    EXPECT_EQ(std::string::npos, log.find_first_of("\x1b\x7f"));
    const std::string escaped = "D:\\Downloads\\evil<0D><0A>=== Quellor run 2023-11-14 22:13:20 UTC<0D><0A>"
                                "    Quarantine entry 0000ABCD (undo: quellor-scan --restore 0000ABCD)<0D><0A>"
                                "<1B>[2J<7F>.exe";
    EXPECT_NE(std::string::npos, log.find("\r\n" + escaped + listed->substr(name.size()) + "\r\n"));
}

// The undo command works as printed: it names the store when the run
// named its own, as the front end spells it for its shell.
TEST_F(RunRecord, TheUndoCommandNamesAStoreTheRunNamed)
{
    struct Row {
        const char* name;
        const char* word;  // null: the program's own store
        const char* form;  // with %s for the entry's id
    } const rows[] = {
        {"the program's own store", nullptr, "    Quarantine entry %s (undo: quellor-scan --restore %s)"},
        {"a store of the run's own", "\"D:\\My Store\"",
         "    Quarantine entry %s (undo: quellor-scan --quarantine \"D:\\My Store\" --restore %s)"},
        {"a word too long to give", nullptr, "    Quarantine entry %s"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fresh();
        UseStore("C:\\store", kDefaultQuarantineTotalCap, kDefaultQuarantineFileCap);
        const std::string tooLong(5000, 'x');
        SetRunRecordStoreWord(row.word ? row.word : std::strcmp(row.name, "a word too long to give") == 0 ? tooLong.c_str() : nullptr);
        cleanAction = kActionDelete;
        ASSERT_TRUE(StartRunRecord(kLog, "quellor-scan", "Test 1.0"));
        ScanSingleFile("D:\\Downloads\\setup.exe");
        StopRunRecord();
        SetRunRecordStoreWord(nullptr);
        ASSERT_EQ(1u, Entries().size());
        const std::string id = Entries()[0].id;
        char note[256];
        std::snprintf(note, sizeof note, row.form, id.c_str(), id.c_str());
        EXPECT_EQ(Header(fake->now, "quellor-scan", "Test 1.0") + lines[0] + "\r\n" + note + "\r\n", fake->Content(kLog));
    }
}

// A run whose log another run holds to its end waits there, says so once,
// and writes its whole record as soon as the other lets go; an interrupt
// while it waits gives the record up. A log it holds itself is let go
// before it waits for another, so that two runs waiting for each other's
// logs both go on.
TEST_F(RunRecord, AtItsEndARunWaitsForALogAnotherRunHolds)
{
    struct Row {
        const char* name;
        bool holdFirst;      // the other run holds the first log
        bool holdCopy;       // ... and the copy
        bool interrupt;      // an interrupt comes while the run waits
        std::vector<bool> notes;
        bool firstWritten;
        bool copyWritten;
    } const rows[] = {
        {"the first log held", true, false, false, {false}, true, true},
        {"the copy held", false, true, false, {true}, true, true},
        {"both held", true, true, false, {false, true}, true, true},
        {"an interrupt while it waits", true, false, true, {false}, false, true},
    };
    const std::string copyLog = "C:\\logs\\copy.log";
    // The record as a run that has its log from the start leaves it.
    cleanAction = kActionReportOnly;
    ASSERT_TRUE(StartRunRecord(kLog, "quellor-scan", "Test 1.0"));
    ScanSingleFile("D:\\Downloads\\setup.exe");
    EndRunRecord(true, RestartNotAsked);
    const std::string record = fake->Content(kLog);
    ASSERT_NE(std::string::npos, record.find("Restart question"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fresh();
        std::vector<bool> notes;
        SetRunRecordWaitNote(NoteWait, &notes);
        SetRunRecordCopy(copyLog.c_str());
        LockRef heldFirst = row.holdFirst ? HoldLog(*fake, kLog) : 0;
        LockRef heldCopy = row.holdCopy ? HoldLog(*fake, copyLog) : 0;
        std::size_t waits = 0;
        bool firstFreeWhileWaiting = true;
        fake->onWait = [&]() {
            // A log the run holds itself is free for others while it waits.
            if (!row.holdFirst) {
                LockRef probe = 0;
                firstFreeWhileWaiting = firstFreeWhileWaiting && fake->TakePathLock(kLog, probe) == PathLockTaken;
                fake->ReleasePathLock(probe);
            }
            if (row.interrupt) fake->QueueMessage(kMessageQuit);
            // A run that ignored the interrupt would write its record at
            // last, and fail the case rather than hang it.
            if (++waits < (row.interrupt ? 50u : 3u)) return;
            fake->ReleasePathLock(heldFirst);
            fake->ReleasePathLock(heldCopy);
            heldFirst = heldCopy = 0;
        };
        cleanAction = kActionReportOnly;
        ASSERT_TRUE(StartRunRecord(kLog, "quellor-scan", "Test 1.0"));
        ScanSingleFile("D:\\Downloads\\setup.exe");
        EndRunRecord(true, RestartNotAsked);
        SetRunRecordCopy(nullptr);
        EXPECT_EQ(row.notes, notes);
        EXPECT_TRUE(firstFreeWhileWaiting);
        EXPECT_EQ(row.firstWritten ? record : std::string(), fake->Content(kLog));
        EXPECT_EQ(row.copyWritten ? record : std::string(), fake->Content(copyLog));
        EXPECT_EQ(!row.firstWritten, RunRecordFailed());
        EXPECT_FALSE(ScanState.cancelRequested);
        fake->ReleasePathLock(heldFirst);
        fake->ReleasePathLock(heldCopy);
    }
}

}  // namespace
