#include "scan/PeLayout.h"

#include "scan/FileReads.h"

namespace {

const std::int32_t kHeaderOffsetField = 60;
const std::uint32_t kPeSignature = 0x4550;  // "PE" followed by two zero bytes
const std::int32_t kFileHeaderSize = 20;
const std::int32_t kOptionalHeaderStart = 24;   // signature and file header
const std::uint32_t kOptionalHeaderRead = 96;
const std::int32_t kSectionTableStart = 248;    // 24 + a 224-byte optional header
const std::uint32_t kSectionEntrySize = 40;

}  // namespace

bool ReadPeHeader(FileRef file, PeLayout& layout)
{
    layout = PeLayout();

    // Only the low two bytes of the 4-byte field are taken, so a header at
    // 65,536 or beyond is not found. The "MZ" mark is not required.
    unsigned char offsetField[2];
    if (!ReadExactAt(file, kHeaderOffsetField, offsetField, sizeof offsetField)) return false;
    layout.headerOffset = LoadLe16(offsetField, 0);

    unsigned char signature[4];
    if (!ReadExactAt(file, layout.headerOffset, signature, sizeof signature)) return false;
    if (LoadLe32(signature, 0) != kPeSignature) return false;

    unsigned char fileHeader[kFileHeaderSize];
    if (!ReadExactAt(file, layout.headerOffset + 4, fileHeader, sizeof fileHeader)) return false;
    layout.numberOfSections = LoadLe16(fileHeader, 2);
    return true;
}

bool ReadPeSections(FileRef file, PeLayout& layout)
{
    unsigned char optionalHeader[kOptionalHeaderRead];
    if (!ReadExactAt(file, layout.headerOffset + kOptionalHeaderStart, optionalHeader, sizeof optionalHeader)) {
        return false;
    }
    layout.addressOfEntryPoint = LoadLe32(optionalHeader, 16);
    layout.sizeOfHeaders = LoadLe32(optionalHeader, 60);

    if (layout.numberOfSections > kMaxPeSections) return false;

    for (PeSection& section : layout.sections) section = PeSection();

    // Zero sections read zero bytes and succeed.
    unsigned char table[kMaxPeSections * kSectionEntrySize];
    std::uint32_t tableSize = layout.numberOfSections * kSectionEntrySize;
    if (!ReadExactAt(file, layout.headerOffset + kSectionTableStart, table, tableSize)) return false;

    for (std::uint32_t i = 0; i < layout.numberOfSections; ++i) {
        std::size_t entry = i * kSectionEntrySize;
        layout.sections[i].virtualSize = LoadLe32(table, entry + 8);
        layout.sections[i].virtualAddress = LoadLe32(table, entry + 12);
        layout.sections[i].pointerToRawData = LoadLe32(table, entry + 20);
    }
    return true;
}

std::uint32_t RvaToFileOffset(const PeLayout& layout, std::uint32_t rva, FileRef file)
{
    // A layout that did not pass ReadPeSections could hold a larger count;
    // never walk past the table.
    std::uint32_t count = layout.numberOfSections;
    if (count > kMaxPeSections) count = kMaxPeSections;

    std::uint32_t position = rva;
    if (count > 0) {
        // The section's start is not tested: an address below the first
        // section maps through it, and one above them all through the last.
        const PeSection* chosen = &layout.sections[count - 1];
        for (std::uint32_t i = 0; i < count; ++i) {
            if (layout.sections[i].virtualAddress + layout.sections[i].virtualSize > rva) {
                chosen = &layout.sections[i];
                break;
            }
        }
        position = rva - chosen->virtualAddress + chosen->pointerToRawData;
    }

    // A length query that fails (-1) compares as the largest length.
    std::uint32_t length = static_cast<std::uint32_t>(Sys().FileLength(file));
    if (position >= length) position = rva;
    if (position == 0) position = layout.sizeOfHeaders;
    return position;
}
