// dialog_timer: times one scan of the dialog, from the press of SCAN to
// "Scanning completed", the way a user sees it. Starts
// C:\Quellor\Quellor.exe, waits for its window, presses SCAN, polls for the
// end of the scan without sending the program anything, then closes it with
// OK. Prints the milliseconds, the number of files the statistics counted
// and the program's peak working set in KiB. Exit status 0 only when the
// scan completed.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "wine/support/DialogDriver.h"

namespace {

const DWORD kStartTimeout = 30000;
const DWORD kScanTimeout = 1800000;

}  // namespace

int main()
{
    Running running;
    ZeroMemory(&running, sizeof running);
    if (!Start(running, kStartTimeout)) {
        std::fprintf(stderr, "dialog_timer: the program's window did not appear\n");
        if (running.process.hProcess) Ended(running, 0);
        return 1;
    }
    HWND dialog = running.dialog;
    HWND ok = GetDlgItem(dialog, IDC_OK_BUTTON);
    Sleep(500);  // let the start screen settle
    const DWORD started = GetTickCount();
    Press(dialog, IDC_SCAN);
    // Visibility is read from the window system, not asked of the program,
    // so the polling costs the scan nothing.
    bool shown = WaitFor([&] { return IsWindowVisible(ok) != FALSE; }, kScanTimeout);
    const DWORD elapsed = GetTickCount() - started;
    const std::string word = ItemText(dialog, IDC_STATUS_TEXT);
    std::vector<std::string> lines = ListLines(dialog);
    std::string scanned = "?";
    for (const std::string& line : lines) {
        if (line.compare(0, 19, "Total files scanned") == 0) scanned = line.substr(line.rfind(' ') + 1);
    }
    PROCESS_MEMORY_COUNTERS memory;
    ZeroMemory(&memory, sizeof memory);
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(running.process.hProcess, &memory, sizeof memory);
    Press(dialog, IDC_OK_BUTTON);
    Ended(running, 15000);
    if (!shown || word != "Scanning completed") {
        std::fprintf(stderr, "dialog_timer: the scan did not complete (status: %s)\n", word.c_str());
        return 1;
    }
    std::printf("%lu %s %lu\n", static_cast<unsigned long>(elapsed), scanned.c_str(),
                static_cast<unsigned long>(memory.PeakWorkingSetSize / 1024));
    return 0;
}
