// ExamineScriptFile and the script matchers on the fake platform: which
// files qualify and match, the fixed-position and search modes, the actions
// and their lines, the once-per-run descrambling of the table, and bounded
// reads for files of every length that decides a branch.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fixtures/DualClaim.h"
#include "fixtures/InfectedFiles.h"
#include "fixtures/ScriptStandIns.h"
#include "scan/BinaryExamination.h"
#include "scan/ScanSession.h"
#include "scan/ScriptMatch.h"
#include "scan/ScriptSignature.h"
#include "unit/ScanFixture.h"

namespace {

const char kPage[] = "C:\\web\\page.htm";
const char kProbe[] = "C:\\probe\\file.txt";

std::string Line(const std::string& path, const std::string& threat, const std::string& outcome)
{
    return path + "     " + threat + " " + outcome;
}

std::string Stripped(const std::string& text)
{
    std::vector<unsigned char> out(text.size() + 1);
    std::size_t length = StripWhitespace(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out.data());
    return std::string(reinterpret_cast<const char*>(out.data()), length);
}

std::string PatternText(const ScriptSignatureRecord& record)
{
    return std::string(reinterpret_cast<const char*>(record.pattern), record.patternLength);
}

std::string Replace(std::string text, char from, char to)
{
    for (char& c : text) {
        if (c == from) c = to;
    }
    return text;
}

// The text's last 18 bytes ("</body>\r\n</html>\r\n" in the page) replaced
// by `ending`, padded on the left with '-' to the same length.
std::string WithEnding(const std::string& text, const std::string& ending)
{
    const std::size_t tail = 18;
    return text.substr(0, text.size() - tail) + std::string(tail - ending.size(), '-') + ending;
}

// The descrambled table, however many examinations ran before.
void ReadyTable()
{
    ExamineScriptFile("W32/Bagle.Worm", "C:\\no such file");
    ASSERT_TRUE(scriptTableReady);
}

class ScriptExaminationTest : public ScanFixture {
protected:
    void SetUp() override
    {
        ScanFixture::SetUp();
        fake.AddDrive('C', DriveFixed);
        fake.AddDrive('D', DriveFixed);
        fake.AddFolder("C:\\WINDOWS");
        cleanAction = kActionDelete;
        ReadyTable();
    }

