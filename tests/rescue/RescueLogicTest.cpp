// The rescue stick's decisions: what a partition's first sector is, what
// the NTFS driver's answer means, what can be done with each volume, the
// unattended words, the scanner's JSON lines, and the screens and keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "rescue/RescueAuto.h"
#include "rescue/RescueMenu.h"
#include "rescue/RescueScanReport.h"
#include "rescue/RescueText.h"
#include "rescue/RescueVolume.h"

namespace {

std::vector<unsigned char> Sector(std::size_t at, const char* text, bool signature = true)
{
    std::vector<unsigned char> sector(512, 0);
    std::memcpy(sector.data() + at, text, std::strlen(text));
    if (signature) sector[510] = 0x55, sector[511] = 0xAA;
    return sector;
}

TEST(RescueVolume, FormatOfBootSector)
{
    const struct {
        const char* name;
        std::vector<unsigned char> sector;
        VolumeFormat format;
    } rows[] = {
        {"NTFS", Sector(3, "NTFS    "), FormatNtfs},
        {"BitLocker", Sector(3, "-FVE-FS-"), FormatBitLocker},
        {"exFAT", Sector(3, "EXFAT   "), FormatExfat},
        {"FAT16", Sector(54, "FAT16   "), FormatFat},
        {"FAT12", Sector(54, "FAT12   "), FormatFat},
        {"FAT32", Sector(82, "FAT32   "), FormatFat},
        {"FAT32 without the boot signature", Sector(82, "FAT32   ", false), FormatUnknown},
        {"NTFS's name elsewhere", Sector(4, "NTFS    "), FormatUnknown},
        {"ext4 or anything else", Sector(0, ""), FormatUnknown},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.format, FormatOfBootSector(row.sector.data(), row.sector.size()));
    }
    const std::vector<unsigned char> ntfs = Sector(3, "NTFS    ");
    EXPECT_EQ(FormatUnknown, FormatOfBootSector(ntfs.data(), 511)) << "a short read is no sector";
}

TEST(RescueVolume, NtfsDriverAnswers)
{
    // The driver's own words, as it prints them for a hibernated Windows
    // and for a Windows 8 or later that kept metadata in its cache.
    const char hibernated[] = "Windows is hibernated, refused to mount.\nFalling back to read-only mount because the "
                              "NTFS partition is in an\nunsafe state.";
    const char unclean[] = "The disk contains an unclean file system (0, 0).\nMetadata kept in Windows cache, refused "
                           "to mount.\nFalling back to read-only mount";
    const struct {
        int status;
        bool readOnly;
        const char* messages;
        MountResult result;
    } rows[] = {
        {0, false, "", MountOk},
        {0, true, hibernated, MountHibernated},
        {14, false, "", MountHibernated},
        {0, true, unclean, MountUnclean},
        {15, false, "", MountUnclean},
        {0, true, "", MountReadOnly},
        {13, false, "NTFS is inconsistent", MountFailed},
        {12, false, "NTFS signature is missing.", MountFailed},
        {21, false, "fuse: device not found", MountFailed},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.messages);
        EXPECT_EQ(row.result, NtfsMountResult(row.status, row.readOnly, row.messages)) << row.status;
    }
}

Volume MakeVolume(const char* device, VolumeFormat format, WindowsKind windows)
{
    Volume volume{device, std::string(device, 3), "ATA Disk", device[3] - '0', 500000000000ull, format, false,
                  MountOk, std::string(), windows, false, std::string(), {}};
    return volume;
}

