// ExamineBinaryFile on the fake platform: the examination order, the
// recorded detection, every disinfection action with the escalation of a
// deletion, memory-scan mode, the forced-action branch, and the result-line
// formats every handler shares.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cleanup/ProcessTermination.h"
#include "cleanup/RegistryCleanup.h"
#include "fixtures/InfectedFiles.h"
#include "fixtures/PerfDataBlocks.h"
#include "scan/BinaryExamination.h"
#include "scan/BoundedText.h"
#include "scan/ResultLines.h"
#include "scan/ScanSession.h"
#include "scan/SignatureRecord.h"
#include "unit/ScanFixture.h"

namespace {

// Row 3 of the signature table: 44,532 bytes, patterns at 24 and -27,043
// from the entry point.
const SignatureRecord& Unpacker()
{
    return SignatureTable[2];
}
const char kUnpackerName[] = "W32/Murkel.A.Trojan";

// Row 1 of the archived-worm table: any size, windows at 2304 and 10944.
const SignatureRecord& WormC()
{
    return ArchiveWormTable[0];
}
const char kWormCName[] = "W32/Bagle.C.Worm";
const std::size_t kWormZipLength = 12000;

const char kInfected[] = "D:\\mail\\setup.exe";

// The stand-in for the process termination: ends the process registered as
// holding the file, as the real one will, and records every call.
FakePlatform* terminatorPlatform = nullptr;
std::uint32_t holderProcess = 0;
bool terminatorClaims = false;  // report success whatever happened
std::vector<std::string> terminatorCalls;

std::int32_t RecordingTerminator(const char* path)
{
    terminatorCalls.push_back(path);
    if (terminatorClaims) return 1;
    if (!terminatorPlatform || !holderProcess) return 0;
    ProcessRef process = terminatorPlatform->OpenProcessById(kProcessTerminate, holderProcess);
    if (!process) return 0;
    bool ended = terminatorPlatform->TerminateProcessRef(process, 0);
    terminatorPlatform->CloseProcess(process);
    return ended ? 1 : 0;
}

// What the second handler of a test table saw.
std::vector<std::string> offeredToSecond;

std::int32_t RecordSecond(const char*, const char* path)
{
    offeredToSecond.push_back(path);
    return 0;
}

const VirusHandler kBinaryThenRecorder[] = {
    {"W32/Bagle.Worm", ExamineBinaryFile},
    {"W32/Bagle.Worm", RecordSecond},
    {nullptr, nullptr},
};

std::string Line(const std::string& path, const std::string& threat, const std::string& outcome)
{
    return path + "     " + threat + " " + outcome;
}

bool ExaminedPathIsClear()
{
    for (char c : examinedFilePath) {
        if (c != '\0') return false;
    }
    return true;
}

class BinaryExaminationTest : public ScanFixture {
protected:
    void SetUp() override
    {
        ScanFixture::SetUp();
        fake.AddDrive('C', DriveFixed);
        fake.AddDrive('D', DriveFixed);
        fake.AddFolder("C:\\WINDOWS");
        cleanAction = kActionDelete;
        terminatorPlatform = &fake;
        holderProcess = 0;
        terminatorClaims = false;
        terminatorCalls.clear();
        offeredToSecond.clear();
        UseImageTerminator(RecordingTerminator);
    }

    void TearDown() override
    {
        UseImageTerminator(nullptr);
        terminatorPlatform = nullptr;
        ScanFixture::TearDown();
    }

    void AddInfectedPe(const std::string& path, std::uint32_t attributes = kAttrArchive)
    {
        std::string bytes = infected::SignaturePe(Unpacker());
        ASSERT_FALSE(bytes.empty());
        fake.AddFile(path, bytes, attributes);
    }

