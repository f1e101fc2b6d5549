// Holding the quarantine in use while a run changes it, and the opening of
// the store: the first time a run holds a store, what interrupted runs left
// in it is finished or cleared (scan/QuarantineRepair.cpp).
//
// The hold is the lock of the path STORE.LCK in the store, taken through the
// platform (Platform::TakePathLock; on POSIX systems that file is made in
// the store, on Windows nothing is), which the system lets go when the run
// ends however it ends. A run that finds the store held waits a while for
// the other run's step to end; a store that cannot be locked (on POSIX: a
// medium that cannot be written) is read without a hold, and nothing is
// repaired in it.
#pragma once

enum HoldResult {
    HoldTaken,      // held (by this call, or by an outer one of the same run)
    HoldNotNeeded,  // no store folder, or it cannot be locked: read without a hold
    HoldRefused     // another run held the store for longer than a run waits
};

// Holds the store in use. Every
// result but HoldRefused is paired with one ReleaseQuarantine.
HoldResult HoldQuarantine();
void ReleaseQuarantine();
// The next hold is the store's opening again (another store is used, or
// the same store by a new run).
void ForgetQuarantineOpening();

// Finishes or clears, in the held store, what interrupted runs left:
// - a copy being written (ID.QTD) is removed: its original was never
//   removed;
// - a manifest being written (ID.QTM) beside a complete copy it describes
//   (its id, its length, the copy's header) takes its name ID.QMF, which
//   finishes the entry; any other one is removed;
// - a copy without a manifest (ID.QDT: the manifest of a keep was never
//   written, or a purge removed it) is removed;
// - the note of a restore (ID.QRP) is settled: the file beside the target
//   (ID.QRS) is removed when it holds the first bytes of the entry's copy
//   or all of them, an entry whose file is back whole at its target is
//   removed, and then the note.
// What cannot be removed stays, and the entry's id is listed as damaged
// until it is purged. Only ids with such files cost more than the listing.
void RepairQuarantine();
