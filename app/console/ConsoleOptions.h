// The command line of the console scanner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What one run does: scan, or work on the quarantine.
enum ConsoleCommand {
    CommandScan,
    CommandListQuarantine,   // --quarantine-list
    CommandRestore,          // --restore ID [--to PATH]
    CommandPurge,            // --purge ID
    CommandPurgeOlderThan    // --purge-older-than DAYS
};

// Which console scanner reads the command line: the Linux one needs a
// folder or file (or --offline ROOT); the Windows one walks every fixed
// drive when none is named and has no --offline.
enum ConsoleSystem { ConsoleOnLinux, ConsoleOnWindows };

struct ConsoleOptions {
    ConsoleCommand command;
    std::int32_t action;  // a cleanAction value
    bool memory;          // scan the running processes first
    bool quiet;           // detections and the statistics only
    bool json;            // one JSON object per detection and one summary
    bool help;
    bool version;
    std::vector<std::string> targets;  // folders and files, as named
    std::string offline;               // --offline ROOT: a Windows disk's root folder, as named
    bool quarantine;                   // keep what is removed or renamed (--no-quarantine: off)
    std::string quarantineFolder;      // --quarantine DIR; empty: the system's own place
    std::string entry;                 // the entry's id (upper case) for --restore and --purge
    std::string restoreTo;             // --to PATH
    std::uint32_t days;                // --purge-older-than
    std::string logFile;               // --log FILE: the run's record is appended there
};

// Report only unless --remove or --rename: nothing is changed unless asked.
ConsoleOptions DefaultConsoleOptions();

// False on a usage error, with a one-line reason in `error`.
bool ParseConsoleArguments(int argc, const char* const* argv, ConsoleOptions& options, std::string& error);

// The --help text of the scanner of `system`.
std::string ConsoleUsage(ConsoleSystem system);

// The --version line.
extern const char kConsoleVersion[];

// Parses the command line and answers what needs no scan: a usage error
// (on standard error), --help or --version, and --offline where `system`
// has none. True when a scan is to follow; otherwise `exitStatus` holds the
// program's exit status.
bool ReadConsoleCommandLine(int argc, const char* const* argv, ConsoleSystem system, ConsoleOptions& options,
                            int& exitStatus);
