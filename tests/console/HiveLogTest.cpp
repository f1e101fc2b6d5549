// A hive changed here beside its transaction logs loads as changed by the
// format's published recovery rules (tests/console/HiveRecovery.h): now,
// and after Windows crashes in its next write to it, when the hive is
// dirty and the logs are replayed. The logs hold the hive as it was before
// the change, so a replay would bring back what was removed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "console/HiveRecovery.h"
#include "console/HiveScratch.h"

namespace {

using namespace hiverecovery;

const char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunInSoftware[] = "Microsoft\\Windows\\CurrentVersion\\Run";

std::vector<std::string> WithoutEvil(std::vector<std::string> lines)
{
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& line) { return line.find("| evil |") != std::string::npos; }),
                lines.end());
    return lines;
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class HiveLogs : public HiveScratch {
protected:
    // The meaning of `bytes` as a hive.
    std::vector<std::string> MeaningOf(const std::string& bytes)
    {
        const std::string path = temp / "loaded";
        WriteBytes(path, bytes);
        return Meaning(path);
    }
};

// Which logs lie beside the hive, each holding the hive's bins as they
// were before the change, numbered or stamped as Windows left them.
struct LogSet {
    const char* name;
    // Names and contents, made from the hive before the change: its bytes,
    // its bins, its sequence number.
    typedef std::function<std::string(const std::string&, const std::string&, std::uint32_t)> Maker;
    std::vector<std::pair<std::string, Maker>> logs;
};

const LogSet kLogSets[] = {
    {"new format: entries up to the number libhivex gives the changed hive",
     {{"SOFTWARE.LOG1",
       [](const std::string& hive, const std::string& bins, std::uint32_t s) {
           return NewFormatLog(hive, {s - 1, s, s + 1}, bins);
       }}}},
    {"new format: the chain goes on in the .LOG2, far beyond",
     {{"SOFTWARE.LOG1",
       [](const std::string& hive, const std::string& bins, std::uint32_t s) { return NewFormatLog(hive, {s}, bins); }},
      {"SOFTWARE.LOG2",
       [](const std::string& hive, const std::string& bins, std::uint32_t s) {
           return NewFormatLog(hive, {s + 1, s + 2, s + 3, s + 40}, bins);
       }}}},
    {"old format, stamped with the hive's time",
     {{"SOFTWARE.LOG", [](const std::string& hive, const std::string& bins, std::uint32_t) {
           return OldFormatLog(hive, bins);
       }}}},
    {"names in another case",
     {{"software.log1",
       [](const std::string& hive, const std::string& bins, std::uint32_t s) {
           return NewFormatLog(hive, {s + 1}, bins);
       }},
      {"Software.Log", [](const std::string& hive, const std::string& bins, std::uint32_t) {
           return OldFormatLog(hive, bins);
       }}}},
};

// The logs' bytes in the order Windows reads them (.LOG, .LOG1, .LOG2).
std::vector<std::string> InWindowsOrder(const std::vector<std::pair<std::string, std::string>>& logs)
{
    std::vector<std::string> ordered(3);
    for (const auto& log : logs) {
        std::string upper = log.first;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::size_t slot = upper.back() == '1' ? 1 : upper.back() == '2' ? 2 : 0;
        ordered[slot] = log.second;
    }
    return ordered;
}

