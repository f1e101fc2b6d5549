// One entry of the quarantine as its manifest records it, and the text form
// of that manifest: a heading line, then one "name=value" line per field,
// each line ended by CR LF.
//
// A manifest is untrusted on reading: anyone who can write to the store can
// edit it. The reader takes at most kManifestMaxBytes, accepts only a
// complete manifest that names every field once, and checks every value:
// the data file is a plain name inside the store (never a path), the
// original path is absolute and has no "." or ".." component. Anything else
// is a damaged entry, never a partly read one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"
#include "scan/Sha256.h"

// An entry's name: 8 hexadecimal digits (upper case), terminator included.
const std::size_t kQuarantineIdSize = 9;
// A file name of the store: an 8.3 name, terminator included.
const std::size_t kStoreNameSize = 13;
// The original path as the user knew it. On Windows it is an engine path
// (at most kPathBufferSize); on a POSIX host the host's own, which may be
// longer.
const std::size_t kOriginalPathSize = 1024;
const std::uint32_t kManifestMaxBytes = 4096;

struct QuarantineEntry {
    char id[kQuarantineIdSize];
    char dataName[kStoreNameSize];
    char originalPath[kOriginalPathSize];
    char threat[kPathBufferSize];
    std::int64_t time;    // seconds since 1970-01-01 00:00 UTC
    std::uint32_t length; // of the original file
    unsigned char sha256[kSha256Size];
};

// Exactly 8 characters 0-9 and A-F.
bool IsQuarantineId(const char* text);
// An 8.3 name of letters, digits, '_' and '-', with one '.': no folder, no
// drive, nothing that leads out of the store.
bool IsPlainStoreName(const char* text);
// An absolute path without "." or ".." components and without empty ones:
// "X:\dir\file" (no ':', '/' or wildcard beyond the drive) or "/dir/file";
// no control character. At least one component below the root.
bool IsSafeOriginalPath(const char* text);
// Printable text of at least one character.
bool IsSafeThreatName(const char* text);

// Writes the manifest of `entry` into `out`; the number of bytes written,
// or 0 when a field is not valid or the text does not fit.
std::size_t FormatManifest(const QuarantineEntry& entry, char* out, std::size_t size);

// Reads the manifest in `bytes`. False, with `entry` unspecified, for
// anything but a complete manifest whose every field is valid.
bool ParseManifest(const unsigned char* bytes, std::size_t length, QuarantineEntry& entry);
