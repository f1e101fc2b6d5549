#include "platform/ListingRules.h"

#include <cstring>

#include "platform/AnsiText.h"

const char* const kDotEntryNames[2] = {".", ".."};

bool MaskMatchesName(const char* mask, const char* name)
{
    // Greedy, going back to the last '*' on a mismatch: each '*' takes the
    // fewest characters that let the rest match, so no name costs more than
    // its length times the mask's.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*mask == '*') {
            star = mask++;
            resume = name;
        } else if (*mask != '\0' && (*mask == '?' || UpperAscii(*mask) == UpperAscii(*name))) {
            ++mask;
            ++name;
        } else if (star) {
            mask = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*mask == '*') ++mask;
    return *mask == '\0' || std::strcmp(mask, ".*") == 0;
}

bool ListsDotEntry(const char* mask, const char* dotName, bool driveRoot)
{
    return !driveRoot && MaskMatchesName(mask, dotName);
}
