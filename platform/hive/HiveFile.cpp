#include "platform/hive/HiveFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Platform.h"
#include "platform/hive/HiveText.h"
#include "platform/posix/HeldFolder.h"

namespace {

const std::uint32_t kStringTypes[] = {1, 2, 7};  // REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ

bool IsStringType(std::uint32_t type)
{
    for (std::uint32_t stringType : kStringTypes) {
        if (type == stringType) return true;
    }
    return false;
}

// The child of `key` named `name`: the first that matches, in the hive's
// order (a damaged hive may hold two).
hive_node_h FindChild(hive_h* reader, hive_node_h key, const std::string& name)
{
    hive_node_h* children = hivex_node_children(reader, key);
    if (!children) return 0;
    hive_node_h found = 0;
    for (std::size_t i = 0; children[i] && !found; ++i) {
        char* childName = hivex_node_name(reader, children[i]);
        if (hivetext::SameName(childName, name)) found = children[i];
        std::free(childName);
    }
    std::free(children);
    return found;
}

}  // namespace

std::string NewHiveName(const std::string& name)
{
    return name + ".quellor-new";
}

std::string DescriptorPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

HiveVerdict MountHive(HiveFile& hive, int folder, const std::string& name, const std::string& shown,
                      std::string& why)
{
    UnmountHive(hive);
    hive.hostPath = shown;
    hive.name = name;
    hive.readOnly = false;
    hive.changeAnnounced = false;
    hive.changesRefused = false;
    hive.folder = fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (hive.folder < 0) {
        why = std::string("its folder cannot be opened (") + std::strerror(errno) + ")";
        return HiveVerdict::Damaged;
    }
    // Never a FIFO or a device: opening one could wait forever or run its
    // driver. Nor a link: a change would replace the link, not what it names.
    const FileOpening opening = OpenFileIn(hive.folder, RiskOf(hive.folder), name.c_str(), O_RDONLY, DT_UNKNOWN);
    if (opening.fd < 0) {
        why = opening.type != 0 ? std::string("it is ") + EntryTypeText(opening.type) + ", not a file"
                                : std::string("it cannot be opened (") + std::strerror(opening.error) + ")";
        return HiveVerdict::Damaged;
    }
    hive.fd = opening.fd;
    hive.identity = opening.st;
    const HiveVerdict verdict = CheckHiveFile(hive.fd, why);
    if (verdict == HiveVerdict::Damaged) return verdict;
    hive.readOnly = verdict == HiveVerdict::Dirty;
    hive.reader = hivex_open(DescriptorPath(hive.fd).c_str(), 0);
    if (!hive.reader) {
        why = "libhivex cannot read it";
        return HiveVerdict::Damaged;
    }
    return verdict;
}

bool HiveStillAsChecked(const HiveFile& hive, std::string& why)
{
    struct stat now;
    if (fstatat(hive.folder, hive.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
        why = std::string("it is gone (") + std::strerror(errno) + ")";
        return false;
    }
    if (!SameFile(now, hive.identity)) {
        why = std::string("it was replaced since it was read: it is now ") + EntryTypeText(now.st_mode);
        return false;
    }
    struct stat held;
    if (fstat(hive.fd, &held) != 0 || held.st_size != hive.identity.st_size ||
        held.st_mtim.tv_sec != hive.identity.st_mtim.tv_sec || held.st_mtim.tv_nsec != hive.identity.st_mtim.tv_nsec ||
        held.st_ctim.tv_sec != hive.identity.st_ctim.tv_sec || held.st_ctim.tv_nsec != hive.identity.st_ctim.tv_nsec) {
        why = "it was changed since it was read";
        return false;
    }
    return true;
}

bool ReopenHive(HiveFile& hive, int fd)
{
    if (hive.reader) hivex_close(hive.reader);
    hive.reader = nullptr;
    if (hive.fd >= 0) close(hive.fd);
    hive.fd = fd;
    if (fstat(fd, &hive.identity) != 0) return false;
    hive.reader = hivex_open(DescriptorPath(fd).c_str(), 0);
    return hive.reader != nullptr;
}

void UnmountHive(HiveFile& hive)
{
    if (hive.reader) hivex_close(hive.reader);
    hive.reader = nullptr;
    if (hive.fd >= 0) close(hive.fd);
    hive.fd = -1;
    if (hive.folder >= 0) close(hive.folder);
    hive.folder = -1;
}

hive_node_h FindHiveKey(const HiveFile& hive, const std::vector<std::string>& path)
{
    if (!hive.reader) return 0;
    hive_node_h key = hivex_root(hive.reader);
    for (std::size_t i = 0; i < path.size() && key; ++i) key = FindChild(hive.reader, key, path[i]);
    return key;
}

long HiveSubkeyCount(const HiveFile& hive, hive_node_h key)
{
    hive_node_h* children = hivex_node_children(hive.reader, key);
    if (!children) return -1;
    long count = 0;
    while (children[count]) ++count;
    std::free(children);
    return count;
}

bool ListHiveValues(const HiveFile& hive, hive_node_h key, HiveValueList& list)
{
    list.handles.clear();
    list.names.clear();
    hive_value_h* values = hivex_node_values(hive.reader, key);
    if (!values) return false;
    bool read = true;
    for (std::size_t i = 0; values[i] && read; ++i) {
        char* name = hivex_value_key(hive.reader, values[i]);
        read = name != nullptr;
        if (read) {
            list.handles.push_back(values[i]);
            list.names.push_back(hivetext::FromUtf8(name));
        }
        std::free(name);
    }
    std::free(values);
    return read;
}

long FindHiveValue(const HiveFile& hive, const HiveValueList& list, const std::string& name)
{
    for (std::size_t i = 0; i < list.handles.size(); ++i) {
        char* stored = hivex_value_key(hive.reader, list.handles[i]);
        const bool same = hivetext::SameName(stored, name);
        std::free(stored);
        if (same) return static_cast<long>(i);
    }
    return -1;
}

bool ReadHiveValue(const HiveFile& hive, hive_value_h value, std::uint32_t& type, std::string& data)
{
    hive_type storedType;
    std::size_t length = 0;
    char* stored = hivex_value_value(hive.reader, value, &storedType, &length);
    if (!stored) return false;
    type = StoredType(storedType);
    if (IsStringType(type)) data = hivetext::FromUtf16(stored, length);
    else data.assign(stored, length);
    std::free(stored);
    return true;
}

bool HiveValueLength(const HiveFile& hive, hive_value_h value, std::size_t& length)
{
    hive_type type;
    return hivex_value_type(hive.reader, value, &type, &length) == 0;
}

bool ReadNamedHiveValue(const HiveFile& hive, hive_node_h key, const char* name, std::uint32_t& type,
                        std::string& data)
{
    HiveValueList values;
    if (!key || !ListHiveValues(hive, key, values)) return false;
    const long index = FindHiveValue(hive, values, name);
    return index >= 0 && ReadHiveValue(hive, values.handles[static_cast<std::size_t>(index)], type, data);
}

std::string ReadHiveText(const HiveFile& hive, hive_node_h key, const char* name)
{
    std::uint32_t type = 0;
    std::string data;
    if (!ReadNamedHiveValue(hive, key, name, type, data)) return "";
    if (type != kRegSz && type != kRegExpandSz) return "";
    return data.substr(0, data.find('\0'));
}
