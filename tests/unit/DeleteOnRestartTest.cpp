// Scheduling deletions for the next start: the delayed-move request on the
// NT family, wininit.ini on the 95/98/ME family.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/fake/FakePlatform.h"
#include "scan/DeleteOnRestart.h"

namespace {

const char kWininit[] = "C:\\WINDOWS\\wininit.ini";
const char kLongPath[] = "C:\\Program Files\\Mail Helper\\mail checker.exe";
const char kShortPath[] = "C:\\PROGRA~1\\MAILHE~1\\MAILCH~1.EXE";
const char kSecondLongPath[] = "C:\\Documents and Settings\\update service.scr";
const char kSecondShortPath[] = "C:\\DOCUME~1\\UPDATE~1.SCR";
const char kEntry[] = "NUL=C:\\PROGRA~1\\MAILHE~1\\MAILCH~1.EXE\r\n";

class DeleteOnRestartTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetPlatform(&fake);
        fake.AddDrive('C', DriveFixed);
        fake.AddFolder("C:\\WINDOWS");
        fake.AddFolder("C:\\WINDOWS\\TEMP");
        fake.AddFile(kLongPath, "MZ worm");
        fake.SetShortPath(kLongPath, kShortPath);
        fake.AddFile(kSecondLongPath, "MZ worm");
        fake.SetShortPath(kSecondLongPath, kSecondShortPath);
        UseWindows9x();
    }

    void UseWindows9x()
    {
        fake.version.platformId = 1;
        fake.version.majorVersion = 4;
        fake.version.minorVersion = 10;
    }

    void UseNt()
    {
        fake.version.platformId = 2;
        fake.version.majorVersion = 5;
        fake.version.minorVersion = 1;
    }

    // Names in the Windows folder, in enumeration order.
    std::vector<std::string> WindowsFolderNames()
    {
        std::vector<std::string> names;
        DirEntry entry;
        SearchRef search = Sys().FindFirstEntry("C:\\WINDOWS\\*", entry);
        if (search == 0) return names;
        do {
            if (std::strcmp(entry.name, ".") != 0 && std::strcmp(entry.name, "..") != 0) names.push_back(entry.name);
        } while (Sys().FindNextEntry(search, entry));
        Sys().FindEnd(search);
        return names;
    }

    // The Windows folder holds its TEMP folder and, when `withWininit`,
    // wininit.ini: no leftover of the rewrite.
    void ExpectNoLeftovers(bool withWininit)
    {
        std::vector<std::string> expected = {"TEMP"};
        if (withWininit) expected.push_back("wininit.ini");
        std::vector<std::string> names = WindowsFolderNames();
        std::sort(names.begin(), names.end());
        EXPECT_EQ(expected, names);
    }

    FakePlatform fake;
};

struct WininitRow {
    const char* label;
    bool exists;
    std::string before;
    std::string after;
    bool secondFile = false;  // a second file of the same scan is scheduled after the first
};

