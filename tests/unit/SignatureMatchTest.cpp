// SizeRuleAccepts, MatchSignatureTable and MatchArchiveWormTable against
// the compiled-in tables, with PE and ZIP-like files built in code that
// carry the patterns of chosen records at chosen places.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "PeFixture.h"
#include "platform/fake/FakePlatform.h"
#include "scan/PeLayout.h"
#include "scan/SignatureMatch.h"

namespace {

using pefixture::PeFile;
using pefixture::PutPattern;

// Rows of the signature table used below (0-based indexes).
const std::int32_t kRowExact = 0;    // W32/Murkel.D.Trojan, 95,736 bytes exactly
const std::int32_t kRowNear = 1;     // the same patterns, 43,028 +- 4,095 bytes
const std::int32_t kRowUnpacker = 2; // W32/Murkel.A.Trojan, 44,532 bytes, offsets 24 and -27,043
const std::int32_t kRowDownloader = 5;  // 203,380 bytes, offsets -70,592 and -153,200
const std::int32_t kRowLast = 447;   // 899,762 bytes, offsets -268,491 and 400

// Rows of the archived-worm table.
const std::int32_t kWormC = 0;  // 2304 / 10944, any size
const std::int32_t kWormD = 1;  // 2560 / 11264, any size
const std::int32_t kWormJ = 6;  // 816 / 1536, any size
const std::int32_t kWormN = 7;  // 800 / 18128, 21,922 +- 4,095
const std::int32_t kWormO = 8;  // 832 / 18176, 44,444 +- 4,095

const SignatureRecord& Sig(std::int32_t row)
{
    return SignatureTable[row];
}

const SignatureRecord& Worm(std::int32_t row)
{
    return ArchiveWormTable[row];
}

// The entry-point-relative positions of a record in a file without
// sections (plain addresses).
std::size_t First(std::int32_t row, std::uint32_t entry)
{
    return static_cast<std::uint32_t>(entry + static_cast<std::uint32_t>(Sig(row).offset1));
}

std::size_t Second(std::int32_t row, std::uint32_t entry)
{
    return static_cast<std::uint32_t>(entry + static_cast<std::uint32_t>(Sig(row).offset2));
}

// A PE file without sections, with both patterns of `row` at their plain
// positions for the entry point `entry`.
std::string PlainPe(std::size_t length, std::uint32_t entry, std::int32_t row)
{
    PeFile pe;
    pe.length = length;
    pe.entryPoint = entry;
    std::string bytes = pe.Build();
    PutPattern(bytes, First(row, entry), Sig(row).pattern1);
    PutPattern(bytes, Second(row, entry), Sig(row).pattern2);
    return bytes;
}

std::string Cut(std::string bytes, std::size_t length)
{
    bytes.resize(length);
    return bytes;
}

std::string Flip(std::string bytes, std::size_t at)
{
    bytes.at(at) = static_cast<char>(bytes.at(at) ^ 0x01);
    return bytes;
}

struct MatchRow {
    const char* what;
    std::string bytes;
    std::int32_t expected;
};

class SignatureMatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetPlatform(&fake);
        fake.AddDrive('C', DriveFixed);
    }

    // Runs the examination's calling order on `bytes`: header, sections,
    // then the signature table.
    std::int32_t MatchPe(const std::string& bytes)
    {
        FileRef file = pefixture::OpenSample(fake, bytes);
        EXPECT_NE(kNoFile, file);
        PeLayout layout;
        bool readable = ReadPeHeader(file, layout);
        EXPECT_TRUE(readable) << "fixture is not a PE file";
        if (readable) readable = ReadPeSections(file, layout);
        EXPECT_TRUE(readable) << "fixture's sections cannot be read";
        std::int32_t hit = readable ? MatchSignatureTable(file, Sys().FileLength(file), layout) : kNoRecord;
        Sys().CloseFile(file);
        return hit;
    }

    std::int32_t MatchArchive(const std::string& bytes)
    {
        FileRef file = pefixture::OpenSample(fake, bytes);
        EXPECT_NE(kNoFile, file);
        std::int32_t hit = MatchArchiveWormTable(file, Sys().FileLength(file));
        Sys().CloseFile(file);
        return hit;
    }

    void ExpectPeRows(const std::vector<MatchRow>& rows)
    {
        for (const MatchRow& row : rows) {
            SCOPED_TRACE(row.what);
            EXPECT_EQ(row.expected, MatchPe(row.bytes));
        }
    }

    void ExpectArchiveRows(const std::vector<MatchRow>& rows)
    {
        for (const MatchRow& row : rows) {
            SCOPED_TRACE(row.what);
            EXPECT_EQ(row.expected, MatchArchive(row.bytes));
        }
    }

    FakePlatform fake;
};

