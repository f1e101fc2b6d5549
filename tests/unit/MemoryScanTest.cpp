// The memory scan on the fake platform: both passes' decisions over running
// processes with infected and clean images, the NT service fallback by
// version class, the debug privilege, the memory notice with its restart,
// and the values through which the scan drives the walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cleanup/MemoryScan.h"
#include "fixtures/InfectedFiles.h"
#include "scan/BinaryExamination.h"
#include "scan/ScanSession.h"
#include "scan/SignatureRecord.h"
#include "unit/ScanFixture.h"

namespace {

const char kEvil[] = "D:\\mem\\evil.exe";
const char kClean[] = "C:\\WINDOWS\\explorer.exe";
const char kThreat[] = "W32/Murkel.A.Trojan";  // row 3 of the signature table
const char kMemoryLine[] = "System Memory    W32/MurkEl.Trojan removed";
// The process rights and the wait as the memory scan's rules give them.
const std::uint32_t kTerminateAndQuery = 0x401;
const std::uint32_t kQueryAndRead = 0x410;
const std::uint32_t kForcedWaitMs = 1000;

std::string Line(const std::string& path, const std::string& outcome)
{
    return path + "     " + kThreat + " " + outcome;
}

std::vector<std::string> ServiceKeysOf(const std::string& name)
{
    return {"SYSTEM\\ControlSet001\\Services\\" + name + "\\Enum",
            "SYSTEM\\ControlSet001\\Services\\" + name + "\\Security",
            "SYSTEM\\ControlSet001\\Services\\" + name,
            "SYSTEM\\CONTROLSET002\\SERVICES\\" + name + "\\Enum",
            "SYSTEM\\ControlSet002\\Services\\" + name + "\\Security",
            "SYSTEM\\ControlSet002\\Services\\" + name};
}

class MemoryScanTest : public ScanFixture {
protected:
    void SetUp() override
    {
        ScanFixture::SetUp();
        fake.AddDrive('C', DriveFixed);
        fake.AddDrive('D', DriveFixed);
        fake.AddFile(kClean, "MZ not really a program");
        cleanAction = kActionDelete;
        // As ScanMemory sets it around the passes this test calls directly.
        memoryScanMode = true;
    }

    void UseVersion(std::uint32_t platformId, std::uint32_t major)
    {
        fake.version.platformId = platformId;
        fake.version.majorVersion = major;
    }

    void AddInfected(const std::string& path)
    {
        std::string bytes = infected::SignaturePe(SignatureTable[2]);
        ASSERT_FALSE(bytes.empty());
        fake.AddFile(path, bytes);
    }

    // A running infected program whose image is held open while it runs.
    std::uint32_t AddInfectedProcess(const std::string& path, bool canTerminate = true)
    {
        AddInfected(path);
        std::uint32_t id = fake.AddProcess(path, true, canTerminate);
        fake.HoldOpenByProcess(path, id);
        return id;
    }

