// The run log: a text file that gets one record appended per scan run.
//
// A record starts with a header line beginning with kRunLogMarker; every
// line is written through to the disk at once (the line and its end, then
// FlushFile), so a crash keeps every whole line written before it. Before
// a run is appended, a log past kRunLogCap bytes loses its oldest whole
// runs: the kept tail is copied to "<log>.new" beside it, flushed and
// renamed over the log. What a record holds: scan/RunRecord.h.
// Bytes are written as given. A log that cannot be written only sets
// `failed`; callers never change what they do because of it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

const std::int32_t kRunLogCap = 1024 * 1024;
// What is kept when the log is trimmed: at most this many bytes of the
// newest runs, so a trim is not needed again on the very next run.
const std::int32_t kRunLogKeep = kRunLogCap / 2;
extern const char kRunLogMarker[];  // "=== Quellor run "

struct RunLog {
    Platform* platform;
    FileRef file;
    bool failed;
};

// Trims the log at `path` when it is past the cap, opens it for appending
// and writes the run's header line: kRunLogMarker and the UTC date and
// time. What the run is and where it ran follow as lines of the caller's
// (scan/RunRecord.h). False when the log cannot be opened or written.
bool RunLogOpen(RunLog& log, Platform& platform, const char* path);
// Appends `text` and a line end, written through at once.
void RunLogLine(RunLog& log, const char* text);
void RunLogClose(RunLog& log);

// Drops the oldest whole runs of the log at `path` until at most `keep`
// bytes remain, when it is longer than `cap`. False when it could not.
// Also finishes a trim that was interrupted: a kept tail whose log is gone
// becomes the log, and one left beside an intact log is removed.
bool RunLogTrim(Platform& platform, const char* path, std::int32_t cap, std::int32_t keep);

// "YYYY-MM-DD HH:MM:SS UTC" for `seconds` since 1970; `out` holds 24 bytes.
void RunLogFormatTime(std::int64_t seconds, char* out, std::size_t size);

