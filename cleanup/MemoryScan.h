// The scan of running processes, run before the drives are walked: the image
// of every process is examined, infected processes are ended and their
// images cleaned at once.
#pragma once

#include <cstddef>
#include <cstdint>

// Runs the pass of the platform's family. On the NT family, when an infected
// process could be neither terminated nor stopped as a service, tells the
// user, offers the restart and ends the program with status 0. Where the
// platform's EndProgram returns (the console scanner, which reports first),
// memoryRestartNeeded is left set and the session does not walk the drives.
void ScanMemory();

// The Windows 95/98/ME pass over the Tool Help snapshot. The number of
// infected images found.
std::int32_t ScanProcesses9x();

// The NT pass over psapi's process list. Nonzero exactly when an infected
// process could not be terminated and its service could not be stopped
// (memoryRestartNeeded).
std::int32_t ScanProcessesNT();

// The service name the NT pass derives from an image path: the base name
// cut at its last '.'. False when it does not fit `size` bytes.
bool ServiceNameOf(const char* imagePath, char* out, std::size_t size);

// The memory notice, shown when the program must end for a restart.
extern const char kMemoryNotice[];
const std::uint32_t kMemoryNoticeFlags = 0x41;  // OK and Cancel, information icon
