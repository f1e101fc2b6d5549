// quellor-scan.exe as a user runs it, from another process with its
// standard output and error captured: over the demo samples on d: it gives
// the very result lines Quellor.exe gives over the same files, and its exit
// status says what it found: 0 nothing, 1 found and handled as asked, 3 a
// restart is needed to finish, 2 a usage error or something that could not
// be read. The setup hook puts both programs and the sample maker in
// C:\Quellor.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fixtures/InfectedFiles.h"
#include "resources/resource.h"
#include "scan/SignatureRecord.h"
#include "wine/harness/Harness.h"
#include "wine/support/DialogDriver.h"
#include "wine/support/ProgramRun.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const DWORD kRunTimeout = 240000;
const char kScanner[] = "C:\\Quellor\\quellor-scan.exe";
const char kSampleMaker[] = "C:\\Quellor\\make_demo_samples.exe";
// Runs the program; a program that cannot be started is a failure.
Finished Run(const char* program, const std::string& arguments)
{
    Finished finished = RunProgram(program, arguments, kRunTimeout);
    if (!finished.started) ReportFailure(__FILE__, __LINE__, std::string("cannot start ") + program);
    return finished;
}

bool MakeDemoSamples()
{
    Finished made = Run(kSampleMaker, "D:\\");
    return made.ended && made.status == 0;
}

// The per-file result lines for d:.
std::vector<std::string> DriveDLines(const std::vector<std::string>& lines)
{
    std::vector<std::string> found;
    for (const std::string& line : lines) {
        if (line.compare(0, 3, "D:\\") == 0) found.push_back(line);
    }
    return found;
}

void CheckSameLines(const std::vector<std::string>& expected, const std::vector<std::string>& actual)
{
    CHECK_EQ(expected.size(), actual.size());
    for (std::size_t i = 0; i < expected.size() || i < actual.size(); ++i) {
        CHECK_EQ(i < expected.size() ? expected[i] : std::string("(none)"),
                 i < actual.size() ? actual[i] : std::string("(none)"));
    }
}

bool Holds(const std::vector<std::string>& lines, const std::string& wanted)
{
    for (const std::string& line : lines) {
        if (line == wanted) return true;
    }
    return false;
}

// The path a per-file line names.
std::string PathOf(const std::string& line)
{
    return line.substr(0, line.find("     "));
}

}  // namespace

WINE_TEST(ConsoleScannerGivesTheDialogsLinesOverTheSameDrive)
{
    if (!MakeDemoSamples()) {
        ReportFailure(__FILE__, __LINE__, "setup: the demo samples could not be made");
        return;
    }
    std::vector<std::string> files;
    FilesInWalkOrder("D:\\", files);

    Finished console = Run(kScanner, "--remove D:\\");
    CHECK(console.ended);
    CHECK_EQ(1u, console.status);
    CHECK(console.err.empty());
    const std::vector<std::string> consoleLines = DriveDLines(console.out);
    // Every demo sample but the look-alike is a detection, and each is gone.
    CHECK_EQ(files.size() - 1, consoleLines.size());
    for (const std::string& line : consoleLines) CHECK(!PathPresent(PathOf(line)));
    // Then the statistics of d: alone and the final word.
    std::vector<std::string> expectedOut = consoleLines;
    const std::string detected = std::to_string(consoleLines.size());
    for (const std::string& line : {std::string(" "), std::string("Scanning statistics"),
                                    std::string("------------------------------"),
                                    "Total files scanned\t\t:  " + std::to_string(files.size()),
                                    "Total files infected\t\t:  " + detected, "Total files removed\t\t:  " + detected,
                                    std::string("Scanning completed")}) {
        expectedOut.push_back(line);
    }
    CheckSameLines(expectedOut, console.out);

    // The same files again, through the dialog.
    if (!MakeDemoSamples()) {
        ReportFailure(__FILE__, __LINE__, "setup: the demo samples could not be made again");
        return;
    }
    Running running;
    if (!Start(running, 30000)) {
        ReportFailure(__FILE__, __LINE__, "the main dialog did not appear");
        return;
    }
    Press(running.dialog, IDC_SCAN);
    CHECK(WaitForFinalWord(running, "Scanning completed", kRunTimeout));
    const std::vector<std::string> dialogLines = DriveDLines(ListLines(running.dialog));
    Press(running.dialog, IDC_OK_BUTTON);
    CHECK(Ended(running, 10000));

    CheckSameLines(dialogLines, consoleLines);
}

