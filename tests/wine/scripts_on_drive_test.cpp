// Scripts and web pages on a real drive, through Quellor.exe: the three
// script stand-ins are removed, each with its "Virus removed" line; a
// look-alike one byte longer stays byte for byte; and a file that both
// examination handlers would claim is reported once, by the first.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fixtures/DualClaim.h"
#include "fixtures/ScriptStandIns.h"
#include "resources/resource.h"
#include "wine/harness/Harness.h"
#include "wine/support/DialogDriver.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const DWORD kStartTimeout = 30000;
const DWORD kScanTimeout = 240000;

std::string Line(const std::string& path, const char* threat, const char* outcome)
{
    return path + "     " + threat + " " + outcome;
}

std::size_t Mentions(const std::vector<std::string>& lines, const std::string& path)
{
    return static_cast<std::size_t>(std::count_if(
        lines.begin(), lines.end(), [&path](const std::string& line) { return line.find(path) != std::string::npos; }));
}

}  // namespace

WINE_TEST(ScriptStandInsGoWithTheirLinesTheLookAlikeStaysAndADoubleClaimIsReportedOnce)
{
    CreateDirectoryA("D:\\Web", nullptr);
    struct Written {
        std::string path;
        const char* threat;
        const char* outcome;
    };
    std::vector<Written> removed;
    for (const standin::ScriptStandIn& standIn : standin::kScriptStandIns) {
        const std::string path = std::string("D:\\Web\\") + standIn.fileName;
        CHECK(WriteWholeFile(path, standIn.build()));
        removed.push_back({path, standIn.threat, "Virus removed"});
    }
    const std::string lookAlike = "D:\\Web\\copy-of-" + std::string(standin::kScriptStandIns[1].fileName);
    const std::string lookAlikeBytes = standin::kScriptStandIns[1].build() + " ";
    CHECK(WriteWholeFile(lookAlike, lookAlikeBytes));
    const std::string both = "D:\\Web\\both.htm";
    CHECK(WriteWholeFile(both, infected::DualClaimFile()));
    removed.push_back({both, ArchiveWormTable[infected::kDualClaimWormRow].name, "removed"});

    Running running;
    if (!Start(running, kStartTimeout)) {
        ReportFailure(__FILE__, __LINE__, "the main dialog did not appear");
        return;
    }
    Press(running.dialog, IDC_SCAN);
    CHECK(WaitForFinalWord(running, "Scanning completed", kScanTimeout));
    const std::vector<std::string> lines = ListLines(running.dialog);

    for (const Written& file : removed) {
        const std::string line = Line(file.path, file.threat, file.outcome);
        if (std::find(lines.begin(), lines.end(), line) == lines.end()) {
            ReportFailure(__FILE__, __LINE__, "missing line: " + line);
        }
        CHECK_EQ(1u, Mentions(lines, file.path));
        CHECK(!PathPresent(file.path));
    }
    CHECK_EQ(0u, Mentions(lines, lookAlike));
    std::string kept;
    CHECK(ReadWholeFile(lookAlike, kept));
    CHECK(kept == lookAlikeBytes);
    // Four removals, nothing else, then the statistics.
    CHECK_EQ(4u + 6u, lines.size());
    if (!lines.empty()) CHECK_STREQ("Total files removed\t\t:  4", lines.back());

    Press(running.dialog, IDC_OK_BUTTON);
    CHECK(Ended(running, 10000));
}
