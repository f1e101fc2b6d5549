// The world the platform contract runs in over the POSIX backend: a scratch
// folder mapped to drive C:, files made and inspected through the host. The
// hive backend's contract run (HiveContractTest.cpp) stands on it too, since
// that backend hands every file call to the POSIX one.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "console/TempFolder.h"
#include "contract/PlatformContract.h"
#include "platform/HeadCachePlatform.h"
#include "platform/posix/PosixPlatform.h"

// Names the case in GoogleTest's messages instead of dumping its bytes
// (defined in PosixContractTest.cpp).
void PrintTo(const ContractCase& contractCase, std::ostream* out);

// A case that cannot hold for a backend, and why.
struct NotApplying {
    const char* name;
    const char* why;
};

// The cases that cannot hold on a POSIX file system.
const char kNoHiddenOrSystem[] = "hidden and system attributes do not exist on POSIX file systems";
const char kCaseMatters[] = "POSIX names are compared exactly: case makes a different name";

const NotApplying kPosixFilesNotApplying[] = {
    {"EntriesCarryHiddenSystemAndReadOnly", kNoHiddenOrSystem},
    {"SetAttributesSetsWhatItIsGiven", kNoHiddenOrSystem},
    {"RenameKeepsReadOnlyFileAndItsAttributes", kNoHiddenOrSystem},
    {"CopyFileOverCarriesTheSourceAttributes", kNoHiddenOrSystem},
    {"FindIgnoresCaseAndKeepsStoredName", kCaseMatters},
    {"PathsIgnoreCase", kCaseMatters},
    {"OpenFileCannotBeRemovedOrRenamed",
     "POSIX removes and renames open files; the runtime's sharing modes do not exist"},
    {"RenameOverLeavesAFileThatIsOpenInPlace",
     "POSIX replaces open files; the runtime's sharing modes do not exist"},
    {"SystemFolderLiesInTheWindowsFolder", "there is no Windows folder, so no system folder in it either"},
    {"FolderQueriesGiveLengthOrSizeNeeded",
     "there is no Windows folder and no temporary folder of the Windows kind: both queries answer 0"},
    {"PostedMessageIsTakenOnce", "there is no window message queue: only an interrupt reaches the walk, as a quit"},
};

// The reason `name` is in `table`, or null.
template <std::size_t N>
const char* WhyNotApplying(const NotApplying (&table)[N], const char* name)
{
    for (const NotApplying& row : table) {
        if (std::strcmp(row.name, name) == 0) return row.why;
    }
    return nullptr;
}

// True when every row of `table` names a contract case.
template <std::size_t N>
void ExpectEveryRowNamesACase(const NotApplying (&table)[N])
{
    for (const NotApplying& row : table) {
        bool known = false;
        for (std::size_t i = 0; i < kPlatformContractCaseCount; ++i) {
            known = known || std::strcmp(kPlatformContractCases[i].name, row.name) == 0;
        }
        EXPECT_TRUE(known) << row.name;
    }
}

class PosixContractWorld : public ContractWorld {
public:
    // `headCache`: the cases talk to the backend through the head cache
    // quellor-scan puts in front of it.
    explicit PosixContractWorld(bool headCache = false) : headCache_(platform_), cached_(headCache)
    {
        platform_.MapDrive('C', temp_.Path());
        temp_.Folder("contract");
    }

    Platform& platform() override { return cached_ ? static_cast<Platform&>(headCache_) : platform_; }
    std::string Root() override { return "C:\\contract"; }
    std::string DriveRoot() override { return "C:\\"; }
    std::string UnmappedDriveRoot() override { return "Q:\\"; }

    void MakeFolder(const std::string& path) override { std::filesystem::create_directories(Host(path)); }
    void MakeFile(const std::string& path, const std::string& content, std::uint32_t attributes) override
    {
        const std::string host = Host(path);
        chmod(host.c_str(), 0644);
        std::ofstream(host, std::ios::binary | std::ios::trunc) << content;
        chmod(host.c_str(), (attributes & kAttrReadOnly) ? 0444 : 0644);
    }
    bool MakeFolderLink(const std::string& path, const std::string& target) override
    {
        return symlink(Host(target).c_str(), Host(path).c_str()) == 0;
    }
    void MakeRegistryString(KeyRef, const std::string&, const std::string&, const std::string&) override {}
    void MakeRegistryKey(KeyRef, const std::string&) override {}
    void PostToQueue(std::uint32_t, std::uintptr_t, std::intptr_t) override {}

    bool Exists(const std::string& path) override { return ::Exists(Host(path)); }
    bool ReadContent(const std::string& path, std::string& content) override
    {
        struct stat st;
        const std::string host = Host(path);
        if (stat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        content = ReadFileText(host);
        return true;
    }
    std::uint32_t AttributesOf(const std::string& path) override
    {
        struct stat st;
        if (stat(Host(path).c_str(), &st) != 0) return 0xFFFFFFFFu;
        if (S_ISDIR(st.st_mode)) return kAttrDirectory;
        return kAttrArchive | ((st.st_mode & S_IWUSR) ? 0u : kAttrReadOnly);
    }
    // The superuser opens read-only files for writing.
    unsigned Quirks() override
    {
        return kQuirkCaseSensitiveNames | kQuirkNoCommonDataFolder |
               (geteuid() == 0 ? kQuirkReadOnlyDoesNotStopWriters : 0u);
    }

    std::string Host(const std::string& path)
    {
        std::string host;
        EXPECT_TRUE(platform_.HostPath(path.c_str(), host)) << path;
        return host;
    }

private:
    TempFolder temp_;
    PosixPlatform platform_;
    HeadCachePlatform headCache_;
    bool cached_;
};
