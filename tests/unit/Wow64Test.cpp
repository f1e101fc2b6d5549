// The program on 64-bit Windows, where it runs under WoW64: the fake
// redirects System32 to SysWOW64 and HKEY_LOCAL_MACHINE\Software to
// Wow6432Node as the real system does, and the same checks run with the
// fake as 32-bit Windows. Every real file is examined once and named as the
// user knows it; the registry rules and the Run-value scan look at both
// views; the delayed deletion lands under the name the system reads; the
// memory scan reaches 64-bit processes' images where the platform names them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "cleanup/MemoryScan.h"
#include "cleanup/ProcessTermination.h"
#include "cleanup/RegistryCleanup.h"
#include "fixtures/InfectedFiles.h"
#include "fixtures/PerfDataBlocks.h"
#include "scan/BinaryExamination.h"
#include "scan/ScanSession.h"
#include "scan/SignatureRecord.h"
#include "scan/Wow64View.h"
#include "unit/ScanFixture.h"

namespace {

const char kThreat[] = "W32/Murkel.A.Trojan";  // row 3 of the signature table

// The real files of the machine. The clean ones hold their own real name,
// so what a handler reads shows which file the name reached.
const char kDrop64[] = "C:\\WINDOWS\\system32\\drop64.exe";     // infected, real System32
const char kTwin64[] = "C:\\WINDOWS\\SysWOW64\\drop64.exe";     // clean, its 32-bit twin
const char kDrop32[] = "C:\\WINDOWS\\SysWOW64\\drop32.exe";     // infected, SysWOW64
const std::vector<std::string> kCleanFiles = {
    "C:\\WINDOWS\\explorer.exe",
    "C:\\WINDOWS\\system32\\kernel32.dll",
    "C:\\WINDOWS\\system32\\drivers\\etc\\hosts",  // exempt from the redirection
    "C:\\WINDOWS\\system32\\spool\\queue.spl",     // exempt from the redirection
    "C:\\WINDOWS\\SysWOW64\\kernel32.dll",
    kTwin64,
    "C:\\Program Files\\app.exe",
};

const char kRunKey64[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunKey32[] = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";

bool InRealSystem32(const std::string& path)
{
    return path.compare(0, 20, "C:\\WINDOWS\\system32\\") == 0;
}

std::string Line(const std::string& path, const std::string& outcome)
{
    return path + "     " + kThreat + " " + outcome;
}

// What the recording handler was offered: the path, and the content that
// path reached.
struct Offer {
    std::string path;
    std::string content;
};
std::vector<Offer> offers;
const std::size_t kOfferReadSize = 256;  // enough to tell the files apart

std::int32_t RecordOffer(const char*, const char* path)
{
    std::string content;
    FileRef file = OpenReachableForRead(path);
    if (file != kNoFile) {
        char buffer[kOfferReadSize];
        std::int32_t got = Sys().ReadBytes(file, buffer, sizeof buffer);
        if (got > 0) content.assign(buffer, static_cast<std::size_t>(got));
        Sys().CloseFile(file);
    }
    offers.push_back(Offer{path, content});
    return 0;
}

const VirusHandler kRecordingTable[] = {
    {"record", RecordOffer},
    {nullptr, nullptr},
};

// How the fake runs the program.
struct Mode {
    const char* name;
    bool wow64;
    bool nativeAlias;
};

void PrintTo(const Mode& mode, std::ostream* out)
{
    *out << mode.name;
}

const Mode kModes[] = {
    {"Windows32", false, false},
    {"Wow64", true, true},
    {"Wow64WithoutSysnative", true, false},
};

class Wow64Test : public ScanFixture, public ::testing::WithParamInterface<Mode> {
protected:
    void SetUp() override
    {
        ScanFixture::SetUp();
        offers.clear();
        fake.AddDrive('C', DriveFixed);
        for (const std::string& path : kCleanFiles) fake.AddFile(path, path);
        fake.AddFile(kDrop64, Infected());
        fake.AddFile(kDrop32, Infected());
        fake.version.majorVersion = 6;  // Windows 7: no service fallback
        fake.version.minorVersion = 1;
        fake.wow64 = GetParam().wow64;
        fake.nativeAliasAvailable = GetParam().nativeAlias;
        cleanAction = kActionDelete;
    }

    static std::string Infected()
    {
        std::string bytes = infected::SignaturePe(SignatureTable[2]);
        EXPECT_FALSE(bytes.empty());
        return bytes;
    }

    // The real System32 is out of this program's reach only under WoW64
    // without the alias.
    bool System32Reachable() const { return !GetParam().wow64 || GetParam().nativeAlias; }

    std::vector<std::string> AllRealFiles() const
    {
        std::vector<std::string> files = kCleanFiles;
        files.push_back(kDrop64);
        files.push_back(kDrop32);
        return files;
    }

    std::vector<std::string> ReachableRealFiles() const
    {
        std::vector<std::string> files;
        for (const std::string& path : AllRealFiles()) {
            if (System32Reachable() || !InRealSystem32(path)) files.push_back(path);
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    void ScanMemoryOfTwoDroppers(bool fullImageName);
};

// ------------------------------------------------------------------ walk

TEST_P(Wow64Test, WalkExaminesEveryRealFileOnceUnderItsOwnName)
{
    UseHandlerTable(kRecordingTable);
    DetectWow64View();
    EXPECT_EQ(GetParam().wow64, Wow64View.active);
    WalkFolder("C:\\*.*");

    std::vector<std::string> paths;
    for (const Offer& offer : offers) {
        SCOPED_TRACE(offer.path);
        paths.push_back(offer.path);
        // A clean file reads as its own name: the name reached that file and
        // not a twin. The two infected ones are told apart by their folder.
        if (offer.path != kDrop64 && offer.path != kDrop32) EXPECT_EQ(offer.path, offer.content);
        else EXPECT_TRUE(offer.content == Infected().substr(0, kOfferReadSize)) << "not the infected file";
    }
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(ReachableRealFiles(), paths);
    EXPECT_EQ(static_cast<std::int32_t>(ReachableRealFiles().size()), ScanStatistics.filesScanned);
}

TEST_P(Wow64Test, SessionRemovesBothDroppedFilesAndNamesThemAsTheUserKnowsThem)
{
    RunScanSession();

    EXPECT_FALSE(fake.Exists(kDrop32));
    EXPECT_TRUE(fake.Exists(kTwin64)) << "the clean 32-bit twin is left alone";
    EXPECT_EQ(!System32Reachable(), fake.Exists(kDrop64));
    for (const std::string& path : kCleanFiles) EXPECT_TRUE(fake.Exists(path)) << path;

    std::vector<std::string> expected;
    if (System32Reachable()) expected.push_back(Line(kDrop64, "removed"));
    expected.push_back(Line(kDrop32, "removed"));
    std::vector<std::string> fileLines;
    for (const std::string& line : lines) {
        if (line.find(kThreat) != std::string::npos) fileLines.push_back(line);
    }
    std::sort(expected.begin(), expected.end());
    std::sort(fileLines.begin(), fileLines.end());
    EXPECT_EQ(expected, fileLines);

    const int found = System32Reachable() ? 2 : 1;
    const std::string scanned = "Total files scanned\t\t:  " + std::to_string(ReachableRealFiles().size());
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), scanned));
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     "Total files infected\t\t:  " + std::to_string(found)));
    EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(),
                                     "Total files removed\t\t:  " + std::to_string(found)));
}

