// The registry cleanup on the fake registry: the 32 worm rules (each rule's
// test, label and follow-ups, from a table written out here independently of
// the engine's), the Run-value scan, the three registry operations, and data
// that is binary, unterminated, multi-string or too long.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cleanup/RegistryCleanup.h"
#include "scan/BoundedText.h"
#include "scan/Wow64View.h"
#include "unit/ScanFixture.h"

namespace {

const char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRu1n[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Ru1n";
const char kParams[] = "Software\\Microsoft\\Params";
const KeyRef HKCU = kKeyCurrentUser;
const KeyRef HKLM = kKeyLocalMachine;

std::string RegistryLine(const std::string& label)
{
    return "System Registry     " + label + " removed";
}

// A trace a follow-up removes: a key (value empty) or a value of a key,
// always under HKEY_CURRENT_USER.
struct Trace {
    const char* key;
    const char* value;
};

struct RuleRow {
    int number;
    KeyRef hive;
    const char* key;
    const char* value;
    bool sysdirTest;            // test D: "sysdir" alone is enough
    const char* fileName;
    // Lines when the data holds "system" and the file name: the rule's own
    // label (or, where an earlier rule of the same value already removes
    // it, that rule's) and the follow-ups'.
    std::vector<const char*> labels;
    std::vector<Trace> traces;  // what the follow-ups remove
};

// The rules as the worm variants need them, in order.
const std::vector<RuleRow>& Rules()
{
    static const std::vector<RuleRow> rows = {
        {1, HKCU, kRun, "d3dupdate.exe", false, "bbeagle.exe", {"W32/Bagle.A.Worm"}, {}},
        {2, HKCU, kRun, "au.exe", false, "au.exe", {"W32/Bagle.B.Worm"}, {}},
        {3, HKCU, kRun, "gouday.exe", false, "readme.exe", {"W32/Bagle.C.Worm", "W32/Bagle.C.Worm", "W32/Bagle.D.Worm"},
         {{"Software\\DateTime2", ""}, {"Software\\DateTime3", ""}}},
        {4, HKCU, kRun, "rate.exe", false, "i1ru74n4.exe", {"W32/Bagle.E.Worm", "W32/Bagle.E.Worm"},
         {{"Software\\DateTime4", ""}}},
        {5, HKCU, kRun, "rate.exe", false, "i1ru54n4.exe", {"W32/Bagle.F.Worm", "W32/Bagle.F.Worm"},
         {{"Software\\winword", ""}}},
        {6, HKCU, kRun, "rate.exe", false, "i11r54n4.exe", {"W32/Bagle.G.Worm"}, {}},
        {7, HKCU, kRun, "ssate.exe", false, "irun4.exe", {"W32/Bagle.J.Worm"}, {}},
        {8, HKCU, kRun, "ssate.exe", false, "winsys.exe", {"W32/Bagle.K.Worm"}, {}},
        {9, HKCU, kRun, "winupd.exe", false, "winupd.exe", {"W32/Bagle.N.Worm"}, {}},
        {10, HKCU, kRun, "directs.exe", false, "directs.exe", {"W32/Bagle.Q.Worm"}, {}},
        {11, HKCU, kRun, "gigabit.exe", false, "gigabit.exe", {"W32/Bagle.U.Worm", "W32/Bagle.U.Worm"},
         {{"Software\\Windows2004", ""}}},
        {12, HKCU, kRun, "sysinfo.exe", false, "sysinfo.exe", {"W32/Bagle.V.Worm", "W32/Bagle.V.Worm"},
         {{"Software\\Windows2005", ""}}},
        {13, HKCU, kRun, "drvsys.exe", false, "drvsys.exe", {"W32/Bagle.Z.Worm"}, {}},
        {14, HKCU, kRun, "drvddll.exe", false, "drvddll.exe", {"W32/Bagle.Aa.Worm"}, {}},
        {15, HKCU, kRun, "reg_key", false, "loader_name.exe", {"W32/Bagle.Ae.Worm"}, {}},
        // Rule 16 tests the same value for the same name: rule 15 takes it.
        {16, HKCU, kRun, "reg_key", false, "loader_name.exe", {"W32/Bagle.Ae.Worm"}, {}},
        {17, HKCU, kRun, "key", false, "sysxp.exe", {"W32/Bagle.Af.Worm"}, {}},
        {18, HKCU, kRun, "key", false, "sys_xp.exe", {"W32/Bagle.Ag.Worm"}, {}},
        {19, HKCU, kRun, "key", false, "winxp.exe", {"W32/Bagle.Ah.Worm"}, {}},
        {20, HKCU, kRun, "win_upd2.exe", false, "windirect.exe", {"W32/Bagle.Aq.Worm"}, {}},
        {21, HKLM, kRun, "win_upd2.exe", false, "windirect.exe", {"W32/Bagle.Aq.Worm"}, {}},
        {22, HKLM, kRun, "wersds.exe", true, "doriot.exe", {"W32/Bagle.Dl.A.Worm"}, {}},
        {23, HKCU, kRun, "wersds.exe", true, "doriot.exe", {"W32/Bagle.Dl.A.Worm"}, {}},
        {24, HKLM, kRu1n, "erthgdr", true, "windll.exe", {"W32/Bagle.Al.Worm"}, {}},
        {25, HKCU, kRu1n, "erthgdr", true, "windll.exe", {"W32/Bagle.Al.Worm"}, {}},
        {26, HKCU, kRun, "bawindo", true, "bawindo.exe", {"W32/Bagle.Az.Worm", "W32/Bagle.Av.Worm"},
         {{kParams, "TimeKey"}}},
        {27, HKCU, kRun, "wingo", true, "wingo.exe", {"W32/Bagle.At.Worm", "W32/Bagle.At.Worm"}, {{kParams, "TimeKey"}}},
        // Rule 28 tests the same value for the same name: rule 26 takes it.
        {28, HKCU, kRun, "bawindo", true, "bawindo.exe", {"W32/Bagle.Az.Worm", "W32/Bagle.Av.Worm"},
         {{kParams, "TimeKey"}}},
        {29, HKCU, kRun, "sysformat", true, "sysformat.exe",
         {"W32/Bagle.Ax.Worm", "W32/Bagle.Ax.Worm", "W32/Bagle.Ay.Worm"}, {{kParams, "TimeKey"}, {kParams, "riga"}}},
        {30, HKCU, kRun, "Syskey", true, "sysinit.exe", {"W32/Bagle.Aw.Worm"}, {}},
        {31, HKCU, kRun, "winshost.exe", true, "winshost.exe", {"W32/Bagle.Be.Worm"}, {}},
        {32, HKLM, kRun, "winshost.exe", true, "winshost.exe", {"W32/Bagle.Be.Worm"}, {}},
    };
    return rows;
}

std::string Upper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

class RegistryCleanupTest : public ScanFixture {
protected:
    static void MakeTraces(FakePlatform& platform, const std::vector<Trace>& traces)
    {
        for (const Trace& trace : traces) {
            if (trace.value[0]) {
                platform.SetRegistryString(HKCU, trace.key, trace.value, "20040301");
            } else {
                platform.AddRegistryKey(HKCU, trace.key);
                platform.SetRegistryString(HKCU, trace.key, "Data", "x");
            }
        }
    }
    void MakeTraces(const std::vector<Trace>& traces) { MakeTraces(fake, traces); }

    static bool TraceThere(const FakePlatform& platform, const Trace& trace)
    {
        return trace.value[0] ? platform.HasRegistryValue(HKCU, trace.key, trace.value)
                              : platform.HasRegistryKey(HKCU, trace.key);
    }
    bool TraceThere(const Trace& trace) const { return TraceThere(fake, trace); }

    // One row of a rule table: a platform of its own holding the rule's
    // value with `data` and its follow-up traces; the lines sent go to `seen`.
    FakePlatform& StartRuleRow(const RuleRow& row, const std::string& data, std::vector<std::string>& seen)
    {
        rowPlatform.reset(new FakePlatform);
        SetPlatform(rowPlatform.get());
        rowPlatform->onNotify = [&seen](WindowRef, std::uint32_t message) {
            if (message == AppendLineMessage) seen.push_back(ScanState.lineText);
        };
        rowPlatform->SetRegistryString(row.hive, row.key, row.value, data);
        MakeTraces(*rowPlatform, row.traces);
        return *rowPlatform;
    }

    std::unique_ptr<FakePlatform> rowPlatform;

    void SetExaminedPath(const char* path) { CopyText(examinedFilePath, sizeof examinedFilePath, path); }

    std::vector<std::string> RunNames(KeyRef hive) const { return fake.RegistryValueNames(hive, kRun); }
};

TEST_F(RegistryCleanupTest, EngineTableHasTheRulesInOrder)
{
    ASSERT_EQ(32u, kBagleRegistryRuleCount);
    for (const RuleRow& row : Rules()) {
        SCOPED_TRACE(row.number);
        const BagleRegistryRule& rule = BagleRegistryRules[row.number - 1];
        EXPECT_EQ(row.hive, rule.hive);
        EXPECT_STREQ(row.key, rule.key);
        EXPECT_STREQ(row.value, rule.value);
        EXPECT_STREQ(row.fileName, rule.fileName);
        EXPECT_EQ(row.sysdirTest, rule.test == TestSysdirOrSystemAndName);
        EXPECT_EQ(row.number == 26, rule.followUpsWhenRead);
    }
}

TEST_F(RegistryCleanupTest, EachRuleRemovesItsValueWhenSystemAndItsFileNameOccur)
{
    for (const RuleRow& row : Rules()) {
        SCOPED_TRACE(row.number);
        std::vector<std::string> seen;
        // Mixed case: the data is compared in lower case.
        const std::string data = "C:\\Windows\\System32\\" + Upper(row.fileName) + " -run";
        FakePlatform& fresh = StartRuleRow(row, data, seen);
        fresh.SetRegistryString(row.hive, row.key, "neighbour", data);

        EXPECT_EQ(1, CleanBagleRegistry("W32/Bagle.Worm"));

        std::vector<std::string> expected;
        for (const char* label : row.labels) expected.push_back(RegistryLine(label));
        EXPECT_EQ(expected, seen);
        EXPECT_FALSE(fresh.HasRegistryValue(row.hive, row.key, row.value));
        EXPECT_TRUE(fresh.HasRegistryValue(row.hive, row.key, "neighbour"));
        for (const Trace& trace : row.traces) EXPECT_FALSE(TraceThere(fresh, trace));
        EXPECT_EQ(0, fresh.OpenKeyCount());
    }
}

TEST_F(RegistryCleanupTest, SysdirAloneIsEnoughOnlyForTheSysdirRules)
{
    for (const RuleRow& row : Rules()) {
        SCOPED_TRACE(row.number);
        std::vector<std::string> seen;
        FakePlatform& fresh = StartRuleRow(row, "%SysDir%\\other.exe", seen);

        CleanBagleRegistry("W32/Bagle.Worm");

        EXPECT_EQ(!row.sysdirTest, fresh.HasRegistryValue(row.hive, row.key, row.value));
        if (row.sysdirTest) {
            std::vector<std::string> expected;
            for (const char* label : row.labels) expected.push_back(RegistryLine(label));
            EXPECT_EQ(expected, seen);
        } else {
            EXPECT_TRUE(seen.empty());
            for (const Trace& trace : row.traces) EXPECT_TRUE(TraceThere(fresh, trace));
        }
    }
}

TEST_F(RegistryCleanupTest, DataWithoutSystemOrWithoutTheFileNameIsLeftAndSoAreTheFollowUps)
{
    for (const RuleRow& row : Rules()) {
        for (int variant = 0; variant < 2; ++variant) {
            SCOPED_TRACE(std::to_string(row.number) + (variant ? " name only" : " system only"));
            std::vector<std::string> seen;
            const std::string data = variant ? std::string("C:\\Windows\\Tasks\\") + row.fileName
                                             : std::string("C:\\Windows\\System32\\other.exe");
            FakePlatform& fresh = StartRuleRow(row, data, seen);

            CleanBagleRegistry("W32/Bagle.Worm");

            EXPECT_TRUE(fresh.HasRegistryValue(row.hive, row.key, row.value));
            // Only the "bawindo" rule's follow-up runs whatever the test said.
            if (std::strcmp(row.value, "bawindo") == 0) {
                EXPECT_EQ(std::vector<std::string>{RegistryLine("W32/Bagle.Av.Worm")}, seen);
                EXPECT_FALSE(fresh.HasRegistryValue(HKCU, kParams, "TimeKey"));
            } else {
                EXPECT_TRUE(seen.empty());
                for (const Trace& trace : row.traces) EXPECT_TRUE(TraceThere(fresh, trace));
            }
        }
    }
}

TEST_F(RegistryCleanupTest, RuleValuesInTheOtherHiveOrAnotherKeyAreNotTouched)
{
    // d3dupdate.exe is a rule of HKEY_CURRENT_USER only; erthgdr lives under
    // "Ru1n", not "Run".
    fake.SetRegistryString(HKLM, kRun, "d3dupdate.exe", "c:\\windows\\system\\bbeagle.exe");
    fake.SetRegistryString(HKCU, kRun, "erthgdr", "sysdir");
    fake.SetRegistryString(HKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "au.exe",
                           "c:\\windows\\system\\au.exe");

    CleanBagleRegistry("W32/Bagle.Worm");

    EXPECT_TRUE(fake.HasRegistryValue(HKLM, kRun, "d3dupdate.exe"));
    EXPECT_TRUE(fake.HasRegistryValue(HKCU, kRun, "erthgdr"));
    EXPECT_TRUE(fake.HasRegistryValue(HKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "au.exe"));
    EXPECT_TRUE(lines.empty());
}

TEST_F(RegistryCleanupTest, RateValueOfVariantFGoesWithItsKeyAndTheOtherRateRulesLeaveIt)
{
    fake.SetRegistryString(HKCU, kRun, "rate.exe", "c:\\windows\\system32\\i1ru54n4.exe");
    MakeTraces({{"Software\\winword", ""}, {"Software\\DateTime4", ""}});

    CleanBagleRegistry("W32/Bagle.Worm");

    EXPECT_EQ((std::vector<std::string>{RegistryLine("W32/Bagle.F.Worm"), RegistryLine("W32/Bagle.F.Worm")}), lines);
    EXPECT_FALSE(fake.HasRegistryValue(HKCU, kRun, "rate.exe"));
    EXPECT_FALSE(fake.HasRegistryKey(HKCU, "Software\\winword"));
    EXPECT_TRUE(fake.HasRegistryKey(HKCU, "Software\\DateTime4"));
}

TEST_F(RegistryCleanupTest, FollowUpsRunEachWhateverTheDeletionsBeforeThemAchieved)
{
    // The value itself cannot be deleted and DateTime2 is missing:
    // DateTime3 still goes.
    fake.SetRegistryString(HKCU, kRun, "gouday.exe", "c:\\windows\\system\\readme.exe");
    fake.LockRegistryValue(HKCU, kRun, "gouday.exe");
    MakeTraces({{"Software\\DateTime3", ""}});
    // A follow-up value that is missing is skipped; the next one goes.
    fake.SetRegistryString(HKCU, kRun, "sysformat", "sysdir\\sysformat.exe");
    MakeTraces({{kParams, "riga"}});
    // A key that still has subkeys is refused and reported nowhere.
    fake.SetRegistryString(HKCU, kRun, "gigabit.exe", "c:\\windows\\system\\gigabit.exe");
    fake.AddRegistryKey(HKCU, "Software\\Windows2004\\Sub");

    CleanBagleRegistry("W32/Bagle.Worm");

    EXPECT_EQ((std::vector<std::string>{RegistryLine("W32/Bagle.D.Worm"), RegistryLine("W32/Bagle.U.Worm"),
                                        RegistryLine("W32/Bagle.Ax.Worm"), RegistryLine("W32/Bagle.Ay.Worm")}),
              lines);
    EXPECT_TRUE(fake.HasRegistryValue(HKCU, kRun, "gouday.exe"));
    EXPECT_FALSE(fake.HasRegistryKey(HKCU, "Software\\DateTime3"));
    EXPECT_FALSE(fake.HasRegistryValue(HKCU, kParams, "riga"));
    EXPECT_TRUE(fake.HasRegistryKey(HKCU, "Software\\Windows2004"));
    EXPECT_FALSE(fake.HasRegistryValue(HKCU, kRun, "gigabit.exe"));
}

TEST_F(RegistryCleanupTest, UnreadableRuleValueDoesNothingAtAllFollowUpsIncluded)
{
    // 1001 bytes of data do not fit the rules' 1000-byte buffer.
    std::string tooLong = "c:\\windows\\system\\bawindo.exe " + std::string(1001, 'x');
    tooLong.resize(1001);
    fake.SetRegistryValue(HKCU, kRun, "bawindo", kRegSz, tooLong);
    MakeTraces({{kParams, "TimeKey"}});

    CleanBagleRegistry("W32/Bagle.Worm");

    EXPECT_TRUE(fake.HasRegistryValue(HKCU, kRun, "bawindo"));
    EXPECT_TRUE(fake.HasRegistryValue(HKCU, kParams, "TimeKey"));
    EXPECT_TRUE(lines.empty());
}

TEST_F(RegistryCleanupTest, RuleDataOfAnyShapeIsReadWithinBounds)
{
    struct Row {
        const char* name;
        std::uint32_t type;
        std::string data;
        bool removed;
    };
    std::string exactly1000 = std::string(1000 - 17, 'y') + "system32\\au.exe";  // no terminator
    exactly1000.resize(1000, 'z');
    const Row rows[] = {
        {"binary without terminator", kRegBinary, std::string("c:\\system\\au.exe", 16), true},
        {"1000 bytes without terminator", kRegBinary, exactly1000, true},
        {"1001 bytes", kRegBinary, exactly1000 + "!", false},
        {"match only after an embedded zero", kRegBinary, std::string("xx\0system\\au.exe", 16), false},
        {"multi-string, match in the second string", kRegMultiSz, std::string("other\0system\\au.exe\0\0", 21),
         false},
        {"multi-string, match in the first string", kRegMultiSz, std::string("system\\au.exe\0other\0\0", 21),
         true},
        {"number", kRegDword, std::string("\x01\x00\x00\x00", 4), false},
        {"empty", kRegSz, std::string(), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        lines.clear();
        fake.SetRegistryValue(HKCU, kRun, "au.exe", row.type, row.data);
        CleanBagleRegistry("W32/Bagle.Worm");
        EXPECT_EQ(!row.removed, fake.HasRegistryValue(HKCU, kRun, "au.exe"));
        EXPECT_EQ(row.removed ? 1u : 0u, lines.size());
    }
}

TEST_F(RegistryCleanupTest, BawindoFollowUpRunsWhenTheValueCanBeReadWhateverTheTest)
{
    fake.SetRegistryString(HKCU, kRun, "bawindo", "c:\\program files\\bawindo\\start.exe");
    MakeTraces({{kParams, "TimeKey"}});

    CleanBagleRegistry("W32/Bagle.Worm");

    EXPECT_EQ(std::vector<std::string>{RegistryLine("W32/Bagle.Av.Worm")}, lines);
    EXPECT_TRUE(fake.HasRegistryValue(HKCU, kRun, "bawindo"));
    EXPECT_FALSE(fake.HasRegistryValue(HKCU, kParams, "TimeKey"));
}

TEST_F(RegistryCleanupTest, NoLinesWithoutAResultSinkButTheDeletionsStillHappen)
{
    ScanState.resultSink = 0;
    fake.onNotify = nullptr;
    fake.SetRegistryString(HKCU, kRun, "au.exe", "c:\\windows\\system\\au.exe");
    fake.SetRegistryString(HKCU, kRun, "Evil", "c:\\temp\\evil.exe");
    SetExaminedPath("C:\\Temp\\Evil.exe");

    CleanBagleRegistry("W32/Bagle.Worm");

    EXPECT_TRUE(fake.notifications.empty());
    EXPECT_TRUE(RunNames(HKCU).empty());
}

// ---------------------------------------------------------------- Run values

TEST_F(RegistryCleanupTest, RunValueScanCases)
{
    struct Row {
        const char* name;
        std::uint32_t type;
        std::string data;
        bool removed;
    };
    const std::string longTail(300, 'x');
    const std::string hugeTail(70000, 'y');
    const Row rows[] = {
        {"quoted path with arguments, mixed case", kRegSz, std::string("\"C:\\Temp\\Evil.exe\" /start") + '\0', true},
        {"the path alone", kRegSz, std::string("c:\\temp\\evil.exe") + '\0', true},
        {"unquoted path with arguments", kRegSz, std::string("C:\\TEMP\\EVIL.EXE -s") + '\0', true},
        {"quoted path alone", kRegSz, std::string("\"c:\\temp\\evil.exe\"") + '\0', true},
        {"environment reference", kRegExpandSz, std::string("%EvilDir%\\evil.exe /q") + '\0', true},
        {"quoted environment reference", kRegExpandSz, std::string("\"%EVILDIR%\\Evil.exe\"") + '\0', true},
        {"path later in the command", kRegSz, std::string("c:\\run.exe c:\\temp\\evil.exe") + '\0', false},
        {"shorter than the path", kRegSz, std::string("c:\\temp\\evil.ex") + '\0', false},
        {"longer name starting like the path", kRegSz, std::string("c:\\temp\\evil.exe2 /x") + '\0', false},
        {"path of a backup", kRegSz, std::string("c:\\temp\\evil.exe.bak") + '\0', false},
        {"empty command", kRegSz, std::string(1, '\0'), false},
        {"lone quote", kRegSz, std::string("\"") + '\0', false},
        {"two quotes", kRegSz, std::string("\"\"c:\\temp\\evil.exe") + '\0', false},
        {"no data at all", kRegSz, std::string(), false},
        {"unterminated binary", kRegBinary, std::string("c:\\temp\\evil.exe"), true},
        {"multi-string, first string", kRegMultiSz, std::string("c:\\temp\\evil.exe\0x\0\0", 20), true},
        {"multi-string, second string", kRegMultiSz, std::string("x\0c:\\temp\\evil.exe\0\0", 20), false},
        {"264 bytes", kRegBinary, ("c:\\temp\\evil.exe " + longTail).substr(0, 264), true},
        {"265 bytes", kRegBinary, ("c:\\temp\\evil.exe " + longTail).substr(0, 265), true},
        // Padding a command past every buffer must not keep it starting.
        {"70,000 bytes starting with the path", kRegSz, "c:\\temp\\evil.exe " + hugeTail + '\0', true},
        {"70,000 unterminated bytes starting with the path", kRegBinary, "c:\\temp\\evil.exe " + hugeTail, true},
        {"70,000 bytes of something else", kRegSz, "c:\\run.exe " + hugeTail + '\0', false},
        {"environment reference before 70,000 bytes of arguments", kRegExpandSz,
         "%EvilDir%\\evil.exe " + hugeTail + '\0', true},
        {"expansion too long for its buffer, command as stored matches", kRegExpandSz,
         std::string("c:\\temp\\evil.exe %Huge%") + '\0', true},
        {"expansion longer than the head buffer, the head names the path", kRegExpandSz,
         std::string("%EvilLong%") + '\0', true},
        {"a number", kRegDword, std::string("\x10\x00\x00\x00", 4), false},
        {"binary with a zero before the path", kRegBinary, std::string("\0c:\\temp\\evil.exe", 17), false},
        {"unknown type naming the path", 0x1234, std::string("c:\\temp\\evil.exe") + '\0', true},
    };
    fake.environment["EVILDIR"] = "C:\\Temp";
    fake.environment["HUGE"] = std::string(40000, 'z');
    fake.environment["EVILLONG"] = "c:\\temp\\evil.exe " + longTail;
    for (const Row& row : rows) {
        for (KeyRef hive : {HKLM, HKCU}) {
            SCOPED_TRACE(std::string(row.name) + (hive == HKLM ? " (HKLM)" : " (HKCU)"));
            lines.clear();
            fake.SetRegistryValue(hive, kRun, "Start", row.type, row.data);
            SetExaminedPath("C:\\Temp\\Evil.exe");

            CleanRunValues(hive, kRun);

            EXPECT_EQ(!row.removed, fake.HasRegistryValue(hive, kRun, "Start"));
            EXPECT_EQ(row.removed ? std::vector<std::string>{RegistryLine("W32/MurkEl.Trojan")}
                                  : std::vector<std::string>{},
                      lines);
            EXPECT_EQ(0, fake.OpenKeyCount());
        }
    }
}

TEST_F(RegistryCleanupTest, DeletedValuesShiftTheRestAndNoneIsSkipped)
{
    const char* names[] = {"a", "b", "c", "d", "e", "f", "g"};
    const bool infected[] = {true, true, false, true, true, true, false};
    for (std::size_t i = 0; i < 7; ++i) {
        fake.SetRegistryString(HKCU, kRun, names[i], infected[i] ? "\"d:\\mail\\setup.exe\" -x" : "c:\\ok.exe");
    }
    // "e" cannot be deleted: it stays, and "f" after it is still found.
    fake.LockRegistryValue(HKCU, kRun, "e");
    SetExaminedPath("D:\\Mail\\Setup.exe");

    CleanRunValues(HKCU, kRun);

    EXPECT_EQ((std::vector<std::string>{"c", "e", "g"}), RunNames(HKCU));
    EXPECT_EQ(4u, lines.size());
}

TEST_F(RegistryCleanupTest, CleanBagleRegistryScansHklmThenHkcuOnlyWithAnExaminedPath)
{
    fake.SetRegistryString(HKLM, kRun, "One", "d:\\x\\bad.exe");
    fake.SetRegistryString(HKCU, kRun, "Two", "d:\\x\\bad.exe");
    fake.SetRegistryString(HKCU, kRun, "au.exe", "c:\\windows\\system\\au.exe");
    std::vector<std::string> order;
    fake.onNotify = [&](WindowRef, std::uint32_t message) {
        if (message != AppendLineMessage) return;
        lines.push_back(ScanState.lineText);
        order.push_back(std::string(fake.HasRegistryValue(HKLM, kRun, "One") ? "" : "One gone;") +
                        (fake.HasRegistryValue(HKCU, kRun, "Two") ? "" : "Two gone"));
    };

    // Empty examined path: the rules run, no Run value is touched.
    EXPECT_EQ(1, CleanBagleRegistry("W32/Bagle.Worm"));
    EXPECT_EQ(std::vector<std::string>{RegistryLine("W32/Bagle.B.Worm")}, lines);
    EXPECT_TRUE(fake.HasRegistryValue(HKLM, kRun, "One"));
    EXPECT_TRUE(fake.HasRegistryValue(HKCU, kRun, "Two"));

    lines.clear();
    order.clear();
    SetExaminedPath("D:\\X\\BAD.EXE");
    EXPECT_EQ(1, CleanBagleRegistry("W32/Bagle.Worm"));
    EXPECT_EQ((std::vector<std::string>{RegistryLine("W32/MurkEl.Trojan"), RegistryLine("W32/MurkEl.Trojan")}), lines);
    EXPECT_EQ((std::vector<std::string>{"One gone;", "One gone;Two gone"}), order);
    // The shared path is left in lower case.
    EXPECT_STREQ("d:\\x\\bad.exe", examinedFilePath);
}

// A disk's hives: every user's keys are cleaned, both views of the
// machine's, and the first user is current again afterwards.
TEST_F(RegistryCleanupTest, EveryUserAndBothViewsOfADisksHivesAreCleaned)
{
    const char kRun32[] = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
    fake.twoRegistryViews = true;
    DetectWow64View();
    const std::uint32_t second = fake.AddRegistryUser();
    for (std::uint32_t user : {0u, second}) {
        ASSERT_TRUE(fake.SelectRegistryUser(user));
        fake.SetRegistryString(HKCU, kRun, "au.exe", "c:\\windows\\system\\au.exe");
        fake.SetRegistryString(HKCU, kRun, "Start", "d:\\x\\bad.exe /run");
        fake.SetRegistryString(HKCU, kRun, "Kept", "d:\\x\\bad.exe.txt");
    }
    ASSERT_TRUE(fake.SelectRegistryUser(0));
    fake.AddRegistryKey(HKCU, "Software\\FirstUser");
    fake.SetRegistryString(HKLM, kRun, "Native", "d:\\x\\bad.exe");
    fake.SetRegistryString(HKLM, kRun32, "Wow", "d:\\x\\bad.exe");
    fake.SetRegistryString(HKLM, kRun32, "winshost.exe", "sysdir\\winshost.exe");
    ASSERT_TRUE(fake.SelectRegistryUser(second));
    SetExaminedPath("D:\\X\\BAD.EXE");

    CleanBagleRegistry("W32/Bagle.Worm");

    // The first user is the current one again.
    EXPECT_TRUE(fake.HasRegistryKey(HKCU, "Software\\FirstUser"));
    EXPECT_EQ(7u, lines.size());
    EXPECT_EQ(2, std::count(lines.begin(), lines.end(), RegistryLine("W32/Bagle.B.Worm")));
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), RegistryLine("W32/Bagle.Be.Worm")));
    EXPECT_EQ(4, std::count(lines.begin(), lines.end(), RegistryLine("W32/MurkEl.Trojan")));
    EXPECT_FALSE(fake.HasRegistryValue(HKLM, kRun, "Native"));
    EXPECT_FALSE(fake.HasRegistryValue(HKLM, kRun32, "Wow"));
    EXPECT_FALSE(fake.HasRegistryValue(HKLM, kRun32, "winshost.exe"));
    for (std::uint32_t user : {0u, second}) {
        ASSERT_TRUE(fake.SelectRegistryUser(user));
        EXPECT_EQ(std::vector<std::string>{"Kept"}, fake.RegistryValueNames(HKCU, kRun)) << "user " << user;
    }
}

