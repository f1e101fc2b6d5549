#include "app/console/OfflineDisk.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace {

// Where an NT-family Windows keeps the machine's hives, below its folder.
const char kSoftwareBelowWindows[] = "System32\\config\\SOFTWARE";
const char kSystemBelowWindows[] = "System32\\config\\SYSTEM";
// The 95/98/ME machine hive, in the Windows folder.
const char kSystemDat[] = "SYSTEM.DAT";
const char kUserHive[] = "NTUSER.DAT";

// The Windows folder's usual names, in the order they are preferred.
const char* const kUsualWindowsFolders[] = {"Windows", "WINNT"};
// Where profile folders usually are: Vista and later, then 2000 and XP.
const char* const kUsualProfileParents[] = {"Users", "Documents and Settings"};
// The well-known service accounts' profiles.
const char* const kServiceSids[] = {"S-1-5-18", "S-1-5-19", "S-1-5-20"};

std::uint32_t FoldCase(std::uint32_t c)
{
    if (c >= 'A' && c <= 'Z') return c + 32;
    // Latin-1 capitals, but for the multiplication sign.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    return c;
}

// The characters of a name on the disk: UTF-8 when it is valid UTF-8,
// else each byte a Latin-1 character.
std::vector<std::uint32_t> DiskCharacters(const std::string& name)
{
    std::vector<std::uint32_t> characters;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name.data());
    const std::size_t n = name.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = p[i];
        std::size_t length = 0;
        std::uint32_t least = 0;
        if (c < 0x80) length = 1;
        else if (c >= 0xC2 && c <= 0xDF) length = 2, least = 0x80;
        else if (c >= 0xE0 && c <= 0xEF) length = 3, least = 0x800;
        else if (c >= 0xF0 && c <= 0xF4) length = 4, least = 0x10000;
        std::uint32_t code = length == 1 ? c : (c & (0xFFu >> (length + 1)));
        for (std::size_t k = 1; length > 1 && k < length; ++k) {
            if (i + k >= n || (p[i + k] & 0xC0) != 0x80) {
                length = 0;
                break;
            }
            code = (code << 6) | (p[i + k] & 0x3Fu);
        }
        if (length == 0 || (length > 1 && (code < least || code > 0x10FFFF))) {
            characters.assign(p, p + n);
            return characters;
        }
        characters.push_back(code);
        i += length;
    }
    return characters;
}

std::vector<std::string> SplitWindowsPath(const std::string& path)
{
    std::vector<std::string> names;
    std::string name;
    for (char c : path) {
        if (c == '\\' || c == '/') {
            if (!name.empty()) names.push_back(name);
            name.clear();
        } else {
            name += c;
        }
    }
    if (!name.empty()) names.push_back(name);
    return names;
}

std::string Below(const std::string& root, const std::string& relative)
{
    return relative.empty() ? root : root + "/" + relative;
}

enum EntryKind { EntryOther, EntryFolder, EntryFile };

// What the entry is itself; a link is neither folder nor file.
EntryKind KindOf(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return EntryOther;
    if (S_ISDIR(st.st_mode)) return EntryFolder;
    return S_ISREG(st.st_mode) ? EntryFile : EntryOther;
}

// The names in a folder, in byte order; none when it cannot be read. "."
// and ".." are left out: a path the hives give never leads above or beside
// the folder it names.
std::vector<std::string> NamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// The real folders at the root, the usual Windows folders' names first.
std::vector<std::string> RootFoldersByPreference(const std::string& root)
{
    std::vector<std::string> folders;
    for (const std::string& name : NamesIn(root)) {
        if (KindOf(Below(root, name)) == EntryFolder) folders.push_back(name);
    }
    auto rank = [](const std::string& name) {
        std::size_t at = 0;
        for (const char* usual : kUsualWindowsFolders) {
            if (SameWindowsName(usual, name)) return at;
            ++at;
        }
        return at;
    };
    std::stable_sort(folders.begin(), folders.end(),
                     [&](const std::string& a, const std::string& b) { return rank(a) < rank(b); });
    return folders;
}

// The folder part of a Windows path on a drive ("C:\WINNT" gives "WINNT");
// false for anything else.
bool DrivePathRest(const std::string& windowsPath, std::string& rest)
{
    if (windowsPath.size() < 3 || windowsPath[1] != ':' || windowsPath[2] != '\\') return false;
    const char letter = static_cast<char>(FoldCase(static_cast<unsigned char>(windowsPath[0])));
    if (letter < 'a' || letter > 'z') return false;
    rest = windowsPath.substr(3);
    return true;
}

// The entries of `parent` that Windows would take for `wanted`, the exact
// spelling first, then the others in byte order.
std::vector<std::string> Spellings(const std::string& parent, const std::string& wanted)
{
    std::vector<std::string> spellings;
    for (const std::string& name : NamesIn(parent)) {
        if (name == wanted) spellings.insert(spellings.begin(), name);
        else if (SameWindowsName(wanted, name)) spellings.push_back(name);
    }
    return spellings;
}

