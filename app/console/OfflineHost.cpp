#include "app/console/OfflineHost.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <utility>

#include "scan/BoundedText.h"
#include "scan/Quarantine.h"
#include "scan/RunRecord.h"
#include "platform/posix/HeldFolder.h"

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

// The names of a path relative to the root ('/' between them).
std::vector<std::string> SplitRelative(const std::string& relative)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t slash = relative.find('/', start);
        if (slash == std::string::npos) slash = relative.size();
        if (slash > start) names.push_back(relative.substr(start, slash - start));
        start = slash + 1;
    }
    return names;
}

// A byte below the space, or DEL: no name Windows makes holds one, and a
// line naming it could be taken for lines of its own.
bool HoldsControl(const std::string& text)
{
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

}  // namespace

OfflineHost::~OfflineHost()
{
    if (rootFd_ >= 0) close(rootFd_);
}

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
    DiskAccess access = {false, true};
    if (changes) {
        const int probe = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (probe >= 0) {
            access = ProbeDiskAccess(probe);
            close(probe);
        }
    }
    return OpenWith(root, changes, access, error);
}

bool OfflineHost::OpenWith(const std::string& root, bool changes, const DiskAccess& access, std::string& error)
{
    root_ = root;
    if (rootFd_ >= 0) close(rootFd_);
    // The root as the user named it (a mount point the user chose); below
    // it, no link is ever followed.
    rootFd_ = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd_ < 0) {
        error = "cannot scan '" + root + "': " + std::strerror(errno);
        return false;
    }
    windows_ = FindWindows(rootFd_,
                           [this](int held, const std::string& software) { return SystemRootOf(held, software); });
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
    for (const std::string& other : windows_.others) {
        problems_.push_back("a second Windows in " + HostPath(other) + " is not cleaned: only the one in " +
                            HostPath(windows_.folder) + " is");
    }
    if (windows_.family == Windows9x) {
        notes_.push_back("Offline Windows 95/98/ME in " + HostPath(windows_.folder));
        return true;
    }
    hives_.AllowChanges(changes);
    hives_.SetBeforeFirstChange([this](const std::string& hive) { return KeepOriginal(hive); });
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

HivePlatform::Place OfflineHost::PlaceOf(int root, const DiskLookup& hive, int& held)
{
    const std::size_t slash = hive.path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : hive.path.substr(0, slash);
    held = OpenFolderBelow(root, folder);
    return HivePlatform::Place{held, hive.path.substr(slash == std::string::npos ? 0 : slash + 1), HostPath(hive.path)};
}

std::string OfflineHost::SystemRootOf(int root, const std::string& software)
{
    HivePlatform probe(platform_);
    std::vector<std::string> ignored;
    DiskLookup found;
    found.result = DiskLookup::Found;
    found.path = software;
    int held = -1;
    const HivePlatform::Place place = PlaceOf(root, found, held);
    probe.MountMachine(place, HivePlatform::Place{-1, std::string(), std::string()}, ignored);
    if (held >= 0) close(held);
    return ExpandedVariable(probe, "%SystemRoot%");
}

void OfflineHost::MachineHive(const DiskLookup& hive, const char* name, HivePlatform::Place& place, int& held)
{
    place = HivePlatform::Place{-1, std::string(), std::string()};
    held = -1;
    if (hive.result == DiskLookup::Missing) {
        problems_.push_back("registry hive " + HostPath(windows_.folder + "/System32/config/" + name) +
                            " is missing: what it holds is not cleaned");
        return;
    }
    // Found, or something else at the hive's own name: the backend names it.
    place = PlaceOf(rootFd_, hive, held);
    mounted_[place.shown] = hive.path;
}

void OfflineHost::MountMachine()
{
    HivePlatform::Place software;
    HivePlatform::Place system;
    int heldSoftware = -1;
    int heldSystem = -1;
    MachineHive(windows_.softwareHive, "SOFTWARE", software, heldSoftware);
    MachineHive(windows_.systemHive, "SYSTEM", system, heldSystem);
    hives_.MountMachine(software, system, problems_);
    if (heldSoftware >= 0) close(heldSoftware);
    if (heldSystem >= 0) close(heldSystem);
}

void OfflineHost::MountUsers()
{
    const std::vector<HivePlatform::Profile> profiles = hives_.Profiles();
    if (profiles.empty()) {
        // A SOFTWARE hive that is missing or damaged lists no profiles; the
        // users' own hives may still be sound.
        const std::vector<UsualProfile> folders = UsualProfileFolders(rootFd_);
        if (!folders.empty()) {
            notes_.push_back("The machine's list of profiles cannot be read: the users' registry is taken from "
                             "the usual profile folders");
        }
        for (const UsualProfile& profile : folders) {
            std::string windowsPath = "C:\\" + profile.folder;
            for (char& c : windowsPath) c = c == '/' ? '\\' : c;
            if (HoldsControl(profile.hive.path)) NamedOddly("Profile " + windowsPath);
            MountUser(profile.hive, windowsPath);
        }
        return;
    }
    const std::string systemDrive = ExpandedVariable(hives_, "%SystemDrive%");
    for (const HivePlatform::Profile& profile : profiles) {
        DiskLookup folder;
        const FolderPlace place = FindNamedFolder(rootFd_, systemDrive, profile.imagePath, folder);
        const std::string who = "Profile " + profile.imagePath + " (" + profile.sid + ")";
        if (place == FolderBlocked) {
            // Relocated profiles are often links: their hives are not on
            // this disk's folders, and are not read.
            problems_.push_back(who + ": " + HostPath(folder.path) + " is " + BlockedText(folder, true) +
                                ": that user's registry is not read");
            continue;
        }
        if (place == FolderFound) {
            const DiskLookup hive = LookUpOnDisk(rootFd_, folder.path + "/" + kUserHive, false);
            if (hive.result == DiskLookup::Found || hive.BlockedAtLast(NamesInPath(folder.path) + 1)) {
                if (HoldsControl(profile.imagePath) || HoldsControl(hive.path)) NamedOddly(who);
                MountUser(hive, profile.imagePath);
                continue;
            }
            if (hive.result == DiskLookup::Blocked) {
                problems_.push_back(who + ": " + HostPath(hive.path) + " is " + BlockedText(hive, true) +
                                    ": that user's registry is not read");
                continue;
            }
        }
        if (IsServiceProfile(profile.sid)) continue;
        notes_.push_back(who + " " +
                         (place == FolderElsewhere ? "is not on this disk" : "has no NTUSER.DAT on this disk") +
                         ": that user's registry is not cleaned");
    }
}

