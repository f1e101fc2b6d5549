// The encrypted-archive detectors against archives built in code and
// archives made by the zip tool, read through the in-memory platform.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "platform/fake/FakePlatform.h"
#include "scan/ArchiveDetectors.h"
#include "unit/ArchiveFixture.h"

using fixture::BuildRar;
using fixture::BuildZip;
using fixture::RarLayout;
using fixture::ZipLayout;

namespace {

const char* const kH = "W32/Bagle.H.Worm";
const char* const kK = "W32/Bagle.K.Worm";
const char* const kJ = "W32/Bagle.J.Worm";
const char* const kN = "W32/Bagle.N.Worm";
const char* const kO = "W32/Bagle.O.Worm";
const char* const kAa = "W32/Bagle.Aa.Worm";
const char* const kNone = nullptr;

const char kArchivePath[] = "C:\\MAIL\\ATTACH.ZIP";

class ArchiveDetectorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetPlatform(&fake);
        fake.AddDrive('C', DriveFixed);
    }

    // Runs `check` with the bytes stored as a file and opened for reading.
    template <typename Check>
    auto WithOpenFile(const std::string& bytes, Check check)
    {
        fake.AddFile(kArchivePath, bytes);
        FileRef file = Sys().OpenForRead(kArchivePath);
        EXPECT_NE(kNoFile, file);
        auto result = check(file);
        Sys().CloseFile(file);
        EXPECT_EQ(bytes, fake.Content(kArchivePath)) << "a detector changed the file";
        return result;
    }

    std::string Match(const std::string& bytes)
    {
        const char* name = WithOpenFile(bytes, [](FileRef file) { return MatchArchiveDetectors(file); });
        return name ? name : "(none)";
    }

    // Indices (0-based) of the detectors of ArchiveDetectorList that report a hit.
    std::vector<int> Hits(const std::string& bytes)
    {
        return WithOpenFile(bytes, [](FileRef file) {
            std::vector<int> hits;
            for (std::size_t i = 0; i < kArchiveDetectorCount; ++i) {
                const ArchiveDetector& detector = ArchiveDetectorList[i];
                bool hit = detector.format == ArchiveZip ? DetectEncryptedZip(file, detector)
                                                         : DetectEncryptedRar(file, detector);
                if (hit) hits.push_back(static_cast<int>(i));
            }
            return hits;
        });
    }

    FakePlatform fake;
};

std::string Expected(const char* name) { return name ? name : "(none)"; }

ZipLayout Stored(std::uint32_t size)
{
    ZipLayout layout;
    layout.uncompressedSize = size;
    layout.compressedSize = size + 12;
    return layout;
}

ZipLayout Deflated(std::uint32_t size, std::uint16_t method = 8)
{
    ZipLayout layout;
    layout.method = method;
    layout.uncompressedSize = size;
    layout.compressedSize = size / 2;
    return layout;
}

ZipLayout Named(std::string name)
{
    ZipLayout layout;
    layout.name = std::move(name);
    return layout;
}

struct ZipRow {
    const char* label;
    ZipLayout layout;
    const char* expected;
};

