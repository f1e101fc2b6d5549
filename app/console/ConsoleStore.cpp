#include "app/console/ConsoleStore.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/console/ConsoleText.h"
#include "scan/BoundedText.h"
#include "scan/Quarantine.h"
#include "scan/QuarantineStore.h"
#include "scan/Wow64View.h"

namespace {

const std::int64_t kSecondsPerDay = 86400;

bool ReachThroughHost(const char* recorded, char* out, std::size_t size, void* context)
{
    std::string enginePath;
    return static_cast<ConsoleHost*>(context)->ReachRecorded(recorded, enginePath) &&
           CopyText(out, size, enginePath.c_str());
}

struct Listed {
    std::string id;
    bool damaged;
    QuarantineEntry entry;
};

void CollectEntry(const char* id, const QuarantineEntry* entry, void* context)
{
    Listed listed;
    listed.id = id;
    listed.damaged = entry == nullptr;
    if (entry) listed.entry = *entry;
    static_cast<std::vector<Listed>*>(context)->push_back(listed);
}

// The store's entries in the order of their ids, which is the order they
// were made in.
std::vector<Listed> ListedEntries()
{
    std::vector<Listed> entries;
    ListQuarantine(CollectEntry, &entries);
    std::sort(entries.begin(), entries.end(), [](const Listed& a, const Listed& b) { return a.id < b.id; });
    return entries;
}

class Command {
public:
    Command(const ConsoleOptions& options, const ConsoleStreams& streams) : options_(options), streams_(streams) {}

    void Say(const std::string& text)
    {
        PutLine(streams_.out, text);
    }
    int Fail(const std::string& text)
    {
        PutLine(streams_.err, "quellor-scan: " + text);
        return kExitTrouble;
    }
    // Damaged entries are named, each with how to remove it; the status.
    int NameDamaged(const std::vector<Listed>& entries)
    {
        int status = kExitClean;
        for (const Listed& listed : entries) {
            if (!listed.damaged) continue;
            status = Fail("quarantine entry " + listed.id + " is damaged (--purge " + listed.id + " removes it)");
        }
        return status;
    }
    // The entry's reading as the user is told it; empty when it was read.
    std::string ReadProblem(StoreResult result, const std::string& id)
    {
        switch (result) {
        case StoreDone: return std::string();
        case StoreNoEntry: return "there is no quarantine entry " + id;
        case StoreDamaged: return "quarantine entry " + id + " is damaged";
        case StoreBusy: return "the quarantine is in use by another run";
        default: return "'" + id + "' is not a quarantine entry ID";
        }
    }

    int List()
    {
        const std::vector<Listed> entries = ListedEntries();
        std::size_t shown = 0;
        for (const Listed& listed : entries) {
            if (listed.damaged) continue;
            ++shown;
            const QuarantineEntry& entry = listed.entry;
            char digest[kSha256HexSize];
            Sha256Hex(entry.sha256, digest);
            if (!options_.json) {
                Say(listed.id + "  " + UtcText(entry.time) + " UTC  " + std::to_string(entry.length) + " bytes  " +
                    entry.threat + "  " + entry.originalPath);
                continue;
            }
            Say(std::string("{\"type\":\"quarantined\",\"id\":") + JsonString(listed.id) +
                ",\"path\":" + JsonString(entry.originalPath) + ",\"threat\":" + JsonString(entry.threat) +
                ",\"time\":" + std::to_string(entry.time) + ",\"date\":" +
                JsonString(UtcText(entry.time)) + ",\"length\":" + std::to_string(entry.length) +
                ",\"sha256\":" + JsonString(digest) + "}");
        }
        if (shown == 0 && !options_.json && !options_.quiet) Say("The quarantine holds no entry.");
        return NameDamaged(entries);
    }

