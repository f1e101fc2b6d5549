// What the rescue stick knows of each partition of the PC's disks, and
// what it can do with it: the decisions, free of any device, so the native
// tests cover them. The probing itself is in RescueSystem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The file system a partition's first sector announces.
enum VolumeFormat {
    FormatUnknown,
    FormatNtfs,
    FormatBitLocker,  // a BitLocker-encrypted NTFS volume
    FormatFat,        // FAT12, FAT16 or FAT32
    FormatExfat
};

// Read from the first sector of a partition; FormatUnknown for anything
// shorter than a sector or without a known signature.
VolumeFormat FormatOfBootSector(const unsigned char* sector, std::size_t size);

// Which Windows a mounted volume holds, found as Windows names its folders.
enum WindowsKind {
    WindowsNone,
    WindowsNt,  // <Windows>\System32\config\SOFTWARE or SYSTEM
    Windows9x   // <Windows>\SYSTEM.DAT
};

// How a read-only or read-write mount went.
enum MountResult {
    MountNotTried,
    MountOk,
    MountFailed,      // the driver refused it: a damaged file system, or not what it seemed
    MountHibernated,  // NTFS: Windows is hibernated (Fast Startup), refused for writing
    MountUnclean,     // NTFS: Windows did not shut down cleanly, refused for writing
    MountReadOnly     // asked read-write, got read-only for another reason
};

// What the NTFS driver said when it did not mount read-write: its exit
// status, whether the mount it left is read-only, and its messages.
MountResult NtfsMountResult(int exitStatus, bool readOnly, const std::string& messages);

// One partition (or a disk without partitions) as probed.
struct Volume {
    std::string device;     // "sda2"
    std::string disk;       // "sda"
    std::string diskModel;  // "Samsung SSD 860", from the disk itself (not trusted)
    int partition;          // 1..; 0 for a whole disk
    std::uint64_t bytes;
    VolumeFormat format;
    bool isStick;           // the rescue stick itself
    MountResult readOnlyMount;
    std::string mountMessage;  // the driver's reason when it failed
    WindowsKind windows;
    bool hibernated;        // hiberfil.sys says Windows sleeps in it
    std::string version;    // from the hives: "Windows 10 Pro, version 22H2 (build 19045)"
    std::vector<std::string> users;
};

// What can be done with a volume.
enum Usability {
    UsableForAll,       // report and clean
    UsableReportOnly,   // a Windows, but cleaning would need a write it must not make
    NotUsable,          // a Windows that cannot be read at all
    NotWindows,         // no Windows on it: shown, never touched
    IsTheStick
};
Usability UsabilityOf(const Volume& volume);

// Why a volume cannot be cleaned (or read), in words a person acts on;
// empty when it can be.
std::string WhyNotCleanable(const Volume& volume);

// "Disk sda (Samsung SSD 860), partition 2, 512 GB, NTFS"
std::string VolumeTitle(const Volume& volume);
// "Windows 10 Pro (build 19045); users: alice, bob" or "no Windows"
std::string VolumeContents(const Volume& volume);

// The volumes holding a Windows, in the order shown (disk, then partition).
std::vector<std::size_t> WindowsVolumes(const std::vector<Volume>& volumes);

// The name of a Windows version from its SOFTWARE hive's CurrentVersion
// values (any may be empty): "Windows 10 Pro, version 22H2 (build 19045)".
struct WindowsVersionValues {
    std::string productName;     // ProductName
    std::string displayVersion;  // DisplayVersion, else ReleaseId
    std::string servicePack;     // CSDVersion
    std::string build;           // CurrentBuild, else CurrentBuildNumber
    std::string version;         // CurrentVersion ("6.1"), when the name is missing
};
std::string WindowsVersionText(const WindowsVersionValues& values);

// The user a profile folder belongs to ("C:\Users\alice" gives "alice");
// empty for the service accounts' profiles (S-1-5-18, -19, -20).
std::string ProfileUser(const std::string& sid, const std::string& profilePath);

// hiberfil.sys's first bytes: true when Windows sleeps in it (the NTFS
// driver's own rule: "hibr" or "HIBR").
bool IsHibernationHeader(const unsigned char* bytes, std::size_t size);
