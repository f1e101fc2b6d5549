#include "rescue/RescueVolume.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "rescue/RescueText.h"

namespace {

// The NTFS driver's exit statuses for a volume it will not mount.
const int kNtfsCorrupt = 13;
const int kNtfsHibernated = 14;
const int kNtfsUnclean = 15;

// The service accounts' profiles, which are no person's.
const char* const kServiceSids[] = {"S-1-5-18", "S-1-5-19", "S-1-5-20"};

// The first build of Windows 11, which still calls itself "Windows 10" in
// its ProductName.
const long kFirstWindows11Build = 22000;

bool BytesAt(const unsigned char* data, std::size_t size, std::size_t at, const char* text)
{
    const std::size_t length = std::strlen(text);
    return at <= size && length <= size - at && std::memcmp(data + at, text, length) == 0;
}

bool Contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace

VolumeFormat FormatOfBootSector(const unsigned char* sector, std::size_t size)
{
    if (size < 512) return FormatUnknown;
    if (BytesAt(sector, size, 3, "NTFS    ")) return FormatNtfs;
    if (BytesAt(sector, size, 3, "-FVE-FS-")) return FormatBitLocker;
    if (BytesAt(sector, size, 3, "EXFAT   ")) return FormatExfat;
    const bool signature = sector[510] == 0x55 && sector[511] == 0xAA;
    if (signature && (BytesAt(sector, size, 54, "FAT12   ") || BytesAt(sector, size, 54, "FAT16   ") ||
                      BytesAt(sector, size, 54, "FAT     ") || BytesAt(sector, size, 82, "FAT32   "))) {
        return FormatFat;
    }
    return FormatUnknown;
}

MountResult NtfsMountResult(int exitStatus, bool readOnly, const std::string& messages)
{
    // The driver falls back to a read-only mount (status 0) for a volume it
    // will not write; its message says why.
    if (exitStatus == kNtfsHibernated || Contains(messages, "hibernated")) return MountHibernated;
    if (exitStatus == kNtfsUnclean || Contains(messages, "unclean") || Contains(messages, "Windows cache")) {
        return MountUnclean;
    }
    if (exitStatus == kNtfsCorrupt) return MountFailed;
    if (exitStatus != 0) return MountFailed;
    return readOnly ? MountReadOnly : MountOk;
}

Usability UsabilityOf(const Volume& volume)
{
    if (volume.isStick) return IsTheStick;
    if (volume.format == FormatBitLocker) return NotUsable;
    if (volume.readOnlyMount == MountFailed) return NotUsable;
    if (volume.windows == WindowsNone) return NotWindows;
    if (volume.hibernated) return UsableReportOnly;
    return UsableForAll;
}

std::string WhyNotCleanable(const Volume& volume)
{
    if (volume.isStick) return "this is the rescue stick";
    if (volume.format == FormatBitLocker) {
        return "BitLocker-encrypted: it cannot be read here. Start Windows, or scan it with Quellor.exe from "
               "inside Windows";
    }
    if (volume.readOnlyMount == MountFailed) {
        return "damaged file system: it cannot be read" +
               (volume.mountMessage.empty() ? std::string() : " (" + ShownText(volume.mountMessage) + ")") +
               ". Let Windows repair it (chkdsk) first";
    }
    if (volume.windows == WindowsNone) return "no Windows on it: it is left alone";
    if (volume.hibernated) {
        return "Windows is hibernated (Fast Startup): it can be reported on, not cleaned. Start Windows and "
               "shut it down fully (hold Shift while you choose Shut down), then start from the stick again";
    }
    return std::string();
}

std::string VolumeTitle(const Volume& volume)
{
    static const char* const kFormatNames[] = {"unknown file system", "NTFS", "BitLocker", "FAT", "exFAT"};
    std::string title = "Disk " + volume.disk;
    if (!volume.diskModel.empty()) title += " (" + ShownText(volume.diskModel) + ")";
    if (volume.partition > 0) title += ", partition " + std::to_string(volume.partition);
    title += ", " + SizeText(volume.bytes) + ", " + kFormatNames[volume.format];
    return title;
}

std::string VolumeContents(const Volume& volume)
{
    if (volume.windows == WindowsNone) return "no Windows";
    std::string text = volume.version.empty()
                           ? std::string(volume.windows == Windows9x ? "Windows 95/98/ME" : "Windows")
                           : ShownText(volume.version);
    if (!volume.users.empty()) {
        text += "; users: ";
        for (std::size_t i = 0; i < volume.users.size(); ++i) text += (i ? ", " : "") + ShownText(volume.users[i]);
    }
    return text;
}

std::vector<std::size_t> WindowsVolumes(const std::vector<Volume>& volumes)
{
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const Usability usability = UsabilityOf(volumes[i]);
        if (usability == UsableForAll || usability == UsableReportOnly) found.push_back(i);
    }
    return found;
}

std::string WindowsVersionText(const WindowsVersionValues& values)
{
    std::string name = values.productName;
    const long build = std::strtol(values.build.c_str(), nullptr, 10);
    if (name.rfind("Windows 10", 0) == 0 && build >= kFirstWindows11Build) name.replace(0, 10, "Windows 11");
    if (name.empty()) name = values.version.empty() ? "Windows" : "Windows NT " + values.version;
    if (!values.displayVersion.empty()) name += ", version " + values.displayVersion;
    if (!values.servicePack.empty()) name += ", " + values.servicePack;
    if (!values.build.empty()) name += " (build " + values.build + ")";
    return name;
}

std::string ProfileUser(const std::string& sid, const std::string& profilePath)
{
    for (const char* service : kServiceSids) {
        if (sid == service) return std::string();
    }
    std::string path = profilePath;
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsHibernationHeader(const unsigned char* bytes, std::size_t size)
{
    return size >= 4 && (std::memcmp(bytes, "hibr", 4) == 0 || std::memcmp(bytes, "HIBR", 4) == 0);
}
