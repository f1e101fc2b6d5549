// The run log: a text file that gets one record appended per scan run.
// What a record holds: scan/RunRecord.h.
//
// Lines. A record starts with a header line beginning with kRunLogMarker.
// Each line is written as one write of its text and its line end (CR LF),
// then flushed, so a crash or power cut keeps every whole line written
// before it. A line cut short (by a full disk, or by a program that wrote
// its text and its line end apart) is ended before the next record, so a
// header always starts a line. Control bytes in a line are escaped
// (scan/EscapedText.h): no name can make a line of its own.
//
// Runs sharing a log. A record is written under one exclusive lock that
// stands for the log's path (Platform::TakePathLock: a named mutex on
// Windows, a lock of the log file itself on POSIX; the system's own, so a
// run that ends in any way, killed too, lets it go, and no file is made for
// it). The run that holds it writes its lines through as they come. A run
// that finds it held keeps its lines in memory (at most kRunLogKeptCap
// bytes; the lines beyond are counted, and the count is written in their
// place) and tries again at each line; once it has the lock it writes what
// it kept in one write and goes on writing through. A run that reaches its
// end without the lock waits for it (the caller waits: RunLogWaiting);
// lines kept in memory are lost if the run ends before it has the lock. So
// the lines of two runs never interleave, and no run loses another's
// record. Where the path cannot be locked (a file system without locks) a
// run writes its lines through, unlocked, and never trims: the lines of two
// runs may interleave there, but none is lost.
//
// Trimming. The run that has just taken the lock first trims a log past
// kRunLogCap bytes: the newest whole runs (at most kRunLogKeep bytes) are
// copied to "<log>.new", flushed, and put in the log's place with
// Platform::RenameOver, which replaces atomically on POSIX and on Windows
// NT: the log is whole at every moment. Windows 95/98/ME replaces by
// removing the log and renaming the copy; an interruption between the two
// leaves only the copy, which the next run takes as the log. A "<log>.new"
// beside a log is a copy a trim left unfinished, and is removed. Only the
// lock's holder trims, so no run removes another's copy, and the run being
// recorded is never cut; after a replace it takes the lock again, since a
// lock on the file itself stays with the file replaced.
//
// A log that cannot be written only sets `failed`; callers never change
// what they do because of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Platform.h"

const std::int32_t kRunLogCap = 1024 * 1024;
// What is kept when the log is trimmed: at most this many bytes of the
// newest runs, so a trim is not needed again on the very next run.
const std::int32_t kRunLogKeep = kRunLogCap / 2;
// The most a run keeps in memory while another run holds the log.
const std::size_t kRunLogKeptCap = 4 * static_cast<std::size_t>(kRunLogCap);
extern const char kRunLogMarker[];  // "=== Quellor run "

struct RunLog {
    Platform* platform = nullptr;
    char path[kPathBufferSize] = "";
    bool open = false;        // from RunLogOpen to RunLogClose
    LockRef lock = 0;         // the log's lock, once this run has it
    FileRef file = kNoFile;   // the log, open for appending while the lock is held
    bool failed = false;
    bool unlocked = false;    // the path cannot be locked: written without a lock
    std::string kept;         // lines made while another run held the lock
    std::uint32_t leftOut = 0;  // lines beyond kRunLogKeptCap
};

// Starts a record in the log at `path`: its header line, kRunLogMarker and
// the UTC date and time, written at once when the lock can be had, kept
// otherwise. What the run is and where it ran follow as lines of the
// caller's (scan/RunRecord.h). False when the log cannot be written.
// `log` is one that was never opened or has been closed.
bool RunLogOpen(RunLog& log, Platform& platform, const char* path);
// Appends `text`, escaped, and a line end.
void RunLogLine(RunLog& log, const char* text);
// Tries once, without waiting, to take the lock and write the lines kept;
// true when lines still wait for it.
bool RunLogWaiting(RunLog& log);
// Ends the record: a last try for the lock, then the log and its lock let
// go. Lines still kept then are lost, and `failed` says so.
void RunLogClose(RunLog& log);

// Drops the oldest whole runs of the log at `path` until at most `keep`
// bytes remain, when it is longer than `cap`. False when it could not.
// Also finishes a trim that was interrupted: a kept tail whose log is gone
// becomes the log, and one left beside a log is removed. Only for the
// holder of the log's lock; `replaced`, when given, says whether a new file
// took the log's place.
bool RunLogTrim(Platform& platform, const char* path, std::int32_t cap, std::int32_t keep,
                bool* replaced = nullptr);

// "YYYY-MM-DD HH:MM:SS UTC" for `seconds` since 1970; `out` holds 24 bytes.
void RunLogFormatTime(std::int64_t seconds, char* out, std::size_t size);
