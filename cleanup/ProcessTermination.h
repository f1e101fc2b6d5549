// Ending the processes that run a given image file, so that a file that
// could not be deleted while in use can be deleted after all.
#pragma once

#include <cstdint>

// Nonzero when a process running the image `path` was terminated. On the
// Windows 95/98/ME family the Tool Help snapshot is searched, on the NT
// family the process list of the performance data. On any other platform
// (or when the version cannot be read) nothing is done and the result is 1.
std::int32_t TerminateProcessByImage(const char* path);

// Tool Help: ends the first process, in snapshot order, whose image base
// name equals that of `path` (ignoring case). 1 when it was terminated.
std::int32_t TerminateByImage9x(const char* path);

// Performance data: ends every process whose instance name is the base name
// of `path` without its last four characters (".EXE"), ignoring case, or
// that name followed by '#' and digits. 1 when at least one was terminated;
// 0 for a path of four characters or fewer.
std::int32_t TerminateByImageNT(const char* path);