    // True when the file can be deleted now, i.e. nobody holds it open.
    bool NotHeldOpen(const std::string& path) { return fake.RemoveFile(path.c_str()); }
};

TEST_F(BinaryExaminationTest, FixtureRecordsAreTheRowsTheTestsNameAndTheirFilesMatch)
{
    EXPECT_STREQ(kUnpackerName, Unpacker().name);
    EXPECT_EQ(44532, Unpacker().fileSize);
    EXPECT_STREQ(kWormCName, WormC().name);
    EXPECT_EQ(44532u, infected::SignaturePe(Unpacker()).size());
}

// ---------------------------------------------------------------- result lines

TEST(ResultLineFormatsTest, EveryFormatIsAtItsIndexAndFormatsExactly)
{
    struct Row {
        ResultLine line;
        const char* expected;
        ResultAction action;
        ResultOutcome outcome;
    };
    const Row rows[] = {
        {LineRemoved, "C:\\x\\a.exe     W32/T.Trojan removed", ResultDelete, ResultDone},
        {LineRenamed, "C:\\x\\a.exe     W32/T.Trojan renamed", ResultRename, ResultDone},
        {LineRenameFailed, "C:\\x\\a.exe     W32/T.Trojan Rename failed", ResultRename, ResultFailed},
        {LineUnableToRemove, "C:\\x\\a.exe     W32/T.Trojan Unable to remove", ResultDelete, ResultFailed},
        {LineNotDisinfected, "C:\\x\\a.exe     W32/T.Trojan not disinfected as per user's selection", ResultReport,
         ResultDone},
        {LineScriptRemoved, "C:\\x\\a.exe     W32/T.Trojan Virus removed", ResultDelete, ResultDone},
        {LineScriptRenamed, "C:\\x\\a.exe     W32/T.Trojan Virus renamed", ResultRename, ResultDone},
        {LineScriptNotDisinfected, "C:\\x\\a.exe     W32/T.Trojan Not Disinfected As Per User's Selection",
         ResultReport, ResultDone},
        // The System lines name the threat alone.
        {LineSystemMemory, "System Memory    W32/T.Trojan removed", ResultDelete, ResultDone},
        {LineSystemRegistry, "System Registry     W32/T.Trojan removed", ResultDelete, ResultDone},
    };
    ASSERT_EQ(static_cast<std::size_t>(kResultLineCount), sizeof rows / sizeof rows[0]);
    for (std::size_t i = 0; i < kResultLineCount; ++i) {
        SCOPED_TRACE(rows[i].expected);
        EXPECT_EQ(rows[i].line, ResultLineFormats[i].line);
        EXPECT_EQ(rows[i].action, ResultLineFormats[i].action);
        EXPECT_EQ(rows[i].outcome, ResultLineFormats[i].outcome);
        char out[kLineTextSize];
        FormatResultLine(rows[i].line, "C:\\x\\a.exe", "W32/T.Trojan", out, sizeof out);
        EXPECT_STREQ(rows[i].expected, out);
    }
}

std::vector<ResultRecord> records;

void KeepRecord(const ResultRecord& record, void* context)
{
    EXPECT_EQ(&records, context);
    records.push_back(record);
}

TEST_F(BinaryExaminationTest, EveryReportedOutcomeIsAlsoARecordOfItsFields)
{
    records.clear();
    SetResultRecordSink(KeepRecord, &records);
    ReportResult(LineRenameFailed, "D:\\x\\a.exe", "W32/T.Trojan");
    ReportResult(LineSystemRegistry, "D:\\ignored.exe", "W32/Bagle.A.Worm");
    SetResultRecordSink(nullptr, nullptr);
    ReportResult(LineRemoved, "D:\\x\\b.exe", "W32/T.Trojan");

    // The lines go out as always, the last one also without a record sink.
    EXPECT_EQ((std::vector<std::string>{"D:\\x\\a.exe     W32/T.Trojan Rename failed",
                                        "System Registry     W32/Bagle.A.Worm removed",
                                        "D:\\x\\b.exe     W32/T.Trojan removed"}),
              lines);
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(LineRenameFailed, records[0].line);
    EXPECT_EQ(ResultRename, records[0].action);
    EXPECT_EQ(ResultFailed, records[0].outcome);
    EXPECT_STREQ("D:\\x\\a.exe", records[0].path);
    EXPECT_STREQ("W32/T.Trojan", records[0].threat);
    EXPECT_EQ(LineSystemRegistry, records[1].line);
    EXPECT_STREQ("", records[1].path);
    EXPECT_STREQ("W32/Bagle.A.Worm", records[1].threat);
}

TEST(ResultLineFormatsTest, ArgumentsAreTakenLiterallyAndLongLinesAreCutWithinTheBuffer)
{
    char out[kLineTextSize];
    FormatResultLine(LineRemoved, "C:\\100%s\\%d.exe", nullptr, out, sizeof out);
    EXPECT_STREQ("C:\\100%s\\%d.exe      removed", out);

    std::string path(400, 'p');
    std::string threat(259, 't');
    std::memset(out, 'X', sizeof out);
    FormatResultLine(LineNotDisinfected, path.c_str(), threat.c_str(), out, sizeof out);
    EXPECT_EQ(kLineTextSize - 1, std::strlen(out));
    EXPECT_EQ(path + "     " + threat.substr(0, kLineTextSize - 1 - 405), std::string(out));

    char tiny[8];
    FormatResultLine(LineSystemMemory, nullptr, nullptr, tiny, sizeof tiny);
    EXPECT_STREQ("System ", tiny);
}

// ---------------------------------------------------------------- detection

TEST_F(BinaryExaminationTest, InfectedExecutableIsDeletedReportedAndRecorded)
{
    AddInfectedPe(kInfected);

    EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", kInfected));

    EXPECT_FALSE(fake.Exists(kInfected));
    EXPECT_EQ(1, ScanStatistics.filesInfected);
    EXPECT_EQ(1, ScanStatistics.filesRemoved);
    EXPECT_EQ(std::vector<std::string>{Line(kInfected, kUnpackerName, "removed")}, lines);
    EXPECT_STREQ(kUnpackerName, lastThreatName);
    EXPECT_STREQ(kInfected, ScanState.statusText);
    EXPECT_TRUE(ExaminedPathIsClear());
    EXPECT_TRUE(terminatorCalls.empty());
}

TEST_F(BinaryExaminationTest, FilesThatAreNotDetectedGiveNothingAndAreLeftClosed)
{
    infected::PePlacement placement;
    ASSERT_TRUE(infected::PlaceSignature(Unpacker(), 44532, placement));
    std::string truncatedSections = infected::BuildPe(Unpacker(), 44532, placement);
    infected::SetLe16(truncatedSections, infected::kPeHeaderAt + 6, 3);
    truncatedSections.resize(infected::kPeHeaderAt + 248 + 50);  // the section table is cut short
    std::string manySections = infected::SignaturePe(Unpacker());
    infected::SetLe16(manySections, infected::kPeHeaderAt + 6, 21);

    struct Row {
        const char* name;
        std::string content;
    };
    const Row rows[] = {
        {"clean PE file", infected::BuildPe(Unpacker(), 44532, infected::PePlacement{30000, 600, 700})},
        {"pattern one byte off", infected::SignaturePeOneByteOff(Unpacker())},
        {"one byte longer", infected::SignaturePeOneLonger(Unpacker())},
        {"21 sections", manySections},
        {"section table cut short", truncatedSections},
        {"empty file", ""},
        {"text", "hello\r\n"},
        {"encrypted ZIP with a text file", infected::EncryptedZip("MAIL.TXT")},
        {"ZIP that is not encrypted", infected::EncryptedZip("MAIL.SCR", 20000, 0)},
        {"encrypted ZIP one size off every window", infected::EncryptedZip("MAIL.SCR", 30721)},
        {"worm ZIP one byte off", infected::WormZipOneByteOff(WormC(), kWormZipLength)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fake.AddFile("D:\\clean\\file.bin", row.content);
        EXPECT_EQ(0, ExamineBinaryFile("W32/Bagle.Worm", "D:\\clean\\file.bin"));
        EXPECT_TRUE(ExaminedPathIsClear());
        EXPECT_TRUE(NotHeldOpen("D:\\clean\\file.bin"));
    }
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(0, ScanStatistics.filesInfected);
    EXPECT_EQ(0, ScanStatistics.filesRemoved);
}

TEST_F(BinaryExaminationTest, FileThatCannotBeOpenedIsPassedOverAndTheNextHandlerIsAsked)
{
    AddInfectedPe(kInfected);
    fake.LockAgainstOpen(kInfected);
    UseHandlerTable(kBinaryThenRecorder);
    fake.AddFile("D:\\mail\\notes.txt", "notes");

    EXPECT_EQ(0, ExamineBinaryFile("W32/Bagle.Worm", kInfected));
    EXPECT_TRUE(fake.Exists(kInfected));
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(0, ScanStatistics.filesInfected);
    EXPECT_TRUE(ExaminedPathIsClear());

    WalkFolder("D:\\mail\\*.*");
    EXPECT_EQ((std::vector<std::string>{kInfected, "D:\\mail\\notes.txt"}), offeredToSecond);
}

TEST_F(BinaryExaminationTest, DetectedFileIsNotOfferedToTheNextHandler)
{
    AddInfectedPe("D:\\a\\one.exe");
    fake.AddFile("D:\\a\\two.txt", "two");
    UseHandlerTable(kBinaryThenRecorder);

    WalkFolder("D:\\a\\*.*");

    EXPECT_EQ(std::vector<std::string>{"D:\\a\\two.txt"}, offeredToSecond);
    EXPECT_FALSE(fake.Exists("D:\\a\\one.exe"));
}

TEST_F(BinaryExaminationTest, ArchiveDetectorNamesAZipThatTheWormTableWouldAlsoMatchAndCleansNoRegistry)
{
    // An encrypted single-entry ZIP (detector 1) that also carries the
    // archived-worm patterns of "W32/Bagle.C.Worm".
    std::string both = infected::EncryptedZip();
    infected::AddWormPatterns(both, WormC());
    fake.AddFile("D:\\in\\both.zip", both);
    std::string wormOnly = infected::WormZip(WormC(), kWormZipLength);
    fake.AddFile("D:\\in\\worm.zip", wormOnly);
    // Registry traces that the registry cleanup would remove.
    fake.SetRegistryString(kKeyCurrentUser, kRunKeyPath, "au.exe", "C:\\WINDOWS\\SYSTEM\\au.exe");
    fake.SetRegistryString(kKeyCurrentUser, kRunKeyPath, "zip", "\"D:\\in\\both.zip\" /x");

    EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", "D:\\in\\both.zip"));
    EXPECT_EQ(std::vector<std::string>{Line("D:\\in\\both.zip", "W32/Bagle.H.Worm", "removed")}, lines);
    EXPECT_STREQ("W32/Bagle.H.Worm", lastThreatName);
    EXPECT_TRUE(fake.HasRegistryValue(kKeyCurrentUser, kRunKeyPath, "au.exe"));
    EXPECT_TRUE(fake.HasRegistryValue(kKeyCurrentUser, kRunKeyPath, "zip"));

    // Without the encryption the same patterns are an archived-worm hit,
    // which does clean the registry, before the file's own line.
    lines.clear();
    EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", "D:\\in\\worm.zip"));
    EXPECT_EQ((std::vector<std::string>{"System Registry     W32/Bagle.B.Worm removed",
                                        Line("D:\\in\\worm.zip", kWormCName, "removed")}),
              lines);
    EXPECT_FALSE(fake.HasRegistryValue(kKeyCurrentUser, kRunKeyPath, "au.exe"));
    EXPECT_EQ(2, ScanStatistics.filesInfected);
    EXPECT_EQ(2, ScanStatistics.filesRemoved);
}

TEST_F(BinaryExaminationTest, SignatureHitCleansRegistryWithThePathSetBeforeTheFileIsActedOn)
{
    AddInfectedPe(kInfected);
    fake.SetRegistryString(kKeyLocalMachine, kRunKeyPath, "Mail", "\"D:\\Mail\\SETUP.exe\" -s");
    fake.SetRegistryString(kKeyCurrentUser, kRunKeyPath, "Other", "D:\\mail\\setup.exe.bak");
    fake.SetRegistryString(kKeyCurrentUser, kRunKeyPath, "rate.exe", "c:\\windows\\system32\\i1ru54n4.exe");
    fake.AddRegistryKey(kKeyCurrentUser, "Software\\winword");
    bool fileThereDuringCleanup = false;
    fake.onNotify = [&](WindowRef, std::uint32_t message) {
        if (message != AppendLineMessage) return;
        lines.push_back(ScanState.lineText);
        if (lines.size() == 1) fileThereDuringCleanup = fake.Exists(kInfected);
    };

    EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", kInfected));

    EXPECT_EQ((std::vector<std::string>{"System Registry     W32/Bagle.F.Worm removed",
                                        "System Registry     W32/Bagle.F.Worm removed",
                                        "System Registry     W32/MurkEl.Trojan removed",
                                        Line(kInfected, kUnpackerName, "removed")}),
              lines);
    EXPECT_TRUE(fileThereDuringCleanup);
    EXPECT_FALSE(fake.HasRegistryValue(kKeyLocalMachine, kRunKeyPath, "Mail"));
    EXPECT_TRUE(fake.HasRegistryValue(kKeyCurrentUser, kRunKeyPath, "Other"));
    EXPECT_FALSE(fake.HasRegistryKey(kKeyCurrentUser, "Software\\winword"));
    EXPECT_EQ(0, fake.OpenKeyCount());
}

// ---------------------------------------------------------------- actions

enum Obstacle {
    NoObstacle,
    ReadOnlyHiddenSystem,      // attributes that stop a plain deletion
    AttributesLocked,          // the attribute change fails
    HeldEndedByTermination,    // a running process holds it; terminating it frees it
    HeldNotEnded,              // a running process holds it; termination reports failure
    LockedTerminationClaimed   // termination reports success, the file still cannot go
};

struct ActionCase {
    const char* name;
    std::int32_t action;
    Obstacle obstacle;
    const char* outcome;       // the line's outcome, or null for no line
    bool fileStays;
    const char* renamedTo;     // where the file went, or null
    std::int32_t filesRemoved;
    std::size_t terminations;
    bool scheduled;            // a delete-on-restart request was made
    std::int32_t restartAfter; // ScanState.restartNeeded afterwards (it starts at 7)
};

const ActionCase kActionCases[] = {
    {"delete", 100, NoObstacle, "removed", false, nullptr, 1, 0, false, 7},
    {"delete with code 102", 102, NoObstacle, "removed", false, nullptr, 1, 0, false, 7},
    {"read-only, hidden, system file", 100, ReadOnlyHiddenSystem, "removed", false, nullptr, 1, 0, false, 7},
    {"attribute change fails", 100, AttributesLocked, "Unable to remove", true, nullptr, 0, 0, false, 7},
    {"held by a process that is ended", 100, HeldEndedByTermination, "removed", false, nullptr, 1, 1, false, 7},
    {"held, termination fails", 100, HeldNotEnded, "Unable to remove", true, nullptr, 0, 1, true, 1},
    {"termination claimed, second delete fails", 102, LockedTerminationClaimed, "Unable to remove", true, nullptr,
     0, 1, true, 1},
    {"rename", 101, NoObstacle, "renamed", false, "D:\\mail\\setup.Vxe", 0, 0, false, 7},
    {"rename of a read-only file", 101, ReadOnlyHiddenSystem, "renamed", false, "D:\\mail\\setup.Vxe", 0, 0, false,
     7},
    {"rename fails, not escalated", 101, HeldNotEnded, "Rename failed", true, nullptr, 0, 0, false, 7},
    {"report only", 103, ReadOnlyHiddenSystem, "not disinfected as per user's selection", true, nullptr, 0, 0, false,
     7},
    {"no action 0", 0, NoObstacle, nullptr, true, nullptr, 0, 0, false, 7},
    {"no action 99", 99, NoObstacle, nullptr, true, nullptr, 0, 0, false, 7},
    {"no action 104", 104, NoObstacle, nullptr, true, nullptr, 0, 0, false, 7},
};

TEST_F(BinaryExaminationTest, ActionTableWithTheEscalationOfADeletion)
{
    for (const ActionCase& row : kActionCases) {
        SCOPED_TRACE(row.name);
        fake.rebootRemovals.clear();
        terminatorCalls.clear();
        lines.clear();
        ScanStatistics = ScanStatisticsType{};
        ScanState.restartNeeded = 7;
        cleanAction = row.action;
        holderProcess = 0;
        terminatorClaims = false;
        fake.AddFolder("D:\\mail");
        const std::uint32_t attributes =
            row.obstacle == ReadOnlyHiddenSystem ? (kAttrReadOnly | kAttrHidden | kAttrSystem) : kAttrArchive;
        AddInfectedPe(kInfected, attributes);
        switch (row.obstacle) {
        case AttributesLocked:
            fake.LockAttributes(kInfected);
            break;
        case HeldEndedByTermination:
            holderProcess = fake.AddProcess(kInfected);
            fake.HoldOpenByProcess(kInfected, holderProcess);
            break;
        case HeldNotEnded:
            fake.HoldOpenByProcess(kInfected, fake.AddProcess(kInfected, true, false));
            break;
        case LockedTerminationClaimed:
            fake.LockAgainstDelete(kInfected);
            terminatorClaims = true;
            break;
        default:
            break;
        }
        const std::string content = fake.Content(kInfected);

        EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", kInfected));

        std::vector<std::string> expected;
        if (row.outcome) expected.push_back(Line(kInfected, kUnpackerName, row.outcome));
        EXPECT_EQ(expected, lines);
        EXPECT_EQ(row.fileStays, fake.Exists(kInfected));
        if (row.fileStays) {
            EXPECT_EQ(content, fake.Content(kInfected));
            if (row.obstacle == ReadOnlyHiddenSystem) {
                EXPECT_EQ(kAttrReadOnly | kAttrHidden | kAttrSystem, fake.Attributes(kInfected));
            }
        }
        if (row.renamedTo) {
            EXPECT_EQ(content, fake.Content(row.renamedTo));
        }
        EXPECT_EQ(1, ScanStatistics.filesInfected);
        EXPECT_EQ(row.filesRemoved, ScanStatistics.filesRemoved);
        EXPECT_EQ(std::vector<std::string>(row.terminations, kInfected), terminatorCalls);
        EXPECT_EQ(row.scheduled ? std::vector<std::string>{kInfected} : std::vector<std::string>{},
                  fake.rebootRemovals);
        EXPECT_EQ(row.restartAfter, ScanState.restartNeeded);
        EXPECT_STREQ(kUnpackerName, lastThreatName);
        EXPECT_STREQ(kInfected, ScanState.statusText);
        EXPECT_TRUE(ExaminedPathIsClear());

        // Start the next row from an empty folder.
        fake.LockAttributes(kInfected, false);
        fake.LockAgainstDelete(kInfected, false);
        fake.HoldOpenByProcess(kInfected, 0);
        fake.SetAttributes(kInfected, kAttrArchive);
        fake.RemoveFile(kInfected);
        if (row.renamedTo) fake.RemoveFile(row.renamedTo);
    }
}

TEST_F(BinaryExaminationTest, OnceARestartIsNeededALaterRefusedRequestKeepsItNeeded)
{
    const char* const paths[] = {"D:\\a\\one.exe", "D:\\a\\two.exe", "D:\\a\\three.exe"};
    for (const char* path : paths) {
        AddInfectedPe(path);
        fake.LockAgainstDelete(path);
    }

    fake.versionQueryFails = true;  // no platform family: nothing can be scheduled
    EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", paths[0]));
    EXPECT_EQ(0, ScanState.restartNeeded);

    fake.versionQueryFails = false;
    EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", paths[1]));
    EXPECT_EQ(1, ScanState.restartNeeded);  // NT: the delayed deletion is requested

    // The first file still waits for the next start.
    fake.versionQueryFails = true;
    EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", paths[2]));
    EXPECT_EQ(1, ScanState.restartNeeded);

    EXPECT_EQ(std::vector<std::string>{paths[1]}, fake.rebootRemovals);
    EXPECT_EQ((std::vector<std::string>{Line(paths[0], kUnpackerName, "Unable to remove"),
                                        Line(paths[1], kUnpackerName, "Unable to remove"),
                                        Line(paths[2], kUnpackerName, "Unable to remove")}),
              lines);
}

TEST_F(BinaryExaminationTest, AFileInUseIsDeletedOnceTheProcessListedAsRunningItIsEnded)
{
    // The real termination: on NT it finds the process in the performance
    // data, so the file goes at once; when the data does not list it, the
    // file is scheduled for the next start.
    UseImageTerminator(nullptr);
    for (bool listed : {true, false}) {
        SCOPED_TRACE(listed ? "listed" : "not listed");
        lines.clear();
        fake.rebootRemovals.clear();
        AddInfectedPe(kInfected);
        std::uint32_t holder = fake.AddProcess(kInfected);
        fake.HoldOpenByProcess(kInfected, holder);
        fake.SetRegistryValue(kKeyLocalMachine, "software\\microsoft\\windows nt\\currentversion\\perflib\\009",
                              "Counters", kRegMultiSz, perfdata::StandardCounters());
        fake.performanceData[perfdata::kProcessObjectText] =
            perfdata::ProcessBlock({{perfdata::Wide(listed ? "setup" : "other"), holder}});

        EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", kInfected));

        EXPECT_EQ(!listed, fake.Exists(kInfected));
        EXPECT_EQ(!listed, fake.FindProcess(holder)->running);
        EXPECT_EQ(std::vector<std::string>{Line(kInfected, kUnpackerName, listed ? "removed" : "Unable to remove")},
                  lines);
        EXPECT_EQ(listed ? std::vector<std::string>{} : std::vector<std::string>{kInfected}, fake.rebootRemovals);
        EXPECT_EQ(listed ? 0 : 1, ScanState.restartNeeded);
        if (!listed) {
            fake.HoldOpenByProcess(kInfected, 0);
            fake.RemoveFile(kInfected);
        }
    }
}

TEST_F(BinaryExaminationTest, RenameReplacesTheCharacterAfterTheLastDotOfTheWholePath)
{
    struct Row {
        const char* path;
        const char* folderToMake;  // or null
        const char* outcome;
        const char* renamedTo;     // or null when the file stays
    };
    const Row rows[] = {
        {"D:\\x\\mail.exe", nullptr, "renamed", "D:\\x\\mail.Vxe"},
        {"D:\\x\\mail.tar.gz", nullptr, "renamed", "D:\\x\\mail.tar.Vz"},
        {"D:\\dir.x1\\readme", nullptr, "Rename failed", nullptr},
        {"D:\\dir.y1\\readme", "D:\\dir.V1", "renamed", "D:\\dir.V1\\readme"},
        {"D:\\plain\\readme", nullptr, "Rename failed", nullptr},
        // Already marked: the new name is the file's own (in any case).
        {"D:\\x\\mail.Vxe", nullptr, "Rename failed", nullptr},
        {"D:\\x\\mail.vxe", nullptr, "Rename failed", nullptr},
        {"D:\\x\\trailing.", nullptr, "renamed", "D:\\x\\trailing.V"},
    };
    cleanAction = kActionRename;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        lines.clear();
        AddInfectedPe(row.path);
        if (row.folderToMake) fake.AddFolder(row.folderToMake);

        EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", row.path));

        EXPECT_EQ(std::vector<std::string>{Line(row.path, kUnpackerName, row.outcome)}, lines);
        EXPECT_EQ(row.renamedTo == nullptr, fake.Exists(row.path));
        if (row.renamedTo) {
            EXPECT_TRUE(fake.Exists(row.renamedTo));
        }
    }
    EXPECT_EQ(0, ScanStatistics.filesRemoved);
}

TEST(MakeRenamedPathTest, NamesAndBounds)
{
    struct Row {
        const char* path;
        std::size_t size;
        bool fits;
        const char* expected;
    };
    const Row rows[] = {
        {"C:\\x\\mail.exe", 260, true, "C:\\x\\mail.Vxe"},
        {"C:\\dir.x1\\readme", 260, true, "C:\\dir.V1\\readme"},
        {"C:\\x\\readme", 260, true, "C:\\x\\readme"},
        {"C:\\x\\a.b.c", 260, true, "C:\\x\\a.b.V"},
        {"C:\\x\\file.", 260, true, "C:\\x\\file.V"},
        {"C:\\x\\file.", 11, false, nullptr},
        {"C:\\x\\file.", 12, true, "C:\\x\\file.V"},
        {"C:\\x\\mail.exe", 13, false, nullptr},
        {"C:\\x\\mail.exe", 14, true, "C:\\x\\mail.Vxe"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        char out[260];
        EXPECT_EQ(row.fits, MakeRenamedPath(row.path, out, row.size));
        if (row.fits) {
            EXPECT_STREQ(row.expected, out);
        }
    }
}

// ---------------------------------------------------------------- memory scan

TEST_F(BinaryExaminationTest, InMemoryScanModeASignatureHitIsOnlyRecorded)
{
    AddInfectedPe(kInfected, kAttrReadOnly);
    fake.SetRegistryString(kKeyCurrentUser, kRunKeyPath, "Mail", "D:\\mail\\setup.exe");
    memoryScanMode = true;
    lastThreatName[0] = '\0';

    EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", kInfected));

    EXPECT_TRUE(foundInMemory);
    EXPECT_STREQ(kUnpackerName, lastThreatName);
    EXPECT_STREQ(kInfected, ScanState.statusText);
    EXPECT_EQ(1, ScanStatistics.filesInfected);
    EXPECT_EQ(0, ScanStatistics.filesRemoved);
    EXPECT_TRUE(fake.Exists(kInfected));
    EXPECT_EQ(kAttrReadOnly, fake.Attributes(kInfected));
    EXPECT_TRUE(ExaminedPathIsClear());
    // The registry traces go at once; no line about the file itself.
    EXPECT_FALSE(fake.HasRegistryValue(kKeyCurrentUser, kRunKeyPath, "Mail"));
    EXPECT_EQ(std::vector<std::string>{"System Registry     W32/MurkEl.Trojan removed"}, lines);
}

TEST_F(BinaryExaminationTest, InMemoryScanModeArchiveHitsAreStillActedOn)
{
    fake.AddFile("D:\\in\\both.zip", infected::EncryptedZip());
    memoryScanMode = true;

    EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", "D:\\in\\both.zip"));

    EXPECT_FALSE(foundInMemory);
    EXPECT_FALSE(fake.Exists("D:\\in\\both.zip"));
    EXPECT_EQ(std::vector<std::string>{Line("D:\\in\\both.zip", "W32/Bagle.H.Worm", "removed")}, lines);
}

// ---------------------------------------------------------------- forced action

TEST_F(BinaryExaminationTest, ForcedActionAnnouncesWaitsAndActsWithoutExaminingTheFile)
{
    // Any content: the file is not read, not even opened.
    fake.AddFile(kInfected, "not an executable", kAttrReadOnly | kAttrHidden);
    fake.LockAgainstOpen(kInfected);
    CopyText(lastThreatName, sizeof lastThreatName, "W32/MurkEl.G.Downloader.Trojan");
    forcedAction = kActionDelete;
    cleanAction = kActionReportOnly;
    struct Seen {
        std::string line;
        std::size_t waitsBefore;
        bool fileThere;
    };
    std::vector<Seen> seen;
    fake.onNotify = [&](WindowRef, std::uint32_t message) {
        if (message == AppendLineMessage) seen.push_back({ScanState.lineText, fake.waits.size(), fake.Exists(kInfected)});
    };

    EXPECT_EQ(0, ExamineBinaryFile("W32/Bagle.Worm", kInfected));

    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("System Memory    W32/MurkEl.Trojan removed", seen[0].line);
    EXPECT_EQ(0u, seen[0].waitsBefore);
    EXPECT_TRUE(seen[0].fileThere);
    EXPECT_EQ(Line(kInfected, "W32/MurkEl.G.Downloader.Trojan", "removed"), seen[1].line);
    EXPECT_EQ(1u, seen[1].waitsBefore);
    EXPECT_EQ(std::vector<std::uint32_t>{1000}, fake.waits);
    EXPECT_FALSE(fake.Exists(kInfected));
    EXPECT_EQ(kActionDelete, cleanAction);
    EXPECT_EQ(0, ScanStatistics.filesInfected);
    EXPECT_EQ(1, ScanStatistics.filesRemoved);
    EXPECT_TRUE(ExaminedPathIsClear());
}

TEST_F(BinaryExaminationTest, ForcedActionLinesCarryTheFullPathEvenWhenTheStatusLineHoldsItShortened)
{
    const std::string path = "D:\\a rather long folder name\\and another long folder name\\setup.exe";
    ASSERT_GT(path.size(), 60u);
    fake.AddFile(path, "x");
    fake.LockAttributes(path);
    CopyText(lastThreatName, sizeof lastThreatName, kUnpackerName);
    forcedAction = kActionDelete;
    memoryScanMode = true;

    // The memory scan re-offers the image through the walk, which shows the
    // path shortened in the status line first.
    WalkFolder(path.c_str());

    EXPECT_EQ((std::vector<std::string>{"System Memory    W32/MurkEl.Trojan removed",
                                        Line(path, kUnpackerName, "Unable to remove")}),
              lines);
    EXPECT_TRUE(fake.rebootRemovals.empty());
}

TEST_F(BinaryExaminationTest, ForcedActionRenamesOrReportsByTheForcedCode)
{
    struct Row {
        std::int32_t forced;
        const char* outcome;
        const char* remaining;
    };
    const Row rows[] = {
        {kActionRename, "renamed", "D:\\mail\\setup.Vxe"},
        {kActionDeleteAlso, "removed", nullptr},
        {kActionReportOnly, "not disinfected as per user's selection", kInfected},
    };
    CopyText(lastThreatName, sizeof lastThreatName, kUnpackerName);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.forced);
        lines.clear();
        fake.AddFile(kInfected, "x");
        forcedAction = row.forced;
        cleanAction = kActionDelete;

        EXPECT_EQ(0, ExamineBinaryFile("W32/Bagle.Worm", kInfected));

        EXPECT_EQ((std::vector<std::string>{"System Memory    W32/MurkEl.Trojan removed",
                                            Line(kInfected, kUnpackerName, row.outcome)}),
                  lines);
        EXPECT_EQ(row.forced, cleanAction);
        if (row.remaining) {
            EXPECT_TRUE(fake.Exists(row.remaining));
            fake.RemoveFile(row.remaining);
        }
        EXPECT_FALSE(fake.Exists(kInfected));
    }
    EXPECT_EQ(0, ScanStatistics.filesInfected);
}

