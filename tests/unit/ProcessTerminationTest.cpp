// Ending the processes that run an image, on the fake platform: the choice
// of the family's way, the Tool Help walk with its waits that ends only the
// first process of that image, and the performance-data way that ends every
// instance of exactly that name, with recorded counter names and blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleanup/ProcessTermination.h"
#include "fixtures/PerfDataBlocks.h"
#include "platform/fake/FakePlatform.h"

namespace {

using perfdata::Instance;
using perfdata::Wide;

const char kPerflibKey[] = "software\\microsoft\\windows nt\\currentversion\\perflib\\009";
// The rights as the termination's rules give them.
const std::uint32_t kTerminateAndQuery = 0x401;
const std::uint32_t kTerminateOnly = 0x001;
const std::uint32_t kKeyReadRights = 0x20019;  // KEY_READ

class ProcessTerminationTest : public ::testing::Test {
protected:
    void SetUp() override { SetPlatform(&fake); }

    void UseWin9x()
    {
        fake.version.platformId = 1;
        fake.version.majorVersion = 4;
        fake.version.minorVersion = 10;
    }

    // The counter names and the process object's block, listing `instances`.
    void SetPerformanceData(const std::vector<Instance>& instances)
    {
        fake.SetRegistryValue(kKeyLocalMachine, kPerflibKey, "Counters", kRegMultiSz, perfdata::StandardCounters());
        fake.performanceData[perfdata::kProcessObjectText] = perfdata::ProcessBlock(instances);
    }

    // A process running `image`, listed in the performance data as `name`.
    std::uint32_t AddListed(std::vector<Instance>& instances, const std::string& image, const std::string& name,
                            bool canOpen = true, bool canTerminate = true)
    {
        std::uint32_t id = fake.AddProcess(image, canOpen, canTerminate);
        instances.push_back({Wide(name), id});
        return id;
    }

