// Enumerations of the POSIX backend: a folder reached below its drive's
// held folder, held open while it is listed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/AnsiText.h"
#include "platform/ListingRules.h"
#include "platform/posix/PosixPlace.h"
#include "platform/posix/PosixPlatform.h"

namespace {

bool HasWildcard(const std::string& mask)
{
    return mask.find_first_of("*?") != std::string::npos;
}

std::string JoinHost(const std::string& folder, const char* name)
{
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Errors that mean "nothing there to list" rather than "refused".
bool IsAbsence(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP || error == EINVAL;
}

void DotEntry(DirEntry& entry, const char* name)
{
    std::memset(&entry, 0, sizeof entry);
    CopyText(entry.name, sizeof entry.name, name);
    entry.attributes = kAttrDirectory;
}

// Fills `entry` for `name` of the held folder; false when the entry is left
// out (vanished, unreadable, never to be opened, or not nameable to the
// engine). `listed` is the folder listing's d_type: when it already tells a
// file or a folder, the entry is not looked up again (the walk lists every
// folder twice, and a lookup per entry costs as much as the examination's
// reads); such a file shows no read-only attribute, which only
// SetAttributes and RemoveFile act on. `type` receives the d_type the entry
// is known by.
bool DescribeEntry(PosixPlatform& platform, const HeldSearch& search, const char* name, unsigned char listed,
                   DirEntry& entry, unsigned char& type)
{
    const int folderFd = dirfd(search.dir);
    struct stat st;
    std::memset(&st, 0, sizeof st);
    if (listed != DT_UNKNOWN) {
        st.st_mode = TypeOfListed(listed) | S_IWUSR;
    } else if (fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        // A file removed while the folder is listed is simply gone.
        if (errno != ENOENT) platform.Notice(PosixPlatform::NoticeUnreadable, JoinHost(search.hostFolder, name), errno);
        return false;
    }
    type = IFTODT(st.st_mode);
    if (IsSpecialType(st.st_mode)) {
        platform.Notice(PosixPlatform::NoticeNotRegular, JoinHost(search.hostFolder, name),
                        static_cast<int>(st.st_mode & S_IFMT));
        return false;
    }
    if (std::strchr(name, '\\')) {
        platform.Notice(PosixPlatform::NoticeBackslash, JoinHost(search.hostFolder, name), 0);
        return false;
    }
    std::memset(&entry, 0, sizeof entry);
    bool folder = S_ISDIR(st.st_mode);
    if (S_ISLNK(st.st_mode)) {
        // Only looked at, never entered or opened.
        struct stat target;
        folder = fstatat(folderFd, name, &target, AT_NO_AUTOMOUNT) == 0 && S_ISDIR(target.st_mode);
        entry.attributes |= kAttrReparsePoint;
        entry.reparseTag = kReparseTagSymlink;
    }
    // The walk appends "\\*.*" to a folder's path, and every path must fit
    // the engine's buffers with its terminator.
    const std::size_t limit = folder ? kPathBufferSize - 5 : kPathBufferSize - 1;
    if (search.engineFolder.size() + std::strlen(name) > limit) {
        platform.Notice(PosixPlatform::NoticeTooLong, JoinHost(search.hostFolder, name), 0);
        return false;
    }
    CopyText(entry.name, sizeof entry.name, name);
    if (folder) {
        entry.attributes |= kAttrDirectory;
    } else {
        entry.attributes |= kAttrArchive;
        if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) entry.attributes |= kAttrReadOnly;
    }
    return true;
}

bool NextEntry(PosixPlatform& platform, HeldSearch& search, DirEntry& entry)
{
    search.lastName.clear();
    search.lastType = DT_UNKNOWN;
    if (search.singlePending) {
        search.singlePending = false;
        entry = search.single;
        search.lastName = entry.name;
        search.lastType = search.singleType;
        return true;
    }
    if (!search.dir || !search.listing) return false;
    for (int i = 0; i < 2; ++i) {
        if (!search.dotPending[i]) continue;
        search.dotPending[i] = false;
        DotEntry(entry, kDotEntryNames[i]);
        return true;
    }
    for (;;) {
        errno = 0;
        struct dirent* found = readdir(search.dir);
        if (!found) return false;
        const char* name = found->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        if (!MaskMatchesName(search.mask.c_str(), name)) continue;
        unsigned char type = DT_UNKNOWN;
        if (!DescribeEntry(platform, search, name, found->d_type, entry, type)) continue;
        search.lastName = name;
        search.lastType = type;
        return true;
    }
}

}  // namespace

SearchRef PosixPlatform::FindFirstEntry(const char* pattern, DirEntry& entry)
{
    const char* slash = pattern ? std::strrchr(pattern, '\\') : nullptr;
    if (!slash || slash[1] == '\0') return 0;
    HeldSearch* search = new HeldSearch;
    search->engineFolder.assign(pattern, static_cast<std::size_t>(slash - pattern) + 1);
    search->mask = slash + 1;
    EngineSplit split;
    if (!SplitEnginePath(search->engineFolder.c_str(), split) ||
        !HostPath(search->engineFolder.c_str(), search->hostFolder) || drives_[split.drive].fd < 0) {
        delete search;
        return 0;
    }
    search->drive = split.drive;
    search->folders = split.Relative();
    const int folder = OpenFolderBelow(drives_[split.drive].fd, search->folders);
    if (folder >= 0) search->dir = fdopendir(folder);
    if (!search->dir) {
        const int error = errno;
        if (folder >= 0) close(folder);
        if (!IsAbsence(error)) {
            std::string shown = search->hostFolder;
            if (shown.size() > 1 && shown.back() == '/') shown.pop_back();
            Notice(NoticeUnreadable, shown, error);
        }
        delete search;
        return 0;
    }
    search->risk = RiskOf(dirfd(search->dir));
    if (!HasWildcard(search->mask)) {
        // An exact name finds that entry alone; a name that would lead
        // elsewhere finds nothing.
        search->listing = false;
        if (!IsPlainName(search->mask) ||
            !DescribeEntry(*this, *search, search->mask.c_str(), DT_UNKNOWN, search->single, search->singleType)) {
            closedir(search->dir);
            delete search;
            return 0;
        }
        search->singlePending = true;
    } else {
        const bool driveRoot = search->engineFolder.size() == 3;
        for (int i = 0; i < 2; ++i) {
            search->dotPending[i] = ListsDotEntry(search->mask.c_str(), kDotEntryNames[i], driveRoot);
        }
    }
    searches_.push_back(search);
    if (!NextEntry(*this, *search, entry)) {
        FindEnd(reinterpret_cast<SearchRef>(search));
        return 0;
    }
    return reinterpret_cast<SearchRef>(search);
}

bool PosixPlatform::FindNextEntry(SearchRef search, DirEntry& entry)
{
    return NextEntry(*this, *reinterpret_cast<HeldSearch*>(search), entry);
}

void PosixPlatform::FindEnd(SearchRef handle)
{
    HeldSearch* search = reinterpret_cast<HeldSearch*>(handle);
    searches_.erase(std::remove(searches_.begin(), searches_.end(), search), searches_.end());
    if (search->dir) closedir(search->dir);
    delete search;
}
