#include "rescue/RescueSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

const char kStickFolder[] = "QUELLOR";
const char kStickMark[] = "QUELLOR/RESCUE.TXT";
const char kStickAutoFile[] = "QUELLOR/AUTO.TXT";
const char kStickLog[] = "QUELLOR/quellor.log";
const char kStickQuarantine[] = "QUELLOR/QUARANTINE";
const char kStickResults[] = "QUELLOR/RESULTS.TXT";

namespace {

// Block devices that are no disk of the PC.
const char* const kSkippedDevices[] = {"loop", "ram", "zram", "sr", "dm-", "md", "nbd", "fd"};
// How long the hive reader, and the NTFS driver's mount, may take before
// they are given up: a hostile hive or file system must not hang the stick.
const int kDescribeSeconds = 20;
const int kMountSeconds = 120;
// The folder names an NT-family Windows keeps its machine hives under.
const char* const kSoftwarePath[] = {"System32", "config", "SOFTWARE"};
const char* const kSystemPath[] = {"System32", "config", "SYSTEM"};
const char* const kUsualWindowsFolders[] = {"Windows", "WINNT"};
const char kMountOptionsFat[] = "utf8,shortname=mixed";
// The stick's mark, kStickMark by its names.
const char* const kStickMarkPath[] = {"QUELLOR", "RESCUE.TXT"};

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && text[start] == ' ') ++start;
    return text.substr(start);
}

