#include "platform/hive/HiveWriter.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/hive/HiveDigest.h"
#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveHeader.h"

namespace {

// Far more than a change of the largest hive takes.
const long kWriterTimeLimitSeconds = 120;
// The limit when a test makes the child hang on purpose.
const long kHangingWriterTimeLimitSeconds = 1;
// What WaitForChild gives for a child that did not exit by itself.
const int kChildCrashed = -1;
const int kChildStopped = -2;

// Exit statuses of the child, each naming the step that failed.
enum ChildStatus {
    ChildDone = 0,
    ChildCannotOpen = 10,
    ChildKeyMoved,
    ChildEditFailed,
    ChildCommitFailed,
    ChildFlushFailed,
    ChildNotATree,
    ChildChangedMore
};

struct StatusText {
    int status;
    const char* text;
};
const StatusText kChildStatusTexts[] = {
    {ChildCannotOpen, "the hive could not be opened for writing"},
    {ChildKeyMoved, "the key is not where it was read"},
    {ChildEditFailed, "libhivex could not make the change"},
    {ChildCommitFailed, "the changed hive could not be written"},
    {ChildFlushFailed, "the changed hive could not be flushed to the disk"},
    {ChildNotATree, "a key of the hive is reached from two places"},
    {ChildChangedMore, "libhivex changed more of the hive than the one deletion"},
};

// A crash in the library ends the child by its own signal, whatever
// handlers this process installed (a sanitizer's, a fuzzer's): none of
// them is to run, or write anything, on the writer's behalf.
const int kCrashSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};

const char* ChildStatusText(int status)
{
    for (const StatusText& row : kChildStatusTexts) {
        if (row.status == status) return row.text;
    }
    return "the writer ended unexpectedly";
}

bool SameStoredName(hive_h* hive, hive_node_h key, const std::string& name)
{
    char* stored = hivex_node_name(hive, key);
    const bool same = stored && name == stored;
    std::free(stored);
    return same;
}

// Sets every value of the key but the one at `index`, as they are stored.
int DeleteValue(hive_h* hive, const HiveEdit& edit)
{
    hive_value_h* values = hivex_node_values(hive, edit.key);
    if (!values) return ChildKeyMoved;
    std::size_t count = 0;
    while (values[count]) ++count;
    int status = edit.valueIndex < count && values[edit.valueIndex] == edit.value ? ChildDone : ChildKeyMoved;
    // Filled in place: the types are copied as libhivex gives them, bits
    // and all, never loaded as its enum (see StoredType).
    std::vector<hive_set_value> kept;
    kept.reserve(count);
    for (std::size_t i = 0; i < count && status == ChildDone; ++i) {
        if (i == edit.valueIndex) continue;
        kept.emplace_back();
        hive_set_value& value = kept.back();
        std::size_t length = 0;
        value.key = hivex_value_key(hive, values[i]);
        value.value = hivex_value_value(hive, values[i], &value.t, &length);
        value.len = length;
        if (!value.key || !value.value) status = ChildEditFailed;
    }
    if (status == ChildDone && hivex_node_set_values(hive, edit.key, kept.size(), kept.data(), 0) != 0) {
        status = ChildEditFailed;
    }
    for (hive_set_value& value : kept) {
        std::free(value.key);
        std::free(value.value);
    }
    std::free(values);
    return status;
}

int FlushFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ChildFlushFailed;
    const int status = fsync(fd) == 0 ? ChildDone : ChildFlushFailed;
    close(fd);
    return status;
}

int ReadsAs(const std::string& path, const HiveDigest& expected)
{
    hive_h* hive = hivex_open(path.c_str(), 0);
    if (!hive) return ChildChangedMore;
    HiveDigest digest;
    const bool same = DigestHive(hive, HiveDigestSkip(), digest) && digest == expected;
    hivex_close(hive);
    return same ? ChildDone : ChildChangedMore;
}

