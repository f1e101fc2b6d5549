#include "scan/QuarantineHold.h"

#include <cstdint>

#include "scan/BoundedText.h"
#include "scan/Quarantine.h"
#include "scan/Wow64View.h"

namespace {

// How long a run waits for another run's step on the store: a keep of the
// largest file kept takes a few seconds on a slow disk.
const int kHoldAttempts = 150;
const std::uint32_t kHoldWaitMs = 100;

int depth = 0;
HoldResult outer = HoldNotNeeded;
LockRef hold = 0;
bool opened = false;
// Another run held the store once for longer than a run waits: later steps
// of this run do not wait again.
bool busy = false;

HoldResult TakeHold()
{
    if (!ReachableExists(ActiveQuarantine().folder)) return HoldNotNeeded;
    char lock[kPathBufferSize];
    if (!QuarantineFilePath(kStoreLockName, lock, sizeof lock)) return HoldNotNeeded;
    if (busy) return HoldRefused;
    for (int attempt = 0; attempt < kHoldAttempts; ++attempt) {
        if (attempt > 0) Sys().Wait(kHoldWaitMs);
        const PathLockResult taken = TakeReachablePathLock(lock, hold);
        if (taken == PathLockTaken) return HoldTaken;
        if (taken == PathLockUnavailable) return HoldNotNeeded;
    }
    busy = true;
    return HoldRefused;
}

}  // namespace

HoldResult HoldQuarantine()
{
    if (depth > 0) {
        ++depth;
        return outer;
    }
    const HoldResult result = TakeHold();
    if (result == HoldRefused) return result;
    depth = 1;
    outer = result;
    if (result == HoldTaken && !opened) {
        opened = true;
        RepairQuarantine();
    }
    return result;
}

void ReleaseQuarantine()
{
    if (depth == 0 || --depth > 0) return;
    if (hold != 0) Sys().ReleasePathLock(hold);
    hold = 0;
}

void ForgetQuarantineOpening()
{
    opened = false;
    busy = false;
}
