// One hive file of the disk, read through a read-only libhivex handle, and
// the lookups the registry calls need: keys by path and values by name,
// compared the way Windows compares them (see HiveText.h).
#pragma once

#include <hivex.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/hive/HiveHeader.h"

// libhivex hands a value's type over as its enum, holding whatever number
// the hive stores, which may be none of the enum's names: only the bits are
// read and written, never the enum as such (out of its range it would be
// undefined behaviour).
static_assert(sizeof(hive_type) == sizeof(std::uint32_t), "hive_type holds a stored 32-bit type");
inline std::uint32_t StoredType(const hive_type& type)
{
    std::uint32_t bits;
    std::memcpy(&bits, &type, sizeof bits);
    return bits;
}

// A mounted hive file of the disk: held by its folder's descriptor and its
// name there, and by the descriptor of the file that was checked; libhivex
// reads that file through /proc/self/fd, never through a path on the disk.
struct HiveFile {
    std::string hostPath;  // as the user knows it, for lines about it
    int folder = -1;       // the folder that holds it, held open
    std::string name;      // its name in that folder
    int fd = -1;           // the file checked at the mount (or written by the last change), read only
    struct stat identity{};  // of `fd`: what the name must still stand for before a change
    hive_h* reader = nullptr;  // null: missing or unusable, so nothing is found
    bool readOnly = false;     // Windows did not close it cleanly: never written
    bool changeAnnounced = false;  // the before-first-change hook has run for it
    bool changesRefused = false;   // that hook said no: never written
};

// The name a change of the hive named `name` is committed to before it
// replaces the hive.
std::string NewHiveName(const std::string& name);

// The path through which a file open as `fd` is opened again (for libhivex,
// which takes paths): the same file whatever its name now stands for.
std::string DescriptorPath(int fd);

// Opens `name` in the folder held as `folder` (duplicated; the caller keeps
// its own), only when it is a regular file, checks it and opens it for
// reading. `why` explains a verdict other than Sound; a Dirty hive is
// opened (read only), a Damaged one is not. Nothing on the disk is changed.
HiveVerdict MountHive(HiveFile& hive, int folder, const std::string& name, const std::string& shown,
                      std::string& why);
// The hive's name still stands for the file that was checked, unchanged
// since (the same file, size and times); false with `why` otherwise.
bool HiveStillAsChecked(const HiveFile& hive, std::string& why);
// Makes the file open as `fd` (its name now the hive's; the hive takes the
// descriptor) the hive that is read; false (and nothing found any more)
// when it cannot be read.
bool ReopenHive(HiveFile& hive, int fd);
void UnmountHive(HiveFile& hive);

// The key at `path` (engine names) from the root; 0 when missing.
hive_node_h FindHiveKey(const HiveFile& hive, const std::vector<std::string>& path);
// The number of subkeys, or -1 when they cannot be read.
long HiveSubkeyCount(const HiveFile& hive, hive_node_h key);

// A key's values, in the hive's order: names in engine text.
struct HiveValueList {
    std::vector<hive_value_h> handles;
    std::vector<std::string> names;
};
bool ListHiveValues(const HiveFile& hive, hive_node_h key, HiveValueList& list);
// The position of the first value named `name`, or -1.
long FindHiveValue(const HiveFile& hive, const HiveValueList& list, const std::string& name);
// The value's type as stored and its data for the engine: string types
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) in single bytes, the rest as stored.
bool ReadHiveValue(const HiveFile& hive, hive_value_h value, std::uint32_t& type, std::string& data);
// The first value of `key` named `name`, read as ReadHiveValue reads it;
// false when the key or the value is missing or cannot be read.
bool ReadNamedHiveValue(const HiveFile& hive, hive_node_h key, const char* name, std::uint32_t& type,
                        std::string& data);
// A string value (REG_SZ or REG_EXPAND_SZ) of `key` up to its first zero;
// "" when missing or of another type.
std::string ReadHiveText(const HiveFile& hive, hive_node_h key, const char* name);
// The stored length of the value's data; false when it cannot be read.
bool HiveValueLength(const HiveFile& hive, hive_value_h value, std::size_t& length);
