// The checks a hive file passes before this program reads or writes it,
// made on the header block's own bytes: libhivex takes the header's size of
// the bins at its word when it writes (a size beyond the file makes it grow
// the hive to that size), it reads a hive that Windows did not close
// cleanly without a word, and for writing it reads the whole file into
// memory. The bins and cells are libhivex's to check when it opens the
// file, for reading and for writing alike.
//
// And the header a changed hive is given before it replaces the hive, so
// that Windows loads it as it was written (HiveLogs.h says why).
#pragma once

#include <cstdint>
#include <string>

enum class HiveVerdict {
    Sound,      // header and bins agree with the file
    Dirty,      // sound, but Windows did not close it cleanly (sequence numbers differ)
    Damaged     // not a hive, its sizes do not fit the file, or it is larger than any hive of Windows
};

// Checks the hive file open as `fd` (read from it, never through a name).
// `why` says what is wrong when the verdict is not Sound.
HiveVerdict CheckHiveFile(int fd, std::string& why);

// The primary sequence number of the hive file open as `fd`; false when
// its header cannot be read.
bool ReadHiveSequence(int fd, std::uint32_t& sequence);

// Gives the hive file open as `fd` (for writing) `sequence` as both of its
// sequence numbers and `filetime` as its last written time, in its header
// and in its first bin's copy of that time, with the header's checksum.
bool SealHiveHeader(int fd, std::uint32_t sequence, std::uint64_t filetime);
