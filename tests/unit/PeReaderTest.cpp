// ReadPeHeader, ReadPeSections and RvaToFileOffset over files built in
// code, including cut-off and hostile headers.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "PeFixture.h"
#include "platform/fake/FakePlatform.h"
#include "scan/PeLayout.h"

namespace {

using pefixture::PeFile;
using pefixture::Section;

// A layout full of garbage, to see what the readers clear.
PeLayout Garbage()
{
    PeLayout layout;
    layout.headerOffset = 0xBEEF;
    layout.numberOfSections = 0xBEEF;
    layout.addressOfEntryPoint = 0xDEADBEEF;
    layout.sizeOfHeaders = 0xDEADBEEF;
    for (PeSection& section : layout.sections) section = {0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF};
    return layout;
}

std::string Cut(std::string bytes, std::size_t length)
{
    bytes.resize(length);
    return bytes;
}

std::string WithBytesAt(std::string bytes, std::size_t at, const std::string& text)
{
    bytes.replace(at, text.size(), text);
    return bytes;
}

PeFile ThreeSections()
{
    PeFile pe;
    pe.sections = {{0x2000, 0x1000, 0x400}, {0x1000, 0x3000, 0x2200}, {0x800, 0x4000, 0x3600}};
    return pe;
}

PeFile Sections(std::size_t count)
{
    PeFile pe;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t n = static_cast<std::uint32_t>(i);
        pe.sections.push_back({0x1000 + n, 0x1000 * (n + 1), 0x400 + 0x200 * n});
    }
    return pe;
}

// A header whose signature sits at 0 over the "MZ" mark, with the optional
// header running across the header-offset field.
std::string HeaderAtZero()
{
    std::string bytes(1024, '\0');
    bytes.replace(0, 4, std::string("PE\0\0", 4));
    pefixture::SetLe16(bytes, pefixture::kNumberOfSectionsAt, 1);
    pefixture::SetLe32(bytes, pefixture::kEntryPointAt, 0x1234);
    return bytes;
}

class PeReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetPlatform(&fake);
        fake.AddDrive('C', DriveFixed);
    }

    FileRef Open(const std::string& bytes) { return pefixture::OpenSample(fake, bytes); }

    FakePlatform fake;
};

struct HeaderRow {
    const char* what;
    std::string bytes;
    bool found;
    std::uint16_t headerOffset;
    std::uint16_t sections;
};

TEST_F(PeReaderTest, ReadPeHeader)
{
    const std::string plain = ThreeSections().Build();
    PeFile farField = ThreeSections();
    farField.headerOffsetField = 0x00010080;  // low two bytes: 0x80
    PeFile beyondEnd;
    beyondEnd.headerOffsetField = 0xFFFC;
    PeFile declaredMany;
    declaredMany.declaredSections = 0xFFFF;

    // The signature and header only at the full 32-bit offset 0x10080.
    std::string onlyAtFullOffset(0x10080 + 512, '\0');
    pefixture::SetLe32(onlyAtFullOffset, 60, 0x00010080);
    onlyAtFullOffset.replace(0x10080, 4, std::string("PE\0\0", 4));

    const std::vector<HeaderRow> rows = {
        {"empty file", "", false, 0, 0},
        {"ends inside the header-offset field", Cut(plain, 61), false, 0, 0},
        {"ends right after the header-offset field", Cut(plain, 62), false, 0, 0},
        {"plain PE with three sections", plain, true, 0x80, 3},
        {"no MZ mark is needed", WithBytesAt(plain, 0, "XX"), true, 0x80, 3},
        {"upper bytes of the offset field are ignored", farField.Build(), true, 0x80, 3},
        {"a header at 65,536 or beyond is not found", onlyAtFullOffset, false, 0, 0},
        {"header offset past the end of the file", beyondEnd.Build(), false, 0, 0},
        {"signature PE\\0\\1", WithBytesAt(plain, 0x80, std::string("PE\0\1", 4)), false, 0, 0},
        {"signature in lower case", WithBytesAt(plain, 0x80, std::string("pe\0\0", 4)), false, 0, 0},
        {"signature NE", WithBytesAt(plain, 0x80, std::string("NE\0\0", 4)), false, 0, 0},
        {"ends inside the signature", Cut(plain, 0x80 + 3), false, 0, 0},
        {"ends after the signature", Cut(plain, 0x80 + 4), false, 0, 0},
        {"ends one byte short of the file header", Cut(plain, 0x80 + 23), false, 0, 0},
        {"ends right after the file header", Cut(plain, 0x80 + 24), true, 0x80, 3},
        {"declared section count is kept as read", declaredMany.Build(), true, 0x80, 0xFFFF},
        {"signature at offset 0", HeaderAtZero(), true, 0, 1},
    };
    for (const HeaderRow& row : rows) {
        SCOPED_TRACE(row.what);
        FileRef file = Open(row.bytes);
        ASSERT_NE(kNoFile, file);
        PeLayout layout = Garbage();
        EXPECT_EQ(row.found, ReadPeHeader(file, layout));
        if (row.found) {
            EXPECT_EQ(row.headerOffset, layout.headerOffset);
            EXPECT_EQ(row.sections, layout.numberOfSections);
            // Everything else starts cleared.
            EXPECT_EQ(0u, layout.addressOfEntryPoint);
            EXPECT_EQ(0u, layout.sizeOfHeaders);
            EXPECT_EQ(0u, layout.sections[0].virtualAddress);
            EXPECT_EQ(0u, layout.sections[19].pointerToRawData);
        }
        Sys().CloseFile(file);
    }
}

