// The POSIX backend on a tree someone else may change while it works: the
// drive's folder held open, every path reached below it, each call acting on
// what it checked or failing. A folder outside the mapped one holds canary
// files whose bytes and modes must come through every attack unchanged, and
// a FIFO or device swapped in must never be opened.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "console/SpecialFiles.h"
#include "console/NoticeRecorder.h"
#include "console/ScannerRun.h"
#include "console/TempFolder.h"
#include "platform/posix/HeldFolder.h"
#include "platform/posix/PosixPlatform.h"

namespace {

// Every entry below `folder` (itself included) with its type, mode, owner
// and bytes, links not followed: compared before and after a call to show
// nothing there was changed or made.
std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> entries;
    auto note = [&entries, &folder](const std::string& path) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) return;
        std::string value = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid);
        if (S_ISREG(st.st_mode)) value += " " + ReadFileText(path);
        entries[path.substr(folder.size())] = value;
    };
    note(folder);
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        note(it->path().string());
    }
    return entries;
}

std::vector<RecordedNotice>& noticed = RecordedNotices();

// A tree mapped as drive C: ("root", open to everyone, as the folders of a
// disk mounted with ntfs-3g show), and beside it "outside" with canaries
// under the same names, so a call that lost its way would meet them.
class Scene {
public:
    Scene()
    {
        noticed.clear();
        root_ = temp.Folder("root");
        temp.Write("root/dir/f.txt", "inside");
        temp.Write("root/dir/src.txt", "source");
        chmod(root_.c_str(), 0777);
        chmod((temp / "root/dir").c_str(), 0777);
        temp.Write("outside/dir/f.txt", "canary");
        temp.Write("outside/dir/src.txt", "canary source");
        temp.Write("outside/canary.txt", "canary");
        chmod((temp / "outside/dir/f.txt").c_str(), 0644);
        mapped = platform.MapDrive('C', root_);
        platform.SetNoticeHandler(RecordNotice);
        before_ = Snapshot(temp / "outside");
    }

    std::string Root(const std::string& relative) const { return root_ + "/" + relative; }
    bool OutsideUnchanged() const { return before_ == Snapshot(temp / "outside"); }

    TempFolder temp;
    PosixPlatform platform;
    bool mapped = false;

private:
    std::string root_;
    std::map<std::string, std::string> before_;
};

std::string lastRead;

