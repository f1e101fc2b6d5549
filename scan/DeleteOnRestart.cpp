#include "scan/DeleteOnRestart.h"

#include <cstdint>
#include <cstring>

#include "platform/Platform.h"
#include "scan/BoundedText.h"
#include "scan/SystemVersion.h"
#include "scan/Wow64View.h"

namespace {

// GetWindowsDirectoryA is given room for this many characters.
const std::uint32_t kWindowsFolderSize = 350;
const std::size_t kWininitPathSize = kWindowsFolderSize + 16;

// wininit.ini is a small file that the system empties at every start. A
// larger one is refused rather than cut short: a rewrite must never lose
// the entries it already holds.
const std::uint32_t kWininitMaxBytes = 64 * 1024;
// Room for the entry line and a new section header.
const std::uint32_t kEntryRoom = 1024;
// Every old line may gain a CR; then the header and the entry.
const std::uint32_t kNewContentSize = 2 * kWininitMaxBytes + kEntryRoom;

// The rewrite's own files beside wininit.ini: the new content before it
// takes its place, and the old file while it is moved aside. The names are
// this program's alone (8.3, as the 95/98/ME family needs), so a file that
// some other program keeps there under a common name such as wininit.old is
// never taken for a leftover and deleted.
const char kNewContentName[] = "wininit.qnw";
const char kSavedCopyName[] = "wininit.qsv";

const char kSectionHeader[] = "[rename]";
const std::size_t kSectionHeaderLength = sizeof kSectionHeader - 1;
const char kLineEnd[] = "\r\n";

// Fixed buffers of the rewrite; the engine runs on one thread.
char oldContent[kWininitMaxBytes];
char newContent[kNewContentSize];

// Output with a fixed capacity; once something does not fit, it stays
// failed.
struct ContentWriter {
    char* data;
    std::uint32_t capacity;
    std::uint32_t used;
    bool fits;

    void Put(const char* text, std::uint32_t length)
    {
        if (!fits || length > capacity - used) {
            fits = false;
            return;
        }
        std::memcpy(data + used, text, length);
        used += length;
    }
    void PutText(const char* text) { Put(text, static_cast<std::uint32_t>(std::strlen(text))); }
    void PutLine(const char* text, std::uint32_t length)
    {
        Put(text, length);
        PutText(kLineEnd);
    }
    void PutEntry(const char* target, const char* source)
    {
        PutText(target);
        PutText("=");
        PutText(source);
        PutText(kLineEnd);
    }
};

bool StartsWithSectionHeader(const char* line, std::uint32_t length)
{
    return length >= kSectionHeaderLength && EqualsNoCaseCounted(line, kSectionHeader, kSectionHeaderLength);
}

// The new wininit.ini: the old lines in order with the entry at the end of
// the first "[rename]" section (directly before the next section header),
// or a new section with the entry at the end. Lines are split at LF; a CR
// before the LF belongs to the line end, and every line is written back
// with CR LF, the last one too, so the entry never joins an unterminated
// last line. Returns the length, or -1 when the result does not fit.
std::int32_t BuildWininitContent(const char* old, std::uint32_t oldLength, const char* target,
                                 const char* source, char* out, std::uint32_t outSize)
{
    ContentWriter writer = {out, outSize, 0, true};
    bool inSection = false;
    bool inserted = false;
    std::uint32_t start = 0;
    while (start < oldLength) {
        const void* found = std::memchr(old + start, '\n', oldLength - start);
        std::uint32_t end = found ? static_cast<std::uint32_t>(static_cast<const char*>(found) - old) : oldLength;
        std::uint32_t next = found ? end + 1 : oldLength;
        if (found && end > start && old[end - 1] == '\r') --end;
        const char* line = old + start;
        std::uint32_t length = end - start;

        if (!inserted) {
            if (inSection && length > 0 && line[0] == '[') {
                writer.PutEntry(target, source);
                inserted = true;
            } else if (!inSection && StartsWithSectionHeader(line, length)) {
                inSection = true;
            }
        }
        writer.PutLine(line, length);
        start = next;
    }
    if (!inserted) {
        if (!inSection) writer.PutLine(kSectionHeader, static_cast<std::uint32_t>(kSectionHeaderLength));
        writer.PutEntry(target, source);
    }
    return writer.fits ? static_cast<std::int32_t>(writer.used) : -1;
}

// `folder` + "\" + `name`, bounded.
bool MakeWininitPath(char* out, const char* folder, const char* name)
{
    if (!CopyText(out, kWininitPathSize, folder)) return false;
    std::size_t length = std::strlen(out);
    if (length == 0 || out[length - 1] != '\\') {
        if (!AppendText(out, kWininitPathSize, "\\")) return false;
    }
    return AppendText(out, kWininitPathSize, name);
}

// Reads the whole file; false when it cannot be read completely or is
// larger than `capacity`.
bool ReadWholeFile(const char* path, char* buffer, std::uint32_t capacity, std::uint32_t& length)
{
    FileRef file = Sys().OpenForRead(path);
    if (file == kNoFile) return false;
    std::int32_t size = Sys().FileLength(file);
    if (size < 0 || static_cast<std::uint32_t>(size) > capacity) {
        Sys().CloseFile(file);
        return false;
    }
    std::uint32_t wanted = static_cast<std::uint32_t>(size);
    std::uint32_t done = 0;
    while (done < wanted) {
        std::int32_t got = Sys().ReadBytes(file, buffer + done, wanted - done);
        if (got <= 0) break;
        done += static_cast<std::uint32_t>(got);
    }
    Sys().CloseFile(file);
    length = done;
    return done == wanted;
}

// Removes a leftover of an interrupted earlier run of this program (the
// names are its own, so no other program's file is touched); false when it
// stays.
bool ClearLeftover(const char* path)
{
    if (!Sys().PathExists(path)) return true;
    Sys().SetAttributes(path, kAttrNormal);
    Sys().RemoveFile(path);
    return !Sys().PathExists(path);
}

// Creates `path` holding exactly `content`. On failure nothing is left.
bool WriteNewFile(const char* path, const char* content, std::uint32_t length)
{
    if (!ClearLeftover(path)) return false;
    FileRef file = Sys().CreateForAppend(path);
    if (file == kNoFile) return false;
    bool complete = Sys().WriteBytes(file, content, length) == static_cast<std::int32_t>(length);
    Sys().CloseFile(file);
    if (!complete) Sys().RemoveFile(path);
    return complete;
}

// A run interrupted between moving wininit.ini aside and putting the new
// file in its place leaves no wininit.ini, only the saved copy, which still
// holds every pending entry (other programs' among them). It goes back into
// place before anything is added; false when it cannot.
bool RecoverInterruptedRewrite(const char* iniPath, const char* savedPath)
{
    if (Sys().PathExists(iniPath) || !Sys().PathExists(savedPath)) return true;
    return Sys().RenameFile(savedPath, iniPath);
}

// Puts the complete new file in the place of wininit.ini. The old file is
// only renamed out of the way, so when the new one cannot take its place it
// is renamed back unchanged. (Renames, not a copy over the old file: a copy
// that fails half-way would leave a cut-off wininit.ini behind. MoveFileExA
// with replacement does not exist on Windows 95/98/ME.)
bool ReplaceWininit(const char* newPath, const char* iniPath, const char* oldPath, bool iniExists)
{
    if (iniExists) {
        if (!ClearLeftover(oldPath) || !Sys().RenameFile(iniPath, oldPath)) {
            Sys().RemoveFile(newPath);
            return false;
        }
    }
    if (!Sys().RenameFile(newPath, iniPath)) {
        if (iniExists) Sys().RenameFile(oldPath, iniPath);
        Sys().RemoveFile(newPath);
        return false;
    }
    if (iniExists) Sys().RemoveFile(oldPath);
    return true;
}

}  // namespace

