// The scan session: walks every fixed drive, offers every file to the
// handler table, appends the statistics and asks about a restart.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scan/ScanState.h"

// What one session walks after the memory scan, and whether it scans the
// memory at all. The dialog's session scans the memory and walks every
// fixed drive; the console scanner may leave the memory out and name folders
// and files instead. What else differs between them (no questions, no
// restart) is the platform's to answer.
struct SessionTarget {
    const char* path;  // a folder's walk pattern ("D:\\dir\\*.*") or a file's full path
    bool folder;
};

struct SessionPlan {
    bool scanMemory;
    const SessionTarget* targets;  // none (count 0): every fixed drive from C: to Z:
    std::size_t targetCount;
    // Called before each target is walked, with its index; may be null. A
    // front end that maps each named folder to a drive of its own does it
    // here.
    void (*enterTarget)(std::size_t index, void* context);
    void* context;
};

// The steps of every session, in their order: the WoW64 view, the memory
// scan, the drives or the named targets (a cancel skips the targets not yet
// begun), then the statistics, the final word and the restart question. The
// memory scan may end the program; where ending it returns (the console
// scanner), the session leaves the walk out and still finishes.
void RunSessionPlan(const SessionPlan& plan);

// The status line's last word: whether the session went through every
// target, or was stopped (a cancel, or a running threat that needs a
// restart before the drives).
extern const char kScanCompletedText[];   // "Scanning completed"
extern const char kScanTerminatedText[];  // "Scanning terminated"

// The dialog's session: the memory scan and every fixed drive. Always 1.
std::int32_t RunScanSession();

// The statistics block as the session appends it, one line in each of
// `lines`: a line holding one blank when something was found, the heading,
// a rule of 30 hyphens and the three counts. The number of lines written.
const std::size_t kStatisticsLineCount = 6;
std::size_t FormatStatisticsBlock(const ScanStatisticsType& statistics, char (*lines)[kLineTextSize]);

// One named file, as the walk treats a file entry: shown, counted and
// offered to the handler table.
void ScanSingleFile(const char* fullPath);

// Walks one folder pattern ("D:\\dir\\*.*", a drive root "D:\\*.*"), or in
// memory-scan mode the full path of one file. Returns -1 when a pattern
// without '.' had to be cut (the walk is abandoned), 0 when it stopped for a
// cancel, otherwise ScanStatistics.filesScanned.
std::int32_t WalkFolder(const char* pattern);

// Handles at most one pending window message; Escape asks whether to stop.
// An empty queue is looked into at most once per tick of the platform's
// clock.
void PumpPendingMessage();
// Forgets the last look into the queue (part of ResetScanGlobals).
void ResetMessagePacing();

// Writes `source` into `destination` (of `destinationSize` bytes), shortened
// to `width` characters by replacing its middle with dots when it is longer.
void ShortenPath(const char* source, char* destination, std::size_t destinationSize, std::int16_t width);

// Forces a restart of the computer, with the shutdown privilege on NT.
void RestartComputer();
