// Drives Quellor.exe the way a user would, from another process, talking to
// its windows by control id: the start screen, a scan to its end, a scan
// stopped through the prompt, the single-instance rule, the variant shown
// when the maker's antivirus product is installed, and closing. Screenshots
// of the main moments go to C:\shots for the check hook to collect.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "wine/harness/Harness.h"
#include "wine/support/DialogDriver.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const DWORD kStartTimeout = 30000;
const DWORD kScanTimeout = 240000;

// The files the demo sample maker put on d: (see the setup hook).
struct Sample {
    const char* path;
    const char* threat;
    const char* outcome;
};
const Sample kSamples[] = {
    {"D:\\Downloads\\setup.exe", "W32/Murkel.A.Trojan", "removed"},
    {"D:\\Downloads\\tools\\update.exe", "W32/MurkEl.G.Downloader.Trojan", "removed"},
    {"D:\\Mail\\photos.zip", "W32/Bagle.C.Worm", "removed"},
    {"D:\\Mail\\newsletter.htm", "W32/MurkEl.T.Trojan", "Virus removed"},
    {"D:\\Mail\\greeting.vbs", "W32/MurkEl.F.Worm", "Virus removed"},
    {"D:\\Downloads\\postcard.vbs", "W32/MurkEl.I.Worm", "Virus removed"},
};
// A look-alike of a stand-in, one byte longer, that must stay.
const char kLookAlike[] = "D:\\Downloads\\postcard-copy.vbs";

// Writes the screen as a 24-bit BMP in C:\shots (the check hook turns it
// into PNG).
void SaveScreenshot(const char* name)
{
    CreateDirectoryA("C:\\shots", nullptr);
    SaveScreenArea(std::string("C:\\shots\\") + name + ".bmp", nullptr);
}

// Puts the mouse pointer on the middle of a control, as a user's hand would.
void PointAt(HWND dialog, int id)
{
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    // A second, slightly different position makes sure a move is reported.
    Sleep(100);
    SetCursorPos((rect.left + rect.right) / 2 + 1, (rect.top + rect.bottom) / 2);
}

// The control holding the keyboard focus in the program's user-interface
// thread.
HWND FocusOf(const Running& running)
{
    GUITHREADINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(running.process.dwThreadId, &info)) return nullptr;
    return info.hwndFocus;
}

HCURSOR CurrentCursor()
{
    CURSORINFO info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    return GetCursorInfo(&info) ? info.hCursor : nullptr;
}

// The browser recorder of the setup hook writes each page the shell was
// asked to open as one line of C:\opened-pages.txt.
bool PageOpened(const std::string& address)
{
    std::string pages;
    if (!ReadWholeFile("C:\\opened-pages.txt", pages)) return false;
    return ("\n" + pages).find("\n" + address + "\n") != std::string::npos;
}

void SetProductInstalled()
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Ferovan\\Halvex 2000", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
        const char folder[] = "C:\\Program Files\\Halvex";
        RegSetValueExA(key, "Installed Folder", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder), sizeof folder);
        RegCloseKey(key);
    }
}

struct Expected {
    int id;
    bool shown;
    bool enabled;
};

void CheckControls(HWND dialog, const std::vector<Expected>& expected)
{
    for (const Expected& row : expected) {
        if (Shown(dialog, row.id) != row.shown) {
            ReportFailure(__FILE__, __LINE__, "control " + std::to_string(row.id) + (row.shown ? " hidden" : " shown"));
        }
        if (Enabled(dialog, row.id) != row.enabled) {
            ReportFailure(__FILE__, __LINE__,
                          "control " + std::to_string(row.id) + (row.enabled ? " disabled" : " enabled"));
        }
    }
}

}  // namespace