struct SectionsRow {
    const char* what;
    std::string bytes;
    bool read;
    std::vector<Section> sections;  // expected, when read
};

TEST_F(PeReaderTest, ReadPeSections)
{
    PeFile none;
    none.entryPoint = 0x12345;
    none.sizeOfHeaders = 0x600;
    const std::string three = ThreeSections().Build();
    const std::size_t tableEnd = 0x80 + 248 + 3 * 40;
    PeFile twentyOne = Sections(21);
    PeFile manyDeclared = ThreeSections();
    manyDeclared.declaredSections = 0xFFFF;

    const std::vector<SectionsRow> rows = {
        {"no sections", none.Build(), true, {}},
        {"no sections, the file ends after the optional header's first 96 bytes",
         Cut(none.Build(), 0x80 + 24 + 96), true, {}},
        {"optional header one byte short", Cut(none.Build(), 0x80 + 24 + 95), false, {}},
        {"three sections", three, true, ThreeSections().sections},
        {"three sections, the file ends with the table", Cut(three, tableEnd), true, ThreeSections().sections},
        {"three sections, the table one byte short", Cut(three, tableEnd - 1), false, {}},
        {"twenty sections", Sections(20).Build(), true, Sections(20).sections},
        {"twenty-one sections", twentyOne.Build(), false, {}},
        {"65,535 sections declared", manyDeclared.Build(), false, {}},
    };
    for (const SectionsRow& row : rows) {
        SCOPED_TRACE(row.what);
        FileRef file = Open(row.bytes);
        PeLayout layout;
        ASSERT_TRUE(ReadPeHeader(file, layout));
        // Leftovers in the table must not survive the read.
        for (PeSection& section : layout.sections) section = {0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF};
        EXPECT_EQ(row.read, ReadPeSections(file, layout));
        if (row.read) {
            for (std::size_t i = 0; i < kMaxPeSections; ++i) {
                SCOPED_TRACE(i);
                Section expected = i < row.sections.size() ? row.sections[i] : Section{0, 0, 0};
                EXPECT_EQ(expected.virtualSize, layout.sections[i].virtualSize);
                EXPECT_EQ(expected.virtualAddress, layout.sections[i].virtualAddress);
                EXPECT_EQ(expected.pointerToRawData, layout.sections[i].pointerToRawData);
            }
        }
        Sys().CloseFile(file);
    }
}

TEST_F(PeReaderTest, OptionalHeaderValuesAreTakenAtTheirOffsets)
{
    PeFile pe = ThreeSections();
    pe.entryPoint = 0x00401234;
    pe.sizeOfHeaders = 0x00000600;
    FileRef file = Open(pe.Build());
    PeLayout layout;
    ASSERT_TRUE(ReadPeHeader(file, layout));
    ASSERT_TRUE(ReadPeSections(file, layout));
    EXPECT_EQ(0x00401234u, layout.addressOfEntryPoint);
    EXPECT_EQ(0x00000600u, layout.sizeOfHeaders);
    Sys().CloseFile(file);
}

