// The platform contract run against the real backend under Wine. The same
// cases run natively against the fake (tests/unit/PlatformContractTest.cpp).
// The scripts map drive D: to an empty scratch folder for this program; the
// world works in D:\contract and in HKEY_CURRENT_USER\Software\QuellorContract.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "contract/PlatformContract.h"
#include "platform/HeadCachePlatform.h"
#include "platform/win32/Win32Platform.h"
#include "wine/harness/Harness.h"
#include "wine/support/Win32TestSupport.h"

namespace {

// Removes a key and everything below it (RegDeleteKeyA on the NT family
// refuses keys that still have subkeys).
void DeleteKeyTree(HKEY parent, const std::string& subkey)
{
    HKEY key;
    if (RegOpenKeyExA(parent, subkey.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    for (;;) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DeleteKeyTree(key, name);
    }
    RegCloseKey(key);
    RegDeleteKeyA(parent, subkey.c_str());
}

// Whether this file system lets a writer open a read-only file. Windows
// never does; Wine keeps the attribute as the Unix file mode, which does not
// stop root, and the tests run as root. Asked with plain Win32 calls, not
// through the backend under test.
bool ReadOnlyStopsWriters(const std::string& folder)
{
    const std::string probe = folder + "\\readonly.probe";
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    CloseHandle(file);
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY);
    file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool stopped = file == INVALID_HANDLE_VALUE;
    if (!stopped) CloseHandle(file);
    SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(probe.c_str());
    return stopped;
}

class Win32ContractWorld : public ContractWorld {
public:
    // `headCache`: the cases talk to the backend through the head cache the
    // programs put in front of it.
    explicit Win32ContractWorld(bool headCache = false) : headCache_(platform_), cached_(headCache)
    {
        CreateDirectoryA(Root().c_str(), nullptr);
        readOnlyStopsWriters_ = ReadOnlyStopsWriters(Root());
        DeleteKeyTree(HKEY_CURRENT_USER, kContractRegistryKey);
        // A thread has a message queue once it has called into user32.
        MSG msg;
        PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    }

    // What went wrong while preparing; a case with setup failures fails.
    std::vector<std::string> setupFailures;

    Platform& platform() override { return cached_ ? static_cast<Platform&>(headCache_) : platform_; }
    // Each pass works in a folder of its own (the cases expect a fresh one),
    // named in 8.3 form as the cases need.
    std::string Root() override { return cached_ ? "D:\\headcach" : "D:\\contract"; }
    std::string DriveRoot() override { return "D:\\"; }
    std::string UnmappedDriveRoot() override
    {
        DWORD drives = GetLogicalDrives();
        for (char letter = 'Q'; letter <= 'Z'; ++letter) {
            if (!(drives & (1u << (letter - 'A')))) return std::string(1, letter) + ":\\";
        }
        return "B:\\";
    }

    void MakeFolder(const std::string& path) override
    {
        if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            Failed("CreateDirectoryA", path);
    }

    void MakeFile(const std::string& path, const std::string& content, std::uint32_t attributes) override
    {
        // The attributes are set even when they are 0 (a plain file).
        if (!WriteWholeFile(path, content)) {
            Failed("WriteWholeFile", path);
            return;
        }
        if (!SetFileAttributesA(path.c_str(), attributes)) Failed("SetFileAttributesA", path);
    }

    bool MakeForeignNamedFile(const std::string& folder, const std::u16string& name,
                              const std::string& content) override
    {
        wchar_t path[MAX_PATH] = L"";
        MultiByteToWideChar(CP_ACP, 0, (folder + "\\").c_str(), -1, path, MAX_PATH);
        const std::wstring wide = path + std::wstring(name.begin(), name.end());
        HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        DWORD written = 0;
        if (file == INVALID_HANDLE_VALUE ||
            !WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr)) {
            Failed("CreateFileW", folder + "\\" + content);
        }
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return true;
    }

    void MakeRegistryString(KeyRef hive, const std::string& key, const std::string& name,
                            const std::string& text) override
    {
        HKEY created;
        if (RegCreateKeyExA(reinterpret_cast<HKEY>(hive), key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &created, nullptr) != ERROR_SUCCESS) {
            Failed("RegCreateKeyExA", key);
            return;
        }
        if (RegSetValueExA(created, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS)
            Failed("RegSetValueExA", key + "\\" + name);
        RegCloseKey(created);
    }

    void MakeRegistryKey(KeyRef hive, const std::string& key) override
    {
        HKEY created;
        if (RegCreateKeyExA(reinterpret_cast<HKEY>(hive), key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &created, nullptr) != ERROR_SUCCESS) {
            Failed("RegCreateKeyExA", key);
            return;
        }
        RegCloseKey(created);
    }

    void PostToQueue(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        if (!PostThreadMessageA(GetCurrentThreadId(), message, wParam, lParam))
            Failed("PostThreadMessageA", std::to_string(message));
    }

    bool Exists(const std::string& path) override { return PathPresent(path); }

    bool ReadContent(const std::string& path, std::string& content) override { return ReadWholeFile(path, content); }

    std::uint32_t AttributesOf(const std::string& path) override
    {
        return GetFileAttributesA(path.c_str());
    }

    unsigned Quirks() override
    {
        return readOnlyStopsWriters_ ? 0u : kQuirkReadOnlyDoesNotStopWriters;
    }

private:
    void Failed(const char* call, const std::string& what)
    {
        setupFailures.push_back(std::string(call) + " failed for " + what + " (error " +
                                std::to_string(GetLastError()) + ")");
    }

    Win32Platform platform_;
    HeadCachePlatform headCache_;
    bool cached_;
    bool readOnlyStopsWriters_;
};

// Cases that the real system under Wine shows in full: a skip there would
// hide the very behaviour the case pins, so it fails.
const char* const kCasesThatMustRun[] = {"OpeningUnknownServiceFails"};

bool MustRun(const char* caseName)
{
    for (const char* name : kCasesThatMustRun) {
        if (std::strcmp(name, caseName) == 0) return true;
    }
    return false;
}

class HarnessCheck : public ContractCheck {
public:
    explicit HarnessCheck(const char* caseName) : caseName_(caseName) {}
    void Fail(const char* file, int line, const std::string& what) override
    {
        ReportFailure(file, line, std::string(caseName_) + ": " + what);
    }
    void Skip(const std::string& reason) override
    {
        if (MustRun(caseName_)) {
            ReportFailure(__FILE__, __LINE__, std::string(caseName_) + ": must run against Win32, skipped: " + reason);
        } else {
            ReportSkip(std::string(caseName_) + ": " + reason);
        }
    }

private:
    const char* caseName_;
};

void RunContract(bool headCache)
{
    Win32ContractWorld world(headCache);
    CHECK(kPlatformContractCaseCount > 0);
    for (std::size_t i = 0; i < kPlatformContractCaseCount; ++i) {
        const ContractCase& contractCase = kPlatformContractCases[i];
        std::printf("  case %s\n", contractCase.name);
        std::fflush(stdout);
        world.setupFailures.clear();
        HarnessCheck check(contractCase.name);
        contractCase.run(world, check);
        for (const std::string& failure : world.setupFailures)
            ReportFailure(__FILE__, __LINE__, std::string(contractCase.name) + ": setup: " + failure);
    }
}

}  // namespace

WINE_TEST(PlatformContractHoldsForWin32)
{
    RunContract(false);
}

WINE_TEST(PlatformContractHoldsForWin32BehindTheHeadCache)
{
    RunContract(true);
}