    std::vector<std::uint32_t> OpenAccesses(std::uint32_t processId, const FakePlatform* platform = nullptr) const
    {
        std::vector<std::uint32_t> accesses;
        for (const auto& open : (platform ? platform : &fake)->processOpens) {
            if (open.processId == processId) accesses.push_back(open.access);
        }
        return accesses;
    }
};

// ------------------------------------------------------------------ NT pass

TEST_F(MemoryScanTest, NtEndsAnInfectedProcessAndRemovesItsImageAtOnce)
{
    const std::uint32_t clean = fake.AddProcess(kClean);
    const std::uint32_t evil = AddInfectedProcess(kEvil);

    EXPECT_EQ(0, ScanProcessesNT());

    EXPECT_EQ(std::vector<std::uint32_t>{evil}, fake.terminatedProcesses);
    EXPECT_TRUE(fake.FindProcess(clean)->running);
    EXPECT_FALSE(fake.Exists(kEvil));
    EXPECT_EQ((std::vector<std::string>{kMemoryLine, Line(kEvil, "removed")}), lines);
    EXPECT_EQ(std::vector<std::uint32_t>{kQueryAndRead}, OpenAccesses(clean));
    EXPECT_EQ((std::vector<std::uint32_t>{kQueryAndRead, kTerminateAndQuery, kTerminateAndQuery}),
              OpenAccesses(evil));
    // The forced action's own wait, and nothing else.
    EXPECT_EQ(std::vector<std::uint32_t>{kForcedWaitMs}, fake.waits);
    EXPECT_EQ(1, ScanStatistics.filesInfected);
    EXPECT_EQ(1, ScanStatistics.filesRemoved);
    EXPECT_EQ(0, ScanStatistics.filesScanned);
    EXPECT_FALSE(memoryRestartNeeded);
    EXPECT_EQ(0, forcedAction);
    EXPECT_EQ(0, fake.OpenProcessCount());
}

TEST_F(MemoryScanTest, NtFallsBackToTheServiceOnNt4AndNt5Only)
{
    struct Row {
        const char* name;
        std::uint32_t major;
        bool canTerminate;
        bool serviceStops;          // a service of the image's name exists and stops
        bool fallback;              // the service was asked to stop and its keys deleted
        bool restart;               // memoryRestartNeeded and the pass's result
        bool reexamined;
    };
    const Row rows[] = {
        {"NT 4.0, will not end", 4, false, false, true, true, false},
        {"NT 5.1, will not end", 5, false, false, true, true, false},
        {"NT 6.0, will not end", 6, false, false, false, false, false},
        {"NT 5.1, will not end, its service stops", 5, false, true, true, false, true},
        {"NT 4.0, will not end, its service stops", 4, false, true, true, false, true},
        // The second try cannot end a process the first one ended.
        {"NT 5.1, ends", 5, true, false, true, false, true},
        {"NT 4.0, ends", 4, true, false, true, false, true},
        {"NT 6.1, ends", 6, true, false, false, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform platform;
        SetPlatform(&platform);
        ResetScanGlobals();
        ScanState.resultSink = kSink;
        lines.clear();
        platform.onNotify = fake.onNotify;
        cleanAction = kActionDelete;
        memoryScanMode = true;
        platform.version.majorVersion = row.major;
        std::string bytes = infected::SignaturePe(SignatureTable[2]);
        platform.AddFile(kEvil, bytes);
        const std::uint32_t evil = platform.AddProcess(kEvil, true, row.canTerminate);
        if (row.serviceStops) platform.services["EVIL"] = FakePlatform::FakeService{true, {1}, 0};

        EXPECT_EQ(row.restart ? 1 : 0, ScanProcessesNT());

        EXPECT_EQ(row.restart, memoryRestartNeeded);
        EXPECT_EQ(row.canTerminate, !platform.FindProcess(evil)->running);
        EXPECT_EQ(row.fallback ? ServiceKeysOf("evil") : std::vector<std::string>{}, platform.keyDeletionRequests);
        EXPECT_EQ(row.fallback ? 2u : 0u, platform.serviceAccess.size());  // manager, then the service
        EXPECT_EQ(row.serviceStops ? std::vector<std::string>{"EVIL"} : std::vector<std::string>{},
                  platform.stopRequests);
        EXPECT_EQ(row.reexamined ? (std::vector<std::string>{kMemoryLine, Line(kEvil, "removed")})
                                 : std::vector<std::string>{},
                  lines);
        EXPECT_EQ(!row.reexamined, platform.Exists(kEvil));
    }
    SetPlatform(&fake);
}

TEST_F(MemoryScanTest, TheServiceNameIsTheImageBaseNameCutAtItsLastDot)
{
    struct Row {
        const char* path;
        const char* name;
    };
    const Row rows[] = {
        {"C:\\WINNT\\system32\\Foo.Bar.exe", "Foo.Bar"},
        {"C:\\X\\evil.exe", "evil"},
        {"C:\\dir.d\\noext", "noext"},
        {"bare.exe", "bare"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        char name[kPathBufferSize];
        ASSERT_TRUE(ServiceNameOf(row.path, name, sizeof name));
        EXPECT_STREQ(row.name, name);
    }

    // And the pass asks for that service.
    const char image[] = "C:\\WINNT\\system32\\Foo.Bar.exe";
    AddInfected(image);
    fake.AddProcess(image, true, false);
    fake.services["FOO.BAR"] = FakePlatform::FakeService{true, {1}, 0};
    EXPECT_EQ(0, ScanProcessesNT());
    EXPECT_EQ(std::vector<std::string>{"FOO.BAR"}, fake.stopRequests);
    EXPECT_EQ(ServiceKeysOf("Foo.Bar"), fake.keyDeletionRequests);
}

TEST_F(MemoryScanTest, ReportOnlyEndsNothingInEitherFamily)
{
    for (std::uint32_t platformId : {2u, 1u}) {
        SCOPED_TRACE(platformId);
        FakePlatform platform;
        SetPlatform(&platform);
        platform.version.platformId = platformId;
        platform.AddFile(kEvil, infected::SignaturePe(SignatureTable[2]));
        // It could be ended: only the action keeps it running.
        const std::uint32_t evil = platform.AddProcess(kEvil);
        cleanAction = kActionReportOnly;
        ScanStatistics = ScanStatisticsType{};
        lines.clear();

        if (platformId == 2) ScanProcessesNT();
        else ScanProcesses9x();

        EXPECT_TRUE(platform.FindProcess(evil)->running);
        EXPECT_TRUE(platform.Exists(kEvil));
        for (const auto& open : platform.processOpens) EXPECT_NE(kTerminateAndQuery, open.access);
        EXPECT_TRUE(lines.empty());
        EXPECT_EQ(1, ScanStatistics.filesInfected);  // found all the same
        EXPECT_TRUE(platform.keyDeletionRequests.empty());
    }
    SetPlatform(&fake);
}

TEST_F(MemoryScanTest, AnUnreadableImageIsNeitherExaminedNorEnded)
{
    for (std::uint32_t platformId : {2u, 1u}) {
        SCOPED_TRACE(platformId);
        FakePlatform platform;
        SetPlatform(&platform);
        platform.onNotify = fake.onNotify;
        statuses.clear();
        platform.version.platformId = platformId;
        platform.AddFile(kEvil, infected::SignaturePe(SignatureTable[2]));
        platform.LockAgainstOpen(kEvil);
        const std::uint32_t evil = platform.AddProcess(kEvil);

        if (platformId == 2) EXPECT_EQ(0, ScanProcessesNT());
        else EXPECT_EQ(0, ScanProcesses9x());

        EXPECT_TRUE(platform.FindProcess(evil)->running);
        EXPECT_TRUE(statuses.empty());  // the walk never showed it
        for (const auto& open : platform.processOpens) EXPECT_NE(kTerminateAndQuery, open.access);
        EXPECT_TRUE(platform.keyDeletionRequests.empty());
        EXPECT_FALSE(memoryRestartNeeded);
    }
    SetPlatform(&fake);
}

TEST_F(MemoryScanTest, NtOpensAProtectedProcessWithTheDebugPrivilegeAndSaysNothingWhenItCannot)
{
    const std::uint32_t evil = AddInfectedProcess(kEvil);
    fake.RequireDebugPrivilege(evil);
    fake.privilegeResult = PrivilegeTokenUnavailable;
    const std::uint32_t clean = fake.AddProcess(kClean);

    EXPECT_EQ(0, ScanProcessesNT());
    EXPECT_TRUE(fake.plainMessages.empty());
    EXPECT_TRUE(fake.FindProcess(evil)->running);
    EXPECT_EQ((std::vector<std::uint32_t>{kQueryAndRead, kQueryAndRead}), OpenAccesses(evil));
    EXPECT_EQ(std::vector<std::uint32_t>{kQueryAndRead}, OpenAccesses(clean));  // the pass went on
    EXPECT_EQ(std::vector<std::string>{"SeDebugPrivilege"}, fake.privilegeRequests);
    EXPECT_TRUE(lines.empty());

    fake.privilegeResult = PrivilegeEnabled;
    fake.privilegeRequests.clear();
    EXPECT_EQ(0, ScanProcessesNT());
    EXPECT_EQ(std::vector<std::string>{"SeDebugPrivilege"}, fake.privilegeRequests);
    EXPECT_FALSE(fake.FindProcess(evil)->running);
    EXPECT_FALSE(fake.Exists(kEvil));
}

TEST_F(MemoryScanTest, NtWithoutPsapiDoesNothing)
{
    AddInfectedProcess(kEvil);
    fake.psapiAvailable = false;
    EXPECT_EQ(0, ScanProcessesNT());
    EXPECT_TRUE(fake.processOpens.empty());
    EXPECT_TRUE(fake.Exists(kEvil));
}

// A process list taken a moment before the pass opens its processes: one of
// them has ended since, and opening it fails as for any identifier no
// process has (ERROR_INVALID_PARAMETER).
class EndedSinceListedPlatform : public FakePlatform {
public:
    static const std::uint32_t kEndedId = 0x7FF0;
    bool ListProcessIds(std::uint32_t* ids, std::uint32_t capacityBytes, std::uint32_t& bytesReturned) override
    {
        if (!FakePlatform::ListProcessIds(ids, capacityBytes, bytesReturned)) return false;
        if (bytesReturned + 4 > capacityBytes) return true;
        ids[bytesReturned / 4] = kEndedId;
        bytesReturned += 4;
        return true;
    }
};

TEST_F(MemoryScanTest, NtTriesTheDebugPrivilegeOnlyWhenAccessWasDenied)
{
    EndedSinceListedPlatform platform;
    SetPlatform(&platform);
    platform.AddProcess(kClean);

    EXPECT_EQ(0, ScanProcessesNT());

    EXPECT_EQ(std::vector<std::uint32_t>{kQueryAndRead}, OpenAccesses(EndedSinceListedPlatform::kEndedId, &platform));
    EXPECT_TRUE(platform.privilegeRequests.empty());
    SetPlatform(&fake);
}

TEST_F(MemoryScanTest, NtLooksAtTheFirst1024ProcessesOnly)
{
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < 1030; ++i) ids.push_back(fake.AddProcess("C:\\X\\p" + std::to_string(i) + ".exe"));

    EXPECT_EQ(0, ScanProcessesNT());

    ASSERT_EQ(1024u, fake.processOpens.size());
    for (std::size_t i = 0; i < fake.processOpens.size(); ++i) EXPECT_EQ(ids[i], fake.processOpens[i].processId);
}

// ------------------------------------------------------------------ 9x pass

TEST_F(MemoryScanTest, Win9xEndsAnInfectedProcessAndRemovesItsImage)
{
    UseVersion(1, 4);
    const std::uint32_t clean = fake.AddProcess(kClean);
    const std::uint32_t evil = AddInfectedProcess(kEvil);

    EXPECT_EQ(1, ScanProcesses9x());

    EXPECT_EQ(std::vector<std::uint32_t>{evil}, fake.terminatedProcesses);
    EXPECT_TRUE(fake.FindProcess(clean)->running);
    EXPECT_FALSE(fake.Exists(kEvil));
    EXPECT_EQ((std::vector<std::string>{kMemoryLine, Line(kEvil, "removed")}), lines);
    EXPECT_EQ(std::vector<std::uint32_t>{kTerminateAndQuery}, OpenAccesses(evil));
    EXPECT_TRUE(OpenAccesses(clean).empty());
    EXPECT_EQ(std::vector<std::uint32_t>{kForcedWaitMs}, fake.waits);
    EXPECT_EQ(0, forcedAction);
}

TEST_F(MemoryScanTest, Win9xReexaminesTheImageEvenWhenTheProcessWouldNotEnd)
{
    UseVersion(1, 4);
    fake.AddFolder("C:\\WINDOWS");
    const std::uint32_t evil = AddInfectedProcess(kEvil, false);

    EXPECT_EQ(1, ScanProcesses9x());

    EXPECT_TRUE(fake.FindProcess(evil)->running);
    EXPECT_TRUE(fake.Exists(kEvil));
    // The forced action tried, ended the process by its image once more,
    // and left the file to the next start.
    EXPECT_EQ((std::vector<std::string>{kMemoryLine, Line(kEvil, "Unable to remove")}), lines);
    EXPECT_EQ(1, ScanState.restartNeeded);
    EXPECT_EQ(0, forcedAction);
}

TEST_F(MemoryScanTest, Win9xWithoutToolHelpDoesNothing)
{
    UseVersion(1, 4);
    AddInfectedProcess(kEvil);
    fake.toolHelpAvailable = false;
    EXPECT_EQ(0, ScanProcesses9x());
    EXPECT_TRUE(fake.processOpens.empty());
    EXPECT_TRUE(statuses.empty());
}

// ------------------------------------------------------------------ ScanMemory

std::vector<std::pair<std::string, bool>> offered;

std::int32_t RecordOffer(const char*, const char* path)
{
    offered.emplace_back(path, memoryScanMode);
    return 0;
}

const VirusHandler kRecorderTable[] = {{"W32/Bagle.Worm", RecordOffer}, {nullptr, nullptr}};

TEST_F(MemoryScanTest, EachFamilyRunsItsPassInMemoryScanModeAndOthersNone)
{
    struct Row {
        const char* name;
        bool queryFails;
        std::uint32_t platformId;
        int platformClass;
        bool scanned;
    };
    const Row rows[] = {
        {"Windows 98", false, 1, 4, true},
        {"NT", false, 2, 5, true},
        {"version unknown", true, 2, 0, false},
        {"another platform", false, 3, 1, false},
    };
    UseHandlerTable(kRecorderTable);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform platform;
        SetPlatform(&platform);
        platform.versionQueryFails = row.queryFails;
        platform.version.platformId = row.platformId;
        platform.AddFile(kClean, "plain");
        platform.AddProcess(kClean);
        offered.clear();

        ScanMemory();

        EXPECT_EQ(row.platformClass, platformClass);
        EXPECT_FALSE(memoryScanMode);
        if (row.scanned) {
            EXPECT_EQ((std::vector<std::pair<std::string, bool>>{{kClean, true}}), offered);
        } else {
            EXPECT_TRUE(offered.empty());
            EXPECT_TRUE(platform.processOpens.empty());
        }
        EXPECT_TRUE(platform.endProgramCalls.empty());
        EXPECT_TRUE(platform.prompts.empty());
    }
    SetPlatform(&fake);
}

TEST_F(MemoryScanTest, TheNoticeAppearsOnlyWhenAProcessOutlivedItsServiceAndThenTheSessionEnds)
{
    const std::string notice =
        "W32/MurkEl.Trojan found in memory! registry entries created by the Trojan are removed. You must restart "
        "the computer and run this program to continue scanning.\n\nRestart the computer now?";
    struct Row {
        const char* name;
        bool canTerminate;
        int answer;
        bool notice;
        bool reboot;
    };
    const Row rows[] = {
        {"ended: no notice", true, kAnswerOk, false, false},
        {"not ended, OK", false, kAnswerOk, true, true},
        {"not ended, Cancel", false, kAnswerCancel, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform platform;
        SetPlatform(&platform);
        ResetScanGlobals();
        cleanAction = kActionDelete;
        platform.AddDrive('C', DriveFixed);
        platform.AddFile("C:\\clean.txt", "clean");
        platform.AddFile(kEvil, infected::SignaturePe(SignatureTable[2]));
        platform.AddProcess(kEvil, true, row.canTerminate);
        platform.promptAnswers.push_back(row.answer);

        RunScanSession();

        const bool walked = std::find(platform.findPatterns.begin(), platform.findPatterns.end(), "C:\\*.*") !=
                            platform.findPatterns.end();
        if (row.notice) {
            ASSERT_EQ(1u, platform.prompts.size());
            EXPECT_EQ(notice, platform.prompts[0].text);
            EXPECT_EQ("Quellor Ver 7.0", platform.prompts[0].caption);
            EXPECT_EQ(0x41u, platform.prompts[0].flags);
            EXPECT_EQ(std::vector<int>{0}, platform.endProgramCalls);
            // Where ending the program returns, the session stops there too:
            // the drives wait for the restart.
            EXPECT_FALSE(walked);
        } else {
            EXPECT_TRUE(platform.prompts.empty());
            EXPECT_TRUE(platform.endProgramCalls.empty());
            EXPECT_TRUE(walked);
        }
        EXPECT_EQ(row.reboot ? std::vector<std::uint32_t>{kRebootForce} : std::vector<std::uint32_t>{},
                  platform.rebootRequests);
        EXPECT_EQ(row.reboot ? std::vector<std::string>{"SeShutdownPrivilege"} : std::vector<std::string>{},
                  platform.privilegeRequests);
        EXPECT_FALSE(memoryScanMode);
    }
    SetPlatform(&fake);
}

TEST_F(MemoryScanTest, ASessionRemovesARunningThreatBeforeItWalksTheDrives)
{
    for (std::uint32_t platformId : {2u, 1u}) {
        SCOPED_TRACE(platformId);
        FakePlatform platform;
        SetPlatform(&platform);
        ResetScanGlobals();
        ScanState.resultSink = kSink;
        platform.onNotify = fake.onNotify;
        lines.clear();
        cleanAction = kActionDelete;
        platform.version.platformId = platformId;
        platform.AddDrive('C', DriveFixed);
        platform.AddFolder("C:\\WINDOWS");
        platform.AddFile(kEvil, infected::SignaturePe(SignatureTable[2]));
        const std::uint32_t evil = platform.AddProcess(kEvil);
        platform.HoldOpenByProcess(kEvil, evil);
        // An unrelated program whose name begins like the threat's.
        platform.AddFile("D:\\mem\\evilution.exe", "MZ harmless");
        const std::uint32_t alike = platform.AddProcess("D:\\mem\\evilution.exe");

        RunScanSession();

        EXPECT_FALSE(platform.FindProcess(evil)->running);
        EXPECT_TRUE(platform.FindProcess(alike)->running);
        EXPECT_FALSE(platform.Exists(kEvil));
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ((std::vector<std::string>{kMemoryLine, Line(kEvil, "removed"), " "}),
                  std::vector<std::string>(lines.begin(), lines.begin() + 3));
        EXPECT_EQ("Total files infected\t\t:  1", lines[lines.size() - 2]);
        EXPECT_EQ("Total files removed\t\t:  1", lines.back());
        EXPECT_TRUE(platform.prompts.empty());
        EXPECT_TRUE(platform.endProgramCalls.empty());
    }
    SetPlatform(&fake);
}

}  // namespace
