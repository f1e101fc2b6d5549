// What is done with the entries of the quarantine in use (scan/Quarantine.h):
// listing them, reading one, giving a file back, and removing an entry.
//
// Nothing here trusts the store: an entry is named by its id, every file
// name comes from that id or from a manifest field that passed the
// manifest's checks, and a kept copy is checked against its manifest's
// length and SHA-256 before anything is written. A file is given back
// only under the name it is asked for, never over an existing file.
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
    StoreWriteFailed    // the file could not be written, or the entry not removed
};

// Calls `visit` for each entry of the store, in the order its folder lists
// them, with the entry as its manifest records it, or null when that
// manifest is damaged. The number of entries visited.
typedef void (*StoreVisitor)(const char* id, const QuarantineEntry* entry, void* context);
std::size_t ListQuarantine(StoreVisitor visit, void* context);

// The entry `id` as its manifest records it.
StoreResult ReadQuarantineEntry(const char* id, QuarantineEntry& entry);

// Writes the file kept as entry `id` to `target` (an engine path), making
// the folders of that path that are missing, and then removes the entry.
// The copy is checked whole before anything is written; the file is
// written beside its target first and takes the target's name only once
// it is complete, so a failure leaves no part of it behind.
StoreResult RestoreQuarantineEntry(const char* id, const char* target);

// Removes entry `id`: its manifest first (the entry is gone), then its
// copy. An entry whose manifest is damaged loses its manifest and the copy
// named after its id.
StoreResult PurgeQuarantineEntry(const char* id);
