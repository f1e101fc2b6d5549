// A running threat with Quellor.exe on the Windows 95/98/ME family (the
// setup hook makes Wine report Windows 98). The 9x memory pass examines only
// images whose path it can read, and Wine's Tool Help names each process by
// the bare name of its image: the pass passes the threat over, the drive
// walk meets its image, the deletion fails while the process runs, and the
// process is ended by the name of its image (TerminateByImage9x, which must
// spare the bystander whose name merely begins the same) before the
// deletion is tried again.
//
// Only the PE32 program ever meets a Windows 98 system; Wine reports the
// same version to the x64 program, which takes the same engine path, so the
// path is shown on machines that run no 32-bit program too.
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/Platform.h"
#include "scan/SystemVersion.h"
#include "wine/harness/Harness.h"
#include "wine/support/RunningThreat.h"

namespace {

// The image name Tool Help reports for the process, through the backend.
std::string ToolHelpName(DWORD processId)
{
    std::string name;
    SnapshotRef snapshot = Sys().ProcessSnapshot();
    if (snapshot == 0) return name;
    ProcessEntry entry;
    std::memset(&entry, 0, sizeof entry);
    for (bool more = Sys().ProcessFirst(snapshot, entry); more; more = Sys().ProcessNext(snapshot, entry)) {
        if (entry.processId == processId) name = entry.exeFile;
    }
    Sys().SnapshotClose(snapshot);
    return name;
}

}  // namespace

WINE_TEST(Win98ToolHelpGivesBareNamesSoTheDriveWalkEndsTheThreatByName)
{
    ThreatRun run;
    if (!StartThreatAndBystander(run, kPlatformWin9x)) return;

    // A bare name, where Windows 98 itself gives the full path.
    CHECK_STREQ("waiter.exe", ToolHelpName(run.threat.dwProcessId));
    CHECK_STREQ("waiterkeep.exe", ToolHelpName(run.bystander.dwProcessId));

    ScanAndCheck(run, DriveWalkFindsIt);
}
