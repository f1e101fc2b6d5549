#include "scan/QuarantineManifest.h"

#include <cstdio>
#include <cstring>

#include "scan/BoundedText.h"

namespace {

const char kHeading[] = "Quellor quarantine entry 1";

enum Field { FieldId, FieldData, FieldPath, FieldThreat, FieldTime, FieldLength, FieldSha256, kFieldCount };

// In the order the manifest is written.
const char* const kFieldNames[kFieldCount] = {"id", "data", "path", "threat", "time", "length", "sha256"};

// The longest decimal value read (a time in seconds needs 11 digits).
const std::size_t kMaxDigits = 18;

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

bool IsNameCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// One component of a path: not empty, not "." or "..", and free of the
// characters `forbidden` names.
bool IsSafeComponent(const char* start, std::size_t length, const char* forbidden)
{
    if (length == 0) return false;
    if (length == 1 && start[0] == '.') return false;
    if (length == 2 && start[0] == '.' && start[1] == '.') return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (std::strchr(forbidden, start[i])) return false;
    }
    return true;
}

// The components after the root, split at `separator`.
bool AreSafeComponents(const char* rest, char separator, const char* forbidden)
{
    if (*rest == '\0') return false;
    for (;;) {
        const char* end = std::strchr(rest, separator);
        const std::size_t length = end ? static_cast<std::size_t>(end - rest) : std::strlen(rest);
        if (!IsSafeComponent(rest, length, forbidden)) return false;
        if (!end) return true;
        rest = end + 1;
    }
}

// A decimal number of at most kMaxDigits digits, no sign.
bool ParseDecimal(const char* text, std::size_t length, std::uint64_t& value)
{
    if (length == 0 || length > kMaxDigits) return false;
    value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    return true;
}

// A text value into a fixed field, whole or not at all.
bool TakeText(const char* value, std::size_t length, char* out, std::size_t size)
{
    if (length + 1 > size) return false;
    std::memcpy(out, value, length);
    out[length] = '\0';
    return true;
}

bool TakeField(Field field, const char* value, std::size_t length, QuarantineEntry& entry)
{
    std::uint64_t number = 0;
    switch (field) {
    case FieldId:
        return TakeText(value, length, entry.id, sizeof entry.id) && IsQuarantineId(entry.id);
    case FieldData:
        return TakeText(value, length, entry.dataName, sizeof entry.dataName) && IsPlainStoreName(entry.dataName);
    case FieldPath:
        return TakeText(value, length, entry.originalPath, sizeof entry.originalPath) &&
               IsSafeOriginalPath(entry.originalPath);
    case FieldThreat:
        return TakeText(value, length, entry.threat, sizeof entry.threat) && IsSafeThreatName(entry.threat);
    case FieldTime:
        if (!ParseDecimal(value, length, number)) return false;
        entry.time = static_cast<std::int64_t>(number);
        return true;
    case FieldLength:
        if (!ParseDecimal(value, length, number) || number > 0x7FFFFFFFu) return false;
        entry.length = static_cast<std::uint32_t>(number);
        return true;
    case FieldSha256:
        if (length != 2 * kSha256Size) return false;
        for (std::size_t i = 0; i < length; ++i) {
            if (!IsHexDigit(value[i])) return false;
        }
        for (std::size_t i = 0; i < kSha256Size; ++i) {
            entry.sha256[i] = static_cast<unsigned char>(HexValue(value[2 * i]) * 16 + HexValue(value[2 * i + 1]));
        }
        return true;
    default:
        return false;
    }
}

// Output with a fixed capacity; once something does not fit, it stays failed.
struct ManifestWriter {
    char* data;
    std::size_t capacity;
    std::size_t used;
    bool fits;

    void Put(const char* text)
    {
        const std::size_t length = std::strlen(text);
        if (!fits || length > capacity - used) {
            fits = false;
            return;
        }
        std::memcpy(data + used, text, length);
        used += length;
    }
    void PutField(Field field, const char* value)
    {
        Put(kFieldNames[field]);
        Put("=");
        Put(value);
        Put("\r\n");
    }
};

}  // namespace

