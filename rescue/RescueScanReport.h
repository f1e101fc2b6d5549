// What one run of quellor-scan --offline --json tells the rescue screen:
// its lines read as they come (progress), and the outcome in words at the
// end. Only the fields the README documents are read.
#pragma once

#include <map>
#include <string>
#include <vector>

// The members of one JSON object on one line: strings decoded (UTF-8),
// numbers and true/false as written, arrays and objects as their raw text.
// False when the line is not such an object.
bool ReadJsonObject(const std::string& line, std::map<std::string, std::string>& members);

struct ScanReport {
    bool clean;                         // --remove was given
    std::vector<std::string> results;   // each result line, as the scanner words it
    int files = 0;                      // detections (files)
    int registry = 0;                   // registry and other lines naming no file
    int originalsKept = 0;              // hives kept before their first change
    int notQuarantined = 0;             // removed without a copy
    std::vector<std::string> problems;  // the scanner's lines on standard error
    bool finished = false;              // the summary came
    int scanned = 0, infected = 0, removed = 0, problemCount = 0;
    // Of the summary's problems, the files removed without a copy kept: the
    // cleaning itself is whole.
    int problemsNotKept = 0;
    bool completed = false;
    int exitStatus = -1;                // the summary's; -1 until it comes
};

// Takes one line of the scanner's standard output.
void TakeScanLine(ScanReport& report, const std::string& line);
// Takes one line of its standard error (progress lines are not asked for).
void TakeScanProblem(ScanReport& report, const std::string& line);
// The process ended with `status` (its exit status, or -1 when killed).
void EndScan(ScanReport& report, int status);

// The outcome in a few lines: what was found and done, whether anything
// could not be.
std::vector<std::string> ScanOutcome(const ScanReport& report);

// One word for the result file and the serial console: "clean" (nothing
// found), "found", "cleaned", "incomplete" (something could not be read
// or changed, or the scan was stopped), "failed" (no summary).
std::string OutcomeWord(const ScanReport& report);