bool Read(PosixPlatform& platform, const char* path)
{
    lastRead.clear();
    const FileRef file = platform.OpenForRead(path);
    if (file == kNoFile) return false;
    char buffer[64];
    const std::int32_t got = platform.ReadBytes(file, buffer, sizeof buffer);
    lastRead.assign(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    platform.CloseFile(file);
    return true;
}

bool WriteTo(PosixPlatform& platform, FileRef file)
{
    if (file == kNoFile) return false;
    const bool written = platform.WriteBytes(file, "XX", 2) == 2;
    platform.CloseFile(file);
    return written;
}

// ------------------------------------------------------------ drives

TEST(PosixHeldDrive, TheNamedFolderIsFollowedAsNamedAndHeldWhateverItsNameBecomes)
{
    Scene scene;
    // A link in the path the user names is the user's: it is followed.
    ASSERT_EQ(0, symlink((scene.temp / "root").c_str(), (scene.temp / "named").c_str()));
    ASSERT_TRUE(scene.platform.MapDrive('D', scene.temp / "named"));
    ASSERT_EQ(0, rename((scene.temp / "root").c_str(), (scene.temp / "root-moved").c_str()));
    ASSERT_EQ(0, symlink((scene.temp / "outside").c_str(), (scene.temp / "root").c_str()));

    for (const char* drive : {"C", "D"}) {
        SCOPED_TRACE(drive);
        const std::string dir = std::string(drive) + ":\\dir";
        EXPECT_TRUE(Read(scene.platform, (dir + "\\f.txt").c_str()));
        EXPECT_EQ("inside", lastRead);
        EXPECT_TRUE(WriteTo(scene.platform, scene.platform.CreateNewFile((dir + "\\made.txt").c_str())));
        EXPECT_TRUE(scene.platform.RemoveFile((dir + "\\made.txt").c_str()));
        EXPECT_TRUE(scene.platform.CreateFolder((std::string(drive) + ":\\newdir").c_str()));
        EXPECT_EQ(0, rmdir((scene.temp / "root-moved/newdir").c_str()));
    }
    EXPECT_TRUE(scene.OutsideUnchanged());
    // The host path is for messages: it still says what was named.
    std::string host;
    EXPECT_TRUE(scene.platform.HostPath("D:\\dir\\f.txt", host));
    EXPECT_EQ(scene.temp / "named/dir/f.txt", host);
}

TEST(PosixHeldDrive, AFolderThatCannotBeOpenedNamesNothing)
{
    Scene scene;
    EXPECT_FALSE(scene.platform.MapDrive('E', scene.temp / "missing"));
    std::string host;
    EXPECT_TRUE(scene.platform.HostPath("E:\\x.txt", host));
    EXPECT_EQ(static_cast<int>(DriveNoRootDir), scene.platform.QueryDriveType("E:\\"));
    EXPECT_EQ(kNoFile, scene.platform.CreateNewFile("E:\\x.txt"));
    scene.temp.Folder("missing");
    EXPECT_EQ(kNoFile, scene.platform.CreateNewFile("E:\\x.txt"));
    EXPECT_FALSE(Exists(scene.temp / "missing/x.txt"));
    // Unmapped, a letter names nothing at all.
    EXPECT_TRUE(scene.platform.MapDrive('C', ""));
    EXPECT_FALSE(scene.platform.HostPath("C:\\dir\\f.txt", host));
    EXPECT_FALSE(Read(scene.platform, "C:\\dir\\f.txt"));
}

TEST(PosixHeldDrive, ADriveBelowAnotherIsReachedWithoutALink)
{
    Scene scene;
    ASSERT_EQ(0, symlink((scene.temp / "outside").c_str(), scene.Root("via").c_str()));
    ASSERT_TRUE(scene.platform.MapDriveBelow('W', "C:\\dir"));
    EXPECT_FALSE(scene.platform.MapDriveBelow('V', "C:\\via"));
    EXPECT_FALSE(scene.platform.MapDriveBelow('V', "C:\\via\\dir"));
    EXPECT_FALSE(scene.platform.MapDriveBelow('V', "C:\\dir\\..\\via"));
    std::string host;
    EXPECT_FALSE(scene.platform.HostPath("V:\\f.txt", host));
    EXPECT_TRUE(scene.platform.HostPath("W:\\f.txt", host));
    EXPECT_EQ(scene.Root("dir/f.txt"), host);
    EXPECT_TRUE(Read(scene.platform, "W:\\f.txt"));
    EXPECT_EQ("inside", lastRead);

    // Swapped for a link afterwards, the folder held is still the one reached.
    ASSERT_EQ(0, rename(scene.Root("dir").c_str(), scene.Root("dir-moved").c_str()));
    ASSERT_EQ(0, symlink((scene.temp / "outside/dir").c_str(), scene.Root("dir").c_str()));
    EXPECT_TRUE(WriteTo(scene.platform, scene.platform.CreateForAppend("W:\\f.txt")));
    EXPECT_EQ("insideXX", ReadFileText(scene.Root("dir-moved/f.txt")));
    EXPECT_EQ(-1, scene.platform.OpenFolder("C:\\dir"));
    const int held = scene.platform.OpenFolder("C:\\dir-moved");
    EXPECT_GE(held, 0);
    if (held >= 0) close(held);
    EXPECT_TRUE(scene.OutsideUnchanged());
}

TEST(PosixHeldDrive, FoldersOnTheWayNeedOnlyBeSearchable)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs another account to run the scanner as";
    TempFolder temp;
    temp.Write("passage/inner/plain.txt", "plain");
    temp.Write("passage/top.txt", "top");
    // Others may pass through these folders, not list them.
    ASSERT_EQ(0, chmod((temp / "passage").c_str(), 0711));
    ASSERT_EQ(0, chmod((temp / "passage/inner").c_str(), 0711));
    RunOptions unprivileged;
    unprivileged.unprivileged = true;
    for (const char* named : {"passage/top.txt", "passage/inner/plain.txt"}) {
        SCOPED_TRACE(named);
        const Outcome outcome = RunScanner({temp / named}, unprivileged);
        EXPECT_EQ(0, outcome.status) << outcome.err;
        EXPECT_NE(std::string::npos, outcome.out.find("Total files scanned\t\t:  1\n")) << outcome.out;
    }
}

