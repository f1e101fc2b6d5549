// A Windows disk (tests/console/WindowsDisk.h) an attacker has prepared,
// made in a plain scratch folder or on a real NTFS file system mounted with
// ntfs-3g (tests/console/NtfsVolume.h), and files of the system the scanner
// runs on that the disk's links point at: canaries whose bytes and modes
// must never change, whatever the disk holds.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "console/NtfsVolume.h"
#include "console/TempFolder.h"
#include "console/TreeSnapshot.h"
#include "console/WindowsDisk.h"

enum class DiskKind { Plain, Ntfs };

inline std::string DiskKindName(const ::testing::TestParamInfo<DiskKind>& info)
{
    return info.param == DiskKind::Plain ? "PlainFolder" : "Ntfs";
}

// What a name of the disk can be made into.
enum class Hostile { LinkToFile, LinkToFolder, Fifo, Device, Folder };

inline const char* HostileName(Hostile kind)
{
    switch (kind) {
    case Hostile::LinkToFile: return "a link to a file outside";
    case Hostile::LinkToFolder: return "a link to a folder outside";
    case Hostile::Fifo: return "a FIFO";
    case Hostile::Device: return "a device";
    case Hostile::Folder: return "a folder";
    }
    return "?";
}

class HostileDiskTest : public ::testing::TestWithParam<DiskKind> {
protected:
    void SetUp() override
    {
        if (GetParam() == DiskKind::Ntfs) {
            ntfs_.reset(new NtfsVolume);
            if (!ntfs_->Mounted()) GTEST_SKIP() << ntfs_->WhyNot();
            base = ntfs_->Root();
        } else {
            base = temp.Folder("disks");
        }
        disk = NewDisk("disk");
        outside = temp.Folder("outside");
        canary = temp.Write("outside/canary.txt", "a file of the system the scanner runs on\n");
        chmod(canary.c_str(), 0640);
        temp.Write("outside/folder/inside.txt", "also the system's\n");
        store = temp / "store";
    }

    // Another disk beside the first, named `name`.
    windowsdisk::Disk NewDisk(const std::string& name) { return windowsdisk::MakeDisk(base + "/" + name); }

    // Puts `kind` where `relative` (below the root of `on`) was.
    void MakeHostile(const windowsdisk::Disk& on, const std::string& relative, Hostile kind)
    {
        const std::string path = on.Path(relative);
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        int made = -1;
        switch (kind) {
        case Hostile::LinkToFile: made = symlink(canary.c_str(), path.c_str()); break;
        case Hostile::LinkToFolder: made = symlink((outside + "/folder").c_str(), path.c_str()); break;
        case Hostile::Fifo: made = mkfifo(path.c_str(), 0666); break;
        case Hostile::Device: made = mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)); break;
        case Hostile::Folder: made = mkdir(path.c_str(), 0755); break;
        }
        ASSERT_EQ(0, made) << relative << ": " << std::strerror(errno);
    }

    // Devices can be made by the superuser only.
    static bool CanMake(Hostile kind) { return kind != Hostile::Device || geteuid() == 0; }

    TempFolder temp;
    std::unique_ptr<NtfsVolume> ntfs_;
    std::string base;  // where the disks are made
    windowsdisk::Disk disk;
    std::string outside;
    std::string canary;
    std::string store;
};

// A folder made immutable (chattr +i) for the guard's life, where the file
// system allows it: nothing in it can be removed, renamed or made, even by
// the superuser.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const std::string& folder)
    {
        fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        if (fd_ < 0 || ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0) return;
        flags |= FS_IMMUTABLE_FL;
        set_ = ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ~ImmutableFolder()
    {
        int flags = 0;
        if (set_ && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(fd_, FS_IOC_SETFLAGS, &flags);
        }
        if (fd_ >= 0) close(fd_);
    }
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;
    bool Set() const { return set_; }

private:
    int fd_ = -1;
    bool set_ = false;
};
