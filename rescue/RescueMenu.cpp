#include "rescue/RescueMenu.h"

#include <cstdio>

#include "rescue/RescueText.h"

namespace {

const char kTitle[] = "Quellor rescue stick - cleans a Windows that is not running";
const char kRule[] =
    "--------------------------------------------------------------------------------";

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

const char kNoStickToKeep[] =
    "The stick cannot be written, so nothing removed could be kept: cleaning is not offered.";

bool CanClean(const MenuState& state, const Volume& volume)
{
    return state.stickWritable && UsabilityOf(volume) == UsableForAll;
}

MenuAction ListStep(MenuState& state, const std::vector<Volume>& volumes, MenuKey key, char letter)
{
    const std::vector<std::size_t> windows = WindowsVolumes(volumes);
    switch (key) {
    case KeyUp:
        if (state.cursor == 0) return ActionNone;
        --state.cursor;
        return ActionRedraw;
    case KeyDown:
        if (state.cursor + 1 >= windows.size()) return ActionNone;
        ++state.cursor;
        return ActionRedraw;
    case KeyEnter:
        if (state.cursor >= windows.size()) return ActionNone;
        state.chosen = windows[state.cursor];
        state.screen = ScreenAction;
        return ActionRedraw;
    case KeyOther:
        if (letter == 'p') return ActionPowerOff;
        if (letter == 'r') return ActionRestart;
        if (letter == 'l') return ActionLookAgain;
        if (letter >= '1' && letter <= '9' && static_cast<std::size_t>(letter - '1') < windows.size()) {
            state.cursor = static_cast<std::size_t>(letter - '1');
            return ActionRedraw;
        }
        return ActionNone;
    default:
        return ActionNone;
    }
}

MenuAction ActionStep(MenuState& state, const std::vector<Volume>& volumes, MenuKey key, char letter)
{
    if (key == KeyEscape) {
        state.screen = ScreenList;
        return ActionRedraw;
    }
    if (key != KeyOther) return ActionNone;
    if (letter == '1') {
        state.screen = ScreenScanning;
        state.stopAsked = false;
        return ActionReport;
    }
    if (letter == '2' && CanClean(state, volumes[state.chosen])) {
        state.screen = ScreenConfirm;
        return ActionRedraw;
    }
    return ActionNone;
}

MenuAction ConfirmStep(MenuState& state, MenuKey key, char letter)
{
    if (key == KeyOther && letter == 'y') {
        state.screen = ScreenScanning;
        state.stopAsked = false;
        return ActionClean;
    }
    if (key == KeyEscape || (key == KeyOther && letter == 'n')) {
        state.screen = ScreenAction;
        return ActionRedraw;
    }
    return ActionNone;
}

MenuAction ScanningStep(MenuState& state, MenuKey key, char letter)
{
    if (state.stopAsked || key != KeyOther || letter != 's') return ActionNone;
    state.stopAsked = true;
    return ActionStop;
}

MenuAction ResultsStep(MenuState& state, MenuKey key, char letter)
{
    if (key == KeyEnter || key == KeyEscape) {
        state.screen = ScreenList;
        return ActionLookAgain;
    }
    if (key != KeyOther) return ActionNone;
    if (letter == 'p') return ActionPowerOff;
    if (letter == 'r') return ActionRestart;
    return ActionNone;
}

// Lines built up to the screen's size, each fitted to its width.
class Screen {
public:
    void Line(const std::string& text = std::string()) { lines_.push_back(FitText(text, kScreenWidth)); }
    void Wrapped(const std::string& text, const std::string& indent = std::string())
    {
        for (const std::string& line : WrapText(text, kScreenWidth - indent.size())) Line(indent + line);
    }
    // The help line, at the bottom of the screen.
    std::vector<std::string> With(const std::string& keys)
    {
        if (lines_.size() > kScreenHeight - 2) lines_.resize(kScreenHeight - 2);
        while (lines_.size() < kScreenHeight - 2) lines_.push_back(std::string());
        lines_.push_back(kRule);
        lines_.push_back(FitText(keys, kScreenWidth));
        return lines_;
    }
    std::size_t Size() const { return lines_.size(); }

private:
    std::vector<std::string> lines_;
};

void Header(Screen& screen)
{
    screen.Line(kTitle);
    screen.Line(kRule);
}

std::vector<std::string> ListScreen(const MenuState& state, const std::vector<Volume>& volumes)
{
    Screen screen;
    Header(screen);
    const std::vector<std::size_t> windows = WindowsVolumes(volumes);
    if (windows.empty()) {
        screen.Line("No Windows was found on this PC's disks.");
        screen.Wrapped("If the disk is there, it may be connected to a controller this stick has no driver "
                       "for, or switched off in the firmware setup (RAID or Intel RST mode: choose AHCI).");
    } else {
        screen.Line("Windows found on this PC (choose one with the arrow keys and press Enter):");
    }
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const Volume& volume = volumes[windows[i]];
        const std::string mark = i == state.cursor ? " > " : "   ";
        screen.Line(mark + std::to_string(i + 1) + "  " + VolumeTitle(volume));
        screen.Line("      " + VolumeContents(volume));
        if (UsabilityOf(volume) == UsableReportOnly) screen.Wrapped(WhyNotCleanable(volume), "      ");
    }
    bool heading = false;
    for (const Volume& volume : volumes) {
        const Usability usability = UsabilityOf(volume);
        if (usability != NotUsable && usability != NotWindows) continue;
        if (!heading) {
            screen.Line();
            screen.Line("Other partitions, left alone:");
            heading = true;
        }
        screen.Line("   " + VolumeTitle(volume));
        screen.Wrapped(WhyNotCleanable(volume), "      ");
    }
    return screen.With(windows.empty() ? "L: look again   P: power off   R: restart"
                                       : "Enter: choose   L: look again   P: power off   R: restart");
}