TEST_F(BinaryExaminationTest, ForcedActionWithoutAResultSinkExaminesTheFileNormally)
{
    AddInfectedPe(kInfected);
    fake.AddFile("D:\\mail\\clean.txt", "clean");
    ScanState.resultSink = 0;
    forcedAction = kActionRename;
    fake.onNotify = nullptr;

    EXPECT_EQ(0, ExamineBinaryFile("W32/Bagle.Worm", "D:\\mail\\clean.txt"));
    EXPECT_TRUE(fake.Exists("D:\\mail\\clean.txt"));
    EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", kInfected));

    EXPECT_TRUE(fake.waits.empty());
    EXPECT_FALSE(fake.Exists(kInfected));  // deleted: cleanAction 100, not the forced rename
    EXPECT_EQ(kActionDelete, cleanAction);
    EXPECT_EQ(1, ScanStatistics.filesInfected);
}

// ---------------------------------------------------------------- session

TEST_F(BinaryExaminationTest, ScanSessionWithTheRealHandlerTable)
{
    AddInfectedPe("D:\\mail\\setup.exe", kAttrReadOnly | kAttrHidden);
    fake.AddFile("D:\\mail\\worm.zip", infected::WormZip(WormC(), kWormZipLength));
    fake.AddFile("D:\\mail\\lookalike.exe", infected::SignaturePeOneLonger(Unpacker()));
    fake.AddFile("D:\\mail\\readme.txt", "readme");
    fake.SetEnumerationOrder("D:\\mail", {"lookalike.exe", "setup.exe", "readme.txt", "worm.zip"});

    EXPECT_EQ(1, RunScanSession());

    EXPECT_EQ((std::vector<std::string>{Line("D:\\mail\\setup.exe", kUnpackerName, "removed"),
                                        Line("D:\\mail\\worm.zip", kWormCName, "removed"), " ",
                                        "Scanning statistics", "------------------------------",
                                        "Total files scanned\t\t:  4", "Total files infected\t\t:  2",
                                        "Total files removed\t\t:  2"}),
              lines);
    EXPECT_TRUE(fake.Exists("D:\\mail\\lookalike.exe"));
    EXPECT_TRUE(fake.Exists("D:\\mail\\readme.txt"));
    EXPECT_FALSE(fake.Exists("D:\\mail\\setup.exe"));
    EXPECT_FALSE(fake.Exists("D:\\mail\\worm.zip"));
    EXPECT_TRUE(fake.prompts.empty());
}

}  // namespace
