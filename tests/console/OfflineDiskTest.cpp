// How quellor-scan --offline finds its way on a mounted Windows disk: names
// compared as Windows compares them, paths looked up whatever their case
// (never through a link), the Windows folder chosen among several, profile
// folders, the service accounts, the decision to refuse a removal, and the
// --offline option itself.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/console/ConsoleOptions.h"
#include "app/console/ConsoleScan.h"
#include "app/console/OfflineDisk.h"
#include "app/console/OfflineHost.h"
#include "app/console/PosixHost.h"
#include "console/TempFolder.h"
#include "console/WindowsDisk.h"
#include "platform/hive/HivePlatform.h"
#include "platform/posix/HeldFolder.h"
#include "platform/posix/PosixPlatform.h"
#include "scan/BinaryExamination.h"

namespace {

TEST(OfflineDisk, NamesCompareAsWindowsComparesThem)
{
    struct Row {
        const char* windowsName;  // Latin-1, as the hives give it
        const char* diskName;     // as the disk's driver gives it
        bool same;
    } const rows[] = {
        {"Windows", "WINDOWS", true},
        {"NTUSER.DAT", "ntuser.dat", true},
        {"Windows", "Windows ", false},
        {"Users", "User", false},
        {"Jos\xE9", "JOS\xC3\x89", true},        // é in Latin-1, É in UTF-8
        {"Jos\xE9", "Jos\xC3\xA9", true},
        {"Jos\xE9", "JOS\xC9", true},            // not UTF-8: Latin-1 bytes
        {"Jos?", "Jos\xE2\x82\xAC", true},       // a character Latin-1 cannot spell
        {"Jos?", "Jos\xC3\xA9", false},          // é could have been spelled
        {"Jos?", "Jose", false},
        {"a\xD7", "A\xC3\xB7", false},           // multiplication and division signs are no pair
        {"\xFE", "\xC3\x9E", true},              // thorn
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.windowsName) + " / " + row.diskName);
        EXPECT_EQ(row.same, SameWindowsName(row.windowsName, row.diskName));
    }
}

