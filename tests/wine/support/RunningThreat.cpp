#include "wine/support/RunningThreat.h"

#include <algorithm>
#include <cstdio>

#include "platform/Platform.h"
#include "resources/resource.h"
#include "scan/SignatureMatch.h"
#include "scan/SignatureRecord.h"
#include "scan/SystemVersion.h"
#include "wine/harness/Harness.h"
#include "wine/support/Win32TestSupport.h"

const char kThreatImage[] = "D:\\waiter.exe";
const char kBystanderImage[] = "D:\\waiterkeep.exe";

namespace {

const char kWaiterProgram[] = "C:\\tests\\test_waiter.exe";
const char kProbe[] = "D:\\probe.tmp";

const DWORD kStartTimeout = 30000;
const DWORD kScanTimeout = 240000;
const DWORD kEndTimeout = 10000;

const char kSystemMemoryLine[] = "System Memory    W32/MurkEl.Trojan removed";

bool Failed(const std::string& what)
{
    ReportFailure(__FILE__, __LINE__, "setup: " + what);
    return false;
}

// The status the waiter exits with when nobody ends it.
const DWORD kWaiterEndedByItself = 3;

}  // namespace

bool StartProgram(const char* path, PROCESS_INFORMATION& process)
{
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    ZeroMemory(&process, sizeof process);
    std::string commandLine = path;
    return CreateProcessA(path, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, "C:\\", &startup, &process) !=
           FALSE;
}

bool StillRunning(const PROCESS_INFORMATION& process)
{
    return process.hProcess != nullptr && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
}

void EndProgram(PROCESS_INFORMATION& process)
{
    if (process.hProcess == nullptr) return;
    if (StillRunning(process)) TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, kEndTimeout);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    ZeroMemory(&process, sizeof process);
}

bool StartThreatAndBystander(ThreatRun& run, int platformClass)
{
    UseRealPlatform();
    CHECK_EQ(platformClass, GetPlatformClass());
    ZeroMemory(&run, sizeof run);
    run.record = kNoRecord;
    std::string program;
    if (!ReadWholeFile(kWaiterProgram, program)) return Failed(std::string("cannot read ") + kWaiterProgram);
    infected::PatternPositions positions = {0, 0};
    run.record = infected::ChooseOverlayRecord(kProbe, program, positions);
    if (run.record == kNoRecord) return Failed("no signature record fits the waiter's overlay");
    const std::string threat = infected::ProgramWithPatterns(program, SignatureTable[run.record], positions);
    if (threat.empty() || !WriteWholeFile(kThreatImage, threat) || !WriteWholeFile(kBystanderImage, program)) {
        return Failed("cannot write the waiters on d:");
    }
    const SignatureRecord& record = SignatureTable[run.record];
    std::printf("  the threat matches row %d, %s: %d bytes, patterns at %u and %u after a program of %u bytes\n",
                run.record + 1, record.name, record.fileSize, positions.first, positions.second,
                static_cast<unsigned>(program.size()));
    std::fflush(stdout);
    // What the program will see: this record first, and nothing in the
    // bystander.
    CHECK_EQ(run.record, infected::FirstSignatureHit(kThreatImage));
    CHECK_EQ(kNoRecord, infected::FirstSignatureHit(kBystanderImage));
    if (!StartProgram(kBystanderImage, run.bystander) || !StartProgram(kThreatImage, run.threat)) {
        return Failed("cannot start the waiters: error " + std::to_string(GetLastError()));
    }
    // Both run: the overlay does not keep the copy from loading.
    if (WaitForSingleObject(run.threat.hProcess, 1000) != WAIT_TIMEOUT || !StillRunning(run.bystander)) {
        return Failed("a waiter ended at once");
    }
    return true;
}

void ScanAndCheck(ThreatRun& run, ThreatFinder finder)
{
    // The files the walk will meet, counted independently of the program
    // while the threat's image is still there.
    std::vector<std::string> walkable;
    FilesInWalkOrder("C:\\", walkable);
    FilesInWalkOrder("D:\\", walkable);

    Running quellor;
    if (!Start(quellor, kStartTimeout)) {
        ReportFailure(__FILE__, __LINE__, "the main dialog did not appear");
        EndProgram(run.threat);
        EndProgram(run.bystander);
        return;
    }
    HWND dialog = quellor.dialog;
    Press(dialog, IDC_SCAN);
    // A question would hold the scan, and the memory pass may end the
    // program: stop waiting as soon as either happens.
    HWND prompt = nullptr;
    DWORD exitStatus = 0;
    WaitFor([&] {
        prompt = FindProcessWindow(quellor.process.dwProcessId, IDC_PROMPT_MESSAGE);
        return prompt != nullptr || HasEnded(quellor, exitStatus) ||
               (ItemText(dialog, IDC_STATUS_TEXT) == "Scanning completed" && Shown(dialog, IDC_OK_BUTTON));
    }, kScanTimeout);
    if (prompt) ReportFailure(__FILE__, __LINE__, "the program asked: " + ItemText(prompt, IDC_PROMPT_MESSAGE));
    if (HasEnded(quellor, exitStatus)) ReportFailure(__FILE__, __LINE__, "the program ended during the scan");
    CHECK_STREQ("Scanning completed", ItemText(dialog, IDC_STATUS_TEXT));

    // The threat was ended (status 0: terminated, not ended by itself) and
    // its image is gone.
    CHECK_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(run.threat.hProcess, kEndTimeout));
    DWORD status = kWaiterEndedByItself;
    GetExitCodeProcess(run.threat.hProcess, &status);
    CHECK_EQ(0u, static_cast<unsigned>(status));
    CHECK(!PathPresent(kThreatImage));
    // The bystander shares the first letters of the name, not the image.
    CHECK(StillRunning(run.bystander));
    CHECK(PathPresent(kBystanderImage));

    const std::string threatName = run.record >= 0 ? SignatureTable[run.record].name : "";
    std::vector<std::string> expected;
    if (finder == MemoryPassFindsIt) expected.push_back(kSystemMemoryLine);
    expected.push_back(std::string(kThreatImage) + "     " + threatName + " removed");
    // The memory pass removed the image before the walk, which then no
    // longer counts it, but counts the two files the quarantine kept of it
    // on c: (its copy and its manifest). The run log the dialog writes in
    // its data folder on c: is counted too.
    const std::size_t scanned = walkable.size() + (finder == MemoryPassFindsIt ? 2 - 1 : 0) + 1;
    const std::vector<std::string> statistics = {
        " ",
        "Scanning statistics",
        "------------------------------",
        "Total files scanned\t\t:  " + std::to_string(scanned),
        "Total files infected\t\t:  1",
        "Total files removed\t\t:  1",
    };
    expected.insert(expected.end(), statistics.begin(), statistics.end());
    const std::vector<std::string> lines = ListLines(dialog);
    CHECK_EQ(expected.size(), lines.size());
    for (std::size_t i = 0; i < std::max(expected.size(), lines.size()); ++i) {
        CHECK_EQ(i < expected.size() ? expected[i] : std::string("(none)"),
                 i < lines.size() ? lines[i] : std::string("(none)"));
    }

    Press(dialog, IDC_OK_BUTTON);
    CHECK(Ended(quellor, kEndTimeout));
    EndProgram(run.threat);
    EndProgram(run.bystander);
}
