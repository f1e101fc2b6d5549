// What the hive backend shows of a disk's hives: the machine's mappings,
// users, the two views of a 64-bit disk, value types and text, the
// environment and version of that Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "console/HiveScratch.h"

namespace {

const char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRunInSoftware[] = "Microsoft\\Windows\\CurrentVersion\\Run";

using HiveBackend = HiveScratch;

TEST_F(HiveBackend, CurrentControlSetIsTheSetSelectNames)
{
    const std::string system = Hive("SYSTEM", {
        {"Select", {HiveDword("Current", 2), HiveDword("Default", 1)}},
        {"ControlSet001\\Services\\Old", {HiveSz("ImagePath", "old.sys")}},
        {"ControlSet002\\Services\\New", {HiveSz("ImagePath", "new.sys")}},
        {"ControlSet002\\Services\\Gone", {}},
    });
    std::vector<std::string> problems;
    hives.MountMachine("", system, problems);
    EXPECT_TRUE(problems.empty());

    struct Row {
        const char* key;
        std::string read;
    } const rows[] = {
        {"SYSTEM\\CurrentControlSet\\Services\\New", EngineText("new.sys")},
        {"system\\currentcontrolset\\services\\new", EngineText("new.sys")},
        {"SYSTEM\\CurrentControlSet\\Services\\Old", "-2"},
        {"SYSTEM\\ControlSet001\\Services\\Old", EngineText("old.sys")},
        {"SYSTEM\\ControlSet002\\Services\\New", EngineText("new.sys")},
        {"Software\\Microsoft", "-2"},  // no SOFTWARE hive
        {"Hardware\\Description", "-2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(row.read, Read(kKeyLocalMachine, row.key, "ImagePath"));
    }

    // A key opened below the SYSTEM root maps the same way.
    KeyRef root = 0;
    ASSERT_EQ(kRegistryOk, hives.RegistryOpen(kKeyLocalMachine, "SYSTEM", kKeyRead, root));
    KeyRef services = 0;
    EXPECT_EQ(kRegistryOk, hives.RegistryOpen(root, "CurrentControlSet\\Services\\New", kKeyRead, services));
    hives.RegistryClose(services);
    hives.RegistryClose(root);

    hives.AllowChanges(true);
    EXPECT_EQ(kRegistryOk, hives.RegistryDeleteKey(kKeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\Gone"));
    const std::vector<std::string> after = Meaning(system);
    EXPECT_EQ(0, std::count(after.begin(), after.end(), "K ControlSet002\\Services\\Gone"));
    EXPECT_EQ(1, std::count(after.begin(), after.end(), "K ControlSet002\\Services\\New"));
}

TEST_F(HiveBackend, WithoutSelectCurrentControlSetNamesNothing)
{
    const std::string system = Hive("SYSTEM", {{"ControlSet001\\Services\\Old", {HiveSz("ImagePath", "old.sys")}}});
    std::vector<std::string> problems;
    hives.MountMachine("", system, problems);
    EXPECT_EQ("-2", Read(kKeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\Old", "ImagePath"));
    EXPECT_EQ(EngineText("old.sys"), Read(kKeyLocalMachine, "SYSTEM\\ControlSet001\\Services\\Old", "ImagePath"));
}

TEST_F(HiveBackend, EachUserHasHisOwnCurrentUserKeys)
{
    std::vector<std::string> problems;
    EXPECT_EQ(0u, hives.RegistryUserCount());
    EXPECT_EQ("-2", Read(kKeyCurrentUser, kRun, "who"));
    EXPECT_FALSE(hives.SelectRegistryUser(0));

    hives.AddUser(Hive("alice.dat", {{kRun, {HiveSz("who", "alice")}}}), "C:\\Users\\alice", problems);
    hives.AddUser(Hive("bob.dat", {{kRun, {HiveSz("who", "bob")}}}), "C:\\Users\\bob", problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(2u, hives.RegistryUserCount());
    EXPECT_EQ(EngineText("alice"), Read(kKeyCurrentUser, kRun, "who"));  // the first added
    ASSERT_TRUE(hives.SelectRegistryUser(1));
    EXPECT_EQ(EngineText("bob"), Read(kKeyCurrentUser, kRun, "who"));
    EXPECT_FALSE(hives.SelectRegistryUser(2));
    EXPECT_EQ(EngineText("bob"), Read(kKeyCurrentUser, kRun, "who"));

    // A change reaches only the selected user's hive.
    hives.AllowChanges(true);
    EXPECT_EQ(kRegistryOk, DeleteValue(kKeyCurrentUser, kRun, "who"));
    EXPECT_EQ("-2", Read(kKeyCurrentUser, kRun, "who"));
    ASSERT_TRUE(hives.SelectRegistryUser(0));
    EXPECT_EQ(EngineText("alice"), Read(kKeyCurrentUser, kRun, "who"));
}

TEST_F(HiveBackend, A64BitDiskShowsSoftwareInTwoViews)
{
    const std::string software = Hive("SOFTWARE", {
        {kRunInSoftware, {HiveSz("view", "native")}},
        {std::string("Wow6432Node\\") + kRunInSoftware, {HiveSz("view", "32-bit")}},
    });
    std::vector<std::string> problems;
    hives.MountMachine(software, "", problems);
    EXPECT_TRUE(hives.Is64BitWindows());
    EXPECT_TRUE(hives.RegistryHasTwoViews());
    EXPECT_FALSE(hives.RunsUnderWow64());

    struct Row {
        const char* key;
        std::uint32_t view;
        const char* read;
    } const rows[] = {
        {kRun, 0, "32-bit"},
        {kRun, kKeyView64, "native"},
        {"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run", 0, "32-bit"},
        {"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run", kKeyView64, "32-bit"},
        {"SOFTWARE\\WOW6432NODE\\Microsoft\\Windows\\CurrentVersion\\Run", 0, "32-bit"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.key) + (row.view ? " (64)" : " (32)"));
        EXPECT_EQ(EngineText(row.read), Read(kKeyLocalMachine, row.key, "view", row.view));
    }

    // A deletion in one view leaves the other alone.
    hives.AllowChanges(true);
    EXPECT_EQ(kRegistryOk, DeleteValue(kKeyLocalMachine, kRun, "view"));
    EXPECT_EQ("-2", Read(kKeyLocalMachine, kRun, "view"));
    EXPECT_EQ(EngineText("native"), Read(kKeyLocalMachine, kRun, "view", kKeyView64));
}

TEST_F(HiveBackend, A32BitDiskHasOneView)
{
    const std::string software = Hive("SOFTWARE", {{kRunInSoftware, {HiveSz("view", "only")}}});
    std::vector<std::string> problems;
    hives.MountMachine(software, "", problems);
    EXPECT_FALSE(hives.Is64BitWindows());
    EXPECT_FALSE(hives.RegistryHasTwoViews());
    EXPECT_EQ(EngineText("only"), Read(kKeyLocalMachine, kRun, "view"));
    EXPECT_EQ(EngineText("only"), Read(kKeyLocalMachine, kRun, "view", kKeyView64));
}

TEST_F(HiveBackend, ValuesComeBackWithTheirStoredTypes)
{
    const std::string binary("\x00\x01\xFF\x80\x7F", 5);
    std::vector<std::string> problems;
    hives.AddUser(Hive("user.dat", {{"Kinds", {
                           HiveSz("sz", "text"),
                           HiveExpandSz("expand", "%SystemRoot%\\x.exe"),
                           HiveMultiSz("multi", {"one", "two"}),
                           HiveDword("dword", 0x12345678),
                           HiveQword("qword", 0x0102030405060708ull),
                           HiveBinary("binary", binary),
                           HiveValueDraft{"odd", 0x7FFF0001u, "raw"},
                           HiveValueDraft{"unterminated", kRegSz, HiveUtf16("abc", false)},
                           HiveValueDraft{"none", 0, ""},
                       }}}),
                  "C:\\Users\\u", problems);
    EXPECT_TRUE(problems.empty());

    struct Row {
        const char* name;
        std::uint32_t type;
        std::string data;
    } const rows[] = {
        {"sz", kRegSz, EngineText("text")},
        {"expand", kRegExpandSz, EngineText("%SystemRoot%\\x.exe")},
        {"multi", kRegMultiSz, std::string("one\0two\0\0", 9)},
        {"dword", kRegDword, std::string("\x78\x56\x34\x12", 4)},
        {"qword", 11, std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8)},
        {"binary", kRegBinary, binary},
        {"odd", 0x7FFF0001u, "raw"},
        {"unterminated", kRegSz, "abc"},
        {"none", 0, ""},
    };
    KeyRef key = 0;
    ASSERT_EQ(kRegistryOk, hives.RegistryOpen(kKeyCurrentUser, "Kinds", kKeyRead, key));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::uint32_t type = 0xDEAD;
        std::uint32_t size = 0;
        // No buffer: the size alone.
        ASSERT_EQ(kRegistryOk, hives.RegistryQueryValue(key, row.name, &type, nullptr, &size));
        EXPECT_EQ(row.type, type);
        EXPECT_EQ(row.data.size(), size);
        // A buffer one byte short: the size needed, nothing written past it.
        char data[64];
        std::memset(data, '#', sizeof data);
        if (size > 0) {
            std::uint32_t shortSize = size - 1;
            EXPECT_EQ(kRegistryMoreData, hives.RegistryQueryValue(key, row.name, &type, data, &shortSize));
            EXPECT_EQ(size, shortSize);
            EXPECT_EQ('#', data[size - 1]);
        }
        std::uint32_t fullSize = sizeof data;
        ASSERT_EQ(kRegistryOk, hives.RegistryQueryValue(key, row.name, &type, data, &fullSize));
        EXPECT_EQ(row.data, std::string(data, fullSize));
    }
    hives.RegistryClose(key);
}

TEST_F(HiveBackend, TextOutsideLatin1BecomesQuestionMarksAndNamesIgnoreCase)
{
    std::vector<std::string> problems;
    hives.AddUser(Hive("user.dat", {{"Caf\xC3\xA9", {  // "Café"
                                        HiveSz("Na\xC3\xAFve", "r\xC3\xA9sum\xC3\xA9"),      // "Naïve" = "résumé"
                                        HiveSz("macr\xC4\x81n", "x"),                       // "macrān"
                                        HiveSz("foreign", "\xC4\x81\xF0\x9F\x98\x80" "b"),  // "ā😀b"
                                    }}}),
                  "C:\\Users\\u", problems);

    struct Row {
        const char* key;
        const char* name;
        std::string read;
    } const rows[] = {
        {"Caf\xE9", "Na\xEFve", EngineText("r\xE9sum\xE9")},
        {"CAF\xC9", "NA\xCFVE", EngineText("r\xE9sum\xE9")},  // Latin-1 letters ignore case too
        {"Cafe", "Na\xEFve", "-2"},                          // a plain e is another letter
        {"Caf\xE9", "macr?n", "-2"},                          // a '?' opens nothing
        {"Caf?", "Na\xEFve", "-2"},
        // One '?' for the letter, one for the pair of surrogates.
        {"Caf\xE9", "foreign", EngineText("??b")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.read, Read(kKeyCurrentUser, row.key, row.name));
    }

    KeyRef key = 0;
    ASSERT_EQ(kRegistryOk, hives.RegistryOpen(kKeyCurrentUser, "caf\xE9", kKeyRead, key));
    std::vector<std::string> names;
    for (std::uint32_t i = 0;; ++i) {
        char name[32];
        std::uint32_t length = sizeof name;
        if (hives.RegistryEnumValue(key, i, name, length) != kRegistryOk) break;
        names.push_back(name);
    }
    EXPECT_EQ((std::vector<std::string>{"Na\xEFve", "macr?n", "foreign"}), names);
    hives.RegistryClose(key);
}

TEST_F(HiveBackend, TheFirstOfTwoValuesWithOneNameIsReadAndDeleted)
{
    std::vector<std::string> problems;
    const std::string user = Hive("user.dat", {{"Run", {HiveSz("twin", "first"), HiveSz("other", "o"),
                                                        HiveSz("TWIN", "second")}}});
    hives.AddUser(user, "C:\\Users\\u", problems);
    hives.AllowChanges(true);
    EXPECT_EQ(EngineText("first"), Read(kKeyCurrentUser, "Run", "twin"));
    const std::vector<std::string> before = Meaning(user);
    EXPECT_EQ(kRegistryOk, DeleteValue(kKeyCurrentUser, "Run", "Twin"));
    EXPECT_EQ(EngineText("second"), Read(kKeyCurrentUser, "Run", "twin"));
    std::vector<std::string> expected = before;
    expected.erase(std::find(expected.begin(), expected.end(), "V Run | twin | 1 | " "66006900720073007400" "0000"));
    EXPECT_EQ(expected, Meaning(user));
}

TEST_F(HiveBackend, ValuesShiftDownAfterADeletionThroughAnotherHandle)
{
    // How the Run-value scan goes: one handle lists, another deletes.
    std::vector<std::string> problems;
    hives.AddUser(Hive("user.dat", {{"Run", {HiveSz("a", "1"), HiveSz("b", "2"), HiveSz("c", "3")}}}),
                  "C:\\Users\\u", problems);
    hives.AllowChanges(true);
    KeyRef lister = 0;
    ASSERT_EQ(kRegistryOk, hives.RegistryOpen(kKeyCurrentUser, "Run", kKeyRead, lister));
    EXPECT_EQ(kRegistryOk, DeleteValue(kKeyCurrentUser, "Run", "a"));
    std::uint32_t count = 0;
    EXPECT_EQ(kRegistryOk, hives.RegistryValueCount(lister, count));
    EXPECT_EQ(2u, count);
    char name[8];
    std::uint32_t length = sizeof name;
    EXPECT_EQ(kRegistryOk, hives.RegistryEnumValue(lister, 0, name, length));
    EXPECT_EQ(std::string("b"), name);
    length = sizeof name;
    EXPECT_EQ(kRegistryNoMoreItems, hives.RegistryEnumValue(lister, 2, name, length));
    // Deleting through a handle opened for reading is refused.
    EXPECT_EQ(kRegistryAccessDenied, hives.RegistryDeleteValue(lister, "b"));
    hives.RegistryClose(lister);
}

TEST_F(HiveBackend, KeysWithSubkeysAndHiveRootsAreNotDeleted)
{
    std::vector<std::string> problems;
    const std::string user = Hive("user.dat", {{"Parent\\Child", {HiveSz("v", "x")}}});
    hives.AddUser(user, "C:\\Users\\u", problems);
    hives.MountMachine(Hive("SOFTWARE", {{"Vendor", {}}}), "", problems);
    hives.AllowChanges(true);

    KeyRef child = 0;
    ASSERT_EQ(kRegistryOk, hives.RegistryOpen(kKeyCurrentUser, "Parent\\Child", kKeyRead, child));
    EXPECT_EQ(kRegistryAccessDenied, hives.RegistryDeleteKey(kKeyCurrentUser, "Parent"));
    EXPECT_EQ(kRegistryAccessDenied, hives.RegistryDeleteKey(kKeyLocalMachine, "Software"));
    EXPECT_EQ(kRegistryNotFound, hives.RegistryDeleteKey(kKeyCurrentUser, ""));
    EXPECT_EQ(kRegistryNotFound, hives.RegistryDeleteKey(kKeyCurrentUser, "Parent\\Missing"));
    // An open handle follows its key through the change of another one...
    ASSERT_EQ(kRegistryOk, hives.RegistryDeleteKey(kKeyLocalMachine, "Software\\Vendor"));
    std::uint32_t count = 0;
    EXPECT_EQ(kRegistryOk, hives.RegistryValueCount(child, count));
    EXPECT_EQ(1u, count);
    // ...and reports its own key deleted.
    ASSERT_EQ(kRegistryOk, hives.RegistryDeleteKey(kKeyCurrentUser, "PARENT\\child"));
    EXPECT_NE(kRegistryOk, hives.RegistryValueCount(child, count));
    hives.RegistryClose(child);
    EXPECT_EQ(kRegistryOk, hives.RegistryDeleteKey(kKeyCurrentUser, "Parent"));
    EXPECT_EQ((std::vector<std::string>{"K "}), Meaning(user));
}

// ------------------------------------------------------------ the Windows of the disk

class HiveMachine : public HiveScratch {
protected:
    void MountWindows(const std::vector<HiveKeyDraft>& extraSoftware = {})
    {
        std::vector<HiveKeyDraft> software = {
            {"Microsoft\\Windows NT\\CurrentVersion",
             {HiveSz("SystemRoot", "D:\\WINNT"), HiveSz("CurrentVersion", "6.1"),
              HiveSz("CurrentBuildNumber", "7601")}},
            {"Microsoft\\Windows\\CurrentVersion", {HiveSz("ProgramFilesDir", "D:\\Program Files")}},
            {"Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-18",
             {HiveExpandSz("ProfileImagePath", "%systemroot%\\system32\\config\\systemprofile")}},
            {"Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-1-2-3-1001",
             {HiveExpandSz("ProfileImagePath", "%SystemDrive%\\Users\\alice")}},
            {"Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-1-2-3-1002", {}},
        };
        software.insert(software.end(), extraSoftware.begin(), extraSoftware.end());
        const std::string system = Hive("SYSTEM", {
            {"Select", {HiveDword("Current", 1)}},
            {"ControlSet001\\Control\\Session Manager\\Environment",
             {HiveExpandSz("TEMP", "%SystemRoot%\\TEMP"), HiveSz("windir", "ignored: the folder wins"),
              HiveExpandSz("Nested", "%TEMP%\\inner"), HiveSz("Plain", "plain"),
              HiveExpandSz("Self", "%Self%!"), HiveDword("Number", 7)}},
        });
        std::vector<std::string> problems;
        hives.MountMachine(Hive("SOFTWARE", software), system, problems);
        EXPECT_TRUE(problems.empty());
    }

    std::string Expand(const char* text)
    {
        char out[256];
        std::memset(out, '#', sizeof out);
        const std::uint32_t needed = hives.ExpandEnvironment(text, out, sizeof out);
        EXPECT_EQ(std::strlen(out) + 1, needed);
        return out;
    }
};

TEST_F(HiveMachine, ReferencesExpandToThatWindowsOwnValues)
{
    MountWindows();
    std::vector<std::string> problems;
    hives.AddUser(Hive("alice.dat", {}), "D:\\Users\\alice", problems);
    hives.AddUser(Hive("bob.dat", {}), "D:\\Users\\bob", problems);

    struct Row {
        const char* text;
        const char* expanded;
    } const rows[] = {
        {"%SystemRoot%\\system32\\x.exe", "D:\\WINNT\\system32\\x.exe"},
        {"%windir%|%WINDIR%|%WinDir%", "D:\\WINNT|D:\\WINNT|D:\\WINNT"},
        {"%SystemDrive%\\boot.ini", "D:\\boot.ini"},
        {"%ProgramFiles%\\Vendor\\app.exe", "D:\\Program Files\\Vendor\\app.exe"},
        {"%USERPROFILE%\\start.exe", "D:\\Users\\alice\\start.exe"},
        {"%TEMP%\\a.exe", "D:\\WINNT\\TEMP\\a.exe"},
        {"%Nested%", "D:\\WINNT\\TEMP\\inner"},
        {"%plain%", "plain"},
        {"%Self%", "%Self%!"},  // a variable does not name itself
        {"%Number%", "%Number%"},
        {"%Unknown%\\x", "%Unknown%\\x"},
        {"%Unknown%%TEMP%", "%Unknown%D:\\WINNT\\TEMP"},
        {"100% sure", "100% sure"},
        {"%%", "%%"},
        {"", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(std::string(row.expanded), Expand(row.text));
    }
    ASSERT_TRUE(hives.SelectRegistryUser(1));
    EXPECT_EQ("D:\\Users\\bob\\start.exe", Expand("%userprofile%\\start.exe"));
}

TEST_F(HiveMachine, ExpansionTooLongForTheBufferGivesTheSizeAndStaysWithin)
{
    MountWindows();
    const std::string expanded = "D:\\WINNT\\TEMP\\file.exe";
    char out[8];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(expanded.size() + 1, hives.ExpandEnvironment("%temp%\\file.exe", out, 4));
    EXPECT_EQ(std::string(8, '#'), std::string(out, sizeof out));
    char exact[64];
    EXPECT_EQ(expanded.size() + 1, hives.ExpandEnvironment("%temp%\\file.exe", exact, expanded.size() + 1));
    EXPECT_EQ(expanded, exact);
}

TEST_F(HiveMachine, WithoutUsersUserProfileStaysAsItIs)
{
    MountWindows();
    EXPECT_EQ("%USERPROFILE%\\x", Expand("%USERPROFILE%\\x"));
}

TEST_F(HiveMachine, ProfilesAreTheProfileListWithExpandedPaths)
{
    MountWindows();
    const std::vector<HivePlatform::Profile> profiles = hives.Profiles();
    ASSERT_EQ(2u, profiles.size());
    EXPECT_EQ("S-1-5-18", profiles[0].sid);
    EXPECT_EQ("D:\\WINNT\\system32\\config\\systemprofile", profiles[0].imagePath);
    EXPECT_EQ("S-1-5-21-1-2-3-1001", profiles[1].sid);
    EXPECT_EQ("D:\\Users\\alice", profiles[1].imagePath);
}

TEST_F(HiveMachine, VersionComesFromCurrentVersion)
{
    struct Row {
        const char* name;
        std::vector<HiveValueDraft> values;
        bool known;
        std::uint32_t major, minor, build;
    } const rows[] = {
        {"Windows 7", {HiveSz("CurrentVersion", "6.1"), HiveSz("CurrentBuildNumber", "7601")}, true, 6, 1, 7601},
        {"Windows 10",
         {HiveSz("CurrentVersion", "6.3"), HiveDword("CurrentMajorVersionNumber", 10),
          HiveDword("CurrentMinorVersionNumber", 0), HiveSz("CurrentBuildNumber", "19045")},
         true, 10, 0, 19045},
        {"Windows XP", {HiveSz("CurrentVersion", "5.1"), HiveSz("CurrentBuildNumber", "2600")}, true, 5, 1, 2600},
        {"no build number", {HiveSz("CurrentVersion", "5.0")}, true, 5, 0, 0},
        {"no version", {HiveSz("CurrentBuildNumber", "2600")}, false, 0, 0, 0},
        {"version not a number", {HiveSz("CurrentVersion", "six")}, false, 0, 0, 0},
        {"version a dword", {HiveDword("CurrentVersion", 6)}, false, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HivePlatform platform(posix);
        std::vector<std::string> problems;
        platform.MountMachine(Hive("SOFTWARE", {{"Microsoft\\Windows NT\\CurrentVersion", row.values}}), "", problems);
        VersionInfo info = {};
        ASSERT_EQ(row.known, platform.QueryVersion(info));
        if (!row.known) continue;
        EXPECT_EQ(2u, info.platformId);
        EXPECT_EQ(row.major, info.majorVersion);
        EXPECT_EQ(row.minor, info.minorVersion);
        EXPECT_EQ(row.build, info.buildNumber);
    }
}

TEST_F(HiveMachine, WithoutSoftwareTheVersionIsTheInnerBackendsAnswer)
{
    // The POSIX backend knows no Windows version.
    VersionInfo info = {};
    EXPECT_FALSE(hives.QueryVersion(info));
}

}  // namespace
