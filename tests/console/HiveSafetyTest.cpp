// How the hive backend protects the hives of the disk: damaged hives left
// alone, hives Windows did not close cleanly never written, nothing written
// unless allowed, the hook before a hive's first change, and a change that
// fails or is interrupted at any step leaving the old hive or the new one.
#include <gtest/gtest.h>
#include <hivex.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "console/HiveScratch.h"
#include "platform/hive/HiveHeader.h"
#include "platform/hive/HiveText.h"

namespace {

const char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunInSoftware[] = "Microsoft\\Windows\\CurrentVersion\\Run";

std::vector<HiveKeyDraft> RunKeys()
{
    return {{kRunInSoftware, {HiveSz("evil", "C:\\evil.exe"), HiveSz("good", "C:\\good.exe")}},
            {"Vendor\\Empty", {}}};
}

// The meaning of the Run hive after "evil" is deleted.
std::vector<std::string> WithoutEvil(std::vector<std::string> lines)
{
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& line) { return line.find("| evil |") != std::string::npos; }),
                lines.end());
    return lines;
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The file's bytes (of a huge file its size and first bytes); a mark for a
// folder or nothing at all.
std::string Bytes(const std::string& path)
{
    const off_t kWhole = 16 * 1024 * 1024;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return "<missing>";
    if (!S_ISREG(st.st_mode)) return "<not a file>";
    if (st.st_size <= kWhole) return ReadFileText(path);
    std::ifstream in(path, std::ios::binary);
    std::string head(64 * 1024, '\0');
    in.read(&head[0], static_cast<std::streamsize>(head.size()));
    return "<" + std::to_string(st.st_size) + " bytes> " + head;
}

std::string NewFileOf(const std::string& hive)
{
    return hive + ".quellor-new";
}

HiveVerdict CheckHivePath(const std::string& path, std::string& why)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return HiveVerdict::Damaged;
    const HiveVerdict verdict = CheckHiveFile(fd, why);
    close(fd);
    return verdict;
}

// ------------------------------------------------------------ hives that cannot be used

// Ways a hive file can be unusable, each made from a sound hive.
struct Damage {
    const char* name;
    std::function<void(const std::string& path)> apply;
};

