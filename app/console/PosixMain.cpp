// quellor-scan for POSIX systems: the console scanner over the POSIX
// backend. Each named folder becomes drive C: of the engine in turn, so the
// engine's paths stay short; paths are shown as the user named them, with
// '/'.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/console/ConsoleOptions.h"
#include "app/console/ConsoleScan.h"
#include "platform/HeadCachePlatform.h"
#include "platform/posix/PosixPlatform.h"

namespace {

const char kDrive = 'C';
const char kDriveRoot[] = "C:\\";

class PosixHost : public ConsoleHost {
public:
    explicit PosixHost(PosixPlatform& platform) : platform_(platform) {}

    bool AllDrivesByDefault() override { return false; }

    bool Resolve(const std::string& named, ConsoleTarget& target, std::string& error) override
    {
        target.named = named;
        struct stat st;
        if (named.empty() || stat(named.c_str(), &st) != 0) {
            error = "cannot scan '" + named + "': " + std::strerror(named.empty() ? ENOENT : errno);
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            target.folder = true;
            target.host = named;
            target.engine = std::string(kDriveRoot) + "*.*";
            return true;
        }
        if (!S_ISREG(st.st_mode)) {
            error = "cannot scan '" + named + "': not a regular file or folder";
            return false;
        }
        // A named link to a file is examined as the file it leads to.
        std::string real = named;
        char resolved[PATH_MAX];
        if (realpath(named.c_str(), resolved)) real = resolved;
        const std::size_t slash = real.rfind('/');
        const std::string name = slash == std::string::npos ? real : real.substr(slash + 1);
        target.folder = false;
        target.host = slash == std::string::npos ? "." : (slash == 0 ? "/" : real.substr(0, slash));
        target.engine = kDriveRoot + name;
        if (name.find('\\') != std::string::npos) {
            error = "cannot scan '" + named + "': its name holds a backslash";
            return false;
        }
        if (target.engine.size() >= kPathBufferSize) {
            error = "cannot scan '" + named + "': name too long";
            return false;
        }
        return true;
    }

    void Enter(const ConsoleTarget& target) override { platform_.MapDrive(kDrive, target.host); }

    std::string Display(const ConsoleTarget* target, const std::string& enginePath) override
    {
        if (!target) return enginePath;
        if (!target->folder) return target->named;
        if (enginePath.compare(0, 3, kDriveRoot) != 0) return enginePath;
        std::string shown = target->named;
        if (enginePath.size() == 3) return shown;
        if (shown.back() != '/') shown += '/';
        for (std::size_t i = 3; i < enginePath.size(); ++i) shown += enginePath[i] == '\\' ? '/' : enginePath[i];
        return shown;
    }

    std::vector<std::string> NotAvailable() override { return {"memory", "registry", "services"}; }

    std::uint64_t Milliseconds() override
    {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    }

private:
    PosixPlatform& platform_;
};

void OnNotify(WindowRef, std::uint32_t message)
{
    ConsoleReceive(message);
}

void OnNotice(PosixPlatform::NoticeKind kind, const char* hostPath, int error)
{
    switch (kind) {
    case PosixPlatform::NoticeUnreadable:
        ConsoleProblem(hostPath, std::string("cannot read: ") + std::strerror(error));
        break;
    case PosixPlatform::NoticeBackslash:
        ConsoleProblem(hostPath, "skipped: its name holds a backslash");
        break;
    case PosixPlatform::NoticeTooLong:
        ConsoleProblem(hostPath, "skipped: path too long for the scanner");
        break;
    }
}

void OnInterrupt(int)
{
    PosixPlatform::RequestQuit();
}

void CatchInterrupts()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    // A second interrupt ends the program at once.
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    ConsoleOptions options;
    int exitStatus = kExitClean;
    if (!ReadConsoleCommandLine(argc, argv, true, options, exitStatus)) return exitStatus;

    static PosixPlatform platform;
    static HeadCachePlatform files(platform);
    SetPlatform(&files);
    platform.SetNotifyHandler(OnNotify);
    platform.SetNoticeHandler(OnNotice);
    CatchInterrupts();

    PosixHost host(platform);
    ConsoleStreams streams;
    streams.out = stdout;
    streams.err = stderr;
    streams.progress = !options.quiet && isatty(STDERR_FILENO) == 1;
    return RunConsoleScan(options, host, streams);
}
