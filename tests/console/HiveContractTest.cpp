// The platform contract run against the hive backend: the registry cases
// reach hives the test makes (an NTUSER.DAT for kKeyCurrentUser, SOFTWARE
// and SYSTEM for the machine), every other case passes through to the POSIX
// backend beneath it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/PosixContractWorld.h"
#include "console/TempFolder.h"
#include "contract/GoogleTestContractCheck.h"
#include "contract/PlatformContract.h"
#include "fixtures/HiveMaker.h"
#include "platform/hive/HivePlatform.h"

namespace {

class HiveContractWorld : public PosixContractWorld {
public:
    HiveContractWorld() : hive_(PosixContractWorld::platform()) {}

    // The hives are made when the case first asks for the platform, with
    // everything it prepared until then.
    Platform& platform() override
    {
        if (!mounted_) Mount();
        return hive_;
    }

    void MakeRegistryString(KeyRef hive, const std::string& key, const std::string& name,
                            const std::string& text) override
    {
        Prepared(hive).push_back(HiveKeyDraft{key, {HiveSz(name, text)}});
    }
    void MakeRegistryKey(KeyRef hive, const std::string& key) override { Prepared(hive).push_back(HiveKeyDraft{key, {}}); }

private:
    // The keys for `hive`; the machine's are those of SOFTWARE.
    std::vector<HiveKeyDraft>& Prepared(KeyRef hive)
    {
        EXPECT_FALSE(mounted_) << "the hives are made already: prepare keys before using the platform";
        return hive == kKeyCurrentUser ? user_ : software_;
    }

    void Mount()
    {
        mounted_ = true;
        std::vector<HiveKeyDraft> software;
        for (HiveKeyDraft key : software_) {
            // The cases name machine keys from HKEY_LOCAL_MACHINE.
            const std::string prefix = "Software\\";
            if (key.path.compare(0, prefix.size(), prefix) == 0) key.path = key.path.substr(prefix.size());
            software.push_back(key);
        }
        const std::vector<HiveKeyDraft> system = {{"Select", {HiveDword("Current", 1)}}, {"ControlSet001", {}}};
        std::string error;
        const std::string softwarePath = temp_ / "SOFTWARE";
        const std::string systemPath = temp_ / "SYSTEM";
        const std::string userPath = temp_ / "NTUSER.DAT";
        ASSERT_TRUE(MakeHive(softwarePath, software, error)) << error;
        ASSERT_TRUE(MakeHive(systemPath, system, error)) << error;
        ASSERT_TRUE(MakeHive(userPath, user_, error)) << error;
        std::vector<std::string> problems;
        hive_.MountMachine(softwarePath, systemPath, problems);
        hive_.AddUser(userPath, "C:\\Users\\contract", problems);
        hive_.AllowChanges(true);
        EXPECT_TRUE(problems.empty()) << problems.front();
    }

    TempFolder temp_;
    HivePlatform hive_;
    bool mounted_ = false;
    std::vector<HiveKeyDraft> user_;
    std::vector<HiveKeyDraft> software_;
};

class HiveContract : public ::testing::TestWithParam<ContractCase> {};

TEST_P(HiveContract, HoldsForHives)
{
    if (const char* why = WhyNotApplying(kPosixFilesNotApplying, GetParam().name)) GTEST_SKIP() << why;
    HiveContractWorld world;
    GoogleTestContractCheck check;
    GetParam().run(world, check);
    if (check.skipped) GTEST_SKIP() << check.skipReason;
    EXPECT_TRUE(static_cast<HivePlatform&>(world.platform()).TakeProblems().empty());
}

INSTANTIATE_TEST_SUITE_P(Hive, HiveContract,
                         ::testing::ValuesIn(kPlatformContractCases,
                                             kPlatformContractCases + kPlatformContractCaseCount),
                         [](const ::testing::TestParamInfo<ContractCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