// ------------------------------------------------------------------ delete at the next start

TEST_P(Wow64Test, DelayedDeletionLandsUnderTheNameTheSystemReads)
{
    fake.LockAgainstDelete(kDrop64);
    fake.LockAgainstDelete(kDrop32);
    DetectWow64View();

    EXPECT_EQ(System32Reachable() ? 1 : 0, ExamineBinaryFile("W32/Bagle.Worm", kDrop64));
    EXPECT_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", kDrop32));
    EXPECT_EQ(1, ScanState.restartNeeded);

    // The fake records each request under the name the system stores for
    // its next start, as the redirector maps it.
    std::vector<std::string> expected;
    if (System32Reachable()) expected.push_back(GetParam().wow64 ? "C:\\WINDOWS\\System32\\drop64.exe" : kDrop64);
    expected.push_back(kDrop32);
    EXPECT_EQ(expected, fake.rebootRemovals);

    std::vector<std::string> expectedLines;
    if (System32Reachable()) expectedLines.push_back(Line(kDrop64, "Unable to remove"));
    expectedLines.push_back(Line(kDrop32, "Unable to remove"));
    EXPECT_EQ(expectedLines, lines);
}

// ------------------------------------------------------------------ registry

TEST_P(Wow64Test, RulesLookAtTheLocalMachineKeysInEveryViewTheSystemHas)
{
    // Rule 21 (HKLM Run "win_upd2.exe") in both views, rule 1 (HKCU, one
    // key for both views) once.
    const std::string data = "c:\\windows\\system\\windirect.exe";
    fake.SetRegistryString(kKeyLocalMachine, kRunKey64, "win_upd2.exe", data);
    fake.SetRegistryString(kKeyLocalMachine, kRunKey32, "win_upd2.exe", data);
    fake.SetRegistryString(kKeyCurrentUser, kRunKey64, "d3dupdate.exe", "c:\\windows\\system\\bbeagle.exe");
    DetectWow64View();

    CleanBagleRegistry(kThreat);

    // 32-bit Windows has one view: a key that happens to be named
    // Wow6432Node there is no view of anything and stays.
    EXPECT_FALSE(fake.HasRegistryValue(kKeyLocalMachine, kRunKey64, "win_upd2.exe"));
    EXPECT_EQ(!GetParam().wow64, fake.HasRegistryValue(kKeyLocalMachine, kRunKey32, "win_upd2.exe"));
    EXPECT_FALSE(fake.HasRegistryValue(kKeyCurrentUser, kRunKey64, "d3dupdate.exe"));
    std::vector<std::string> expected = {"System Registry     W32/Bagle.A.Worm removed",
                                         "System Registry     W32/Bagle.Aq.Worm removed"};
    if (GetParam().wow64) expected.push_back("System Registry     W32/Bagle.Aq.Worm removed");
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(0, fake.OpenKeyCount());
}

