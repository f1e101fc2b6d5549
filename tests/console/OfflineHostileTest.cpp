// quellor-scan --offline ROOT run (as the superuser in CI) over a disk an
// attacker prepared, on a plain folder and on a real NTFS file system:
// links, FIFOs, devices and folders at every name the offline mode reads or
// writes, leftovers it cannot remove, a second Windows, a hive far larger
// than its header says. Nothing outside the disk, the store and the logs
// changes; whatever could not be read or written is a problem on standard
// error, in the JSON summary and in the run log, and the exit status is
// never 0; a report changes nothing on the disk at all.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "app/console/ConsoleScan.h"
#include "console/FullStore.h"
#include "console/HiveDump.h"
#include "console/HostileDisk.h"
#include "console/ScannerRun.h"

namespace {

using namespace windowsdisk;

// The lines of `text` holding `part`.
std::vector<std::string> LinesWith(const std::string& text, const std::string& part)
{
    std::vector<std::string> found;
    for (const std::string& line : Lines(text)) {
        if (line.find(part) != std::string::npos) found.push_back(line);
    }
    return found;
}

std::string EntryOf(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return "missing";
    return treesnapshot::Describe(path, st);
}

const int kKilledByAlarm = 128 + SIGALRM;

// What the lines call each kind of entry.
const char* TypeText(Hostile kind)
{
    switch (kind) {
    case Hostile::LinkToFile:
    case Hostile::LinkToFolder: return "a link";
    case Hostile::Fifo: return "a FIFO";
    case Hostile::Device: return "a device";
    case Hostile::Folder: return "a folder";
    }
    return "?";
}

using OfflineHostile = HostileDiskTest;

// Every name the offline mode reads or writes, made into what it must not
// be: nothing outside the disk changes, the entry is left as it is, and one
// problem line names it.
TEST_P(OfflineHostile, NamesThatAreNotWhatTheyShouldBeAreNamedAndNothingOutsideChanges)
{
    const Hostile all[] = {Hostile::LinkToFile, Hostile::LinkToFolder, Hostile::Fifo, Hostile::Device, Hostile::Folder};
    const Hostile notFolder[] = {Hostile::LinkToFile, Hostile::LinkToFolder, Hostile::Fifo, Hostile::Device};
    struct Row {
        const char* name;
        const char* relative;
        std::vector<Hostile> kinds;
        std::string said;  // the start of the problem line, after the disk's root
    } const rows[] = {
        {"the SOFTWARE hive", kSoftware, {std::begin(all), std::end(all)},
         std::string("registry hive {root}/") + kSoftware + " is damaged and was left alone: it is {type}, not a file"},
        {"a user's hive", kAliceHive, {std::begin(all), std::end(all)},
         std::string("registry hive {root}/") + kAliceHive +
             " is damaged and was left alone: it is {type}, not a file"},
        {"a profile folder", "Users/BOB", {std::begin(notFolder), std::end(notFolder)},
         std::string("Profile C:\\Users\\Bob (") + kBobSid +
             "): {root}/Users/BOB is {type}, not a folder: that user's registry is not read"},
        {"the disk's log folder", "programdata/Quellor", {std::begin(notFolder), std::end(notFolder)},
         "the run's record is not left on the disk: {root}/programdata/Quellor is {type}, not a folder"},
        {"the disk's log", kDiskLog, {std::begin(all), std::end(all)},
         std::string("the run's record is not left on the disk: {root}/") + kDiskLog + " is {type}, not a file"},
    };
    int index = 0;
    for (const Row& row : rows) {
        for (Hostile kind : row.kinds) {
            if (!CanMake(kind)) continue;
            SCOPED_TRACE(std::string(row.name) + " as " + HostileName(kind));
            const Disk made = NewDisk("case" + std::to_string(index++));
            MakeHostile(made, row.relative, kind);
            const std::string entry = EntryOf(made.Path(row.relative));
            const auto outsideBefore = TreeSnapshot(outside);

            Outcome outcome = RunScanner({"--offline", made.root, "--remove", "--quarantine", store});
            ASSERT_NE(kKilledByAlarm, outcome.status) << "the run did not end";
            EXPECT_NE(kExitClean, outcome.status);
            std::string said = row.said;
            said.replace(said.find("{root}"), 6, made.root);
            said.replace(said.find("{type}"), 6, TypeText(kind));
            EXPECT_EQ(1u, LinesWith(outcome.err, "quellor-scan: " + said).size()) << said << "\n" << outcome.err;
            EXPECT_EQ(outsideBefore, TreeSnapshot(outside));
            EXPECT_EQ(entry, EntryOf(made.Path(row.relative)));
            // The rest of the disk is cleaned all the same.
            EXPECT_FALSE(Exists(made.Path(kEvil)));
        }
    }
}

// The name a hive's change is committed to may be left over from an
// interrupted run, as anything at all: it is removed, or the change stops
// there; the change never writes through it.
TEST_P(OfflineHostile, ALeftoverBesideAHiveIsRemovedOrStopsItsChange)
{
    const std::string leftover = std::string(kSoftware) + ".quellor-new";
    struct Row {
        Hostile kind;
        bool cleaned;  // removed, so the hive is cleaned
    } const rows[] = {
        {Hostile::LinkToFile, true}, {Hostile::LinkToFolder, true}, {Hostile::Fifo, true},
        {Hostile::Device, true},     {Hostile::Folder, false},
    };
    int index = 0;
    for (const Row& row : rows) {
        if (!CanMake(row.kind)) continue;
        SCOPED_TRACE(HostileName(row.kind));
        const Disk made = NewDisk("leftover" + std::to_string(index++));
        MakeHostile(made, leftover, row.kind);
        const std::vector<std::string> software = Dump(made.Path(kSoftware));
        const auto outsideBefore = TreeSnapshot(outside);

        Outcome outcome = RunScanner({"--offline", made.root, "--remove", "--quarantine", store});
        ASSERT_NE(kKilledByAlarm, outcome.status);
        EXPECT_EQ(outsideBefore, TreeSnapshot(outside));
        if (row.cleaned) {
            EXPECT_EQ(WithoutTraces(software, kSoftware), Dump(made.Path(kSoftware)));
            EXPECT_FALSE(Exists(made.Path(leftover)));
            EXPECT_TRUE(LinesWith(outcome.err, made.Path(kSoftware)).empty()) << outcome.err;
        } else {
            EXPECT_EQ(software, Dump(made.Path(kSoftware)));
            EXPECT_EQ(1u, LinesWith(outcome.err, "quellor-scan: registry hive " + made.Path(kSoftware) +
                                                     " was not changed: the leftover " + made.Path(leftover) +
                                                     " cannot be removed")
                              .size())
                << outcome.err;
            EXPECT_EQ(kExitFound, outcome.status);
        }
    }
}

// A report looks at everything and changes nothing: not a leftover of an
// interrupted change, not in a second Windows folder it probes, no log
// folder made.
TEST_P(OfflineHostile, AReportLeavesTheDiskByteForByteAsItWas)
{
    const std::string software = ReadFileText(disk.Path(kSoftware));
    for (const char* leftover : {"windows/system32/Config/software.quellor-new", "Users/Alice/NTUSER.DAT.quellor-new",
                                 "WINNT/System32/config/SOFTWARE.quellor-new"}) {
        std::filesystem::create_directories(std::filesystem::path(disk.Path(leftover)).parent_path());
        std::ofstream(disk.Path(leftover), std::ios::binary) << software.substr(0, 8192);
    }
    std::ofstream(disk.Path("WINNT/System32/config/SOFTWARE"), std::ios::binary) << software;
    MakeHostile(disk, "Users/carol/NTUSER.DAT", Hostile::Fifo);
    const auto before = TreeSnapshot(disk.root);
    for (const std::vector<std::string>& extra : std::vector<std::vector<std::string>>{{}, {"--json"}, {"--quiet"}}) {
        SCOPED_TRACE(extra.empty() ? "text" : extra[0]);
        std::vector<std::string> arguments = {"--offline", disk.root, "--log", temp / "report.log"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        Outcome outcome = RunScanner(arguments);
        ASSERT_NE(kKilledByAlarm, outcome.status);
        EXPECT_EQ(kExitFound, outcome.status) << outcome.err;
        EXPECT_EQ(before, TreeSnapshot(disk.root));
    }
}

// A second Windows folder's registry is never read, so whatever starts
// from it is not cleaned: that is said, whether it holds anything or not.
TEST_P(OfflineHostile, ASecondWindowsIsAProblem)
{
    std::string error;
    std::filesystem::create_directories(disk.Path("WINNT/System32/config"));
    ASSERT_TRUE(MakeHive(disk.Path("WINNT/System32/config/SOFTWARE"),
                         {{"Microsoft\\Windows NT\\CurrentVersion", {HiveSz("SystemRoot", "C:\\WINNT")}}}, error))
        << error;
    for (const char* file : {kEvil, kHelper, kPhotos}) unlink(disk.Path(file).c_str());
    for (const std::vector<std::string>& extra :
         std::vector<std::vector<std::string>>{{}, {"--remove", "--quarantine", store}, {"--json"}, {"--quiet"}}) {
        SCOPED_TRACE(extra.empty() ? "report" : extra[0]);
        std::vector<std::string> arguments = {"--offline", disk.root};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        Outcome outcome = RunScanner(arguments);
        EXPECT_NE(kExitClean, outcome.status);
        EXPECT_EQ(1u, LinesWith(outcome.err, "quellor-scan: a second Windows in " + disk.Path("WINNT") +
                                                 " is not cleaned: only the one in " + disk.Path("windows") + " is")
                          .size())
            << outcome.err;
    }
}

// A registry that could not be read is said on standard error whatever
// --quiet and --json say, counted in the JSON summary, left in the run's
// record, and the exit status is never 0 for it.
TEST_P(OfflineHostile, AnUnreadRegistryIsAProblemInEveryOutput)
{
    MakeHostile(disk, kAliceHive, Hostile::Folder);
    for (const char* file : {kEvil, kHelper, kPhotos}) unlink(disk.Path(file).c_str());
    const std::string said = "quellor-scan: registry hive " + disk.Path(kAliceHive) + " is damaged and was left alone";
    struct Row {
        std::vector<std::string> extra;
        const char* summary;  // in the JSON summary
    } const rows[] = {
        {{"--quiet"}, nullptr},
        {{"--json"}, "\"problems\":1,"},
        {{"--remove", "--quarantine", store, "--quiet"}, nullptr},
        {{"--remove", "--quarantine", store, "--json"}, "\"problems\":1,"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.extra.back());
        std::vector<std::string> arguments = {"--offline", disk.root, "--log", temp / "own.log"};
        arguments.insert(arguments.end(), row.extra.begin(), row.extra.end());
        unlink((temp / "own.log").c_str());
        Outcome outcome = RunScanner(arguments);
        // No file was found: the status says not everything could be read.
        EXPECT_EQ(kExitTrouble, outcome.status) << outcome.err;
        EXPECT_EQ(1u, LinesWith(outcome.err, said).size()) << outcome.err;
        if (row.summary) {
            EXPECT_NE(std::string::npos, outcome.out.find(row.summary)) << outcome.out;
        }
        EXPECT_EQ(1u, LinesWith(ReadFileText(temp / "own.log"), said.substr(std::strlen("quellor-scan: "))).size())
            << ReadFileText(temp / "own.log");
    }
}

// A hive whose original the quarantine could not keep is not changed: the
// cleaning cannot be undone without it.
TEST_P(OfflineHostile, AHiveWhoseOriginalIsNotKeptIsNotChanged)
{
    struct Row {
        const char* name;
        std::string store;
        std::function<void(const Disk&)> make;
        std::size_t refused;  // hives not changed
        int status;
    } const rows[] = {
        {"a full quarantine", temp / "full",
         [&](const Disk&) {
             ASSERT_TRUE(FillStore(temp, "full"));
         },
         // The detected files go without their copies, which the status tells.
         3, kExitFound + kExitNotKept},
        {"a profile folder whose name holds a line break", store,
         [&](const Disk& made) {
             std::string error;
             ASSERT_TRUE(AddToHive(made.Path(kSoftware),
                                   {{std::string(kProfileList) + "S-1-5-21-1004336348-1177238915-682003330-1004",
                                     {HiveExpandSz("ProfileImagePath", "C:\\Users\\Eve\r\nX")}}},
                                   error))
                 << error;
             std::filesystem::create_directories(made.Path("Users/Eve\r\nX"));
             std::filesystem::copy_file(made.Path(kAliceHive), made.Path("Users/Eve\r\nX/NTUSER.DAT"));
         },
         1, kExitFound},
    };
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Disk made = NewDisk("kept" + std::to_string(index++));
        row.make(made);
        const std::string hive = row.refused == 3 ? kAliceHive : "Users/Eve\r\nX/NTUSER.DAT";
        const std::string bytes = ReadFileText(made.Path(hive));
        Outcome outcome = RunScanner({"--offline", made.root, "--remove", "--quarantine", row.store});
        EXPECT_EQ(row.status, outcome.status) << outcome.err;
        EXPECT_TRUE(bytes == ReadFileText(made.Path(hive))) << "the hive was changed";
        EXPECT_EQ(row.refused,
                  LinesWith(outcome.err, " was not changed: its original could not be kept in the quarantine").size())
            << outcome.err;
        // A name holding a line break is named, not passed over in silence.
        EXPECT_EQ(row.refused == 1 ? 1u : 0u,
                  LinesWith(outcome.err, "): a name on its path holds a control character").size())
            << outcome.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Disks, OfflineHostile, ::testing::Values(DiskKind::Plain, DiskKind::Ntfs), DiskKindName);

// ------------------------------------------------------------ on a plain folder only

using OfflineHostilePlain = HostileDiskTest;

// A leftover link to a file of the system, in a folder where nothing can be
// removed: the change stops, and the file is not written.
TEST_P(OfflineHostilePlain, ALeftoverLinkThatCannotBeRemovedWritesNothingOutside)
{
    const std::string leftover = std::string(kSoftware) + ".quellor-new";
    MakeHostile(disk, leftover, Hostile::LinkToFile);
    const std::vector<std::string> software = Dump(disk.Path(kSoftware));
    const auto outsideBefore = TreeSnapshot(outside);
    ImmutableFolder locked(disk.Path("windows/system32/Config"));
    if (!locked.Set()) GTEST_SKIP() << "this file system cannot make a folder immutable";

    Outcome outcome = RunScanner({"--offline", disk.root, "--remove", "--quarantine", store});
    EXPECT_EQ(outsideBefore, TreeSnapshot(outside));
    EXPECT_EQ(software, Dump(disk.Path(kSoftware)));
    EXPECT_EQ(kExitFound, outcome.status);
    EXPECT_EQ(1u, LinesWith(outcome.err, "quellor-scan: registry hive " + disk.Path(kSoftware) +
                                             " was not changed: the leftover " + disk.Path(leftover) +
                                             " cannot be removed")
                      .size())
        << outcome.err;
}

// Windows keeps a hive under 2 GiB, and its file at most the 256 KiB step it
// grows by beyond what its header says: a hive far larger is named and
// left alone, and never read whole.
TEST_P(OfflineHostilePlain, AHiveFarLargerThanItsHeaderSaysIsLeftAlone)
{
    struct Row {
        const char* name;
        off_t added;   // bytes added to the file, as a hole
        bool cleaned;
    } const rows[] = {
        {"6 GiB beyond its header", 6LL * 1024 * 1024 * 1024, false},
        {"padded as Windows leaves it", 200 * 1024, true},
    };
    int index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Disk made = NewDisk("large" + std::to_string(index++));
        const std::string path = made.Path(kSoftware);
        const std::vector<std::string> software = Dump(path);
        const std::string head = ReadFileText(path);
        const off_t size = static_cast<off_t>(head.size()) + row.added;
        ASSERT_EQ(0, truncate(path.c_str(), size));

        Outcome outcome = RunScanner({"--offline", made.root, "--remove", "--quarantine", store});
        ASSERT_NE(kKilledByAlarm, outcome.status);
        EXPECT_EQ(kExitFound, outcome.status) << outcome.err;
        if (row.cleaned) {
            EXPECT_EQ(WithoutTraces(software, kSoftware), Dump(path));
            EXPECT_EQ("", outcome.err);
            continue;
        }
        EXPECT_EQ(1u, LinesWith(outcome.err, "quellor-scan: registry hive " + path +
                                                 " is damaged and was left alone: its file is larger than its "
                                                 "header says")
                          .size())
            << outcome.err;
        struct stat st;
        ASSERT_EQ(0, stat(path.c_str(), &st));
        EXPECT_EQ(size, st.st_size);
        std::ifstream in(path, std::ios::binary);
        std::string read(head.size(), '\0');
        in.read(&read[0], static_cast<std::streamsize>(read.size()));
        EXPECT_EQ(head, read);
        // The users' hives are cleaned all the same (by the rules that need
        // nothing of SOFTWARE).
        const std::vector<std::string> alice = Dump(made.Path(kAliceHive));
        EXPECT_EQ(0, std::count_if(alice.begin(), alice.end(), [](const std::string& line) {
                      return line.find("| d3dupdate.exe |") != std::string::npos;
                  }));
    }
}

INSTANTIATE_TEST_SUITE_P(Disks, OfflineHostilePlain, ::testing::Values(DiskKind::Plain), DiskKindName);

}  // namespace
