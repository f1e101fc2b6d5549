// Delete-on-restart on the NT family with the real backend. The setup hook
// makes Wine report Windows XP; the check hook reads the pending renames
// from the Linux side and lets Wine carry them out in a simulated restart.
#include <windows.h>

#include <string>
#include <vector>

#include "scan/DeleteOnRestart.h"
#include "scan/SystemVersion.h"
#include "wine/harness/Harness.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const char kFolder[] = "D:\\Mail Helper Folder";
const char kTarget[] = "D:\\Mail Helper Folder\\mail checker.exe";
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
