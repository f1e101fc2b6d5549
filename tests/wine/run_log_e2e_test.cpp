// The run log with the real programs: after Quellor.exe scans the demo
// drive, Quellor.log in the program's data folder (beside the quarantine)
// holds the run's record: the time, the program and the system, every line
// of the results list in its order, the quarantine entry of each of the six
// removals (entries the store really holds), the statistics and the
// restart question's answer. The entry the log names for setup.exe is
// given back with the command the log prints; then quellor-scan.exe --log
// records its own run the same way, naming a file whose long name the ANSI
// code page cannot spell by a path that opens it.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "wine/harness/Harness.h"
#include "wine/support/DialogDriver.h"
#include "wine/support/ProgramRun.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const DWORD kRunTimeout = 240000;
const char kConsoleLog[] = "C:\\logs\\console.log";

const char* const kSamples[] = {
    "D:\\Downloads\\setup.exe", "D:\\Downloads\\tools\\update.exe", "D:\\Mail\\photos.zip",
    "D:\\Mail\\newsletter.htm", "D:\\Mail\\greeting.vbs",          "D:\\Downloads\\postcard.vbs",
};

// A name with a macron and Cyrillic letters: no single-byte code page
// spells it.
const wchar_t kForeignFolder[] = L"D:\\Foreign";
const wchar_t kForeignFile[] = L"D:\\Foreign\\s\x0101tup-\x0444.exe";

std::string DataFolder()
{
    char folder[MAX_PATH] = "";
    if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_COMMON_APPDATA, FALSE)) return std::string();
    return std::string(folder) + "\\Quellor";
}

// The log's lines, each of which must end in CR LF.
std::vector<std::string> LogLines(const std::string& path)
{
    std::string text;
    std::vector<std::string> lines;
    if (!ReadWholeFile(path, text)) {
        ReportFailure(__FILE__, __LINE__, "cannot read " + path);
        return lines;
    }
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ReportFailure(__FILE__, __LINE__, "a line without its end in " + path);
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// The system line as the test itself reads the version.
std::string SystemLine()
{
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return "System: (not NT)";
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    char text[128];
    std::snprintf(text, sizeof text, "System: Windows NT %lu.%lu build %lu%s", version.dwMajorVersion,
                  version.dwMinorVersion, version.dwBuildNumber, wow64 ? " (WoW64)" : "");
    return text;
}

std::string ProgramLine(const char* program)
{
    return std::string("Program: ") + program + " 7.0 (" + std::to_string(sizeof(void*) * 8) + "-bit)";
}

// Checks one record's header at `at`; the index of its first line after it.
std::size_t CheckHeader(const std::vector<std::string>& log, std::size_t at, const char* program)
{
    CHECK(log.size() >= at + 3);
    if (log.size() < at + 3) return log.size();
    CHECK(StartsWith(log[at], "=== Quellor run "));
    CHECK(log[at].size() == std::strlen("=== Quellor run 2023-11-14 22:13:20 UTC"));
    CHECK_STREQ(ProgramLine(program), log[at + 1]);
    CHECK_STREQ(SystemLine(), log[at + 2]);
    return at + 3;
}

// The entry id of a "    Quarantine entry ID (undo: ...)" line; empty for
// any other line.
std::string EntryOf(const std::string& line)
{
    const std::string start = "    Quarantine entry ";
    if (!StartsWith(line, start) || line.size() < start.size() + 8) return std::string();
    const std::string id = line.substr(start.size(), 8);
    CHECK_STREQ(start + id + " (undo: quellor-scan --restore " + id + ")", line);
    return id;
}

}  // namespace

