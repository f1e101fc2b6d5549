// quellor-scan.exe: the console scanner over the Win32 backend, with the
// full system (memory scan, registry, services). With no folder named it
// walks every fixed drive, as the dialog does. It never asks anything: the
// restart question is answered No and exit status 3 says a restart is due.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app/console/ConsoleOptions.h"
#include "app/console/ConsoleScan.h"
#include "app/console/ConsoleText.h"
#include "platform/HeadCachePlatform.h"
#include "platform/win32/Win32Platform.h"
#include "scan/Quarantine.h"
#include "scan/QuarantineManifest.h"

namespace {

// Set by Ctrl+C or Ctrl+Break (the handler runs on a thread of its own).
volatile LONG interruptRequested = 0;

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    InterlockedExchange(&interruptRequested, 1);
    return TRUE;
}

// The Win32 backend with the result sink and the questions turned to the
// console, and an interrupt given to the walk as a quit message, so the scan
// stops at its next check and still prints its statistics. The memory scan's
// end of the program (a running threat that needs a restart first) returns
// here: the session then finishes without the walk, and the console prints
// its statistics and exits with its own status instead of 0.
class ConsolePlatform : public Win32Platform {
public:
    void NotifyWindow(WindowRef, std::uint32_t message) override { ConsoleReceive(message); }
    int Prompt(const char*, const char*, std::uint32_t) override { return kAnswerNo; }
    void EndProgram(int) override {}
    bool TakePendingMessage(PendingMessage& message) override
    {
        if (InterlockedExchange(&interruptRequested, 0) == 0) return Win32Platform::TakePendingMessage(message);
        message = PendingMessage();
        message.message = kMessageQuit;
        return true;
    }
};

// `path` as a full path (GetFullPathNameA); empty when it has none that
// fits the engine's buffers.
std::string FullPath(const std::string& path)
{
    char full[kPathBufferSize];
    char* name = nullptr;
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, &name);
    return length == 0 || length >= sizeof full ? std::string() : std::string(full, length);
}

bool IsFolderPath(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A path of a drive ("X:\..."), the only kind the engine names.
bool OnADrive(const std::string& path)
{
    return path.size() >= 3 && path[1] == ':' && path[2] == '\\';
}

class Win32Host : public ConsoleHost {
public:
    bool AllDrivesByDefault() override { return true; }

    bool Resolve(const std::string& named, ConsoleTarget& target, std::string& error) override
    {
        target.named = named;
        std::string path = named;
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
        // "D:" stands for the drive's root.
        if (path.size() == 2 && path[1] == ':') path += '\\';
        DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            error = "cannot scan '" + named + "': no such file or folder";
            return false;
        }
        target.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (target.folder) {
            if (path.back() != '\\') path += '\\';
            path += "*.*";
        }
        if (path.size() >= kPathBufferSize) {
            error = "cannot scan '" + named + "': path too long";
            return false;
        }
        target.engine = path;
        return true;
    }

    void Enter(const ConsoleTarget&) override {}

    std::string Display(const ConsoleTarget*, const std::string& enginePath) override { return enginePath; }

    std::vector<std::string> NotAvailable() override { return {}; }

    bool StoreFolder(const std::string& named, std::string& engineFolder, std::string& error) override
    {
        if (named.empty()) {
            char folder[kPathBufferSize];
            if (!DefaultQuarantineFolder(folder, sizeof folder)) {
                error = "no folder for the quarantine on this system (name one with --quarantine DIR)";
                return false;
            }
            engineFolder = folder;
            return true;
        }
        engineFolder = FullPath(named);
        if (!OnADrive(engineFolder)) {
            error = "'" + named + "': the quarantine's folder must be a folder on a drive";
            return false;
        }
        return true;
    }

    std::string OriginalPath(const ConsoleTarget*, const std::string& enginePath) override
    {
        // A folder named relative to the working folder walks relative paths.
        const std::string full = FullPath(enginePath);
        return full.empty() ? enginePath : full;
    }

    bool RestoreTarget(const std::string& recorded, const std::string& to, std::string& shown, std::string& enginePath,
                       std::string& error) override
    {
        shown = to.empty() ? recorded : FullPath(to);
        // A folder that is there, or one named as a folder ("newdir\"),
        // gets the file under its recorded name.
        const bool intoFolder = !to.empty() && (IsFolderPath(shown) || to.back() == '\\' || to.back() == '/');
        if (intoFolder && !shown.empty()) {
            if (shown.back() != '\\') shown += '\\';
            shown += recorded.substr(recorded.find_last_of("\\/") + 1);
        }
        if (shown.empty() || !OnADrive(shown) || !IsSafeOriginalPath(shown.c_str()) ||
            shown.size() >= kPathBufferSize) {
            error = "cannot restore to '" + (shown.empty() ? to : shown) + "': not a path on a drive";
            return false;
        }
        if (IsFolderPath(shown)) {
            error = "cannot restore to '" + shown + "': it is a folder";
            return false;
        }
        enginePath = shown;
        return true;
    }

    std::string StoreWord(const std::string& named) override
    {
        const std::string full = FullPath(named);
        return WindowsShellWord(full.empty() ? named : full);
    }

    std::uint64_t Milliseconds() override { return GetTickCount(); }

    bool LogFile(const std::string& named, std::string& enginePath, std::string& error) override
    {
        enginePath = FullPath(named);
        if (!OnADrive(enginePath) || IsFolderPath(enginePath)) {
            error = "cannot write the log '" + named + "': not a file on a drive";
            return false;
        }
        return true;
    }
};

// Standard error is a console (not a file or a pipe).
bool ErrorsGoToConsole()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace

int main(int argc, char** argv)
{
    ConsoleOptions options;
    int exitStatus = kExitClean;
    if (!ReadConsoleCommandLine(argc, argv, ConsoleOnWindows, options, exitStatus)) return exitStatus;

    static ConsolePlatform platform;
    static HeadCachePlatform files(platform);
    SetPlatform(&files);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    Win32Host host;
    ConsoleStreams streams;
    streams.out = stdout;
    streams.err = stderr;
    streams.progress = !options.quiet && ErrorsGoToConsole();
    return RunConsoleCommand(options, host, streams);
}
