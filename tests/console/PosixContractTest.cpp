// The platform contract run against the POSIX backend over a scratch folder
// mapped to drive C:, and the backend's own rules for what Windows does not
// have (links, special files, names the engine cannot hold).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <ostream>
#include <vector>

#include "console/PosixContractWorld.h"
#include "console/NoticeRecorder.h"
#include "console/TempFolder.h"
#include "contract/GoogleTestContractCheck.h"
#include "contract/PlatformContract.h"
#include "platform/posix/PosixPlatform.h"

// Names the case in GoogleTest's messages instead of dumping its bytes.
void PrintTo(const ContractCase& contractCase, std::ostream* out)
{
    *out << contractCase.name;
}

namespace {

const char kNoRegistry[] = "there is no registry: every key is missing";

// The POSIX backend has no registry of its own.
const NotApplying kNoRegistryNotApplying[] = {
    {"RegistryValuesAreCountedListedAndRead", kNoRegistry},
    {"RegistryDeleteValueRemovesOnlyThatValue", kNoRegistry},
    {"RegistryDeleteKeyRefusesKeysWithSubkeys", kNoRegistry},
    {"RegistryValuesShiftDownAfterADeletionThroughAnotherHandle", kNoRegistry},
    {"RegistryDeleteValueNeedsAKeyOpenedForChanges", kNoRegistry},
    {"RegistryKeyNamesIgnoreCase", kNoRegistry},
};

const char* WhyNotApplying(const char* name)
{
    const char* why = WhyNotApplying(kPosixFilesNotApplying, name);
    return why ? why : WhyNotApplying(kNoRegistryNotApplying, name);
}

class PosixContract : public ::testing::TestWithParam<ContractCase> {};

TEST_P(PosixContract, HoldsForPosix)
{
    if (const char* why = WhyNotApplying(GetParam().name)) GTEST_SKIP() << why;
    PosixContractWorld world;
    GoogleTestContractCheck check;
    GetParam().run(world, check);
    if (check.skipped) GTEST_SKIP() << check.skipReason;
}

TEST_P(PosixContract, HoldsForPosixBehindTheHeadCache)
{
    if (const char* why = WhyNotApplying(GetParam().name)) GTEST_SKIP() << why;
    PosixContractWorld world(true);
    GoogleTestContractCheck check;
    GetParam().run(world, check);
    if (check.skipped) GTEST_SKIP() << check.skipReason;
}

INSTANTIATE_TEST_SUITE_P(Posix, PosixContract,
                         ::testing::ValuesIn(kPlatformContractCases,
                                             kPlatformContractCases + kPlatformContractCaseCount),
                         [](const ::testing::TestParamInfo<ContractCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(PosixContractList, EveryExceptionNamesACase)
{
    ExpectEveryRowNamesACase(kPosixFilesNotApplying);
    ExpectEveryRowNamesACase(kNoRegistryNotApplying);
}

// ------------------------------------------------------------ the backend's own rules

std::vector<RecordedNotice>& notices = RecordedNotices();

class PosixBackend : public ::testing::Test {
protected:
    void SetUp() override
    {
        notices.clear();
        platform.MapDrive('C', temp.Path());
        platform.SetNoticeHandler(RecordNotice);
    }

    // Names of the listing, sorted, with their attributes.
    std::vector<std::pair<std::string, DirEntry>> List(const std::string& pattern)
    {
        std::vector<std::pair<std::string, DirEntry>> listing;
        DirEntry entry;
        SearchRef search = platform.FindFirstEntry(pattern.c_str(), entry);
        if (!search) return listing;
        do {
            listing.emplace_back(entry.name, entry);
        } while (platform.FindNextEntry(search, entry));
        platform.FindEnd(search);
        std::sort(listing.begin(), listing.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        return listing;
    }

    TempFolder temp;
    PosixPlatform platform;
};

TEST_F(PosixBackend, NewFoldersAndFilesAreTheOwnersAlone)
{
    // Whatever the umask allows: nothing for the group or others.
    ASSERT_TRUE(platform.CreateFolder("C:\\kept"));
    FileRef file = platform.CreateNewFile("C:\\kept\\copy.bin");
    ASSERT_NE(kNoFile, file);
    platform.CloseFile(file);
    struct stat folder;
    struct stat copy;
    ASSERT_EQ(0, stat((temp / "kept").c_str(), &folder));
    ASSERT_EQ(0, stat((temp / "kept/copy.bin").c_str(), &copy));
    EXPECT_EQ(0u, folder.st_mode & 077u);
    EXPECT_EQ(0u, copy.st_mode & 077u);
    EXPECT_EQ(static_cast<unsigned>(S_IRWXU), folder.st_mode & S_IRWXU);
    EXPECT_EQ(static_cast<unsigned>(S_IRUSR | S_IWUSR), copy.st_mode & 0777u);
}

TEST_F(PosixBackend, EnginePathsNameHostPathsUnderTheMappedFolder)
{
    struct Row {
        const char* engine;
        bool mapped;
        std::string host;
    } const rows[] = {
        {"C:\\", true, temp.Path()},
        {"c:\\dir\\file.exe", true, temp / "dir/file.exe"},
        {"C:\\dir\\", true, temp / "dir/"},
        {"D:\\dir\\file.exe", false, ""},
        {"\\dir\\file.exe", false, ""},
        {"", false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.engine);
        std::string host;
        EXPECT_EQ(row.mapped, platform.HostPath(row.engine, host));
        if (row.mapped) {
            EXPECT_EQ(row.host, host);
        }
    }
}

TEST_F(PosixBackend, LinksToFoldersAreMarkedAndLinksAreNeverOpened)
{
    temp.Write("dir/real.txt", "real");
    temp.Folder("dir/sub");
    ASSERT_EQ(0, symlink("sub", (temp / "dir/tosub").c_str()));
    ASSERT_EQ(0, symlink("real.txt", (temp / "dir/toreal").c_str()));
    ASSERT_EQ(0, symlink("missing", (temp / "dir/dangling").c_str()));

    auto listing = List("C:\\dir\\*.*");
    ASSERT_EQ(7u, listing.size());  // ".", "..", and five entries
    for (const auto& item : listing) {
        SCOPED_TRACE(item.first);
        const DirEntry& entry = item.second;
        const bool link = item.first == "tosub" || item.first == "toreal" || item.first == "dangling";
        const bool folder = item.first == "tosub" || item.first == "sub" || item.first == "." || item.first == "..";
        EXPECT_EQ(folder, (entry.attributes & kAttrDirectory) != 0);
        EXPECT_EQ(link, (entry.attributes & kAttrReparsePoint) != 0);
        EXPECT_EQ(link ? kReparseTagSymlink : 0u, entry.reparseTag);
    }
    EXPECT_EQ(kNoFile, platform.OpenForRead("C:\\dir\\toreal"));
    FileRef real = platform.OpenForRead("C:\\dir\\real.txt");
    EXPECT_NE(kNoFile, real);
    platform.CloseFile(real);
    EXPECT_TRUE(notices.empty());
}

TEST_F(PosixBackend, SpecialFilesAreLeftOutNamedOnceAndNeverOpened)
{
    temp.Write("dir/plain.txt", "p");
    ASSERT_EQ(0, mkfifo((temp / "dir/pipe").c_str(), 0644));
    for (int pass = 0; pass < 2; ++pass) {
        auto listing = List("C:\\dir\\*.*");
        std::vector<std::string> names;
        for (const auto& item : listing) names.push_back(item.first);
        EXPECT_EQ((std::vector<std::string>{".", "..", "plain.txt"}), names);
        EXPECT_TRUE(List("C:\\dir\\pipe").empty());
        // Opening a pipe for reading would wait for a writer; it is refused.
        EXPECT_EQ(kNoFile, platform.OpenForRead("C:\\dir\\pipe"));
    }
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(PosixPlatform::NoticeNotRegular, notices[0].kind);
    EXPECT_EQ(temp / "dir/pipe", notices[0].path);
    EXPECT_EQ(static_cast<int>(S_IFIFO), notices[0].detail);
}

TEST_F(PosixBackend, NamesTheEngineCannotHoldAreLeftOutAndNoticedOnce)
{
    temp.Write("dir/back\\slash.exe", "b");
    // The engine path "C:\\dir\\" plus the name: a file may reach 259
    // characters, a folder 255 (the walk appends "\\*.*").
    const std::string fileFits(259 - 7, 'f');
    const std::string fileTooLong(260 - 7, 'g');
    const std::string folderFits(255 - 7, 'd');
    const std::string folderTooLong(256 - 7, 'e');
    temp.Write("dir/" + fileFits, "x");
    temp.Write("dir/" + fileTooLong, "x");
    temp.Folder("dir/" + folderFits);
    temp.Folder("dir/" + folderTooLong);

    for (int pass = 0; pass < 2; ++pass) {
        auto listing = List("C:\\dir\\*.*");
        std::vector<std::string> names;
        for (const auto& item : listing) names.push_back(item.first);
        EXPECT_EQ((std::vector<std::string>{".", "..", folderFits, fileFits}), names);
    }
    ASSERT_EQ(3u, notices.size());
    std::sort(notices.begin(), notices.end(), [](const RecordedNotice& a, const RecordedNotice& b) { return a.path < b.path; });
    EXPECT_EQ(PosixPlatform::NoticeBackslash, notices[0].kind);
    EXPECT_EQ(temp / "dir/back\\slash.exe", notices[0].path);
    EXPECT_EQ(PosixPlatform::NoticeTooLong, notices[1].kind);
    EXPECT_EQ(temp / ("dir/" + folderTooLong), notices[1].path);
    EXPECT_EQ(PosixPlatform::NoticeTooLong, notices[2].kind);
    EXPECT_EQ(temp / ("dir/" + fileTooLong), notices[2].path);
}

TEST_F(PosixBackend, FileGoneBeforeItIsOpenedIsNoProblem)
{
    temp.Write("dir/brief.txt", "b");
    auto listing = List("C:\\dir\\*.*");
    ASSERT_EQ(3u, listing.size());
    ASSERT_EQ(0, unlink((temp / "dir/brief.txt").c_str()));
    EXPECT_EQ(kNoFile, platform.OpenForRead("C:\\dir\\brief.txt"));
    EXPECT_TRUE(notices.empty());
}

// The superuser reads every file and folder: as root the case runs in a
// child process that has become an unprivileged account first. 0 when
// every check held, else the number of the first that failed.
int NoticeUnreadableOnceEach(PosixPlatform& platform, const TempFolder& temp, std::vector<RecordedNotice>& notices,
                             const std::function<void(const char*)>& list)
{
    for (int pass = 0; pass < 2; ++pass) {
        list("C:\\dir\\locked\\*.*");
        if (platform.OpenForRead("C:\\dir\\secret.txt") != kNoFile) return 1;
    }
    if (notices.size() != 2u) return 2;
    if (notices[0].kind != PosixPlatform::NoticeUnreadable || notices[0].path != temp / "dir/locked") return 3;
    if (notices[1].path != temp / "dir/secret.txt") return 4;
    return 0;
}

TEST_F(PosixBackend, UnreadableFolderAndFileAreNoticedOnceEach)
{
    temp.Write("dir/locked/inside.txt", "i");
    temp.Write("dir/secret.txt", "s");
    chmod((temp / "dir/locked").c_str(), 0);
    chmod((temp / "dir/secret.txt").c_str(), 0);
    const auto list = [this](const char* pattern) { List(pattern); };
    if (geteuid() != 0) {
        EXPECT_EQ(0, NoticeUnreadableOnceEach(platform, temp, notices, list));
        return;
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const uid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(10);
        _exit(NoticeUnreadableOnceEach(platform, temp, notices, list));
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "the check that failed as an unprivileged account";
}

TEST_F(PosixBackend, QuitRequestReachesTheQueueOnce)
{
    PendingMessage message;
    EXPECT_FALSE(platform.TakePendingMessage(message));
    PosixPlatform::RequestQuit();
    ASSERT_TRUE(platform.TakePendingMessage(message));
    EXPECT_EQ(kMessageQuit, message.message);
    EXPECT_FALSE(platform.TakePendingMessage(message));
}

TEST_F(PosixBackend, NothingToAskAndNothingToRestart)
{
    EXPECT_EQ(kAnswerNo, platform.Prompt("Restart now?", "caption", kPromptYesNoQuestion));
    EXPECT_FALSE(platform.RequestReboot(kRebootForce));
    EXPECT_FALSE(platform.RemoveAtReboot("C:\\x.exe"));
    VersionInfo version;
    EXPECT_FALSE(platform.QueryVersion(version));
    EXPECT_EQ(0u, platform.ProcessSnapshot());
    EXPECT_EQ(0u, platform.OpenServiceManager(kServiceAllAccess));
}

}  // namespace
