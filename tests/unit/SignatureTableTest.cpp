// The compiled-in tables, read back as raw bytes at the record layout's
// offsets: the given rows stand exactly, and every count and range the
// detection data states holds for the table as compiled.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "scan/SignatureRecord.h"

namespace {

const std::size_t kRecordSize = 108;

struct Decoded {
    std::string name;
    bool nameTerminated;
    bool nameTailZero;
    std::int32_t offset1;
    std::array<unsigned char, 21> pattern1;
    std::int32_t offset2;
    std::array<unsigned char, 21> pattern2;
    std::int32_t fileSize;
    std::int32_t sizeRule;
};

std::int32_t Le32(const unsigned char* bytes)
{
    std::uint32_t value = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
                          (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    std::int32_t result;
    std::memcpy(&result, &value, sizeof result);
    return result;
}

// Decodes record `index` from the table's bytes, independently of the
// struct's field names.
Decoded DecodeRecord(const SignatureRecord* table, std::size_t index)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(table) + index * kRecordSize;
    Decoded record;
    const unsigned char* end = std::find(bytes, bytes + 50, 0);
    record.nameTerminated = end != bytes + 50;
    record.name.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(end - bytes));
    record.nameTailZero = std::all_of(end, bytes + 50, [](unsigned char c) { return c == 0; });
    record.offset1 = Le32(bytes + 50);
    std::copy(bytes + 54, bytes + 75, record.pattern1.begin());
    record.offset2 = Le32(bytes + 75);
    std::copy(bytes + 79, bytes + 100, record.pattern2.begin());
    record.fileSize = Le32(bytes + 100);
    record.sizeRule = Le32(bytes + 104);
    return record;
}

std::vector<Decoded> DecodeTable(const SignatureRecord* table, std::size_t records)
{
    std::vector<Decoded> decoded;
    for (std::size_t i = 0; i < records; ++i) decoded.push_back(DecodeRecord(table, i));
    return decoded;
}

std::array<unsigned char, 21> Hex(const char* text)
{
    std::array<unsigned char, 21> bytes{};
    std::istringstream in(text);
    unsigned value = 0;
    std::size_t count = 0;
    while (in >> std::hex >> value) {
        if (count < 20) bytes[count] = static_cast<unsigned char>(value);
        ++count;
    }
    EXPECT_EQ(20u, count) << text;
    return bytes;
}

struct GivenRow {
    std::size_t row;  // 1-based
    const char* name;
    std::int32_t offset1;
    const char* pattern1;
    std::int32_t offset2;
    const char* pattern2;
    std::int32_t fileSize;
    std::int32_t sizeRule;
};

void ExpectRow(const Decoded& actual, const GivenRow& given)
{
    SCOPED_TRACE(given.row);
    EXPECT_EQ(given.name, actual.name);
    EXPECT_EQ(given.offset1, actual.offset1);
    EXPECT_EQ(Hex(given.pattern1), actual.pattern1);
    EXPECT_EQ(given.offset2, actual.offset2);
    EXPECT_EQ(Hex(given.pattern2), actual.pattern2);
    EXPECT_EQ(given.fileSize, actual.fileSize);
    EXPECT_EQ(given.sizeRule, actual.sizeRule);
}

const GivenRow kGivenSignatureRows[] = {
    {1, "W32/Murkel.D.Trojan", -35418, "78 78 5F C1 3F 74 4F 53 75 36 0A C3 CC EE 27 39 48 F8 81 75", -221,
     "56 25 03 4A 66 85 64 0F 7C 99 86 18 42 85 61 15 77 85 62 54", 95736, 1},
    {2, "W32/Murkel.D.Trojan", -35418, "78 78 5F C1 3F 74 4F 53 75 36 0A C3 CC EE 27 39 48 F8 81 75", -221,
     "56 25 03 4A 66 85 64 0F 7C 99 86 18 42 85 61 15 77 85 62 54", 43028, 2},
    {3, "W32/Murkel.A.Trojan", 24, "8A 06 46 88 07 47 01 DB 75 07 8B 1E 83 EE FC 11 DB 72 ED B8", -27043,
     "35 51 18 91 90 1C A2 B1 1F 3D 15 E8 F1 13 DB 54 D1 C9 17 19", 44532, 1},
    {6, "W32/MurkEl.G.Downloader.Trojan", -70592, "27 DF D3 05 E9 E3 A9 E4 DF F9 F3 29 F8 A3 EF FC B8 8B 7D F4",
     -153200, "3E E2 4A C6 03 AE 69 BC 8C F0 AF CD C1 08 83 B4 3B F3 50 9D", 203380, 1},
    {448, "W32/Murkel.Ald.Trojan", -268491, "93 57 44 75 06 0D E7 E6 42 0F D6 2C 5A FB 74 5A A8 83 E8 DC", 400,
     "7F 80 60 28 7F 58 50 54 50 53 57 FF D5 58 61 8D 44 24 80 6A", 899762, 1},
};

