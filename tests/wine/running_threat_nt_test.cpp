// A running threat with Quellor.exe on the NT family (the prefix's default
// version). The NT memory pass names every process's image through psapi,
// so it meets the threat itself: it ends the process by its id and has the
// image removed at once.
#include <windows.h>

#include "platform/Platform.h"
#include "scan/SystemVersion.h"
#include "wine/harness/Harness.h"
#include "wine/support/RunningThreat.h"

WINE_TEST(NtMemoryPassEndsTheThreatByItsIdAndRemovesItsImageFirst)
{
    ThreatRun run;
    if (!StartThreatAndBystander(run, kPlatformNT)) return;

    // What the pass works from: psapi names the threat's image by its path.
    ProcessRef process = Sys().OpenProcessById(kProcessQueryRead, run.threat.dwProcessId);
    char image[kPathBufferSize] = "";
    if (process) {
        Sys().ProcessImagePath(process, image, sizeof image);
        Sys().CloseProcess(process);
    }
    CHECK_STREQ(kThreatImage, image);

    ScanAndCheck(run, MemoryPassFindsIt);
}
