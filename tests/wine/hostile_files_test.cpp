// Files that try the walk's assumptions, on a real file system under the
// real backend: names the ANSI code page cannot spell (it lacks their
// characters, or has only look-alikes that name another file or the parent
// folder), which are reached, acted on and named through their short (8.3)
// names, and files of 4 GiB and more, which have no 32-bit length and so are
// never matched by size.
// The setup hook leaves the 4 GiB holes, the check hook looks at what is
// left from the Linux side and lets a simulated restart carry out the
// deletion scheduled under a short name.
#include <windows.h>

#include <algorithm>
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

std::wstring Wide(const std::string& text)
{
    wchar_t out[MAX_PATH * 2] = L"";
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out, MAX_PATH * 2);
    return out;
}

// Whether the code page spells the text exactly: what comes back from it is
// the text again. The system's conversion puts '?' in place of a character
// the code page lacks, or a look-alike where it has one ("\x0100" becomes
// "A", a fullwidth full stop '.').
bool AnsiSpells(const std::wstring& text)
{
    wchar_t back[MAX_PATH * 2] = L"";
    MultiByteToWideChar(CP_ACP, 0, Ansi(text).c_str(), -1, back, MAX_PATH * 2);
    return text == back;
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

const wchar_t kFolder[] = L"D:\\Hostile";
// Cyrillic and CJK: no single-byte code page spells both.
const wchar_t kCyrillicFolder[] = L"D:\\Hostile\\\x041F\x0430\x043F\x043A\x0430";
// Two fullwidth full stops, which the code page's look-alikes make "..".
const wchar_t kDotsFolder[] = L"D:\\Hostile\\\xFF0E\xFF0E";

struct HostileFile {
    std::wstring path;
    bool infected;
    bool heldOpen;  // by this program, sharing reading but not deletion
    bool foreign;   // its name is one the code page cannot spell exactly
};

std::vector<HostileFile> HostileFiles()
{
    return {
        {L"D:\\Hostile\\\x66F8\x985E\x0444.exe", true, true, true},
        // Its look-alike name is that of the clean file beside it.
        {L"D:\\Hostile\\\x0100pple.exe", true, false, true},
        {L"D:\\Hostile\\Apple.exe", false, false, false},
        {std::wstring(kCyrillicFolder) + L"\\\x6587\x4EF6\x0444\x0430\x0439\x043B.exe", true, false, true},
        {std::wstring(kCyrillicFolder) + L"\\\x0447\x0438\x0441\x0442\x043E.txt", false, false, true},
        {std::wstring(kDotsFolder) + L"\\inside.exe", true, false, true},
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
    for (const wchar_t* folder : {kFolder, kCyrillicFolder, kDotsFolder}) CreateDirectoryW(folder, nullptr);
    const std::string infectedPe = infected::SignaturePe(Unpacker());
    const std::vector<HostileFile> files = HostileFiles();

    // Each foreign name is one the code page cannot spell, whose short path
    // opens it.
    std::vector<std::string> paths;
    for (const HostileFile& file : files) {
        const std::string name = Ansi(file.path);
        CHECK_EQ(!file.foreign, AnsiSpells(file.path));
        if (!WriteWide(file.path, file.infected ? infectedPe : std::string("plain text\r\n"))) {
            ReportFailure(__FILE__, __LINE__, "setup: cannot write " + name);
            return;
        }
        paths.push_back(file.foreign ? ShortPathOf(file.path) : name);
        if (paths.back().empty() || !AnsiSpells(Wide(paths.back())) || !SameFile(file.path, paths.back())) {
            ReportFailure(__FILE__, __LINE__, "setup: no short path reaches " + name + ": " + paths.back());
            return;
        }
    }
    HANDLE holder = CreateFileW(files[0].path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    CHECK(holder != INVALID_HANDLE_VALUE);

    std::vector<std::string> lines = WalkAndRecord("D:\\Hostile\\*.*");
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);

    // Every infected file is named by its short path: removed, or, while held
    // open, scheduled for deletion at the next start under that path. (The
    // order of the lines is the enumeration's, which is the file system's.)
    std::vector<std::string> expected;
    int infected = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const bool stays = !files[i].infected || files[i].heldOpen;
        CHECK_EQ(stays, PresentW(files[i].path));
        if (!files[i].infected) continue;
        ++infected;
        expected.push_back(paths[i] + "     W32/Murkel.A.Trojan" + (files[i].heldOpen ? " Unable to remove" : " removed"));
        CHECK_EQ(files[i].heldOpen, PendingDeletionOf(paths[i]));
    }
    std::sort(expected.begin(), expected.end());
    std::sort(lines.begin(), lines.end());
    CheckLines(expected, lines);
    CHECK_EQ(static_cast<long>(files.size()), static_cast<long>(ScanStatistics.filesScanned));
    CHECK_EQ(infected, ScanStatistics.filesInfected);
    CHECK_EQ(infected - 1, ScanStatistics.filesRemoved);
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