const GivenRow kArchiveWormRows[] = {
    {1, "W32/Bagle.C.Worm", 2304, "09 4A 0C E3 02 FF E1 0B 09 34 C2 14 21 E1 4D 3C 83 0F 09 4D", 10944,
     "D2 1B 86 63 55 52 4C 44 A4 6E 98 B5 AD 9B D1 3A E4 45 75 BD", 22, 3},
    {2, "W32/Bagle.D.Worm", 2560, "F6 77 43 74 42 2B C9 81 FA FF 00 7F BB 41 30 74 34 0B FB B7", 11264,
     "E0 6D 6F 6C 66 74 5C DA 5C A4 6A 3B D8 06 56 9A 73 F7 5C 52", 22, 3},
    {3, "W32/Bagle.E.Worm", 3840, "D6 E2 1F 14 F0 7B 1F B6 97 C9 44 54 6B 86 63 41 E9 39 CE 8C", 12544,
     "E4 EF FF 2A D3 18 AB 45 DA B8 EE 59 F9 27 8D A5 17 FA 12 EE", 22, 3},
    {4, "W32/Bagle.F.Worm", 5888, "9B A2 0A C7 FF 71 67 03 15 F4 3E 9E A4 92 C1 D2 4B 71 19 F1", 17408,
     "0C 5D 24 8E 03 91 26 D7 FB AD 6A 35 94 C8 D9 CE 45 F6 23 5F", 22, 3},
    {5, "W32/Bagle.F.Worm", 6144, "23 41 0A E1 3E CD 5A C2 19 12 D2 84 44 B3 B5 32 39 FC 84 D9", 14848,
     "5C D9 63 6E 52 2E D7 A0 70 44 12 2D A2 D3 D9 AF 99 6B 51 EB", 22, 3},
    {6, "W32/Bagle.H.Worm", 3072, "0A 7B 6D 32 F4 CA 49 9F 3A 99 2A 56 19 50 13 69 59 6E F3 EA", 12032,
     "C3 96 DB 50 A7 F8 D3 C1 26 43 58 4F E4 23 47 93 98 32 AB DC", 22, 3},
    {7, "W32/Bagle.J.Worm", 816, "ED E7 EF 03 C2 3D 06 7C 05 2D 46 E2 DD 70 10 2B C2 5E FF EE", 1536,
     "66 2B 93 2C 49 D9 12 5C 1F 7C 6E 0A EB 14 7B 45 1C 6B 33 6E", 22, 3},
    {8, "W32/Bagle.N.Worm", 800, "19 0B 58 4B 5C 09 11 BE 22 BF 7B F7 91 04 DE 18 AE 24 25 17", 18128,
     "76 BA A2 66 36 DC 62 05 81 70 38 18 01 9F FE 53 41 89 01 73", 21922, 2},
    {9, "W32/Bagle.O.Worm", 832, "98 7D 78 86 BB 27 0C FB 34 5D A9 87 40 EF 45 16 0A 67 A1 48", 18176,
     "47 08 27 76 DC 35 05 D0 CC 62 05 F9 70 1C 8C 08 3E FE 53 41", 44444, 2},
};

// The name forms, each with its variant codes in order of first use.
struct NameForm {
    const char* prefix;
    const char* suffix;
    const char* codes;
};

const NameForm kNameForms[] = {
    {"W32/Murkel.", ".Trojan",
     "D A Am Ac Bm Fj Gc Ba Bn Cd Ax Dt Fi Ev Hi Ej Dl Ew Fb Kx Ge Jq Dp Csm Ci Vj Dm Dg Uy Wq Kb Hz Xlk Hp C Eg "
     "OE Kii Yf Yu G Yry KC MM OC Xw Cz Zx Aar Aey Acz Xp Aac Yb Abc Cm Aca Dh Aec Aen Aeo Aet Aew Afg Aer Aef "
     "Aft Aev Afu Agg Afx Ahf Ahc Ahb Ahk Ahl Ago Ahi Adp Aie Ais Ajf Ajw Akm Ajz Alf Aib Ams Aln Hy Anv Aku Ald "
     "Alb"},
    {"W32/MurkEl.", ".Trojan",
     "I X F V Ci Ag S Au Ar W Aa Bi A Bq Ge Dx Nd Ng Jp D Cb Mw Db Dn H Bg Mg Pu Ji Jw Bl Qb Qk Fw Pm Oa R As Rl "
     "Qh Ch Ru Vi Uq Yn Xl Tc Z Qd Ai Vr Ux Wr Xm Xr Ad Aaq Aar Abw Abv Abt Aas Abu Acs Bu"},
    {"W32/MurkEl.", ".Downloader.Trojan", "G L N Q M R Aa Gw Ht If Gt X Jj Ls"},
    {"W32/MurkEl.", ".Dl.Trojan", "S Ko Jf Kl Lb Mb Ml Mm Mu Mv Mz My Nb Nf No Ow Ny Oi Op Or Pc On Oo"},
    {"W32/MurkEl.", ".Clicker.Trojan", "H O Ab Ai Am Bl"},
    {"W32/Murkel.", ".PSW.Trojan", "E H M"},
};