void Overwrite(const std::string& path, std::size_t at, const std::string& bytes)
{
    std::string content = ReadFileText(path);
    content.replace(at, bytes.size(), bytes);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

void SetField(const std::string& path, std::size_t at, std::uint32_t value)
{
    std::string error;
    ASSERT_TRUE(SetHiveHeaderField(path, at, value, error)) << error;
}

// Adds one bin, a hole but for its header and one free cell filling it, so
// that the hive's bins (and its header) reach `binsSize`: a hive libhivex
// reads without a word, whatever its size.
void GrowToBins(const std::string& path, std::uint32_t binsSize)
{
    const std::uint32_t bins = static_cast<std::uint32_t>(ReadFileText(path).size()) - 4096;
    const std::uint32_t added = binsSize - bins;
    std::string header = "hbin";
    for (std::uint32_t field : {bins, added, 0u, 0u, 0u, 0u, 0u, added - 0x20}) {
        for (int i = 0; i < 4; ++i) header += static_cast<char>(field >> (8 * i));
    }
    ASSERT_EQ(0, truncate(path.c_str(), static_cast<off_t>(4096) + binsSize));
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(static_cast<ssize_t>(header.size()), pwrite(fd, header.data(), header.size(), 4096 + bins));
    close(fd);
    SetField(path, kHiveBinsSizeOffset, binsSize);
}

const Damage kDamages[] = {
    {"NotAHive", [](const std::string& path) { std::ofstream(path, std::ios::trunc) << "Windows Registry Editor\n"; }},
    {"Empty", [](const std::string& path) { std::ofstream(path, std::ios::trunc); }},
    {"CutInTheMiddle",
     [](const std::string& path) { ASSERT_EQ(0, truncate(path.c_str(), static_cast<off_t>(ReadFileText(path).size() / 2 + 100))); }},
    {"HeaderOnly", [](const std::string& path) { ASSERT_EQ(0, truncate(path.c_str(), 4096)); }},
    {"HeaderSizeBeyondTheFile", [](const std::string& path) { SetField(path, kHiveBinsSizeOffset, 0x7FFFF000u); }},
    {"HeaderSizeNotWholeBins", [](const std::string& path) { SetField(path, kHiveBinsSizeOffset, 0x1800u); }},
    {"HeaderSizeZero", [](const std::string& path) { SetField(path, kHiveBinsSizeOffset, 0); }},
    // Windows' hive files end within the 256 KiB step they grow by.
    {"LargerThanItsHeaderSays",
     [](const std::string& path) {
         ASSERT_EQ(0, truncate(path.c_str(), static_cast<off_t>(ReadFileText(path).size()) + 256 * 1024 + 4096));
     }},
    {"LargerThan2GiB", [](const std::string& path) { GrowToBins(path, 0x80000000u); }},
    {"RootOutsideTheBins", [](const std::string& path) { SetField(path, 0x24, 0x7FFFFFF0u); }},
    {"MajorVersionTwo", [](const std::string& path) { SetField(path, 0x14, 2); }},
    {"ChecksumWrong", [](const std::string& path) { Overwrite(path, 0x30, "damaged"); }},
    {"BinSizeBeyondTheHive", [](const std::string& path) { Overwrite(path, 0x1008, std::string("\x00\xF0\xFF\x7F", 4)); }},
    {"BinNamesAnotherPosition", [](const std::string& path) { Overwrite(path, 0x1004, std::string("\x00\x10\x00\x00", 4)); }},
    {"BinMissing", [](const std::string& path) { Overwrite(path, 0x1000, "xbin"); }},
    {"AFolder",
     [](const std::string& path) {
         ASSERT_EQ(0, unlink(path.c_str()));
         ASSERT_EQ(0, mkdir(path.c_str(), 0700));
     }},
    {"Missing", [](const std::string& path) { ASSERT_EQ(0, unlink(path.c_str())); }},
    {"ALinkToAHive",
     [](const std::string& path) {
         ASSERT_EQ(0, rename(path.c_str(), (path + "-real").c_str()));
         ASSERT_EQ(0, symlink((path + "-real").c_str(), path.c_str()));
     }},
};

// ------------------------------------------------------------ cells two owners share

// Where fields sit in the records libhivex reads (offsets within the cell,
// its size field included); cell offsets inside records count from the
// first bin, handles from the start of the file.
const std::uint32_t kFirstBin = 0x1000;
const std::size_t kKeySubkeyList = 0x20;
const std::size_t kValueDataOffset = 0x0C;
const std::size_t kSubkeyListEntries = 0x08;
const std::size_t kSubkeyListEntrySize = 8;

std::uint32_t Le32At(const std::string& bytes, std::size_t at)
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return b[0] | static_cast<std::uint32_t>(b[1]) << 8 | static_cast<std::uint32_t>(b[2]) << 16 |
           static_cast<std::uint32_t>(b[3]) << 24;
}

std::string Le32Bytes(std::uint32_t value)
{
    const char bytes[] = {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
                          static_cast<char>(value >> 24)};
    return std::string(bytes, 4);
}

// The handles (file offsets) of a key and of its first value named `value`.
struct Handles {
    hive_node_h key = 0;
    hive_value_h value = 0;
};

Handles Find(const std::string& path, const char* keyPath, const char* value = nullptr)
{
    Handles found;
    hive_h* hive = hivex_open(path.c_str(), 0);
    if (!hive) return found;
    found.key = hivex_root(hive);
    for (const std::string& name : hivetext::SplitPath(keyPath)) {
        if (found.key) found.key = hivex_node_get_child(hive, found.key, name.c_str());
    }
    if (found.key && value) found.value = hivex_node_get_value(hive, found.key, value);
    hivex_close(hive);
    return found;
}


using HiveSafety = HiveScratch;