// The PC of most tests: the stick, a Windows that can be cleaned, one that
// is hibernated, a BitLocker volume, a damaged NTFS and a data partition.
std::vector<Volume> SamplePc()
{
    std::vector<Volume> volumes;
    Volume stick = MakeVolume("sda1", FormatFat, WindowsNone);
    stick.isStick = true;
    volumes.push_back(stick);
    Volume windows = MakeVolume("sdb2", FormatNtfs, WindowsNt);
    windows.version = "Windows 7 Professional, Service Pack 1 (build 7601)";
    windows.users = {"alice", "bob"};
    volumes.push_back(windows);
    Volume hibernated = MakeVolume("sdc1", FormatNtfs, WindowsNt);
    hibernated.hibernated = true;
    volumes.push_back(hibernated);
    volumes.push_back(MakeVolume("sdc2", FormatBitLocker, WindowsNone));
    Volume damaged = MakeVolume("sdd1", FormatNtfs, WindowsNone);
    damaged.readOnlyMount = MountFailed;
    damaged.mountMessage = "NTFS is inconsistent\x1b[2J";
    volumes.push_back(damaged);
    volumes.push_back(MakeVolume("sdd2", FormatNtfs, WindowsNone));
    return volumes;
}

TEST(RescueVolume, WhatCanBeDoneWithEachVolume)
{
    const std::vector<Volume> pc = SamplePc();
    const struct {
        std::size_t index;
        Usability usability;
        const char* because;  // a part of WhyNotCleanable; "" when it can be cleaned
    } rows[] = {
        {0, IsTheStick, "rescue stick"},
        {1, UsableForAll, ""},
        {2, UsableReportOnly, "hibernated"},
        {3, NotUsable, "BitLocker"},
        {4, NotUsable, "damaged file system"},
        {5, NotWindows, "no Windows"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(pc[row.index].device);
        EXPECT_EQ(row.usability, UsabilityOf(pc[row.index]));
        const std::string why = WhyNotCleanable(pc[row.index]);
        if (*row.because == '\0') EXPECT_EQ("", why);
        else EXPECT_NE(std::string::npos, why.find(row.because)) << why;
        EXPECT_EQ(std::string::npos, why.find('\x1b')) << "the driver's words are shown without control bytes";
    }
    EXPECT_EQ((std::vector<std::size_t>{1, 2}), WindowsVolumes(pc));
    EXPECT_EQ("Disk sdb (ATA Disk), partition 2, 500 GB, NTFS", VolumeTitle(pc[1]));
    EXPECT_EQ("Windows 7 Professional, Service Pack 1 (build 7601); users: alice, bob", VolumeContents(pc[1]));
}

TEST(RescueVolume, WindowsVersionAndUsersFromTheHive)
{
    const struct {
        WindowsVersionValues values;
        const char* text;
    } rows[] = {
        {{"Windows 10 Pro", "22H2", "", "19045", "6.3"}, "Windows 10 Pro, version 22H2 (build 19045)"},
        // Windows 11 still names itself Windows 10.
        {{"Windows 10 Home", "23H2", "", "22631", "6.3"}, "Windows 11 Home, version 23H2 (build 22631)"},
        {{"Windows XP", "", "Service Pack 3", "2600", "5.1"}, "Windows XP, Service Pack 3 (build 2600)"},
        {{"", "", "", "1381", "4.0"}, "Windows NT 4.0 (build 1381)"},
        {{"", "", "", "", ""}, "Windows"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.text, WindowsVersionText(row.values));

    EXPECT_EQ("alice", ProfileUser("S-1-5-21-1-2-3-1001", "C:\\Users\\alice"));
    EXPECT_EQ("Bob", ProfileUser("S-1-5-21-1-2-3-1002", "%SystemDrive%\\Documents and Settings\\Bob\\"));
    EXPECT_EQ("", ProfileUser("S-1-5-18", "%systemroot%\\system32\\config\\systemprofile"));
    EXPECT_EQ("", ProfileUser("S-1-5-20", "C:\\Windows\\ServiceProfiles\\NetworkService"));
}

TEST(RescueVolume, HibernationHeader)
{
    const struct {
        const char* bytes;
        std::size_t size;
        bool hibernated;
    } rows[] = {
        {"HIBR....", 8, true}, {"hibr....", 8, true}, {"wake....", 8, false},
        {"RSTR....", 8, false}, {"\0\0\0\0", 4, false}, {"HIBR", 3, false}, {"Hibr", 4, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.hibernated, IsHibernationHeader(reinterpret_cast<const unsigned char*>(row.bytes), row.size))
            << row.bytes;
    }
}

TEST(RescueAuto, Words)
{
    AutoPlan plan = NoAutoPlan();
    ReadAutoWords("BOOT_IMAGE=/boot/vmlinuz quiet console=ttyS0", plan);
    EXPECT_EQ(AutoNone, plan.mode) << "others' words are not ours";
    EXPECT_TRUE(plan.problems.empty());

    ReadAutoWords("quellor.auto=report\nquellor.windows=sdb2,2\r\n", plan);
    EXPECT_EQ(AutoReport, plan.mode);
    EXPECT_FALSE(plan.all);
    EXPECT_EQ((std::vector<std::string>{"sdb2", "2"}), plan.windows);
    EXPECT_EQ(AfterPowerOff, plan.after);

    // The kernel's command line, read after the file, has the last word.
    ReadAutoWords("Quellor.Auto=Clean quellor.windows=all quellor.after=stay quellor.screen=ttyS0", plan);
    EXPECT_EQ(AutoClean, plan.mode);
    EXPECT_TRUE(plan.all);
    EXPECT_TRUE(plan.windows.empty());
    EXPECT_EQ(AfterStay, plan.after);
    EXPECT_TRUE(plan.problems.empty()) << plan.problems[0];

    ReadAutoWords("quellor.auto=wipe quellor.after=later quellor.windows= quellor.colour=red", plan);
    EXPECT_EQ(AutoClean, plan.mode) << "a word not understood changes nothing";
    EXPECT_EQ((std::vector<std::string>{"quellor.auto=wipe", "quellor.after=later", "quellor.windows=",
                                        "quellor.colour=red"}),
              plan.problems);
}

TEST(RescueAuto, WhatEachWindowsGets)
{
    const std::vector<Volume> pc = SamplePc();
    std::vector<std::string> unmatched;
    AutoPlan plan = NoAutoPlan();
    ReadAutoWords("quellor.auto=clean", plan);
    std::vector<AutoChoice> choices = ChooseForPlan(plan, pc, unmatched);
    // The Windows to clean, the hibernated one reported on only, the
    // unreadable ones named with why; the stick and the data partition not
    // at all.
    ASSERT_EQ(4u, choices.size());
    EXPECT_EQ(1u, choices[0].volume);
    EXPECT_TRUE(choices[0].clean);
    EXPECT_EQ("", choices[0].skipped);
    EXPECT_EQ(2u, choices[1].volume);
    EXPECT_FALSE(choices[1].clean);
    EXPECT_EQ("", choices[1].skipped);
    EXPECT_EQ(3u, choices[2].volume);
    EXPECT_NE(std::string::npos, choices[2].skipped.find("BitLocker"));
    EXPECT_EQ(4u, choices[3].volume);
    EXPECT_NE(std::string::npos, choices[3].skipped.find("damaged"));

    plan = NoAutoPlan();
    ReadAutoWords("quellor.auto=report quellor.windows=2,sdb2,sdd2,9,sdz1", plan);
    choices = ChooseForPlan(plan, pc, unmatched);
    ASSERT_EQ(3u, choices.size());
    EXPECT_EQ(2u, choices[0].volume) << "the second Windows on the screen";
    EXPECT_EQ(1u, choices[1].volume);
    EXPECT_FALSE(choices[1].clean) << "report only";
    EXPECT_EQ(5u, choices[2].volume);
    EXPECT_NE(std::string::npos, choices[2].skipped.find("no Windows"));
    EXPECT_EQ((std::vector<std::string>{"9", "sdz1"}), unmatched);

    EXPECT_EQ("quellor-rescue: sdb2 cleaned: all ?[2J", AutoResultLine(pc[1], "cleaned", "all \x1b[2J"));
}

TEST(RescueScanReport, JsonObjects)
{
    std::map<std::string, std::string> members;
    ASSERT_TRUE(ReadJsonObject(
        R"({"type":"detection","path":"C:\\Users\\\u00e9\"x\".exe","threat":"W32/Murkel.A.Trojan","quarantine":"kept","n":12,"list":["a,b",{"c":"}"}],"ok":true})",
        members));
    EXPECT_EQ("detection", members["type"]);
    EXPECT_EQ("C:\\Users\\\xc3\xa9\"x\".exe", members["path"]);
    EXPECT_EQ("12", members["n"]);
    EXPECT_EQ(R"(["a,b",{"c":"}"}])", members["list"]);
    EXPECT_EQ("true", members["ok"]);
    EXPECT_TRUE(ReadJsonObject("{}", members));
    EXPECT_TRUE(members.empty());
    const char* const broken[] = {"", "not json", R"({"a":)", R"({"a":"b")", R"({"a" "b"})", R"({"a":"\q"})",
                                  R"({"a":1} trailing)", R"({"a":"\u12"})"};
    for (const char* line : broken) EXPECT_FALSE(ReadJsonObject(line, members)) << line;
}

