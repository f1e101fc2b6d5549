// The Portable Executable header values one examination keeps, and the
// readers that fill them from an open file.
//
// The readers follow the loader's fixed positions rather than the sizes the
// file declares: the header offset is the low 16 bits of the field at 60, the
// optional header starts 24 bytes after the "PE" signature and the section
// table is always taken 248 bytes after it (the place that follows a 224-byte
// optional header). A file that does not fit these reads is simply not a PE
// file to the matcher.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

// More sections than this and the file is not examined.
const std::uint16_t kMaxPeSections = 20;

struct PeSection {
    std::uint32_t virtualSize;
    std::uint32_t virtualAddress;
    std::uint32_t pointerToRawData;
};

// Valid for the file under examination only; rebuilt for every file.
struct PeLayout {
    std::uint16_t headerOffset;         // position of the "PE" signature
    std::uint16_t numberOfSections;     // from the file header
    std::uint32_t addressOfEntryPoint;  // from the optional header
    std::uint32_t sizeOfHeaders;        // from the optional header
    PeSection sections[kMaxPeSections]; // entries beyond numberOfSections are zero
};

// Clears `layout`, then reads the header offset, the "PE\0\0" signature and
// the 20-byte file header. False on a failed seek, a short read or another
// signature.
bool ReadPeHeader(FileRef file, PeLayout& layout);

// Reads the first 96 bytes of the optional header and the section table.
// False on a short read or when the file declares more than kMaxPeSections
// sections.
bool ReadPeSections(FileRef file, PeLayout& layout);

// Maps a relative virtual address to a file position through the first
// section whose end lies above it (or the last section), falling back to the
// address itself when the mapped position is at or past the file's length.
// A position of 0 becomes sizeOfHeaders. Unsigned 32-bit, wrapping.
std::uint32_t RvaToFileOffset(const PeLayout& layout, std::uint32_t rva, FileRef file);
