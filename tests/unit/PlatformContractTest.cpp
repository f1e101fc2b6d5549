// The platform contract run against the in-memory fake. The same cases run
// under Wine against the real backend (tests/wine/platform_contract_test.cpp);
// a case failing here and passing there means the fake has drifted.
#include <gtest/gtest.h>

#include <ostream>

#include "contract/GoogleTestContractCheck.h"
#include "contract/PlatformContract.h"
#include "platform/HeadCachePlatform.h"
#include "platform/fake/FakePlatform.h"

// Names the case in GoogleTest's messages instead of dumping its bytes.
void PrintTo(const ContractCase& contractCase, std::ostream* out)
{
    *out << contractCase.name;
}

namespace {

class FakeContractWorld : public ContractWorld {
public:
    // `headCache`: the cases talk to the fake through the head cache the
    // programs put in front of their backends.
    explicit FakeContractWorld(bool wow64, bool headCache = false) : headCache_(fake_), cached_(headCache)
    {
        fake_.AddDrive('D', DriveFixed);
        fake_.AddFolder("D:\\contract");
        // 64-bit Windows as a 32-bit program finds it.
        fake_.wow64 = wow64;
        fake_.AddFile("C:\\WINDOWS\\system32\\kernel32.dll", "64");
        fake_.AddFile("C:\\WINDOWS\\SysWOW64\\kernel32.dll", "32");
        fake_.AddRegistryKey(kKeyLocalMachine, "Software\\Microsoft");
        fake_.AddRegistryKey(kKeyLocalMachine, "Software\\Wow6432Node\\Microsoft");
        fake_.AddFolder(fake_.commonDataFolder);
    }

    Platform& platform() override { return cached_ ? static_cast<Platform&>(headCache_) : fake_; }
    std::string Root() override { return "D:\\contract"; }
    std::string DriveRoot() override { return "D:\\"; }
    std::string UnmappedDriveRoot() override { return "Q:\\"; }

    void MakeFolder(const std::string& path) override { fake_.AddFolder(path); }
    void MakeFile(const std::string& path, const std::string& content, std::uint32_t attributes) override
    {
        fake_.AddFile(path, content, attributes);
    }
    // Listed under its name with '?' for every character beyond ASCII, and
    // reached through a short name of its own.
    bool MakeForeignNamedFile(const std::string& folder, const std::u16string& name,
                              const std::string& content) override
    {
        std::string listed;
        for (char16_t c : name) listed += c < 0x80 ? static_cast<char>(c) : '?';
        const std::string path = folder + "\\FOREI~" + std::to_string(++foreignFiles_);
        fake_.AddFile(path, content);
        fake_.SetAnsiLongName(path, listed);
        return true;
    }
    bool MakeFolderLink(const std::string& path, const std::string& target) override
    {
        fake_.AddLink(path, target, kReparseTagSymlink);
        return true;
    }
    void MakeRegistryString(KeyRef hive, const std::string& key, const std::string& name,
                            const std::string& text) override
    {
        fake_.SetRegistryString(hive, key, name, text);
    }
    void MakeRegistryKey(KeyRef hive, const std::string& key) override { fake_.AddRegistryKey(hive, key); }
    void PostToQueue(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        fake_.QueueMessage(message, wParam, lParam);
    }

    bool Exists(const std::string& path) override { return fake_.Exists(path); }
    bool ReadContent(const std::string& path, std::string& content) override
    {
        if (!fake_.Exists(path) || fake_.IsFolder(path)) return false;
        content = fake_.Content(path);
        return true;
    }
    std::uint32_t AttributesOf(const std::string& path) override
    {
        return fake_.Exists(path) ? fake_.Attributes(path) : 0xFFFFFFFFu;
    }

private:
    FakePlatform fake_;
    HeadCachePlatform headCache_;
    bool cached_;
    int foreignFiles_ = 0;
};

class PlatformContract : public ::testing::TestWithParam<ContractCase> {};

TEST_P(PlatformContract, HoldsForTheFake)
{
    FakeContractWorld world(false);
    GoogleTestContractCheck check;
    GetParam().run(world, check);
    if (check.skipped) GTEST_SKIP() << check.skipReason;
}

TEST_P(PlatformContract, HoldsForTheFakeBehindTheHeadCache)
{
    FakeContractWorld world(false, true);
    GoogleTestContractCheck check;
    GetParam().run(world, check);
    if (check.skipped) GTEST_SKIP() << check.skipReason;
}

TEST_P(PlatformContract, HoldsForTheFakeUnderWow64)
{
    FakeContractWorld world(true);
    GoogleTestContractCheck check;
    GetParam().run(world, check);
    if (check.skipped) GTEST_SKIP() << check.skipReason;
}

INSTANTIATE_TEST_SUITE_P(Fake, PlatformContract,
                         ::testing::ValuesIn(kPlatformContractCases,
                                             kPlatformContractCases + kPlatformContractCaseCount),
                         [](const ::testing::TestParamInfo<ContractCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(PlatformContractList, NamesAreUnique)
{
    for (std::size_t i = 0; i < kPlatformContractCaseCount; ++i) {
        for (std::size_t j = i + 1; j < kPlatformContractCaseCount; ++j) {
            EXPECT_STRNE(kPlatformContractCases[i].name, kPlatformContractCases[j].name);
        }
    }
}

}  // namespace