// The lines of one cleaning, as quellor-scan --offline --remove --json
// prints them.
const char* const kCleaningLines[] = {
    R"({"type":"original","path":"C:\\windows\\system32\\Config\\software","quarantine":"kept","quarantineId":"6553F1A0"})",
    R"({"type":"system","line":"System Registry     W32/MurkEl.Trojan removed"})",
    R"({"type":"detection","path":"C:\\windows\\system32\\evil.exe","threat":"W32/Murkel.A.Trojan","outcome":"removed","quarantine":"kept","quarantineId":"6553F1A1","line":"C:\\windows\\system32\\evil.exe     W32/Murkel.A.Trojan removed"})",
    R"({"type":"detection","path":"C:\\big.exe","threat":"W32/Murkel.A.Trojan","outcome":"removed","quarantine":"not quarantined","line":"C:\\big.exe     W32/Murkel.A.Trojan removed"})",
    "garbage that is not JSON",
    R"({"type":"summary","scanned":812,"infected":2,"removed":2,"problems":1,"notQuarantined":1,"completed":true,"restartNeeded":false,"memoryScanned":false,"notAvailable":["memory","services"],"exitStatus":5})",
};

TEST(RescueScanReport, ACleaningReadLineByLine)
{
    ScanReport report;
    report.clean = true;
    for (const char* line : kCleaningLines) TakeScanLine(report, line);
    EndScan(report, 5);
    EXPECT_TRUE(report.finished);
    EXPECT_EQ(2, report.files);
    EXPECT_EQ(1, report.registry);
    EXPECT_EQ(1, report.originalsKept);
    EXPECT_EQ(1, report.notQuarantined);
    EXPECT_EQ(812, report.scanned);
    EXPECT_EQ(2, report.removed);
    ASSERT_EQ(3u, report.results.size());
    EXPECT_EQ("C:\\windows\\system32\\evil.exe     W32/Murkel.A.Trojan removed", report.results[1]);
    EXPECT_EQ("cleaned", OutcomeWord(report));
    const std::vector<std::string> outcome = ScanOutcome(report);
    ASSERT_GE(outcome.size(), 3u);
    EXPECT_EQ("812 files scanned, 2 infected files found, 1 registry entry.", outcome[0]);
    EXPECT_EQ("2 files removed, the registry entries removed.", outcome[1]);
    // A file removed without its copy: the screen does not claim that
    // everything is kept.
    EXPECT_EQ("1 file was removed without a copy in the quarantine: see the log.", outcome[2]);
    EXPECT_EQ(outcome.end(), std::find(outcome.begin(), outcome.end(),
                                       "Everything removed is kept in the quarantine on the stick, and can be restored."));

    // The same lines, but the scanner was killed before its summary, or its
    // exit status is not the one the summary announced.
    ScanReport killed;
    for (std::size_t i = 0; i + 1 < sizeof kCleaningLines / sizeof kCleaningLines[0]; ++i) {
        TakeScanLine(killed, kCleaningLines[i]);
    }
    EndScan(killed, -1);
    EXPECT_EQ("failed", OutcomeWord(killed));
    ScanReport mismatched;
    for (const char* line : kCleaningLines) TakeScanLine(mismatched, line);
    EndScan(mismatched, 2);
    EXPECT_EQ("failed", OutcomeWord(mismatched));
}

