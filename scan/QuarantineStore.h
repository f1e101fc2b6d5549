// What is done with the entries of the quarantine in use (scan/Quarantine.h):
// listing them, reading one, giving a file back, and removing an entry.
//
// Nothing here trusts the store: an entry is named by its id and every
// file name of the store comes from that id (a manifest names its copy,
// and only ID.QDT is taken), and a kept copy is checked against its
// manifest's length and SHA-256 before anything is written. A file is given
// back only under the name it is asked for, never over an existing file.
//
// Each call that changes the store holds it (scan/QuarantineHold.h), and
// the first hold of a run opens it: what interrupted runs left is finished
// or cleared first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scan/QuarantineManifest.h"

enum StoreResult {
    StoreDone,
    StoreBadId,         // not the form of an entry's id
    StoreNoEntry,       // no entry of that id
    StoreDamaged,       // the manifest, or the kept copy, is not whole or not what the manifest says
    StoreTargetExists,  // something has the name to give the file back under
    StoreBadTarget,     // the name to give the file back under is no absolute engine path
    StoreFolderFailed,  // a missing folder of that name could not be made
    StoreWriteFailed,   // the file could not be written, or the entry not removed
    StoreBusy           // another run held the store for longer than a run waits
};

// Calls `visit` for each entry of the store, in the order its folder lists
// them, with the entry as its manifest records it, or null when it is
// damaged: its manifest is missing or not whole, or only files an
// interrupted run left (and the store's opening could not remove) have its
// id. The number of entries visited.
typedef void (*StoreVisitor)(const char* id, const QuarantineEntry* entry, void* context);
std::size_t ListQuarantine(StoreVisitor visit, void* context);

// The entry `id` as its manifest records it; StoreDamaged also when the
// store holds files of that id but no manifest.
StoreResult ReadQuarantineEntry(const char* id, QuarantineEntry& entry);

// Writes the file kept as entry `id` to `target` (an engine path), making
// the folders of that path that are missing, and then removes the entry.
// The copy is checked whole before anything is written. The store first
// notes the restore and its target as the user knows it, `recordedTarget`
// (null: `target` itself), in ID.QRP; the file is written beside its
// target as ID.QRS and takes the target's name only once it is complete
// and flushed; the target's folder is flushed before the entry is removed,
// and the note last. A failure leaves no part of the file behind, and a
// run stopped anywhere leaves the entry, or the file back whole, or both:
// the store's next opening removes what the note shows was left.
StoreResult RestoreQuarantineEntry(const char* id, const char* target, const char* recordedTarget = nullptr);

// Removes entry `id`: its manifest first (the entry is gone), then its
// copy ID.QDT and whatever else of that id the store holds. A damaged
// entry goes the same way; nothing but files named after the id is ever
// removed.
StoreResult PurgeQuarantineEntry(const char* id);