std::vector<WininitRow> WininitRows()
{
    const std::string entry = kEntry;
    const std::string second = std::string("NUL=") + kSecondShortPath + "\r\n";
    return {
        {"no wininit.ini: header and entry", false, "", "[rename]\r\n" + entry},
        {"empty wininit.ini: header and entry", true, "", "[rename]\r\n" + entry},
        {"[Rename] followed by another section: entry right before its header", true,
         "[Rename]\r\nNUL=C:\\OLD.EXE\r\n[Other]\r\nkey=value\r\n",
         "[Rename]\r\nNUL=C:\\OLD.EXE\r\n" + entry + "[Other]\r\nkey=value\r\n"},
        {"blank line and comment at the end of the section stay before the entry", true,
         "[rename]\r\nNUL=C:\\OLD.EXE\r\n\r\n; keep\r\n[Other]\r\n",
         "[rename]\r\nNUL=C:\\OLD.EXE\r\n\r\n; keep\r\n" + entry + "[Other]\r\n"},
        {"[rename] last: appended at the end without a second header", true,
         "[boot]\r\nshell=Explorer.exe\r\n[rename]\r\nNUL=C:\\OLD.EXE\r\n",
         "[boot]\r\nshell=Explorer.exe\r\n[rename]\r\nNUL=C:\\OLD.EXE\r\n" + entry},
        {"no [rename] section: header and entry at the end", true, "[boot]\r\nshell=Explorer.exe\r\n",
         "[boot]\r\nshell=Explorer.exe\r\n[rename]\r\n" + entry},
        {"last line without a line end, no section: the header starts a line of its own", true,
         "[boot]\r\nshell=Explorer.exe", "[boot]\r\nshell=Explorer.exe\r\n[rename]\r\n" + entry},
        {"last line without a line end inside [rename]: the entry starts a line of its own", true,
         "[rename]\r\nNUL=C:\\OLD.EXE", "[rename]\r\nNUL=C:\\OLD.EXE\r\n" + entry},
        {"LF line ends come back as CR LF", true, "[rename]\nNUL=C:\\OLD.EXE\n[Other]\nkey=value\n",
         "[rename]\r\nNUL=C:\\OLD.EXE\r\n" + entry + "[Other]\r\nkey=value\r\n"},
        {"only the first 8 characters are compared: [RENAME] ; note", true, "[RENAME] ; note\r\n[x]\r\n",
         "[RENAME] ; note\r\n" + entry + "[x]\r\n"},
        {"[renamed] is another section", true, "[renamed]\r\na=b\r\n",
         "[renamed]\r\na=b\r\n[rename]\r\n" + entry},
        {"an indented header is not a header", true, " [rename]\r\na=b\r\n",
         " [rename]\r\na=b\r\n[rename]\r\n" + entry},
        {"two [rename] sections: the first one takes the entry", true,
         "[rename]\r\nA=B\r\n[rename]\r\nC=D\r\n", "[rename]\r\nA=B\r\n" + entry + "[rename]\r\nC=D\r\n"},
        {"[rename] with no lines before the next section", true, "[rename]\r\n[boot]\r\n",
         "[rename]\r\n" + entry + "[boot]\r\n"},
        {"sections before and after keep their order", true,
         "[one]\r\n1=1\r\n[rename]\r\nNUL=C:\\A\r\n[two]\r\n2=2\r\n[three]\r\n3=3\r\n",
         "[one]\r\n1=1\r\n[rename]\r\nNUL=C:\\A\r\n" + entry + "[two]\r\n2=2\r\n[three]\r\n3=3\r\n"},
        {"a file ending in blank lines", true, "[boot]\r\n\r\n\r\n", "[boot]\r\n\r\n\r\n[rename]\r\n" + entry},
        {"two files of one scan share the section", true, "[boot]\r\na=1\r\n",
         "[boot]\r\na=1\r\n[rename]\r\n" + entry + second, true},
        {"two files of one scan before another section", true, "[rename]\r\n[boot]\r\n",
         "[rename]\r\n" + entry + second + "[boot]\r\n", true},
    };
}

TEST_F(DeleteOnRestartTest, WininitRewrites)
{
    for (const WininitRow& row : WininitRows()) {
        SCOPED_TRACE(row.label);
        fake.RemoveFile(kWininit);
        if (row.exists) fake.AddFile(kWininit, row.before);
        EXPECT_TRUE(ScheduleDeleteOnRestart(kLongPath));
        if (row.secondFile) {
            EXPECT_TRUE(ScheduleDeleteOnRestart(kSecondLongPath));
        }
        EXPECT_EQ(row.after, fake.Content(kWininit));
        ExpectNoLeftovers(true);
        EXPECT_TRUE(fake.rebootRemovals.empty());
    }
}

TEST_F(DeleteOnRestartTest, LongerOldContentLeavesNothingPastTheNewEnd)
{
    // A section header among many LF-terminated lines: the new content is
    // built whole, so no tail of the old file can survive behind it.
    std::string before;
    for (int i = 0; i < 200; ++i) before += "line" + std::to_string(i) + "=x\n";
    fake.AddFile(kWininit, "[rename]\n" + before);
    std::string expected = "[rename]\r\n";
    for (int i = 0; i < 200; ++i) expected += "line" + std::to_string(i) + "=x\r\n";
    expected += kEntry;
    ASSERT_TRUE(ScheduleDeleteOnRestart(kLongPath));
    EXPECT_EQ(expected, fake.Content(kWininit));
}

TEST_F(DeleteOnRestartTest, AnyTargetAndSource)
{
    ASSERT_TRUE(AddWininitRenameEntry("C:\\NEW.EXE", "C:\\OLD.EXE"));
    EXPECT_EQ("[rename]\r\nC:\\NEW.EXE=C:\\OLD.EXE\r\n", fake.Content(kWininit));
}