// ------------------------------------------------------------ links

// Each call the engine makes, on a path whose folder is a link out of the
// drive: none of them reaches anything behind it.
struct PathCall {
    const char* label;
    std::function<bool(PosixPlatform&, const std::string& path)> run;
};

const PathCall kPathCalls[] = {
    {"OpenForRead", [](PosixPlatform& p, const std::string& path) { return Read(p, path.c_str()); }},
    {"OpenForWrite",
     [](PosixPlatform& p, const std::string& path) { return WriteTo(p, p.OpenForWrite(path.c_str())); }},
    {"CreateForAppend",
     [](PosixPlatform& p, const std::string& path) { return WriteTo(p, p.CreateForAppend(path.c_str())); }},
    {"CreateForAppend of a new name",
     [](PosixPlatform& p, const std::string& path) { return WriteTo(p, p.CreateForAppend((path + ".new").c_str())); }},
    {"CreateNewFile",
     [](PosixPlatform& p, const std::string& path) { return WriteTo(p, p.CreateNewFile((path + ".new").c_str())); }},
    {"CreateFolder", [](PosixPlatform& p, const std::string& path) { return p.CreateFolder((path + ".d").c_str()); }},
    {"SetAttributes",
     [](PosixPlatform& p, const std::string& path) { return p.SetAttributes(path.c_str(), kAttrReadOnly); }},
    {"RemoveFile", [](PosixPlatform& p, const std::string& path) { return p.RemoveFile(path.c_str()); }},
    {"RenameFile away",
     [](PosixPlatform& p, const std::string& path) { return p.RenameFile(path.c_str(), "C:\\moved.txt"); }},
    {"RenameFile into",
     [](PosixPlatform& p, const std::string& path) {
         return p.RenameFile("C:\\dir\\src.txt", (path + ".in").c_str());
     }},
    {"CopyFileOver onto",
     [](PosixPlatform& p, const std::string& path) { return p.CopyFileOver("C:\\dir\\src.txt", path.c_str()); }},
    {"CopyFileOver from",
     [](PosixPlatform& p, const std::string& path) { return p.CopyFileOver(path.c_str(), "C:\\copied.txt"); }},
    {"PathExists", [](PosixPlatform& p, const std::string& path) { return p.PathExists(path.c_str()); }},
    {"PathReadable", [](PosixPlatform& p, const std::string& path) { return p.PathReadable(path.c_str()); }},
    {"ShortPathOf",
     [](PosixPlatform& p, const std::string& path) {
         char out[kPathBufferSize];
         return p.ShortPathOf(path.c_str(), out, sizeof out) != 0;
     }},
    {"FindFirstEntry",
     [](PosixPlatform& p, const std::string& path) {
         DirEntry entry;
         const SearchRef search = p.FindFirstEntry(path.c_str(), entry);
         if (search) p.FindEnd(search);
         return search != 0;
     }},
};

