// iconv for the statically linked programs (build/static): libhivex turns
// key and value names between Latin-1, UTF-16LE and UTF-8 through iconv,
// and glibc's static iconv reaches Latin-1 only through a module it loads
// at run time from the system it runs on, which a rescue system or another
// distribution may not have, or have in another version. Without it every
// hive reads as unreadable. These three encodings are all libhivex asks
// for; they are converted here, one character at a time, strictly.
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

enum Encoding { EncodingUtf8, EncodingLatin1, EncodingUtf16Le, EncodingNone };

struct Converter {
    Encoding to;
    Encoding from;
};

Encoding EncodingNamed(const char* name)
{
    static const struct {
        const char* name;
        Encoding encoding;
    } kNames[] = {{"UTF-8", EncodingUtf8},       {"UTF8", EncodingUtf8},         {"LATIN1", EncodingLatin1},
                  {"ISO-8859-1", EncodingLatin1}, {"ISO8859-1", EncodingLatin1}, {"UTF-16LE", EncodingUtf16Le}};
    // "//TRANSLIT" and "//IGNORE" are not honoured: conversions are strict.
    const char* end = std::strstr(name, "//");
    const std::size_t length = end ? static_cast<std::size_t>(end - name) : std::strlen(name);
    for (const auto& known : kNames) {
        if (std::strlen(known.name) == length && strncasecmp(known.name, name, length) == 0) return known.encoding;
    }
    return EncodingNone;
}

// One character from `in` (`left` bytes): its length, 0 when the input
// ends inside it, -1 when it is no character of the encoding.
int Decode(Encoding encoding, const unsigned char* in, std::size_t left, std::uint32_t& code)
{
    switch (encoding) {
    case EncodingLatin1:
        code = in[0];
        return 1;
    case EncodingUtf16Le: {
        if (left < 2) return 0;
        code = static_cast<std::uint32_t>(in[0] | (in[1] << 8));
        if (code >= 0xDC00 && code <= 0xDFFF) return -1;
        if (code < 0xD800 || code > 0xDBFF) return 2;
        if (left < 4) return 0;
        const std::uint32_t low = static_cast<std::uint32_t>(in[2] | (in[3] << 8));
        if (low < 0xDC00 || low > 0xDFFF) return -1;
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        return 4;
    }
    case EncodingUtf8: {
        const unsigned char c = in[0];
        int length = 0;
        std::uint32_t least = 0;
        if (c < 0x80) length = 1;
        else if (c >= 0xC2 && c <= 0xDF) length = 2, least = 0x80;
        else if (c >= 0xE0 && c <= 0xEF) length = 3, least = 0x800;
        else if (c >= 0xF0 && c <= 0xF4) length = 4, least = 0x10000;
        else return -1;
        code = length == 1 ? c : (c & (0xFFu >> (length + 1)));
        for (int k = 1; k < length; ++k) {
            if (static_cast<std::size_t>(k) >= left) return 0;
            if ((in[k] & 0xC0) != 0x80) return -1;
            code = (code << 6) | (in[k] & 0x3Fu);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return -1;
        return length;
    }
    default:
        return -1;
    }
}

// `code` into `out` (`room` bytes): its length, 0 when there is no room,
// -1 when the encoding cannot spell it.
int Encode(Encoding encoding, std::uint32_t code, unsigned char* out, std::size_t room)
{
    switch (encoding) {
    case EncodingLatin1:
        if (code > 0xFF) return -1;
        if (room < 1) return 0;
        out[0] = static_cast<unsigned char>(code);
        return 1;
    case EncodingUtf16Le:
        if (code < 0x10000) {
            if (room < 2) return 0;
            out[0] = static_cast<unsigned char>(code), out[1] = static_cast<unsigned char>(code >> 8);
            return 2;
        } else {
            if (room < 4) return 0;
            const std::uint32_t high = 0xD800 + ((code - 0x10000) >> 10), low = 0xDC00 + ((code - 0x10000) & 0x3FF);
            out[0] = static_cast<unsigned char>(high), out[1] = static_cast<unsigned char>(high >> 8);
            out[2] = static_cast<unsigned char>(low), out[3] = static_cast<unsigned char>(low >> 8);
            return 4;
        }
    case EncodingUtf8: {
        const int length = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        if (room < static_cast<std::size_t>(length)) return 0;
        if (length == 1) {
            out[0] = static_cast<unsigned char>(code);
            return 1;
        }
        static const unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
        for (int k = length - 1; k > 0; --k, code >>= 6) out[k] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        out[0] = static_cast<unsigned char>(kLead[length] | code);
        return length;
    }
    default:
        return -1;
    }
}

}  // namespace

extern "C" iconv_t iconv_open(const char* tocode, const char* fromcode)
{
    const Encoding to = EncodingNamed(tocode), from = EncodingNamed(fromcode);
    if (to == EncodingNone || from == EncodingNone) {
        errno = EINVAL;
        return reinterpret_cast<iconv_t>(-1);
    }
    Converter* converter = new (std::nothrow) Converter{to, from};
    if (!converter) {
        errno = ENOMEM;
        return reinterpret_cast<iconv_t>(-1);
    }
    return converter;
}

extern "C" std::size_t iconv(iconv_t cd, char** inbuf, std::size_t* inbytesleft, char** outbuf,
                             std::size_t* outbytesleft)
{
    const Converter* converter = static_cast<const Converter*>(cd);
    // No shift states: a reset or a flush has nothing to do.
    if (!inbuf || !*inbuf) return 0;
    while (*inbytesleft > 0) {
        std::uint32_t code = 0;
        const unsigned char* in = reinterpret_cast<const unsigned char*>(*inbuf);
        const int read = Decode(converter->from, in, *inbytesleft, code);
        if (read <= 0) {
            errno = read == 0 ? EINVAL : EILSEQ;
            return static_cast<std::size_t>(-1);
        }
        const int written = Encode(converter->to, code, reinterpret_cast<unsigned char*>(*outbuf), *outbytesleft);
        if (written <= 0) {
            errno = written == 0 ? E2BIG : EILSEQ;
            return static_cast<std::size_t>(-1);
        }
        *inbuf += read;
        *inbytesleft -= static_cast<std::size_t>(read);
        *outbuf += written;
        *outbytesleft -= static_cast<std::size_t>(written);
    }
    return 0;
}

extern "C" int iconv_close(iconv_t cd)
{
    delete static_cast<Converter*>(cd);
    return 0;
}
