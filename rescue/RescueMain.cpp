// quellor-rescue: the program the rescue stick starts. It finds the PC's
// disks and the Windows on them, shows them on a text screen (keyboard
// only) and runs quellor-scan --offline on the one a person chooses:
// read-only for a report, read-write only once they chose to clean. With
// quellor.auto=report or clean (kernel command line, or QUELLOR\AUTO.TXT on
// the stick) it does that to the Windows named, writes the outcome to the
// stick and the serial console, and powers off.
//
//   quellor-rescue                       the stick's program (as root)
//   quellor-rescue --describe SOFTWARE   the hive reader it runs as a child
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <cstring>
#include <string>
#include <vector>

#include "rescue/RescueAuto.h"
#include "rescue/RescueMenu.h"
#include "rescue/RescueScanReport.h"
#include "rescue/RescueSystem.h"
#include "rescue/RescueText.h"

namespace {

// How long the stick may take to appear after the kernel started.
const unsigned kDiskWaitSeconds = 30;
const char kShownLog[] = "QUELLOR\\quellor.log";
const char kShownQuarantine[] = "QUELLOR\\QUARANTINE";

unsigned SecondsSince(const timespec& start)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned>(now.tv_sec - start.tv_sec);
}

std::string Utc()
{
    const time_t now = time(nullptr);
    struct tm parts;
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

// The stick, and what is said on it and on the serial console.
struct Stick {
    std::string root;  // empty: not writable
    std::string device;
    void Say(const std::string& line) const
    {
        SerialLine(line);
        if (!root.empty()) AppendToFile(root + "/" + kStickResults, line + "\r\n");
    }
};

std::vector<Volume> FindVolumes(const RescuePaths& paths)
{
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::vector<Volume> volumes;
    for (;;) {
        WaitForDisks(kDiskWaitSeconds);
        volumes = ProbeVolumes(paths);
        for (const Volume& volume : volumes) {
            if (volume.isStick) return volumes;
        }
        if (SecondsSince(start) >= kDiskWaitSeconds) return volumes;
        sleep(1);
    }
}

// Mounts the volume and runs the scanner over it to the end, taking keys
// from `terminal` (when there is one) and redrawing with `redraw` each
// second and after each line.
template <typename Redraw>
void RunScan(const RescuePaths& paths, const Volume& volume, bool clean, const Stick& stick, ScanReport& report,
             Terminal* terminal, MenuState* state, const std::vector<Volume>* volumes, Redraw redraw)
{
    report = ScanReport();
    report.clean = clean;
    std::string folder;
    std::string reason;
    if (!MountVolume(paths, volume, clean, folder, reason)) {
        report.problems.push_back((clean ? "not cleaned: " : "cannot be read: ") + reason);
        return;
    }
    ScanChild child;
    if (!StartScan(paths, folder, clean, stick.root, child, reason)) {
        report.problems.push_back(reason);
        UnmountFolder(folder);
        return;
    }
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::size_t shown = static_cast<std::size_t>(-1);
    unsigned shownSeconds = 0;
    while (PollScan(child, report, 1000, terminal ? terminal->Fd() : -1)) {
        if (terminal) {
            char letter = 0;
            const MenuKey key = terminal->ReadKey(0, letter);
            if (key != KeyNone && MenuStep(*state, *volumes, key, letter) == ActionStop) StopScan(child);
        }
        const unsigned seconds = SecondsSince(start);
        if (report.results.size() != shown || seconds != shownSeconds) {
            shown = report.results.size();
            shownSeconds = seconds;
            redraw(seconds);
        }
    }
    UnmountFolder(folder);
}

std::string Summary(const Volume& volume, const ScanReport& report)
{
    std::string text;
    for (const std::string& line : ScanOutcome(report)) text += (text.empty() ? "" : " ") + line;
    return text + " [" + VolumeTitle(volume) + "; " + VolumeContents(volume) + "]";
}

int Unattended(const RescuePaths& paths, const AutoPlan& plan, const std::vector<Volume>& volumes, const Stick& stick)
{
    stick.Say("=== Quellor rescue run " + Utc() + " (unattended " +
              (plan.mode == AutoClean ? "clean" : "report") + ")");
    for (const std::string& word : plan.problems) stick.Say("quellor-rescue: not understood: " + ShownText(word));
    std::vector<std::string> unmatched;
    const std::vector<AutoChoice> choices = ChooseForPlan(plan, volumes, unmatched);
    for (const std::string& name : unmatched) stick.Say("quellor-rescue: no Windows " + ShownText(name) + " here");
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        bool chosen = false;
        for (const AutoChoice& choice : choices) chosen = chosen || choice.volume == i;
        if (chosen) continue;
        const Usability usability = UsabilityOf(volumes[i]);
        if (usability == IsTheStick) continue;
        stick.Say(AutoResultLine(volumes[i], "left alone",
                                 usability == NotWindows ? WhyNotCleanable(volumes[i]) + " [" + VolumeTitle(volumes[i]) + "]"
                                                         : "not named [" + VolumeTitle(volumes[i]) + "]"));
    }
    int failures = 0;
    for (const AutoChoice& choice : choices) {
        const Volume& volume = volumes[choice.volume];
        if (!choice.skipped.empty()) {
            stick.Say(AutoResultLine(volume, "not usable", choice.skipped + " [" + VolumeTitle(volume) + "]"));
            continue;
        }
        if (plan.mode == AutoClean && !choice.clean) {
            stick.Say(AutoResultLine(volume, "not written", WhyNotCleanable(volume)));
        }
        ScanReport report;
        RunScan(paths, volume, choice.clean, stick, report, nullptr, nullptr, nullptr, [](unsigned) {});
        const std::string word = OutcomeWord(report);
        if (word == "failed" || word == "incomplete") ++failures;
        stick.Say(AutoResultLine(volume, word, Summary(volume, report)));
        for (const std::string& line : report.results) stick.Say("quellor-rescue: " + volume.device + " | " + ShownText(line));
    }
    stick.Say(std::string("quellor-rescue: finished, ") + (failures ? "with problems" : "all done"));
    return failures ? 1 : 0;
}

