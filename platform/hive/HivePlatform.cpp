// The registry calls over the mounted hives, the machine's mappings
// (CurrentControlSet, the two views of Software), the users, and the
// version and environment of the Windows on the disk.
#include "platform/hive/HivePlatform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/hive/HiveEnvironment.h"
#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveText.h"
#include "platform/hive/HiveWriter.h"
#include "platform/posix/HeldFolder.h"

namespace {

const long kRegistryInvalidHandle = 6;     // ERROR_INVALID_HANDLE
const long kRegistryInvalidParameter = 87; // ERROR_INVALID_PARAMETER
const long kRegistryIoFailed = 1016;       // ERROR_REGISTRY_IO_FAILED
const long kRegistryKeyDeleted = 1018;     // ERROR_KEY_DELETED
const std::uint32_t kKeySetValue = 0x0002;
// A handle gets numbers from here on, away from the predefined keys.
const KeyRef kFirstKeyRef = 0x1000;
// Data longer than this is kept in several cells (a "big data" record) by
// Windows XP and later; libhivex writes it back as one cell, which those
// Windows would misread. A key holding such a value is never rewritten.
const std::size_t kLargestSingleCellData = 16344;

const char kCurrentVersionKey[] = "Microsoft\\Windows NT\\CurrentVersion";
const char kProfileListKey[] = "Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The machine's hives under HKEY_LOCAL_MACHINE.
const char kSoftwareName[] = "Software";
const char kSystemName[] = "SYSTEM";
const char kWow6432Node[] = "Wow6432Node";
const char kCurrentControlSet[] = "CurrentControlSet";

bool Same(const std::string& a, const char* b)
{
    if (a.size() != std::strlen(b)) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (hivetext::Upper(a[i]) != hivetext::Upper(b[i])) return false;
    }
    return true;
}

// The node and values of the key at `path`; kRegistryKeyDeleted when the
// key is gone, `unreadable` when its values cannot be listed.
long ValuesOf(const HiveFile& hive, const std::vector<std::string>& path, long unreadable, hive_node_h& node,
              HiveValueList& values)
{
    node = FindHiveKey(hive, path);
    if (!node) return kRegistryKeyDeleted;
    return ListHiveValues(hive, node, values) ? kRegistryOk : unreadable;
}

// A dword value of `key`, when it is one.
bool ReadDword(const HiveFile& hive, hive_node_h key, const char* name, std::uint32_t& value)
{
    std::uint32_t type = 0;
    std::string data;
    if (!ReadNamedHiveValue(hive, key, name, type, data)) return false;
    if (type != kRegDword || data.size() != 4) return false;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data.data());
    value = bytes[0] | static_cast<std::uint32_t>(bytes[1]) << 8 | static_cast<std::uint32_t>(bytes[2]) << 16 |
            static_cast<std::uint32_t>(bytes[3]) << 24;
    return true;
}

// The leading decimal digits of `text`; false when there are none.
bool LeadingNumber(const char* text, std::uint32_t& value, const char** end)
{
    value = 0;
    const char* at = text;
    while (*at >= '0' && *at <= '9' && at - text < 9) value = value * 10 + static_cast<std::uint32_t>(*at++ - '0');
    if (end) *end = at;
    return at != text;
}

// A hive given by a host path: the folder of the path opened by that path
// (a caller's own path, which may lead through links), held while it is
// mounted.
struct PathPlace {
    explicit PathPlace(const std::string& hostPath)
    {
        place.folder = -1;
        place.shown = hostPath;
        if (hostPath.empty()) return;
        const std::size_t slash = hostPath.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : hostPath.substr(0, slash);
        place.name = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
        place.folder = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    ~PathPlace()
    {
        if (place.folder >= 0) close(place.folder);
    }
    PathPlace(const PathPlace&) = delete;
    PathPlace& operator=(const PathPlace&) = delete;
    HivePlatform::Place place;
};

}  // namespace

HivePlatform::HivePlatform(Platform& inner)
    : inner_(inner),
      software_(new HiveFile),
      system_(new HiveFile),
      selectedUser_(0),
      is64Bit_(false),
      nextKey_(kFirstKeyRef),
      allowChanges_(false),
      damaged_(false),
      fault_(ChangeFault::None)
{
}