TEST_F(PeReaderTest, HeaderAtOffsetZeroReadsTheOptionalHeaderAcrossTheOffsetField)
{
    FileRef file = Open(HeaderAtZero());
    PeLayout layout;
    ASSERT_TRUE(ReadPeHeader(file, layout));
    ASSERT_TRUE(ReadPeSections(file, layout));
    EXPECT_EQ(0x1234u, layout.addressOfEntryPoint);
    EXPECT_EQ(0u, layout.sections[0].virtualAddress);
    Sys().CloseFile(file);
}

struct MappingRow {
    const char* what;
    std::vector<Section> sections;
    std::size_t fileLength;
    std::uint32_t rva;
    std::uint32_t expected;
};

TEST_F(PeReaderTest, RvaToFileOffset)
{
    const std::vector<Section> three = ThreeSections().sections;  // ends 0x3000, 0x4000, 0x4800
    // The first section's end wraps round to 0x1000; the second ends at 0x2000.
    const std::vector<Section> wrapping = {{0x2000, 0xFFFFF000, 0x400}, {0x1000, 0x1000, 0x3000}};
    const std::uint32_t headers = 0x200;

    const std::vector<MappingRow> rows = {
        {"no sections: the plain address", {}, 0x10000, 0x1234, 0x1234},
        {"no sections, past the end: still the plain address", {}, 0x1000, 0x5000, 0x5000},
        {"no sections, address 0: sizeOfHeaders", {}, 0x1000, 0, headers},
        {"inside the first section", three, 0x4000, 0x1500, 0x900},
        {"last byte of the first section", three, 0x4000, 0x2FFF, 0x23FF},
        {"first byte past the first section goes to the second", three, 0x4000, 0x3000, 0x2200},
        {"inside the second section", three, 0x4000, 0x3010, 0x2210},
        {"below the first section maps through it", three, 0x4000, 0xD00, 0x100},
        {"below the first section, wrapping below 0: plain address", three, 0x4000, 0x800, 0x800},
        {"above every section maps through the last", three, 0x4000, 0x4900, 0x3F00},
        {"above every section, mapped past the end: plain address", three, 0x4000, 0x5000, 0x5000},
        {"mapped to the last byte of the file", three, 0x4000, 0x49FF, 0x3FFF},
        {"mapped exactly to the file length: plain address", three, 0x4000, 0x4A00, 0x4A00},
        {"mapped to 0: sizeOfHeaders", three, 0x4000, 0xC00, headers},
        {"section end wraps: an address below the wrapped end maps through it", wrapping, 0x4000, 0x800, 0x1C00},
        {"section end wraps: an address above the wrapped end goes on", wrapping, 0x4000, 0x1800, 0x3800},
    };
    for (const MappingRow& row : rows) {
        SCOPED_TRACE(row.what);
        PeLayout layout = PeLayout();
        layout.sizeOfHeaders = headers;
        layout.numberOfSections = static_cast<std::uint16_t>(row.sections.size());
        for (std::size_t i = 0; i < row.sections.size(); ++i) {
            layout.sections[i] = {row.sections[i].virtualSize, row.sections[i].virtualAddress,
                                  row.sections[i].pointerToRawData};
        }
        FileRef file = Open(std::string(row.fileLength, 'x'));
        EXPECT_EQ(row.expected, RvaToFileOffset(layout, row.rva, file));
        Sys().CloseFile(file);
    }
}

TEST_F(PeReaderTest, ASectionCountAboveTheTableNeverWalksPastIt)
{
    PeLayout layout = PeLayout();
    layout.numberOfSections = 0xFFFF;
    for (PeSection& section : layout.sections) section = {0x100, 0x1000, 0x200};
    layout.sections[kMaxPeSections - 1] = {0x100, 0x1000, 0x300};
    FileRef file = Open(std::string(0x10000, 'x'));
    // Above every section: mapped through the last entry of the table.
    EXPECT_EQ(0x5000u - 0x1000u + 0x300u, RvaToFileOffset(layout, 0x5000, file));
    Sys().CloseFile(file);
}

}  // namespace
