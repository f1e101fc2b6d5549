// A real NTFS file system for one test: an image file formatted with
// mkntfs, mounted with ntfs-3g (FUSE) into a scratch folder, unmounted
// when the test ends. Where the machine cannot (no /dev/fuse, no ntfs-3g,
// no right to mount), Mounted() is false and WhyNot() says why: the test
// is then reported skipped, never passed.
#pragma once

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "console/TempFolder.h"

namespace ntfsvolume {

// The first of `names` that is an executable file.
inline std::string FindProgram(const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        if (access(name.c_str(), X_OK) == 0) return name;
    }
    return std::string();
}

// Runs a program with its output discarded; its exit status, -1 when it
// did not run or ended by a signal.
inline int RunQuietly(const std::vector<std::string>& arguments)
{
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        const int none = open("/dev/null", O_RDWR);
        if (none >= 0) {
            dup2(none, STDIN_FILENO);
            dup2(none, STDOUT_FILENO);
            dup2(none, STDERR_FILENO);
        }
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace ntfsvolume

class NtfsVolume {
public:
    // Large enough for a Windows disk of the tests and the NTFS's own files.
    static const off_t kImageBytes = 48L * 1024 * 1024;

    NtfsVolume()
    {
        const std::string mkntfs = ntfsvolume::FindProgram({"/usr/sbin/mkntfs", "/sbin/mkntfs", "/usr/bin/mkntfs"});
        const std::string ntfs3g = ntfsvolume::FindProgram({"/usr/bin/ntfs-3g", "/bin/ntfs-3g", "/usr/sbin/ntfs-3g"});
        if (access("/dev/fuse", R_OK | W_OK) != 0) {
            why_ = "no /dev/fuse on this machine: NTFS cannot be mounted here";
            return;
        }
        if (mkntfs.empty() || ntfs3g.empty()) {
            why_ = "mkntfs or ntfs-3g is missing (Debian's ntfs-3g package)";
            return;
        }
        const std::string image = scratch_ / "ntfs.img";
        mountPoint_ = scratch_.Folder("mnt");
        const int made = open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const bool sized = made >= 0 && ftruncate(made, kImageBytes) == 0;
        if (made >= 0) close(made);
        if (!sized || ntfsvolume::RunQuietly({mkntfs, "-F", "-f", "-q", "-L", "quellor", image}) != 0) {
            why_ = "mkntfs could not format an image file";
            return;
        }
        if (ntfsvolume::RunQuietly({ntfs3g, image, mountPoint_}) != 0) {
            why_ = "ntfs-3g could not mount an image file here (no right to mount?)";
            return;
        }
        mounted_ = true;
    }
    ~NtfsVolume()
    {
        if (!mounted_) return;
        if (umount2(mountPoint_.c_str(), 0) != 0) umount2(mountPoint_.c_str(), MNT_DETACH);
    }
    NtfsVolume(const NtfsVolume&) = delete;
    NtfsVolume& operator=(const NtfsVolume&) = delete;

    bool Mounted() const { return mounted_; }
    const std::string& WhyNot() const { return why_; }
    // The root folder of the mounted file system.
    const std::string& Root() const { return mountPoint_; }

private:
    TempFolder scratch_;
    std::string mountPoint_;
    std::string why_;
    bool mounted_ = false;
};