WINE_TEST(StartScreenScanToTheEndAndCloseWithOk)
{
    Running running;
    if (!Start(running, kStartTimeout)) {
        ReportFailure(__FILE__, __LINE__, "the main dialog did not appear");
        return;
    }
    HWND dialog = running.dialog;
    CheckControls(dialog, {
        {IDC_SCAN, true, true},          {IDC_DOWNLOAD, true, true},       {IDC_CLOSE_X, true, true},
        {IDC_MAKER_LOGO, true, true},    {IDC_CANCEL_BUTTON, false, true}, {IDC_OK_BUTTON, false, false},
        {IDC_DLINK, true, true},         {IDC_ULINK, true, true},          {IDC_DESCRIPTION, true, true},
        {IDC_MAKER_NOTICE, true, true},  {IDC_PRODUCT_NOTICE, false, true}, {IDC_CAPTION_LABEL, true, true},
        {IDC_HEADING, false, true},      {IDC_STATUS_FRAME, false, true},  {IDC_STATUS_TEXT, false, true},
        {IDC_LIST_FRAME, false, true},   {IDC_RESULTS_LIST, false, true},
    });
    // Buttons take the size of their bitmaps wherever the template put them.
    const struct {
        int id;
        LONG width, height;
    } sizes[] = {{IDC_OK_BUTTON, 92, 24}, {IDC_CANCEL_BUTTON, 92, 24}, {IDC_SCAN, 180, 33}, {IDC_CLOSE_X, 21, 21},
                 {IDC_DOWNLOAD, 180, 33}};
    for (const auto& size : sizes) {
        SIZE actual = SizeOf(dialog, size.id);
        CHECK_EQ(size.width, actual.cx);
        CHECK_EQ(size.height, actual.cy);
    }
    CHECK_STREQ("Quellor Ver 7.0 - Tool to detect and remove all the variants of W32/MurkEl Trojan",
                ItemText(dialog, IDC_DESCRIPTION));
    CHECK_STREQ("for W32/MurkEl Trojan", ItemText(dialog, IDC_CAPTION_LABEL));

    // Moving the mouse onto a bitmap button gives it the keyboard focus;
    // moving on to another button moves the focus. Every button but the logo
    // shows the hand-shaped pointer, the logo the ordinary one.
    PointAt(dialog, IDC_MAKER_LOGO);
    CHECK(WaitFor([&] { return FocusOf(running) == GetDlgItem(dialog, IDC_MAKER_LOGO); }, kStartTimeout));
    HCURSOR ordinary = CurrentCursor();
    PointAt(dialog, IDC_SCAN);
    CHECK(WaitFor([&] { return FocusOf(running) == GetDlgItem(dialog, IDC_SCAN); }, kStartTimeout));
    CHECK(WaitFor([&] { return CurrentCursor() != ordinary; }, 5000));
    PointAt(dialog, IDC_DOWNLOAD);
    CHECK(WaitFor([&] { return FocusOf(running) == GetDlgItem(dialog, IDC_DOWNLOAD); }, kStartTimeout));
    SetCursorPos(1, 700);
    SaveScreenshot("1-start");

    // A second copy ends at once without a window of its own.
    Running second;
    CHECK(Launch(second));
    CHECK(Ended(second, 10000));
    CHECK(FindProcessWindow(running.process.dwProcessId, IDC_SCAN) == dialog);

    // The shot taken during the scan overwrites one saved before the count:
    // the count then holds whether the walk passes C:\shots before or after
    // that shot is saved.
    SaveScreenshot("2-scanning");
    // The files the walk can name, counted independently of the program.
    std::vector<std::string> walkable;
    FilesInWalkOrder("C:\\", walkable);
    FilesInWalkOrder("D:\\", walkable);
    // The scan also meets its own run log, which the dialog writes in its
    // data folder on c: before the walk.
    const long expectedFiles = static_cast<long>(walkable.size()) + 1;
    Press(dialog, IDC_SCAN);
    CHECK(WaitFor([&] { return Shown(dialog, IDC_RESULTS_LIST); }, kStartTimeout));
    CheckControls(dialog, {{IDC_SCAN, true, false}, {IDC_CANCEL_BUTTON, true, true}, {IDC_DLINK, false, false},
                           {IDC_ULINK, false, false}, {IDC_DESCRIPTION, false, true}, {IDC_HEADING, true, true}});
    CHECK_STREQ("Searching for W32/MurkEl Trojan and its variants", ItemText(dialog, IDC_HEADING));
    CHECK_STREQ("Scanning", ItemText(dialog, IDC_STATUS_FRAME));
    SaveScreenshot("2-scanning");

    CHECK(WaitForFinalWord(running, "Scanning completed", kScanTimeout));
    SaveScreenshot("3-finished");
    CheckControls(dialog, {{IDC_SCAN, true, false}, {IDC_CANCEL_BUTTON, false, true}, {IDC_OK_BUTTON, true, true},
                           {IDC_HEADING, false, true}, {IDC_RESULTS_LIST, true, true}});
    CHECK_STREQ("", ItemText(dialog, IDC_STATUS_FRAME));

    // The demo samples are found and removed, each with its line; then the
    // statistics block, opened by a blank line because something was found.
    std::vector<std::string> lines = ListLines(dialog);
    for (const Sample& sample : kSamples) {
        std::string line = std::string(sample.path) + "     " + sample.threat + " " + sample.outcome;
        if (std::find(lines.begin(), lines.end(), line) == lines.end()) {
            ReportFailure(__FILE__, __LINE__, "missing line: " + line);
        }
        CHECK(!PathPresent(sample.path));
    }
    CHECK(PathPresent(kLookAlike));
    // Nothing else is reported: six removals, then the statistics.
    CHECK_EQ(12u, lines.size());
    if (lines.size() >= 6) {
        std::size_t end = lines.size();
        CHECK_STREQ(" ", lines[end - 6]);
        CHECK_STREQ("Scanning statistics", lines[end - 5]);
        CHECK_STREQ("------------------------------", lines[end - 4]);
        CHECK_STREQ("Total files scanned\t\t:  " + std::to_string(expectedFiles), lines[end - 3]);
        CHECK_STREQ("Total files infected\t\t:  6", lines[end - 2]);
        CHECK_STREQ("Total files removed\t\t:  6", lines[end - 1]);
    }

    Press(dialog, IDC_OK_BUTTON);
    CHECK(Ended(running, 10000));
}

