// The console session in process over the in-memory platform, for what the
// POSIX backend never gives: every fixed drive walked when nothing is named,
// a file that can only be removed at the next start (exit status 3, with the
// restart question answered No), and a running threat that will not end.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/console/ConsoleOptions.h"
#include "app/console/ConsoleScan.h"
#include "fixtures/InfectedFiles.h"
#include "platform/fake/FakePlatform.h"
#include "scan/BinaryExamination.h"
#include "scan/Quarantine.h"
#include "scan/ScanState.h"
#include "scan/SignatureRecord.h"

namespace {

class WindowsLikeHost : public ConsoleHost {
public:
    bool AllDrivesByDefault() override { return true; }
    bool Resolve(const std::string& named, ConsoleTarget& target, std::string&) override
    {
        target.named = named;
        target.folder = true;
        target.engine = named + "\\*.*";
        return true;
    }
    void Enter(const ConsoleTarget&) override {}
    std::string Display(const ConsoleTarget*, const std::string& enginePath) override { return enginePath; }
    std::vector<std::string> NotAvailable() override { return {}; }
    std::uint64_t Milliseconds() override { return 0; }
    bool StoreFolder(const std::string& named, std::string& engineFolder, std::string& error) override
    {
        char folder[kPathBufferSize];
        if (!named.empty()) {
            engineFolder = named;
        } else if (DefaultQuarantineFolder(folder, sizeof folder)) {
            engineFolder = folder;
        } else {
            error = "no folder for the quarantine";
        }
        return !engineFolder.empty();
    }
    std::string OriginalPath(const ConsoleTarget*, const std::string& enginePath) override { return enginePath; }
    bool RestoreTarget(const std::string& recorded, const std::string& to, std::string& shown,
                       std::string& enginePath, std::string&) override
    {
        shown = enginePath = to.empty() ? recorded : to;
        return true;
    }
};

// The fake as the console session's platform: its result-sink messages go
// to the console, as the backends route them.
void UseFake(FakePlatform& fake)
{
    ResetScanGlobals();
    SetPlatform(&fake);
    fake.onNotify = [](WindowRef, std::uint32_t message) { ConsoleReceive(message); };
}

std::string ReadBack(std::FILE* stream)
{
    std::string text(65536, '\0');
    std::rewind(stream);
    text.resize(std::fread(&text[0], 1, text.size(), stream));
    std::fclose(stream);
    return text;
}

// Runs the console scan; its exit status, its standard output in `text`
// and, when asked, its standard error in `errors`, with the progress line
// shown there.
int RunAndRead(const ConsoleOptions& options, std::string& text, std::string* errors = nullptr)
{
    WindowsLikeHost host;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    if (!out || !err) {
        ADD_FAILURE() << "no temporary file";
        return -1;
    }
    const int status = RunConsoleScan(options, host, ConsoleStreams{out, err, errors != nullptr});
    text = ReadBack(out);
    const std::string errorText = ReadBack(err);
    if (errors) *errors = errorText;
    return status;
}

struct Row {
    const char* name;
    bool locked;              // the infected file cannot be deleted now
    bool scheduled;           // deleting it at the next start can be arranged
    const char* outcome;
    int status;
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

class ConsoleSession : public ::testing::TestWithParam<Row> {};

TEST_P(ConsoleSession, AllFixedDrivesAndTheRestartStatus)
{
    const Row& row = GetParam();
    FakePlatform fake;
    UseFake(fake);
    fake.AddDrive('C', DriveFixed);
    fake.AddDrive('E', DriveFixed);
    fake.AddDrive('D', DriveCdRom);
    const std::string infected = infected::SignaturePe(SignatureTable[2]);
    fake.AddFile("E:\\tools\\setup.exe", infected);
    fake.AddFile("D:\\setup.exe", infected);
    fake.AddFile("C:\\clean.txt", "clean");
    if (row.locked) fake.LockAgainstDelete("E:\\tools\\setup.exe");
    fake.rebootRemovalResult = row.scheduled;

    ConsoleOptions options = DefaultConsoleOptions();
    options.action = kActionDelete;
    options.quiet = true;
    std::string text;
    const int status = RunAndRead(options, text);

    EXPECT_EQ(row.status, status);
    EXPECT_EQ(std::string("E:\\tools\\setup.exe     W32/Murkel.A.Trojan ") + row.outcome +
                  "\n \nScanning statistics\n------------------------------\n"
                  "Total files scanned\t\t:  2\nTotal files infected\t\t:  1\nTotal files removed\t\t:  " +
                  (row.locked ? "0" : "1") + "\n",
              text);
    // The restart question is answered No: the machine is never restarted
    // from here; the exit status says a restart is due.
    EXPECT_EQ(row.locked && row.scheduled ? 1u : 0u, fake.prompts.size());
    EXPECT_TRUE(fake.rebootRequests.empty());
    ResetScanGlobals();
}

INSTANTIATE_TEST_SUITE_P(Rows, ConsoleSession,
                         ::testing::Values(Row{"Removed", false, false, "removed", kExitFound},
                                           Row{"RemovedAtNextStart", true, true, "Unable to remove", kExitRestart},
                                           Row{"NotRemovable", true, false, "Unable to remove", kExitFound}),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// What the POSIX backend never gives either: the memory scan on NT, where a
// running threat that can be neither ended nor stopped as a service makes the
// scan end the program. The console reports and chooses its own status
// instead of ending with 0 and nothing said.
TEST(ConsoleSessionMemory, ARunningThreatThatWillNotEndGivesTheStatisticsAndExitStatus3)
{
    FakePlatform fake;
    UseFake(fake);
    fake.AddDrive('C', DriveFixed);
    fake.AddFile("C:\\mem\\evil.exe", infected::SignaturePe(SignatureTable[2]));
    fake.AddFile("C:\\tools\\setup.exe", infected::SignaturePe(SignatureTable[2]));
    fake.AddProcess("C:\\mem\\evil.exe", true, false);
    fake.AddDrive('E', DriveRemovable);
    fake.AddFolder("E:\\logs");

    ConsoleOptions options = DefaultConsoleOptions();
    options.action = kActionDelete;
    options.logFile = "E:\\logs\\run.log";
    std::string text;
    const int status = RunAndRead(options, text);

    EXPECT_EQ(std::vector<int>{0}, fake.endProgramCalls);
    EXPECT_EQ(kExitRestart, status);
    // The drives wait for the restart: the file on C: is not reached.
    EXPECT_EQ(" \nScanning statistics\n------------------------------\n"
              "Total files scanned\t\t:  0\nTotal files infected\t\t:  1\nTotal files removed\t\t:  0\n"
              "Scanning terminated\n",
              text);
    EXPECT_TRUE(fake.Exists("C:\\tools\\setup.exe"));
    // The run's record ends once, where the memory scan ended the program's
    // work, with the restart question's answer (the console's No).
    const std::string log = fake.Content("E:\\logs\\run.log");
    const std::string end = "\r\n \r\nScanning statistics\r\n------------------------------\r\n"
                            "Total files scanned\t\t:  0\r\nTotal files infected\t\t:  1\r\n"
                            "Total files removed\t\t:  0\r\nScanning terminated\r\n"
                            "Restart question: No, the removal finishes at the next start\r\n";
    ASSERT_GE(log.size(), end.size());
    EXPECT_EQ(end, log.substr(log.size() - end.size()));
    EXPECT_EQ(log.find("Scanning statistics"), log.rfind("Scanning statistics"));
    ResetScanGlobals();
}

TEST(ConsoleSessionStop, AQuitStopsTheWalkAndTheStatusSaysTheScanIsIncomplete)
{
    FakePlatform fake;
    UseFake(fake);
    fake.AddDrive('C', DriveFixed);
    fake.AddFile("C:\\one.txt", "1");
    fake.AddFile("C:\\two.txt", "2");
    // What an interrupt puts in the queue of the POSIX backend.
    fake.QueueMessage(kMessageQuit);

    ConsoleOptions options = DefaultConsoleOptions();
    options.json = true;
    std::string text;
    EXPECT_EQ(kExitTrouble, RunAndRead(options, text));
    EXPECT_EQ("{\"type\":\"summary\",\"scanned\":0,\"infected\":0,\"removed\":0,\"problems\":0,\"notQuarantined\":0,"
              "\"completed\":false,\"restartNeeded\":false,\"memoryScanned\":true,\"notAvailable\":[],"
              "\"exitStatus\":2}\n",
              text);
    ResetScanGlobals();
}

// A name on the progress line is escaped like any other; only the line's
// own controls (a carriage return, the erase to its end) reach the terminal.
TEST(ConsoleSessionProgress, TheProgressLineShowsNamesEscaped)
{
    FakePlatform fake;
    UseFake(fake);
    fake.AddDrive('C', DriveFixed);
    fake.AddFile("C:\\evil\x1b]0;owned\x07\r\n.txt", "clean");
    ConsoleOptions options = DefaultConsoleOptions();
    std::string text;
    std::string errors;
    EXPECT_EQ(kExitClean, RunAndRead(options, text, &errors));
    EXPECT_NE(std::string::npos, errors.find("C:\\evil<1B>]0;owned<07><0D><0A>.txt")) << errors;
    std::string rest;
    for (std::size_t i = 0; i < errors.size(); ++i) {
        if (errors.compare(i, 3, "\033[K") == 0) i += 2;
        else if (errors[i] != '\r') rest += errors[i];
    }
    for (char c : rest) EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) << rest;
    ResetScanGlobals();
}

}  // namespace
