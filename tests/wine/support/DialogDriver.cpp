#include "wine/support/DialogDriver.h"

#include <cstdio>

#include "resources/resource.h"

const char kDriverProgram[] = "C:\\Quellor\\Quellor.exe";
const char kDriverTitle[] = "Quellor Ver 7.0";

namespace {

struct WindowSearch {
    DWORD processId;
    int controlId;  // a control the wanted window holds
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    if (std::string(title) != kDriverTitle || !GetDlgItem(window, search->controlId)) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

HWND FindProcessWindow(DWORD processId, int controlId)
{
    WindowSearch search = {processId, controlId, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string TextOf(HWND window)
{
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ItemText(HWND dialog, int id)
{
    return TextOf(GetDlgItem(dialog, id));
}

bool Shown(HWND dialog, int id)
{
    return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE;
}

bool Enabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

SIZE SizeOf(HWND dialog, int id)
{
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    SIZE size = {rect.right - rect.left, rect.bottom - rect.top};
    return size;
}

void Press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::vector<std::string> ListLines(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_RESULTS_LIST);
    std::vector<std::string> lines;
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    // The text crosses the process boundary in its wide form.
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t wide[600] = L"";
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length < 0 || length >= 600) continue;
        SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(wide));
        char line[1200] = "";
        WideCharToMultiByte(CP_ACP, 0, wide, -1, line, sizeof line, nullptr, nullptr);
        lines.push_back(line);
    }
    return lines;
}

bool Launch(Running& running)
{
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    ZeroMemory(&running.process, sizeof running.process);
    running.dialog = nullptr;
    char commandLine[] = "C:\\Quellor\\Quellor.exe";
    return CreateProcessA(kDriverProgram, commandLine, nullptr, nullptr, FALSE, 0, nullptr, "C:\\Quellor", &startup,
                          &running.process) != FALSE;
}

bool Start(Running& running, DWORD timeout)
{
    if (!Launch(running)) return false;
    DWORD id = running.process.dwProcessId;
    DWORD status = 0;
    WaitFor([&] { return (running.dialog = FindProcessWindow(id, IDC_SCAN)) != nullptr || HasEnded(running, status); },
            timeout);
    return running.dialog != nullptr;
}

bool HasEnded(const Running& running, DWORD& status)
{
    if (WaitForSingleObject(running.process.hProcess, 0) != WAIT_OBJECT_0) return false;
    if (!GetExitCodeProcess(running.process.hProcess, &status)) status = 0;
    return true;
}

bool Ended(Running& running, DWORD timeout)
{
    bool ended = WaitForSingleObject(running.process.hProcess, timeout) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(running.process.hProcess, 1);
    CloseHandle(running.process.hProcess);
    CloseHandle(running.process.hThread);
    return ended;
}

HWND WaitForPrompt(Running& running, DWORD timeout)
{
    HWND prompt = nullptr;
    WaitFor([&] { return (prompt = FindProcessWindow(running.process.dwProcessId, IDC_PROMPT_MESSAGE)) != nullptr; },
            timeout);
    return prompt;
}

bool WaitForFinalWord(Running& running, const char* word, DWORD timeout)
{
    HWND dialog = running.dialog;
    return WaitFor([&] { return ItemText(dialog, IDC_STATUS_TEXT) == word && Shown(dialog, IDC_OK_BUTTON); }, timeout);
}

bool ReadScreenPixels(const RECT& box, WORD bitsPerPixel, bool topDown, BITMAPINFOHEADER& header,
                      std::vector<char>& pixels)
{
    const int width = box.right - box.left, height = box.bottom - box.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, box.left, box.top, SRCCOPY);
    SelectObject(memory, previous);

    ZeroMemory(&header, sizeof header);
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = topDown ? -height : height;
    header.biPlanes = 1;
    header.biBitCount = bitsPerPixel;
    header.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * bitsPerPixel / 8 + 3) & ~3u;
    pixels.assign(stride * static_cast<DWORD>(height), 0);
    int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                         reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return rows == height;
}

bool SaveScreenArea(const std::string& path, const RECT* area)
{
    Sleep(300);  // let the last paint land
    RECT box;
    SetRect(&box, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    if (area) {
        RECT screen = box;
        if (!IntersectRect(&box, &screen, area)) return false;
    }
    BITMAPINFOHEADER header;
    std::vector<char> pixels;
    if (!ReadScreenPixels(box, 24, false, header, pixels)) return false;

    BITMAPFILEHEADER file;
    ZeroMemory(&file, sizeof file);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    bool written = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&header, sizeof header, 1, out) == 1 &&
                   std::fwrite(pixels.data(), 1, pixels.size(), out) == pixels.size();
    return std::fclose(out) == 0 && written;
}

RECT VisibleBox(HWND window)
{
    RECT box = {0, 0, 0, 0};
    GetWindowRect(window, &box);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    RECT shape;
    if (region && GetWindowRgn(window, region) != ERROR && GetRgnBox(region, &shape) != ERROR) {
        // The region is in the window's own coordinates.
        OffsetRect(&shape, box.left, box.top);
        box = shape;
    }
    if (region) DeleteObject(region);
    return box;
}

bool ScanToTheEnd(std::vector<std::string>& lines, DWORD timeout)
{
    lines.clear();
    Running running;
    if (!Start(running, 30000)) return false;
    Press(running.dialog, IDC_SCAN);
    const bool completed = WaitForFinalWord(running, "Scanning completed", timeout);
    lines = ListLines(running.dialog);
    Press(running.dialog, IDC_OK_BUTTON);
    return Ended(running, 10000) && completed;
}
