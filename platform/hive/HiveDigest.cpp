#include "platform/hive/HiveDigest.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "platform/hive/HiveFile.h"

namespace {

// Each record begins with one of these, so that no two readings of a hive
// give the same bytes.
enum Tag : unsigned char { KeyTag = 'K', ValueTag = 'V', Unreadable = '!' };

struct Hasher {
    std::uint64_t state = 14695981039346656037ull;  // FNV-1a, 64 bits
    void Bytes(const void* data, std::size_t length)
    {
        const unsigned char* at = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < length; ++i) state = (state ^ at[i]) * 1099511628211ull;
    }
    void Number(std::uint64_t value) { Bytes(&value, sizeof value); }
    void Tagged(Tag tag) { Bytes(&tag, 1); }
    // Length first, so that the end of one field is never the start of the next.
    void Text(const char* text, std::size_t length)
    {
        Number(length);
        Bytes(text, length);
    }
    // A string libhivex allocated, or the mark of one it could not read;
    // freed here.
    void Owned(char* text)
    {
        if (text) Text(text, std::strlen(text));
        else Tagged(Unreadable);
        std::free(text);
    }
};

void DigestValues(hive_h* hive, hive_node_h key, const HiveDigestSkip& skip, Hasher& hasher, HiveDigest& digest)
{
    hive_value_h* values = hivex_node_values(hive, key);
    if (!values) {
        hasher.Tagged(Unreadable);
        return;
    }
    for (std::size_t i = 0; values[i]; ++i) {
        if (key == skip.key && values[i] == skip.value) continue;
        ++digest.values;
        hasher.Tagged(ValueTag);
        hasher.Owned(hivex_value_key(hive, values[i]));
        hive_type type;
        std::size_t length = 0;
        char* data = hivex_value_value(hive, values[i], &type, &length);
        if (data) {
            hasher.Number(StoredType(type));
            hasher.Text(data, length);
        } else {
            hasher.Tagged(Unreadable);
        }
        std::free(data);
    }
    std::free(values);
}

}  // namespace

bool DigestHive(hive_h* hive, const HiveDigestSkip& skip, HiveDigest& digest)
{
    digest = HiveDigest();
    Hasher hasher;
    struct Pending {
        hive_node_h key;
        std::uint64_t depth;
    };
    std::vector<Pending> stack = {{hivex_root(hive), 0}};
    std::unordered_set<hive_node_h> seen;
    while (!stack.empty()) {
        const Pending current = stack.back();
        stack.pop_back();
        if (!current.key) {
            hasher.Tagged(Unreadable);
            continue;
        }
        if (!seen.insert(current.key).second) return false;
        if (current.key == skip.key && !skip.value) continue;
        ++digest.keys;
        hasher.Tagged(KeyTag);
        hasher.Number(current.depth);
        hasher.Owned(hivex_node_name(hive, current.key));
        DigestValues(hive, current.key, skip, hasher, digest);
        hive_node_h* children = hivex_node_children(hive, current.key);
        if (!children) {
            hasher.Tagged(Unreadable);
            continue;
        }
        std::size_t count = 0;
        std::size_t kept = 0;
        for (; children[count]; ++count) {
            if (children[count] != skip.key || skip.value) ++kept;
        }
        hasher.Number(kept);
        // Last pushed is visited first: the hive's order.
        for (std::size_t i = count; i > 0; --i) stack.push_back({children[i - 1], current.depth + 1});
        std::free(children);
    }
    digest.hash = hasher.state;
    return true;
}
