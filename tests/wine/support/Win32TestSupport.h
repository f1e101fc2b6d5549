// Small helpers the Win32 test programs (and the demo sample maker) share:
// the real backend as the platform, whole files written and read with plain
// Win32 calls, and a hidden window that records what the scan sends it.
// Each helper answers plainly; the caller decides what a failure means.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Makes the engine call the real backend: one Win32Platform for the whole
// program.
void UseRealPlatform();

// Writes `content` to `path`, replacing any file there (a read-only one
// too), then gives it `attributes` unless they are 0. True when every byte
// was written and the attributes were set.
bool WriteWholeFile(const std::string& path, const std::string& content, DWORD attributes = 0);

// Reads the whole file at `path` into `content`. False when it cannot be
// opened.
bool ReadWholeFile(const std::string& path, std::string& content);

// Whether a file or folder stands at `path`.
bool PathPresent(const std::string& path);

// Appends to `files` the files below `folder` (which ends in a backslash) in
// the order the scan walk takes them, found independently of it: within a
// folder every file in enumeration order, then each subfolder that is not a
// link (any reparse point), depth first. Paths of MAX_PATH characters or
// more are passed over, and so are folders too long to search.
void FilesInWalkOrder(const std::string& folder, std::vector<std::string>& files);

// Whether the system holds a request to delete the file at `path` (named in
// the program's code page) at the next start (PendingFileRenameOperations),
// compared without regard to case.
bool PendingDeletionOf(const std::string& path);

// What the scan sent the result window, in order of arrival.
struct RecordedResults {
    std::vector<std::string> statuses;  // ScanState.statusText at each ShowStatusMessage
    std::vector<std::string> lines;     // ScanState.lineText at each AppendLineMessage
};

// A hidden window that appends to `results` whatever status and line
// messages it receives; null when it cannot be made. `results` must outlive
// the window.
HWND MakeResultSink(RecordedResults& results);