TEST_F(RegistryCleanupTest, RunValueScanNeedsAPathWithABackslash)
{
    fake.SetRegistryString(HKCU, kRun, "Bare", "bad.exe");
    fake.SetRegistryString(HKCU, kRun, "Empty", "");
    for (const char* path : {"bad.exe", ""}) {
        SCOPED_TRACE(path);
        SetExaminedPath(path);
        CleanRunValues(HKCU, kRun);
        EXPECT_EQ((std::vector<std::string>{"Bare", "Empty"}), RunNames(HKCU));
        EXPECT_EQ(0, fake.OpenKeyCount());
    }
    EXPECT_TRUE(lines.empty());
}

TEST_F(RegistryCleanupTest, RunValueScanOfAMissingKeyDoesNothing)
{
    SetExaminedPath("d:\\x\\bad.exe");
    CleanRunValues(HKCU, "Software\\Missing");
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(0, fake.OpenKeyCount());
}

TEST_F(RegistryCleanupTest, LongValueNamesAreEnumeratedAndDeleted)
{
    const std::string name(2000, 'n');
    fake.SetRegistryString(HKCU, kRun, name, "d:\\x\\bad.exe");
    SetExaminedPath("d:\\x\\bad.exe");

    CleanRunValues(HKCU, kRun);

    EXPECT_TRUE(RunNames(HKCU).empty());
    EXPECT_EQ(1u, lines.size());
}