bool SameLetters(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::vector<std::string> NamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// The entry of `folder` that Windows would take for `name`: a real folder
// or a regular file (never a link), as asked. Empty when there is none.
std::string Entry(const std::string& folder, const std::string& name, bool wantFolder)
{
    for (const std::string& found : NamesIn(folder)) {
        if (!SameLetters(found, name)) continue;
        struct stat st;
        const std::string path = folder + "/" + found;
        if (lstat(path.c_str(), &st) != 0) continue;
        if (wantFolder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) return path;
    }
    return std::string();
}

template <std::size_t N>
std::string EntryPath(const std::string& folder, const char* const (&names)[N])
{
    std::string path = folder;
    for (std::size_t i = 0; i < N && !path.empty(); ++i) path = Entry(path, names[i], i + 1 < N);
    return path;
}

bool Skipped(const std::string& name)
{
    for (const char* prefix : kSkippedDevices) {
        if (name.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

void MakeFolders(const std::string& path)
{
    std::string partial;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        partial += "/" + part;
        mkdir(partial.c_str(), 0700);
    }
}

// In a child just forked: runs `argv` with standard input from /dev/null
// and output and error on `out` and `err`. Never returns.
[[noreturn]] void ExecChild(const std::vector<std::string>& argv, int out, int err)
{
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(args[0], args.data());
    _exit(127);
}

// Runs `argv` and waits at most `seconds` (then it is killed: -1); its
// standard output and error go to `output`.
int RunAndWait(const std::vector<std::string>& argv, std::string& output, int seconds)
{
    char name[] = "/tmp/quellor-rescue-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return -1;
    unlink(name);
    const pid_t pid = fork();
    if (pid == 0) ExecChild(argv, fd, fd);
    int status = -1;
    for (int tenth = 0; pid > 0; ++tenth) {
        if (waitpid(pid, &status, WNOHANG) == pid) break;
        if (tenth == seconds * 10) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        usleep(100 * 1000);
    }
    char buffer[4096];
    const ssize_t read = pread(fd, buffer, sizeof buffer, 0);
    output.assign(buffer, read > 0 ? static_cast<std::size_t>(read) : 0);
    close(fd);
    if (pid < 0) return -1;
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The NTFS driver leaves a process behind each mount; the mount is only
// done with once it has ended and written everything.
void WaitForNtfsDrivers()
{
    for (int tries = 0; tries < 300; ++tries) {
        bool running = false;
        for (const std::string& pid : NamesIn("/proc")) {
            if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
            const std::string command = ReadSmallFile("/proc/" + pid + "/comm");
            if (Trimmed(command) == "ntfs-3g") running = true;
        }
        if (!running) return;
        usleep(100 * 1000);
    }
}

bool IsReadOnlyMount(const std::string& folder)
{
    struct statvfs fs;
    return statvfs(folder.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0;
}

// The Windows on a mounted volume, its version and users, and whether it
// sleeps in hiberfil.sys.
void LookForWindows(const RescuePaths& paths, const std::string& root, Volume& volume)
{
    std::vector<std::string> folders;
    for (const char* usual : kUsualWindowsFolders) {
        const std::string found = Entry(root, usual, true);
        if (!found.empty()) folders.push_back(found);
    }
    for (const std::string& name : NamesIn(root)) {
        const std::string found = Entry(root, name, true);
        if (!found.empty() && std::find(folders.begin(), folders.end(), found) == folders.end()) folders.push_back(found);
    }
    std::string software;
    for (const std::string& folder : folders) {
        software = EntryPath(folder, kSoftwarePath);
        if (!software.empty() || !EntryPath(folder, kSystemPath).empty()) {
            volume.windows = WindowsNt;
            break;
        }
    }
    if (volume.windows == WindowsNone) {
        for (const std::string& folder : folders) {
            if (!Entry(folder, "SYSTEM.DAT", false).empty()) {
                volume.windows = Windows9x;
                break;
            }
        }
    }
    if (volume.windows == WindowsNone) return;
    const std::string hiberfile = Entry(root, "hiberfil.sys", false);
    if (!hiberfile.empty()) {
        unsigned char header[4] = {0, 0, 0, 0};
        const int fd = open(hiberfile.c_str(), O_RDONLY | O_NOFOLLOW);
        const ssize_t read = fd >= 0 ? pread(fd, header, sizeof header, 0) : -1;
        if (fd >= 0) close(fd);
        volume.hibernated = read == 4 && IsHibernationHeader(header, sizeof header);
    }
    if (software.empty()) return;
    std::string output;
    RunAndWait({paths.self, "--describe", software}, output, kDescribeSeconds);
    std::stringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("version ", 0) == 0) volume.version = line.substr(8);
        else if (line.rfind("user ", 0) == 0) volume.users.push_back(line.substr(5));
    }
}

std::string DeviceFolder(const RescuePaths& paths, const Volume& volume, const char* kind)
{
    return paths.mounts + "/" + kind + "-" + volume.device;
}

bool MountAt(const RescuePaths& paths, const Volume& volume, bool writable, const std::string& folder,
             std::string& reason, MountResult& result)
{
    MakeFolders(folder);
    const std::string device = "/dev/" + volume.device;
    if (volume.format == FormatNtfs) {
        std::string messages;
        const int status = RunAndWait(
            {paths.ntfs, "-o", writable ? "norecover,nosuid,nodev" : "ro,nosuid,nodev", device, folder}, messages, kMountSeconds);
        const bool mounted = status == 0;
        result = NtfsMountResult(status, mounted && IsReadOnlyMount(folder), messages);
        if (result == MountOk || (!writable && mounted)) {
            result = MountOk;
            return true;
        }
        if (mounted) UnmountFolder(folder);
        reason = Trimmed(messages);
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        return false;
    }
    if (volume.format == FormatFat) {
        const unsigned long flags = MS_NOSUID | MS_NODEV | MS_NOEXEC | (writable ? 0 : MS_RDONLY);
        if (mount(device.c_str(), folder.c_str(), "vfat", flags, kMountOptionsFat) == 0) {
            result = MountOk;
            return true;
        }
        result = MountFailed;
        reason = std::strerror(errno);
        return false;
    }
    result = MountNotTried;
    reason = "not a file system this stick reads";
    return false;
}

}  // namespace

std::string ReadSmallFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string text;
    char buffer[4096];
    while (in && text.size() < 65536) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return text;
}

std::vector<Volume> ProbeVolumes(const RescuePaths& paths, const std::string& stickDevice)
{
    std::vector<Volume> volumes;
    std::vector<std::string> parents;
    for (const std::string& name : NamesIn("/sys/class/block")) {
        if (Skipped(name)) continue;
        const std::string sys = "/sys/class/block/" + name;
        Volume volume{name, name, std::string(), 0, 0, FormatUnknown, false, MountNotTried, std::string(),
                      WindowsNone, false, std::string(), {}};
        const std::string partition = Trimmed(ReadSmallFile(sys + "/partition"));
        if (!partition.empty()) {
            volume.partition = std::atoi(partition.c_str());
            char target[512];
            const ssize_t length = readlink(sys.c_str(), target, sizeof target - 1);
            if (length > 0) {
                std::string link(target, static_cast<std::size_t>(length));
                link = link.substr(0, link.find_last_of('/'));
                volume.disk = link.substr(link.find_last_of('/') + 1);
                parents.push_back(volume.disk);
            }
        }
        volume.bytes = std::strtoull(ReadSmallFile(sys + "/size").c_str(), nullptr, 10) * 512;
        const std::string device = "/sys/block/" + volume.disk + "/device/";
        // Virtual disks give a PCI vendor number, not a name.
        std::string vendor = Trimmed(ReadSmallFile(device + "vendor"));
        if (vendor.rfind("0x", 0) == 0) vendor.clear();
        volume.diskModel = Trimmed(vendor + " " + Trimmed(ReadSmallFile(device + "model")));
        if (volume.bytes == 0) continue;
        unsigned char sector[512];
        const int fd = open(("/dev/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t read = fd >= 0 ? pread(fd, sector, sizeof sector, 0) : -1;
        if (fd >= 0) close(fd);
        if (read == static_cast<ssize_t>(sizeof sector)) volume.format = FormatOfBootSector(sector, sizeof sector);
        volumes.push_back(volume);
    }
    // A disk with partitions is shown by its partitions.
    volumes.erase(std::remove_if(volumes.begin(), volumes.end(),
                                 [&](const Volume& v) {
                                     return v.partition == 0 &&
                                            std::find(parents.begin(), parents.end(), v.device) != parents.end();
                                 }),
                  volumes.end());
    std::sort(volumes.begin(), volumes.end(), [](const Volume& a, const Volume& b) {
        return a.disk != b.disk ? a.disk < b.disk : a.partition < b.partition;
    });
    for (Volume& volume : volumes) {
        volume.isStick = !stickDevice.empty() && volume.device == stickDevice;
        if (volume.isStick || (volume.format != FormatNtfs && volume.format != FormatFat)) continue;
        const std::string folder = DeviceFolder(paths, volume, "look");
        std::string reason;
        if (!MountAt(paths, volume, false, folder, reason, volume.readOnlyMount)) {
            volume.mountMessage = reason;
            continue;
        }
        if (volume.format == FormatFat && !EntryPath(folder, kStickMarkPath).empty()) {
            volume.isStick = true;
        } else {
            LookForWindows(paths, folder, volume);
        }
        UnmountFolder(folder);
    }
    return volumes;
}

void WaitForDisks(unsigned seconds)
{
    std::string last;
    int steady = 0;
    for (unsigned tenth = 0; tenth < seconds * 10; ++tenth) {
        std::string now;
        for (const std::string& name : NamesIn("/sys/class/block")) now += name + " ";
        steady = now == last ? steady + 1 : 0;
        last = now;
        // Two seconds without a change, and some disk there.
        if (steady >= 20 && !now.empty()) return;
        usleep(100 * 1000);
    }
}

bool MountVolume(const RescuePaths& paths, const Volume& volume, bool writable, std::string& folder,
                 std::string& reason)
{
    // Named as the device: the scanner's lines and the log show the files
    // below it.
    folder = paths.mounts + "/" + volume.device;
    MountResult result = MountNotTried;
    if (MountAt(paths, volume, writable, folder, reason, result)) return true;
    if (result == MountHibernated) {
        reason = "Windows is hibernated (Fast Startup): the NTFS driver refuses to write to it. " + reason;
    } else if (result == MountUnclean) {
        reason = "Windows did not shut down cleanly: the NTFS driver refuses to write to it. Start Windows and "
                 "shut it down fully, or let it repair the disk (chkdsk). " + reason;
    }
    return false;
}

void UnmountFolder(const std::string& folder)
{
    if (umount2(folder.c_str(), 0) != 0) umount2(folder.c_str(), MNT_DETACH);
    WaitForNtfsDrivers();
    rmdir(folder.c_str());
    sync();
}

std::string MountStick(const RescuePaths& paths, const std::vector<Volume>& volumes, std::string& device)
{
    for (const Volume& volume : volumes) {
        if (!volume.isStick) continue;
        const std::string folder = paths.mounts + "/stick";
        std::string reason;
        MountResult result = MountNotTried;
        if (!MountAt(paths, volume, true, folder, reason, result)) continue;
        device = volume.device;
        return folder;
    }
    device.clear();
    return std::string();
}

bool StartScan(const RescuePaths& paths, const std::string& root, bool clean, const std::string& stickRoot,
               ScanChild& child, std::string& reason)
{
    std::vector<std::string> argv = {paths.scanner, "--offline", root, "--json"};
    if (clean) argv.push_back("--remove");
    if (!stickRoot.empty()) {
        MakeFolders(stickRoot + "/" + kStickQuarantine);
        argv.insert(argv.end(), {"--quarantine", stickRoot + "/" + kStickQuarantine, "--log",
                                 stickRoot + "/" + kStickLog});
    } else if (clean) {
        reason = "the stick cannot be written, so nothing removed could be kept: nothing is cleaned";
        return false;
    }
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return reason = std::strerror(errno), false;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]), close(out[1]);
        return reason = std::strerror(errno), false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // Its own session: an interrupt meant for the screen never reaches it.
        setsid();
        ExecChild(argv, out[1], err[1]);
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]), close(err[0]);
        return reason = std::strerror(errno), false;
    }
    child.pid = pid;
    child.out = out[0];
    child.err = err[0];
    return true;
}

