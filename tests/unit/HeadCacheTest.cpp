// The head cache the programs put in front of their backends: each file is
// opened and its head read once for the whole handler table, and nothing is
// ever done to a file while the cache still holds it open.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fixtures/InfectedFiles.h"
#include "fixtures/ScriptStandIns.h"
#include "platform/HeadCachePlatform.h"
#include "platform/fake/FakePlatform.h"
#include "scan/ScanSession.h"
#include "scan/ScanState.h"
#include "scan/SignatureRecord.h"

namespace {

// The fake, counting what reaches it.
class CountingFake : public FakePlatform {
public:
    FileRef OpenForRead(const char* path) override
    {
        ++opens[path];
        return FakePlatform::OpenForRead(path);
    }
    void CloseFile(FileRef file) override
    {
        ++closes;
        FakePlatform::CloseFile(file);
    }
    std::map<std::string, int> opens;
    int closes = 0;
};

std::string Filler(std::size_t length)
{
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>('a' + (i * 7) % 23);
    return bytes;
}

std::string ReadAt(Platform& platform, FileRef file, std::int32_t at, std::uint32_t count)
{
    std::string bytes(count, '\0');
    if (platform.SeekTo(file, at, SeekFromStart) != at) return "<seek failed>";
    std::int32_t got = platform.ReadBytes(file, &bytes[0], count);
    if (got < 0) return "<read failed>";
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}

class HeadCacheTest : public ::testing::Test {
protected:
    void SetUp() override { fake.AddDrive('D', DriveFixed); }

    CountingFake fake;
    HeadCachePlatform cache{fake};
};

TEST_F(HeadCacheTest, AFileReopenedAsTheNextCallIsNotOpenedAgainAndAnyOtherCallLetsItGo)
{
    const std::string content = Filler(100);
    fake.AddFile("D:\\a.txt", content);
    fake.AddFile("D:\\b.txt", "b");

    FileRef first = cache.OpenForRead("D:\\a.txt");
    ASSERT_NE(kNoFile, first);
    EXPECT_EQ(content.substr(10, 5), ReadAt(cache, first, 10, 5));
    cache.CloseFile(first);
    FileRef again = cache.OpenForRead("D:\\a.txt");
    EXPECT_EQ(1, fake.opens["D:\\a.txt"]);
    EXPECT_EQ(0, fake.closes);
    // Reopened at its start, with its length, as a new opening would be.
    std::string head(4, '\0');
    EXPECT_EQ(4, cache.ReadBytes(again, &head[0], 4));
    EXPECT_EQ(content.substr(0, 4), head);
    EXPECT_EQ(100, cache.FileLength(again));
    cache.CloseFile(again);

    // Another file: the kept one goes first.
    cache.CloseFile(cache.OpenForRead("D:\\b.txt"));
    EXPECT_EQ(1, fake.closes);
    // Any other call lets the kept file go before it is made, so the file
    // is never held while something is done to it: the fake refuses to
    // remove a file that is open.
    EXPECT_TRUE(cache.RemoveFile("D:\\b.txt"));
    EXPECT_EQ(2, fake.closes);
    cache.CloseFile(cache.OpenForRead("D:\\a.txt"));
    EXPECT_TRUE(cache.PathExists("D:\\a.txt"));
    cache.CloseFile(cache.OpenForRead("D:\\a.txt"));
    EXPECT_EQ(3, fake.opens["D:\\a.txt"]);
}

TEST_F(HeadCacheTest, TheHeadIsReadOnceAndEveryReadGivesTheFilesBytes)
{
    const std::string content = Filler(40000);
    fake.AddFile("D:\\big.bin", content);
    FileRef file = cache.OpenForRead("D:\\big.bin");
    ASSERT_NE(kNoFile, file);
    ASSERT_EQ(1u, fake.fileReads.size());
    EXPECT_EQ(0, fake.fileReads[0].position);
    EXPECT_EQ(kHeadCacheSize, fake.fileReads[0].count);

    const std::int32_t headEnd = static_cast<std::int32_t>(kHeadCacheSize);
    const struct {
        std::int32_t at;
        std::uint32_t count;
        bool reachesFile;
    } rows[] = {
        {60, 2, false},            // within the head
        {0, 30, false},
        {headEnd - 4, 4, false},   // its last bytes
        {headEnd - 4, 10, true},   // across its end
        {30000, 1024, true},       // beyond it
        {39990, 100, true},        // past the file's end: a short read
        {45000, 10, false},        // wholly past the end: nothing, known here
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.at);
        const std::size_t readsBefore = fake.fileReads.size();
        const std::string expected = row.at < 40000 ? content.substr(static_cast<std::size_t>(row.at), row.count) : "";
        EXPECT_EQ(expected, ReadAt(cache, file, row.at, row.count));
        EXPECT_EQ(row.reachesFile, fake.fileReads.size() != readsBefore);
    }
    // Seeks are counted here: from the end, from the current position, and
    // a negative result fails and leaves the position.
    EXPECT_EQ(39900, cache.SeekTo(file, -100, SeekFromEnd));
    EXPECT_EQ(39950, cache.SeekTo(file, 50, SeekFromCurrent));
    EXPECT_EQ(-1, cache.SeekTo(file, -40000, SeekFromCurrent));
    std::string tail(50, '\0');
    EXPECT_EQ(50, cache.ReadBytes(file, &tail[0], 100));
    EXPECT_EQ(content.substr(39950), tail);
    cache.CloseFile(file);
}

