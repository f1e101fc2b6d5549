// Drives of the POSIX backend: host folders held open, and engine paths
// resolved below them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/AnsiText.h"
#include "platform/posix/PosixPlace.h"
#include "platform/posix/PosixPlatform.h"

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

std::string JoinRelative(const std::string& folders, const std::string& name)
{
    if (folders.empty()) return name;
    if (name.empty()) return folders;
    return folders + "/" + name;
}

}  // namespace

bool SplitEnginePath(const char* enginePath, EngineSplit& split)
{
    if (!enginePath || enginePath[0] == '\0' || enginePath[1] != ':') return false;
    const char letter = UpperAscii(enginePath[0]);
    if (letter < 'A' || letter > 'Z') return false;
    std::string folders;
    std::string name;
    const char* rest = enginePath + 2;
    std::size_t length = 0;
    for (const char* p = rest;; ++p) {
        if (*p != '\0' && !IsSeparator(*p)) {
            name += *p;
            continue;
        }
        if (!name.empty()) {
            if (name == "." || name == "..") return false;
            // The name before this one is a folder of the path.
            if (*p != '\0') {
                folders = JoinRelative(folders, name);
                name.clear();
            }
        }
        if (*p == '\0') {
            length = static_cast<std::size_t>(p - rest);
            break;
        }
    }
    split.drive = letter - 'A';
    split.folderOnly = length > 0 && IsSeparator(rest[length - 1]);
    // "C:\\dir\\" names the folder "dir": its last name is "dir".
    if (name.empty() && !folders.empty()) {
        const std::size_t slash = folders.rfind('/');
        name = slash == std::string::npos ? folders : folders.substr(slash + 1);
        folders = slash == std::string::npos ? std::string() : folders.substr(0, slash);
    }
    split.folders = folders;
    split.name = name;
    return true;
}

std::string EngineSplit::Relative() const
{
    return JoinRelative(folders, name);
}

EnginePlace::~EnginePlace()
{
    if (owned && folder >= 0) close(folder);
}

const FolderRisk& EnginePlace::Risk()
{
    if (!riskKnown) {
        risk = RiskOf(folder);
        riskKnown = true;
    }
    return risk;
}

mode_t TypeOfListed(unsigned char listedType)
{
    return listedType == DT_UNKNOWN ? 0 : DTTOIF(listedType);
}

bool IsSpecialType(mode_t type)
{
    return S_ISFIFO(type) || S_ISSOCK(type) || S_ISCHR(type) || S_ISBLK(type);
}

void PosixPlatform::ReleaseDrive(int index)
{
    HeldDrive& drive = drives_[index];
    if (drive.fd >= 0) close(drive.fd);
    drive.fd = -1;
    drive.host.clear();
    // An enumeration still open on the drive keeps its own folder, but no
    // longer stands for paths on the letter.
    for (HeldSearch* search : searches_) {
        if (search->drive == index) search->drive = -1;
    }
}

bool PosixPlatform::MapDrive(char letter, const std::string& hostFolder)
{
    letter = UpperAscii(letter);
    if (letter < 'A' || letter > 'Z') return false;
    const int index = letter - 'A';
    ReleaseDrive(index);
    drives_[index].host = hostFolder;
    if (hostFolder.empty()) return true;
    // Held without being read: a folder this process may search but not
    // list still holds the paths below it.
    drives_[index].fd = open(hostFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return drives_[index].fd >= 0;
}

int PosixPlatform::OpenFolder(const char* engineFolder)
{
    return OpenFolderAs(engineFolder, O_RDONLY);
}

int PosixPlatform::OpenFolderAs(const char* engineFolder, int access)
{
    EngineSplit split;
    if (!SplitEnginePath(engineFolder, split)) {
        errno = ENOENT;
        return -1;
    }
    if (drives_[split.drive].fd < 0) {
        errno = ENOENT;
        return -1;
    }
    return OpenFolderBelow(drives_[split.drive].fd, split.Relative(), access);
}

bool PosixPlatform::MapDriveBelow(char letter, const char* engineFolder)
{
    letter = UpperAscii(letter);
    if (letter < 'A' || letter > 'Z') return false;
    std::string host;
    const bool named = HostPath(engineFolder, host);
    const int fd = named ? OpenFolderAs(engineFolder, O_PATH) : -1;
    ReleaseDrive(letter - 'A');
    if (fd < 0) return false;
    while (host.size() > 1 && host.back() == '/') host.pop_back();
    drives_[letter - 'A'].host = host;
    drives_[letter - 'A'].fd = fd;
    return true;
}

bool PosixPlatform::HostPath(const char* enginePath, std::string& hostPath) const
{
    if (!enginePath || enginePath[0] == '\0' || enginePath[1] != ':') return false;
    char letter = enginePath[0];
    letter = UpperAscii(letter);
    if (letter < 'A' || letter > 'Z' || drives_[letter - 'A'].host.empty()) return false;
    const char* rest = enginePath + 2;
    if (*rest == '\\') ++rest;
    hostPath = drives_[letter - 'A'].host;
    if (*rest == '\0') return true;
    if (hostPath.back() != '/') hostPath += '/';
    for (; *rest; ++rest) hostPath += *rest == '\\' ? '/' : *rest;
    return true;
}

bool PosixPlatform::Locate(const char* enginePath, EnginePlace& place)
{
    place.error = ENOENT;
    if (!SplitEnginePath(enginePath, place.split)) return false;
    const EngineSplit& split = place.split;
    HostPath(enginePath, place.host);
    const int driveFolder = drives_[split.drive].fd;
    if (driveFolder < 0) return false;
    // The entry an enumeration gave last is reached in the folder it was
    // listed in, as the listing saw it.
    if (!split.name.empty() && !split.folderOnly) {
        for (auto it = searches_.rbegin(); it != searches_.rend(); ++it) {
            const HeldSearch& search = **it;
            if (!search.dir || search.drive != split.drive || search.folders != split.folders ||
                search.lastName != split.name) {
                continue;
            }
            place.folder = dirfd(search.dir);
            place.owned = false;
            place.listedType = search.lastType;
            place.risk = search.risk;
            place.riskKnown = true;
            place.error = 0;
            Step("held");
            return true;
        }
    }
    place.folder = OpenFolderBelow(driveFolder, split.folders, O_PATH);
    if (place.folder < 0) {
        place.error = errno;
        return false;
    }
    place.owned = true;
    place.error = 0;
    Step("held");
    return true;
}

void PosixPlatform::Step(const char* name)
{
    if (stepHook_) stepHook_(name);
}

void PosixPlatform::Notice(NoticeKind kind, const std::string& hostPath, int detail)
{
    if (!noticed_.insert(hostPath).second) return;
    if (noticeHandler_) noticeHandler_(kind, hostPath.c_str(), detail);
}
