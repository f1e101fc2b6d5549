// Cases that hold for every backend of the Platform interface. The same
// cases run natively against FakePlatform (tests/unit/PlatformContractTest.cpp)
// and PosixPlatform (tests/console/PosixContractTest.cpp), both GoogleTest,
// and under Wine against Win32Platform (tests/wine/platform_contract_test.cpp,
// the lean harness), so the fake the engine's tests rely on and the console
// scanner's backend keep behaving like the real system.
//
// This file and PlatformContract.cpp are portable: no Windows header, no test
// framework. Each adapter supplies a ContractWorld (how to prepare and inspect
// files, keys and the message queue without going through the Platform under
// test) and a ContractCheck (where failures go).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Platform.h"

// Known ways a test environment departs from Windows. A world reports the
// ones that apply to it; the cases concerned then skip only the assertions
// that the environment cannot honour.
enum ContractQuirk : unsigned {
    // The read-only attribute does not stop opening a file for writing or
    // copying over it. Wine keeps the attribute as the Unix file mode, which
    // does not stop root; Windows refuses with ERROR_ACCESS_DENIED.
    kQuirkReadOnlyDoesNotStopWriters = 1u << 0,
    // Names that differ only in case are different names (POSIX file
    // systems); Windows compares them without regard to case.
    kQuirkCaseSensitiveNames = 1u << 1,
    // The system has no all-users application data folder (not Windows).
    kQuirkNoCommonDataFolder = 1u << 2
};

struct ContractWorld {
    virtual ~ContractWorld() {}

    virtual Platform& platform() = 0;

    // An existing empty folder on a fixed drive, without a trailing
    // backslash, such as "D:\\contract". Each case works in a subfolder of
    // its own, named after the case.
    virtual std::string Root() = 0;
    // The root of the drive that holds Root(), such as "D:\\".
    virtual std::string DriveRoot() = 0;
    // The root of a drive letter that nothing is mapped to, such as "Q:\\".
    virtual std::string UnmappedDriveRoot() = 0;

    // Preparation, done without the Platform under test.
    virtual void MakeFolder(const std::string& path) = 0;
    // Creates or replaces the file, then gives it `attributes`.
    virtual void MakeFile(const std::string& path, const std::string& content, std::uint32_t attributes) = 0;
    // Creates the key (and its parents) under `hive` and sets a REG_SZ value.
    virtual void MakeRegistryString(KeyRef hive, const std::string& key, const std::string& name,
                                    const std::string& text) = 0;
    virtual void MakeRegistryKey(KeyRef hive, const std::string& key) = 0;
    // Creates, in `folder`, a file whose long name (UTF-16) the ANSI code
    // page cannot spell exactly. False when names here have no code page
    // (bytes taken as they are); the cases concerned then skip.
    virtual bool MakeForeignNamedFile(const std::string& folder, const std::u16string& name,
                                      const std::string& content)
    {
        (void)folder;
        (void)name;
        (void)content;
        return false;
    }
    // Makes `path` a symbolic link to the folder `target` (which need not
    // exist). False when this world cannot make one; the cases concerned
    // then skip.
    virtual bool MakeFolderLink(const std::string& path, const std::string& target)
    {
        (void)path;
        (void)target;
        return false;
    }
    // Puts a message in the calling thread's queue.
    virtual void PostToQueue(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;

    // Inspection, done without the Platform under test.
    virtual bool Exists(const std::string& path) = 0;
    // False when the file is missing or cannot be read.
    virtual bool ReadContent(const std::string& path, std::string& content) = 0;
    // The attribute bits; 0xFFFFFFFF when the path is missing.
    virtual std::uint32_t AttributesOf(const std::string& path) = 0;

    // ContractQuirk bits of this environment.
    virtual unsigned Quirks() { return 0; }
};

struct ContractCheck {
    virtual ~ContractCheck() {}
    virtual void Fail(const char* file, int line, const std::string& what) = 0;
    // The rest of the case does not apply to this backend, or this
    // environment cannot show it; the adapter reports the case as skipped
    // with the reason, never as passed.
    virtual void Skip(const std::string& reason) = 0;
};

struct ContractCase {
    const char* name;  // a C identifier, so test frameworks can use it as is
    void (*run)(ContractWorld& world, ContractCheck& check);
};

extern const ContractCase kPlatformContractCases[];
extern const std::size_t kPlatformContractCaseCount;

// The registry key under HKEY_CURRENT_USER that the cases use; a world may
// remove it before a run.
extern const char* const kContractRegistryKey;
