// The checks a hive file passes before this program reads or writes it,
// made on the file's own bytes (its header block and the chain of bins),
// not through libhivex: libhivex trusts the header's sizes when it writes.
#pragma once

#include <string>

enum class HiveVerdict {
    Sound,      // header and bins agree with the file
    Dirty,      // sound, but Windows did not close it cleanly (sequence numbers differ)
    Damaged     // not a hive, truncated, or its sizes do not fit the file
};

// `why` says what is wrong when the verdict is not Sound.
HiveVerdict CheckHiveFile(const std::string& hostPath, std::string& why);
