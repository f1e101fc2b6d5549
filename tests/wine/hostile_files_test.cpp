// Files that try the walk's assumptions, on a real file system under the
// real backend: names the ANSI code page cannot spell, which are reached,
// acted on and named through their short (8.3) names, and files of 4 GiB
// and more, which have no 32-bit length and so are never matched by size.
// The setup hook leaves the 4 GiB holes, the check hook looks at what is
// left from the Linux side and lets a simulated restart carry out the
// deletion scheduled under a short name.
#include <windows.h>

#include <string>
#include <vector>

#include "fixtures/InfectedFiles.h"
#include "fixtures/ScriptStandIns.h"
#include "platform/win32/Win32Platform.h"
#include "scan/BinaryExamination.h"
#include "scan/ScanSession.h"
#include "scan/ScanState.h"
#include "scan/SignatureRecord.h"
#include "scan/VirusHandler.h"
#include "wine/harness/Harness.h"
#include "wine/support/Win32TestSupport.h"

namespace {

RecordedResults results;

const SignatureRecord& Unpacker() { return SignatureTable[2]; }  // W32/Murkel.A.Trojan

// Walks one folder pattern with the real handler table and the delete
// action; the result lines it sent.
std::vector<std::string> WalkAndRecord(const char* pattern)
{
    static HWND sink = MakeResultSink(results);
    UseRealPlatform();
    ResetScanGlobals();
    cleanAction = kActionDelete;
    ScanState.resultSink = reinterpret_cast<WindowRef>(sink);
    UseHandlerTable(nullptr);
    results.lines.clear();
    if (sink == nullptr) {
        ReportFailure(__FILE__, __LINE__, "no window to receive the results");
        return results.lines;
    }
    WalkFolder(pattern);
    return results.lines;
}

void CheckLines(const std::vector<std::string>& expected, const std::vector<std::string>& lines)
{
    CHECK_EQ(expected.size(), lines.size());
    for (std::size_t i = 0; i < expected.size() || i < lines.size(); ++i) {
        CHECK_EQ(i < expected.size() ? expected[i] : std::string("(none)"),
                 i < lines.size() ? lines[i] : std::string("(none)"));
    }
}

// ---------------------------------------------------------------- names

std::string Ansi(const std::wstring& text)
{
    char out[MAX_PATH * 2] = "";
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out, sizeof out, nullptr, nullptr);
    return out;
}

bool AnsiSpells(const std::wstring& text)
{
    char out[MAX_PATH * 2];
    BOOL usedDefault = FALSE;
    return WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out, sizeof out, nullptr, &usedDefault) > 0 &&
           !usedDefault;
}

// The short form of a path, in the ANSI code page; empty when there is none.
std::string ShortPathOf(const std::wstring& path)
{
    wchar_t out[MAX_PATH] = L"";
    DWORD length = GetShortPathNameW(path.c_str(), out, MAX_PATH);
    return length > 0 && length < MAX_PATH ? Ansi(out) : std::string();
}