struct SizeRow {
    const char* what;
    std::int32_t sizeRule;
    std::int32_t fileSize;
    std::int32_t length;
    bool accepted;
};

TEST(SizeRuleAcceptsTest, Rules)
{
    const SizeRow rows[] = {
        {"exact: equal", SizeExact, 95736, 95736, true},
        {"exact: one less", SizeExact, 95736, 95735, false},
        {"exact: one more", SizeExact, 95736, 95737, false},
        {"near: equal", SizeNear, 43028, 43028, true},
        {"near: 4,095 longer", SizeNear, 43028, 43028 + 4095, true},
        {"near: 4,096 longer", SizeNear, 43028, 43028 + 4096, false},
        {"near: 4,095 shorter", SizeNear, 43028, 43028 - 4095, true},
        {"near: 4,096 shorter", SizeNear, 43028, 43028 - 4096, false},
        {"near: extremes do not overflow", SizeNear, INT_MIN, INT_MAX, false},
        {"near: extremes the other way", SizeNear, INT_MAX, INT_MIN, false},
        {"near: at the top of the range", SizeNear, INT_MAX, INT_MAX - 4095, true},
        {"any: empty file", SizeAny, 22, 0, true},
        {"any: large file", SizeAny, 22, 10000000, true},
        {"rule 0 never", 0, 1000, 1000, false},
        {"rule 4 never", 4, 1000, 1000, false},
        {"rule -1 never", -1, 1000, 1000, false},
    };
    for (const SizeRow& row : rows) {
        SCOPED_TRACE(row.what);
        SignatureRecord record = SignatureRecord();
        record.fileSize = row.fileSize;
        record.sizeRule = row.sizeRule;
        EXPECT_EQ(row.accepted, SizeRuleAccepts(record, row.length));
    }
}

TEST_F(SignatureMatchTest, RowsOneAndTwoShareTheirPatternsAndDifferInTheSizeTest)
{
    const std::uint32_t entry = 38000;
    const std::vector<MatchRow> rows = {
        {"95,736 bytes: the exact record", PlainPe(95736, 40000, kRowExact), kRowExact},
        {"40,000 bytes: the near record", PlainPe(40000, entry, kRowNear), kRowNear},
        {"43,028 bytes", PlainPe(43028, entry, kRowNear), kRowNear},
        {"43,028 + 4,095 bytes", PlainPe(43028 + 4095, entry, kRowNear), kRowNear},
        {"43,028 + 4,096 bytes", PlainPe(43028 + 4096, entry, kRowNear), kNoRecord},
        {"43,028 - 4,095 bytes", PlainPe(43028 - 4095, entry, kRowNear), kRowNear},
        {"43,028 - 4,096 bytes", PlainPe(43028 - 4096, entry, kRowNear), kNoRecord},
        {"95,735 bytes", PlainPe(95735, 40000, kRowExact), kNoRecord},
    };
    ExpectPeRows(rows);
    EXPECT_STREQ(Sig(kRowExact).name, Sig(kRowNear).name);
}