TEST_F(HiveSafety, AnUnusableHiveGivesOneLineAndIsLeftAlone)
{
    for (const Damage& damage : kDamages) {
        SCOPED_TRACE(damage.name);
        const std::string path = Hive(std::string("SOFTWARE-") + damage.name, RunKeys());
        damage.apply(path);
        const std::string bytes = Bytes(path);

        HivePlatform platform(posix);
        int hookCalls = 0;
        platform.SetBeforeFirstChange([&](const std::string&) {
            ++hookCalls;
            return true;
        });
        platform.AllowChanges(true);
        std::vector<std::string> problems;
        platform.MountMachine(path, "", problems);
        ASSERT_EQ(1u, problems.size());
        EXPECT_NE(std::string::npos, problems[0].find(path)) << problems[0];
        EXPECT_TRUE(platform.HadDamagedHive());

        KeyRef key = 0;
        EXPECT_EQ(kRegistryNotFound, platform.RegistryOpen(kKeyLocalMachine, kRun, kKeyAllAccess, key));
        EXPECT_NE(kRegistryOk, platform.RegistryDeleteKey(kKeyLocalMachine, "Software\\Vendor\\Empty"));
        EXPECT_EQ(0, hookCalls);
        EXPECT_EQ(bytes, Bytes(path));
        EXPECT_FALSE(FileExists(NewFileOf(path)));
    }
}

TEST_F(HiveSafety, AnUnusableUserHiveKeepsTheUserNumbers)
{
    std::vector<std::string> problems;
    hives.AddUser(temp / "missing.dat", "C:\\Users\\gone", problems);
    hives.AddUser(Hive("bob.dat", {{"Run", {HiveSz("who", "bob")}}}), "C:\\Users\\bob", problems);
    EXPECT_EQ(1u, problems.size());
    EXPECT_TRUE(hives.HadDamagedHive());
    EXPECT_EQ(2u, hives.RegistryUserCount());
    EXPECT_EQ("-2", Read(kKeyCurrentUser, "Run", "who"));
    ASSERT_TRUE(hives.SelectRegistryUser(1));
    EXPECT_EQ(EngineText("bob"), Read(kKeyCurrentUser, "Run", "who"));
}

