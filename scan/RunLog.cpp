// The run log's lock, appending, trimming and header line.
#include "scan/RunLog.h"

#include <cstdio>
#include <cstring>

#include "scan/BoundedText.h"
#include "scan/EscapedText.h"

const char kRunLogMarker[] = "=== Quellor run ";

namespace {

const std::uint32_t kChunk = 4096;
const char kLineEnd[] = "\r\n";
const char kTailSuffix[] = ".new";
const char kLeftOutFormat[] = "(%u lines of this run left out: another run held the log)";

// `path` with `suffix` appended; false when it does not fit.
bool BesideLog(const char* path, const char* suffix, char (&out)[kPathBufferSize])
{
    return CopyText(out, sizeof out, path) && AppendText(out, sizeof out, suffix);
}

bool IsFolder(Platform& platform, const char* path)
{
    DirEntry entry;
    SearchRef search = platform.FindFirstEntry(path, entry);
    if (search == 0) return false;
    platform.FindEnd(search);
    return (entry.attributes & kAttrDirectory) != 0;
}

// The line as it goes into the log: escaped, with its end.
std::string LogLineOf(const char* text)
{
    std::string line;
    char escaped[kEscapedByteSize];
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (!IsEscapedByte(c)) {
            line += *p;
            continue;
        }
        EscapeByte(c, escaped);
        line += escaped;
    }
    return line + kLineEnd;
}

// Lets the log and its lock go, the log first: on Windows a log open here
// would keep the next holder from trimming it.
void LetGo(RunLog& log)
{
    Platform& platform = *log.platform;
    if (log.file != kNoFile) platform.CloseFile(log.file);
    log.file = kNoFile;
    if (log.lock != 0) platform.ReleasePathLock(log.lock);
    log.lock = 0;
}

void Fail(RunLog& log)
{
    log.failed = true;
    log.kept.clear();
    LetGo(log);
}

// Writes `bytes` in one write and flushes them.
void WriteThrough(RunLog& log, const std::string& bytes)
{
    Platform& platform = *log.platform;
    const std::uint32_t count = static_cast<std::uint32_t>(bytes.size());
    if (platform.WriteBytes(log.file, bytes.data(), count) != static_cast<std::int32_t>(count) ||
        !platform.FlushFile(log.file))
        Fail(log);
}

// True when the log's last line has no line end.
bool LastLineCut(Platform& platform, const char* path)
{
    FileRef file = platform.OpenForRead(path);
    if (file == kNoFile) return false;
    const std::int32_t length = platform.FileLength(file);
    char last = '\n';
    const bool read = length > 0 && platform.SeekTo(file, length - 1, SeekFromStart) == length - 1 &&
                      platform.ReadBytes(file, &last, 1) == 1;
    platform.CloseFile(file);
    return read && last != '\n';
}

// Takes the lock when it is free, and then readies the log: trimmed, its
// last line ended, and the lines kept so far written in one write.
void TryTake(RunLog& log)
{
    Platform& platform = *log.platform;
    if (log.failed || log.file != kNoFile) return;
    PathLockResult lock = platform.TakePathLock(log.path, log.lock);
    if (lock == PathLockTaken) {
        bool replaced = false;
        RunLogTrim(platform, log.path, kRunLogCap, kRunLogKeep, &replaced);
        // A lock on the file itself stays with the file the trim replaced:
        // it is taken again, for the file that has the name now.
        if (replaced) {
            platform.ReleasePathLock(log.lock);
            lock = platform.TakePathLock(log.path, log.lock);
        }
    }
    if (lock == PathLockHeld) return;
    // Without locks no run may trim: another could be writing.
    log.unlocked = lock == PathLockUnavailable;
    const bool cut = LastLineCut(platform, log.path);
    log.file = platform.CreateForAppend(log.path);
    if (log.file == kNoFile) {
        Fail(log);
        return;
    }
    std::string first = cut ? kLineEnd + log.kept : log.kept;
    log.kept = std::string();
    if (log.leftOut > 0) {
        char text[96];
        std::snprintf(text, sizeof text, kLeftOutFormat, static_cast<unsigned>(log.leftOut));
        first += LogLineOf(text);
        log.leftOut = 0;
    }
    if (!first.empty()) WriteThrough(log, first);
}

