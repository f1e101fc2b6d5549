// One change of a hive file, made so that nothing this program or libhivex
// does wrong, and nothing another user does to the disk's names meanwhile,
// can leave the hive half-written or write anywhere else:
// - the new file is created beside the hive, in the hive's held folder,
//   only where no entry has its name (a leftover of an interrupted change
//   is removed first; one that cannot be removed stops the change);
// - a child process opens the hive for writing through the descriptor
//   that was checked, makes the one edit and commits it into the new file
//   through that file's descriptor, reads it back (it must hold the old
//   hive less what was deleted, HiveDigest.h), flushes it and exits 0; any
//   failed libhivex call or check ends it without handing the file over,
//   and a crash inside the library ends only the child;
// - this process checks the new file, gives it the header that keeps
//   Windows from replaying the hive's transaction logs over it
//   (HiveLogs.h), flushes it, gives it the hive's owner and mode through
//   its descriptor, checks that the hive's name still stands for the hive
//   that was read and the new name for the new file, renames the new file
//   over the hive within the held folder, checks the name now stands for
//   the new file, and flushes the folder. Before the rename the hive is
//   the old one; after it, the new one.
// No step opens, writes or changes anything through a name it did not just
// create; whatever stands at a name when a check fails is left as it is.
#pragma once

#include <hivex.h>

#include <cstddef>
#include <functional>
#include <string>

#include "platform/hive/HiveFile.h"
#include "platform/hive/HivePlatform.h"

struct HiveEdit {
    enum Kind { DeleteKey, DeleteValue } kind;
    hive_node_h key;         // the key deleted, or the key that holds the value
    std::string keyName;     // its name as stored (UTF-8), checked again in the child
    std::size_t valueIndex;  // DeleteValue: the value's position among the key's values
    hive_value_h value;      // and its handle, checked again in the child
};

// What tests add to a change.
struct HiveWriteHooks {
    HivePlatform::ChangeFault fault = HivePlatform::ChangeFault::None;
    std::function<void(HivePlatform::ChangeStep)> step;  // called after each step; may be empty
};

// Writes the edit into the hive `hive` (checked by the caller just before).
// True when the hive's name now stands for the changed hive, whose
// descriptor (read and write) is then `written`; false with `why` when the
// hive was not changed (or, rarely, when its name was taken over by
// something else right at the rename, which `why` then says).
bool WriteHiveEdit(const HiveFile& hive, const HiveEdit& edit, const HiveWriteHooks& hooks, int& written,
                   std::string& why);
