// Another user racing a hive's change: between each pair of the writer's
// steps the hive's name, the new file's name or the hive's folder is swapped
// for a link to a file of the system, a FIFO or a folder. Whatever is
// swapped where, nothing outside the disk changes; the change is made only
// when the hive that was read is the one replaced, and a change not made is
// named in a problem line. On a plain folder and on NTFS (whose folders
// ntfs-3g shows writable to all: any local user can race there).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "console/HiveScratch.h"
#include "console/HostileDisk.h"
#include "platform/hive/HivePlatform.h"
#include "platform/posix/PosixPlatform.h"

namespace {

using Step = HivePlatform::ChangeStep;

const char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunInSoftware[] = "Microsoft\\Windows\\CurrentVersion\\Run";

const Step kSteps[] = {Step::HiveChecked,  Step::OriginalKept, Step::NewFileMade, Step::NewFileWritten,
                       Step::NewFileReady, Step::BeforeRename, Step::Renamed};
const char* const kStepNames[] = {"hive checked",    "original kept",  "new file made", "new file written",
                                  "new file ready",  "before rename",  "renamed"};

enum class Swap { HiveForLink, HiveForFifo, HiveForFolder, NewForLink, NewForFifo, NewForFolder, FolderForLink };

// Whether the change is made when `swap` happens after each step, in the
// order of kSteps.
const struct {
    Swap swap;
    const char* name;
    bool made[7];
} kSwaps[] = {
    // The hive's name checked again before the rename: a swap there stops
    // the change; after the last check the rename replaces what was put
    // there (never what a link names), and a folder there is not replaced.
    {Swap::HiveForLink, "the hive for a link", {false, false, false, false, false, true, true}},
    {Swap::HiveForFifo, "the hive for a FIFO", {false, false, false, false, false, true, true}},
    {Swap::HiveForFolder, "the hive for a folder", {false, false, false, false, false, false, true}},
    // Before the new file is made, what stands at its name is a leftover:
    // removed (a folder cannot be). After, the new name must still stand
    // for the new file, and after the rename the hive's name.
    {Swap::NewForLink, "the new file for a link", {true, true, false, false, false, false, true}},
    {Swap::NewForFifo, "the new file for a FIFO", {true, true, false, false, false, false, true}},
    {Swap::NewForFolder, "the new file for a folder", {false, false, false, false, false, false, true}},
    // The folder is held: its name no longer matters.
    {Swap::FolderForLink, "the folder for a link", {true, true, true, true, true, true, true}},
};

using HiveRace = HostileDiskTest;

// What has the name `path` now, its bytes if it is a file.
std::string EntryAt(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? treesnapshot::Describe(path, st) : "missing";
}

std::string Read(HivePlatform& platform, const char* name)
{
    return ReadThrough(platform, kKeyLocalMachine, kRun, name, kKeyView64);
}

TEST_P(HiveRace, ASwapBetweenAnyTwoStepsChangesNothingOutsideTheDisk)
{
    int index = 0;
    for (std::size_t at = 0; at < sizeof kSteps / sizeof kSteps[0]; ++at) {
        for (const auto& row : kSwaps) {
            SCOPED_TRACE(std::string(row.name) + " after " + kStepNames[at]);
            const std::string folder = base + "/race" + std::to_string(index++) + "/config";
            std::filesystem::create_directories(folder);
            const std::string hive = folder + "/SOFTWARE";
            const std::string newFile = hive + ".quellor-new";
            std::string error;
            ASSERT_TRUE(MakeHive(hive, {{kRunInSoftware, {HiveSz("evil", "C:\\evil.exe"), HiveSz("good", "x")}}},
                                 error))
                << error;
            std::string afterSwap;
            auto swap = [&]() {
                const std::string target = row.swap == Swap::FolderForLink                                  ? folder
                                           : row.swap == Swap::HiveForLink || row.swap == Swap::HiveForFifo ||
                                                     row.swap == Swap::HiveForFolder
                                               ? hive
                                               : newFile;
                struct stat st;
                if (lstat(target.c_str(), &st) == 0) {
                    ASSERT_EQ(0, rename(target.c_str(), (target + ".aside").c_str()));
                }
                switch (row.swap) {
                case Swap::HiveForLink:
                case Swap::NewForLink: ASSERT_EQ(0, symlink(canary.c_str(), target.c_str())); break;
                case Swap::HiveForFifo:
                case Swap::NewForFifo: ASSERT_EQ(0, mkfifo(target.c_str(), 0666)); break;
                case Swap::HiveForFolder:
                case Swap::NewForFolder: ASSERT_EQ(0, mkdir(target.c_str(), 0755)); break;
                case Swap::FolderForLink:
                    ASSERT_EQ(0, symlink((outside + "/folder").c_str(), target.c_str()));
                    break;
                }
                afterSwap = EntryAt(hive);
            };
            PosixPlatform posix;
            HivePlatform platform(posix);
            std::vector<std::string> problems;
            platform.MountMachine(hive, "", problems);
            ASSERT_TRUE(problems.empty());
            platform.AllowChanges(true);
            bool swapped = false;
            platform.SetStepHookForTesting([&](Step step) {
                if (step != kSteps[at] || swapped) return;
                swapped = true;
                swap();
            });
            const auto outsideBefore = TreeSnapshot(outside);

            KeyRef key = 0;
            ASSERT_EQ(kRegistryOk, platform.RegistryOpen(kKeyLocalMachine, kRun, kKeyAllAccess | kKeyView64, key));
            const long result = platform.RegistryDeleteValue(key, "evil");
            platform.RegistryClose(key);
            EXPECT_TRUE(swapped);
            EXPECT_EQ(outsideBefore, TreeSnapshot(outside));
            const std::vector<std::string> reported = platform.TakeProblems();
            if (row.made[at]) {
                EXPECT_EQ(kRegistryOk, result);
                EXPECT_TRUE(reported.empty()) << reported[0];
                EXPECT_EQ("-2", Read(platform, "evil"));
            } else {
                EXPECT_NE(kRegistryOk, result);
                ASSERT_EQ(1u, reported.size());
                EXPECT_EQ(0u, reported[0].find("registry hive " + hive + " was not changed: ")) << reported[0];
                EXPECT_EQ(std::string("C:\\evil.exe") + '\0', Read(platform, "evil"));
                // Nothing was put at the hive's name before the last check.
                if (at < 5) {
                    EXPECT_EQ(afterSwap, EntryAt(hive));
                }
            }
            EXPECT_EQ(std::string("x") + '\0', Read(platform, "good"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Disks, HiveRace, ::testing::Values(DiskKind::Plain, DiskKind::Ntfs), DiskKindName);

}  // namespace
