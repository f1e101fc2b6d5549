// Files of the POSIX backend: regular files opened and created relative to
// the folder that holds them, and the handles the engine reads and writes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/PosixPlace.h"
#include "platform/posix/PosixPlatform.h"

namespace {

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

// Errors that mean "nothing there to read" rather than "refused": a name
// that is missing, a link, a folder, or (with a type) a FIFO, socket or
// device.
bool IsAbsence(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP || error == ENXIO || error == EISDIR ||
           error == EINVAL;
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

// Opens the regular file `place` names with `flags`; a folder's own name,
// or a name that must be a folder, opens nothing.
FileOpening OpenPlace(EnginePlace& place, int flags)
{
    if (place.split.name.empty() || place.split.folderOnly) {
        FileOpening none;
        std::memset(&none, 0, sizeof none);
        none.fd = -1;
        none.error = EISDIR;
        none.type = S_IFDIR;
        return none;
    }
    return OpenFileIn(place.folder, place.Risk(), place.split.name.c_str(), flags, place.listedType);
}

// A FIFO, socket or device met where a file was asked for is named once; so
// is a file or folder that refused to open, unless `quietRefusal`.
void NoticeUnopened(PosixPlatform& platform, const EnginePlace& place, int error, mode_t type, bool quietRefusal)
{
    if (IsSpecialType(type)) {
        platform.Notice(PosixPlatform::NoticeNotRegular, place.host, static_cast<int>(type & S_IFMT));
    } else if (!quietRefusal && !IsAbsence(error)) {
        platform.Notice(PosixPlatform::NoticeUnreadable, place.host, error);
    }
}

}  // namespace

FileRef PosixPlatform::OpenForRead(const char* path)
{
    EnginePlace place;
    if (!Locate(path, place)) {
        NoticeUnopened(*this, place, place.error, 0, false);
        return kNoFile;
    }
    // A file removed or replaced by a link during the scan is not an error;
    // a refusal is reported once.
    const FileOpening opened = OpenPlace(place, O_RDONLY);
    if (opened.fd < 0) NoticeUnopened(*this, place, opened.error, opened.type, false);
    return NewHandle(opened.fd, true, opened.st);
}

FileRef PosixPlatform::OpenForWrite(const char* path)
{
    EnginePlace place;
    if (!Locate(path, place)) return kNoFile;
    const FileOpening opened = OpenPlace(place, O_WRONLY);
    if (opened.fd < 0) NoticeUnopened(*this, place, opened.error, opened.type, true);
    return NewHandle(opened.fd, false, opened.st);
}

FileRef PosixPlatform::CreateForAppend(const char* path)
{
    EnginePlace place;
    if (!Locate(path, place)) return kNoFile;
    // Another process may make or remove the file between the two calls:
    // each is tried again a few times, and neither ever follows a link.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const FileOpening opened = OpenPlace(place, O_WRONLY | O_APPEND);
        if (opened.fd >= 0) return NewHandle(opened.fd, false, opened.st);
        if (opened.error != ENOENT) {
            NoticeUnopened(*this, place, opened.error, opened.type, true);
            return kNoFile;
        }
        Step("checked");
        const int fd = CreateFileIn(place.folder, place.split.name.c_str(), O_WRONLY | O_APPEND, 0666);
        struct stat st;
        if (fd >= 0 && fstat(fd, &st) == 0) return NewHandle(fd, false, st);
        if (fd >= 0) close(fd);
        if (errno != EEXIST) return kNoFile;
    }
    return kNoFile;
}

// Folders and files made new are the owner's alone: the quarantine keeps
// copies of files that may have been private, and a restored file gets no
// wider access than a kept copy had.
FileRef PosixPlatform::CreateNewFile(const char* path)
{
    EnginePlace place;
    if (!Locate(path, place) || place.split.name.empty() || place.split.folderOnly) return kNoFile;
    const int fd = CreateFileIn(place.folder, place.split.name.c_str(), O_WRONLY, 0600);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0) return NewHandle(fd, false, st);
    if (fd >= 0) close(fd);
    return kNoFile;
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

bool PosixPlatform::FlushFile(FileRef file)
{
    if (file == kNoFile) return false;
    return fsync(Handle(file)->fd) == 0;
}
