// Matching one open file against the compiled-in signature tables.
//
// A record matches when the file's length passes its size rule and its two
// 20-byte patterns stand at its two positions. Records are tried in table
// order and the first match wins. A failed seek or a short read only makes
// the current record fail; nothing here reports to the user.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Platform.h"
#include "scan/PeLayout.h"
#include "scan/SignatureRecord.h"

// Result of the matchers when no record matches.
const std::int32_t kNoRecord = -1;

// The size test of a record for a file of `fileLength` bytes.
bool SizeRuleAccepts(const SignatureRecord& record, std::int32_t fileLength);

// Index into SignatureTable of the first record whose patterns stand at
// their entry-point-relative positions, or kNoRecord. `layout` comes from
// ReadPeHeader and ReadPeSections on the same file.
std::int32_t MatchSignatureTable(FileRef file, std::int32_t fileLength, const PeLayout& layout);

// Index into ArchiveWormTable of the first matching record, or kNoRecord.
// A file that does not start with "PK" (or is shorter than 40 bytes) matches
// nothing.
std::int32_t MatchArchiveWormTable(FileRef file, std::int32_t fileLength);

// The two matchers over any table of `entries` records: the walk stops at
// the first record with an empty name or after `entries` records.
std::int32_t MatchPeRecords(const SignatureRecord* table, std::size_t entries, FileRef file,
                            std::int32_t fileLength, const PeLayout& layout);
std::int32_t MatchArchiveRecords(const SignatureRecord* table, std::size_t entries, FileRef file,
                                 std::int32_t fileLength);
