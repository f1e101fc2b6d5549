// The quarantine in the engine over the fake: every action that changes a
// detected file keeps it first while the result lines read exactly as
// without a quarantine; the kept copies are no programs and match nothing;
// a full disk or a failed flush keeps nothing and leaves nothing behind;
// and the store's default place on each system family.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fixtures/DemoSamples.h"
#include "fixtures/InfectedFiles.h"
#include "fixtures/QuarantineHelpers.h"
#include "fixtures/ScriptStandIns.h"
#include "scan/BinaryExamination.h"
#include "scan/NeuteredCopy.h"
#include "scan/ScanSession.h"
#include "scan/SignatureRecord.h"
#include "scan/VirusHandler.h"
#include "platform/fake/FakePlatform.h"
#include "scan/ScanState.h"

using namespace quarantine_test;

namespace {

const char kStore[] = "C:\\store";

const WindowRef kSink = 0x5150;

// A fresh fake for each case, and for each row of a table (Fresh).
class Quarantine : public ::testing::Test {
protected:
    void SetUp() override { Fresh(); }
    void TearDown() override
    {
        ResetScanGlobals();
        SetPlatform(nullptr);
    }

    void Fresh()
    {
        ResetScanGlobals();
        fake.reset(new FakePlatform);
        SetPlatform(fake.get());
        ScanState.resultSink = kSink;
        lines.clear();
        fake->onNotify = [this](WindowRef, std::uint32_t message) {
            if (message == AppendLineMessage) lines.push_back(ScanState.lineText);
        };
        fake->AddDrive('C', DriveFixed);
        fake->AddFolder("C:\\files");
        UseStore(kStore);
    }