HivePlatform::~HivePlatform()
{
    UnmountHive(*software_);
    UnmountHive(*system_);
    for (auto& user : users_) UnmountHive(*user);
}

// ------------------------------------------------------------ mounting

void HivePlatform::Note(const std::string& line)
{
    problems_.push_back(line);
}

void HivePlatform::MountOne(HiveFile& hive, const Place& place, std::vector<std::string>& problems)
{
    UnmountHive(hive);
    hive.hostPath = place.shown;
    // No name: the hive is missing. A folder that could not be opened is
    // MountHive's to name.
    if (place.name.empty()) return;
    std::string why;
    const HiveVerdict verdict = MountHive(hive, place.folder, place.name, place.shown, why);
    if (verdict == HiveVerdict::Damaged) {
        damaged_ = true;
        UnmountHive(hive);
        problems.push_back("registry hive " + place.shown + " is damaged and was left alone: " + why);
    } else if (verdict == HiveVerdict::Dirty) {
        Note("registry hive " + place.shown + " was not closed cleanly by Windows (" + why +
             "): it is only read, nothing in it is changed, and its latest changes may be missing");
    }
}

void HivePlatform::MountMachine(const Place& software, const Place& system, std::vector<std::string>& problems)
{
    MountOne(*software_, software, problems);
    MountOne(*system_, system, problems);
    ReadMachine();
}

void HivePlatform::MountMachine(const std::string& softwareHive, const std::string& systemHive,
                                std::vector<std::string>& problems)
{
    const PathPlace software(softwareHive);
    const PathPlace system(systemHive);
    MountMachine(software.place, system.place, problems);
}

void HivePlatform::ReadMachine()
{
    is64Bit_ = FindHiveKey(*software_, {kWow6432Node}) != 0;
    controlSet_.clear();
    std::uint32_t current = 0;
    if (ReadDword(*system_, FindHiveKey(*system_, {"Select"}), "Current", current) && current > 0 &&
        current < 1000) {
        char name[32];
        std::snprintf(name, sizeof name, "ControlSet%03u", static_cast<unsigned>(current));
        controlSet_ = name;
    }
    environment_ = ReadHiveEnvironment(*software_, *system_, controlSet_);
}

std::vector<HivePlatform::Profile> HivePlatform::Profiles()
{
    std::vector<Profile> profiles;
    const hive_node_h list = FindHiveKey(*software_, hivetext::SplitPath(kProfileListKey));
    hive_node_h* children = list ? hivex_node_children(software_->reader, list) : nullptr;
    for (std::size_t i = 0; children && children[i]; ++i) {
        char* name = hivex_node_name(software_->reader, children[i]);
        const std::string sid = hivetext::FromUtf8(name);
        const std::string image = ReadHiveText(*software_, children[i], "ProfileImagePath");
        // A key without a name (a damaged hive) names no account.
        if (!sid.empty() && !image.empty()) profiles.push_back(Profile{sid, ExpandHiveText(environment_, image)});
        std::free(name);
    }
    std::free(children);
    return profiles;
}

void HivePlatform::AddUser(const Place& ntuserHive, const std::string& profilePath, std::vector<std::string>& problems)
{
    users_.emplace_back(new HiveFile);
    profilePaths_.push_back(profilePath);
    MountOne(*users_.back(), ntuserHive, problems);
}

void HivePlatform::AddUser(const std::string& ntuserHive, const std::string& profilePath,
                           std::vector<std::string>& problems)
{
    const PathPlace place(ntuserHive);
    AddUser(place.place, profilePath, problems);
}

void HivePlatform::AllowChanges(bool allow)
{
    allowChanges_ = allow;
}

void HivePlatform::SetBeforeFirstChange(std::function<bool(const std::string&)> hook)
{
    beforeFirstChange_ = hook;
}

void HivePlatform::SetStepHookForTesting(std::function<void(ChangeStep)> hook)
{
    stepHook_ = hook;
}

bool HivePlatform::Is64BitWindows()
{
    return is64Bit_;
}

std::vector<std::string> HivePlatform::TakeProblems()
{
    std::vector<std::string> taken;
    taken.swap(problems_);
    return taken;
}

bool HivePlatform::HadDamagedHive()
{
    return damaged_;
}

