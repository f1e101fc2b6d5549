// The console scanner's session: the engine's session over the named
// folders and files (or every fixed drive), with the engine's result lines
// and statistics on standard output in the host's path form, or as JSON.
// Both are made from the engine's result records and counters; no line of
// the engine's is read back.
//
// Portable: what differs between hosts (how a named folder becomes an
// engine path, how an engine path is shown, the clock) comes from a
// ConsoleHost.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/console/ConsoleOptions.h"
#include "platform/Platform.h"
#include "scan/Quarantine.h"

// Exit statuses.
const int kExitClean = 0;
const int kExitFound = 1;
const int kExitTrouble = 2;  // usage error, or something could not be read
const int kExitRestart = 3;
// Added to kExitFound or kExitRestart when a file was removed, renamed or
// left for deletion without its copy kept in the quarantine.
const int kExitNotKept = 4;

struct ConsoleTarget {
    std::string named;   // as the user gave it
    bool folder;
    std::string engine;  // a folder's walk pattern ("C:\\*.*") or a file's path
    std::string host;    // what the host maps the target's drive to, if it maps drives
    std::string recorded;  // the host folder or file as an absolute path, if the host needs one
};

class ConsoleHost {
public:
    virtual ~ConsoleHost() {}
    // True when no target means every fixed drive; false when one is required.
    virtual bool AllDrivesByDefault() = 0;
    // Checks a named folder or file; false with a one-line reason otherwise.
    virtual bool Resolve(const std::string& named, ConsoleTarget& target, std::string& error) = 0;
    // Makes the target's engine paths valid before it is walked.
    virtual void Enter(const ConsoleTarget& target) = 0;
    // An engine path (or a text starting with one) in the host's form; the
    // target is null when every fixed drive is walked.
    virtual std::string Display(const ConsoleTarget* target, const std::string& enginePath) = 0;
    // Steps of the full system this host cannot take ("memory", ...).
    virtual std::vector<std::string> NotAvailable() = 0;
    // What the scan runs on, as the note about NotAvailable names it.
    virtual std::string ScannedSystem() { return "this system"; }
    // Lines for the user before the scan begins (what was found to scan).
    virtual std::vector<std::string> Notes() { return {}; }
    // Lines about something the host could not read or change (a damaged
    // registry hive, a change that could not be written), taken before the
    // scan, after each result and at its end. Each is said once and counts
    // as trouble.
    virtual std::vector<std::string> TakeProblemLines() { return {}; }

    // The quarantine's folder as an engine path: the folder the user named
    // (--quarantine), or the system's own place for it when `named` is
    // empty; the engine's paths under it are valid afterwards. False with a
    // one-line reason.
    virtual bool StoreFolder(const std::string& named, std::string& engineFolder, std::string& error) = 0;
    // The absolute path in the host's form of an engine path under
    // `target` (null when every fixed drive is walked), as the quarantine
    // records it.
    virtual std::string OriginalPath(const ConsoleTarget* target, const std::string& enginePath) = 0;
    // Where a file recorded as `recorded` goes back to: there, or to `to`
    // when the user named a path (into it, when it is a folder). Gives that
    // path in the host's form and as an engine path that is valid
    // afterwards; false with a one-line reason.
    // A `to` that ends with a path separator names a folder, made when it
    // is missing.
    virtual bool RestoreTarget(const std::string& recorded, const std::string& to, std::string& shown,
                               std::string& enginePath, std::string& error) = 0;
    // The engine path, valid afterwards, that reaches a path the store
    // recorded (the target of a restore that was stopped); false when
    // there is none. By default the recorded path is the engine path.
    virtual bool ReachRecorded(const std::string& recorded, std::string& enginePath)
    {
        enginePath = recorded;
        return !recorded.empty() && recorded[0] != '/';
    }

    // The store folder the user named (`named`, --quarantine DIR) as one
    // word of a command line of this system that names it from any folder:
    // absolute, and quoted where the shell needs it. The undo commands of
    // the run log give it. By default `named` as given, quoted as a Windows
    // command line needs.
    virtual std::string StoreWord(const std::string& named);
    // A monotonic clock in milliseconds.
    virtual std::uint64_t Milliseconds() = 0;

    // The run log the user named (--log FILE) as an engine path that is
    // valid afterwards; false with a one-line reason. By default the name
    // is the engine path (a host whose paths are the engine's).
    virtual bool LogFile(const std::string& named, std::string& enginePath, std::string& /*error*/)
    {
        enginePath = named;
        return true;
    }
    // What system the scanner runs on, for the run log; empty: the Windows
    // version the platform reports.
    virtual std::string SystemName() { return std::string(); }
    // The run log that the scanned system's own program keeps, when it is
    // not the system the scanner runs on (a Windows disk cleaned from
    // outside): a run that changes that system leaves its record there as
    // well. Gives it as an engine path, valid afterwards, and as the user
    // knows it; false when there is none.
    virtual bool OwnLogFile(std::string& /*enginePath*/, std::string& /*shown*/) { return false; }
};

// Output streams and whether progress goes to `err` (a terminal).
struct ConsoleStreams {
    std::FILE* out;
    std::FILE* err;
    bool progress;
};

// Runs one scan as the options ask; the exit status.
int RunConsoleScan(const ConsoleOptions& options, ConsoleHost& host, const ConsoleStreams& streams);

// Does what the options ask, a scan or one of the quarantine's commands
// (app/console/ConsoleStore.h); the exit status.
int RunConsoleCommand(const ConsoleOptions& options, ConsoleHost& host, const ConsoleStreams& streams);

// The engine's result-sink messages, routed here by the backend while a
// scan runs.
void ConsoleReceive(std::uint32_t message);

// A file or folder the backend could not examine, reported once each.
void ConsoleProblem(const std::string& displayPath, const std::string& reason);

// The original of a file the scan is about to change without detecting it
// (a registry hive before its first cleaning) was offered to the
// quarantine: says where it went, or that it was not kept.
void ConsoleOriginalKept(const std::string& displayPath, const QuarantineNote& note);

// Text as a JSON string literal. Valid UTF-8 is kept as it is, except
// that control characters (U+0000 to U+001F, U+007F to U+009F) and the
// line and paragraph separators (U+2028, U+2029) are escaped (\u001b); a
// byte that is no part of valid UTF-8 (0x80 to 0xFF) is written as the
// lone low surrogate U+DC80 to U+DCFF of the same low byte (\udce9 for
// 0xE9), which no UTF-8 text holds, so it never reads back as a character
// a real name could hold (the form Python's "surrogateescape" reads back).
std::string JsonString(const std::string& text);