TEST_F(SignatureMatchTest, BothPatternsMustStandWhole)
{
    const std::uint32_t entry = 40000;
    const std::string both = PlainPe(95736, entry, kRowExact);
    PeFile bare;
    bare.length = 95736;
    bare.entryPoint = entry;
    std::string firstOnly = bare.Build();
    PutPattern(firstOnly, First(kRowExact, entry), Sig(kRowExact).pattern1);
    std::string secondOnly = bare.Build();
    PutPattern(secondOnly, Second(kRowExact, entry), Sig(kRowExact).pattern2);
    std::string shifted = bare.Build();
    PutPattern(shifted, First(kRowExact, entry) + 1, Sig(kRowExact).pattern1);
    PutPattern(shifted, Second(kRowExact, entry), Sig(kRowExact).pattern2);

    const std::vector<MatchRow> rows = {
        {"both patterns", both, kRowExact},
        {"only the first pattern", firstOnly, kNoRecord},
        {"only the second pattern", secondOnly, kNoRecord},
        {"first byte of the first pattern differs", Flip(both, First(kRowExact, entry)), kNoRecord},
        {"last byte of the first pattern differs", Flip(both, First(kRowExact, entry) + 19), kNoRecord},
        {"last byte of the second pattern differs", Flip(both, Second(kRowExact, entry) + 19), kNoRecord},
        {"the byte after a pattern is not compared", Flip(both, Second(kRowExact, entry) + 20), kRowExact},
        {"first pattern one byte late", shifted, kNoRecord},
    };
    ExpectPeRows(rows);
}

TEST_F(SignatureMatchTest, TheFirstRecordInTableOrderWins)
{
    // 44,532 bytes is the exact size of row 3 and inside row 2's window.
    const std::uint32_t entry = 40000;
    std::string both = PlainPe(44532, entry, kRowUnpacker);
    PutPattern(both, First(kRowNear, entry), Sig(kRowNear).pattern1);
    PutPattern(both, Second(kRowNear, entry), Sig(kRowNear).pattern2);

    const std::vector<MatchRow> rows = {
        {"patterns of rows 2 and 3: row 2", both, kRowNear},
        {"patterns of row 3 only", PlainPe(44532, entry, kRowUnpacker), kRowUnpacker},
    };
    ExpectPeRows(rows);
}

// Row 6 in files with sections: entry 0x30000 puts its addresses at
// 0x1EC40 and 0xA990.
TEST_F(SignatureMatchTest, PositionsAreMappedThroughTheSections)
{
    const std::uint32_t entry = 0x30000;
    const std::uint32_t rva1 = 0x1EC40;
    const std::uint32_t rva2 = 0xA990;
    ASSERT_EQ(rva1, First(kRowDownloader, entry));
    ASSERT_EQ(rva2, Second(kRowDownloader, entry));

    struct Layout {
        const char* what;
        std::vector<pefixture::Section> sections;
        std::size_t position1;
        std::size_t position2;
    } layouts[] = {
        {"one section holding both", {{0x40000, 0x1000, 0x400}}, 0x1E040, 0x9D90},
        {"each address in its own section", {{0x10000, 0x1000, 0x400}, {0x30000, 0x11000, 0x20000}}, 0x2DC40, 0x9D90},
        {"the second address below the first section", {{0x30000, 0xC000, 0x2000}}, 0x14C40, 0x990},
        {"both above every section: the last one", {{0x1000, 0x1000, 0x400}, {0x1000, 0x2000, 0x1600}}, 0x1E240,
         0x9F90},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.what);
        PeFile pe;
        pe.length = 203380;
        pe.entryPoint = entry;
        pe.sections = layout.sections;
        std::string mapped = pe.Build();
        PutPattern(mapped, layout.position1, Sig(kRowDownloader).pattern1);
        PutPattern(mapped, layout.position2, Sig(kRowDownloader).pattern2);
        EXPECT_EQ(kRowDownloader, MatchPe(mapped));

        std::string plain = pe.Build();
        PutPattern(plain, rva1, Sig(kRowDownloader).pattern1);
        PutPattern(plain, rva2, Sig(kRowDownloader).pattern2);
        EXPECT_EQ(kNoRecord, MatchPe(plain)) << "patterns at the unmapped addresses";
    }
}

TEST_F(SignatureMatchTest, PositionsPastTheEndFallBackToThePlainAddress)
{
    // Row 3 with entry 40,000: addresses 40,024 and 12,957 in a 44,532-byte file.
    const std::uint32_t entry = 40000;
    const std::size_t rva1 = 40024;
    const std::size_t rva2 = 12957;

    PeFile far;
    far.length = 44532;
    far.entryPoint = entry;
    far.sections = {{0x100000, 0x1000, 0x20000}};  // maps both past the end
    std::string farBytes = far.Build();
    PutPattern(farBytes, rva1, Sig(kRowUnpacker).pattern1);
    PutPattern(farBytes, rva2, Sig(kRowUnpacker).pattern2);

    PeFile atEnd = far;
    atEnd.sections = {{0x100000, 0x1000, 8604}};  // maps the first to 44,532, the second to 17,465
    std::string atEndBytes = atEnd.Build();
    PutPattern(atEndBytes, rva1, Sig(kRowUnpacker).pattern1);
    PutPattern(atEndBytes, 17465, Sig(kRowUnpacker).pattern2);

    const std::vector<MatchRow> rows = {
        {"both mapped past the end", farBytes, kRowUnpacker},
        {"first mapped exactly to the file length", atEndBytes, kRowUnpacker},
    };
    ExpectPeRows(rows);
}

