// The quarantine's manifest: written and read back, the checks on every name
// it holds, and manifests that are cut short, edited by hand or hostile,
// each of which is a damaged entry and never a partly read one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "scan/QuarantineManifest.h"

namespace {

QuarantineEntry SampleEntry()
{
    QuarantineEntry entry;
    std::memset(&entry, 0, sizeof entry);
    std::strcpy(entry.id, "6553F1A0");
    std::strcpy(entry.dataName, "6553F1A0.QDT");
    std::strcpy(entry.originalPath, "C:\\Program Files\\Tools\\setup.exe");
    std::strcpy(entry.threat, "W32/Murkel.A.Trojan");
    entry.time = 1700000000;
    entry.length = 44532;
    for (std::size_t i = 0; i < kSha256Size; ++i) entry.sha256[i] = static_cast<unsigned char>(i * 7 + 1);
    return entry;
}

const char kSampleText[] =
    "Quellor quarantine entry 1\r\n"
    "id=6553F1A0\r\n"
    "data=6553F1A0.QDT\r\n"
    "path=C:\\Program Files\\Tools\\setup.exe\r\n"
    "threat=W32/Murkel.A.Trojan\r\n"
    "time=1700000000\r\n"
    "length=44532\r\n"
    "sha256=01080f161d242b323940474e555c636a71787f868d949ba2a9b0b7bec5ccd3da\r\n";

std::string Format(const QuarantineEntry& entry)
{
    char text[kManifestMaxBytes];
    const std::size_t length = FormatManifest(entry, text, sizeof text);
    return std::string(text, length);
}

bool Parses(const std::string& text, QuarantineEntry& entry)
{
    return ParseManifest(reinterpret_cast<const unsigned char*>(text.data()), text.size(), entry);
}

bool Parses(const std::string& text)
{
    QuarantineEntry entry;
    return Parses(text, entry);
}

// The sample with one line replaced (or added, when `field` is not there).
std::string WithLine(const std::string& field, const std::string& line)
{
    std::string text = kSampleText;
    const std::size_t at = text.find("\n" + field + "=");
    if (at == std::string::npos) return text + line + "\r\n";
    const std::size_t end = text.find('\n', at + 1);
    return text.substr(0, at + 1) + line + text.substr(end - 1);
}

TEST(QuarantineManifest, WrittenAsTextAndReadBackWhole)
{
    const QuarantineEntry entry = SampleEntry();
    EXPECT_EQ(kSampleText, Format(entry));
    QuarantineEntry read;
    ASSERT_TRUE(Parses(kSampleText, read));
    EXPECT_STREQ(entry.id, read.id);
    EXPECT_STREQ(entry.dataName, read.dataName);
    EXPECT_STREQ(entry.originalPath, read.originalPath);
    EXPECT_STREQ(entry.threat, read.threat);
    EXPECT_EQ(entry.time, read.time);
    EXPECT_EQ(entry.length, read.length);
    EXPECT_EQ(0, std::memcmp(entry.sha256, read.sha256, kSha256Size));
}

TEST(QuarantineManifest, LinesEndedByLineFeedAloneAndFieldsInAnyOrderAreRead)
{
    std::string text = kSampleText;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    EXPECT_TRUE(Parses(text));
    // A manifest edited by hand may have its fields in another order.
    const std::string reordered = std::string("Quellor quarantine entry 1\n") +
                                  "sha256=01080F161D242B323940474E555C636A71787F868D949BA2A9B0B7BEC5CCD3DA\n" +
                                  "length=44532\ntime=1700000000\nthreat=W32/Murkel.A.Trojan\n" +
                                  "path=C:\\Program Files\\Tools\\setup.exe\ndata=6553F1A0.QDT\nid=6553F1A0\n";
    QuarantineEntry entry;
    ASSERT_TRUE(Parses(reordered, entry));
    EXPECT_EQ(0, std::memcmp(SampleEntry().sha256, entry.sha256, kSha256Size));
}

TEST(QuarantineManifest, EveryCutShortManifestIsRefused)
{
    const std::string text = kSampleText;
    for (std::size_t length = 0; length < text.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_FALSE(Parses(text.substr(0, length)));
    }
}

TEST(QuarantineManifest, HandEditedAndHostileManifestsAreRefused)
{
    struct Row {
        const char* name;
        std::string text;
    } const rows[] = {
        {"data file in a parent folder", WithLine("data", "data=..\\6553F1A0.QDT")},
        {"data file as an absolute path", WithLine("data", "data=C:\\WINDOWS\\system.ini")},
        {"data file as a POSIX path", WithLine("data", "data=/etc/passwd")},
        {"data file with a slash", WithLine("data", "data=sub/6553F1A0.QDT")},
        {"data file named ..", WithLine("data", "data=..")},
        {"data file too long", WithLine("data", "data=6553F1A0AB.QDT")},
        {"path climbs out", WithLine("path", "path=C:\\Tools\\..\\..\\WINDOWS\\win.ini")},
        {"path with a . component", WithLine("path", "path=C:\\Tools\\.\\setup.exe")},
        {"relative path", WithLine("path", "path=Tools\\setup.exe")},
        {"drive-relative path", WithLine("path", "path=C:setup.exe")},
        {"path of a drive root", WithLine("path", "path=C:\\")},
        {"UNC path", WithLine("path", "path=\\\\server\\share\\setup.exe")},
        {"stream of a file", WithLine("path", "path=C:\\Tools\\setup.exe:hidden")},
        {"path with a wildcard", WithLine("path", "path=C:\\Tools\\*.exe")},
        {"empty component", WithLine("path", "path=C:\\Tools\\\\setup.exe")},
        {"POSIX path climbs out", WithLine("path", "path=/home/user/../../etc/passwd")},
        {"POSIX path of the root", WithLine("path", "path=/")},
        {"control character in the path", WithLine("path", "path=C:\\Tools\\se\ttup.exe")},
        {"empty threat", WithLine("threat", "threat=")},
        {"id not hexadecimal", WithLine("id", "id=6553F1AG")},
        {"id in lower case", WithLine("id", "id=6553f1a0")},
        {"id too short", WithLine("id", "id=6553F1A")},
        {"length too large", WithLine("length", "length=2147483648")},
        {"length negative", WithLine("length", "length=-1")},
        {"length with a sign", WithLine("length", "length=+12")},
        {"length empty", WithLine("length", "length=")},
        {"time far too long", WithLine("time", "time=1234567890123456789012")},
        {"digest too short", WithLine("sha256", "sha256=01080f16")},
        {"digest not hexadecimal", WithLine("sha256",
                                            "sha256=z1080f161d242b323940474e555c636a71787f868d949ba2a9b0b7bec5ccd3da")},
        {"field twice", WithLine("extra", "path=C:\\Other\\setup.exe")},
        {"unknown field", WithLine("extra", "extra=1")},
        {"line without =", WithLine("extra", "garbage")},
        {"wrong heading", std::string("Quellor quarantine entry 2") + (kSampleText + 26)},
        {"empty", ""},
        {"too large", std::string(kSampleText) + std::string(kManifestMaxBytes, '\n')},
        {"zero byte in a value", WithLine("threat", std::string("threat=W32\0x", 12))},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(Parses(row.text));
    }
    // Every row changes one thing of a manifest that is read.
    EXPECT_TRUE(Parses(kSampleText));
}

TEST(QuarantineManifest, NamesThatAreChecked)
{
    struct Row {
        const char* text;
        bool id, storeName, originalPath;
    } const rows[] = {
        {"6553F1A0", true, false, false},
        {"6553F1A0.QDT", false, true, false},
        {"A.B", false, true, false},
        {"A-B_C.Q1", false, true, false},
        {".QDT", false, false, false},
        {"ABC.", false, false, false},
        {"A.B.C", false, false, false},
        {"ABCDEFGHI.Q", false, false, false},
        {"C:\\x", false, false, true},
        {"c:\\dir\\file name.exe", false, false, true},
        {"/home/user/file", false, false, true},
        {"/home/user/odd\\name", false, false, true},
        {"/home//file", false, false, false},
        {"/home/user/", false, false, false},
        {"C:\\dir\\", false, false, false},
        {"C:\\dir\\..", false, false, false},
        {"C:\\...\\x", false, false, true},  // "..." is a name like any other
        {"1:\\x", false, false, false},
        {"", false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(row.id, IsQuarantineId(row.text));
        EXPECT_EQ(row.storeName, IsPlainStoreName(row.text));
        EXPECT_EQ(row.originalPath, IsSafeOriginalPath(row.text));
    }
}

TEST(QuarantineManifest, AnEntryThatCannotBeReadBackIsNeverWritten)
{
    struct Row {
        const char* name;
        void (*change)(QuarantineEntry&);
    } const rows[] = {
        {"relative path", [](QuarantineEntry& e) { std::strcpy(e.originalPath, "setup.exe"); }},
        {"path that climbs", [](QuarantineEntry& e) { std::strcpy(e.originalPath, "C:\\a\\..\\b"); }},
        {"line break in the threat", [](QuarantineEntry& e) { std::strcpy(e.threat, "W32\r\nid=00000000"); }},
        {"data file with a folder", [](QuarantineEntry& e) { std::strcpy(e.dataName, "..\\A.QDT"); }},
        {"negative time", [](QuarantineEntry& e) { e.time = -1; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QuarantineEntry entry = SampleEntry();
        row.change(entry);
        EXPECT_EQ("", Format(entry));
    }
    // Too small a buffer gives nothing rather than a cut manifest.
    char small[64];
    EXPECT_EQ(0u, FormatManifest(SampleEntry(), small, sizeof small));
}

}  // namespace
