// Deleting a file at the next start of the system, for a file that could not
// be deleted during the scan.
//
// NT family: the platform's delayed-move request (MoveFileExA with
// MOVEFILE_DELAY_UNTIL_REBOOT and no target).
// Windows 95/98/ME family: that request does not work there; instead a line
// "NUL=<short path>" goes into the "[rename]" section of wininit.ini in the
// Windows folder, which the system carries out at its next start. Only the
// short (8.3) form of a path is understood at that stage.
#pragma once

// True only when the deletion is really recorded for the next start.
bool ScheduleDeleteOnRestart(const char* fullPath);

// Adds the line <target>=<source> to the "[rename]" section of wininit.ini,
// creating the file or the section as needed. The entry goes at the end of
// the existing section (before the next section header), or in a new
// section at the end of the file.
//
// The old file is never rewritten in place: the complete new content is
// written beside it first and only then takes its place, so a failure
// leaves the existing wininit.ini exactly as it was and gives false. Every
// line of the new file ends in CR LF.
bool AddWininitRenameEntry(const char* target, const char* source);
