// How Windows lists a folder for a search pattern, written once for the
// backends that are not Windows (the in-memory fake and POSIX) so that they
// list what FindFirstFileA lists. The Win32 backend leaves it to the system;
// the platform contract holds all three to the same answers.
#pragma once

// True when `name` matches `mask`, the last component of a search pattern:
// '*' stands for any run of characters (none included), '?' for exactly
// one, and every other character for itself without regard to ASCII case;
// '[' opens no set and '\\' escapes nothing. A mask ending in ".*" also
// matches a name without that extension, so "name.*" finds "name".
bool MaskMatchesName(const char* mask, const char* name);

// "." and "..", in the order a listing gives them before the folder's own
// entries.
extern const char* const kDotEntryNames[2];

// Whether a listing of a folder with `mask` holds the entry `dotName`
// ("." or ".."): never at a drive root, which has neither; elsewhere each
// one when the mask matches its name, so "?" lists "." without "..".
bool ListsDotEntry(const char* mask, const char* dotName, bool driveRoot);