TEST(PosixHeldDrive, NoCallReachesThroughALinkAtAnyFolderOfItsPath)
{
    const char* const paths[] = {
        "C:\\via\\f.txt",           // a link to a folder outside, as the path's first folder
        "C:\\dir\\deep\\f.txt",     // ... deeper down
        "C:\\dir\\deep\\dir\\f.txt",
        "C:\\rel\\dir\\f.txt",      // a relative link climbing out
    };
    for (const char* path : paths) {
        for (const PathCall& call : kPathCalls) {
            SCOPED_TRACE(std::string(path) + ": " + call.label);
            Scene scene;
            ASSERT_EQ(0, symlink((scene.temp / "outside/dir").c_str(), scene.Root("via").c_str()));
            ASSERT_EQ(0, symlink((scene.temp / "outside").c_str(), scene.Root("dir/deep").c_str()));
            ASSERT_EQ(0, symlink("../outside", scene.Root("rel").c_str()));
            EXPECT_FALSE(call.run(scene.platform, path));
            EXPECT_NE("canary", lastRead);
            EXPECT_TRUE(scene.OutsideUnchanged());
            EXPECT_EQ("source", ReadFileText(scene.Root("dir/src.txt")));
        }
    }
}

TEST(PosixHeldDrive, ALinkAsTheLastNameIsNeverOpenedOrWrittenThrough)
{
    struct Expected {
        const char* label;
        bool done;  // the call acts on the link itself
    } const expected[] = {
        {"OpenForRead", false},       {"OpenForWrite", false},     {"CreateForAppend", false},
        {"CreateNewFile", true},      {"CreateFolder", true},      {"SetAttributes", false},
        {"RemoveFile", true},         {"RenameFile away", true},   {"RenameFile into", true},
        {"CopyFileOver onto", false}, {"CopyFileOver from", false}, {"PathExists", true},
        {"PathReadable", false},      {"ShortPathOf", true},       {"FindFirstEntry", true},
        {"CreateForAppend of a new name", true},
    };
    for (const PathCall& call : kPathCalls) {
        SCOPED_TRACE(call.label);
        bool found = false;
        bool done = false;
        for (const Expected& row : expected) {
            if (std::strcmp(row.label, call.label) != 0) continue;
            found = true;
            done = row.done;
        }
        ASSERT_TRUE(found);
        Scene scene;
        ASSERT_EQ(0, symlink((scene.temp / "outside/dir/f.txt").c_str(), scene.Root("dir/link").c_str()));
        EXPECT_EQ(done, call.run(scene.platform, "C:\\dir\\link"));
        EXPECT_NE("canary", lastRead);
        EXPECT_TRUE(scene.OutsideUnchanged());
    }
}

// ------------------------------------------------------------ swaps between two steps

enum Swap { ParentForLink, NameForLink, NameForFifo, NameForDevice };
const char* const kSwapNames[] = {"its folder for a link out", "the name for a link out", "the name for a FIFO",
                                  "the name for a device"};

// What swapping left to watch: a FIFO's waiting writer, a device's opens.
struct SwapWitness {
    std::unique_ptr<WaitingWriter> writer;
    std::unique_ptr<OpenWatch> watch;
};

void SwapIn(Scene& scene, Swap swap, const std::string& name, SwapWitness& witness)
{
    const std::string path = scene.Root("dir/" + name);
    if (swap == ParentForLink) {
        ASSERT_EQ(0, rename(scene.Root("dir").c_str(), scene.Root("dir-moved").c_str()));
        ASSERT_EQ(0, symlink((scene.temp / "outside/dir").c_str(), scene.Root("dir").c_str()));
        return;
    }
    if (Exists(path)) {
        ASSERT_EQ(0, rename(path.c_str(), (path + ".moved").c_str()));
    }
    if (swap == NameForLink) {
        ASSERT_EQ(0, symlink((scene.temp / "outside/dir/" + name).c_str(), path.c_str()));
    } else if (swap == NameForFifo) {
        ASSERT_EQ(0, mkfifo(path.c_str(), 0666));
        witness.writer.reset(new WaitingWriter(path));
    } else {
        // The null device: opening it does nothing, but the open is seen.
        ASSERT_EQ(0, mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)));
        witness.watch.reset(new OpenWatch(path));
    }
}