bool PresentW(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteWide(const std::wstring& path, const std::string& content)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

// Whether the wide and the ANSI path open one and the same file.
bool SameFile(const std::wstring& wide, const std::string& ansi)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE a = CreateFileW(wide.c_str(), 0, share, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE b = CreateFileA(ansi.c_str(), 0, share, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION ia, ib;
    bool same = a != INVALID_HANDLE_VALUE && b != INVALID_HANDLE_VALUE && GetFileInformationByHandle(a, &ia) &&
                GetFileInformationByHandle(b, &ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
                ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
    if (a != INVALID_HANDLE_VALUE) CloseHandle(a);
    if (b != INVALID_HANDLE_VALUE) CloseHandle(b);
    return same;
}

// Cyrillic and CJK: no single-byte code page spells both.
const wchar_t kFolder[] = L"D:\\Hostile";
const wchar_t kCyrillicFolder[] = L"D:\\Hostile\\\x041F\x0430\x043F\x043A\x0430";  // "Papka"

struct HostileFile {
    std::wstring path;
    bool infected;
    bool heldOpen;  // by this program, sharing reading but not deletion
};

// In walk order: the files of D:\Hostile before those of its subfolder.
std::vector<HostileFile> HostileFiles()
{
    return {
        {L"D:\\Hostile\\\x66F8\x985E\x0444.exe", true, true},
        {std::wstring(kCyrillicFolder) + L"\\\x6587\x4EF6\x0444\x0430\x0439\x043B.exe", true, false},
        {std::wstring(kCyrillicFolder) + L"\\\x0447\x0438\x0441\x0442\x043E.txt", false, false},
    };
}

// ---------------------------------------------------------------- huge files

const long long kFourGibibytes = 1LL << 32;

// A file the setup hook made as a 4 GiB hole, given `content` at its start
// and again just past 4 GiB, so its low 32 bits of length are the
// content's length and both ends hold what a detection looks for.
bool FillHugeFile(const std::string& path, const std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    for (long long at : {0LL, kFourGibibytes}) {
        LARGE_INTEGER position;
        position.QuadPart = at;
        DWORD written = 0;
        ok = ok && SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
             WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
             written == content.size();
    }
    CloseHandle(file);
    return ok;
}

long long SizeOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

struct HugeRow {
    const char* huge;     // a 4 GiB hole of the setup hook
    const char* control;  // the same content at its own length
    std::string content;
    const char* threat;
    const char* outcome;
};

}  // namespace

WINE_TEST(NamesTheCodePageCannotSpellAreReachedAndNamedThroughTheirShortNames)
{
    CreateDirectoryW(kFolder, nullptr);
    CreateDirectoryW(kCyrillicFolder, nullptr);
    const std::string infectedPe = infected::SignaturePe(Unpacker());
    const std::vector<HostileFile> files = HostileFiles();

    // Each name is one the code page cannot spell, whose short path opens it.
    std::vector<std::string> shortPaths;
    for (const HostileFile& file : files) {
        const std::string name = Ansi(file.path);
        CHECK(!AnsiSpells(file.path));
        if (!WriteWide(file.path, file.infected ? infectedPe : std::string("plain text\r\n"))) {
            ReportFailure(__FILE__, __LINE__, "setup: cannot write " + name);
            return;
        }
        shortPaths.push_back(ShortPathOf(file.path));
        if (shortPaths.back().empty() || shortPaths.back().find('?') != std::string::npos ||
            !SameFile(file.path, shortPaths.back())) {
            ReportFailure(__FILE__, __LINE__, "setup: no short path reaches " + name + ": " + shortPaths.back());
            return;
        }
    }
    HANDLE holder = CreateFileW(files[0].path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    CHECK(holder != INVALID_HANDLE_VALUE);

    const std::vector<std::string> lines = WalkAndRecord("D:\\Hostile\\*.*");
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);

    // Every infected file is named by its short path: removed, or, while held
    // open, scheduled for deletion at the next start under that path.
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!files[i].infected) continue;
        expected.push_back(shortPaths[i] + "     W32/Murkel.A.Trojan" +
                           (files[i].heldOpen ? " Unable to remove" : " removed"));
        CHECK_EQ(files[i].heldOpen, PresentW(files[i].path));
        CHECK_EQ(files[i].heldOpen, PendingDeletionOf(shortPaths[i]));
    }
    CheckLines(expected, lines);
    CHECK(PresentW(files[2].path));
    CHECK_EQ(3, ScanStatistics.filesScanned);
    CHECK_EQ(2, ScanStatistics.filesInfected);
    CHECK_EQ(1, ScanStatistics.filesRemoved);
    CHECK_EQ(1, ScanState.restartNeeded);
}

WINE_TEST(FilesOfFourGibibytesOrMoreHaveNoLengthAndAreNeverMatchedBySize)
{
    const std::vector<HugeRow> rows = {
        {"D:\\Huge\\huge.exe", "D:\\Huge\\control.exe", infected::SignaturePe(Unpacker()), "W32/Murkel.A.Trojan",
         "removed"},
        {"D:\\Huge\\huge.vbs", "D:\\Huge\\control.vbs", standin::WormScriptI(), "W32/MurkEl.I.Worm", "Virus removed"},
    };
    Win32Platform platform;
    std::vector<std::string> controlLines;
    for (const HugeRow& row : rows) {
        // Without its hole the file would not be what the test is about.
        if (SizeOf(row.huge) != kFourGibibytes || !FillHugeFile(row.huge, row.content) ||
            SizeOf(row.huge) != kFourGibibytes + static_cast<long long>(row.content.size()) ||
            !WriteWholeFile(row.control, row.content)) {
            ReportFailure(__FILE__, __LINE__, std::string("setup: cannot make ") + row.huge);
            return;
        }
        FileRef file = platform.OpenForRead(row.huge);
        CHECK(file != kNoFile);
        CHECK_EQ(-1, platform.FileLength(file));
        platform.CloseFile(file);
        // The control copy is detected: the content is in the right place.
        controlLines.push_back(std::string(row.control) + "     " + row.threat + " " + row.outcome);
    }
    // The control lines in the order the walk meets the files.
    std::vector<std::string> order, expected;
    FilesInWalkOrder("D:\\Huge\\", order);
    for (const std::string& path : order) {
        for (const std::string& line : controlLines) {
            if (line.compare(0, path.size() + 1, path + " ") == 0) expected.push_back(line);
        }
    }

    CheckLines(expected, WalkAndRecord("D:\\Huge\\*.*"));
    for (const HugeRow& row : rows) {
        CHECK_EQ(kFourGibibytes + static_cast<long long>(row.content.size()), SizeOf(row.huge));
        CHECK(!PathPresent(row.control));
    }
    CHECK_EQ(4, ScanStatistics.filesScanned);
}