    std::unique_ptr<FakePlatform> fake;
    std::vector<std::string> lines;
};

struct ActionRow {
    const char* name;
    const char* path;
    std::string content;
    std::int32_t action;
    void (*prepare)(FakePlatform& fake, const char* path);
    const char* line;          // what follows the path and five blanks
    QuarantineOutcome kept;
    bool stays;                // the file is still at its path afterwards
};

void Nothing(FakePlatform&, const char*) {}
void LockDelete(FakePlatform& fake, const char* path)
{
    fake.LockAgainstDelete(path);
}
void LockAttributes(FakePlatform& fake, const char* path)
{
    fake.LockAttributes(path);
}

TEST_F(Quarantine, EveryActionThatChangesAFileKeepsItFirstAndTheLinesStayAsTheyWere)
{
    const std::string pe = infected::SignaturePe(SignatureTable[2]);
    const ActionRow rows[] = {
        {"deleted", "C:\\files\\setup.exe", pe, kActionDelete, Nothing, "W32/Murkel.A.Trojan removed", QuarantineKept,
         false},
        {"left for the next start", "C:\\files\\setup.exe", pe, kActionDelete, LockDelete,
         "W32/Murkel.A.Trojan Unable to remove", QuarantineKept, true},
        {"attributes cannot be reset", "C:\\files\\setup.exe", pe, kActionDelete, LockAttributes,
         "W32/Murkel.A.Trojan Unable to remove", QuarantineKept, true},
        {"renamed", "C:\\files\\setup.exe", pe, kActionRename, Nothing, "W32/Murkel.A.Trojan renamed",
         QuarantineKept, false},
        {"no name to rename to", "C:\\files\\setup", pe, kActionRename, Nothing, "W32/Murkel.A.Trojan Rename failed",
         QuarantineNotAsked, true},
        {"reported only", "C:\\files\\setup.exe", pe, kActionReportOnly, Nothing,
         "W32/Murkel.A.Trojan not disinfected as per user's selection", QuarantineNotAsked, true},
        {"script deleted", "C:\\files\\greeting.vbs", standin::WormScriptF(), kActionDelete, Nothing,
         "W32/MurkEl.F.Worm Virus removed", QuarantineKept, false},
        {"script not deleted", "C:\\files\\greeting.vbs", standin::WormScriptF(), kActionDelete, LockDelete,
         "W32/MurkEl.F.Worm Unable to remove", QuarantineKept, true},
        {"script renamed", "C:\\files\\greeting.txt", standin::WormScriptF(), kActionRename, Nothing,
         "W32/MurkEl.F.Worm Virus renamed", QuarantineKept, false},
    };
    for (const ActionRow& row : rows) {
        SCOPED_TRACE(row.name);
        // The same file without a quarantine gives the lines to compare with.
        std::vector<std::string> withoutQuarantine;
        for (bool quarantine : {false, true}) {
            Fresh();
            if (!quarantine) StopQuarantine();
            fake->AddFile(row.path, row.content);
            row.prepare(*fake, row.path);
            cleanAction = row.action;
            RecordLog log;
            ScanSingleFile(row.path);
            if (!quarantine) {
                withoutQuarantine = lines;
                continue;
            }
            EXPECT_EQ(withoutQuarantine, lines);
            EXPECT_EQ(std::vector<std::string>{std::string(row.path) + "     " + row.line}, lines);
            ASSERT_EQ(1u, log.records.size());
            EXPECT_EQ(row.kept, log.records[0].quarantine.outcome);
            EXPECT_EQ(row.stays, fake->Exists(row.path));
            const std::vector<Listed> entries = Entries();
            ASSERT_EQ(row.kept == QuarantineKept ? 1u : 0u, entries.size());
            if (entries.empty()) continue;
            EXPECT_EQ(entries[0].id, log.records[0].quarantine.id);
            EXPECT_STREQ(row.path, entries[0].entry.originalPath);
            EXPECT_STREQ(log.records[0].threat, entries[0].entry.threat);
            EXPECT_EQ(fake->now, entries[0].entry.time);
            EXPECT_EQ(StoreDone, RestoreQuarantineEntry(entries[0].id.c_str(), "C:\\back\\file"));
            EXPECT_TRUE(row.content == fake->Content("C:\\back\\file"));
        }
    }
}

TEST_F(Quarantine, AFileOnlyDeletedAtTheNextStartIsKeptBeforeItIsScheduled)
{
    fake->AddFile("C:\\files\\setup.exe", infected::SignaturePe(SignatureTable[2]));
    fake->LockAgainstDelete("C:\\files\\setup.exe");
    cleanAction = kActionDelete;
    ScanSingleFile("C:\\files\\setup.exe");
    EXPECT_EQ(std::vector<std::string>{"C:\\files\\setup.exe"}, fake->rebootRemovals);
    EXPECT_EQ(1, ScanState.restartNeeded);
    ASSERT_EQ(1u, Entries().size());
    EXPECT_STREQ("C:\\files\\setup.exe", Entries()[0].entry.originalPath);
}

TEST_F(Quarantine, TheImageOfAnEndedProcessIsKeptUnderTheThreatFoundInMemory)
{
    fake->AddFile("C:\\files\\mail.exe", "MZ stand-in image");
    CopyText(lastThreatName, sizeof lastThreatName, "W32/MurkEl.G.Downloader.Trojan");
    forcedAction = kActionDelete;
    ExamineBinaryFile("W32/Bagle.Worm", "C:\\files\\mail.exe");
    EXPECT_EQ((std::vector<std::string>{"System Memory    W32/MurkEl.Trojan removed",
                                        "C:\\files\\mail.exe     W32/MurkEl.G.Downloader.Trojan removed"}),
              lines);
    ASSERT_EQ(1u, Entries().size());
    EXPECT_STREQ("W32/MurkEl.G.Downloader.Trojan", Entries()[0].entry.threat);
}

TEST_F(Quarantine, KeptCopiesAreNoProgramsAndARescanOfTheStoreFindsNothing)
{
    const std::vector<Sample> samples = DemoSamples();
    fake->AddDrive('D', DriveFixed);
    for (const Sample& sample : samples) fake->AddFile(sample.path, sample.content);
    cleanAction = kActionDelete;
    WalkFolder("D:\\*.*");
    ASSERT_EQ(6, ScanStatistics.filesRemoved);

    const std::vector<Listed> entries = Entries();
    ASSERT_EQ(6u, entries.size());
    std::set<std::string> ids;
    for (const Listed& listed : entries) {
        SCOPED_TRACE(listed.id);
        ids.insert(listed.id);
        const std::string copy = fake->Content(StoreFile(listed.id, kKeptCopyExtension));
        EXPECT_EQ(std::string(kNeuteredHeader), copy.substr(0, kNeuteredHeaderLength));
        std::string original;
        for (const Sample& sample : samples) {
            if (listed.entry.originalPath == std::string(sample.path)) original = sample.content;
        }
        ASSERT_FALSE(original.empty());
        // Not one 16-byte stretch of the original stands in the copy.
        for (std::size_t at = 0; at + 16 <= original.size(); at += 16) {
            EXPECT_EQ(std::string::npos, copy.find(original.substr(at, 16))) << "at " << at;
        }
    }
    EXPECT_EQ(6u, ids.size());

    // The store walked like any other folder: nothing is detected.
    ScanStatistics = ScanStatisticsType();
    lines.clear();
    cleanAction = kActionReportOnly;
    WalkFolder("C:\\store\\*.*");
    // Six copies and six manifests: the store's lock leaves no file.
    EXPECT_EQ(12, ScanStatistics.filesScanned);
    EXPECT_EQ(0, ScanStatistics.filesInfected);
    EXPECT_TRUE(lines.empty());
}

TEST_F(Quarantine, AFullDiskOrAFailedFlushKeepsNothingAndLeavesNothingInTheStore)
{
    const std::string content = infected::SignaturePe(SignatureTable[2]);
    struct Row {
        const char* name;
        long writeBudget;
        bool flushFails;
    } const rows[] = {
        {"full before the header", 10, false},
        {"full in the middle of the copy", static_cast<long>(kNeuteredHeaderLength) + 1000, false},
        {"full while the manifest is written", static_cast<long>(kNeuteredHeaderLength + content.size()) + 20,
         false},
        {"the flush fails", -1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fresh();
        fake->AddFile("C:\\files\\setup.exe", content);
        fake->writeBudget = row.writeBudget;
        fake->flushFails = row.flushFails;
        cleanAction = kActionDelete;
        RecordLog log;
        ScanSingleFile("C:\\files\\setup.exe");
        EXPECT_EQ(std::vector<std::string>{"C:\\files\\setup.exe     W32/Murkel.A.Trojan removed"}, lines);
        ASSERT_EQ(1u, log.records.size());
        EXPECT_EQ(QuarantineNotKept, log.records[0].quarantine.outcome);
        EXPECT_EQ(QuarantineUnwritable, log.records[0].quarantine.failure);
        EXPECT_FALSE(fake->Exists("C:\\files\\setup.exe"));
        DirEntry entry;
        SearchRef search = fake->FindFirstEntry("C:\\store\\*.Q*", entry);
        EXPECT_EQ(0u, search) << "left behind: " << entry.name;
        if (search) fake->FindEnd(search);
    }
}

TEST_F(Quarantine, TheStoresDefaultPlaceOnEachSystemFamily)
{
    struct Row {
        const char* name;
        std::uint32_t platformId;
        bool versionFails;
        const char* commonData;
        const char* windows;
        const char* folder;  // empty: no store
    } const rows[] = {
        {"NT with an all-users data folder", 2, false, "C:\\ProgramData", "C:\\WINDOWS",
         "C:\\ProgramData\\Quellor\\Quarantine"},
        {"NT 4.0 without one", 2, false, "", "C:\\WINNT", "C:\\WINNT\\Quellor\\Quarantine"},
        {"95/98/ME", 1, false, "C:\\WINDOWS\\All Users\\Application Data", "C:\\WINDOWS",
         "C:\\WINDOWS\\Quellor\\Quarantine"},
        {"a Windows folder at a drive's root", 2, false, "", "C:\\", "C:\\Quellor\\Quarantine"},
        {"the version cannot be read", 2, true, "C:\\ProgramData", "C:\\WINDOWS", ""},
        {"neither family", 3, false, "C:\\ProgramData", "C:\\WINDOWS", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fake->version.platformId = row.platformId;
        fake->versionQueryFails = row.versionFails;
        fake->commonDataFolder = row.commonData;
        fake->windowsFolder = row.windows;
        UseDefaultQuarantine();
        EXPECT_EQ(row.folder[0] != '\0', QuarantineActive());
        EXPECT_STREQ(row.folder, ActiveQuarantine().folder);
    }
}

TEST_F(Quarantine, TheDialogsScanKeepsEveryRemovalAndASecondScanFindsNothingInTheStore)
{
    fake->AddDrive('D', DriveFixed);
    for (const Sample& sample : DemoSamples()) fake->AddFile(sample.path, sample.content);
    fake->commonDataFolder = "C:\\ProgramData";
    cleanAction = kActionDelete;
    UseDefaultQuarantine();
    RunScanSession();
    EXPECT_EQ(6, ScanStatistics.filesRemoved);
    EXPECT_EQ(6u, Entries().size());
    EXPECT_TRUE(fake->Exists("C:\\ProgramData\\Quellor\\Quarantine"));

    // The next program run walks C: with the store on it.
    ResetScanGlobals();
    ScanState.resultSink = kSink;
    cleanAction = kActionDelete;
    UseDefaultQuarantine();
    lines.clear();
    RunScanSession();
    // Six copies and six manifests: the store's lock leaves no file.
    EXPECT_EQ(12, ScanStatistics.filesScanned);
    EXPECT_EQ(0, ScanStatistics.filesInfected);
    EXPECT_EQ(6u, Entries().size());
}

TEST_F(Quarantine, ALeftoverThatCannotBeClearedIsListedAsDamagedAndStopsCountingOncePurged)
{
    const std::string content = infected::SignaturePe(SignatureTable[2]);
    const std::uint64_t copySize = kNeuteredHeaderLength + content.size();
    fake->AddFile("C:\\files\\setup.exe", content);
    cleanAction = kActionDelete;
    ScanSingleFile("C:\\files\\setup.exe");
    ASSERT_EQ(1u, Entries().size());
    const std::string id = Entries()[0].id;
    // A purge stopped after the manifest went, and a copy the system will
    // not let go of.
    fake->RemoveFile(StoreFile(id, kManifestExtension).c_str());
    fake->LockAgainstDelete(StoreFile(id, kKeptCopyExtension));

    UseStore(kStore, copySize);
    std::vector<Listed> entries = Entries();
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(id, entries[0].id);
    EXPECT_TRUE(entries[0].damaged);
    QuarantineEntry entry;
    EXPECT_EQ(StoreDamaged, ReadQuarantineEntry(id.c_str(), entry));
    // It takes the room of a copy while it is there.
    fake->AddFile("C:\\files\\next.exe", content);
    RecordLog full;
    ScanSingleFile("C:\\files\\next.exe");
    ASSERT_EQ(1u, full.records.size());
    EXPECT_EQ(QuarantineStoreFull, full.records[0].quarantine.failure);

    EXPECT_EQ(StoreWriteFailed, PurgeQuarantineEntry(id.c_str()));
    fake->LockAgainstDelete(StoreFile(id, kKeptCopyExtension), false);
    EXPECT_EQ(StoreDone, PurgeQuarantineEntry(id.c_str()));
    EXPECT_TRUE(Entries().empty());
    // In the same run, the room is there again.
    fake->AddFile("C:\\files\\last.exe", content);
    RecordLog kept;
    ScanSingleFile("C:\\files\\last.exe");
    ASSERT_EQ(1u, kept.records.size());
    EXPECT_EQ(QuarantineKept, kept.records[0].quarantine.outcome);
}

TEST_F(Quarantine, AStoreAnotherRunHoldsIsWaitedForOnceAndThenNotChanged)
{
    const std::string content = infected::SignaturePe(SignatureTable[2]);
    fake->AddFile("C:\\store\\STORE.LCK", "");
    // What a run stopped half way left, which only a run that holds the
    // store may clear.
    fake->AddFile("C:\\store\\0000ABCD.QTD", "being written");
    fake->HoldElsewhere("C:\\store\\STORE.LCK");
    fake->AddFile("C:\\files\\one.exe", content);
    fake->AddFile("C:\\files\\two.exe", content);
    cleanAction = kActionDelete;
    RecordLog log;
    ScanSingleFile("C:\\files\\one.exe");
    const std::size_t waited = fake->waits.size();
    EXPECT_GE(waited, 100u);
    ScanSingleFile("C:\\files\\two.exe");
    // The second file does not wait again.
    EXPECT_EQ(waited, fake->waits.size());
    ASSERT_EQ(2u, log.records.size());
    for (const ResultRecord& record : log.records) {
        EXPECT_EQ(QuarantineNotKept, record.quarantine.outcome);
        EXPECT_EQ(QuarantineBusy, record.quarantine.failure);
    }
    EXPECT_STREQ("the quarantine is in use by another run", QuarantineFailureText(QuarantineBusy));
    EXPECT_EQ(StoreBusy, PurgeQuarantineEntry("0000ABCD"));
    EXPECT_EQ(StoreBusy, RestoreQuarantineEntry("0000ABCD", "C:\\files\\back.exe"));
    EXPECT_TRUE(fake->Exists("C:\\store\\0000ABCD.QTD"));

    // Once the other run is over, the next run clears what was left.
    fake->HoldElsewhere("C:\\store\\STORE.LCK", false);
    UseStore(kStore);
    EXPECT_TRUE(Entries().empty());
    EXPECT_FALSE(fake->Exists("C:\\store\\0000ABCD.QTD"));
    EXPECT_FALSE(fake->HeldHere("C:\\store\\STORE.LCK"));
}

TEST_F(Quarantine, TheSystemsOwnStoreIsGuardedFromTheProgramsDataFolderDown)
{
    fake->commonDataFolder = "C:\\ProgramData";
    // Made before the program ever ran, by anyone.
    fake->AddFolder("C:\\ProgramData\\Quellor");
    fake->AddFile("C:\\files\\setup.exe", infected::SignaturePe(SignatureTable[2]));
    cleanAction = kActionDelete;
    UseDefaultQuarantine();
    ScanSingleFile("C:\\files\\setup.exe");
    EXPECT_EQ(1u, Entries().size());
    EXPECT_FALSE(fake->IsGuarded("C:\\ProgramData"));
    EXPECT_TRUE(fake->IsGuarded("C:\\ProgramData\\Quellor"));
    EXPECT_TRUE(fake->IsGuarded("C:\\ProgramData\\Quellor\\Quarantine"));

    // A store named by the user is left as the user made it; a guard that
    // is refused keeps nothing in the system's own place.
    Fresh();
    fake->AddFile("C:\\files\\setup.exe", infected::SignaturePe(SignatureTable[2]));
    cleanAction = kActionDelete;
    ScanSingleFile("C:\\files\\setup.exe");
    EXPECT_FALSE(fake->IsGuarded(kStore));
    Fresh();
    fake->commonDataFolder = "C:\\ProgramData";
    fake->guardFails = true;
    fake->AddFile("C:\\files\\setup.exe", infected::SignaturePe(SignatureTable[2]));
    cleanAction = kActionDelete;
    UseDefaultQuarantine();
    RecordLog log;
    ScanSingleFile("C:\\files\\setup.exe");
    ASSERT_EQ(1u, log.records.size());
    EXPECT_EQ(QuarantineUnwritable, log.records[0].quarantine.failure);
    EXPECT_FALSE(fake->Exists("C:\\ProgramData\\Quellor"));
}

TEST_F(Quarantine, ARestoreFoundDoneAtTheOpeningLeavesItsFileOnTheDiskBeforeTheEntryGoes)
{
    const std::string content = infected::SignaturePe(SignatureTable[2]);
    fake->AddFile("C:\\files\\setup.exe", content);
    cleanAction = kActionDelete;
    ScanSingleFile("C:\\files\\setup.exe");
    ASSERT_EQ(1u, Entries().size());
    const std::string id = Entries()[0].id;
    // A restore killed after its file took the target's name, before the
    // folder was flushed: the note is there, and the file, not yet for good.
    fake->AddFile(StoreFile(id, ".QRP"), "Quellor restore 1\r\ntarget=C:\\files\\setup.exe\r\n");
    fake->MakeNamesFleeting("C:\\files");
    fake->AddFile("C:\\files\\setup.exe", content);

    UseStore(kStore);
    EXPECT_TRUE(Entries().empty());
    fake->SimulateCrash();
    EXPECT_TRUE(content == fake->Content("C:\\files\\setup.exe"));
}

}  // namespace
