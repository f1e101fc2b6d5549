// Driving Quellor.exe from another process, the way a user would: start it,
// find its windows by title and control id, press buttons, read what the
// controls show, and keep screenshots. Used by the end-to-end test and by the
// demo run. Each helper answers plainly; the caller decides what a failure
// means.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Where the program lies in the prefix, and the title of its windows.
extern const char kDriverProgram[];
extern const char kDriverTitle[];

// A copy of the program and its main dialog (null until it appeared).
struct Running {
    PROCESS_INFORMATION process;
    HWND dialog;
};

// The visible top-level window of the process that carries the program's
// title and holds control `controlId`; null when there is none.
HWND FindProcessWindow(DWORD processId, int controlId);

// Polls `condition` every 50 ms until it holds (true) or `timeout` ms have
// passed (false).
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeout)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeout) return false;
        Sleep(50);
    }
    return true;
}

std::string TextOf(HWND window);
std::string ItemText(HWND dialog, int id);
bool Shown(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
SIZE SizeOf(HWND dialog, int id);

// Posts the command a click on control `id` sends.
void Press(HWND dialog, int id);

// The lines of the results list, in order.
std::vector<std::string> ListLines(HWND dialog);

// Starts a copy of the program without waiting for its window.
bool Launch(Running& running);
// Starts a copy of the program and waits up to `timeout` ms for its main
// dialog.
bool Start(Running& running, DWORD timeout);
// Whether the process has ended already; its exit status in `status`.
bool HasEnded(const Running& running, DWORD& status);
// Waits up to `timeout` ms for the process to end, ends it by force if it
// does not, and closes its handles. True when it ended by itself.
bool Ended(Running& running, DWORD timeout);

// The prompt the program shows, once one appears within `timeout` ms.
HWND WaitForPrompt(Running& running, DWORD timeout);
// Waits until the status line holds `word` and OK is shown.
bool WaitForFinalWord(Running& running, const char* word, DWORD timeout);

// One whole run of the program the way a user makes it: start it, press
// SCAN, wait up to `timeout` ms for "Scanning completed", read the results
// list, press OK and wait for the program to end. False when a step did
// not happen; `lines` holds what the list held.
bool ScanToTheEnd(std::vector<std::string>& lines, DWORD timeout);

// What the screen shows inside `box`, as a device-independent bitmap of
// `bitsPerPixel` (24 or 32), its top row first when `topDown` is set;
// `header` describes the pixels. False when the screen could not be read.
bool ReadScreenPixels(const RECT& box, WORD bitsPerPixel, bool topDown, BITMAPINFOHEADER& header,
                      std::vector<char>& pixels);
// Writes what the screen shows inside `area` (the whole screen when null)
// as a 24-bit BMP file at `path`. False when the file could not be written.
bool SaveScreenArea(const std::string& path, const RECT* area);
// The window's outline on the screen: the bounding box of its region, or
// its window rectangle when it has none.
RECT VisibleBox(HWND window);