// The child's whole work; its result is the exit status.
int RunChild(const std::string& hostPath, const HiveEdit& edit, HivePlatform::ChangeFault fault)
{
    hive_h* hive = hivex_open(hostPath.c_str(), HIVEX_OPEN_WRITE);
    if (!hive) return ChildCannotOpen;
    int status = SameStoredName(hive, edit.key, edit.keyName) ? ChildDone : ChildKeyMoved;
    // What the new hive must read as: the old one less the deleted key or value.
    const HiveDigestSkip deleted{edit.key, edit.kind == HiveEdit::DeleteValue ? edit.value : 0};
    HiveDigest expected;
    if (status == ChildDone && !DigestHive(hive, deleted, expected)) status = ChildNotATree;
    if (status == ChildDone && edit.kind == HiveEdit::DeleteKey) {
        hive_node_h* children = hivex_node_children(hive, edit.key);
        // Checked by the caller already: a key with subkeys is never deleted.
        if (!children || children[0]) status = ChildKeyMoved;
        std::free(children);
        if (status == ChildDone && hivex_node_delete_child(hive, edit.key) != 0) status = ChildEditFailed;
    } else if (status == ChildDone) {
        status = DeleteValue(hive, edit);
    }
    if (fault == HivePlatform::ChangeFault::ChildAborts) std::abort();
    if (fault == HivePlatform::ChangeFault::ChildKilledBeforeCommit) raise(SIGKILL);
    while (fault == HivePlatform::ChangeFault::ChildHangs) pause();
    const std::string newPath = NewHivePath(hostPath);
    if (status == ChildDone && hivex_commit(hive, newPath.c_str(), 0) != 0) status = ChildCommitFailed;
    hivex_close(hive);
    if (status == ChildDone) status = ReadsAs(newPath, expected);
    if (status == ChildDone) status = FlushFile(newPath);
    if (fault == HivePlatform::ChangeFault::ChildFlushFails) status = ChildFlushFailed;
    return status;
}

// Waits for the child; its exit status, kChildCrashed when it was ended by
// a signal, kChildStopped when it was still at work after `limitSeconds`
// and was ended here: a hive that makes the library loop must not hold the
// program.
int WaitForChild(pid_t child, long limitSeconds)
{
    const long kPollNanoseconds = 5 * 1000 * 1000;
    timespec started;
    clock_gettime(CLOCK_MONOTONIC, &started);
    int raw = 0;
    for (;;) {
        const pid_t ended = waitpid(child, &raw, WNOHANG);
        if (ended == child) break;
        if (ended < 0 && errno != EINTR) return kChildCrashed;
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - started.tv_sec > limitSeconds) {
            kill(child, SIGKILL);
            while (waitpid(child, &raw, 0) < 0 && errno == EINTR) {
            }
            return kChildStopped;
        }
        const timespec pause = {0, kPollNanoseconds};
        nanosleep(&pause, nullptr);
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : kChildCrashed;
}

// The new file gets the hive's permissions, and its owner where this
// process may give it (the superuser on a disk mounted with owners).
bool KeepOwnerAndMode(const std::string& hostPath, const std::string& newPath)
{
    struct stat hive;
    if (stat(hostPath.c_str(), &hive) != 0) return false;
    if (chown(newPath.c_str(), hive.st_uid, hive.st_gid) != 0 && geteuid() == 0) return false;
    return chmod(newPath.c_str(), hive.st_mode & 07777) == 0;
}

bool FlushFolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool flushed = fsync(fd) == 0;
    close(fd);
    return flushed;
}

}  // namespace

bool WriteHiveEdit(const std::string& hostPath, const HiveEdit& edit, HivePlatform::ChangeFault fault,
                   std::string& why)
{
    const std::string newPath = NewHivePath(hostPath);
    unlink(newPath.c_str());
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        why = "no process could be started to write it";
        return false;
    }
    if (child == 0) {
        // A writer outliving this process could only leave a new file that
        // the next mount removes; it is ended with it all the same.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(ChildCannotOpen);
        for (int crash : kCrashSignals) std::signal(crash, SIG_DFL);
        _exit(RunChild(hostPath, edit, fault));
    }

    const bool hangs = fault == HivePlatform::ChangeFault::ChildHangs;
    const int status = WaitForChild(child, hangs ? kHangingWriterTimeLimitSeconds : kWriterTimeLimitSeconds);
    std::string newWhy;
    if (status != ChildDone) {
        why = status == kChildStopped   ? "the writer did not finish and was stopped"
              : status == kChildCrashed ? "the writer crashed"
                                        : ChildStatusText(status);
    } else if (CheckHiveFile(newPath, newWhy) != HiveVerdict::Sound) {
        // What libhivex wrote must pass the same checks as the hive did.
        why = "the changed hive fails its checks: " + newWhy;
    } else if (!KeepOwnerAndMode(hostPath, newPath)) {
        why = "the changed hive could not be given the hive's owner and permissions";
    } else {
        if (fault == HivePlatform::ChangeFault::StopAfterNewFile) _exit(9);
        if (rename(newPath.c_str(), hostPath.c_str()) != 0) {
            why = std::string("the changed hive could not replace it: ") + std::strerror(errno);
        } else {
            if (fault == HivePlatform::ChangeFault::StopAfterRename) _exit(9);
            // The rename is done; a folder that cannot be flushed only
            // leaves it less certain to survive a power cut.
            FlushFolderOf(hostPath);
            return true;
        }
    }
    unlink(newPath.c_str());
    return false;
}
