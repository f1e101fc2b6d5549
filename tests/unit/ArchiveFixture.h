// Builders of small ZIP and RAR (1.5 to 4.x) archives for the detector
// tests, byte by byte from the header layouts, including the shapes no
// archiver writes: entries cut off after their data, end records with other
// counts, odd methods, very long names. The entry data is filler; nothing is
// really encrypted or compressed.
#pragma once

#include <cstdint>
#include <string>

#include "fixtures/LittleEndian.h"

namespace fixture {

using fixturebytes::PutLe16;
using fixturebytes::PutLe32;
using fixturebytes::SetLe16;
using fixturebytes::SetLe32;

inline std::uint32_t GetLe16(const std::string& bytes, std::size_t offset)
{
    return static_cast<unsigned char>(bytes[offset]) | (static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

inline std::uint32_t GetLe32(const std::string& bytes, std::size_t offset)
{
    return GetLe16(bytes, offset) | (GetLe16(bytes, offset + 2) << 16);
}

// Filler that is not all zeros, so misplaced reads see non-zero lengths.
inline std::string Filler(std::size_t length)
{
    std::string data(length, '\0');
    for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<char>('A' + i % 23);
    return data;
}

// One ZIP archive whose first entry is described field by field. By default:
// an encrypted, stored MAIL.SCR of 20,000 bytes (20,012 with the encryption
// header), its central directory header and an end record counting 1.
struct ZipLayout {
    std::string name = "MAIL.SCR";
    std::string extra;
    std::uint16_t flags = 0x0001;  // encrypted
    std::uint16_t method = 0;      // stored
    std::uint32_t uncompressedSize = 20000;
    std::uint32_t compressedSize = 20012;
    // Bytes of entry data actually written (default: compressedSize).
    std::int64_t dataLength = -1;
    bool secondEntry = false;        // a real second entry, README.TXT
    std::string centralExtra;
    std::string centralComment;
    std::uint16_t entriesOnDisk = 0;  // 0: the true count
    std::uint16_t entriesTotal = 0;   // 0: the true count
    // Cut the archive to this many bytes (negative: keep all).
    std::int64_t truncateTo = -1;
};

inline std::string LocalHeader(const std::string& name, const std::string& extra, std::uint16_t flags,
                               std::uint16_t method, std::uint32_t compressed, std::uint32_t uncompressed)
{
    std::string out = "PK\x03\x04";
    PutLe16(out, 20);  // version needed
    PutLe16(out, flags);
    PutLe16(out, method);
    PutLe16(out, 0x6000);  // time
    PutLe16(out, 0x3061);  // date
    PutLe32(out, 0x12345678);  // crc
    PutLe32(out, compressed);
    PutLe32(out, uncompressed);
    PutLe16(out, static_cast<std::uint32_t>(name.size()));
    PutLe16(out, static_cast<std::uint32_t>(extra.size()));
    return out + name + extra;
}

inline std::string CentralHeader(const std::string& name, const std::string& extra, const std::string& comment,
                                 std::uint16_t flags, std::uint16_t method, std::uint32_t compressed,
                                 std::uint32_t uncompressed, std::uint32_t localOffset)
{
    std::string out = "PK\x01\x02";
    PutLe16(out, 20);  // version made by
    PutLe16(out, 20);  // version needed
    PutLe16(out, flags);
    PutLe16(out, method);
    PutLe16(out, 0x6000);
    PutLe16(out, 0x3061);
    PutLe32(out, 0x12345678);
    PutLe32(out, compressed);
    PutLe32(out, uncompressed);
    PutLe16(out, static_cast<std::uint32_t>(name.size()));
    PutLe16(out, static_cast<std::uint32_t>(extra.size()));
    PutLe16(out, static_cast<std::uint32_t>(comment.size()));
    PutLe16(out, 0);  // disk
    PutLe16(out, 0);  // internal attributes
    PutLe32(out, 0);  // external attributes
    PutLe32(out, localOffset);
    return out + name + extra + comment;
}

inline std::string EndRecord(std::uint16_t onDisk, std::uint16_t total, std::uint32_t centralSize,
                             std::uint32_t centralOffset)
{
    std::string out = "PK\x05\x06";
    PutLe16(out, 0);
    PutLe16(out, 0);
    PutLe16(out, onDisk);
    PutLe16(out, total);
    PutLe32(out, centralSize);
    PutLe32(out, centralOffset);
    PutLe16(out, 0);  // comment length
    return out;
}

inline std::string BuildZip(const ZipLayout& layout)
{
    std::size_t dataLength = layout.dataLength < 0 ? layout.compressedSize : static_cast<std::size_t>(layout.dataLength);
    std::string archive = LocalHeader(layout.name, layout.extra, layout.flags, layout.method, layout.compressedSize,
                                      layout.uncompressedSize) +
                          Filler(dataLength);
    std::string central = CentralHeader(layout.name, layout.centralExtra, layout.centralComment, layout.flags, layout.method,
                                        layout.compressedSize, layout.uncompressedSize, 0);
    std::uint16_t count = 1;
    if (layout.secondEntry) {
        const std::string second = "README.TXT";
        std::uint32_t offset = static_cast<std::uint32_t>(archive.size());
        archive += LocalHeader(second, "", 0, 0, 100, 100) + Filler(100);
        central += CentralHeader(second, "", "", 0, 0, 100, 100, offset);
        count = 2;
    }
    std::uint32_t centralOffset = static_cast<std::uint32_t>(archive.size());
    archive += central;
    archive += EndRecord(layout.entriesOnDisk ? layout.entriesOnDisk : count, layout.entriesTotal ? layout.entriesTotal : count,
                         static_cast<std::uint32_t>(central.size()), centralOffset);
    if (layout.truncateTo >= 0 && static_cast<std::size_t>(layout.truncateTo) < archive.size()) {
        archive.resize(static_cast<std::size_t>(layout.truncateTo));
    }
    return archive;
}

// Offset of the first entry's data in a ZIP built from `layout`.
inline std::size_t ZipDataOffset(const ZipLayout& layout) { return 30 + layout.name.size() + layout.extra.size(); }

// One RAR 1.5 to 4.x archive: marker block, main header, the first file
// header with its name and data, then `rest` and the end-of-archive block.
// By default an encrypted, stored MAIL.SCR of 45,000 bytes.
struct RarLayout {
    std::uint16_t markerSize = 7;   // header-size field of the marker block
    std::string markerPadding;      // bytes between the 7 marker bytes and the main header
    std::uint16_t mainSize = 13;
    std::uint16_t fileFlags = 0x8004;  // long block, encrypted
    std::uint32_t packedSize = 45000;
    std::uint32_t unpackedSize = 45000;
    unsigned char method = '0';  // store
    std::string name = "MAIL.SCR";
    std::int64_t nameSize = -1;   // header field; default: name.size()
    std::int64_t dataLength = -1;  // bytes of data written; default: packedSize
    std::string rest;              // whatever follows the first file
    std::int64_t truncateTo = -1;
};

inline std::string BuildRar(const RarLayout& layout)
{
    std::string out = "Rar!\x1a\x07";
    out.push_back('\0');
    SetLe16(out, 5, layout.markerSize);
    out += layout.markerPadding;

    PutLe16(out, 0x90CF);  // header crc (not checked)
    out.push_back(static_cast<char>(0x73));
    PutLe16(out, 0);
    PutLe16(out, layout.mainSize);
    PutLe16(out, 0);
    PutLe32(out, 0);
    if (layout.mainSize > 13) out += std::string(layout.mainSize - 13u, '\0');

    std::uint32_t nameSize = layout.nameSize < 0 ? static_cast<std::uint32_t>(layout.name.size())
                                               : static_cast<std::uint32_t>(layout.nameSize);
    PutLe16(out, 0x1234);  // header crc
    out.push_back(static_cast<char>(0x74));
    PutLe16(out, layout.fileFlags);
    PutLe16(out, 32 + nameSize);
    PutLe32(out, layout.packedSize);
    PutLe32(out, layout.unpackedSize);
    out.push_back(2);  // host: Windows
    PutLe32(out, 0x89ABCDEF);  // file crc
    PutLe32(out, 0x30616000);  // time
    out.push_back(29);  // version needed
    out.push_back(static_cast<char>(layout.method));
    PutLe16(out, nameSize);
    PutLe32(out, 0x20);  // attributes
    out += layout.name;

    std::size_t dataLength = layout.dataLength < 0 ? layout.packedSize : static_cast<std::size_t>(layout.dataLength);
    out += Filler(dataLength);
    out += layout.rest;
    PutLe16(out, 0x3DC4);
    out.push_back(static_cast<char>(0x7B));
    PutLe16(out, 0x4000);
    PutLe16(out, 7);
    if (layout.truncateTo >= 0 && static_cast<std::size_t>(layout.truncateTo) < out.size()) {
        out.resize(static_cast<std::size_t>(layout.truncateTo));
    }
    return out;
}

// Offset of the first file header in a RAR built from `layout`.
inline std::size_t RarFileHeaderOffset(const RarLayout& layout)
{
    return 7 + layout.markerPadding.size() + layout.mainSize;
}

}  // namespace fixture
