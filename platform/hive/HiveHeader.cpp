#include "platform/hive/HiveHeader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace {

// The header block (the "base block").
const std::uint64_t kHeaderSize = 0x1000;
const std::size_t kSequence1 = 0x04;
const std::size_t kSequence2 = 0x08;
const std::size_t kTimestamp = 0x0C;
const std::size_t kMajorVersion = 0x14;
const std::size_t kBinsSize = 0x28;
const std::size_t kChecksum = 0x1FC;
const std::uint64_t kBinUnit = 0x1000;
// The first bin's copy of the last written time, from the start of the file.
const std::uint64_t kFirstBinTimestamp = kHeaderSize + 0x14;

// A cell index keeps its top bit for the volatile storage, which is never
// written to the file: a hive's bins, and so a hive file of Windows', stay
// below 2 GiB. A larger file is no hive of Windows', and libhivex would
// read it whole into memory to change it.
const std::uint64_t kLargestHiveFile = 2ull * 1024 * 1024 * 1024;
// How much larger than its header says (the header block and the bins) a
// hive file may be. The format allows any padding after the last bin;
// Windows sets the end of a hive file it writes at the hive's length
// rounded up to the 256 KiB its hive files grow by, so its files are less
// than 256 KiB larger than their headers say. A file larger still was not
// left so by Windows (the disk's owner, or an attacker, made it so), and
// beyond its bins holds nothing Windows reads: it is not used at all,
// rather than read whole for a change.
const std::uint64_t kLargestPadding = 256 * 1024;

std::uint32_t Le32(const unsigned char* at)
{
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

void PutLe32(unsigned char* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

void PutLe64(unsigned char* at, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

bool ReadAt(int fd, std::uint64_t offset, unsigned char* out, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteAt(int fd, std::uint64_t offset, const unsigned char* data, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t put = pwrite(fd, data + done, count - done, static_cast<off_t>(offset + done));
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// The header's checksum as Windows computes it: the XOR of its first 127
// words, never 0 and never all ones.
std::uint32_t HeaderChecksum(const unsigned char* header)
{
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < kChecksum; at += 4) sum ^= Le32(header + at);
    if (sum == 0xFFFFFFFFu) sum = 0xFFFFFFFEu;
    if (sum == 0) sum = 1;
    return sum;
}

}  // namespace

HiveVerdict CheckHiveFile(int fd, std::string& why)
{
    struct stat st;
    unsigned char header[kHeaderSize];
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "it is not a file";
        return HiveVerdict::Damaged;
    }
    const std::uint64_t fileSize = static_cast<std::uint64_t>(st.st_size);
    if (fileSize < kHeaderSize + kBinUnit || !ReadAt(fd, 0, header, sizeof header)) {
        why = "it is too short to be a registry hive";
        return HiveVerdict::Damaged;
    }
    if (std::memcmp(header, "regf", 4) != 0 || Le32(header + kMajorVersion) != 1) {
        why = "it is not a registry hive";
        return HiveVerdict::Damaged;
    }
    const std::uint64_t binsSize = Le32(header + kBinsSize);
    if (HeaderChecksum(header) != Le32(header + kChecksum)) {
        why = "its header is damaged (checksum)";
    } else if (binsSize == 0 || binsSize % kBinUnit != 0 || binsSize > fileSize - kHeaderSize) {
        // Also what a hive cut short looks like.
        why = "its header gives a size the file does not have (truncated or damaged)";
    } else if (fileSize - kHeaderSize - binsSize > kLargestPadding) {
        why = "its file is larger than its header says (" + std::to_string(fileSize) + " bytes for " +
              std::to_string(kHeaderSize + binsSize) + ")";
    } else if (fileSize > kLargestHiveFile) {
        why = "it is larger than the 2 GiB Windows allows for a hive";
    } else if (Le32(header + kSequence1) != Le32(header + kSequence2)) {
        why = "Windows did not close it cleanly";
        return HiveVerdict::Dirty;
    } else {
        return HiveVerdict::Sound;
    }
    return HiveVerdict::Damaged;
}

bool ReadHiveSequence(int fd, std::uint32_t& sequence)
{
    unsigned char field[4];
    if (!ReadAt(fd, kSequence1, field, sizeof field)) return false;
    sequence = Le32(field);
    return true;
}

bool SealHiveHeader(int fd, std::uint32_t sequence, std::uint64_t filetime)
{
    unsigned char header[kChecksum + 4];
    unsigned char binTime[8];
    if (!ReadAt(fd, 0, header, sizeof header)) return false;
    PutLe32(header + kSequence1, sequence);
    PutLe32(header + kSequence2, sequence);
    PutLe64(header + kTimestamp, filetime);
    PutLe32(header + kChecksum, HeaderChecksum(header));
    PutLe64(binTime, filetime);
    return WriteAt(fd, kFirstBinTimestamp, binTime, sizeof binTime) && WriteAt(fd, 0, header, sizeof header);
}