// Why devices cannot be watched here, or null.
const char* WhyDevicesCannotBeWatched(TempFolder& temp)
{
    if (geteuid() != 0) return "making a device node needs root";
    const std::string node = temp / "probe-device";
    if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) return "no device node can be made here";
    OpenWatch watch(node);
    if (!watch.Watching()) return "no inotify watch can be set here";
    const int reference = open(node.c_str(), O_PATH | O_CLOEXEC);
    if (reference >= 0) close(reference);
    if (watch.Opens() != 0) return "this kernel reports a reference taken without opening (O_PATH) as an open";
    return nullptr;
}

const int kHeld = 1;
const int kChecked = 2;

struct Attacked {
    const char* label;
    const char* name;  // the name in C:\dir the call is about
    int steps;         // the steps the call passes
    std::function<bool(PosixPlatform&)> run;
};

const Attacked kAttacked[] = {
    {"read", "f.txt", kHeld, [](PosixPlatform& p) { return Read(p, "C:\\dir\\f.txt"); }},
    {"write", "f.txt", kHeld, [](PosixPlatform& p) { return WriteTo(p, p.OpenForWrite("C:\\dir\\f.txt")); }},
    {"append", "f.txt", kHeld, [](PosixPlatform& p) { return WriteTo(p, p.CreateForAppend("C:\\dir\\f.txt")); }},
    {"append to a new file", "new.log", kHeld | kChecked,
     [](PosixPlatform& p) { return WriteTo(p, p.CreateForAppend("C:\\dir\\new.log")); }},
    {"create", "new.txt", kHeld, [](PosixPlatform& p) { return WriteTo(p, p.CreateNewFile("C:\\dir\\new.txt")); }},
    {"make a folder", "newdir", kHeld, [](PosixPlatform& p) { return p.CreateFolder("C:\\dir\\newdir"); }},
    {"make read-only", "f.txt", kHeld | kChecked,
     [](PosixPlatform& p) { return p.SetAttributes("C:\\dir\\f.txt", kAttrReadOnly); }},
    {"remove", "f.txt", kHeld | kChecked, [](PosixPlatform& p) { return p.RemoveFile("C:\\dir\\f.txt"); }},
    {"rename", "f.txt", kHeld | kChecked,
     [](PosixPlatform& p) { return p.RenameFile("C:\\dir\\f.txt", "C:\\dir\\g.txt"); }},
    {"rename onto a new name", "new.txt", kHeld | kChecked,
     [](PosixPlatform& p) { return p.RenameFile("C:\\dir\\src.txt", "C:\\dir\\new.txt"); }},
    {"copy over", "f.txt", kHeld | kChecked,
     [](PosixPlatform& p) { return p.CopyFileOver("C:\\dir\\src.txt", "C:\\dir\\f.txt"); }},
    {"copy to a new name", "new.txt", kHeld | kChecked,
     [](PosixPlatform& p) { return p.CopyFileOver("C:\\dir\\src.txt", "C:\\dir\\new.txt"); }},
};

