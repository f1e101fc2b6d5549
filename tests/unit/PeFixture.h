// Builders of small Portable Executable and ZIP-like files for the reader
// and matcher tests, written field by field at the positions the readers
// use. Everything the file does not set is zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fake/FakePlatform.h"
#include "scan/SignatureRecord.h"
#include "fixtures/LittleEndian.h"

namespace pefixture {

using fixturebytes::SetLe16;
using fixturebytes::SetLe32;

// Copies `count` bytes to `at`, cutting them at the end of the file.
inline void PutBytes(std::string& bytes, std::size_t at, const unsigned char* data, std::size_t count)
{
    for (std::size_t i = 0; i < count && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<char>(data[i]);
}

inline void PutPattern(std::string& bytes, std::size_t at, const unsigned char* pattern)
{
    PutBytes(bytes, at, pattern, kPatternLength);
}

struct Section {
    std::uint32_t virtualSize;
    std::uint32_t virtualAddress;
    std::uint32_t pointerToRawData;
};

// Offsets inside a PE file, relative to the "PE" signature.
const std::size_t kNumberOfSectionsAt = 4 + 2;
const std::size_t kEntryPointAt = 24 + 16;
const std::size_t kSizeOfHeadersAt = 24 + 60;
const std::size_t kSectionTableAt = 248;
const std::size_t kSectionSize = 40;

struct PeFile {
    std::size_t length = 4096;
    std::uint32_t headerOffsetField = 0x80;  // the 4-byte field at 60
    std::uint32_t entryPoint = 0;
    std::uint32_t sizeOfHeaders = 0x400;
    std::vector<Section> sections;
    // Overrides the declared section count when not negative.
    long declaredSections = -1;

    // The signature goes to the low 16 bits of the field, where the reader
    // looks for it.
    std::size_t HeaderAt() const { return headerOffsetField & 0xFFFF; }

    std::string Build() const
    {
        std::string bytes(length, '\0');
        const unsigned char mark[] = {'M', 'Z'};
        PutBytes(bytes, 0, mark, sizeof mark);
        if (length >= 64) SetLe32(bytes, 60, headerOffsetField);
        std::size_t pe = HeaderAt();
        PutBytes(bytes, pe, reinterpret_cast<const unsigned char*>("PE\0\0"), 4);
        if (pe + 4 + 2 <= length) SetLe16(bytes, pe + 4, 0x14C);
        std::uint32_t count = declaredSections >= 0 ? static_cast<std::uint32_t>(declaredSections)
                                                    : static_cast<std::uint32_t>(sections.size());
        if (pe + kNumberOfSectionsAt + 2 <= length) SetLe16(bytes, pe + kNumberOfSectionsAt, count);
        if (pe + 24 + 2 <= length) SetLe16(bytes, pe + 24, 0x10B);
        if (pe + kEntryPointAt + 4 <= length) SetLe32(bytes, pe + kEntryPointAt, entryPoint);
        if (pe + kSizeOfHeadersAt + 4 <= length) SetLe32(bytes, pe + kSizeOfHeadersAt, sizeOfHeaders);
        for (std::size_t i = 0; i < sections.size(); ++i) {
            std::size_t entry = pe + kSectionTableAt + i * kSectionSize;
            if (entry + kSectionSize > length) break;
            bytes[entry] = '.';
            bytes[entry + 1] = static_cast<char>('a' + i);
            SetLe32(bytes, entry + 8, sections[i].virtualSize);
            SetLe32(bytes, entry + 12, sections[i].virtualAddress);
            SetLe32(bytes, entry + 20, sections[i].pointerToRawData);
        }
        return bytes;
    }
};

// A file that starts like a ZIP archive (a local header signature and 38
// more bytes of header), zero elsewhere.
inline std::string ZipLike(std::size_t length)
{
    std::string bytes(length, '\0');
    const unsigned char head[] = {'P', 'K', 3, 4, 20, 0, 1, 0, 0, 0};
    PutBytes(bytes, 0, head, sizeof head);
    return bytes;
}

// Adds `content` as C:\test\sample.bin and opens it for reading.
inline FileRef OpenSample(FakePlatform& fake, const std::string& content)
{
    fake.AddFile("C:\\test\\sample.bin", content);
    return fake.OpenForRead("C:\\test\\sample.bin");
}

}  // namespace pefixture
