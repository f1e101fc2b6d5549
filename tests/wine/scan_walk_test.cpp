// The scan session over real drives: c: is the prefix's own drive and d: a
// fixture tree made here (and, for the over-long path, by the setup hook).
// A recording handler takes the place of the examinations, and a real window
// receives the status and line messages.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scan/ScanSession.h"
#include "scan/ScanState.h"
#include "scan/VirusHandler.h"
#include "wine/harness/Harness.h"
#include "wine/support/Win32TestSupport.h"

namespace {

// The drive walk's files, and the process images the memory pass offers
// before it (shown and examined, never counted).
std::vector<std::string> offered;
std::vector<std::string> offeredInMemory;
RecordedResults results;

std::int32_t Record(const char*, const char* path)
{
    if (memoryScanMode) {
        // The memory pass comes first: no drive file may have been offered yet.
        if (!offered.empty()) ReportFailure(__FILE__, __LINE__, std::string("image offered after the walk: ") + path);
        offeredInMemory.push_back(path);
    } else {
        offered.push_back(path);
    }
    return 0;
}

const VirusHandler kRecordingTable[] = {{"record", Record}, {nullptr, nullptr}};

void MakeFixture()
{
    CreateDirectoryA("D:\\tree", nullptr);
    CreateDirectoryA("D:\\tree\\one", nullptr);
    CreateDirectoryA("D:\\tree\\one\\two", nullptr);
    CreateDirectoryA("D:\\tree\\one\\two\\three", nullptr);
    CreateDirectoryA("D:\\tree\\empty", nullptr);
    CreateDirectoryA("D:\\Program Files", nullptr);
    CreateDirectoryA("D:\\Program Files\\App", nullptr);
    CHECK(WriteWholeFile("D:\\root.txt", "root"));
    CHECK(WriteWholeFile("D:\\tree\\hidden.dat", "h", FILE_ATTRIBUTE_HIDDEN));
    CHECK(WriteWholeFile("D:\\tree\\readonly.dat", "r", FILE_ATTRIBUTE_READONLY));
    CHECK(WriteWholeFile("D:\\tree\\system.dat", "s", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN));
    CHECK(WriteWholeFile("D:\\tree\\one\\a.exe", "a"));
    CHECK(WriteWholeFile("D:\\tree\\one\\two\\b.com", "b"));
    CHECK(WriteWholeFile("D:\\tree\\one\\two\\three\\c", "no extension"));
    CHECK(WriteWholeFile("D:\\Program Files\\App\\app.exe", "app"));
}

std::vector<std::string> OfferedOn(char drive)
{
    std::vector<std::string> paths;
    for (const std::string& path : offered) {
        if (path[0] == drive) paths.push_back(path);
    }
    return paths;
}

bool Contains(const std::vector<std::string>& list, const std::string& text)
{
    return std::find(list.begin(), list.end(), text) != list.end();
}

}  // namespace

WINE_TEST(SessionWalksFixedDrivesFilesFirstAndCountsEveryFile)
{
    UseRealPlatform();
    ResetScanGlobals();
    MakeFixture();
    ScanState.resultSink = reinterpret_cast<WindowRef>(MakeResultSink(results));
    if (ScanState.resultSink == 0) {
        ReportFailure(__FILE__, __LINE__, "no window to receive the results");
        return;
    }
    CHECK_EQ(static_cast<UINT>(DRIVE_FIXED), GetDriveTypeA("D:\\"));
    UseHandlerTable(kRecordingTable);

    CHECK_EQ(1, RunScanSession());
    const std::vector<std::string>& statuses = results.statuses;
    const std::vector<std::string>& lines = results.lines;

    std::vector<std::string> expectedC, expectedD;
    FilesInWalkOrder("C:\\", expectedC);
    FilesInWalkOrder("D:\\", expectedD);
    CHECK(OfferedOn('C') == expectedC);
    CHECK(OfferedOn('D') == expectedD);
    CHECK_EQ(expectedC.size() + expectedD.size(), offered.size());
    CHECK_EQ(static_cast<long>(offered.size()), static_cast<long>(ScanStatistics.filesScanned));

    // The memory pass offered the running images, this program's among
    // them, without counting them.
    char ownImage[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, ownImage, sizeof ownImage);
    bool ownOffered = false;
    for (const std::string& image : offeredInMemory) {
        if (lstrcmpiA(image.c_str(), ownImage) == 0) ownOffered = true;
    }
    if (!ownOffered) ReportFailure(__FILE__, __LINE__, std::string("own image not offered: ") + ownImage);

    // Hidden, read-only and system files are offered like any other.
    for (const char* path : {"D:\\tree\\hidden.dat", "D:\\tree\\readonly.dat", "D:\\tree\\system.dat",
                             "D:\\tree\\one\\two\\three\\c", "D:\\Program Files\\App\\app.exe"}) {
        if (!Contains(offered, path)) ReportFailure(__FILE__, __LINE__, std::string("not offered: ") + path);
    }
    // The folder linked back to its parent is shown but not entered.
    CHECK(Contains(statuses, "D:\\tree\\loop"));
    for (const std::string& path : offered) {
        if (path.find("\\loop\\") != std::string::npos) ReportFailure(__FILE__, __LINE__, "walked into " + path);
    }
    // Files of a folder come before the files of its subfolders.
    std::vector<std::string> onD = OfferedOn('D');
    auto at = [&onD](const char* path) { return std::find(onD.begin(), onD.end(), path) - onD.begin(); };
    CHECK(at("D:\\tree\\hidden.dat") < at("D:\\tree\\one\\a.exe"));
    CHECK(at("D:\\tree\\one\\a.exe") < at("D:\\tree\\one\\two\\b.com"));
    // The file whose path fits exactly is offered; deeper ones are passed over.
    bool longOffered = false;
    for (const std::string& path : offered) {
        CHECK(path.size() < MAX_PATH);
        if (path.find("fits.txt") != std::string::npos) longOffered = true;
        if (path.find("beyond.txt") != std::string::npos) ReportFailure(__FILE__, __LINE__, "offered " + path);
    }
    CHECK(longOffered);
    // Status: every path shortened to 60 characters, then the final word.
    for (const std::string& status : statuses) CHECK(status.size() <= 60);
    CHECK(Contains(statuses, "D:\\tree\\one"));
    CHECK(Contains(statuses, "D:\\tree\\one\\."));
    CHECK_STREQ("Scanning completed", statuses.empty() ? "" : statuses.back());
    // The statistics block closes the results.
    CHECK_EQ(5u, lines.size());
    if (lines.size() == 5) {
        CHECK_STREQ("Scanning statistics", lines[0]);
        CHECK_STREQ("------------------------------", lines[1]);
        CHECK_STREQ("Total files scanned\t\t:  " + std::to_string(offered.size()), lines[2]);
        CHECK_STREQ("Total files infected\t\t:  0", lines[3]);
        CHECK_STREQ("Total files removed\t\t:  0", lines[4]);
    }
    UseHandlerTable(nullptr);
}
