// Text between the hive files and the engine. libhivex gives names in
// UTF-8 and string data as stored (UTF-16LE); the engine works in single
// bytes, here Latin-1 (the first 256 code points, the Western code page
// for the letters the registry's names use). A character Latin-1 cannot
// spell becomes '?', never a look-alike that could name another key.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace hivetext {

// A name as libhivex gives it (UTF-8) in Latin-1, '?' for the rest
// (malformed sequences included).
std::string FromUtf8(const char* utf8);
// Engine text (Latin-1) as UTF-8, the form libhivex takes names in.
std::string ToUtf8(const std::string& latin1);
// True when the stored name (UTF-8) and the engine's name (Latin-1) name
// the same thing without regard to case. A stored character outside
// Latin-1 matches nothing the engine can give.
bool SameName(const char* storedUtf8, const std::string& engineName);
// UTF-16LE units in Latin-1, one byte per unit ('?' for each unit or pair
// Latin-1 cannot spell); an odd last byte is dropped.
std::string FromUtf16(const char* data, std::size_t length);
// "a\\b\\c" as its names; empty names (doubled or outer backslashes) are
// skipped.
std::vector<std::string> SplitPath(const char* path);
// Latin-1 upper case (ASCII and the accented letters).
char Upper(char c);

}  // namespace hivetext