    FakePlatform fake;
};

TEST_F(ProcessTerminationTest, TheFamilyDecidesTheWayAndOtherPlatformsAreLeftAlone)
{
    struct Row {
        const char* name;
        bool queryFails;
        std::uint32_t platformId;
        std::int32_t result;
        bool ended;
    };
    const Row rows[] = {
        {"Windows 98", false, 1, 1, true},
        {"NT", false, 2, 1, true},
        {"version unknown", true, 2, 1, false},
        {"another platform", false, 3, 1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform platform;
        SetPlatform(&platform);
        platform.versionQueryFails = row.queryFails;
        platform.version.platformId = row.platformId;
        std::uint32_t id = platform.AddProcess("C:\\X\\EVIL.EXE");
        platform.SetRegistryValue(kKeyLocalMachine, kPerflibKey, "Counters", kRegMultiSz,
                                  perfdata::StandardCounters());
        platform.performanceData[perfdata::kProcessObjectText] = perfdata::ProcessBlock({{Wide("evil"), id}});

        EXPECT_EQ(row.result, TerminateProcessByImage("C:\\X\\EVIL.EXE"));
        EXPECT_EQ(!row.ended, platform.FindProcess(id)->running);
        if (!row.ended) {
            EXPECT_TRUE(platform.processOpens.empty());
            EXPECT_TRUE(platform.waits.empty());
        }
    }
    SetPlatform(&fake);
}

TEST_F(ProcessTerminationTest, ToolHelpEndsOnlyTheFirstProcessWithTheSameBaseName)
{
    UseWin9x();
    const std::uint32_t other = fake.AddProcess("C:\\WINDOWS\\ABC.EXE");
    const std::uint32_t bare = fake.AddProcess("EVIL.EXEX");
    const std::uint32_t first = fake.AddProcess("C:\\TEMP\\evil.exe");
    const std::uint32_t second = fake.AddProcess("C:\\OTHER\\EVIL.EXE");

    EXPECT_EQ(1, TerminateByImage9x("D:\\somewhere\\Evil.Exe"));

    EXPECT_EQ(std::vector<std::uint32_t>{first}, fake.terminatedProcesses);
    EXPECT_TRUE(fake.FindProcess(other)->running);
    EXPECT_TRUE(fake.FindProcess(bare)->running);
    EXPECT_TRUE(fake.FindProcess(second)->running);
    ASSERT_EQ(1u, fake.processOpens.size());
    EXPECT_EQ(kTerminateAndQuery, fake.processOpens[0].access);
    // Load and snapshot, two steps of the walk, then around the termination.
    EXPECT_EQ((std::vector<std::uint32_t>{100, 100, 100, 100, 100, 100, 50, 500}), fake.waits);
    EXPECT_EQ(0, fake.OpenProcessCount());
}

TEST_F(ProcessTerminationTest, ToolHelpComparesTheBaseNameOfABareOrFullEntry)
{
    struct Row {
        const char* entry;
        const char* path;
        bool ends;
    };
    const Row rows[] = {
        {"EVIL.EXE", "C:\\X\\EVIL.EXE", true},       // an entry without its folder
        {"C:\\Y\\EVIL.EXE", "EVIL.EXE", true},       // a path without its folder
        {"C:\\Y\\EVIL.EXE", "C:\\X\\EVIL.EX", false},
        {"C:\\Y\\EVIL.EXE", "C:\\X\\VIL.EXE", false},
        {"C:\\Y\\XEVIL.EXE", "C:\\X\\EVIL.EXE", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.entry) + " / " + row.path);
        FakePlatform platform;
        SetPlatform(&platform);
        platform.version.platformId = 1;
        std::uint32_t id = platform.AddProcess(row.entry);
        EXPECT_EQ(row.ends ? 1 : 0, TerminateByImage9x(row.path));
        EXPECT_EQ(!row.ends, platform.FindProcess(id)->running);
    }
    SetPlatform(&fake);
}

TEST_F(ProcessTerminationTest, ToolHelpStopsAtTheFirstEqualNameEvenWhenItWillNotEnd)
{
    UseWin9x();
    const std::uint32_t stubborn = fake.AddProcess("C:\\A\\EVIL.EXE", true, false);
    const std::uint32_t next = fake.AddProcess("C:\\B\\EVIL.EXE");

    EXPECT_EQ(0, TerminateByImage9x("C:\\A\\EVIL.EXE"));
    EXPECT_TRUE(fake.FindProcess(stubborn)->running);
    EXPECT_TRUE(fake.FindProcess(next)->running);
    EXPECT_EQ((std::vector<std::uint32_t>{100, 100, 50, 500}), fake.waits);
}

TEST_F(ProcessTerminationTest, ToolHelpWithoutAMatchOrASnapshotEndsNothing)
{
    UseWin9x();
    fake.AddProcess("C:\\A\\ONE.EXE");
    fake.AddProcess("C:\\A\\TWO.EXE");
    EXPECT_EQ(0, TerminateByImage9x("C:\\A\\EVIL.EXE"));
    EXPECT_EQ((std::vector<std::uint32_t>{100, 100, 100, 100, 100, 100}), fake.waits);
    EXPECT_TRUE(fake.processOpens.empty());

    fake.waits.clear();
    fake.toolHelpAvailable = false;
    EXPECT_EQ(0, TerminateByImage9x("C:\\A\\ONE.EXE"));
    EXPECT_EQ((std::vector<std::uint32_t>{100, 100}), fake.waits);
    EXPECT_TRUE(fake.terminatedProcesses.empty());
}

TEST_F(ProcessTerminationTest, PerformanceDataEndsEveryInstanceOfExactlyThatName)
{
    std::vector<Instance> instances;
    const std::uint32_t system = AddListed(instances, "C:\\WINNT\\system32\\ntoskrnl.exe", "System");
    const std::uint32_t smss = AddListed(instances, "C:\\WINNT\\system32\\smss.exe", "smss");
    const std::uint32_t first = AddListed(instances, "C:\\WINNT\\system32\\svchost.exe", "svchost");
    const std::uint32_t numbered = AddListed(instances, "C:\\WINNT\\system32\\svchost.exe", "SVCHOST#2");
    const std::uint32_t alike = AddListed(instances, "C:\\X\\svchostx.exe", "svchostx");
    const std::uint32_t services = AddListed(instances, "C:\\WINNT\\system32\\services.exe", "services");
    const std::uint32_t locked = AddListed(instances, "C:\\WINNT\\system32\\svchost.exe", "svchost#1", false);
    SetPerformanceData(instances);

    EXPECT_EQ(1, TerminateByImageNT("C:\\WINNT\\SVCHOST.EXE"));

    EXPECT_EQ((std::vector<std::uint32_t>{first, numbered}), fake.terminatedProcesses);
    for (std::uint32_t id : {system, smss, alike, services, locked}) EXPECT_TRUE(fake.FindProcess(id)->running);
    // Each match waits, also the one that could not be opened.
    EXPECT_EQ((std::vector<std::uint32_t>{500, 500, 500}), fake.waits);
    ASSERT_EQ(3u, fake.processOpens.size());
    for (const auto& open : fake.processOpens) EXPECT_EQ(kTerminateOnly, open.access);
    // The counter names are only read.
    ASSERT_EQ(1u, fake.keyOpens.size());
    EXPECT_EQ(kKeyLocalMachine, fake.keyOpens[0].parent);
    EXPECT_EQ(kPerflibKey, fake.keyOpens[0].subkey);
    EXPECT_EQ(kKeyReadRights, fake.keyOpens[0].access);
    EXPECT_EQ(0, fake.OpenProcessCount());
    EXPECT_EQ(0, fake.OpenKeyCount());
}

TEST_F(ProcessTerminationTest, ATargetOfOneLetterEndsOnlyThatName)
{
    std::vector<Instance> instances;
    const std::uint32_t abc = AddListed(instances, "C:\\X\\ABC.EXE", "abc");
    const std::uint32_t a = AddListed(instances, "C:\\X\\A.EXE", "a");
    const std::uint32_t smss = AddListed(instances, "C:\\WINNT\\system32\\smss.exe", "smss");
    const std::uint32_t upper = AddListed(instances, "C:\\Y\\A.EXE", "A#1");
    SetPerformanceData(instances);

    EXPECT_EQ(1, TerminateByImageNT("C:\\X\\A.EXE"));
    EXPECT_EQ((std::vector<std::uint32_t>{a, upper}), fake.terminatedProcesses);
    EXPECT_TRUE(fake.FindProcess(abc)->running);

    EXPECT_EQ(0, TerminateByImageNT("C:\\S.EXE"));
    EXPECT_TRUE(fake.FindProcess(smss)->running);
}

TEST_F(ProcessTerminationTest, PerformanceDataNamesAreCutFromTheUpperCasedPath)
{
    struct Row {
        const char* path;
        std::int32_t result;
    };
    const Row rows[] = {
        {"X.EX", 0},             // four characters: nothing
        {"C:\\", 0},
        {"C:\\X\\.EXE", 0},      // nothing left of the name
        {"EVIL.EXE", 1},         // no folder
        {"c:\\x\\evil.exe", 1},
        {"C:\\X\\EVIL.BAT", 1},  // any four characters go
        {"C:\\X\\EVIL1234", 1},
        {"C:\\X\\EVIL.EX", 0},   // "EVI"
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        FakePlatform platform;
        SetPlatform(&platform);
        std::uint32_t id = platform.AddProcess("C:\\X\\EVIL.EXE");
        platform.SetRegistryValue(kKeyLocalMachine, kPerflibKey, "Counters", kRegMultiSz,
                                  perfdata::StandardCounters());
        platform.performanceData[perfdata::kProcessObjectText] = perfdata::ProcessBlock({{Wide("evil"), id}});
        EXPECT_EQ(row.result, TerminateByImageNT(row.path));
        EXPECT_EQ(row.result == 0, platform.FindProcess(id)->running);
    }
    SetPlatform(&fake);
}

TEST_F(ProcessTerminationTest, LongAndUnconvertibleInstanceNamesNeverMatch)
{
    std::vector<Instance> instances;
    const std::uint32_t longName = AddListed(instances, "C:\\X\\seventeen-chars-a.exe", "seventeen-chars-a");
    const std::uint32_t sixteen = AddListed(instances, "C:\\X\\sixteen-chars-ab.exe", "sixteen-chars-ab");
    const std::uint32_t odd = fake.AddProcess("C:\\X\\unknown.exe");
    instances.push_back({std::u16string(300, u'q'), odd});
    SetPerformanceData(instances);

    EXPECT_EQ(0, TerminateByImageNT("C:\\X\\seventeen-chars-a.exe"));
    EXPECT_TRUE(fake.FindProcess(longName)->running);
    EXPECT_EQ(1, TerminateByImageNT("C:\\X\\sixteen-chars-ab.exe"));
    EXPECT_FALSE(fake.FindProcess(sixteen)->running);
    // The name it cannot convert is "unknown", which is not its image's.
    EXPECT_EQ(1, TerminateByImageNT("C:\\X\\unknown.exe"));
    EXPECT_FALSE(fake.FindProcess(odd)->running);
}

TEST_F(ProcessTerminationTest, WithoutCounterNamesOrPerformanceDataNothingEnds)
{
    std::vector<Instance> instances;
    const std::uint32_t id = AddListed(instances, "C:\\X\\EVIL.EXE", "evil");
    struct Row {
        const char* name;
        std::string counters;  // empty: no value
        std::string block;     // empty: no data
    };
    const std::string block = perfdata::ProcessBlock(instances);
    const Row rows[] = {
        {"no counter names", "", block},
        {"no process object named", perfdata::CountersValue({"784", "ID Process"}), block},
        {"no performance data", perfdata::StandardCounters(), ""},
        {"a block cut short", perfdata::StandardCounters(), block.substr(0, block.size() - 1)},
        {"a block of another counter", perfdata::StandardCounters(),
         perfdata::ProcessBlock(instances, perfdata::kIdProcessIndex + 1)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fake.performanceData.clear();
        if (!row.counters.empty()) {
            fake.SetRegistryValue(kKeyLocalMachine, kPerflibKey, "Counters", kRegMultiSz, row.counters);
        }
        if (!row.block.empty()) fake.performanceData[perfdata::kProcessObjectText] = row.block;
        EXPECT_EQ(0, TerminateByImageNT("C:\\X\\EVIL.EXE"));
        EXPECT_TRUE(fake.FindProcess(id)->running);
        EXPECT_TRUE(fake.processOpens.empty());
        EXPECT_EQ(0, fake.OpenKeyCount());
    }
}

// Records the buffer sizes offered for the performance data.
class SizeRecordingPlatform : public FakePlatform {
public:
    long RegistryQueryValue(KeyRef key, const char* name, std::uint32_t* type, void* data,
                            std::uint32_t* size) override
    {
        if (key == kKeyPerformanceData && size) {
            offered.push_back(*size);
            if (data) {
                // The buffer is zero-filled before every query.
                const unsigned char* bytes = static_cast<const unsigned char*>(data);
                for (std::uint32_t i = 0; i < *size; ++i) {
                    if (bytes[i] != 0) {
                        dirty = true;
                        break;
                    }
                }
            }
        }
        return FakePlatform::RegistryQueryValue(key, name, type, data, size);
    }
    std::vector<std::uint32_t> offered;
    bool dirty = false;
};

TEST_F(ProcessTerminationTest, APerformanceBlockLargerThanTheBufferIsQueriedAgainInALargerOne)
{
    SizeRecordingPlatform platform;
    SetPlatform(&platform);
    std::vector<Instance> instances;
    // About 78,000 bytes: beyond the first buffer and the first step.
    for (int i = 0; i < 250; ++i) instances.push_back({std::u16string(130, u'p'), 8000u + i});
    const std::uint32_t target = platform.AddProcess("C:\\X\\EVIL.EXE");
    instances.push_back({Wide("evil"), target});  // the 251st of them
    platform.SetRegistryValue(kKeyLocalMachine, kPerflibKey, "Counters", kRegMultiSz, perfdata::StandardCounters());
    const std::string block = perfdata::ProcessBlock(instances);
    ASSERT_GT(block.size(), 51200u + 25600u);
    ASSERT_LT(block.size(), 51200u + 2 * 25600u);
    platform.performanceData[perfdata::kProcessObjectText] = block;

    EXPECT_EQ(1, TerminateByImageNT("C:\\X\\EVIL.EXE"));
    EXPECT_FALSE(platform.FindProcess(target)->running);
    EXPECT_EQ((std::vector<std::uint32_t>{51200, 76800, 102400}), platform.offered);
    EXPECT_FALSE(platform.dirty);
    SetPlatform(&fake);
}

}  // namespace