WINE_TEST(ALongScanIsStoppedOnlyWhenThePromptIsAnsweredYes)
{
    Running running;
    if (!Start(running, kStartTimeout)) {
        ReportFailure(__FILE__, __LINE__, "the main dialog did not appear");
        return;
    }
    HWND dialog = running.dialog;
    Press(dialog, IDC_SCAN);
    CHECK(WaitFor([&] { return !ItemText(dialog, IDC_STATUS_TEXT).empty() &&
                               ItemText(dialog, IDC_STATUS_TEXT) != "Static"; }, kStartTimeout));

    Press(dialog, IDCANCEL);
    HWND prompt = WaitForPrompt(running, kStartTimeout);
    if (!prompt) {
        ReportFailure(__FILE__, __LINE__, "no prompt after CANCEL");
        Ended(running, 0);
        return;
    }
    CHECK_STREQ("Terminate the Scan now?", ItemText(prompt, IDC_PROMPT_MESSAGE));
    CHECK(Shown(prompt, IDC_PROMPT_YES));
    CHECK(Shown(prompt, IDC_PROMPT_NO));
    CHECK(!Shown(prompt, IDC_PROMPT_OK_ALONE));
    CHECK(!Shown(prompt, IDC_PROMPT_OK));
    SaveScreenshot("4-prompt");

    // No: the scan goes on.
    std::string before = ItemText(dialog, IDC_STATUS_TEXT);
    PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(IDC_PROMPT_NO, BN_CLICKED), 0);
    CHECK(WaitFor([&] { return !IsWindow(prompt); }, kStartTimeout));
    CHECK(WaitFor([&] { return ItemText(dialog, IDC_STATUS_TEXT) != before; }, kStartTimeout));
    CHECK(Shown(dialog, IDC_CANCEL_BUTTON));

    // DOWNLOAD during the scan asks the shell for the download page while
    // the scan goes on.
    Press(dialog, IDC_DOWNLOAD);
    CHECK(WaitFor([] { return PageOpened("http://www.example.com/halvex"); }, kStartTimeout));
    CHECK_STREQ("Searching for W32/MurkEl Trojan and its variants", ItemText(dialog, IDC_HEADING));

    // The Escape key reaches the walk between two files and asks the same
    // question; Yes: the walk stops, the statistics still follow.
    PostMessageA(GetDlgItem(dialog, IDC_CANCEL_BUTTON), WM_KEYDOWN, VK_ESCAPE, 0);
    prompt = WaitForPrompt(running, kStartTimeout);
    CHECK(prompt != nullptr);
    if (prompt) {
        CHECK_STREQ("Terminate the Scan now?", ItemText(prompt, IDC_PROMPT_MESSAGE));
        PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(IDC_PROMPT_YES, BN_CLICKED), 0);
    }
    CHECK(WaitForFinalWord(running, "Scanning terminated", kScanTimeout));
    CHECK(!Shown(dialog, IDC_CANCEL_BUTTON));
    CHECK(Shown(dialog, IDC_OK_BUTTON));
    std::vector<std::string> lines = ListLines(dialog);
    CHECK(!lines.empty() && lines.back().compare(0, 19, "Total files removed") == 0);

    // After the scan the close button ends the program without asking.
    Press(dialog, IDC_CLOSE_X);
    CHECK(Ended(running, 10000));
}

WINE_TEST(WithTheProductInstalledTheDownloadOffersAreWithdrawn)
{
    SetProductInstalled();
    Running running;
    if (!Start(running, kStartTimeout)) {
        ReportFailure(__FILE__, __LINE__, "the main dialog did not appear");
        return;
    }
    HWND dialog = running.dialog;
    CheckControls(dialog, {{IDC_PRODUCT_NOTICE, true, true}, {IDC_DLINK, false, false}, {IDC_DOWNLOAD, true, false},
                           {IDC_ULINK, true, true}, {IDC_SCAN, true, true}});
    CHECK_STREQ("This program is a part of Halvex antivirus software.", ItemText(dialog, IDC_PRODUCT_NOTICE));
    SaveScreenshot("5-product-installed");

    // The utilities link asks the shell to open its page.
    Press(dialog, IDC_ULINK);
    CHECK(WaitFor([] { return PageOpened("http://www.example.com/ferovan/tools"); }, kStartTimeout));

    // Escape before a scan closes the dialog.
    Press(dialog, IDCANCEL);
    CHECK(Ended(running, 10000));
}
