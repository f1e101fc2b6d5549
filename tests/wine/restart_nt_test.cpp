// Delete-on-restart on the NT family with the real backend. The setup hook
// makes Wine report Windows XP; the check hook reads the pending renames
// from the Linux side and lets Wine carry them out in a simulated restart.
#include <windows.h>

#include <string>
#include <vector>

#include "scan/BinaryExamination.h"
#include "scan/BoundedText.h"
#include "scan/DeleteOnRestart.h"
#include "scan/Quarantine.h"
#include "scan/QuarantineStore.h"
#include "scan/ScanState.h"
#include "scan/SystemVersion.h"
#include "wine/harness/Harness.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const char kFolder[] = "D:\\Mail Helper Folder";
const char kTarget[] = "D:\\Mail Helper Folder\\mail checker.exe";
const char kLockedFolder[] = "D:\\Locked Tools";
const char kLocked[] = "D:\\Locked Tools\\locked tool.exe";
const char kLockedContent[] = "MZ harmless stand-in, held open by the test";
const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";

// The strings of PendingFileRenameOperations (source, target, source,
// target, ...); empty when the value is missing.
std::vector<std::string> PendingRenames()
{
    std::vector<std::string> strings;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS) return strings;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ && size > 0) {
        std::string data(size, '\0');
        if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                             reinterpret_cast<BYTE*>(&data[0]), &size) == ERROR_SUCCESS) {
            data.resize(size);
            // Each string ends in a zero; the list ends in an empty string.
            std::size_t start = 0;
            while (start < data.size()) {
                std::size_t end = data.find('\0', start);
                if (end == std::string::npos) end = data.size();
                if (end == start && end + 1 >= data.size()) break;
                strings.push_back(data.substr(start, end - start));
                start = end + 1;
            }
        }
    }
    RegCloseKey(key);
    return strings;
}

// True when the list holds a deletion (empty target) of `path`.
bool HoldsDeletionOf(const std::vector<std::string>& renames, const std::string& path)
{
    for (std::size_t i = 0; i + 1 < renames.size(); i += 2) {
        if (renames[i] == "\\??\\" + path && renames[i + 1].empty()) return true;
    }
    return false;
}

std::string WininitPath()
{
    char folder[MAX_PATH];
    GetWindowsDirectoryA(folder, sizeof folder);
    return std::string(folder) + "\\wininit.ini";
}

}  // namespace

WINE_TEST(RunsOnTheNtFamily)
{
    UseRealPlatform();
    CHECK_EQ(5, GetPlatformClass());
}

WINE_TEST(SchedulingRecordsADelayedDeletionOfTheLongPath)
{
    UseRealPlatform();
    CreateDirectoryA(kFolder, nullptr);
    CHECK(WriteWholeFile(kTarget, "MZ harmless stand-in"));
    CHECK(!HoldsDeletionOf(PendingRenames(), kTarget));

    CHECK(ScheduleDeleteOnRestart(kTarget));

    CHECK(HoldsDeletionOf(PendingRenames(), kTarget));
    CHECK(PathPresent(kTarget));  // only at the next start
    CHECK(!PathPresent(WininitPath()));
}

WINE_TEST(RefusedRequestIsNotReportedAsScheduled)
{
    // The system records a deletion of a path that does not (yet) exist, but
    // refuses one it cannot turn into a system path, such as an empty one.
    // The refusal must come back as "not scheduled".
    UseRealPlatform();
    std::vector<std::string> before = PendingRenames();
    CHECK(!ScheduleDeleteOnRestart(""));
    CHECK(before == PendingRenames());
}

WINE_TEST(ALockedFileIsKeptInTheQuarantineBeforeItsDeletionAtTheNextStart)
{
    // A file held open without delete sharing cannot be deleted now; it can
    // still be read, so it is kept before its deletion is scheduled. The
    // check hook sees it go at the simulated restart, and then brings it
    // back from the quarantine with quellor-scan.exe.
    UseRealPlatform();
    ResetScanGlobals();
    CreateDirectoryA(kLockedFolder, nullptr);
    CHECK(WriteWholeFile(kLocked, kLockedContent));
    HANDLE holder = CreateFileA(kLocked, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(holder != INVALID_HANDLE_VALUE);
    RecordedResults results;
    ScanState.resultSink = reinterpret_cast<WindowRef>(MakeResultSink(results));
    UseDefaultQuarantine();
    CHECK(QuarantineActive());
    cleanAction = kActionDelete;
    CopyText(lastThreatName, sizeof lastThreatName, "W32/Murkel.A.Trojan");

    ApplyCleanAction(kLocked);
    CloseHandle(holder);

    CHECK(results.lines == std::vector<std::string>{std::string(kLocked) + "     W32/Murkel.A.Trojan Unable to remove"});
    CHECK(HoldsDeletionOf(PendingRenames(), kLocked));
    CHECK(PathPresent(kLocked));
    // The entry is complete before the restart: it lists and would restore.
    std::vector<QuarantineEntry> entries;
    ListQuarantine([](const char*, const QuarantineEntry* entry, void* context) {
        if (entry) static_cast<std::vector<QuarantineEntry>*>(context)->push_back(*entry);
    }, &entries);
    CHECK_EQ(1u, entries.size());
    if (!entries.empty()) {
        CHECK_STREQ(kLocked, entries[0].originalPath);
        CHECK_EQ(sizeof kLockedContent - 1, entries[0].length);
    }
    ResetScanGlobals();
}
