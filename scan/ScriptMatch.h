// Matching of scripts and web pages against the script signature table.
//
// The file's text is compared with all white space removed. Every read is
// bounded by the file's length and goes through ReadExactAt; every
// comparison stays inside fixed buffers that are zero past the copied data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"
#include "scan/ScriptSignature.h"

// The head and tail blocks: the first and last kScriptBlockSize bytes of a
// file, read and stripped of white space.
const std::size_t kScriptBlockSize = 4096;
// A search compares up to kScriptPatternSize bytes at every position below
// the extent, so the searched buffer reaches that far past the block, plus
// a terminating zero.
const std::size_t kScriptWorkSize = kScriptBlockSize + kScriptPatternSize;
typedef unsigned char ScriptWorkBuffer[kScriptWorkSize];

const std::int32_t kNoScriptRecord = -1;

// True when a line feed stands in the first block of the file (1024 bytes
// when the file is longer than that, else 512, never more than the file)
// before any zero byte, or else in a block of the same size at its end.
bool LooksLikeText(FileRef file);

// True when the last 100 bytes, upper-cased, hold "</BODY>", "</HTML>" or
// "</SCRIPT>" before their first zero byte. Files under 100 bytes fail.
bool EndsWithClosingTag(FileRef file);

// Copies `length` bytes of `block` to `destination`, leaving out the six
// white-space values (0x20, 0x09 to 0x0D). Returns the bytes written; the
// destination must hold `length` bytes.
std::size_t StripWhitespace(const unsigned char* block, std::size_t length, unsigned char* destination);

// True when the first `length` bytes of `pattern` occur in `block` starting
// at a position below `extent`. An extent beyond the block's kScriptBlockSize
// or a length beyond kScriptPatternSize is cut to that size, so every
// comparison stays inside the buffer.
bool FindPattern(const ScriptWorkBuffer& block, std::size_t extent, const unsigned char* pattern,
                 std::size_t length);

// Tries `count` records in order on the open file and returns the index of
// the first that matches, or kNoScriptRecord. The patterns must already be
// descrambled. Nothing else is changed.
std::int32_t MatchScriptRecords(const ScriptSignatureRecord* records, std::size_t count, FileRef file);

// MatchScriptRecords over ScriptSignatureTable; on a match
// ScanStatistics.filesInfected rises by one.
std::int32_t MatchScriptSignatures(FileRef file);
