// quellor-scan run as a program over trees that hold FIFOs, sockets and
// device nodes: each is named once as what it is and never opened, and one
// where the run's own log goes holds nothing up.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "app/console/ConsoleScan.h"
#include "console/ScannerRun.h"
#include "console/SpecialFiles.h"
#include "console/TempFolder.h"
#include "console/WindowsDisk.h"

namespace {

std::vector<std::string> ProblemLines(const std::string& err)
{
    std::vector<std::string> problems;
    for (const std::string& line : Lines(err)) {
        if (line.find("skipped: not a regular file") != std::string::npos) problems.push_back(line);
    }
    std::sort(problems.begin(), problems.end());
    return problems;
}

bool BindSocket(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const bool fits = path.size() < sizeof address.sun_path;
    if (fits) std::memcpy(address.sun_path, path.c_str(), path.size());
    const bool bound = fd >= 0 && fits && bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) close(fd);
    return bound;
}

TEST(SpecialFilesScan, EachIsNamedOnceAsWhatItIsAndNeverOpened)
{
    TempFolder temp;
    temp.Write("tree/plain.txt", "plain");
    temp.Folder("tree/sub");
    ASSERT_EQ(0, mkfifo((temp / "tree/sub/pipe").c_str(), 0666));
    ASSERT_TRUE(BindSocket(temp / "tree/socket"));
    const bool root = geteuid() == 0;
    // The null device's number: opening it does nothing, but is seen.
    if (root) {
        ASSERT_EQ(0, mknod((temp / "tree/device").c_str(), S_IFCHR | 0666, makedev(1, 3)));
    }
    OpenWatch watch(temp / "tree/device");
    WaitingWriter writer(temp / "tree/sub/pipe");

    const Outcome outcome = RunScanner({"--remove", temp / "tree"});
    std::vector<std::string> expected = {
        "quellor-scan: " + (temp / "tree/socket") + ": skipped: not a regular file (a socket)",
        "quellor-scan: " + (temp / "tree/sub/pipe") + ": skipped: not a regular file (a FIFO)",
    };
    if (root) {
        expected.push_back("quellor-scan: " + (temp / "tree/device") + ": skipped: not a regular file (a device)");
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, ProblemLines(outcome.err)) << outcome.err;
    // Not counted as files scanned; named, so the run could not read all.
    EXPECT_NE(std::string::npos, outcome.out.find("Total files scanned\t\t:  1\n")) << outcome.out;
    EXPECT_EQ(kExitTrouble, outcome.status);
    EXPECT_FALSE(writer.WasLetThrough()) << "the FIFO was opened";
    struct stat st;
    EXPECT_EQ(0, lstat((temp / "tree/sub/pipe").c_str(), &st));
    if (!root) GTEST_SKIP() << "making a device node needs root: the FIFO and the socket were shown";
    ASSERT_TRUE(watch.Watching());
    EXPECT_EQ(0, watch.Opens()) << "the device was opened";
}

TEST(SpecialFilesScan, AFifoWhereTheDisksRunLogGoesHoldsNothingUp)
{
    TempFolder temp;
    const windowsdisk::Disk disk = windowsdisk::MakeDisk(temp / "disk");
    const std::string log = disk.Path(windowsdisk::kDiskLog);
    temp.Folder("disk/programdata/Quellor");
    ASSERT_EQ(0, mkfifo(log.c_str(), 0666));

    const Outcome outcome = RunScanner({"--offline", disk.root, "--remove", "--quarantine", temp / "store"});
    // A run waiting for a reader is ended by the runner's alarm.
    EXPECT_NE(128 + SIGALRM, outcome.status) << "the run waited at the FIFO";
    EXPECT_NE(kExitClean, outcome.status) << outcome.err;
    EXPECT_NE(std::string::npos, outcome.err.find(log + ": skipped: not a regular file (a FIFO)")) << outcome.err;
    // The detected file was still removed, and the FIFO left as it was.
    EXPECT_FALSE(Exists(disk.Path(windowsdisk::kEvil)));
    struct stat st;
    ASSERT_EQ(0, lstat(log.c_str(), &st));
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

}  // namespace
