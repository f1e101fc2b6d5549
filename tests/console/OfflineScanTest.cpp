// quellor-scan --offline ROOT run as a program over a Windows disk made in
// a scratch folder (tests/console/WindowsDisk.h): the disk's files and the
// registry of its machine, of both its users and of both views of its
// 64-bit Software cleaned, every other part of each hive as it was, the
// hives' originals in the quarantine; a report that changes nothing; a
// disk that cannot be changed, damaged and dirty hives, a Windows 95/98/ME
// disk, and the command lines that are refused.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "app/console/ConsoleScan.h"
#include "console/FullStore.h"
#include "console/HiveDump.h"
#include "console/ScannerRun.h"
#include "console/TempFolder.h"
#include "console/WindowsDisk.h"
#include "scan/NeuteredCopy.h"

namespace {

using namespace windowsdisk;

const char* const kHives[] = {kSoftware, kSystem, kAliceHive, kBobHive};
// The hives a full cleaning changes, so keeps in the quarantine.
const char* const kChangedHives[] = {kSoftware, kAliceHive, kBobHive};

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& start)
{
    std::vector<std::string> found;
    for (const std::string& line : Lines(text)) {
        if (line.rfind(start, 0) == 0) found.push_back(line);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// What --quarantine-list --json says of each entry: "threat | path".
std::vector<std::string> StoreContents(const std::string& store)
{
    Outcome listed = RunScanner({"--quarantine", store, "--quarantine-list", "--json"});
    EXPECT_EQ(kExitClean, listed.status) << listed.err;
    std::vector<std::string> entries;
    const std::regex entry("\\{\"type\":\"quarantined\",\"id\":\"([0-9A-F]{8})\",\"path\":\"([^\"]*)\","
                           "\"threat\":\"([^\"]*)\".*");
    for (const std::string& line : Lines(listed.out)) {
        std::smatch match;
        if (std::regex_match(line, match, entry)) entries.push_back(match[3].str() + " | " + match[2].str());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::string IdOf(const std::string& store, const std::string& path)
{
    Outcome listed = RunScanner({"--quarantine", store, "--quarantine-list"});
    for (const std::string& line : Lines(listed.out)) {
        if (line.size() > 8 && line.compare(line.size() - path.size(), path.size(), path) == 0) return line.substr(0, 8);
    }
    return std::string();
}

bool AnyNewHiveFileBelow(const std::string& root)
{
    for (const auto& file : FilesBelow(root)) {
        if (file.first.find(".quellor-new") != std::string::npos) return true;
    }
    return false;
}

// ------------------------------------------------------------ a full cleaning

TEST(OfflineScan, RemoveCleansFilesAndEveryHiveAndKeepsTheOriginals)
{
    TempFolder temp;
    const Disk disk = MakeDisk(temp / "disk");
    const std::string store = temp / "store";
    std::map<std::string, std::vector<std::string>> before;
    std::map<std::string, std::string> bytesBefore;
    for (const char* hive : kHives) {
        before[hive] = Dump(disk.Path(hive));
        bytesBefore[hive] = ReadFileText(disk.Path(hive));
    }
    const auto filesBefore = FilesBelow(disk.root);

    Outcome outcome = RunScanner({"--offline", disk.root, "--remove", "--quarantine", store});
    EXPECT_EQ(kExitFound, outcome.status);
    EXPECT_EQ("", outcome.err);
    const std::vector<std::string> out = Lines(outcome.out);
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ("Not available on an offline Windows disk: memory, services", out[0]);
    EXPECT_EQ("Offline Windows in " + disk.Path("windows") + " (64-bit): registry of the machine and of 2 users",
              out[1]);
    EXPECT_EQ(std::string("Profile C:\\Users\\carol (") + kCarolSid +
                  ") has no NTUSER.DAT on this disk: that user's registry is not cleaned",
              out[2]);
    // The service account's profile has no hive of its own: nothing to say.
    EXPECT_EQ(std::string::npos, outcome.out.find("S-1-5-18"));
    // In the order of the sorted lines.
    EXPECT_EQ((std::vector<std::string>{disk.Path(kHelper) + "     " + kPeThreat + " removed",
                                        disk.Path(kPhotos) + "     " + kZipThreat + " removed",
                                        disk.Path(kEvil) + "     " + kPeThreat + " removed"}),
              LinesStartingWith(outcome.out, disk.root));
    EXPECT_EQ(RegistryLines(), LinesStartingWith(outcome.out, "System Registry"));
    // One line for each changed hive, before its first change.
    std::vector<std::string> kept;
    for (const std::string& line : LinesStartingWith(outcome.out, "Kept in the quarantine as ")) {
        std::smatch match;
        const std::regex form("Kept in the quarantine as [0-9A-F]{8} before its first change: (.*)");
        kept.push_back(std::regex_match(line, match, form) ? match[1].str() : "malformed: " + line);
    }
    std::vector<std::string> changed;
    for (const char* hive : kChangedHives) changed.push_back(disk.Path(hive));
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ(changed, kept);

    // Exactly the traces are gone; every other byte of meaning is the same.
    for (const char* hive : kHives) {
        SCOPED_TRACE(hive);
        EXPECT_EQ(WithoutTraces(before[hive], hive), Dump(disk.Path(hive)));
    }
    EXPECT_EQ(bytesBefore[kSystem], ReadFileText(disk.Path(kSystem)));
    EXPECT_FALSE(AnyNewHiveFileBelow(disk.root));
    auto expectedFiles = filesBefore;
    for (const char* gone : {kEvil, kHelper, kPhotos}) expectedFiles.erase(gone);
    auto filesAfter = FilesBelow(disk.root);
    for (const char* hive : kHives) expectedFiles.erase(hive), filesAfter.erase(hive);
    filesAfter.erase(kDiskLog);
    EXPECT_EQ(expectedFiles, filesAfter);

    // The quarantine holds the infected files and the changed hives as they
    // were, under the paths the user knows.
    std::vector<std::string> expectedStore = {
        std::string(kPeThreat) + " | " + disk.Path(kEvil),
        std::string(kPeThreat) + " | " + disk.Path(kHelper),
        std::string(kZipThreat) + " | " + disk.Path(kPhotos),
    };
    for (const char* hive : kChangedHives) expectedStore.push_back("registry hive before cleaning | " + disk.Path(hive));
    std::sort(expectedStore.begin(), expectedStore.end());
    EXPECT_EQ(expectedStore, StoreContents(store));
    const std::string id = IdOf(store, disk.Path(kSoftware));
    ASSERT_FALSE(id.empty());
    Outcome restored = RunScanner({"--quarantine", store, "--restore", id, "--to", temp / "SOFTWARE.before"});
    EXPECT_EQ(kExitClean, restored.status) << restored.err;
    EXPECT_EQ(bytesBefore[kSoftware], ReadFileText(temp / "SOFTWARE.before"));

    // Nothing is left to find.
    Outcome again = RunScanner({"--offline", disk.root, "--remove", "--quarantine", store});
    EXPECT_EQ(kExitClean, again.status) << again.out << again.err;
    EXPECT_EQ("", again.err);
    EXPECT_TRUE(LinesStartingWith(again.out, "System Registry").empty());
    EXPECT_TRUE(LinesStartingWith(again.out, "Kept").empty());
}

TEST(OfflineScan, A32BitWindowsHasOneViewOfItsSoftware)
{
    TempFolder temp;
    const Disk disk = MakeDisk(temp / "disk", false);
    const std::vector<std::string> software = Dump(disk.Path(kSoftware));
    Outcome outcome = RunScanner({"--offline", disk.root, "--remove", "--quarantine", temp / "store"});
    EXPECT_EQ(kExitFound, outcome.status) << outcome.err;
    EXPECT_EQ(1u, LinesStartingWith(outcome.out, "Offline Windows in " + disk.Path("windows") +
                                                     ": registry of the machine and of 2 users")
                      .size())
        << outcome.out;
    EXPECT_EQ(WithoutTraces(software, kSoftware), Dump(disk.Path(kSoftware)));
    // No 32-bit view: its rule and its start-up value are not there to go.
    EXPECT_EQ(RegistryLines().size() - 2, LinesStartingWith(outcome.out, "System Registry").size());
}

TEST(OfflineScan, WithoutTheQuarantineTheHivesAreCleanedAndNothingIsKept)
{
    TempFolder temp;
    const Disk disk = MakeDisk(temp / "disk");
    const std::vector<std::string> software = Dump(disk.Path(kSoftware));
    Outcome outcome = RunScanner({"--offline", disk.root, "--remove", "--no-quarantine"});
    EXPECT_EQ(kExitFound, outcome.status) << outcome.err;
    EXPECT_EQ(std::string::npos, outcome.out.find("quarantine")) << outcome.out;
    EXPECT_EQ(WithoutTraces(software, kSoftware), Dump(disk.Path(kSoftware)));
}

// A hive the quarantine cannot take is not changed: without its original
// the cleaning could not be undone. A file is still removed (its copy's
// absence is named), as elsewhere.
TEST(OfflineScan, AnOriginalTheQuarantineCannotTakeIsNamedAndItsHiveIsNotChanged)
{
    TempFolder temp;
    const Disk disk = MakeDisk(temp / "disk");
    const std::string store = temp.Folder("store");
    ASSERT_TRUE(FillStore(temp, "store"));
    std::map<std::string, std::string> bytes;
    for (const char* hive : kHives) bytes[hive] = ReadFileText(disk.Path(hive));

    Outcome outcome = RunScanner({"--offline", disk.root, "--remove", "--quarantine", store});
    // Files removed without their copies kept: the status says so.
    EXPECT_EQ(kExitFound + kExitNotKept, outcome.status);
    std::vector<std::string> expected;
    for (const char* path : {kSoftware, kAliceHive, kBobHive, kEvil, kHelper, kPhotos}) {
        expected.push_back("Not quarantined (the quarantine is full): " + disk.Path(path));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, LinesStartingWith(outcome.out, "Not quarantined"));
    EXPECT_TRUE(LinesStartingWith(outcome.out, "Kept").empty());
    std::vector<std::string> refused;
    for (const char* hive : kChangedHives) {
        refused.push_back("quellor-scan: registry hive " + disk.Path(hive) +
                          " was not changed: its original could not be kept in the quarantine");
    }
    std::sort(refused.begin(), refused.end());
    EXPECT_EQ(refused, LinesStartingWith(outcome.err, "quellor-scan: registry hive"));
    for (const char* hive : kHives) EXPECT_EQ(bytes[hive], ReadFileText(disk.Path(hive))) << hive;
    EXPECT_FALSE(Exists(disk.Path(kEvil)));

    // In JSON, an object for each original.
    const Disk second = MakeDisk(temp / "second");
    Outcome json = RunScanner({"--offline", second.root, "--remove", "--json", "--quarantine", store});
    EXPECT_NE(std::string::npos,
              json.out.find("{\"type\":\"original\",\"path\":\"" + second.Path(kSoftware) +
                            "\",\"quarantine\":\"not quarantined\",\"quarantineReason\":\"the quarantine is "
                            "full\"}"))
        << json.out;
}

// The lines of a run log from the header of its run `index` (0: the
// first) to the next header.
std::vector<std::string> RunInLog(const std::string& log, std::size_t index)
{
    std::vector<std::string> run;
    std::size_t seen = 0;
    for (std::string line : Lines(ReadFileText(log))) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("=== Quellor run ", 0) == 0) ++seen;
        if (seen == index + 1) run.push_back(line);
    }
    return run;
}

TEST(OfflineScan, ARemovalLeavesItsRecordOnTheDiskWhereTheDialogKeepsItsOwn)
{
    TempFolder temp;
    const Disk disk = MakeDisk(temp / "disk");
    const std::string store = temp / "store";
    const std::string diskLog = disk.Path(kDiskLog);

    // A report changes nothing, so leaves nothing on the disk.
    RunScanner({"--offline", disk.root, "--log", temp / "report.log"});
    EXPECT_FALSE(Exists(disk.Path("programdata/Quellor")));

    Outcome removed = RunScanner({"--offline", disk.root, "--remove", "--quarantine", store});
    EXPECT_EQ(kExitFound, removed.status) << removed.err;
    const std::vector<std::string> record = RunInLog(diskLog, 0);
    ASSERT_GE(record.size(), 4u) << ReadFileText(diskLog);
    EXPECT_EQ("Program: quellor-scan 7.0 (64-bit)", record[1]);
    EXPECT_EQ(0u, record[2].find("System: Windows NT 6.1 build 7601 (offline disk) from Linux ")) << record[2];
    const std::string evilLine = disk.Path(kEvil) + "     " + kPeThreat + " removed";
    const auto evil = std::find(record.begin(), record.end(), evilLine);
    ASSERT_NE(record.end(), evil) << ReadFileText(diskLog);
    // Its undo command names the store the run named.
    EXPECT_TRUE(std::regex_match(*(evil + 1), std::regex("    Quarantine entry ([0-9A-F]{8}) \\(undo: quellor-scan "
                                                         "--quarantine " + store + " --restore \\1\\)")))
        << *(evil + 1);
    EXPECT_EQ(9, std::count_if(record.begin(), record.end(),
                               [](const std::string& line) { return line.rfind("System Registry", 0) == 0; }));
    // The hives' originals are named with their entries.
    EXPECT_EQ(3, std::count_if(record.begin(), record.end(), [](const std::string& line) {
                  return line.rfind("Kept in the quarantine as ", 0) == 0;
              }));
    EXPECT_EQ("Scanning completed", record[record.size() - 2]);

    // With a log of the user's own, the same record goes to both.
    const Disk second = MakeDisk(temp / "second");
    const std::string own = temp / "own.log";
    Outcome both = RunScanner({"--offline", second.root, "--remove", "--log", own, "--quarantine", store});
    EXPECT_EQ(kExitFound, both.status) << both.err;
    const std::vector<std::string> inOwn = RunInLog(own, 0);
    const std::vector<std::string> onDisk = RunInLog(second.Path(kDiskLog), 0);
    ASSERT_GE(inOwn.size(), 10u);
    // Each log's header line has its own time.
    EXPECT_EQ(std::vector<std::string>(inOwn.begin() + 1, inOwn.end()),
              std::vector<std::string>(onDisk.begin() + 1, onDisk.end()));
    EXPECT_TRUE(RunInLog(own, 1).empty());
}

TEST(OfflineScan, ReportOnlyChangesNothing)
{
    TempFolder temp;
    const Disk disk = MakeDisk(temp / "disk");
    const auto filesBefore = FilesBelow(disk.root);
    for (const auto& flags : std::vector<std::vector<std::string>>{{}, {"--json"}}) {
        std::vector<std::string> arguments = {"--offline", disk.root};
        arguments.insert(arguments.end(), flags.begin(), flags.end());
        SCOPED_TRACE(flags.empty() ? "text" : flags[0]);
        Outcome outcome = RunScanner(arguments);
        EXPECT_EQ(kExitFound, outcome.status);
        EXPECT_EQ("", outcome.err);
        EXPECT_EQ(std::string::npos, outcome.out.find("Registry")) << outcome.out;
        EXPECT_EQ(std::string::npos, outcome.out.find("quarantine")) << outcome.out;
        EXPECT_EQ(filesBefore, FilesBelow(disk.root));
    }
    Outcome text = RunScanner({"--offline", disk.root});
    EXPECT_EQ(3u, LinesStartingWith(text.out, disk.root).size());
    EXPECT_NE(std::string::npos, text.out.find(disk.Path(kEvil) + "     " + kPeThreat + " not disinfected"));
    Outcome json = RunScanner({"--offline", disk.root, "--json"});
    EXPECT_NE(std::string::npos, json.out.find("\"notAvailable\":[\"memory\",\"services\"]")) << json.out;
}

// ------------------------------------------------------------ disks that cannot be changed

// The folder mounted read-only at a second place for the test's life.
class ReadOnlyView {
public:
    ReadOnlyView(const std::string& folder, const std::string& view) : view_(view)
    {
        mkdir(view.c_str(), 0755);
        mounted_ = mount(folder.c_str(), view.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                   mount(nullptr, view.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    ~ReadOnlyView()
    {
        umount(view_.c_str());
    }
    bool Mounted() const { return mounted_; }

private:
    std::string view_;
    bool mounted_ = false;
};

TEST(OfflineScan, ARemovalOnAReadOnlyMountIsRefusedBeforeAnythingIsScanned)
{
    TempFolder temp;
    const Disk disk = MakeDisk(temp / "disk");
    ReadOnlyView view(disk.root, temp / "view");
    if (!view.Mounted()) GTEST_SKIP() << "no right to mount here; the decision is tested with given answers";
    const auto filesBefore = FilesBelow(disk.root);
    for (const char* action : {"--remove", "--rename"}) {
        SCOPED_TRACE(action);
        Outcome outcome = RunScanner({"--offline", temp / "view", action, "--quarantine", temp / "store"});
        EXPECT_EQ(kExitTrouble, outcome.status);
        EXPECT_EQ("", outcome.out);
        EXPECT_EQ("quellor-scan: '" + temp / "view" +
                      "' is mounted read-only, so nothing on it can be removed: mount it read-write, or scan it "
                      "without --remove and --rename\n",
                  outcome.err);
    }
    // A report needs no writing.
    Outcome report = RunScanner({"--offline", temp / "view"});
    EXPECT_EQ(kExitFound, report.status);
    EXPECT_EQ(filesBefore, FilesBelow(disk.root));
}

TEST(OfflineScan, ARemovalOnADiskThisUserCannotWriteIsRefused)
{
    TempFolder temp;
    const Disk disk = MakeDisk(temp / "disk");
    RunOptions unprivileged;
    unprivileged.unprivileged = true;
    if (geteuid() != 0) chmod(disk.root.c_str(), 0555);
    const auto filesBefore = FilesBelow(disk.root);
    Outcome outcome = RunScanner({"--offline", disk.root, "--remove", "--no-quarantine"}, unprivileged);
    EXPECT_EQ(kExitTrouble, outcome.status);
    EXPECT_EQ("", outcome.out);
    EXPECT_EQ("quellor-scan: '" + disk.root +
                  "' cannot be written to by this user, so nothing on it can be removed: run as root, or scan it "
                  "without --remove and --rename\n",
              outcome.err);
    chmod(disk.root.c_str(), 0755);
    EXPECT_EQ(filesBefore, FilesBelow(disk.root));
}

// ------------------------------------------------------------ hives that cannot be used

TEST(OfflineScan, ADamagedOrMissingSoftwareHiveIsNamedAndTheRestOfTheDiskIsCleaned)
{
    struct Damage {
        const char* name;
        bool infected;  // the disk still holds its infected files
        int status;
        const char* bytes;  // the hive's bytes then; null: the hive is gone
        const char* said;   // what the line says of it
    } const damages[] = {
        {"not a hive", true, kExitFound, "not a registry hive\n", " is damaged"},
        {"truncated", true, kExitFound, "", " is damaged"},
        {"missing", true, kExitFound, nullptr, " is missing"},
        // Nothing found, but not everything could be looked at.
        {"not a hive, clean disk", false, kExitTrouble, "regf but nothing else", " is damaged"},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        TempFolder temp;
        const Disk disk = MakeDisk(temp / "disk");
        std::string software = disk.Path(kSoftware);
        std::string damaged;
        if (!damage.bytes) {
            ASSERT_EQ(0, unlink(software.c_str()));
            // Named as the usual name, since it is not on the disk.
            software = disk.Path("windows/System32/config/SOFTWARE");
        } else {
            damaged = damage.bytes[0] ? damage.bytes : ReadFileText(software).substr(0, 4096 + 100);
            std::ofstream(software, std::ios::binary | std::ios::trunc) << damaged;
        }
        if (!damage.infected) {
            for (const char* file : {kEvil, kHelper, kPhotos}) unlink(disk.Path(file).c_str());
        }
        const std::vector<std::string> alice = Dump(disk.Path(kAliceHive));

        Outcome outcome = RunScanner({"--offline", disk.root, "--remove", "--quarantine", temp / "store"});
        EXPECT_EQ(damage.status, outcome.status);
        const std::vector<std::string> errors = Lines(outcome.err);
        ASSERT_EQ(1u, errors.size()) << outcome.err;
        EXPECT_EQ(0u, errors[0].find("quellor-scan: registry hive " + software + damage.said)) << errors[0];
        if (damage.bytes) {
            EXPECT_EQ(damaged, ReadFileText(software));
        } else {
            EXPECT_FALSE(Exists(software));
        }
        const std::vector<std::string> record = RunInLog(disk.Path(kDiskLog), 0);
        EXPECT_EQ(1, std::count(record.begin(), record.end(), errors[0].substr(std::strlen("quellor-scan: "))));
        for (const char* file : {kEvil, kHelper, kPhotos}) EXPECT_FALSE(Exists(disk.Path(file))) << file;
        // The users' hives are found in the usual places and still cleaned.
        EXPECT_NE(std::string::npos,
                  outcome.out.find("The machine's list of profiles cannot be read: the users' registry is taken "
                                   "from the usual profile folders"));
        if (damage.infected) {
            const std::vector<std::string> after = Dump(disk.Path(kAliceHive));
            EXPECT_EQ(0, std::count_if(after.begin(), after.end(), [](const std::string& line) {
                          return line.find("| d3dupdate.exe |") != std::string::npos;
                      }));
            EXPECT_EQ(alice.size() - 2, after.size());
        }
    }
}

TEST(OfflineScan, AHiveWindowsDidNotCloseIsReportedAndNotWritten)
{
    TempFolder temp;
    const Disk disk = MakeDisk(temp / "disk");
    const std::string alice = disk.Path(kAliceHive);
    std::string error;
    ASSERT_TRUE(SetHiveHeaderField(alice, kHiveSequence1Offset, 99, error)) << error;
    const std::string aliceBytes = ReadFileText(alice);
    const std::vector<std::string> bob = Dump(disk.Path(kBobHive));

    Outcome outcome = RunScanner({"--offline", disk.root, "--remove", "--quarantine", temp / "store"});
    EXPECT_EQ(kExitFound, outcome.status);
    const std::vector<std::string> errors = Lines(outcome.err);
    ASSERT_EQ(1u, errors.size()) << outcome.err;
    EXPECT_EQ(0u, errors[0].find("quellor-scan: registry hive " + alice + " was not closed cleanly")) << errors[0];
    EXPECT_EQ(aliceBytes, ReadFileText(alice));
    EXPECT_EQ(WithoutTraces(bob, kBobHive), Dump(disk.Path(kBobHive)));
    EXPECT_EQ(std::string::npos, outcome.out.find("before its first change: " + alice));
    EXPECT_FALSE(Exists(disk.Path(kEvil)));
}

TEST(OfflineScan, AHiveThatCannotBeWrittenIsNamedOnceAndTheRestIsCleaned)
{
    TempFolder temp;
    const Disk disk = MakeDisk(temp / "disk");
    const std::string store = temp.Folder("store");
    GiveToUnprivileged(disk.root);
    GiveToUnprivileged(store);
    // Alice's folder is not the scanner's to write: her hive's new copy
    // cannot be made beside it.
    const std::string aliceFolder = disk.Path("Users/Alice");
    if (geteuid() == 0) {
        ASSERT_EQ(0, lchown(aliceFolder.c_str(), 0, 0));
    }
    ASSERT_EQ(0, chmod(aliceFolder.c_str(), 0555));
    const std::string alice = disk.Path(kAliceHive);
    const std::string aliceBytes = ReadFileText(alice);
    const std::vector<std::string> bob = Dump(disk.Path(kBobHive));
    RunOptions unprivileged;
    unprivileged.unprivileged = true;

    Outcome outcome = RunScanner({"--offline", disk.root, "--remove", "--quarantine", store}, unprivileged);
    chmod(aliceFolder.c_str(), 0755);
    EXPECT_EQ(kExitFound, outcome.status);
    // Two of her values were to go: one line says the hive was not written.
    const std::vector<std::string> errors = Lines(outcome.err);
    ASSERT_EQ(1u, errors.size()) << outcome.err;
    EXPECT_EQ(0u,
              errors[0].find("quellor-scan: registry hive " + alice + " was not changed: the new file cannot be made"))
        << errors[0];
    EXPECT_EQ(aliceBytes, ReadFileText(alice));
    EXPECT_EQ(WithoutTraces(bob, kBobHive), Dump(disk.Path(kBobHive)));
    EXPECT_FALSE(Exists(disk.Path(kPhotos)));
    // The disk's record names it too, within the run.
    const std::vector<std::string> record = RunInLog(disk.Path(kDiskLog), 0);
    const auto named = std::find(record.begin(), record.end(), errors[0].substr(std::strlen("quellor-scan: ")));
    EXPECT_NE(record.end(), named) << ReadFileText(disk.Path(kDiskLog));
    EXPECT_LT(named, std::find(record.begin(), record.end(), "Scanning completed"));
}

TEST(OfflineScan, AWindows9xDiskHasItsFilesCleanedAndSaysItsRegistryIsNot)
{
    TempFolder temp;
    const std::string root = temp.Folder("disk");
    temp.Write("disk/WINDOWS/SYSTEM.DAT", "CREG machine");
    temp.Write("disk/WINDOWS/USER.DAT", "CREG user");
    temp.Write("disk/WINDOWS/STARTM~1/evil.exe", InfectedPe());
    temp.Write("disk/MYDOCU~1/letter.txt", "letter");

    Outcome outcome = RunScanner({"--offline", root, "--remove", "--quarantine", temp / "store"});
    EXPECT_EQ(kExitFound, outcome.status);
    EXPECT_EQ("", outcome.err);
    EXPECT_EQ((std::vector<std::string>{"Not available on an offline Windows 95/98/ME disk: memory, registry, "
                                        "services (files only)"}),
              LinesStartingWith(outcome.out, "Not available"));
    EXPECT_EQ(1u, LinesStartingWith(outcome.out, "Offline Windows 95/98/ME in " + root + "/WINDOWS").size());
    EXPECT_FALSE(Exists(root + "/WINDOWS/STARTM~1/evil.exe"));
    // Its dialog keeps its data in the Windows folder.
    EXPECT_NE(std::string::npos, ReadFileText(root + "/WINDOWS/Quellor/Quellor.log")
                                     .find(root + "/WINDOWS/STARTM~1/evil.exe     " + kPeThreat + " removed"));
    EXPECT_EQ("CREG machine", ReadFileText(root + "/WINDOWS/SYSTEM.DAT"));
    EXPECT_EQ("letter", ReadFileText(root + "/MYDOCU~1/letter.txt"));
}

// ------------------------------------------------------------ command lines

TEST(OfflineScan, CommandLinesAndFoldersThatAreRefused)
{
    TempFolder temp;
    const Disk disk = MakeDisk(temp / "disk");
    const std::string empty = temp.Folder("empty");
    const std::string usage = "\nTry 'quellor-scan --help'.\n";
    struct Row {
        std::vector<std::string> arguments;
        std::string err;
    } const rows[] = {
        {{"--offline", disk.root, empty},
         "quellor-scan: --offline ROOT takes the place of folders and files to scan: name none beside it" + usage},
        {{"--offline"}, "quellor-scan: --offline needs the root folder of a Windows disk" + usage},
        {{"--offline", ""}, "quellor-scan: --offline needs the root folder of a Windows disk" + usage},
        {{"--offline", disk.root, "--offline", disk.root}, "quellor-scan: --offline names one disk" + usage},
        {{"--offline", disk.root, "--quarantine-list"},
         "quellor-scan: --quarantine-list takes no folder or file to scan" + usage},
        {{"--offline", temp / "missing", "--remove"},
         "quellor-scan: cannot scan '" + temp / "missing" + "': No such file or directory\n"},
        {{"--offline", disk.Path(kEvil)},
         "quellor-scan: cannot scan '" + disk.Path(kEvil) + "': --offline needs the root folder of a mounted "
                                                              "Windows disk\n"},
        // An empty mount point is no clean disk.
        {{"--offline", empty, "--remove"},
         "quellor-scan: no Windows found in '" + empty +
             "' (no Windows\\System32\\config\\SOFTWARE or SYSTEM, no WINDOWS\\SYSTEM.DAT): is the disk mounted "
             "there?\n"},
    };
    const auto filesBefore = FilesBelow(disk.root);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.size() > 2 ? row.arguments[2] : row.arguments.back());
        Outcome outcome = RunScanner(row.arguments);
        EXPECT_EQ(kExitTrouble, outcome.status);
        EXPECT_EQ("", outcome.out);
        EXPECT_EQ(row.err, outcome.err);
    }
    EXPECT_EQ(filesBefore, FilesBelow(disk.root));
}

}  // namespace
