// State that the scan engine shares with its handlers, the cleanup code and
// the main dialog. One thread reads and writes all of it; no locking.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

const std::size_t kLineTextSize = 500;
const std::size_t kScratchTextSize = 512;

// Counters of one scan. Zero at program start and never reset: there is one
// scan per program run.
struct ScanStatisticsType {
    std::int32_t filesScanned;
    std::int32_t filesInfected;
    std::int32_t filesRemoved;
};

struct ScanStateType {
    bool cancelRequested;           // the user asked to stop
    bool statisticsPhase;           // the statistics block is being appended
    bool scanRunning;               // a session is in progress
    std::int32_t restartNeeded;     // some file is only removed at the next start
    char statusText[kPathBufferSize];
    char lineText[kLineTextSize];
    WindowRef resultSink;           // receives the status and line messages; 0 before SCAN
    std::int32_t programFilesPending;
    std::int32_t programFilesVisited;
    char programFilesPattern[kPathBufferSize];
};

extern ScanStatisticsType ScanStatistics;
extern ScanStateType ScanState;

// Values through which the memory scan drives the walk and the examination.
extern bool memoryScanMode;
extern bool foundInMemory;
extern std::int32_t forcedAction;
// Set when the NT memory scan could not end an infected process and fell
// back to its service; never cleared during the run.
extern bool memoryRestartNeeded;
// GetPlatformClass() as the memory scan found it.
extern int platformClass;

// Disinfection action: 100 delete, 101 rename, 102 delete, 103 report only.
extern std::int32_t cleanAction;

// The last detection and the file under examination.
extern char lastThreatName[kPathBufferSize];
extern char examinedFilePath[kPathBufferSize + 1];

// The result-sink protocol: two window messages sent synchronously to
// ScanState.resultSink with both parameters 0. The numbers are not private
// ones: they are WM_ENABLE and WM_SETREDRAW. The dialog binds its handlers to
// them on purpose, so when the platform enables or disables the dialog (a
// modal prompt opening or closing) the status line is simply set again from
// statusText.
const std::uint32_t ShowStatusMessage = 10;  // WM_ENABLE
const std::uint32_t AppendLineMessage = 11;  // WM_SETREDRAW

// Sends ShowStatusMessage for the text already in ScanState.statusText.
void SendStatus();
// The protocol's side of a line: copies `text` into ScanState.lineText
// (bounded) and sends AppendLineMessage. An outcome of a handler goes through
// ReportResult (scan/ResultLines.h), which also records it as data.
void AppendResultLine(const char* text);

// Puts every shared value back to its program-start state.
void ResetScanGlobals();
