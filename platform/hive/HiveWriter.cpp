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
#include "platform/hive/HiveLogs.h"
#include "platform/posix/HeldFolder.h"

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

int ReadsAs(const std::string& path, const HiveDigest& expected)
{
    hive_h* hive = hivex_open(path.c_str(), 0);
    if (!hive) return ChildChangedMore;
    HiveDigest digest;
    const bool same = DigestHive(hive, HiveDigestSkip(), digest) && digest == expected;
    hivex_close(hive);
    return same ? ChildDone : ChildChangedMore;
}

// The child's whole work; its result is the exit status. The hive is read
// through `hiveFd` and the change committed through `out`: the child names
// nothing on the disk.
int RunChild(int hiveFd, int out, const HiveEdit& edit, HivePlatform::ChangeFault fault)
{
    hive_h* hive = hivex_open(DescriptorPath(hiveFd).c_str(), HIVEX_OPEN_WRITE);
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
    // libhivex opens the path it commits to with O_CREAT | O_TRUNC: the
    // descriptor's path reaches the new file, whatever its name stands for.
    const std::string newPath = DescriptorPath(out);
    if (status == ChildDone && hivex_commit(hive, newPath.c_str(), 0) != 0) status = ChildCommitFailed;
    hivex_close(hive);
    if (status == ChildDone) status = ReadsAs(newPath, expected);
    if (status == ChildDone && fsync(out) != 0) status = ChildFlushFailed;
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
bool KeepOwnerAndMode(int hiveFd, int out)
{
    struct stat hive;
    if (fstat(hiveFd, &hive) != 0) return false;
    if (fchown(out, hive.st_uid, hive.st_gid) != 0 && geteuid() == 0) return false;
    return fchmod(out, hive.st_mode & 07777) == 0;
}

// The name `name` of the held folder stands for the file open as `fd`.
bool NameStandsFor(int folder, const std::string& name, int fd)
{
    struct stat atName;
    struct stat held;
    return fstatat(folder, name.c_str(), &atName, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &held) == 0 &&
           SameFile(atName, held);
}

// Creates the new file beside the hive, only where no entry has its name;
// a leftover there is removed first, whatever it is but a folder (unlinkat
// removes a link, never what it names). -1 with `why` otherwise.
int MakeNewFile(const HiveFile& hive, const std::string& newName, std::string& why)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int out = CreateFileIn(hive.folder, newName.c_str(), O_RDWR, 0600);
        if (out >= 0) return out;
        if (errno != EEXIST || attempt > 0) break;
        if (unlinkat(hive.folder, newName.c_str(), 0) != 0) {
            why = "the leftover " + NewHiveName(hive.hostPath) + " cannot be removed (" + std::strerror(errno) + ")";
            return -1;
        }
    }
    why = std::string("the new file cannot be made beside it (") + std::strerror(errno) + ")";
    return -1;
}

void Step(const HiveWriteHooks& hooks, HivePlatform::ChangeStep step)
{
    if (hooks.step) hooks.step(step);
}

// Runs the child over `out`; ChildDone, or why it did not finish.
bool RunWriter(const HiveFile& hive, int out, const HiveEdit& edit, HivePlatform::ChangeFault fault,
               std::string& why)
{
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        why = "no process could be started to write it";
        return false;
    }
    if (child == 0) {
        // A writer outliving this process could only leave a new file that
        // the next change removes; it is ended with it all the same.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(ChildCannotOpen);
        for (int crash : kCrashSignals) std::signal(crash, SIG_DFL);
        _exit(RunChild(hive.fd, out, edit, fault));
    }
    const bool hangs = fault == HivePlatform::ChangeFault::ChildHangs;
    const int status = WaitForChild(child, hangs ? kHangingWriterTimeLimitSeconds : kWriterTimeLimitSeconds);
    if (status == ChildDone) return true;
    why = status == kChildStopped   ? "the writer did not finish and was stopped"
          : status == kChildCrashed ? "the writer crashed"
                                    : ChildStatusText(status);
    return false;
}

// What libhivex wrote passes the hive's own checks, and gets the header
// that keeps the old transaction logs from being replayed over it.
bool SealNewFile(const HiveFile& hive, int out, const HiveLogMarks& marks, std::string& why)
{
    std::string newWhy;
    std::uint32_t written = 0;
    std::uint32_t sequence = 0;
    std::uint64_t filetime = 0;
    if (CheckHiveFile(out, newWhy) != HiveVerdict::Sound) {
        why = "the changed hive fails its checks: " + newWhy;
    } else if (!ReadHiveSequence(out, written) || !HiveSealFor(marks, written, FiletimeNow(), sequence, filetime)) {
        why = "its transaction logs hold sequence numbers the changed hive cannot be given one above";
    } else if (!SealHiveHeader(out, sequence, filetime) || fsync(out) != 0) {
        why = "the changed hive could not be flushed to the disk";
    } else if (!KeepOwnerAndMode(hive.fd, out)) {
        why = "the changed hive could not be given the hive's owner and permissions";
    } else {
        return true;
    }
    return false;
}

}  // namespace

bool WriteHiveEdit(const HiveFile& hive, const HiveEdit& edit, const HiveWriteHooks& hooks, int& written,
                   std::string& why)
{
    written = -1;
    HiveLogMarks marks;
    if (!ReadHiveLogMarks(hive.folder, hive.name, marks, why)) return false;
    const std::string newName = NewHiveName(hive.name);
    const int out = MakeNewFile(hive, newName, why);
    if (out < 0) return false;
    Step(hooks, HivePlatform::ChangeStep::NewFileMade);
    bool ready = RunWriter(hive, out, edit, hooks.fault, why);
    if (ready) Step(hooks, HivePlatform::ChangeStep::NewFileWritten);
    ready = ready && SealNewFile(hive, out, marks, why);
    if (ready) Step(hooks, HivePlatform::ChangeStep::NewFileReady);
    if (ready && !HiveStillAsChecked(hive, why)) ready = false;
    if (ready && !NameStandsFor(hive.folder, newName, out)) {
        why = "the new file beside it was replaced before it could take the hive's place";
        ready = false;
    }
    if (!ready) {
        // Only the file made here is removed, never what another put there.
        if (NameStandsFor(hive.folder, newName, out)) unlinkat(hive.folder, newName.c_str(), 0);
        close(out);
        return false;
    }
    Step(hooks, HivePlatform::ChangeStep::BeforeRename);
    if (hooks.fault == HivePlatform::ChangeFault::StopAfterNewFile) _exit(9);
    if (renameat(hive.folder, newName.c_str(), hive.folder, hive.name.c_str()) != 0) {
        why = std::string("the changed hive could not replace it: ") + std::strerror(errno);
        if (NameStandsFor(hive.folder, newName, out)) unlinkat(hive.folder, newName.c_str(), 0);
        close(out);
        return false;
    }
    if (hooks.fault == HivePlatform::ChangeFault::StopAfterRename) _exit(9);
    if (!NameStandsFor(hive.folder, hive.name, out)) {
        // Another entry was put at the new name between the last check and
        // the rename, and took the hive's name: that entry is left as it is.
        why = "something else took the hive's name in place of the changed hive";
        close(out);
        return false;
    }
    Step(hooks, HivePlatform::ChangeStep::Renamed);
    // The rename is done; a folder that cannot be flushed only leaves it
    // less certain to survive a power cut.
    fsync(hive.folder);
    written = out;
    return true;
}
