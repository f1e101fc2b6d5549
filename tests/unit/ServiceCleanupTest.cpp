// StopService, DeleteServiceKeys and DeleteMachineKey on the fake platform:
// the states of a stop and its bounded wait, the six keys in their order
// and case, and that no key but a whole service key name is ever deleted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cleanup/ServiceCleanup.h"
#include "platform/fake/FakePlatform.h"

namespace {

const std::uint32_t kStopped = 1;
const std::uint32_t kStopPending = 3;
const std::uint32_t kRunning = 4;
// The stop wait as written in the service cleanup's rules: a poll a second,
// at most thirty of them.
const std::uint32_t kPollMs = 1000;
const std::uint32_t kPolls = 30;

class ServiceCleanupTest : public ::testing::Test {
protected:
    void SetUp() override { SetPlatform(&fake); }
    FakePlatform fake;
};

TEST_F(ServiceCleanupTest, StopServiceAnswersByTheStateTheStopEndsIn)
{
    struct Row {
        const char* name;
        bool managerFails;
        bool serviceExists;
        bool acceptsStop;
        std::vector<std::uint32_t> states;  // empty: every query fails
        std::int32_t result;
        std::size_t stopRequests;
        std::size_t queries;
        std::size_t waits;
        std::size_t answered = static_cast<std::size_t>(-1);  // queries answered before they fail
    };
    const Row rows[] = {
        {"stops at once", false, true, true, {kStopped}, 1, 1, 1, 0},
        {"stops after two pending polls", false, true, true, {kStopPending, kStopPending, kStopped}, 1, 1, 3, 2},
        {"stop refused", false, true, false, {kStopped}, 0, 1, 0, 0},
        {"still running", false, true, true, {kRunning}, 0, 1, 1, 0},
        {"status cannot be read", false, true, true, {}, 0, 1, 0, 0},
        {"pending, then the status cannot be read", false, true, true, {kStopPending}, 0, 1, 1, 1, 1},
        {"pending beyond the bound", false, true, true, {kStopPending}, 0, 1, kPolls + 1, kPolls},
        {"missing service", false, false, true, {kStopped}, 0, 0, 0, 0},
        {"no service manager", true, true, true, {kStopped}, 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform platform;
        SetPlatform(&platform);
        platform.serviceManagerFails = row.managerFails;
        if (row.serviceExists) {
            platform.services["FOO"] = FakePlatform::FakeService{row.acceptsStop, row.states, 0, row.answered};
        }

        EXPECT_EQ(row.result, StopService("Foo"));
        EXPECT_EQ(row.stopRequests, platform.stopRequests.size());
        if (row.serviceExists) {
            EXPECT_EQ(row.queries, platform.services["FOO"].queries);
        }
        EXPECT_EQ(std::vector<std::uint32_t>(row.waits, kPollMs), platform.waits);
        EXPECT_EQ(0, platform.OpenServiceCount());
        for (std::uint32_t access : platform.serviceAccess) EXPECT_EQ(0xF003Fu, access);
    }
    SetPlatform(&fake);
}

TEST_F(ServiceCleanupTest, StopServiceSucceedsWhenTheLastPollFindsItStopped)
{
    std::vector<std::uint32_t> states(kPolls, kStopPending);
    states.push_back(kStopped);
    fake.services["FOO"] = FakePlatform::FakeService{true, states, 0};
    EXPECT_EQ(1, StopService("Foo"));
    EXPECT_EQ(kPolls, fake.waits.size());
}

const char* const kFooKeys[] = {
    "SYSTEM\\ControlSet001\\Services\\Foo\\Enum",
    "SYSTEM\\ControlSet001\\Services\\Foo\\Security",
    "SYSTEM\\ControlSet001\\Services\\Foo",
    "SYSTEM\\CONTROLSET002\\SERVICES\\Foo\\Enum",
    "SYSTEM\\ControlSet002\\Services\\Foo\\Security",
    "SYSTEM\\ControlSet002\\Services\\Foo",
};

TEST_F(ServiceCleanupTest, TheSixKeysAreTriedInOrderEvenWhenTheFirstAreMissing)
{
    fake.AddRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet002\\Services\\Foo");
    fake.AddRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet002\\Services\\Other");

    EXPECT_EQ(1, DeleteServiceKeys("Foo"));
    EXPECT_EQ(std::vector<std::string>(std::begin(kFooKeys), std::end(kFooKeys)), fake.keyDeletionRequests);
    EXPECT_FALSE(fake.HasRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet002\\Services\\Foo"));
    EXPECT_TRUE(fake.HasRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet002\\Services\\Other"));
}

TEST_F(ServiceCleanupTest, SubkeysGoFirstSoTheServiceKeysCanGo)
{
    for (const char* key : kFooKeys) fake.AddRegistryKey(kKeyLocalMachine, key);
    fake.AddRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet001\\Services\\Foo\\Parameters");

    EXPECT_EQ(1, DeleteServiceKeys("Foo"));
    // A subkey the list does not name keeps the first set's key in place.
    EXPECT_TRUE(fake.HasRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet001\\Services\\Foo\\Parameters"));
    EXPECT_FALSE(fake.HasRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet001\\Services\\Foo\\Enum"));
    EXPECT_FALSE(fake.HasRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet002\\Services\\Foo"));
    EXPECT_TRUE(fake.HasRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet002\\Services"));
}

TEST_F(ServiceCleanupTest, NothingDeletedAnswersZero)
{
    EXPECT_EQ(0, DeleteServiceKeys("Foo"));
    EXPECT_EQ(6u, fake.keyDeletionRequests.size());
}

TEST_F(ServiceCleanupTest, OnlyWholeServiceKeyNamesAreDeleted)
{
    fake.AddRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet001\\Services\\Enum");
    fake.AddRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet002\\Services");

    // Without a name the keys would be the Services key and its neighbours.
    EXPECT_EQ(0, DeleteServiceKeys(""));
    // A name that does not fit the key buffer with its prefix and suffix is
    // not cut to fit, for a cut name is another key's.
    const std::string longName(512 - 30 - 5, 'N');
    fake.AddRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet001\\Services\\" + longName);
    EXPECT_EQ(1, DeleteServiceKeys(longName.c_str()));
    EXPECT_EQ((std::vector<std::string>{"SYSTEM\\ControlSet001\\Services\\" + longName,
                                        "SYSTEM\\ControlSet002\\Services\\" + longName}),
              fake.keyDeletionRequests);
    EXPECT_TRUE(fake.HasRegistryKey(kKeyLocalMachine, "SYSTEM\\ControlSet001\\Services\\Enum"));
}

TEST_F(ServiceCleanupTest, DeleteMachineKeyDeletesOneKeyUnderTheMachineHive)
{
    fake.AddRegistryKey(kKeyLocalMachine, "SOFTWARE\\A\\B");
    fake.AddRegistryKey(kKeyCurrentUser, "SOFTWARE\\A\\C");
    EXPECT_EQ(0, DeleteMachineKey("SOFTWARE\\A"));  // has a subkey
    EXPECT_EQ(0, DeleteMachineKey("SOFTWARE\\A\\C"));
    EXPECT_EQ(1, DeleteMachineKey("SOFTWARE\\A\\B"));
    EXPECT_FALSE(fake.HasRegistryKey(kKeyLocalMachine, "SOFTWARE\\A\\B"));
    EXPECT_TRUE(fake.HasRegistryKey(kKeyCurrentUser, "SOFTWARE\\A\\C"));
}

}  // namespace