TEST_P(Wow64Test, RunValuesThatStartTheInfectedFileGoInBothViews)
{
    struct Row {
        const char* name;
        KeyRef hive;
        const char* key;
    };
    const Row rows[] = {
        {"64-bit view", kKeyLocalMachine, kRunKey64},
        {"32-bit view", kKeyLocalMachine, kRunKey32},
        {"current user", kKeyCurrentUser, kRunKey64},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        lines.clear();
        fake.SetRegistryString(row.hive, row.key, "starter", "\"C:\\WINDOWS\\system32\\drop64.exe\" /quiet");
        fake.SetRegistryString(row.hive, row.key, "keeper", "C:\\WINDOWS\\explorer.exe");
        DetectWow64View();
        std::strcpy(examinedFilePath, kDrop64);

        CleanBagleRegistry(kThreat);

        const bool seen = row.hive == kKeyCurrentUser || std::string(row.key) == kRunKey64 || GetParam().wow64;
        EXPECT_EQ(!seen, fake.HasRegistryValue(row.hive, row.key, "starter"));
        EXPECT_TRUE(fake.HasRegistryValue(row.hive, row.key, "keeper"));
        EXPECT_EQ(seen ? std::vector<std::string>{"System Registry     W32/MurkEl.Trojan removed"}
                       : std::vector<std::string>{},
                  lines);
    }
}

// ------------------------------------------------------------------ memory

// A 64-bit process runs the infected file of the real System32 and a 32-bit
// one that of SysWOW64; psapi names only the 32-bit one's image from here.
void Wow64Test::ScanMemoryOfTwoDroppers(bool fullImageName)
{
    fake.fullImageNameAvailable = fullImageName;
    const std::uint32_t id64 = fake.AddProcess(kDrop64);
    fake.HoldOpenByProcess(kDrop64, id64);
    fake.MakeSixtyFourBit(id64);
    const std::uint32_t id32 = fake.AddProcess(kDrop32);
    fake.HoldOpenByProcess(kDrop32, id32);
    DetectWow64View();

    ScanMemory();

    const bool reached64 = System32Reachable() && (!GetParam().wow64 || fullImageName);
    std::vector<std::uint32_t> ended;
    if (reached64) ended.push_back(id64);
    ended.push_back(id32);
    EXPECT_EQ(ended, fake.terminatedProcesses);
    EXPECT_EQ(!reached64, fake.Exists(kDrop64));
    EXPECT_FALSE(fake.Exists(kDrop32));
    EXPECT_TRUE(fake.Exists(kTwin64));
    std::vector<std::string> expected;
    if (reached64) {
        expected.push_back("System Memory    W32/MurkEl.Trojan removed");
        expected.push_back(Line(kDrop64, "removed"));
    }
    expected.push_back("System Memory    W32/MurkEl.Trojan removed");
    expected.push_back(Line(kDrop32, "removed"));
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(0, fake.OpenProcessCount());
    EXPECT_TRUE(fake.endProgramCalls.empty());
}