void HivePlatform::SetChangeFaultForTesting(ChangeFault fault)
{
    fault_ = fault;
}

// ------------------------------------------------------------ the system

bool HivePlatform::QueryVersion(VersionInfo& info)
{
    if (!software_->reader) return inner_.QueryVersion(info);
    const hive_node_h key = FindHiveKey(*software_, hivetext::SplitPath(kCurrentVersionKey));
    if (!key) return false;
    info.platformId = 2;
    // Windows 10 and later keep "6.3" in CurrentVersion for old programs;
    // the real numbers are in their own dwords.
    if (!ReadDword(*software_, key, "CurrentMajorVersionNumber", info.majorVersion) ||
        !ReadDword(*software_, key, "CurrentMinorVersionNumber", info.minorVersion)) {
        const std::string version = ReadHiveText(*software_, key, "CurrentVersion");
        const char* dot = nullptr;
        if (!LeadingNumber(version.c_str(), info.majorVersion, &dot) || *dot != '.' ||
            !LeadingNumber(dot + 1, info.minorVersion, nullptr)) {
            return false;
        }
    }
    if (!LeadingNumber(ReadHiveText(*software_, key, "CurrentBuildNumber").c_str(), info.buildNumber, nullptr)) {
        info.buildNumber = 0;
    }
    return true;
}

std::uint32_t HivePlatform::ExpandEnvironment(const char* text, char* out, std::uint32_t size)
{
    HiveFile* user = SelectedUser();
    if (user) environment_["USERPROFILE"] = profilePaths_[selectedUser_];
    else environment_.erase("USERPROFILE");
    return ExpandHiveEnvironment(environment_, text, out, size);
}

bool HivePlatform::RunsUnderWow64()
{
    return false;
}

// ------------------------------------------------------------ keys

HiveFile* HivePlatform::SelectedUser() const
{
    return selectedUser_ < users_.size() ? users_[selectedUser_].get() : nullptr;
}

bool HivePlatform::Target(KeyRef key, OpenKey& target, long& result)
{
    result = kRegistryOk;
    if (key == kKeyCurrentUser) {
        target = OpenKey{SelectedUser(), {}, kKeyAllAccess};
        if (!target.hive) result = kRegistryNotFound;
        return target.hive != nullptr;
    }
    const auto found = openKeys_.find(key);
    if (found == openKeys_.end()) {
        // The machine's root holds no values of its own here.
        result = key == kKeyLocalMachine ? kRegistryNotFound : kRegistryInvalidHandle;
        return false;
    }
    target = found->second;
    return true;
}

bool HivePlatform::Locate(KeyRef parent, const char* subkey, std::uint32_t access, OpenKey& target, long& result)
{
    std::vector<std::string> parts = hivetext::SplitPath(subkey);
    result = kRegistryNotFound;
    if (parent == kKeyLocalMachine) {
        if (parts.empty()) return false;
        HiveFile* hive = Same(parts[0], kSoftwareName) ? software_.get()
                         : Same(parts[0], kSystemName) ? system_.get()
                                                       : nullptr;
        if (!hive) return false;
        parts.erase(parts.begin());
        // A 32-bit program's view of a 64-bit Windows, as WoW64 gives it.
        if (hive == software_.get() && is64Bit_ && !(access & kKeyView64) &&
            (parts.empty() || !Same(parts[0], kWow6432Node))) {
            parts.insert(parts.begin(), kWow6432Node);
        }
        target = OpenKey{hive, parts, access};
    } else {
        OpenKey base;
        if (!Target(parent, base, result)) return false;
        target = OpenKey{base.hive, base.path, access};
        target.path.insert(target.path.end(), parts.begin(), parts.end());
    }
    if (target.hive == system_.get() && !target.path.empty() && Same(target.path[0], kCurrentControlSet)) {
        if (controlSet_.empty()) return false;
        target.path[0] = controlSet_;
    }
    result = kRegistryOk;
    return true;
}

long HivePlatform::RegistryOpen(KeyRef parent, const char* subkey, std::uint32_t access, KeyRef& key)
{
    key = 0;
    if (parent == kKeyPerformanceData) return inner_.RegistryOpen(parent, subkey, access, key);
    OpenKey target;
    long result = kRegistryOk;
    if (!Locate(parent, subkey, access, target, result)) return result;
    if (!FindHiveKey(*target.hive, target.path)) return kRegistryNotFound;
    key = nextKey_++;
    openKeys_[key] = target;
    return kRegistryOk;
}

