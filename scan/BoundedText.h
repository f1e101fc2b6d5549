// Bounded text operations for the engine's fixed buffers. Every copy states
// the destination's size; a text that does not fit is reported, never
// written past the end.
#pragma once

#include <cstddef>

// CopyText, UpperAscii and LowerAscii, which the platform backends share.
#include "platform/AnsiText.h"

// Appends `source` to the text already in `destination`. Returns false and
// leaves the destination unchanged when the result would not fit.
bool AppendText(char* destination, std::size_t size, const char* source);

// Copies the first `count` characters of `source` (fewer if it is shorter).
// Returns false, leaving an empty text, when they would not fit.
bool CopyTextPrefix(char* destination, std::size_t size, const char* source, std::size_t count);

// Length of a text held in a buffer of `size` bytes, never reading past it.
std::size_t BoundedLength(const char* text, std::size_t size);

// Index of the last `c` in `text`, or -1.
long LastIndexOf(const char* text, char c);

// In-place ASCII upper and lower case, as the platform's ANSI helpers do
// for the characters the engine compares.
void ToUpperAscii(char* text);
void ToLowerAscii(char* text);

// Case-insensitive (ASCII) comparison of two texts; true when equal.
bool EqualsNoCase(const char* a, const char* b);

// True when the first `count` characters of `a` and `b` are equal without
// regard to ASCII case; a text that ends within them equals only one that
// ends at the same place. Reads no further than `count` characters.
bool EqualsNoCaseCounted(const char* a, const char* b, std::size_t count);