TEST_F(HiveSafety, MissingHivesAreNoProblem)
{
    std::vector<std::string> problems;
    hives.MountMachine("", "", problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_FALSE(hives.HadDamagedHive());
    EXPECT_EQ("-2", Read(kKeyLocalMachine, kRun, "evil"));
}

// ------------------------------------------------------------ hives that are only read

TEST_F(HiveSafety, AHiveWindowsDidNotCloseIsReadButNeverWritten)
{
    const std::string path = Hive("SOFTWARE", RunKeys());
    std::string error;
    ASSERT_TRUE(SetHiveHeaderField(path, kHiveSequence2Offset, 7, error)) << error;
    const std::string bytes = Bytes(path);
    int hookCalls = 0;
    hives.SetBeforeFirstChange([&](const std::string&) {
            ++hookCalls;
            return true;
        });
    hives.AllowChanges(true);
    std::vector<std::string> problems;
    hives.MountMachine(path, "", problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_FALSE(hives.HadDamagedHive());

    const std::vector<std::string> reported = hives.TakeProblems();
    ASSERT_EQ(1u, reported.size());
    EXPECT_NE(std::string::npos, reported[0].find(path)) << reported[0];
    EXPECT_EQ(EngineText("C:\\evil.exe"), Read(kKeyLocalMachine, kRun, "evil"));
    EXPECT_EQ(kRegistryAccessDenied, DeleteValue(kKeyLocalMachine, kRun, "evil"));
    EXPECT_EQ(kRegistryAccessDenied, hives.RegistryDeleteKey(kKeyLocalMachine, "Software\\Vendor\\Empty"));
    EXPECT_EQ(EngineText("C:\\evil.exe"), Read(kKeyLocalMachine, kRun, "evil"));
    // Reported once: at the mount, not again for each refusal.
    EXPECT_TRUE(hives.TakeProblems().empty());
    EXPECT_EQ(0, hookCalls);
    EXPECT_EQ(bytes, Bytes(path));
}

TEST_F(HiveSafety, WithoutAllowChangesNothingIsWritten)
{
    const std::string path = Hive("SOFTWARE", RunKeys());
    const std::string bytes = Bytes(path);
    int hookCalls = 0;
    hives.SetBeforeFirstChange([&](const std::string&) {
            ++hookCalls;
            return true;
        });
    std::vector<std::string> problems;
    hives.MountMachine(path, "", problems);
    for (bool allowedThenTakenBack : {false, true}) {
        SCOPED_TRACE(allowedThenTakenBack ? "allowed, then not" : "never allowed");
        if (allowedThenTakenBack) {
            hives.AllowChanges(true);
            hives.AllowChanges(false);
        }
        EXPECT_EQ(kRegistryAccessDenied, DeleteValue(kKeyLocalMachine, kRun, "evil"));
        EXPECT_EQ(kRegistryAccessDenied, hives.RegistryDeleteKey(kKeyLocalMachine, "Software\\Vendor\\Empty"));
    }
    EXPECT_EQ(0, hookCalls);
    EXPECT_EQ(bytes, Bytes(path));
    EXPECT_TRUE(hives.TakeProblems().empty());
}

TEST_F(HiveSafety, AHeaderDamagedAfterTheMountStopsTheChange)
{
    const std::string path = Hive("SOFTWARE", RunKeys());
    std::vector<std::string> problems;
    hives.MountMachine(path, "", problems);
    hives.AllowChanges(true);
    // A header whose size no longer fits the file: libhivex would take it
    // at its word when writing.
    std::string error;
    ASSERT_TRUE(SetHiveHeaderField(path, kHiveBinsSizeOffset, 0x7FFFF000u, error)) << error;
    const std::string bytes = Bytes(path);
    EXPECT_EQ(kRegistryAccessDenied, DeleteValue(kKeyLocalMachine, kRun, "evil"));
    EXPECT_EQ(1u, hives.TakeProblems().size());
    EXPECT_EQ(bytes, Bytes(path));
    EXPECT_FALSE(FileExists(NewFileOf(path)));
}

TEST_F(HiveSafety, AKeyHoldingLargeDataIsNotRewritten)
{
    // Windows keeps data over 16344 bytes in pieces; libhivex would write
    // it back in one cell.
    const std::string path = Hive("SOFTWARE", {{kRunInSoftware, {HiveSz("evil", "C:\\evil.exe"),
                                                                 HiveBinary("blob", std::string(20000, 'b'))}}});
    std::vector<std::string> problems;
    hives.MountMachine(path, "", problems);
    hives.AllowChanges(true);
    const std::string bytes = Bytes(path);
    EXPECT_EQ(kRegistryAccessDenied, DeleteValue(kKeyLocalMachine, kRun, "evil"));
    EXPECT_EQ(1u, hives.TakeProblems().size());
    EXPECT_EQ(bytes, Bytes(path));
}

// ------------------------------------------------------------ changes

TEST_F(HiveSafety, AChangeKeepsEveryOtherPartOfTheHive)
{
    const std::string path = Hive("NTUSER.DAT", {
        {"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
         {HiveSz("", "default"), HiveSz("evil", "C:\\evil.exe"), HiveExpandSz("expand", "%SystemRoot%\\a.exe"),
          HiveMultiSz("multi", {"x", "y"}), HiveDword("dword", 1), HiveQword("qword", 2),
          HiveBinary("binary", std::string(3000, '\x5A')), HiveSz("\xC4\x81-name", "\xC4\x81-data"),
          HiveValueDraft{"odd type", 0x40000001u, "raw"}, HiveValueDraft{"empty", kRegBinary, ""}}},
        {"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", {HiveSz("once", "x")}},
        {"Software\\Vendor\\Leaf", {HiveSz("v", "x")}},
        {"Software\\Vendor\\Other", {}},
        {"Environment", {HiveSz("TEMP", "%USERPROFILE%\\tmp")}},
    });
    ASSERT_EQ(0, chmod(path.c_str(), 0640));
    std::vector<std::string> problems;
    hives.AddUser(path, "C:\\Users\\u", problems);
    hives.AllowChanges(true);
    std::vector<std::string> expected = Meaning(path);

    ASSERT_EQ(kRegistryOk, DeleteValue(kKeyCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "EVIL"));
    expected = WithoutEvil(expected);
    EXPECT_EQ(expected, Meaning(path));

    ASSERT_EQ(kRegistryOk, hives.RegistryDeleteKey(kKeyCurrentUser, "Software\\Vendor\\Leaf"));
    expected.erase(std::remove_if(expected.begin(), expected.end(),
                                  [](const std::string& line) { return line.find("Vendor\\Leaf") != std::string::npos; }),
                   expected.end());
    EXPECT_EQ(expected, Meaning(path));

    std::string why;
    EXPECT_EQ(HiveVerdict::Sound, CheckHivePath(path, why)) << why;
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 07777u);
    EXPECT_FALSE(FileExists(NewFileOf(path)));
    EXPECT_TRUE(hives.TakeProblems().empty());
}

TEST_F(HiveSafety, TheHookRunsOnceForEachHiveBeforeItsFirstChange)
{
    const std::string software = Hive("SOFTWARE", RunKeys());
    const std::string user = Hive("NTUSER.DAT", {{kRun, {HiveSz("one", "1"), HiveSz("two", "2")}}});
    const std::vector<std::string> softwareBefore = Meaning(software);
    const std::vector<std::string> userBefore = Meaning(user);
    std::vector<std::string> calls;
    std::vector<std::vector<std::string>> seen;
    hives.SetBeforeFirstChange([&](const std::string& path) {
        calls.push_back(path);
        seen.push_back(Meaning(path));
        return true;
    });
    std::vector<std::string> problems;
    hives.MountMachine(software, "", problems);
    hives.AddUser(user, "C:\\Users\\u", problems);
    hives.AllowChanges(true);

    ASSERT_EQ(kRegistryOk, DeleteValue(kKeyCurrentUser, kRun, "one"));
    ASSERT_EQ(kRegistryOk, DeleteValue(kKeyCurrentUser, kRun, "two"));
    ASSERT_EQ(kRegistryOk, DeleteValue(kKeyLocalMachine, kRun, "evil"));
    ASSERT_EQ(kRegistryOk, hives.RegistryDeleteKey(kKeyLocalMachine, "Software\\Vendor\\Empty"));
    EXPECT_EQ((std::vector<std::string>{user, software}), calls);
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(userBefore, seen[0]);
    EXPECT_EQ(softwareBefore, seen[1]);
}

// The hook keeps the original by the hive's name; what is then changed must
// be that same file as it was read: changed (or replaced) meanwhile, it is
// not written, and the hook's copy is not taken for its original.
TEST_F(HiveSafety, AHiveChangedWhileItsOriginalIsKeptIsNotWritten)
{
    const std::string path = Hive("SOFTWARE", RunKeys());
    std::vector<std::string> problems;
    hives.MountMachine(path, "", problems);
    hives.AllowChanges(true);
    std::string changed;
    hives.SetBeforeFirstChange([&](const std::string&) {
        std::string error;
        EXPECT_TRUE(AddToHive(path, {{"Vendor\\Planted", {HiveSz("x", "y")}}}, error)) << error;
        changed = Bytes(path);
        return true;
    });
    EXPECT_NE(kRegistryOk, DeleteValue(kKeyLocalMachine, kRun, "evil"));
    const std::vector<std::string> reported = hives.TakeProblems();
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ("registry hive " + path + " was not changed: it was changed since it was read", reported[0]);
    EXPECT_EQ(changed, Bytes(path));
    EXPECT_FALSE(FileExists(NewFileOf(path)));
}

TEST_F(HiveSafety, OneFileMountedTwiceIsOneHive)
{
    // Two profiles whose ProfileImagePath name one folder share its NTUSER.DAT.
    const std::string user = Hive("NTUSER.DAT", {{kRun, {HiveSz("one", "1"), HiveSz("two", "2")}}});
    int hookCalls = 0;
    hives.SetBeforeFirstChange([&](const std::string&) {
            ++hookCalls;
            return true;
        });
    std::vector<std::string> problems;
    hives.AddUser(user, "C:\\Users\\u", problems);
    hives.AddUser(user, "C:\\Users\\u", problems);
    hives.AllowChanges(true);
    ASSERT_EQ(kRegistryOk, DeleteValue(kKeyCurrentUser, kRun, "one"));
    ASSERT_TRUE(hives.SelectRegistryUser(1));
    EXPECT_EQ("-2", Read(kKeyCurrentUser, kRun, "one"));
    ASSERT_EQ(kRegistryOk, DeleteValue(kKeyCurrentUser, kRun, "two"));
    EXPECT_EQ(1, hookCalls);
    EXPECT_EQ((std::vector<std::string>{"K ", "K Software", "K Software\\Microsoft", "K Software\\Microsoft\\Windows",
                                        "K Software\\Microsoft\\Windows\\CurrentVersion",
                                        "K Software\\Microsoft\\Windows\\CurrentVersion\\Run"}),
              Meaning(user));
}

// A change that fails in the child: the call fails, the program goes on,
// the hive is untouched.
TEST_F(HiveSafety, AWriterThatDiesChangesNothing)
{
    const HivePlatform::ChangeFault faults[] = {HivePlatform::ChangeFault::ChildAborts,
                                                HivePlatform::ChangeFault::ChildKilledBeforeCommit,
                                                HivePlatform::ChangeFault::ChildFlushFails,
                                                HivePlatform::ChangeFault::ChildHangs};
    const std::string path = Hive("SOFTWARE", RunKeys());
    const std::vector<std::string> before = Meaning(path);
    const std::string bytes = Bytes(path);
    std::vector<std::string> problems;
    hives.MountMachine(path, "", problems);
    hives.AllowChanges(true);
    for (HivePlatform::ChangeFault fault : faults) {
        SCOPED_TRACE(static_cast<int>(fault));
        hives.SetChangeFaultForTesting(fault);
        const long result = DeleteValue(kKeyLocalMachine, kRun, "evil");
        EXPECT_NE(kRegistryOk, result);
        EXPECT_NE(kRegistryNotFound, result);
        EXPECT_EQ(1u, hives.TakeProblems().size());
        EXPECT_EQ(bytes, Bytes(path));
        EXPECT_FALSE(FileExists(NewFileOf(path)));
        EXPECT_EQ(EngineText("C:\\evil.exe"), Read(kKeyLocalMachine, kRun, "evil"));
    }
    hives.SetChangeFaultForTesting(HivePlatform::ChangeFault::None);
    ASSERT_EQ(kRegistryOk, DeleteValue(kKeyLocalMachine, kRun, "evil"));
    EXPECT_EQ(WithoutEvil(before), Meaning(path));
}

// A damaged hive whose value keeps its data in the cell of another key's
// subkey list: libhivex frees that cell with the value, which would lose
// the other key's subkeys. The writer reads its result back and does not
// hand it over.
TEST_F(HiveSafety, AChangeThatWouldLoseAnotherKeyIsNotWritten)
{
    const std::string path = Hive("SOFTWARE", {{kRunInSoftware, {HiveSz("evil", "C:\\evil.exe"), HiveSz("good", "x")}},
                                               {"Vendor\\A", {HiveSz("a", "1")}},
                                               {"Vendor\\B", {}}});
    const Handles vendor = Find(path, "Vendor");
    const Handles evil = Find(path, kRunInSoftware, "evil");
    ASSERT_NE(0u, vendor.key);
    ASSERT_NE(0u, evil.value);
    const std::string original = Bytes(path);
    const std::uint32_t subkeys = Le32At(original, vendor.key + kKeySubkeyList);
    Overwrite(path, evil.value + kValueDataOffset, Le32Bytes(subkeys));
    const std::string bytes = Bytes(path);

    std::vector<std::string> problems;
    hives.MountMachine(path, "", problems);
    ASSERT_TRUE(problems.empty());
    hives.AllowChanges(true);
    EXPECT_EQ(1016, DeleteValue(kKeyLocalMachine, kRun, "evil"));
    const std::vector<std::string> reported = hives.TakeProblems();
    ASSERT_EQ(1u, reported.size());
    EXPECT_NE(std::string::npos, reported[0].find(path)) << reported[0];
    EXPECT_EQ(bytes, Bytes(path));
    EXPECT_FALSE(FileExists(NewFileOf(path)));
    EXPECT_EQ(EngineText("1"), Read(kKeyLocalMachine, "Software\\Vendor\\A", "a"));
    // A change that frees no shared cell is still made.
    ASSERT_EQ(kRegistryOk, DeleteValue(kKeyLocalMachine, "Software\\Vendor\\A", "a"));
    EXPECT_EQ("-2", Read(kKeyLocalMachine, "Software\\Vendor\\A", "a"));
    KeyRef b = 0;
    EXPECT_EQ(kRegistryOk, hives.RegistryOpen(kKeyLocalMachine, "Software\\Vendor\\B", kKeyRead, b));
    hives.RegistryClose(b);
}

// A damaged hive in which one key is listed under two parents (here twice
// under one) is not a tree: deleting from it could free what the other
// place still names, so it is not changed at all.
TEST_F(HiveSafety, AHiveWhoseKeysAreNotATreeIsNotWritten)
{
    const std::string path = Hive("SOFTWARE", {{kRunInSoftware, {HiveSz("evil", "C:\\evil.exe")}},
                                               {"Vendor\\A", {}},
                                               {"Vendor\\B", {}}});
    const Handles vendor = Find(path, "Vendor");
    ASSERT_NE(0u, vendor.key);
    const std::string original = Bytes(path);
    const std::size_t list = kFirstBin + Le32At(original, vendor.key + kKeySubkeyList);
    const std::size_t first = list + kSubkeyListEntries;
    Overwrite(path, first + kSubkeyListEntrySize, original.substr(first, 4));
    const std::string bytes = Bytes(path);

    std::vector<std::string> problems;
    hives.MountMachine(path, "", problems);
    ASSERT_TRUE(problems.empty());
    hives.AllowChanges(true);
    EXPECT_EQ(1016, DeleteValue(kKeyLocalMachine, kRun, "evil"));
    EXPECT_EQ(1016, hives.RegistryDeleteKey(kKeyLocalMachine, "Software\\Vendor\\A"));
    EXPECT_EQ(2u, hives.TakeProblems().size());
    EXPECT_EQ(bytes, Bytes(path));
    EXPECT_FALSE(FileExists(NewFileOf(path)));
}

// This process ended at a step of the change: the hive is whole, old or new.
// What was left beside it stays through a mount (reading changes nothing)
// and is cleared by the hive's next change.
TEST_F(HiveSafety, AnInterruptedChangeLeavesTheOldHiveOrTheNewOne)
{
    struct Row {
        const char* name;
        HivePlatform::ChangeFault fault;
        bool changed;
        bool leftover;
    } const rows[] = {
        {"new file written, not renamed", HivePlatform::ChangeFault::StopAfterNewFile, false, true},
        {"renamed, folder not flushed", HivePlatform::ChangeFault::StopAfterRename, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = Hive("SOFTWARE", RunKeys());
        const std::vector<std::string> before = Meaning(path);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            HivePlatform platform(posix);
            std::vector<std::string> problems;
            platform.MountMachine(path, "", problems);
            platform.AllowChanges(true);
            platform.SetChangeFaultForTesting(row.fault);
            KeyRef key = 0;
            platform.RegistryOpen(kKeyLocalMachine, kRun, kKeyAllAccess, key);
            platform.RegistryDeleteValue(key, "evil");
            _exit(0);  // not stopped where it should have been
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(9, WEXITSTATUS(status));

        EXPECT_EQ(row.changed ? WithoutEvil(before) : before, Meaning(path));
        EXPECT_EQ(row.leftover, FileExists(NewFileOf(path)));
        HivePlatform again(posix);
        std::vector<std::string> problems;
        again.MountMachine(path, "", problems);
        EXPECT_TRUE(problems.empty());
        EXPECT_EQ(row.leftover, FileExists(NewFileOf(path)));
        EXPECT_EQ(row.changed ? WithoutEvil(before) : before, Meaning(path));
        again.AllowChanges(true);
        KeyRef key = 0;
        ASSERT_EQ(kRegistryOk, again.RegistryOpen(kKeyLocalMachine, kRun, kKeyAllAccess, key));
        EXPECT_EQ(row.changed ? kRegistryNotFound : kRegistryOk, again.RegistryDeleteValue(key, "evil"));
        ASSERT_EQ(kRegistryOk, again.RegistryDeleteValue(key, "good"));
        again.RegistryClose(key);
        EXPECT_FALSE(FileExists(NewFileOf(path)));
        std::vector<std::string> neither = WithoutEvil(before);
        neither.erase(std::remove_if(neither.begin(), neither.end(),
                                     [](const std::string& line) {
                                         return line.find("| good |") != std::string::npos;
                                     }),
                      neither.end());
        EXPECT_EQ(neither, Meaning(path));
        EXPECT_TRUE(again.TakeProblems().empty());
    }
}

}  // namespace