void HivePlatform::RegistryClose(KeyRef key)
{
    if (key == kKeyPerformanceData) {
        inner_.RegistryClose(key);
        return;
    }
    openKeys_.erase(key);
}

std::uint32_t HivePlatform::RegistryUserCount()
{
    return static_cast<std::uint32_t>(users_.size());
}

bool HivePlatform::SelectRegistryUser(std::uint32_t index)
{
    if (index >= users_.size()) return false;
    selectedUser_ = index;
    return true;
}

bool HivePlatform::RegistryHasTwoViews()
{
    return is64Bit_;
}

// ------------------------------------------------------------ values

long HivePlatform::RegistryQueryValue(KeyRef key, const char* name, std::uint32_t* type, void* data,
                                      std::uint32_t* size)
{
    if (key == kKeyPerformanceData) return inner_.RegistryQueryValue(key, name, type, data, size);
    OpenKey target;
    long result = kRegistryOk;
    if (!Target(key, target, result)) return result;
    hive_node_h node = 0;
    HiveValueList values;
    result = ValuesOf(*target.hive, target.path, kRegistryNotFound, node, values);
    if (result != kRegistryOk) return result;
    const long index = FindHiveValue(*target.hive, values, name ? name : "");
    std::uint32_t storedType = 0;
    std::string stored;
    if (index < 0 ||
        !ReadHiveValue(*target.hive, values.handles[static_cast<std::size_t>(index)], storedType, stored)) {
        return kRegistryNotFound;
    }
    if (type) *type = storedType;
    if (!size) return data ? kRegistryInvalidParameter : kRegistryOk;
    const std::uint32_t length = static_cast<std::uint32_t>(stored.size());
    if (data && *size < length) {
        *size = length;
        return kRegistryMoreData;
    }
    if (data && length) std::memcpy(data, stored.data(), length);
    *size = length;
    return kRegistryOk;
}

long HivePlatform::RegistryValueCount(KeyRef key, std::uint32_t& count)
{
    OpenKey target;
    long result = kRegistryOk;
    if (!Target(key, target, result)) return result;
    hive_node_h node = 0;
    HiveValueList values;
    result = ValuesOf(*target.hive, target.path, kRegistryIoFailed, node, values);
    if (result != kRegistryOk) return result;
    count = static_cast<std::uint32_t>(values.handles.size());
    return kRegistryOk;
}

long HivePlatform::RegistryEnumValue(KeyRef key, std::uint32_t index, char* name, std::uint32_t& nameLength)
{
    OpenKey target;
    long result = kRegistryOk;
    if (!Target(key, target, result)) return result;
    hive_node_h node = 0;
    HiveValueList values;
    result = ValuesOf(*target.hive, target.path, kRegistryIoFailed, node, values);
    if (result != kRegistryOk) return result;
    if (index >= values.names.size()) return kRegistryNoMoreItems;
    const std::string& found = values.names[index];
    if (found.size() >= nameLength) return kRegistryMoreData;
    std::memcpy(name, found.c_str(), found.size() + 1);
    nameLength = static_cast<std::uint32_t>(found.size());
    return kRegistryOk;
}

// ------------------------------------------------------------ changes

long HivePlatform::RegistryDeleteValue(KeyRef key, const char* name)
{
    OpenKey target;
    long result = kRegistryOk;
    if (!Target(key, target, result)) return result;
    if (!(target.access & kKeySetValue)) return kRegistryAccessDenied;
    HiveFile& hive = *target.hive;
    hive_node_h node = 0;
    HiveValueList values;
    result = ValuesOf(*target.hive, target.path, kRegistryNotFound, node, values);
    if (result != kRegistryOk) return result;
    const long index = FindHiveValue(hive, values, name ? name : "");
    if (index < 0) return kRegistryNotFound;
    for (std::size_t i = 0; i < values.handles.size(); ++i) {
        std::size_t length = 0;
        if (i != static_cast<std::size_t>(index) &&
            (!HiveValueLength(hive, values.handles[i], length) || length > kLargestSingleCellData)) {
            if (allowChanges_ && !hive.readOnly) {
                Note("registry hive " + hive.hostPath + ": a value of a key holding large data was not deleted: " +
                     "the key cannot be rewritten safely");
            }
            return kRegistryAccessDenied;
        }
    }
    char* keyName = hivex_node_name(hive.reader, node);
    if (!keyName) return kRegistryIoFailed;
    HiveEdit edit{HiveEdit::DeleteValue, node, keyName, static_cast<std::size_t>(index),
                  values.handles[static_cast<std::size_t>(index)]};
    std::free(keyName);
    return Change(hive, edit);
}