TEST(PosixHeldDrive, ASwapBetweenAnyTwoStepsLeadsNowhereOutside)
{
    const char* whyNoDevices = nullptr;
    {
        TempFolder probe;
        whyNoDevices = WhyDevicesCannotBeWatched(probe);
    }
    for (const Attacked& call : kAttacked) {
        for (const int step : {kHeld, kChecked}) {
            if (!(call.steps & step)) continue;
            for (const Swap swap : {ParentForLink, NameForLink, NameForFifo, NameForDevice}) {
                if (swap == NameForDevice && whyNoDevices) continue;
                const char* stepName = step == kHeld ? "held" : "checked";
                SCOPED_TRACE(std::string(call.label) + ", at \"" + stepName + "\": " + kSwapNames[swap]);
                Scene scene;
                ASSERT_TRUE(scene.mapped);
                SwapWitness witness;
                bool swapped = false;
                scene.platform.SetStepHookForTesting([&](const char* reached) {
                    if (swapped || std::strcmp(reached, stepName) != 0) return;
                    swapped = true;
                    SwapIn(scene, swap, call.name, witness);
                });
                call.run(scene.platform);
                EXPECT_TRUE(swapped) << "the step was never reached";
                EXPECT_TRUE(scene.OutsideUnchanged());
                EXPECT_NE("canary", lastRead);
                if (witness.writer) {
                    EXPECT_FALSE(witness.writer->WasLetThrough()) << "the FIFO was opened";
                }
                if (witness.watch) {
                    EXPECT_EQ(0, witness.watch->Opens()) << "the device was opened";
                }
            }
        }
    }
    if (whyNoDevices) GTEST_SKIP() << "the device swaps only: " << whyNoDevices;
}

// ------------------------------------------------------------ the walk

// Lists C:\dir until `name` is the entry given; the search stays open.
SearchRef ListUntil(PosixPlatform& platform, const char* name)
{
    DirEntry entry;
    SearchRef search = platform.FindFirstEntry("C:\\dir\\*.*", entry);
    while (search && std::strcmp(entry.name, name) != 0) {
        if (!platform.FindNextEntry(search, entry)) {
            platform.FindEnd(search);
            return 0;
        }
    }
    return search;
}

TEST(PosixHeldDrive, TheFileListedLastIsReachedInTheFolderThatWasListed)
{
    Scene scene;
    const SearchRef search = ListUntil(scene.platform, "f.txt");
    ASSERT_NE(0u, search);
    ASSERT_EQ(0, rename(scene.Root("dir").c_str(), scene.Root("dir-moved").c_str()));
    ASSERT_EQ(0, symlink((scene.temp / "outside/dir").c_str(), scene.Root("dir").c_str()));

    EXPECT_TRUE(Read(scene.platform, "C:\\dir\\f.txt"));
    EXPECT_EQ("inside", lastRead);
    // Any other name of the path is looked up again, and leads nowhere.
    EXPECT_FALSE(Read(scene.platform, "C:\\dir\\src.txt"));
    EXPECT_TRUE(scene.platform.RenameFile("C:\\dir\\f.txt", "C:\\dir\\f.txt"));
    EXPECT_TRUE(scene.platform.SetAttributes("C:\\dir\\f.txt", kAttrReadOnly));
    EXPECT_FALSE(scene.platform.RemoveFile("C:\\dir\\f.txt"));
    EXPECT_TRUE(scene.platform.SetAttributes("C:\\dir\\f.txt", kAttrArchive));
    EXPECT_TRUE(scene.platform.RemoveFile("C:\\dir\\f.txt"));
    EXPECT_FALSE(Exists(scene.Root("dir-moved/f.txt")));
    scene.platform.FindEnd(search);
    // With the listing ended, its folder no longer stands for the path.
    EXPECT_FALSE(Read(scene.platform, "C:\\dir\\f.txt"));
    EXPECT_TRUE(scene.OutsideUnchanged());
}

