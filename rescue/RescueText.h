// Text helpers of the rescue stick's screen: what comes from a disk (names,
// registry text) is data, shown without a control byte; sizes as a person
// reads them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// `text` with every control byte (and DEL) shown as '?', so nothing read
// from a disk moves the cursor or changes the terminal.
std::string ShownText(const std::string& text);

// "512 MB", "1.5 GB", "931 GB": powers of 1000, as disks are sold.
std::string SizeText(std::uint64_t bytes);

// `text` cut to `width` columns (UTF-8 sequences kept whole), "..." at the
// end when cut.
std::string FitText(const std::string& text, std::size_t width);

// `text` broken into lines of at most `width` columns at blanks.
std::vector<std::string> WrapText(const std::string& text, std::size_t width);

// The columns a UTF-8 text takes (one per character).
std::size_t TextColumns(const std::string& text);
