// The console scanner's commands on the quarantine: --quarantine-list,
// --restore ID [--to PATH], --purge ID and --purge-older-than DAYS, over
// the store the host names (--quarantine DIR, or the system's own place).
//
// Each checks before it changes anything: a bad ID, a missing or damaged
// entry or a file in the way ends the command with a one-line reason on
// standard error and exit status 2, and the store and the file system as
// they were.
#pragma once

#include <cstdint>
#include <string>

#include "app/console/ConsoleOptions.h"
#include "app/console/ConsoleScan.h"

// Puts the quarantine in the folder the host names for `named` (the
// --quarantine folder, or the system's own place when empty) in use, with
// the default caps, and the host's paths for the paths the store recorded.
// False with a one-line reason when there is none.
bool UseConsoleQuarantine(ConsoleHost& host, const std::string& named, std::string& error);
// Puts no quarantine in use any more.
void StopConsoleQuarantine();

// Runs the quarantine command the options name; the exit status.
int RunQuarantineCommand(const ConsoleOptions& options, ConsoleHost& host, const ConsoleStreams& streams);

// A time in seconds since 1970 as "YYYY-MM-DD HH:MM:SS" (UTC).
std::string UtcText(std::int64_t seconds);
