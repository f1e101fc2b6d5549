// quellor-scan for POSIX systems: the console scanner over the POSIX
// backend (app/console/PosixHost.h), or over the hives and files of a
// Windows disk that is not running (--offline ROOT,
// app/console/OfflineHost.h).
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "app/console/ConsoleOptions.h"
#include "app/console/ConsoleScan.h"
#include "app/console/ConsoleText.h"
#include "app/console/OfflineHost.h"
#include "app/console/PosixHost.h"
#include "platform/HeadCachePlatform.h"
#include "platform/hive/HivePlatform.h"
#include "platform/posix/HeldFolder.h"
#include "platform/posix/PosixPlatform.h"
#include "scan/BinaryExamination.h"

namespace {

void OnNotify(WindowRef, std::uint32_t message)
{
    ConsoleReceive(message);
}

void OnNotice(PosixPlatform::NoticeKind kind, const char* hostPath, int detail)
{
    switch (kind) {
    case PosixPlatform::NoticeUnreadable:
        ConsoleProblem(hostPath, std::string("cannot read: ") + std::strerror(detail));
        break;
    case PosixPlatform::NoticeBackslash:
        ConsoleProblem(hostPath, "skipped: its name holds a backslash");
        break;
    case PosixPlatform::NoticeTooLong:
        ConsoleProblem(hostPath, "skipped: path too long for the scanner");
        break;
    case PosixPlatform::NoticeNotRegular:
        ConsoleProblem(hostPath, std::string("skipped: not a regular file (") +
                                     EntryTypeText(static_cast<mode_t>(detail)) + ")");
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

// --offline ROOT: the disk's hives in front of the files, and ROOT the one
// folder scanned. Nothing is scanned when the disk cannot be used.
int RunOffline(ConsoleOptions& options, PosixPlatform& platform, Platform& files, const ConsoleStreams& streams)
{
    static HivePlatform hives(files);
    SetPlatform(&hives);
    OfflineHost host(platform, hives);
    const bool changes = options.action == kActionDelete || options.action == kActionRename;
    std::string error;
    if (!host.Open(options.offline, changes, error)) {
        PutLine(streams.err, "quellor-scan: " + error);
        return kExitTrouble;
    }
    options.targets.assign(1, options.offline);
    return RunConsoleCommand(options, host, streams);
}

}  // namespace

int main(int argc, char** argv)
{
    ConsoleOptions options;
    int exitStatus = kExitClean;
    if (!ReadConsoleCommandLine(argc, argv, ConsoleOnLinux, options, exitStatus)) return exitStatus;

    static PosixPlatform platform;
    static HeadCachePlatform files(platform);
    SetPlatform(&files);
    platform.SetNotifyHandler(OnNotify);
    platform.SetNoticeHandler(OnNotice);
    CatchInterrupts();

    ConsoleStreams streams;
    streams.out = stdout;
    streams.err = stderr;
    streams.progress = !options.quiet && isatty(STDERR_FILENO) == 1;
    if (!options.offline.empty()) return RunOffline(options, platform, files, streams);
    PosixHost host(platform);
    return RunConsoleCommand(options, host, streams);
}