TEST(RescueScanReport, OutcomeWords)
{
    const struct {
        const char* summary;
        bool clean;
        const char* problem;
        const char* word;
    } rows[] = {
        {R"({"type":"summary","scanned":5,"infected":0,"problems":0,"completed":true,"exitStatus":0})", false, "",
         "clean"},
        {R"({"type":"summary","scanned":5,"infected":2,"problems":0,"completed":true,"exitStatus":1})", false, "",
         "found"},
        {R"({"type":"summary","scanned":5,"infected":2,"removed":2,"problems":0,"completed":true,"exitStatus":1})",
         true, "", "cleaned"},
        {R"({"type":"summary","scanned":5,"infected":2,"problems":1,"completed":true,"exitStatus":1})", true, "",
         "incomplete"},
        {R"({"type":"summary","scanned":5,"infected":0,"problems":0,"completed":true,"exitStatus":2})", true,
         "quellor-scan: registry hive X was not closed cleanly: it is only read", "incomplete"},
        {R"({"type":"summary","scanned":5,"infected":0,"problems":0,"completed":false,"exitStatus":2})", false, "",
         "incomplete"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.summary);
        ScanReport report;
        report.clean = row.clean;
        TakeScanLine(report, row.summary);
        TakeScanProblem(report, row.problem);
        std::map<std::string, std::string> members;
        ReadJsonObject(row.summary, members);
        EndScan(report, std::stoi(members["exitStatus"]));
        EXPECT_EQ(row.word, OutcomeWord(report));
    }
    ScanReport report;
    TakeScanProblem(report, "quellor-scan: hive damaged");
    EXPECT_EQ((std::vector<std::string>{"hive damaged"}), report.problems);
}

