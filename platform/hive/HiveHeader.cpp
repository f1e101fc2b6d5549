#include "platform/hive/HiveHeader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {

// The header block (the "base block").
const std::uint64_t kHeaderSize = 0x1000;
const std::size_t kSequence1 = 0x04;
const std::size_t kSequence2 = 0x08;
const std::size_t kMajorVersion = 0x14;
const std::size_t kBinsSize = 0x28;
const std::size_t kChecksum = 0x1FC;
const std::uint64_t kBinUnit = 0x1000;

std::uint32_t Le32(const unsigned char* at)
{
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
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

HiveVerdict Damaged(std::string& why, const char* what)
{
    why = what;
    return HiveVerdict::Damaged;
}

}  // namespace

HiveVerdict CheckHiveFile(const std::string& hostPath, std::string& why)
{
    // A link would have a change replace the link, not the hive it names.
    struct stat link;
    if (lstat(hostPath.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) return Damaged(why, "it is a link, not a file");
    const int fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return Damaged(why, "it cannot be opened");
    struct stat st;
    unsigned char header[kHeaderSize];
    HiveVerdict verdict = HiveVerdict::Damaged;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "it is not a file";
    } else if (static_cast<std::uint64_t>(st.st_size) < kHeaderSize + kBinUnit ||
               !ReadAt(fd, 0, header, sizeof header)) {
        why = "it is too short to be a registry hive";
    } else if (std::memcmp(header, "regf", 4) != 0 || Le32(header + kMajorVersion) != 1) {
        why = "it is not a registry hive";
    } else {
        std::uint32_t sum = 0;
        for (std::size_t at = 0; at < kChecksum; at += 4) sum ^= Le32(header + at);
        if (sum == 0xFFFFFFFFu) sum = 0xFFFFFFFEu;
        if (sum == 0) sum = 1;
        const std::uint64_t binsSize = Le32(header + kBinsSize);
        const std::uint64_t fileSize = static_cast<std::uint64_t>(st.st_size);
        if (sum != Le32(header + kChecksum)) {
            why = "its header is damaged (checksum)";
        } else if (binsSize == 0 || binsSize % kBinUnit != 0 || binsSize > fileSize - kHeaderSize) {
            // Also what a hive cut short looks like.
            why = "its header gives a size the file does not have (truncated or damaged)";
        } else if (Le32(header + kSequence1) != Le32(header + kSequence2)) {
            why = "Windows did not close it cleanly";
            verdict = HiveVerdict::Dirty;
        } else {
            verdict = HiveVerdict::Sound;
        }
    }
    close(fd);
    return verdict;
}
