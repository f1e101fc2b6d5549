// The outcomes the engine reports: each is one line of the results list and,
// beside it, a record of the same fields for front ends that want them.
//
// A per-file line is the file's full path, five blanks, the threat name and
// an outcome; the "System ..." lines report memory and registry cleanup and
// name only the threat. The formats live here as data so that every handler
// writes exactly the same text for the same outcome, and so that a front end
// can make a line from a record (with the path in its own form) instead of
// reading fields back out of the text.
#pragma once

#include <cstddef>

#include "platform/Platform.h"
#include "scan/Quarantine.h"

enum ResultLine {
    LineRemoved,               // a detected file was deleted
    LineRenamed,               // a detected file was renamed
    LineRenameFailed,          // renaming a detected file failed
    LineUnableToRemove,        // deleting a detected file failed
    LineNotDisinfected,        // the action is "report only"
    LineScriptRemoved,         // an infected script or page was deleted
    LineScriptRenamed,         // an infected script or page was renamed
    LineScriptNotDisinfected,  // the action is "report only" (scripts and pages)
    LineSystemMemory,          // a process image is cleaned after its process was ended
    LineSystemRegistry,        // registry traces of the named threat were deleted
    kResultLineCount
};

// What was done, or tried, with the detected thing.
enum ResultAction {
    ResultDelete,
    ResultRename,
    ResultReport  // left as it is and reported, as the user chose
};

enum ResultOutcome { ResultDone, ResultFailed };

struct ResultLineFormat {
    ResultLine line;
    const char* format;
    // True: the format's first "%s" is the file's path and its second the
    // threat name. False: its one "%s" is the threat name.
    bool namesPath;
    ResultAction action;
    ResultOutcome outcome;
};

// One entry per ResultLine, at the index of its value.
extern const ResultLineFormat ResultLineFormats[kResultLineCount];

// The threat the memory line names, whichever variant was found in memory.
const char kMemoryThreatName[] = "W32/MurkEl.Trojan";

// One reported outcome as data. The path is empty for the System lines.
// `quarantine` says whether a copy of the file was kept before it was
// removed or renamed; the line itself never says it (the results list
// reads the same with or without a quarantine).
struct ResultRecord {
    ResultLine line;
    ResultAction action;
    ResultOutcome outcome;
    char path[kPathBufferSize];
    char threat[kPathBufferSize];
    QuarantineNote quarantine;
};

// Receives each record as its line is appended, on the scan's thread.
typedef void (*ResultRecordSink)(const ResultRecord& record, void* context);

// Sets where the records go; a null sink (the dialog's case) drops them.
void SetResultRecordSink(ResultRecordSink sink, void* context);

// Writes the line into `out` (of `size` bytes), filling its format with
// `path` and `threat` (null reads as empty). A line longer than the buffer
// is cut, never written past it.
void FormatResultLine(ResultLine line, const char* path, const char* threat, char* out, std::size_t size);

// Reports one outcome: formats its line into ScanState.lineText, sends
// AppendLineMessage to ScanState.resultSink, adds it to the run's record
// when one is kept (scan/RunRecord.h), and hands the record to the record
// sink, with what the quarantine did with the file (nothing, when not
// given).
void ReportResult(ResultLine line, const char* path, const char* threat);
void ReportResult(ResultLine line, const char* path, const char* threat, const QuarantineNote& quarantine);