TEST_F(DeleteOnRestartTest, WindowsFolderAtADriveRoot)
{
    fake.windowsFolder = "C:\\";
    ASSERT_TRUE(ScheduleDeleteOnRestart(kLongPath));
    EXPECT_EQ(std::string("[rename]\r\n") + kEntry, fake.Content("C:\\wininit.ini"));
}

TEST_F(DeleteOnRestartTest, LeftoversOfAnInterruptedRunAreReplaced)
{
    fake.AddFile("C:\\WINDOWS\\wininit.qnw", "[rename]\r\nNUL=C:\\HALF", kAttrReadOnly);
    fake.AddFile("C:\\WINDOWS\\wininit.qsv", "stale");
    fake.AddFile(kWininit, "[boot]\r\n");
    ASSERT_TRUE(ScheduleDeleteOnRestart(kLongPath));
    EXPECT_EQ(std::string("[boot]\r\n[rename]\r\n") + kEntry, fake.Content(kWininit));
    ExpectNoLeftovers(true);
}

TEST_F(DeleteOnRestartTest, InterruptedRewriteIsRecoveredBeforeTheEntryIsAdded)
{
    // The earlier run moved wininit.ini aside and stopped before its new
    // content took the place: another program's pending entry lives only
    // in the saved copy.
    const std::string saved = "[rename]\r\nNUL=C:\\SETUP\\OLDDRV.SYS\r\n[boot]\r\n";
    fake.AddFile("C:\\WINDOWS\\wininit.qsv", saved);
    fake.AddFile("C:\\WINDOWS\\wininit.qnw", "[rename]\r\nNUL=C:\\HALF");
    ASSERT_TRUE(ScheduleDeleteOnRestart(kLongPath));
    EXPECT_EQ(std::string("[rename]\r\nNUL=C:\\SETUP\\OLDDRV.SYS\r\n") + kEntry + "[boot]\r\n",
              fake.Content(kWininit));
    ExpectNoLeftovers(true);
}

TEST_F(DeleteOnRestartTest, SavedCopyThatCannotBeRestoredStopsTheRequest)
{
    const std::string saved = "[rename]\r\nNUL=C:\\SETUP\\OLDDRV.SYS\r\n";
    fake.AddFile("C:\\WINDOWS\\wininit.qsv", saved);
    fake.LockAgainstDelete("C:\\WINDOWS\\wininit.qsv");
    EXPECT_FALSE(ScheduleDeleteOnRestart(kLongPath));
    EXPECT_FALSE(fake.Exists(kWininit)) << "a wininit.ini without the saved entries would lose them";
    EXPECT_EQ(saved, fake.Content("C:\\WINDOWS\\wininit.qsv"));
}

TEST_F(DeleteOnRestartTest, OtherProgramsFilesBesideWininitAreNeverTouched)
{
    const char* names[] = {"wininit.new", "wininit.old", "wininit.bak", "wininit.sav"};
    for (const char* name : names) fake.AddFile(std::string("C:\\WINDOWS\\") + name, std::string("kept ") + name);
    fake.AddFile(kWininit, "[boot]\r\n");
    ASSERT_TRUE(ScheduleDeleteOnRestart(kLongPath));
    ASSERT_TRUE(ScheduleDeleteOnRestart(kSecondLongPath));
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(std::string("kept ") + name, fake.Content(std::string("C:\\WINDOWS\\") + name));
    }
    EXPECT_EQ(std::string("[boot]\r\n[rename]\r\n") + kEntry + "NUL=" + kSecondShortPath + "\r\n",
              fake.Content(kWininit));
}

// ----- Failures never lose or damage the existing wininit.ini. -----

struct FailureRow {
    const char* label;
    bool exists;
    std::function<void(FakePlatform&)> arrange;
};

