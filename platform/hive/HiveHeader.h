// The checks a hive file passes before this program reads or writes it,
// made on the header block's own bytes: libhivex takes the header's size of
// the bins at its word when it writes (a size beyond the file makes it grow
// the hive to that size), and it reads a hive that Windows did not close
// cleanly without a word. The bins and cells are libhivex's to check when
// it opens the file, for reading and for writing alike.
#pragma once

#include <string>

enum class HiveVerdict {
    Sound,      // header and bins agree with the file
    Dirty,      // sound, but Windows did not close it cleanly (sequence numbers differ)
    Damaged     // not a hive, or the header's sizes do not fit the file (truncated)
};

// `why` says what is wrong when the verdict is not Sound.
HiveVerdict CheckHiveFile(const std::string& hostPath, std::string& why);