std::vector<ZipRow> ZipRows()
{
    std::vector<ZipRow> rows;
    rows.push_back({"MAIL.SCR stored, 20,000 in 20,012", ZipLayout(), kH});
    {
        ZipLayout s;
        s.compressedSize = 20000;
        rows.push_back({"same, compressed size 20,000: only the loose rule", s, kN});
    }
    {
        ZipLayout s;
        s.entriesOnDisk = 2;
        s.entriesTotal = 2;
        rows.push_back({"end record counting 2", s, kNone});
    }
    {
        ZipLayout s;
        s.entriesTotal = 2;
        rows.push_back({"end record: 1 on this disk, 2 in all", s, kNone});
    }
    {
        ZipLayout s;
        s.entriesOnDisk = 2;
        rows.push_back({"end record: 2 on this disk, 1 in all", s, kNone});
    }
    {
        ZipLayout s;
        s.secondEntry = true;
        rows.push_back({"a real second entry after the first", s, kNone});
    }
    {
        ZipLayout s;
        s.centralExtra = std::string(9, 'x');
        s.centralComment = "comment";
        s.extra = std::string(5, 'e');
        rows.push_back({"extra fields and a comment are stepped over", s, kH});
    }

    // Window edges.
    rows.push_back({"25,600: last size of detector 1", Stored(25600), kH});
    rows.push_back({"25,601: past detector 1, inside detector 8", Stored(25601), kAa});
    rows.push_back({"19,456: detectors 1, 3 and 4 overlap, 1 names it", Stored(19456), kH});
    rows.push_back({"19,455: detector 3", Stored(19455), kJ});
    rows.push_back({"17,408: first size of detector 3", Stored(17408), kJ});
    rows.push_back({"17,407: below detectors 3 and 8", Stored(17407), kNone});
    rows.push_back({"11,264: first size of detector 2", Stored(11264), kK});
    rows.push_back({"15,360: last size of detector 2", Stored(15360), kK});
    rows.push_back({"15,361: between detectors 2 and 3", Stored(15361), kNone});
    rows.push_back({"11,263: below detector 2", Stored(11263), kNone});
    rows.push_back({"30,720: last size of detector 8's first window", Stored(30720), kAa});
    rows.push_back({"30,721: between detector 8's windows", Stored(30721), kNone});
    rows.push_back({"43,008 stored: detector 5", Stored(43008), kO});
    rows.push_back({"48,129 stored: past detector 5", Stored(48129), kNone});
    rows.push_back({"66,560 stored: detector 8's second window", Stored(66560), kAa});
    rows.push_back({"74,752 stored: end of detector 8's second window", Stored(74752), kAa});
    rows.push_back({"74,753 stored: past every window", Stored(74753), kNone});

    // Methods.
    rows.push_back({"deflated 20,000: detector 4", Deflated(20000), kN});
    rows.push_back({"deflated 19,456: detector 4, not the stored-only 1 and 3", Deflated(19456), kN});
    rows.push_back({"deflated 24,577: past detector 4, inside detector 8", Deflated(24577), kAa});
    rows.push_back({"deflated 18,000: detector 8 (3 wants stored)", Deflated(18000), kAa});
    rows.push_back({"deflated 45,000: detector 5", Deflated(45000), kO});
    rows.push_back({"deflated 70,000: detector 8", Deflated(70000), kAa});
    rows.push_back({"deflated 12,000: detector 2 wants stored", Deflated(12000), kNone});
    rows.push_back({"imploded (6) 20,000: no detector", Deflated(20000, 6), kNone});
    rows.push_back({"imploded (6) 45,000: no detector", Deflated(45000, 6), kNone});
    rows.push_back({"imploded (6) 70,000: no detector", Deflated(70000, 6), kNone});
    rows.push_back({"method 1 (bits 1 and 2 clear): the loose rule passes", Deflated(20000, 1), kN});
    rows.push_back({"method 0x100 (low byte 0): loose, but not stored", Deflated(20000, 0x100), kN});
    {
        ZipLayout s = Stored(20000);
        s.method = 0x100;
        rows.push_back({"method 0x100 with stored sizes: the stored rule reads all 16 bits", s, kN});
    }
    rows.push_back({"method 2 (bit 1 set): no detector", Deflated(20000, 2), kNone});
    rows.push_back({"method 4 (bit 2 set): no detector", Deflated(20000, 4), kNone});
    {
        ZipLayout s = Stored(20000);
        s.method = 8;
        rows.push_back({"deflated but sizes 12 apart: still not a stored rule", s, kN});
    }

    // Encryption flag.
    {
        ZipLayout s;
        s.flags = 0;
        rows.push_back({"not encrypted", s, kNone});
    }
    {
        ZipLayout s = Deflated(45000);
        s.flags = 0x0008;
        rows.push_back({"not encrypted, only the descriptor flag", s, kNone});
    }
    {
        ZipLayout s;
        s.flags = 0x0009;
        rows.push_back({"encrypted with the descriptor flag", s, kH});
    }

    // Inner name.
    rows.push_back({"README.TXT", Named("README.TXT"), kNone});
    rows.push_back({"readme, no dot", Named("readme"), kH});
    rows.push_back({"mail.scr, lower case", Named("mail.scr"), kH});
    rows.push_back({"Mail.ExE, mixed case", Named("Mail.ExE"), kH});
    rows.push_back({"doc.com", Named("doc.com"), kH});
    rows.push_back({"run.BAT", Named("run.BAT"), kH});
    rows.push_back({"link.pif", Named("link.pif"), kH});
    rows.push_back({"the last dot counts: MAIL.TXT.SCR", Named("MAIL.TXT.SCR"), kH});
    rows.push_back({"the last dot counts: MAIL.SCR.TXT", Named("MAIL.SCR.TXT"), kNone});
    rows.push_back({"longer extension: MAIL.SCRX", Named("MAIL.SCRX"), kNone});
    rows.push_back({"shorter extension: MAIL.SC", Named("MAIL.SC"), kNone});
    rows.push_back({"trailing dot: the list's end marker is no extension", Named("MAIL."), kNone});
    rows.push_back({"empty name", Named(""), kH});
    rows.push_back({"299-byte name ending .TXT is read and fails", Named(std::string(295, 'a') + ".TXT"), kNone});
    rows.push_back({"299-byte name ending .SCR is read and passes", Named(std::string(295, 'a') + ".SCR"), kH});
    rows.push_back({"300-byte name is not read", Named(std::string(296, 'a') + ".TXT"), kH});
    rows.push_back({"1,000-byte name is not read", Named(std::string(996, 'a') + ".TXT"), kH});

    // Truncation.
    {
        ZipLayout s;
        s.truncateTo = static_cast<std::int64_t>(fixture::ZipDataOffset(s) + s.compressedSize);
        rows.push_back({"ends right after the entry's data", s, kH});
    }
    {
        ZipLayout s;
        s.truncateTo = static_cast<std::int64_t>(fixture::ZipDataOffset(s) + s.compressedSize + 45);
        rows.push_back({"ends inside the central header", s, kH});
    }
    {
        ZipLayout s;
        s.truncateTo = static_cast<std::int64_t>(fixture::ZipDataOffset(s) + s.compressedSize + 46 + 8 + 21);
        rows.push_back({"ends inside the end record", s, kNone});
    }
    {
        ZipLayout s;
        s.truncateTo = static_cast<std::int64_t>(fixture::ZipDataOffset(s) + s.compressedSize - 1);
        rows.push_back({"ends inside the entry's data", s, kH});
    }
    {
        ZipLayout s = Deflated(20000);
        s.compressedSize = 0x7FFFFFF0u;
        s.dataLength = 100;
        s.truncateTo = 30 + 8 + 100;
        rows.push_back({"claimed data past any position the platform can seek to", s, kN});
    }
    {
        ZipLayout s;
        s.truncateTo = 30 + 5;
        rows.push_back({"ends inside the name", s, kNone});
    }
    {
        ZipLayout s;
        s.truncateTo = 29;
        rows.push_back({"29 bytes of a local header", s, kNone});
    }
    {
        ZipLayout s;
        s.truncateTo = 30;
        rows.push_back({"the local header alone", s, kNone});
    }
    {
        ZipLayout s = Named("");
        s.truncateTo = 30;
        rows.push_back({"the local header alone, no name: no data means cut off", s, kH});
    }
    {
        ZipLayout s;
        s.truncateTo = 2;
        rows.push_back({"just PK", s, kNone});
    }
    {
        ZipLayout s;
        s.truncateTo = 0;
        rows.push_back({"empty file", s, kNone});
    }
    return rows;
}

