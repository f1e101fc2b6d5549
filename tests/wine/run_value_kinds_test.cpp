// The registry cleanup over Run values of every kind, as Wine's reg tool
// wrote them in the setup hook (listed in C:\run-kinds.txt): one detection
// runs the worm rules and the Run-value scan for the infected file's path.
// The kinds and their outcomes are those of the native table
// (tests/unit/RegistryCleanupTest.cpp); here the real registry stores and
// converts them. This program checks that every listed value is what the
// hook meant to write and the lines of the cleanup; the check hook asks
// `reg query` which values are left.
#include <windows.h>

#include <string>
#include <vector>

#include "fixtures/InfectedFiles.h"
#include "scan/BinaryExamination.h"
#include "scan/ScanState.h"
#include "scan/SignatureRecord.h"
#include "scan/VirusHandler.h"
#include "wine/harness/Harness.h"
#include "wine/support/Win32TestSupport.h"

namespace {

const char kManifest[] = "C:\\run-kinds.txt";
const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kInfected[] = "D:\\Kinds\\evil.exe";
const char kRunValueLabel[] = "W32/MurkEl.Trojan";

struct Row {
    HKEY hive;
    std::string hiveName;
    std::string name;
    DWORD type;
    bool goes;
    std::string label;
    bool unterminated;  // written here: reg add always stores a terminator
};

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

DWORD TypeNamed(const std::string& name)
{
    const struct {
        const char* name;
        DWORD type;
    } types[] = {{"REG_SZ", REG_SZ}, {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_BINARY", REG_BINARY},
                 {"REG_DWORD", REG_DWORD}, {"REG_MULTI_SZ", REG_MULTI_SZ}};
    for (const auto& type : types) {
        if (name == type.name) return type.type;
    }
    return REG_NONE;
}

// The rows of the hook's list; false when it is missing or malformed.
bool ReadManifest(std::vector<Row>& rows)
{
    std::string text;
    if (!ReadWholeFile(kManifest, text)) return false;
    for (const std::string& line : Split(text, '\n')) {
        if (line.empty()) continue;
        const std::vector<std::string> f = Split(line, '|');
        if (f.size() < 5 || (f[0] != "HKLM" && f[0] != "HKCU") || TypeNamed(f[2]) == REG_NONE ||
            (f[3] != "goes" && f[3] != "stays")) {
            return false;
        }
        rows.push_back({f[0] == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, f[0], f[1], TypeNamed(f[2]),
                        f[3] == "goes", f[4], f.size() > 5 && f[5] == "unterminated"});
    }
    return !rows.empty();
}

std::string Describe(const Row& row)
{
    return row.hiveName + "\\...\\Run " + row.name;
}

// A string value without its terminator: the length given leaves it out,
// and the byte after the text is not zero (the system adds a terminator
// when the caller seems to have forgotten to count one).
bool WriteUnterminated(const Row& row, const std::string& text)
{
    HKEY key;
    if (RegCreateKeyExA(row.hive, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const std::string guarded = text + "#";
    bool written = RegSetValueExA(key, row.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(guarded.data()),
                                  static_cast<DWORD>(text.size())) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

// The value's type and its data as the program's code page gives it.
bool ReadValue(const Row& row, DWORD& type, std::string& data)
{
    HKEY key;
    if (RegOpenKeyExA(row.hive, kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    bool read = RegQueryValueExA(key, row.name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    if (read) {
        data.assign(size + 1, '\0');
        read = RegQueryValueExA(key, row.name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) ==
               ERROR_SUCCESS;
        data.resize(size);
    }
    RegCloseKey(key);
    return read;
}

std::string RegistryLine(const std::string& label)
{
    return "System Registry     " + label + " removed";
}

}  // namespace

WINE_TEST(RunValuesOfEveryKindGoOrStayAsTheNativeRowsSay)
{
    UseRealPlatform();
    std::vector<Row> rows;
    if (!ReadManifest(rows)) {
        ReportFailure(__FILE__, __LINE__, std::string("setup: no usable list of values in ") + kManifest);
        return;
    }
    for (const Row& row : rows) {
        if (row.unterminated && !WriteUnterminated(row, kInfected))
            ReportFailure(__FILE__, __LINE__, "setup: cannot write " + Describe(row));
        DWORD type = REG_NONE;
        std::string data;
        if (!ReadValue(row, type, data) || type != row.type) {
            ReportFailure(__FILE__, __LINE__, "setup: " + Describe(row) + " is missing or of type " +
                                                  std::to_string(type));
        } else if (row.unterminated && data != kInfected) {
            ReportFailure(__FILE__, __LINE__, "setup: " + Describe(row) + " is stored terminated: " +
                                                  DescribeValue(data));
        }
    }
    SetEnvironmentVariableA("QUELLOR_KINDS", "D:\\Kinds");
    SetEnvironmentVariableA("QUELLOR_HUGE", std::string(20000, 'z').c_str());
    SetEnvironmentVariableA("QUELLOR_EVIL_COMMAND", ("d:\\kinds\\evil.exe " + std::string(300, 'x')).c_str());
    CreateDirectoryA("D:\\Kinds", nullptr);
    CHECK(WriteWholeFile(kInfected, infected::SignaturePe(SignatureTable[2])));

    RecordedResults results;
    ResetScanGlobals();
    cleanAction = kActionDelete;
    ScanState.resultSink = reinterpret_cast<WindowRef>(MakeResultSink(results));
    CHECK(ScanState.resultSink != 0);
    CHECK_EQ(1, ExamineBinaryFile("W32/Bagle.Worm", kInfected));

    // The rules' lines in rule order (the order of the list), then one line
    // per Run value that starts the file, then the file's own line.
    std::vector<std::string> expected;
    int runValues = 0;
    for (const Row& row : rows) {
        if (!row.goes) continue;
        if (row.label == kRunValueLabel) ++runValues;
        else expected.push_back(RegistryLine(row.label));
    }
    CHECK(runValues > 0);
    expected.insert(expected.end(), static_cast<std::size_t>(runValues), RegistryLine(kRunValueLabel));
    expected.push_back(std::string(kInfected) + "     W32/Murkel.A.Trojan removed");
    const std::vector<std::string>& lines = results.lines;
    CHECK_EQ(expected.size(), lines.size());
    for (std::size_t i = 0; i < expected.size() || i < lines.size(); ++i) {
        CHECK_EQ(i < expected.size() ? expected[i] : std::string("(none)"),
                 i < lines.size() ? lines[i] : std::string("(none)"));
    }
    CHECK(!PathPresent(kInfected));
}