WINE_TEST(TheDialogsRunIsRecordedBesideTheStoreAndTheConsoleRecordsItsOwn)
{
    const std::string data = DataFolder();
    const std::string logPath = data + "\\Quellor.log";
    CHECK(!data.empty());
    CHECK(!PathPresent(logPath));

    std::vector<std::string> list;
    CHECK(ScanToTheEnd(list, kRunTimeout));
    CHECK_EQ(12u, list.size());

    // The record: the header, then the list's lines in order, each removal
    // followed by its entry, then the final word and the restart answer.
    const std::vector<std::string> log = LogLines(logPath);
    std::size_t at = CheckHeader(log, 0, "Quellor.exe");
    std::vector<std::string> ids;
    std::string setupId;
    for (const std::string& line : list) {
        CHECK(at < log.size());
        if (at >= log.size()) return;
        CHECK_STREQ(line, log[at]);
        ++at;
        bool removal = false;
        for (const char* sample : kSamples) removal = removal || StartsWith(line, std::string(sample) + "     ");
        if (!removal) continue;
        const std::string id = at < log.size() ? EntryOf(log[at]) : std::string();
        if (id.empty()) {
            ReportFailure(__FILE__, __LINE__, "no quarantine entry after: " + line);
            continue;
        }
        ++at;
        CHECK(PathPresent(data + "\\Quarantine\\" + id + ".QMF"));
        for (const std::string& other : ids) CHECK(other != id);
        ids.push_back(id);
        if (StartsWith(line, "D:\\Downloads\\setup.exe     ")) setupId = id;
    }
    CHECK_EQ(6u, ids.size());
    CHECK_EQ(at + 2, log.size());
    if (at + 2 == log.size()) {
        CHECK_STREQ("Scanning completed", log[at]);
        CHECK_STREQ("Restart question: not asked", log[at + 1]);
    }
    // The statistics are the list's last lines, so they are in the record.
    CHECK_STREQ("Total files removed\t\t:  6", list.back());

    // The undo the record names gives the file back.
    CHECK_EQ(8u, setupId.size());
    Finished restored = RunInstalledScanner("--restore " + setupId);
    CHECK_EQ(0u, restored.status);
    CHECK(PathPresent("D:\\Downloads\\setup.exe"));

    // The console's record of a scan that only reports: the restored file,
    // and one whose long name the code page cannot spell.
    CHECK(CreateDirectoryA("C:\\logs", nullptr));
    CHECK(CreateDirectoryW(kForeignFolder, nullptr));
    std::string setup;
    CHECK(ReadWholeFile("D:\\Downloads\\setup.exe", setup));
    {
        HANDLE file = CreateFileW(kForeignFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        CHECK(file != INVALID_HANDLE_VALUE &&
              WriteFile(file, setup.data(), static_cast<DWORD>(setup.size()), &written, nullptr));
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    Finished console = RunInstalledScanner(std::string("--no-memory --log ") + kConsoleLog + " D:\\Downloads D:\\Foreign");
    CHECK_EQ(1u, console.status);
    CHECK(console.err.empty());
    const std::vector<std::string> record = LogLines(kConsoleLog);
    at = CheckHeader(record, 0, "quellor-scan");
    // Its lines are the ones the console printed, and the record ends as
    // the dialog's does.
    std::vector<std::string> printed;
    for (const std::string& line : console.out) printed.push_back(line);
    CHECK_EQ(printed.size() + 1, record.size() - at);
    for (std::size_t i = 0; i < printed.size() && at + i < record.size(); ++i) CHECK_STREQ(printed[i], record[at + i]);
    CHECK_STREQ("Restart question: not asked", record.back());
    CHECK_STREQ("D:\\Downloads\\setup.exe     W32/Murkel.A.Trojan not disinfected as per user's selection",
                record.size() > at ? record[at] : std::string());
    // The foreign file is named by a path that opens it, not by the '?' of
    // its long name.
    bool foreignNamed = false;
    for (const std::string& line : record) {
        if (!StartsWith(line, "D:\\Foreign\\")) continue;
        foreignNamed = true;
        const std::string path = line.substr(0, line.find("     "));
        CHECK(path.find('?') == std::string::npos);
        wchar_t longName[MAX_PATH] = L"";
        CHECK(GetLongPathNameW(std::wstring(path.begin(), path.end()).c_str(), longName, MAX_PATH) > 0);
        CHECK(std::wstring(kForeignFile) == longName);
    }
    CHECK(foreignNamed);
}