    int Restore(ConsoleHost& host)
    {
        const std::string& id = options_.entry;
        QuarantineEntry entry;
        const std::string problem = ReadProblem(ReadQuarantineEntry(id.c_str(), entry), id);
        if (!problem.empty()) return Fail(problem + "; nothing was restored");
        std::string shown;
        std::string target;
        std::string error;
        if (!host.RestoreTarget(entry.originalPath, options_.restoreTo, shown, target, error)) {
            return Fail(error + "; nothing was restored");
        }
        switch (RestoreQuarantineEntry(id.c_str(), target.c_str(), shown.c_str())) {
        case StoreDone:
            Say("Restored " + shown + " (" + entry.threat + ") from quarantine entry " + id);
            return kExitClean;
        case StoreTargetExists:
            return Fail(shown + " exists: nothing was overwritten (--to PATH restores the file elsewhere)");
        case StoreDamaged:
            return Fail("quarantine entry " + id + " does not match its record (damaged); nothing was restored");
        case StoreBadTarget:
            return Fail("cannot restore to " + shown + ": not an absolute path without '.' or '..' in it");
        case StoreFolderFailed:
            return Fail("cannot make the folder of " + shown + "; nothing was restored");
        case StoreBusy:
            return Fail("the quarantine is in use by another run; nothing was restored");
        default:
            return Fail("cannot write " + shown + "; nothing was restored");
        }
    }

    int Purge()
    {
        const std::string& id = options_.entry;
        QuarantineEntry entry;
        const StoreResult read = ReadQuarantineEntry(id.c_str(), entry);
        if (read != StoreDone && read != StoreDamaged) return Fail(ReadProblem(read, id));
        const StoreResult purged = PurgeQuarantineEntry(id.c_str());
        if (purged == StoreBusy) return Fail(ReadProblem(purged, id));
        if (purged != StoreDone) return Fail("cannot remove quarantine entry " + id);
        Say("Removed quarantine entry " + id + (read == StoreDone ? " (" + std::string(entry.originalPath) + ")"
                                                                   : std::string(" (damaged)")));
        return kExitClean;
    }

    int PurgeOlderThan()
    {
        const std::vector<Listed> entries = ListedEntries();
        // Of a damaged entry the age is not known: nothing is removed until
        // it is dealt with by its id.
        if (NameDamaged(entries) != kExitClean) return Fail("nothing was removed");
        const std::int64_t cutoff = Sys().CurrentTime() - static_cast<std::int64_t>(options_.days) * kSecondsPerDay;
        std::size_t removed = 0;
        int status = kExitClean;
        for (const Listed& listed : entries) {
            if (listed.entry.time >= cutoff) continue;
            if (PurgeQuarantineEntry(listed.id.c_str()) == StoreDone) {
                ++removed;
            } else {
                status = Fail("cannot remove quarantine entry " + listed.id);
            }
        }
        Say("Removed " + std::to_string(removed) + (removed == 1 ? " entry" : " entries") + " older than " +
            std::to_string(options_.days) + (options_.days == 1 ? " day" : " days") + " from the quarantine");
        return status;
    }

private:
    const ConsoleOptions& options_;
    ConsoleStreams streams_;
};

}  // namespace

std::string UtcText(std::int64_t seconds)
{
    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t rest = seconds % kSecondsPerDay;
    if (rest < 0) {
        rest += kSecondsPerDay;
        --days;
    }
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

bool UseConsoleQuarantine(ConsoleHost& host, const std::string& named, std::string& error)
{
    std::string folder;
    QuarantineSettings settings;
    settings.totalCap = kDefaultQuarantineTotalCap;
    settings.fileCap = kDefaultQuarantineFileCap;
    settings.ownPlace = named.empty();
    if (!host.StoreFolder(named, folder, error)) return false;
    if (!CopyText(settings.folder, sizeof settings.folder, folder.c_str())) {
        error = "the quarantine's folder is too long";
        return false;
    }
    UseQuarantine(settings);
    SetQuarantinePathFinder(ReachThroughHost, &host);
    return true;
}

void StopConsoleQuarantine()
{
    StopQuarantine();
    SetQuarantinePathFinder(nullptr, nullptr);
}

int RunQuarantineCommand(const ConsoleOptions& options, ConsoleHost& host, const ConsoleStreams& streams)
{
    Command command(options, streams);
    std::string error;
    if (!UseConsoleQuarantine(host, options.quarantineFolder, error)) return command.Fail(error);
    // A file goes back under the name the user knows, System32 included.
    DetectWow64View();
    // What interrupted runs left is dealt with before anything is read.
    OpenQuarantine();
    int status = kExitTrouble;
    switch (options.command) {
    case CommandListQuarantine: status = command.List(); break;
    case CommandRestore: status = command.Restore(host); break;
    case CommandPurge: status = command.Purge(); break;
    case CommandPurgeOlderThan: status = command.PurgeOlderThan(); break;
    default: break;
    }
    StopConsoleQuarantine();
    std::fflush(streams.out);
    return status;
}