bool AddWininitRenameEntry(const char* target, const char* source)
{
    if (target == nullptr || source == nullptr) return false;
    if (std::strlen(target) + std::strlen(source) + kSectionHeaderLength + 8 > kEntryRoom) return false;

    char folder[kWindowsFolderSize];
    std::uint32_t folderLength = Sys().WindowsFolder(folder, kWindowsFolderSize);
    if (folderLength == 0 || folderLength >= kWindowsFolderSize) return false;
    char iniPath[kWininitPathSize];
    char newPath[kWininitPathSize];
    char oldPath[kWininitPathSize];
    if (!MakeWininitPath(iniPath, folder, "wininit.ini") || !MakeWininitPath(newPath, folder, kNewContentName) ||
        !MakeWininitPath(oldPath, folder, kSavedCopyName)) {
        return false;
    }
    if (!RecoverInterruptedRewrite(iniPath, oldPath)) return false;

    bool iniExists = Sys().PathExists(iniPath);
    std::uint32_t oldLength = 0;
    if (iniExists && !ReadWholeFile(iniPath, oldContent, kWininitMaxBytes, oldLength)) return false;

    std::int32_t newLength = BuildWininitContent(oldContent, oldLength, target, source, newContent, kNewContentSize);
    if (newLength < 0) return false;
    if (!WriteNewFile(newPath, newContent, static_cast<std::uint32_t>(newLength))) return false;
    return ReplaceWininit(newPath, iniPath, oldPath, iniExists);
}

bool ScheduleDeleteOnRestart(const char* fullPath)
{
    if (fullPath == nullptr) return false;
    switch (GetPlatformClass()) {
    case kPlatformNT:
        // The request's own result: a refused request (no right to record
        // it) must not be reported as scheduled, or the user is asked to
        // restart for nothing.
        return RemoveReachableAtReboot(fullPath);
    case kPlatformWin9x: {
        // The system handles wininit.ini before long names are available;
        // without the short form there is nothing it could act on.
        char shortPath[kPathBufferSize];
        std::uint32_t length = Sys().ShortPathOf(fullPath, shortPath, kPathBufferSize);
        if (length == 0 || length >= kPathBufferSize) return false;
        return AddWininitRenameEntry("NUL", shortPath);
    }
    default:
        return false;
    }
}
