#include "wine/support/Win32TestSupport.h"

#include "platform/HeadCachePlatform.h"
#include "platform/win32/Win32Platform.h"
#include "scan/ScanState.h"

void UseRealPlatform()
{
    static Win32Platform platform;
    static HeadCachePlatform files(platform);
    SetPlatform(&files);
}

bool WriteWholeFile(const std::string& path, const std::string& content, DWORD attributes)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // so that a read-only file can be replaced
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != content.size()) return false;
    return attributes == 0 || SetFileAttributesA(path.c_str(), attributes);
}

bool ReadWholeFile(const std::string& path, std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    content.clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(file);
    return true;
}

bool PathPresent(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void FilesInWalkOrder(const std::string& folder, std::vector<std::string>& files)
{
    WIN32_FIND_DATAA data;
    std::vector<std::string> subfolders;
    HANDLE search = FindFirstFileA((folder + "*.*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = data.cFileName;
        const std::string path = folder + name;
        if (path.size() >= MAX_PATH) continue;
        const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool linked = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        const bool dots = name == "." || name == "..";
        if (!isFolder) files.push_back(path);
        else if (!dots && !linked && path.size() + 4 < MAX_PATH) subfolders.push_back(path + "\\");
    } while (FindNextFileA(search, &data));
    FindClose(search);
    for (const std::string& subfolder : subfolders) FilesInWalkOrder(subfolder, files);
}

bool PendingDeletionOf(const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return false;
    }
    std::wstring data(32768, L'\0');
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    bool read = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&data[0]), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    std::wstring wanted(path.size() + 1, L'\0');
    int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wanted[0], static_cast<int>(wanted.size()));
    if (!read || length <= 0) return false;
    data.resize(size / sizeof(wchar_t));
    wanted.resize(static_cast<std::size_t>(length - 1));
    // Sources and targets alternate, each ending in a zero; a deletion has
    // an empty target.
    wanted = L"\\??\\" + wanted + L'\0' + L'\0';
    CharUpperBuffW(&data[0], static_cast<DWORD>(data.size()));
    CharUpperBuffW(&wanted[0], static_cast<DWORD>(wanted.size()));
    return data.find(wanted) != std::wstring::npos;
}

namespace {

const char kResultSinkClass[] = "QuellorTestResultSink";

LRESULT CALLBACK ResultSinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    RecordedResults* results = reinterpret_cast<RecordedResults*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (results && message == ShowStatusMessage) {
        results->statuses.push_back(ScanState.statusText);
        return 0;
    }
    if (results && message == AppendLineMessage) {
        results->lines.push_back(ScanState.lineText);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

HWND MakeResultSink(RecordedResults& results)
{
    static const bool registered = [] {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ResultSinkProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = kResultSinkClass;
        return RegisterClassA(&windowClass) != 0;
    }();
    if (!registered) return nullptr;
    HWND window = CreateWindowA(kResultSinkClass, "sink", 0, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr),
                                nullptr);
    if (window) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&results));
    return window;
}
