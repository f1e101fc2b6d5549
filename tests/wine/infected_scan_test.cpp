// A whole scan session with the real handler table and the real backend
// over a d: drive of infected files and their look-alikes, with the
// registry prepared by the setup hook. Checks every result line, which files
// are left and the registry afterwards; the check hook looks again from the
// Linux side.
#include <windows.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "fixtures/InfectedFiles.h"
#include "platform/win32/Win32Platform.h"
#include "scan/BinaryExamination.h"
#include "scan/ScanSession.h"
#include "scan/ScanState.h"
#include "scan/SignatureRecord.h"
#include "scan/VirusHandler.h"
#include "wine/harness/Harness.h"
#include "wine/support/Win32TestSupport.h"

namespace {

RecordedResults results;

struct PromptSeen {
    std::string text;
    std::string caption;
    unsigned flags;
};
std::vector<PromptSeen> prompts;

int AnswerNo(const char* text, const char* caption, unsigned flags)
{
    prompts.push_back({text, caption, flags});
    return IDNO;
}

// ---------------------------------------------------------------- files

const SignatureRecord& Unpacker() { return SignatureTable[2]; }    // W32/Murkel.A.Trojan, 44,532 bytes
const SignatureRecord& Downloader() { return SignatureTable[5]; }  // W32/MurkEl.G.Downloader.Trojan
const SignatureRecord& WormC() { return ArchiveWormTable[0]; }     // W32/Bagle.C.Worm

enum Outcome { Clean, Removed, UnableToRemove };

struct Fixture {
    const char* path;
    std::string content;
    DWORD attributes;
    Outcome outcome;
    const char* threat;
    bool cleansRegistry;   // a signature or archived-worm hit
    int runValuesRemoved;  // Run values that start this file
};

const char kInUse[] = "D:\\Locked\\inuse.exe";

std::vector<Fixture> Fixtures()
{
    std::string cleanPe = infected::BuildPe(Unpacker(), 44532, infected::PePlacement{30000, 600, 700});
    return {
        {"D:\\Infected\\Mail Setup.exe", infected::SignaturePe(Unpacker()), 0, Removed, "W32/Murkel.A.Trojan", true, 1},
        {"D:\\Infected\\deep\\hidden.scr", infected::SignaturePe(Downloader()), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
         Removed, "W32/MurkEl.G.Downloader.Trojan", true, 2},
        {"D:\\Archives\\photos.zip", infected::EncryptedZip(), 0, Removed, "W32/Bagle.H.Worm", false, 0},
        {"D:\\Archives\\worm.zip", infected::WormZip(WormC(), 12000), 0, Removed, "W32/Bagle.C.Worm", true, 1},
        {kInUse, infected::SignaturePe(Unpacker()), 0, UnableToRemove, "W32/Murkel.A.Trojan", true, 1},
        // Look-alikes one byte or one length off, and plain files: they stay.
        {"D:\\Infected\\lookalike-byte.exe", infected::SignaturePeOneByteOff(Unpacker()), 0, Clean, "", false, 0},
        {"D:\\Infected\\lookalike-length.exe", infected::SignaturePeOneLonger(Unpacker()), 0, Clean, "", false, 0},
        {"D:\\Infected\\deep\\same-size.exe", cleanPe, FILE_ATTRIBUTE_HIDDEN, Clean, "", false, 0},
        {"D:\\Archives\\lookalike-worm.zip", infected::WormZipOneByteOff(WormC(), 12000), 0, Clean, "", false, 0},
        {"D:\\Archives\\notes.zip", infected::EncryptedZip("MAIL.TXT"), 0, Clean, "", false, 0},
        {"D:\\Archives\\big.zip", infected::EncryptedZip("MAIL.SCR", 30721), 0, Clean, "", false, 0},
        {"D:\\Archives\\open.zip", infected::EncryptedZip("MAIL.SCR", 20000, 0), 0, Clean, "", false, 0},
        {"D:\\readme.txt", "Nothing to see here.\r\n", FILE_ATTRIBUTE_READONLY, Clean, "", false, 0},
    };
}

// ---------------------------------------------------------------- registry

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kRu1nKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Ru1n";

struct RegValue {
    HKEY hive;
    const char* key;
    std::string name;
    DWORD type;
    std::string data;  // as stored; strings without their terminator
    bool survives;
};

std::string Str(const char* text) { return text; }

std::vector<RegValue> PreparedValues()
{
    std::vector<RegValue> values = {
        {HKEY_CURRENT_USER, kRunKey, "rate.exe", REG_SZ, Str("C:\\WINDOWS\\SYSTEM32\\i1ru54n4.exe"), false},
        {HKEY_LOCAL_MACHINE, kRunKey, "wersds.exe", REG_EXPAND_SZ, Str("%SYSDIR%\\wersds.exe"), false},
        {HKEY_CURRENT_USER, kRu1nKey, "erthgdr", REG_BINARY, Str("sysdir\\windll.exe"), false},
        {HKEY_LOCAL_MACHINE, kRunKey, "winshost.exe", REG_SZ, Str("c:\\windows\\system\\winshost.exe"), false},
        {HKEY_CURRENT_USER, "Software\\Microsoft\\Params", "TimeKey", REG_SZ, Str("20040301"), false},
        {HKEY_CURRENT_USER, kRunKey, "ssate.exe", REG_SZ, Str("C:\\Program Files\\ssate\\ssate.exe"), true},
        {HKEY_CURRENT_USER, kRunKey, "bawindo", REG_SZ, Str("C:\\Tools\\bawindo.exe"), true},
        {HKEY_CURRENT_USER, "Software\\Microsoft\\Params", "riga", REG_SZ, Str("riga"), true},
        {HKEY_CURRENT_USER, kRunKey, "key", REG_MULTI_SZ,
         std::string("other\0c:\\windows\\system\\sysxp.exe\0\0", 35), true},
        {HKEY_CURRENT_USER, kRunKey, "directs.exe", REG_SZ,
         "c:\\windows\\system\\directs.exe " + std::string(1100, 'x'), true},
        {HKEY_CURRENT_USER, kRunKey, "au.exe", REG_SZ, Str("C:\\Tools\\au.exe"), true},
        {HKEY_LOCAL_MACHINE, kRunKey, "MailUpdate", REG_SZ, Str("\"D:\\Infected\\Mail Setup.exe\" /start"), false},
        {HKEY_CURRENT_USER, kRunKey, "Hidden", REG_SZ, Str("d:\\infected\\deep\\hidden.scr"), false},
        {HKEY_CURRENT_USER, kRunKey, "Hidden2", REG_SZ, Str("D:\\INFECTED\\DEEP\\HIDDEN.SCR -quiet"), false},
        {HKEY_CURRENT_USER, kRunKey, "WormZip", REG_EXPAND_SZ, Str("\"%QUELLOR_ARCHIVES%\\worm.zip\""), false},
        {HKEY_CURRENT_USER, kRunKey, "InUse", REG_SZ, Str("D:\\Locked\\inuse.exe"), false},
        {HKEY_CURRENT_USER, kRunKey, "HiddenAfter", REG_SZ, Str("C:\\Tools\\after.exe"), true},
        {HKEY_LOCAL_MACHINE, kRunKey, "SetupBackup", REG_SZ, Str("D:\\Infected\\Mail Setup.exe.bak"), true},
        {HKEY_LOCAL_MACHINE, kRunKey, "LaterInLine", REG_SZ, Str("C:\\windows\\notepad.exe D:\\Infected\\Mail Setup.exe"),
         true},
        {HKEY_LOCAL_MACHINE, kRunKey, "ShortOne", REG_SZ, Str("D:\\Infected\\Mail Setu"), true},
        {HKEY_CURRENT_USER, kRunKey, "Empty", REG_SZ, Str(""), true},
        {HKEY_CURRENT_USER, kRunKey, "LoneQuote", REG_SZ, Str("\""), true},
        {HKEY_CURRENT_USER, kRunKey, "Photos", REG_SZ, Str("D:\\Archives\\photos.zip"), true},
    };
    // Twenty unrelated values.
    for (int i = 1; i <= 20; ++i) {
        std::string n = (i < 10 ? "0" : "") + std::to_string(i);
        values.push_back({i <= 14 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, kRunKey, "Unrelated" + n, REG_SZ,
                          "\"C:\\Program Files\\Vendor " + n + "\\tool" + n + ".exe\" /tray", true});
    }
    return values;
}

// Reads a value as stored; strings lose their terminator.
bool ReadValue(const RegValue& value, DWORD& type, std::string& data)
{
    HKEY key;
    if (RegOpenKeyExA(value.hive, value.key, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    bool found = RegQueryValueExA(key, value.name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    if (found) {
        data.assign(size, '\0');
        found = RegQueryValueExA(key, value.name.c_str(), nullptr, &type, size ? reinterpret_cast<BYTE*>(&data[0]) : nullptr,
                                 &size) == ERROR_SUCCESS;
        data.resize(size);
        if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty() && data.back() == '\0') data.pop_back();
    }
    RegCloseKey(key);
    return found;
}

bool KeyExists(HKEY hive, const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(hive, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::string Describe(const RegValue& value)
{
    return std::string(value.hive == HKEY_CURRENT_USER ? "HKCU\\" : "HKLM\\") + value.key + " " + value.name;
}

std::string RegistryLine(const char* label)
{
    return std::string("System Registry     ") + label + " removed";
}

// The lines the rules write at the first detection that cleans the
// registry, in rule order: rule 5 (value and key), 22, 25, 26 (only its
// follow-up: the value does not hold) and 32.
std::vector<std::string> RuleLines()
{
    return {RegistryLine("W32/Bagle.F.Worm"),    RegistryLine("W32/Bagle.F.Worm"), RegistryLine("W32/Bagle.Dl.A.Worm"),
            RegistryLine("W32/Bagle.Al.Worm"),   RegistryLine("W32/Bagle.Av.Worm"), RegistryLine("W32/Bagle.Be.Worm")};
}

}  // namespace

WINE_TEST(ScanRemovesTheInfectedFilesAndTheirRegistryTracesAndNothingElse)
{
    UseRealPlatform();
    Win32Platform::SetPromptHandler(AnswerNo);
    ResetScanGlobals();
    cleanAction = kActionDelete;
    SetEnvironmentVariableA("QUELLOR_ARCHIVES", "D:\\Archives");

    // The files.
    for (const char* folder : {"D:\\Infected", "D:\\Infected\\deep", "D:\\Archives", "D:\\Locked"}) {
        CreateDirectoryA(folder, nullptr);
    }
    const std::vector<Fixture> fixtures = Fixtures();
    for (const Fixture& fixture : fixtures) {
        if (fixture.content.empty() || !WriteWholeFile(fixture.path, fixture.content, fixture.attributes)) {
            ReportFailure(__FILE__, __LINE__, std::string("setup: cannot make ") + fixture.path);
            return;
        }
    }
    // The registry as the setup hook left it: a mangled value would make the
    // checks below meaningless.
    const std::vector<RegValue> values = PreparedValues();
    for (const RegValue& value : values) {
        DWORD type = 0;
        std::string data;
        if (!ReadValue(value, type, data) || type != value.type || data != value.data) {
            ReportFailure(__FILE__, __LINE__, "setup: " + Describe(value) + " is " + DescribeValue(data));
        }
    }
    CHECK(KeyExists(HKEY_CURRENT_USER, "Software\\winword"));
    CHECK(KeyExists(HKEY_CURRENT_USER, "Software\\DateTime4"));

    // The walk order and the file count, taken before anything is deleted.
    std::vector<std::string> orderC, orderD;
    FilesInWalkOrder("C:\\", orderC);
    FilesInWalkOrder("D:\\", orderD);
    CHECK_EQ(fixtures.size(), orderD.size());

    // A file in use by this program: it cannot be deleted during the scan.
    HANDLE holder = CreateFileA(kInUse, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    CHECK(holder != INVALID_HANDLE_VALUE);

    ScanState.resultSink = reinterpret_cast<WindowRef>(MakeResultSink(results));
    if (ScanState.resultSink == 0) {
        ReportFailure(__FILE__, __LINE__, "no window to receive the results");
        return;
    }
    UseHandlerTable(nullptr);

    CHECK_EQ(1, RunScanSession());
    CloseHandle(holder);
    const std::vector<std::string>& statuses = results.statuses;
    const std::vector<std::string>& lines = results.lines;

    // Every result line, in order.
    std::map<std::string, const Fixture*> byPath;
    for (const Fixture& fixture : fixtures) byPath[fixture.path] = &fixture;
    std::vector<std::string> expected;
    bool rulesDone = false;
    int infected = 0, removed = 0;
    for (const std::string& path : orderD) {
        auto found = byPath.find(path);
        if (found == byPath.end()) {
            ReportFailure(__FILE__, __LINE__, "unexpected file on d: " + path);
            continue;
        }
        const Fixture& fixture = *found->second;
        if (fixture.outcome == Clean) continue;
        ++infected;
        if (fixture.cleansRegistry && !rulesDone) {
            for (const std::string& line : RuleLines()) expected.push_back(line);
            rulesDone = true;
        }
        for (int i = 0; i < fixture.runValuesRemoved; ++i) expected.push_back(RegistryLine("W32/MurkEl.Trojan"));
        if (fixture.outcome == Removed) ++removed;
        expected.push_back(path + "     " + fixture.threat +
                           (fixture.outcome == Removed ? " removed" : " Unable to remove"));
    }
    const std::vector<std::string> statistics = {
        " ",
        "Scanning statistics",
        "------------------------------",
        "Total files scanned\t\t:  " + std::to_string(orderC.size() + orderD.size()),
        "Total files infected\t\t:  " + std::to_string(infected),
        "Total files removed\t\t:  " + std::to_string(removed),
    };
    expected.insert(expected.end(), statistics.begin(), statistics.end());
    CHECK_EQ(5, infected);
    CHECK_EQ(expected.size(), lines.size());
    for (std::size_t i = 0; i < std::max(expected.size(), lines.size()); ++i) {
        CHECK_EQ(i < expected.size() ? expected[i] : std::string("(none)"),
                 i < lines.size() ? lines[i] : std::string("(none)"));
    }
    CHECK_STREQ("Scanning completed", statuses.empty() ? "" : statuses.back());

    // Only the file in use could not go: it is scheduled, and the user is
    // asked about a restart (answered No here).
    CHECK_EQ(1, ScanState.restartNeeded);
    CHECK_EQ(1u, prompts.size());
    if (prompts.size() == 1) {
        CHECK_STREQ("The system has to be restarted to remove the virus completely from your system. \n\n Restart now?",
                    prompts[0].text);
        CHECK_STREQ("Quellor Ver 7.0", prompts[0].caption);
        CHECK_EQ(36u, prompts[0].flags);
    }

    // The files afterwards: the infected ones are gone, everything else is
    // there with its content.
    for (const Fixture& fixture : fixtures) {
        bool shouldStay = fixture.outcome != Removed;
        if (PathPresent(fixture.path) != shouldStay) {
            ReportFailure(__FILE__, __LINE__, std::string(shouldStay ? "gone: " : "still there: ") + fixture.path);
        } else if (shouldStay) {
            std::string content;
            CHECK(ReadWholeFile(fixture.path, content) && content == fixture.content);
        }
    }

    // The registry afterwards.
    for (const RegValue& value : values) {
        DWORD type = 0;
        std::string data;
        bool there = ReadValue(value, type, data);
        if (there != value.survives) {
            ReportFailure(__FILE__, __LINE__, std::string(value.survives ? "removed: " : "still there: ") +
                                                  Describe(value));
        } else if (there) {
            CHECK(data == value.data);
        }
    }
    CHECK(!KeyExists(HKEY_CURRENT_USER, "Software\\winword"));
    CHECK(KeyExists(HKEY_CURRENT_USER, "Software\\DateTime4"));
    CHECK(KeyExists(HKEY_CURRENT_USER, kRunKey));
    CHECK(KeyExists(HKEY_LOCAL_MACHINE, kRunKey));
}

WINE_TEST(RenameActsOnTheLastDotOfTheWholePath)
{
    UseRealPlatform();
    ResetScanGlobals();
    ScanState.resultSink = reinterpret_cast<WindowRef>(MakeResultSink(results));
    results.lines.clear();
    cleanAction = kActionRename;
    CreateDirectoryA("D:\\Rename", nullptr);
    CreateDirectoryA("D:\\Rename\\dir.x1", nullptr);
    const std::string pe = infected::SignaturePe(Unpacker());
    CHECK(WriteWholeFile("D:\\Rename\\mail.exe", pe, FILE_ATTRIBUTE_READONLY));
    CHECK(WriteWholeFile("D:\\Rename\\dir.x1\\readme", pe));

    CHECK_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", "D:\\Rename\\mail.exe"));
    CHECK_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", "D:\\Rename\\dir.x1\\readme"));

    const std::vector<std::string>& lines = results.lines;
    CHECK_EQ(2u, lines.size());
    if (lines.size() == 2) {
        CHECK_STREQ("D:\\Rename\\mail.exe     W32/Murkel.A.Trojan renamed", lines[0]);
        CHECK_STREQ("D:\\Rename\\dir.x1\\readme     W32/Murkel.A.Trojan Rename failed", lines[1]);
    }
    CHECK(!PathPresent("D:\\Rename\\mail.exe"));
    std::string renamed;
    CHECK(ReadWholeFile("D:\\Rename\\mail.Vxe", renamed) && renamed == pe);
    CHECK(PathPresent("D:\\Rename\\dir.x1\\readme"));
    CHECK(!PathPresent("D:\\Rename\\dir.V1"));
    CHECK_EQ(0, ScanStatistics.filesRemoved);
}