TEST_F(SignatureMatchTest, ReadsThatComeBackShortFailTheRecord)
{
    // Entry 44,488 puts row 3's first pattern in the last 20 bytes of the
    // file; 44,489 leaves room for only 19 of them.
    std::string fits = PlainPe(44532, 44488, kRowUnpacker);
    std::string cut = PlainPe(44532, 44489, kRowUnpacker);
    // Entry 50,000: the first address lies past the end, mapped or not.
    PeFile beyond;
    beyond.length = 44532;
    beyond.entryPoint = 50000;
    std::string beyondBytes = beyond.Build();
    PutPattern(beyondBytes, Second(kRowUnpacker, 50000), Sig(kRowUnpacker).pattern2);
    // Entry 20,000: the second address is below 0, a negative seek.
    PeFile negative;
    negative.length = 44532;
    negative.entryPoint = 20000;
    std::string negativeBytes = negative.Build();
    PutPattern(negativeBytes, First(kRowUnpacker, 20000), Sig(kRowUnpacker).pattern1);

    const std::vector<MatchRow> rows = {
        {"first pattern in the last 20 bytes", fits, kRowUnpacker},
        {"first pattern cut by the end of the file", cut, kNoRecord},
        {"first position past the end", beyondBytes, kNoRecord},
        {"second position below zero", negativeBytes, kNoRecord},
    };
    ExpectPeRows(rows);
}

TEST_F(SignatureMatchTest, AMappedPositionOfZeroReadsAtSizeOfHeaders)
{
    // Row 3 with entry 0x7FE8: the first address 0x8000 maps to 0 through
    // the second section; the second address 0x1645 maps past the end and
    // falls back to itself.
    PeFile pe;
    pe.length = 44532;
    pe.entryPoint = 0x7FE8;
    pe.sizeOfHeaders = 0x200;
    pe.sections = {{0x100, 0x1000, 0x400}, {0x1000, 0x8000, 0}};
    std::string bytes = pe.Build();
    PutPattern(bytes, 0x200, Sig(kRowUnpacker).pattern1);
    PutPattern(bytes, 0x1645, Sig(kRowUnpacker).pattern2);
    EXPECT_EQ(kRowUnpacker, MatchPe(bytes));

    pe.sizeOfHeaders = 0x300;
    std::string elsewhere = pe.Build();
    PutPattern(elsewhere, 0x200, Sig(kRowUnpacker).pattern1);
    PutPattern(elsewhere, 0x1645, Sig(kRowUnpacker).pattern2);
    EXPECT_EQ(kNoRecord, MatchPe(elsewhere)) << "sizeOfHeaders decides where the read goes";
}

TEST_F(SignatureMatchTest, AddressesWrapModuloTwoToTheThirtyTwo)
{
    // Row 448 with entry 0xFFFFFF00: offset 400 wraps to address 0x90, and
    // offset -268,491 gives 0xFFFBE635, which the section starting at
    // 0xFFF00000 (and ending, wrapped, at 0xFFFFFFFF) maps to 780,853.
    PeFile pe;
    pe.length = 899762;
    pe.headerOffsetField = 0x200;
    pe.entryPoint = 0xFFFFFF00u;
    pe.sections = {{0xFFFFF, 0xFFF00000u, 0x400}};
    std::string bytes = pe.Build();
    PutPattern(bytes, 780853, Sig(kRowLast).pattern1);
    PutPattern(bytes, 0x90, Sig(kRowLast).pattern2);
    EXPECT_EQ(kRowLast, MatchPe(bytes));
}

