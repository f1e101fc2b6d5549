// The readers of the perflib "Counters" strings and of the process object's
// performance-data block, on recorded data built by the tests: what a
// well-formed block yields, and that every cut or lying block yields an
// empty table rather than a read outside the buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cleanup/PerformanceData.h"
#include "fixtures/PerfDataBlocks.h"
#include "platform/fake/FakePlatform.h"

namespace {

using perfdata::Instance;
using perfdata::Wide;

class PerformanceDataTest : public ::testing::Test {
protected:
    void SetUp() override { SetPlatform(&fake); }

    // Reads `bytes` from a buffer of exactly their size, so that the address
    // sanitizer sees any read past the end.
    std::uint32_t Read(const std::string& bytes, std::uint32_t idIndex = perfdata::kIdProcessIndex)
    {
        std::vector<unsigned char> exact(bytes.begin(), bytes.end());
        return ReadPerfProcessTable(exact.empty() ? nullptr : exact.data(), exact.size(), idIndex, table);
    }

    std::string NameOf(std::size_t i) const
    {
        return std::string(table[i].name, strnlen(table[i].name, sizeof table[i].name));
    }

    FakePlatform fake;
    PerfProcessEntry table[kPerfProcessTableSize];
};

TEST_F(PerformanceDataTest, CounterIndexesComeFromTheStringBeforeEachName)
{
    struct Row {
        const char* name;
        std::string value;
        bool found;
        const char* objectText;
        std::uint32_t idIndex;
    };
    using perfdata::CountersValue;
    const Row rows[] = {
        {"a system's list", perfdata::StandardCounters(), true, "230", 784},
        {"names in any case", CountersValue({"230", "PROCESS", "784", "id PROCESS"}), true, "230", 784},
        {"later names replace earlier ones", CountersValue({"230", "Process", "784", "ID Process", "9230", "process",
                                                            "9784", "ID Process"}),
         true, "9230", 9784},
        {"no final empty string", CountersValue({"230", "Process", "784", "ID Process"}, false), true, "230", 784},
        {"the list ends at its empty string", CountersValue({"230", "Process", "", "784", "ID Process"}), false, "230",
         0},
        {"no ID Process", CountersValue({"230", "Process", "786", "Process Address Space"}), false, "230", 0},
        {"no Process", CountersValue({"784", "ID Process", "231", "Processes"}), false, "", 784},
        {"a name cut by the end", CountersValue({"230", "Process", "784", "ID Proc"}, false), false, "230", 0},
        {"the trailing digits of the string before", CountersValue({"x230", "Process", "index 784", "ID Process"}),
         true, "230", 784},
        {"a string before without digits", CountersValue({"Process", "Process", "784", "ID Process"}), false, "", 784},
        {"a name with nothing before", CountersValue({"Process", "784", "ID Process"}), false, "", 784},
        {"an index beyond 32 bits", CountersValue({"230", "Process", "4294967296", "ID Process"}), false, "230", 0},
        {"empty", std::string(), false, "", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<char> exact(row.value.begin(), row.value.end());
        CounterIndexes indexes;
        EXPECT_EQ(row.found, ReadCounterIndexes(exact.data(), exact.size(), indexes));
        EXPECT_STREQ(row.objectText, indexes.objectIndexText);
        EXPECT_EQ(row.idIndex, indexes.idProcessIndex);
    }
}

TEST_F(PerformanceDataTest, EachInstanceGivesItsNameAndProcessId)
{
    const std::vector<Instance> instances = {
        {Wide("Idle"), 0},
        {Wide("System"), 4},
        {Wide("svchost"), 880},
        {Wide("svchost#1"), 1012},
        {Wide("sixteen-chars-ab"), 20},   // 16 characters: kept, unterminated
        {Wide("seventeen-chars-a"), 24},  // 17: left empty
        {Wide(""), 28},
    };
    ASSERT_EQ(instances.size(), Read(perfdata::ProcessBlock(instances)));
    const char* const names[] = {"Idle", "System", "svchost", "svchost#1", "sixteen-chars-ab", "", ""};
    const std::uint32_t ids[] = {kPerfIdleProcessId, 4, 880, 1012, 20, 24, 28};
    for (std::size_t i = 0; i < instances.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(names[i], NameOf(i));
        EXPECT_EQ(ids[i], table[i].processId);
    }
    for (std::size_t i = instances.size(); i < kPerfProcessTableSize; ++i) EXPECT_EQ(0u, table[i].processId);
}

TEST_F(PerformanceDataTest, ANameThatCannotBeConvertedIsUnknown)
{
    // Converted into 260 bytes with its terminator, a name of 260 characters
    // does not fit.
    const std::vector<Instance> instances = {{std::u16string(260, u'x'), 8}, {std::u16string(259, u'y'), 12},
                                             {Wide("after"), 16}};
    ASSERT_EQ(3u, Read(perfdata::ProcessBlock(instances)));
    EXPECT_EQ("unknown", NameOf(0));
    EXPECT_EQ(8u, table[0].processId);
    EXPECT_EQ("", NameOf(1));  // converted, but longer than 16
    EXPECT_EQ("after", NameOf(2));
    EXPECT_EQ(16u, table[2].processId);
}

TEST_F(PerformanceDataTest, AtMost254InstancesAreRead)
{
    std::vector<Instance> instances;
    for (std::uint32_t i = 0; i < 300; ++i) instances.push_back({Wide("p" + std::to_string(i)), 1000 + 4 * i});
    ASSERT_EQ(254u, Read(perfdata::ProcessBlock(instances)));
    EXPECT_EQ("p253", NameOf(253));
    EXPECT_EQ(1000u + 4 * 253, table[253].processId);
    EXPECT_EQ(0u, table[254].processId);
    EXPECT_EQ("", NameOf(254));
}

TEST_F(PerformanceDataTest, EveryCutOfABlockGivesAnEmptyTable)
{
    const std::vector<Instance> instances = {{Wide("System"), 4}, {Wide("smss"), 8}, {Wide("winlogon"), 12}};
    const std::string block = perfdata::ProcessBlock(instances);
    ASSERT_EQ(3u, Read(block));
    for (std::size_t length = 0; length < block.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_EQ(0u, Read(block.substr(0, length)));
        for (const PerfProcessEntry& entry : table) {
            ASSERT_EQ(0u, entry.processId);
            ASSERT_EQ('\0', entry.name[0]);
        }
    }
}

TEST_F(PerformanceDataTest, ABlockThatLiesAboutItsLayoutGivesAnEmptyTable)
{
    using fixturebytes::SetLe32;
    const std::vector<Instance> instances = {{Wide("System"), 4}, {Wide("smss"), 8}};
    const std::size_t first = perfdata::InstanceAt(instances, 0);
    const std::size_t second = perfdata::InstanceAt(instances, 1);
    const std::size_t firstCounters = second - perfdata::kCounterBlockSize;
    struct Row {
        const char* name;
        std::size_t at;
        std::uint32_t value;
    };
    const Row rows[] = {
        {"signature not PERF", 0, 'X'},
        {"object beyond the block", 24, 0x7FFFFFF0u},
        {"object header length beyond the block", perfdata::kObjectAt + 8, 0xFFFFFFF0u},
        {"no instances at the definition length", perfdata::kObjectAt + 4, 0xFFFFFF00u},
        {"more instances than the block holds", perfdata::kObjectAt + 40, 3},
        {"no instances at all (PERF_NO_INSTANCES)", perfdata::kObjectAt + 40, 0xFFFFFFFFu},
        {"instance longer than the block", first, 0x10000},
        {"instance shorter than its fixed part", first, 8},
        {"name beyond its instance", first + 16, 0x1000},
        {"name offset wrapping", first + 16, 0xFFFFFFFEu},
        {"counter block longer than the block", firstCounters, 0x7FFFFFFFu},
        {"counter block too short for the identifier", firstCounters, 16},
        {"identifier counter beyond its block", perfdata::kObjectAt + perfdata::kObjectHeaderSize + 40 + 36, 0xFFFFFFFCu},
    };
    const std::string good = perfdata::ProcessBlock(instances);
    ASSERT_EQ(2u, Read(good));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string block = good;
        SetLe32(block, row.at, row.value);
        EXPECT_EQ(0u, Read(block));
        EXPECT_EQ(0u, table[0].processId);
    }

    // A name whose terminator is missing runs into the counter block and on
    // to the end of the buffer.
    std::string unterminated = perfdata::ProcessBlock({{Wide("System"), 4}});
    for (std::size_t at = perfdata::InstanceAt(instances, 0) + 24; at < unterminated.size(); ++at) {
        if (unterminated[at] == '\0') unterminated[at] = 'z';
    }
    EXPECT_EQ(0u, Read(unterminated));
}

TEST_F(PerformanceDataTest, WithoutTheIdProcessCounterTheTableIsEmpty)
{
    const std::string block = perfdata::ProcessBlock({{Wide("System"), 4}});
    EXPECT_EQ(0u, Read(block, 785));
    EXPECT_EQ(1u, Read(block, perfdata::kIdProcessIndex));

    // The search for it stops at the end of the buffer, whatever the count.
    std::string lying = block;
    fixturebytes::SetLe32(lying, perfdata::kObjectAt + 32, 0xFFFFFFFFu);
    EXPECT_EQ(0u, Read(lying, 785));
    EXPECT_EQ(1u, Read(lying, perfdata::kIdProcessIndex));  // found before the count runs out
}

TEST_F(PerformanceDataTest, AnInstanceNamesAnImageByItsWholeNameOrNumberedCopy)
{
    struct Row {
        const char* name;
        const char* target;
        bool matches;
    };
    const Row rows[] = {
        {"svchost", "SVCHOST", true},
        {"SvcHost", "svchost", true},
        {"svchost#1", "SVCHOST", true},
        {"svchost#12", "SVCHOST", true},
        {"svchost#", "SVCHOST", false},
        {"svchost#1a", "SVCHOST", false},
        {"svchost1", "SVCHOST", false},
        {"svchostx", "SVCHOST", false},
        {"svc", "SVCHOST", false},
        {"abc", "A", false},
        {"a", "A", true},
        {"smss", "S", false},
        {"services", "S", false},
        {"", "A", false},
        {"a", "", false},
        {"sixteen-chars-ab", "SIXTEEN-CHARS-AB", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " / " + row.target);
        PerfProcessEntry entry = {};
        std::memcpy(entry.name, row.name, std::strlen(row.name));
        EXPECT_EQ(row.matches, InstanceNameMatches(entry, row.target));
    }
}

}  // namespace
