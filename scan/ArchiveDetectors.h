// Password-protected ZIP and RAR archives that carry a worm copy.
//
// The worm mails itself inside an encrypted archive whose first entry is the
// executable. Without the password nothing can be unpacked, so the detectors
// work from the headers alone: the encrypted flag, the storage method, the
// uncompressed size of the first entry (each variant has a characteristic
// size), the inner file's extension and, for ZIP, that the archive holds that
// one entry and nothing else.
//
// Every detector reads the file through positioned, bounded reads from
// offset 0 on and never writes it. A file that is too short, truncated or
// malformed is simply no hit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"

enum ArchiveFormat { ArchiveZip, ArchiveRar };

// How the 16-bit method field of a ZIP entry is judged.
enum MethodRule {
    MethodStored,  // the field is 0 (stored)
    MethodLoose    // bits 1 and 2 of its low byte are clear: stored (0) and deflated (8) pass, imploded (6) does not
};

// An inclusive window of uncompressed sizes, in bytes.
struct SizeWindow {
    std::uint32_t low;
    std::uint32_t high;
};

struct ArchiveDetector {
    const char* threatName;
    ArchiveFormat format;
    SizeWindow windows[2];
    std::size_t windowCount;     // 1 or 2
    MethodRule methodRule;       // ZIP only; RAR detectors always want a stored entry
    bool sizeDifferenceRule;     // ZIP only: compressed - uncompressed == 12
};

// The detectors in the order they are asked; where windows overlap, the
// earlier detector names the threat.
const std::size_t kArchiveDetectorCount = 8;
extern const ArchiveDetector ArchiveDetectorList[kArchiveDetectorCount];

// The inner extensions that count as executable, compared without regard to
// case. The list ends with an empty entry.
extern const char* const ExecutableExtensions[];

// Inner-name buffer: names of this length or longer are not read.
const std::uint32_t kArchiveNameBufferSize = 300;

// True when `name` has no '.', or the text after its last '.' is one of
// ExecutableExtensions.
bool PassesExtensionTest(const char* name);

// One detector against an open file. Both position the file themselves.
bool DetectEncryptedZip(FileRef file, const ArchiveDetector& detector);
bool DetectEncryptedRar(FileRef file, const ArchiveDetector& detector);

// The threat name of the first detector in ArchiveDetectorList that reports
// a hit, or null.
const char* MatchArchiveDetectors(FileRef file);
