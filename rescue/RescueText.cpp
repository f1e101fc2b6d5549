#include "rescue/RescueText.h"

#include <cstdio>

namespace {

bool IsContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The byte at which column `column` starts.
std::size_t ByteOfColumn(const std::string& text, std::size_t column)
{
    std::size_t columns = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsContinuation(static_cast<unsigned char>(text[i]))) continue;
        if (columns == column) return i;
        ++columns;
    }
    return text.size();
}

}  // namespace

std::string ShownText(const std::string& text)
{
    std::string shown;
    shown.reserve(text.size());
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        // C1 controls are not a concern here: the bytes stay within UTF-8
        // sequences, which the terminal draws as characters.
        shown += u < 0x20 || u == 0x7F ? '?' : c;
    }
    return shown;
}

std::string SizeText(std::uint64_t bytes)
{
    static const char* const kUnits[] = {"bytes", "kB", "MB", "GB", "TB"};
    std::size_t unit = 0;
    double value = static_cast<double>(bytes);
    while (value >= 1000.0 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    if (unit == 0 || value >= 10.0) std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
    else std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::size_t TextColumns(const std::string& text)
{
    std::size_t columns = 0;
    for (char c : text) {
        if (!IsContinuation(static_cast<unsigned char>(c))) ++columns;
    }
    return columns;
}

std::string FitText(const std::string& text, std::size_t width)
{
    if (TextColumns(text) <= width) return text;
    const std::size_t keep = width > 3 ? width - 3 : 0;
    std::string out;
    std::size_t columns = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!IsContinuation(c)) {
            if (columns == keep) break;
            ++columns;
        }
        out += text[i];
    }
    return out + std::string(width - keep, '.');
}

std::vector<std::string> WrapText(const std::string& text, std::size_t width)
{
    std::vector<std::string> lines;
    std::string line;
    std::string word;
    auto flushWord = [&]() {
        if (word.empty()) return;
        if (!line.empty() && TextColumns(line) + 1 + TextColumns(word) > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        // A word longer than a line (a path) is broken where the line ends.
        while (TextColumns(line) > width) {
            const std::size_t at = ByteOfColumn(line, width);
            lines.push_back(line.substr(0, at));
            line.erase(0, at);
        }
        word.clear();
    };
    for (char c : text) {
        if (c == ' ') flushWord();
        else word += c;
    }
    flushWord();
    if (!line.empty() || lines.empty()) lines.push_back(line);
    return lines;
}