TEST_F(HeadCacheTest, AFileWithoutA32BitLengthPassesThrough)
{
    fake.AddFile("D:\\huge.bin", "PK");
    fake.SetSparseLength("D:\\huge.bin", 5LL * 1024 * 1024 * 1024);
    FileRef file = cache.OpenForRead("D:\\huge.bin");
    ASSERT_NE(kNoFile, file);
    EXPECT_EQ(-1, cache.FileLength(file));
    EXPECT_TRUE(fake.fileReads.empty());
    char bytes[2];
    EXPECT_EQ(2, cache.ReadBytes(file, bytes, 2));
    EXPECT_EQ(1u, fake.fileReads.size());
    cache.CloseFile(file);
}

TEST(HeadCacheSessionTest, EachFileIsOpenedOnceForTheWholeHandlerTableWithTheSameResults)
{
    struct Run {
        std::vector<std::string> lines;
        std::map<std::string, int> opens;
    };
    auto scan = [](bool cached) {
        ResetScanGlobals();
        CountingFake fake;
        fake.AddDrive('D', DriveFixed);
        fake.AddFile("D:\\docs\\letter.txt", "Dear reader,\r\nnothing to see.\r\n");
        fake.AddFile("D:\\docs\\page.htm", standin::WebPage());
        fake.AddFile("D:\\tools\\setup.exe", infected::SignaturePe(SignatureTable[2]));
        fake.AddFile("D:\\tools\\clean.exe", Filler(5000));
        HeadCachePlatform cache(fake);
        SetPlatform(cached ? static_cast<Platform*>(&cache) : &fake);
        Run run;
        ScanState.resultSink = 1;
        fake.onNotify = [&run](WindowRef, std::uint32_t message) {
            if (message == AppendLineMessage) run.lines.push_back(ScanState.lineText);
        };
        cleanAction = 100;
        RunScanSession();
        run.opens = fake.opens;
        ResetScanGlobals();
        return run;
    };
    const Run direct = scan(false);
    const Run cached = scan(true);
    EXPECT_EQ(direct.lines, cached.lines);
    ASSERT_EQ(6u + 2u, direct.lines.size());  // two removals, then the statistics
    // Without the cache the two handlers each open a clean file.
    EXPECT_EQ(2, direct.opens.at("D:\\docs\\letter.txt"));
    for (const auto& opened : cached.opens) {
        SCOPED_TRACE(opened.first);
        EXPECT_EQ(1, opened.second);
    }
}

}  // namespace
