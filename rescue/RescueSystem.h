// The rescue stick's reach into the system it runs on: the disks and
// their partitions (/sys/class/block), mounting them (read-only until a
// person chose to clean; NTFS through ntfs-3g, FAT through the kernel),
// the scanner run as a child, the terminal, and power. Thin on purpose:
// every decision is in RescueVolume, RescueAuto, RescueMenu and
// RescueScanReport.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <string>
#include <vector>

#include "rescue/RescueMenu.h"
#include "rescue/RescueScanReport.h"
#include "rescue/RescueVolume.h"

// Where the rescue system keeps its mount points and finds its programs.
struct RescuePaths {
    std::string mounts = "/run/quellor";        // mount points below it
    std::string scanner = "/bin/quellor-scan";
    std::string ntfs = "/bin/ntfs-3g";
    std::string self = "/proc/self/exe";        // this program, for the hive reader
};

// The stick's data folder, its files, relative to the stick's root.
extern const char kStickFolder[];      // "QUELLOR": the mark that a FAT volume is the stick
extern const char kStickMark[];        // "QUELLOR/RESCUE.TXT"
extern const char kStickAutoFile[];    // "QUELLOR/AUTO.TXT"
extern const char kStickLog[];         // "QUELLOR/quellor.log"
extern const char kStickQuarantine[];  // "QUELLOR/QUARANTINE"
extern const char kStickResults[];     // "QUELLOR/RESULTS.TXT"

// Every partition of every disk (and each disk without partitions), each
// probed: its format, a read-only look for a Windows, its version and
// users, hibernation. Nothing is written. The stick is marked; when it is
// already mounted, its device is given and it is not looked at again.
std::vector<Volume> ProbeVolumes(const RescuePaths& paths, const std::string& stickDevice = std::string());

// Waits (up to `seconds`) until the stick has appeared and the list of
// block devices has stopped changing: USB disks come late.
void WaitForDisks(unsigned seconds);

// Mounts `volume` at a folder of its own below paths.mounts: read-only, or
// read-write for cleaning. Gives the folder; false with a reason a person
// reads (the NTFS driver's refusal of a hibernated Windows among them).
bool MountVolume(const RescuePaths& paths, const Volume& volume, bool writable, std::string& folder,
                 std::string& reason);
void UnmountFolder(const std::string& folder);

// The stick's root, mounted read-write, and its device; empty when it
// cannot be.
std::string MountStick(const RescuePaths& paths, const std::vector<Volume>& volumes, std::string& device);

// The scanner working as a child.
struct ScanChild {
    pid_t pid = -1;
    int out = -1;  // its standard output (JSON lines)
    int err = -1;  // its standard error (problems)
    std::string outPending, errPending;
};

// quellor-scan --offline ROOT --json, with --remove when cleaning, and the
// log and the quarantine on the stick when `stickRoot` is given.
bool StartScan(const RescuePaths& paths, const std::string& root, bool clean, const std::string& stickRoot,
               ScanChild& child, std::string& reason);
// Takes what the child wrote, waiting at most `milliseconds` (and no longer
// than until `keyFd` is readable, when it is not -1). True while it runs;
// when it ends, its exit status is given to the report.
bool PollScan(ScanChild& child, ScanReport& report, int milliseconds, int keyFd);
// Asks the scanner to stop at its next file.
void StopScan(const ScanChild& child);

// The terminal of the screen, in raw mode while the object lives.
class Terminal {
public:
    explicit Terminal(int fd);
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    int Fd() const { return fd_; }
    void Show(const std::vector<std::string>& lines);
    // A key, waiting at most `milliseconds` (-1: until one comes).
    MenuKey ReadKey(int milliseconds, char& letter);

private:
    int fd_;
    bool raw_;
    struct termios saved_;
};

// The text of a small file (the kernel's command line); empty when missing.
std::string ReadSmallFile(const std::string& path);
// Appends `text` to a file on the stick and flushes it to the stick.
bool AppendToFile(const std::string& path, const std::string& text);
// Writes a line to the serial console, when there is one.
void SerialLine(const std::string& line);

// Unmounts everything below paths.mounts, flushes, and powers off or
// restarts the PC. Returns only when that failed.
void EndSystem(const RescuePaths& paths, bool restart);

// The hive reader's entry (quellor-rescue --describe SOFTWARE): prints
// "version TEXT" and "user NAME" lines. Run as a child, so a damaged hive
// cannot take the screen down.
int DescribeHive(const std::string& softwareHive);
