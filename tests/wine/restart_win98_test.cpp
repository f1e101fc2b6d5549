// Delete-on-restart on the Windows 95/98/ME family with the real backend.
// The setup hook makes Wine report Windows 98 and leaves a wininit.ini with
// other sections in C:\tests\wininit.prepared (made on the Linux side); the
// check hook looks at the result from the Linux side and lets Wine's
// simulated restart process it.
#include <windows.h>

#include <string>
#include <vector>

#include "scan/DeleteOnRestart.h"
#include "scan/SystemVersion.h"
#include "wine/harness/Harness.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const char kFolder[] = "D:\\Mail Helper Folder";
const char kFirst[] = "D:\\Mail Helper Folder\\first stand-in.exe";
const char kSecond[] = "D:\\Mail Helper Folder\\second stand-in.scr";
const char kThird[] = "D:\\Mail Helper Folder\\third stand-in.pif";
const char kPrepared[] = "C:\\tests\\wininit.prepared";

std::string WindowsFile(const char* name)
{
    char folder[MAX_PATH];
    GetWindowsDirectoryA(folder, sizeof folder);
    return std::string(folder) + "\\" + name;
}

std::string ShortPath(const char* path)
{
    char shortPath[MAX_PATH];
    DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
    return length > 0 && length < sizeof shortPath ? std::string(shortPath, length) : std::string();
}

bool PendingRenamesMention(const std::string& text)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0, size = 0;
    std::string data;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        size > 0) {
        data.assign(size, '\0');
        RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                         &size);
    }
    RegCloseKey(key);
    return data.find(text) != std::string::npos;
}

void MakeStandIns()
{
    CreateDirectoryA(kFolder, nullptr);
    CHECK(WriteWholeFile(kFirst, "MZ harmless stand-in 1"));
    CHECK(WriteWholeFile(kSecond, "MZ harmless stand-in 2"));
    CHECK(WriteWholeFile(kThird, "MZ harmless stand-in 3"));
}

void CheckNoLeftovers()
{
    CHECK(!PathPresent(WindowsFile("wininit.new")));
    CHECK(!PathPresent(WindowsFile("wininit.old")));
}

}  // namespace

WINE_TEST(RunsOnTheWindows9xFamily)
{
    UseRealPlatform();
    CHECK_EQ(4, GetPlatformClass());
}

WINE_TEST(MissingWininitIsCreatedWithTheSectionAndTheShortPath)
{
    UseRealPlatform();
    MakeStandIns();
    std::string wininit = WindowsFile("wininit.ini");
    CHECK(!PathPresent(wininit));
    std::string shortPath = ShortPath(kFirst);
    CHECK(!shortPath.empty());
    CHECK(shortPath.find(' ') == std::string::npos);
    CHECK(shortPath != kFirst);

    CHECK(ScheduleDeleteOnRestart(kFirst));

    std::string content;
    CHECK(ReadWholeFile(wininit, content));
    CHECK_EQ("[rename]\r\nNUL=" + shortPath + "\r\n", content);
    CHECK(PathPresent(kFirst));
    CheckNoLeftovers();
    // Leave the prepared file in its place for the next case.
    CHECK(DeleteFileA(wininit.c_str()));
}

WINE_TEST(ExistingWininitKeepsItsSectionsAndGainsTwoEntries)
{
    UseRealPlatform();
    std::string wininit = WindowsFile("wininit.ini");
    std::string prepared;
    CHECK(ReadWholeFile(kPrepared, prepared));
    CHECK(CopyFileA(kPrepared, wininit.c_str(), FALSE));

    CHECK(ScheduleDeleteOnRestart(kSecond));
    CHECK(ScheduleDeleteOnRestart(kThird));

    // The entries close the [rename] section, in scheduling order, directly
    // before the next section's header.
    std::string::size_type next = prepared.find("[386Enh]");
    CHECK(next != std::string::npos);
    std::string expected = prepared.substr(0, next) + "NUL=" + ShortPath(kSecond) + "\r\nNUL=" +
                           ShortPath(kThird) + "\r\n" + prepared.substr(next);
    std::string content;
    CHECK(ReadWholeFile(wininit, content));
    CHECK_EQ(expected, content);
    CHECK(PathPresent(kSecond));
    CHECK(PathPresent(kThird));
    CheckNoLeftovers();
}

WINE_TEST(NoDelayedMoveIsRequestedOnThisFamily)
{
    UseRealPlatform();
    CHECK(!PendingRenamesMention("stand-in"));
}