long HivePlatform::RegistryDeleteKey(KeyRef parent, const char* subkey)
{
    // RegDeleteKeyA has no access mask: it works in the program's view.
    OpenKey target;
    long result = kRegistryOk;
    if (!Locate(parent, subkey, 0, target, result)) return result;
    if (hivetext::SplitPath(subkey).empty()) return kRegistryNotFound;
    HiveFile& hive = *target.hive;
    const hive_node_h node = FindHiveKey(hive, target.path);
    if (!node) return kRegistryNotFound;
    // A hive's root is never deleted; as on the NT family, neither is a key
    // that still has subkeys.
    if (target.path.empty() || HiveSubkeyCount(hive, node) != 0) return kRegistryAccessDenied;
    char* keyName = hivex_node_name(hive.reader, node);
    if (!keyName) return kRegistryIoFailed;
    HiveEdit edit{HiveEdit::DeleteKey, node, keyName, 0, 0};
    std::free(keyName);
    return Change(hive, edit);
}

std::vector<HiveFile*> HivePlatform::MountsOf(const HiveFile& hive)
{
    std::vector<HiveFile*> mounts;
    auto same = [&](HiveFile* other) { return other->reader && SameFile(other->identity, hive.identity); };
    for (HiveFile* machine : {software_.get(), system_.get()}) {
        if (same(machine)) mounts.push_back(machine);
    }
    for (auto& user : users_) {
        if (same(user.get())) mounts.push_back(user.get());
    }
    return mounts;
}

long HivePlatform::Change(HiveFile& hive, const HiveEdit& edit)
{
    if (!allowChanges_ || hive.readOnly || hive.changesRefused) return kRegistryAccessDenied;
    std::string why;
    if (!HiveStillAsChecked(hive, why) || CheckHiveFile(hive.fd, why) != HiveVerdict::Sound) {
        Note("registry hive " + hive.hostPath + " was not changed: " + why);
        return kRegistryAccessDenied;
    }
    if (stepHook_) stepHook_(ChangeStep::HiveChecked);
    // One file may be mounted in more than one place (two profiles naming
    // one NTUSER.DAT): each of them announces it and reads it again.
    const std::vector<HiveFile*> sameFile = MountsOf(hive);
    if (!hive.changeAnnounced) {
        for (HiveFile* mount : sameFile) mount->changeAnnounced = true;
        if (beforeFirstChange_ && !beforeFirstChange_(hive.hostPath)) {
            for (HiveFile* mount : sameFile) mount->changesRefused = true;
            Note("registry hive " + hive.hostPath +
                 " was not changed: its original could not be kept in the quarantine");
            return kRegistryAccessDenied;
        }
        // The hook read the hive by its name: it must still be the one read here.
        if (!HiveStillAsChecked(hive, why)) {
            Note("registry hive " + hive.hostPath + " was not changed: " + why);
            return kRegistryAccessDenied;
        }
    }
    if (stepHook_) stepHook_(ChangeStep::OriginalKept);
    HiveWriteHooks hooks;
    hooks.fault = fault_;
    hooks.step = stepHook_;
    int written = -1;
    if (!WriteHiveEdit(hive, edit, hooks, written, why)) {
        Note("registry hive " + hive.hostPath + " was not changed: " + why);
        return kRegistryIoFailed;
    }
    for (HiveFile* mount : sameFile) {
        const int fd = mount == &hive ? written : fcntl(written, F_DUPFD_CLOEXEC, 0);
        if (!ReopenHive(*mount, fd)) {
            damaged_ = true;
            Note("registry hive " + hive.hostPath + " cannot be read again after a change");
        }
    }
    return kRegistryOk;
}
