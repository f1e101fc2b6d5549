#include "app/console/PosixHost.h"

#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "app/console/ConsoleText.h"
#include "scan/QuarantineManifest.h"

std::string AbsolutePath(const std::string& path)
{
    std::filesystem::path absolute(path);
    if (absolute.is_relative()) {
        char here[PATH_MAX];
        if (!getcwd(here, sizeof here)) return std::string();
        absolute = std::filesystem::path(here) / absolute;
    }
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

bool IsFolderPath(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MapUnder(PosixPlatform& platform, char letter, const std::string& path, std::string& engine,
              std::string& error)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    std::string existing = "/";
    std::size_t used = 0;
    while (used < parts.size()) {
        const std::string deeper = (existing == "/" ? existing : existing + "/") + parts[used];
        if (!IsFolderPath(deeper)) break;
        existing = deeper;
        ++used;
    }
    engine = std::string(1, letter) + ":";
    for (std::size_t i = used; i < parts.size(); ++i) {
        if (parts[i].find('\\') != std::string::npos) {
            error = "'" + path + "': a name in it holds a backslash";
            return false;
        }
        engine += "\\" + parts[i];
    }
    if (engine.size() >= kPathBufferSize) {
        error = "'" + path + "': path too long for the scanner";
        return false;
    }
    platform.MapDrive(letter, existing);
    return true;
}

namespace {

const char kDriveRoot[] = "C:\\";
// The quarantine's folder and the place a file is restored to get drives
// of their own.
const char kStoreDrive = 'Q';
const char kRestoreDrive = 'R';
const char kRecordedDrive = 'P';
const char kLogDrive = 'L';
const char kStoreBelowDataHome[] = "/quellor/quarantine";

// $XDG_DATA_HOME (when it is an absolute path) or ~/.local/share.
std::string DefaultStoreFolder()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') return AbsolutePath(dataHome) + kStoreBelowDataHome;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') return std::string();
    return AbsolutePath(std::string(home) + "/.local/share") + kStoreBelowDataHome;
}

}  // namespace

bool PosixHost::Resolve(const std::string& named, ConsoleTarget& target, std::string& error)
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
        target.recorded = AbsolutePath(named);
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
    target.recorded = AbsolutePath(real);
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

void PosixHost::Enter(const ConsoleTarget& target)
{
    platform_.MapDrive(kPosixScanDrive, target.host);
}

std::string PosixHost::Display(const ConsoleTarget* target, const std::string& enginePath)
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

bool PosixHost::StoreFolder(const std::string& named, std::string& engineFolder, std::string& error)
{
    std::string folder = named.empty() ? DefaultStoreFolder() : AbsolutePath(named);
    if (folder.empty()) {
        error = "no folder for the quarantine: $HOME names no absolute folder "
                "(name one with --quarantine DIR)";
        return false;
    }
    return MapUnder(platform_, kStoreDrive, folder, engineFolder, error);
}

std::string PosixHost::StoreWord(const std::string& named)
{
    return PosixShellWord(AbsolutePath(named));
}

std::string PosixHost::OriginalPath(const ConsoleTarget* target, const std::string& enginePath)
{
    if (!target) return enginePath;
    if (!target->folder || enginePath.size() <= 3) return target->recorded;
    std::string path = target->recorded == "/" ? std::string() : target->recorded;
    for (std::size_t i = 2; i < enginePath.size(); ++i) path += enginePath[i] == '\\' ? '/' : enginePath[i];
    return path;
}

bool PosixHost::RestoreTarget(const std::string& recorded, const std::string& to, std::string& shown,
                              std::string& enginePath, std::string& error)
{
    const bool here = !recorded.empty() && recorded[0] == '/';
    if (!here && to.empty()) {
        error = "quarantine entry recorded on another system (" + recorded + "): name a place with --to PATH";
        return false;
    }
    shown = to.empty() ? recorded : AbsolutePath(to);
    // A folder that is there, or one named as a folder ("newdir/"), gets
    // the file under its recorded name.
    if (!to.empty() && (IsFolderPath(shown) || to.back() == '/')) {
        shown += (shown == "/" ? "" : "/") + recorded.substr(recorded.find_last_of(here ? "/" : "\\") + 1);
    }
    if (IsFolderPath(shown)) {
        error = "cannot restore to '" + shown + "': it is a folder";
        return false;
    }
    if (!IsSafeOriginalPath(shown.c_str())) {
        error = "cannot restore to '" + shown + "'";
        return false;
    }
    return MapUnder(platform_, kRestoreDrive, shown, enginePath, error);
}

bool PosixHost::ReachRecorded(const std::string& recorded, std::string& enginePath)
{
    std::string error;
    return !recorded.empty() && recorded[0] == '/' && MapUnder(platform_, kRecordedDrive, recorded, enginePath, error);
}

std::uint64_t PosixHost::Milliseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

bool PosixHost::LogFile(const std::string& named, std::string& enginePath, std::string& error)
{
    const std::string path = AbsolutePath(named);
    if (path.empty() || IsFolderPath(path)) {
        error = "cannot write the log '" + named + "': not a file";
        return false;
    }
    return MapUnder(platform_, kLogDrive, path, enginePath, error);
}

std::string PosixHost::SystemName()
{
    struct utsname names;
    if (uname(&names) != 0) return "unknown";
    return std::string(names.sysname) + " " + names.release + " " + names.machine;
}