TEST_F(ArchiveDetectorTest, ZipArchives)
{
    for (const ZipRow& row : ZipRows()) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(Expected(row.expected), Match(BuildZip(row.layout)));
    }
}

TEST_F(ArchiveDetectorTest, OverlapAtWindowEdgeHitsEveryMatchingDetectorFirstOneWins)
{
    // 19,456 stored with the 12-byte difference: inside the windows of
    // detectors 1, 3, 4 and 8 (all accept a stored entry).
    EXPECT_EQ((std::vector<int>{0, 2, 3, 7}), Hits(BuildZip(Stored(19456))));
    EXPECT_EQ(kH, Match(BuildZip(Stored(19456))));
    // Without the difference only the loose detectors remain.
    ZipLayout loose = Stored(19456);
    loose.compressedSize = 19456;
    EXPECT_EQ((std::vector<int>{3, 7}), Hits(BuildZip(loose)));
}

TEST_F(ArchiveDetectorTest, DetectorOneWindowEdges)
{
    const ArchiveDetector& first = ArchiveDetectorList[0];
    struct Row {
        std::uint32_t size;
        bool hit;
    } rows[] = {{19455, false}, {19456, true}, {25600, true}, {25601, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        bool hit = WithOpenFile(BuildZip(Stored(row.size)),
                                [&](FileRef file) { return DetectEncryptedZip(file, first); });
        EXPECT_EQ(row.hit, hit);
    }
}

TEST_F(ArchiveDetectorTest, SizeDifferenceCountsOneWayOnly)
{
    // Compressed minus uncompressed, in wrapping arithmetic: an entry 12
    // bytes smaller than its content is no stored encrypted entry.
    ZipLayout s = Stored(20000);
    s.compressedSize = 19988;
    EXPECT_EQ(kN, Match(BuildZip(s)));
    s.compressedSize = 20013;
    EXPECT_EQ(kN, Match(BuildZip(s)));
}

TEST_F(ArchiveDetectorTest, ExtensionTest)
{
    struct Row {
        const char* name;
        bool passes;
    } rows[] = {
        {"MAIL.EXE", true}, {"mail.exe", true}, {"x.Scr", true}, {"x.cOM", true}, {"x.bat", true},
        {"x.PIF", true},    {"noext", true},    {"", true},      {"x.", false},   {"x.TXT", false},
        {"x.EX", false},    {"x.EXEE", false},  {"a.exe.zip", false}, {"a.zip.exe", true}, {".com", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.passes, PassesExtensionTest(row.name));
    }
}

struct RarRow {
    const char* label;
    RarLayout layout;
    const char* expected;
};

RarLayout RarSized(std::uint32_t size)
{
    RarLayout layout;
    layout.packedSize = size;
    layout.unpackedSize = size;
    return layout;
}

std::vector<RarRow> RarRows()
{
    std::vector<RarRow> rows;
    rows.push_back({"stored, encrypted MAIL.SCR of 45,000: detector 7", RarLayout(), kO});
    {
        RarLayout s;
        s.rest = BuildRar(RarLayout()).substr(20);  // another whole file header and data after the first
        rows.push_back({"whatever follows the first file", s, kO});
    }
    {
        RarLayout s;
        s.dataLength = 0;
        s.truncateTo = static_cast<std::int64_t>(fixture::RarFileHeaderOffset(s) + 32 + s.name.size());
        rows.push_back({"ends right after the first file's name", s, kO});
    }
    rows.push_back({"20,000: detector 6", RarSized(20000), kN});
    rows.push_back({"19,456: first size of detector 6", RarSized(19456), kN});
    rows.push_back({"25,600: last size of detector 6", RarSized(25600), kN});
    rows.push_back({"25,601: past detector 6", RarSized(25601), kNone});
    rows.push_back({"19,455: before detector 6", RarSized(19455), kNone});
    rows.push_back({"43,008: first size of detector 7", RarSized(43008), kO});
    rows.push_back({"48,128: last size of detector 7", RarSized(48128), kO});
    rows.push_back({"48,129: past detector 7", RarSized(48129), kNone});
    rows.push_back({"43,007: before detector 7", RarSized(43007), kNone});
    rows.push_back({"70,000: no RAR detector has the ZIP-only windows", RarSized(70000), kNone});
    {
        RarLayout s;
        s.packedSize = 50000;
        rows.push_back({"packed larger than unpacked", s, kO});
    }
    {
        RarLayout s;
        s.packedSize = 44999;
        rows.push_back({"unpacked larger than packed", s, kNone});
    }
    {
        RarLayout s;
        s.fileFlags = 0x8000;
        rows.push_back({"not encrypted", s, kNone});
    }
    {
        RarLayout s;
        s.fileFlags = 0x0004;
        rows.push_back({"encrypted, no other flag", s, kO});
    }
    {
        RarLayout s;
        s.method = '3';
        rows.push_back({"compressed (method 3)", s, kNone});
    }
    {
        RarLayout s;
        s.name = "README.TXT";
        rows.push_back({"README.TXT", s, kNone});
    }
    {
        RarLayout s;
        s.name = "mail.pif";
        rows.push_back({"mail.pif", s, kO});
    }
    {
        RarLayout s;
        s.name = "readme";
        rows.push_back({"no dot", s, kO});
    }
    {
        RarLayout s;
        s.name = std::string(295, 'b') + ".TXT";
        rows.push_back({"299-byte name ending .TXT", s, kNone});
    }
    {
        RarLayout s;
        s.name = std::string(296, 'b') + ".TXT";
        rows.push_back({"300-byte name is not read", s, kO});
    }
    {
        RarLayout s;
        s.nameSize = 20;
        s.dataLength = 0;
        s.truncateTo = static_cast<std::int64_t>(fixture::RarFileHeaderOffset(s) + 32 + 8);
        rows.push_back({"ends inside the name", s, kNone});
    }
    {
        RarLayout s;
        s.markerSize = 9;
        s.markerPadding = std::string(2, '\0');
        rows.push_back({"a longer marker block is stepped over by its size", s, kO});
    }
    {
        RarLayout s;
        s.mainSize = 20;
        rows.push_back({"a longer main header is stepped over by its size", s, kO});
    }
    {
        RarLayout s;
        s.markerSize = 0x7FFF;
        s.dataLength = 0;
        rows.push_back({"marker size pointing past the end", s, kNone});
    }
    {
        RarLayout s;
        s.dataLength = 0;
        s.name = "";
        s.truncateTo = static_cast<std::int64_t>(fixture::RarFileHeaderOffset(s) + 31);
        rows.push_back({"file header cut short", s, kNone});
    }
    {
        RarLayout s;
        s.truncateTo = 6;
        rows.push_back({"marker block cut short", s, kNone});
    }
    {
        RarLayout s;
        s.truncateTo = 7 + 12;
        rows.push_back({"main header cut short", s, kNone});
    }
    return rows;
}

TEST_F(ArchiveDetectorTest, RarArchives)
{
    for (const RarRow& row : RarRows()) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(Expected(row.expected), Match(BuildRar(row.layout)));
    }
}

