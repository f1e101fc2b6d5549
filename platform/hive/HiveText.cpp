#include "platform/hive/HiveText.h"

#include <cstdint>

namespace hivetext {

namespace {

const std::uint32_t kNotLatin1 = 0xFFFFFFFFu;

// The next code point of `text` from `at`, which moves past it;
// kNotLatin1 for one outside Latin-1 or a malformed sequence.
std::uint32_t NextCodePoint(const unsigned char* text, std::size_t& at)
{
    const unsigned char lead = text[at++];
    if (lead < 0x80) return lead;
    std::size_t extra = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        code = lead & 0x07u;
    } else {
        return kNotLatin1;
    }
    for (std::size_t i = 0; i < extra; ++i) {
        if ((text[at] & 0xC0) != 0x80) return kNotLatin1;  // the terminator stops here too
        code = (code << 6) | (text[at++] & 0x3Fu);
    }
    return code <= 0xFF ? code : kNotLatin1;
}

}  // namespace

char Upper(char c)
{
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 'a' && byte <= 'z') return static_cast<char>(byte - 0x20);
    // à..þ without ÷ pair with À..Þ without ×.
    if (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7) return static_cast<char>(byte - 0x20);
    return c;
}

std::string FromUtf8(const char* utf8)
{
    std::string out;
    if (!utf8) return out;
    const unsigned char* text = reinterpret_cast<const unsigned char*>(utf8);
    for (std::size_t at = 0; text[at] != 0;) {
        const std::uint32_t code = NextCodePoint(text, at);
        out.push_back(code == kNotLatin1 ? '?' : static_cast<char>(code));
    }
    return out;
}

std::string ToUtf8(const std::string& latin1)
{
    std::string out;
    for (char c : latin1) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return out;
}

bool SameName(const char* storedUtf8, const std::string& engineName)
{
    if (!storedUtf8) return false;
    const unsigned char* text = reinterpret_cast<const unsigned char*>(storedUtf8);
    std::size_t at = 0;
    for (char wanted : engineName) {
        if (text[at] == 0) return false;
        const std::uint32_t code = NextCodePoint(text, at);
        if (code == kNotLatin1) return false;
        if (Upper(static_cast<char>(code)) != Upper(wanted)) return false;
    }
    return text[at] == 0;
}

std::string FromUtf16(const char* data, std::size_t length)
{
    std::string out;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
    for (std::size_t at = 0; at + 1 < length; at += 2) {
        const std::uint32_t unit = bytes[at] | static_cast<std::uint32_t>(bytes[at + 1]) << 8;
        if (unit <= 0xFF) {
            out.push_back(static_cast<char>(unit));
            continue;
        }
        // A surrogate pair is one character: one '?'.
        if (unit >= 0xD800 && unit <= 0xDBFF && at + 3 < length) {
            const std::uint32_t next = bytes[at + 2] | static_cast<std::uint32_t>(bytes[at + 3]) << 8;
            if (next >= 0xDC00 && next <= 0xDFFF) at += 2;
        }
        out.push_back('?');
    }
    return out;
}

std::vector<std::string> SplitPath(const char* path)
{
    std::vector<std::string> parts;
    std::string part;
    for (const char* c = path ? path : ""; *c; ++c) {
        if (*c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part.push_back(*c);
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

}  // namespace hivetext