// Offset of the first run header at or after `from`, or -1. Headers start a
// line, so a marker is matched only right after a line end (or at 0).
std::int32_t NextRunStart(Platform& platform, FileRef file, std::int32_t from)
{
    const std::size_t markerLength = std::strlen(kRunLogMarker);
    if (platform.SeekTo(file, 0, SeekFromStart) != 0) return -1;
    char buffer[kChunk];
    std::int32_t position = 0;
    std::int32_t candidate = 0;
    std::size_t matched = 0;
    bool lineStart = true;
    for (;;) {
        std::int32_t got = platform.ReadBytes(file, buffer, kChunk);
        if (got <= 0) return -1;
        for (std::int32_t i = 0; i < got; ++i, ++position) {
            char c = buffer[i];
            if (matched > 0 && c == kRunLogMarker[matched]) {
                if (++matched == markerLength) return candidate;
                continue;
            }
            matched = 0;
            if (lineStart && position >= from && c == kRunLogMarker[0]) {
                candidate = position;
                matched = 1;
            }
            lineStart = (c == '\n');
        }
    }
}

bool CopyTail(Platform& platform, FileRef from, std::int32_t offset, FileRef to)
{
    if (platform.SeekTo(from, offset, SeekFromStart) != offset) return false;
    char buffer[kChunk];
    for (;;) {
        std::int32_t got = platform.ReadBytes(from, buffer, kChunk);
        if (got < 0) return false;
        if (got == 0) return platform.FlushFile(to);
        if (platform.WriteBytes(to, buffer, static_cast<std::uint32_t>(got)) != got) return false;
    }
}

// A kept tail whose log is gone is the log (a replace without an atomic
// one was interrupted); beside a log it is unfinished, and no part of
// anything.
void FinishInterruptedTrim(Platform& platform, const char* path, const char* tail)
{
    if (!platform.PathExists(tail)) return;
    if (platform.PathExists(path)) platform.RemoveFile(tail);
    else platform.RenameFile(tail, path);
}

}  // namespace

void RunLogFormatTime(std::int64_t seconds, char* out, std::size_t size)
{
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from a day count (proleptic Gregorian calendar).
    std::int64_t z = days + 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    std::snprintf(out, size, "%04d-%02d-%02d %02d:%02d:%02d UTC", static_cast<int>(year), static_cast<int>(month),
                  static_cast<int>(day), static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
}

bool RunLogTrim(Platform& platform, const char* path, std::int32_t cap, std::int32_t keep, bool* replaced)
{
    if (replaced) *replaced = false;
    char tail[kPathBufferSize];
    if (!BesideLog(path, kTailSuffix, tail)) return false;
    FinishInterruptedTrim(platform, path, tail);
    FileRef file = platform.OpenForRead(path);
    if (file == kNoFile) return true;  // no log yet
    std::int32_t length = platform.FileLength(file);
    if (length <= cap) {
        platform.CloseFile(file);
        return length >= 0;
    }
    std::int32_t start = NextRunStart(platform, file, length - keep);
    FileRef copy = platform.CreateNewFile(tail);
    bool ok = copy != kNoFile;
    if (ok) {
        // With no whole run short enough the log starts afresh.
        ok = start < 0 ? platform.FlushFile(copy) : CopyTail(platform, file, start, copy);
        platform.CloseFile(copy);
    }
    platform.CloseFile(file);
    if (ok && platform.RenameOver(tail, path)) {
        if (replaced) *replaced = true;
        return true;
    }
    // The log stays as it was, unless a replace without an atomic one got
    // half way: then the copy is all there is of it.
    FinishInterruptedTrim(platform, path, tail);
    return false;
}

bool RunLogOpen(RunLog& log, Platform& platform, const char* path)
{
    log = RunLog();
    log.platform = &platform;
    // A folder is no log.
    if (!CopyText(log.path, sizeof log.path, path) || IsFolder(platform, path)) {
        log.failed = true;
        return false;
    }
    log.open = true;
    char when[32];
    RunLogFormatTime(platform.CurrentTime(), when, sizeof when);
    char header[64];
    std::snprintf(header, sizeof header, "%s%s", kRunLogMarker, when);
    RunLogLine(log, header);
    return !log.failed;
}

void RunLogLine(RunLog& log, const char* text)
{
    // A log that is closed (or was never opened) takes nothing.
    if (!log.open || log.failed) return;
    TryTake(log);
    if (log.failed) return;
    const std::string line = LogLineOf(text);
    if (log.file != kNoFile) WriteThrough(log, line);
    // Once a line is left out, so are the lines after it: what is kept
    // stays in order.
    else if (log.leftOut > 0 || log.kept.size() + line.size() > kRunLogKeptCap) ++log.leftOut;
    else log.kept += line;
}

bool RunLogWaiting(RunLog& log)
{
    if (!log.open) return false;
    TryTake(log);
    return !log.failed && log.file == kNoFile;
}

void RunLogClose(RunLog& log)
{
    if (!log.open) return;
    if (RunLogWaiting(log)) log.failed = true;
    log.kept = std::string();
    LetGo(log);
    log.open = false;
}