const char* const kOtherNames[] = {
    "W32/Murkel.K.Dropper.Trojan", "W32/MurkEl.N.Spy.Trojan", "W32/MurkEl.A", "W32/MurkEl.C", "W32/Murkel.Trojan",
};

// The form and code of a name: the code is what stands between the prefix
// and the suffix and contains no dot. -1 when no form fits.
int FormOf(const std::string& name, std::string& code)
{
    for (std::size_t i = 0; i < sizeof kNameForms / sizeof kNameForms[0]; ++i) {
        std::string prefix = kNameForms[i].prefix;
        std::string suffix = kNameForms[i].suffix;
        if (name.size() <= prefix.size() + suffix.size()) continue;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
        std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (middle.find('.') != std::string::npos) continue;
        code = middle;
        return static_cast<int>(i);
    }
    return -1;
}

std::vector<std::string> Words(const char* text)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

const std::size_t kSignatureRecords = 448;

class SignatureTableTest : public ::testing::Test {
protected:
    std::vector<Decoded> records = DecodeTable(SignatureTable, kSignatureRecords);
};

TEST(SignatureRecordLayout, TablesAreWholeRecordsOfTheStatedSize)
{
    EXPECT_EQ(449u * kRecordSize, sizeof SignatureTable);
    EXPECT_EQ(10u * kRecordSize, sizeof ArchiveWormTable);
}

TEST_F(SignatureTableTest, FourHundredFortyEightRecordsThenAnAllZeroTerminator)
{
    for (std::size_t i = 0; i < kSignatureRecords; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_FALSE(records[i].name.empty());
        EXPECT_TRUE(records[i].nameTerminated);
        EXPECT_TRUE(records[i].nameTailZero);
        EXPECT_EQ(0, records[i].pattern1[20]);
        EXPECT_EQ(0, records[i].pattern2[20]);
    }
    const unsigned char* terminator = reinterpret_cast<const unsigned char*>(SignatureTable) + 448 * kRecordSize;
    EXPECT_TRUE(std::all_of(terminator, terminator + kRecordSize, [](unsigned char c) { return c == 0; }));
}

TEST_F(SignatureTableTest, GivenRowsStandExactly)
{
    for (const GivenRow& given : kGivenSignatureRows) ExpectRow(records[given.row - 1], given);
}

TEST_F(SignatureTableTest, SizeRulesAreExactExceptTheSingleNearRecordInRowTwo)
{
    std::map<std::int32_t, int> rules;
    for (const Decoded& record : records) ++rules[record.sizeRule];
    EXPECT_EQ(447, rules[1]);
    EXPECT_EQ(1, rules[2]);
    EXPECT_EQ(2u, rules.size()) << "no rule other than exact and near";
    EXPECT_EQ(2, records[1].sizeRule);
}

TEST_F(SignatureTableTest, OffsetAndSizeRangesAndNegativeCounts)
{
    auto offset1 = [](const Decoded& r) { return r.offset1; };
    auto offset2 = [](const Decoded& r) { return r.offset2; };
    auto fileSize = [](const Decoded& r) { return r.fileSize; };
    struct Range {
        const char* field;
        std::int32_t (*get)(const Decoded&);
        std::int32_t low;
        std::int32_t high;
        int negative;  // -1: not stated
    } ranges[] = {
        {"offset1", offset1, -1491798, 737342, 419},
        {"offset2", offset2, -657281, 669904, 178},
        {"fileSize", fileSize, 41959, 10137070, -1},
    };
    for (const Range& range : ranges) {
        SCOPED_TRACE(range.field);
        std::int32_t low = range.get(records[0]);
        std::int32_t high = low;
        int negative = 0;
        for (const Decoded& record : records) {
            low = std::min(low, range.get(record));
            high = std::max(high, range.get(record));
            if (range.get(record) < 0) ++negative;
        }
        EXPECT_EQ(range.low, low);
        EXPECT_EQ(range.high, high);
        if (range.negative >= 0) {
            EXPECT_EQ(range.negative, negative);
        }
    }
}

TEST_F(SignatureTableTest, TwoHundredTenNamesWithTheBusiestHeadingTwentyEight)
{
    std::map<std::string, int> heads;
    for (const Decoded& record : records) ++heads[record.name];
    EXPECT_EQ(210u, heads.size());
    EXPECT_EQ(28, heads["W32/Murkel.Agg.Trojan"]);
}

