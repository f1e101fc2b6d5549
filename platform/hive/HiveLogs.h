// A hive's transaction logs (<hive>.LOG, .LOG1, .LOG2 beside it), and
// what a changed hive must carry so that Windows never replays them over
// the change.
//
// Windows writes a hive's changes to its log first and to the hive after;
// when it loads a hive it may replay the log over it. By the format's
// published recovery rules:
// - only a dirty hive is recovered: one whose header's checksum is wrong,
//   or whose primary and secondary sequence numbers differ. A hive that is
//   not dirty is loaded as it is, whatever its logs hold;
// - an old-format log (Windows XP and earlier: file type 1, a "DIRT" bitmap
//   of pages) is applied when the "last written" time in its header equals
//   the hive's (the first bin's copy of that time when the hive's header is
//   damaged);
// - a new-format log (Windows 8.1 and later: file type 6, "HvLE" entries,
//   the .LOG1 then the .LOG2) is applied entry by entry: entries numbered
//   below the hive's secondary sequence number count as applied before;
//   the first one applied must carry exactly that number, each next one
//   the number after it, and the replay ends at the first entry that does
//   not follow. Windows may leave entries in a log that it never applied
//   to a hive that is not dirty.
// A hive changed here is left clean (equal sequence numbers, a correct
// checksum), so Windows loads it as it was written. That is not enough for
// later: when Windows next writes to the hive it moves the primary number
// first, and a crash then leaves the hive dirty; were an entry of the old
// logs numbered at or after the hive's number, or an old-format log stamped
// with its time, Windows would replay what the logs held before the change
// (the removed start-up values with it) over the changed hive. So the
// changed hive gets a sequence number above every number in its logs (their
// headers' and every entry's) and a last written time no log carries: no
// entry of the old logs can ever follow it, and no old-format log matches
// it. The logs themselves are left as they are. (The transactional
// registry's own logs, the Common Log File System's *.blf and
// *.regtrans-ms files, are another mechanism, outside these rules, and are
// not read.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct HiveLogMarks {
    bool anySequence = false;
    std::uint32_t highestSequence = 0;   // in a log's header or any of its entries
    std::vector<std::uint64_t> times;    // the last written times in the logs' headers
};

// Reads the marks of every log beside the hive `hiveName` in the folder
// held open as `folder` (any case of the names; only regular files are
// opened: a link, a FIFO or a device is no log Windows wrote). False with
// `why` when a log cannot be read: the hive is not changed then.
bool ReadHiveLogMarks(int folder, const std::string& hiveName, HiveLogMarks& marks, std::string& why);

// The sequence number and last written time the changed hive gets: at
// least `written` (what libhivex gave it) and above every number in the
// logs; the time `now` unless a log carries it. False when no 32-bit number
// is above them all.
bool HiveSealFor(const HiveLogMarks& marks, std::uint32_t written, std::uint64_t now, std::uint32_t& sequence,
                 std::uint64_t& filetime);

// The time now as Windows stores it (100 ns units since 1601).
std::uint64_t FiletimeNow();
