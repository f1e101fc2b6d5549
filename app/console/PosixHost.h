// The console scanner's host on POSIX systems: each named folder becomes
// drive C: of the engine in turn, so the engine's paths stay short; paths
// are shown as the user named them, with '/'. The quarantine's folder and
// the place a file is restored to get drives of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/console/ConsoleScan.h"
#include "platform/posix/PosixPlatform.h"

// The engine's drive of the folder scanned.
const char kPosixScanDrive = 'C';

// `path` made absolute against the working folder, without "." and ".."
// components and without a trailing '/'; empty when the working folder is
// unknown.
std::string AbsolutePath(const std::string& path);

bool IsFolderPath(const std::string& path);

// Maps drive `letter` to the deepest folder of the absolute host path
// `path` that exists, and gives `path` as an engine path on that drive:
// the engine reaches nothing above that folder, and makes what is missing
// below it. False with a reason when a name holds a backslash or the
// engine path does not fit.
bool MapUnder(PosixPlatform& platform, char letter, const std::string& path, std::string& engine,
              std::string& error);

class PosixHost : public ConsoleHost {
public:
    explicit PosixHost(PosixPlatform& platform) : platform_(platform) {}

    bool AllDrivesByDefault() override { return false; }
    bool Resolve(const std::string& named, ConsoleTarget& target, std::string& error) override;
    void Enter(const ConsoleTarget& target) override;
    std::string Display(const ConsoleTarget* target, const std::string& enginePath) override;
    std::vector<std::string> NotAvailable() override { return {"memory", "registry", "services"}; }
    bool StoreFolder(const std::string& named, std::string& engineFolder, std::string& error) override;
    std::string StoreWord(const std::string& named) override;
    std::string OriginalPath(const ConsoleTarget* target, const std::string& enginePath) override;
    bool RestoreTarget(const std::string& recorded, const std::string& to, std::string& shown, std::string& enginePath,
                       std::string& error) override;
    bool ReachRecorded(const std::string& recorded, std::string& enginePath) override;
    std::uint64_t Milliseconds() override;
    bool LogFile(const std::string& named, std::string& enginePath, std::string& error) override;
    // The system's name, release and machine (never the host's name).
    std::string SystemName() override;

protected:
    PosixPlatform& platform_;
};
