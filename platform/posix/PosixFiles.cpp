// Drives, enumeration, files and paths of the POSIX backend.
#include "platform/posix/PosixPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/AnsiText.h"
#include "platform/ListingRules.h"

namespace {

// One enumeration: either the entries of an open folder that match a mask,
// or the single entry an exact name found.
struct Search {
    DIR* dir = nullptr;
    std::string hostFolder;
    std::string engineFolder;  // ends with '\\'
    std::string mask;
    bool dotPending[2] = {false, false};  // "." and ".." still to give, before the folder's own
    bool singlePending = false;
    DirEntry single;
};

bool HasWildcard(const std::string& mask)
{
    return mask.find_first_of("*?") != std::string::npos;
}

std::string JoinHost(const std::string& folder, const char* name)
{
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

void DotEntry(DirEntry& entry, const char* name)
{
    std::memset(&entry, 0, sizeof entry);
    CopyText(entry.name, sizeof entry.name, name);
    entry.attributes = kAttrDirectory;
}

// Fills `entry` for `name` of the folder open as `folderFd`; false when the
// entry is left out (vanished, unreadable, or not nameable to the engine).
// `type` is the folder listing's d_type: when it already tells a file or a
// folder, the entry is not looked up again (the walk lists every folder
// twice, and a lookup per entry costs as much as the examination's reads);
// such a file shows no read-only attribute, which only SetAttributes and
// RemoveFile act on.
bool DescribeEntry(PosixPlatform& platform, int folderFd, const Search& search, const char* name,
                   unsigned char type, DirEntry& entry)
{
    if (std::strchr(name, '\\')) {
        platform.Notice(PosixPlatform::NoticeBackslash, JoinHost(search.hostFolder, name), 0);
        return false;
    }
    struct stat st;
    if (type == DT_REG || type == DT_DIR) {
        std::memset(&st, 0, sizeof st);
        st.st_mode = (type == DT_DIR ? S_IFDIR : S_IFREG) | S_IWUSR;
    } else if (fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        // A file removed while the folder is listed is simply gone.
        if (errno != ENOENT) platform.Notice(PosixPlatform::NoticeUnreadable, JoinHost(search.hostFolder, name), errno);
        return false;
    }
    std::memset(&entry, 0, sizeof entry);
    bool folder = S_ISDIR(st.st_mode);
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        folder = fstatat(folderFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
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

bool NextEntry(PosixPlatform& platform, Search& search, DirEntry& entry)
{
    if (search.singlePending) {
        search.singlePending = false;
        entry = search.single;
        return true;
    }
    if (!search.dir) return false;
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
        if (DescribeEntry(platform, dirfd(search.dir), search, name, found->d_type, entry)) return true;
    }
}

void EndSearch(Search* search)
{
    if (search->dir) closedir(search->dir);
    delete search;
}

// A reading handle keeps its position here and reads at it; its size is
// taken at the open.
struct OpenFile {
    int fd;
    bool forRead;
    std::int64_t position;  // reading handles; writers use the descriptor's own
    std::int64_t size;      // at the open, for reading handles
};

OpenFile* Handle(FileRef file)
{
    return reinterpret_cast<OpenFile*>(file);
}

// Errors that mean "nothing there to read" rather than "refused".
bool IsAbsence(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP || error == ENXIO || error == EISDIR;
}

// Opens a regular file, never through a symbolic link in the last component.
int OpenRegular(const std::string& host, int flags, mode_t mode, int& error, struct stat& st)
{
    int fd = open(host.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = EISDIR;
        close(fd);
        return -1;
    }
    error = 0;
    return fd;
}

FileRef NewHandle(int fd, bool forRead, const struct stat& st)
{
    if (fd < 0) return kNoFile;
    OpenFile* file = new OpenFile;
    file->fd = fd;
    file->forRead = forRead;
    file->position = 0;
    file->size = st.st_size;
    return reinterpret_cast<FileRef>(file);
}

std::uint32_t CopyOut(const std::string& text, char* out, std::uint32_t size)
{
    if (text.size() + 1 > size) return static_cast<std::uint32_t>(text.size() + 1);
    std::memcpy(out, text.c_str(), text.size() + 1);
    return static_cast<std::uint32_t>(text.size());
}

}  // namespace

void PosixPlatform::MapDrive(char letter, const std::string& hostFolder)
{
    letter = UpperAscii(letter);
    if (letter < 'A' || letter > 'Z') return;
    drives_[letter - 'A'] = hostFolder;
}

bool PosixPlatform::HostPath(const char* enginePath, std::string& hostPath) const
{
    if (!enginePath || enginePath[0] == '\0' || enginePath[1] != ':') return false;
    char letter = enginePath[0];
    letter = UpperAscii(letter);
    if (letter < 'A' || letter > 'Z' || drives_[letter - 'A'].empty()) return false;
    const char* rest = enginePath + 2;
    if (*rest == '\\') ++rest;
    hostPath = drives_[letter - 'A'];
    if (*rest == '\0') return true;
    if (hostPath.back() != '/') hostPath += '/';
    for (; *rest; ++rest) hostPath += *rest == '\\' ? '/' : *rest;
    return true;
}

void PosixPlatform::Notice(NoticeKind kind, const std::string& hostPath, int error)
{
    if (!noticed_.insert(hostPath).second) return;
    if (noticeHandler_) noticeHandler_(kind, hostPath.c_str(), error);
}

int PosixPlatform::QueryDriveType(const char* root)
{
    std::string host;
    if (!HostPath(root, host)) return DriveNoRootDir;
    struct stat st;
    return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? DriveFixed : DriveNoRootDir;
}

SearchRef PosixPlatform::FindFirstEntry(const char* pattern, DirEntry& entry)
{
    const char* slash = std::strrchr(pattern, '\\');
    if (!slash || slash[1] == '\0') return 0;
    Search* search = new Search;
    search->engineFolder.assign(pattern, static_cast<std::size_t>(slash - pattern) + 1);
    search->mask = slash + 1;
    if (!HostPath(search->engineFolder.c_str(), search->hostFolder)) {
        delete search;
        return 0;
    }
    search->dir = opendir(search->hostFolder.c_str());
    if (!search->dir) {
        if (!IsAbsence(errno)) {
            std::string folder = search->hostFolder;
            if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
            Notice(NoticeUnreadable, folder, errno);
        }
        delete search;
        return 0;
    }
    if (!HasWildcard(search->mask)) {
        // An exact name finds that entry alone.
        DirEntry found;
        bool there = DescribeEntry(*this, dirfd(search->dir), *search, search->mask.c_str(), DT_UNKNOWN, found);
        closedir(search->dir);
        search->dir = nullptr;
        if (!there) {
            delete search;
            return 0;
        }
        search->single = found;
        search->singlePending = true;
    } else {
        const bool driveRoot = search->engineFolder.size() == 3;
        for (int i = 0; i < 2; ++i) {
            search->dotPending[i] = ListsDotEntry(search->mask.c_str(), kDotEntryNames[i], driveRoot);
        }
    }
    if (!NextEntry(*this, *search, entry)) {
        EndSearch(search);
        return 0;
    }
    return reinterpret_cast<SearchRef>(search);
}

bool PosixPlatform::FindNextEntry(SearchRef search, DirEntry& entry)
{
    return NextEntry(*this, *reinterpret_cast<Search*>(search), entry);
}

void PosixPlatform::FindEnd(SearchRef search)
{
    EndSearch(reinterpret_cast<Search*>(search));
}

bool PosixPlatform::PathExists(const char* path)
{
    std::string host;
    struct stat st;
    return HostPath(path, host) && stat(host.c_str(), &st) == 0;
}

bool PosixPlatform::PathReadable(const char* path)
{
    std::string host;
    return HostPath(path, host) && access(host.c_str(), R_OK) == 0;
}

bool PosixPlatform::IsVolumeMountPoint(const char* path)
{
    std::string host;
    if (!HostPath(path, host)) return false;
    struct stat self;
    struct stat parent;
    if (stat(host.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) return false;
    if (stat(JoinHost(host, "..").c_str(), &parent) != 0) return false;
    return self.st_dev != parent.st_dev;
}

FileRef PosixPlatform::OpenForRead(const char* path)
{
    std::string host;
    if (!HostPath(path, host)) return kNoFile;
    int error = 0;
    struct stat st;
    int fd = OpenRegular(host, O_RDONLY | O_NONBLOCK, 0, error, st);
    // A file removed or replaced by a link during the scan is not an error;
    // a refusal is reported once.
    if (fd < 0 && !IsAbsence(error)) Notice(NoticeUnreadable, host, error);
    return NewHandle(fd, true, st);
}

FileRef PosixPlatform::OpenForWrite(const char* path)
{
    std::string host;
    if (!HostPath(path, host)) return kNoFile;
    int error = 0;
    struct stat st;
    return NewHandle(OpenRegular(host, O_WRONLY, 0, error, st), false, st);
}

FileRef PosixPlatform::CreateForAppend(const char* path)
{
    std::string host;
    if (!HostPath(path, host)) return kNoFile;
    int error = 0;
    struct stat st;
    return NewHandle(OpenRegular(host, O_WRONLY | O_CREAT | O_APPEND, 0666, error, st), false, st);
}

std::int32_t PosixPlatform::ReadBytes(FileRef file, void* buffer, std::uint32_t count)
{
    OpenFile* open = Handle(file);
    if (!open->forRead) return -1;
    if (count > 0x7FFFFFFFu) count = 0x7FFFFFFFu;
    for (;;) {
        ssize_t got = pread(open->fd, buffer, count, open->position);
        if (got >= 0) {
            open->position += got;
            return static_cast<std::int32_t>(got);
        }
        if (errno != EINTR) return -1;
    }
}

std::int32_t PosixPlatform::WriteBytes(FileRef file, const void* data, std::uint32_t count)
{
    OpenFile* open = Handle(file);
    if (open->forRead) return -1;
    if (count > 0x7FFFFFFFu) count = 0x7FFFFFFFu;
    for (;;) {
        ssize_t put = write(open->fd, data, count);
        if (put >= 0) return static_cast<std::int32_t>(put);
        if (errno != EINTR) return -1;
    }
}

std::int32_t PosixPlatform::SeekTo(FileRef file, std::int32_t offset, SeekOrigin origin)
{
    if (origin < SeekFromStart || origin > SeekFromEnd) return -1;
    OpenFile* open = Handle(file);
    std::int64_t base = 0;
    if (open->forRead) {
        base = origin == SeekFromStart ? 0 : origin == SeekFromCurrent ? open->position : open->size;
    } else if (origin == SeekFromCurrent) {
        const off_t here = lseek(open->fd, 0, SEEK_CUR);
        if (here < 0) return -1;
        base = here;
    } else if (origin == SeekFromEnd) {
        struct stat st;
        if (fstat(open->fd, &st) != 0) return -1;
        base = st.st_size;
    }
    // The runtime's positions are signed 32-bit: one before the start or
    // beyond that range fails and leaves the position.
    const std::int64_t target = base + offset;
    if (target < 0 || target > 0x7FFFFFFF) return -1;
    if (open->forRead) {
        open->position = target;
    } else if (lseek(open->fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        return -1;
    }
    return static_cast<std::int32_t>(target);
}

std::int32_t PosixPlatform::FileLength(FileRef file)
{
    OpenFile* open = Handle(file);
    std::int64_t size = open->size;
    struct stat st;
    if (!open->forRead) {
        if (fstat(open->fd, &st) != 0) return -1;
        size = st.st_size;
    }
    return size > 0x7FFFFFFF ? -1 : static_cast<std::int32_t>(size);
}

void PosixPlatform::CloseFile(FileRef file)
{
    if (file == kNoFile) return;
    close(Handle(file)->fd);
    delete Handle(file);
}

bool PosixPlatform::SetAttributes(const char* path, std::uint32_t attributes)
{
    std::string host;
    struct stat st;
    if (!HostPath(path, host) || stat(host.c_str(), &st) != 0) return false;
    // A folder's read-only attribute is advisory on Windows; its mode stays.
    if (S_ISDIR(st.st_mode)) return true;
    mode_t mode = st.st_mode & 07777;
    mode_t wanted = (attributes & kAttrReadOnly) ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
    if (wanted == mode) return true;
    return chmod(host.c_str(), wanted) == 0;
}

bool PosixPlatform::RemoveFile(const char* path)
{
    std::string host;
    struct stat st;
    if (!HostPath(path, host) || lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    // As on Windows, a read-only file stays until its attribute is reset.
    if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) return false;
    return unlink(host.c_str()) == 0;
}

bool PosixPlatform::RenameFile(const char* from, const char* to)
{
    std::string source;
    std::string target;
    if (!HostPath(from, source) || !HostPath(to, target)) return false;
    // A move onto the file's own name succeeds and changes nothing, as
    // MoveFileA's does.
    struct stat own;
    if (source == target) return lstat(source.c_str(), &own) == 0;
    // MoveFileA never replaces an existing name.
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat st;
    if (lstat(target.c_str(), &st) == 0) return false;
    return rename(source.c_str(), target.c_str()) == 0;
}

bool PosixPlatform::CopyFileOver(const char* from, const char* to)
{
    std::string source;
    std::string target;
    if (!HostPath(from, source) || !HostPath(to, target)) return false;
    int error = 0;
    struct stat sourceStat;
    int in = OpenRegular(source, O_RDONLY | O_NONBLOCK, 0, error, sourceStat);
    if (in < 0) return false;
    struct stat targetStat;
    if (stat(target.c_str(), &targetStat) == 0 &&
        (S_ISDIR(targetStat.st_mode) ||
         (targetStat.st_dev == sourceStat.st_dev && targetStat.st_ino == sourceStat.st_ino))) {
        close(in);
        return false;
    }
    int out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, sourceStat.st_mode & 0777);
    if (out < 0) {
        close(in);
        return false;
    }
    bool copied = true;
    char buffer[65536];
    for (;;) {
        ssize_t got = read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got == 0) break;
        if (got < 0 || write(out, buffer, static_cast<std::size_t>(got)) != got) {
            copied = false;
            break;
        }
    }
    fchmod(out, sourceStat.st_mode & 07777);
    close(in);
    return close(out) == 0 && copied;
}

bool PosixPlatform::RemoveAtReboot(const char*)
{
    return false;
}

std::uint32_t PosixPlatform::ShortPathOf(const char* path, char* out, std::uint32_t size)
{
    // No short names here: the short form of an existing path is the path.
    std::string host;
    struct stat st;
    if (!HostPath(path, host) || stat(host.c_str(), &st) != 0) return 0;
    return CopyOut(path, out, size);
}

std::uint32_t PosixPlatform::WindowsFolder(char*, std::uint32_t)
{
    return 0;
}

std::uint32_t PosixPlatform::SystemFolder(char*, std::uint32_t)
{
    return 0;
}

bool PosixPlatform::RunsUnderWow64()
{
    return false;
}

std::uint32_t PosixPlatform::TempFolder(char*, std::uint32_t)
{
    return 0;
}

std::uint32_t PosixPlatform::ExpandEnvironment(const char* text, char* out, std::uint32_t size)
{
    std::string expanded;
    for (const char* p = text; *p;) {
        const char* close = *p == '%' ? std::strchr(p + 1, '%') : nullptr;
        if (close && close > p + 1) {
            const std::string name(p + 1, static_cast<std::size_t>(close - p - 1));
            if (const char* value = std::getenv(name.c_str())) {
                expanded += value;
                p = close + 1;
                continue;
            }
        }
        expanded += *p++;
    }
    // The size needed, terminator included, whether or not it fitted.
    CopyOut(expanded, out, size);
    return static_cast<std::uint32_t>(expanded.size() + 1);
}

// Folders and files made new are the owner's alone: the quarantine keeps
// copies of files that may have been private, and a restored file gets no
// wider access than a kept copy had.
bool PosixPlatform::CreateFolder(const char* path)
{
    std::string host;
    return HostPath(path, host) && mkdir(host.c_str(), 0700) == 0;
}

FileRef PosixPlatform::CreateNewFile(const char* path)
{
    std::string host;
    if (!HostPath(path, host)) return kNoFile;
    int error = 0;
    struct stat st;
    return NewHandle(OpenRegular(host, O_WRONLY | O_CREAT | O_EXCL, 0600, error, st), false, st);
}

bool PosixPlatform::FlushFile(FileRef file)
{
    if (file == kNoFile) return false;
    return fsync(Handle(file)->fd) == 0;
}

std::uint32_t PosixPlatform::CommonDataFolder(char*, std::uint32_t)
{
    return 0;
}