    // The slot MatchScriptSignatures reports for `content`, or -1.
    std::int32_t SlotFor(const std::string& content)
    {
        fake.AddFile(kProbe, content);
        FileRef file = fake.OpenForRead(kProbe);
        std::int32_t slot = MatchScriptSignatures(file);
        fake.CloseFile(file);
        return slot;
    }
};

TEST_F(ScriptExaminationTest, EachStandInHasItsSizeHoldsItsPatternAndIsRemovedWithItsLine)
{
    ASSERT_EQ(3u, sizeof standin::kScriptStandIns / sizeof standin::kScriptStandIns[0]);
    const std::string page = standin::WebPage();
    EXPECT_EQ(2673u, page.size());
    EXPECT_EQ(0u, page.find("<script", 1112) - 1112);
    for (std::size_t slot = 0; slot < 3; ++slot) {
        const standin::ScriptStandIn& standIn = standin::kScriptStandIns[slot];
        const ScriptSignatureRecord& record = ScriptSignatureTable[slot];
        SCOPED_TRACE(standIn.fileName);
        const std::string content = standIn.build();
        EXPECT_EQ(standIn.length, content.size());
        EXPECT_STREQ(standIn.threat, record.name);
        EXPECT_EQ(static_cast<std::int32_t>(content.size()), static_cast<std::int32_t>(record.fileSize));
        EXPECT_EQ(4, static_cast<int>(record.reserved1));  // packed fields are read by value
        EXPECT_NE(std::string::npos, Stripped(content).find(PatternText(record)));

        ScanStatistics = ScanStatisticsType{};
        lines.clear();
        const std::string path = std::string("D:\\samples\\") + standIn.fileName;
        fake.AddFile(path, content);
        EXPECT_EQ(1, ExamineScriptFile("W32/Bagle.Worm", path.c_str()));
        EXPECT_EQ(std::vector<std::string>{Line(path, standIn.threat, "Virus removed")}, lines);
        EXPECT_FALSE(fake.Exists(path));
        EXPECT_EQ(1, ScanStatistics.filesInfected);
        EXPECT_EQ(1, ScanStatistics.filesRemoved);
        EXPECT_STREQ(standIn.threat, lastThreatName);
        EXPECT_STREQ(path.c_str(), ScanState.statusText);
    }
}

TEST_F(ScriptExaminationTest, WhichFilesTheTableMatches)
{
    const std::string page = standin::WebPage();
    const std::string pageWithoutLineFeeds = Replace(page, '\n', ' ');
    const std::string wormF = standin::WormScriptF();
    const std::string wormI = standin::WormScriptI();
    // One of the trailing dots (outside the pattern) gives way to a first byte.
    std::string shiftedF = wormF;
    shiftedF.erase(shiftedF.size() - 3, 1);
    std::string wormIChanged = wormI;
    wormIChanged[30] = static_cast<char>(wormIChanged[30] ^ 0x20);
    struct Row {
        const char* name;
        std::string content;
        std::int32_t slot;
    };
    const Row rows[] = {
        {"page", page, 0},
        {"page qualifying by its lower-case closing body tag alone", pageWithoutLineFeeds, 0},
        {"closing html tag in upper case", WithEnding(pageWithoutLineFeeds, "</HTML>"), 0},
        {"closing script tag in mixed case", WithEnding(pageWithoutLineFeeds, "</sCrIpT>"), 0},
        {"no line feed and no closing tag", WithEnding(pageWithoutLineFeeds, "<body>"), -1},
        {"closing tag only after a zero byte", WithEnding(pageWithoutLineFeeds, std::string("\0</body>", 8)), -1},
        {"103-byte worm script", wormF, 1},
        {"the same content at 104 bytes", wormF + " ", -1},
        {"103 bytes with the same text but no line feed", Replace(wormF, '\n', ' '), -1},
        {"103 bytes led by a line feed, the pattern one byte in", "\n" + shiftedF, 1},
        {"the same led by a zero byte: no line feed before it", std::string("\0", 1) + shiftedF, -1},
        {"131-byte worm script", wormI, 2},
        {"131 bytes with one pattern byte changed", wormIChanged, -1},
        {"empty file", "", -1},
        {"one line feed", "\n", -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScanStatistics = ScanStatisticsType{};
        EXPECT_EQ(row.slot, SlotFor(row.content));
        EXPECT_EQ(row.slot >= 0 ? 1 : 0, ScanStatistics.filesInfected);
    }
}

// A record of the test's own, with a plain pattern.
ScriptSignatureRecord TestRecord(const std::string& pattern, std::int16_t searchMode, std::int16_t anchor,
                                 std::int16_t offset, std::int16_t sizeTest = 0, std::int32_t fileSize = 0)
{
    ScriptSignatureRecord record;
    std::memset(&record, 0, sizeof record);
    std::strcpy(record.name, "Test.Record");
    record.fileSize = fileSize;
    record.offset = offset;
    record.patternLength = static_cast<std::uint16_t>(pattern.size());
    record.anchor = anchor;
    std::memcpy(record.pattern, pattern.data(), pattern.size());
    record.searchMode = searchMode;
    record.sizeTest = sizeTest;
    return record;
}

TEST_F(ScriptExaminationTest, RecordRulesQualificationSizeTestsAndBothModes)
{
    // A text of 5000 bytes whose whitespace-free head starts "HEAD..." and
    // whose tail block ends "...TAIL" (the blanks between are stripped).
    const std::string head = "HEAD-0123456789";
    const std::string tail = "9876543210-TAIL";
    std::string big = head + " \r\n" + std::string(5000 - head.size() - tail.size() - 6, 'x') + " \r\n" + tail;
    ASSERT_EQ(5000u, big.size());
    const std::string small = "HEAD-small\nbody-TAIL";  // 20 bytes, 19 without white space
    const std::string body99 = std::string(92, 'q') + "</body>";  // 99 bytes, no line feed
    const std::string text99 = std::string(98, 'q') + "\n";
    const std::string tag100 = std::string(93, 'q') + "</body>";
    // Texts whose only line feed the first block misses, or finds only after
    // a zero byte: the block is 1024 bytes above 1024, else 512.
    const std::string feedInLastBlock = std::string(2900, 'q') + "\n" + std::string(99, 'q');
    const std::string feedAt700Of1500 = std::string(700, 'q') + "\n" + std::string(799, 'q');
    std::string zeroThenFeedIn1024(1024, 'q');
    zeroThenFeedIn1024[100] = '\0';
    zeroThenFeedIn1024[600] = '\n';
    struct Row {
        const char* name;
        std::string content;
        ScriptSignatureRecord record;
        bool matches;
    };
    const Row rows[] = {
        {"99 bytes qualify as text", text99, TestRecord("qqq", 1, 0, 0), true},
        {"99 bytes never by a closing tag", body99, TestRecord("qqq", 1, 0, 0), false},
        {"100 bytes qualify by a closing tag", tag100, TestRecord("qqq", 1, 0, 0), true},
        {"a line feed in the last block only", feedInLastBlock, TestRecord("qqq", 1, 0, 0), true},
        {"over 1024 bytes: a 1024-byte first block", feedAt700Of1500, TestRecord("qqq", 1, 0, 0), true},
        {"1024 bytes: 512-byte blocks, the last past the zero", zeroThenFeedIn1024, TestRecord("qqq", 1, 0, 0),
         true},
        {"empty slot, empty file", "", TestRecord("", 1, 0, 0), false},
        {"empty slot, text file", small, TestRecord("", 1, 0, 0), false},
        {"pattern longer than the file", small, TestRecord(std::string(21, 'H'), 1, 0, 0), false},
        {"pattern longer than the field", small, [] {
             ScriptSignatureRecord r = TestRecord("HEAD", 1, 0, 0);
             r.patternLength = 101;
             return r;
         }(), false},
        {"exact size, equal", small, TestRecord("HEAD", 1, 0, 0, 16, 20), true},
        {"exact size, one more", small, TestRecord("HEAD", 1, 0, 0, 16, 21), false},
        {"near size, lowest", big, TestRecord("HEAD", 1, 0, 0, 17, 5000 - 4096), true},
        {"near size, below", big, TestRecord("HEAD", 1, 0, 0, 17, 5000 - 4097), false},
        {"near size, highest", big, TestRecord("HEAD", 1, 0, 0, 17, 5000 + 4096), true},
        {"near size, above", big, TestRecord("HEAD", 1, 0, 0, 17, 5000 + 4097), false},
        {"other size test: none", big, TestRecord("HEAD", 1, 0, 0, 15, 7), true},
        {"search, head anchor finds the head", big, TestRecord("HEAD-0123", 1, 0, 0), true},
        {"search, head anchor misses the tail", big, TestRecord("43210-TAIL", 1, 0, 0), false},
        {"search, tail anchor finds the tail", big, TestRecord("43210-TAIL", 1, 1, 0), true},
        {"search, tail anchor misses the head", big, TestRecord("HEAD-0123", 1, 1, 0), false},
        {"search, small file: the tail is the head", small, TestRecord("HEAD-small", 1, 1, 0), true},
        {"fixed, head at 5", big, TestRecord("0123456789", 0, 0, 5), true},
        {"fixed, head at 4", big, TestRecord("0123456789", 0, 0, 4), false},
        {"fixed, tail 4 before the end", big, TestRecord("TAIL", 2, 1, 4), true},
        {"fixed, tail 5 before the end", big, TestRecord("TAIL", 2, 1, 5), false},
        {"fixed, tail 15 before the end", big, TestRecord("9876543210-TAIL", 0, 1, 15), true},
        {"fixed, bytes past the data are zero", small, TestRecord(std::string("TAIL\0\0", 6), 0, 0, 15), true},
        {"fixed, head offset at the end of the data", small, TestRecord(std::string("\0", 1), 0, 0, 19), true},
        {"fixed, head offset past the data", small, TestRecord("H", 0, 0, 20), false},
        {"fixed, tail offset past the data", small, TestRecord("H", 0, 1, 20), false},
        {"fixed, tail offset past the data copies nothing", small,
         TestRecord(std::string("\0", 1), 0, 1, 20), true},
        {"fixed, negative offset copies nothing", small, TestRecord(std::string("\0", 1), 0, 0, -5), true},
        {"fixed, largest offset", big, TestRecord("H", 0, 1, 32767), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fake.AddFile(kProbe, row.content);
        FileRef file = fake.OpenForRead(kProbe);
        ScriptSignatureRecord records[2] = {TestRecord("", 1, 0, 0), row.record};
        EXPECT_EQ(row.matches ? 1 : kNoScriptRecord, MatchScriptRecords(records, 2, file));
        fake.CloseFile(file);
    }
}

struct ActionRow {
    const char* name;
    std::int32_t action;
    std::uint32_t attributes;
    bool deleteLocked;
    const char* outcome;    // null: no line
    const char* renamedTo;  // where the file went, or null
    std::int32_t filesRemoved;
};

const ActionRow kActionRows[] = {
    {"delete", 100, kAttrArchive, false, "Virus removed", nullptr, 1},
    {"delete with code 102", 102, kAttrArchive, false, "Virus removed", nullptr, 1},
    {"delete fails", 100, kAttrArchive, true, "Unable to remove", nullptr, 0},
    {"read-only: attributes are not reset", 100, kAttrReadOnly, false, "Unable to remove", nullptr, 0},
    {"rename", 101, kAttrArchive, false, "Virus renamed", "C:\\web\\page.Vtm", 0},
    {"rename fails", 101, kAttrArchive, true, "Rename failed", nullptr, 0},
    {"report only", 103, kAttrReadOnly, false, "Not Disinfected As Per User's Selection", nullptr, 0},
    {"no action 0", 0, kAttrArchive, false, nullptr, nullptr, 0},
    {"no action 104", 104, kAttrArchive, false, nullptr, nullptr, 0},
};

TEST_F(ScriptExaminationTest, ActionTableAndItsLines)
{
    const std::string page = standin::WebPage();
    for (const ActionRow& row : kActionRows) {
        SCOPED_TRACE(row.name);
        lines.clear();
        fake.rebootRemovals.clear();
        ScanStatistics = ScanStatisticsType{};
        ScanState.restartNeeded = 0;
        cleanAction = row.action;
        fake.AddFile(kPage, page, row.attributes);
        fake.LockAgainstDelete(kPage, row.deleteLocked);

        EXPECT_EQ(1, ExamineScriptFile("W32/Bagle.Worm", kPage));

        std::vector<std::string> expected;
        if (row.outcome) expected.push_back(Line(kPage, "W32/MurkEl.T.Trojan", row.outcome));
        EXPECT_EQ(expected, lines);
        const bool stays = row.filesRemoved == 0 && !row.renamedTo;
        EXPECT_EQ(stays, fake.Exists(kPage));
        if (stays) {
            EXPECT_EQ(page, fake.Content(kPage));
            EXPECT_EQ(row.attributes, fake.Attributes(kPage));  // never reset here
        }
        if (row.renamedTo) {
            EXPECT_EQ(page, fake.Content(row.renamedTo));
        }
        EXPECT_EQ(1, ScanStatistics.filesInfected);
        EXPECT_EQ(row.filesRemoved, ScanStatistics.filesRemoved);
        // Nothing is scheduled for the next start.
        EXPECT_TRUE(fake.rebootRemovals.empty());
        EXPECT_EQ(0, ScanState.restartNeeded);
        EXPECT_STREQ("W32/MurkEl.T.Trojan", lastThreatName);
        EXPECT_STREQ(kPage, ScanState.statusText);

        fake.LockAgainstDelete(kPage, false);
        fake.SetAttributes(kPage, kAttrArchive);
        fake.RemoveFile(kPage);
        if (row.renamedTo) fake.RemoveFile(row.renamedTo);
    }
}

TEST_F(ScriptExaminationTest, FilesNotMatchedOrNotOpenedGiveNothing)
{
    fake.AddFile("C:\\web\\locked.htm", standin::WebPage());
    fake.LockAgainstOpen("C:\\web\\locked.htm");
    fake.AddFile("C:\\web\\other.htm", standin::WebPage() + "\n");
    for (const char* path : {"C:\\web\\locked.htm", "C:\\web\\other.htm", "C:\\web\\missing.htm"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(0, ExamineScriptFile("W32/Bagle.Worm", path));
    }
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(0, ScanStatistics.filesInfected);
    EXPECT_TRUE(fake.Exists("C:\\web\\other.htm"));
}

TEST(ScriptTableTest, DescramblingIsItsOwnInverseAndHappensOncePerRun)
{
    FakePlatform fake;
    SetPlatform(&fake);
    fake.AddDrive('C', DriveFixed);
    fake.AddFile("C:\\page.htm", standin::WebPage());
    cleanAction = kActionReportOnly;
    // The patterns as the stand-ins give them.
    std::vector<std::string> plain;
    for (const standin::ScriptStandIn& standIn : standin::kScriptStandIns) {
        plain.push_back(Stripped(standIn.build()));
    }
    auto tableIsPlain = [&] {
        for (std::size_t slot = 0; slot < 3; ++slot) {
            if (plain[slot].find(PatternText(ScriptSignatureTable[slot])) == std::string::npos) return false;
        }
        return true;
    };
    // Whether or not an earlier test ran the first examination, the table is
    // scrambled exactly when the flag is clear.
    EXPECT_EQ(scriptTableReady, tableIsPlain());
    ExamineScriptFile("W32/Bagle.Worm", "C:\\page.htm");
    ExamineScriptFile("W32/Bagle.Worm", "C:\\page.htm");
    EXPECT_TRUE(scriptTableReady);
    EXPECT_TRUE(tableIsPlain());

    // Stored: every compared byte is the text's byte exclusive-or the key;
    // the rest of the field and the empty slots stay zero.
    DescrambleScriptTable();
    for (std::size_t slot = 0; slot < kScriptTableSlots; ++slot) {
        SCOPED_TRACE(slot);
        const ScriptSignatureRecord& record = ScriptSignatureTable[slot];
        EXPECT_EQ(slot < 3, record.patternLength != 0);
        for (std::size_t i = record.patternLength; i < kScriptPatternSize; ++i) EXPECT_EQ(0, record.pattern[i]);
        if (slot < 3) {
            std::string unscrambled = PatternText(record);
            for (char& c : unscrambled) c = static_cast<char>(c ^ kScriptPatternKey);
            EXPECT_NE(std::string::npos, plain[slot].find(unscrambled));
        }
    }
    EXPECT_FALSE(tableIsPlain());
    DescrambleScriptTable();
    EXPECT_TRUE(tableIsPlain());
    SetPlatform(nullptr);
    ResetScanGlobals();
}

TEST(ScriptMatchTest, StripWhitespaceRemovesExactlySixValues)
{
    const unsigned char block[] = {'a', 0x20, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x08, 0x0E, 0x00, 0xA0, 'b'};
    unsigned char out[sizeof block];
    std::memset(out, 0xEE, sizeof out);
    const unsigned char expected[] = {'a', 0x08, 0x0E, 0x00, 0xA0, 'b'};
    ASSERT_EQ(sizeof expected, StripWhitespace(block, sizeof block, out));
    EXPECT_EQ(0, std::memcmp(expected, out, sizeof expected));
    EXPECT_EQ(0xEE, out[sizeof expected]);
}

TEST(ScriptMatchTest, FindPatternLooksBelowTheExtentOnlyAndStaysInItsBuffer)
{
    const std::string pattern(kScriptPatternSize, 'p');
    const auto* bytes = reinterpret_cast<const unsigned char*>(pattern.data());
    struct Row {
        const char* name;
        std::size_t at;  // where the pattern is put
        std::size_t copied;  // pattern bytes put there
        std::size_t extent;
        std::size_t length;
        bool found;
    };
    const Row rows[] = {
        {"at the start", 0, 100, 10, 100, true},
        {"at the last position below the extent", 9, 100, 10, 100, true},
        {"at the extent", 10, 100, 10, 100, false},
        {"last position of a full block, the rest zero", 4095, 1, 4096, 100, false},
        {"last position of a full block, one byte", 4095, 1, 4096, 1, true},
        {"full pattern ending at the last compared byte", 4095, 100, 4096, 100, true},
        {"an extent past the block is cut to it", 4096, 100, 100000, 100, false},
        {"a length past the field is cut to it", 0, 100, 1, 5000, true},
        {"an empty pattern is never found", 0, 100, 10, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptWorkBuffer work;
        std::memset(work, 0, sizeof work);
        std::memcpy(work + row.at, bytes, row.copied);
        EXPECT_EQ(row.found, FindPattern(work, row.extent, bytes, row.length));
    }
}

// Every length that decides a branch of the reads: text tests of 512 and
// 1024 bytes, the 100-byte tag block, the 4096-byte blocks, and lengths the
// runtime reports for files near and beyond 2 GiB. Each file is text and
// ends with a 100-byte probe; records look for it in the head and the tail.
TEST_F(ScriptExaminationTest, FilesOfEveryLengthAreReadWithinTheirBlocks)
{
    const std::string probe = [] {
        std::string text;
        while (text.size() < kScriptPatternSize) text += "Quellor-length-probe-";
        return text.substr(0, kScriptPatternSize);
    }();
    struct Row {
        std::int64_t length;
        bool sparse;       // the probe at the start, zeros to the length
        std::int32_t reportedLength;
        bool inHead;
        bool inTail;
    };
    const Row rows[] = {
        {0, false, 0, false, false},
        {1, false, 1, false, false},
        {99, false, 99, false, false},
        {100, false, 100, false, false},
        {101, false, 101, true, true},
        {511, false, 511, true, true},
        {512, false, 512, true, true},
        {513, false, 513, true, true},
        {1023, false, 1023, true, true},
        {1024, false, 1024, true, true},
        {1025, false, 1025, true, true},
        {4095, false, 4095, true, true},
        {4096, false, 4096, true, true},
        {4097, false, 4097, false, true},
        {4196, false, 4196, false, true},
        {8193, false, 8193, false, true},
        {0x7FFFFFFFLL, true, 0x7FFFFFFF, true, false},
        {0x80001000LL, true, static_cast<std::int32_t>(0x80001000u), false, false},
        {0x100000067LL, true, -1, false, false},
    };
    const ScriptSignatureRecord records[] = {
        TestRecord(probe, 1, 0, 0),
        TestRecord(probe, 1, 1, 0),
        // Near-size test at the top of the 32-bit range.
        TestRecord(probe, 1, 0, 0, 17, 0x7FFFFFFF),
    };
    const std::int64_t mostBytes = 2 * 1024 + 100 + 2 * 4096;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        std::string content;
        if (row.sparse) {
            content = "\n" + probe;
        } else if (row.length > static_cast<std::int64_t>(probe.size())) {
            content = "\n" + std::string(static_cast<std::size_t>(row.length) - probe.size() - 1, 'a') + probe;
        } else {
            content = std::string(static_cast<std::size_t>(row.length), 'a');
            if (row.length > 0) content[0] = '\n';
        }
        fake.AddFile(kProbe, content);
        if (row.sparse) fake.SetSparseLength(kProbe, row.length);
        FileRef file = fake.OpenForRead(kProbe);
        ASSERT_EQ(row.reportedLength, fake.FileLength(file));
        const bool expected[] = {row.inHead, row.inTail, row.inHead && row.length == 0x7FFFFFFF};
        for (std::size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            fake.fileReads.clear();
            EXPECT_EQ(expected[i] ? 0 : kNoScriptRecord, MatchScriptRecords(&records[i], 1, file));
            // Inside the file, and no more than the text test, the tag test
            // and the two blocks need.
            std::int64_t total = 0;
            for (const FakePlatform::FileRead& read : fake.fileReads) {
                EXPECT_GE(read.position, 0);
                EXPECT_LE(read.position + read.count, row.reportedLength < 0 ? 0 : row.length);
                total += read.count;
            }
            EXPECT_LE(total, mostBytes);
            if (row.reportedLength < 0) {
                EXPECT_TRUE(fake.fileReads.empty());
            }
        }
        fake.CloseFile(file);
    }
}

TEST_F(ScriptExaminationTest, AFileBothHandlersWouldClaimIsReportedOnceByTheFirst)
{
    // The script cleaner alone would take it for the page.
    ASSERT_STREQ("W32/Bagle.J.Worm", ArchiveWormTable[infected::kDualClaimWormRow].name);
    const std::string both = infected::DualClaimFile();
    const std::string page = standin::WebPage();
    ASSERT_EQ(2673u, both.size());
    fake.AddFile("D:\\alone\\both.htm", both);
    EXPECT_EQ(1, ExamineScriptFile("W32/Bagle.Worm", "D:\\alone\\both.htm"));
    ASSERT_EQ(std::vector<std::string>{Line("D:\\alone\\both.htm", "W32/MurkEl.T.Trojan", "Virus removed")}, lines);

    lines.clear();
    ScanStatistics = ScanStatisticsType{};
    fake.AddFile("D:\\mail\\both.htm", both);
    fake.AddFile("D:\\mail\\newsletter.htm", page);
    fake.AddFile("D:\\mail\\greeting.vbs", standin::WormScriptF() + " ");  // one byte longer
    fake.SetEnumerationOrder("D:\\mail", {"both.htm", "newsletter.htm", "greeting.vbs"});
    EXPECT_EQ(1, RunScanSession());
    EXPECT_EQ((std::vector<std::string>{Line("D:\\mail\\both.htm", "W32/Bagle.J.Worm", "removed"),
                                        Line("D:\\mail\\newsletter.htm", "W32/MurkEl.T.Trojan", "Virus removed"),
                                        " ", "Scanning statistics", "------------------------------",
                                        "Total files scanned\t\t:  3", "Total files infected\t\t:  2",
                                        "Total files removed\t\t:  2"}),
              lines);
    EXPECT_TRUE(fake.Exists("D:\\mail\\greeting.vbs"));
}

}  // namespace