void OfflineHost::NamedOddly(const std::string& who)
{
    // Read all the same: whether it may be changed is the quarantine's to
    // say, which records no such name (its hive is then left as it is).
    problems_.push_back(who + ": a name on its path holds a control character");
}

void OfflineHost::MountUser(const DiskLookup& hive, const std::string& profilePath)
{
    int held = -1;
    const HivePlatform::Place place = PlaceOf(rootFd_, hive, held);
    // Two profiles may name one folder (an old copy of a profile's entry
    // beside it, another spelling of its path): its hive is one user,
    // mounted and cleaned once.
    struct stat st;
    if (held >= 0 && fstatat(held, place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
        const std::pair<dev_t, ino_t> file(st.st_dev, st.st_ino);
        if (std::find(userFiles_.begin(), userFiles_.end(), file) != userFiles_.end()) {
            close(held);
            return;
        }
        userFiles_.push_back(file);
    }
    mounted_[place.shown] = hive.path;
    hives_.AddUser(place, profilePath, problems_);
    if (held >= 0) close(held);
    ++users_;
}

bool OfflineHost::KeepOriginal(const std::string& hiveHostPath)
{
    const auto found = mounted_.find(hiveHostPath);
    if (found == mounted_.end()) return false;
    std::string enginePath = std::string(1, kPosixScanDrive) + ":\\" + found->second;
    for (char& c : enginePath) c = c == '/' ? '\\' : c;
    const QuarantineNote note = KeepDetectedFile(enginePath.c_str(), kHiveOriginalLabel);
    ConsoleOriginalKept(target_ ? Display(target_, enginePath) : hiveHostPath, note);
    return note.outcome != QuarantineNotKept;
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
        DiskLookup folder;
        if (!named.empty() && FindNamedFolder(rootFd_, systemDrive, named, folder) == FolderFound) return folder.path;
    }
    return windows_.folder;
}

void OfflineHost::NoOwnLog(const std::string& why)
{
    problems_.push_back("the run's record is not left on the disk: " + why);
}

bool OfflineHost::OwnLogFile(std::string& enginePath, std::string& shown)
{
    if (windows_.family == NoWindows) return false;
    const std::string data = DataFolder();
    const std::string wantedFolder = data + "/" + kDataFolderName;
    DiskLookup folder = LookUpOnDisk(rootFd_, wantedFolder, true);
    if (folder.result == DiskLookup::Missing) {
        // Made in the data folder held open: mkdirat makes nothing where
        // any entry has the name, a link included.
        const int held = OpenFolderBelow(rootFd_, data);
        const bool made = held >= 0 && mkdirat(held, kDataFolderName, 0700) == 0;
        const int error = errno;
        if (held >= 0) close(held);
        if (!made && error != EEXIST) {
            NoOwnLog(HostPath(wantedFolder) + " cannot be made (" + std::strerror(error) + ")");
            return false;
        }
        folder = LookUpOnDisk(rootFd_, wantedFolder, true);
    }
    if (folder.result != DiskLookup::Found) {
        NoOwnLog(HostPath(folder.result == DiskLookup::Blocked ? folder.path : wantedFolder) + " is " +
                 (folder.result == DiskLookup::Blocked ? BlockedText(folder, true) : std::string("gone")));
        return false;
    }
    const std::string wantedLog = folder.path + "/" + kRunLogName;
    const DiskLookup log = LookUpOnDisk(rootFd_, wantedLog, false);
    if (log.result == DiskLookup::Blocked) {
        NoOwnLog(HostPath(log.path) + " is " + BlockedText(log, false));
        return false;
    }
    const std::string relative = log.result == DiskLookup::Found ? log.path : wantedLog;
    shown = HostPath(relative);
    // The log's drive is the disk's root, and the engine's path names the
    // log below it, as the engine's paths on the disk's drive C: do: the
    // backend reaches it from its held root, never through a link.
    enginePath = std::string(1, kOwnLogDrive) + ":";
    for (const std::string& name : SplitRelative(relative)) {
        if (name.find('\\') != std::string::npos) {
            NoOwnLog(shown + " holds a backslash in a name");
            return false;
        }
        enginePath += "\\" + name;
    }
    if (enginePath.size() >= kPathBufferSize) {
        NoOwnLog(shown + " is too long a path for the scanner");
        return false;
    }
    platform_.MapDrive(kOwnLogDrive, root_);
    return true;
}