TEST_F(ArchiveDetectorTest, RarNeedsItsMarker)
{
    std::string rar = BuildRar(RarLayout());
    EXPECT_EQ(kO, Match(rar));
    std::string wrong = rar;
    wrong[2] = 'R';
    EXPECT_EQ("(none)", Match(wrong));
    wrong = rar;
    wrong[0] = 'r';
    EXPECT_EQ("(none)", Match(wrong));
}

TEST_F(ArchiveDetectorTest, ZipNeedsPK)
{
    std::string zip = BuildZip(ZipLayout());
    zip[1] = 'k';
    EXPECT_EQ("(none)", Match(zip));
}

TEST_F(ArchiveDetectorTest, ShortFilesOfEveryLengthAreNoHit)
{
    // Every prefix of a hit that is too short to hold the headers the
    // detectors need: never a crash, never a hit.
    std::string zip = BuildZip(ZipLayout());
    for (std::size_t length = 0; length < 30 + 8; ++length) {
        SCOPED_TRACE(length);
        EXPECT_EQ("(none)", Match(zip.substr(0, length)));
    }
    RarLayout rarLayout;
    std::string rar = BuildRar(rarLayout);
    std::size_t needed = fixture::RarFileHeaderOffset(rarLayout) + 32 + rarLayout.name.size();
    for (std::size_t length = 0; length < needed; ++length) {
        SCOPED_TRACE(length);
        EXPECT_EQ("(none)", Match(rar.substr(0, length)));
    }
    EXPECT_EQ(kO, Match(rar.substr(0, needed)));
}

