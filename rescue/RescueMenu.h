// The rescue stick's text screen, keyboard only: its screens, what each key
// does on each, and the lines each screen shows. No terminal here: the
// program (RescueMain) reads keys, acts on what a step asks and prints the
// lines.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "rescue/RescueScanReport.h"
#include "rescue/RescueVolume.h"

enum MenuScreen {
    ScreenList,      // the Windows found, and what cannot be used
    ScreenAction,    // report only or clean, for the chosen Windows
    ScreenConfirm,   // the last question before cleaning
    ScreenScanning,  // progress
    ScreenResults    // the outcome, where the log and quarantine are
};

enum MenuKey { KeyNone, KeyUp, KeyDown, KeyEnter, KeyEscape, KeyOther };

// What the program must do after a key.
enum MenuAction {
    ActionNone,
    ActionRedraw,
    ActionReport,    // scan the chosen Windows, change nothing
    ActionClean,     // scan and clean it
    ActionStop,      // stop the running scan
    ActionPowerOff,
    ActionRestart,
    ActionLookAgain  // probe the disks again
};

struct MenuState {
    MenuScreen screen = ScreenList;
    std::size_t cursor = 0;  // among the usable Windows, on the list
    std::size_t chosen = 0;  // the volume (index) being worked on
    bool stopAsked = false;
    bool stickWritable = true;  // cleaning keeps its copies there: no stick, no cleaning
};

// `key` is the key read; `letter` its character for KeyOther (any case).
MenuAction MenuStep(MenuState& state, const std::vector<Volume>& volumes, MenuKey key, char letter);

// The scan has ended: the results are shown.
void MenuScanEnded(MenuState& state);

// Where the run leaves its traces, shown on the results.
struct StickPlaces {
    std::string log;         // "QUELLOR\quellor.log"
    std::string quarantine;  // "QUELLOR\QUARANTINE"
    bool writable;           // false: the stick could not be written
};

const std::size_t kScreenWidth = 80;
const std::size_t kScreenHeight = 25;

// The lines of the screen (at most kScreenHeight, each at most
// kScreenWidth columns). `report` and `seconds` are the scan's, on the
// scanning and results screens.
std::vector<std::string> RenderMenu(const MenuState& state, const std::vector<Volume>& volumes,
                                    const ScanReport& report, unsigned seconds, const StickPlaces& places);
