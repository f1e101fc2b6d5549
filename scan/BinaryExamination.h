// The first examination of the handler table: executables against the
// signature table, other files against the encrypted-archive detectors and
// the archived-worm table, and what is done with a detected file.
// ExamineBinaryFile itself is declared with the table (scan/VirusHandler.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "scan/Quarantine.h"

// Values of cleanAction.
const std::int32_t kActionDelete = 100;
const std::int32_t kActionRename = 101;
const std::int32_t kActionDeleteAlso = 102;  // the same as kActionDelete
const std::int32_t kActionReportOnly = 103;

// The wait before a forced action on the image of a terminated process.
const std::uint32_t kForcedActionWaitMs = 1000;

// Carries out cleanAction on the detected file `path`, reporting it under
// the threat name in lastThreatName. A file that is deleted, renamed or
// left for deletion at the next start is first kept in the quarantine
// (scan/Quarantine.h), when one is in use; the deletion or rename goes on
// whether or not that worked.
// - delete: attributes to archive only (clearing read-only, hidden and
//   system), delete; when that fails, end the processes running the file
//   and delete again; when it still fails, report it and schedule the
//   deletion for the next start (a scheduled file sets
//   ScanState.restartNeeded, which nothing in the session clears);
// - rename: the character after the path's last '.' becomes 'V';
// - report only: one line, the file is not touched;
// - any other value: nothing.
void ApplyCleanAction(const char* path);

// The name a detected file is renamed to: `path` with the first character
// after its last '.' (anywhere in the path) replaced by 'V', or a 'V'
// added when nothing follows that '.'. A path without '.' keeps its name.
// False when the result does not fit `size` bytes.
bool MakeRenamedPath(const char* path, char* out, std::size_t size);

// Renames a detected file to the name MakeRenamedPath gives it, keeping a
// copy of it under `threat` in the quarantine first (in `quarantine`, what
// became of that). False when that name does not fit, names the file
// itself (nothing is then kept or moved), or the move fails.
bool RenameToMarkedName(const char* path, const char* threat, QuarantineNote& quarantine);

// For tests: what is called to end the processes running a file that
// could not be deleted (nonzero when one was ended). Null restores
// TerminateProcessByImage.
typedef std::int32_t (*ImageTerminator)(const char* path);
void UseImageTerminator(ImageTerminator terminator);
