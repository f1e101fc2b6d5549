// Ending the processes that run a given image file, so that a file that
// could not be deleted while in use can be deleted after all.
#pragma once

#include <cstdint>

// Nonzero when a process running the image `path` was terminated.
//
// Not implemented yet: this version terminates nothing and always returns
// 0, so a file in use stays undeleted and is scheduled for deletion at the
// next start instead.
std::int32_t TerminateProcessByImage(const char* path);