TEST_F(SignatureTableTest, NamesFollowTheFormsWithCodesInOrderOfFirstUse)
{
    const std::size_t formCount = sizeof kNameForms / sizeof kNameForms[0];
    std::vector<std::vector<std::string>> firstUse(formCount);
    std::set<std::string> seen;
    std::set<std::string> others;
    for (const Decoded& record : records) {
        if (!seen.insert(record.name).second) continue;
        std::string code;
        int form = FormOf(record.name, code);
        if (form >= 0) {
            firstUse[static_cast<std::size_t>(form)].push_back(code);
        } else {
            others.insert(record.name);
        }
    }
    for (std::size_t i = 0; i < formCount; ++i) {
        SCOPED_TRACE(std::string(kNameForms[i].prefix) + "*" + kNameForms[i].suffix);
        EXPECT_EQ(Words(kNameForms[i].codes), firstUse[i]);
    }
    EXPECT_EQ(std::set<std::string>(std::begin(kOtherNames), std::end(kOtherNames)), others);
}

TEST_F(SignatureTableTest, OnlyRowsOneAndTwoSharePatternsAndTheyDifferOnlyInTheSizeTest)
{
    std::vector<std::pair<std::size_t, std::size_t>> sharing;
    std::map<std::array<unsigned char, 21>, std::size_t> byPattern;
    for (std::size_t i = 0; i < records.size(); ++i) {
        for (const auto* pattern : {&records[i].pattern1, &records[i].pattern2}) {
            auto found = byPattern.find(*pattern);
            if (found != byPattern.end() && found->second != i) sharing.emplace_back(found->second, i);
            byPattern.emplace(*pattern, i);
        }
    }
    // Row 2 repeats both patterns of row 1, and nothing else repeats.
    std::vector<std::pair<std::size_t, std::size_t>> expected = {{0, 1}, {0, 1}};
    EXPECT_EQ(expected, sharing);

    const Decoded& exact = records[0];
    const Decoded& near = records[1];
    EXPECT_EQ(exact.name, near.name);
    EXPECT_EQ(exact.offset1, near.offset1);
    EXPECT_EQ(exact.offset2, near.offset2);
    EXPECT_NE(exact.fileSize, near.fileSize);
    EXPECT_NE(exact.sizeRule, near.sizeRule);
}

// A pattern that ordinary files are likely to contain would delete clean
// files. The given rows are as they are; the made ones keep away from
// runs, fillers and text.
TEST_F(SignatureTableTest, MadePatternsAreNotTriviallyMatchable)
{
    std::set<std::size_t> given;
    for (const GivenRow& row : kGivenSignatureRows) given.insert(row.row - 1);
    for (std::size_t i = 0; i < records.size(); ++i) {
        for (const auto* pattern : {&records[i].pattern1, &records[i].pattern2}) {
            SCOPED_TRACE(i + 1);
            const unsigned char* bytes = pattern->data();
            std::set<unsigned char> distinct(bytes, bytes + 20);
            int longestRun = 1;
            int run = 1;
            for (std::size_t k = 1; k < 20; ++k) {
                run = bytes[k] == bytes[k - 1] ? run + 1 : 1;
                longestRun = std::max(longestRun, run);
            }
            EXPECT_LE(longestRun, 2);
            EXPECT_GE(distinct.size(), 15u);
            if (given.count(i)) continue;
            EXPECT_EQ(1, longestRun);
            EXPECT_GE(distinct.size(), 16u);
            for (unsigned char filler : {0x00, 0xFF, 0x90, 0xCC}) EXPECT_EQ(0u, distinct.count(filler));
            int printable = 0;
            for (std::size_t k = 0; k < 20; ++k) {
                printable = (bytes[k] >= 0x20 && bytes[k] <= 0x7E) ? printable + 1 : 0;
                EXPECT_LT(printable, 4);
            }
        }
    }
}

TEST(ArchiveWormTableTest, NineRecordsExactlyAsGivenThenAnAllZeroTerminator)
{
    std::vector<Decoded> records = DecodeTable(ArchiveWormTable, 9);
    for (const GivenRow& given : kArchiveWormRows) {
        const Decoded& record = records[given.row - 1];
        ExpectRow(record, given);
        EXPECT_TRUE(record.nameTailZero);
        EXPECT_EQ(0, record.pattern1[20]);
        EXPECT_EQ(0, record.pattern2[20]);
    }
    const unsigned char* terminator = reinterpret_cast<const unsigned char*>(ArchiveWormTable) + 9 * kRecordSize;
    EXPECT_TRUE(std::all_of(terminator, terminator + kRecordSize, [](unsigned char c) { return c == 0; }));
}

}  // namespace