struct MenuRun {
    std::vector<Volume> volumes = SamplePc();
    MenuState state;
    MenuAction Press(MenuKey key, char letter = 0) { return MenuStep(state, volumes, key, letter); }
};

TEST(RescueMenu, FromTheListToACleaning)
{
    MenuRun run;
    EXPECT_EQ(ActionNone, run.Press(KeyUp)) << "already at the top";
    EXPECT_EQ(ActionRedraw, run.Press(KeyDown));
    EXPECT_EQ(ActionNone, run.Press(KeyDown)) << "two Windows only";
    EXPECT_EQ(ActionRedraw, run.Press(KeyUp));
    EXPECT_EQ(ActionRedraw, run.Press(KeyEnter));
    EXPECT_EQ(ScreenAction, run.state.screen);
    EXPECT_EQ(1u, run.state.chosen);
    EXPECT_EQ(ActionNone, run.Press(KeyOther, 'x'));
    EXPECT_EQ(ActionRedraw, run.Press(KeyOther, '2'));
    EXPECT_EQ(ScreenConfirm, run.state.screen);
    EXPECT_EQ(ActionNone, run.Press(KeyEnter)) << "Enter alone never starts a cleaning";
    EXPECT_EQ(ActionRedraw, run.Press(KeyOther, 'n'));
    EXPECT_EQ(ScreenAction, run.state.screen);
    EXPECT_EQ(ActionRedraw, run.Press(KeyOther, '2'));
    EXPECT_EQ(ActionClean, run.Press(KeyOther, 'Y'));
    EXPECT_EQ(ScreenScanning, run.state.screen);
    EXPECT_EQ(ActionNone, run.Press(KeyOther, 'p')) << "no power off during a scan";
    EXPECT_EQ(ActionStop, run.Press(KeyOther, 's'));
    EXPECT_EQ(ActionNone, run.Press(KeyOther, 's')) << "asked once";
    MenuScanEnded(run.state);
    EXPECT_EQ(ScreenResults, run.state.screen);
    EXPECT_EQ(ActionPowerOff, run.Press(KeyOther, 'P'));
    EXPECT_EQ(ActionRestart, run.Press(KeyOther, 'r'));
    EXPECT_EQ(ActionLookAgain, run.Press(KeyEnter));
    EXPECT_EQ(ScreenList, run.state.screen);
}

