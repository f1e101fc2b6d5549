// The console scanner's host for a Windows disk that is not running
// (quellor-scan --offline ROOT). The disk's root folder is the engine's
// drive C:, as a named folder is; the registry calls reach the disk's own
// hives through the hive backend: the machine's SOFTWARE and SYSTEM, and
// each user's NTUSER.DAT as HKEY_CURRENT_USER in turn. No process of that
// Windows runs, so the memory pass and the stop of services are not
// available. A Windows 95/98/ME disk has its files cleaned, not its
// registry.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "app/console/OfflineDisk.h"
#include "app/console/PosixHost.h"
#include "platform/hive/HivePlatform.h"

// The threat name under which a hive's original is kept in the quarantine.
extern const char kHiveOriginalLabel[];

class OfflineHost : public PosixHost {
public:
    // `hives` is the platform the engine uses; `files` is the backend
    // beneath it, whose drives the host maps.
    OfflineHost(PosixPlatform& files, HivePlatform& hives) : PosixHost(files), hives_(hives) {}
    ~OfflineHost() override;
    OfflineHost(const OfflineHost&) = delete;
    OfflineHost& operator=(const OfflineHost&) = delete;

    // Holds the disk's root folder open (`root` as the user named it) and
    // finds the Windows on it below that folder; when `changes` are asked
    // for, checks that the disk can be changed; then mounts its hives,
    // writable only with `changes`, and from then on keeps each hive's
    // original in the quarantine in use before its first change (a hive
    // whose original cannot be kept is not changed). False with a one-line
    // reason: nothing is scanned or changed. Opening changes nothing on the
    // disk.
    bool Open(const std::string& root, bool changes, std::string& error);
    // As Open, with the disk's answers about writing given.
    bool OpenWith(const std::string& root, bool changes, const DiskAccess& access, std::string& error);

    void Enter(const ConsoleTarget& target) override;
    std::vector<std::string> NotAvailable() override;
    std::string ScannedSystem() override;
    std::vector<std::string> Notes() override { return notes_; }
    // Every hive that could not be read or written, every profile whose
    // registry could not be reached, every other Windows on the disk, and
    // a run log that cannot be left on the disk.
    std::vector<std::string> TakeProblemLines() override;
    // The disk's Windows, seen from the system the scanner runs on.
    std::string SystemName() override;
    // Quellor.log in the data folder the dialog uses on the disk's Windows,
    // its folder made (mode 0700) when missing. None, with a problem line,
    // when that folder or the log's name is something else (a link, a
    // FIFO ...).
    bool OwnLogFile(std::string& enginePath, std::string& shown) override;

private:
    // The place of `hive` (Found, or Blocked at its own name) below the
    // root held as `root`, for the hive backend; its folder is held open as
    // `held`, which the caller closes after the mount.
    HivePlatform::Place PlaceOf(int root, const DiskLookup& hive, int& held);
    // The machine's hive `name` as found; a problem line when it is missing
    // or cannot be reached.
    void MachineHive(const DiskLookup& hive, const char* name, HivePlatform::Place& place, int& held);
    void MountMachine();
    void MountUsers();
    void MountUser(const DiskLookup& hive, const std::string& profilePath);
    // A problem line: the path of the profile `who` holds a control byte.
    void NamedOddly(const std::string& who);
    // The hook the hive backend calls before a hive's first change: true
    // when its original was kept (or keeping was not asked).
    bool KeepOriginal(const std::string& hiveHostPath);
    std::string HostPath(const std::string& relative) const;
    // SystemRoot as the SOFTWARE hive at `software` names it.
    std::string SystemRootOf(int root, const std::string& software);
    // The folder where the disk's Windows keeps its programs' data for all
    // users, relative to the root.
    std::string DataFolder();
    // The run's record cannot be left on the disk: a problem line.
    void NoOwnLog(const std::string& why);

    HivePlatform& hives_;
    std::string root_;
    int rootFd_ = -1;
    WindowsOnDisk windows_;
    // Each mounted hive's path relative to the root, by its host path.
    std::map<std::string, std::string> mounted_;
    // The files of the users' hives mounted (device, inode).
    std::vector<std::pair<dev_t, ino_t>> userFiles_;
    std::size_t users_ = 0;
    std::vector<std::string> notes_;
    std::vector<std::string> problems_;
    const ConsoleTarget* target_ = nullptr;
};
