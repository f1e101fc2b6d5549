// The console scanner's host for a Windows disk that is not running
// (quellor-scan --offline ROOT). The disk's root folder is the engine's
// drive C:, as a named folder is; the registry calls reach the disk's own
// hives through the hive backend: the machine's SOFTWARE and SYSTEM, and
// each user's NTUSER.DAT as HKEY_CURRENT_USER in turn. No process of that
// Windows runs, so the memory pass and the stop of services are not
// available. A Windows 95/98/ME disk has its files cleaned, not its
// registry.
#pragma once

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

    // Finds the Windows on the disk at `root` (as the user named it);
    // when `changes` are asked for, checks that the disk can be changed;
    // then mounts its hives, writable only with `changes`, and from then on
    // keeps each hive's original in the quarantine in use before its first
    // change. False with a one-line reason: nothing is scanned or changed.
    bool Open(const std::string& root, bool changes, std::string& error);
    // As Open, with the disk's answers about writing given.
    bool OpenWith(const std::string& root, bool changes, const DiskAccess& access, std::string& error);

    void Enter(const ConsoleTarget& target) override;
    std::vector<std::string> NotAvailable() override;
    std::string ScannedSystem() override;
    std::vector<std::string> Notes() override { return notes_; }
    std::vector<std::string> TakeProblemLines() override;
    // The disk's Windows, seen from the system the scanner runs on.
    std::string SystemName() override;
    // Quellor.log in the data folder the dialog uses on the disk's Windows.
    bool OwnLogFile(std::string& enginePath, std::string& shown) override;

private:
    // The host path of the machine's hive `name` found at `relative`, noted
    // as mounted; empty, with a problem line, when it is missing.
    std::string MachineHive(const std::string& relative, const char* name);
    void MountMachine();
    void MountUsers();
    void MountUser(const std::string& hive, const std::string& profilePath);
    // The hook the hive backend calls before a hive's first change.
    void KeepOriginal(const std::string& hiveHostPath);
    std::string HostPath(const std::string& relative) const;
    // SystemRoot as the SOFTWARE hive at `softwareHostPath` names it.
    std::string SystemRootOf(const std::string& softwareHostPath);
    // The folder where the disk's Windows keeps its programs' data for all
    // users, relative to the root.
    std::string DataFolder();

    HivePlatform& hives_;
    std::string root_;
    WindowsOnDisk windows_ = {NoWindows, std::string(), std::string(), std::string()};
    // Each mounted hive's path relative to the root, by its host path.
    std::map<std::string, std::string> mounted_;
    std::size_t users_ = 0;
    std::vector<std::string> notes_;
    std::vector<std::string> problems_;
    const ConsoleTarget* target_ = nullptr;
};