TEST(RescueMenu, CleaningIsNotOfferedWhereItCannotBeDone)
{
    MenuRun hibernated;
    hibernated.Press(KeyDown);
    hibernated.Press(KeyEnter);
    EXPECT_EQ(2u, hibernated.state.chosen);
    EXPECT_EQ(ActionNone, hibernated.Press(KeyOther, '2'));
    EXPECT_EQ(ScreenAction, hibernated.state.screen);
    EXPECT_EQ(ActionReport, hibernated.Press(KeyOther, '1'));

    MenuRun noStick;
    noStick.state.stickWritable = false;
    noStick.Press(KeyEnter);
    EXPECT_EQ(ActionNone, noStick.Press(KeyOther, '2'));
    const std::vector<std::string> screen = RenderMenu(noStick.state, noStick.volumes, ScanReport(), 0,
                                                       StickPlaces{"L", "Q", false});
    std::string all;
    for (const std::string& line : screen) all += line + "\n";
    EXPECT_NE(std::string::npos, all.find("The stick cannot be written")) << all;

    MenuRun nothing;
    nothing.volumes = {SamplePc()[0], SamplePc()[5]};
    EXPECT_EQ(ActionNone, nothing.Press(KeyEnter)) << "no Windows to choose";
    EXPECT_EQ(ActionLookAgain, nothing.Press(KeyOther, 'L'));
}

TEST(RescueMenu, EveryScreenFitsAndShowsNoControlByte)
{
    MenuRun run;
    run.volumes[1].diskModel = std::string(200, 'M') + "\x1b]0;title\x07";
    run.volumes[1].users = std::vector<std::string>(40, "user\r\nwith a long name");
    ScanReport report;
    report.clean = true;
    for (int i = 0; i < 60; ++i) report.results.push_back("C:\\" + std::string(150, 'x') + "\x1b[31m     removed");
    report.problems = {std::string(300, 'p')};
    report.finished = true;
    report.completed = true;
    const MenuScreen screens[] = {ScreenList, ScreenAction, ScreenConfirm, ScreenScanning, ScreenResults};
    for (MenuScreen screen : screens) {
        SCOPED_TRACE(screen);
        run.state.screen = screen;
        run.state.chosen = 1;
        const std::vector<std::string> lines = RenderMenu(run.state, run.volumes, report, 75, StickPlaces{"L", "Q", true});
        EXPECT_EQ(kScreenHeight, lines.size());
        for (const std::string& line : lines) {
            EXPECT_LE(TextColumns(line), kScreenWidth) << line;
            for (char c : line) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20) << line;
        }
    }
    run.state.screen = ScreenScanning;
    const std::vector<std::string> scanning = RenderMenu(run.state, run.volumes, report, 75, StickPlaces{"L", "Q", true});
    EXPECT_NE(std::string::npos, scanning[3].find("Time: 1:15")) << scanning[3];
    EXPECT_EQ("S: stop the scan", scanning.back());
}

TEST(RescueText, Shapes)
{
    EXPECT_EQ("a?b?c", ShownText("a\x1b" "b\x7f" "c"));
    EXPECT_EQ("caf\xc3\xa9", ShownText("caf\xc3\xa9"));
    const struct {
        std::uint64_t bytes;
        const char* text;
    } sizes[] = {{0, "0 bytes"}, {999, "999 bytes"}, {1500, "1.5 kB"}, {64000000, "64 MB"},
                 {512110190592ull, "512 GB"}, {2000398934016ull, "2.0 TB"}};
    for (const auto& row : sizes) EXPECT_EQ(row.text, SizeText(row.bytes));
    EXPECT_EQ("abcdefg", FitText("abcdefg", 7));
    EXPECT_EQ("abc...", FitText("abcdefg", 6));
    EXPECT_EQ("\xc3\xa9\xc3\xa9\xc3\xa9...", FitText("\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 6));
    EXPECT_EQ((std::vector<std::string>{"one two", "three", "abcdefghij", "klm"}),
              WrapText("one two three abcdefghijklm", 10));
    EXPECT_EQ((std::vector<std::string>{""}), WrapText("", 10));
}

}  // namespace