TEST(PosixHeldDrive, AListedFileSwappedBeforeItIsOpenedIsNotOpened)
{
    const char* whyNoDevices = nullptr;
    {
        TempFolder probe;
        whyNoDevices = WhyDevicesCannotBeWatched(probe);
    }
    for (const Swap swap : {NameForLink, NameForFifo, NameForDevice}) {
        if (swap == NameForDevice && whyNoDevices) continue;
        SCOPED_TRACE(kSwapNames[swap]);
        Scene scene;
        const SearchRef search = ListUntil(scene.platform, "f.txt");
        ASSERT_NE(0u, search);
        SwapWitness witness;
        SwapIn(scene, swap, "f.txt", witness);
        EXPECT_FALSE(Read(scene.platform, "C:\\dir\\f.txt"));
        EXPECT_FALSE(WriteTo(scene.platform, scene.platform.OpenForWrite("C:\\dir\\f.txt")));
        scene.platform.FindEnd(search);
        EXPECT_TRUE(scene.OutsideUnchanged());
        if (witness.writer) {
            EXPECT_FALSE(witness.writer->WasLetThrough()) << "the FIFO was opened";
        }
        if (witness.watch) {
            EXPECT_EQ(0, witness.watch->Opens()) << "the device was opened";
        }
        // A FIFO or device met where the listing had a file is named once.
        const bool special = swap != NameForLink;
        ASSERT_EQ(special ? 1u : 0u, noticed.size());
        if (special) {
            EXPECT_EQ(PosixPlatform::NoticeNotRegular, noticed[0].kind);
            EXPECT_EQ(scene.Root("dir/f.txt"), noticed[0].path);
        }
    }
    if (whyNoDevices) GTEST_SKIP() << "the device only: " << whyNoDevices;
}

// ------------------------------------------------------------ special files

// Makes a socket bound at `path`; false when none can be made.
bool MakeSocket(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    struct sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        close(fd);
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const bool bound = bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound;
}

TEST(PosixHeldDrive, SpecialFilesAreLeftOutOfEveryListingAndNamedOnceEach)
{
    Scene scene;
    ASSERT_EQ(0, mkfifo(scene.Root("dir/pipe").c_str(), 0666));
    ASSERT_TRUE(MakeSocket(scene.Root("dir/socket")));
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(0, mknod(scene.Root("dir/device").c_str(), S_IFCHR | 0666, makedev(1, 3)));
    }
    WaitingWriter writer(scene.Root("dir/pipe"));
    OpenWatch watch(scene.Root("dir/device"));

    for (int pass = 0; pass < 3; ++pass) {
        std::vector<std::string> names;
        DirEntry entry;
        SearchRef search = scene.platform.FindFirstEntry("C:\\dir\\*", entry);
        ASSERT_NE(0u, search);
        do {
            names.push_back(entry.name);
            if (!(entry.attributes & kAttrDirectory)) Read(scene.platform, ("C:\\dir\\" + names.back()).c_str());
        } while (scene.platform.FindNextEntry(search, entry));
        scene.platform.FindEnd(search);
        std::sort(names.begin(), names.end());
        EXPECT_EQ((std::vector<std::string>{".", "..", "f.txt", "src.txt"}), names);
        for (const char* name : {"pipe", "socket", "device"}) {
            if (!root && std::strcmp(name, "device") == 0) continue;
            EXPECT_EQ(0u, scene.platform.FindFirstEntry((std::string("C:\\dir\\") + name).c_str(), entry));
            EXPECT_FALSE(Read(scene.platform, (std::string("C:\\dir\\") + name).c_str()));
            EXPECT_EQ(kNoFile, scene.platform.CreateForAppend((std::string("C:\\dir\\") + name).c_str()));
        }
    }
    std::map<std::string, int> types;
    for (const RecordedNotice& notice : noticed) {
        EXPECT_EQ(PosixPlatform::NoticeNotRegular, notice.kind);
        types[notice.path] = notice.detail;
    }
    EXPECT_EQ(root ? 3u : 2u, noticed.size());
    EXPECT_EQ(static_cast<int>(S_IFIFO), types[scene.Root("dir/pipe")]);
    EXPECT_EQ(static_cast<int>(S_IFSOCK), types[scene.Root("dir/socket")]);
    EXPECT_STREQ("a FIFO", EntryTypeText(static_cast<mode_t>(types[scene.Root("dir/pipe")])));
    EXPECT_FALSE(writer.WasLetThrough()) << "the FIFO was opened";
    if (!root) GTEST_SKIP() << "making a device node needs root: the FIFO and the socket were shown";
    EXPECT_EQ(static_cast<int>(S_IFCHR), types[scene.Root("dir/device")]);
    EXPECT_EQ(0, watch.Opens()) << "the device was opened";
}