TEST_F(DeleteOnRestartTest, FailuresLeaveWininitAsItWas)
{
    const std::string before = "[boot]\r\nshell=Explorer.exe\r\n[rename]\r\nNUL=C:\\OLD.EXE\r\n[386Enh]\r\n";
    FailureRow rows[] = {
        {"nothing can be written", true, [](FakePlatform& f) { f.writeBudget = 0; }},
        {"the write stops after 10 bytes", true, [](FakePlatform& f) { f.writeBudget = 10; }},
        {"the write stops one byte short", true,
         [&before](FakePlatform& f) {
             f.writeBudget = static_cast<long>(before.size() + std::strlen(kEntry)) - 1;
         }},
        {"no wininit.ini, the write stops after 10 bytes", false, [](FakePlatform& f) { f.writeBudget = 10; }},
        {"no wininit.ini, nothing can be written", false, [](FakePlatform& f) { f.writeBudget = 0; }},
        {"wininit.ini cannot be opened", true, [](FakePlatform& f) { f.LockAgainstOpen(kWininit); }},
        {"wininit.ini cannot be renamed", true, [](FakePlatform& f) { f.LockAgainstDelete(kWininit); }},
        {"a leftover new file cannot be removed", true,
         [](FakePlatform& f) {
             f.AddFile("C:\\WINDOWS\\wininit.qnw", "x");
             f.LockAgainstDelete("C:\\WINDOWS\\wininit.qnw");
         }},
        {"a leftover old file cannot be removed", true,
         [](FakePlatform& f) {
             f.AddFile("C:\\WINDOWS\\wininit.qsv", "x");
             f.LockAgainstDelete("C:\\WINDOWS\\wininit.qsv");
         }},
        {"the Windows folder is unknown", true, [](FakePlatform& f) { f.windowsFolder = ""; }},
        {"the short path is unknown", true, [](FakePlatform& f) { f.shortPathFails = true; }},
        {"no wininit.ini and the short path is unknown", false, [](FakePlatform& f) { f.shortPathFails = true; }},
    };
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(row.label);
        FakePlatform fresh;
        SetPlatform(&fresh);
        fresh.AddDrive('C', DriveFixed);
        fresh.AddFolder("C:\\WINDOWS");
        fresh.AddFile(kLongPath, "MZ worm");
        fresh.SetShortPath(kLongPath, kShortPath);
        fresh.version.platformId = 1;
        if (row.exists) fresh.AddFile(kWininit, before);
        row.arrange(fresh);
        std::vector<std::string> namesBefore = WindowsFolderNames();

        EXPECT_FALSE(ScheduleDeleteOnRestart(kLongPath));
        EXPECT_EQ(row.exists, fresh.Exists(kWininit));
        if (row.exists) {
            EXPECT_EQ(before, fresh.Content(kWininit));
        }
        EXPECT_EQ(namesBefore, WindowsFolderNames()) << "files were left behind or removed";
        EXPECT_TRUE(fresh.rebootRemovals.empty());
    }
    SetPlatform(&fake);
}

// The fake with renames that fail for chosen source and target names.
class RenameFailingPlatform : public FakePlatform {
public:
    bool RenameFile(const char* from, const char* to) override
    {
        renames.push_back(std::string(from) + " -> " + to);
        if (EndsWith(from, failFrom) && EndsWith(to, failTo)) return false;
        return FakePlatform::RenameFile(from, to);
    }
    static bool EndsWith(const std::string& text, const std::string& end)
    {
        return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    }
    std::string failFrom = "?";
    std::string failTo = "?";
    std::vector<std::string> renames;
};

TEST_F(DeleteOnRestartTest, NewFileThatCannotTakeItsPlaceRestoresTheOld)
{
    struct Row {
        const char* label;
        bool exists;
        const char* failFrom;
        const char* failTo;
    } rows[] = {
        {"the new file cannot be renamed into place", true, "wininit.qnw", "wininit.ini"},
        {"no wininit.ini, the new file cannot be renamed into place", false, "wininit.qnw", "wininit.ini"},
        {"the old file cannot be moved aside", true, "wininit.ini", "wininit.qsv"},
    };
    const std::string before = "[rename]\r\nNUL=C:\\OLD.EXE\r\n[boot]\r\n";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        RenameFailingPlatform failing;
        SetPlatform(&failing);
        failing.AddDrive('C', DriveFixed);
        failing.AddFolder("C:\\WINDOWS");
        failing.AddFile(kLongPath, "MZ worm");
        failing.SetShortPath(kLongPath, kShortPath);
        failing.version.platformId = 1;
        if (row.exists) failing.AddFile(kWininit, before);
        failing.failFrom = row.failFrom;
        failing.failTo = row.failTo;
        std::vector<std::string> namesBefore = WindowsFolderNames();

        EXPECT_FALSE(ScheduleDeleteOnRestart(kLongPath));
        EXPECT_EQ(row.exists, failing.Exists(kWininit));
        if (row.exists) {
            EXPECT_EQ(before, failing.Content(kWininit));
        }
        EXPECT_EQ(namesBefore, WindowsFolderNames());
        EXPECT_FALSE(failing.renames.empty());
    }
    SetPlatform(&fake);
}