// ---------------------------------------------------------------- operations

TEST_F(RegistryCleanupTest, ReadRegistryValueTerminatesAndRefusesWhatDoesNotFit)
{
    struct Row {
        const char* name;
        std::uint32_t type;
        std::string data;
        std::size_t size;
        bool read;
        std::string text;
    };
    const Row rows[] = {
        {"string", kRegSz, std::string("abc") + '\0', 16, true, "abc"},
        {"unterminated, exactly fits", kRegBinary, "abcd", 5, true, "abcd"},
        {"one byte too many", kRegBinary, "abcde", 5, false, ""},
        {"terminated string that only fits without its terminator", kRegSz, std::string("abcd") + '\0', 5, false, ""},
        {"number", kRegDword, std::string("AB\0\0", 4), 8, true, "AB"},
        {"empty", kRegSz, std::string(), 4, true, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fake.SetRegistryValue(HKCU, "Software\\Q", "v", row.type, row.data);
        char buffer[32];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(row.read, ReadRegistryValue(HKCU, "Software\\Q", "v", buffer, row.size));
        EXPECT_EQ(row.text, std::string(buffer));
        EXPECT_EQ('#', buffer[row.size]);
    }
    char buffer[8];
    EXPECT_FALSE(ReadRegistryValue(HKCU, "Software\\Q", "missing", buffer, sizeof buffer));
    EXPECT_FALSE(ReadRegistryValue(HKCU, "Software\\Missing", "v", buffer, sizeof buffer));
    EXPECT_EQ(0, fake.OpenKeyCount());
}

TEST_F(RegistryCleanupTest, DeleteOperationsReportWhatTheyAchieved)
{
    fake.SetRegistryString(HKCU, "Software\\Q", "v", "1");
    fake.SetRegistryString(HKCU, "Software\\Q", "locked", "1");
    fake.LockRegistryValue(HKCU, "Software\\Q", "locked");
    fake.AddRegistryKey(HKCU, "Software\\Parent\\Child");

    EXPECT_TRUE(DeleteRegistryValue(HKCU, "Software\\Q", "v"));
    EXPECT_FALSE(DeleteRegistryValue(HKCU, "Software\\Q", "v"));
    EXPECT_FALSE(DeleteRegistryValue(HKCU, "Software\\Q", "locked"));
    EXPECT_FALSE(DeleteRegistryValue(HKCU, "Software\\Missing", "v"));
    EXPECT_FALSE(DeleteRegistryKey(HKCU, "Software\\Parent"));
    EXPECT_TRUE(DeleteRegistryKey(HKCU, "Software\\Parent\\Child"));
    EXPECT_TRUE(DeleteRegistryKey(HKCU, "Software\\Parent"));
    EXPECT_FALSE(DeleteRegistryKey(HKCU, "Software\\Parent"));
    EXPECT_EQ(0, fake.OpenKeyCount());
}

TEST(CommandStartsWithPathTest, PathMustEndWhereTheCommandsProgramEnds)
{
    struct Row {
        const char* command;
        const char* path;
        bool matches;
    };
    const Row rows[] = {
        {"c:\\a.exe", "c:\\a.exe", true},
        {"c:\\a.exe /x", "c:\\a.exe", true},
        {"c:\\a.exe\t/x", "c:\\a.exe", true},
        {"c:\\a.exe\" /x", "c:\\a.exe", true},
        {"c:\\a.exe2", "c:\\a.exe", false},
        {"c:\\a.ex", "c:\\a.exe", false},
        {"", "c:\\a.exe", false},
        {"c:\\a.exe", "", false},
        {"", "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.command) + " | " + row.path);
        EXPECT_EQ(row.matches, CommandStartsWithPath(row.command, row.path));
    }
}

}  // namespace