class OfflineDiskTree : public ::testing::Test {
protected:
    OfflineDiskTree() : root_(open(temp.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~OfflineDiskTree() override { close(root_); }
    int Root() const { return root_; }
    TempFolder temp;

private:
    int root_;
};

// A lookup as text: "found <path>", "missing", "blocked <path> <type> <depth>".
std::string Text(const DiskLookup& lookup)
{
    switch (lookup.result) {
    case DiskLookup::Found: return "found " + lookup.path;
    case DiskLookup::Missing: return "missing";
    case DiskLookup::Blocked:
        return "blocked " + lookup.path + " " + (lookup.error ? "unreadable" : EntryTypeText(lookup.type)) + " " +
               std::to_string(lookup.depth);
    }
    return "?";
}

TEST_F(OfflineDiskTree, PathsAreFoundWhateverTheirCaseAndNeverThroughALink)
{
    temp.Write("Windows/System32/config/SOFTWARE", "hive");
    temp.Write("windows/Temp/x.txt", "x");   // a second spelling of the folder
    temp.Write("Users/Alice/NTUSER.DAT", "hive");
    temp.Write("USERS/Alice/NTUSER.DAT", "hive");
    temp.Folder("Outside");
    temp.Write("Outside/secret.txt", "not the disk's");
    ASSERT_EQ(0, symlink((temp / "Outside").c_str(), (temp / "Linked").c_str()));
    ASSERT_EQ(0, symlink((temp / "Outside/secret.txt").c_str(), (temp / "Windows/System32/config/SYSTEM").c_str()));
    ASSERT_EQ(0, mkfifo((temp / "Windows/Pipe").c_str(), 0600));

    struct Row {
        const char* path;
        bool folder;
        const char* found;
    } const rows[] = {
        {"WINDOWS\\system32\\CONFIG\\software", false, "found Windows/System32/config/SOFTWARE"},
        {"windows/system32/config/software", false, "found Windows/System32/config/SOFTWARE"},
        {"Windows\\Temp\\X.TXT", false, "found windows/Temp/x.txt"},   // only below the other spelling
        {"USERS\\alice", true, "found USERS/Alice"},                  // the exact spelling first
        {"users\\alice", true, "found USERS/Alice"},                  // then byte order
        {"\\Users\\\\Alice\\", true, "found Users/Alice"},
        {"Windows", false, "blocked Windows a folder 1"},           // a folder is no file
        {"Windows\\System32\\config\\SOFTWARE", true, "blocked Windows/System32/config/SOFTWARE a file 4"},
        {"Linked\\secret.txt", false, "blocked Linked a link 1"},    // links are not followed
        {"Windows\\System32\\config\\SYSTEM", false, "blocked Windows/System32/config/SYSTEM a link 4"},
        {"Windows\\Pipe\\x", false, "blocked Windows/Pipe a FIFO 2"},
        {"Users\\..\\Outside\\secret.txt", false, "missing"},
        {"Windows\\.\\System32", true, "missing"},
        {"", true, "missing"},
        {"Missing", true, "missing"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(row.found, Text(LookUpOnDisk(Root(), row.path, row.folder)));
        std::string found = "untouched";
        const bool isFound = std::string(row.found).rfind("found ", 0) == 0;
        EXPECT_EQ(isFound, FindOnDisk(Root(), row.path, row.folder, found));
        EXPECT_EQ(isFound ? std::string(row.found).substr(6) : std::string(), found);
    }
}

TEST_F(OfflineDiskTree, TheWindowsFolderIsTheOneItsOwnSoftwareHiveNames)
{
    struct Row {
        const char* name;
        std::vector<const char*> files;
        std::vector<const char*> links;  // made as links to the root
        std::map<std::string, std::string> systemRoots;  // by hive, relative to the root
        WindowsFamily family;
        const char* folder;
        const char* software;
        const char* system;
        std::vector<std::string> others;
    } const rows[] = {
        {"one Windows, any name", {"Win2K/system32/config/software", "Win2K/system32/config/system"}, {}, {},
         WindowsNt, "Win2K", "found Win2K/system32/config/software", "found Win2K/system32/config/system", {}},
        {"SYSTEM alone", {"WINNT/System32/Config/SYSTEM"}, {}, {}, WindowsNt, "WINNT", "missing",
         "found WINNT/System32/Config/SYSTEM", {}},
        {"two, the second named by its hive",
         {"Windows/System32/config/SOFTWARE", "WINNT/System32/config/SOFTWARE"}, {},
         {{"Windows/System32/config/SOFTWARE", "C:\\Other"}, {"WINNT/System32/config/SOFTWARE", "C:\\winnt"}},
         WindowsNt, "WINNT", "found WINNT/System32/config/SOFTWARE", "missing", {"Windows"}},
        {"two, neither readable: the usual name first",
         {"Aardvark/System32/config/SOFTWARE", "WINNT/System32/config/SOFTWARE"}, {}, {}, WindowsNt, "WINNT",
         "found WINNT/System32/config/SOFTWARE", "missing", {"Aardvark"}},
        {"an NT Windows before a 95/98/ME one", {"WINDOWS/SYSTEM.DAT", "WINNT/system32/config/SOFTWARE"}, {}, {},
         WindowsNt, "WINNT", "found WINNT/system32/config/SOFTWARE", "missing", {"WINDOWS"}},
        {"95/98/ME", {"WINDOWS/SYSTEM.DAT", "WINDOWS/USER.DAT"}, {}, {}, Windows9x, "WINDOWS", "missing", "missing",
         {}},
        // A hive that is no file is that Windows' problem, not a reason to
        // look past it; a config folder that is a link makes no Windows.
        {"SOFTWARE a link", {"Windows/System32/config/SYSTEM"}, {"Windows/System32/config/SOFTWARE"}, {}, WindowsNt,
         "Windows", "blocked Windows/System32/config/SOFTWARE a link 4", "found Windows/System32/config/SYSTEM", {}},
        {"config a link", {"Windows/System32/Temp/x", "WINNT/System32/config/SYSTEM"}, {"Windows/System32/config"},
         {}, WindowsNt, "WINNT", "missing", "found WINNT/System32/config/SYSTEM", {}},
        {"no Windows", {"Data/System32/notes.txt", "SYSTEM.DAT"}, {}, {}, NoWindows, "", "missing", "missing", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder disk;
        for (const char* file : row.files) disk.Write(file, "x");
        for (const char* link : row.links) {
            std::filesystem::create_directories(std::filesystem::path(disk / link).parent_path());
            ASSERT_EQ(0, symlink(disk.Path().c_str(), (disk / link).c_str()));
        }
        const int root = open(disk.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(root, 0);
        const WindowsOnDisk found = FindWindows(root, [&](int held, const std::string& software) {
            EXPECT_EQ(root, held);
            const auto known = row.systemRoots.find(software);
            return known == row.systemRoots.end() ? std::string() : known->second;
        });
        close(root);
        EXPECT_EQ(row.family, found.family);
        EXPECT_EQ(row.folder, found.folder);
        EXPECT_EQ(row.software, Text(found.softwareHive));
        EXPECT_EQ(row.system, Text(found.systemHive));
        EXPECT_EQ(row.others, found.others);
    }
}

TEST_F(OfflineDiskTree, FoldersTheWindowsNamesAreFoundOnItsOwnDriveOnly)
{
    temp.Folder("Users/Alice");
    temp.Folder("Documents and Settings/bob");
    ASSERT_EQ(0, symlink("/tmp", (temp / "Users/dave").c_str()));
    struct Row {
        const char* systemDrive;
        const char* profile;
        FolderPlace place;
        const char* folder;
    } const rows[] = {
        {"C:", "C:\\Users\\alice", FolderFound, "found Users/Alice"},
        {"c:", "C:\\USERS\\ALICE", FolderFound, "found Users/Alice"},
        {"C:", "C:\\Documents and Settings\\Bob", FolderFound, "found Documents and Settings/bob"},
        {"", "E:\\Users\\alice", FolderFound, "found Users/Alice"},  // the Windows' drive unknown
        {"C:", "D:\\Users\\alice", FolderElsewhere, "missing"},
        {"C:", "\\\\server\\profiles\\alice", FolderElsewhere, "missing"},
        {"C:", "Users\\alice", FolderElsewhere, "missing"},
        {"C:", "C:\\", FolderElsewhere, "missing"},
        {"C:", "C:\\Users\\carol", FolderMissing, "missing"},
        {"C:", "C:\\Users\\..\\Users\\Alice", FolderMissing, "missing"},
        // A relocated profile: its folder is a link.
        {"C:", "C:\\Users\\Dave", FolderBlocked, "blocked Users/dave a link 2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.profile);
        DiskLookup folder;
        EXPECT_EQ(row.place, FindNamedFolder(Root(), row.systemDrive, row.profile, folder));
        EXPECT_EQ(row.folder, Text(folder));
    }
}

TEST_F(OfflineDiskTree, UsualProfileFoldersAreThoseWithAUserHive)
{
    temp.Write("Users/alice/NTUSER.DAT", "hive");
    temp.Write("users/bob/ntuser.dat", "hive");
    temp.Write("Documents and Settings/carol/NTUSER.DAT", "hive");
    temp.Folder("Users/dave/NTUSER.DAT");
    temp.Folder("Users/Public");
    temp.Write("Users/readme.txt", "x");
    // Windows' own junctions in those places are passed over.
    ASSERT_EQ(0, symlink((temp / "Users/alice").c_str(), (temp / "Users/Default User").c_str()));
    std::vector<std::string> found;
    for (const UsualProfile& profile : UsualProfileFolders(Root())) {
        found.push_back(profile.folder + ": " + Text(profile.hive));
    }
    EXPECT_EQ((std::vector<std::string>{"Users/alice: found Users/alice/NTUSER.DAT",
                                        "Users/dave: blocked Users/dave/NTUSER.DAT a folder 3",
                                        "users/bob: found users/bob/ntuser.dat",
                                        "Documents and Settings/carol: found Documents and Settings/carol/NTUSER.DAT"}),
              found);
}

TEST(OfflineDisk, ServiceAccountsAreKnownBySid)
{
    struct Row {
        const char* sid;
        bool service;
    } const rows[] = {
        {"S-1-5-18", true},
        {"s-1-5-19", true},
        {"S-1-5-20", true},
        {"S-1-5-21-1004336348-1177238915-682003330-1001", false},
        {"S-1-12-1-1234-5678", false},  // a cloud account has a hive of its own
        {"S-1-5-180", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sid);
        EXPECT_EQ(row.service, IsServiceProfile(row.sid));
    }
}

TEST(OfflineDisk, ARemovalIsRefusedOnADiskThatCannotBeWritten)
{
    struct Row {
        DiskAccess access;
        const char* why;
    } const rows[] = {
        {{false, true}, ""},
        {{true, true},
         "'/mnt/win' is mounted read-only, so nothing on it can be removed: mount it read-write, or scan it without "
         "--remove and --rename"},
        {{true, false},
         "'/mnt/win' is mounted read-only, so nothing on it can be removed: mount it read-write, or scan it without "
         "--remove and --rename"},
        {{false, false},
         "'/mnt/win' cannot be written to by this user, so nothing on it can be removed: run as root, or scan it "
         "without --remove and --rename"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        EXPECT_EQ(row.why, WhyDiskUnchangeable("/mnt/win", row.access));
    }
}

// The host's own decision with the disk's answers given: a read-only disk
// stops a removal before any hive is mounted, and never stops a report.
TEST(OfflineDisk, TheHostRefusesARemovalBeforeMountingAnything)
{
    TempFolder temp;
    const windowsdisk::Disk disk = windowsdisk::MakeDisk(temp / "disk");
    struct Row {
        bool changes;
        DiskAccess access;
        bool opened;
        std::uint32_t users;
    } const rows[] = {
        {true, {true, true}, false, 0},
        {true, {false, false}, false, 0},
        {false, {true, false}, true, 2},
        {true, {false, true}, true, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.changes ? "removal" : "report") + (row.access.mountedReadOnly ? ", read-only" : "") +
                     (row.access.writable ? "" : ", not writable"));
        PosixPlatform files;
        HivePlatform hives(files);
        OfflineHost host(files, hives);
        std::string error;
        EXPECT_EQ(row.opened, host.OpenWith(disk.root, row.changes, row.access, error));
        EXPECT_EQ(row.opened, error.empty()) << error;
        EXPECT_EQ(row.users, hives.RegistryUserCount());
    }
}

// A profile's entry copied beside it (as Windows leaves "SID.bak") names
// the same hive: it is mounted once, or two handles on one file would each
// rewrite it from what it was before the other's change.
TEST(OfflineDisk, AHiveTwoProfilesNameIsMountedOnce)
{
    TempFolder temp;
    const windowsdisk::Disk disk = windowsdisk::MakeDisk(temp / "disk");
    std::string error;
    ASSERT_TRUE(AddToHive(disk.Path(windowsdisk::kSoftware),
                          {{std::string(windowsdisk::kProfileList) + windowsdisk::kAliceSid + ".bak",
                            {HiveExpandSz("ProfileImagePath", "C:\\USERS\\ALICE")}},
                           {std::string(windowsdisk::kProfileList) + "S-1-5-21-9-9-9-1009",
                            {HiveExpandSz("ProfileImagePath", "C:\\Users\\Alice\\..\\Alice")}}},
                          error))
        << error;
    PosixPlatform files;
    HivePlatform hives(files);
    OfflineHost host(files, hives);
    ASSERT_TRUE(host.OpenWith(disk.root, true, DiskAccess{false, true}, error)) << error;
    EXPECT_EQ(2u, hives.RegistryUserCount());
}

// The hives give names in Latin-1 ('?' for what it cannot spell); Linux's
// drivers give them in UTF-8.
TEST(OfflineDisk, ProfilesNamedBeyondAsciiAreFoundOnTheDisk)
{
    TempFolder temp;
    const windowsdisk::Disk disk = windowsdisk::MakeDisk(temp / "disk");
    std::string error;
    ASSERT_TRUE(AddToHive(disk.Path(windowsdisk::kSoftware),
                          {{std::string(windowsdisk::kProfileList) + "S-1-5-21-9-9-9-1010",
                            {HiveExpandSz("ProfileImagePath", "C:\\Users\\Jos\xC3\xA9")}},
                           {std::string(windowsdisk::kProfileList) + "S-1-5-21-9-9-9-1011",
                            {HiveExpandSz("ProfileImagePath", "C:\\Users\\\xC5\x81ukasz")}}},
                          error))
        << error;
    temp.Write("disk/Users/JOS\xC3\x89/NTUSER.DAT", ReadFileText(disk.Path(windowsdisk::kAliceHive)));
    temp.Write("disk/Users/\xC5\x81ukasz/NTUSER.DAT", ReadFileText(disk.Path(windowsdisk::kBobHive)));
    PosixPlatform files;
    HivePlatform hives(files);
    OfflineHost host(files, hives);
    ASSERT_TRUE(host.OpenWith(disk.root, false, DiskAccess{false, true}, error)) << error;
    EXPECT_EQ(4u, hives.RegistryUserCount());
}

TEST(OfflineDisk, TheDisksOwnLogIsWhereItsDialogKeepsItsData)
{
    const char kShellFolders[] = "Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    const char kProfiles[] = "Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    struct Row {
        const char* name;
        std::vector<HiveKeyDraft> software;
        std::vector<const char*> folders;  // made on the disk
        const char* log;                   // where it is, relative to the root
    } const rows[] = {
        {"Vista and later", {{kShellFolders, {HiveSz("Common AppData", "C:\\ProgramData")}}}, {"programdata"},
         "programdata/Quellor/Quellor.log"},
        {"a 64-bit Windows: its own view",
         {{kShellFolders, {HiveSz("Common AppData", "C:\\Data")}},
          {std::string("Wow6432Node\\") + kShellFolders, {HiveSz("Common AppData", "C:\\Data32")}}},
         {"Data", "Data32"}, "Data/Quellor/Quellor.log"},
        {"the profile list's", {{kProfiles, {HiveExpandSz("ProgramData", "%SystemDrive%\\Data")}}}, {"Data"},
         "Data/Quellor/Quellor.log"},
        {"XP", {{kShellFolders, {HiveSz("Common AppData", "C:\\Documents and Settings\\All Users\\Application Data")}}},
         {"Documents and Settings/All Users/Application Data"},
         "Documents and Settings/All Users/Application Data/Quellor/Quellor.log"},
        {"a log there already", {{kShellFolders, {HiveSz("Common AppData", "C:\\ProgramData")}}},
         {"ProgramData/QUELLOR/quellor.log"}, "ProgramData/QUELLOR/quellor.log"},
        {"named but missing: the usual name", {{kShellFolders, {HiveSz("Common AppData", "C:\\Gone")}}},
         {"ProgramData"}, "ProgramData/Quellor/Quellor.log"},
        {"on another drive", {{kShellFolders, {HiveSz("Common AppData", "D:\\ProgramData")}}}, {},
         "windows/Quellor/Quellor.log"},
        {"NT 4.0: none", {}, {}, "windows/Quellor/Quellor.log"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempFolder temp;
        std::vector<HiveKeyDraft> software = row.software;
        software.push_back({"Microsoft\\Windows NT\\CurrentVersion", {HiveSz("SystemRoot", "C:\\WINDOWS")}});
        std::string error;
        temp.Folder("windows/system32/config");
        ASSERT_TRUE(MakeHive(temp / "windows/system32/config/SOFTWARE", software, error)) << error;
        for (const char* folder : row.folders) {
            if (std::string(folder).find(".log") != std::string::npos) temp.Write(folder, "=== Quellor run\r\n");
            else temp.Folder(folder);
        }
        PosixPlatform files;
        HivePlatform hives(files);
        OfflineHost host(files, hives);
        ASSERT_TRUE(host.OpenWith(temp.Path(), true, DiskAccess{false, true}, error)) << error;
        std::string enginePath;
        std::string shown;
        ASSERT_TRUE(host.OwnLogFile(enginePath, shown));
        EXPECT_EQ(temp / row.log, shown);
        EXPECT_TRUE(IsFolderPath(temp / std::filesystem::path(row.log).parent_path().string()));
        std::string mapped;
        EXPECT_TRUE(files.HostPath(enginePath.c_str(), mapped)) << enginePath;
        EXPECT_EQ(temp / row.log, mapped);
    }
}

TEST(OfflineDisk, TheOptionNamesOneDiskAndOnlyOnLinux)
{
    struct Row {
        std::vector<const char*> argv;
        bool valid;
        std::string offline;
        std::int32_t action;
    } const rows[] = {
        {{"x", "--offline", "/mnt/win"}, true, "/mnt/win", kActionReportOnly},
        {{"x", "--remove", "--offline", "/mnt/win", "--no-memory"}, true, "/mnt/win", kActionDelete},
        {{"x", "--offline", "/mnt/win", "/mnt/win/Users"}, false, "", 0},
        {{"x", "/mnt/win", "--offline", "/mnt/win"}, false, "", 0},
        {{"x", "--offline", "/a", "--offline", "/b"}, false, "", 0},
        {{"x", "--offline", "/a", "--restore", "0123ABCD"}, false, "", 0},
        {{"x", "--offline"}, false, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.argv.size());
        ConsoleOptions options;
        std::string error;
        EXPECT_EQ(row.valid, ParseConsoleArguments(static_cast<int>(row.argv.size()), row.argv.data(), options, error));
        EXPECT_EQ(row.valid, error.empty()) << error;
        if (!row.valid) continue;
        EXPECT_EQ(row.offline, options.offline);
        EXPECT_TRUE(options.targets.empty());
        EXPECT_EQ(row.action, options.action);
    }

    const char* const windows[] = {"x", "--offline", "D:\\"};
    ConsoleOptions options;
    int status = kExitClean;
    EXPECT_FALSE(ReadConsoleCommandLine(3, windows, ConsoleOnWindows, options, status));
    EXPECT_EQ(kExitTrouble, status);
    EXPECT_NE(std::string::npos, ConsoleUsage(ConsoleOnLinux).find("--offline ROOT"));
    EXPECT_EQ(std::string::npos, ConsoleUsage(ConsoleOnWindows).find("--offline"));
}

}  // namespace