// The fake, adding up the bytes the detectors ask for.
class CountingPlatform : public FakePlatform {
public:
    std::int32_t ReadBytes(FileRef file, void* buffer, std::uint32_t count) override
    {
        requested += count;
        return FakePlatform::ReadBytes(file, buffer, count);
    }
    std::uint64_t requested = 0;
};

TEST(ArchiveDetectorReads, StayWithinTheHeadersAndTheLongestReadName)
{
    // The longest names that are still read, in archives that are hits, so
    // every step runs: the reads add up to exactly the headers and the name.
    ZipLayout zip = Named(std::string(295, 'n') + ".EXE");
    RarLayout rar;
    rar.name = std::string(295, 'n') + ".EXE";
    struct Row {
        const char* label;
        std::string bytes;
        std::size_t detector;
        std::uint64_t expected;
    } rows[] = {
        {"ZIP, detector 1", BuildZip(zip), 0, 30 + 299 + 46 + 22},
        {"RAR, detector 7", BuildRar(rar), 6, 7 + 13 + 32 + 299},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        CountingPlatform counting;
        SetPlatform(&counting);
        counting.AddDrive('C', DriveFixed);
        counting.AddFile(kArchivePath, row.bytes);
        FileRef file = Sys().OpenForRead(kArchivePath);
        const ArchiveDetector& detector = ArchiveDetectorList[row.detector];
        bool hit = detector.format == ArchiveZip ? DetectEncryptedZip(file, detector)
                                                 : DetectEncryptedRar(file, detector);
        EXPECT_TRUE(hit);
        EXPECT_EQ(row.expected, counting.requested);
        Sys().CloseFile(file);
    }
}

// ----- Archives made by the zip tool. -----

