// The record of one scan run, appended to the run log (scan/RunLog.h) as
// the run goes, so that a user or a support desk can see afterwards what
// was done and how to undo it. Both programs write the same record:
//
//   === Quellor run 2023-11-14 22:13:20 UTC
//   Program: Quellor.exe 7.0 (64-bit)
//   System: Windows NT 10.0 build 19045
//   D:\Downloads\setup.exe     W32/Murkel.A.Trojan removed
//       Quarantine entry 6553F1A0 (undo: quellor-scan --restore 6553F1A0)
//   D:\Mail\big.exe     W32/Murkel.A.Trojan removed
//       Not quarantined (too large for the quarantine)
//   (the statistics block, one line each, as the results list shows it)
//   Scanning completed
//   Restart question: not asked
//
// Result lines are the results list's lines byte for byte: the engine's
// paths (short-name components where a long name cannot be spelled in the
// ANSI code page) or a front end's own form of them (SetRunRecordPathNamer).
// A line about the quarantine follows every file that was removed, renamed
// or left for deletion at the next start; its undo command names the store
// when the run named one of its own (SetRunRecordStoreWord). Names are
// escaped in the log (scan/RunLog.h).
//
// Use, on the scan's thread, one run at a time:
//   StartRunRecord(logPath, "quellor-scan", nullptr);  // before the session
//   RunSessionPlan(plan);   // the engine writes the results and the end
//   StopRunRecord();        // closes the log in any case
// The engine adds each result as ReportResult appends it and ends the
// record when the session finishes (or when the memory scan ends the
// program). A front end whose session ends another way calls EndRunRecord
// itself. A log that cannot be written changes nothing the scan does:
// RunRecordFailed says so afterwards, for a note at most.
//
// A log another run is writing its record to keeps this run's lines in
// memory until it is free (scan/RunLog.h). A run that still has not had it
// when its record ends waits for it there, looking at the messages as the
// scan does (the dialog stays alive); an interrupt, a cancel or the
// window's closing gives the wait up, and the lines kept are lost
// (RunRecordFailed). SetRunRecordWaitNote lets the front end say that it
// waits.
//
// A Windows disk cleaned from outside its own system (quellor-scan
// --offline ROOT) gets its record at the dialog's own place on that disk:
// where the platform answers CommonDataFolder / WindowsFolder for the disk,
// StartDefaultRunRecord("quellor-scan") does it all; otherwise make the
// engine path of Quellor\Quellor.log under the disk's all-users data
// folder, CreateMissingFolders its folder, and call StartRunRecord with it
// and a system text saying what system did the cleaning (the console's
// ConsoleHost::SystemName).
#pragma once

#include <cstddef>

#include "scan/Quarantine.h"
#include "scan/ResultLines.h"

// The log's name in the program's data folder (DefaultDataFolder).
extern const char kRunLogName[];  // "Quellor.log"

// The dialog's log: kRunLogName in DefaultDataFolder(). False when this
// system has no data folder for the program.
bool DefaultRunLogPath(char* out, std::size_t size);

// Starts a record in the log at `logPath`, an engine path (a file on a
// disk being cleaned from outside its own system may be named the same
// way). `programName` names the program ("Quellor.exe", "quellor-scan");
// `systemText` says what system it runs on, or null for the Windows
// version the platform reports. False when the log cannot be written;
// the scan goes on all the same.
bool StartRunRecord(const char* logPath, const char* programName, const char* systemText);
// StartRunRecord on DefaultRunLogPath, making the data folder first when it
// is missing.
bool StartDefaultRunRecord(const char* programName);

// True between StartRunRecord and the end of the record.
bool RunRecordActive();
// True when some part of the record could not be written.
bool RunRecordFailed();

// How the result lines name a file: `out` gets the path in the front end's
// form for the engine path given; false leaves the engine's line as it is.
// Null: the engine's lines, as the dialog's list shows them.
typedef bool (*RunRecordPathNamer)(const char* enginePath, char* out, std::size_t size, void* context);
void SetRunRecordPathNamer(RunRecordPathNamer namer, void* context);

// Adds one result: `text` is the line as the engine appended it (its
// ResultLine, path, threat and quarantine note given beside it). Called by
// ReportResult.
void RecordRunResult(ResultLine line, const char* path, const char* threat, const char* text,
                     const QuarantineNote& quarantine);

// Adds a line of the front end's own to the record: what it did or met
// beside the engine's results (a registry hive kept before its first
// change, a hive that could not be read). Nothing while no record is
// active.
void RecordRunNote(const char* text);

// The answer to the question whether to restart now.
enum RestartAnswer {
    RestartNotAsked,
    RestartNow,    // answered Yes (OK): the system restarts
    RestartLater   // answered No (Cancel), or the program never asks (the console)
};

// Ends the record: the statistics block, "Scanning completed" or "Scanning
// terminated", and the restart question's answer; then closes the log. Only
// the first call after StartRunRecord writes anything.
void EndRunRecord(bool completed, RestartAnswer answer);

// Closes the log whether or not the record was ended.
void StopRunRecord();

// Leaves the records from now on in a second log as well, line for line:
// `logPath` is an engine path (a Windows disk cleaned from outside keeps
// one where its own program keeps its log). Null or empty: none. The copy
// is opened with each record; one that cannot be written changes nothing
// else, and RunRecordCopyFailed says so afterwards.
void SetRunRecordCopy(const char* logPath);
bool RunRecordCopyFailed();

// The store the run named (--quarantine DIR), as the undo commands of the
// record must name it: one word of a command line, quoted as the system's
// shell needs it. Null or empty: the program's own store, which the
// command need not name.
void SetRunRecordStoreWord(const char* word);

// Called once for each log the run waits for at the end of its record
// (`copy`: the second log), before it waits; null: none.
typedef void (*RunRecordWaitNote)(bool copy, void* context);
void SetRunRecordWaitNote(RunRecordWaitNote note, void* context);

// The system line: "Windows NT 10.0 build 19045" (with " (WoW64)" for a
// 32-bit program on 64-bit Windows), "Windows 95/98/ME 4.10 build 2222",
// or "unknown" when the platform reports no Windows version.
void DescribeWindowsVersion(char* out, std::size_t size);
