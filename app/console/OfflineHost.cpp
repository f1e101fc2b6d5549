#include "app/console/OfflineHost.h"

#include <sys/stat.h>

#include <cerrno>
#include <iterator>
#include <cstring>
#include <set>
#include <utility>

#include "scan/BoundedText.h"
#include "scan/Quarantine.h"
#include "scan/RunRecord.h"

const char kHiveOriginalLabel[] = "registry hive before cleaning";

namespace {

const char kUserHive[] = "NTUSER.DAT";
// The engine's drive of the disk's own run log.
const char kOwnLogDrive = 'W';
// The program's data folder in the Windows' own, as the dialog makes it.
const char kDataFolderName[] = "Quellor";

// Where the Windows on the disk names its all-users data folder: the shell
// folder (XP and later, already expanded), and the profile list's
// ProgramData (Vista and later).
const struct {
    const char* key;
    const char* value;
} kDataFolderSources[] = {
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", "Common AppData"},
    {"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", "ProgramData"},
};
// The same folder by its usual names (Vista and later, 2000 and XP), for a
// SOFTWARE hive that cannot be read.
const char* const kUsualDataFolders[] = {"C:\\ProgramData", "C:\\Documents and Settings\\All Users\\Application Data"};

// `text` expanded with the environment of the Windows whose hives
// `platform` has mounted; empty when the variable it names is unknown.
std::string ExpandedVariable(HivePlatform& platform, const char* text)
{
    char out[kPathBufferSize];
    const std::uint32_t needed = platform.ExpandEnvironment(text, out, sizeof out);
    if (needed == 0 || needed > sizeof out || out[0] == '%') return std::string();
    return out;
}

// A text value of the machine's native registry view, up to its first
// zero, with the Windows' own references expanded; empty when missing.
std::string MachineText(HivePlatform& platform, const char* key, const char* name)
{
    KeyRef opened = 0;
    if (platform.RegistryOpen(kKeyLocalMachine, key, kKeyRead | kKeyView64, opened) != kRegistryOk) {
        return std::string();
    }
    char data[kPathBufferSize];
    std::uint32_t size = sizeof data - 1;
    const long read = platform.RegistryQueryValue(opened, name, nullptr, data, &size);
    platform.RegistryClose(opened);
    if (read != kRegistryOk) return std::string();
    data[size] = '\0';
    char expanded[kPathBufferSize];
    const std::uint32_t needed = platform.ExpandEnvironment(data, expanded, sizeof expanded);
    return needed == 0 || needed > sizeof expanded ? std::string() : std::string(expanded);
}

}  // namespace