// Runs `call` in a child process: false when it has not returned within
// `seconds` (the child is then ended).
bool ReturnsWithin(int seconds, const std::function<void()>& call)
{
    const pid_t child = fork();
    if (child == 0) {
        call();
        _exit(0);
    }
    for (int waited = 0; waited < seconds * 20; ++waited) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) return true;
        usleep(50 * 1000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return false;
}

TEST(PosixHeldDrive, AFifoWhereAFileIsWrittenNeverHoldsTheCallUp)
{
    Scene scene;
    ASSERT_EQ(0, mkfifo(scene.Root("dir/run.log").c_str(), 0666));
    EXPECT_TRUE(ReturnsWithin(10, [&scene]() {
        const FileRef file = scene.platform.CreateForAppend("C:\\dir\\run.log");
        if (file != kNoFile) scene.platform.CloseFile(file);
    })) << "appending to a FIFO waited for a reader";
    EXPECT_TRUE(ReturnsWithin(10, [&scene]() {
        const FileRef file = scene.platform.OpenForWrite("C:\\dir\\run.log");
        if (file != kNoFile) scene.platform.CloseFile(file);
    })) << "writing to a FIFO waited for a reader";
    EXPECT_EQ(kNoFile, scene.platform.CreateForAppend("C:\\dir\\run.log"));
    struct stat st;
    ASSERT_EQ(0, lstat(scene.Root("dir/run.log").c_str(), &st));
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// ------------------------------------------------------------ copies

TEST(PosixHeldDrive, ACopyOverAFileReplacesItAndNeverWritesThroughItsName)
{
    Scene scene;
    // A second name of the target elsewhere on the drive keeps what it held:
    // the copy is a new file renamed over the name.
    ASSERT_EQ(0, link(scene.Root("dir/f.txt").c_str(), scene.Root("other-name.txt").c_str()));
    ASSERT_EQ(0, chmod(scene.Root("dir/src.txt").c_str(), 04755));
    ASSERT_TRUE(scene.platform.CopyFileOver("C:\\dir\\src.txt", "C:\\dir\\f.txt"));
    EXPECT_EQ("source", ReadFileText(scene.Root("dir/f.txt")));
    EXPECT_EQ("inside", ReadFileText(scene.Root("other-name.txt")));
    struct stat st;
    ASSERT_EQ(0, stat(scene.Root("dir/f.txt").c_str(), &st));
    // Never a set-user-id copy.
    EXPECT_EQ(0755u, st.st_mode & 07777u);
    // Nothing is left beside it.
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(scene.Root("dir"))) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ((std::vector<std::string>{"f.txt", "src.txt"}), left);

    // A read-only target stays, whoever asks.
    ASSERT_EQ(0, chmod(scene.Root("dir/f.txt").c_str(), 0444));
    EXPECT_FALSE(scene.platform.CopyFileOver("C:\\dir\\src.txt", "C:\\dir\\f.txt"));
    // A FIFO as the target is not replaced, and not opened.
    ASSERT_EQ(0, mkfifo(scene.Root("dir/pipe").c_str(), 0666));
    WaitingWriter writer(scene.Root("dir/pipe"));
    EXPECT_FALSE(scene.platform.CopyFileOver("C:\\dir\\src.txt", "C:\\dir\\pipe"));
    EXPECT_FALSE(writer.WasLetThrough());
    EXPECT_TRUE(scene.OutsideUnchanged());
}

}  // namespace