TEST_F(SignatureMatchTest, NoRecordHasTheLengthOfThisFile)
{
    EXPECT_EQ(kNoRecord, MatchPe(PlainPe(12345, 40000, kRowExact)));
}

// ZIP-like files for the archived-worm table, with the patterns of each
// listed row at the given positions.
struct Placement {
    std::int32_t row;
    std::size_t first;
    std::size_t second;
};

std::string Archive(std::size_t length, const std::vector<Placement>& placements)
{
    std::string bytes = pefixture::ZipLike(length);
    for (const Placement& p : placements) {
        PutPattern(bytes, p.first, Worm(p.row).pattern1);
        PutPattern(bytes, p.second, Worm(p.row).pattern2);
    }
    return bytes;
}

std::string NotZip(std::string bytes, const char* head)
{
    bytes.replace(0, 2, head, 2);
    return bytes;
}

TEST_F(SignatureMatchTest, ArchivedWormTable)
{
    const std::size_t c1 = 2304;
    const std::size_t c2 = 10944;
    const std::size_t length = 13000;  // holds every block of C and D
    const std::string c = Archive(length, {{kWormC, c1, c2}});

    const std::vector<MatchRow> rows = {
        {"C: both patterns at the block starts", c, kWormC},
        {"C: first pattern starts at block position 1003", Archive(length, {{kWormC, c1 + 1003, c2}}), kWormC},
        {"C: first pattern starts at block position 1004", Archive(length, {{kWormC, c1 + 1004, c2}}), kNoRecord},
        {"C: second pattern starts at block position 1003", Archive(length, {{kWormC, c1, c2 + 1003}}), kWormC},
        {"C: second pattern starts at block position 1004", Archive(length, {{kWormC, c1, c2 + 1004}}), kNoRecord},
        {"C: first pattern one byte before its block", Archive(length, {{kWormC, c1 - 1, c2}}), kNoRecord},
        {"C: file starts with QK", NotZip(c, "QK"), kNoRecord},
        {"C: file starts with pk", NotZip(c, "pk"), kNoRecord},
        {"C: file starts with MZ", NotZip(c, "MZ"), kNoRecord},
        {"C: file ends one byte short of the second block", Cut(c, c2 + 1023), kNoRecord},
        {"C: file ends with the second block", Cut(c, c2 + 1024), kWormC},
        {"C and D both present: C comes first", Archive(length, {{kWormD, 2560 + 600, 11264 + 5}, {kWormC, c1, c2}}),
         kWormC},
        {"D alone", Archive(length, {{kWormD, 2560 + 600, 11264 + 5}}), kWormD},
        {"J: 2,560 bytes", Archive(2560, {{kWormJ, 816, 1536}}), kWormJ},
        {"J: shorter than offset1 + 1024", Archive(816 + 1023, {{kWormJ, 816, 1536}}), kNoRecord},
        {"J: one byte short of the second block", Archive(2559, {{kWormJ, 816, 1536}}), kNoRecord},
        {"N: 21,922 bytes", Archive(21922, {{kWormN, 800, 18128}}), kWormN},
        {"N: 21,922 + 4,095 bytes", Archive(21922 + 4095, {{kWormN, 800, 18128}}), kWormN},
        {"N: 21,922 + 4,096 bytes", Archive(21922 + 4096, {{kWormN, 800, 18128}}), kNoRecord},
        {"N: shortest file holding its second block", Archive(18128 + 1024, {{kWormN, 800, 18128}}), kWormN},
        {"O: 44,444 bytes", Archive(44444, {{kWormO, 832 + 100, 18176 + 900}}), kWormO},
        {"O: 44,444 - 4,095 bytes", Archive(44444 - 4095, {{kWormO, 832, 18176}}), kWormO},
        {"O: 44,444 - 4,096 bytes", Archive(44444 - 4096, {{kWormO, 832, 18176}}), kNoRecord},
        {"only the two letters PK", std::string("PK"), kNoRecord},
        {"39 bytes starting with PK", pefixture::ZipLike(39), kNoRecord},
        {"empty file", std::string(), kNoRecord},
    };
    ExpectArchiveRows(rows);
}

TEST_F(SignatureMatchTest, APeFileIsNotAnArchive)
{
    EXPECT_EQ(kNoRecord, MatchArchive(PlainPe(95736, 40000, kRowExact)));
}

}  // namespace