bool OfflineHost::Open(const std::string& root, bool changes, std::string& error)
{
    struct stat st;
    if (root.empty() || stat(root.c_str(), &st) != 0) {
        error = "cannot scan '" + root + "': " + std::strerror(root.empty() ? ENOENT : errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = "cannot scan '" + root + "': --offline needs the root folder of a mounted Windows disk";
        return false;
    }
    const DiskAccess access = changes ? ProbeDiskAccess(root) : DiskAccess{false, true};
    return OpenWith(root, changes, access, error);
}

bool OfflineHost::OpenWith(const std::string& root, bool changes, const DiskAccess& access, std::string& error)
{
    root_ = root;
    windows_ = FindWindows(root, [this](const std::string& software) { return SystemRootOf(software); });
    if (windows_.family == NoWindows) {
        error = "no Windows found in '" + root +
                "' (no Windows\\System32\\config\\SOFTWARE or SYSTEM, no WINDOWS\\SYSTEM.DAT): is the disk "
                "mounted there?";
        return false;
    }
    if (changes) {
        error = WhyDiskUnchangeable(root, access);
        if (!error.empty()) return false;
    }
    if (windows_.family == Windows9x) {
        notes_.push_back("Offline Windows 95/98/ME in " + HostPath(windows_.folder));
        return true;
    }
    hives_.AllowChanges(changes);
    hives_.SetBeforeFirstChange([this](const std::string& hive) { KeepOriginal(hive); });
    MountMachine();
    MountUsers();
    notes_.insert(notes_.begin(), "Offline Windows in " + HostPath(windows_.folder) +
                                      (hives_.Is64BitWindows() ? " (64-bit)" : "") +
                                      ": registry of the machine and of " + std::to_string(users_) +
                                      (users_ == 1 ? " user" : " users"));
    return true;
}

std::string OfflineHost::HostPath(const std::string& relative) const
{
    return root_ + (root_.empty() || root_.back() == '/' ? "" : "/") + relative;
}

std::string OfflineHost::SystemRootOf(const std::string& softwareHostPath)
{
    HivePlatform probe(platform_);
    std::vector<std::string> ignored;
    probe.MountMachine(softwareHostPath, std::string(), ignored);
    return ExpandedVariable(probe, "%SystemRoot%");
}

std::string OfflineHost::MachineHive(const std::string& relative, const char* name)
{
    if (relative.empty()) {
        problems_.push_back("registry hive " + HostPath(windows_.folder + "/System32/config/" + name) +
                            " is missing: what it holds is not cleaned");
        return std::string();
    }
    const std::string path = HostPath(relative);
    mounted_[path] = relative;
    return path;
}

void OfflineHost::MountMachine()
{
    const std::string software = MachineHive(windows_.softwareHive, "SOFTWARE");
    const std::string system = MachineHive(windows_.systemHive, "SYSTEM");
    hives_.MountMachine(software, system, problems_);
}

void OfflineHost::MountUsers()
{
    const std::vector<HivePlatform::Profile> profiles = hives_.Profiles();
    if (profiles.empty()) {
        // A SOFTWARE hive that is missing or damaged lists no profiles; the
        // users' own hives may still be sound.
        const std::vector<std::string> folders = UsualProfileFolders(root_);
        if (!folders.empty()) {
            notes_.push_back("The machine's list of profiles cannot be read: the users' registry is taken from "
                             "the usual profile folders");
        }
        for (const std::string& folder : folders) {
            std::string hive;
            std::string windowsPath = "C:\\" + folder;
            for (char& c : windowsPath) c = c == '/' ? '\\' : c;
            if (FindOnDisk(root_, folder + "/" + kUserHive, false, hive)) MountUser(hive, windowsPath);
        }
        return;
    }
    const std::string systemDrive = ExpandedVariable(hives_, "%SystemDrive%");
    for (const HivePlatform::Profile& profile : profiles) {
        std::string folder;
        std::string hive;
        const FolderPlace place = FindNamedFolder(root_, systemDrive, profile.imagePath, folder);
        if (place == FolderFound && FindOnDisk(root_, folder + "/" + kUserHive, false, hive)) {
            MountUser(hive, profile.imagePath);
            continue;
        }
        if (IsServiceProfile(profile.sid)) continue;
        notes_.push_back("Profile " + profile.imagePath + " (" + profile.sid + ") " +
                         (place == FolderElsewhere ? "is not on this disk" : "has no NTUSER.DAT on this disk") +
                         ": that user's registry is not cleaned");
    }
}

void OfflineHost::MountUser(const std::string& hive, const std::string& profilePath)
{
    // Two profiles may name one folder (an old copy of a profile's entry
    // beside it, another spelling of its path): its hive is one user,
    // mounted and cleaned once.
    const std::string path = HostPath(hive);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return;
    for (const auto& mounted : mounted_) {
        struct stat other;
        if (stat(mounted.first.c_str(), &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino) return;
    }
    mounted_[path] = hive;
    hives_.AddUser(path, profilePath, problems_);
    ++users_;
}

void OfflineHost::KeepOriginal(const std::string& hiveHostPath)
{
    const auto found = mounted_.find(hiveHostPath);
    if (found == mounted_.end()) return;
    std::string enginePath = std::string(1, kPosixScanDrive) + ":\\" + found->second;
    for (char& c : enginePath) c = c == '/' ? '\\' : c;
    const QuarantineNote note = KeepDetectedFile(enginePath.c_str(), kHiveOriginalLabel);
    ConsoleOriginalKept(target_ ? Display(target_, enginePath) : hiveHostPath, note);
}

void OfflineHost::Enter(const ConsoleTarget& target)
{
    PosixHost::Enter(target);
    target_ = &target;
}

std::vector<std::string> OfflineHost::NotAvailable()
{
    if (windows_.family == Windows9x) return {"memory", "registry", "services"};
    return {"memory", "services"};
}

std::string OfflineHost::ScannedSystem()
{
    return windows_.family == Windows9x ? "an offline Windows 95/98/ME disk" : "an offline Windows disk";
}

std::vector<std::string> OfflineHost::TakeProblemLines()
{
    std::vector<std::string> lines;
    lines.swap(problems_);
    for (const std::string& line : hives_.TakeProblems()) lines.push_back(line);
    return lines;
}

std::string OfflineHost::SystemName()
{
    char windows[128];
    if (windows_.family == Windows9x) CopyText(windows, sizeof windows, "Windows 95/98/ME");
    else DescribeWindowsVersion(windows, sizeof windows);
    return std::string(windows) + " (offline disk) from " + PosixHost::SystemName();
}

std::string OfflineHost::DataFolder()
{
    // The 95/98/ME family, and NT 4.0 without a newer shell, have no
    // all-users data folder: the dialog keeps its data in the Windows
    // folder there.
    if (windows_.family != WindowsNt) return windows_.folder;
    const std::string systemDrive = ExpandedVariable(hives_, "%SystemDrive%");
    std::vector<std::string> candidates;
    for (const auto& source : kDataFolderSources) candidates.push_back(MachineText(hives_, source.key, source.value));
    candidates.insert(candidates.end(), std::begin(kUsualDataFolders), std::end(kUsualDataFolders));
    for (const std::string& named : candidates) {
        std::string folder;
        if (!named.empty() && FindNamedFolder(root_, systemDrive, named, folder) == FolderFound) return folder;
    }
    return windows_.folder;
}

bool OfflineHost::OwnLogFile(std::string& enginePath, std::string& shown)
{
    if (windows_.family == NoWindows) return false;
    const std::string data = DataFolder();
    std::string folder;
    if (!FindOnDisk(root_, data + "/" + kDataFolderName, true, folder)) {
        folder = data + "/" + kDataFolderName;
        if (mkdir(HostPath(folder).c_str(), 0700) != 0) return false;
    }
    std::string log;
    if (!FindOnDisk(root_, folder + "/" + kRunLogName, false, log)) log = folder + "/" + kRunLogName;
    shown = HostPath(log);
    std::string error;
    return MapUnder(platform_, kOwnLogDrive, AbsolutePath(shown), enginePath, error);
}
