// A running threat on d: for the tests that drive Quellor.exe over running
// processes: a copy of the harmless waiter program (C:\tests\test_waiter.exe,
// put there by the test's setup hook) padded with an overlay that carries a
// signature record's two patterns, and an untouched copy under a longer name
// that begins with the same letters. Both run from d: while Quellor.exe
// scans.
#pragma once

#include <windows.h>

#include <string>

#include "fixtures/OverlayInfection.h"
#include "wine/support/DialogDriver.h"

extern const char kThreatImage[];     // D:\waiter.exe, the infected copy
extern const char kBystanderImage[];  // D:\waiterkeep.exe, the untouched one

// The two waiters of one scan.
struct ThreatRun {
    int record;  // the signature record the threat matches
    PROCESS_INFORMATION threat;
    PROCESS_INFORMATION bystander;
};

// Makes the real backend the engine's platform and checks that the program
// will take the system for the family `platformClass` names (kPlatformWin9x
// or kPlatformNT, scan/SystemVersion.h). Makes
// both copies on d: (checking that the matcher's first hit in the threat is
// the record placed) and starts the bystander, then the threat, so that the
// bystander comes first in any process list. False, with the failure
// reported, when the scenario could not be set up.
bool StartThreatAndBystander(ThreatRun& run, int platformClass);

// Which pass of the program meets the running threat.
enum ThreatFinder {
    // The memory pass examines the process's image, ends the process and
    // has the image removed at once: the "System Memory" line, then the
    // image's own line; the walk no longer meets the image.
    MemoryPassFindsIt,
    // The memory pass cannot examine the image; the drive walk meets it,
    // its deletion fails while it runs, the process is ended by the name of
    // its image and the deletion is repeated: the image's own line only.
    DriveWalkFindsIt
};

// Runs one scan with Quellor.exe (C:\Quellor\Quellor.exe) while both
// waiters run, and checks: the threat ended by termination and its image
// is gone, the list holds exactly the lines `finder` gives and the
// statistics, no question was asked, and the bystander still runs untouched.
// Ends both waiters.
void ScanAndCheck(ThreatRun& run, ThreatFinder finder);

// Starts the program at `path` with C:\ as its folder (so that no bare image
// name is found relative to it). False when it did not start.
bool StartProgram(const char* path, PROCESS_INFORMATION& process);

bool StillRunning(const PROCESS_INFORMATION& process);

// Ends the process if it still runs and closes its handles.
void EndProgram(PROCESS_INFORMATION& process);