bool PollScan(ScanChild& child, ScanReport& report, int milliseconds, int keyFd)
{
    if (child.pid < 0) return false;
    pollfd fds[3] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}, {keyFd, POLLIN, 0}};
    const nfds_t count = keyFd >= 0 ? 3 : 2;
    if (child.out >= 0 || child.err >= 0) poll(fds, count, milliseconds);
    int* ends[2] = {&child.out, &child.err};
    std::string* pending[2] = {&child.outPending, &child.errPending};
    for (int i = 0; i < 2; ++i) {
        if (*ends[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buffer[4096];
        const ssize_t read = ::read(*ends[i], buffer, sizeof buffer);
        if (read <= 0) {
            close(*ends[i]);
            *ends[i] = -1;
            if (!pending[i]->empty()) *pending[i] += '\n';
        } else {
            pending[i]->append(buffer, static_cast<std::size_t>(read));
        }
        std::size_t newline;
        while ((newline = pending[i]->find('\n')) != std::string::npos) {
            const std::string line = pending[i]->substr(0, newline);
            pending[i]->erase(0, newline + 1);
            if (i == 0) TakeScanLine(report, line);
            else TakeScanProblem(report, line);
        }
    }
    if (child.out >= 0 || child.err >= 0) return true;
    int status = 0;
    waitpid(child.pid, &status, 0);
    child.pid = -1;
    EndScan(report, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return false;
}

void StopScan(const ScanChild& child)
{
    if (child.pid > 0) kill(child.pid, SIGINT);
}

Terminal::Terminal(int fd) : fd_(fd), raw_(false)
{
    if (tcgetattr(fd_, &saved_) != 0) return;
    struct termios raw = saved_;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_iflag &= static_cast<tcflag_t>(~(ICRNL | IXON));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw_ = tcsetattr(fd_, TCSANOW, &raw) == 0;
}

Terminal::~Terminal()
{
    if (raw_) tcsetattr(fd_, TCSANOW, &saved_);
}

void Terminal::Show(const std::vector<std::string>& lines)
{
    std::string text = "\033[H\033[2J";
    for (std::size_t i = 0; i < lines.size(); ++i) text += lines[i] + (i + 1 < lines.size() ? "\r\n" : "");
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = write(fd_, p, left);
        if (written <= 0) {
            if (written < 0 && errno == EINTR) continue;
            return;
        }
        p += written;
        left -= static_cast<std::size_t>(written);
    }
}

MenuKey Terminal::ReadKey(int milliseconds, char& letter)
{
    letter = 0;
    pollfd fd = {fd_, POLLIN, 0};
    if (poll(&fd, 1, milliseconds) <= 0) return KeyNone;
    char bytes[8];
    const ssize_t read = ::read(fd_, bytes, sizeof bytes);
    if (read <= 0) return KeyNone;
    if (bytes[0] == '\033') {
        if (read >= 3 && (bytes[1] == '[' || bytes[1] == 'O')) {
            if (bytes[2] == 'A') return KeyUp;
            if (bytes[2] == 'B') return KeyDown;
            return KeyNone;
        }
        return KeyEscape;
    }
    if (bytes[0] == '\r' || bytes[0] == '\n') return KeyEnter;
    if (bytes[0] == 127 || bytes[0] == 8) return KeyEscape;
    letter = bytes[0];
    return KeyOther;
}

bool AppendToFile(const std::string& path, const std::string& text)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool flushed = fsync(fd) == 0;
    close(fd);
    return written && flushed;
}

void SerialLine(const std::string& line)
{
    const int fd = open("/dev/ttyS0", O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    const std::string text = line + "\r\n";
    const ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
    tcdrain(fd);
    close(fd);
}

void EndSystem(const RescuePaths& paths, bool restart)
{
    std::vector<std::string> mounted;
    std::stringstream mounts(ReadSmallFile("/proc/mounts"));
    std::string line;
    while (std::getline(mounts, line)) {
        std::stringstream fields(line);
        std::string device, folder;
        fields >> device >> folder;
        if (folder.rfind(paths.mounts + "/", 0) == 0) mounted.push_back(folder);
    }
    for (auto it = mounted.rbegin(); it != mounted.rend(); ++it) UnmountFolder(*it);
    sync();
    reboot(restart ? RB_AUTOBOOT : RB_POWER_OFF);
}