void Interactive(const RescuePaths& paths, std::vector<Volume>& volumes, const Stick& stick, int screenFd)
{
    Terminal terminal(screenFd);
    MenuState state;
    state.stickWritable = !stick.root.empty();
    ScanReport report;
    const StickPlaces places{kShownLog, kShownQuarantine, !stick.root.empty()};
    for (;;) {
        terminal.Show(RenderMenu(state, volumes, report, 0, places));
        char letter = 0;
        const MenuKey key = terminal.ReadKey(-1, letter);
        const MenuAction action = MenuStep(state, volumes, key, letter);
        switch (action) {
        case ActionReport:
        case ActionClean: {
            const Volume volume = volumes[state.chosen];
            RunScan(paths, volume, action == ActionClean, stick, report, &terminal, &state, &volumes,
                    [&](unsigned seconds) { terminal.Show(RenderMenu(state, volumes, report, seconds, places)); });
            stick.Say("=== Quellor rescue run " + Utc() + " (" + (report.clean ? "clean" : "report") + ")");
            stick.Say(AutoResultLine(volume, OutcomeWord(report), Summary(volume, report)));
            MenuScanEnded(state);
            break;
        }
        case ActionPowerOff:
        case ActionRestart:
            terminal.Show({action == ActionRestart ? "Restarting..." : "Switching off..."});
            EndSystem(paths, action == ActionRestart);
            break;
        case ActionLookAgain:
            terminal.Show({"Looking at the disks..."});
            volumes = ProbeVolumes(paths, stick.device);
            break;
        default:
            break;
        }
    }
}

// The terminal named by quellor.screen=NAME (ttyS0 for a serial line), or
// standard input.
int ScreenFd(const std::string& commandLine)
{
    const std::string key = "quellor.screen=";
    const std::size_t at = commandLine.find(key);
    if (at == std::string::npos) return 0;
    std::string name = commandLine.substr(at + key.size());
    name = name.substr(0, name.find_first_of(" \n"));
    if (name.empty() || name.find('/') != std::string::npos) return 0;
    const int fd = open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    return fd >= 0 ? fd : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--describe") == 0) return DescribeHive(argv[2]);
    if (argc != 1) {
        std::fprintf(stderr, "usage: quellor-rescue (the rescue stick's program, started by its init)\n");
        return 2;
    }
    const RescuePaths paths;
    const std::string commandLine = ReadSmallFile("/proc/cmdline");
    const int screenFd = ScreenFd(commandLine);
    {
        Terminal terminal(screenFd);
        terminal.Show({"Quellor rescue stick", "", "Looking for the disks of this PC..."});
    }
    std::vector<Volume> volumes = FindVolumes(paths);
    Stick stick;
    stick.root = MountStick(paths, volumes, stick.device);
    AutoPlan plan = NoAutoPlan();
    if (!stick.root.empty()) ReadAutoWords(ReadSmallFile(stick.root + "/" + kStickAutoFile), plan);
    ReadAutoWords(commandLine, plan);
    if (plan.mode == AutoNone) {
        Interactive(paths, volumes, stick, screenFd);
        return 0;
    }
    Unattended(paths, plan, volumes, stick);
    if (plan.after == AfterStay) {
        Interactive(paths, volumes, stick, screenFd);
        return 0;
    }
    EndSystem(paths, plan.after == AfterReboot);
    return 1;
}
