// The command line of the console scanner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ConsoleOptions {
    std::int32_t action;  // a cleanAction value
    bool memory;          // scan the running processes first
    bool quiet;           // detections and the statistics only
    bool json;            // one JSON object per detection and one summary
    bool help;
    bool version;
    std::vector<std::string> targets;  // folders and files, as named
};

// Report only unless --remove or --rename: nothing is changed unless asked.
ConsoleOptions DefaultConsoleOptions();

// False on a usage error, with a one-line reason in `error`.
bool ParseConsoleArguments(int argc, const char* const* argv, ConsoleOptions& options, std::string& error);

// The --help text; `targetsRequired` says whether a folder must be named.
std::string ConsoleUsage(bool targetsRequired);

// The --version line.
extern const char kConsoleVersion[];

// Parses the command line and answers what needs no scan: a usage error
// (on standard error), --help or --version. True when a scan is to follow;
// otherwise `exitStatus` holds the program's exit status.
bool ReadConsoleCommandLine(int argc, const char* const* argv, bool targetsRequired, ConsoleOptions& options,
                            int& exitStatus);
