// The run log's appending, trimming and header line.
#include "scan/RunLog.h"

#include <cstdio>
#include <cstring>

const char kRunLogMarker[] = "=== Quellor run ";

namespace {

const std::uint32_t kChunk = 4096;

// Writes the line and its end, then flushes once: a crash keeps the whole
// line or none of it.
void WriteLineThrough(RunLog& log, const char* text, std::uint32_t count)
{
    if (log.file == kNoFile || log.failed) return;
    if (log.platform->WriteBytes(log.file, text, count) != static_cast<std::int32_t>(count) ||
        log.platform->WriteBytes(log.file, "\r\n", 2) != 2 || !log.platform->FlushFile(log.file))
        log.failed = true;
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

bool RunLogTrim(Platform& platform, const char* path, std::int32_t cap, std::int32_t keep)
{
    char temporary[kPathBufferSize];
    int made = std::snprintf(temporary, sizeof temporary, "%s.new", path);
    if (made <= 0 || static_cast<std::size_t>(made) >= sizeof temporary) return false;
    // A trim that crashed between removing the log and renaming the kept
    // tail over it leaves only the tail: that is the log.
    // A trim that crashed before it removed the log leaves an unfinished
    // tail beside it, which is no part of anything.
    if (platform.PathExists(temporary)) {
        if (platform.PathExists(path)) platform.RemoveFile(temporary);
        else platform.RenameFile(temporary, path);
    }
    FileRef file = platform.OpenForRead(path);
    if (file == kNoFile) return true;  // no log yet
    std::int32_t length = platform.FileLength(file);
    if (length <= cap) {
        platform.CloseFile(file);
        return length >= 0;
    }
    std::int32_t start = NextRunStart(platform, file, length - keep);
    bool ok = true;
    {
        platform.RemoveFile(temporary);  // left by a trim that crashed
        FileRef tail = platform.CreateNewFile(temporary);
        ok = tail != kNoFile;
        if (ok) {
            // With no whole run short enough the log starts afresh.
            ok = start < 0 ? platform.FlushFile(tail) : CopyTail(platform, file, start, tail);
            platform.CloseFile(tail);
        }
    }
    platform.CloseFile(file);
    if (!ok) return false;
    return platform.RemoveFile(path) && platform.RenameFile(temporary, path);
}

bool RunLogOpen(RunLog& log, Platform& platform, const char* path)
{
    log.platform = &platform;
    log.failed = false;
    RunLogTrim(platform, path, kRunLogCap, kRunLogKeep);
    log.file = platform.CreateForAppend(path);
    if (log.file == kNoFile) {
        log.failed = true;
        return false;
    }
    char when[32];
    RunLogFormatTime(platform.CurrentTime(), when, sizeof when);
    char header[64];
    std::snprintf(header, sizeof header, "%s%s", kRunLogMarker, when);
    RunLogLine(log, header);
    return !log.failed;
}

void RunLogLine(RunLog& log, const char* text)
{
    WriteLineThrough(log, text, static_cast<std::uint32_t>(std::strlen(text)));
}

void RunLogClose(RunLog& log)
{
    if (log.file != kNoFile) log.platform->CloseFile(log.file);
    log.file = kNoFile;
}