bool IsQuarantineId(const char* text)
{
    for (std::size_t i = 0; i + 1 < kQuarantineIdSize; ++i) {
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return text[kQuarantineIdSize - 1] == '\0';
}

bool IsPlainStoreName(const char* text)
{
    const std::size_t length = BoundedLength(text, kStoreNameSize);
    if (length == 0 || length >= kStoreNameSize) return false;
    const char* dot = std::strchr(text, '.');
    if (!dot || std::strchr(dot + 1, '.')) return false;
    const std::size_t base = static_cast<std::size_t>(dot - text);
    const std::size_t extension = length - base - 1;
    if (base == 0 || base > 8 || extension == 0 || extension > 3) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (i != base && !IsNameCharacter(text[i])) return false;
    }
    return true;
}

bool IsSafeOriginalPath(const char* text)
{
    const std::size_t length = BoundedLength(text, kOriginalPathSize);
    if (length == 0 || length >= kOriginalPathSize) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (IsControl(static_cast<unsigned char>(text[i]))) return false;
    }
    if (text[0] == '/') return AreSafeComponents(text + 1, '/', "");
    const char letter = UpperAscii(text[0]);
    if (letter < 'A' || letter > 'Z' || text[1] != ':' || text[2] != '\\') return false;
    return AreSafeComponents(text + 3, '\\', ":/*?\"<>|");
}

bool IsSafeThreatName(const char* text)
{
    const std::size_t length = BoundedLength(text, kPathBufferSize);
    if (length == 0 || length >= kPathBufferSize) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (IsControl(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

std::size_t FormatManifest(const QuarantineEntry& entry, char* out, std::size_t size)
{
    if (!IsQuarantineId(entry.id) || !IsPlainStoreName(entry.dataName) ||
        !IsSafeOriginalPath(entry.originalPath) || !IsSafeThreatName(entry.threat) || entry.time < 0 ||
        entry.length > 0x7FFFFFFFu) {
        return 0;
    }
    char time[24];
    char length[16];
    char digest[kSha256HexSize];
    std::snprintf(time, sizeof time, "%lld", static_cast<long long>(entry.time));
    std::snprintf(length, sizeof length, "%lu", static_cast<unsigned long>(entry.length));
    Sha256Hex(entry.sha256, digest);
    const char* values[kFieldCount] = {entry.id,     entry.dataName, entry.originalPath, entry.threat,
                                       time,         length,         digest};

    ManifestWriter writer = {out, size, 0, true};
    writer.Put(kHeading);
    writer.Put("\r\n");
    for (int field = 0; field < kFieldCount; ++field) writer.PutField(static_cast<Field>(field), values[field]);
    return writer.fits ? writer.used : 0;
}

bool ParseManifest(const unsigned char* bytes, std::size_t length, QuarantineEntry& entry)
{
    if (length > kManifestMaxBytes) return false;
    std::memset(&entry, 0, sizeof entry);
    const char* text = reinterpret_cast<const char*>(bytes);
    bool seen[kFieldCount] = {};
    bool headingRead = false;
    std::size_t start = 0;
    while (start < length) {
        // Every line, the last one too, ends in LF: a manifest cut short
        // anywhere is not taken.
        const void* found = std::memchr(text + start, '\n', length - start);
        if (!found) return false;
        std::size_t end = static_cast<std::size_t>(static_cast<const char*>(found) - text);
        const std::size_t next = end + 1;
        if (end > start && text[end - 1] == '\r') --end;
        const char* line = text + start;
        const std::size_t lineLength = end - start;
        start = next;
        for (std::size_t i = 0; i < lineLength; ++i) {
            if (IsControl(static_cast<unsigned char>(line[i]))) return false;
        }
        if (!headingRead) {
            if (lineLength != sizeof kHeading - 1 || std::memcmp(line, kHeading, lineLength) != 0) return false;
            headingRead = true;
            continue;
        }
        const void* equals = std::memchr(line, '=', lineLength);
        if (!equals) return false;
        const std::size_t nameLength = static_cast<std::size_t>(static_cast<const char*>(equals) - line);
        int field = 0;
        while (field < kFieldCount && (std::strlen(kFieldNames[field]) != nameLength ||
                                       std::memcmp(kFieldNames[field], line, nameLength) != 0)) {
            ++field;
        }
        if (field == kFieldCount || seen[field]) return false;
        seen[field] = true;
        if (!TakeField(static_cast<Field>(field), line + nameLength + 1, lineLength - nameLength - 1, entry)) {
            return false;
        }
    }
    for (bool present : seen) {
        if (!present) return false;
    }
    return headingRead;
}
