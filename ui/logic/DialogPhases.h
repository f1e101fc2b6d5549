// What the main dialog shows and enables in each phase of its life, as the
// changes made on entering the phase. Controls not named keep their state.
#pragma once

#include <cstddef>

enum DialogPhase {
    PhaseReady,            // after initialisation
    PhaseScanning,         // after SCAN
    PhaseCancelConfirmed,  // the user confirmed stopping the scan
    PhaseFinished          // after the session
};

enum Visibility { KeepVisibility, ShowControl, HideControl };
enum Enabling { KeepEnabling, EnableControl, DisableControl };

struct ControlChange {
    int controlId;
    Visibility visibility;
    Enabling enabling;
};

// The changes for a phase; `productInstalled` matters for PhaseReady only.
// Returns the number of changes written to `changes` (at most `capacity`).
std::size_t ChangesForPhase(DialogPhase phase, bool productInstalled, ControlChange* changes, std::size_t capacity);

const std::size_t kMaxPhaseChanges = 20;