TEST_P(Wow64Test, MemoryScanNamesSixtyFourBitImagesWithTheFullImageName)
{
    ScanMemoryOfTwoDroppers(true);
}

TEST_P(Wow64Test, MemoryScanPassesOverSixtyFourBitProcessesWhenNothingNamesTheirImages)
{
    ScanMemoryOfTwoDroppers(false);
}

TEST_P(Wow64Test, TerminationByImageReadsTheSystemsOwnCounterNames)
{
    // The system keeps its counter names in its own (64-bit) view.
    fake.SetRegistryValue(kKeyLocalMachine, "software\\microsoft\\windows nt\\currentversion\\perflib\\009",
                          "Counters", kRegMultiSz, perfdata::StandardCounters());
    const std::uint32_t id = fake.AddProcess(kDrop64);
    fake.MakeSixtyFourBit(id);
    fake.performanceData[perfdata::kProcessObjectText] = perfdata::ProcessBlock({{perfdata::Wide("drop64"), id}});
    DetectWow64View();

    EXPECT_EQ(1, TerminateProcessByImage(kDrop64));
    EXPECT_EQ(std::vector<std::uint32_t>{id}, fake.terminatedProcesses);
    EXPECT_EQ(0, fake.OpenKeyCount());
}

INSTANTIATE_TEST_SUITE_P(Modes, Wow64Test, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------ names

TEST(Wow64ViewTest, OnlyNamesInsideSystem32TurnIntoTheAlias)
{
    FakePlatform fake;
    fake.AddFolder("C:\\WINDOWS\\system32");
    fake.wow64 = true;
    SetPlatform(&fake);
    DetectWow64View();
    ASSERT_TRUE(Wow64View.active);
    EXPECT_STREQ("C:\\WINDOWS\\system32", Wow64View.systemFolder);
    EXPECT_STREQ("C:\\WINDOWS\\Sysnative", Wow64View.nativeAlias);

    struct Row {
        const char* path;
        const char* reachable;  // null: out of reach
    };
    const Row rows[] = {
        {"C:\\WINDOWS\\system32", "C:\\WINDOWS\\Sysnative"},
        {"c:\\windows\\SYSTEM32\\x.dll", "C:\\WINDOWS\\Sysnative\\x.dll"},
        {"C:\\WINDOWS\\system32\\*.*", "C:\\WINDOWS\\Sysnative\\*.*"},
        {"C:\\WINDOWS\\system32x\\a", "C:\\WINDOWS\\system32x\\a"},  // another folder
        {"C:\\WINDOWS\\system3", "C:\\WINDOWS\\system3"},
        {"C:\\WINDOWS\\SysWOW64\\x.dll", "C:\\WINDOWS\\SysWOW64\\x.dll"},
        {"D:\\WINDOWS\\system32\\x.dll", "D:\\WINDOWS\\system32\\x.dll"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        char out[kPathBufferSize];
        EXPECT_TRUE(ReachablePath(row.path, out, sizeof out));
        EXPECT_STREQ(row.reachable, out);
    }

    // A name that only the alias would make too long for the path limit.
    std::string longName = "C:\\WINDOWS\\system32\\" + std::string(kPathBufferSize - 21, 'a');
    ASSERT_EQ(kPathBufferSize - 1, longName.size());
    char out[kPathBufferSize];
    EXPECT_FALSE(ReachablePath(longName.c_str(), out, sizeof out));
    EXPECT_STREQ("", out);

    std::uint32_t views[kMaxRegistryViews];
    EXPECT_EQ(2u, RegistryViewsOf(kKeyLocalMachine, views));
    EXPECT_EQ(0u, views[0]);
    EXPECT_EQ(kKeyView64, views[1]);
    EXPECT_EQ(1u, RegistryViewsOf(kKeyCurrentUser, views));
    EXPECT_EQ(0u, views[0]);
    ResetWow64View();
}

}  // namespace