TEST_F(DeleteOnRestartTest, WininitAtTheSizeLimitWithBareLineEnds)
{
    // Every byte a line end: the rewrite doubles the content.
    fake.AddFile(kWininit, "[rename]\n" + std::string(64 * 1024 - 9, '\n'));
    ASSERT_TRUE(ScheduleDeleteOnRestart(kLongPath));
    std::string expected = "[rename]\r\n";
    for (int i = 0; i < 64 * 1024 - 9; ++i) expected += "\r\n";
    EXPECT_EQ(expected + kEntry, fake.Content(kWininit));
}

TEST_F(DeleteOnRestartTest, OverlongEntryIsRefused)
{
    fake.AddFile(kWininit, "[boot]\r\n");
    EXPECT_FALSE(AddWininitRenameEntry("NUL", std::string(2000, 'x').c_str()));
    EXPECT_EQ("[boot]\r\n", fake.Content(kWininit));
    ExpectNoLeftovers(true);
}

TEST_F(DeleteOnRestartTest, OversizedWininitIsRefusedNotCut)
{
    std::string before = "[boot]\r\n" + std::string(70000, ';') + "\r\n";
    fake.AddFile(kWininit, before);
    EXPECT_FALSE(ScheduleDeleteOnRestart(kLongPath));
    EXPECT_EQ(before, fake.Content(kWininit));
    ExpectNoLeftovers(true);
}

TEST_F(DeleteOnRestartTest, LargeWininitWithinTheLimitIsKeptWhole)
{
    std::string before = "[boot]\n" + std::string(60000, ';') + "\n";
    fake.AddFile(kWininit, before);
    ASSERT_TRUE(ScheduleDeleteOnRestart(kLongPath));
    EXPECT_EQ("[boot]\r\n" + std::string(60000, ';') + "\r\n[rename]\r\n" + kEntry, fake.Content(kWininit));
}

TEST_F(DeleteOnRestartTest, ShortPathUnavailableWritesNothing)
{
    fake.shortPathFails = true;
    EXPECT_FALSE(ScheduleDeleteOnRestart(kLongPath));
    EXPECT_FALSE(fake.Exists(kWininit));
    ExpectNoLeftovers(false);
}

// ----- NT family. -----

TEST_F(DeleteOnRestartTest, NtUsesTheDelayedMoveAndReportsItsResult)
{
    struct Row {
        const char* label;
        bool requestResult;
    } rows[] = {{"request accepted", true}, {"request refused", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        fake.rebootRemovals.clear();
        UseNt();
        fake.rebootRemovalResult = row.requestResult;
        EXPECT_EQ(row.requestResult, ScheduleDeleteOnRestart(kLongPath));
        EXPECT_EQ(std::vector<std::string>{kLongPath}, fake.rebootRemovals) << "the full long path is requested";
        EXPECT_FALSE(fake.Exists(kWininit));
        ExpectNoLeftovers(false);
    }
}

TEST_F(DeleteOnRestartTest, NtLeavesAnExistingWininitAlone)
{
    UseNt();
    fake.AddFile(kWininit, "[rename]\r\n");
    EXPECT_TRUE(ScheduleDeleteOnRestart(kLongPath));
    EXPECT_EQ("[rename]\r\n", fake.Content(kWininit));
}

// ----- Other platforms. -----

TEST_F(DeleteOnRestartTest, OtherPlatformClassesDoNothing)
{
    struct Row {
        const char* label;
        std::uint32_t platformId;
        bool queryFails;
    } rows[] = {{"Win32s (0)", 0, false}, {"CE (3)", 3, false}, {"unknown (7)", 7, false}, {"failed query", 2, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        fake.version.platformId = row.platformId;
        fake.versionQueryFails = row.queryFails;
        EXPECT_FALSE(ScheduleDeleteOnRestart(kLongPath));
        EXPECT_FALSE(fake.Exists(kWininit));
        EXPECT_TRUE(fake.rebootRemovals.empty());
        ExpectNoLeftovers(false);
    }
}

}  // namespace
