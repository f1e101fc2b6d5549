// One change of a hive file, made so that nothing this program or
// libhivex does wrong can leave the hive half-written:
// - a child process opens the hive for writing, makes the one edit and
//   commits it to a new file beside the hive, reads that file back (it must
//   hold the old hive less what was deleted, HiveDigest.h), flushes it and
//   exits 0; any failed libhivex call or check ends it without handing the
//   file over, and a crash inside the library ends only the child;
// - this process checks the new file, renames it over the hive and flushes
//   the folder. Before the rename the hive is the old one; after it, the
//   new one.
// The caller has checked the hive file (HiveHeader.h) just before.
#pragma once

#include <hivex.h>

#include <cstddef>
#include <string>

#include "platform/hive/HivePlatform.h"

struct HiveEdit {
    enum Kind { DeleteKey, DeleteValue } kind;
    hive_node_h key;         // the key deleted, or the key that holds the value
    std::string keyName;     // its name as stored (UTF-8), checked again in the child
    std::size_t valueIndex;  // DeleteValue: the value's position among the key's values
    hive_value_h value;      // and its handle, checked again in the child
};

// True when the hive file at `hostPath` now holds the edit; false with
// `why` when it is unchanged.
bool WriteHiveEdit(const std::string& hostPath, const HiveEdit& edit, HivePlatform::ChangeFault fault,
                   std::string& why);
