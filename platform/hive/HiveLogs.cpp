#include "platform/hive/HiveLogs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/posix/HeldFolder.h"

namespace {

const char* const kLogSuffixes[] = {".LOG", ".LOG1", ".LOG2"};
// Logs are read in pieces of this size, each a whole number of sectors.
const std::size_t kChunk = 1024 * 1024;
const std::size_t kSector = 512;
// Windows keeps a log far smaller than its hive; one larger than the
// largest hive is not read (and the hive not changed).
const std::uint64_t kLargestLog = 2ull * 1024 * 1024 * 1024;
// From 1601 to 1970, in seconds.
const std::uint64_t kFiletimeEpochSeconds = 11644473600ull;

// Where the fields sit: in a log's header (a copy of the hive's), and in a
// new-format entry from its start.
const std::size_t kHeaderSequence1 = 4;
const std::size_t kHeaderSequence2 = 8;
const std::size_t kHeaderTime = 12;
const std::size_t kEntrySequence = 12;

std::uint32_t Le32(const unsigned char* at)
{
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool SameAsciiName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    }
    return true;
}

bool IsLogOf(const std::string& name, const std::string& hiveName)
{
    for (const char* suffix : kLogSuffixes) {
        if (SameAsciiName(name, hiveName + suffix)) return true;
    }
    return false;
}

void Mark(HiveLogMarks& marks, std::uint32_t sequence)
{
    marks.highestSequence = marks.anySequence ? std::max(marks.highestSequence, sequence) : sequence;
    marks.anySequence = true;
}

// Every sector that starts an entry is looked at, not only those the chain
// of entries reaches: Windows may start its next entries over the first
// ones, and an old entry behind them would then be reached.
bool ScanLog(int fd, HiveLogMarks& marks, std::string& why)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > kLargestLog) {
        why = "it is larger than any log of Windows";
        return false;
    }
    std::vector<unsigned char> chunk(kChunk);
    for (std::uint64_t offset = 0; offset < static_cast<std::uint64_t>(st.st_size); offset += kChunk) {
        std::size_t filled = 0;
        while (filled < kChunk) {
            const ssize_t got = pread(fd, chunk.data() + filled, kChunk - filled, static_cast<off_t>(offset + filled));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                why = std::strerror(errno);
                return false;
            }
            if (got == 0) break;
            filled += static_cast<std::size_t>(got);
        }
        for (std::size_t at = 0; at + kSector <= filled; at += kSector) {
            const unsigned char* sector = chunk.data() + at;
            if (offset + at == 0 && std::memcmp(sector, "regf", 4) == 0) {
                Mark(marks, Le32(sector + kHeaderSequence1));
                Mark(marks, Le32(sector + kHeaderSequence2));
                std::uint64_t time = 0;
                for (int i = 7; i >= 0; --i) time = time << 8 | sector[kHeaderTime + static_cast<std::size_t>(i)];
                marks.times.push_back(time);
            } else if (std::memcmp(sector, "HvLE", 4) == 0) {
                Mark(marks, Le32(sector + kEntrySequence));
            }
        }
        if (filled < kChunk) break;
    }
    return true;
}

}  // namespace

bool ReadHiveLogMarks(int folder, const std::string& hiveName, HiveLogMarks& marks, std::string& why)
{
    marks = HiveLogMarks();
    const int listed = fcntl(folder, F_DUPFD_CLOEXEC, 0);
    DIR* dir = listed >= 0 ? fdopendir(listed) : nullptr;
    if (!dir) {
        if (listed >= 0) close(listed);
        why = std::string("its folder cannot be read to find its transaction logs (") + std::strerror(errno) + ")";
        return false;
    }
    rewinddir(dir);
    const FolderRisk risk = RiskOf(folder);
    bool read = true;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (!IsLogOf(name, hiveName)) continue;
        const FileOpening log = OpenFileIn(folder, risk, name.c_str(), O_RDONLY, entry->d_type);
        // Anything but a regular file is no log Windows wrote; a log gone
        // since the listing is none either.
        if (log.fd < 0 && ((log.type != 0 && log.type != S_IFREG) || log.error == ENOENT)) continue;
        if (log.fd < 0) {
            why = "its transaction log " + name + " cannot be read (" + std::strerror(log.error) + ")";
            read = false;
            break;
        }
        std::string failure;
        read = ScanLog(log.fd, marks, failure);
        close(log.fd);
        if (!read) {
            why = "its transaction log " + name + " cannot be read (" + failure + ")";
            break;
        }
    }
    closedir(dir);
    return read;
}

bool HiveSealFor(const HiveLogMarks& marks, std::uint32_t written, std::uint64_t now, std::uint32_t& sequence,
                 std::uint64_t& filetime)
{
    std::uint64_t wanted = written;
    if (marks.anySequence) wanted = std::max<std::uint64_t>(wanted, std::uint64_t(marks.highestSequence) + 1);
    if (wanted > 0xFFFFFFFFull) return false;
    sequence = static_cast<std::uint32_t>(wanted);
    filetime = now;
    while (std::find(marks.times.begin(), marks.times.end(), filetime) != marks.times.end()) ++filetime;
    return true;
}

std::uint64_t FiletimeNow()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<std::uint64_t>(now.tv_sec) + kFiletimeEpochSeconds) * 10000000ull +
           static_cast<std::uint64_t>(now.tv_nsec) / 100;
}