// A scratch folder with the files zip works on, removed at the end.
class ZipTool {
public:
    ZipTool()
    {
        char pattern[] = "/tmp/quellor-zip-XXXXXX";
        if (mkdtemp(pattern) != nullptr) folder_ = pattern;
    }
    ~ZipTool()
    {
        if (!folder_.empty()) std::system(("rm -rf '" + folder_ + "'").c_str());
    }
    static bool Available() { return std::system("command -v zip >/dev/null 2>&1") == 0; }

    // Writes MAIL.SCR with `content` and a fixed time stamp, runs zip with
    // `options` and returns the archive.
    std::string Archive(const std::string& content, const std::string& options)
    {
        if (folder_.empty()) return std::string();
        std::string file = folder_ + "/MAIL.SCR";
        std::ofstream(file, std::ios::binary) << content;
        struct utimbuf times = {1078142400, 1078142400};  // 2004-03-01
        utime(file.c_str(), &times);
        std::string archive = folder_ + "/out.zip";
        std::remove(archive.c_str());
        std::string command = "cd '" + folder_ + "' && zip -q -X -D -j " + options + " out.zip MAIL.SCR";
        if (std::system(command.c_str()) != 0) return std::string();
        std::ifstream in(archive, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string folder_;
};

// zip writes a data descriptor after an encrypted entry. The worm's archives
// have none; this removes it (and moves the central directory offset in the
// end record accordingly), leaving exactly the layout the worm writes.
std::string WithoutDataDescriptor(std::string zip)
{
    std::size_t dataEnd = 30 + fixture::GetLe16(zip, 26) + fixture::GetLe16(zip, 28) + fixture::GetLe32(zip, 18);
    if (zip.compare(dataEnd, 4, "PK\x07\x08") != 0) return std::string();
    zip.erase(dataEnd, 16);
    std::size_t end = zip.size() - 22;
    fixture::SetLe32(zip, end + 16, fixture::GetLe32(zip, end + 16) - 16);
    return zip;
}

std::string RandomBytes(std::size_t length)
{
    std::string data(length, '\0');
    std::uint32_t state = 12345;
    for (char& c : data) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return data;
}

std::string Text(std::size_t length)
{
    std::string data;
    while (data.size() < length) data += "This is a harmless test text, line after line.\r\n";
    data.resize(length);
    return data;
}

TEST_F(ArchiveDetectorTest, ArchivesMadeByZip)
{
    if (!ZipTool::Available()) GTEST_SKIP() << "zip is not installed";
    ZipTool zip;

    std::string stored = zip.Archive(RandomBytes(20000), "-0 -P secret");
    ASSERT_FALSE(stored.empty());
    ASSERT_EQ(1u, fixture::GetLe16(stored, 6) & 1u) << "zip did not encrypt";
    ASSERT_EQ(0u, fixture::GetLe16(stored, 8));
    ASSERT_EQ(20012u, fixture::GetLe32(stored, 18));

    std::string deflated = zip.Archive(Text(20000), "-P secret");
    ASSERT_FALSE(deflated.empty());
    ASSERT_EQ(8u, fixture::GetLe16(deflated, 8));

    std::string plain = zip.Archive(RandomBytes(20000), "-0");
    ASSERT_FALSE(plain.empty());

    struct Row {
        const char* label;
        std::string bytes;
        const char* expected;
    } rows[] = {
        {"stored and encrypted, as zip writes it (data descriptor): a look-alike", stored, kNone},
        {"deflated and encrypted, as zip writes it: a look-alike", deflated, kNone},
        {"stored and encrypted without the descriptor", WithoutDataDescriptor(stored), kH},
        {"deflated and encrypted without the descriptor", WithoutDataDescriptor(deflated), kN},
        {"stored without a password", plain, kNone},
        {"stored and encrypted, cut after the entry's data",
         stored.substr(0, 30 + 8 + 20012), kH},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_FALSE(row.bytes.empty());
        EXPECT_EQ(Expected(row.expected), Match(row.bytes));
    }
}

TEST_F(ArchiveDetectorTest, MatchPositionsTheFileItself)
{
    // The examination may hand over a file positioned anywhere.
    std::string zip = BuildZip(ZipLayout());
    std::string name = WithOpenFile(zip, [](FileRef file) {
        Sys().SeekTo(file, 1234, SeekFromStart);
        const char* found = MatchArchiveDetectors(file);
        return std::string(found ? found : "(none)");
    });
    EXPECT_EQ(kH, name);
}

}  // namespace
