// Names below a held folder: no link is followed at any step, and nothing
// but a regular file is ever opened, whatever the listing said.
#include "platform/posix/HeldFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "console/SpecialFiles.h"
#include "console/TempFolder.h"

namespace {

class HeldFolderTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ResolveStepwiseForTesting(GetParam());
        temp.Write("a/b/file.txt", "inside");
        temp.Write("outside/secret.txt", "outside");
        symlink((temp / "outside").c_str(), (temp / "a/linked").c_str());
        symlink("b", (temp / "a/relative-link").c_str());
        root = open(temp.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(root, 0);
    }
    void TearDown() override
    {
        close(root);
        ResolveStepwiseForTesting(false);
    }
    TempFolder temp;
    int root = -1;
};

TEST_P(HeldFolderTest, FoldersAreReachedOnlyThroughRealFolders)
{
    struct Row {
        const char* relative;
        int error;  // 0: opened
    } rows[] = {
        {"", 0},
        {"a", 0},
        {"a/b", 0},
        {"a//b/", 0},
        {"a/linked", ELOOP},
        {"a/relative-link", ELOOP},
        {"a/linked/b", ELOOP},
        {"a/b/file.txt", ENOTDIR},
        {"a/..", EINVAL},
        {"a/./b", EINVAL},
        {"..", EINVAL},
        {"/tmp", EINVAL},
        {"a/missing", ENOENT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.relative);
        errno = 0;
        const int fd = OpenFolderBelow(root, row.relative);
        if (row.error == 0) {
            EXPECT_GE(fd, 0) << strerror(errno);
        } else {
            EXPECT_EQ(fd, -1);
            EXPECT_EQ(errno, row.error) << strerror(errno);
        }
        if (fd >= 0) close(fd);
    }
}

TEST_P(HeldFolderTest, AFolderSwappedForALinkAfterItWasHeldLeadsNowhereElse)
{
    const int held = OpenFolderBelow(root, "a/b");
    ASSERT_GE(held, 0);
    // The name now leads out of the disk; the descriptor still holds the
    // folder that was checked.
    ASSERT_EQ(rename((temp / "a/b").c_str(), (temp / "a/b-moved").c_str()), 0);
    ASSERT_EQ(symlink((temp / "outside").c_str(), (temp / "a/b").c_str()), 0);
    const FileOpening file = OpenFileIn(held, RiskOf(held), "file.txt", O_RDONLY, DT_UNKNOWN);
    ASSERT_GE(file.fd, 0);
    char text[16] = {};
    EXPECT_EQ(read(file.fd, text, sizeof text - 1), 6);
    EXPECT_STREQ(text, "inside");
    close(file.fd);
    close(held);
    EXPECT_EQ(OpenFolderBelow(root, "a/b"), -1);
}

TEST_P(HeldFolderTest, AFolderHeldToPassThroughStillLeadsToItsNamesAndOpensAnewToBeListed)
{
    const int held = OpenFolderBelow(root, "a/b", O_PATH);
    ASSERT_GE(held, 0);
    EXPECT_EQ(O_PATH, fcntl(held, F_GETFL) & O_PATH);
    const FileOpening file = OpenFileIn(held, RiskOf(held), "file.txt", O_RDONLY, DT_UNKNOWN);
    EXPECT_GE(file.fd, 0);
    if (file.fd >= 0) close(file.fd);
    DIR* listing = fdopendir(OpenFolderBelow(held, ""));
    ASSERT_NE(listing, nullptr);
    std::set<std::string> names;
    while (const struct dirent* entry = readdir(listing)) names.insert(entry->d_name);
    closedir(listing);
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "file.txt"}));
    close(held);

    errno = 0;
    EXPECT_EQ(OpenFolderBelow(root, "a/linked", O_PATH), -1);
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(OpenFolderBelow(root, "a", O_WRONLY), -1);
    EXPECT_EQ(errno, EINVAL);
}

INSTANTIATE_TEST_SUITE_P(OpenAt2AndStepwise, HeldFolderTest, ::testing::Bool());

class OpenFileInTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        temp.Write("folder/regular", "bytes");
        temp.Folder("folder/sub");
        ASSERT_EQ(mkfifo((temp / "folder/fifo").c_str(), 0666), 0);
        symlink((temp / "folder/regular").c_str(), (temp / "folder/link").c_str());
        folder = open((temp / "folder").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(folder, 0);
    }
    void TearDown() override { close(folder); }
    TempFolder temp;
    int folder = -1;
};

TEST_F(OpenFileInTest, OnlyRegularFilesAreOpenedWhateverTheListingSaid)
{
    const FolderRisk trusted = {false, false};
    const FolderRisk shared = {true, false};
    struct Row {
        const char* name;
        unsigned char listed;
        FolderRisk risk;
        mode_t type;  // what it must be reported as
        int error;
    } rows[] = {
        {"regular", DT_REG, trusted, S_IFREG, 0},
        {"regular", DT_UNKNOWN, shared, S_IFREG, 0},
        {"regular", DT_REG, shared, S_IFREG, 0},
        {"link", DT_LNK, trusted, S_IFLNK, ELOOP},
        {"link", DT_REG, shared, S_IFLNK, ELOOP},  // swapped in after the listing
        {"sub", DT_DIR, trusted, S_IFDIR, ENXIO},
        {"fifo", DT_FIFO, trusted, S_IFIFO, ENXIO},
        {"fifo", DT_UNKNOWN, shared, S_IFIFO, ENXIO},
        {"fifo", DT_REG, shared, S_IFIFO, ENXIO},  // swapped in after the listing
        {"missing", DT_UNKNOWN, shared, 0, ENOENT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " listed as " + std::to_string(row.listed));
        WaitingWriter writer(temp / "folder/fifo");
        const FileOpening opened = OpenFileIn(folder, row.risk, row.name, O_RDONLY, row.listed);
        EXPECT_EQ(opened.type, row.type);
        EXPECT_EQ(opened.error, row.error);
        EXPECT_EQ(opened.fd >= 0, row.error == 0);
        if (opened.fd >= 0) close(opened.fd);
        EXPECT_FALSE(writer.WasLetThrough()) << "the FIFO was opened";
    }
}

TEST_F(OpenFileInTest, ADeviceNodeIsNamedAndNeverOpened)
{
    if (geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
    const unsigned major = UnboundCharacterMajor();
    if (major == 0) GTEST_SKIP() << "every local device number is in use here";
    ASSERT_EQ(mknod((temp / "folder/device").c_str(), S_IFCHR | 0666, makedev(major, 0)), 0);
    for (unsigned char listed : {static_cast<unsigned char>(DT_CHR), static_cast<unsigned char>(DT_UNKNOWN),
                                 static_cast<unsigned char>(DT_REG)}) {
        SCOPED_TRACE(static_cast<int>(listed));
        const FileOpening opened = OpenFileIn(folder, FolderRisk{true, false}, "device", O_RDONLY, listed);
        EXPECT_EQ(opened.fd, -1);
        EXPECT_EQ(opened.type, static_cast<mode_t>(S_IFCHR)) << strerror(opened.error);
        EXPECT_STREQ(EntryTypeText(opened.type), "a device");
    }
}

TEST_F(OpenFileInTest, CreatingNeverTakesAnExistingNameOrFollowsALink)
{
    symlink((temp / "outside-target").c_str(), (temp / "folder/dangling").c_str());
    EXPECT_EQ(CreateFileIn(folder, "regular", O_WRONLY, 0600), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(CreateFileIn(folder, "dangling", O_WRONLY, 0600), -1);
    EXPECT_FALSE(Exists(temp / "outside-target"));
    EXPECT_EQ(CreateFileIn(folder, "../escape", O_WRONLY, 0600), -1);
    EXPECT_EQ(errno, EINVAL);
    const int made = CreateFileIn(folder, "new", O_WRONLY, 0600);
    ASSERT_GE(made, 0);
    close(made);
    EXPECT_TRUE(Exists(temp / "folder/new"));
}

}  // namespace
