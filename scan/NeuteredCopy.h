// The form in which the quarantine keeps a detected file: one plain text
// line that says what the file is, then the file's bytes, each combined
// (exclusive-or) with a key stream that depends only on its position.
//
// Kept this way, the copy starts with no program header (no system will
// run it), holds none of the byte sequences scanners look for (ours or any
// other's), and so is found by no rescan of the folder it lies in; the
// original comes back by applying the same key stream again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"
#include "scan/Sha256.h"

// The header line, CR LF included; no terminator is written.
const std::size_t kNeuteredHeaderLength = 114;
extern const char kNeuteredHeader[];

// Combines `count` bytes that stand at `position` of the original file
// with the key stream, in place. Its own inverse.
void NeuterBytes(unsigned char* bytes, std::size_t count, std::uint64_t position);

enum PassResult { PassDone, PassReadFailed, PassWriteFailed };

// Moves `length` bytes from the current position of `from` to `to`,
// converting them between the two forms (the key stream starts at position
// 0 of the original), and adds the original form to `original`: the bytes
// as read when `fromOriginal`, as converted otherwise. `to` may be kNoFile
// to only hash. PassReadFailed also when `from` holds more than `length`
// bytes from there: a file that grew while it was copied is not kept.
PassResult PassNeutered(FileRef from, FileRef to, std::uint32_t length, bool fromOriginal, Sha256& original);
