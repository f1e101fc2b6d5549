#include "app/console/OfflineDisk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/posix/HeldFolder.h"

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

std::string Below(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

// A descriptor closed when it goes.
class Held {
public:
    explicit Held(int fd) : fd_(fd) {}
    ~Held()
    {
        if (fd_ >= 0) close(fd_);
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

struct Listing {
    bool read = false;
    int error = 0;
    std::vector<std::string> names;  // in byte order, without "." and ".."
};

// The names in the folder held open as `folder`. "." and ".." are left
// out: a path the hives give never leads above or beside the folder it
// names.
Listing NamesIn(int folder)
{
    Listing listing;
    const int listed = fcntl(folder, F_DUPFD_CLOEXEC, 0);
    DIR* dir = listed >= 0 ? fdopendir(listed) : nullptr;
    if (!dir) {
        listing.error = errno;
        if (listed >= 0) close(listed);
        return listing;
    }
    rewinddir(dir);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") listing.names.push_back(name);
    }
    closedir(dir);
    std::sort(listing.names.begin(), listing.names.end());
    listing.read = true;
    return listing;
}

// What the entry `name` of the held folder is itself (a link is a link);
// 0 when it is gone.
mode_t TypeIn(int folder, const std::string& name)
{
    struct stat st;
    return fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? (st.st_mode & S_IFMT) : 0;
}

// The real folders at the root, the usual Windows folders' names first.
std::vector<std::string> RootFoldersByPreference(int root)
{
    std::vector<std::string> folders;
    for (const std::string& name : NamesIn(root).names) {
        if (TypeIn(root, name) == S_IFDIR) folders.push_back(name);
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

// The entries of `names` that Windows would take for `wanted`, the exact
// spelling first, then the others in byte order.
std::vector<std::string> Spellings(const std::vector<std::string>& names, const std::string& wanted)
{
    std::vector<std::string> spellings;
    for (const std::string& name : names) {
        if (name == wanted) spellings.insert(spellings.begin(), name);
        else if (SameWindowsName(wanted, name)) spellings.push_back(name);
    }
    return spellings;
}

DiskLookup BlockedAt(const std::string& path, mode_t type, int error, std::size_t depth)
{
    DiskLookup lookup;
    lookup.result = DiskLookup::Blocked;
    lookup.path = path;
    lookup.type = type;
    lookup.error = error;
    lookup.depth = depth;
    return lookup;
}

// LookUpOnDisk from names[at] on, in the folder held as `folder`, which is
// `path` below the root.
DiskLookup LookUpBelow(int folder, const std::string& path, const std::vector<std::string>& names, std::size_t at,
                       bool wantFolder)
{
    const Listing listing = NamesIn(folder);
    if (!listing.read) return BlockedAt(path, S_IFDIR, listing.error, at);
    const bool last = at + 1 == names.size();
    const mode_t wanted = !last || wantFolder ? S_IFDIR : S_IFREG;
    DiskLookup first;
    for (const std::string& name : Spellings(listing.names, names[at])) {
        const std::string next = Below(path, name);
        const mode_t type = TypeIn(folder, name);
        DiskLookup found;
        if (type != wanted) {
            if (type == 0) continue;  // gone since the listing
            found = BlockedAt(next, type, 0, at + 1);
        } else if (last) {
            found.result = DiskLookup::Found;
            found.path = next;
            return found;
        } else {
            const Held below(OpenFolderBelow(folder, name));
            found = below.fd() < 0 ? BlockedAt(next, errno == ELOOP ? S_IFLNK : S_IFDIR, errno == ELOOP ? 0 : errno,
                                               at + 1)
                                   : LookUpBelow(below.fd(), next, names, at + 1, wantFolder);
            if (found.result == DiskLookup::Found) return found;
        }
        if (first.result == DiskLookup::Missing) first = found;
    }
    return first;
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

DiskLookup LookUpOnDisk(int root, const std::string& windowsPath, bool folder)
{
    const std::vector<std::string> names = SplitWindowsPath(windowsPath);
    if (names.empty()) return DiskLookup();
    for (const std::string& name : names) {
        // A hive's text never leads above or beside the folder it names.
        if (name == "." || name == "..") return DiskLookup();
    }
    return LookUpBelow(root, std::string(), names, 0, folder);
}

bool FindOnDisk(int root, const std::string& windowsPath, bool folder, std::string& found)
{
    const DiskLookup lookup = LookUpOnDisk(root, windowsPath, folder);
    found = lookup.result == DiskLookup::Found ? lookup.path : std::string();
    return lookup.result == DiskLookup::Found;
}

std::size_t NamesInPath(const std::string& windowsPath)
{
    return SplitWindowsPath(windowsPath).size();
}

std::string BlockedText(const DiskLookup& lookup, bool folder)
{
    if (lookup.error != 0) return std::string("not readable (") + std::strerror(lookup.error) + ")";
    return std::string(EntryTypeText(lookup.type)) + (folder ? ", not a folder" : ", not a file");
}

WindowsOnDisk FindWindows(int root, const SystemRootReader& systemRootOf)
{
    std::vector<WindowsOnDisk> installs;
    const std::vector<std::string> folders = RootFoldersByPreference(root);
    const std::size_t hiveNames = NamesInPath(kSoftwareBelowWindows) + 1;
    for (const std::string& folder : folders) {
        WindowsOnDisk install;
        install.family = WindowsNt;
        install.folder = folder;
        install.softwareHive = LookUpOnDisk(root, folder + "\\" + kSoftwareBelowWindows, false);
        install.systemHive = LookUpOnDisk(root, folder + "\\" + kSystemBelowWindows, false);
        for (DiskLookup* hive : {&install.softwareHive, &install.systemHive}) {
            if (hive->result == DiskLookup::Blocked && !hive->BlockedAtLast(hiveNames)) *hive = DiskLookup();
        }
        if (install.softwareHive.result != DiskLookup::Missing || install.systemHive.result != DiskLookup::Missing) {
            installs.push_back(install);
        }
    }
    std::vector<std::string> older;
    for (const std::string& folder : folders) {
        std::string hive;
        if (FindOnDisk(root, folder + "\\" + kSystemDat, false, hive)) older.push_back(folder);
    }
    WindowsOnDisk chosen;
    if (installs.size() > 1) {
        for (const WindowsOnDisk& install : installs) {
            std::string rest;
            std::string named;
            if (install.softwareHive.result != DiskLookup::Found ||
                !DrivePathRest(systemRootOf(root, install.softwareHive.path), rest)) {
                continue;
            }
            if (FindOnDisk(root, rest, true, named) && named == install.folder) {
                chosen = install;
                break;
            }
        }
    }
    if (chosen.family == NoWindows && !installs.empty()) chosen = installs.front();
    if (chosen.family == NoWindows && !older.empty()) {
        chosen.family = Windows9x;
        chosen.folder = older.front();
    }
    for (const WindowsOnDisk& install : installs) {
        if (install.folder != chosen.folder) chosen.others.push_back(install.folder);
    }
    for (const std::string& folder : older) {
        if (folder != chosen.folder) chosen.others.push_back(folder);
    }
    return chosen;
}

FolderPlace FindNamedFolder(int root, const std::string& systemDrive, const std::string& windowsPath,
                            DiskLookup& lookup)
{
    lookup = DiskLookup();
    std::string rest;
    if (!DrivePathRest(windowsPath, rest) || SplitWindowsPath(rest).empty()) return FolderElsewhere;
    if (!systemDrive.empty() && FoldCase(static_cast<unsigned char>(systemDrive[0])) !=
                                    FoldCase(static_cast<unsigned char>(windowsPath[0]))) {
        return FolderElsewhere;
    }
    lookup = LookUpOnDisk(root, rest, true);
    if (lookup.result == DiskLookup::Found) return FolderFound;
    return lookup.result == DiskLookup::Blocked ? FolderBlocked : FolderMissing;
}

bool IsServiceProfile(const std::string& sid)
{
    for (const char* service : kServiceSids) {
        if (SameWindowsName(service, sid)) return true;
    }
    return false;
}

std::vector<UsualProfile> UsualProfileFolders(int root)
{
    std::vector<UsualProfile> profiles;
    const Listing atRoot = NamesIn(root);
    for (const char* parent : kUsualProfileParents) {
        for (const std::string& spelling : Spellings(atRoot.names, parent)) {
            if (TypeIn(root, spelling) != S_IFDIR) continue;
            const Held folder(OpenFolderBelow(root, spelling));
            if (folder.fd() < 0) continue;
            for (const std::string& name : NamesIn(folder.fd()).names) {
                if (TypeIn(folder.fd(), name) != S_IFDIR) continue;
                const std::string profile = spelling + "/" + name;
                UsualProfile usual{profile, LookUpOnDisk(root, profile + "/" + kUserHive, false)};
                const std::size_t names = NamesInPath(profile) + 1;
                if (usual.hive.result == DiskLookup::Found || usual.hive.BlockedAtLast(names)) {
                    profiles.push_back(usual);
                }
            }
        }
    }
    return profiles;
}

DiskAccess ProbeDiskAccess(int root)
{
    DiskAccess access;
    struct statvfs fs;
    access.mountedReadOnly = fstatvfs(root, &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0;
    access.writable = faccessat(root, ".", W_OK, 0) == 0;
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