TEST_F(HiveLogs, TheChangedHiveLoadsAsChangedWhateverItsLogsHold)
{
    for (const LogSet& set : kLogSets) {
        SCOPED_TRACE(set.name);
        TempFolder folder;
        const std::string path = folder / "SOFTWARE";
        std::string error;
        ASSERT_TRUE(MakeHive(path, {{kRunInSoftware, {HiveSz("evil", "C:\\evil.exe"), HiveSz("good", "C:\\good.exe")}}},
                             error))
            << error;
        const std::string before = ReadFileText(path);
        const std::vector<std::string> meaning = Meaning(path);
        const std::uint32_t sequence = Le32(before, kSequence1);
        const std::string bins = before.substr(kHeaderSize, Le32(before, kBinsSize));
        std::vector<std::pair<std::string, std::string>> logs;
        for (const auto& made : set.logs) {
            logs.emplace_back(made.first, made.second(before, bins, sequence));
            WriteBytes(folder / made.first, logs.back().second);
        }
        const std::vector<std::string> ordered = InWindowsOrder(logs);

        HivePlatform platform(posix);
        std::vector<std::string> problems;
        platform.MountMachine(path, "", problems);
        ASSERT_TRUE(problems.empty());
        platform.AllowChanges(true);
        KeyRef key = 0;
        ASSERT_EQ(kRegistryOk, platform.RegistryOpen(kKeyLocalMachine, kRun, kKeyAllAccess | kKeyView64, key));
        ASSERT_EQ(kRegistryOk, platform.RegistryDeleteValue(key, "evil"));
        platform.RegistryClose(key);
        const std::string changed = ReadFileText(path);

        EXPECT_FALSE(IsDirty(changed));
        EXPECT_EQ(WithoutEvil(meaning), MeaningOf(LoadAsWindowsWould(changed, ordered)));
        EXPECT_EQ(WithoutEvil(meaning), MeaningOf(LoadAsWindowsWould(CrashedInItsNextWrite(changed), ordered)));

        // The same change with the header libhivex alone gives it (its
        // number moved on by one, its time kept) would get the value back:
        // the rules above can tell a replay.
        std::string unsealed = changed;
        PutLe32(unsealed, kSequence1, sequence + 1);
        PutLe32(unsealed, kSequence2, sequence + 1);
        unsealed.replace(kTimestamp, 8, before, kTimestamp, 8);
        unsealed.replace(kHeaderSize + 20, 8, before, kHeaderSize + 20, 8);
        FixChecksum(unsealed);
        EXPECT_EQ(WithoutEvil(meaning), MeaningOf(unsealed));
        EXPECT_EQ(meaning, MeaningOf(LoadAsWindowsWould(CrashedInItsNextWrite(unsealed), ordered)));
        // The logs are left as they were.
        for (const auto& log : logs) EXPECT_EQ(log.second, ReadFileText(folder / log.first)) << log.first;
    }
}

// Entries beside the hive that are no logs Windows wrote are not opened,
// and a FIFO there cannot hold the change up.
TEST_F(HiveLogs, WhatIsNoLogIsNeverOpened)
{
    const std::string path = Hive("SOFTWARE", {{kRunInSoftware, {HiveSz("evil", "C:\\evil.exe")}}});
    ASSERT_EQ(0, mkfifo((temp / "SOFTWARE.LOG1").c_str(), 0600));
    ASSERT_EQ(0, symlink("/proc/self/mem", (temp / "SOFTWARE.LOG2").c_str()));
    std::vector<std::string> problems;
    hives.MountMachine(path, "", problems);
    hives.AllowChanges(true);
    EXPECT_EQ(kRegistryOk, DeleteValue(kKeyLocalMachine, kRun, "evil", kKeyView64));
    EXPECT_TRUE(hives.TakeProblems().empty());
    EXPECT_EQ("-2", Read(kKeyLocalMachine, kRun, "evil", kKeyView64));
}

// A log numbered as high as a number goes leaves no number above it: the
// hive is not changed rather than changed into one a replay could follow.
TEST_F(HiveLogs, LogsNumberedToTheEndStopTheChange)
{
    const std::string path = Hive("SOFTWARE", {{kRunInSoftware, {HiveSz("evil", "C:\\evil.exe")}}});
    const std::string before = ReadFileText(path);
    WriteBytes(temp / "SOFTWARE.LOG1",
               NewFormatLog(before, {0xFFFFFFFFu}, before.substr(kHeaderSize, Le32(before, kBinsSize))));
    std::vector<std::string> problems;
    hives.MountMachine(path, "", problems);
    hives.AllowChanges(true);
    EXPECT_EQ(1016, DeleteValue(kKeyLocalMachine, kRun, "evil", kKeyView64));
    const std::vector<std::string> reported = hives.TakeProblems();
    ASSERT_EQ(1u, reported.size());
    EXPECT_NE(std::string::npos, reported[0].find("transaction logs")) << reported[0];
    EXPECT_EQ(before, ReadFileText(path));
}

}  // namespace
