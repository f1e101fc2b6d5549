// The unattended mode: words on the kernel command line, or the same words
// in the file QUELLOR\AUTO.TXT on the stick, that say what to do without
// anyone at the keyboard, then power off.
//
//   quellor.auto=report      report on each Windows found, change nothing
//   quellor.auto=clean       clean each Windows found
//   quellor.windows=LIST     only these: device names (sda2) or the numbers
//                            the screen gives the Windows (1,3); "all" is
//                            the default
//   quellor.after=poweroff   (the default) or reboot, or stay (keep the
//                            results on the screen)
//   quellor.screen=ttyS0     the screen and keyboard on a serial line (read
//                            by RescueMain, accepted here)
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "rescue/RescueVolume.h"

enum AutoMode { AutoNone, AutoReport, AutoClean };
enum AutoAfter { AfterPowerOff, AfterReboot, AfterStay };

struct AutoPlan {
    AutoMode mode;
    bool all;                           // every Windows found
    std::vector<std::string> windows;   // else these devices or numbers
    AutoAfter after;
    std::vector<std::string> problems;  // words not understood, named on the screen
};

// Reads the words of `text` (blanks or line breaks between them); words
// without the "quellor." prefix are someone else's and ignored. Later words
// win over earlier ones, so the kernel command line read after the file
// overrides it.
void ReadAutoWords(const std::string& text, AutoPlan& plan);
AutoPlan NoAutoPlan();

// One Windows of the plan, and what happens to it.
struct AutoChoice {
    std::size_t volume;  // index into the volumes
    bool clean;          // false: report only
    std::string skipped; // non-empty: not touched at all, and why
};

// The Windows the plan names, each with what is done: a Windows that
// cannot be cleaned is reported on instead (and says why), one that
// cannot be read is skipped. `numbers` are the volumes' numbers on the
// screen (WindowsVolumes order). Names in the plan that match no Windows
// come back in `unmatched`.
// The line the unattended run writes for one volume, to the serial console
// and to the stick: "quellor-rescue: sda2 WORD: DETAIL".
std::string AutoResultLine(const Volume& volume, const std::string& word, const std::string& detail);

std::vector<AutoChoice> ChooseForPlan(const AutoPlan& plan, const std::vector<Volume>& volumes,
                                      std::vector<std::string>& unmatched);
