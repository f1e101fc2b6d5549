// The texts of every result line the engine appends to the results list.
//
// A per-file line is the file's full path, five blanks, the threat name and
// an outcome; the "System ..." lines report memory and registry cleanup.
// The formats live here as data so that every handler writes exactly the
// same text for the same outcome. Each "%s" of a format is filled, in
// order, with the arguments of AppendLine.
#pragma once

#include <cstddef>

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

struct ResultLineFormat {
    ResultLine line;
    const char* format;
    int arguments;  // number of "%s" in the format
};

// One entry per ResultLine, at the index of its value.
extern const ResultLineFormat ResultLineFormats[kResultLineCount];

// Writes the line into `out` (of `size` bytes), filling the "%s" of its
// format with `first` and `second` (null reads as empty). A line longer than
// the buffer is cut, never written past it.
void FormatResultLine(ResultLine line, const char* first, const char* second, char* out, std::size_t size);

// Formats the line into ScanState.lineText and sends AppendLineMessage to
// ScanState.resultSink.
void AppendLine(ResultLine line, const char* first = nullptr, const char* second = nullptr);