namespace {

// One run of the scanner over folders of its own on d:.
struct ExitCase {
    const char* name;
    const char* arguments;
    DWORD status;
    // A line standard output must hold; when it names no d: path, the output
    // holds no per-file line at all.
    const char* line;
    const char* error;       // what the first line on standard error holds; null: nothing there
    std::size_t errorLines;  // how many lines standard error holds
    const char* infected;    // the infected file the case scans, or null
    bool removed;
    bool heldOpen;  // by this program, sharing reading but not deletion
};

const ExitCase kExitCases[] = {
    {"nothing found", "--remove D:\\Clean", 0, "Total files infected\t\t:  0", nullptr, 0, nullptr, false, false},
    {"found and removed", "--remove D:\\Removed", 1, "D:\\Removed\\setup.exe     W32/Murkel.A.Trojan removed",
     nullptr, 0, "D:\\Removed\\setup.exe", true, false},
    {"found and reported as asked", "D:\\Reported", 1,
     "D:\\Reported\\setup.exe     W32/Murkel.A.Trojan not disinfected as per user's selection", nullptr, 0,
     "D:\\Reported\\setup.exe", false, false},
    {"found, in use: removed at the next start", "--remove D:\\Held", 3,
     "D:\\Held\\setup.exe     W32/Murkel.A.Trojan Unable to remove", nullptr, 0, "D:\\Held\\setup.exe", false, true},
    {"unknown option: nothing touched", "--remove --no-such-option D:\\Untouched", 2, "", "--no-such-option", 2,
     "D:\\Untouched\\setup.exe", false, false},
    {"missing folder named in one line: nothing touched", "--remove D:\\Missing D:\\Untouched", 2, "",
     "D:\\Missing", 1, "D:\\Untouched\\setup.exe", false, false},
};

}  // namespace

WINE_TEST(ExitStatusSaysWhatWasFound)
{
    const std::string infectedPe = infected::SignaturePe(SignatureTable[2]);
    for (const char* folder : {"D:\\Clean", "D:\\Removed", "D:\\Reported", "D:\\Held", "D:\\Untouched"}) {
        CreateDirectoryA(folder, nullptr);
    }
    CHECK(WriteWholeFile("D:\\Clean\\notes.txt", "Nothing to see here.\r\n"));
    for (const ExitCase& row : kExitCases) {
        std::printf("  case %s\n", row.name);
        if (row.infected && !WriteWholeFile(row.infected, infectedPe)) {
            ReportFailure(__FILE__, __LINE__, std::string("setup: cannot write ") + row.infected);
            continue;
        }
        HANDLE holder = row.heldOpen ? CreateFileA(row.infected, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                   OPEN_EXISTING, 0, nullptr)
                                     : INVALID_HANDLE_VALUE;
        CHECK_EQ(row.heldOpen, holder != INVALID_HANDLE_VALUE);

        Finished run = Run(kScanner, row.arguments);
        if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);

        CHECK(run.ended);
        CHECK_EQ(row.status, run.status);
        const std::string line = row.line;
        const bool namesAFile = line.compare(0, 3, "D:\\") == 0;
        CHECK_EQ(namesAFile ? 1u : 0u, DriveDLines(run.out).size());
        if (!line.empty() && !Holds(run.out, line)) ReportFailure(__FILE__, __LINE__, "no line: " + line);
        CHECK_EQ(row.errorLines, run.err.size());
        if (row.error && (run.err.empty() || run.err[0].find(row.error) == std::string::npos)) {
            ReportFailure(__FILE__, __LINE__, std::string("standard error does not begin with ") + row.error);
        }
        if (row.infected) {
            CHECK_EQ(!row.removed, PathPresent(row.infected));
            CHECK_EQ(row.heldOpen, PendingDeletionOf(row.infected));
        }
    }
}