// FindOnDisk from names[at] on, below `path` (relative to `root`). A file
// system that tells case apart may hold "Users" and "users" both: each is
// tried until the rest of the path is found below one.
bool FindBelow(const std::string& root, const std::string& path, const std::vector<std::string>& names,
               std::size_t at, bool folder, std::string& found)
{
    const bool last = at + 1 == names.size();
    const EntryKind kind = !last || folder ? EntryFolder : EntryFile;
    for (const std::string& name : Spellings(Below(root, path), names[at])) {
        const std::string next = path.empty() ? name : path + "/" + name;
        if (KindOf(Below(root, next)) != kind) continue;
        if (last) {
            found = next;
            return true;
        }
        if (FindBelow(root, next, names, at + 1, folder, found)) return true;
    }
    return false;
}

}  // namespace

bool SameWindowsName(const std::string& windowsName, const std::string& diskName)
{
    const std::vector<std::uint32_t> disk = DiskCharacters(diskName);
    if (disk.size() != windowsName.size()) return false;
    for (std::size_t i = 0; i < disk.size(); ++i) {
        const std::uint32_t wanted = static_cast<unsigned char>(windowsName[i]);
        // The hives' text has '?' for what Latin-1 cannot spell.
        if (wanted == '?' && disk[i] > 0xFF) continue;
        if (FoldCase(wanted) != FoldCase(disk[i])) return false;
    }
    return true;
}

bool FindOnDisk(const std::string& root, const std::string& windowsPath, bool folder, std::string& found)
{
    found.clear();
    const std::vector<std::string> names = SplitWindowsPath(windowsPath);
    return !names.empty() && FindBelow(root, std::string(), names, 0, folder, found);
}

WindowsOnDisk FindWindows(const std::string& root, const SystemRootReader& systemRootOf)
{
    std::vector<WindowsOnDisk> installs;
    const std::vector<std::string> folders = RootFoldersByPreference(root);
    for (const std::string& folder : folders) {
        WindowsOnDisk install = {WindowsNt, folder, std::string(), std::string()};
        FindOnDisk(root, folder + "\\" + kSoftwareBelowWindows, false, install.softwareHive);
        FindOnDisk(root, folder + "\\" + kSystemBelowWindows, false, install.systemHive);
        if (!install.softwareHive.empty() || !install.systemHive.empty()) installs.push_back(install);
    }
    if (installs.size() > 1) {
        for (const WindowsOnDisk& install : installs) {
            std::string rest;
            std::string named;
            if (install.softwareHive.empty() || !DrivePathRest(systemRootOf(Below(root, install.softwareHive)), rest))
                continue;
            if (FindOnDisk(root, rest, true, named) && named == install.folder) return install;
        }
    }
    if (!installs.empty()) return installs.front();

    for (const std::string& folder : folders) {
        std::string hive;
        if (FindOnDisk(root, folder + "\\" + kSystemDat, false, hive)) {
            return WindowsOnDisk{Windows9x, folder, std::string(), std::string()};
        }
    }
    return WindowsOnDisk{NoWindows, std::string(), std::string(), std::string()};
}

FolderPlace FindNamedFolder(const std::string& root, const std::string& systemDrive, const std::string& windowsPath,
                            std::string& folder)
{
    folder.clear();
    std::string rest;
    if (!DrivePathRest(windowsPath, rest) || SplitWindowsPath(rest).empty()) return FolderElsewhere;
    if (!systemDrive.empty() && FoldCase(static_cast<unsigned char>(systemDrive[0])) !=
                                    FoldCase(static_cast<unsigned char>(windowsPath[0]))) {
        return FolderElsewhere;
    }
    return FindOnDisk(root, rest, true, folder) ? FolderFound : FolderMissing;
}

bool IsServiceProfile(const std::string& sid)
{
    for (const char* service : kServiceSids) {
        if (SameWindowsName(service, sid)) return true;
    }
    return false;
}

std::vector<std::string> UsualProfileFolders(const std::string& root)
{
    std::vector<std::string> profiles;
    for (const char* parent : kUsualProfileParents) {
        for (const std::string& spelling : Spellings(root, parent)) {
            if (KindOf(Below(root, spelling)) != EntryFolder) continue;
            for (const std::string& name : NamesIn(Below(root, spelling))) {
                const std::string folder = spelling + "/" + name;
                std::string hive;
                if (KindOf(Below(root, folder)) == EntryFolder && FindOnDisk(root, folder + "/" + kUserHive, false, hive))
                    profiles.push_back(folder);
            }
        }
    }
    return profiles;
}

DiskAccess ProbeDiskAccess(const std::string& root)
{
    DiskAccess access;
    struct statvfs fs;
    access.mountedReadOnly = statvfs(root.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0;
    access.writable = ::access(root.c_str(), W_OK) == 0;
    return access;
}

std::string WhyDiskUnchangeable(const std::string& shown, const DiskAccess& access)
{
    if (access.mountedReadOnly) {
        return "'" + shown + "' is mounted read-only, so nothing on it can be removed: mount it read-write, "
               "or scan it without --remove and --rename";
    }
    if (!access.writable) {
        return "'" + shown + "' cannot be written to by this user, so nothing on it can be removed: run as "
               "root, or scan it without --remove and --rename";
    }
    return std::string();
}