std::vector<std::string> ActionScreen(const MenuState& state, const std::vector<Volume>& volumes)
{
    const Volume& volume = volumes[state.chosen];
    Screen screen;
    Header(screen);
    screen.Line(VolumeTitle(volume));
    screen.Line("   " + VolumeContents(volume));
    screen.Line();
    screen.Line(" 1  Report only: list what is found, change nothing on the disk.");
    if (CanClean(state, volume)) {
        screen.Line(" 2  Clean: remove what is found. Every file removed and every registry hive");
        screen.Line("    changed is first copied to the stick, so it can be given back.");
    } else {
        screen.Line(" 2  Clean: not possible here.");
        const std::string why = WhyNotCleanable(volume);
        screen.Wrapped(why.empty() ? kNoStickToKeep : why, "    ");
    }
    screen.Line();
    screen.Wrapped("Until you choose Clean, this Windows is only read: nothing is written to its disk.");
    return screen.With(CanClean(state, volume) ? "1: report only   2: clean   Esc: back" : "1: report only   Esc: back");
}

std::vector<std::string> ConfirmScreen(const MenuState& state, const std::vector<Volume>& volumes)
{
    const Volume& volume = volumes[state.chosen];
    Screen screen;
    Header(screen);
    screen.Line("Clean this Windows?");
    screen.Line("   " + VolumeTitle(volume));
    screen.Line("   " + VolumeContents(volume));
    screen.Line();
    screen.Wrapped("Infected files are removed and the registry entries that start them are deleted. "
                   "Copies are kept on the stick first (the quarantine). Do not switch the PC off or pull "
                   "the stick out until the results are shown.");
    return screen.With("Y: yes, clean it   N or Esc: no, go back");
}

void ResultLines(Screen& screen, const ScanReport& report, std::size_t room)
{
    const std::size_t first = report.results.size() > room ? report.results.size() - room : 0;
    if (first > 0) {
        screen.Line("   (" + std::to_string(first) + (first == 1 ? " earlier line is" : " earlier lines are") +
                    " in the log)");
    }
    for (std::size_t i = first; i < report.results.size(); ++i) screen.Line("   " + ShownText(report.results[i]));
}

std::vector<std::string> ScanningScreen(const MenuState& state, const std::vector<Volume>& volumes,
                                        const ScanReport& report, unsigned seconds)
{
    const Volume& volume = volumes[state.chosen];
    Screen screen;
    Header(screen);
    screen.Line(std::string(report.clean ? "Cleaning" : "Scanning (report only)") + ": " + VolumeTitle(volume));
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%u:%02u", seconds / 60, seconds % 60);
    screen.Line(std::string("Time: ") + elapsed + "   found so far: " + std::to_string(report.files) + " files, " +
                std::to_string(report.registry) + " registry entries");
    if (state.stopAsked) screen.Line("Stopping at the next file...");
    screen.Line();
    ResultLines(screen, report, kScreenHeight - 3 - screen.Size());
    return screen.With(state.stopAsked ? "Please wait" : "S: stop the scan");
}

std::vector<std::string> ResultsScreen(const MenuState& state, const std::vector<Volume>& volumes,
                                       const ScanReport& report, const StickPlaces& places)
{
    const Volume& volume = volumes[state.chosen];
    Screen screen;
    Header(screen);
    screen.Line(std::string(report.clean ? "Cleaned" : "Report") + ": " + VolumeTitle(volume));
    for (const std::string& line : ScanOutcome(report)) screen.Wrapped(ShownText(line), "   ");
    if (places.writable) {
        screen.Wrapped("The log is " + places.log + " on the stick" +
                       (report.clean ? ", the quarantine " + places.quarantine : std::string()) +
                       ". On any PC, open the log with a text editor; the README says how to get a file back.");
    } else {
        screen.Line("The stick could not be written: no log and no quarantine were kept.");
    }
    screen.Line();
    ResultLines(screen, report, kScreenHeight - 3 - screen.Size());
    return screen.With("Enter: back to the list   P: power off   R: restart");
}

}  // namespace

MenuAction MenuStep(MenuState& state, const std::vector<Volume>& volumes, MenuKey key, char letter)
{
    letter = Lower(letter);
    if (state.screen != ScreenList && state.screen != ScreenScanning && state.chosen >= volumes.size()) {
        state.screen = ScreenList;
        return ActionRedraw;
    }
    switch (state.screen) {
    case ScreenList:
        return ListStep(state, volumes, key, letter);
    case ScreenAction:
        return ActionStep(state, volumes, key, letter);
    case ScreenConfirm:
        return ConfirmStep(state, key, letter);
    case ScreenScanning:
        return ScanningStep(state, key, letter);
    case ScreenResults:
        return ResultsStep(state, key, letter);
    }
    return ActionNone;
}

void MenuScanEnded(MenuState& state)
{
    state.screen = ScreenResults;
}

std::vector<std::string> RenderMenu(const MenuState& state, const std::vector<Volume>& volumes,
                                    const ScanReport& report, unsigned seconds, const StickPlaces& places)
{
    if (state.screen != ScreenList && state.chosen >= volumes.size()) return ListScreen(MenuState(), volumes);
    switch (state.screen) {
    case ScreenList:
        return ListScreen(state, volumes);
    case ScreenAction:
        return ActionScreen(state, volumes);
    case ScreenConfirm:
        return ConfirmScreen(state, volumes);
    case ScreenScanning:
        return ScanningScreen(state, volumes, report, seconds);
    case ScreenResults:
        return ResultsScreen(state, volumes, report, places);
    }
    return ListScreen(state, volumes);
}
